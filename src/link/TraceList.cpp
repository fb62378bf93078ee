#include "link/TraceList.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace {
constexpr int kMargin = 2;   // pixels left of the text
}

TraceList::TraceList(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);
    updateRanges();
}

int TraceList::lineHeight() const { return qMax(1, fontMetrics().height()); }

int TraceList::visibleRows() const { return qMax(1, viewport()->height() / lineHeight()); }

int TraceList::topRow() const {
    if (!stale_ || wantedTop_ < 0) return verticalScrollBar()->value();
    return qMin(wantedTop_, qMax(0, count() - visibleRows()));
}

int TraceList::rowAt(int y) const {
    const int row = topRow() + y / lineHeight();
    return row >= 0 && row < count() ? row : -1;
}

void TraceList::updateRanges() {
    QScrollBar* v = verticalScrollBar();
    v->setPageStep(visibleRows());
    v->setRange(0, qMax(0, count() - visibleRows()));
    QScrollBar* h = horizontalScrollBar();
    h->setPageStep(qMax(1, viewport()->width()));
    h->setSingleStep(qMax(1, fontMetrics().averageCharWidth()));
    h->setRange(0, qMax(0, widest_ + 2 * kMargin - viewport()->width()));
}

void TraceList::addItem(const QString& line) {
    lines_.append(line);
    // Every frame to and from the switch comes here, shown or not: hidden,
    // nothing else moves until it is shown.
    if (!isVisible()) {
        stale_ = true;
        return;
    }
    // Only the vertical range moves.
    verticalScrollBar()->setRange(0, qMax(0, count() - visibleRows()));
    viewport()->update();
}

void TraceList::clear() {
    lines_.clear();
    current_ = -1;
    widest_ = 0;
    stale_ = false;
    wantedTop_ = -1;
    updateRanges();
    viewport()->update();
}

void TraceList::showEvent(QShowEvent* e) {
    QAbstractScrollArea::showEvent(e);
    if (!stale_) return;
    const int top = wantedTop_;
    stale_ = false;
    wantedTop_ = -1;
    updateRanges();
    if (top >= 0) verticalScrollBar()->setValue(top);
}

void TraceList::setCurrentRow(int row) {
    current_ = row >= 0 && row < count() ? row : -1;
    viewport()->update();
}

void TraceList::scrollToTop(int row) {
    if (!isVisible()) {
        stale_ = true;
        wantedTop_ = qMax(0, row);
        return;
    }
    verticalScrollBar()->setValue(qMax(0, row));
}

void TraceList::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    const QFontMetrics fm = fontMetrics();
    const int h = lineHeight();
    const int first = topRow();
    const int x = kMargin - horizontalScrollBar()->value();
    int widest = widest_;
    for (int row = first, y = 0; row < count() && y < viewport()->height(); ++row, y += h) {
        const QString& line = lines_.at(row);
        // The horizontal range learns the widths of the lines as they are seen.
        widest = qMax(widest, fm.horizontalAdvance(line));
        if (row == current_) {
            p.fillRect(QRect(0, y, viewport()->width(), h), palette().brush(QPalette::Highlight));
            p.setPen(palette().color(QPalette::HighlightedText));
        } else {
            p.setPen(palette().color(QPalette::Text));
        }
        p.drawText(x, y + fm.ascent(), line);
    }
    if (widest != widest_) {
        widest_ = widest;
        horizontalScrollBar()->setRange(0, qMax(0, widest_ + 2 * kMargin - viewport()->width()));
    }
}

void TraceList::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    updateRanges();
}

void TraceList::changeEvent(QEvent* e) {
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange) updateRanges();
}

void TraceList::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) setCurrentRow(rowAt(e->position().toPoint().y()));
    QAbstractScrollArea::mousePressEvent(e);
}

void TraceList::mouseDoubleClickEvent(QMouseEvent* e) {
    const int row = rowAt(e->position().toPoint().y());
    if (e->button() == Qt::LeftButton && row >= 0) {
        setCurrentRow(row);
        emit rowDoubleClicked(row);
    }
}

void TraceList::keyPressEvent(QKeyEvent* e) {
    if (count() == 0) return QAbstractScrollArea::keyPressEvent(e);
    int row = current_;
    switch (e->key()) {
    case Qt::Key_Up: row = qMax(0, row - 1); break;
    case Qt::Key_Down: row = qMin(count() - 1, row + 1); break;
    case Qt::Key_PageUp: row = qMax(0, row - visibleRows()); break;
    case Qt::Key_PageDown: row = qMin(count() - 1, qMax(0, row) + visibleRows()); break;
    case Qt::Key_Home: row = 0; break;
    case Qt::Key_End: row = count() - 1; break;
    default: return QAbstractScrollArea::keyPressEvent(e);
    }
    setCurrentRow(row);
    if (row < topRow()) scrollToTop(row);
    else if (row >= topRow() + visibleRows()) scrollToTop(row - visibleRows() + 1);
}
