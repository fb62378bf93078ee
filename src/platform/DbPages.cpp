#include "platform/DbPages.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A database file mapped for reading, and what its header says of its pages.
struct PageFile {
    const uchar* data = nullptr;
    qint64 size = 0;
    qint64 pageSize = 0, usable = 0, pages = 0;
    bool ok = false;

    explicit PageFile(const QString& path) {
        // What a log or a journal beside the file holds is not in its pages.
        for (const char* aside : {"-wal", "-journal"})
            if (QFileInfo(path + QLatin1String(aside)).size() > 0) return;
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 100) {
            // Read in at once: every page of a year file's tables is looked at.
            void* m = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
            if (m != MAP_FAILED) {
                data = static_cast<const uchar*>(m);
                size = st.st_size;
            }
        }
        ::close(fd);
        if (!data || std::memcmp(data, "SQLite format 3\0", 16) != 0) return;
        pageSize = (qint64(data[16]) << 8) | data[17];
        if (pageSize == 1) pageSize = 65536;
        if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0) return;
        usable = pageSize - data[20];
        pages = size / pageSize;
        ok = usable >= 480;
    }
    ~PageFile() {
        if (data) ::munmap(const_cast<uchar*>(data), size_t(size));
    }
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;
    const uchar* page(qint64 n) const { return data + (n - 1) * pageSize; }
};

quint32 be16(const uchar* p) { return (quint32(p[0]) << 8) | p[1]; }
quint32 be32(const uchar* p) { return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3]; }

// SQLite's variable-length integer at `p`, not past `end`; false when it runs over.
bool varint(const uchar*& p, const uchar* end, quint64* v) {
    quint64 x = 0;
    for (int i = 0; i < 9; ++i) {
        if (p >= end) return false;
        const uchar c = *p++;
        if (i == 8) {
            *v = (x << 8) | c;
            return true;
        }
        x = (x << 7) | (c & 0x7f);
        if (!(c & 0x80)) {
            *v = x;
            return true;
        }
    }
    return false;
}

struct Leaf {
    qint64 page = 0;
    RowSpan rows;
};

// The first and last row of the table leaf `n` that holds `cells` cells;
// false when a cell is not one SQLite would write for a row that fits on
// its page.
bool leafRows(const PageFile& f, qint64 n, quint32 cells, RowSpan* rows) {
    const uchar* pg = f.page(n);
    const uchar* end = pg + f.usable;
    // A cell longer than this spills onto overflow pages, which are not compared.
    const quint64 local = quint64(f.usable - 35);
    for (quint32 i = 0; i < cells; ++i) {
        const quint32 at = be16(pg + 8 + 2 * i);
        if (at >= quint32(f.usable)) return false;
        const uchar* p = pg + at;
        quint64 payload = 0, rowid = 0;
        if (!varint(p, end, &payload) || !varint(p, end, &rowid) || payload > local) return false;
        if (i == 0) rows->first = qint64(rowid);
        rows->last = qint64(rowid);
    }
    return true;
}

// The leaves of the table tree rooted at `root`, left to right (empty leaves
// left out); false when the tree is not one SQLite would write for a table
// whose rows all fit on their pages. `withRows` false: the leaves' cells are
// not read (their rows are left 0), for a file whose leaves are read where
// they are needed.
bool leavesOf(const PageFile& f, qint64 root, QList<Leaf>* out, bool withRows = true) {
    QSet<qint64> seen;
    QList<qint64> stack{root};
    while (!stack.isEmpty()) {
        const qint64 n = stack.takeLast();
        if (n < 2 || n > f.pages || seen.contains(n)) return false;
        seen.insert(n);
        const uchar* pg = f.page(n);
        const int type = pg[0];
        const quint32 cells = be16(pg + 3);
        if (type == 0x05) {
            if (12 + 2 * qint64(cells) > f.usable) return false;
            // Pushed right to left, so the leftmost child is walked first.
            stack.append(be32(pg + 8));
            for (qint64 i = qint64(cells) - 1; i >= 0; --i) {
                const quint32 at = be16(pg + 12 + 2 * i);
                if (at + 4 > quint32(f.usable)) return false;
                stack.append(be32(pg + at));
            }
        } else if (type == 0x0d) {
            if (8 + 2 * qint64(cells) > f.usable) return false;
            if (cells == 0) continue;
            Leaf leaf;
            leaf.page = n;
            if (withRows && !leafRows(f, n, cells, &leaf.rows)) return false;
            out->append(leaf);
        } else {
            return false;
        }
    }
    return true;
}

// Consecutive leaves not held alike make one span.
void addSpan(QList<RowSpan>& spans, const RowSpan& r, bool follows) {
    if (follows && !spans.isEmpty()) spans.last().last = r.last;
    else spans.append(r);
}

}  // namespace

struct LeafComparer::Files {
    PageFile a, b;
    Files(const QString& pa, const QString& pb) : a(pa), b(pb) {}
};

LeafComparer::LeafComparer(const QString& a, const QString& b) : files_(std::make_unique<Files>(a, b)) {}
LeafComparer::~LeafComparer() = default;

LeavesCompared LeafComparer::compare(qint64 rootA, qint64 rootB) const {
    LeavesCompared out;
    const PageFile& fa = files_->a;
    const PageFile& fb = files_->b;
    QList<Leaf> la, lb;
    // The cells of `b`'s leaves are read only where they differ from `a`'s:
    // a leaf held alike is `a`'s, read there, byte for byte.
    if (!fa.ok || !fb.ok || !leavesOf(fa, rootA, &la) || !leavesOf(fb, rootB, &lb, false)) return out;
    out.leavesA = la.size();
    out.leavesB = lb.size();
    QHash<qint64, int> inB;
    for (int i = 0; i < lb.size(); ++i) inB.insert(lb[i].page, i);
    QSet<int> alikeB;
    // The same bytes are the same texts only in the same encoding.
    const bool samePages = fa.pageSize == fb.pageSize && fa.usable == fb.usable && std::memcmp(fa.data + 56, fb.data + 56, 4) == 0;
    bool lastAlike = true;
    for (const Leaf& l : la) {
        const auto it = inB.constFind(l.page);
        const bool alike = samePages && it != inB.constEnd() &&
                           std::memcmp(fa.page(l.page), fb.page(l.page), size_t(fa.pageSize)) == 0;
        if (alike) {
            alikeB.insert(*it);
            ++out.alike;
        } else {
            addSpan(out.onlyA, l.rows, !lastAlike);
        }
        lastAlike = alike;
    }
    lastAlike = true;
    for (int i = 0; i < lb.size(); ++i) {
        const bool alike = alikeB.contains(i);
        if (!alike) {
            if (!leafRows(fb, lb[i].page, be16(fb.page(lb[i].page) + 3), &lb[i].rows)) return LeavesCompared{};
            addSpan(out.onlyB, lb[i].rows, !lastAlike);
        }
        lastAlike = alike;
    }
    out.compared = true;
    return out;
}

}  // namespace platform
