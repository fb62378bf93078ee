#include "core/Deposit.h"

#include "core/books/ChargeLog.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "core/books/WriteAhead.h"
#include "core/RecordDisplay.h"
#include "transfer/UserDownload.h"

namespace ModGeneral {

namespace {
platform::Currency threshold(const platform::Database& db, int i) {
    const auto v =
        platform::Currency::parse(ModSwitch::GetVariant(db, QStringLiteral("Deposit%1").arg(i), QString()).trimmed());
    return v ? *v : platform::Currency();
}
}  // namespace

quint8 GetDepositGrade(qint64 userId) { return GetDepositGrade(dbSwitch, userId); }

quint8 GetDepositGrade(const platform::Database& db, qint64 userId) {
    platform::Currency t[4];
    for (int i = 0; i < 4; ++i) t[i] = threshold(db, i);
    platform::Recordset rs = db.query(QStringLiteral("select remain,overdraft,balancemode from %1 where userid=?")
                                          .arg(db.qualified(db.actualTableName(QStringLiteral("user")))),
                                      {userId});
    if (rs.empty() || rs.lng(QStringLiteral("balancemode")) != 0) return 0;
    // The open station file's balance counts the charges logged that it has not taken yet.
    const platform::Currency remain = rs.cur(QStringLiteral("remain"));
    const platform::Currency b =
        (db.connectionSerial() == dbSwitch.connectionSerial() && db.schema() == dbSwitch.schema()
             ? ModSwitch::BalanceOf(userId, remain)
             : remain) +
        rs.cur(QStringLiteral("overdraft"));
    if (t[0] >= b) return 2;
    if (t[1] >= b) return 3;
    if (t[2] >= b) return 6;
    if (t[3] >= b) return 8;
    return 10;
}

bool BookDepositTaken(const platform::Database& db, int address, const platform::Currency& change,
                      const QString& when, const QString& worker, bool history) {
    using platform::Currency;
    const QString deposits = db.actualTableName(QStringLiteral("ExtDeposit"));
    if (deposits.isEmpty()) return true;
    const QString historyTable = db.actualTableName(QStringLiteral("ExtDepositHistory"));
    bool written = !history || change == Currency() || historyTable.isEmpty();
    // The history keeps one row per extension and second.
    if (!written &&
        db.scalar(QStringLiteral("select 1 from %1 where ChangeDate=? and ExtAddr=?").arg(db.qualified(historyTable)),
                  {when, address})
            .isNull()) {
        written = true;
        db.execute(QStringLiteral("insert into %1(ChangeDate,ExtAddr,ChangeValue,WorkerID,ChangeType) values(?,?,?,?,2)")
                       .arg(db.qualified(historyTable)),
                   {when, address, change.toVariant(), worker});
    }
    platform::Recordset rs =
        db.query(QStringLiteral("select ChangeValue from %1 where address=?").arg(db.qualified(deposits)), {address});
    if (!rs.eof()) {
        const Currency now = rs.cur(QStringLiteral("ChangeValue"));
        Currency left = now - change;
        // Withdrawn meanwhile, or typed below what went: nothing is left. Turned
        // the other way: what the operator typed goes as typed.
        if (now == Currency() || (left < Currency()) != (now < Currency())) left = Currency();
        if ((now < Currency()) != (change < Currency())) left = now;
        db.execute(QStringLiteral("update %1 set changevalue=?,bSet=? where address=?").arg(db.qualified(deposits)),
                   {left.toVariant(), left != Currency() ? 1 : 0, address});
    }
    ModSwitch::SettleWriteAhead(db, kDepositIntent, QString::number(address));
    return written;
}

bool CheckDeposit(qint64 userId, bool bPush, bool bForce) {
    platform::Recordset users = userId != 0
        ? dbSwitch.query(QStringLiteral("select userid from user where userid=?"), {userId})
        : dbSwitch.query(QStringLiteral("select userid from user"));
    bool push = bPush;
    for (users.moveFirst(); !users.eof(); users.moveNext()) {
        const qint64 uid = users.lng(QStringLiteral("userid"));
        bool changed = bForce;
        const quint8 g = GetDepositGrade(uid);
        int extRows = 0, accRows = 0;
        {
            // A changed grade is pending for the switch until its download
            // acknowledges the row: station and switch never drift apart unseen.
            platform::Transaction tx(dbSwitch);
            extRows = dbSwitch.execute(
                QStringLiteral("update extension set depositgrade=?,bSet=1 where userid=? and depositgrade<>?"), {g, uid, g});
            accRows = dbSwitch.execute(
                QStringLiteral("update account set depositgrade=?,bSet=1 where userid=? and depositgrade<>?"), {g, uid, g});
            tx.commit();
        }
        if (extRows > 0) changed = true;
        if (accRows == 0 && !changed) continue;
        core::CurrentRecordDisplay().ShowDepositGrade(uid, g);
        // A failed push leaves the rows pending (bSet): they go with the user's
        // next download, and no further user is pushed in this call.
        if (push) push = ModToolbar::DownUserPara(uid, 0, 0, 0, 0);
    }
    return push;
}

}  // namespace ModGeneral
