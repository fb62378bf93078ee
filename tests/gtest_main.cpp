// Every test executable runs with a QApplication (offscreen), so windows,
// timers and event loops work as in the station.
#include "console/StationWindows.h"
#include "console/frmPABX.h"
#include "core/Console.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "support/Refusals.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

// A wait that yields while a transaction is open lets a timer tick or a frame
// handler write in the middle of it: whichever test made that happen fails,
// whatever its fixture.
class YieldInTransactionCheck : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { platform::testing::resetYieldsInTransaction(); }
    void OnTestEnd(const ::testing::TestInfo&) override {
        const int n = platform::yieldsInTransaction();
        if (n > 0)
            ADD_FAILURE() << "yieldsInTransaction() = " << n << ": a wait yielded " << n
                          << " time(s) while a database transaction was open";
        platform::testing::resetYieldsInTransaction();
    }
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    // Every file is opened through the layer that can refuse a write, a sync or a read.
    testsupport::refusal::install();
    platform::Application app(argc, argv);
    // An exception that leaves a window's handler fails the test that let it
    // out, whichever window and test: the station would only have said it.
    platform::SetEscapedHandler([](const std::exception& e, const QString& where) {
        ADD_FAILURE() << "an exception left a handler of " << where.toStdString() << ": " << e.what();
    });
    // The frame makes the station's own console, as in the station.
    core::SetConsoleMaker([]() -> core::Console* { return &frmPABX::instance(); });
    console::UseStationWindows();
    ::testing::InitGoogleTest(&argc, argv);
    // Appended after the printer, so its end comes first and the printer reports the failure.
    ::testing::UnitTest::GetInstance()->listeners().Append(new YieldInTransactionCheck);
    return RUN_ALL_TESTS();
}
