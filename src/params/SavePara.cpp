#include "params/SavePara.h"

#include "core/books/ChargeLog.h"
#include "core/Deposit.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/books/TableCopy.h"
#include "core/Settings.h"
#include "core/books/UserNumbers.h"
#include "core/OpLog.h"
#include "link/LinkTrace.h"
#include "params/BoardPanel.h"
#include "params/CellEdit.h"
#include "params/DialDigits.h"
#include "params/EntryRules.h"
#include "params/OptionLists.h"
#include "params/ShowTable.h"
#include "params/TableViews.h"
#include "params/TransferHooks.h"
#include "params/ViewSupport.h"
#include "platform/AppExit.h"
#include "platform/Prompts.h"

#include <QSet>
#include <stdexcept>

namespace ModSwitch {

namespace {

using platform::Currency;
using platform::DbError;
using platform::FlexGrid;
using platform::Params;
namespace views = params::views;

const QString kExtension = QStringLiteral("Extension");

bool isHeadTable(const QString& t) {
    return t == QLatin1String("LanHead") || t == QLatin1String("CityHead") || t == QLatin1String("SpecialHead");
}

bool edited(const FlexGrid& g, int r, int c) {
    return c < g.Cols() && g.CellBackColorAt(r, c) == platform::vbColor(ModGeneral::kEditedRowColor);
}

DbError badValue(const QString& text) {
    return DbError(platform::kErrGeneric, QStringLiteral("类型不匹配: '%1'").arg(text));
}

// Grid texts as the columns take them; a text that is no number where one is
// needed stops the save as the engine would.
qint64 num(const FlexGrid& g, int r, int c) {
    const QString t = g.TextMatrix(r, c).trimmed();
    bool ok = false;
    const qint64 v = t.toLongLong(&ok);
    if (!ok) throw badValue(t);
    return v;
}
Currency money(const FlexGrid& g, int r, int c) {
    const QString t = g.TextMatrix(r, c).trimmed();
    const auto v = IsPlainNumber(t) ? Currency::parse(t) : std::nullopt;
    if (!v) throw badValue(t);
    return *v;
}

QStringList options(const QString& title) {
    QStringList l;
    GetOptionList(title, l);
    return l;
}

// A number cut to its rightmost `len` digits or left-padded with zeros.
QString fitNumber(const QString& s, int len) {
    return s.size() > len ? s.right(len) : s.rightJustified(len, QLatin1Char('0'));
}

// An extension leaving its head for the flexible one keeps its last digits.
QString flexibleNumber(const QString& s, int len) {
    const QString last = s.right(len);
    bool ok = false;
    const qint64 v = last.toLongLong(&ok);
    return ok && v >= 0 ? QString::number(v).rightJustified(len, QLatin1Char('0')) : last;
}

void moveToFlexible(const QString& where, const Params& params, bool flag) {
    const int len = GetExtHeadLen();
    platform::Recordset rs = dbSwitch.query(QStringLiteral("select Address,SpringNum from extension where ") + where, params);
    for (rs.moveFirst(); !rs.eof(); rs.moveNext())
        dbSwitch.execute(QStringLiteral("update extension set head=29,springnum=?,bSetSpringNum=? where address=?"),
                         {flexibleNumber(rs.str(QStringLiteral("SpringNum")), len), flag ? 1 : 0,
                          rs.lng(QStringLiteral("Address"))});
}

// The flexible head when the table has none, every extension under it.
void ensureFlexibleHead() {
    if (dbSwitch.scalar(QStringLiteral("select count(*) from lanhead")).toLongLong() != 0) return;
    dbSwitch.execute(QStringLiteral("insert into lanhead values('E',29,4,0,0,0,0)"));
    platform::Recordset rs = dbSwitch.query(QStringLiteral("select Address,SpringNum from extension"));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext())
        dbSwitch.execute(QStringLiteral("update extension set head=29,springnum=? where address=?"),
                         {flexibleNumber(rs.str(QStringLiteral("SpringNum")), 4), rs.lng(QStringLiteral("Address"))});
}

quint32 bgr(const QColor& c) { return quint32(c.red()) | quint32(c.green()) << 8 | quint32(c.blue()) << 16; }

void paintSaved(FlexGrid& g, int r) { SetRowColor(g, r, ModGeneral::kPendingRowColor); }

// A save stopped after some of its rows were stored (each row commits
// alone), or after rows it deleted first: the status names each, the text
// ready for the status bar.
struct PartlySaved : std::runtime_error {
    explicit PartlySaved(const QString& t) : std::runtime_error("partly saved"), text(t) {}
    QString text;
};

PartlySaved partlySaved(const QStringList& deleted, const QStringList& saved, const QStringList& unsaved,
                        const std::exception& e) {
    QStringList done;
    if (!deleted.isEmpty()) done << deleted.join(QStringLiteral("、")) + QStringLiteral("已删除");
    if (!saved.isEmpty()) done << saved.join(QStringLiteral("、")) + QStringLiteral("已保存");
    return PartlySaved(QStringLiteral("保存未完成：%1，%2未保存：%3")
                           .arg(done.join(QStringLiteral("，")), unsaved.join(QStringLiteral("、")), platform::OperatorText(e)));
}

// The rows `wanted` written one by one by `write`, each committing alone: a
// row refused after others were stored, or after the rows `deleted` (named
// as the table names them) went in a commit of their own, stops the save with
// each named (by `name`), the rows not written keeping what was typed; one
// refused before anything was stored stops it as it came.
void rowByRow(FlexGrid& g, const std::function<bool(int)>& wanted, const std::function<QString(int)>& name,
              const std::function<void(int)>& write, const QStringList& deleted = {}) {
    QStringList saved;
    int r = 1;
    try {
        for (; r < g.Rows(); ++r) {
            if (!wanted(r)) continue;
            write(r);
            saved << name(r);
        }
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception& e) {
        if (saved.isEmpty() && deleted.isEmpty()) throw;
        QStringList unsaved;
        for (; r < g.Rows(); ++r)
            if (wanted(r)) unsaved << name(r);
        throw partlySaved(deleted, saved, unsaved, e);
    }
}

// A row keyed by a port's address, named as the port is.
QString portRow(const FlexGrid& g, int r) {
    bool ok = false;
    const int address = g.TextMatrix(r, 0).trimmed().toInt(&ok);
    if (ok && address >= 0 && address < 120) {
        const QString number = PortName(address);
        if (!number.isEmpty()) return QStringLiteral("分机") + number;
    }
    if (ok && address >= 224 && address <= 239) return PortName(address);
    return QStringLiteral("物理地址") + g.TextMatrix(r, 0).trimmed();
}

// ---------------------------------------------------------------- simple tables

void saveTwoColumn(FlexGrid& g, const QString& sql, const std::function<Params(int)>& keys) {
    rowByRow(
        g, [&](int r) { return edited(g, r, 1); }, [&](int r) { return portRow(g, r); },
        [&](int r) {
            Params p = {DialToHex(g.TextMatrix(r, 1))};
            p += keys(r);
            dbSwitch.execute(sql, p);
            paintSaved(g, r);
        });
}

// The value of a column-chooser column, by its grid title.
struct ChooserLists {
    QHash<QString, QStringList> lists;
    const QStringList& get(const QString& title) {
        auto it = lists.find(title);
        if (it == lists.end()) it = lists.insert(title, options(title));
        return *it;
    }
};

// Any other column: its text, unless the grid shows it through an option
// list (押金监控 and the like), whose position is then stored.
QVariant plainOrCode(ChooserLists& l, const QString& title, const QString& cell) {
    const QStringList& list = l.get(title);
    if (list.size() > 1) return FindInArray(list, cell);
    return cell;
}

QVariant extensionValue(ChooserLists& l, const FlexGrid& g, int r, int c, const QString& title) {
    const QString cell = g.TextMatrix(r, c);
    static const QStringList grades = {"等级一", "等级二", "密码等级", "押金等级"};
    static const QStringList jumps = {"内部热线", "遇忙转移", "久叫转移", "离位转移"};
    static const QStringList own = {"提机方式", "分机类型", "话机类型"};
    static const QStringList switches = {"开关", "来电显示", "清密码", "外入禁止", "排队开关", "排队标志",
                                         "免打扰", "呼入提示", "转接返回", "闭锁", "转移开关"};
    if (grades.contains(title)) return FindInArray(l.get(QStringLiteral("使用等级")), cell);
    if (jumps.contains(title)) {
        const int i = FindInArray(l.get(QStringLiteral("内部热线")), cell);
        return i > 119 ? i + 5 : i;
    }
    if (own.contains(title)) return FindInArray(l.get(title), cell);
    if (title == QStringLiteral("通话限时")) {
        const QStringList& kinds = l.get(QStringLiteral("通话类型"));
        int mask = 0;
        for (const QString& item : cell.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const int i = kinds.indexOf(item.trimmed());
            if (i >= 0) mask |= 1 << i;
        }
        return mask;
    }
    if (title == QStringLiteral("字头")) {
        for (const QString& item : l.get(QStringLiteral("字头"))) {
            const int dash = item.lastIndexOf(QLatin1Char('-'));
            if (dash >= 0 && HexToDial(item.left(dash)) == cell) return item.mid(dash + 1).toLongLong();
        }
        throw DbError(platform::kErrGeneric, QStringLiteral("字头不存在: %1").arg(cell));
    }
    if (switches.contains(title)) return FindInArray(l.get(QStringLiteral("开关")), cell);
    if (title == QStringLiteral("虚拟号码")) return DialToHex(cell);
    if (title == QStringLiteral("弹性号码")) return cell.mid(g.TextMatrix(r, 1).size());
    return plainOrCode(l, title, cell);
}

QVariant relayValue(ChooserLists& l, const FlexGrid& g, int r, int c, const QString& title) {
    const QString cell = g.TextMatrix(r, c);
    static const QStringList own = {"发码方式", "计费方式", "中继类型", "连选方式", "直拨遇忙", "转接遇忙"};
    if (title == QStringLiteral("始呼分机1") || title == QStringLiteral("始呼分机2"))
        return FindInArray(l.get(QStringLiteral("始呼分机1")), cell);
    if (title == QStringLiteral("群呼分机")) {
        const QStringList& numbers = l.get(QStringLiteral("始呼分机1"));
        QStringList idx;
        for (const QString& item : cell.split(QLatin1Char(','), Qt::SkipEmptyParts))
            idx << QString::number(FindInArray(numbers, item.trimmed()));
        return idx.join(QLatin1Char(','));
    }
    if (own.contains(title)) return FindInArray(l.get(title), cell);
    if (title == QStringLiteral("转接1") || title == QStringLiteral("转接2")) return FindInArray(l.get(QStringLiteral("转接1")), cell);
    if (title == QStringLiteral("开关") || title == QStringLiteral("转移开关")) return FindInArray(l.get(QStringLiteral("开关")), cell);
    if (title == QStringLiteral("中继号码")) return DialToHex(cell);
    return plainOrCode(l, title, cell);
}

// Extension and Relay: the shown columns by the column choice, the key first.
void saveChooserTable(FlexGrid& g, bool ext) {
    const QStringList fields = ModGeneral::SplitStr(GetVariant(ext ? QStringLiteral("ExtField") : QStringLiteral("RelayField")), QStringLiteral(","));
    const QStringList titles = ModGeneral::SplitStr(GetVariant(ext ? QStringLiteral("ExtTitle") : QStringLiteral("RelayTitle")), QStringLiteral(","));
    const QStringList shown =
        ModGeneral::SplitStr(GetVariant(ext ? QStringLiteral("ExtShowlist") : QStringLiteral("RelayShowList")), QStringLiteral(","));
    struct Column { QString field; QString title; int col; };
    QList<Column> columns;
    for (int i = 1; i < shown.size(); ++i) {
        bool ok = false;
        const int k = shown[i].toInt(&ok);
        if (!ok || k < 0 || k >= fields.size() || k >= titles.size()) continue;
        const int c = GetColIndex(titles[k], g);
        if (c < 0) continue;
        columns << Column{views::CheckedColumn(fields[k]), titles[k], c};
    }
    ChooserLists lists;
    const QString table = ext ? kExtension : QStringLiteral("Relay");
    const auto numberPartOf = [&](int r) { return ext && edited(g, r, 1); };
    const auto paramPartOf = [&](int r) { return ext ? g.Cols() >= 4 && edited(g, r, 3) : edited(g, r, 1); };
    const auto name = [&](int r) {
        return ext ? portRow(g, r) : QStringLiteral("中继") + g.TextMatrix(r, 0).trimmed();
    };
    rowByRow(g, [&](int r) { return numberPartOf(r) || paramPartOf(r); }, name, [&](int r) {
        const bool numberPart = numberPartOf(r);
        const bool paramPart = paramPartOf(r);
        QStringList sets;
        Params p;
        for (const Column& col : columns) {
            // The owner is stored by its commit, under the user's id: a name
            // tells no user (two may share one), so the save leaves it.
            if (col.title == QStringLiteral("所属用户")) continue;
            sets << col.field + QStringLiteral("=?");
            p << (ext ? extensionValue(lists, g, r, col.col, col.title) : relayValue(lists, g, r, col.col, col.title));
        }
        if (paramPart) sets << QStringLiteral("bSet=1");
        if (numberPart) sets << QStringLiteral("bSetSpringNum=1");
        p << num(g, r, 0);
        dbSwitch.execute(QStringLiteral("update %1 set %2 where Address=?").arg(table, sets.join(QLatin1Char(','))), p);
        if (ext) {
            if (paramPart) SetRowColor3(g, r, ModGeneral::kPendingRowColor, false);
            if (numberPart) SetRowColor3(g, r, ModGeneral::kPendingRowColor, true);
        } else {
            paintSaved(g, r);
        }
    });
}

void saveAccount(FlexGrid& g) {
    const QStringList grades = options(QStringLiteral("押金等级"));
    // An account with no number yet (FFFF) is named by its place.
    const auto name = [&](int r) {
        const QString account = g.TextMatrix(r, 1).trimmed();
        const bool none = account.isEmpty() || account.compare(QStringLiteral("FFFF"), Qt::CaseInsensitive) == 0;
        return none ? QStringLiteral("帐号（位置%1）").arg(g.TextMatrix(r, 0).trimmed()) : QStringLiteral("帐号") + account;
    };
    rowByRow(g, [&](int r) { return edited(g, r, 1); }, name, [&](int r) {
        // The owner keeps the user id its commit stored (the grid shows only a name).
        dbSwitch.execute(QStringLiteral("update account set account=?,firstgrade=?,secgrade=?,locked=?,clearpassword=?,"
                                        "bset=1 where address=?"),
                         {g.TextMatrix(r, 1), FindInArray(grades, g.TextMatrix(r, 2)), FindInArray(grades, g.TextMatrix(r, 3)),
                          g.TextMatrix(r, 5) == QLatin1String("ON"), g.TextMatrix(r, 6) == QLatin1String("ON"), num(g, r, 0)});
        paintSaved(g, r);
    });
}

void savePabxTimes(FlexGrid& g) {
    const QStringList kinds = options(QStringLiteral("时段类型"));
    const bool second = SwitchModel == 2;
    const auto name = [&](int r) { return QStringLiteral("时间段") + g.TextMatrix(r, 0).trimmed(); };
    rowByRow(g, [&](int r) { return edited(g, r, 1); }, name, [&](int r) {
        const QString seg = g.TextMatrix(r, 0).trimmed();
        bool ok = false;
        int s = seg.toInt(&ok);
        if (!ok) s = seg == QStringLiteral("周六") ? 7 : 8;
        QString sql = QStringLiteral("update pabxtimes set DayTimes=?,timebegin=?,timeend=?,innerpercent1=?,nationpercent1=?,"
                                     "mobilpercent1=?,lanpercent1=?");
        Params p = {FindInArray(kinds, g.TextMatrix(r, 1)), g.TextMatrix(r, 2), g.TextMatrix(r, 3), num(g, r, 4), num(g, r, 5),
                    num(g, r, 6), num(g, r, 7)};
        if (!second) {
            sql += QStringLiteral(",innerpercent2=?,nationpercent2=?,mobilpercent2=?,lanpercent2=?");
            p << num(g, r, 8) << num(g, r, 9) << num(g, r, 10) << num(g, r, 11);
        }
        p << s;
        dbSwitch.execute(sql + QStringLiteral(",bSet=1 where SegNo=?"), p);
        paintSaved(g, r);
    });
}

void savePabxFeeRate(FlexGrid& g) {
    const QStringList kinds = options(QStringLiteral("费率类型"));
    const QStringList grades = options(QStringLiteral("费率等级"));
    const bool second = SwitchModel == 2;
    QSet<QString> inGrid;
    for (int r = 1; r < g.Rows(); ++r) inGrid << DialToHex(g.TextMatrix(r, 0));
    // The heads no longer in the grid go first, in a commit of their own: a
    // row refused after it names them gone.
    QStringList deleted;
    {
        platform::Transaction tx(dbSwitch);
        platform::Recordset rs = dbSwitch.query(QStringLiteral("Select FeeRateHead From pabxFeeRate"));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
            const QString head = rs.str(QStringLiteral("FeeRateHead"));
            if (inGrid.contains(head)) continue;
            dbSwitch.execute(QStringLiteral("delete From pabxFeeRate where FeeRateHead=?"), {head});
            deleted << QStringLiteral("费率字头") + HexToDial(head);
        }
        tx.commit();
    }
    const int o = second ? -1 : 0;   // the second model has no grade column
    const auto name = [&](int r) { return QStringLiteral("费率字头") + g.TextMatrix(r, 0).trimmed(); };
    rowByRow(g, [&](int r) { return edited(g, r, 1); }, name, [&](int r) {
        const QString h = DialToHex(g.TextMatrix(r, 0));
        const int grade = second ? 8 : FindInArray(grades, g.TextMatrix(r, 2));
        const Params values = {FindInArray(kinds, g.TextMatrix(r, 1)), grade, num(g, r, 3 + o), money(g, r, 4 + o),
                               num(g, r, 5 + o), money(g, r, 6 + o), money(g, r, 7 + o), money(g, r, 8 + o), num(g, r, 9 + o)};
        if (dbSwitch.scalar(QStringLiteral("select FeeRateHead from pabxFeeRate where FeeRateHead=?"), {h}).isNull()) {
            dbSwitch.execute(QStringLiteral("insert into pabxFeeRate (FeeRateHead,FeeRateType,feerategrade,FirstTime,FirstPrice,"
                                            "PerTime,PerPrice,Poundage,ExtraFee,DiscountPercent,bSet) values(?,?,?,?,?,?,?,?,?,?,1)"),
                             Params{h} + values);
        } else {
            dbSwitch.execute(QStringLiteral("update pabxFeeRate set FeeRateType=?,feerategrade=?,firsttime=?,firstprice=?,"
                                            "pertime=?,perprice=?,poundage=?,extrafee=?,discountpercent=?,bSet=1 "
                                            "where FeeRateHead=?"),
                             values + Params{h});
        }
        paintSaved(g, r);
    }, deleted);
}

void saveExtDeposit(FlexGrid& g) {
    rowByRow(
        g, [&](int r) { return edited(g, r, 1) || edited(g, r, 2); },
        [&](int r) { return QStringLiteral("分机") + g.TextMatrix(r, 1).trimmed(); },
        [&](int r) {
            dbSwitch.execute(QStringLiteral("update extdeposit set bset=1,changevalue=? where address=?"),
                             {money(g, r, 2), num(g, r, 0)});
            paintSaved(g, r);
        });
}

// ---------------------------------------------------------------- users

// Returns the status the save ends with: "保存完成" when the switch took
// every user's rows, else what the save left for later.
QString saveUsers(FlexGrid& g) {
    const QStringList modes = options(QStringLiteral("结算方式"));
    const QStringList onOff = options(QStringLiteral("开关"));
    // A deletion the switch finished meanwhile is finished first: its row
    // leaves the grid before the rows are walked.
    SettleUserReleases();
    bool f = true;
    QStringList saved;
    int r = 1;
    try {
        for (; r < g.Rows(); ++r) {
            if (!edited(g, r, 1)) continue;
            const qint64 uid = num(g, r, 0);
            const QString lastdate = g.TextMatrix(r, 2).trimmed();
            if (!lastdate.isEmpty() && !platform::parseDate(lastdate).isValid()) throw badValue(lastdate);
            const Params common = {g.TextMatrix(r, 1), lastdate.isEmpty() ? QVariant() : QVariant(lastdate), FindInArray(modes, g.TextMatrix(r, 3))};
            const bool exists = !dbSwitch.scalar(QStringLiteral("select userid from user where userid=?"), {uid}).isNull();
            // A number once given is a user's for good: a row whose user is
            // gone (deleted since the grid was loaded) never stores it again.
            if (!exists && uid < FirstFreeUserNumber())
                throw DbError(platform::kErrGeneric,
                              QStringLiteral("用户%1(%2)已经删除，不能再保存").arg(g.TextMatrix(r, 1).trimmed()).arg(uid));
            if (!exists) {
                // The switch learns the new user's rows before the station stores it.
                if (f) f = SendUserPara(uid, 0, false);
                const Currency remain = money(g, r, 5);
                // An entry of the journal with the balance it starts with: a
                // station file put back from an older copy names the user it lacks.
                ModSwitch::MoveBalances(
                    [&] {
                        dbSwitch.execute(
                            QStringLiteral("insert into user (userid,username,lastdate,balancemode,deposit,remain,overdraft,rent,"
                                           "deptname,printonce,locked,payed,bset) values(?,?,?,?,?,?,?,?,?,?,?,0,1)"),
                            Params{uid} + common +
                                Params{money(g, r, 4), remain, money(g, r, 6), money(g, r, 7), g.TextMatrix(r, 8),
                                       FindInArray(onOff, g.TextMatrix(r, 9)), FindInArray(onOff, g.TextMatrix(r, 10))});
                    },
                    uid);
            } else {
                // The stored deposit and balance take the amounts typed, so that a
                // charge booked since the grid was loaded is not undone.
                // The deposit typed is an entry of the journal.
                const Currency typed = TypedDeposits().value(uid);
                // A lock or a way of paying changes the frames of the user's rows:
                // each row that changes waits for its download, whether or not the
                // push after the save reaches the switch.
                const OwnedRowsBefore before({uid});
                platform::Transaction tx(dbSwitch);
                ModSwitch::MoveBalances(
                    [&] {
                        dbSwitch.execute(
                            QStringLiteral("update user set username=?,lastdate=?,balancemode=?,deposit=deposit+?,remain=remain+?,"
                                           "overdraft=?,rent=?,deptname=?,printonce=?,locked=?,bset=? where userid=?"),
                            common + Params{typed, typed, money(g, r, 6), money(g, r, 7), g.TextMatrix(r, 8),
                                            FindInArray(onOff, g.TextMatrix(r, 9)), FindInArray(onOff, g.TextMatrix(r, 10)), 1,
                                            uid});
                    },
                    uid);
                before.MarkChanged();
                tx.commit();
            }
            DropTypedDeposit(uid);
            // A saved user waits for no download: the row takes the grid's colour.
            SetRowColor(g, r, bgr(g.BackColor()));
            saved << QStringLiteral("用户%1").arg(uid);
        }
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception& e) {
        // The users stored stay stored; the rest keep what was typed for them.
        if (saved.isEmpty()) throw;
        QStringList unsaved;
        for (; r < g.Rows(); ++r)
            if (edited(g, r, 1)) unsaved << QStringLiteral("用户%1").arg(g.TextMatrix(r, 0).trimmed());
        throw partlySaved({}, saved, unsaved, e);
    }
    // Balances: the deposit grades and the running calls follow. The users'
    // money has moved and the save is done: a refusal here leaves the user
    // pending (bset), taken up again by the next save, and is said as such.
    // Every user's grade is worked out and marked on its rows; once a push
    // went unanswered the others are not pushed, and each user not pushed
    // stays pending and is named.
    QString left;
    QStringList unsent;
    try {
        platform::Recordset rs = dbSwitch.query(QStringLiteral("select userid from user where bset<>0"));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
            const qint64 uid = rs.lng(QStringLiteral("userid"));
            f = ModGeneral::CheckDeposit(uid, f, true);
            // Read once the grade's download is done (it waits for the switch, and
            // a call of the user may be charged meanwhile), as the pricing reads
            // it: with the charges logged that the station file has not taken yet.
            const QVariant overdraft = dbSwitch.scalar(QStringLiteral("select overdraft from user where userid=?"), {uid});
            if (overdraft.isNull()) continue;
            const Currency a = ModSwitch::BalanceOf(uid) + Currency::fromRaw(overdraft.toLongLong());
            for (int slot = 0; slot < MonSlots.size(); ++slot) {
                const MonSlot& s = MonSlots[slot];
                if (s.UserID != uid || !s.LimitSet) continue;
                if (s.Balance != a) NewMonitor(slot, a);
                break;
            }
            if (f) dbSwitch.execute(QStringLiteral("update user set bset=0 where userid=?"), {uid});
            else unsent << QStringLiteral("用户%1").arg(uid);
        }
    } catch (const platform::DbError& e) {
        left = QStringLiteral("，用户押金等级仍待下载：") + platform::OperatorText(e);
        LinkTrace::Note(QStringLiteral("Save User Pending:") + platform::OperatorText(e));
    }
    if (rsUser.isOpen()) rsUser.requery();
    if (!unsent.isEmpty())
        return QStringLiteral("用户已保存，%1的参数未能下载到交换机，仍待下载").arg(unsent.join(QStringLiteral("、"))) + left;
    return QStringLiteral("保存完成") + left;
}

// ---------------------------------------------------------------- heads and boards

struct HeadRow {
    int row;
    int type;
    QString head;   // coded
};

QList<HeadRow> savedHeads(FlexGrid& g) {
    QList<HeadRow> rows;
    for (int r = 1; r < g.Rows(); ++r) {
        if (!edited(g, r, 1)) continue;
        const int t = FindInArray(LanHeadTypeList, g.TextMatrix(r, 1));
        if (t > 19 && t < 30) {
            bool ok = false;
            const int len = g.TextMatrix(r, 2).trimmed().toInt(&ok);
            if (!ok || len < 1 || len > 4) g.setTextMatrix(r, 2, QStringLiteral("4"));
        }
        rows << HeadRow{r, t, DialToHex(g.TextMatrix(r, 0))};
    }
    return rows;
}

Params headValues(const FlexGrid& g, int r) { return {num(g, r, 2), num(g, r, 3), num(g, r, 4), num(g, r, 5)}; }

void deleteHeadsNotShown(const FlexGrid& g, const QString& table) {
    QSet<QString> inGrid;
    for (int r = 1; r < g.Rows(); ++r) inGrid << DialToHex(g.TextMatrix(r, 0));
    platform::Recordset rs = dbSwitch.query(QStringLiteral("Select HeadID From %1").arg(table));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QString id = rs.str(QStringLiteral("HeadID"));
        if (!inGrid.contains(id)) dbSwitch.execute(QStringLiteral("delete From %1 where HeadID=?").arg(table), {id});
    }
}

void saveOtherHeads(FlexGrid& g, const QString& table) {
    const QList<HeadRow> rows = savedHeads(g);
    {
        platform::Transaction tx(dbSwitch);
        for (const HeadRow& h : rows) {
            const Params v = headValues(g, h.row);
            if (dbSwitch.scalar(QStringLiteral("select HeadID from %1 where HeadID=?").arg(table), {h.head}).isNull())
                dbSwitch.execute(QStringLiteral("insert into %1 values(?,?,?,?,?,?,1)").arg(table), Params{h.head, h.type} + v);
            else
                dbSwitch.execute(QStringLiteral("update %1 set HeadType=?,HeadLen=?,Headdelay=?,Router1=?,Router2=?,bSet=1 "
                                                "where HeadID=?").arg(table),
                                 Params{h.type} + v + Params{h.head});
        }
        deleteHeadsNotShown(g, table);
        tx.commit();
    }
    for (const HeadRow& h : rows) paintSaved(g, h.row);
}

// The extensions of `type` take numbers of `len` digits, in address order;
// those beyond the head's number space (when `overflow`) go to the flexible head.
void refitExtensions(int type, int len, bool overflow) {
    qint64 space = 1;
    for (int i = 0; i < len; ++i) space *= 10;
    const int flexLen = GetExtHeadLen();
    platform::Recordset rs =
        dbSwitch.query(QStringLiteral("Select Address,SpringNum From Extension where Head=? order by Address"), {type});
    qint64 k = 0;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext(), ++k) {
        const QString s = rs.str(QStringLiteral("SpringNum"));
        const qint64 a = rs.lng(QStringLiteral("Address"));
        if (!overflow || k < space)
            dbSwitch.execute(QStringLiteral("update Extension set bSetSpringNum=1,SpringNum=? where Address=?"), {fitNumber(s, len), a});
        else
            dbSwitch.execute(QStringLiteral("update Extension set bSetSpringNum=1,Head=29,SpringNum=? where Address=?"),
                             {flexibleNumber(s, flexLen), a});
    }
    RenumberExt(type);
}

void saveLanHead(FlexGrid& g) {
    const QList<HeadRow> rows = savedHeads(g);
    constexpr int kMoving = 1000;   // extensions on their way to another code
    {
        platform::Transaction tx(dbSwitch);
        QList<QPair<int, int>> renumber;   // code, number length
        for (const HeadRow& h : rows) {
            if (h.type <= 19 || h.type >= 30) continue;
            const Params v = headValues(g, h.row);
            const int len = static_cast<int>(num(g, h.row, 2));
            platform::Recordset rs = dbSwitch.query(
                QStringLiteral("Select HeadID,HeadType,HeadLen From lanhead where headid=? or headtype=?"), {h.head, h.type});
            if (rs.empty()) {
                dbSwitch.execute(QStringLiteral("insert into lanhead values(?,?,?,?,?,?,1)"), Params{h.head, h.type} + v);
                continue;
            }
            if (rs.findFirst(QStringLiteral("HeadID"), h.head)) {
                const int oldType = static_cast<int>(rs.lng(QStringLiteral("HeadType")));
                const int oldLen = static_cast<int>(rs.lng(QStringLiteral("HeadLen")));
                dbSwitch.execute(QStringLiteral("update lanhead set HeadType=?,HeadLen=?,Headdelay=?,Router1=?,Router2=?,bSet=1 "
                                                "where HeadID=?"),
                                 Params{h.type} + v + Params{h.head});
                if (oldType != h.type)
                    dbSwitch.execute(QStringLiteral("Update extension set head=? where head=?"), {kMoving + h.type, oldType});
                // A new length alone: the numbers are refitted.
                if (oldLen != len) renumber << qMakePair(h.type, -len);
            } else {
                dbSwitch.execute(QStringLiteral("update lanhead set Headid=?,HeadLen=?,Headdelay=?,Router1=?,Router2=?,bSet=1 "
                                                "where Headtype=?"),
                                 Params{h.head} + v + Params{h.type});
                renumber << qMakePair(h.type, len);
            }
        }
        dbSwitch.execute(QStringLiteral("update extension set head=head-? where head>=?"), {kMoving, kMoving});
        for (const auto& [type, len] : renumber) refitExtensions(type, qAbs(len), len > 0);
        for (const HeadRow& h : rows) {
            if (h.type > 19 && h.type < 30) continue;
            const Params v = headValues(g, h.row);
            if (dbSwitch.scalar(QStringLiteral("select HeadID from lanhead where headid=?"), {h.head}).isNull())
                dbSwitch.execute(QStringLiteral("insert into lanhead values(?,?,?,?,?,?,1)"), Params{h.head, h.type} + v);
            else
                dbSwitch.execute(QStringLiteral("update lanhead set HeadType=?,HeadLen=?,Headdelay=?,Router1=?,Router2=?,bSet=1 "
                                                "where HeadID=?"),
                                 Params{h.type} + v + Params{h.head});
        }
        deleteHeadsNotShown(g, QStringLiteral("LanHead"));
        ensureFlexibleHead();
        // Extensions whose head is gone keep their last digits under the flexible head.
        moveToFlexible(QStringLiteral("head<>29 and (head is null or head not in (select headtype from lanhead))"), {}, true);
        tx.commit();
    }
    for (const HeadRow& h : rows) paintSaved(g, h.row);
}

void saveBoards() {
    QList<int> special;
    {
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute(QStringLiteral("update moncard set cardtype=dispcard"));
        const int n = ShowExtGrid(views::ConsoleGrid(), kExtension, false);
        moveToFlexible(QStringLiteral("address>=?"), {n}, false);
        platform::Recordset rs = dbSwitch.query(QStringLiteral("select cardorder from moncard where cardtype=11"));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
            const int c = static_cast<int>(rs.lng(QStringLiteral("cardorder")));
            special << c;
            moveToFlexible(QStringLiteral("address>=? and address<?"), {(c - 7) * 8 + 4, (c - 6) * 8}, true);
        }
        tx.commit();
    }
    // A special-telephone board's last four ports show their new numbers in
    // the port grid: the board's number row, columns 5 to 8.
    FlexGrid& ports = views::PortGrid();
    for (int c : special) {
        const int row = 2 * (c - 6);
        platform::Recordset rs = dbSwitch.query(
            QStringLiteral("select address,txhm from que_txhm where address>=? and address<? order by address"),
            {(c - 7) * 8 + 4, (c - 6) * 8});
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
            const int col = 5 + static_cast<int>(rs.lng(QStringLiteral("address")) - ((c - 7) * 8 + 4));
            if (row > 0 && row < ports.Rows() && col < ports.Cols()) ports.setTextMatrix(row, col, rs.str(QStringLiteral("txhm")));
        }
    }
}

// ---------------------------------------------------------------- taking over a table read from the switch

QString tableOfView(const QString& view) {
    if (view == QLatin1String("Router1") || view == QLatin1String("Router2")) return QStringLiteral("AddHead");
    return views::CheckedTable(view);
}

void mergeShadow(const QString& table) {
    const QString shadow = QStringLiteral("p") + table;
    platform::Transaction tx(dbSwitch);
    bool copied;
    if (table == QLatin1String("Relay")) {
        dbSwitch.execute(QStringLiteral("delete from relay where address<=?"), {ShowRelayGrid(views::ConsoleGrid(), table, false)});
        copied = CopyTable(dbSwitch, shadow, dbSwitch, table, true, QString());
    } else if (table == kExtension) {
        dbSwitch.execute(QStringLiteral("delete from extension where address<?"), {ShowExtGrid(views::ConsoleGrid(), table, false)});
        copied = CopyTable(dbSwitch, shadow, dbSwitch, table, true, QString());
    } else {
        copied = CopyTable(dbSwitch, shadow, dbSwitch, table, false, QString());
    }
    if (!copied) throw DbError(platform::kErrGeneric, QStringLiteral("复制表 %1 失败").arg(shadow));
    dbSwitch.execute(QStringLiteral("drop table if exists ") + platform::quoteIdent(shadow));
    if (table == QLatin1String("LanHead")) {
        ensureFlexibleHead();
        platform::Recordset heads =
            dbSwitch.query(QStringLiteral("Select distinct Head From Extension where head>19 and Head<29"));
        for (heads.moveFirst(); !heads.eof(); heads.moveNext()) {
            const qint64 head = heads.lng(QStringLiteral("Head"));
            const QVariant len = dbSwitch.scalar(QStringLiteral("Select HeadLen From LanHead where HeadType=?"), {head});
            if (len.isNull()) {
                moveToFlexible(QStringLiteral("head=?"), {head}, false);
                continue;
            }
            platform::Recordset ext =
                dbSwitch.query(QStringLiteral("Select Address,SpringNum From Extension where Head=?"), {head});
            for (ext.moveFirst(); !ext.eof(); ext.moveNext())
                dbSwitch.execute(QStringLiteral("Update Extension set bSetSpringNum=0,SpringNum=? where Address=?"),
                                 {fitNumber(ext.str(QStringLiteral("SpringNum")), len.toInt()), ext.lng(QStringLiteral("Address"))});
        }
    }
    tx.commit();
}

void mergeUpSend() {
    const QString table = tableOfView(CurTable);
    // The rows read carry the owners the station held when they were read,
    // and a row the switch did not give goes: an owner given since, or one
    // taken with its row, is an entry of the journal, as any owner given.
    if (table == kExtension || table == QLatin1String("Account"))
        ModSwitch::MoveOwners([&] { mergeShadow(table); });
    else
        mergeShadow(table);
}

void logSaved() { ModGeneral::AddOpLog(views::Caption().chopped(qMin(2, views::Caption().size())) + QStringLiteral("保存")); }

// Rows that cannot be saved (an empty first cell, or an empty key of a
// table keyed by its first column) lose their edited colour.
void dropEmptyRows(FlexGrid& g) {
    const bool keyed = isHeadTable(CurTable) || CurTable == QLatin1String("PabxFeeRate");
    for (int r = 1; r < g.Rows(); ++r) {
        if (g.TextMatrix(r, 1).isEmpty() || (keyed && g.TextMatrix(r, 0).isEmpty())) {
            views::StatusText(g.TextMatrix(0, 0).trimmed() + QStringLiteral("项数据不能为空"));
            SetRowColor(g, r, bgr(g.BackColor()));
        }
    }
}

}  // namespace

bool SaveSwitchPara(int rightNo, bool bRefresh) {
    if (ModGeneral::CheckRight(rightNo, ModGeneral::kRightSilent)) {
        ParaMode.clear();
        DropGridEdits();
        return true;
    }
    const bool upSend = ParaMode == QLatin1String("UpSend");
    const bool boards = CurTable == QLatin1String("MonCard");
    if (!upSend) {
        if (!g_Modified) return false;
        if (platform::MsgBox(QStringLiteral("参数已经改变，要保存参数设置吗?"), platform::mbYesNo | platform::mbQuestion, AppName) ==
            platform::rNo) {
            bool result = false;
            if (boards) {
                dbSwitch.execute(QStringLiteral("update moncard set dispcard=cardtype"));
                LoadCards();
            } else {
                ParaMode.clear();
                result = true;
            }
            DropGridEdits();
            views::RefreshView();
            return result;
        }
    } else {
        if (platform::MsgBox(QStringLiteral("要保存上传的参数吗?"), platform::mbYesNo | platform::mbQuestion, AppName) ==
            platform::rNo) {
            if (boards) {
                dbSwitch.execute(QStringLiteral("update moncard set dispcard=cardtype"));
                LoadCards();
            } else {
                platform::Transaction tx(dbSwitch);
                dbSwitch.execute(QStringLiteral("drop table if exists ") + platform::quoteIdent(QStringLiteral("p") + tableOfView(CurTable)));
                if (CurTable == QLatin1String("LanHead")) ensureFlexibleHead();
                tx.commit();
            }
            ParaMode.clear();
            g_Modified = false;
            views::RefreshView();
            return true;
        }
        if (boards) {
            dbSwitch.execute(QStringLiteral("update moncard set cardtype=dispcard"));
            LoadCards();
            ParaMode.clear();
            logSaved();
            g_Modified = false;
            return true;
        }
    }

    FlexGrid& g = views::ConsoleGrid();
    const bool redraw = g.Redraw();
    g.setRedraw(false);
    QString done = QStringLiteral("保存完成");   // the status a save done ends with
    try {
        if (upSend) {
            mergeUpSend();
            ParaMode.clear();
            g.setRedraw(redraw);
            logSaved();
            g_Modified = false;
            views::RefreshView();
            return true;
        }
        if (!boards) dropEmptyRows(g);
        views::StatusText(QStringLiteral("正在保存..."));
        const QString t = CurTable;
        if (t == QLatin1String("ExtraHead")) {
            saveTwoColumn(g, QStringLiteral("update ExtraHead set ExtraHead=?,bSet=1 where Address=?"),
                          [&](int r) { return Params{num(g, r, 0)}; });
        } else if (t == QLatin1String("Shrink")) {
            saveTwoColumn(g, QStringLiteral("update Shrink set ShrinkHead=?,bSet=1 where Address=?"),
                          [&](int r) { return Params{num(g, r, 0)}; });
        } else if (t == QLatin1String("Router1") || t == QLatin1String("Router2")) {
            const int router = t == QLatin1String("Router1") ? 1 : 2;
            saveTwoColumn(g, QStringLiteral("update AddHead set AddHead=?,bSet=1 where PortAddr=? and Router=?"),
                          [&](int r) { return Params{num(g, r, 0), router}; });
        } else if (t == QLatin1String("Relay") || t == kExtension) {
            saveChooserTable(g, t == kExtension);
        } else if (t == QLatin1String("Account")) {
            saveAccount(g);
        } else if (t == QLatin1String("ExtDeposit")) {
            saveExtDeposit(g);
        } else if (t == QLatin1String("PabxTimes")) {
            savePabxTimes(g);
        } else if (t == QLatin1String("PabxFeeRate")) {
            savePabxFeeRate(g);
        } else if (t == QLatin1String("User")) {
            done = saveUsers(g);
        } else if (t == QLatin1String("LanHead")) {
            saveLanHead(g);
        } else if (t == QLatin1String("CityHead") || t == QLatin1String("SpecialHead")) {
            saveOtherHeads(g, t);
        } else if (boards) {
            saveBoards();
            LoadCards();
        }
    } catch (const PartlySaved& e) {
        g.setRedraw(true);
        ParaMode.clear();
        LinkTrace::Note(QStringLiteral("Save Error:") + e.text);
        views::StatusText(e.text);
        return false;
    } catch (const std::exception& e) {
        const QString why = platform::OperatorText(e);
        g.setRedraw(true);
        // The rows not written keep their edited colour and stay unsaved.
        if (!upSend) ParaMode.clear();
        LinkTrace::Note(QStringLiteral("Save Error:") + why);
        views::StatusText(QStringLiteral("保存错误") + why);
        return false;
    }
    g.setCol(qMin(1, g.Cols() - 1));
    g.setRedraw(true);
    ParaMode.clear();
    DropGridEdits();
    views::StatusText(done);
    logSaved();
    if (bRefresh && isHeadTable(CurTable))
        ModGeneral::ShowTable(g, QStringLiteral("select * from %1 order by headtype,headid,length(headid)").arg(CurTable), QString(),
                              0, 1, false);
    return true;
}

}  // namespace ModSwitch
