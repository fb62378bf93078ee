#include "link/DepositEvents.h"

#include "core/ModDefine.h"
#include "link/FrameCodes.h"
#include "link/FrameReader.h"
#include "link/LinkWindows.h"
#include "params/DialDigits.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/GridText.h"

namespace ModGeneral {

bool IsDepositEvent(const QByteArray& frame) {
    const ModComm::FrameReader f(frame);
    if (f.size() < 29 || !f.is(FrameCode::kCallRecord)) return false;
    const quint8 type = f.byte(28);
    return type == 0x0A || type == 0x1A;
}

DepositEvent ReadDepositEvent(const QByteArray& frame) {
    const ModComm::FrameReader f(frame);
    DepositEvent e;
    e.when = f.dateTime(17, platform::Now().date());
    e.amount = platform::Currency::fromFen(f.amount(22));
    e.address = f.byte(3);
    e.kind = f.byte(28) == 0x0A ? 0 : 1;
    return e;
}

bool StoreDepositEvent(const DepositEvent& e) {
    try {
        return dbSwitch.execute(QStringLiteral("insert into extdeposithistory (ChangeDate, ExtAddr, ChangeValue, "
                                               "WorkerID, ChangeType) values(?,?,?,'',?)"),
                                {e.when, e.address, e.amount, int(e.kind)}) > 0;
    } catch (const platform::DbError&) {
        // The same event stored before counts as stored.
        platform::Recordset rs = dbSwitch.query(
            QStringLiteral("select ChangeValue, ChangeType from extdeposithistory where ChangeDate=? and ExtAddr=?"),
            {e.when, e.address});
        if (rs.eof() || rs.cur(QStringLiteral("ChangeValue")) != e.amount ||
            rs.lng(QStringLiteral("ChangeType")) != e.kind)
            throw;
        return false;
    }
}

void ShowDepositEvent(const DepositEvent& e) {
    if (CurTable != QLatin1String("ExtDepositHistory")) return;
    LinkWindows::AddDepositLine(platform::GridLine({e.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                                    ModSwitch::ExtNumberOf(e.address), e.amount.toString2(), QString(),
                                                    e.kind == 0 ? QStringLiteral("累计") : QStringLiteral("扣除")}));
}

}  // namespace ModGeneral
