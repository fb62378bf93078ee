#include "transfer/DepositChange.h"

#include "core/ModDefine.h"
#include "core/Notices.h"
#include "link/FrameCodes.h"
#include "link/FrameReader.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "platform/Db.h"
#include "platform/MsgCodes.h"
#include "transfer/UpRecords.h"

namespace transfer {

namespace {

void tellOperator(int address, qint64 change) {
    QString number = QString::number(address);
    try {
        const QVariant txhm = dbSwitch.scalar(QStringLiteral("select txhm from que_txhm where address=?"), {address});
        if (!txhm.isNull() && !txhm.toString().trimmed().isEmpty()) number = txhm.toString().trimmed();
    } catch (const platform::DbError&) {
    }
    const QString text = QStringLiteral("交换机没有确认分机%1的押金改变%2，也无法查明是否已生效。该改变未再发送，仍待下载；"
                                        "请先上传分机押金核实交换机上的押金。")
                             .arg(number, platform::Currency::fromFen(change).toString2());
    LinkTrace::Note(text);
    core::Notify(text, platform::mbOKOnly | platform::mbExclamation, AppName);
}

}  // namespace

std::optional<qint64> AskDeposit(int address) {
    QByteArray answer;
    if (ModComm::GetOrder(answer, FrameCode::kExtDepositRow, false, FrameCode::kReadDeposit + ModComm::ByteToHex(quint8(address)),
                          5) != ModComm::GotAnswer)
        return std::nullopt;
    // Kind 0 (bits 1-2 of byte 3) is the deposit itself, not a change. A
    // shorter answer says nothing.
    if (answer.size() < 7) return std::nullopt;
    const ModComm::FrameReader f(answer);
    if (f.byte(2) != quint8(address) || (f.byte(3) & 0x03) != 0) return std::nullopt;
    return DepositFen(answer);
}

bool SendDepositChange(ModComm::TurnRun& run, int address, const QString& frame, qint64 change) {
    // Nothing to take twice: sent as any row.
    if (change == 0) return run.send(frame) == ModComm::Acknowledged;
    // The question goes in its turn, so that no answer of the rows before is
    // still on its way when the change goes.
    run.quietForAsk();
    const std::optional<qint64> before = AskDeposit(address);
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool certain = false;
        const ModComm::SendResult result = run.sendAlone(frame, certain);
        if (result == ModComm::Acknowledged && certain) return true;
        // Any other answer, or none, or one another answer contradicts: the
        // switch's deposit says whether it took the change. It is never sent
        // again before that is known.
        std::optional<qint64> after;
        if (before) {
            run.quietForAsk();
            after = AskDeposit(address);
        }
        if (!after || (*after != *before && *after != *before + change)) {
            tellOperator(address, change);
            return false;
        }
        if (*after == *before + change) {
            LinkTrace::Note(QStringLiteral("分机%1的押金改变已被交换机接受, 其确认未能确定").arg(address));
            return true;
        }
        // Not taken. A refusal heard for certain is the switch's word: the
        // change stays pending. A damaged frame, or an answer not its own,
        // lets it go once more.
        if (result == ModComm::SwitchRefused && certain) {
            LinkTrace::Note(QStringLiteral("交换机拒绝了分机%1的押金改变").arg(address));
            return false;
        }
    }
    return false;
}

}  // namespace transfer
