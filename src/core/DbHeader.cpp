#include "core/DbHeader.h"

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
}  // namespace

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
    return header;
}

}  // namespace ModSwitch
