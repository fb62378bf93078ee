#pragma once
// Our grid in place of the hierarchical flex grid: a QTableView over a table
// model of our own, with the members the station's grid code drives, so that
// code reads like its model. Row 0 .. FixedRows-1 (and columns before
// FixedCols) are header cells kept as ordinary rows, drawn in the button colour.
//
// Cell texts are kept per row in one string, colours, alignments and pictures
// only for the cells that have them, so a grid of 100,000 rows stays light.
// While Redraw is False the grid neither paints nor tells its view about each
// cell: rows appended then reach the view in one step, and the changed cells
// in one repaint, when Redraw becomes True again.
#include "platform/Twips.h"

#include <QColor>
#include <QTableView>
#include <memory>

namespace platform {

// Colour literals of the station are &HBBGGRR.
inline QColor vbColor(quint32 bgr) { return QColor(bgr & 0xff, (bgr >> 8) & 0xff, (bgr >> 16) & 0xff); }

class FlexGridModel;

// Where the texts of a loader's rows come from when each is made only once it
// is needed (painted, read, changed, found, printed): the loader keeps what it
// read, and a view of many rows costs what the rows on screen cost.
class GridRowSource {
public:
    virtual ~GridRowSource() = default;
    // Cells 0 .. n-1 of the source's row k. The strings hold what the previous
    // call wrote, so that a writer may keep their room.
    virtual void rowTexts(int k, QString* texts, int n) const = 0;
};

class FlexGrid : public QTableView {
    Q_OBJECT
public:
    explicit FlexGrid(QWidget* parent = nullptr);
    ~FlexGrid() override;

    int Rows() const;
    void setRows(int n);
    int Cols() const;
    void setCols(int n);
    int FixedRows() const { return fixedRows_; }
    void setFixedRows(int n);
    int FixedCols() const { return fixedCols_; }
    void setFixedCols(int n);

    // Where the selection started (the current cell) and where it ends.
    int Row() const { return row_; }
    void setRow(int r);
    int Col() const { return col_; }
    void setCol(int c);
    int RowSel() const { return rowSel_; }
    void setRowSel(int r);
    int ColSel() const { return colSel_; }
    void setColSel(int c);
    int TopRow() const;
    void setTopRow(int r);

    // A cell outside the grid reads empty and takes no text.
    QString TextMatrix(int r, int c) const;
    void setTextMatrix(int r, int c, const QString& text);
    QString TextArray(int index) const { return TextMatrix(index / qMax(1, Cols()), index % qMax(1, Cols())); }
    void setTextArray(int index, const QString& t) { setTextMatrix(index / qMax(1, Cols()), index % qMax(1, Cols()), t); }
    // Cells 0 .. n-1 of row r take texts[0 .. n-1] (the row's later cells
    // keep theirs): a loader's whole row in one step.
    void setRowTexts(int r, const QString* texts, int n);
    // Rows first .. first + count - 1 take their cells 0 .. n-1 from the
    // source's rows 0 .. count - 1, each row when first needed; the texts they
    // held are dropped. The grid keeps one source: rows another source still
    // owes are made before it goes.
    void setRowSource(int first, int count, std::shared_ptr<const GridRowSource> source, int n);
    // A cell's text without a copy, for reading many cells (a sort's keys);
    // valid until the grid changes.
    QStringView cellView(int r, int c) const;
    // The first row from `startRow` on whose cell in column `col` reads
    // `text`; -1 when none. Finding moves nothing: the current cell, the
    // selection and the scrolled position stay where the operator left them.
    int FindRow(int col, QStringView text, int startRow = 0) const;
    // Row first + i takes the texts row first + order[i] had, for every i;
    // colours, alignments and pictures stay with their row numbers.
    void reorderRowTexts(int first, const QVector<int>& order);
    // Text of the current cell.
    QString Text() const { return TextMatrix(row_, col_); }
    void setText(const QString& t) { setTextMatrix(row_, col_, t); }

    QColor CellBackColor() const;            // of the current cell
    void setCellBackColor(const QColor& c);  // of the current cell, or of the selection when FillStyle is 1
    QColor CellBackColorAt(int r, int c) const;
    void setCellBackColorAt(int r, int c, const QColor& color);
    void setRowBackColor(int r, const QColor& color);
    // Text colour; a cell without its own is drawn in the grid's text colour.
    QColor CellForeColorAt(int r, int c) const;
    void setCellForeColorAt(int r, int c, const QColor& color);
    void setCellForeColor(const QColor& c) { setCellForeColorAt(row_, col_, c); }
    QColor BackColor() const { return backColor_; }
    void setBackColor(const QColor& c);
    int FillStyle() const { return fillStyle_; }
    void setFillStyle(int s) { fillStyle_ = s; }
    // 1 left-centre, 4 centre, 7 right-centre.
    void setCellAlignment(int a);
    void setColAlignment(int c, int a);
    void setCellAlignmentAt(int r, int c, int a);
    int columnAlignment(int c) const;   // of the format string: 1, 4, 7; 0 none
    // 1, 4 or 7: the cell's own, else (a data cell) its column's; 0 when none.
    int CellAlignmentAt(int r, int c) const;

    // Width in twips.
    int ColWidth(int c) const { return twips(columnWidth(c)); }
    void setColWidth(int c, int twips);
    int RowHeight(int r) const { return twips(rowHeight(r)); }
    void setRowHeight(int r, int twips);
    int CellLeft() const;   // twips, current cell relative to the grid
    int CellTop() const;
    int CellWidth() const { return ColWidth(col_); }
    int CellHeight() const { return RowHeight(row_); }
    int MouseRow() const { return mouseRow_; }
    int MouseCol() const { return mouseCol_; }

    // "|"-separated titles; a leading "<", ">" or "^" aligns the column;
    // trailing blanks widen it. Sets Cols and the header row 0.
    void setFormatString(const QString& fmt);
    QString FormatString() const { return format_; }

    // A Tab-separated line as a new row (at the end, or before `row`).
    void AddItem(const QString& line, int row = -1);
    // A new row at the end whose cells are the pieces of `text` that end at
    // ends[0 .. n-1] (cells past the grid's columns are dropped): a loader's
    // row without a Tab-separated line made and taken apart again. A tab in
    // a cell shows as a blank, as in AddItem.
    void AddRowCells(QStringView text, const quint32* ends, int n);
    void RemoveItem(int row);
    void Clear();   // empties every cell text
    bool Redraw() const { return redraw_; }
    void setRedraw(bool on);

    void setCellPicture(const QPixmap& pix);   // current cell
    void setCellPictureAt(int r, int c, const QPixmap& pix);
    QPixmap CellPictureAt(int r, int c) const;
signals:
    void cellClickedVb();   // after Row/Col follow a click
protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
private:
    friend class FlexGridModel;
    bool inGrid(int r, int c) const { return r >= 0 && c >= 0 && r < Rows() && c < Cols(); }
    void selectRange(int r1, int c1, int r2, int c2);
    void setCurrentCell(int r, int c);
    void clampCurrent();
    void selectWholeRows(int anchor, int r);
    void followView();

    FlexGridModel* model_ = nullptr;
    int fixedRows_ = 1;
    int fixedCols_ = 0;
    int row_ = 0, col_ = 0, rowSel_ = 0, colSel_ = 0;
    int mouseRow_ = -1, mouseCol_ = -1;
    int fillStyle_ = 0;
    bool redraw_ = true;
    QColor backColor_ = Qt::white;
    QString format_;
    bool syncing_ = false;
    int rowAnchor_ = -1;   // a press on a fixed column selects whole rows from here
    QVector<int> colAlign_;
};

}  // namespace platform
