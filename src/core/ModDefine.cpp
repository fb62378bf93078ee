#include "core/ModDefine.h"

namespace ModDefine {

QString AppPath;
QString DataPath;
int SwitchModel = 0;
QString TerminalName;
int TerminalID = 0;
QString AppName = QStringLiteral("DE Duzariv");
QString AppCompany = QStringLiteral("本公司");

QString WorkerID;
QString WorkerName;
QStringList WorkerRights;
QStringList WorkerRightNames;

platform::Database dbSwitch;
platform::Database dbPhoneCur;
platform::Recordset rsUser;
platform::Recordset rsFeeRate;
platform::Recordset rsIPHead;

QVector<MonSlot> MonSlots;
QVector<MonResRec> MonRes;
QStringList LanHeadTypeList;
QStringList g_ModifyList;

QString CurTable = QStringLiteral("MonCard");
QString CurSQL;
platform::Params CurSQLParams;
QString ParaMode;
bool g_Modified = false;
qint32 GridSelFirst = 0, GridSelLast = 0;
qint32 SelRowFirst = 0, SelRowLast = 0;
int GridMouseCol = 0;
int& GridMouseRow = GridMouseCol;
int& GridEditCol = GridMouseCol;
int GridSelColFirst = 0, GridSelColLast = 0;
bool g_Editing = false;

bool PrnType = false;
int PrnHD = 0;
bool SHPrnHD = false;
int TransferDisplay = 0;
int TransferCharge = 0;
int FeeHDTime = 0;
int FeeType = 0;

int g_NoAnswerCount = 10;
bool g_MonitorOn = false;
int RecordErrCount = 0;
int g_TestMode = 0;
bool g_UsbError = false;

void ResetGlobals() {
    AppPath.clear();
    DataPath.clear();
    SwitchModel = 0;
    TerminalName.clear();
    TerminalID = 0;
    AppName = QStringLiteral("DE Duzariv");
    AppCompany = QStringLiteral("本公司");
    WorkerID.clear();
    WorkerName.clear();
    WorkerRights.clear();
    WorkerRightNames.clear();
    rsUser.close();
    rsFeeRate.close();
    rsIPHead.close();
    dbPhoneCur.close();
    dbSwitch.close();
    dbSwitch = {};
    dbPhoneCur = {};
    MonSlots.clear();
    MonRes.clear();
    LanHeadTypeList.clear();
    g_ModifyList.clear();
    CurTable = QStringLiteral("MonCard");
    CurSQL.clear();
    CurSQLParams.clear();
    ParaMode.clear();
    g_Modified = false;
    GridSelFirst = GridSelLast = SelRowFirst = SelRowLast = 0;
    GridMouseCol = 0;
    GridSelColFirst = GridSelColLast = 0;
    g_Editing = false;
    PrnType = false;
    PrnHD = 0;
    SHPrnHD = false;
    TransferDisplay = TransferCharge = FeeHDTime = FeeType = 0;
    g_NoAnswerCount = 10;
    g_MonitorOn = false;
    RecordErrCount = 0;
    g_TestMode = 0;
    g_UsbError = false;
}

void FreeAllSlots() {
    for (MonSlot& s : MonSlots) {
        s.UserID = -1;
        s.LimitSet = 0;
    }
}

}  // namespace ModDefine
