#pragma once
// The print form for fixed layouts: bills, receipts, the bill summary by call
// type and the call tickets. It is never shown. A caller clears it, points the
// title and footer slots at labels, chooses the paper, calls Init with the
// grid block to print, fills the cells and calls PrnGrid. Up to three title
// lines, the block as a ruled table with centred cells, a footer line under
// every page and, for jobs of several pages, "第p/n页".
//
// Cut sheets, a continuous form (PrnType) whose open page carries on across
// jobs through the position keys, or user-defined long paper cut to the
// height of a one-page job.
#include "platform/FlexGrid.h"

#include <QLabel>
#include <QString>
#include <QWidget>

class frmGridPrn : public QWidget {
    Q_OBJECT
public:
    static frmGridPrn& instance();
    static bool exists();
    static void unload();
    ~frmGridPrn() override;

    // Keeps the grid and its block (columns, rows), sets up printer and page.
    // False on any error; the caller then prints nothing.
    bool Init(platform::FlexGrid* grid, int firstCol, int lastCol, int firstRow, int lastRow, bool headerRow,
              bool titlesEveryPage);
    // Title lines, the header row when asked, then the block's rows. Stops at
    // the first error without a message; PrnError() tells it.
    void PrnGrid();
    QString PrnError() const { return prnError_; }
    // User-defined long paper (11,900 x 100,000 twips) or back to A4.
    bool SetPaperUserDef(bool userDef);
    void ClearFrm();
    // Lays out the bill summary by call type in the detail grid and calls Init on it.
    bool SetGridBill();
    // A frame around the block printed last.
    void DrawBox();
    // Blanks to put between `left` and `right` so that, in the label's font,
    // they fill 7,400 twips; never below 0.
    int GetInsertSpace(QLabel* label, const QString& left, const QString& right);

    // The position key of a continuous form for a program of this file name:
    // "TarvoLocateY" for "tarvo...", "" for a name the station does not know.
    static QString OwnPositionKey(const QString& exeName);
    // Pages the block needs, as worked out by Init.
    int PageCount() const { return pageCount_; }

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    platform::FlexGrid* MSFlexGrid1 = nullptr;

    platform::FlexGrid* PrintGridObj = nullptr;
    QLabel* TitleLine1 = nullptr;
    QLabel* TitleLine2 = nullptr;
    QLabel* TitleLine3 = nullptr;
    QLabel* FootLine = nullptr;

private:
    explicit frmGridPrn(QWidget* parent = nullptr);
    void Form_Load();
    void SetPage(int top, int bottom, int left, int right);
    void PrnTitle();
    void PrnRow(int r);
    void PrnFoot();
    void CheckRollEnd();
    double formBottom() const;
    void printLabel(QLabel* label, bool bold);
    QString ownKey() const;

    int colFirst_ = 0, colLast_ = 0, rowFirst_ = 0, rowLast_ = 0;
    bool header_ = false, titles_ = false, bill_ = false;
    double top_ = 200, bottom_ = 200, left_ = 200, right_ = 400;
    int rowSpace_ = 100, blockGap_ = 200;
    double scale_ = 1;
    double tableWidth_ = 0;
    double titleHeight_ = 0, footHeight_ = 0, rowsHeight_ = 0;
    double firstBody_ = 0, firstStart_ = 0, laterBody_ = 0, laterStart_ = 0;
    int page_ = 1, pageCount_ = 1;
    bool newPagePending_ = false;
    bool docEnded_ = false;   // the row's page end also ended a continuous document
    double tableTop_ = 0, tableRight_ = 0, lastRule_ = 0, boxTop_ = 0, boxLeft_ = 0;
    QString prnError_;
};

namespace printing::testing {
// The executable's file name the print form chooses its position key by
// ("" = the real one).
void setExecutableName(const QString& name);
}  // namespace printing::testing
