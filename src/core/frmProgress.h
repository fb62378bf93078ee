#pragma once
// The progress window of long jobs: a prompt, a bar and an optional Stop
// button. While it is up the main window is disabled.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

class frmProgress : public QWidget {
    Q_OBJECT
public:
    static frmProgress& instance();
    static bool exists();
    // Closes the window and gives the main window back.
    static void unload();

    void LoadProgress(const QString& prompt, bool bShowStop, qint32 nMax, qint32 nMin, bool bAutoAdd);
    // -1 advances by one; values outside the bar's range are ignored.
    void setpValue(qint32 nValue, const QString& prompt);
    void setToMax(qint32 nFrom);
    // Enables or disables the main window (the console's top-level window).
    void SetEnabled(bool bEnable);
    void cmdStop_Click();

    QLabel* lblPrompt = nullptr;
    QProgressBar* pbrSwitch = nullptr;
    QPushButton* cmdStop = nullptr;
    QTimer* tmrAutoAdd = nullptr;
    bool bStop = false;

    ~frmProgress() override;

protected:
    void closeEvent(QCloseEvent* e) override;
    // F12 opens the protocol trace, as on the console, while a long job runs.
    void keyPressEvent(QKeyEvent* e) override;

private:
    explicit frmProgress(QWidget* parent = nullptr);
};
