#pragma once
// The header of a database file judged by what the file holds: the fields
// the engine refuses to open or write with, and the page size a damaged
// file's pages really have (its header against its size, its write-ahead
// log and its safety copy).
#include <QByteArray>
#include <QString>

namespace ModSwitch {

// The page size a database header gives, 0 when it gives none.
int PageSizeOf(const QByteArray& header);
// The page size a write-ahead log's header gives, 0 when it gives none.
int PageSizeOfLog(const QString& log);
// The first bytes of a file (its header: 100), empty when it cannot be read.
QByteArray HeadOf(const QString& path, int bytes = 100);
// The field of a database header that the engine refuses to open, write or
// attach the file with, or that no file of this station holds ("" when
// every field is one the station's files hold). Such a file is damaged,
// however well its pages read: it is not a read-only file, nor one that
// passed its check.
QString HeaderFault(const QByteArray& header);
// The page size of the pages `image` holds: the write-ahead log's when it
// has one (`logPageSize`); else the header's when its page count agrees with
// the file's size; else the safety copy's (`copyPageSize`, a start compacts
// both to one size); else the one the page count and the size give; else the
// header's when its pages read so; else the one the pages read as (a header
// lost whole: PageSizeOfPages); else the header's. 0 when none is known.
// The page size under which the file's pages read as the pages of a
// database (its first page's table list and most others as b-tree pages),
// whatever its header says; 0 when no size reads so.
int PageSizeOfPages(const QByteArray& image);
int JudgedPageSize(const QByteArray& image, int logPageSize, int copyPageSize);

}  // namespace ModSwitch
