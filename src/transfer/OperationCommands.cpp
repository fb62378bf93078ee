#include "transfer/OperationCommands.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneralText.h"
#include "core/Settings.h"
#include "core/OpLog.h"
#include "link/FrameCodes.h"
#include "link/ModComm.h"
#include "params/DialDigits.h"
#include "platform/Clock.h"
#include "platform/FlexGrid.h"
#include "platform/Prompts.h"
#include "transfer/RowFrames.h"

#include <QGuiApplication>
#include <QLocale>

namespace OperationCommands {

namespace {

// The hourglass over the station for the length of a command.
class Hourglass {
public:
    Hourglass() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Hourglass() { QGuiApplication::restoreOverrideCursor(); }
};

void say(const QString& text) { platform::MsgBox(text, platform::mbOKOnly, AppName); }
bool confirm(const QString& question, int icon) {
    return platform::MsgBox(question, platform::mbYesNo | icon, AppName) == platform::rYes;
}
bool refused(int right) { return ModGeneral::CheckRight(right, ModGeneral::kRightStatusBar); }

void noWait(QLatin1StringView order) { ModComm::SendOrder(order, false, 4, true); }

// Initialise and reset: an order the switch must take.
void switchOrder(int right, const QString& question, QLatin1StringView order, const QString& logText, const QString& done,
                 const QString& failed) {
    if (refused(right)) return;
    if (!confirm(question, platform::mbExclamation)) return;
    // In its turn: an answer the line still owes an order before is not its.
    ModComm::TurnRun run;
    ModComm::SendResult r = run.send(order);
    if (!run.settle() && r == ModComm::Acknowledged) r = ModComm::AnswerInDoubt;
    if (r == ModComm::Acknowledged) {
        ModComm::SetMonitor(true);
        ModGeneral::AddOpLog(logText);
        say(done);
    } else if (r == ModComm::NoAcknowledgement || r == ModComm::NotWaited) {
        // Nothing heard at all, or no answer to either attempt.
        say(QStringLiteral("集团电话没有应答"));
    } else {
        say(failed);   // the switch refused the order
    }
}

}  // namespace

void mnuConnect_Click() {
    if (refused(28)) return;
    Hourglass wait;
    noWait(FrameCode::kPauseReports);
    noWait(FrameCode::kMonitorOff);
    if (ModComm::OpenComm(false) == ModComm::LinkOpened) {
        ModComm::SetMonitor(true);
        ModGeneral::AddOpLog(QStringLiteral("通信握手"));
        say(QStringLiteral("通信握手成功"));
    } else {
        say(QStringLiteral("通信握手失败"));
    }
    noWait(FrameCode::kResumeReports);
}

void mnuInit_Click() {
    switchOrder(26, QStringLiteral("要初始化系统吗"), FrameCode::kSysInit, QStringLiteral("初始化成功"), QStringLiteral("初始化成功"),
                QStringLiteral("初始化失败"));
}

void mnuReset_Click() {
    switchOrder(27, QStringLiteral("真的要复位系统吗?"), FrameCode::kSysReset, QStringLiteral("系统复位"), QStringLiteral("系统复位成功"),
                QStringLiteral("系统复位失败"));
}

void mnuDownSysTime_Click() {
    if (refused(21)) return;
    if (!confirm(QStringLiteral("下载系统时间有可能产生异常话单,要下载吗"), platform::mbQuestion)) return;
    ModComm::SendResult r = ModComm::NotWaited;
    {
        Hourglass wait;
        noWait(FrameCode::kMonitorOff);
        const QDateTime now = platform::Now();
        const QString order = ModComm::ClockOrder(now);
        if (order.isEmpty()) {
            const QString date = QLocale(QLocale::Chinese, QLocale::China).toString(now.date(), QLocale::ShortFormat);
            say(date + QStringLiteral("日期错误,请输入年份在1980-2079"));
            return;
        }
        r = ModComm::SendOrder(order, true, 4, true);
    }
    if (r == ModComm::Acknowledged) {
        ModGeneral::AddOpLog(QStringLiteral("下载系统时间"));
        say(QStringLiteral("下载系统时间成功"));
    } else if (r == ModComm::NoAcknowledgement || r == ModComm::NotWaited) {
        say(QStringLiteral("集团电话没有应答 "));
    } else {
        say(QStringLiteral("下载系统时间失败"));
    }
}

void mnuCancelMonitor_Click() {
    core::Console* c = core::TheConsole();
    if (!c || !c->fgDisp) return;
    bool ok = false;
    const int uid = c->fgDisp->TextMatrix(GridSelFirst, 0).trimmed().toInt(&ok);
    // Free slots carry -1: only a real user number selects calls.
    if (!ok || uid < 0) return;
    ModComm::TurnRun run;
    for (int s = 0; s < MonSlots.size() && s < 16; ++s) {
        if (MonSlots[s].UserID != uid) continue;
        run.send(FrameCode::kTalkLimit + ModComm::ByteToHex(quint8(MonSlots[s].ExtAddr)) + QStringLiteral("FFFF") +
                 ModComm::ByteToHex(quint8(s)));
        MonSlots[s].UserID = -1;
        MonSlots[s].LimitSet = 0;
    }
}

void mnuDownPara_Click() {
    if (refused(21)) return;
    Hourglass wait;
    QString limits, selCmd;
    try {
        limits = transfer::LimitsFrame(ModSwitch::GetVariant(QStringLiteral("Limit"), QString()));
        selCmd = transfer::SelCmdFrame(ModSwitch::GetVariant(QStringLiteral("SelCmd"), QString()));
    } catch (const transfer::EncodeError&) {
        // Settings the frames cannot carry: nothing goes to the switch.
        say(QStringLiteral("下载系统参数失败"));
        return;
    }
    noWait(FrameCode::kMonitorOff);
    // One after the other, in turn: the second never takes the first's answer.
    ModComm::TurnRun run;
    bool limitsOk = run.send(limits) == ModComm::Acknowledged;
    bool selOk = run.send(selCmd) == ModComm::Acknowledged;
    if (!run.settle()) {
        limitsOk = limitsOk && run.sureRows() >= 1;
        selOk = selOk && run.sureRows() >= 2;
    }
    if (limitsOk && selOk) {
        ModGeneral::AddOpLog(QStringLiteral("下载系统参数"));
        say(QStringLiteral("下载系统参数成功"));
    } else if (selOk) {
        say(QStringLiteral("下载限时参数失败"));
    } else if (limitsOk) {
        say(QStringLiteral("下载连选命令失败"));
    } else {
        say(QStringLiteral("下载系统参数失败"));
    }
}

void mnuUPSendPara_Click() {
    if (refused(21)) return;
    core::SetConsoleEnabled(false);
    QString message;
    try {
        const transfer::SystemParams p = transfer::ReadSystemParams();
        if (p.limits == transfer::SystemParams::Read) ModSwitch::SetVariant(QStringLiteral("Limit"), p.limitSetting());
        if (p.selCmd == transfer::SystemParams::Read) ModSwitch::SetVariant(QStringLiteral("SelCmd"), p.selCmdSetting());
        if (p.complete()) ModGeneral::AddOpLog(QStringLiteral("上传系统参数"));
        message = p.message();
    } catch (const std::exception&) {
        core::SetConsoleEnabled(true);
        return;
    }
    say(message);
    core::SetConsoleEnabled(true);
}

}  // namespace OperationCommands
