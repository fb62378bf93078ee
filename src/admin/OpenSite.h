#pragma once
// Opening a site: the one road the start-up, the change of site and the
// restore of 数据库管理 take to the databases of DataPath. Each road says only
// what it does differently; the steps and their order are here:
//
//   0. a site directory that cannot be written is named (the
//      start-up ends, the change of site goes back)
//   1. a restore a kill interrupted is finished (or forgotten)   finishRestore
//   2. both files checked and compacted, or put back from their
//      safety copies                                             check
//   3. both files opened; at once, the reports a kill kept from the
//      operator shown (the unfinished acts' table, OpenSite.cpp); the
//      station file upgraded, the settings loaded, the shared recordsets
//      opened (default user 0)
//   4. the safety copy of a station file just restored taken anew renewSafetyCopy
//   5. the money: the balances brought up to the charge log
//      (ModSwitch::PrepareChargeLog), once and only here
//   6. `opened`  (start-up: monitor icons, the archive)
//   7. the calls the spool and "Bill.dat" hold, stored           priceWaiting
//   8. `ready`   (boards, the view, the timed backup's window); then the
//      switch's intents a kill left, settled while the line is up
//   9. the box of a restore the operator has not seen yet       tellRestore
//
// A site that cannot be opened ends the station, as at start-up, unless the
// road names a site to fall back on (the change of site: the one it left).
// Nothing here includes a window: the roads hand in what the windows do, and
// the operator hears through core::Notify.
//
//   admin::SiteOpening how;
//   how.fallBack = admin::CurrentSite();    // before DataPath is changed
//   how.ready = [] { ... };
//   const admin::SiteOpened r = admin::OpenSite(how);
#include <QString>
#include <functional>
#include <optional>

namespace admin {

// A data directory and the site it belongs to (DataPath, TerminalName, TerminalID).
struct Site {
    QString dataPath;
    QString name;
    int id = 0;
};
Site CurrentSite();
void MakeCurrent(const Site& site);

// What one road to a site does differently.
struct SiteOpening {
    // The site opened again when this one cannot be (its reason and what its
    // check told come back in SiteOpened). None: the station ends on a file
    // that cannot be checked or opened or on a failed upgrade.
    std::optional<Site> fallBack;
    // A restore just made finished its own journal: nothing to finish.
    bool finishRestore = true;
    // A restore checked the files it put in: they are not checked again.
    bool check = true;
    // A backup was just put back as the station file: the safety copy beside
    // it is numbered and taken from it, before the money moves.
    bool renewSafetyCopy = false;
    // Records a former run took but could not store are stored now.
    bool priceWaiting = true;
    // The lines a restore kept for the operator are shown ("数据恢复成功").
    bool tellRestore = true;
    // The start-up's splash: the values 10, 15 and 20 as the steps pass.
    std::function<void(int value, const QString& text)> progress;
    // After step 5 and after step 7; either may be empty.
    std::function<void()> opened;
    std::function<void()> ready;
};

struct SiteOpened {
    bool opened = true;   // false: the fall-back site is open instead
    QString failure;      // why the site could not be opened
    QString notice;       // what the checks of the fall-back road restored, for a "警告" box
};

SiteOpened OpenSite(const SiteOpening& how);

// The opening's step of the switch's intents a kill left (OpenSite.cpp's
// table of unfinished acts), for the start-up, which opens the line only
// after the opening.
void SettleOnTheLine();

}  // namespace admin
