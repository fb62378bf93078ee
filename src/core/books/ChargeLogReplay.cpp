// The replay of the journal's entries into a station file put back from a
// copy or behind the log, the lines that tell a recovery and the entries a
// put-back makes itself.
#include "core/books/ChargeLog.h"
#include "core/books/ChargeLogInternal.h"

#include "core/books/CopyRecovery.h"
#include "core/books/CopyRecoveryInternal.h"
#include "platform/Files.h"
#include "core/Deposit.h"
#include "core/ModDefine.h"
#include "core/StationFiles.h"
#include "core/books/UserNumbers.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

namespace ModSwitch {

using platform::DbError;
using namespace chargelog;   // and with it platform's Currency and Database

qint64 MarkOfCopy(const Database& sw, const QList<LogEntry>& log) {
    const qint64 own = AppliedMark(sw);
    if (own >= 0) return own;
    const qint64 generation = CopyGenerationOf(sw);
    qint64 mark = 0;
    for (const LogEntry& e : log)
        if (e.gen < generation) mark = qMax(mark, e.seq);
    return mark;
}

QMap<qint64, qint64> HeldByUnmarkedCopy(const Database& sw, const QList<LogEntry>& log, qint64 fileMark) {
    QMap<qint64, qint64> held;
    if (AppliedMark(sw) >= 0) return held;
    QMap<qint64, Currency> remain;
    const QString users = sw.qualified(sw.actualTableName(QStringLiteral("user")));
    for (platform::RowReader r = sw.rows(QStringLiteral("SELECT userid, remain FROM %1").arg(users)); r.next();)
        remain.insert(r.integer(0), Currency::fromRaw(r.integer(1)));
    QSet<qint64> decided;
    QMap<qint64, qint64> previous;   // the user's entry before the one read
    for (const LogEntry& e : log) {
        if (e.seq <= fileMark || decided.contains(e.userid) || !remain.contains(e.userid)) continue;
        const bool charge = e.kind == int(LogKind::Charge);
        if (!charge && e.kind != int(LogKind::Balance)) continue;
        const Currency before = charge ? e.balance + e.amount : e.balance - e.amount;
        // The copy stands where its balance equals the one the entries give:
        // before an entry, it holds the user's entries before that one (a
        // release that logged no payments left their balance matching none).
        if (remain[e.userid] == before) {
            if (previous.contains(e.userid)) held.insert(e.userid, previous[e.userid]);
            decided.insert(e.userid);
        } else if (remain[e.userid] == e.balance) {
            held.insert(e.userid, e.seq);
            decided.insert(e.userid);
        }
        previous.insert(e.userid, e.seq);
    }
    return held;
}

namespace {
// The owners the entries past a file's mark gave, in the order the replay
// reads them: each place's last owner is given back once the users are (a
// user added since is back by then, one deleted since has given their places
// back to the default user). A place whose owner the file lacks (a user not
// put back, or another person under that number) is named with its owners
// before and after.
class OwnerTrail {
public:
    // True when `e` is about owners: kept for the replay. `apart`: its user's
    // number belongs, in the file, to another person.
    bool take(const LogEntry& e, bool apart) {
        if (e.kind == int(LogKind::UserAdded))
            added_.insert(e.userid, QJsonDocument::fromJson(e.row.toUtf8()).object().value(QStringLiteral("username")).toString());
        if (e.kind == int(LogKind::UserDeleted)) {
            // Their places went back to the default user with them.
            for (auto it = last_.begin(); it != last_.end(); ++it)
                if (it->userid == e.userid) *it = Given{0, false};
            return false;
        }
        if (e.kind != int(LogKind::Owner)) return false;
        last_.insert(e.calladdr, Given{e.userid, apart});
        return true;
    }
    void replay(const Database& sw, LogRecovery& out) const {
        if (last_.isEmpty()) return;
        out.ownersLogged = true;
        const QString users = sw.qualified(sw.actualTableName(QStringLiteral("user")));
        const auto nameOf = [&](qint64 user) {
            return sw.scalar(QStringLiteral("SELECT username FROM %1 WHERE userid=?").arg(users), {user});
        };
        for (auto it = last_.constBegin(); it != last_.constEnd(); ++it) {
            const bool account = it.key() < 0;
            const qint64 address = account ? -1 - it.key() : it.key();
            const QString t = sw.actualTableName(account ? QStringLiteral("Account") : QStringLiteral("Extension"));
            if (t.isEmpty()) continue;
            const QString table = sw.qualified(t);
            bool present = false;
            qint64 before = -1;
            QString place = account ? QStringLiteral("帐号（位置%1）").arg(address) : QStringLiteral("分机%1").arg(address);
            {
                platform::RowReader r = sw.rows(QStringLiteral("SELECT %2 FROM %1 WHERE address=?")
                                                    .arg(table, account ? QStringLiteral("userid, account") : QStringLiteral("userid")),
                                                {address});
                present = r.next();
                if (present) before = r.integer(0);
                if (present && account) place = QStringLiteral("帐号%1").arg(r.text(1));
            }
            const qint64 owner = it->userid;
            const bool known = owner == 0 || (!it->apart && !nameOf(owner).isNull());
            if (present && known) {
                if (before == owner) continue;
                sw.execute(QStringLiteral("UPDATE %1 SET userid=?, depositgrade=?, bSet=1 WHERE address=?").arg(table),
                           {owner, ModGeneral::GetDepositGrade(sw, owner), address});
                continue;
            }
            const auto who = [&](qint64 user) {
                const QVariant name = nameOf(user);
                QString w = QStringLiteral("用户%1").arg(user);
                if (!name.isNull()) w += QLatin1Char(' ') + name.toString();
                return w;
            };
            QString after = QStringLiteral("用户%1").arg(owner);
            if (!added_.value(owner).isEmpty()) after += QLatin1Char(' ') + added_.value(owner);
            out.ownersUnset << (present ? QStringLiteral("%1：备份中属%2，备份之后改属%3（%4）")
                                              .arg(place, who(before), after,
                                                   it->apart ? QStringLiteral("其编号在备份中属于另一用户")
                                                             : QStringLiteral("恢复后没有此用户"))
                                        : QStringLiteral("%1：备份中没有，备份之后属%2").arg(place, after));
        }
    }

private:
    struct Given {
        qint64 userid = 0;
        bool apart = false;
    };
    QMap<qint64, Given> last_;
    QHash<qint64, QString> added_;
};

// What the replay gathers for one user: the balance and deposit movements to
// add to their row, and what the entries say it held between them.
struct Trail {
    Currency charged, remain, deposit, expected, unexplained, last;
    QMap<qint64, Currency> unexplainedAt;   // `unexplained` by the entry it lay before, less what was asked for
    // The same for the deposit: a deposit entry tells the deposit after it.
    Currency depositExpected, depositUnexplained;
    QMap<qint64, Currency> depositUnexplainedAt;
    bool depositStarted = false;
    int proven = 0;                         // entries before which something moved with no entry of its own
    qint64 lastSeq = 0;                     // the user's last entry read
    bool askedGone = false;                 // a user the file lacks, whose balance was asked for at `lastSeq`
    int charges = 0, moves = 0;
    bool started = false;
    bool gone = false;
    bool added = false;   // added since the copy, with the balance it started with in `last`
    bool putBack = false; // added with their row by this recovery
};

// A user added past the mark under a number the file gives to another user,
// kept apart from that user's row with what the journal says they hold.
struct Apart {
    qint64 userid = 0;
    QString name;
    Currency last, deposit, charged;
    int charges = 0;
    bool gone = false;
};

QVariant nameIn(const Database& sw, const QString& users, qint64 user) {
    return sw.scalar(QStringLiteral("SELECT username FROM %1 WHERE userid=?").arg(users), {user});
}

// An entry of a number given twice: one adding the user now under it starts
// one kept apart (`apart`, by the entry), and the entries that follow are
// theirs until they are deleted. False when the entry is the file's user's.
bool keptApart(const LogEntry& e, QMap<qint64, Apart>& apart, QMap<qint64, qint64>& newcomer) {
    if (e.kind == int(LogKind::UserAdded)) {
        Apart a;
        a.userid = e.userid;
        a.name = QJsonDocument::fromJson(e.row.toUtf8()).object().value(QStringLiteral("username")).toString();
        a.last = e.balance;
        apart.insert(e.seq, a);
        newcomer.insert(e.userid, e.seq);
        return true;
    }
    if (!newcomer.contains(e.userid)) return false;
    Apart& a = apart[newcomer.value(e.userid)];
    if (e.kind == int(LogKind::UserDeleted)) {
        a.gone = true;
        newcomer.remove(e.userid);
    } else if (e.kind == int(LogKind::Deposit)) {
        a.deposit += e.amount;
    } else if (e.kind == int(LogKind::Charge)) {
        a.charged += e.amount;
        ++a.charges;
        a.last = e.balance;
    } else if (e.kind == int(LogKind::Balance)) {
        a.last = e.balance;
    }
    return true;
}

// A user deleted since the copy is deleted again, as the operator did.
void deleteAgain(const Database& sw, const QString& users, const LogEntry& e, Trail& t, LogRecovery& out) {
    const QVariant name = nameIn(sw, users, e.userid);
    if (!name.isNull() && e.userid != 0) {
        DeleteUserRows(sw, e.userid);
        const QString who = QStringLiteral("用户%1 %2").arg(e.userid).arg(name.toString());
        // One added and deleted since the copy is as the copy had it: nothing to tell.
        if (t.putBack) out.added.removeAll(who);
        else out.deleted << who;
    }
    t = Trail();
    t.gone = true;
}

// A user added since the copy, which lacks them, is put back with their row as it was added.
void addAgain(const Database& sw, const QString& users, const LogEntry& e, Trail& t, LogRecovery& out) {
    t = Trail();
    t.added = true;
    t.last = e.balance;
    t.started = true;
    t.expected = e.balance;
    if (!e.row.isEmpty() && nameIn(sw, users, e.userid).isNull() && putUserRow(sw, e.row, e.userid, e.balance)) {
        t.putBack = true;
        // Their row comes back without a deposit: their deposit entries give it.
        t.depositStarted = true;
        out.added << QStringLiteral("用户%1 %2").arg(e.userid).arg(nameIn(sw, users, e.userid).toString());
    }
}

// A balance or deposit set outright by a put-back: the row ends at the value
// set, from what it holds with the entries before applied.
void followSetOutright(const Database& sw, const QString& users, const LogEntry& e, Trail& t) {
    const bool balance = e.kind == int(LogKind::BalanceSet);
    const Currency held = Currency::fromRaw(
        sw.scalar(QStringLiteral("SELECT %2 FROM %1 WHERE userid=?")
                      .arg(users, balance ? QStringLiteral("remain") : QStringLiteral("deposit")),
                  {e.userid})
            .toLongLong());
    if (balance) {
        t.remain += e.balance - (held + t.remain);
        t.started = true;
        t.expected = e.balance;
        t.last = e.balance;
    } else {
        t.deposit += e.balance - (held + t.deposit);
        t.depositStarted = true;
        t.depositExpected = e.balance;
    }
    ++t.moves;
}

// A deposit movement: added to the trail, with what lies between the deposit
// the entry tells before it (the deposit after, less its amount) and the one
// the entries before give: a deposit entry lost in a gap.
void followDeposit(const Database& sw, const QString& users, const LogEntry& e, Trail& t) {
    if (!t.depositStarted) {
        t.depositStarted = true;
        t.depositExpected = Currency::fromRaw(
            sw.scalar(QStringLiteral("SELECT deposit FROM %1 WHERE userid=?").arg(users), {e.userid}).toLongLong());
    }
    const Currency between = e.balance - e.amount - t.depositExpected;
    t.depositUnexplained += between;
    if (between != Currency()) {
        t.depositUnexplainedAt[e.seq] += between;
        ++t.proven;
    }
    t.depositExpected = e.balance;
    t.deposit += e.amount;
    ++t.moves;
}

// A charge or a balance movement: added to the trail, with what lies between
// the balance the entry tells before it and the one the entries before give.
void followBalance(const Database& sw, const QString& users, const LogEntry& e, Trail& t) {
    const bool charge = e.kind == int(LogKind::Charge);
    if (!t.started) {
        t.started = true;
        t.expected = Currency::fromRaw(
            sw.scalar(QStringLiteral("SELECT remain FROM %1 WHERE userid=?").arg(users), {e.userid}).toLongLong());
    }
    const Currency delta = charge ? Currency() - e.amount : e.amount;
    // The balance before this entry, as the entry tells it, against the
    // balance the entries before it give: what lies between, no entry explains.
    const Currency between = e.balance - delta - t.expected;
    t.unexplained += between;
    if (between != Currency()) {
        t.unexplainedAt[e.seq] += between;
        ++t.proven;
    }
    t.expected = e.balance;
    t.last = e.balance;
    t.remain += delta;
    if (charge) {
        t.charged += e.amount;
        ++t.charges;
    } else {
        ++t.moves;
    }
}

// One entry of the file's user replayed into their trail (and their row, for
// a user deleted or added since).
void replayEntry(const Database& sw, const QString& users, const LogEntry& e, Trail& t, LogRecovery& out) {
    const int kind = e.kind;
    if (kind == int(LogKind::Asked)) {
        // Asked for already by an earlier restore: the same difference found again is not asked for again.
        if (t.depositUnexplainedAt.contains(e.calladdr)) {
            t.depositUnexplainedAt[e.calladdr] -= e.amount;
            t.depositUnexplained -= e.amount;
        } else if (t.unexplainedAt.contains(e.calladdr)) {
            t.unexplainedAt[e.calladdr] -= e.amount;
            t.unexplained -= e.amount;
        } else if (e.calladdr == t.lastSeq) {
            t.askedGone = true;
        }
        return;
    }
    if (kind == int(LogKind::UserDeleted)) {
        deleteAgain(sw, users, e, t, out);
    } else if (kind == int(LogKind::UserAdded)) {
        addAgain(sw, users, e, t, out);
    } else if (kind == int(LogKind::Deposit)) {
        followDeposit(sw, users, e, t);
    } else if (kind == int(LogKind::BalanceSet) || kind == int(LogKind::DepositSet)) {
        followSetOutright(sw, users, e, t);
    } else if (kind == int(LogKind::Charge) || kind == int(LogKind::Balance)) {
        followBalance(sw, users, e, t);
    }
    t.lastSeq = e.seq;
}

// Entries past the file's mark that are no longer logged cannot be applied:
// every number up to the last one known (`top`) was given to an entry. The
// numbers missing are named run by run.
void nameGaps(LogRecovery& out, const QSet<qint64>& numbers, qint64 fileMark, qint64 top) {
    if (top <= fileMark || qint64(numbers.size()) >= top - fileMark) return;
    out.gap = true;
    QList<qint64> present = numbers.values();
    std::sort(present.begin(), present.end());
    qint64 next = fileMark + 1;
    for (qint64 n : std::as_const(present)) {
        if (n > top) break;
        if (n > next) out.gaps << qMakePair(next, n - 1);
        next = n + 1;
    }
    if (next <= top) out.gaps << qMakePair(next, top);
    out.gapFrom = out.gaps.first().first;
    out.gapTo = out.gaps.last().second;
}

// An amount asked for of `userid`, at the entry `at` (see LogKind::Asked); numbered as it is kept.
LogEntry askedEntry(qint64 userid, Currency amount, qint64 at) {
    LogEntry e;
    e.kind = int(LogKind::Asked);
    e.userid = userid;
    e.amount = amount;
    e.calladdr = at;
    return e;
}

// Each user's trail added to their row; a user the file lacks, and a change
// between two entries no entry explains (a payment since the copy), named as lost.
void applyTrails(const Database& sw, const QString& users, const QMap<qint64, Trail>& trails,
                 const QMap<qint64, qint64>& baseFor, LogRecovery& out) {
    for (auto it = trails.constBegin(); it != trails.constEnd(); ++it) {
        if (it->charges == 0 && it->moves == 0 && !it->added) continue;
        const QVariant name = nameIn(sw, users, it.key());
        if (name.isNull()) {
            // Added since the copy: only its entries tell of it.
            if (it->askedGone || (!it->added && it->gone)) continue;
            out.lost << (it->added ? QStringLiteral("用户%1：余额%2（备份之后新增，备份中没有此用户）")
                                   : QStringLiteral("用户%1：余额%2（备份中没有此用户）"))
                            .arg(it.key())
                            .arg(it->last.toString2());
            out.asked << askedEntry(it.key(), it->last, it->lastSeq);
            continue;
        }
        if (it->charges == 0 && it->moves == 0) continue;
        sw.execute(QStringLiteral("UPDATE %1 SET remain=remain+?, deposit=deposit+? WHERE userid=?").arg(users),
                   {it->remain, it->deposit, it.key()});
        out.charges += it->charges;
        out.charged += it->charged;
        out.moves += it->moves;
        // A user whose row came from the newer file holds what was paid there.
        if (baseFor.contains(it.key())) continue;
        QStringList amounts;
        if (it->unexplained != Currency()) amounts << it->unexplained.toString2();
        if (it->depositUnexplained != Currency()) amounts << QStringLiteral("押金") + it->depositUnexplained.toString2();
        if (amounts.isEmpty()) continue;
        out.lost << QStringLiteral("用户%1 %2：%3").arg(it.key()).arg(name.toString(), amounts.join(QStringLiteral("，")));
        for (const QMap<qint64, Currency>* points : {&it->unexplainedAt, &it->depositUnexplainedAt})
            for (auto at = points->constBegin(); at != points->constEnd(); ++at)
                if (*at != Currency()) out.asked << askedEntry(it.key(), *at, at.key());
    }
}
}  // namespace

LogRecovery RecoverFromLog(const Database& sw, const QList<LogEntry>& log, const QMap<qint64, qint64>& baseFor,
                           qint64 fileMark, qint64 knownLast, const QMap<qint64, qint64>& heldFor) {
    LogRecovery out;
    const QString users = sw.qualified(sw.actualTableName(QStringLiteral("user")));
    QMap<qint64, Trail> trails;
    QSet<qint64> numbers;
    qint64 last = fileMark;
    // A user added past the mark under a number the file gives to a user of
    // its own that no entry deleted is another person (a number given twice):
    // from that entry on, the number's entries are theirs, never that row's.
    // A file without a mark of its own only guesses where it stands, and a row
    // taken from a newer file is the user added: neither is such a case.
    QSet<qint64> twice;
    if (AppliedMark(sw) >= 0) twice = NumbersGivenTwice(sw, log, fileMark);
    for (auto it = baseFor.constBegin(); it != baseFor.constEnd(); ++it) twice.remove(it.key());
    QMap<qint64, Apart> apart;      // by the entry that added them
    QMap<qint64, qint64> newcomer;  // number -> the entry that added the user now under it
    OwnerTrail owned;
    platform::Transaction tx(sw);
    for (const LogEntry& e : log) {
        last = qMax(last, e.seq);
        if (e.seq <= fileMark) continue;
        numbers.insert(e.seq);
        // A change the switch took is booked again, never left to be sent again.
        if (e.kind == int(LogKind::DepositTaken)) {
            ModGeneral::BookDepositTaken(sw, int(e.calladdr), e.amount, e.date, QString(), true);
            continue;
        }
        // Who owns a place is the file's own, whoever's row came from a newer file.
        if (owned.take(e, newcomer.contains(e.userid))) continue;
        if (e.seq <= qMax(baseFor.value(e.userid, fileMark), heldFor.value(e.userid, fileMark))) continue;
        if (twice.contains(e.userid) && keptApart(e, apart, newcomer)) continue;
        replayEntry(sw, users, e, trails[e.userid], out);
    }
    const qint64 top = qMax(last, knownLast);
    nameGaps(out, numbers, fileMark, top);
    last = top;
    // Each number lost is proven only where an entry after it shows what it
    // moved; a deposit lost with no later deposit entry of its user (a user
    // the gap does not name) shows nowhere.
    if (out.gap) {
        qint64 lostNumbers = 0;
        for (const auto& run : std::as_const(out.gaps)) lostNumbers += run.second - run.first + 1;
        qint64 proven = 0;
        for (const Trail& t : std::as_const(trails)) proven += t.proven;
        out.depositsUnchecked = proven < lostNumbers;
    }
    applyTrails(sw, users, trails, baseFor, out);
    // Those kept apart, each with what the journal says they hold; one added
    // and deleted since is as the file had it.
    for (const Apart& a : std::as_const(apart)) {
        if (a.gone) continue;
        QString line = QStringLiteral("用户%1 %2：余额%3").arg(a.userid).arg(a.name, a.last.toString2());
        if (a.deposit != Currency()) line += QStringLiteral("，押金%1").arg(a.deposit.toString2());
        if (a.charges > 0) line += QStringLiteral("，备份之后%1笔话费共%2元").arg(a.charges).arg(a.charged.toString2());
        const QVariant held = nameIn(sw, users, a.userid);
        line += QStringLiteral("（备份中此编号为用户%1）").arg(held.toString());
        out.apart << line;
        // The number was given again, so the user the file holds under it had
        // been deleted by then: they are back only with the copy.
        const QString back = QStringLiteral("用户%1 %2").arg(a.userid).arg(held.toString());
        if (!held.isNull() && !out.returned.contains(back)) out.returned << back;
    }
    owned.replay(sw, out);
    if (last != AppliedMark(sw)) setMark(sw, last);
    tx.commit();
    return out;
}

QList<LogEntry> MergedLog(const QList<LogEntry>& log, const QList<LogEntry>& more) {
    QMap<qint64, LogEntry> bySeq;
    for (const LogEntry& e : more) bySeq.insert(e.seq, e);
    for (const LogEntry& e : log) {
        // A user's row one of them holds stays with the entry.
        const QString row = e.row.isEmpty() ? bySeq.value(e.seq).row : e.row;
        bySeq.insert(e.seq, e);
        bySeq[e.seq].row = row;
    }
    return bySeq.values();
}

void DropLostNamedAsMissing(LogRecovery& r) {
    static const QRegularExpression userPart(QStringLiteral("[ ：]"));
    QSet<QString> named;
    for (const QString& m : std::as_const(r.missing)) named.insert(m.section(userPart, 0, 0));
    QStringList lost;
    for (const QString& l : std::as_const(r.lost))
        if (!named.contains(l.section(userPart, 0, 0))) lost << l;
    r.lost = lost;
}

QMap<qint64, MoneyRow> MoneyRowsOf(const Database& db, const QString& table, bool* whole) {
    QMap<qint64, MoneyRow> rows;
    if (whole) *whole = true;
    try {
        const QString t = table.isEmpty() ? db.qualified(db.actualTableName(QStringLiteral("user"))) : table;
        for (platform::RowReader r = db.rows(QStringLiteral("SELECT userid, username, remain, deposit FROM %1 WHERE userid<>0").arg(t));
             r.next();)
            rows.insert(r.integer(0), MoneyRow{r.text(1), Currency::fromRaw(r.integer(2)), Currency::fromRaw(r.integer(3))});
    } catch (const DbError&) {
        // What a damaged file read.
        if (whole) *whole = false;
    }
    return rows;
}

void NameDifferences(const QMap<qint64, MoneyRow>& before, const QMap<qint64, MoneyRow>& after, LogRecovery& r,
                     bool entered) {
    QList<qint64> users = before.keys();
    for (auto it = after.constBegin(); it != after.constEnd(); ++it)
        if (!before.contains(it.key())) users << it.key();
    std::sort(users.begin(), users.end());
    const auto whole = [](const MoneyRow& m) {
        return QStringLiteral("余额%1").arg(m.remain.toString2()) +
               (m.deposit == Currency() ? QString() : QStringLiteral("，押金%1").arg(m.deposit.toString2()));
    };
    // Deposits compared whole: a deposit lost in a gap is named here if anywhere.
    r.depositsUnchecked = false;
    for (qint64 user : std::as_const(users)) {
        const bool was = before.contains(user), is = after.contains(user);
        const MoneyRow& m = was ? before[user] : after[user];
        const QString who = QStringLiteral("用户%1 %2：").arg(user).arg(m.name);
        if (!is) {
            r.missing << who + whole(m) + QStringLiteral("（恢复后没有此用户）");
        } else if (!was) {
            r.missing << who + whole(m) + QStringLiteral("（恢复前已没有此用户）");
        } else {
            QStringList parts;
            const auto amount = [entered](Currency was, Currency is) { return (entered ? is - was : was - is).toString2(); };
            if (m.remain != after[user].remain) parts << amount(m.remain, after[user].remain);
            if (m.deposit != after[user].deposit) parts << QStringLiteral("押金") + amount(m.deposit, after[user].deposit);
            if (!parts.isEmpty()) r.missing << who + parts.join(QStringLiteral("，"));
        }
    }
    DropLostNamedAsMissing(r);
}

void AddCallAccounts(const Database& db, const QString& table, CallAccounts& into) {
    try {
        const QString t = db.actualTableName(table);
        if (t.isEmpty()) return;
        bool dialled = false;
        for (const platform::ColumnInfo& c : db.columns(t))
            dialled = dialled || c.name.compare(QStringLiteral("f_zh"), Qt::CaseInsensitive) == 0;
        if (!dialled) return;   // a table without the account dialled tells nothing of it
        for (const QVariantList& row :
             copyrecovery::ReadableRows(db, t, {QStringLiteral("f_calladdr"), QStringLiteral("f_date"), QStringLiteral("f_zh")}))
            into.insert(copyrecovery::callKey(row.value(0), row.value(1)), row.value(2).toString());
    } catch (const DbError&) {
        // A file that does not read tells nothing: its calls stay unknown.
    }
}

void AddArchivedCallAccounts(const QString& dir, const QList<LogEntry>& log, qint64 fileMark, CallAccounts& into) {
    // The nightly archive moves the calls out of the call file into the
    // month table of their year's file ("PhBill_YYYY.mdb", "Tab_PhM"),
    // looked up by the key it keeps an index on.
    QHash<int, Database> years;
    for (const LogEntry& e : log) {
        if (e.seq <= fileMark || e.kind != int(LogKind::Charge) || e.calladdr <= 0) continue;
        const QString key = copyrecovery::callKey(e.calladdr, e.date);
        const QDate day = platform::parseDate(e.date).date();
        if (into.contains(key) || !day.isValid()) continue;
        try {
            if (!years.contains(day.year())) {
                const QString file =
                    platform::resolveCI(dir, QStringLiteral("PhBill_%1.mdb").arg(day.year(), 4, 10, QLatin1Char('0')));
                years.insert(day.year(), QFileInfo(file).isFile() ? Database::openReadOnly(file) : Database());
            }
            const Database& year = years[day.year()];
            if (!year.isOpen()) continue;
            const QString table = year.actualTableName(QStringLiteral("Tab_Ph%1").arg(day.month()));
            if (table.isEmpty()) continue;
            const QVariant dialled = year.scalar(
                QStringLiteral("SELECT f_zh FROM %1 WHERE f_calladdr=? AND f_date=? LIMIT 1").arg(year.qualified(table)),
                {e.calladdr, e.date});
            if (!dialled.isNull()) into.insert(key, dialled.toString());
        } catch (const DbError&) {
            // A year file that does not read (or a table without the account) tells nothing.
        }
    }
}

QStringList OwnersAgainstLog(const Database& sw, const QList<LogEntry>& log, qint64 fileMark, const CallAccounts& accounts) {
    // The latest charge past the mark through each extension and each account
    // dialled (the pricing charges a call made with an account to the
    // account's owner, whatever extension made it). An entry keeps the call's
    // extension and start only: the call's row tells the account. A charge
    // whose call no file still gives may have gone either way (`unsure`).
    struct Charged {
        const LogEntry* e = nullptr;
        bool unsure = false;
    };
    QMap<qint64, Charged> byExtension;
    QMap<QString, const LogEntry*> byAccount;
    QMap<qint64, qint64> accountGivenAt;   // by the account's address, the last owner entry
    QMap<qint64, qint64> deletedAt;
    // A user added since is named as added: the file may hold another person
    // under that number (one an older station gave twice).
    QHash<qint64, QString> addedAs;
    for (const LogEntry& e : log) {
        if (e.seq <= fileMark) continue;
        if (e.kind == int(LogKind::UserAdded))
            addedAs.insert(e.userid, QJsonDocument::fromJson(e.row.toUtf8()).object().value(QStringLiteral("username")).toString());
        if (e.kind == int(LogKind::Charge) && e.calladdr > 0) {
            const auto dialled = accounts.constFind(copyrecovery::callKey(e.calladdr, e.date));
            if (dialled == accounts.constEnd()) byExtension.insert(e.calladdr, Charged{&e, true});
            else if (dialled->trimmed().isEmpty()) byExtension.insert(e.calladdr, Charged{&e, false});
            else byAccount.insert(*dialled, &e);
        } else if (e.kind == int(LogKind::UserDeleted)) {
            deletedAt.insert(e.userid, e.seq);
        } else if (e.kind == int(LogKind::Owner)) {
            // An owner given after the charge: the replay gave it back (or named it).
            if (e.calladdr >= 0) byExtension.remove(e.calladdr);
            else accountGivenAt.insert(-1 - e.calladdr, e.seq);
        }
    }
    QStringList lines;
    const QString users = sw.actualTableName(QStringLiteral("user"));
    if (users.isEmpty()) return lines;
    const auto line = [&](const QString& place, qint64 owner, const LogEntry& e, const QString& after) {
        const QVariant name =
            addedAs.contains(e.userid)
                ? (addedAs.value(e.userid).isEmpty() ? QVariant() : QVariant(addedAs.value(e.userid)))
                : sw.scalar(QStringLiteral("SELECT username FROM %1 WHERE userid=?").arg(sw.qualified(users)), {e.userid});
        lines << QStringLiteral("%1：现属用户%2，备份之后的话费记入用户%3%4%5")
                     .arg(place)
                     .arg(owner)
                     .arg(e.userid)
                     .arg(name.isNull() ? QString() : QLatin1Char(' ') + name.toString())
                     .arg(after);
    };
    const QString ext = sw.actualTableName(QStringLiteral("Extension"));
    for (auto it = byExtension.constBegin(); it != byExtension.constEnd() && !ext.isEmpty(); ++it) {
        const LogEntry& e = *it->e;
        if (deletedAt.value(e.userid, -1) > e.seq) continue;   // their extensions went back to the default user
        const QVariant owner =
            sw.scalar(QStringLiteral("SELECT userid FROM %1 WHERE Address=?").arg(sw.qualified(ext)), {it.key()});
        if (owner.isNull() || owner.toLongLong() == e.userid) continue;
        line(QStringLiteral("分机%1").arg(it.key()), owner.toLongLong(), e,
             it->unsure ? QStringLiteral("（其话单已不在，无法确定这笔话费是否经帐号计入）") : QString());
    }
    const QString acc = sw.actualTableName(QStringLiteral("Account"));
    for (auto it = byAccount.constBegin(); it != byAccount.constEnd() && !acc.isEmpty(); ++it) {
        const LogEntry& e = **it;
        if (deletedAt.value(e.userid, -1) > e.seq) continue;
        platform::RowReader r =
            sw.rows(QStringLiteral("SELECT address, userid FROM %1 WHERE account=? LIMIT 1").arg(sw.qualified(acc)), {it.key()});
        if (!r.next()) continue;   // an account the file lacks has no owner to give back
        const qint64 address = r.integer(0), owner = r.integer(1);
        if (r.isNull(1) || owner == e.userid || accountGivenAt.value(address, -1) > e.seq) continue;
        line(QStringLiteral("帐号%1").arg(it.key()), owner, e, QString());
    }
    return lines;
}

QStringList RecoveryLines(const LogRecovery& r) {
    QStringList lines;
    if (r.foreign) return {QStringLiteral("备份的数据库文件属于另一个话务台，话单文件中的话费未计入其中的用户余额。")};
    if (r.usersKept > 0) lines << QStringLiteral("从损坏的文件中找回%1个用户的余额。").arg(r.usersKept);
    if (r.charges > 0)
        lines << QStringLiteral("重新计入备份之后的%1笔话费，共%2元。").arg(r.charges).arg(r.charged.toString2());
    if (r.moves > 0) lines << QStringLiteral("重新计入备份之后的%1笔缴费、结算和押金变动。").arg(r.moves);
    // Said with the differences too: they are why the differences cannot be found.
    if (r.gap) {
        QList<QPair<qint64, qint64>> runs = r.gaps;
        if (runs.isEmpty()) runs << qMakePair(r.gapFrom, r.gapTo);
        QStringList numbers;
        for (const auto& run : std::as_const(runs))
            numbers << (run.first == run.second ? QString::number(run.first)
                                                 : QStringLiteral("%1至%2").arg(run.first).arg(run.second));
        lines << QStringLiteral("备份之后的第%1笔记账记录已不存在，其中的话费和缴费未能重新计入。").arg(numbers.join(QStringLiteral("、")));
        if (r.depositsUnchecked)
            lines << QStringLiteral("其中如有押金变动，无法核对，请核对备份之后办理过缴费或押金变动的用户的押金。");
    }
    // Owners given since are entries that were replayed: only a journal of an
    // older release leaves them to check.
    if (!r.added.isEmpty())
        lines << (r.ownersLogged ? QStringLiteral("以下用户在备份之后新增，已按记账记录重新加入：\n")
                                 : QStringLiteral("以下用户在备份之后新增，已按记账记录重新加入（备份之后为其指定的分机请重新核对）：\n")) +
                     r.added.join(QLatin1Char('\n'));
    if (!r.deleted.isEmpty())
        lines << QStringLiteral("以下用户在备份之后已删除，已再次删除：\n") + r.deleted.join(QLatin1Char('\n'));
    if (!r.lost.isEmpty())
        lines << QStringLiteral("以下金额无法找回，请重新录入：\n") + r.lost.join(QLatin1Char('\n'));
    if (!r.apart.isEmpty())
        lines << QStringLiteral("以下用户在备份之后新增，其编号在备份中属于另一用户，未并入该用户的账户，"
                                "请重新添加这些用户并录入其余额：\n") +
                     r.apart.join(QLatin1Char('\n'));
    if (!r.returned.isEmpty())
        lines << QStringLiteral("以下用户在备份之后已删除（其编号已给了上述用户），随备份恢复，请核对是否保留：\n") +
                     r.returned.join(QLatin1Char('\n'));
    if (!r.missing.isEmpty())
        lines << (r.replacedUntrusted
                      ? QStringLiteral("损坏的文件中记账的位置无法读取，其中的用户余额未采用；以下用户与损坏的文件中不同，请核对：\n")
                      : QStringLiteral("以下用户的余额或押金与恢复前不同，差额无法找回：\n")) +
                     r.missing.join(QLatin1Char('\n'));
    if (!r.owners.isEmpty()) {
        // Said of what the lines name: extensions, accounts or both.
        const qsizetype accounts = r.owners.filter(QRegularExpression(QStringLiteral("^帐号"))).size();
        const QString places = accounts == 0                 ? QStringLiteral("分机")
                               : accounts == r.owners.size() ? QStringLiteral("帐号")
                                                             : QStringLiteral("分机和帐号");
        lines << QStringLiteral("以下%1的用户与备份之后的话费记录不同（备份之后更改的%1用户未能恢复），请核对：\n").arg(places) +
                     r.owners.join(QLatin1Char('\n'));
    }
    if (!r.ownersUnset.isEmpty())
        lines << QStringLiteral("以下分机和帐号在备份之后更改的用户未能恢复，请重新指定：\n") + r.ownersUnset.join(QLatin1Char('\n'));
    if (!r.ownersDiffer.isEmpty())
        lines << QStringLiteral("以下分机和帐号的用户与恢复前不同，备份之后的更改无法找回，请核对：\n") +
                     r.ownersDiffer.join(QLatin1Char('\n'));
    if (r.rowsRefused > 0) lines << QStringLiteral("损坏的文件中有%1行不是完整的用户记录，未采用。").arg(r.rowsRefused);
    if (!r.refused.isEmpty())
        lines << QStringLiteral("以下记账记录已损坏，请核对这些用户的余额：\n") + r.refused.join(QLatin1Char('\n'));
    if (r.logPartial) lines << QStringLiteral("话单文件的计费记录只能部分读取，备份之后的话费可能未全部重新计入。");
    if (!r.unlogged.isEmpty())
        lines << QStringLiteral("以下话单的计费记录无法读取，其话费未计入用户余额，请核对：\n") + r.unlogged.join(QLatin1Char('\n'));
    if (!r.unloggedUnsure.isEmpty())
        lines << QStringLiteral("以下话单的计费记录无法读取，无法确定其话费是否已计入用户余额，请核对：\n") +
                     r.unloggedUnsure.join(QLatin1Char('\n'));
    if (r.movedPartial)
        lines << QStringLiteral("计费记录归档文件%1只能部分读取，备份之后的话费可能未全部重新计入。").arg(kJournalFile);
    if (!r.failed.isEmpty()) lines << QStringLiteral("用户余额未能按备份之后的话费更新（%1），请核对用户余额。").arg(r.failed);
    // The last line: what neither the log nor the file replaced could give.
    if (!r.putBack) return lines;
    if (r.callFileUnread && r.replacedRead)
        lines << QStringLiteral("话单文件无法读取，备份之后的话费只能从被替换的数据库文件找回。");
    else if ((r.callFileUnread || r.logPartial) && !r.replacedRead && r.failed.isEmpty())
        lines << QStringLiteral("话单文件和被替换的数据库文件都无法完整读取，备份之后的话费、缴费、押金变动和删除的用户无法全部找回。");
    return lines;
}

namespace {
// The last number a put-back's own entries are numbered past: `lastKnown`, the mark of `sw` and its copy of the log.
qint64 lastNumberIn(const Database& sw, qint64 lastKnown) {
    qint64 seq = qMax(lastKnown, AppliedMark(sw));
    const QString mirror = sw.actualTableName(kLedgerMirror);
    if (!mirror.isEmpty())
        seq = qMax(seq, sw.scalar(QStringLiteral("SELECT max(f_seq) FROM %1").arg(sw.qualified(mirror))).toLongLong());
    return seq;
}
}  // namespace

void EnterAsked(const Database& sw, const LogRecovery& r, qint64 lastKnown) {
    static const QRegularExpression userOf(QStringLiteral("^用户(\\d+)[ ：]"));
    QSet<qint64> named;
    for (const QStringList* lines : {&r.lost, &r.missing})
        for (const QString& l : *lines)
            if (const QRegularExpressionMatch m = userOf.match(l); m.hasMatch()) named.insert(m.captured(1).toLongLong());
    qint64 seq = lastNumberIn(sw, lastKnown);
    const qint64 gen = CopyGenerationOf(sw);
    const QString date = nowText();
    QList<LogEntry> entries;
    for (LogEntry e : r.asked) {
        if (!named.contains(e.userid)) continue;
        e.seq = ++seq;
        e.gen = gen;
        e.date = date;
        entries << e;
    }
    if (entries.isEmpty()) return;
    KeepInMirror(sw, entries);
    setMark(sw, seq);
}

int EnterPutBackChanges(const Database& sw, const QMap<qint64, MoneyRow>& before, const QMap<qint64, MoneyRow>& after,
                        qint64 lastKnown) {
    qint64 seq = lastNumberIn(sw, lastKnown);
    const qint64 gen = CopyGenerationOf(sw);
    const QString date = nowText();
    QList<LogEntry> entries;
    QMap<qint64, QString> rows;
    const auto enter = [&](LogKind kind, qint64 userid, Currency amount, Currency balance) {
        LogEntry e;
        e.seq = ++seq;
        e.gen = gen;
        e.kind = int(kind);
        e.userid = userid;
        e.amount = amount;
        e.balance = balance;
        e.date = date;
        entries << e;
        return e.seq;
    };
    for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
        if (!after.contains(it.key())) {
            enter(LogKind::UserDeleted, it.key(), Currency(), it->remain);
            continue;
        }
        const MoneyRow& now = after[it.key()];
        if (now.remain != it->remain) enter(LogKind::BalanceSet, it.key(), now.remain - it->remain, now.remain);
        if (now.deposit != it->deposit) enter(LogKind::DepositSet, it.key(), now.deposit - it->deposit, now.deposit);
    }
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        if (before.contains(it.key())) continue;
        // Put back with the row the file gives, as a user added.
        const qint64 added = enter(LogKind::UserAdded, it.key(), Currency(), it->remain);
        const QString row = userRowText(sw, it.key());
        if (!row.isEmpty()) rows.insert(added, row);
        if (it->deposit != Currency()) enter(LogKind::DepositSet, it.key(), it->deposit, it->deposit);
    }
    if (entries.isEmpty()) return 0;
    KeepInMirror(sw, entries);
    if (!rows.isEmpty()) {
        ensureUserRows(sw);
        const QString keep = QStringLiteral("INSERT OR REPLACE INTO %1 (f_seq, f_userid, f_row) VALUES (?, ?, ?)")
                                 .arg(sw.qualified(kUserRows));
        for (const LogEntry& e : std::as_const(entries))
            if (rows.contains(e.seq)) sw.execute(keep, {e.seq, e.userid, rows.value(e.seq)});
    }
    setMark(sw, seq);
    return int(entries.size());
}

}  // namespace ModSwitch
