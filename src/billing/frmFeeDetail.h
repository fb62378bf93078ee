#pragma once
// The fee report of one site: the charges of every archived month of the
// site's yearly call-record files, newest year first, a subtotal per year and
// a total for the site; the months selected in it can be exported into a
// bill database of the operator's choice (table JianKong). Opened only by the
// site management window, which stays disabled while the report is open.
#include "platform/FlexGrid.h"

#include <QMenu>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>

class QAction;

namespace billing {

class frmFeeDetail : public QWidget {
    Q_OBJECT
public:
    static frmFeeDetail& instance();
    static bool exists();
    static void unload();

    // The only way in: reads the archives of the site `siteName` (a directory
    // under the root data directory), fills the report and shows the window
    // modeless. A site without a directory gets an empty report.
    static void ShowDetail(const QString& siteName);

    // Right mouse button on the report: the export menu, unless it is empty.
    void fgDetail_MouseDown(Qt::MouseButton button);
    // Exports the selected month rows (subtotals and the total are skipped).
    void mnuImport_Click();

    QString SiteDirectory() const { return m_SiteDir; }

    platform::FlexGrid* fgDetail = nullptr;
    QMenu* popImport = nullptr;
    QAction* mnuImport = nullptr;

    ~frmFeeDetail() override;

protected:
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    explicit frmFeeDetail(QWidget* parent = nullptr);
    void fill(const QString& siteName);
    void clearGrid();
    void holdOpener();
    void releaseOpener();

    QString m_SiteName;
    QString m_SiteDir;        // empty when the site has no directory
    bool m_Busy = false;      // an export is running (it yields)
    QPointer<QWidget> m_Opener;
};

namespace testing {
// Tests answer the report's popup menu here: the runner gets the menu and
// returns the item to choose, or null. Null shows the menu.
void setPopupRunner(std::function<QAction*(QMenu*)> runner);
}  // namespace testing

}  // namespace billing
