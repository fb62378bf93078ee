#pragma once
// The process-wide state every subsystem shares. One thread: the globals are
// read and written by nested event code without locks.
#include "platform/Currency.h"
#include "platform/Db.h"
#include "pricing/PricingRecords.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

// One supervised call: a slot per switching channel (0 to 15).
struct MonSlot {
    platform::Currency Balance;
    int ExtAddr = 0;
    qint32 UserID = 0;     // -1 = slot free
    qint32 TalkSecs = 0;
    QDateTime StartTime;
    QDateTime EndTime;
    int IsIPCall = 0;
    int LimitSet = 0;
    DayRule Days, IPDays;
    RateRec Rate, IPRate;
    QVector<DiscountSeg> Segs, IPSegs;
};

struct MonResRec {
    int channelpicture = 0;
    QString channeltext;
    int userpicture = 0;
    QString Usertext;
};

namespace ModDefine {

inline constexpr const char* kDbPassword = "KR305WLP";  // kept for the record; our files carry none

// Paths: both end with "/" (the station's "\").
extern QString AppPath;
extern QString DataPath;
extern int SwitchModel;
extern QString TerminalName;
extern int TerminalID;
extern QString AppName;
extern QString AppCompany;

// Logged-in worker.
extern QString WorkerID;
extern QString WorkerName;
extern QStringList WorkerRights;
extern QStringList WorkerRightNames;

// Databases and shared recordsets.
extern platform::Database dbSwitch;
extern platform::Database dbPhoneCur;
extern platform::Recordset rsUser;
extern platform::Recordset rsFeeRate;
extern platform::Recordset rsIPHead;

extern QVector<MonSlot> MonSlots;
extern QVector<MonResRec> MonRes;
extern QStringList LanHeadTypeList;
extern QStringList g_ModifyList;

// Current view.
extern QString CurTable;
extern QString CurSQL;                  // the query of the table view shown
extern platform::Params CurSQLParams;   // and the values bound into it
extern QString ParaMode;
extern bool g_Modified;
extern qint32 GridSelFirst, GridSelLast;
extern qint32 SelRowFirst, SelRowLast;
// The grid column of the cell being edited in place; the older name
// GridMouseRow (a column, despite its name) and the tariff editors' name
// GridEditCol are the same variable: one in-place edit runs at a time.
extern int GridMouseCol;
extern int& GridMouseRow;
extern int& GridEditCol;
extern int GridSelColFirst, GridSelColLast;
// An in-place editor opened by a double-click and not yet committed.
extern bool g_Editing;

// System parameters (LoadSysPara).
extern bool PrnType;
extern int PrnHD;
extern bool SHPrnHD;
extern int TransferDisplay;
extern int TransferCharge;
extern int FeeHDTime;
extern int FeeType;

// Link state (the line in use is the link's own choice: link/Transport.h).
extern int g_NoAnswerCount;
extern bool g_MonitorOn;
extern int RecordErrCount;
extern int g_TestMode;
extern bool g_UsbError;

// Puts every global back to its state before start-up (tests).
void ResetGlobals();
// Frees every supervision slot: UserID -1, LimitSet 0, the rest kept.
void FreeAllSlots();

}  // namespace ModDefine

using namespace ModDefine;
