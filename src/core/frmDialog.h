#pragma once
// Asks the operator to choose one of up to five actions, or cancel.
#include <QDialog>
#include <QPushButton>
#include <QStringList>
#include <QVector>

class frmDialog : public QDialog {
    Q_OBJECT
public:
    static frmDialog& instance();
    static bool exists();
    static void unload();

    // Element 0 of `captions` becomes the cancel caption; buttons 1..5 take
    // the other elements (more are ignored). Returns the button pressed, 0
    // for cancel (Esc and the close box included).
    int GetUDLSel(QStringList& captions, bool unused = true);
    void cmdSet_Click(int index);

    QVector<QPushButton*> cmdSet;   // 0 cancel, 1..5 actions
    int HeightTwips = 0;

protected:
    void reject() override;

private:
    explicit frmDialog(QWidget* parent = nullptr);
    int m_Pressed = 0;
};
