#include "billing/frmRecord.h"

#include "billing/ArchiveBills.h"
#include "billing/frmQueryBill.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "platform/GridText.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "printing/PrintGrid.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
#include <memory>
#include <numeric>

using platform::Currency;
using platform::Database;
using platform::DbError;
using platform::RawRecords;
using platform::Recordset;

namespace {

std::unique_ptr<frmRecord> g_instance;
std::function<void(int)> g_yieldHook;
qint64 g_yieldEveryMs = 20;

const QString kRecordHeader = QStringLiteral(
    "<主叫名称    |>主叫分机    |帐号|对方号码                |>通话日期               |>通话时长  |>总话费        "
    "|<话单类型   |<地名          |>帐户余额  |>基本费    |>附加费1   |>附加费2   |>手续费  |>IP接入费  |>中继号|>间接局号");
const QString kCollectTail = QStringLiteral(
    "名称|>总话费   |国际长途|国际地区|国内长途|省内长途|移动通讯|网间电话|信息台 |市话    |IP电话  |本局电话|被叫电话"
    "|基本费   |附加费1  |附加费2 |手续费  |IP接入费");
const QString kYearSchema = QStringLiteral("query_year");

// The record columns read, in this order.
const QString kColumns = QStringLiteral(
    "f_calladdr, f_zjaddr, f_date, f_long, f_moneny, f_resp, f_zh, f_indjh, f_phmode, f_addfee1, f_addfee2, "
    "f_gatefee, f_linkfee, f_memo, f_userid, f_yj");
enum { cAddr, cTrunk, cDate, cLong, cBase, cResp, cZh, cIndjh, cMode, cAdd1, cAdd2, cGate, cLink, cMemo, cUser, cYj };

Currency money(const QVariant& v) {
    if (v.isNull()) return {};
    if (v.typeId() == QMetaType::QString) return Currency::parse(v.toString()).value_or(Currency());
    return Currency::fromRaw(v.toLongLong());
}

// The values of a record's cells as a Recordset's values convert them; the
// kinds the records hold take a short way.
qint64 lng(const RawRecords& rs, int r, int c) {
    switch (rs.kind(r, c)) {
    case RawRecords::Integer: return rs.integer(r, c);
    case RawRecords::Null: return 0;
    default: return rs.value(r, c).toLongLong();
    }
}
QString str(const RawRecords& rs, int r, int c) {
    switch (rs.kind(r, c)) {
    case RawRecords::Text: return rs.text(r, c);
    case RawRecords::Integer: return QString::number(rs.integer(r, c));
    case RawRecords::Null: return {};
    default: return rs.value(r, c).toString();
    }
}
Currency money(const RawRecords& rs, int r, int c) {
    switch (rs.kind(r, c)) {
    case RawRecords::Integer: return Currency::fromRaw(rs.integer(r, c));
    case RawRecords::Null: return {};
    default: return money(rs.value(r, c));
    }
}

QString hmsText(qint64 s);

// One grid row's cell texts, written one after another into one reused
// string: the numbers, sums and dates straight from their digits.
struct RowCells {
    static constexpr int kMax = 17;
    QString line;
    quint32 ends[kMax];
    int count = 0;

    RowCells() { line.reserve(256); }
    void clear() {
        line.resize(0);
        count = 0;
    }
    void end() {
        if (count < kMax) ends[count++] = quint32(line.size());
    }
    void text(QStringView t) {
        line.append(t);
        end();
    }
    void latin1(const char* p, qsizetype n) {
        line.append(QLatin1StringView(p, n));
        end();
    }
    // A stored cell as str() reads it.
    void cell(const RawRecords& rs, int r, int c) {
        if (rs.kind(r, c) == RawRecords::Text) {
            const QByteArrayView b = rs.bytes(r, c);
            bool ascii = true;
            for (char ch : b) ascii = ascii && uchar(ch) < 0x80;
            if (ascii) return latin1(b.data(), b.size());
        }
        text(str(rs, r, c));
    }
    void number(qint64 v) {
        char buf[24];
        char* p = buf + sizeof buf;
        const bool neg = v < 0;
        quint64 u = neg ? 0 - quint64(v) : quint64(v);
        do {
            *--p = char('0' + u % 10);
            u /= 10;
        } while (u);
        if (neg) *--p = '-';
        latin1(p, buf + sizeof buf - p);
    }
    // As Currency::toString2 writes it.
    void money(Currency c) {
        qint64 fen = c.toFen();
        const bool neg = fen < 0;
        quint64 u = neg ? 0 - quint64(fen) : quint64(fen);
        char buf[32];
        char* p = buf + sizeof buf;
        *--p = char('0' + u % 10);
        *--p = char('0' + u / 10 % 10);
        *--p = '.';
        u /= 100;
        do {
            *--p = char('0' + u % 10);
            u /= 10;
        } while (u);
        if (neg) *--p = '-';
        latin1(p, buf + sizeof buf - p);
    }
    // Hours, minutes and seconds, each at least two digits, as hmsText() writes them.
    void hms(qint64 s) {
        if (s < 0 || s >= 100LL * 3600) return text(hmsText(s));
        char buf[8] = {char('0' + s / 36000), char('0' + s / 3600 % 10), ':', char('0' + s % 3600 / 600),
                       char('0' + s % 3600 / 60 % 10), ':', char('0' + s % 60 / 10), char('0' + s % 10)};
        latin1(buf, 8);
    }
};

// The call types' names, made once for a read.
class CallTypeNames {
public:
    CallTypeNames() {
        for (int m = 0; m <= 10; ++m) names_[m] = billing::CallTypeName(m);
    }
    const QString& name(int mode) const { return mode >= 0 && mode <= 10 ? names_[mode] : none_; }
private:
    QString names_[11];
    QString none_;
};

// A call's date as shown: the stored text when it is a sound date and time
// of a day without a change of the clock (where reading it as local time and
// writing it back gives it unchanged), otherwise read and written.
class CallDates {
public:
    QString text(const RawRecords& rs, int r, int c) {
        if (rs.kind(r, c) == RawRecords::Text) {
            const QByteArrayView b = rs.bytes(r, c);
            int f[6];
            if (b.size() == 19 && fields(b, f) && f[0] >= 1900 && f[0] <= 2999 && QDate::isValid(f[0], f[1], f[2]) &&
                f[3] < 24 && f[4] < 60 && f[5] < 60 && steadyDay(QDate(f[0], f[1], f[2])))
                return QString::fromLatin1(b.data(), b.size());
        }
        return platform::dateText(platform::parseDate(rs.value(r, c)));
    }
    // The same into a row, the stored text without a copy of its own.
    void append(RowCells& row, const RawRecords& rs, int r, int c) {
        if (rs.kind(r, c) == RawRecords::Text) {
            const QByteArrayView b = rs.bytes(r, c);
            int f[6];
            if (b.size() == 19 && fields(b, f) && f[0] >= 1900 && f[0] <= 2999 && QDate::isValid(f[0], f[1], f[2]) &&
                f[3] < 24 && f[4] < 60 && f[5] < 60 && steadyDay(QDate(f[0], f[1], f[2])))
                return row.latin1(b.data(), b.size());
        }
        row.text(text(rs, r, c));
    }

private:
    // "yyyy-MM-dd HH:mm:ss" into its six numbers.
    static bool fields(QByteArrayView b, int* f) {
        static const char shape[] = "0000-00-00 00:00:00";
        int n = 0, k = 0;
        for (int i = 0; i < 19; ++i) {
            const char ch = b[i];
            if (shape[i] == '0') {
                if (ch < '0' || ch > '9') return false;
                n = n * 10 + (ch - '0');
            } else {
                if (ch != shape[i]) return false;
                f[k++] = n;
                n = 0;
            }
        }
        f[k] = n;
        return true;
    }
    // Whether local time runs evenly through the day: no step in or out of summer time.
    bool steadyDay(QDate d) {
        const qint64 j = d.toJulianDay();
        if (j == lastDay_) return lastSteady_;
        auto it = days_.constFind(j);
        if (it == days_.cend()) {
            const QDateTime a(d, QTime(0, 0, 0)), b(d, QTime(23, 59, 59));
            it = days_.insert(j, a.isValid() && b.isValid() && a.offsetFromUtc() == b.offsetFromUtc() &&
                                     a.secsTo(b) == 86399);
        }
        lastDay_ = j;
        lastSteady_ = *it;
        return lastSteady_;
    }
    QHash<qint64, bool> days_;
    qint64 lastDay_ = std::numeric_limits<qint64>::min();
    bool lastSteady_ = false;
};

// The number a cell text stands for, for numeric sorts (not a number: 0).
qint64 numericKey(const QString& text) {
    const auto c = Currency::parse(text.trimmed());
    return c ? c->raw() : 0;
}

// Hours, minutes and seconds, each at least two digits.
QString hmsText(qint64 s) {
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg((s % 3600) / 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

// The month a "Tab_Ph<n>" table holds, 0 when the name says none.
int monthOf(const QString& table) {
    bool ok = false;
    const int m = table.mid(6).toInt(&ok);
    return ok && m >= 1 && m <= 12 ? m : 0;
}

}  // namespace

namespace billing::testing {
void setQueryYieldHook(std::function<void(int)> hook) {
    g_yieldHook = std::move(hook);
    g_yieldEveryMs = g_yieldHook ? 0 : 20;
}
}  // namespace billing::testing

frmRecord& frmRecord::instance() {
    if (!g_instance) g_instance.reset(new frmRecord);
    return *g_instance;
}
bool frmRecord::exists() { return static_cast<bool>(g_instance); }
void frmRecord::unload() {
    if (!g_instance) return;
    if (g_instance->m_Running) {
        // The walk is on the stack: it ends at its next check and closes the window.
        g_instance->m_StopRequested = true;
        g_instance->cmdClose->setText(QStringLiteral("关闭"));
        return;
    }
    g_instance.reset();
    if (frmQueryBill::exists()) frmQueryBill::instance().setEnabled(true);
}

frmRecord::frmRecord(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmRecord"));
    setWindowTitle(QStringLiteral("话单记录"));
    fgRecord = new platform::FlexGrid(this);
    fgCollect = new platform::FlexGrid(this);
    lblInfo = new QLabel(this);
    auto* FraCmd = new QHBoxLayout;
    cmdClose = new QPushButton(QStringLiteral("关闭"), this);
    for (const QString& c : {QStringLiteral("打印话单"), QStringLiteral("打印汇总")}) {
        auto* b = new QPushButton(c, this);
        b->setEnabled(false);
        FraCmd->addWidget(b);
        cmdPrint << b;
    }
    FraCmd->addStretch();
    FraCmd->addWidget(cmdClose);
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(fgRecord, 3);
    lay->addWidget(lblInfo);
    lay->addWidget(fgCollect, 1);
    lay->addLayout(FraCmd);
    setMinimumSize(platform::px(9100), platform::px(6500));
    resize(900, 600);

    connect(cmdClose, &QPushButton::clicked, this, [this] { cmdClose_Click(); });
    connect(cmdPrint[0], &QPushButton::clicked, this, [this] { cmdPrint_Click(0); });
    connect(cmdPrint[1], &QPushButton::clicked, this, [this] { cmdPrint_Click(1); });
    connect(fgRecord, &platform::FlexGrid::cellClickedVb, this, [this] {
        if (fgRecord->MouseRow() == 0) fgRecord_Click(fgRecord->MouseCol());
    });
    connect(fgCollect, &platform::FlexGrid::cellClickedVb, this, [this] {
        if (fgCollect->MouseRow() == 0) fgCollect_Click(fgCollect->MouseCol());
    });
}

frmRecord::~frmRecord() = default;

int frmRecord::RecordRows() const {
    const int n = fgRecord->Rows() - fgRecord->FixedRows();
    return m_EmptyRow ? n - 1 : n;
}

int frmRecord::ShowBill(const billing::BillCondition& cond, int sortColumn, const QString& kindCaption,
                        const QList<billing::QueryObject>& objects) {
    if (m_Running) return 0;
    m_Cond = cond;
    m_Sort = sortColumn;
    m_Caption = kindCaption;
    m_Full = false;
    m_StopRequested = false;
    m_Closing = false;
    m_FilesRead.clear();

    fgRecord->setRedraw(false);
    fgRecord->Clear();
    fgRecord->setRows(2);
    fgRecord->setFixedRows(1);
    fgRecord->setFormatString(kRecordHeader);
    m_EmptyRow = true;
    fgCollect->Clear();
    fgCollect->setRows(2);
    fgCollect->setFixedRows(1);
    fgCollect->setFormatString(QStringLiteral("<查询") + kindCaption + kCollectTail);
    QStringList zeros;
    for (int c = 1; c < 18; ++c) zeros << QStringLiteral("0.00");
    for (const billing::QueryObject& o : objects)
        fgCollect->AddItem(platform::GridCell(o.text) + '\t' + zeros.join('\t'));
    if (fgCollect->Rows() > 2) fgCollect->RemoveItem(1);

    m_Users.clear();
    m_Extensions.clear();
    try {
        Recordset u = dbSwitch.query(QStringLiteral("SELECT userid, username FROM user"));
        for (u.moveFirst(); !u.eof(); u.moveNext()) m_Users.insert(u.value(0).toLongLong(), u.value(1).toString());
        Recordset x = dbSwitch.query(QStringLiteral("SELECT address, txhm FROM que_txhm"));
        for (x.moveFirst(); !x.eof(); x.moveNext()) {
            const qint64 a = x.value(0).toLongLong();
            if (!m_Extensions.contains(a)) m_Extensions.insert(a, x.value(1).toString());
        }
        BuildObjectFilter(objects);
    } catch (const DbError& e) {
        m_Sums.clear();
        m_KeyRows.clear();
        m_DeletedRows.clear();
        platform::MsgBox(QStringLiteral("查询错误:") + platform::OperatorText(e), platform::mbOKOnly, ModDefine::AppName);
    }

    show();
    raise();
    ModGeneral::Delay(1);
    QueryBills();
    return 0;
}

void frmRecord::BuildObjectFilter(const QList<billing::QueryObject>& objects) {
    m_Sums = QVector<SummaryRow>(objects.size());
    m_KeyRows.clear();
    m_DeletedRows.clear();
    const int kind = m_Cond.objectKind;
    auto addKey = [this](int r, const QString& key) {
        if (m_Sums[r].keys.contains(key)) return;
        m_Sums[r].keys.insert(key);
        m_KeyRows[key] << r;
    };
    // Each row stands for what its item's key says, whatever the item's text:
    // two users of one name are two rows, a user named like a group is a user.
    for (int r = 0; r < objects.size(); ++r) {
        const QString& key = objects[r].key;
        if (key == QLatin1String("Delete")) {
            m_Sums[r].deleted = true;
            m_DeletedRows << r;
            break;
        }
        QString sql;
        platform::Params p;
        if (key == QLatin1String("Deposit") || key == QLatin1String("Monthly") || key == QLatin1String("Free")) {
            sql = QStringLiteral("SELECT userid FROM user WHERE balancemode=?");
            p << (key == QLatin1String("Deposit") ? 0 : key == QLatin1String("Monthly") ? 1 : 2);
        } else if (key == QLatin1String("ALL")) {
            switch (kind) {
            case billing::kObjAccounts: sql = QStringLiteral("SELECT account FROM account WHERE userid<>0"); break;
            case billing::kObjExtensions: sql = QStringLiteral("SELECT address FROM que_txhm"); break;
            default: sql = QStringLiteral("SELECT userid FROM user"); break;
            }
        } else if (key.startsWith(QLatin1Char('K'))) {
            const QString id = key.mid(1);
            switch (kind) {
            case billing::kObjDepartments:
                sql = QStringLiteral("SELECT userid FROM user WHERE deptname=?");
                p << id;
                break;
            // An account's calls carry its number, the item's text.
            case billing::kObjAccounts: addKey(r, objects[r].text); break;
            default: addKey(r, QString::number(id.toLongLong())); break;
            }
        }
        if (sql.isEmpty()) continue;
        Recordset rs = dbSwitch.query(sql, p);
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
            const QVariant v = rs.value(0);
            addKey(r, kind == billing::kObjAccounts ? v.toString() : QString::number(v.toLongLong()));
        }
    }
}

void frmRecord::QueryBills() {
    m_Running = true;
    cmdClose->setText(QStringLiteral("停止"));
    for (QPushButton* b : cmdPrint) b->setEnabled(false);
    lblInfo->setText(QStringLiteral("正在查询...,按<停止>按钮终止查询"));
    fgCollect->setEnabled(false);
    // No archive run moves a record between the files while the walk reads them.
    billing::ArchiveHold hold;
    m_Params.clear();
    m_Where = m_Cond.where(m_Params, dbSwitch.qualified(QStringLiteral("user")));
    const QDate first(m_Cond.start.date().year(), m_Cond.start.date().month(), 1);
    const QDate last(m_Cond.end.date().year(), m_Cond.end.date().month(), 1);
    try {
        bool go = true;
        if (dbPhoneCur.isOpen()) {
            m_FilesRead << QFileInfo(dbPhoneCur.path()).fileName();
            for (const QString& t : dbPhoneCur.tableNames())
                if (go && t.startsWith(QLatin1String("Tab_Ph"), Qt::CaseInsensitive)) go = readTable(dbPhoneCur, t);
        }
        for (int y = m_Cond.end.date().year(); go && y >= m_Cond.start.date().year(); --y) {
            const QString path = billing::ArchivePath(y);
            if (!QFileInfo::exists(path)) continue;
            Database year;
            try {
                year = billing::AttachArchive(y, kYearSchema);
            } catch (const DbError&) {
                platform::MsgBox(QFileInfo(path).fileName() + QStringLiteral("无法打开"), platform::mbOKOnly,
                                 ModDefine::AppName);
                continue;
            }
            if (!year.isOpen()) continue;
            m_FilesRead << QFileInfo(path).fileName();
            try {
                for (const QString& t : year.tableNames()) {
                    if (!go || !t.startsWith(QLatin1String("Tab_Ph"), Qt::CaseInsensitive)) continue;
                    // A month outside the period holds nothing the condition selects.
                    const int m = monthOf(t);
                    if (m == 0 || QDate(y, m, 1) < first || QDate(y, m, 1) > last) continue;
                    go = readTable(year, t);
                }
            } catch (...) {
                year.close();
                throw;
            }
            year.close();
        }
    } catch (const DbError& e) {
        fgRecord->setRedraw(true);
        platform::MsgBox(QStringLiteral("查询错误:") + platform::OperatorText(e), platform::mbOKOnly, ModDefine::AppName);
    }
    ended();
}

bool frmRecord::readTable(const Database& db, const QString& table) {
    if (RecordRows() >= kMaxRows) {
        m_Full = true;
        return false;
    }
    platform::Params p = m_Params;
    p << kMaxRows - RecordRows();
    const RawRecords rs =
        db.queryRaw(QStringLiteral("SELECT %1 FROM %2 WHERE %3 LIMIT ?").arg(kColumns, db.qualified(table), m_Where), p);
    cmdClose->setEnabled(cmdClose->text() == QStringLiteral("停止"));
    const int kind = m_Cond.objectKind;
    int n = 0;
    QElapsedTimer sinceYield;
    sinceYield.start();
    fgRecord->setRedraw(false);
    auto stopped = [this] { return cmdClose->text() == QStringLiteral("关闭") || m_StopRequested; };
    CallDates dates;
    // The summary rows of each user or extension, looked up once.
    QHash<qint64, QVector<int>> rowsOfNumber;
    const QString deletedUser = QStringLiteral("已删除用户");
    const CallTypeNames typeNames;
    RowCells row;
    const int records = rs.recordCount();
    for (int k = 0; k < records; ++k) {
        const qint64 uid = lng(rs, k, cUser);
        const qint64 addr = lng(rs, k, cAddr);
        const int mode = rs.kind(k, cMode) == RawRecords::Integer ? int(rs.integer(k, cMode)) : rs.value(k, cMode).toInt();
        const Currency fees[5] = {money(rs, k, cBase), money(rs, k, cAdd1), money(rs, k, cAdd2), money(rs, k, cGate),
                                  money(rs, k, cLink)};
        const Currency total = fees[0] + fees[1] + fees[2] + fees[3] + fees[4];
        const auto user = m_Users.constFind(uid);
        const QString zh = str(rs, k, cZh);
        row.clear();
        row.text(user != m_Users.cend() ? *user : deletedUser);
        row.text(m_Extensions.value(addr));
        row.text(zh);
        row.cell(rs, k, cResp);
        dates.append(row, rs, k, cDate);
        row.hms(lng(rs, k, cLong));
        row.money(total);
        row.text(typeNames.name(mode));
        row.cell(rs, k, cMemo);
        row.money(money(rs, k, cYj));
        for (const Currency& fee : fees) row.money(fee);
        row.number(lng(rs, k, cTrunk));
        row.cell(rs, k, cIndjh);
        fgRecord->AddRowCells(row.line, row.ends, row.count);
        ++n;
        // The sums take exactly the rows shown.
        const QVector<int>* sumRows = nullptr;
        if (kind == billing::kObjAccounts) {
            static const QVector<int> none;
            const auto it = m_KeyRows.constFind(zh);
            sumRows = it == m_KeyRows.cend() ? &none : &*it;
        } else {
            const qint64 number = kind == billing::kObjExtensions ? addr : uid;
            auto it = rowsOfNumber.constFind(number);
            if (it == rowsOfNumber.cend()) it = rowsOfNumber.insert(number, m_KeyRows.value(QString::number(number)));
            sumRows = &*it;
        }
        auto add = [&](int r) {
            SummaryRow& s = m_Sums[r];
            s.total += total;
            if (mode >= 0 && mode <= 10) s.types[mode] += total;
            for (int f = 0; f < 5; ++f) s.fees[f] += fees[f];
        };
        for (int r : *sumRows) add(r);
        if (!m_DeletedRows.isEmpty() && user == m_Users.cend())
            for (int r : m_DeletedRows) add(r);
        if (m_EmptyRow) {
            fgRecord->RemoveItem(1);
            m_EmptyRow = false;
        }
        if (RecordRows() >= kMaxRows) {
            m_Full = true;
            break;
        }
        if (stopped()) break;
        if (fgRecord->Rows() % 100 == 1 && sinceYield.elapsed() >= g_yieldEveryMs) {
            fgRecord->setRedraw(true);
            lblInfo->setText(QStringLiteral("正在查询话单,现已查询到 %1条记录,按<停止>按钮终止查询").arg(RecordRows()));
            if (g_yieldHook) g_yieldHook(RecordRows());
            platform::YieldEvents();
            fgRecord->setRedraw(false);
            sinceYield.restart();
            if (stopped()) break;
        }
    }
    fgRecord->setRedraw(true);
    if (n > 0) {
        cmdClose->setEnabled(false);
        lblInfo->setText(QStringLiteral("正在进行信息汇总... "));
        writeSums();
    }
    if (stopped() || m_Full) return false;
    return true;
}

void frmRecord::writeSums() {
    for (int r = 0; r < m_Sums.size() && r + 1 < fgCollect->Rows(); ++r) {
        const SummaryRow& s = m_Sums[r];
        fgCollect->setTextMatrix(r + 1, 1, s.total.toString2());
        for (int t = 0; t < 11; ++t) fgCollect->setTextMatrix(r + 1, t + 2, s.types[t].toString2());
        for (int f = 0; f < 5; ++f) fgCollect->setTextMatrix(r + 1, f + 13, s.fees[f].toString2());
    }
}

void frmRecord::ended() {
    fgCollect->setEnabled(true);
    cmdClose->setText(QStringLiteral("关闭"));
    cmdClose->setEnabled(true);
    for (QPushButton* b : cmdPrint) b->setEnabled(true);
    lblInfo->setText(QStringLiteral("查询完毕,共查询到 %1 条记录").arg(RecordRows()));
    fgRecord->setRedraw(true);
    const int col = m_Sort >= 0 && m_Sort < fgRecord->Cols() ? m_Sort : 0;
    sortGrid(*fgRecord, col, col == 1 || col == 6, true);
    m_Running = false;
    if (m_StopRequested) {
        cmdClose_Click();
    } else if (m_Full) {
        platform::MsgBox(QStringLiteral("查询记录已到最大值"), platform::mbOKOnly, ModDefine::AppName);
    }
}

void frmRecord::sortGrid(platform::FlexGrid& grid, int col, bool numeric, bool ascending) {
    const int first = m_EmptyRow && &grid == fgRecord ? 2 : grid.FixedRows();
    const int rows = grid.Rows();
    const int cols = grid.Cols();
    if (rows - first < 2 || col < 0 || col >= cols) return;
    // The order is found on the sort column alone; the rows' texts then move
    // in one step (their colours stay where they are).
    QVector<int> order(rows - first);
    std::iota(order.begin(), order.end(), 0);
    if (numeric) {
        QVector<qint64> keys(order.size());
        for (int i = 0; i < order.size(); ++i) keys[i] = numericKey(grid.cellView(first + i, col).toString());
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return ascending ? keys[a] < keys[b] : keys[b] < keys[a];
        });
    } else {
        // Each row's key found once, not at every comparison.
        std::vector<QStringView> keys(order.size());
        for (int i = 0; i < order.size(); ++i) keys[i] = grid.cellView(first + i, col);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const int c = keys[a].compare(keys[b], Qt::CaseSensitive);
            return ascending ? c < 0 : c > 0;
        });
    }
    const bool redraw = grid.Redraw();
    grid.setRedraw(false);
    grid.reorderRowTexts(first, order);
    grid.setRedraw(redraw);
}

void frmRecord::cmdClose_Click() {
    if (cmdClose->text() == QStringLiteral("停止")) {
        cmdClose->setText(QStringLiteral("关闭"));
        cmdClose->setEnabled(false);
        return;
    }
    if (m_Running) return;
    m_Closing = true;
    hide();
    m_Closing = false;
    if (frmQueryBill::exists()) frmQueryBill::instance().setEnabled(true);
}

void frmRecord::cmdPrint_Click(int index) {
    if (index == 0) {
        // One cell chosen (a click) is no choice of calls; a range, however
        // it was made, is printed.
        if (fgRecord->Row() == fgRecord->RowSel() && fgRecord->Col() == fgRecord->ColSel()) {
            platform::MsgBox(QStringLiteral("请选择要打印的话单"), platform::mbOKOnly, ModDefine::AppName);
            return;
        }
        printing::PrintGrid(*fgRecord, QStringLiteral("打印查询话单"), false);
    } else {
        printing::PrintGrid(*fgCollect, QStringLiteral("打印查询话单汇总"), true);
    }
}

void frmRecord::fgCollect_Click(int col) {
    if (m_Running || col < 0) return;
    m_CollectDir = 1 - m_CollectDir;
    fgCollect->setCol(col);
    sortGrid(*fgCollect, col, true, m_CollectDir == 1);
}

void frmRecord::fgRecord_Click(int col) {
    if (m_Running || col < 0) return;
    m_RecordDir = 1 - m_RecordDir;
    fgRecord->setCol(col);
    const bool numeric = col == 6 || (col >= 9 && col <= 15);
    sortGrid(*fgRecord, col, numeric, m_RecordDir == 1);
}

void frmRecord::closeEvent(QCloseEvent* e) {
    if (!m_Closing) {
        // From the title bar: a running query stops and the window closes when it has.
        m_StopRequested = true;
        cmdClose->setText(QStringLiteral("关闭"));
        if (m_Running) {
            e->ignore();
            return;
        }
    }
    e->accept();
    if (frmQueryBill::exists()) frmQueryBill::instance().setEnabled(true);
}
