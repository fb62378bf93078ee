#pragma once
// The About box: the station's name and version.
#include <QDialog>
#include <QLabel>
#include <QPushButton>

class frmAbout : public QDialog {
    Q_OBJECT
public:
    static frmAbout& instance();
    static bool exists();
    static void unload();

    static constexpr int kMajor = 1, kMinor = 5, kRevision = 7;

    // Shows the box modally; it closes itself.
    void ShowAbout();
    void Form_Load();

    QLabel* lblVersion = nullptr;
    QPushButton* cmdOK = nullptr;

protected:
    void mousePressEvent(QMouseEvent* e) override;

private:
    explicit frmAbout(QWidget* parent = nullptr);
};
