#pragma once
// The sends to the switch that editing and saving make at once, in the
// parameter transfer's terms.
#include <QHash>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace ModSwitch {

// The account at `address` sent as one row (the single-row account download);
// true when the switch acknowledged it.
bool SendAccountNow(qint64 address);
// One user's accounts and extensions sent to the switch (mode 0 as they
// stand, 2 released); true when the switch took them.
bool SendUserPara(qint64 userId, int mode, bool clearPasswords);
// Before a user's accounts and extensions are released (mode 2): every
// unsettled intent for the switch settled, then the release's own written
// ahead (throws platform::DbError when it cannot be: nothing may be sent).
void WriteUserRelease(qint64 userId);
// Before a view of users is walked (a save, a deletion): when a release
// waits, every intent for the switch is settled, a deletion the switch
// finished leaving the view (ModToolbar::DownloadView::UserDeleted).
void SettleUserReleases();
// After a release that was not all acknowledged: the switch's rows read back,
// the user kept or the deletion finished, and the operator told. False when
// the switch gave no answer (the release stays to be settled later).
bool SettleUserRelease(qint64 userId);
// The record of the release, settled in the caller's transaction (the deletion's).
void ReleaseDone(qint64 userId);

// What the switch is to hold of the stored row of `table` ("Extension" or
// "Account") at `address`: the frame the download would send, as the row and
// its owner stand now, with the row's deposit grade; "" for a row that is not
// there. A row whose state changes (a change of owner, of the owner's lock or
// way of paying, of grade) waits for its download.
QString SwitchRowState(const QString& table, qint64 address);
// The same for every row of `table` owned by one of `owners`, by address.
QHash<qint64, QString> OwnedRowStates(const QString& table, const QList<qint64>& owners);

// The extension and account rows of some owners as the switch is to hold
// them, taken before a change to those owners (lock, way of paying, deposit)
// or to who owns the rows. MarkChanged then marks every row whose state the
// change moved as waiting for its download (bSet), and returns how many: the
// switch learns of it with the next download, or at once when pushed.
class OwnedRowsBefore {
public:
    explicit OwnedRowsBefore(const QList<qint64>& owners);
    int MarkChanged() const;

private:
    QList<qint64> owners_;
    QHash<qint64, QString> ext_, acc_;
};

}  // namespace ModSwitch
