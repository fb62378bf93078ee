#include "core/books/DbHeader.h"

#include <QFile>

namespace ModSwitch {

namespace {
bool isPageSize(qint64 size) { return size >= 512 && size <= 65536 && (size & (size - 1)) == 0; }

quint32 be32(const QByteArray& b, int at) {
    return (quint32(quint8(b[at])) << 24) | (quint32(quint8(b[at + 1])) << 16) | (quint32(quint8(b[at + 2])) << 8) |
           quint8(b[at + 3]);
}

// The page count the header gives, 0 when the header does not vouch for it
// (its "valid for" number is not its change counter).
qint64 PageCountOf(const QByteArray& header) {
    if (header.size() < 100 || be32(header, 92) != be32(header, 24)) return 0;
    return be32(header, 28);
}

quint16 be16(const QByteArray& b, qint64 at) { return quint16((quint8(b[at]) << 8) | quint8(b[at + 1])); }

// Whether the bytes at `base` read as the head of a b-tree page of `size`
// bytes whose header starts `at` bytes in (100 on the first page): a page
// type, cell pointers and a content area that all fall inside the page.
bool readsAsTreePage(const QByteArray& image, qint64 base, int at, qint64 size) {
    if (base + size > image.size()) return false;
    const quint8 type = quint8(image[base + at]);
    if (type != 2 && type != 5 && type != 10 && type != 13) return false;
    const qint64 head = at + ((type == 2 || type == 5) ? 12 : 8);
    const qint64 cells = be16(image, base + at + 3);
    qint64 content = be16(image, base + at + 5);
    if (content == 0) content = 65536;
    const qint64 freeblock = be16(image, base + at + 1);
    if (head + 2 * cells > content || content > size || quint8(image[base + at + 7]) > 60) return false;
    if (freeblock != 0 && (freeblock < content || freeblock >= size)) return false;
    for (qint64 i = 0; i < cells; ++i) {
        const qint64 cell = be16(image, base + head + 2 * i);
        if (cell < content || cell >= size) return false;
    }
    return true;
}

// The share of pages (in thousandths) that read as b-tree pages if the pages
// are `size` bytes; -1 when the first page does not.
int treePagesPerMille(const QByteArray& image, qint64 size) {
    if (image.size() < size || image.size() % size != 0 || !readsAsTreePage(image, 0, 100, size)) return -1;
    const qint64 pages = image.size() / size;
    if (pages == 1) return 1000;
    qint64 trees = 0;
    for (qint64 p = 1; p < pages; ++p)
        if (readsAsTreePage(image, p * size, 0, size)) ++trees;
    return int(trees * 1000 / (pages - 1));
}
}  // namespace

int PageSizeOfPages(const QByteArray& image) {
    // A size too small cuts pages in two: half of them start inside another
    // page, and the first page's cells lie past its end. A larger one holds
    // two pages in one and reads as well: the smallest that reads is the one.
    for (qint64 size = 512; size <= 65536; size *= 2)
        if (treePagesPerMille(image, size) >= 750) return int(size);
    return 0;
}

int PageSizeOf(const QByteArray& header) {
    if (header.size() < 100 || !header.startsWith(QByteArray("SQLite format 3\0", 16))) return 0;
    int size = (quint8(header[16]) << 8) | quint8(header[17]);
    if (size == 1) size = 65536;
    return isPageSize(size) ? size : 0;
}

int PageSizeOfLog(const QString& log) {
    QFile f(log);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray h = f.read(32);
    if (h.size() < 32) return 0;
    const quint32 magic = be32(h, 0);
    if (magic != 0x377f0682 && magic != 0x377f0683) return 0;
    const qint64 size = be32(h, 8);
    return isPageSize(size) ? int(size) : 0;
}

QByteArray HeadOf(const QString& path, int bytes) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(bytes) : QByteArray();
}

QString HeaderFault(const QByteArray& h) {
    if (h.size() < 100 || !h.startsWith(QByteArray("SQLite format 3\0", 16))) return QStringLiteral("文件标识");
    if (!PageSizeOf(h)) return QStringLiteral("页大小");
    // Read and write versions: 1 (rollback journal) or 2 (write-ahead log);
    // another value opens the file read-only or not at all.
    for (int at : {18, 19})
        if (h[at] != 1 && h[at] != 2) return QStringLiteral("读写版本");
    // The station never reserves bytes at the end of a page.
    if (h[20] != 0) return QStringLiteral("保留字节");
    if (quint8(h[21]) != 64 || quint8(h[22]) != 32 || quint8(h[23]) != 32) return QStringLiteral("负载比例");
    const quint32 format = be32(h, 44);
    if (format < 1 || format > 4) return QStringLiteral("结构格式");
    // UTF-8, or none named: a file of another encoding cannot be attached to the station file.
    if ((be32(h, 56) & 3) != 1 && be32(h, 56) != 0) return QStringLiteral("文本编码");
    return {};
}

int JudgedPageSize(const QByteArray& image, int logPageSize, int copyPageSize) {
    if (logPageSize) return logPageSize;
    const int header = PageSizeOf(image);
    const qint64 count = PageCountOf(image);
    if (header && count && count * header == image.size()) return header;
    if (copyPageSize) return copyPageSize;
    if (count && image.size() % count == 0 && isPageSize(image.size() / count)) return int(image.size() / count);
    // A header that vouches for nothing (its page count lost or belied):
    // the pages themselves tell their size.
    if (header && treePagesPerMille(image, header) >= 750) return header;
    if (const int pages = PageSizeOfPages(image)) return pages;
    return header;
}

}  // namespace ModSwitch
