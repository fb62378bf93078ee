#pragma once
// The splash window shown while the console runs the start-up sequence.
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>
#include <QWidget>

class frmWelcome : public QWidget {
    Q_OBJECT
public:
    static frmWelcome& instance();
    static bool exists();
    static void unload();

    // Shows a stage: the prompt (kept when empty) and the bar's value.
    void SetValue(qint32 nValue, const QString& prompt);
    // Runs the bar from nFrom up to its maximum.
    void setToMax(qint32 nFrom);
    void Timer1_Timer();

    // The picture built into the station, drawn by code.
    static QPixmap BuiltInPicture();

    QLabel* pic = nullptr;
    QFrame* fra = nullptr;
    QLabel* lblPrompt = nullptr;
    QProgressBar* pbr = nullptr;
    QTimer* Timer1 = nullptr;

private:
    explicit frmWelcome(QWidget* parent = nullptr);
    void layoutWindow();
};
