#pragma once
// The ordinary fee rates "普通费率设置": one tab per call category, one grid row
// per zone code, edited in place; every change is in the database as soon as
// the editor is left. Closing it reopens rsFeeRate, so the pricing charges the
// edited rates from then on, and gives the screen back to the console.
#include "pricing/TariffEdit.h"

#include <QStringList>

namespace pricing {

class frmFeeRate : public FeeRateGridForm {
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

protected:
    void closeEvent(QCloseEvent* e) override;
    void setFieldValue(QWidget* editor, const QString& text) override;
    QVariant zoneOwner(const QString& zone) const override;
    QString categoryName(int type) const override;
    void storeZone(int r, const QString& zone) override;
    void reloadAfterFailure(bool fromText) override;
    void deleteRate(const QString& zone) override;

private:
    frmFeeRate();
    int tab() const { return m_Tab; }
    void loadFindList();
    void Form_Unload();
};

}  // namespace pricing
