#pragma once
// The dual-list chooser: items move between the available list and the
// chosen list; the operator applies or cancels.
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QVector>

class frmChange : public QDialog {
    Q_OBJECT
public:
    static frmChange& instance();
    static bool exists();
    static void unload();

    // Arrays hold their items from index 0 and one empty element after the
    // last (a list without items is one empty element). nFixed leading chosen
    // items stay chosen; nLimit caps the chosen list (0: no cap). True when
    // applied: both arrays are then replaced by the lists' contents.
    bool SetList(QStringList& available, QStringList& chosen, const QString& title, int nFixed, int nLimit);

    void MoveItems(QListWidget* from, QListWidget* to, bool onlySelected, bool toChosen);
    void cmdHave_Click(int index);
    void cmdShare_Click(int index);
    void cmdHide_Click(int index);

    QListWidget* lstShare = nullptr;
    QListWidget* lstHave = nullptr;
    QLabel* lblShare = nullptr;
    QLabel* lblHave = nullptr;
    QVector<QPushButton*> cmdHave;   // 0 ">>", 1 ">"
    QVector<QPushButton*> cmdShare;  // 0 "<<", 1 "<"
    QVector<QPushButton*> cmdHide;   // 0 "取消", 1 "确定"

protected:
    void reject() override;

private:
    explicit frmChange(QWidget* parent = nullptr);
    int m_Pressed = 0;
    int m_Fixed = 0;
    int m_Limit = 0;
};
