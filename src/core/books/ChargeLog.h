#pragma once
// The journal of money. A call's row in the call file ("PhoneCur.mdb") and its
// numbered entry in the charge log "tab_chargelog" commit together: that
// commit is what keeps a record. The station file ("switch.mdb") then applies
// the logged charges to the users' balances in a transaction of its own that
// also moves its mark, "TarvoChargeApplied", to the last entry it applied.
// Two routines here bring a station file up to the log: `ApplyLoggedCharges`
// applies to the open file the entries past its mark (after a record, in
// `MoveBalances`, at every opening), and `RecoverFromLog`, the one replay of
// every kind of entry, brings a file put back from a safety copy or a backup
// (or found behind the log at an opening) up to the log. A crash between the two
// commits leaves entries past the mark, as an old copy does, and each entry
// is applied once.
#include "platform/Currency.h"
#include "platform/Db.h"

#include <QDateTime>
#include <QHash>
#include <QList>

#include <functional>
#include <optional>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

namespace ModSwitch {

// The log's table in the call file, and the station file's settings keys:
// the mark of the last applied entry and the number of its safety copy.
extern const QString kChargeLog;
extern const QString kChargeMark;
extern const QString kCopyGeneration;
// The name both files of one station carry (the station file's settings, the
// call file's notes).
extern const QString kStationId;

// The journal's file of settled entries, beside the call file: an entry the
// station file applied, that every safety copy holds and that is older than a
// few days moves there, so that the call file a start checks, compacts and
// copies holds only the last days of the journal. A restore reads both.
extern const QString kJournalFile;
// The call file's note of the highest number moved to that file.
extern const QString kMovedNote;

// The station file's copy of every entry it applied, and of the calls they
// charged: what a call file put back from an older copy gets back.
extern const QString kLedgerMirror;
extern const QString kCallMirror;
// The row of each user added, by the number of the entry that added it, in
// both files: a station file behind the journal gets the user back whole.
extern const QString kUserRows;

// Kinds of log entries. `Balance`: the balance moved by `f_amount` (a
// payment, a settlement, a deposit saved, 初始化, a table restored);
// `Deposit`: the deposit moved by `f_amount`. `f_balance` is the balance
// (or deposit) after the entry.
// `Call`: a call stored that charges no one (the default user's, one priced
// at nothing, one paid at a payphone): no money moves, but the station file
// keeps the call with it, as it keeps the calls it charged.
// `Owner`: an extension's or an account's owner given or taken: `f_userid`
// the owner after, `f_calladdr` the place (see OwnerPlace); no money moves,
// but who pays for the place's calls does.
// `BalanceSet`, `DepositSet`: a balance (or deposit) set outright by a
// station file put back (see EnterPutBackChanges): `f_balance` the value set,
// `f_amount` the change it made then; a replay sets the value, whatever the
// entries before it gave.
// `DepositTaken`: a change of an extension's deposit the switch took,
// `f_calladdr` the address, `f_amount` the change, `f_date` the time of its
// history row; no user's money moves, but a station file put back from a copy
// books it again instead of sending it again.
// `Asked`: an amount a restore's box asked the operator to enter again:
// `f_userid` the user, `f_amount` the amount, `f_calladdr` the entry before
// which the balance (at a deposit entry, the deposit) moved by it with no
// entry of its own (or, for a user the file lacks, that user's last entry);
// no money moves, but a later replay
// that finds the same difference there asks nothing again.
// A reader skips kinds it does not know, so an older station still reads a
// log a newer one wrote.
enum class LogKind {
    Charge = 0, UserDeleted = 1, UserAdded = 2, Balance = 3, Deposit = 4, Call = 5, Owner = 6, BalanceSet = 7, DepositSet = 8,
    DepositTaken = 9, Asked = 10
};

// The place an owner entry names: an extension by its address, an account
// by its address as -1 - address (an extension's address is never negative).
inline qint64 OwnerPlace(bool account, qint64 address) { return account ? -1 - address : address; }

// The journal of money: the charge log made or brought to its numbered form
// when missing, the open station file brought up to it, and entries the
// safety copy and every backup of the last year hold let go.
void PrepareChargeLog();
// Gives the open station file the next safety copy number before its safety
// copy is taken anew while the station runs (after a restore from a backup).
void NumberSafetyCopy();
// Creates that log in the call-record database `cur` when it has none.
void CreateChargeLog(const platform::Database& cur);
// Held around a record's transaction, before it begins: the station file's
// commit that follows it (the balance, the copy of the entry, the mark) is not
// synced on its own. The call file's entry, synced, is what keeps the charge:
// a power cut that undoes the station file's part leaves the entry past the
// mark, and the next opening applies it.
class RecordCommit {
public:
    RecordCommit();
    ~RecordCommit();
    RecordCommit(const RecordCommit&) = delete;
    RecordCommit& operator=(const RecordCommit&) = delete;
private:
    bool outermost_;
};

// Logs a charge of `amount` to `userid` (balance `balance` after it) for the
// call of extension `ext` started `date`, in the caller's transaction on the
// call file, which writes nothing of the station file: the balance follows in
// a commit of its own once the outermost transaction has committed, or later
// when the station file refuses it then. Returns the entry's number.
qint64 LogCharge(qint64 userid, platform::Currency amount, platform::Currency balance, int ext, const QString& date);

// Notes the call of extension `ext` started `date` that charges no one, in
// the caller's transaction on the call file, so that the station file keeps
// the call as it keeps a charged one: a call file put back from its copy, or
// lost, gets it back. Nothing when the call file has no log.
void LogCall(qint64 userid, int ext, const QString& date);

// The mark of station file `sw`: -1 when the file has none (made before the
// log was numbered).
qint64 AppliedMark(const platform::Database& sw);
// The number of the safety copy a station file is (0 before copies were numbered).
qint64 CopyGenerationOf(const platform::Database& db);

// A user's charges that are logged but not yet applied to their balance by
// the open station file (none, but between the two commits).
platform::Currency UnappliedCharges(qint64 userid);
// A user's balance as the journal gives it: what the open station file holds,
// less the entries logged that it has not applied yet (the station file
// refused its part). Every answer and view of a balance reads this one.
platform::Currency BalanceOf(qint64 userid);
// The same for a balance `remain` just read from the user's row.
platform::Currency BalanceOf(qint64 userid, platform::Currency remain);
// What BalanceOf takes from each user's stored balance, for every user with
// charges waiting, read in one pass: a view of many users reads it once per
// load and shows `remain - waiting` (`remain` where that is out of reach).
QHash<qint64, platform::Currency> UnappliedChargesByUser();
// Runs `write`, which sets balances, deposits or user rows outright, in one
// transaction on the station file: the entries waiting are applied first, so
// that the write starts from the balance the journal gives; every change it
// made is then an entry of the journal (a balance or deposit moved, a user
// added or deleted), kept in the station file's copy of the log, the mark
// moved over it. That commit is the act's; the call file's log takes the
// entries once the outermost transaction has committed (or at the next
// opening). `userid` >= 0: only that user can change. `outright`: a table put
// back, whose balances and deposits are set, not moved (BalanceSet, DepositSet):
// a later replay across entries lost before it ends at the values it set.
void MoveBalances(const std::function<void()>& write, qint64 userid = -1, bool outright = false);

// Enters in the journal that the switch took the change `change` of the
// extension at `address`'s deposit, booked in the caller's transaction on the
// open station file with its history row at `when` (see
// ModGeneral::BookDepositTaken): kept as MoveBalances keeps its entries.
void EnterDepositTaken(int address, platform::Currency change, const QString& when);

// Runs `write`, which gives or takes owners of extensions or accounts of the
// open station file, in one transaction on it: the entries waiting are
// applied first; every owner it changed is then an entry of the journal
// (LogKind::Owner), kept as MoveBalances keeps its entries, so that a station
// file put back from a copy on any road gives the place to its owner again.
void MoveOwners(const std::function<void()>& write);

// Applies to the open station file every logged entry past its mark, once, in
// one transaction that moves the mark (after the outermost transaction on the
// connection, when one is open). Returns how many entries it applied.
int ApplyLoggedCharges();

// The PC clock seen put right: at `when` (the clock just after) it moved by
// `by` seconds (after minus before). The switch sends no year: a call made
// before such a move and sent again after it may carry the year the clock
// gave it before, and only then is a row in another year the same call.
struct ClockPutRight {
    QDateTime when;
    qint64 by = 0;
};
// The moves the call file's note keeps (the newest last), with those seen
// on it this session whose note could not be written.
QList<ClockPutRight> ClocksPutRight();
// Called as each record comes: a PC clock that stepped against the steady
// tick since the last look (set by the station's clock dialogs, by hand or
// by the system) is noted in the call file.
void WatchClock();

// Notes kept in the call file, so that they commit with the records they
// count (how far a spool or "Bill.dat" is stored); in the caller's transaction.
QString CallFileNote(const QString& key);
void SetCallFileNote(const QString& key, const QString& value);
void RemoveCallFileNote(const QString& key);

// One entry of the log, as a recovery reads it.
struct LogEntry {
    qint64 seq = 0;
    qint64 gen = 0;
    int kind = 0;
    qint64 userid = 0;
    platform::Currency amount, balance;
    qint64 calladdr = 0;   // the call charged: extension and start
    QString date;
    QString row;           // a user added: their row as it was added (JSON), when known
};

// The most an entry can hold: the largest price an operator can type (a
// hundred million yuan) for every second of the longest call the switch
// reports (99:59:59), in ten-thousandths. A whole number past it is no value
// the station wrote, but bytes of a damaged page.
constexpr qint64 kEntryReach = 100000000LL * 10000 * 359999;
// The one check of an entry read back, by every reader of the log (the apply,
// the recoveries): `row` holds its values in the order of the log's columns
// (number, copy number, kind, user, amount, balance, and optionally call and
// date). Empty when they are not what the station writes: a number that is
// not whole, an amount or a balance out of reach. Such an entry is applied nowhere.
// `whole`: every column must read, the place and the date too (a row read
// from a damaged file's pages: a default would give another place, or none).
std::optional<LogEntry> EntryOf(const QVariantList& row, bool whole = false);
// While one lives, the entries the check refuses on its thread are kept, by
// number, as they were read: a recovery names each entry it could not take.
class RefusedEntries {
public:
    RefusedEntries();
    ~RefusedEntries();
    RefusedEntries(const RefusedEntries&) = delete;
    RefusedEntries& operator=(const RefusedEntries&) = delete;
    void note(const QVariantList& row);
    // Those numbered past `after` that no other file gave sound (`log`).
    QMap<qint64, QVariantList> lacking(const QList<LogEntry>& log, qint64 after) const;
private:
    QMap<qint64, QVariantList> rows_;
    RefusedEntries* outer_;
};
// The entries of the log `table` of `db` numbered past `after` that pass
// that check, in order; `allSound` false when some did not.
QList<LogEntry> EntriesOf(const platform::Database& db, const QString& table, qint64 after = 0, bool* allSound = nullptr);

// The name of the station (or site) a file belongs to, as the file holds it:
// a station file's "Variant", a call or journal file's "tab_notes". "" when
// it holds none or does not read.
QString StationIdOf(const QString& path);
// The name a site's files held before the site was told apart from the root
// it was copied from (kept in its call file's notes); "" for a site made with
// a name of its own, and for the root.
extern const QString kFormerStationId;
// A new site's two files, just copied from the root's (`sw` its station file,
// `cur` its call file, each on a connection of its own, in one transaction of
// the caller's each): a name of their own, and a journal that begins with
// them: an empty log marked at 0, numbered from its first entry, no backup's
// mark, no moved entries, no user rows of the root's entries.
void GiveOwnJournal(const platform::Database& sw, const platform::Database& cur);
// A site opened (`site` its directory's name, the station files of DataPath
// open) whose files still carry the name of the root `rootId` they were
// copied from, by a version that copied it: its files are given a name of
// their own, derived once from the root's and the site's, the call file last
// (a kill in between is finished at the next opening), and the root's name is
// kept as the former one. True when anything was renamed.
bool TellSiteApart(const QString& rootId, const QString& site);

// What a recovery of a station file from the log did and could not do.
struct LogRecovery {
    int charges = 0;                // charges applied
    platform::Currency charged;
    QStringList deleted;            // "用户7 张三", deleted again
    QStringList added;              // "用户9 李四", added since and put back with their row
    QStringList lost;               // "用户7 张三：50.00", what the operator enters again
                                    // (or "用户7：..." for a user the file lacks)
    QStringList apart;              // "用户9 李四：余额…", added since under a number the file
                                    // gives to another user: kept out of that user's row
    QStringList returned;           // "用户9 张三", the user the file holds under such a number:
                                    // deleted before it was given again, back with the file
    int moves = 0;                  // payments, deposits and other balance movements applied
    platform::Currency moved;
    bool gap = false;               // entries the file needed are no longer logged
    qint64 gapFrom = 0, gapTo = 0;  // the first number missing, the last one missing
    QList<QPair<qint64, qint64>> gaps;   // each run of numbers missing, first and last
    bool depositsUnchecked = false; // a number missing that no later entry shows the move of: a
                                    // deposit moved there is known neither by user nor amount
    QStringList missing;            // "用户7 张三：...", a difference no entry explains, by user
    bool logPartial = false;        // part of the log could not be read
    bool movedPartial = false;      // part of the journal file could not be read
    int rowsRefused = 0;            // rows of a damaged file that were no users' rows
    QString failed;                 // why the balances could not be brought up to date
    // A station file put back (see RecoverStationFile):
    bool putBack = false;           // this is such a recovery
    int usersKept = 0;              // user rows taken over from the damaged file replaced
    bool callFileUnread = false;    // the call file's log could not be read at all
    bool replacedRead = false;      // the file replaced was read whole (its users, or its money rows)
    bool replacedUntrusted = false; // its rows were read but its mark was not: compared, not taken
    bool foreign = false;           // the file is another station's: nothing was applied to it
    QStringList owners;             // "分机5：…", an extension whose owner the journal contradicts
    QStringList ownersUnset;        // "分机5：备份中属用户0，备份之后改属用户9…", an owner entry that
                                    // could not be replayed (its user is not in the file)
    QStringList ownersDiffer;       // "分机5：恢复前属用户7，恢复后属用户8 乙", where entries lack:
                                    // an owner the put-back changed that no entry gives back
    bool ownersLogged = false;      // the entries past the mark hold owners given or taken
    QStringList unlogged;           // "用户7 张三：3张，共1.65元", calls kept whose entries no file gave
    QStringList unloggedUnsure;     // the same for calls that may be older than the copy, or whose
                                    // user's row came from the file replaced: charged or not, unknown
    QStringList refused;            // "第12笔记账记录金额无效（用户7 张三，话费…）", entries the check refused
    QList<LogEntry> asked;          // the amounts the lines ask for, as their entries (LogKind::Asked) hold them
};

// Names in `r.refused` each entry `refused` holds past `after` that `log`
// lacks (with its user as `sw` knows them, its kind, and what is wrong), and
// takes their numbers out of `r.gaps`: such an entry is there, but unreadable.
// The calls those entries charged, where they read, go to `calls`.
void NameRefused(LogRecovery& r, const RefusedEntries& refused, const QList<LogEntry>& log, qint64 after,
                 const platform::Database& sw, QList<LogEntry>* calls = nullptr);

// The mark a station file put back from a copy stands at: its own, or for a
// file made before the log was numbered, the last entry logged before that copy.
qint64 MarkOfCopy(const platform::Database& sw, const QList<LogEntry>& log);

// Brings station file `sw` (on a connection of its own, or the station's own
// after a restore from a backup) up to `log`, in one transaction: every entry
// past `fileMark`, or past `baseFor[user]` for a user whose row came from a
// newer file that held its charges to that mark. A change of a balance
// between two logged charges that no charge explains (a payment since the
// copy) is listed as lost. The mark ends at the last entry logged.
// `knownLast`: the last number another file is known to have reached (the
// station file it replaces); a number up to it the log lacks is a gap.
// `heldFor`: for a user, the last entry the file is known to hold beyond its mark.
LogRecovery RecoverFromLog(const platform::Database& sw, const QList<LogEntry>& log,
                           const QMap<qint64, qint64>& baseFor, qint64 fileMark, qint64 knownLast = -1,
                           const QMap<qint64, qint64>& heldFor = {});
// A station file of the previous version kept no mark, and its place in the
// log is only guessed from its copy number: for each user, the entry past
// `fileMark` after which the entries give the balance the file holds, or the
// user's entry before the one whose balance before it the file holds (none
// when that is the first: that release logged no payments, so a balance a
// payment moved matches only the entry after it). A backup taken in the
// middle of a session is then brought up by the entries it does not hold.
QMap<qint64, qint64> HeldByUnmarkedCopy(const platform::Database& sw, const QList<LogEntry>& log, qint64 fileMark);

// The open call file's log, with the entries numbered past `after` that were
// moved from it to the journal file, and the rows of the users added;
// `complete` false when part of either could not be read.
QList<LogEntry> OpenLog(qint64 after = 0, bool* complete = nullptr);
// The rows of users added that file `db` keeps, by the number of the entry
// that added them (none when it keeps none or they do not read).
QMap<qint64, QString> UserRowsOf(const platform::Database& db);
// Gives the entries of `log` that added a user the row `rows` holds for them.
void WithUserRows(QList<LogEntry>& log, const QMap<qint64, QString>& rows);
// The entries the station file `sw` keeps of what it applied, as a recovery reads them.
QList<LogEntry> MirrorOf(const platform::Database& sw);
// Keeps `entries` in the station file `sw`'s copy of the log (those it has stay).
void KeepInMirror(const platform::Database& sw, const QList<LogEntry>& entries);
// `log` with the entries of `more` it lacks, by number.
QList<LogEntry> MergedLog(const QList<LogEntry>& log, const QList<LogEntry>& more);
// Brings the station file `stationFile`, just put back from a backup and not
// open, up to the log of the call file `callFile`; the lines its box adds
// (none when nothing was needed). `replaced`, the station file it replaces
// when there is one, gives the entries it applied that the call file lacks,
// and the balances it held: a difference no entry explains is named.
// Throws DbError when it cannot be written.
QStringList RecoverRestoredStationFile(const QString& stationFile, const QString& callFile,
                                       const QString& replaced = QString());
// What a recovery did and could not do, as the operator reads it: each line once.
QStringList RecoveryLines(const LogRecovery& r);
// The account each call was dialled with ("0012"; blank for none), by its
// extension and start as `callKey` gives them: what tells a charge made
// through an account from one made through the extension.
using CallAccounts = QHash<QString, QString>;
// Adds the calls of `table` of `db` (the call file's "Tab_Phone", a station
// file's copy of the calls) to `into`; nothing when the table or its account
// column does not read.
void AddCallAccounts(const platform::Database& db, const QString& table, CallAccounts& into);
// Adds, for the charges of `log` past `fileMark` that `into` lacks, the calls
// the nightly archive moved into the year files of directory `dir`.
void AddArchivedCallAccounts(const QString& dir, const QList<LogEntry>& log, qint64 fileMark, CallAccounts& into);
// The extensions and accounts of station file `sw` whose owner differs from
// the user the latest charge of their calls logged past `fileMark` went to
// (that user not deleted since): an owner given since the copy, which the
// copy lacks. A charge is the account's when its call was dialled with one
// (`accounts`), else the extension's; one whose call `accounts` lacks is said
// of the extension with the doubt. One line each,
// "分机5：现属用户0，备份之后的话费记入用户7 张三", "帐号0012：现属用户7，…".
QStringList OwnersAgainstLog(const platform::Database& sw, const QList<LogEntry>& log, qint64 fileMark,
                             const CallAccounts& accounts);
// Leaves out of `r.lost` the users `r.missing` already names, so each user is named once.
void DropLostNamedAsMissing(LogRecovery& r);

// A user's money as a file holds it: the whole row the comparison reads.
struct MoneyRow {
    QString name;
    platform::Currency remain, deposit;
};
// The money rows of the users' table `table` of `db` ("user" when empty), by
// user, the default user left out; as far as they read.
QMap<qint64, MoneyRow> MoneyRowsOf(const platform::Database& db, const QString& table = QString(), bool* whole = nullptr);
// The one comparison where the journal lacks entries: every difference between
// the money rows `before` (the file replaced) and `after` (the file put back,
// brought up as far as the journal goes), user by user with its amounts, in
// `r.missing`: a user present in one only, a balance, a deposit. A user named
// there is not named again in `r.lost`. Each amount is what `after` lacks
// (before less after), or with `entered` what the put-back entered (after
// less before).
void NameDifferences(const QMap<qint64, MoneyRow>& before, const QMap<qint64, MoneyRow>& after, LogRecovery& r,
                     bool entered = false);

// Who owns each extension and account of station file `db`, by place
// (OwnerPlace), as far as they read (`whole` false when not all did;
// without it, a read that fails throws DbError).
QMap<qint64, qint64> OwnersOf(const platform::Database& db, bool* whole = nullptr);
// The same comparison for owners: every extension and account whose owner in
// `after` (the file put back) differs from `before` (the file replaced's
// owners), in `r.ownersDiffer`, a place `r.owners` or `r.ownersUnset` names
// already left out.
void NameOwnerDifferences(const QMap<qint64, qint64>& before, const platform::Database& after, LogRecovery& r);

// A station file put back (`sw`, on a connection of its own, in the caller's
// transaction, brought up to the journal as far as it goes; `after`, its money
// rows, read whole) differs from the file it replaces (`before`, that file's
// money rows, held up to the last entry): each difference is the put-back's
// own change and becomes an entry (a user removed or put back, a balance or
// a deposit set), numbered past `lastKnown` and every number the file holds,
// kept in the file's copy of the log (a user put back with their row) and the
// mark moved over them; the next opening gives them to the call file's log.
// A later restore of an older copy then replays them instead of undoing them
// unnamed. Returns how many.
int EnterPutBackChanges(const platform::Database& sw, const QMap<qint64, MoneyRow>& before,
                        const QMap<qint64, MoneyRow>& after, qint64 lastKnown);

// The amounts `r` asked for of the users its lines still name (`lost` or
// `missing`) become entries of station file `sw` (LogKind::Asked), in the
// caller's transaction, numbered past `lastKnown` and every number the file
// holds, kept as EnterPutBackChanges keeps its own: one amount is asked for once.
void EnterAsked(const platform::Database& sw, const LogRecovery& r, qint64 lastKnown);

}  // namespace ModSwitch
