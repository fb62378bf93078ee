#pragma once
// Where two database files hold a table's rows alike, told from their pages:
// a leaf page of the table's tree that both files hold at the same page
// number, byte for byte, holds the same rows with the same contents in both.
// A copy made page by page (the backups) and the file it was made from, which
// has only been appended to since, share all but their last leaves: the rows
// that may differ are found without reading every row of either file.
#include <QList>
#include <QString>
#include <memory>

namespace platform {

// The rows of a leaf page, by row number, first and last (the leaves of a
// table's tree hold its rows in row-number order, so no row of another leaf
// lies between them).
struct RowSpan {
    qint64 first = 0;
    qint64 last = 0;
};

struct LeavesCompared {
    // False: the files could not be read page by page (a write-ahead log or a
    // rollback journal beside one holds what its pages do not, a cell spills
    // onto overflow pages, a page is not what a table's tree holds): nothing
    // is known, every row has to be compared.
    bool compared = false;
    QList<RowSpan> onlyA, onlyB;   // each file's rows not on a leaf held alike, spans in row order
    qint64 leavesA = 0, leavesB = 0, alike = 0;
};

// Two database files read page by page, mapped once for every table
// compared. Both files must be at rest (no one writing) while it lives.
class LeafComparer {
public:
    LeafComparer(const QString& a, const QString& b);
    ~LeafComparer();
    LeafComparer(const LeafComparer&) = delete;
    LeafComparer& operator=(const LeafComparer&) = delete;
    // The leaves of the table whose tree has root page `rootA` in `a` and `rootB` in `b`.
    LeavesCompared compare(qint64 rootA, qint64 rootB) const;

private:
    struct Files;
    std::unique_ptr<Files> files_;
};

}  // namespace platform
