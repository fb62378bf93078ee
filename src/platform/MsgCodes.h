#pragma once
// The buttons, icons and answers of a message box, numbered as the station's
// code writes them. Widget-free: the engine asks through core::Notices with
// these codes, the windows show the box through platform::MsgBox.

namespace platform {

enum MsgButtons { mbOKOnly = 0, mbOKCancel = 1, mbAbortRetryIgnore = 2, mbYesNoCancel = 3, mbYesNo = 4,
                  mbRetryCancel = 5, mbCritical = 16, mbQuestion = 32, mbExclamation = 48, mbInformation = 64,
                  mbDefaultButton2 = 256 };
enum MsgResult { rOK = 1, rCancel = 2, rAbort = 3, rRetry = 4, rIgnore = 5, rYes = 6, rNo = 7 };

}  // namespace platform
