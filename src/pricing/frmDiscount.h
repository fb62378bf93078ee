#pragma once
// The discount schemes "折价设置窗口": a tree of schemes, and for the scheme
// shown its name, remark, weekend flags, holiday dates and time segments.
// Changes are written only by "保存" or "增加"; leaving a changed scheme asks
// first. The pricing reads a scheme anew for every call, so a saved scheme
// prices the next call. Closing gives the screen back to the console.
#include "platform/FlexGrid.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTime>
#include <QTreeWidget>
#include <QVector>
#include <QWidget>

namespace pricing {

// A holiday date as the operator types it: M-d or MM-dd of a real day (02-29
// allowed). Gives the stored form "MM-dd", or "" when the text is no such date.
QString HolidayDate(const QString& typed);
// A time of day as the operator types it: H:mm or H:mm:ss (hour 0-23, minutes
// and seconds 0-59). An invalid QTime when the text is no such time.
QTime SegmentTime(const QString& typed);
// A discount percentage: the number the text begins with (0 when none), which
// must be a whole number from 0 to 100. -1 when it is not.
int DiscountPercent(const QString& typed);

class frmDiscount : public QWidget {
    Q_OBJECT
public:
    static frmDiscount& instance();
    static bool exists();
    // Closes the window without asking (the program or a test ends it).
    static void unload();
    // The navigation tree's way in: the window, modeless; the console comes
    // back when it closes.
    static void ShowFromConsole();

    // Offers to save a changed scheme before it is left. False when the
    // operator wanted it saved and the save did not happen: the scheme stays.
    bool ShowMsg();

    void tvwDiscount_Click();
    void cmdSave_Click(int index);
    void cmdDelete_Click();
    void cmdExit_Click();
    void fgDate_DblClick();
    void fgTimes_DblClick();
    void fgDate_KeyDown(int key);
    void fgTimes_KeyDown(int key);
    void txtModify_LostFocus();

    int DiscountID() const { return m_DiscountID; }
    bool Modified() const { return m_Modified; }
    // The tree node of a scheme ("K" + number; "K0" the root), or null.
    QTreeWidgetItem* node(const QString& key) const;

    QTreeWidget* tvwDiscount = nullptr;
    QGroupBox* fraSet = nullptr;
    QLineEdit* txtDiscount = nullptr;
    QLineEdit* txtSummary = nullptr;
    QCheckBox* chkSaturday = nullptr;
    QCheckBox* chkSunday = nullptr;
    QGroupBox* fraDate = nullptr;
    platform::FlexGrid* fgDate = nullptr;
    QGroupBox* fraTimes = nullptr;
    platform::FlexGrid* fgTimes = nullptr;
    QLineEdit* txtModify = nullptr;
    QVector<QPushButton*> cmdSave;   // 0 增加, 1 保存
    QPushButton* cmdDelete = nullptr;
    QPushButton* cmdExit = nullptr;

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    frmDiscount();
    void Form_Load();
    void Form_Unload();
    void selectNode(QTreeWidgetItem* n);
    void showScheme();
    bool save(int index);
    void openEditor(platform::FlexGrid* grid);
    void gridKey(platform::FlexGrid* grid, int key);

    int m_DiscountID = 0;
    bool m_Modified = false;
    platform::FlexGrid* m_EditGrid = nullptr;
    int m_EditRow = 0;
    int m_EditCol = 0;
    bool m_Committing = false;
    bool m_Selecting = false;
    bool m_Force = false;
};

}  // namespace pricing
