#pragma once
// Asks the operator for one line of text (the tariff editors' find).
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class frmFeeFind : public QDialog {
    Q_OBJECT
public:
    static frmFeeFind& instance();
    static bool exists();
    static void unload();

    // The confirmed text, or "" when the prompt was closed without confirming.
    QString Find(const QString& prompt, const QString& defaultText);
    void cmdFind_Click();
    void cmdClose_Click();

    QLabel* lblPrompt = nullptr;
    QLineEdit* txtFind = nullptr;
    QPushButton* cmdFind = nullptr;
    QPushButton* cmdClose = nullptr;

protected:
    void reject() override;

private:
    explicit frmFeeFind(QWidget* parent = nullptr);
    QString m_Result;
};
