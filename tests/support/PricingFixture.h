#pragma once
// A fresh station opened for the pricing, a fixed clock, and call-record and
// live-call frames built byte by byte from their fields.
#include "core/ModDefine.h"
#include "support/Fixtures.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

namespace pricingtest {

using platform::Currency;

inline Currency yuan(const char* text) { return *Currency::parse(QString::fromLatin1(text)); }

struct CallRecord {
    int ext = 5;
    QString called = QStringLiteral("88001234");
    quint8 channel = 0x03;       // byte 16 whole
    QDateTime start;             // only month, day and time travel
    int seconds = 125;
    QString account;             // "" = no account (FF FF)
    int type = 0;                // byte 28
    QString inDigits;            // byte 4
    QByteArray frame() const;    // the 29 bytes (no checksum)
};

// A live-call frame "A011": kind 0 outgoing, 1 incoming, 2 between extensions.
QByteArray liveFrame(int ext, const QString& dialled, int slot, int kind = 0, const QString& account = {},
                     bool forwarded = false);

class PricingTest : public testsupport::StationTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Orders the engine queued for the switch since the last call, as hex without checksum.
    QStringList sent();
    void addUser(qint32 id, const char* remain, int balancemode = 0, const char* overdraft = "0");
    void setExtensionUser(int address, qint32 userid);
    void addRate(const QString& zone, int type, const char* first, const char* per, int firsttime = 60,
                 int pertime = 60, int feerateid = 0, const QString& summary = {}, int discountid = 1);
    void reopenRates();   // what the tariff windows do when they close
    // User 7 on extension 5, local calls (8…) at 0.20 for the first three minutes, 0.10 a minute after.
    void localCaller(const char* remain, int balancemode);
    // Closed and started again: both files checked, compacted and copied.
    void restart();
    // Ten days on, two starts: the entries settled move to the journal file
    // (the log keeps its last one); then, `lost`, that file lost with the
    // station closed and the start that finds it gone (its box answered).
    void settleIntoJournalFile(bool lost);
    Currency remainOf(qint32 userid);
    qint64 count(const char* table, const QString& where = {}, const platform::Params& params = {});
    QDateTime now;
};

}  // namespace pricingtest
