#pragma once
#include <functional>
#include <memory>
// The call-pricing engine. A fresh instance handles one call-record frame, one
// live-call frame or one balance change, and keeps nothing afterwards: what
// outlives a frame is in MonSlots and in the databases.
#include "core/BillLine.h"
#include "pricing/PricingRecords.h"
#include "platform/Currency.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVector>

struct MonSlot;
namespace pricing { struct IpHeadRow; }

class ClsMonitor {
public:
    // The operator changed the spendable amount of the user whose call runs in `slot`.
    void UpdateMonitor(int slot, platform::Currency balance);
    // A live-call frame "A011" (17 bytes, a checksum after them is ignored).
    void Monitor(const QByteArray& frame);
    // A call-record frame "961D" (29 bytes, a checksum after them is ignored).
    // True when stored, rejected as duplicate or too short, or logged as a wake-up event.
    bool Record(const QByteArray& frame, bool bSendFee);
    // A call record the switch was already told is taken (from the spool or
    // "Bill.dat"): priced, stored and charged (unless `charge` is false) as the
    // switch's own, nothing sent for it; `markDone` runs in the transaction
    // that keeps it. A record that fails by its own content is kept as a
    // reject row. False when storing fails.
    bool StoreSpooled(const QByteArray& frame, const std::function<void()>& markDone, bool charge = true);
    // Keeps a taken record that cannot be priced (damaged on the disk) as a
    // reject row, `markDone` in its transaction. False when storing fails.
    bool StoreReject(const QByteArray& frame, const std::function<void()>& markDone);

    // ---- The pricing steps that need no instance (used by the engine, tested directly).

    // The four parts of a call's fee.
    struct Fees {
        platform::Currency fee, addFee1, addFee2, gateFee;
        platform::Currency total() const { return fee + addFee1 + addFee2 + gateFee; }
    };
    // What `duration` seconds from `start` cost under one rate; `start` is wall-clock time.
    static platform::Currency CalcFee(const RateRec& rate, const QVector<DiscountSeg>& segs, const DayRule& days,
                                      const QDateTime& start, qint64 duration, Fees& out);
    // -1 for a discounted day (weekend flag or listed month and day), else 0.
    static int GetDayType(const QDate& d, const DayRule& days);
    // Percent charged at time of day `t`; `secsLeft` gets the seconds to the segment's end, both ends counted.
    static int GetTimeDiscount(const QTime& t, int dayType, qint32& secsLeft, const QVector<DiscountSeg>& segs);
    // Reads a discount scheme: its segments into `segs`, its day rule as the result.
    static DayRule LoadDiscount(int discountid, QVector<DiscountSeg>& segs);
    // The same from the copy the pricing holds with the tariffs (RateCache).
    static DayRule HeldDiscount(int discountid, QVector<DiscountSeg>& segs);
    // The fee frame "950820..." (without checksum) for a stored call.
    static QString FeeOrder(quint8 extLow, platform::Currency total, quint8 channelByte);

private:
    struct UserRow {
        bool found = false;
        qint32 userid = 0;
        QString username;
        // remain: with the charges logged that the station file has not
        // taken yet (ReadUser); held: as the station file holds it (FindUser,
        // whose record reads the balance where it is stored).
        platform::Currency remain, held, overdraft;
        int balancemode = 0;
        bool printonce = false;
    };

    // Frame decoding and routing.
    bool ParseRecord(const QByteArray& frame);
    void GetRoute(bool bForwarded);
    qint32 FindUserId(const QString& account, int extAddr);
    static UserRow ReadUser(qint32 userid);
    static UserRow FindUser(const QString& account, int extAddr);
    bool Classify(MonSlot& slot);   // true when the rates charge nothing for talk time
    bool GetFeeRate(RateRec& rate, int rateType, const pricing::IpHeadRow* currentHead);

    // The 29 bytes of a record frame, a short one filled up (and traced).
    QByteArray RecordFrame(const QByteArray& frameIn);
    // Handling of one record up to its answer; true when taken.
    bool Handle(const QByteArray& frame, bool bSendFee);
    // A database refusing to store (not the record's content) marks m_StoreFailed.
    void NoteStoreFailure(const std::exception& e);
    // Keeps the record as a reject row; false when it could not be stored.
    bool KeepReject(const QByteArray& frame);

    // Storage and answers.
    bool IsDuplicate(const QDateTime& start, int extAddr);
    bool SaveRecord(platform::Currency total, bool bSendFee);
    void AfterStore(platform::Currency total, bool bSendFee);
    void InsertReject(const QByteArray& frame);
    bool RecordAwake(const QByteArray& frame);
    ModSwitch::BillLine StoredLine() const;   // the call as the bill view and the ticket list it
    void ShowRecord();
    bool PrintRecordTicket();
    void Answer(bool result, bool bSendFee, const QByteArray& frame);

    // Live calls.
    void SendTimeLimit(platform::Currency balance);

    MonSlot& slot() const;
    // The record's error road: the first failure of a record is written to the
    // trace ("Record Error:"), later ones of the same record are not.
    void TraceError(const QString& description);
    // Runs a step after the record is safely stored; its failure is reported
    // and undoes nothing.
    void afterCommit(const char* what, std::function<void(ClsMonitor&)> fn);

    int m_Slot = 0;
    quint8 m_Channel = 0;   // frame byte 16 whole, echoed in the fee frame
    int m_RecType = 0;
    int m_CallType = 0;
    qint64 m_Duration = 0;
    qint32 m_UserID = 0;
    Fees m_Fees;
    platform::Currency m_LinkFee;
    QString m_DispNumber;
    QString m_InDigits;
    QString m_Account = QStringLiteral("    ");
    QString m_Place;
    QString m_Called;
    bool m_FreeCall = false;
    UserRow m_User;
    QString m_Error;             // why decoding or storing failed
    bool m_ErrorTraced = false;
    bool m_StoreFailed = false;            // a database refused to store, the record itself is fine
    bool m_Replay = false;                 // a spooled record: the switch hears nothing of it
    std::function<void()> m_InStore;       // runs inside the transaction that keeps the record
    std::shared_ptr<MonSlot> m_SlotCopy;   // the channel as it was, for a step run after a batch commits
};

namespace pricing {
// Where the engine reports a record it could not handle (the protocol trace,
// "Record Error:" and the description). Tests may read the lines back.
void LogRecordError(const QString& description);
QStringList RecordErrorLog();
void ClearRecordErrorLog();
// Why the last record handled could not be stored when a year file the
// duplicate check reads could not be (its name and cause), "" otherwise: a
// fault that stays until the operator acts, which the spool names.
QString YearFileFault();

namespace testing {
// Called right after a call record and its charge committed, before anything
// is answered: where a crash test ends the process.
void setStoredHook(std::function<void()> hook);   // null removes it
}  // namespace testing
}  // namespace pricing
