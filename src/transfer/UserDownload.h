#pragma once
// The downloads the engine makes itself: one billing user's accounts and
// extensions, sent when a deposit grade changed, a user is saved, locked or
// deleted, and a set of account or extension rows. Building the frames,
// waiting for each acknowledgement and clearing the pending flags happen
// here; what the windows show of it (the progress window's steps, the console
// grid's rows given their normal colour again) goes through the DownloadView
// the windows register. Without one nothing is shown.
//
// Every row is one order frame sent with the acknowledgement wait (4 seconds,
// two attempts); a row's pending flag is cleared only once the switch has
// acknowledged it, and the first row not acknowledged ends the download with
// the remaining rows still pending. The waits yield to window events, so
// none of these may be called inside an open transaction.
#include "platform/Db.h"
#include "transfer/SwitchIntents.h"

#include <QString>

namespace ModToolbar {

// What the windows show of a download, told as the rows go.
class DownloadView {
public:
    virtual ~DownloadView() = default;
    // One step of the progress window, when one is loaded.
    virtual void Step(const QString& text) = 0;
    // The switch acknowledged the account or extension row at `address`.
    virtual void AccountSent(qint64 address) = 0;
    virtual void ExtensionSent(qint64 address) = 0;
    // True while extension rows go: the console grid need not draw meanwhile.
    virtual void HoldDrawing(bool hold) = 0;
    // A deletion the station finished behind the views (a release settled by
    // a later download, save or opening): the user's row leaves the view with
    // its unsaved edits, so that no save stores the user again.
    virtual void UserDeleted(qint64 /*userId*/) {}
};
// Makes `v` the view of the downloads (null: none).
void SetDownloadView(DownloadView* v);
// Tells the view that `userId` was deleted (see DownloadView::UserDeleted).
void ShowUserDeleted(qint64 userId);

// Sends the account rows of `rs` (all columns of Account), then "810300".
// mode: 0 as stored (limited by lock and deposit grade), 1 the owner is
// locked, 2 the accounts are given back (code FFFF). clearPassword clears the
// password of every account sent; showProgress steps the loaded progress
// window once a row. False when a row was not acknowledged or could not be
// encoded (no "810300" then); never throws.
bool DownAccount(platform::Recordset& rs, int mode, bool clearPassword, bool showProgress);

// Sends the extension rows of `rs` (all columns of Extension); the same modes.
// No table frames. False when a row was not acknowledged; a row that cannot
// be encoded, or a database error, throws (transfer::EncodeError, platform::DbError).
bool DownExtPara(platform::Recordset& rs, int mode, bool clearPassword, bool showProgress);

// Sends one user's accounts, "810300", then the user's extensions; the
// extensions only when the accounts all went. User 0 (the default user) is
// sent only when `force` is non-zero; otherwise the result is true at once.
// True when everything was acknowledged. Errors of the extension half (a row
// that cannot be encoded, a database error) throw as DownExtPara's do.
// Callers: the deposit check (uid, 0, 0, 0, 0), the user save (uid, 0, 0, 0, 0),
// the user delete (uid, 2, 1, 0, 0), settlement's lock and delete (uid, 1 or 2, 0, 0, 0),
// the user table download (uid, locked ? 1 : 0, 0, 1, 1).
bool DownUserPara(qint64 userId, int mode, int clearPassword, int force, int showProgress);

}  // namespace ModToolbar
