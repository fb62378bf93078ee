// What the grid's own model changes: fills with Redraw off, looks that travel
// with their rows, reads past the last row, and the header rows.
#include "platform/FlexGrid.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

using platform::FlexGrid;
using platform::vbColor;

QVariant viewData(const FlexGrid& g, int r, int c, int role) {
    return g.model()->data(g.model()->index(r, c), role);
}

// The signals the grid's model sent its view.
struct ViewLog {
    explicit ViewLog(QAbstractItemModel* m) {
        QObject::connect(m, &QAbstractItemModel::rowsInserted, [this](const QModelIndex&, int first, int last) {
            inserted.push_back({first, last});
        });
        QObject::connect(m, &QAbstractItemModel::dataChanged, [this](const QModelIndex& tl, const QModelIndex& br) {
            changed.push_back({tl.row(), br.row()});
        });
        QObject::connect(m, &QAbstractItemModel::modelReset, [this] { ++resets; });
    }
    std::vector<std::pair<int, int>> inserted, changed;
    int resets = 0;
};

QString line(int r, int cols) {
    QStringList cells;
    for (int c = 0; c < cols; ++c) cells << QStringLiteral("%1-%2").arg(r).arg(c);
    return cells.join('\t');
}

TEST(FlexGridModel, AHundredThousandRowFillWithRedrawOffReachesTheViewInOneStep) {
    FlexGrid g;
    g.setFormatString(QStringLiteral("<a|>b|c|d|e|f|g|h|i|j|k|l|m|n|o|p|^q"));
    g.setRows(1);
    ViewLog log(g.model());
    auto& inserted = log.inserted;
    auto& changed = log.changed;

    g.setRedraw(false);
    EXPECT_FALSE(g.updatesEnabled());
    for (int r = 1; r <= 100000; ++r) g.AddItem(line(r, 17));
    g.setTextMatrix(5, 3, QStringLiteral("改"));
    g.setCellBackColorAt(6, 2, vbColor(0xFFFFC0));
    EXPECT_EQ(g.Rows(), 100001);
    EXPECT_EQ(g.TextMatrix(100000, 16), QStringLiteral("100000-16"));
    EXPECT_EQ(inserted.size(), 0u);
    EXPECT_EQ(changed.size(), 0u);
    EXPECT_EQ(g.model()->rowCount(), 1);   // the view is told nothing yet

    g.setRedraw(true);
    EXPECT_TRUE(g.updatesEnabled());
    ASSERT_EQ(inserted.size(), 1u);
    EXPECT_EQ(inserted[0], std::make_pair(1, 100000));
    EXPECT_EQ(log.resets, 0);
    EXPECT_LE(changed.size(), 1u);
    EXPECT_EQ(g.model()->rowCount(), 100001);
    EXPECT_EQ(viewData(g, 5, 3, Qt::DisplayRole).toString(), QStringLiteral("改"));
    EXPECT_EQ(viewData(g, 5, 4, Qt::DisplayRole).toString(), QStringLiteral("5-4"));
    EXPECT_EQ(viewData(g, 77777, 1, Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    EXPECT_EQ(viewData(g, 77777, 16, Qt::TextAlignmentRole).toInt(), int(Qt::AlignHCenter | Qt::AlignVCenter));
    EXPECT_EQ(g.CellBackColorAt(6, 2), vbColor(0xFFFFC0));

    // Cells of existing rows rewritten with Redraw off come back as one change.
    changed.clear();
    g.setRedraw(false);
    for (int r = 1; r <= 1000; ++r) g.setTextMatrix(r, 0, QStringLiteral("x"));
    EXPECT_EQ(changed.size(), 0u);
    g.setRedraw(true);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0], std::make_pair(1, 1000));
    EXPECT_EQ(g.TextMatrix(1000, 0), QStringLiteral("x"));
    EXPECT_EQ(g.TextMatrix(1000, 1), QStringLiteral("1000-1"));
}

TEST(FlexGridModel, LooksMoveWithTheirRowsWhenRowsBeforeThemGoOrCome) {
    FlexGrid g;
    g.setFormatString(QStringLiteral("a|b|c"));
    g.setRows(1);
    for (int r = 1; r <= 5; ++r) g.AddItem(line(r, 3));
    const QColor edited = vbColor(0xFFFFC0), pending = vbColor(0xFFFF00);
    g.setRowBackColor(3, edited);
    g.setCellBackColorAt(4, 1, pending);
    g.setCellAlignmentAt(4, 2, 4);
    QPixmap pic(4, 4);
    pic.fill(Qt::red);
    g.setCellPictureAt(5, 0, pic);

    g.RemoveItem(1);
    EXPECT_EQ(g.TextMatrix(2, 0), QStringLiteral("3-0"));
    EXPECT_EQ(g.CellBackColorAt(2, 0), edited);
    EXPECT_EQ(g.CellBackColorAt(2, 2), edited);
    EXPECT_EQ(g.CellBackColorAt(3, 0), g.BackColor());
    EXPECT_EQ(g.CellBackColorAt(3, 1), pending);
    EXPECT_EQ(g.CellAlignmentAt(3, 2), 4);
    EXPECT_FALSE(g.CellPictureAt(4, 0).isNull());
    EXPECT_TRUE(g.CellPictureAt(5, 0).isNull());
    EXPECT_EQ(viewData(g, 2, 1, Qt::BackgroundRole).value<QBrush>().color(), edited);

    // A row inserted before them, while the grid is frozen, moves them back.
    g.setRedraw(false);
    g.AddItem(QStringLiteral("new\tn\tn"), 1);
    g.AddItem(line(9, 3));   // and one at the end, told at the thaw
    g.setRedraw(true);
    EXPECT_EQ(g.Rows(), 7);
    EXPECT_EQ(g.model()->rowCount(), 7);
    EXPECT_EQ(g.TextMatrix(1, 0), QStringLiteral("new"));
    EXPECT_EQ(g.CellBackColorAt(3, 1), edited);
    EXPECT_EQ(g.CellBackColorAt(4, 1), pending);
    EXPECT_EQ(g.CellAlignmentAt(4, 2), 4);
    EXPECT_EQ(g.CellAlignmentAt(4, 1), 1);   // the column's own
    EXPECT_FALSE(g.CellPictureAt(5, 0).isNull());
    EXPECT_EQ(g.TextMatrix(6, 2), QStringLiteral("9-2"));
    EXPECT_EQ(g.CellBackColorAt(6, 1), g.BackColor());
}

TEST(FlexGridModel, TextArrayPastTheLastRowReadsEmptyAndWritesNothing) {
    FlexGrid g;
    g.setCols(4);
    g.setRows(3);
    g.setTextArray(11, QStringLiteral("last"));
    EXPECT_EQ(g.TextMatrix(2, 3), QStringLiteral("last"));
    EXPECT_EQ(g.TextArray(11), QStringLiteral("last"));
    EXPECT_EQ(g.TextArray(12), QString());
    EXPECT_EQ(g.TextArray(400000), QString());
    g.setTextArray(12, QStringLiteral("beyond"));
    g.setTextArray(-1, QStringLiteral("before"));
    EXPECT_EQ(g.Rows(), 3);
    EXPECT_EQ(g.TextArray(12), QString());
    EXPECT_EQ(g.TextMatrix(0, 0), QString());
    // Cells written out of order keep their neighbours.
    g.setTextMatrix(1, 2, QStringLiteral("c"));
    g.setTextMatrix(1, 0, QStringLiteral("aaa"));
    g.setTextMatrix(1, 1, QStringLiteral("b"));
    g.setTextMatrix(1, 0, QString());
    EXPECT_EQ((QStringList{g.TextArray(4), g.TextArray(5), g.TextArray(6), g.TextArray(7)}), (QStringList{"", "b", "c", ""}));
}

TEST(FlexGridModel, RowTextsReorderedInOneStepLeaveTheLooksInPlace) {
    FlexGrid g;
    g.setFormatString(QStringLiteral("a|b|c"));
    g.setRows(1);
    for (int r = 1; r <= 4; ++r) g.AddItem(line(r, 3));
    g.setTextMatrix(4, 2, QString());
    g.setCellBackColorAt(2, 1, vbColor(0xFFFF00));
    ViewLog log(g.model());
    g.reorderRowTexts(1, {3, 0, 2, 1});
    const QStringList want[] = {{"4-0", "4-1", ""}, {"1-0", "1-1", "1-2"}, {"3-0", "3-1", "3-2"}, {"2-0", "2-1", "2-2"}};
    for (int r = 1; r <= 4; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(g.TextMatrix(r, c), want[r - 1][c]) << r << "," << c;
    EXPECT_EQ(g.cellView(3, 1), QStringLiteral("3-1"));
    EXPECT_EQ(g.CellBackColorAt(2, 1), vbColor(0xFFFF00));
    EXPECT_EQ(g.CellBackColorAt(4, 1), g.BackColor());
    ASSERT_EQ(log.changed.size(), 1u);
    EXPECT_EQ(log.changed[0], std::make_pair(1, 4));
    // An order that is not one of the rows there leaves them as they are.
    g.reorderRowTexts(1, {0, 0, 1, 2});
    g.reorderRowTexts(2, {0, 1, 2, 3});
    g.reorderRowTexts(1, {0, 4, 1, 2});
    EXPECT_EQ(g.TextMatrix(1, 0), QStringLiteral("4-0"));
    EXPECT_EQ(g.TextMatrix(2, 0), QStringLiteral("1-0"));
    EXPECT_EQ(g.cellView(9, 0), QStringView());
}

TEST(FlexGridModel, FixedHeaderRowsAfterRowsShrink) {
    FlexGrid g;
    g.setFormatString(QStringLiteral(">编号|<名称|^金额"));
    g.setRows(1);
    for (int r = 1; r <= 4; ++r) g.AddItem(line(r, 3));
    g.setRowBackColor(2, vbColor(0xFFFF00));
    const QColor button = g.palette().button().color();

    g.setRows(1);
    EXPECT_EQ(g.model()->rowCount(), 1);
    EXPECT_EQ(g.TextMatrix(0, 0), QStringLiteral("编号"));
    EXPECT_EQ(g.TextMatrix(0, 2), QStringLiteral("金额"));
    EXPECT_EQ(g.CellAlignmentAt(0, 1), 4);
    EXPECT_EQ(g.CellBackColorAt(0, 1), button);
    EXPECT_EQ(viewData(g, 0, 1, Qt::BackgroundRole).value<QBrush>().color(), button);

    // Rows grown again are empty, in the grid's colour, aligned by their column.
    g.setRows(3);
    EXPECT_EQ(g.TextMatrix(2, 0), QString());
    EXPECT_EQ(g.CellBackColorAt(2, 0), g.BackColor());
    EXPECT_FALSE(viewData(g, 2, 0, Qt::BackgroundRole).isValid());
    EXPECT_EQ(g.CellAlignmentAt(2, 0), 7);
    EXPECT_EQ(g.TextMatrix(0, 1), QStringLiteral("名称"));

    // Emptied to nothing, the first row is a header row again, without text.
    g.setRows(0);
    g.setRows(2);
    EXPECT_EQ(g.TextMatrix(0, 0), QString());
    EXPECT_EQ(g.CellBackColorAt(0, 0), button);
    EXPECT_EQ(g.CellBackColorAt(1, 0), g.BackColor());

    // Fewer columns drop the cells beyond; more bring them back empty.
    g.setTextMatrix(1, 2, QStringLiteral("z"));
    g.setCellBackColorAt(1, 2, vbColor(0xFFFFC0));
    g.setCols(2);
    g.setCols(3);
    EXPECT_EQ(g.TextMatrix(1, 2), QString());
    EXPECT_EQ(g.CellBackColorAt(1, 2), g.BackColor());
}

// A source that writes "<tag><k>-<c>" and notes the rows it was asked for.
struct NotingSource : platform::GridRowSource {
    explicit NotingSource(QString t) : tag(std::move(t)) {}
    void rowTexts(int k, QString* texts, int n) const override {
        made.push_back(k);
        for (int c = 0; c < n; ++c) texts[c] = QStringLiteral("%1%2-%3").arg(tag).arg(k).arg(c);
    }
    QString tag;
    mutable std::vector<int> made;
};

TEST(FlexGridModel, RowsOwedByASourceReadChangeAndMoveAsWrittenRows) {
    FlexGrid g;
    g.setFormatString(QStringLiteral("a|b|c|d"));
    g.setRows(20001);
    auto src = std::make_shared<NotingSource>(QStringLiteral("s"));
    std::weak_ptr<NotingSource> alive = src;
    g.setRedraw(false);
    g.setRowSource(1, 20000, src, 3);
    g.setRedraw(true);
    EXPECT_TRUE(src->made.empty());
    EXPECT_EQ(g.TextMatrix(20000, 2), QStringLiteral("s19999-2"));
    EXPECT_EQ(g.TextMatrix(20000, 3), QString());   // past the source's cells
    EXPECT_EQ(viewData(g, 5, 1, Qt::DisplayRole).toString(), QStringLiteral("s4-1"));
    EXPECT_EQ(src->made, (std::vector<int>{19999, 4}));

    // A cell written keeps the row's other cells.
    g.setTextMatrix(7, 1, QStringLiteral("改"));
    EXPECT_EQ(g.TextMatrix(7, 0), QStringLiteral("s6-0"));
    EXPECT_EQ(g.TextMatrix(7, 1), QStringLiteral("改"));
    // Rows reordered (one made, two owed) carry what they owe.
    g.TextMatrix(2, 0);
    g.reorderRowTexts(1, {2, 0, 1});
    EXPECT_EQ((QStringList{g.TextMatrix(1, 1), g.TextMatrix(2, 1), g.TextMatrix(3, 1)}), (QStringList{"s2-1", "s0-1", "s1-1"}));
    // Rows removed or inserted before them move them down or up.
    g.RemoveItem(10);
    g.AddItem(QStringLiteral("new\tn"), 20);
    EXPECT_EQ((QStringList{g.TextMatrix(10, 0), g.TextMatrix(20, 0), g.TextMatrix(21, 0)}), (QStringList{"s10-0", "new", "s20-0"}));
    // A column dropped stays empty when the grid widens again.
    g.setCols(2);
    g.setCols(4);
    EXPECT_EQ(g.TextMatrix(100, 1), QStringLiteral("s99-1"));
    EXPECT_EQ(g.TextMatrix(100, 2), QString());

    // A second source: the rows the first still owes are made first.
    auto other = std::make_shared<NotingSource>(QStringLiteral("t"));
    g.setRowSource(300, 2, other, 2);
    EXPECT_EQ((QStringList{g.TextMatrix(299, 0), g.TextMatrix(300, 0), g.TextMatrix(302, 1)}), (QStringList{"s298-0", "t0-0", "s301-1"}));
    src.reset();
    EXPECT_TRUE(alive.expired());   // it owes nothing more
    g.Clear();
    EXPECT_EQ(g.TextMatrix(301, 0), QString());
}

// The operator's gestures on a grid whose rows are made as they are shown.
TEST(FlexGridOnScreen, ClicksKeysAndScrollingReachRowsNotMadeBefore) {
    QWidget window;
    auto* g = new FlexGrid(&window);
    window.resize(600, 400);
    g->resize(600, 400);
    g->setFormatString(QStringLiteral(">编号|<名称|>金额"));
    g->setFixedCols(1);
    g->setRows(20001);
    auto src = std::make_shared<NotingSource>(QStringLiteral("u"));
    g->setRowSource(1, 20000, src, 3);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    g->repaint();
    EXPECT_FALSE(src->made.empty());
    EXPECT_LT(src->made.size(), 100u);   // the rows on screen

    const auto cellCentre = [&](int r, int c) { return g->visualRect(g->model()->index(r, c)).center(); };
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cellCentre(3, 1));
    EXPECT_EQ(g->Row(), 3);
    EXPECT_EQ(g->Text(), QStringLiteral("u2-1"));
    // To the last row: scrolled there and painted from the source.
    QTest::keyClick(g, Qt::Key_End, Qt::ControlModifier);
    g->repaint();
    EXPECT_EQ(g->Row(), 20000);
    EXPECT_EQ(g->Text(), QStringLiteral("u19999-2"));
    EXPECT_GE(g->TopRow(), 19900);
    EXPECT_NE(std::find(src->made.begin(), src->made.end(), 19990), src->made.end());
    // A click on the row header takes that row whole.
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cellCentre(19995, 0));
    EXPECT_EQ((std::vector<int>{g->Row(), g->RowSel(), g->Col(), g->ColSel()}), (std::vector<int>{19995, 19995, 1, 2}));
    EXPECT_EQ(g->Text(), QStringLiteral("u19994-1"));
    EXPECT_LT(src->made.size(), 200u);

    // Loaded again, as a view is: the selection left on the last rows, a
    // click there takes the new rows' texts.
    g->setRedraw(false);
    g->setRows(1);
    g->setRows(20001);
    g->setRowSource(1, 20000, std::make_shared<NotingSource>(QStringLiteral("v")), 3);
    g->setRedraw(true);
    g->setTopRow(19990);
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cellCentre(19996, 2));
    EXPECT_EQ(g->Row(), 19996);
    EXPECT_EQ(g->Text(), QStringLiteral("v19995-2"));
    EXPECT_EQ(g->TextMatrix(19995, 1), QStringLiteral("v19994-1"));
}

// Rows removed by the program while the operator has a row or a range
// chosen: the choice stays on the same rows' texts, on screen and in Row.
// Eight rows of `cols` cells on screen, for the operator's gestures.
struct EightRows {
    explicit EightRows(int cols) : g(new FlexGrid(&window)) {
        window.resize(400, 300);
        g->resize(400, 300);
        QStringList titles;
        for (int c = 0; c < cols; ++c) titles << QString(QChar('a' + c));
        g->setFormatString(titles.join('|'));
        g->setRows(1);
        for (int r = 1; r <= 8; ++r) g->AddItem(line(r, cols));
        window.show();
    }
    QPoint at(int r, int c) const { return g->visualRect(g->model()->index(r, c)).center(); }
    QWidget window;
    FlexGrid* g;
};

TEST(FlexGridOnScreen, RowsRemovedAboveOrInsideTheOperatorsChoiceLeaveItOnItsRows) {
    EightRows shown(2);
    FlexGrid* g = shown.g;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown.window));
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, shown.at(5, 1));
    ASSERT_EQ(g->Row(), 5);

    g->RemoveItem(2);   // above
    EXPECT_EQ(g->Row(), 4);
    EXPECT_EQ(g->RowSel(), 4);
    EXPECT_EQ(g->Text(), QStringLiteral("5-1"));
    EXPECT_EQ(g->currentIndex().row(), 4);
    g->RemoveItem(6);   // below
    EXPECT_EQ(g->Text(), QStringLiteral("5-1"));

    // A range (texts 6 up to 4, started on 6) with rows above and inside it removed.
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, shown.at(5, 1));
    QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::ShiftModifier, shown.at(3, 1));
    ASSERT_EQ(g->Text(), QStringLiteral("6-1"));
    ASSERT_EQ(g->TextMatrix(g->RowSel(), 0), QStringLiteral("4-0"));
    g->RemoveItem(1);
    g->RemoveItem(3);
    EXPECT_EQ(g->Row(), 3);
    EXPECT_EQ(g->RowSel(), 2);
    EXPECT_EQ(g->Text(), QStringLiteral("6-1"));
    EXPECT_EQ(g->TextMatrix(g->RowSel(), 0), QStringLiteral("4-0"));
    // The keyboard goes on from where the selection ends (text 5 is gone).
    QTest::keyClick(g, Qt::Key_Down);
    EXPECT_EQ(g->Text(), QStringLiteral("6-1"));
}

// Row is where the operator's selection started, RowSel where it ended (the
// flex grid's way, which the commands reading them count on), whether it ran
// down or up, by shift+click or by a drag.
TEST(FlexGridOnScreen, ASelectionKeepsItsStartInRowAndItsEndInRowSel) {
    EightRows shown(3);
    FlexGrid* g = shown.g;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown.window));
    const auto corners = [&] { return std::vector<int>{g->Row(), g->Col(), g->RowSel(), g->ColSel()}; };
    for (const auto& [from, to] : {std::pair{2, 6}, std::pair{6, 2}}) {
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, shown.at(from, 0));
        QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::ShiftModifier, shown.at(to, 2));
        EXPECT_EQ(corners(), (std::vector<int>{from, 0, to, 2})) << from << ".." << to << " by shift+click";
        QTest::mousePress(g->viewport(), Qt::LeftButton, {}, shown.at(from, 1));
        for (int r = from; r != to; r += (to > from ? 1 : -1)) QTest::mouseMove(g->viewport(), shown.at(r, 1));
        QTest::mouseMove(g->viewport(), shown.at(to, 1));
        QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, shown.at(to, 1));
        EXPECT_EQ(corners(), (std::vector<int>{from, 1, to, 1})) << from << ".." << to << " by a drag";
        EXPECT_EQ(g->Text(), QStringLiteral("%1-1").arg(from));
    }
    // A click alone: one cell, both ends.
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, shown.at(4, 2));
    EXPECT_EQ(corners(), (std::vector<int>{4, 2, 4, 2}));
}

}  // namespace
