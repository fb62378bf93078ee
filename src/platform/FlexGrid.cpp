#include "platform/FlexGrid.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPixmap>
#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

namespace platform {

namespace {

Qt::Alignment alignOf(int a) {
    switch (a) {
    case 1: case 0: case 2: return Qt::AlignLeft | Qt::AlignVCenter;
    case 3: case 4: case 5: return Qt::AlignHCenter | Qt::AlignVCenter;
    default: return Qt::AlignRight | Qt::AlignVCenter;
    }
}

// The three alignments the grid draws: 1 left, 4 centre, 7 right.
int normAlign(int a) { return a <= 2 ? 1 : a <= 5 ? 4 : 7; }

// What a cell may have beside its text; kept only for cells that have it.
struct CellLook {
    QColor back;     // invalid: none of its own
    QColor fore;     // invalid: none of its own
    int align = 0;   // 0: none of its own
    std::shared_ptr<const QPixmap> picture;   // a pixmap only for a cell that shows one
    bool empty() const { return !back.isValid() && !fore.isValid() && align == 0 && !picture; }
};

// A cell's look, by its column: a row has few, so they are found by a walk.
struct ColumnLook {
    int col;
    CellLook look;
};

// One row: its cells' texts one after another in one string, and where each
// ends. Cells past the last end are empty. Looks travel with their row.
struct GridRow {
    QString text;
    std::vector<quint32> ends;
    std::unique_ptr<std::vector<ColumnLook>> looks;

    // Cells 0 .. n-1 take texts[0 .. n-1], the row's text built once at its size.
    void assign(const QString* texts, int n) {
        qsizetype size = 0;
        for (int c = 0; c < n; ++c) size += texts[c].size();
        QString joined(size, Qt::Uninitialized);
        std::vector<quint32> at(n);
        QChar* out = joined.data();
        for (int c = 0; c < n; ++c) {
            out = std::copy_n(texts[c].constData(), texts[c].size(), out);
            at[c] = quint32(out - joined.constData());
        }
        // Trailing empty cells are kept as none, as cell by cell.
        while (!at.empty() && (at.size() == 1 ? 0 : at[at.size() - 2]) == at.back()) at.pop_back();
        text = std::move(joined);
        ends = std::move(at);
    }

    QString cell(int c) const { return cellView(c).toString(); }
    QStringView cellView(int c) const {
        if (c < 0 || c >= int(ends.size())) return {};
        const quint32 b = c == 0 ? 0 : ends[c - 1];
        return QStringView(text).mid(b, ends[c] - b);
    }
    void setCell(int c, const QString& t, int cols) {
        if (c >= int(ends.size())) {
            if (t.isEmpty()) return;
            if (ends.capacity() < size_t(cols)) ends.reserve(cols);
            ends.resize(c + 1, quint32(text.size()));
            // A row's first text: room for a row of short cells in one block,
            // rather than sharing the caller's string and growing step by step.
            if (text.capacity() == 0) text.reserve(qMax<qsizetype>(t.size(), 6) * qMax(cols - c, 1));
        }
        const quint32 b = c == 0 ? 0 : ends[c - 1];
        const quint32 len = ends[c] - b;
        const qsizetype delta = t.size() - qsizetype(len);
        if (len == 0 && b == quint32(text.size())) {
            // The usual case of a fill: the last cell so far.
            const qsizetype at = text.size();
            text.resize(at + t.size());
            std::copy_n(t.constData(), t.size(), text.data() + at);
        } else if (c == int(ends.size()) - 1) {
            text.truncate(b);
            text.append(t);
        } else {
            text.replace(b, len, t);
        }
        if (delta != 0)
            for (size_t k = c; k < ends.size(); ++k) ends[k] = quint32(qsizetype(ends[k]) + delta);
    }
    // Drops the cells from column `cols` on.
    void truncate(int cols) {
        if (int(ends.size()) > cols) {
            text.truncate(cols == 0 ? 0 : ends[cols - 1]);
            ends.resize(cols);
        }
        if (looks) {
            std::erase_if(*looks, [cols](const ColumnLook& l) { return l.col >= cols; });
            if (looks->empty()) looks.reset();
        }
    }
    const CellLook* look(int c) const {
        if (!looks) return nullptr;
        for (const ColumnLook& l : *looks)
            if (l.col == c) return &l.look;
        return nullptr;
    }
    // Room for a look in every column at once: a row that has one mostly
    // takes the same for the whole row (its colour).
    CellLook& lookFor(int c, int cols) {
        if (!looks) {
            looks = std::make_unique<std::vector<ColumnLook>>();
            looks->reserve(qMax(cols, 1));
        }
        for (ColumnLook& l : *looks)
            if (l.col == c) return l.look;
        return looks->emplace_back(ColumnLook{c, {}}).look;
    }
    void dropLook(int c) {
        std::erase_if(*looks, [c](const ColumnLook& l) { return l.col == c; });
        if (looks->empty()) looks.reset();
    }
};

}  // namespace

// The grid's cells. The view knows `shown_` rows; while the grid is frozen
// (Redraw False) rows appended at the end wait beyond that count and cell
// changes are only noted, both told to the view when the grid thaws.
class FlexGridModel : public QAbstractTableModel {
public:
    explicit FlexGridModel(FlexGrid* grid) : QAbstractTableModel(grid), grid_(grid) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : shown_; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : cols_; }
    Qt::ItemFlags flags(const QModelIndex& ix) const override {
        return ix.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    QVariant data(const QModelIndex& ix, int role) const override {
        if (!ix.isValid() || ix.row() >= int(rows_.size())) return {};
        const int r = ix.row(), c = ix.column();
        const GridRow& row = rows_[r];
        switch (role) {
        case Qt::DisplayRole:
            return this->row(r).cell(c);
        case Qt::TextAlignmentRole: {
            const int a = alignment(r, c);
            return a ? QVariant(int(alignOf(a))) : QVariant();
        }
        case Qt::BackgroundRole: {
            const CellLook* l = row.look(c);
            if (l && l->back.isValid()) return QBrush(l->back);
            if (isFixed(r, c)) return grid_->palette().button();
            return {};
        }
        case Qt::ForegroundRole: {
            const CellLook* l = row.look(c);
            return l && l->fore.isValid() ? QVariant(QBrush(l->fore)) : QVariant();
        }
        case Qt::DecorationRole: {
            const CellLook* l = row.look(c);
            return l && l->picture ? QVariant(*l->picture) : QVariant();
        }
        default:
            return {};
        }
    }

    bool isFixed(int r, int c) const { return r < grid_->fixedRows_ || c < grid_->fixedCols_; }
    int alignment(int r, int c) const {
        const CellLook* l = rows_[r].look(c);
        if (l && l->align) return l->align;
        return isFixed(r, c) ? 0 : grid_->columnAlignment(c);
    }

    int rows() const { return int(rows_.size()); }
    int cols() const { return cols_; }
    // A row with its texts (made now when its source still owes them).
    const GridRow& row(int r) const {
        if (!owed_.empty() && owed_[r] >= 0) make(r);
        return rows_[r];
    }
    // A row's looks, whether or not its texts are made.
    const CellLook* look(int r, int c) const { return rows_[r].look(c); }

    void setSource(int first, int count, std::shared_ptr<const GridRowSource> source, int n) {
        for (int r = 0; owedRows_ > 0 && r < rows(); ++r) row(r);
        if (count <= 0 || n <= 0) return;
        source_ = std::move(source);
        sourceCols_ = n;
        owed_.assign(rows(), -1);
        for (int i = 0; i < count; ++i) {
            GridRow& row = rows_[first + i];
            row.text.clear();
            row.ends.clear();
            owed_[first + i] = i;
        }
        owedRows_ = count;
        changedRows(first, first + count - 1);
    }

    // ---- shape: told to the view at once (pending appends first) ----
    void setRows(int n) {
        flush();
        const int cur = rows();
        if (n > cur) {
            beginInsertRows({}, cur, n - 1);
            rows_.resize(n);
            if (!owed_.empty()) owed_.resize(n, -1);
            shown_ = n;
            endInsertRows();
        } else if (n < cur) {
            beginRemoveRows({}, n, cur - 1);
            for (int r = n; r < cur; ++r) forget(r);
            rows_.erase(rows_.begin() + n, rows_.end());
            if (!owed_.empty()) owed_.resize(n);
            shown_ = n;
            endRemoveRows();
        }
    }
    void setCols(int n) {
        flush();
        if (n > cols_) {
            beginInsertColumns({}, cols_, n - 1);
            cols_ = n;
            endInsertColumns();
        } else if (n < cols_) {
            beginRemoveColumns({}, n, cols_ - 1);
            cols_ = n;
            for (GridRow& r : rows_) r.truncate(n);
            // Columns gone stay empty in the rows still owed.
            sourceCols_ = qMin(sourceCols_, n);
            endRemoveColumns();
        }
    }
    // A row of `cells` before row `at` (at rows(): at the end).
    void insertRow(int at, GridRow&& row) {
        if (frozen_ && at == rows()) {
            rows_.push_back(std::move(row));   // told at the thaw, with the others
            if (!owed_.empty()) owed_.push_back(-1);
            return;
        }
        flush();
        beginInsertRows({}, at, at);
        rows_.insert(rows_.begin() + at, std::move(row));
        if (!owed_.empty()) owed_.insert(owed_.begin() + at, -1);
        shown_ = rows();
        endInsertRows();
    }
    void removeRow(int r) {
        flush();
        beginRemoveRows({}, r, r);
        forget(r);
        rows_.erase(rows_.begin() + r);
        if (!owed_.empty()) owed_.erase(owed_.begin() + r);
        shown_ = rows();
        endRemoveRows();
    }

    // ---- cells ----
    void setText(int r, int c, const QString& t) {
        this->row(r);
        GridRow& row = rows_[r];
        if (c >= int(row.ends.size()) && t.isEmpty()) return;
        row.setCell(c, t, cols_);
        changed(r, c);
    }
    // Cells first .. the last of row r take a background of their own.
    void setRowBack(int r, int first, const QColor& color) {
        GridRow& row = rows_[r];
        if (row.looks) {
            for (int c = first; c < cols_; ++c) row.lookFor(c, cols_).back = color;
        } else if (first < cols_) {
            // A row without looks (the usual one): its looks in column order at once.
            row.looks = std::make_unique<std::vector<ColumnLook>>();
            row.looks->reserve(cols_);
            for (int c = first; c < cols_; ++c) row.looks->push_back({c, CellLook{color, {}, 0, {}}});
        }
        changedRows(r, r);
    }
    template <class Change>
    void setLook(int r, int c, Change&& change) {
        CellLook& l = rows_[r].lookFor(c, cols_);
        change(l);
        if (l.empty()) rows_[r].dropLook(c);
        changed(r, c);
    }
    // A row without cells past n gets its text built once, at its size.
    void setRowTexts(int r, const QString* texts, int n) {
        this->row(r);
        GridRow& row = rows_[r];
        if (int(row.ends.size()) > n) {
            for (int c = 0; c < n; ++c) row.setCell(c, texts[c], cols_);
        } else {
            row.assign(texts, n);
        }
        changedRows(r, r);
    }
    // Texts (and where their cells end) move; looks stay with the row number.
    void reorderTexts(int first, const QVector<int>& order) {
        std::vector<QString> texts(order.size());
        std::vector<std::vector<quint32>> ends(order.size());
        std::vector<qint32> owed(owed_.empty() ? 0 : order.size());
        for (int i = 0; i < order.size(); ++i) {
            GridRow& from = rows_[first + order[i]];
            texts[i] = std::move(from.text);
            ends[i] = std::move(from.ends);
            if (!owed.empty()) owed[i] = owed_[first + order[i]];
        }
        for (int i = 0; i < order.size(); ++i) {
            rows_[first + i].text = std::move(texts[i]);
            rows_[first + i].ends = std::move(ends[i]);
        }
        std::copy(owed.begin(), owed.end(), owed_.begin() + first);
        if (!order.isEmpty()) changedRows(first, first + int(order.size()) - 1);
    }
    void clearTexts() {
        for (GridRow& r : rows_) {
            r.text.clear();
            r.ends.clear();
        }
        release();
        if (rows() > 0) changedRows(0, rows() - 1);
    }
    void clearAlign(int c, int fromRow) {
        for (int r = fromRow; r < rows(); ++r)
            if (rows_[r].look(c)) setLook(r, c, [](CellLook& l) { l.align = 0; });
    }
    void changedRows(int top, int bottom) {
        if (frozen_) {
            dirtyTop_ = qMin(dirtyTop_, top);
            dirtyBottom_ = qMax(dirtyBottom_, bottom);
        } else if (cols_ > 0 && top < shown_) {
            emit dataChanged(index(top, 0), index(qMin(bottom, shown_ - 1), cols_ - 1));
        }
    }

    // ---- Redraw ----
    void freeze() { frozen_ = true; }
    void thaw() {
        if (!frozen_) return;
        const int top = dirtyTop_, bottom = qMin(dirtyBottom_, shown_ - 1);
        const int appendedFrom = shown_;
        frozen_ = false;
        dirtyTop_ = INT_MAX;
        dirtyBottom_ = -1;
        // A long fill grows its strings step by step; give the slack back.
        for (int r = qMax(0, top); r <= qMin(bottom, rows() - 1); ++r) squeeze(rows_[r]);
        for (int r = appendedFrom; r < rows(); ++r) squeeze(rows_[r]);
        flush();
        if (cols_ > 0 && top <= bottom) emit dataChanged(index(top, 0), index(bottom, cols_ - 1));
    }
    // Tells the view of rows appended while frozen.
    void flush() {
        if (shown_ >= rows()) return;
        beginInsertRows({}, shown_, rows() - 1);
        shown_ = rows();
        endInsertRows();
    }

private:
    void changed(int r, int c) {
        if (frozen_) {
            if (r < shown_) {
                dirtyTop_ = qMin(dirtyTop_, r);
                dirtyBottom_ = qMax(dirtyBottom_, r);
            }
        } else if (r < shown_) {
            const QModelIndex ix = index(r, c);
            emit dataChanged(ix, ix);
        }
    }
    static void squeeze(GridRow& row) {
        if (row.text.capacity() > row.text.size() + 8) row.text.squeeze();
    }
    // The texts row r is owed, from the source. Reading a cell makes its row:
    // the rows are the model's cache of what the source shows.
    void make(int r) const {
        const int k = owed_[r];
        owed_[r] = -1;
        const int n = qMin(sourceCols_, cols_);
        if (int(scratch_.size()) < n) scratch_.resize(n);
        source_->rowTexts(k, scratch_.data(), n);
        rows_[r].assign(scratch_.data(), n);
        if (--owedRows_ == 0) release();
    }
    // A row leaving the grid owes nothing more.
    void forget(int r) {
        if (owed_.empty() || owed_[r] < 0) return;
        owed_[r] = -1;
        if (--owedRows_ == 0) release();
    }
    // Nothing is owed any more: the source and the list go.
    void release() const {
        owedRows_ = 0;
        source_.reset();
        std::vector<qint32>().swap(owed_);
    }

    FlexGrid* grid_;
    // Mutable: a row owed by the source is made when first read.
    mutable std::vector<GridRow> rows_;
    mutable std::shared_ptr<const GridRowSource> source_;
    // For each row, the source's row it still owes its texts to (-1: none);
    // empty while no row owes any.
    mutable std::vector<qint32> owed_;
    mutable int owedRows_ = 0;
    int sourceCols_ = 0;
    mutable std::vector<QString> scratch_;
    int shown_ = 0;
    int cols_ = 0;
    bool frozen_ = false;
    int dirtyTop_ = INT_MAX, dirtyBottom_ = -1;
};

FlexGrid::FlexGrid(QWidget* parent) : QTableView(parent) {
    model_ = new FlexGridModel(this);
    setModel(model_);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setRows(2);
    setCols(2);
}

FlexGrid::~FlexGrid() = default;

int FlexGrid::Rows() const { return model_->rows(); }
int FlexGrid::Cols() const { return model_->cols(); }

int FlexGrid::columnAlignment(int c) const { return c >= 0 && c < colAlign_.size() ? colAlign_[c] : 0; }

void FlexGrid::clampCurrent() {
    row_ = qMin(row_, qMax(0, Rows() - 1));
    rowSel_ = qMin(rowSel_, qMax(0, Rows() - 1));
    col_ = qMin(col_, qMax(0, Cols() - 1));
    colSel_ = qMin(colSel_, qMax(0, Cols() - 1));
}

void FlexGrid::setRows(int n) {
    model_->setRows(qMax(0, n));
    clampCurrent();
}
void FlexGrid::setCols(int n) {
    model_->setCols(qMax(0, n));
    clampCurrent();
}
void FlexGrid::setFixedRows(int n) {
    fixedRows_ = qMax(0, n);
    model_->changedRows(0, qMax(0, Rows() - 1));
}
void FlexGrid::setFixedCols(int n) {
    fixedCols_ = qMax(0, n);
    model_->changedRows(0, qMax(0, Rows() - 1));
}

void FlexGrid::setCurrentCell(int r, int c) {
    model_->flush();
    const QModelIndex ix = model_->index(r, c);
    QItemSelectionModel* sel = selectionModel();
    // The cell that is already current and alone selected (a loader colouring
    // row after row puts the current column back each time): nothing changes.
    if (sel->currentIndex() == ix) {
        const QItemSelection now = sel->selection();
        if (now.size() == 1 && now.first().topLeft() == ix && now.first().bottomRight() == ix) return;
    }
    sel->setCurrentIndex(ix, QItemSelectionModel::ClearAndSelect);
}

void FlexGrid::selectRange(int r1, int c1, int r2, int c2) {
    model_->flush();
    selectionModel()->select(QItemSelection(model_->index(r1, c1), model_->index(r2, c2)),
                             QItemSelectionModel::ClearAndSelect);
}

void FlexGrid::setRow(int r) {
    row_ = r;
    rowSel_ = r;
    if (!syncing_ && inGrid(r, col_)) {
        syncing_ = true;
        setCurrentCell(r, col_);
        syncing_ = false;
    }
}
void FlexGrid::setCol(int c) {
    col_ = c;
    colSel_ = c;
    if (!syncing_ && inGrid(row_, c)) {
        syncing_ = true;
        setCurrentCell(row_, c);
        syncing_ = false;
    }
}
void FlexGrid::setRowSel(int r) {
    rowSel_ = r;
    if (!syncing_ && r >= 0 && r < Rows() && inGrid(row_, qMax(col_, colSel_))) {
        syncing_ = true;
        selectRange(qMin(row_, r), qMin(col_, colSel_), qMax(row_, r), qMax(col_, colSel_));
        syncing_ = false;
    }
}
void FlexGrid::setColSel(int c) {
    colSel_ = c;
    if (!syncing_ && c >= 0 && c < Cols() && inGrid(qMax(row_, rowSel_), col_)) {
        syncing_ = true;
        selectRange(qMin(row_, rowSel_), qMin(col_, c), qMax(row_, rowSel_), qMax(col_, c));
        syncing_ = false;
    }
}

int FlexGrid::TopRow() const {
    const int r = rowAt(0);
    return r < 0 ? fixedRows_ : qMax(r, fixedRows_);
}
void FlexGrid::setTopRow(int r) {
    if (r < 0 || r >= Rows()) return;
    model_->flush();
    scrollTo(model_->index(r, 0), QAbstractItemView::PositionAtTop);
}

QString FlexGrid::TextMatrix(int r, int c) const { return inGrid(r, c) ? model_->row(r).cell(c) : QString(); }
void FlexGrid::setTextMatrix(int r, int c, const QString& text) {
    if (inGrid(r, c)) model_->setText(r, c, text);
}

QStringView FlexGrid::cellView(int r, int c) const { return inGrid(r, c) ? model_->row(r).cellView(c) : QStringView(); }

int FlexGrid::FindRow(int col, QStringView text, int startRow) const {
    if (col < 0 || col >= Cols()) return -1;
    for (int r = qMax(startRow, 0); r < Rows(); ++r)
        if (cellView(r, col) == text) return r;
    return -1;
}

void FlexGrid::setRowTexts(int r, const QString* texts, int n) {
    if (r < 0 || r >= Rows() || n <= 0) return;
    model_->setRowTexts(r, texts, qMin(n, Cols()));
}

void FlexGrid::setRowSource(int first, int count, std::shared_ptr<const GridRowSource> source, int n) {
    if (!source || first < 0 || count < 0 || first + count > Rows()) return;
    model_->setSource(first, count, std::move(source), qMin(n, Cols()));
}

void FlexGrid::reorderRowTexts(int first, const QVector<int>& order) {
    // Only a permutation of rows inside the grid is taken.
    if (first < 0 || first + order.size() > Rows()) return;
    std::vector<bool> seen(order.size(), false);
    for (int i : order) {
        if (i < 0 || i >= order.size() || seen[i]) return;
        seen[i] = true;
    }
    model_->reorderTexts(first, order);
}

QColor FlexGrid::CellBackColorAt(int r, int c) const {
    if (!inGrid(r, c)) return backColor_;
    const CellLook* l = model_->look(r, c);
    if (l && l->back.isValid()) return l->back;
    return model_->isFixed(r, c) ? palette().button().color() : backColor_;
}
void FlexGrid::setCellBackColorAt(int r, int c, const QColor& color) {
    if (inGrid(r, c)) model_->setLook(r, c, [&](CellLook& l) { l.back = color; });
}
QColor FlexGrid::CellForeColorAt(int r, int c) const {
    const CellLook* l = inGrid(r, c) ? model_->look(r, c) : nullptr;
    return l && l->fore.isValid() ? l->fore : palette().color(QPalette::Text);
}
void FlexGrid::setCellForeColorAt(int r, int c, const QColor& color) {
    if (inGrid(r, c)) model_->setLook(r, c, [&](CellLook& l) { l.fore = color; });
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
    if (r < 0 || r >= Rows()) return;
    if (color.isValid()) {
        model_->setRowBack(r, fixedCols_, color);
        return;
    }
    for (int c = fixedCols_; c < Cols(); ++c) setCellBackColorAt(r, c, color);   // drops the row's own
}
void FlexGrid::setBackColor(const QColor& c) {
    backColor_ = c;
    QPalette p = palette();
    p.setColor(QPalette::Base, c);
    setPalette(p);
}

void FlexGrid::setCellAlignment(int a) { setCellAlignmentAt(row_, col_, a); }
void FlexGrid::setCellAlignmentAt(int r, int c, int a) {
    const int h = normAlign(a);
    if (inGrid(r, c)) model_->setLook(r, c, [h](CellLook& l) { l.align = h; });
}
int FlexGrid::CellAlignmentAt(int r, int c) const { return inGrid(r, c) ? model_->alignment(r, c) : 0; }
void FlexGrid::setColAlignment(int c, int a) {
    if (c < 0 || c >= Cols()) return;
    colAlign_.resize(qMax(int(colAlign_.size()), c + 1));
    colAlign_[c] = normAlign(a);
    // The data cells of the column take it, whatever they had of their own.
    model_->clearAlign(c, fixedRows_);
    model_->changedRows(fixedRows_, Rows() - 1);
}

void FlexGrid::setColWidth(int c, int twips) { setColumnWidth(c, qMax(0, px(twips))); }
void FlexGrid::setRowHeight(int r, int twips) {
    model_->flush();
    QTableView::setRowHeight(r, qMax(0, px(twips)));
}

int FlexGrid::CellLeft() const { return twips(columnViewportPosition(col_)); }
int FlexGrid::CellTop() const {
    model_->flush();
    return twips(rowViewportPosition(row_));
}

void FlexGrid::setFormatString(const QString& fmt) {
    format_ = fmt;
    const QStringList titles = fmt.split('|');
    setCols(titles.size());
    if (Rows() < fixedRows_) setRows(fixedRows_);
    const QFontMetrics fm(font());
    colAlign_.resize(qMax(int(colAlign_.size()), int(titles.size())));
    for (int c = 0; c < titles.size(); ++c) {
        QString t = titles[c];
        int align = 1;
        if (t.startsWith('<')) { align = 1; t = t.mid(1); }
        else if (t.startsWith('>')) { align = 7; t = t.mid(1); }
        else if (t.startsWith('^')) { align = 4; t = t.mid(1); }
        const int width = fm.horizontalAdvance(t) + 12;
        if (fixedRows_ > 0) {
            setTextMatrix(0, c, t.trimmed());
            setCellAlignmentAt(0, c, 4);
        }
        setColumnWidth(c, qMax(width, 24));
        colAlign_[c] = align;
    }
    model_->changedRows(fixedRows_, Rows() - 1);
}

void FlexGrid::AddItem(const QString& line, int row) {
    const int r = row < 0 || row > Rows() ? Rows() : row;
    // The line's cells straight into the row's one string, without the tabs,
    // in one pass over the line.
    GridRow g;
    const int cols = Cols();
    if (cols > 0 && !line.isEmpty()) {
        g.ends.reserve(cols);
        g.text.resize(line.size());
        const QChar* in = line.constData();
        const QChar* const end = in + line.size();
        QChar* out = g.text.data();
        QChar* const first = out;
        for (; in != end; ++in) {
            if (*in == QLatin1Char('\t')) {
                g.ends.push_back(quint32(out - first));
                if (int(g.ends.size()) == cols) break;   // cells past the last column are dropped
            } else {
                *out++ = *in;
            }
        }
        if (int(g.ends.size()) < cols) g.ends.push_back(quint32(out - first));
        g.text.truncate(out - first);
    }
    model_->insertRow(r, std::move(g));
}

void FlexGrid::AddRowCells(QStringView text, const quint32* ends, int n) {
    GridRow g;
    const int cols = Cols();
    n = qMin(n, cols);
    if (n > 0 && ends[n - 1] <= quint32(text.size())) {
        const quint32 size = ends[n - 1];
        g.text = text.first(size).toString();   // exactly its size: nothing to give back at the thaw
        if (g.text.contains(QLatin1Char('\t'))) g.text.replace(QLatin1Char('\t'), QLatin1Char(' '));
        g.ends.assign(ends, ends + n);
    }
    model_->insertRow(Rows(), std::move(g));
}

void FlexGrid::RemoveItem(int row) {
    if (row < 0 || row >= Rows()) return;
    // The current cell and the selection's other corner stay with their rows'
    // texts: a row removed above them moves them up. (The view moves its own
    // current index while the row goes; that move is not the operator's.)
    const auto follow = [row](int r) { return r > row ? r - 1 : r; };
    const int current = follow(row_), other = follow(rowSel_);
    syncing_ = true;
    model_->removeRow(row);
    syncing_ = false;
    row_ = current;
    rowSel_ = other;
    clampCurrent();
}

void FlexGrid::Clear() { model_->clearTexts(); }

void FlexGrid::setRedraw(bool on) {
    if (on == redraw_) return;
    redraw_ = on;
    if (on) model_->thaw();
    else model_->freeze();
    setUpdatesEnabled(on);
}

void FlexGrid::setCellPicture(const QPixmap& pix) { setCellPictureAt(row_, col_, pix); }
void FlexGrid::setCellPictureAt(int r, int c, const QPixmap& pix) {
    if (inGrid(r, c))
        model_->setLook(r, c, [&](CellLook& l) { l.picture = pix.isNull() ? nullptr : std::make_shared<const QPixmap>(pix); });
}
QPixmap FlexGrid::CellPictureAt(int r, int c) const {
    if (!inGrid(r, c)) return {};
    const CellLook* l = model_->look(r, c);
    return l && l->picture ? *l->picture : QPixmap();
}

// Rows anchor..r, from the first column after the fixed ones to the last,
// the current cell in the row clicked first.
void FlexGrid::selectWholeRows(int anchor, int r) {
    const int first = qMin(fixedCols_, Cols() - 1);
    if (first < 0 || !inGrid(anchor, first) || !inGrid(r, first)) return;
    syncing_ = true;
    setCurrentCell(anchor, first);
    selectRange(qMin(anchor, r), first, qMax(anchor, r), Cols() - 1);
    syncing_ = false;
    row_ = anchor;
    rowSel_ = r;
    col_ = first;
    colSel_ = Cols() - 1;
}

void FlexGrid::mousePressEvent(QMouseEvent* e) {
    const QModelIndex ix = indexAt(e->position().toPoint());
    mouseRow_ = ix.isValid() ? ix.row() : -1;
    mouseCol_ = ix.isValid() ? ix.column() : -1;
    rowAnchor_ = -1;
    // The fixed columns are the row headers: a click there takes the whole
    // row, with Shift every row from the current one.
    if (e->button() == Qt::LeftButton && ix.isValid() && ix.column() < fixedCols_ && ix.row() >= fixedRows_ &&
        fixedCols_ < Cols()) {
        setFocus(Qt::MouseFocusReason);
        rowAnchor_ = (e->modifiers() & Qt::ShiftModifier) && row_ >= fixedRows_ ? row_ : ix.row();
        selectWholeRows(rowAnchor_, ix.row());
        emit cellClickedVb();
        return;
    }
    QTableView::mousePressEvent(e);
    emit cellClickedVb();
}

void FlexGrid::mouseMoveEvent(QMouseEvent* e) {
    if (rowAnchor_ < 0 || !(e->buttons() & Qt::LeftButton)) {
        QTableView::mouseMoveEvent(e);
        return;
    }
    // Dragged down the row headers: the rows passed over, whole.
    int r = rowAt(e->position().toPoint().y());
    if (r < 0) r = e->position().toPoint().y() < 0 ? TopRow() : Rows() - 1;
    selectWholeRows(rowAnchor_, qMax(r, fixedRows_));
}

void FlexGrid::mouseReleaseEvent(QMouseEvent* e) {
    if (rowAnchor_ >= 0 && e->button() == Qt::LeftButton) {
        rowAnchor_ = -1;
        return;
    }
    QTableView::mouseReleaseEvent(e);
}

void FlexGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (syncing_ || !current.isValid()) return;
    followView();
}

void FlexGrid::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTableView::selectionChanged(selected, deselected);
    if (syncing_) return;
    followView();
}

// The view moves its current index with the operator's gesture: a click, a
// shift+click, a drag or a shift+arrow leaves it on the cell reached last,
// the end of the selection. Row/Col are where the selection started (the
// corner across from it), RowSel/ColSel where it ends, whichever way it ran.
// (Between a drag's selection and its current index the two may disagree
// for a moment; the current index's move that follows settles them.)
void FlexGrid::followView() {
    const QModelIndex cur = selectionModel()->currentIndex();
    if (!cur.isValid()) return;
    rowSel_ = cur.row();
    colSel_ = cur.column();
    row_ = rowSel_;
    col_ = colSel_;
    const QItemSelection sel = selectionModel()->selection();
    if (sel.size() != 1 || !sel.first().contains(cur)) return;
    const QItemSelectionRange& r = sel.first();
    if (cur.row() == r.top()) row_ = r.bottom();
    else if (cur.row() == r.bottom()) row_ = r.top();
    if (cur.column() == r.left()) col_ = r.right();
    else if (cur.column() == r.right()) col_ = r.left();
}

}  // namespace platform
