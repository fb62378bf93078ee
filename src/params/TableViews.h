#pragma once
// The views of the parameter tables that need more than the generic loader,
// the row colouring of the console grid, the call-record view and the small
// lookups these use.
#include "core/BillLine.h"
#include "platform/Currency.h"
#include "platform/Db.h"
#include "platform/FlexGrid.h"

#include <QString>

namespace ModSwitch {

// Trunk rows up to and including 4 x the trunk boards; returns that bound.
// With `fill` false only the bound is computed.
int ShowRelayGrid(platform::FlexGrid& grid, const QString& table, bool fill);
// Extension rows below (highest subscriber slot - 6) x 8; returns that bound.
int ShowExtGrid(platform::FlexGrid& grid, const QString& table, bool fill);
// Extension deposits with their dialable numbers. Returns 0.
int ShowExtDeposit(platform::FlexGrid& grid, const QString& table, bool flag);
// The switch's own fee rates, columns by switch model. Returns 0.
int ShowPabxFeeRate(platform::FlexGrid& grid, const QString& table, bool flag);
// The switch's own time segments, columns by switch model. Returns 0.
int ShowPabxTimes(platform::FlexGrid& grid, const QString& table, bool flag);

// The 17 tab-separated cells of the bill view; `kinds` is the 话单类型 option list.
QString BillRowText(const BillLine& line, const QStringList& kinds);
// The account cell: blank for none, a number as four digits ("0012"), other text as it is.
QString BillAccountText(const QString& stored);

// Call records of `rs` into the console grid, each inserted as row 1.
void ShowBillGrid(platform::Recordset& rs);
// Name of a user, "默认用户" when there is none.
QString UserNameById(qint64 userId);

// Colours every non-fixed cell of a row; the current column goes back to the
// first non-fixed one.
void SetRowColor(platform::FlexGrid& grid, int row, quint32 color);
void SetRowColor(int row, quint32 color);   // console grid
// Extension grid: the number part (columns 1, 2) or the parameters (3..last).
void SetRowColor3(platform::FlexGrid& grid, int row, quint32 color, bool bNumberPart);
void SetRowColor3(int row, quint32 color, bool bNumberPart);   // console grid

// One switching channel into the channel list (fgMon 0).
void ShowPortState(int channel, int state, int port1, int port2, int port3);
// "" for 255, the extension number below 120, "中继n" for 224..239, else the number.
QString PortName(int address);

// The number for a new user: the counter "UserCount", or one above the
// largest user id when the counter is missing or already taken, never below a
// number a user was added under (FirstFreeUserNumber); the counter then holds
// the next one.
qint64 NextUserCount();
inline qint64 NextUserID() { return NextUserCount(); }

// Every extension gets a valid head and number; the numbers go into the port grid.
void InitExtNumber();
// Passes a user's new balance to the running call in supervision slot nSlot.
void NewMonitor(int nSlot, platform::Currency cyBalance);

}  // namespace ModSwitch
