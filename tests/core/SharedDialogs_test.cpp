#include "console/frmPABX.h"
#include "core/frmAbout.h"
#include "core/frmChange.h"
#include "core/frmDialog.h"
#include "core/frmFeeFind.h"
#include "core/frmFind.h"
#include "core/frmProgress.h"
#include "platform/Prompts.h"
#include "support/Fixtures.h"

#include <QApplication>
#include <QTest>
#include <QSignalSpy>

using namespace platform;

namespace {

class SharedDialogs : public testsupport::StationTest {
protected:
    void TearDown() override {
        frmProgress::unload();
        frmDialog::unload();
        frmChange::unload();
        frmAbout::unload();
        frmFeeFind::unload();
        frmFind::unload();
        frmPABX::unload();
        StationTest::TearDown();
    }
    QStringList items(QListWidget* l) {
        QStringList r;
        for (int i = 0; i < l->count(); ++i) r << l->item(i)->text();
        return r;
    }
};

// ---- progress window

TEST_F(SharedDialogs, ProgressRangesAreRepairedValuesOutsideThemIgnoredAndStopTheMainWindowAndTheCreepingBar) {
    frmProgress& p = frmProgress::instance();
    p.LoadProgress(QStringLiteral("a"), false, 0, 0, false);
    EXPECT_EQ(p.pbrSwitch->minimum(), 1);
    EXPECT_EQ(p.pbrSwitch->maximum(), 2);
    EXPECT_EQ(p.pbrSwitch->value(), 1);
    p.LoadProgress(QStringLiteral("b"), false, 60, 0, false);
    EXPECT_EQ(p.pbrSwitch->minimum(), 1);
    EXPECT_EQ(p.pbrSwitch->maximum(), 60);
    p.LoadProgress(QStringLiteral("c"), true, 5, 10, false);
    EXPECT_EQ(p.pbrSwitch->minimum(), 5);
    EXPECT_EQ(p.pbrSwitch->maximum(), 10);
    EXPECT_EQ(p.lblPrompt->text(), QStringLiteral("c"));
    EXPECT_FALSE(p.cmdStop->isHidden());
    p.LoadProgress(QStringLiteral("d"), false, 5, 10, false);
    EXPECT_TRUE(p.cmdStop->isHidden());

    // Values outside the range are ignored.
    p.LoadProgress(QStringLiteral("开始"), false, 3, 1, false);
    p.setpValue(-1, QStringLiteral("第二步"));
    EXPECT_EQ(p.pbrSwitch->value(), 2);
    EXPECT_EQ(p.lblPrompt->text(), QStringLiteral("第二步"));
    p.setpValue(-1, QString());
    EXPECT_EQ(p.pbrSwitch->value(), 3);
    EXPECT_EQ(p.lblPrompt->text(), QStringLiteral("第二步"));   // an empty prompt keeps the text
    p.setpValue(-1, QStringLiteral("过头"));
    EXPECT_EQ(p.pbrSwitch->value(), 3);
    p.setpValue(0, QStringLiteral("text"));
    EXPECT_EQ(p.pbrSwitch->value(), 3);
    EXPECT_EQ(p.lblPrompt->text(), QStringLiteral("第二步"));

    p.LoadProgress(QString(), false, 50, 1, false);
    p.setToMax(0);
    EXPECT_EQ(p.pbrSwitch->value(), 50);
    p.LoadProgress(QString(), false, 50, 1, false);
    p.setToMax(20);
    EXPECT_EQ(p.pbrSwitch->value(), 50);

    // Stop, the main window and the creeping bar.
    QWidget* main = frmPABX::instance().window();
    p.LoadProgress(QStringLiteral("x"), true, 10, 1, false);
    EXPECT_FALSE(main->isEnabled());
    EXPECT_FALSE(p.bStop);
    p.cmdStop->click();
    EXPECT_TRUE(p.bStop);
    p.LoadProgress(QStringLiteral("x"), true, 10, 1, false);
    EXPECT_FALSE(p.bStop);

    // The close box gives the main window back; the window stays.
    p.close();
    EXPECT_TRUE(p.isVisible());
    EXPECT_TRUE(main->isEnabled());

    p.SetEnabled(false);
    frmProgress::unload();
    EXPECT_TRUE(main->isEnabled());

    // Asked to, the bar creeps by itself.
    frmProgress& q = frmProgress::instance();
    q.LoadProgress(QStringLiteral("x"), false, 2, 1, true);
    EXPECT_TRUE(q.tmrAutoAdd->isActive());
    q.tmrAutoAdd->setInterval(1);
    for (int i = 0; i < 5000 && q.pbrSwitch->value() < 2; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(q.pbrSwitch->value(), 2);
    QSignalSpy ticks(q.tmrAutoAdd, &QTimer::timeout);
    ASSERT_TRUE(ticks.wait(10000) && ticks.wait(10000));   // two ticks more
    EXPECT_EQ(q.pbrSwitch->value(), 2);   // stops at the maximum
    q.LoadProgress(QStringLiteral("x"), false, 2, 1, false);
    EXPECT_FALSE(q.tmrAutoAdd->isActive());
}

// ---- choice dialog

TEST_F(SharedDialogs, ChoiceDialogShowsItsButtonsFromTheTop) {
    QStringList captions{QString(), QStringLiteral("参数"), QStringLiteral("号码")};
    script::onModal(QStringLiteral("frmDialog"), [](QDialog* d) {
        auto* f = static_cast<frmDialog*>(d);
        EXPECT_EQ(f->HeightTwips, 3200);
        EXPECT_EQ(f->cmdSet[0]->text(), QStringLiteral("  取  消"));
        EXPECT_EQ(f->cmdSet[2]->text(), QStringLiteral("号码"));
        EXPECT_LT(f->cmdSet[2]->y(), f->cmdSet[1]->y());
        EXPECT_LT(f->cmdSet[1]->y(), f->cmdSet[0]->y());
        EXPECT_TRUE(f->cmdSet[3]->isHidden());
        f->cmdSet[2]->click();
    });
    EXPECT_EQ(frmDialog::instance().GetUDLSel(captions), 2);
    EXPECT_EQ(captions[0], QStringLiteral("  取  消"));
    EXPECT_FALSE(frmDialog::exists());

    QStringList many{QString(), "1", "2", "3", "4", "5", "6", "7"};
    script::onModal(QStringLiteral("frmDialog"), [](QDialog* d) {
        auto* f = static_cast<frmDialog*>(d);
        EXPECT_EQ(f->cmdSet.size(), 6);
        EXPECT_EQ(f->cmdSet[5]->text(), QStringLiteral("5"));
        EXPECT_FALSE(f->cmdSet[5]->isHidden());
        f->cmdSet[5]->click();
    });
    EXPECT_EQ(frmDialog::instance().GetUDLSel(many), 5);

    // The close box after an earlier choice still counts as cancel.
    script::onModal(QStringLiteral("frmDialog"), [](QDialog* d) { d->close(); });
    EXPECT_EQ(frmDialog::instance().GetUDLSel(captions), 0);
}

// ---- dual-list chooser

TEST_F(SharedDialogs, ChooserAppliesAndGivesBackTheArraysCancelChangesNothingAndFixedItemsAndTheLimitStay) {
    QStringList available{"a", "b", "c", ""};
    QStringList chosen{""};
    script::onModal(QStringLiteral("frmChange"), [this](QDialog* d) {
        auto* c = static_cast<frmChange*>(d);
        EXPECT_TRUE(items(c->lstHave).isEmpty());
        EXPECT_EQ(items(c->lstShare), (QStringList{"a", "b", "c"}));
        EXPECT_EQ(c->lblShare->text(), QStringLiteral("可选择的权限"));
        EXPECT_EQ(c->lblHave->text(), QStringLiteral("已选择的权限"));
        EXPECT_EQ(c->windowTitle(), QStringLiteral("权限选择窗口"));
        c->cmdHave[0]->click();
        c->cmdHide[1]->click();
    });
    EXPECT_TRUE(frmChange::instance().SetList(available, chosen, QStringLiteral("权限"), 0, 0));
    EXPECT_EQ(chosen, (QStringList{"c", "b", "a", ""}));   // moved together, they arrive reversed
    EXPECT_EQ(available, QStringList{""});

    // Cancel and the close box change nothing.
    for (bool closeBox : {false, true}) {
        available = {"a", "b"};
        chosen = {"x"};
        script::onModal(QStringLiteral("frmChange"), [closeBox](QDialog* d) {
            auto* c = static_cast<frmChange*>(d);
            c->cmdHave[0]->click();
            if (closeBox) c->close();
            else c->cmdHide[0]->click();
        });
        EXPECT_FALSE(frmChange::instance().SetList(available, chosen, QStringLiteral("t"), 0, 0));
        EXPECT_EQ(available, (QStringList{"a", "b"}));
        EXPECT_EQ(chosen, QStringList{"x"});
    }

    // Fixed items stay, and the limit holds.
    available = {"f", "g", ""};
    chosen = {"a", "b", "c", "d", "e", ""};
    script::onModal(QStringLiteral("frmChange"), [this](QDialog* d) {
        auto* c = static_cast<frmChange*>(d);
        c->cmdShare[0]->click();
        EXPECT_EQ(items(c->lstHave), (QStringList{"a", "b", "c"}));
        EXPECT_EQ(items(c->lstShare), (QStringList{"f", "g", "e", "d"}));
        c->lstHave->item(0)->setSelected(true);
        c->cmdShare[1]->click();
        EXPECT_EQ(c->lstHave->count(), 3);
        c->cmdHide[1]->click();
    });
    EXPECT_TRUE(frmChange::instance().SetList(available, chosen, QStringLiteral("列"), 3, 0));
    EXPECT_EQ(chosen, (QStringList{"a", "b", "c", ""}));

    QStringList six{"1", "2", "3", "4", "5", "6"};
    QStringList none{""};
    script::onModal(QStringLiteral("frmChange"), [this](QDialog* d) {
        auto* c = static_cast<frmChange*>(d);
        c->cmdHave[0]->click();
        EXPECT_EQ(items(c->lstHave), (QStringList{"6", "5", "4", "3"}));
        c->lstShare->item(0)->setSelected(true);
        c->cmdHave[1]->click();
        EXPECT_EQ(c->lstHave->count(), 4);
        QListWidgetItem* it = c->lstShare->item(0);
        emit c->lstShare->itemDoubleClicked(it);
        EXPECT_EQ(c->lstHave->count(), 4);
        c->cmdHide[1]->click();
    });
    EXPECT_TRUE(frmChange::instance().SetList(six, none, QStringLiteral("分机"), 0, 4));
    EXPECT_EQ(six, (QStringList{"1", "2", ""}));
}

// ---- about box and input prompt

TEST_F(SharedDialogs, AboutShowsTheNameAndVersion) {
    script::onModal(QStringLiteral("frmAbout"), [](QDialog* d) {
        auto* a = static_cast<frmAbout*>(d);
        EXPECT_EQ(a->lblVersion->text(), QStringLiteral("DE Duzariv Ver1.5.7"));
        EXPECT_EQ(a->windowTitle(), QStringLiteral("DE Duzariv"));
        QTest::mousePress(a, Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_FALSE(a->isVisible());
    });
    frmAbout::instance().ShowAbout();
    EXPECT_FALSE(frmAbout::exists());
}

TEST_F(SharedDialogs, InputPromptReturnsOnlyWhatWasConfirmed) {
    script::onModal(QStringLiteral("frmFeeFind"), [](QDialog* d) {
        auto* f = static_cast<frmFeeFind*>(d);
        EXPECT_EQ(f->lblPrompt->text(), QStringLiteral("请输入要查找的地区代号或地名:"));
        EXPECT_EQ(f->txtFind->selectedText(), QStringLiteral("010"));
        f->txtFind->setText(QStringLiteral("北京"));
        f->cmdFind->click();
    });
    frmFeeFind& f = frmFeeFind::instance();
    EXPECT_EQ(f.Find(QStringLiteral("请输入要查找的地区代号或地名:"), QStringLiteral("010")), QStringLiteral("北京"));
    EXPECT_TRUE(frmFeeFind::exists());   // kept loaded, hidden
    EXPECT_FALSE(f.isVisible());

    script::onModal(QStringLiteral("frmFeeFind"), [](QDialog* d) {
        auto* x = static_cast<frmFeeFind*>(d);
        x->txtFind->setText(QStringLiteral("上海"));
        x->cmdClose->click();
    });
    EXPECT_EQ(f.Find(QStringLiteral("p"), QStringLiteral("a")), QString());
    script::onModal(QStringLiteral("frmFeeFind"), [](QDialog* d) { d->close(); });
    EXPECT_EQ(f.Find(QStringLiteral("p"), QStringLiteral("a")), QString());
    script::onModal(QStringLiteral("frmFeeFind"), [](QDialog* d) {
        auto* x = static_cast<frmFeeFind*>(d);
        x->txtFind->clear();
        x->cmdFind->click();
    });
    EXPECT_EQ(f.Find(QStringLiteral("p"), QStringLiteral("a")), QString());
}

// ---- grid find dialog

class GridFind : public SharedDialogs {
protected:
    void SetUp() override {
        SharedDialogs::SetUp();
        grid.setFormatString(QStringLiteral("<号码|<数值|<名称||<隐藏"));
        grid.setRows(1);
        const QStringList rows = {"8001\t10\tA", "8002\t95\tb", "8003\t9\tA", "8004\t\tA"};
        for (const QString& r : rows) grid.AddItem(r);
        grid.setTextMatrix(0, 4, QStringLiteral("隐藏"));
        f = &frmFind::instance();
        f->FindItem(&grid);
    }
    void condition(int i, const QString& field, const QString& sign, const QString& value) {
        f->cboField[i]->setCurrentIndex(f->cboField[i]->findText(field));
        f->cboField[i]->setEditText(field);
        f->cboSign[i]->setCurrentIndex(f->cboSign[i]->findText(sign));
        f->cboValue[i]->setEditText(value);
    }
    platform::FlexGrid grid;
    frmFind* f = nullptr;
};

TEST_F(GridFind, FieldListsStopAtTheFirstEmptyTitleConditionsAllHoldAndEmptyValuesCompare) {
    EXPECT_EQ(f->cboField[0]->count(), 3);
    EXPECT_EQ(f->cboSign[1]->currentText(), QStringLiteral("="));
    EXPECT_EQ(f->cboSign[1]->count(), 6);
    f->cboField[2]->setCurrentIndex(2);
    f->cboField_Click(2);
    QStringList values;
    for (int i = 0; i < f->cboValue[2]->count(); ++i) values << f->cboValue[2]->itemText(i);
    EXPECT_EQ(values, (QStringList{"A", "b"}));

    condition(2, QStringLiteral("名称"), QStringLiteral("="), QStringLiteral("A"));
    condition(0, QStringLiteral("数值"), QStringLiteral("<>"), QStringLiteral("10"));
    f->cboValue[1]->setEditText(QStringLiteral("值而无字段"));
    grid.setRow(1);
    f->cmdQuery_Click();
    EXPECT_EQ(grid.Row(), 3);
    f->cmdQuery_Click();
    EXPECT_EQ(grid.Row(), 4);   // the empty cell differs from "10"

    f->cmdClear_Click();
    EXPECT_EQ(f->cboSign[0]->currentText(), QStringLiteral("="));
    condition(0, QStringLiteral("数值"), QStringLiteral("="), QString());
    grid.setRow(1);
    f->cmdQuery_Click();
    EXPECT_EQ(grid.Row(), 4);
    EXPECT_TRUE(frmFind::GetSelectRow(QStringLiteral("a"), QStringLiteral(">"), QStringLiteral("B")));   // case counts
    EXPECT_FALSE(frmFind::GetSelectRow(QStringLiteral("a"), QStringLiteral("=~"), QStringLiteral("a")));
}

TEST_F(GridFind, NumbersCompareAsTextTheSearchWrapsAndMessagesSayWhenThereIsNothingToFind) {
    script::answer(QStringLiteral("请输入查询条件"), rOK);
    f->cmdQuery_Click();
    script::answer(QStringLiteral("请输入查询条件"), rOK);
    condition(0, QStringLiteral("不存在的列"), QStringLiteral("="), QStringLiteral("x"));
    f->cmdQuery_Click();
    script::answer(QStringLiteral("没有找到符合条件的记录"), rOK);
    condition(0, QStringLiteral("号码"), QStringLiteral("="), QStringLiteral("9999"));
    grid.setRow(2);
    f->cmdQuery_Click();
    EXPECT_EQ(grid.Row(), 2);

    condition(0, QStringLiteral("数值"), QStringLiteral(">"), QStringLiteral("9"));
    grid.setRow(0);
    f->cmdQuery_Click();
    EXPECT_EQ(grid.Row(), 2);   // "95"; "10" is smaller than "9" as text
    EXPECT_EQ(grid.Col(), 0);
    EXPECT_EQ(grid.ColSel(), grid.Cols() - 1);
    f->cmdQuery_Click();
    EXPECT_EQ(grid.Row(), 2);   // the only match, found again after wrapping

    condition(0, QStringLiteral("名称"), QStringLiteral("="), QStringLiteral("A"));
    grid.setRow(grid.Rows() - 1);
    f->cmdQuery_Click();
    EXPECT_EQ(grid.Row(), 1);   // from the last row the search starts at row 1
    f->cmdQuery_Click();
    EXPECT_EQ(grid.Row(), 3);

    platform::FlexGrid titlesOnly;
    titlesOnly.setFormatString(QStringLiteral("<号码"));
    titlesOnly.setRows(1);
    f->FindItem(&titlesOnly);
    condition(0, QStringLiteral("号码"), QStringLiteral("="), QString());
    script::answer(QStringLiteral("没有找到符合条件的记录"), rOK);
    f->cmdQuery_Click();
    EXPECT_EQ(script::pendingAnswers(), 0);
    f->cmdClose_Click();
    EXPECT_FALSE(f->isVisible());
}

}  // namespace
