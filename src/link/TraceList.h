#pragma once
// The trace window's lists: plain lines of text, one current line, and
// scrolling by whole lines. A line is added in constant time however many the
// list holds and whether it is shown or not: nothing is laid out per line,
// only the lines in view are painted.
#include <QAbstractScrollArea>
#include <QString>
#include <QStringList>

class TraceList : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TraceList(QWidget* parent = nullptr);

    int count() const { return static_cast<int>(lines_.size()); }
    // The text of line `row`; "" outside the list.
    QString text(int row) const { return lines_.value(row); }
    const QStringList& lines() const { return lines_; }
    void addItem(const QString& line);
    void clear();

    // The selected line, -1 when none.
    int currentRow() const { return current_; }
    void setCurrentRow(int row);
    void clearSelection() { setCurrentRow(-1); }
    // Scrolls so that `row` is the top visible line, as far as the list allows.
    void scrollToTop(int row);
    int topRow() const;
    // Lines that fit in the view.
    int visibleRows() const;

signals:
    void rowDoubleClicked(int row);

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    int lineHeight() const;
    int rowAt(int y) const;
    void updateRanges();

    QStringList lines_;
    int current_ = -1;
    int widest_ = 0;   // characters of the longest line, for the horizontal range
    // Hidden, the list only keeps its lines: the scroll bars and the top line
    // asked for are brought up to date when it is shown.
    bool stale_ = false;
    int wantedTop_ = -1;
};
