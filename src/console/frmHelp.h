#pragma once
// The station's help: a window of its own with a short text built into the
// program (no help file ships). One window; asking again brings it forward.
#include <QTextBrowser>
#include <QWidget>

class QMenuBar;

class frmHelp : public QWidget {
    Q_OBJECT
public:
    static frmHelp& instance();
    static bool exists();
    static void unload();

    // Shows the help, its menu section written from `menus` (captions and
    // shortcuts as the operator sees them).
    void ShowHelp(const QMenuBar* menus);
    // The text shown, as plain text.
    QString PlainText() const { return txtHelp->toPlainText(); }

    QTextBrowser* txtHelp = nullptr;

private:
    explicit frmHelp(QWidget* parent = nullptr);
};
