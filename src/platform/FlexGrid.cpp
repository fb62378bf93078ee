#include "platform/FlexGrid.h"

#include <QHeaderView>
#include <QMouseEvent>

namespace platform {

FlexGrid::FlexGrid(QWidget* parent) : QTableWidget(parent) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setRows(2);
    setCols(2);
}

static Qt::Alignment alignOf(int a) {
    switch (a) {
    case 1: case 0: case 2: return Qt::AlignLeft | Qt::AlignVCenter;
    case 3: case 4: case 5: return Qt::AlignHCenter | Qt::AlignVCenter;
    default: return Qt::AlignRight | Qt::AlignVCenter;
    }
}

namespace {
// A data cell takes its column's alignment from the format string unless it
// was aligned on its own; keeping none per cell keeps large grids light.
class DataItem : public QTableWidgetItem {
public:
    DataItem(const FlexGrid* grid, int col) : grid_(grid), col_(col) {}
    QVariant data(int role) const override {
        if (role == Qt::TextAlignmentRole) {
            const QVariant own = QTableWidgetItem::data(role);
            if (own.isValid()) return own;
            const int a = grid_->columnAlignment(col_);
            return a ? QVariant(int(alignOf(a))) : own;
        }
        return QTableWidgetItem::data(role);
    }
private:
    const FlexGrid* grid_;
    int col_;
};
}  // namespace

int FlexGrid::columnAlignment(int c) const { return c >= 0 && c < colAlign_.size() ? colAlign_[c] : 0; }

QTableWidgetItem* FlexGrid::itemAt_(int r, int c) {
    QTableWidgetItem* it = item(r, c);
    if (!it) {
        if (r < fixedRows_ || c < fixedCols_) {
            it = new QTableWidgetItem;
            it->setBackground(palette().button());
        } else {
            it = new DataItem(this, c);
        }
        setItem(r, c, it);
    }
    return it;
}

void FlexGrid::setRows(int n) {
    setRowCount(qMax(0, n));
    row_ = qMin(row_, qMax(0, n - 1));
    rowSel_ = qMin(rowSel_, qMax(0, n - 1));
}
void FlexGrid::setCols(int n) {
    setColumnCount(qMax(0, n));
    col_ = qMin(col_, qMax(0, n - 1));
    colSel_ = qMin(colSel_, qMax(0, n - 1));
}
void FlexGrid::setFixedRows(int n) { fixedRows_ = qMax(0, n); }

void FlexGrid::setRow(int r) {
    row_ = r;
    rowSel_ = r;
    if (!syncing_ && r >= 0 && r < rowCount() && col_ >= 0 && col_ < columnCount()) {
        syncing_ = true;
        setCurrentCell(r, col_, QItemSelectionModel::ClearAndSelect);
        syncing_ = false;
    }
}
void FlexGrid::setCol(int c) {
    col_ = c;
    colSel_ = c;
    if (!syncing_ && row_ >= 0 && row_ < rowCount() && c >= 0 && c < columnCount()) {
        syncing_ = true;
        setCurrentCell(row_, c, QItemSelectionModel::ClearAndSelect);
        syncing_ = false;
    }
}
void FlexGrid::setRowSel(int r) {
    rowSel_ = r;
    if (!syncing_ && r >= 0 && r < rowCount()) {
        syncing_ = true;
        clearSelection();
        setRangeSelected(QTableWidgetSelectionRange(qMin(row_, r), qMin(col_, colSel_), qMax(row_, r), qMax(col_, colSel_)), true);
        syncing_ = false;
    }
}
void FlexGrid::setColSel(int c) {
    colSel_ = c;
    if (!syncing_ && c >= 0 && c < columnCount()) {
        syncing_ = true;
        clearSelection();
        setRangeSelected(QTableWidgetSelectionRange(qMin(row_, rowSel_), qMin(col_, c), qMax(row_, rowSel_), qMax(col_, c)), true);
        syncing_ = false;
    }
}

int FlexGrid::TopRow() const {
    int r = rowAt(0);
    return r < 0 ? fixedRows_ : qMax(r, fixedRows_);
}
void FlexGrid::setTopRow(int r) {
    if (r >= 0 && r < rowCount()) scrollToItem(const_cast<FlexGrid*>(this)->itemAt_(r, 0), QAbstractItemView::PositionAtTop);
}

QString FlexGrid::TextMatrix(int r, int c) const {
    const QTableWidgetItem* it = item(r, c);
    return it ? it->text() : QString();
}
void FlexGrid::setTextMatrix(int r, int c, const QString& text) {
    if (r < 0 || c < 0 || r >= rowCount() || c >= columnCount()) return;
    itemAt_(r, c)->setText(text);
}

QColor FlexGrid::CellBackColorAt(int r, int c) const {
    const QTableWidgetItem* it = item(r, c);
    if (!it || it->background().style() == Qt::NoBrush) return backColor_;
    return it->background().color();
}
void FlexGrid::setCellBackColorAt(int r, int c, const QColor& color) {
    if (r < 0 || c < 0 || r >= rowCount() || c >= columnCount()) return;
    itemAt_(r, c)->setBackground(color);
}
QColor FlexGrid::CellBackColor() const { return CellBackColorAt(row_, col_); }
void FlexGrid::setCellBackColor(const QColor& color) {
    if (fillStyle_ == 1) {
        for (int r = qMin(row_, rowSel_); r <= qMax(row_, rowSel_); ++r)
            for (int c = qMin(col_, colSel_); c <= qMax(col_, colSel_); ++c) setCellBackColorAt(r, c, color);
    } else {
        setCellBackColorAt(row_, col_, color);
    }
}
void FlexGrid::setRowBackColor(int r, const QColor& color) {
    for (int c = fixedCols_; c < columnCount(); ++c) setCellBackColorAt(r, c, color);
}
void FlexGrid::setBackColor(const QColor& c) {
    backColor_ = c;
    QPalette p = palette();
    p.setColor(QPalette::Base, c);
    setPalette(p);
}

void FlexGrid::setCellAlignment(int a) {
    if (row_ < rowCount() && col_ < columnCount()) itemAt_(row_, col_)->setTextAlignment(alignOf(a));
}
void FlexGrid::setCellAlignmentAt(int r, int c, int a) {
    if (r >= 0 && c >= 0 && r < rowCount() && c < columnCount()) itemAt_(r, c)->setTextAlignment(alignOf(a));
}
int FlexGrid::CellAlignmentAt(int r, int c) const {
    const QTableWidgetItem* it = item(r, c);
    if (!it) return 0;
    const auto h = Qt::Alignment(it->textAlignment()) & Qt::AlignHorizontal_Mask;
    return h == Qt::AlignLeft ? 1 : h == Qt::AlignHCenter ? 4 : h == Qt::AlignRight ? 7 : 0;
}
void FlexGrid::setColAlignment(int c, int a) {
    for (int r = fixedRows_; r < rowCount(); ++r) itemAt_(r, c)->setTextAlignment(alignOf(a));
}

int FlexGrid::CellLeft() const { return columnViewportPosition(col_) * 15; }
int FlexGrid::CellTop() const { return rowViewportPosition(row_) * 15; }

void FlexGrid::setFormatString(const QString& fmt) {
    format_ = fmt;
    const QStringList titles = fmt.split('|');
    setCols(titles.size());
    if (rowCount() < fixedRows_) setRows(fixedRows_);
    const QFontMetrics fm(font());
    for (int c = 0; c < titles.size(); ++c) {
        QString t = titles[c];
        int align = 1;
        if (t.startsWith('<')) { align = 1; t = t.mid(1); }
        else if (t.startsWith('>')) { align = 7; t = t.mid(1); }
        else if (t.startsWith('^')) { align = 4; t = t.mid(1); }
        const int width = fm.horizontalAdvance(t) + 12;
        const QString title = t.trimmed();
        if (fixedRows_ > 0) {
            itemAt_(0, c)->setText(title);
            itemAt_(0, c)->setTextAlignment(Qt::AlignCenter);
        }
        setColumnWidth(c, qMax(width, 24));
        colAlign_.resize(qMax(int(colAlign_.size()), c + 1));
        colAlign_[c] = align;
    }
}

void FlexGrid::AddItem(const QString& line, int row) {
    const int r = row < 0 || row > rowCount() ? rowCount() : row;
    insertRow(r);
    const QStringList cells = line.split('\t');
    for (int c = 0; c < cells.size() && c < columnCount(); ++c) {
        QTableWidgetItem* it = itemAt_(r, c);
        it->setText(cells[c]);
        if (c < colAlign_.size()) it->setTextAlignment(alignOf(colAlign_[c]));
    }
}

void FlexGrid::RemoveItem(int row) {
    if (row >= 0 && row < rowCount()) removeRow(row);
}

void FlexGrid::Clear() {
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            if (QTableWidgetItem* it = item(r, c)) it->setText(QString());
}

void FlexGrid::setRedraw(bool on) {
    redraw_ = on;
    setUpdatesEnabled(on);
}

void FlexGrid::setCellPicture(const QPixmap& pix) {
    if (row_ < rowCount() && col_ < columnCount()) itemAt_(row_, col_)->setData(Qt::DecorationRole, pix);
}

void FlexGrid::setCellPictureAt(int r, int c, const QPixmap& pix) {
    if (r >= 0 && c >= 0 && r < rowCount() && c < columnCount()) itemAt_(r, c)->setData(Qt::DecorationRole, pix);
}
QPixmap FlexGrid::CellPictureAt(int r, int c) const {
    const QTableWidgetItem* it = item(r, c);
    return it ? it->data(Qt::DecorationRole).value<QPixmap>() : QPixmap();
}

void FlexGrid::mousePressEvent(QMouseEvent* e) {
    const QModelIndex ix = indexAt(e->position().toPoint());
    mouseRow_ = ix.isValid() ? ix.row() : -1;
    mouseCol_ = ix.isValid() ? ix.column() : -1;
    QTableWidget::mousePressEvent(e);
    emit cellClickedVb();
}

void FlexGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableWidget::currentChanged(current, previous);
    if (syncing_ || !current.isValid()) return;
    row_ = rowSel_ = current.row();
    col_ = colSel_ = current.column();
}

void FlexGrid::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTableWidget::selectionChanged(selected, deselected);
    if (syncing_) return;
    const auto ranges = selectedRanges();
    if (ranges.isEmpty()) return;
    const auto& r = ranges.first();
    // The current cell is one corner; the other corner is the selection end.
    rowSel_ = (row_ == r.topRow()) ? r.bottomRow() : r.topRow();
    colSel_ = (col_ == r.leftColumn()) ? r.rightColumn() : r.leftColumn();
}

}  // namespace platform
