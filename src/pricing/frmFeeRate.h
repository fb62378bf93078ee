#pragma once
// The ordinary fee rates "普通费率设置": one tab per call category, one grid row
// per zone code, edited in place; every change is in the database as soon as
// the editor is left. Closing it reopens rsFeeRate, so the pricing charges the
// edited rates from then on, and gives the screen back to the console.
#include "platform/FlexGrid.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTabBar>
#include <QVector>
#include <QWidget>

namespace pricing {

class frmFeeRate : public QWidget {
    Q_OBJECT
public:
    static frmFeeRate& instance();
    static bool exists();
    // Closes the window as its close box does.
    static void unload();
    // The navigation tree's way in: the window, modeless; the console comes
    // back when it closes.
    static void ShowFromConsole();

    static const QStringList& TabCaptions();

    void SSTab1_Click(int tab);
    void cmdFeerate_Click(int index);
    // Grid handlers (button 1 left, 2 right).
    void fgFeerate_DblClick();
    void fgFeerate_MouseDown(int button);
    void fgFeerate_KeyDown(int key);
    // The editors.
    void setFieldEnter(QWidget* editor);
    void txtModify_LostFocus();
    void cboModify_Commit();
    bool EditorVisible() const;

    QTabBar* SSTab1 = nullptr;
    platform::FlexGrid* fgFeerate = nullptr;
    QLineEdit* txtModify = nullptr;
    QComboBox* cboModify = nullptr;
    QVector<QPushButton*> cmdFeerate;   // 增加 删除 查找 打印 关闭

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    frmFeeRate();
    int tab() const { return SSTab1->currentIndex(); }
    bool rowOneProtected() const;
    void GetSelectArr(bool bDiscount);
    void setFieldValue(QWidget* editor, const QString& text);
    void zoneCommit();
    void refuseZone(const QString& message, int r);
    void insertRow(int r, const QString& zone);
    void loadFindList();
    void Form_Unload();

    QString m_FindText;
    struct FindRow {
        QString zone, summary;
        int type;
    };
    QVector<FindRow> m_FindRows;   // ordinary rates in numeric zone order
    int m_FindPos = -1;
    bool m_Committing = false;
};

}  // namespace pricing
