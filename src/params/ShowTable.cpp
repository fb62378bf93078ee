#include "params/ShowTable.h"

#include "core/books/ChargeLog.h"
#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/frmProgress.h"
#include "params/CellEdit.h"
#include "params/DialDigits.h"
#include "params/OptionLists.h"
#include "params/TableViews.h"
#include "params/ViewSupport.h"

#include <QElapsedTimer>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <memory>
#include <utility>

namespace ModGeneral {

namespace {

using params::views::StatusText;

// How often the progress bar of a load is redrawn at most.
constexpr qint64 kProgressIntervalMs = 50;
// How long a fill runs before its progress window comes up.
qint64 g_progressAfterMs = 300;

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

// Dates are stored in the form they are shown in: no conversion needed.
bool shownAsStored(const QString& s) {
    static const QString shape = QStringLiteral("0000-00-00 00:00:00");
    bool same = s.size() == shape.size();
    for (int i = 0; same && i < s.size(); ++i) same = shape[i] == '0' ? s[i].isDigit() : s[i] == shape[i];
    return same;
}

QString dateCell(const QVariant& v) {
    if (v.isNull()) return {};
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString();
        if (shownAsStored(s)) return s;
    }
    const QDateTime t = platform::parseDate(v);
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : v.toString();
}

// The same texts read straight from the stored cells; the kinds a view holds
// by the thousand take a short way, any other goes through its value.
using platform::RawRecords;

QString plainCell(const RawRecords& rs, int r, int c) {
    switch (rs.kind(r, c)) {
    case RawRecords::Null: return {};
    case RawRecords::Integer: return QString::number(rs.integer(r, c));
    case RawRecords::Float: return QString::number(rs.real(r, c), 'g', 15);
    case RawRecords::Text: return rs.text(r, c);
    case RawRecords::Blob: break;
    }
    return plainText(rs.value(r, c));
}

QString optionCell(const QStringList& list, const RawRecords& rs, int r, int c) {
    if (rs.kind(r, c) != RawRecords::Integer) return optionText(list, rs.value(r, c));
    const qint64 code = rs.integer(r, c);
    return code >= 0 && code < list.size() ? list[code] : QString::number(code);
}

QString moneyCell(bool currencyField, const RawRecords& rs, int r, int c) {
    if (rs.kind(r, c) == RawRecords::Null) return {};
    if (currencyField && rs.kind(r, c) == RawRecords::Integer)
        return platform::Currency::fromRaw(rs.integer(r, c)).toString2();
    return moneyText(currencyField, rs.value(r, c));
}

QString dateCell(const RawRecords& rs, int r, int c) {
    if (rs.kind(r, c) != RawRecords::Text) return dateCell(rs.value(r, c));
    QString s = rs.text(r, c);
    return shownAsStored(s) ? s : dateCell(QVariant(std::move(s)));
}

// The same texts written into a cell's string of the row being built, which
// keeps its room from row to row: the cells a view holds by the thousand
// (numbers, sums, stored dates, plain ASCII texts) take no allocation each.
void putLatin1(QString& out, const char* p, qsizetype n) {
    out.resize(n);
    QChar* d = out.data();
    for (qsizetype i = 0; i < n; ++i) d[i] = QLatin1Char(p[i]);
}

// Digits of `v` written backwards ending at `end`; returns where they start.
char* digitsBefore(char* end, quint64 v) {
    do {
        *--end = char('0' + v % 10);
        v /= 10;
    } while (v);
    return end;
}

bool isAscii(QByteArrayView b) {
    for (const char ch : b)
        if (uchar(ch) >= 0x80) return false;
    return true;
}

void putPlainCell(QString& out, const RawRecords& rs, int r, int c) {
    switch (rs.kind(r, c)) {
    case RawRecords::Integer: {
        const qint64 v = rs.integer(r, c);
        char buf[24];
        char* p = digitsBefore(buf + sizeof buf, v < 0 ? 0 - quint64(v) : quint64(v));
        if (v < 0) *--p = '-';
        return putLatin1(out, p, buf + sizeof buf - p);
    }
    case RawRecords::Text: {
        const QByteArrayView b = rs.bytes(r, c);
        if (isAscii(b)) return putLatin1(out, b.data(), b.size());
        break;
    }
    default: break;
    }
    out = plainCell(rs, r, c);
}

// As Currency::toString2 writes it.
void putMoneyCell(QString& out, bool currencyField, const RawRecords& rs, int r, int c) {
    if (!currencyField || rs.kind(r, c) != RawRecords::Integer) {
        out = moneyCell(currencyField, rs, r, c);
        return;
    }
    qint64 fen = platform::Currency::fromRaw(rs.integer(r, c)).toFen();
    const bool neg = fen < 0;
    if (neg) fen = -fen;
    char buf[32];
    char* p = buf + sizeof buf;
    *--p = char('0' + fen % 10);
    *--p = char('0' + fen / 10 % 10);
    *--p = '.';
    p = digitsBefore(p, quint64(fen / 100));
    if (neg) *--p = '-';
    putLatin1(out, p, buf + sizeof buf - p);
}

void putDateCell(QString& out, const RawRecords& rs, int r, int c) {
    if (rs.kind(r, c) == RawRecords::Text) {
        static const char shape[] = "0000-00-00 00:00:00";
        const QByteArrayView b = rs.bytes(r, c);
        bool same = b.size() == 19;
        for (int i = 0; same && i < 19; ++i) same = shape[i] == '0' ? b[i] >= '0' && b[i] <= '9' : b[i] == shape[i];
        if (same) return putLatin1(out, b.data(), b.size());
    }
    out = dateCell(rs, r, c);
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

// Head digits of the extension head types, looked up when a cell first needs
// them and again only when the type changes.
class HeadCache {
public:
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

// Whether field `c` of the view is column `column` of the station's table `table`.
bool readsColumn(const RawRecords& rs, int c, const QString& table, const QString& column) {
    return rs.originSchema(c) == QLatin1String("main") &&
           rs.originTable(c).compare(table, Qt::CaseInsensitive) == 0 &&
           rs.originField(c).compare(column, Qt::CaseInsensitive) == 0;
}

// The view's own fields holding the flags of `table`, when its rows carry them:
// its key field is the table's key column, unique in the table, and the query
// names the table once (so key and flags come from the same row of it): each
// row shown has the flags the table keeps under its key. Empty when not.
QVector<int> ownFlagFields(const QString& sql, const RawRecords& rs, const QString& table, const QString& keyField,
                           const QStringList& flagColumns) {
    if (!readsColumn(rs, 0, table, keyField)) return {};
    const QRegularExpression named(QStringLiteral("\\b%1\\b").arg(QRegularExpression::escape(table)),
                                   QRegularExpression::CaseInsensitiveOption);
    if (sql.count(named) != 1) return {};
    QVector<int> fields;
    for (const QString& flag : flagColumns) {
        int found = -1;
        for (int c = 1; c < rs.fieldCount() && found < 0; ++c)
            if (readsColumn(rs, c, table, flag)) found = c;
        if (found < 0) return {};
        fields << found;
    }
    for (const platform::IndexInfo& ix : dbSwitch.indexes(table))
        if (ix.unique && ix.columns.size() == 1 && ix.columns[0].compare(keyField, Qt::CaseInsensitive) == 0)
            return fields;
    return {};
}

bool flagSet(const RawRecords& rs, int r, int c) {
    return rs.kind(r, c) == RawRecords::Integer ? rs.integer(r, c) != 0 : rs.value(r, c).toLongLong() != 0;
}

// The pending flags of the rows shown, found by the view's key (its first
// field), so that each grid row gets its own row's flags whatever order the
// view's query and the flag query return them in. A view that reads the
// flags of its own table's rows has them at hand and needs no second query.
void markPendingRows(platform::FlexGrid& grid, const QString& viewSql, const RawRecords& rs, bool& wholeRows) {
    const QString p = ParaMode == QLatin1String("UpSend") ? QStringLiteral("p") : QString();
    const QString keyField = params::views::CheckedTable(rs.fieldName(0));
    QString table;
    platform::Params params;
    bool ext = false;
    if (CurTable == QLatin1String("Extension")) {
        table = p + QStringLiteral("Extension");
        ext = true;
    } else if (CurTable == QLatin1String("Router1") || CurTable == QLatin1String("Router2")) {
        table = p + QStringLiteral("AddHead");
        params << CurTable.right(1).toInt();
    } else if (isOneOf(CurTable, {"LanHead", "CityHead", "ExtraHead", "PabxFeeRate", "PabxTimes", "User", "Account",
                                  "Shrink", "ExtDeposit", "Relay"})) {
        table = p + CurTable;
    } else {
        return;
    }
    const int records = rs.recordCount();
    if (records == 0) return;
    // A whole row is coloured as SetRowColor colours it (every cell from the
    // first non-fixed column).
    const QColor pendingColour = platform::vbColor(kPendingRowColor);
    const auto colour = [&](int k, bool set, bool springSet) {
        if (ext) {
            if (set) ModSwitch::SetRowColor3(grid, k + 1, kPendingRowColor, false);
            if (springSet) ModSwitch::SetRowColor3(grid, k + 1, kPendingRowColor, true);
        } else if (set && k + 1 < grid.Rows()) {
            grid.setRowBackColor(k + 1, pendingColour);
            wholeRows = true;
        }
    };

    // A route's flags are those of its own route only: always asked for.
    if (params.isEmpty()) {
        QStringList flagColumns = {QStringLiteral("bSet")};
        if (ext) flagColumns << QStringLiteral("bSetSpringNum");
        QVector<int> own;
        try {
            own = ownFlagFields(viewSql, rs, table, keyField, flagColumns);
        } catch (const platform::DbError&) {
            // Asked for below, as for any other view.
        }
        if (!own.isEmpty()) {
            for (int k = 0; k < records; ++k) colour(k, flagSet(rs, k, own[0]), ext && flagSet(rs, k, own[1]));
            return;
        }
    }

    const QString sql = ext ? QStringLiteral("Select %1,bSet,bSetSpringNum From %2").arg(keyField, table)
                      : params.isEmpty() ? QStringLiteral("Select %1,bSet From %2").arg(keyField, table)
                                         : QStringLiteral("Select %1,bSet From %2 where router=?").arg(keyField, table);
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
    for (int k = 0; k < records; ++k) {
        const auto it = byKey.constFind(plainCell(rs, k, 0));
        if (it != byKey.constEnd()) colour(k, it->first, it->second);
    }
}

void colourPendingRows(platform::FlexGrid& grid, const QString& viewSql, const RawRecords& rs) {
    bool wholeRows = false;
    markPendingRows(grid, viewSql, rs, wholeRows);
    // SetRowColor puts the current column back to the first non-fixed one
    // after each row it colours: put back once, after the last.
    if (wholeRows) grid.setCol(grid.FixedCols());
}

// One column of a view: how its cells are written, and the option list it
// decodes through.
struct Column {
    Rule rule;
    QStringList list;
    bool currencyField;
    HeadCache heads;
    // A user's stored balance: shown less the charges logged that the station
    // file has not applied yet (read once for the load), found by the user
    // number in field `userField`.
    std::shared_ptr<const QHash<qint64, platform::Currency>> waiting = {};
    int userField = -1;
};

// The balance a user view shows for record k: what BalanceOf gives.
bool putBalanceCell(QString& out, const Column& col, const RawRecords& rs, int k, int c) {
    if (!col.waiting || rs.kind(k, c) != RawRecords::Integer || rs.kind(k, col.userField) != RawRecords::Integer)
        return false;
    const auto it = col.waiting->constFind(rs.integer(k, col.userField));
    if (it == col.waiting->constEnd()) return false;
    try {
        out = (platform::Currency::fromRaw(rs.integer(k, c)) - *it).toString2();
        return true;
    } catch (const platform::MoneyOverflow&) {
        return false;   // out of reach: the apply names such entries and takes none
    }
}

// Rules whose text needs the station beside the record (a lookup of another
// table): their cells are written while the load runs.
bool readsStation(Rule rule) { return rule == Rule::Head || rule == Rule::SpringNum || rule == Rule::ExtAddr; }

// The text of field c of record k under its column's rule.
void writeCell(QString& out, Column& col, const RawRecords& rs, int k, int c, int headField, int switchModel) {
    switch (col.rule) {
    case Rule::Head: out = col.heads.headOf(rs.value(k, c)); break;
    case Rule::SpringNum:
        out = col.heads.headOf(headField >= 0 ? rs.value(k, headField) : QVariant()) + plainCell(rs, k, c);
        break;
    case Rule::GroupList: {
        QStringList parts;
        for (const QString& item : plainCell(rs, k, c).split(','))
            if (!item.trimmed().isEmpty()) parts << optionText(col.list, item.trimmed());
        out = parts.join(',');
        break;
    }
    case Rule::Option: out = optionCell(col.list, rs, k, c); break;
    case Rule::ExtAddr: {
        const QVariant v = rs.value(k, c);
        out = v.isNull() ? QString() : ModSwitch::ExtNumberOf(static_cast<int>(v.toLongLong()));
        break;
    }
    case Rule::AccountNum: {
        bool ok = false;
        const QString plain = plainCell(rs, k, c);
        const qint64 number = plain.toLongLong(&ok);
        out = ok ? QStringLiteral("%1").arg(number, 4, 10, QLatin1Char('0')) : plain;
        break;
    }
    case Rule::Dial: out = ModSwitch::HexToDial(plainCell(rs, k, c)); break;
    case Rule::Duration: {
        const QVariant v = rs.value(k, c);
        out = v.isNull() ? QString() : SecToHMS(v.toLongLong());
        break;
    }
    case Rule::Money:
        if (!putBalanceCell(out, col, rs, k, c)) putMoneyCell(out, col.currencyField, rs, k, c);
        break;
    case Rule::Date: putDateCell(out, rs, k, c); break;
    case Rule::Limit: {
        const qint64 bits = rs.value(k, c).toLongLong();
        QStringList parts;
        for (int b = 1; b <= 8; ++b)
            if (GetBits(static_cast<quint8>(bits & 0xFF), b, 1) == 1) parts << optionText(col.list, b - 1);
        out = parts.join(',');
        break;
    }
    case Rule::FeeRateType: {
        const QVariant v = rs.value(k, c);
        out = switchModel == 2 && !v.isNull() ? optionText(col.list, v.toLongLong() & 3) : optionText(col.list, v);
        break;
    }
    case Rule::Jump: {
        const QVariant v = rs.value(k, c);
        if (v.isNull() || col.list.isEmpty()) {
            out = plainText(v);
        } else {
            const qint64 code = v.toLongLong();
            const qint64 idx = code < 120 ? code : code - 5;
            out = idx < 0 ? QString::number(code) : col.list[qMin<qint64>(idx, col.list.size() - 1)];
        }
        break;
    }
    case Rule::UserName: out = ModSwitch::UserNameOf(col.list, rs.value(k, c).toLongLong()); break;
    case Rule::Text: putPlainCell(out, rs, k, c); break;
    }
}

// The records a view read, written into the grid's rows as the rows are
// needed: a view of thousands of rows costs at its load what the read costs.
// Only views whose every cell follows from its record and the option lists
// read at the load take this way, so a row made later shows what a row made
// at once would have shown.
class ViewRows : public platform::GridRowSource {
public:
    ViewRows(std::shared_ptr<const RawRecords> rs, std::vector<Column> columns, int switchModel)
        : rs_(std::move(rs)), columns_(std::move(columns)), switchModel_(switchModel) {}
    void rowTexts(int k, QString* texts, int n) const override {
        n = qMin(n, int(columns_.size()));
        for (int c = 0; c < n; ++c) {
            // Written while the grid paints or is read: a value no rule can
            // write shows as stored rather than ending the paint.
            try {
                writeCell(texts[c], columns_[c], *rs_, k, c, -1, switchModel_);
            } catch (const std::exception&) {
                texts[c] = plainCell(*rs_, k, c);
            }
        }
    }
private:
    std::shared_ptr<const RawRecords> rs_;
    mutable std::vector<Column> columns_;
    int switchModel_;
};

}  // namespace

void ShowTable(platform::FlexGrid& grid, const QString& sql, const QString& header, int bAppend, int nHidden,
               bool bProgress, const platform::Params& params) {
    const auto unloadProgress = [&] {
        if (bProgress && frmProgress::exists()) frmProgress::unload();
    };
    try {
        QElapsedTimer sinceStart;
        sinceStart.start();
        const auto kept = std::make_shared<const RawRecords>(dbSwitch.queryRaw(sql, params));
        const RawRecords& rs = *kept;
        const int records = rs.recordCount();
        const int cols = qMax(0, rs.fieldCount() - nHidden);
        const qint32 cells = cols * records;
        // The progress window is for a fill the operator waits on: it comes
        // up once the fill has run a while, and a load done within a moment
        // (the view's rows written as they are shown) neither shows it nor
        // takes the main window away. Once up, the bar is redrawn a few times
        // a second: each redraw is a paint of the window.
        bool progressShown = false;
        QElapsedTimer sinceProgress;
        const auto progress = [&](qint32 done) {
            if (!bProgress) return;
            if (!progressShown) {
                if (sinceStart.elapsed() < g_progressAfterMs || done == cells) return;
                frmProgress::instance().LoadProgress(QStringLiteral("正在载入数据..."), false, cells, 1, false);
                progressShown = true;
                sinceProgress.start();
            } else if (done != cells && sinceProgress.elapsed() < kProgressIntervalMs) {
                return;
            }
            frmProgress::instance().setpValue(done, QString());
            sinceProgress.restart();
        };

        grid.setRedraw(false);
        const QString format = header.isEmpty() ? grid.FormatString() : header;
        int firstRow = 1;
        if (bAppend == 0) {
            // A view too large to show still gets its own titles over its empty grid.
            const bool tooMany = records + 1 > kMaxGridRecords;
            // Amounts typed under 预付押金 live in the console grid that shows
            // them: a view loaded anew shows what is stored, and no save may
            // add them later.
            if (core::Console* console = core::TheConsole(); console && console->fgDisp == &grid)
                ModSwitch::DropTypedDeposits();
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

        if (records > 0) {
            // Each column's rule and option list are settled first, column
            // after column; then the grid is written row by row, each row's
            // texts in one step, or given the records to write each row from
            // when it is needed.
            // A department is shown as stored, whatever the list of departments
            // holds: that list (a pass over every user) is read only when the
            // load leaves it behind in g_ModifyList, no later column reading a
            // list of its own.
            int lastListed = -1;
            for (int c = 0; c < cols && c < grid.Cols(); ++c) {
                if (rs.fieldName(c).toUpper() == QLatin1String("PAYFLAG")) break;
                if (grid.TextMatrix(0, c).trimmed() != QStringLiteral("分机号码")) lastListed = c;
            }
            std::vector<Column> columns;
            bool lazy = true;
            for (int c = 0; c < cols && c < grid.Cols(); ++c) {
                const QString name = rs.fieldName(c).toUpper();
                if (name == QLatin1String("PAYFLAG")) break;
                const QString title = grid.TextMatrix(0, c).trimmed();
                if (name == QLatin1String("DEPTNAME") && title == QStringLiteral("所属部门") && c < lastListed) {
                    columns.push_back({Rule::Text, {}, false, HeadCache()});
                    continue;
                }
                if (title == QStringLiteral("市话类别") || title == QStringLiteral("本机类别")) g_ModifyList = LanHeadTypeList;
                else if (title == QStringLiteral("通话限时")) ModSwitch::GetOptionList(QStringLiteral("通话类型"), g_ModifyList);
                else if (title == QStringLiteral("所属用户")) ModSwitch::GetUserList(g_ModifyList);
                else if (title != QStringLiteral("分机号码")) ModSwitch::GetOptionList(title, g_ModifyList);
                const Rule rule = ruleFor(name, title, g_ModifyList);
                lazy = lazy && !readsStation(rule);
                columns.push_back({rule, g_ModifyList, rule == Rule::Money && rs.fieldType(c) == platform::ftCurrency, HeadCache()});
            }
            // The users' balances are shown as the journal gives them.
            int userField = -1;
            for (int c = 0; c < rs.fieldCount() && userField < 0; ++c)
                if (readsColumn(rs, c, QStringLiteral("user"), QStringLiteral("userid"))) userField = c;
            for (int c = 0; userField >= 0 && c < int(columns.size()); ++c) {
                if (columns[c].rule != Rule::Money || !readsColumn(rs, c, QStringLiteral("user"), QStringLiteral("remain")))
                    continue;
                const auto waiting = std::make_shared<const QHash<qint64, platform::Currency>>(ModSwitch::UnappliedChargesByUser());
                if (waiting->isEmpty()) break;
                columns[c].waiting = waiting;
                columns[c].userField = userField;
            }
            const int headField = rs.fieldIndex(QStringLiteral("Head"));
            const bool chooserView = CurTable == QLatin1String("Extension") || CurTable == QLatin1String("Relay");
            const int n = int(columns.size());
            if (lazy && n > 0)
                grid.setRowSource(firstRow, records, std::make_shared<ViewRows>(kept, std::move(columns), SwitchModel), n);
            std::vector<QString> texts(lazy ? 0 : n);
            for (int k = 0; !lazy && k < records; ++k) {
                if ((k & 63) == 0) progress(qMin(cells, k * cols));
                for (int c = 0; c < n; ++c) writeCell(texts[c], columns[c], rs, k, c, headField, SwitchModel);
                grid.setRowTexts(firstRow + k, texts.data(), n);
            }
            if (chooserView)
                for (int k = 0; k < records; ++k)
                    for (int c = 0; c < n; ++c) grid.setCellAlignmentAt(firstRow + k, c, 1);
            if (progressShown) progress(cells);
        }

        if (grid.objectName() == QLatin1String("fgDisp") && bAppend == 0) colourPendingRows(grid, sql, rs);
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
        StatusText(QStringLiteral("载入出错:") + platform::OperatorText(e));
    }
}

namespace testing {
qint64 setLoadProgressAfter(qint64 ms) {
    return std::exchange(g_progressAfterMs, ms);
}
}  // namespace testing

}  // namespace ModGeneral
