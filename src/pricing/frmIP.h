#pragma once
// The IP tariffs "IP费率及字头设置": IP rate types with their own fee rates (one
// tab per call category 0 to 7, edited in place like the ordinary rates) and
// the IP heads, the dialled prefixes that select a rate type and add an
// access fee. Closing it saves a pending head edit and reopens rsFeeRate and
// rsIPHead, so the pricing charges the edited tariffs from then on, and gives
// the screen back to the console.
#include "pricing/TariffEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTabBar>
#include <QTreeWidget>
#include <QVector>
#include <QWidget>

namespace pricing {

class frmIP : public FeeRateGridForm {
    Q_OBJECT
public:
    static frmIP& instance();
    static bool exists();
    // Closes the window as its close box does.
    static void unload();
    // The navigation tree's way in: the window, modeless; the console comes
    // back when it closes.
    static void ShowFromConsole();

    static const QStringList& TabCaptions();

    // ---- rate types ----
    void RefreshIPFeerate();
    void RefreshIPHead();
    // The lowest free id for a new rate type.
    static qint32 GetIPID();
    void tvwIP_Click();
    void cmdIPType_Click(int index);   // 0 增加, 1 删除, 2 保存
    qint32 CurrentTypeID() const { return m_IPFeeRateID; }

    // ---- the fee-rate grid ----
    void SSTab1_Click();
    void cmdFeerate_Click(int index);   // 0 增加, 1 删除, 2 查找, 3 打印, 4 关闭

    // ---- IP heads ----
    void tvwIPHead_Click();
    void cmdIPHead_Click(int index);   // 0 增加, 1 保存, 2 删除
    void txtLink_LostFocus(int index);
    bool HeadModified() const { return m_IPHeadModified; }
    QString ShownHead() const { return m_IPHead; }

    // Selects the node of `key` in a tree (no click handling).
    static bool SelectNode(QTreeWidget* tree, const QString& key);

    QGroupBox* fraType = nullptr;
    QTreeWidget* tvwIP = nullptr;
    QGroupBox* Frame1 = nullptr;
    QVector<QLineEdit*> txtIPFeerate;   // 0 name, 1 description
    QVector<QPushButton*> cmdIPType;    // 0 增加, 1 删除, 2 保存

    QGroupBox* fraIPHead = nullptr;
    QTreeWidget* tvwIPHead = nullptr;
    QGroupBox* fraIPHeadSet = nullptr;
    QLineEdit* txtIPHead = nullptr;
    QLineEdit* txtSummary = nullptr;
    QComboBox* cboIPType = nullptr;
    QComboBox* cboDiscount = nullptr;
    QVector<QLineEdit*> txtLink;        // the eight access-fee fields
    QCheckBox* chkExtra = nullptr;
    QCheckBox* chkPoundage = nullptr;
    QCheckBox* chkShowIPHeadOnly = nullptr;
    QVector<QPushButton*> cmdIPHead;    // 0 增加, 1 保存, 2 删除

    QGroupBox* fraFeerate = nullptr;
    QWidget* FraCmd = nullptr;   // 增加 删除 查找 打印 of cmdFeerate; 关闭 sits on the window

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;
    bool gridEditable() const override;
    void setFieldValue(QWidget* editor, const QString& text) override;
    QVariant zoneOwner(const QString& zone) const override;
    QString categoryName(int type) const override;
    void storeZone(int r, const QString& zone) override;
    void reloadAfterFailure(bool fromText) override;
    void deleteRate(const QString& zone) override;

private:
    frmIP();
    void buildTypeFrame();
    void buildHeadFrame();
    void buildFeeFrame();

    // Grid editing.
    void renameZone(int r, const QString& zone);
    void showStoredRow(int r, const QString& zone);
    void loadFindList();

    // Heads.
    enum class SaveResult { Saved, Refused, BadInput };
    // Saves the fields as the head shown (m_IPHead), as "保存" does.
    SaveResult saveHead(bool showAfter);
    SaveResult addHead();
    bool headFieldsGiven();
    SaveResult headTaken(const QString& head);
    void writeHead(bool isNew, const QString& oldHead);
    void markModified();
    void fillDiscountList();

    void Form_Unload();

    qint32 m_IPFeeRateID = -1;

    QString m_IPHead;
    bool m_IPHeadModified = false;
    bool m_Showing = false;   // the window itself fills the head fields
    bool m_Closing = false;
};

}  // namespace pricing
