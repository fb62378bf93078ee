#pragma once
// The commands that act on the switch as a whole (menu "操作命令" of the
// console): handshake, initialise, reset, the switch clock, the system
// parameters down and back, and the grid popup's cancel monitoring.
//
// The console's menu items call these after its own check for an open
// in-place editor (InputVisible); each checks its right here. Outcomes are
// shown in message boxes titled AppName.
namespace OperationCommands {

void mnuConnect_Click();        // "通信握手", right 28
void mnuInit_Click();           // "初 始 化", right 26
void mnuReset_Click();          // "系统复位", right 27
void mnuDownSysTime_Click();    // "下载时间", right 21; also the settings window's
void mnuCancelMonitor_Click();  // "取消监控": the user in column 0 of the first selected grid row
void mnuDownPara_Click();       // "下载参数": "Limit" and "SelCmd" to the switch, right 21
void mnuUPSendPara_Click();     // "上传参数": both read back into the settings, right 21

}  // namespace OperationCommands
