#include "params/ShowTable.h"

#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/frmProgress.h"
#include "params/DialDigits.h"
#include "params/OptionLists.h"
#include "params/TableViews.h"
#include "params/ViewSupport.h"

#include <QHash>
#include <QSet>

namespace ModGeneral {

namespace {

using params::views::StatusText;

// Text of option `code`; a code the list does not hold shows as its number,
// so an unknown value is visible and never breaks the view.
QString optionText(const QStringList& list, const QVariant& v) {
    if (v.isNull()) return {};
    bool ok = false;
    const qint64 code = v.toString().trimmed().toLongLong(&ok);
    if (!ok) return v.toString();
    if (code >= 0 && code < list.size()) return list[code];
    return QString::number(code);
}

QString plainText(const QVariant& v) {
    if (v.isNull()) return {};
    if (v.typeId() == QMetaType::Double) return QString::number(v.toDouble(), 'g', 15);
    return v.toString();
}

QString moneyText(bool currencyField, const QVariant& v) {
    if (v.isNull()) return {};
    if (currencyField && v.typeId() != QMetaType::QString)
        return platform::Currency::fromRaw(v.toLongLong()).toString2();
    if (v.typeId() == QMetaType::Double) return platform::Currency::parse(QString::number(v.toDouble(), 'f', 6)).value_or(platform::Currency()).toString2();
    const auto c = platform::Currency::parse(v.toString());
    return c ? c->toString2() : v.toString();
}

QString dateCell(const QVariant& v) {
    if (v.isNull()) return {};
    // Dates are stored in the form they are shown in: no conversion needed.
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString();
        static const QString shape = QStringLiteral("0000-00-00 00:00:00");
        bool same = s.size() == shape.size();
        for (int i = 0; same && i < s.size(); ++i) same = shape[i] == '0' ? s[i].isDigit() : s[i] == shape[i];
        if (same) return s;
    }
    const QDateTime t = platform::parseDate(v);
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : v.toString();
}

bool isOneOf(const QString& s, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (s == QLatin1String(n)) return true;
    return false;
}

// Fixed leading columns of the views that have a key column.
int fixedColsFor(const QString& view) {
    static const QSet<QString> keyed = {"Extension", "Relay", "Router1", "Router2", "ExtraHead", "PabxTimes",
                                        "Account", "User", "Shrink", "ExtDeposit"};
    return keyed.contains(view) ? 1 : 0;
}

// How the cells of a column are written, by its field name and title.
enum class Rule { Head, SpringNum, GroupList, Option, ExtAddr, AccountNum, Dial, Duration, Money, Date, Limit,
                  FeeRateType, Jump, UserName, Text };

Rule ruleFor(const QString& name, const QString& title, const QStringList& list) {
    if (name == QLatin1String("HEAD")) return Rule::Head;
    if (name == QLatin1String("SPRINGNUM")) return Rule::SpringNum;
    if (name == QLatin1String("GROUPPHONE")) return Rule::GroupList;
    if (isOneOf(name, {"DAYSTART", "NIGHTSTART"})) return Rule::Option;
    if (name == QLatin1String("ACCOUNTNUM")) return Rule::AccountNum;
    if (isOneOf(name, {"HEADID", "ADDHEAD", "EXTRAHEAD", "RELAYNO", "VNUM", "SHRINKHEAD", "FEERATEHEAD"})) return Rule::Dial;
    if (name == QLatin1String("HOLDONTIME")) return Rule::Duration;
    if (isOneOf(name, {"PERPRICE", "FIRSTPRICE", "DEPOSIT", "REMAIN", "RENT", "OVERDRAFT", "EXTRAFEE", "IPLINKFEE",
                       "BASEFEE", "TOTALFEE", "POUNDAGE", "REALVALUE", "CHANGEVALUE"}))
        return Rule::Money;
    if (isOneOf(name, {"LASTDATE", "CALLINGDATE", "SERVETIME", "CHANGEDATE", "F_DATE"})) return Rule::Date;
    // Under "分机号码" an address is shown as that extension's number.
    if (name == QLatin1String("EXTADDR")) return title == QStringLiteral("分机号码") ? Rule::ExtAddr : Rule::Option;
    if (name == QLatin1String("LIMIT")) return Rule::Limit;
    if (isOneOf(name, {"FIRSTGRADE", "SECGRADE", "PWDGRADE", "USEGRADE", "DEPOSITGRADE"})) return Rule::Option;
    if (name == QLatin1String("DEPTNAME")) return Rule::Text;
    if (name == QLatin1String("FEERATETYPE")) return Rule::FeeRateType;
    if (name.contains(QLatin1String("JUMP"))) return Rule::Jump;
    if (title == QStringLiteral("所属用户")) return Rule::UserName;
    // Under "分机号码" the cell is a number already, never a code.
    if (title == QStringLiteral("分机号码")) return Rule::Text;
    return list.size() > 1 ? Rule::Option : Rule::Text;
}

// Head digits of the extension head types, looked up once per type.
class HeadCache {
public:
    HeadCache() {
        platform::Recordset rs = dbSwitch.query(QStringLiteral("Select HeadID,Headtype From LanHead where HeadType=29"));
        type_ = 29;
        head_ = rs.empty() ? QStringLiteral("E") : rs.str(QStringLiteral("HeadID"));
    }
    QString headOf(const QVariant& type) {
        if (type.isNull()) return QStringLiteral("E");
        const qint64 t = type.toLongLong();
        if (t == type_) return head_;
        platform::Recordset rs =
            dbSwitch.query(QStringLiteral("Select HeadID,HeadType From LanHead where HeadType=?"), {t});
        type_ = t;
        head_ = rs.empty() ? QStringLiteral("E") : rs.str(QStringLiteral("HeadID"));
        return head_;
    }
private:
    qint64 type_ = -1;
    QString head_;
};

// The pending flags of the rows shown, found by the view's key (its first
// field), so that each grid row gets its own row's flags whatever order the
// view's query and the flag query return them in.
void colourPendingRows(platform::FlexGrid& grid, const platform::Recordset& rs, const QStringList& keys) {
    const QString p = ParaMode == QLatin1String("UpSend") ? QStringLiteral("p") : QString();
    const QString keyField = params::views::CheckedTable(rs.fieldName(0));
    QString sql;
    platform::Params params;
    bool ext = false;
    if (CurTable == QLatin1String("Extension")) {
        sql = QStringLiteral("Select %1,bSet,bSetSpringNum From %2Extension").arg(keyField, p);
        ext = true;
    } else if (CurTable == QLatin1String("Router1") || CurTable == QLatin1String("Router2")) {
        sql = QStringLiteral("Select %1,bSet From %2AddHead where router=?").arg(keyField, p);
        params << CurTable.right(1).toInt();
    } else if (isOneOf(CurTable, {"LanHead", "CityHead", "ExtraHead", "PabxFeeRate", "PabxTimes", "User", "Account",
                                  "Shrink", "ExtDeposit", "Relay"})) {
        sql = QStringLiteral("Select %1,bSet From %2%3").arg(keyField, p, CurTable);
    } else {
        return;
    }
    platform::Recordset flags;
    try {
        flags = dbSwitch.query(sql, params);
    } catch (const platform::DbError&) {
        return;   // a view whose first field is not its table's key has no pending colours
    }
    QHash<QString, QPair<bool, bool>> byKey;
    byKey.reserve(flags.recordCount());
    for (flags.moveFirst(); !flags.eof(); flags.moveNext())
        byKey.insert(plainText(flags.value(0)),
                     {flags.value(1).toLongLong() != 0, ext && flags.value(2).toLongLong() != 0});
    for (int k = 0; k < keys.size(); ++k) {
        const auto it = byKey.constFind(keys[k]);
        if (it == byKey.constEnd()) continue;
        if (ext) {
            if (it->first) ModSwitch::SetRowColor3(grid, k + 1, kPendingRowColor, false);
            if (it->second) ModSwitch::SetRowColor3(grid, k + 1, kPendingRowColor, true);
        } else if (it->first) {
            ModSwitch::SetRowColor(grid, k + 1, kPendingRowColor);
        }
    }
}

}  // namespace

void ShowTable(platform::FlexGrid& grid, const QString& sql, const QString& header, int bAppend, int nHidden,
               bool bProgress, const platform::Params& params) {
    const auto unloadProgress = [&] {
        if (bProgress && frmProgress::exists()) frmProgress::unload();
    };
    try {
        platform::Recordset rs = dbSwitch.query(sql, params);
        const int records = rs.recordCount();
        const int cols = qMax(0, rs.fieldCount() - nHidden);
        const qint32 cells = cols * records;
        if (bProgress) frmProgress::instance().LoadProgress(QStringLiteral("正在载入数据..."), false, cells, 1, false);
        // The bar moves in steps of about half a percent: as seen, and cheap.
        const qint32 progressStep = qMax(1, cells / 200);

        grid.setRedraw(false);
        const QString format = header.isEmpty() ? grid.FormatString() : header;
        int firstRow = 1;
        if (bAppend == 0) {
            // A view too large to show still gets its own titles over its empty grid.
            const bool tooMany = records + 1 > kMaxGridRecords;
            grid.setRows(0);   // drops every cell, its text and its colour
            grid.setFixedRows(1);
            grid.setFixedCols(fixedColsFor(CurTable));
            grid.setRows(tooMany ? 1 : records > 0 ? records + 1 : 2);
            grid.setFormatString(format);
            grid.setCols(cols);
            const bool chooserView = CurTable == QLatin1String("Extension") || CurTable == QLatin1String("Relay");
            for (int c = 0; c < cols; ++c) {
                const QString f = rs.fieldName(c);
                const bool left = chooserView || isOneOf(f, {"HeadType", "FeeRateType", "F_Memo", "userid", "DayTimes"});
                grid.setCellAlignmentAt(0, c, left ? 1 : 7);
            }
            if (tooMany) {
                unloadProgress();
                grid.setRows(1);
                StatusText(QStringLiteral("记录数过多"));
                grid.setRedraw(true);
                return;
            }
        } else {
            firstRow = grid.Rows();
            if (firstRow + records > kMaxGridRecords) {
                unloadProgress();
                StatusText(QStringLiteral("记录数过多"));
                grid.setRedraw(true);
                return;
            }
            grid.setRows(firstRow + records);
        }

        QStringList keys;   // raw key of each row shown, for the pending colours
        if (records > 0) {
            // The rows once, then the grid column by column: each column's
            // rule and option list are settled before its cells are written.
            QVector<QVariantList> rows;
            rows.reserve(records);
            keys.reserve(records);
            for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
                rows << rs.row();
                keys << plainText(rows.last().value(0));
            }
            const int headField = rs.fieldIndex(QStringLiteral("Head"));
            const bool chooserView = CurTable == QLatin1String("Extension") || CurTable == QLatin1String("Relay");
            for (int c = 0; c < cols && c < grid.Cols(); ++c) {
                const QString name = rs.fieldName(c).toUpper();
                if (name == QLatin1String("PAYFLAG")) break;
                const QString title = grid.TextMatrix(0, c).trimmed();
                if (title == QStringLiteral("市话类别") || title == QStringLiteral("本机类别")) g_ModifyList = LanHeadTypeList;
                else if (title == QStringLiteral("通话限时")) ModSwitch::GetOptionList(QStringLiteral("通话类型"), g_ModifyList);
                else if (title == QStringLiteral("所属用户")) ModSwitch::GetUserList(g_ModifyList);
                else if (title != QStringLiteral("分机号码")) ModSwitch::GetOptionList(title, g_ModifyList);
                const QStringList& list = g_ModifyList;
                const Rule rule = ruleFor(name, title, list);
                const bool currencyField = rule == Rule::Money && rs.fieldType(c) == platform::ftCurrency;
                HeadCache heads;

                for (int k = 0; k < records; ++k) {
                    const qint32 done = c * records + k + 1;
                    if (bProgress && (done % progressStep == 0 || done == cells)) frmProgress::instance().setpValue(done, QString());
                    const QVariant& v = rows[k].at(c);
                    QString text;
                    switch (rule) {
                    case Rule::Head: text = heads.headOf(v); break;
                    case Rule::SpringNum:
                        text = heads.headOf(headField >= 0 ? rows[k].at(headField) : QVariant()) + plainText(v);
                        break;
                    case Rule::GroupList: {
                        QStringList parts;
                        for (const QString& item : plainText(v).split(','))
                            if (!item.trimmed().isEmpty()) parts << optionText(list, item.trimmed());
                        text = parts.join(',');
                        break;
                    }
                    case Rule::Option: text = optionText(list, v); break;
                    case Rule::ExtAddr:
                        text = v.isNull() ? QString() : ModSwitch::ExtNumberOf(static_cast<int>(v.toLongLong()));
                        break;
                    case Rule::AccountNum: {
                        bool ok = false;
                        const qint64 n = plainText(v).toLongLong(&ok);
                        text = ok ? QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0')) : plainText(v);
                        break;
                    }
                    case Rule::Dial: text = ModSwitch::HexToDial(plainText(v)); break;
                    case Rule::Duration: text = v.isNull() ? QString() : SecToHMS(v.toLongLong()); break;
                    case Rule::Money: text = moneyText(currencyField, v); break;
                    case Rule::Date: text = dateCell(v); break;
                    case Rule::Limit: {
                        const qint64 bits = v.toLongLong();
                        QStringList parts;
                        for (int b = 1; b <= 8; ++b)
                            if (GetBits(static_cast<quint8>(bits & 0xFF), b, 1) == 1) parts << optionText(list, b - 1);
                        text = parts.join(',');
                        break;
                    }
                    case Rule::FeeRateType:
                        text = SwitchModel == 2 && !v.isNull() ? optionText(list, v.toLongLong() & 3) : optionText(list, v);
                        break;
                    case Rule::Jump:
                        if (v.isNull() || list.isEmpty()) {
                            text = plainText(v);
                        } else {
                            const qint64 code = v.toLongLong();
                            const qint64 idx = code < 120 ? code : code - 5;
                            text = idx < 0 ? QString::number(code) : list[qMin<qint64>(idx, list.size() - 1)];
                        }
                        break;
                    case Rule::UserName: text = ModSwitch::UserNameOf(list, v.toLongLong()); break;
                    case Rule::Text: text = plainText(v); break;
                    }
                    grid.setTextMatrix(firstRow + k, c, text);
                    if (chooserView) grid.setCellAlignmentAt(firstRow + k, c, 1);
                }
            }
        }

        if (grid.objectName() == QLatin1String("fgDisp") && bAppend == 0) colourPendingRows(grid, rs, keys);
        unloadProgress();
        if (CurTable == QLatin1String("PabxTimes")) {
            grid.setTextMatrix(7, 0, QStringLiteral("周六"));
            grid.setTextMatrix(8, 0, QStringLiteral("周日"));
        }
        grid.setRedraw(true);
    } catch (const std::exception& e) {
        unloadProgress();
        grid.setRows(1);
        grid.setRedraw(true);
        const auto* db = dynamic_cast<const platform::DbError*>(&e);
        StatusText(QStringLiteral("载入出错:") + (db ? db->text() : QString::fromLocal8Bit(e.what())));
    }
}

}  // namespace ModGeneral
