#pragma once
// The intents written ahead of frames that change money or ownership on the
// switch (`ModSwitch::WriteAhead` in the station file), and their settling.
//
// - "deposit", key the extension's address: a deposit change about to go
//   (transfer/DepositChange.h), settled by the switch's deposit.
// - "release", key the user number: a user's accounts and extensions about
//   to be given back on the switch because the operator deletes the user
//   (the frames, as sent, are in the body). Settled by reading each row back:
//   every row released, the deletion is finished in the station; none, the
//   user stays as the station holds it; some, the released rows are marked
//   for the next download (the user stays, and gets them back) and the
//   operator is told which; no answer, the intent stays and is named.
//
// An unsettled intent is settled before anything for its rows goes again:
// at the start of every table and user download, before a user is deleted,
// and at the opening of a site while the line is up. Within one gesture of
// the operator (OneGesture) a release the switch gave no answer for is asked
// and told once. A deletion finished behind the views is shown by the
// download's view (ModToolbar::DownloadView::UserDeleted).
#include <QString>

namespace transfer {

inline const QString kReleaseIntent = QStringLiteral("release");

// Writes the release intent of user `userId`'s accounts and extensions, as
// DownUserPara(userId, kModeRelease, clearPasswords, ...) will send them.
// Throws platform::DbError when it cannot be written: then nothing may be sent.
void WriteReleaseIntent(qint64 userId, bool clearPasswords = true);

// One gesture of the operator (a console command: 删除 of several users, a
// 下载, a 保存): while one is open, a release the switch gave no answer for
// is not asked again, and its box not shown again, until the gesture ends.
// Gestures nest; the outermost one ends the memory.
class OneGesture {
public:
    OneGesture();
    ~OneGesture();
    OneGesture(const OneGesture&) = delete;
    OneGesture& operator=(const OneGesture&) = delete;
};

// Settles the release intent of `userId` (see above); true when none is left.
// Throws platform::DbError when the station file refuses the outcome (the
// intent then stays).
bool SettleReleaseIntent(qint64 userId);

// Settles every unsettled intent for the switch, when the line is open; what
// cannot be settled now is named to the operator. Never throws: an intent
// whose outcome cannot be written stays for the next time.
// A download of the deposit table leaves the deposit intents to its rows
// (`deposits` false): each is settled as its row comes.
void SettleSwitchIntents(bool deposits = true);

}  // namespace transfer
