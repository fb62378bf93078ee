#include "support/RefusalWalk.h"

#include "core/books/ChargeLog.h"
#include "core/ModDefine.h"
#include "core/StationFiles.h"
#include "platform/Files.h"
#include "platform/Prompts.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QMap>
#include <cstdio>

using platform::Currency;

namespace platform {
// Amounts in a failure as the operator reads them.
void PrintTo(const Currency& c, std::ostream* os) { *os << c.toString2().toStdString(); }
}  // namespace platform

namespace testsupport::refusal {

QStringList stationFiles() { return {QStringLiteral("PhoneCur.mdb"), QStringLiteral("switch.mdb")}; }

int walk(const std::function<bool(int)>& act, const std::function<void(int, bool)>& check, const QStringList& files,
         const std::function<void(int)>& prepare) {
    int runs = 0;
    for (const QString& file : files) {
        for (const Op op : {Op::Write, Op::Sync}) {
            for (int n = 1;; ++n) {
                const int i = runs++;
                if (prepare) prepare(i);
                bool said = false, fired = false;
                {
                    const Armed armed(op, file, n);
                    said = act(i);
                    fired = refusal::fired();
                }
                SCOPED_TRACE(QStringLiteral("the %1. %2 of %3 refused").arg(n).arg(QLatin1String(nameOf(op)), file).toStdString());
                check(i, said);
                if (::testing::Test::HasFailure() || !fired) {
                    ::testing::Test::RecordProperty(QStringLiteral("%1_%2").arg(file, QLatin1String(nameOf(op))).toStdString(), n);
                    std::printf("%s %s: n = 1..%d\n", qPrintable(file), nameOf(op), n);
                    break;
                }
                if (n == 200) {
                    ADD_FAILURE() << "the act never passes untouched";
                    break;
                }
            }
        }
    }
    return runs;
}

namespace {
struct Entry {
    int kind;
    qint64 user, amount;
    bool operator==(const Entry&) const = default;
};

// Every entry of the journal by its number, whichever file holds it.
QMap<qint64, Entry> journal() {
    QMap<qint64, Entry> bySeq;
    const auto take = [&](const platform::Database& db, const QString& table) {
        for (platform::RowReader r = db.rows(QStringLiteral("SELECT f_seq, f_kind, f_userid, f_amount FROM %1").arg(table)); r.next();) {
            const Entry e{int(r.integer(1)), r.integer(2), r.integer(3)};
            const auto it = bySeq.constFind(r.integer(0));
            // Two files giving one number two different entries would count twice.
            if (it != bySeq.constEnd()) { EXPECT_TRUE(*it == e) << "entry " << r.integer(0) << " differs in " << table.toStdString(); }
            bySeq.insert(r.integer(0), e);
        }
    };
    take(dbSwitch, QStringLiteral("phonecur.tab_chargelog"));
    if (!dbSwitch.actualTableName(ModSwitch::kLedgerMirror).isEmpty()) take(dbSwitch, QStringLiteral("main.tab_chargemirror"));
    const QString journal =
        platform::resolveCI(QFileInfo(dbPhoneCur.path()).absolutePath(), ModSwitch::kJournalFile);
    if (QFileInfo::exists(journal)) {
        const platform::Database j = platform::Database::openReadOnly(journal);
        if (!j.actualTableName(QStringLiteral("tab_chargelog")).isEmpty()) take(j, QStringLiteral("tab_chargelog"));
    }
    return bySeq;
}
}  // namespace

Currency journalSum(qint64 user, int kind) {
    qint64 sum = 0;
    for (const Entry& e : journal())
        if (e.user == user && e.kind == kind) sum += e.amount;
    return Currency::fromRaw(sum);
}

int journalCount(qint64 user, int kind) {
    int n = 0;
    for (const Entry& e : journal())
        if (e.user == user && e.kind == kind) ++n;
    return n;
}

QStringList boxesSince(int from) {
    QStringList out;
    const auto& shown = platform::script::shown();
    for (int k = from; k < shown.size(); ++k) out << shown[k].text;
    return out;
}

bool anyContains(const QStringList& boxes, const QString& part) {
    for (const QString& b : boxes)
        if (b.contains(part)) return true;
    return false;
}

MaybeBoxes::MaybeBoxes(QList<QPair<QString, int>> answers)
    : answers_(std::move(answers)), from_(int(platform::script::shown().size())) {
    for (const auto& [part, result] : answers_) platform::script::answer(part, result);
}

MaybeBoxes::~MaybeBoxes() {
    // The answers the boxes took, as the script takes them: the first queued that matches.
    QList<QString> left;
    for (const auto& a : answers_) left << a.first;
    for (const QString& box : shown())
        for (int k = 0; k < left.size(); ++k)
            if (left[k].isEmpty() || box.contains(left[k])) {
                left.removeAt(k);
                break;
            }
    // Each one left is taken by a box of its own text.
    for (const QString& part : left)
        platform::MsgBox(part.isEmpty() ? QStringLiteral("(未用的回答)") : part, platform::mbOKOnly, QString());
}

QStringList MaybeBoxes::shown() const { return boxesSince(from_); }

void checkMoney(qint64 user, Currency remain, Currency deposit, Currency charged) {
    EXPECT_EQ(ModSwitch::BalanceOf(user), remain);
    ModSwitch::ApplyLoggedCharges();
    EXPECT_EQ(Currency::fromRaw(dbSwitch.scalar(QStringLiteral("SELECT remain FROM user WHERE userid=?"), {user}).toLongLong()),
              remain);
    EXPECT_EQ(Currency::fromRaw(dbSwitch.scalar(QStringLiteral("SELECT deposit FROM user WHERE userid=?"), {user}).toLongLong()),
              deposit);
    EXPECT_EQ(journalSum(user, int(ModSwitch::LogKind::Charge)), charged);
}

}  // namespace testsupport::refusal
