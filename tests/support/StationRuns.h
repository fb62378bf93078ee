#pragma once
// The station run as a process of its own on a data directory: no switch on
// the line (the files are what matters, and it goes on without one), the
// clock at 2026-06-15 10:00, a restore's success answered, ended at once.
#include "support/Fixtures.h"
#include "support/StationProcess.h"

#include <gtest/gtest.h>
#include <memory>

namespace testsupport {

inline QStringList quietStationArgs(const QStringList& extra = {}) {
    return QStringList{"--no-switch", "--answer", "与集团电话通讯失败=yes", "--clock", "2026-06-15 10:00:00",
                       "--stay-ms", "0", "--answer", "数据恢复成功=ok"} +
           extra;
}

// The station started on `d` with `extra` and waited for to its end.
inline std::unique_ptr<StationProcess> runStation(const StationDir& d, const QStringList& extra = {}) {
    auto p = std::make_unique<StationProcess>(d.appPath(), quietStationArgs(extra));
    p->start();
    EXPECT_TRUE(p->waitEnded(120000));
    return p;
}

}  // namespace testsupport
