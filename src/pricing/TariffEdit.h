#pragma once
// What the tariff editors accept from the operator and how they show it: the
// recognisers of zone codes and numbers, the leading number of a typed text,
// the find's pattern and the text of one fee-rate grid row.
#include "platform/Currency.h"
#include "platform/Db.h"
#include "platform/FlexGrid.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QString>
#include <QTabBar>
#include <QVector>
#include <QWidget>

namespace pricing {

// 1 to 16 decimal digits, nothing else.
bool IsZoneCode(const QString& t);
// An optional sign, digits and an optional decimal point followed by digits;
// no blanks, exponents, hexadecimal or separators.
bool IsNumber(const QString& t);
// The number a text begins with, as the editors read "60s" or "0.5元":
// blanks skipped, sign, digits, one decimal point; no number reads 0.
platform::Currency LeadingNumber(const QString& t);
// A price or fee of a tariff (a rate's or an IP head's), from what was typed:
// its leading number within 0 to kTariffPriceLimit, to the fen.
inline constexpr platform::Currency kTariffPriceLimit = platform::Currency::fromYuan(999);
platform::Currency TariffPrice(const QString& typed);
// The leading number rounded to a whole number (halves away from zero).
qint64 LeadingWhole(const QString& t);

// A find text as the operator means it: every character literal except "*"
// (any text) and "?" (one character); letters compare without regard to case.
bool WildcardMatch(const QString& pattern, const QString& text);
// The same pattern compiled once, for a search over many rows.
QRegularExpression WildcardPattern(const QString& pattern);

// The 13 cells of a fee-rate grid row as one grid line (platform::GridLine),
// from a row of "feerate.*, discountname".
QString FeeRateRowText(const platform::Recordset& rs);

// How a value typed into a fee-rate grid column is kept: the display text
// and the value bound into the statement. `title` is the column's header.
struct GridValue {
    QString display;
    platform::Param value{QVariant()};
};
// Clamps and formats a typed text for the value columns (seconds, money,
// percents); any other title keeps the text as typed.
GridValue FeeGridValue(const QString& title, const QString& typed);

// Whether an event on an in-place text editor commits its text: Return or
// Enter (`eat`: the key goes no further) or the focus leaving it.
bool CommitsEditor(const QEvent* e, bool& eat);

// The table column under each of the 13 grid columns.
QString FeeRateColumn(int gridCol);

// The eight access-fee fields of an IP head (first time, first price, time and
// price of each further unit, extra fee 1 and 2, service fee 1 and 2): the
// text a field shows once it is left, and the value stored from it. Times are
// whole seconds followed by "s" (a further unit at least 1), percents whole
// numbers followed by "%" (outside 0 to 100 they become 0), money "0.00"
// within the bound of the rates' price columns (a text that is not a number
// becomes "0.00"): the price charged is the price shown.
QString IPLinkText(int index, const QString& typed);
platform::Param IPLinkValue(int index, const QString& text);

// The in-place editing of a fee-rate grid, shared by the ordinary rates and the
// IP rates: a text editor for the zone code, place name and values, a list for
// the discount and the two yes/no columns, every change stored once the editor
// is left. A window derives from it and says where its rates are (which rate
// id, which category, where a zone code must be unique).
class FeeRateGridForm : public QWidget {
public:
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
    // `right` is the operator right every change asks for. From here until the
    // window has closed, calls are priced from the tariffs as they stand now.
    explicit FeeRateGridForm(int right);
    ~FeeRateGridForm() override;
    // The window has closed and reopened the recordsets the pricing reads:
    // calls are priced from the edited tariffs from now on.
    void releaseRates();
    bool eventFilter(QObject* o, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

    // The grid with the 13 columns of `format`, on `parent`.
    void makeGrid(QWidget* parent, const QString& format);
    // The two editors, and the grid's mouse and keys routed to them.
    void makeEditors();
    // A pending edit is committed as leaving its editor does.
    void commitPending();
    // The operator chose another tab: an open edit is committed first, on the
    // tab it was made on. A refused value keeps its editor, and the tab stays.
    bool leaveTab();
    // The editor laid over the cell it edits (GridSelFirst, GridEditCol).
    void placeEditor(QWidget* editor);
    // Rows of "feerate.*, discountname" into the grid, one empty row at least.
    void showRows(platform::Recordset& rs);
    // The rate of `zone` as stored into row `r` of the grid; the zone code
    // alone when the query finds none.
    void showStoredRow(int r, platform::Recordset& rs, const QString& zone);
    // A new rate from row `r`'s cells under `zone`; `summary` is its place name.
    void insertRate(int r, const QString& zone, const QString& summary, int type, qint32 feerateId);
    bool rowOneProtected() const;
    void GetSelectArr(bool bDiscount);
    // The display text and stored value of what was typed or chosen.
    GridValue editedValue(QWidget* editor, const QString& text) const;
    void refuseZone(const QString& message, int r);
    // A zone code typed into row GridSelFirst: checked, refused where it
    // already stands, else stored by storeZone.
    void zoneCommit();
    // 增加: a copy of the last row, waiting for its zone code.
    void addRow();
    // 删除: the editors closed, then the rates of the selected rows from
    // GridSelFirst, the default row kept, leave the store in one transaction
    // and their rows the grid. A refused statement is told and changes
    // nothing; false then.
    bool deleteSelectedRows();
    // 查找: the next rate whose zone code or place name matches what the
    // operator asks for, its tab shown and its row selected.
    void findNext();
    // The rates of the find list from "zonecode, summary, feeratetype".
    void readFindRows(platform::Recordset& rs);

    // The rest differs between the ordinary and the IP rates.
    virtual bool gridEditable() const { return true; }
    virtual void setFieldValue(QWidget* editor, const QString& text) = 0;
    // The category a zone code already stands in where it must be unique; null if none.
    virtual QVariant zoneOwner(const QString& zone) const = 0;
    virtual QString categoryName(int type) const = 0;
    // A new zone code for row `r`: a new rate for a row not yet stored, else
    // the row's rate renamed; the editor is closed.
    virtual void storeZone(int r, const QString& zone) = 0;
    // After a refused statement: the grid shows what is stored again.
    virtual void reloadAfterFailure(bool fromText) = 0;
    // The stored rate of `zone` in the category shown goes.
    virtual void deleteRate(const QString& zone) = 0;

    int m_Tab = 0;   // the category the grid shows
    QString m_FindText;
    struct FindRow {
        QString zone, summary;
        int type;
    };
    QVector<FindRow> m_FindRows;
    int m_FindPos = -1;
    bool m_Committing = false;

private:
    // The last selected row to delete.
    int rowsToDelete();
    // A deleted rate's row leaves the grid; the last data row stays, emptied.
    void dropRow(int r);

    int m_Right;
    bool m_HoldsRates = false;
};

}  // namespace pricing
