#include "params/EntryRules.h"

#include "core/ModDefine.h"
#include "core/ModGeneralText.h"
#include "params/DialDigits.h"
#include "params/OptionLists.h"
#include "platform/Prompts.h"

#include <QRegularExpression>

namespace ModSwitch {

namespace {

EntryResult accept(const QString& text) { return {true, text, {}}; }
EntryResult refuse(const QString& message) { return {false, {}, message}; }

bool digitsOnly(const QString& s) { return IsDigitsStar(s, true); }
bool dialDigits(const QString& s) { return IsDigitsStar(s, false); }

// The value of a text of digits, or -1 when it has more digits than any
// column takes (no overflow on a long row of digits).
qint64 digitsValue(const QString& s) {
    QString t = s;
    while (t.size() > 1 && t.startsWith(QLatin1Char('0'))) t.remove(0, 1);
    if (t.size() > 12) return -1;
    return t.toLongLong();
}

// Classes 本局1 to 本局9.
bool isLocalClass(const QString& c) {
    return c.size() == 3 && c.startsWith(QStringLiteral("本局")) && c[2] >= QLatin1Char('1') && c[2] <= QLatin1Char('9');
}

bool isPrefixClash(const QString& a, const QString& b) {
    return !a.isEmpty() && !b.isEmpty() && (a.startsWith(b) || b.startsWith(a));
}

// A digits-only range rule; `normalise` writes the value back without leading zeros.
EntryResult rangeRule(const QString& t, qint64 lo, qint64 hi, const QString& message, bool normalise) {
    if (!digitsOnly(t)) return refuse(message);
    const qint64 v = digitsValue(t);
    if (v < lo || v > hi) return refuse(message);
    return accept(normalise ? QString::number(v) : t);
}

std::optional<platform::Currency> plainMoney(const QString& t) {
    if (!IsPlainNumber(t)) return std::nullopt;
    return platform::Currency::parse(t);
}

const QStringList& emptyAllowed() {
    static const QStringList titles = {"虚拟路由", "虚拟号码", "叫醒时间", "中继号码", "间接局", "附加字头", "加发字头",
                                       "备注",     "费率名称", "时段名称", "市话字头", "本机字头", "费率字头", "缩位字头"};
    return titles;
}

QString title(const platform::FlexGrid& grid, int col) { return grid.TextMatrix(0, col).trimmed(); }

// The extension's own digits behind its head: column 2 without the head of
// column 1, cut or padded to `len` digits.
QString ownDigits(const QString& number, const QString& head, int len) {
    const QString rest = number.mid(head.size()).right(len);
    const qint64 v = digitsValue(ValText(rest).remove(QLatin1Char('-')).section(QLatin1Char('.'), 0, 0));
    return QString::number(qMax<qint64>(v, 0)).rightJustified(len, QLatin1Char('0')).right(qMax(len, 0));
}

// Rule C: the dialable number of an extension.
EntryResult flexibleNumber(const platform::FlexGrid& grid, int col, QString t) {
    const QString h = grid.TextMatrix(GridSelFirst, 1);
    if (h == QLatin1String("E")) {
        const int n = GetExtHeadLen();
        if (t.startsWith(QLatin1Char('E'))) t = t.mid(1);
        const QString v = ValText(t.right(n));
        if (v.startsWith(QLatin1Char('-')) || v.contains(QLatin1Char('.'))) return refuse(QStringLiteral("请输入数字"));
        return accept(v.rightJustified(n, QLatin1Char('0')).right(n));
    }
    if (!digitsOnly(t)) return refuse(QStringLiteral("请输入数字"));
    platform::Recordset rs = dbSwitch.query(QStringLiteral("Select * From LanHead where HeadID=?"), {DialToHex(h)});
    if (rs.eof()) return refuse(QString());   // the head is gone: nothing to check against
    const int len = static_cast<int>(rs.lng(QStringLiteral("HeadLen")));
    const QString head = HexToDial(rs.str(QStringLiteral("HeadID")));
    if (t.size() > len && t.startsWith(head)) t = t.mid(head.size());
    t = t.right(len).rightJustified(len, QLatin1Char('0'));
    const QString full = h + t;
    for (int r = 1; r < grid.Rows(); ++r) {
        if (r == GridSelFirst) continue;
        if (grid.TextMatrix(r, 1) == head && grid.TextMatrix(r, col) == full)
            return refuse(full + QStringLiteral("已经存在,请重新输入弹性号码"));
    }
    return accept(t);
}

// A value a column holds once (an account, a user's name) typed over
// several selected rows would stand in each of them.
EntryResult severalRows(const QString& name) {
    return refuse(name + QStringLiteral("不能重复，只能输入到一行中"));
}

// 预付押金 takes the amount to add, to the fen (the grid shows no less), and
// neither the amount nor the deposit and balance it makes may leave the
// range the station keeps money in.
EntryResult depositAmount(const platform::FlexGrid& grid, int col, const QString& t) {
    const platform::Currency limit = ModGeneral::kMoneyLimit;
    const auto v = plainMoney(t);
    if (!v || *v > limit) return refuse(QStringLiteral("请输入最大为1亿的数值"));
    if (*v < -limit) return refuse(ModGeneral::MoneyRangeText());
    const platform::Currency add = v->roundToFen();
    for (int r = GridSelFirst; r <= GridSelLast; ++r) {
        if (r < grid.FixedRows() || r >= grid.Rows()) continue;
        for (int c : {col, 5}) {
            platform::Currency now;
            ValText(grid.TextMatrix(r, c), &now);
            if (now > limit - add || now < -limit - add)
                return refuse(ModGeneral::MoneyResultRangeText());
        }
    }
    return accept(add.toPlainString());
}

}  // namespace

bool IsPlainNumber(const QString& s) {
    static const QRegularExpression re(QStringLiteral("^[+-]?[0-9]+(\\.[0-9]+)?$"));
    return re.match(s).hasMatch();
}

bool IsLocalHead(const QString& s) {
    static const QRegularExpression re(QStringLiteral("^[0-9]{1,8}$"));
    return s == QLatin1String("*") || s == QLatin1String("E") || re.match(s).hasMatch();
}

std::optional<QTime> ParseEntryTime(const QString& s) {
    static const QRegularExpression re(QStringLiteral("^([0-9]{1,2}):([0-9]{2})(?::([0-9]{2}))?$"));
    const auto m = re.match(s.trimmed());
    if (!m.hasMatch()) return std::nullopt;
    const int h = m.captured(1).toInt(), mi = m.captured(2).toInt();
    const int sec = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
    if (h > 23 || mi > 59 || sec > 59) return std::nullopt;
    return QTime(h, mi, sec);
}

QString ValText(const QString& s, platform::Currency* value) {
    static const QRegularExpression re(QStringLiteral("^\\s*([+-]?[0-9]*(?:\\.[0-9]+)?)"));
    const QString lead = re.match(s).captured(1);
    std::optional<platform::Currency> v;
    if (!lead.isEmpty() && lead != QLatin1String("+") && lead != QLatin1String("-")) v = platform::Currency::parse(lead);
    const platform::Currency c = v ? *v : platform::Currency();
    if (value) *value = c;
    return c.toPlainString();
}

int FindPrefixConflict(const platform::FlexGrid& grid, const QString& value, bool bExact, int col, int skipRow) {
    for (int r = 1; r < grid.Rows(); ++r) {
        if (r == skipRow) continue;
        const QString cell = grid.TextMatrix(r, col);
        if (cell.isEmpty() || cell == QLatin1String("FFFF")) continue;
        if (bExact ? cell == value : isPrefixClash(cell, value)) return r;
    }
    return -1;
}

int CheckLocalClass(const platform::FlexGrid& grid, const QString& value, int row) {
    const bool local = isLocalClass(grid.TextMatrix(row, 1));
    for (int r = 1; r < grid.Rows(); ++r) {
        if (r == row) continue;
        const QString head = grid.TextMatrix(r, 0);
        if (head.isEmpty()) continue;
        if (local || isLocalClass(grid.TextMatrix(r, 1))) {
            if (isPrefixClash(head, value)) return r;
        } else if (head == value) {
            return r;
        }
    }
    return -1;
}

EntryResult CheckTextEntry(const platform::FlexGrid& grid, const QString& typed) {
    const int col = GridMouseCol;
    QString t = typed.toUpper();
    const QString name = title(grid, col);

    if (col == 0 && grid.TextMatrix(GridSelFirst, 0) == QLatin1String("E")) {
        platform::MsgBox(QStringLiteral("不能修改") + title(grid, 0), platform::mbOKOnly, AppName);
        t = grid.TextMatrix(GridSelFirst, 0);
    }
    if (t.isEmpty()) {
        // A row without its key is not saved, and the save then deletes the
        // stored row no row shows any more: a key once given is never emptied
        // (a row goes by deleting it). A new row's empty key may stay empty.
        static const QStringList keys = {"本机字头", "市话字头", "费率字头"};
        if (keys.contains(name) && col == 0 && !grid.TextMatrix(GridSelFirst, col).isEmpty())
            return refuse(QStringLiteral("此项数据不能为空"));
        if (emptyAllowed().contains(name)) return accept(t);
        return refuse(QStringLiteral("此项数据不能为空"));
    }
    const auto duplicate = [&](const QString& fixed, int row, int c) {
        return refuse(fixed + t + QLatin1Char('=') + grid.TextMatrix(row, c));
    };

    if (name == QStringLiteral("加发字头")) {
        if (!digitsOnly(t) || t.size() > 8) return refuse(QStringLiteral("请输入1-8位的数值"));
        return accept(t);
    }
    if (name == QStringLiteral("本机字头")) {
        if (!IsLocalHead(t)) return refuse(QStringLiteral("请输入E,*,或1-8位的数值"));
        const int r = FindPrefixConflict(grid, t, false, 0, GridSelFirst);
        if (r >= 0) return duplicate(QStringLiteral("本机字头有重复："), r, 0);
        return accept(t);
    }
    if (name == QStringLiteral("市话字头")) {
        if (!dialDigits(t) || t.size() > 8) return refuse(QStringLiteral("请输入最长1-8位由*,#,0-9组成的号码"));
        const int r = CheckLocalClass(grid, t, GridSelFirst);
        if (r >= 0) return duplicate(QStringLiteral("市话字头有重复："), r, 0);
        return accept(t);
    }
    if (name == QStringLiteral("缩位字头")) {
        if (!dialDigits(t) || t.size() > 14) return refuse(QStringLiteral("请输入1-14位由*,#,0-9组成的号码"));
        return accept(t);
    }
    if (name == QStringLiteral("费率字头")) {
        if (!dialDigits(t) || t.size() > 16) return refuse(QStringLiteral("请输入1-16位由*,#,0-9组成的号码"));
        const int r = FindPrefixConflict(grid, t, true, 0, GridSelFirst);
        if (r >= 0) return duplicate(QStringLiteral("费率字头有重复："), r, 0);
        return accept(t);
    }
    if (name == QStringLiteral("附加字头")) {
        if (!digitsOnly(t) || t.size() > 12) return refuse(QStringLiteral("请输入0-12位的数字"));
        const int r = FindPrefixConflict(grid, t, true, 1, GridSelFirst);
        if (r >= 0) return duplicate(QStringLiteral("附加字头有重复："), r, 1);
        return accept(t);
    }
    if (name == QStringLiteral("虚拟号码")) {
        if (!dialDigits(t) || t.size() > 8) return refuse(QStringLiteral("请输入0-8位的#,*,0-9组成的号码"));
        return accept(t);
    }
    if (name == QStringLiteral("中继号码")) {
        if (!dialDigits(t) || t.size() > 12) return refuse(QStringLiteral("请输入0-12位由*,#,0-9组成的号码"));
        return accept(t);
    }
    static const QStringList byte255 = {"延时", "虚拟路由", "组号", "路由", "路由1", "首次时间"};
    if (byte255.contains(name)) return rangeRule(t, 0, 255, QStringLiteral("此项数据只能是0-255之间的数"), true);
    if (name == QStringLiteral("路由2")) {
        const int max = CurTable == QLatin1String("LanHead") ? 255 : 511;
        return rangeRule(t, 0, max, QStringLiteral("此项数据只能是0-%1之间的数").arg(max), true);
    }
    if (name == QStringLiteral("单次时间")) return rangeRule(t, 1, 255, QStringLiteral("此项数据只能是1-255之间的数"), false);
    if (name == QStringLiteral("间接局")) return rangeRule(t, 0, 99, QStringLiteral("请输入0-99的之间数值或为空"), true);
    if (name == QStringLiteral("号长")) {
        if (!digitsOnly(t)) return refuse(QStringLiteral("此项数据只能是数字"));
        const int max = CurTable == QLatin1String("LanHead") ? 8 : 20;
        return rangeRule(t, 0, max, QStringLiteral("此项数据只能是0-%1之间的数").arg(max), true);
    }
    if (name == QStringLiteral("弹性号码")) return flexibleNumber(grid, col, t);
    if (name == QStringLiteral("叫醒时间") || name == QStringLiteral("开始时间") || name == QStringLiteral("结束时间")) {
        if (!ParseEntryTime(t)) return refuse(QStringLiteral("请输入正确的时间,如23:59"));
        return accept(t);
    }
    if (name == QStringLiteral("帐号")) {
        if (t == QLatin1String("FFFF")) return accept(t);
        if (!digitsOnly(t)) return refuse(QStringLiteral("请输入0000-9999之间的数值"));
        const qint64 v = digitsValue(t);
        if (v < 0 || v > 9999) return refuse(QStringLiteral("请输入0-9999之间的数值"));
        // The grid shows accounts with four digits: 12 and 0012 are one account.
        const QString shown = QStringLiteral("%1").arg(v, 4, 10, QLatin1Char('0'));
        if (GridSelLast > GridSelFirst) return severalRows(name);
        if (FindPrefixConflict(grid, shown, true, 1, GridSelFirst) >= 0) return refuse(QStringLiteral("帐号已存在，请重新输入"));
        return accept(t);
    }
    static const QStringList prices = {"首次价格", "单次价格", "手续费", "附加费"};
    if (prices.contains(name)) {
        const auto v = plainMoney(t);
        if (!v || *v < platform::Currency() || *v > platform::Currency::fromYuan(650))
            return refuse(QStringLiteral("请输入0-650之间的数值"));
        return accept(t);
    }
    if (name == QStringLiteral("月租费")) {
        const auto v = plainMoney(t);
        if (!v || *v < platform::Currency() || *v > platform::Currency::fromYuan(9999))
            return refuse(QStringLiteral("请输入0-9999之间的数值"));
        return accept(v->toPlainString());
    }
    if (name == QStringLiteral("透支额") || name == QStringLiteral("修改金额")) {
        const auto v = plainMoney(t);
        if (!v || *v > platform::Currency::fromYuan(9999) || *v < platform::Currency::fromYuan(-9999))
            return refuse(QStringLiteral("请输入-9999.00 至9999.00之间的数值"));
        return accept(v->toPlainString());
    }
    if (name == QStringLiteral("预付押金")) return depositAmount(grid, col, t);
    if (name == QStringLiteral("用户名称")) {
        if (t.size() > 20) return refuse(QStringLiteral("名称太长,最长为20个字的名称"));
        if (GridSelLast > GridSelFirst) return severalRows(name);
        for (int r = 1; r < grid.Rows(); ++r)
            if (r != GridSelFirst && grid.TextMatrix(r, 1) == t) return refuse(QStringLiteral("用户名称已存在"));
        return accept(t);
    }
    if (name.contains(QLatin1Char('%'))) return rangeRule(t, 0, 100, QStringLiteral("请输入0-100之间的数值"), true);
    return accept(t);
}

EntryResult CheckOptionEntry(platform::FlexGrid& grid, const QString& chosen, int listCount) {
    const int col = GridMouseCol;
    const QString name = title(grid, col);
    QString t = chosen;
    if (t.isEmpty() && listCount > 0 && name != QStringLiteral("等级二")) return refuse(QString());
    if (t.isEmpty()) return accept(t);

    if (name == QStringLiteral("等级一") || name == QStringLiteral("密码等级")) {
        const bool first = name == QStringLiteral("等级一");
        if (first && CurTable != QLatin1String("Extension")) return accept(t);
        QStringList grades;
        GetOptionList(QStringLiteral("使用等级"), grades);
        const int pos = grades.indexOf(t);
        const int other = GetColIndex(first ? QStringLiteral("密码等级") : QStringLiteral("等级一"), grid);
        for (int r = GridSelFirst; r <= GridSelLast; ++r) {
            qint64 bound;
            if (other >= 0) {
                bound = grades.indexOf(grid.TextMatrix(r, other));
            } else {
                platform::Recordset rs = dbSwitch.query(QStringLiteral("Select * From Extension where Address=?"),
                                                        {grid.TextMatrix(r, 0).toLongLong()});
                if (rs.eof()) throw platform::DbError(platform::kErrGeneric, QStringLiteral("没有当前记录"));
                bound = rs.lng(first ? QStringLiteral("pwdgrade") : QStringLiteral("firstgrade"));
            }
            if (first ? pos > bound : pos < bound)
                return refuse(first ? QStringLiteral("<等级一>级别不能小于<密码等级>")
                                    : QStringLiteral("<密码等级>级别不能大于<等级一>"));
        }
        return accept(t);
    }
    if (name == QStringLiteral("字头")) {
        platform::Recordset rs = dbSwitch.query(QStringLiteral("Select * From LanHead where HeadID=?"), {DialToHex(t)});
        if (rs.eof()) throw platform::DbError(platform::kErrGeneric, QStringLiteral("没有当前记录"));
        const int len = static_cast<int>(rs.lng(QStringLiteral("HeadLen")));
        // Digits already given to the selected rows before this one.
        QHash<int, QString> given;
        const auto digitsOf = [&](int i) {
            return given.contains(i) ? given.value(i) : ownDigits(grid.TextMatrix(i, 2), grid.TextMatrix(i, 1), len);
        };
        for (int r = GridSelFirst; r <= GridSelLast; ++r) {
            QString d = ownDigits(grid.TextMatrix(r, 2), grid.TextMatrix(r, 1), len);
            if (t != QLatin1String("E")) {
                bool clash = false;
                for (int i = 1; i < grid.Rows() && !clash; ++i) {
                    const bool selected = i >= GridSelFirst && i <= GridSelLast;
                    if (selected ? i == r : grid.TextMatrix(i, col) != t) continue;
                    clash = digitsOf(i) == d;
                }
                if (clash) {
                    d = CheckSpringCount(grid, t, d, nullptr);
                    if (d == QLatin1String("E")) {
                        QString message;
                        CheckSpringCount(grid, t, ownDigits(grid.TextMatrix(r, 2), grid.TextMatrix(r, 1), len), &message);
                        GridSelLast = r - 1;
                        return {true, t, message};
                    }
                }
            }
            given.insert(r, d);
            grid.setTextMatrix(r, 2, t + d);
        }
        return accept(t);
    }
    if (name == QStringLiteral("本机类别")) {
        if (grid.TextMatrix(GridSelFirst, 0) == QLatin1String("E")) t = QStringLiteral("本局闭锁");
        const int code = LanHeadTypeList.indexOf(t);
        if (code >= 20 && code <= 29) {
            for (int i = 1; i < grid.Rows(); ++i)
                if (i != GridSelFirst && grid.TextMatrix(i, col) == t)
                    return refuse(name + QLatin1Char('<') + t + QStringLiteral(">已存在"));
        }
        return accept(t);
    }
    if (name == QStringLiteral("市话类别")) {
        if (!isLocalClass(t)) return accept(t);
        const QString h0 = grid.TextMatrix(GridSelFirst, 0);
        for (int i = 1; i < grid.Rows(); ++i) {
            if (i == GridSelFirst) continue;
            if (grid.TextMatrix(i, col) == t) return refuse(name + QLatin1Char('<') + t + QStringLiteral(">已存在"));
            const QString hi = grid.TextMatrix(i, 0);
            if (isPrefixClash(h0, hi))
                return refuse(QStringLiteral("如果市话类别改为<") + t + QStringLiteral(">时字头有重复:") + hi + QLatin1Char('=') + h0);
        }
        return accept(t);
    }
    return accept(t);
}

}  // namespace ModSwitch
