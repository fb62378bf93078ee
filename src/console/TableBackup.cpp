#include "console/TableBackup.h"

#include "core/books/ChargeLog.h"
#include "core/books/JournalFile.h"
#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/books/TableCopy.h"
#include "core/OpLog.h"
#include "core/books/StationRecord.h"
#include "core/books/WriteAhead.h"
#include "platform/Clock.h"
#include "params/CellEdit.h"
#include "params/DialDigits.h"
#include "params/SavePara.h"
#include "platform/Files.h"
#include "platform/Prompts.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <optional>

namespace console {

namespace {

constexpr auto kBackupFile = "Backup.mdb";

void status(const QString& text) { core::StatusText(2, text); }

// The caption of the view less its last two characters ("本机字头" gives "本机").
QString logPrefix(const QString& caption) { return caption.left(qMax(0, int(caption.size()) - 2)); }

// A suffix brought to `len` digits: its last `len` characters, or a number
// padded with leading zeros; anything else stays as it is.
QString fitSuffix(const QString& s, int len) {
    if (s.size() > len) return s.right(len);
    bool digits = !s.isEmpty();
    for (QChar ch : s) digits = digits && ch.isDigit();
    return digits ? s.rightJustified(len, QLatin1Char('0')) : s;
}

// Shows the restored table as its view shows it.
void showRestored(const QString& view) {
    if (core::Console* c = core::TheConsole()) c->ShowView(view);
}

// Pending grid edits are offered for saving before the table is copied;
// false when the save failed and they are still pending.
bool savePending(int tableRight);

// The users' copy remembers the last entry of the journal its balances hold.
const QString kMarks = QStringLiteral("TarvoBackupMarks");

bool isUsers(const QString& table) { return table.compare(QLatin1String("User"), Qt::CaseInsensitive) == 0; }

// The tables whose rows name the user that owns the extension or account.
bool isOwned(const QString& table) {
    return table.compare(QLatin1String("Extension"), Qt::CaseInsensitive) == 0 ||
           table.compare(QLatin1String("Account"), Qt::CaseInsensitive) == 0;
}

// The owners a restore of an extensions' or accounts' table changed, from
// `before` (every place's owner as the restore found it) to the table now:
// each place once, with both owners. Each is an entry of the journal too.
QStringList ownersChanged(const QMap<qint64, qint64>& before, const QString& table) {
    ModSwitch::LogRecovery r;
    ModSwitch::NameOwnerDifferences(before, dbSwitch, r);
    if (r.ownersDiffer.isEmpty()) return {};
    const bool accounts = table.compare(QLatin1String("Account"), Qt::CaseInsensitive) == 0;
    return {(accounts ? QStringLiteral("以下帐号的用户已随恢复改为备份中的用户：\n")
                      : QStringLiteral("以下分机的用户已随恢复改为备份中的用户：\n")) +
            r.ownersDiffer.join(QLatin1Char('\n'))};
}

void noteUsersMark(const platform::Database& backup) {
    const QString t = backup.qualified(kMarks);
    if (backup.actualTableName(kMarks).isEmpty())
        backup.execute(QStringLiteral("CREATE TABLE %1 (varname TEXT PRIMARY KEY, value TEXT)").arg(t));
    const qint64 mark = ModSwitch::AppliedMark(dbSwitch);
    backup.execute(QStringLiteral("INSERT OR REPLACE INTO %1 (varname, value) VALUES (?, ?)").arg(t),
                   {ModSwitch::kChargeMark, QString::number(mark)});
    // The journal keeps the entries since, however old, for the restore of this copy.
    ModSwitch::NoteBackupMark(QLatin1String(kBackupFile), mark);
}

// The mark of the users' copy in `backup`; -1 when it was taken without one.
qint64 usersMark(const platform::Database& backup) {
    if (backup.actualTableName(kMarks).isEmpty()) return -1;
    const QVariant v = backup.scalar(
        QStringLiteral("SELECT value FROM %1 WHERE varname=?").arg(backup.qualified(kMarks)), {ModSwitch::kChargeMark});
    bool ok = false;
    const qint64 n = v.toString().toLongLong(&ok);
    return ok ? n : -1;
}

// The users' table put back from its copy, brought up to the journal: the
// charges, payments and deletions since the copy are applied again, the users
// added since stay; what is still different is an entry of the journal, and
// the lines name what the journal cannot explain. Runs in the caller's
// transaction, the copy's rows already in place; `before` holds the rows replaced.
QStringList bringUsersUpToJournal(qint64 copyMark, const QString& before) {
    const qint64 mark = ModSwitch::AppliedMark(dbSwitch);
    const ModSwitch::RefusedEntries refused;
    QList<ModSwitch::LogEntry> log = ModSwitch::MirrorOf(dbSwitch);
    // Entries the copy holds are not read: a year of settled entries stays in its file.
    bool complete = true;
    if (dbPhoneCur.isOpen()) log = ModSwitch::MergedLog(ModSwitch::OpenLog(copyMark, &complete), log);
    ModSwitch::WithUserRows(log, ModSwitch::UserRowsOf(dbSwitch));
    // Users added since the copy keep the rows they have now, with everything applied.
    QMap<qint64, qint64> baseFor;
    QSet<qint64> added;
    for (const ModSwitch::LogEntry& e : log) {
        if (e.seq <= copyMark) continue;
        if (e.kind == int(ModSwitch::LogKind::UserAdded)) added.insert(e.userid);
        if (e.kind == int(ModSwitch::LogKind::UserDeleted)) added.remove(e.userid);
    }
    for (qint64 user : std::as_const(added)) {
        if (dbSwitch.execute(QStringLiteral("INSERT INTO user SELECT * FROM %1 b WHERE b.userid=? AND NOT EXISTS "
                                            "(SELECT 1 FROM user u WHERE u.userid=b.userid)")
                                 .arg(before),
                             {user}) == 1)
            baseFor.insert(user, mark);
    }
    // The owners as they stand: the copy holds none, but the replay gives places again.
    const QMap<qint64, qint64> owners = ModSwitch::OwnersOf(dbSwitch);
    ModSwitch::LogRecovery r = ModSwitch::RecoverFromLog(dbSwitch, log, baseFor, copyMark, mark);
    ModSwitch::NameRefused(r, refused, log, copyMark, dbSwitch);
    if (r.gap || !complete || !r.refused.isEmpty()) {
        // Entries the copy needs are no longer logged (or do not read): what
        // the rows replaced and the rows now hold is compared, user by user,
        // and so are the owners of every extension and account.
        r.logPartial = !complete;
        ModSwitch::NameDifferences(ModSwitch::MoneyRowsOf(dbSwitch, before), ModSwitch::MoneyRowsOf(dbSwitch), r);
        ModSwitch::NameOwnerDifferences(owners, dbSwitch, r);
    }
    // What the lines ask for is asked once: a later restore finds it asked.
    ModSwitch::EnterAsked(dbSwitch, r, qMax(mark, ModSwitch::ReadStationRecord().lastEntry()));
    r.charges = 0;   // what was applied again is as it was: only what differs is told
    r.moves = 0;
    r.deleted.clear();
    r.added.clear();
    return ModSwitch::RecoveryLines(r);
}

// The whole journal the station keeps: the call file's log, the entries
// moved to the journal file, and the station file's copy of the log.
QList<ModSwitch::LogEntry> journalForPlacing() {
    bool complete = true;
    return ModSwitch::MergedLog(ModSwitch::OpenLog(0, &complete), ModSwitch::MirrorOf(dbSwitch));
}

// A users' copy that does not say how far the journal went (made before the
// journal, or its mark lost): every whole money row it changes is named, a
// user it puts back or removes, a balance, a deposit; the changes themselves
// are entries of the journal (the caller's MoveBalances). A journal whose
// oldest entries were let go (`firstHeld` past the first number) is said to
// be why the copy could not be checked against it, and so are the numbers it
// lacks (`lacking`) past which the rows could not be taken back.
QStringList usersChangedWithoutMark(const QString& before, qint64 firstHeld, QPair<qint64, qint64> lacking) {
    ModSwitch::LogRecovery r;
    ModSwitch::NameDifferences(ModSwitch::MoneyRowsOf(dbSwitch, before), ModSwitch::MoneyRowsOf(dbSwitch), r, true);
    if (r.missing.isEmpty()) return {};
    QStringList lines;
    if (firstHeld > 1)
        lines << QStringLiteral("第%1笔之前的记账记录已不存在，备份中的用户余额无法按记账记录核对。").arg(firstHeld);
    if (lacking.first > 0)
        lines << QStringLiteral("第%1笔记账记录已不存在，备份中的用户余额无法按记账记录核对。")
                     .arg(lacking.first == lacking.second ? QString::number(lacking.first)
                                                          : QStringLiteral("%1至%2").arg(lacking.first).arg(lacking.second));
    lines << QStringLiteral("备份中的用户余额与现在不同，以下差额已随恢复计入：\n") + r.missing.join(QLatin1Char('\n'));
    return lines;
}

// Where in the journal a users' copy without a mark stands (one made by a
// release that marked none), told by its own rows: the one stretch of the
// journal at which every user, by the rows now (`nowRows`) taken back through
// the entries since, holds the balance and deposit the copy holds, and every
// user it lacks is absent. Only held entries prove a place: the rows are
// taken back no further than the first number the journal lacks, nor past an
// entry whose balance the rows taken back to it do not give (an entry lost,
// or a change no entry holds), so a copy older than that is no copy the
// entries can place, however its rows agree. -1 when no stretch, or more than
// one, fits: the copy cannot be placed; `lacking` then gets the numbers the
// journal lacks where the rows could be taken back no further (0, 0 for none).
qint64 placeByRows(const QList<ModSwitch::LogEntry>& log, const QString& copyRows, const QString& nowRows,
                   QPair<qint64, qint64>* lacking) {
    using ModSwitch::LogKind;
    using platform::Currency;
    struct Row {
        Currency remain, deposit;
    };
    QHash<qint64, Row> copy;
    for (platform::RowReader r = dbSwitch.rows(QStringLiteral("SELECT userid, remain, deposit FROM %1 WHERE userid<>0").arg(copyRows)); r.next();)
        copy.insert(r.integer(0), Row{Currency::fromRaw(r.integer(1)), Currency::fromRaw(r.integer(2))});
    // A user's row at a point of the journal; a deposit unknown where a
    // deletion taken back does not tell it.
    struct State {
        bool present = false;
        Currency remain;
        std::optional<Currency> deposit;
    };
    QHash<qint64, State> at;
    for (platform::RowReader r = dbSwitch.rows(QStringLiteral("SELECT userid, remain, deposit FROM %1 WHERE userid<>0").arg(nowRows)); r.next();)
        at.insert(r.integer(0), State{true, Currency::fromRaw(r.integer(1)), Currency::fromRaw(r.integer(2))});
    const auto differs = [&](qint64 user) {
        const State s = at.value(user);
        const auto it = copy.constFind(user);
        if (it == copy.constEnd()) return s.present;
        return !s.present || s.remain != it->remain || (s.deposit && *s.deposit != it->deposit);
    };
    int differing = 0;
    QSet<qint64> users(copy.keyBegin(), copy.keyEnd());
    for (auto it = at.constBegin(); it != at.constEnd(); ++it) users.insert(it.key());
    for (qint64 user : std::as_const(users)) differing += int(differs(user));
    qint64 place = -1;
    int stretches = 0;
    bool fitting = false;
    const auto look = [&](qint64 seq) {
        if (differing == 0 && !fitting) {
            ++stretches;
            place = seq;   // the latest point of the stretch
        }
        fitting = differing == 0;
    };
    if (log.isEmpty()) return -1;
    look(log.last().seq);
    for (qsizetype i = log.size() - 1; i >= 0; --i) {
        const ModSwitch::LogEntry& e = log[i];
        // A number the journal lacks before this one: what it changed is unknown.
        const bool gap = i > 0 && log[i - 1].seq != e.seq - 1;
        if (gap) *lacking = qMakePair(log[i - 1].seq + 1, e.seq - 1);
        if (e.userid == 0) {
            look(e.seq - 1);
            if (gap) break;
            continue;
        }
        State& s = at[e.userid];
        const bool was = differs(e.userid);
        bool held = s.present;
        switch (LogKind(e.kind)) {
        case LogKind::Charge: held = held && s.remain == e.balance; s.remain = e.balance + e.amount; break;
        case LogKind::Balance:
        case LogKind::BalanceSet: held = held && s.remain == e.balance; s.remain = e.balance - e.amount; break;
        case LogKind::Deposit:
        case LogKind::DepositSet:
            held = held && (!s.deposit || *s.deposit == e.balance);
            s.deposit = e.balance - e.amount;
            break;
        case LogKind::UserAdded: s = State{}; break;
        case LogKind::UserDeleted: held = !s.present; s = State{true, e.balance, std::nullopt}; break;
        default: held = true; break;   // calls and owners move no money
        }
        if (!held) break;
        differing += int(differs(e.userid)) - int(was);
        look(e.seq - 1);
        if (gap) break;
    }
    return stretches == 1 ? place : -1;
}

}  // namespace

QString BackupTableName(const QString& view) {
    if (view == QLatin1String("Router1") || view == QLatin1String("Router2")) return QStringLiteral("AddHead");
    return view;
}

QString BackupFilePath() { return platform::resolveCI(DataPath, QLatin1String(kBackupFile)); }

void TableBackup(const QString& view, int tableRight, const QString& caption) {
    if (ModGeneral::CheckRight(tableRight, 0)) return;
    // A save that fails stops here: the copy would not hold what the grid
    // shows, and panel 2 keeps the save's failure, saying nothing was copied.
    if (!savePending(tableRight)) {
        const QString failed = core::PanelText(2);
        status(failed.isEmpty() ? QStringLiteral("没有备份") : failed + QStringLiteral("，没有备份"));
        return;
    }
    if (platform::MsgBox(QStringLiteral("要备份数据库吗?"), platform::mbYesNo | platform::mbQuestion, AppName) !=
        platform::rYes)
        return;
    const QString table = BackupTableName(view);
    bool copied = false;
    try {
        platform::Database backup = platform::Database::create(BackupFilePath());
        // The balances copied hold every entry the journal has applied.
        if (isUsers(table)) ModSwitch::ApplyLoggedCharges();
        copied = ModSwitch::CopyTable(dbSwitch, table, backup, table, false, QString());
        if (copied && isUsers(table)) noteUsersMark(backup);
        backup.close();
    } catch (const platform::DbError&) {
        copied = false;   // a file that can be neither made nor opened
    }
    if (!copied) {
        status(QStringLiteral("备份失败"));
        return;
    }
    status(QStringLiteral("备份成功"));
    ModGeneral::AddOpLog(logPrefix(caption) + QStringLiteral("备份"));
}

void TableRestore(const QString& view, int tableRight, const QString& caption) {
    if (ModGeneral::CheckRight(tableRight, 0)) return;
    const QString path = BackupFilePath();
    if (!QFileInfo(path).isFile()) {
        platform::MsgBox(QStringLiteral("不存在备份数据"), platform::mbOKOnly, AppName);
        return;
    }
    if (platform::MsgBox(QStringLiteral("要从备份库恢复数据吗?"), platform::mbYesNo | platform::mbQuestion,
                         AppName) != platform::rYes)
        return;
    const QString table = BackupTableName(view);
    bool noCopy = false;
    QStringList lines;
    const QString reportKey = QStringLiteral("table-restore:%1:%2").arg(table, platform::Now().toString(Qt::ISODateWithMs));
    try {
        platform::Database backup = dbSwitch.attach(path, QStringLiteral("tarvo_backup"));
        try {
            const QString stored = backup.actualTableName(table);
            if (stored.isEmpty()) {
                noCopy = true;
            } else {
                // The columns both sides have, by name: the copy never depends on their order.
                QStringList names;
                const QList<platform::ColumnInfo> mine = dbSwitch.columns(table);
                for (const platform::ColumnInfo& b : backup.columns(stored))
                    for (const platform::ColumnInfo& m : mine)
                        if (m.name.compare(b.name, Qt::CaseInsensitive) == 0) names << platform::quoteIdent(m.name);
                if (names.isEmpty()) throw platform::DbError(platform::kErrGeneric, QStringLiteral("备份表没有可用的列"));
                const QString cols = names.join(QLatin1Char(','));
                const QString target = dbSwitch.qualified(dbSwitch.actualTableName(table));
                const qint64 copyMark = isUsers(table) ? usersMark(backup) : -1;
                platform::Transaction tx(dbSwitch);
                const auto replace = [&] {
                    const QString before = QStringLiteral("temp.tarvo_users_before");
                    if (isUsers(table)) {
                        dbSwitch.execute(QStringLiteral("DROP TABLE IF EXISTS ") + before);
                        dbSwitch.execute(QStringLiteral("CREATE TABLE %1 AS SELECT * FROM %2").arg(before, target));
                    }
                    dbSwitch.execute(QStringLiteral("delete from ") + target);
                    dbSwitch.execute(QStringLiteral("insert into %1 (%2) select %2 from %3")
                                         .arg(target, cols, backup.qualified(stored)));
                    if (isUsers(table) && copyMark >= 0) lines = bringUsersUpToJournal(copyMark, before);
                    if (isUsers(table) && copyMark < 0) {
                        // A copy of a release that marked none is placed by its rows and
                        // brought up to the journal from there, as a marked one is.
                        const QList<ModSwitch::LogEntry> journal =
                            dbPhoneCur.isOpen() ? journalForPlacing() : QList<ModSwitch::LogEntry>();
                        QPair<qint64, qint64> lacking(0, 0);
                        const qint64 placed = dbPhoneCur.isOpen() ? placeByRows(journal, target, before, &lacking) : -1;
                        lines = placed >= 0 ? bringUsersUpToJournal(placed, before)
                                            : usersChangedWithoutMark(before, journal.isEmpty() ? 0 : journal.first().seq, lacking);
                    }
                    if (isUsers(table)) dbSwitch.execute(QStringLiteral("DROP TABLE IF EXISTS ") + before);
                };
                // The balances put back are entries of the journal, and so are
                // the owners: a station file put back later gives each place
                // the owner this restore gave it.
                if (isUsers(table)) {
                    ModSwitch::MoveBalances(replace, -1, true);
                } else if (isOwned(table)) {
                    QMap<qint64, qint64> owners;
                    ModSwitch::MoveOwners([&] {
                        owners = ModSwitch::OwnersOf(dbSwitch);
                        replace();
                    });
                    lines = ownersChanged(owners, table);
                } else {
                    replace();
                }
                if (view == QLatin1String("Extension")) FitExtensionSuffixes(dbSwitch);
                // A table read from the switch and not yet taken over is given
                // up: the restored table is the one the view shows from now on.
                if (ParaMode == QLatin1String("UpSend"))
                    dbSwitch.execute(QStringLiteral("drop table if exists ") + platform::quoteIdent(QStringLiteral("p") + table));
                // What the restore found is kept in its own commit: a kill
                // before the box leaves it for the next opening.
                if (!lines.isEmpty())
                    ModSwitch::KeepReport(dbSwitch, reportKey, {lines.join(QLatin1Char('\n')), AppName, platform::mbOKOnly});
                tx.commit();
            }
        } catch (...) {
            backup.close();
            throw;
        }
        backup.close();
    } catch (const platform::DbError&) {
        status(QStringLiteral("恢复失败"));
        return;
    }
    if (noCopy) {
        platform::MsgBox(QStringLiteral("没有备份数据"), platform::mbOKOnly, AppName);
        return;
    }
    if (!lines.isEmpty()) ModSwitch::TellReport(dbSwitch, reportKey);
    // The grid's edits, and the amounts typed into it, go with the table restored.
    ModSwitch::DropGridEdits();
    ParaMode.clear();
    showRestored(view);
    ModGeneral::AddOpLog(logPrefix(caption) + QStringLiteral("恢复"));
    status(QStringLiteral("恢复成功"));
}

void FitExtensionSuffixes(const platform::Database& db) {
    QList<qint64> heads;
    {
        platform::Recordset rs =
            db.query(QStringLiteral("Select distinct Head From Extension where head>19 and Head<29"));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) heads << rs.lng(QStringLiteral("Head"));
    }
    for (qint64 h : heads) {
        const int n = ModSwitch::GetExtHeadLen();
        platform::Recordset prefix = db.query(QStringLiteral("Select HeadLen From LanHead where HeadType=?"), {h});
        const bool kept = !prefix.eof();
        const int len = kept ? static_cast<int>(prefix.lng(QStringLiteral("HeadLen"))) : n;
        platform::Recordset rows =
            db.query(QStringLiteral("Select Address,SpringNum From Extension where Head=?"), {h});
        for (rows.moveFirst(); !rows.eof(); rows.moveNext()) {
            const QString suffix = rows.str(QStringLiteral("SpringNum"));
            // A category no longer in the prefix table goes to the flexible one.
            const QString fitted = kept ? fitSuffix(suffix, len) : fitSuffix(suffix.right(n), n);
            db.execute(QStringLiteral("Update Extension set Head=?,bSetSpringNum=0,SpringNum=? where Address=?"),
                       {kept ? h : 29, fitted, rows.lng(QStringLiteral("Address"))});
        }
    }
}

namespace {
bool savePending(int tableRight) {
    ModSwitch::SaveSwitchPara(tableRight, true);
    // What a save leaves pending (the grid's edits, a table read from the
    // switch not taken over) is what it failed to store.
    return !g_Modified && ParaMode != QLatin1String("UpSend");
}
}  // namespace

}  // namespace console
