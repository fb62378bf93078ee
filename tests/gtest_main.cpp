// Every test executable runs with a QApplication (offscreen), so windows,
// timers and event loops work as in the station.
#include "console/frmPABX.h"
#include "core/Console.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    // The frame makes the station's own console, as in the station.
    core::SetConsoleMaker([]() -> core::Console* { return &frmPABX::instance(); });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
