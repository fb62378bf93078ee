#pragma once
// The two tariff windows (the ordinary fee-rate window and the IP tariff
// window) driven on a fresh station by a worker with every right: what their
// tests share of the window, its fee-rate grid and its cell editor.
#include "core/ModDefine.h"
#include "core/frmFeeFind.h"
#include "platform/FlexGrid.h"
#include "support/Fixtures.h"

#include <QApplication>
#include <QKeyEvent>

namespace pricingtest {

// A fee-rate row of the category in tariff `id` (0: the ordinary tariffs).
inline void rate(const QString& zone, int category, qint32 id, const QString& name = QString(), qint64 perprice = 1000) {
    dbSwitch.execute("insert into feerate(zonecode,summary,feeratetype,feerateid,perprice) values(?,?,?,?,?)",
                     {zone, name, category, id, perprice});
}

template <typename Window>
class TariffWindowTest : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        WorkerRights = QStringList{"0"};
    }
    void TearDown() override {
        Window::unload();
        frmFeeFind::unload();
        StationDbTest::TearDown();
    }
    Window& win() { return Window::instance(); }
    platform::FlexGrid& grid() { return *win().fgFeerate; }
    // Rows r1 to r2 of column `col` selected, the cursor on row r1.
    void select(int r1, int r2, int col) {
        grid().setRow(r1);
        grid().setCol(col);
        grid().setRowSel(r2);
        grid().setColSel(col);
    }
    void key(QWidget* w, int k) {
        QKeyEvent e(QEvent::KeyPress, k, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
    // `text` in the cell editor, then Enter pressed on it.
    void enter(const QString& text) {
        win().txtModify->setText(text);
        key(win().txtModify, Qt::Key_Return);
    }
};

}  // namespace pricingtest
