#pragma once
// The site chooser "站点选择窗口" of the second switch model: once at start-up,
// before any database is opened, and at every change of site, the operator
// picks the site whose data directory the station works in.
#include <QDialog>
#include <QPushButton>
#include <QTreeWidget>

class frmSelTerminal : public QDialog {
    Q_OBJECT
public:
    // Shows the chooser modally and returns the chosen data directory (ending
    // in "/"); TerminalName and TerminalID follow a confirmed choice. At
    // start-up only "确定" leaves it; at run time "取消" returns DataPath as it
    // is and sets `cancelled`.
    static QString GetDatapath(bool bStartup, bool* cancelled = nullptr);
    // The recursive removal the site window carries, for a site's own directory only.
    static bool DeleteDirectory(const QString& path);

    void cmdSelect_Click();
    void cmdCancel_Click();
    void SetColumnHeaderWidth();

    QTreeWidget* lvwPoint = nullptr;
    QPushButton* cmdSelect = nullptr;
    QPushButton* cmdCancel = nullptr;

    // Escape leaves nothing: only the buttons do.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    explicit frmSelTerminal(bool bStartup);
    void Form_Load();

    QString m_Path;
    bool m_Cancelled = true;   // until a choice is confirmed
};

namespace admin {
// Makes the chooser the one core's GetDataPath shows for the second model.
void RegisterSiteChooser();
}  // namespace admin
