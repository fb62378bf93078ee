#pragma once
// The site window "站点管理" of the second switch model: the site list (table
// `Terminal` of the root station database) in a grid edited in place, and the
// sites' data directories created, renamed and deleted as rows are saved and
// deleted. The console hides itself while the window is open; closing the
// window shows it again.
#include "platform/Db.h"
#include "platform/FlexGrid.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QToolBar>
#include <QWidget>
#include <functional>

class frmTerminal : public QWidget {
    Q_OBJECT
public:
    static frmTerminal& instance();
    static bool exists();
    // Closes the window as its close box does.
    static void unload();

    // Places the editor over the current cell of the edited column and shows it.
    void SetBox();
    // Marks (modified) or unmarks the row's site-number cell.
    void SetRowColor(int row, bool modified);
    bool RowModified(int row) const;
    // Deletes a site directory with everything below it (only a site's own).
    bool DeleteDirectory(const QString& path);
    // Creates the data directory of the new site `name` with its two databases.
    bool AddPoint(const QString& name);
    // Copies the root data directory's `fileName` into `folder`, replacing it.
    bool CopyFileto(const QString& folder, const QString& fileName);
    // One toolbar button and a separator.
    QAction* tbrAdd(const QString& key, const QString& tip, int image, int style = 0);

    void tbrPoint_ButtonClick(const QString& key);
    // Enter on the grid, "修改" and a double click outside column 5.
    void StartEdit();
    void fgPoint_DblClick();
    // The right button over `col` of `row`: the popup that belongs there.
    void fgPoint_MouseDown(int button, int row, int col);
    void mnuModify_Click();
    void mnuFeeDetail_Click();
    // Commits the editor (as leaving it does).
    void txtModify_LostFocus();
    bool EditorVisible() const { return !txtModify->isHidden(); }
    int EditCol() const { return m_EditCol; }
    bool Modified() const { return m_Modified; }

    QToolBar* tbrPoint = nullptr;
    platform::FlexGrid* fgPoint = nullptr;
    QLineEdit* txtModify = nullptr;
    QMenu* popModify = nullptr;
    QAction* mnuModify = nullptr;
    QMenu* popFee = nullptr;
    QAction* mnuFeeDetail = nullptr;

    // How a popup is shown; tests answer it here instead of the operator.
    static void SetPopupRunner(std::function<void(QMenu*)> runner);

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    frmTerminal();
    ~frmTerminal() override;
    void Form_Load();
    void Form_Resize();
    bool noSite() const;
    // The stored name of site `id`; null when the table has no such row.
    QVariant storedName(const QString& id) const;
    void Save();
    void Delete();
    void addRow();
    void removeGridRow(int r);
    void popup(QMenu* menu);

    platform::Database db_;
    bool ownDb_ = false;
    bool m_Modified = false;
    bool m_Committing = false;
    bool m_Busy = false;
    int m_EditCol = 0;
};
