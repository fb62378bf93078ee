#pragma once
// A site for the benchmarks of the start: a fresh data directory in a
// temporary folder with users of 1000.00 each, and its opening as the
// start-up does it.
#include "core/ModDefine.h"
#include "core/books/SafetyCopies.h"
#include "core/Schema.h"
#include "core/StationFiles.h"
#include "platform/Currency.h"
#include "platform/Db.h"

#include <QTemporaryDir>
#include <string>

namespace benchsite {

// The station's globals pointed at the data directory under `root`.
inline void useSite(const QTemporaryDir& root) {
    ModDefine::AppPath = root.path() + "/";
    ModDefine::DataPath = ModDefine::AppPath + "data/";
}

// A fresh data directory under `root`, opened, with users 1 to `users`.
inline bool freshSite(const QTemporaryDir& root, int users, std::string* error) {
    useSite(root);
    QString e;
    if (!core::schema::WriteFreshDataDir(ModDefine::DataPath, 0, &e) || !ModSwitch::TryOpenAllDB(&e)) {
        *error = e.toStdString();
        return false;
    }
    platform::Transaction tx(dbSwitch);
    for (int u = 1; u <= users; ++u)
        dbSwitch.execute(QStringLiteral("INSERT INTO user (userid, username, balancemode, remain) VALUES (?, ?, 1, ?)"),
                         {u, QStringLiteral("u%1").arg(u), platform::Currency::fromYuan(1000)});
    tx.commit();
    return true;
}

// Opening a site as the start-up does: both files checked, compacted and
// their safety copies taken, then opened.
inline bool openSite(QString* failure) {
    ModSwitch::CompactDB(QStringLiteral("Switch.mdb"));
    ModSwitch::CompactDB(QStringLiteral("PhoneCur.mdb"));
    return ModSwitch::TryOpenAllDB(failure);
}

}  // namespace benchsite
