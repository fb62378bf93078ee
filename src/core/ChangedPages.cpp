#include "core/ChangedPages.h"

#include "platform/Db.h"

#include <QFile>
#include <QMap>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace ModSwitch {

using platform::Database;
using platform::DbError;
using platform::quoteIdent;

namespace {

// Thrown where the question cannot be bounded to the pages that differ: the
// full check of the whole file judges instead.
struct Unbounded {};

void need(bool condition) {
    if (!condition) throw Unbounded{};
}

quint32 be16(const uchar* p) { return quint32(p[0]) << 8 | p[1]; }
quint32 be32(const uchar* p) { return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]; }

// A varint of the file format at `p`, not read past `end`; returns its length.
int varint(const uchar* p, const uchar* end, quint64* v) {
    quint64 x = 0;
    for (int i = 0; i < 9; ++i) {
        need(p + i < end);
        if (i == 8) {
            *v = (x << 8) | p[i];
            return 9;
        }
        x = (x << 7) | (p[i] & 0x7f);
        if (!(p[i] & 0x80)) {
            *v = x;
            return i + 1;
        }
    }
    return 0;
}

constexpr uchar kIndexInterior = 0x02, kTableInterior = 0x05, kIndexLeaf = 0x0a, kTableLeaf = 0x0d;
constexpr int kNoTree = 0, kFree = -1;

// One file seen page by page: what kind each page is and which tree each
// page belongs to. Interior pages are read again when the trees are walked
// (a few hundred of a million calls' file): kept, they would add megabytes
// to the start's memory.
struct Layout {
    QFile file;
    qint64 pageSize = 0;
    qint64 count = 0;
    std::vector<uchar> kind;      // by page number (1-based): the page's type byte
    std::vector<int> owner;       // by page number: a tree's number + 1, kFree or kNoTree
    std::vector<qint32> parent;   // by page number: the interior page that points to it, 0 for a root

    static qint64 headerAt(qint64 page) { return page == 1 ? 100 : 0; }
    QByteArray page(qint64 n) {
        need(n >= 1 && n <= count && file.seek((n - 1) * pageSize));
        QByteArray b = file.read(pageSize);
        need(b.size() == pageSize);
        return b;
    }
    // The tree rooted at `root` walked through its interior pages: every page
    // reached once, of its tree's kind.
    void walk(qint64 root, int tree, bool index) {
        const uchar interior = index ? kIndexInterior : kTableInterior, leaf = index ? kIndexLeaf : kTableLeaf;
        std::vector<std::pair<qint64, qint64>> todo{{root, 0}};
        while (!todo.empty()) {
            const auto [p, from] = todo.back();
            todo.pop_back();
            need(p >= 1 && p <= count && owner[p] == kNoTree);
            owner[p] = tree + 1;
            parent[p] = qint32(from);
            if (kind[p] == leaf) continue;
            need(kind[p] == interior);
            const QByteArray b = page(p);
            const auto* d = reinterpret_cast<const uchar*>(b.constData());
            const qint64 h = headerAt(p);
            const qint64 cells = be16(d + h + 3);
            need(h + 12 + 2 * cells <= pageSize);
            for (qint64 i = 0; i < cells; ++i) {
                const qint64 at = be16(d + h + 12 + 2 * i);
                need(at + 4 <= pageSize);
                todo.emplace_back(be32(d + at), p);
            }
            todo.emplace_back(be32(d + h + 8), p);
        }
    }
    // The free pages, from the list's trunks.
    void markFree(qint64 firstTrunk) {
        for (qint64 trunk = firstTrunk, steps = 0; trunk != 0; ++steps) {
            need(steps <= count && trunk >= 1 && trunk <= count && owner[trunk] == kNoTree);
            owner[trunk] = kFree;
            const QByteArray b = page(trunk);
            const auto* d = reinterpret_cast<const uchar*>(b.constData());
            const qint64 leaves = be32(d + 4);
            need(8 + 4 * leaves <= pageSize);
            for (qint64 i = 0; i < leaves; ++i) {
                const qint64 p = be32(d + 8 + 4 * i);
                need(p >= 1 && p <= count && owner[p] == kNoTree);
                owner[p] = kFree;
            }
            trunk = be32(d);
        }
    }
};

// The size of a record field of serial type `t`.
qint64 fieldSize(quint64 t) {
    static const qint64 sizes[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0};
    need(t != 10 && t != 11);
    return t < 10 ? sizes[t] : qint64((t - 12) / 2);
}

// A field of a record: its serial type and its bytes.
struct Field {
    quint64 type = 0;
    const uchar* p = nullptr;
    qint64 n = 0;
};

// The fields of the record of `size` bytes at `record`.
std::vector<Field> fieldsOf(const uchar* record, qint64 size) {
    const uchar* end = record + size;
    quint64 headerSize = 0;
    const uchar* t = record + varint(record, end, &headerSize);
    need(headerSize <= quint64(size));
    const uchar* body = record + headerSize;
    std::vector<Field> out;
    while (t < record + headerSize) {
        Field f;
        t += varint(t, record + headerSize, &f.type);
        f.n = fieldSize(f.type);
        f.p = body;
        need(body + f.n <= end);
        body += f.n;
        out.push_back(f);
    }
    need(!out.empty());
    return out;
}

qint64 intOf(const Field& f) {
    if (f.type == 8 || f.type == 9) return qint64(f.type - 8);
    need(f.type >= 1 && f.type <= 6);
    qint64 v = (f.p[0] & 0x80) ? -1 : 0;   // signed, big-endian
    for (qint64 k = 0; k < f.n; ++k) v = qint64(quint64(v) << 8 | f.p[k]);
    return v;
}

// The cell `i` of an index page (its child first on an interior page): the
// whole key stands on the page, or the question is not bounded.
struct IndexCell {
    const uchar* record = nullptr;
    qint64 size = 0;
    qint64 child = 0;
};
IndexCell indexCell(const uchar* d, qint64 h, qint64 i, qint64 usable) {
    const uchar kind = d[h];
    need(kind == kIndexLeaf || kind == kIndexInterior);
    const qint64 cells = be16(d + h + 3);
    const qint64 pointers = h + (kind == kIndexInterior ? 12 : 8);
    need(i < cells && pointers + 2 * cells <= usable);
    const qint64 at = be16(d + pointers + 2 * i);
    need(at >= pointers + 2 * cells && at + 4 <= usable);
    const uchar* p = d + at;
    IndexCell c;
    if (kind == kIndexInterior) {
        c.child = be32(p);
        p += 4;
    }
    // A key longer than a page keeps: its rowid may stand on another page.
    const quint64 maxLocal = quint64((usable - 12) * 64 / 255 - 23);
    quint64 payload = 0;
    p += varint(p, d + usable, &payload);
    need(payload <= maxLocal && p + payload <= d + usable);
    c.record = p;
    c.size = qint64(payload);
    return c;
}

// The cells of a leaf of a table or of a page of an index, and the rowid
// each names (an index entry ends with its row's rowid).
struct Entries {
    qint64 cells = 0;
    std::vector<qint64> rowids;
};
Entries entriesOf(const QByteArray& b, qint64 pageNo, qint64 usable) {
    const auto* d = reinterpret_cast<const uchar*>(b.constData());
    const uchar* end = d + usable;
    const qint64 h = Layout::headerAt(pageNo);
    const uchar kind = d[h];
    const qint64 cells = be16(d + h + 3);
    need(h + 8 + 2 * cells <= usable);
    Entries e;
    e.cells = cells;
    for (qint64 i = 0; i < cells; ++i) {
        if (kind == kTableLeaf) {
            const qint64 at = be16(d + h + 8 + 2 * i);
            need(at >= h + 8 + 2 * cells && at < usable);
            const uchar* p = d + at;
            quint64 v = 0;
            p += varint(p, end, &v);   // the payload's size
            varint(p, end, &v);
            e.rowids.push_back(qint64(v));
            continue;
        }
        const IndexCell c = indexCell(d, h, i, usable);
        e.rowids.push_back(intOf(fieldsOf(c.record, c.size).back()));
    }
    return e;
}

// How an index orders its entries: its key's fields, each ascending or
// descending (all compared as bytes), then the rowid; a unique index's keys
// without a null stand once.
struct KeyOrder {
    std::vector<bool> desc;
    bool unique = false;
};

int classOf(quint64 type) { return type == 0 ? 0 : type < 12 ? 1 : (type & 1) ? 2 : 3; }

// Two values as the engine orders them: null, numbers, texts, blobs.
int compareFields(const Field& a, const Field& b) {
    const int ca = classOf(a.type), cb = classOf(b.type);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
    if (ca == 1) {
        auto value = [](const Field& f) -> long double {
            if (f.type != 7) return (long double)intOf(f);
            quint64 bits = 0;
            for (int k = 0; k < 8; ++k) bits = bits << 8 | f.p[k];
            double v = 0;
            std::memcpy(&v, &bits, 8);
            need(v == v);
            return v;
        };
        if (a.type != 7 && b.type != 7) {
            const qint64 x = intOf(a), y = intOf(b);
            return x < y ? -1 : x > y ? 1 : 0;
        }
        const long double x = value(a), y = value(b);   // exact for every 64-bit integer
        return x < y ? -1 : x > y ? 1 : 0;
    }
    const int m = std::memcmp(a.p, b.p, size_t(std::min(a.n, b.n)));
    if (m != 0) return m < 0 ? -1 : 1;
    return a.n < b.n ? -1 : a.n > b.n ? 1 : 0;
}

// An index's pages read in key order where they may have changed: each
// entry on a page that differs from the copy's, and each subtree alike with
// the copy's as a run whose first and last entries stand for it (it is the
// copy's, in order), must follow the one before it. Neighbours that stood
// side by side on a page alike with the copy's are not compared again.
class IndexOrder {
public:
    IndexOrder(Layout& l, const std::vector<bool>& dirty, const std::vector<bool>& changed, qint64 usable, KeyOrder order)
        : l_(l), dirty_(dirty), changed_(changed), usable_(usable), order_(std::move(order)) {}
    bool holds(qint64 root) {
        visit(root);
        return ok_;
    }

private:
    // The first or last entry of the subtree below `p`.
    QByteArray edge(qint64 p, bool last) {
        for (;;) {
            const QByteArray b = l_.page(p);
            const auto* d = reinterpret_cast<const uchar*>(b.constData());
            const qint64 h = Layout::headerAt(p), cells = be16(d + h + 3);
            need(cells > 0);
            if (d[h] == kIndexLeaf) {
                const IndexCell c = indexCell(d, h, last ? cells - 1 : 0, usable_);
                return QByteArray(reinterpret_cast<const char*>(c.record), c.size);
            }
            p = last ? be32(d + h + 8) : indexCell(d, h, 0, usable_).child;
            need(p >= 1 && p <= l_.count);
        }
    }
    // `a` comes strictly before `b`; in a unique index their keys differ or hold a null.
    bool before(const QByteArray& a, const QByteArray& b) const {
        const std::vector<Field> x = fieldsOf(reinterpret_cast<const uchar*>(a.constData()), a.size());
        const std::vector<Field> y = fieldsOf(reinterpret_cast<const uchar*>(b.constData()), b.size());
        const size_t keys = order_.desc.size();
        need(x.size() == keys + 1 && y.size() == keys + 1);
        bool nullKey = false;
        for (size_t i = 0; i <= keys; ++i) {
            if (i == keys && order_.unique && !nullKey) return false;   // the same key twice
            nullKey = nullKey || x[i].type == 0;
            const int c = compareFields(x[i], y[i]);
            if (c != 0) return (i < keys && order_.desc[i]) ? c > 0 : c < 0;
        }
        return false;
    }
    void follows(const QByteArray& next) {
        if (!any_) return;
        if (lastRun_) prev_ = edge(lastRun_, true);
        lastRun_ = 0;
        ok_ = ok_ && before(prev_, next);
    }
    void entry(const IndexCell& c, bool alike) {
        QByteArray k(reinterpret_cast<const char*>(c.record), c.size);
        if (!alike) follows(k);
        prev_ = std::move(k);
        lastRun_ = 0;
        any_ = true;
    }
    void child(qint64 c, bool alike) {
        need(c >= 1 && c <= l_.count);
        if (dirty_[c]) return visit(c);
        if (!alike) follows(edge(c, false));
        lastRun_ = c;
        any_ = true;
    }
    void visit(qint64 p) {
        if (!ok_) return;
        if (!dirty_[p]) return child(p, false);
        const QByteArray b = l_.page(p);
        const auto* d = reinterpret_cast<const uchar*>(b.constData());
        const qint64 h = Layout::headerAt(p), cells = be16(d + h + 3);
        const bool same = !changed_[p];
        if (d[h] == kIndexLeaf) {
            for (qint64 i = 0; i < cells; ++i) entry(indexCell(d, h, i, usable_), false);
            return;
        }
        need(d[h] == kIndexInterior && cells > 0);
        for (qint64 i = 0; i < cells && ok_; ++i) {
            const IndexCell c = indexCell(d, h, i, usable_);
            child(c.child, same && i > 0);
            entry(c, same && !dirty_[c.child]);
        }
        if (ok_) child(be32(d + h + 8), same);
    }

    Layout& l_;
    const std::vector<bool>& dirty_;
    const std::vector<bool>& changed_;
    qint64 usable_;
    KeyOrder order_;
    QByteArray prev_;
    qint64 lastRun_ = 0;   // the subtree whose last entry is the one before, read when needed
    bool any_ = false, ok_ = true;
};

// A tree of the file: the schema's own, a table's or an index's.
struct Tree {
    QString name, table;
    qint64 root = 0;
    bool index = false;
    qint64 gained = 0;                 // cells on pages it took or rewrote, less those on pages it gave up
    // Rowids (kept as vectors: a session touches thousands of index entries,
    // and the start's memory counts) on its pages in the file that differ
    // from the copy's, and on its pages in the copy that the file no longer holds so.
    std::vector<qint64> touchedRows, leftRows;

    Tree(QString n, QString t, qint64 r, bool i) : name(std::move(n)), table(std::move(t)), root(r), index(i) {}
};

QList<QStringList> schemaOf(const Database& db) {
    QList<QStringList> out;
    for (platform::RowReader r = db.rows(QStringLiteral("SELECT type, name, tbl_name, rootpage, sql FROM %1 ORDER BY rowid")
                                             .arg(db.qualified(QStringLiteral("sqlite_schema"))));
         r.next();)
        out << QStringList{r.text(0), r.text(1), r.text(2), r.text(3), r.text(4)};
    return out;
}

QString placeholders(qsizetype n) {
    QStringList q;
    for (qsizetype i = 0; i < n; ++i) q << QStringLiteral("?");
    return q.join(QLatin1Char(','));
}

// The rows `rows` of `table` (those still there) each looked up in `index`
// by their own values and rowid, the values read from the index itself.
// False at the first that fails. A key a unique index holds twice stands
// side by side with its twin in key order: `IndexOrder` finds it.
bool RowsStandInIndex(const Database& cur, const QString& table, const QString& index, std::vector<qint64> rows) {
    const QString s = quoteIdent(cur.schema());
    for (platform::RowReader r = cur.rows(QStringLiteral("PRAGMA %1.index_list(%2)").arg(s, quoteIdent(table))); r.next();)
        if (r.text(1) == index) need(r.integer(4) == 0);   // a partial index holds some rows only
    QStringList same;
    for (platform::RowReader r = cur.rows(QStringLiteral("PRAGMA %1.index_xinfo(%2)").arg(s, quoteIdent(index))); r.next();) {
        if (r.integer(5) == 0) continue;   // the rowid, matched below
        need(r.integer(1) >= 0 && r.text(4).compare(QStringLiteral("BINARY"), Qt::CaseInsensitive) == 0);
        // Compared byte for byte, as the index orders them.
        same << QStringLiteral("x.%1 IS t.%1 COLLATE BINARY").arg(quoteIdent(r.text(2)));
    }
    need(!same.isEmpty());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const QString t = QStringLiteral("%1.%2").arg(s, quoteIdent(table));
    const QString from = QStringLiteral("%1 AS x INDEXED BY %2").arg(t, quoteIdent(index));
    constexpr size_t kChunk = 500;
    for (size_t at = 0; at < rows.size(); at += kChunk) {
        const size_t n = std::min(kChunk, rows.size() - at);
        platform::Params ids;
        for (size_t i = 0; i < n; ++i) ids << rows[at + i];
        const QString missing = QStringLiteral("SELECT count(*) FROM %1 AS t NOT INDEXED WHERE t.rowid IN (%2) AND NOT EXISTS "
                                               "(SELECT 1 FROM %3 WHERE %4 AND x.rowid = t.rowid)")
                                    .arg(t, placeholders(qsizetype(n)), from, same.join(QStringLiteral(" AND ")));
        if (at == 0) {
            // The values compared must be the index's own: the engine must
            // read them from the index, not from the table, and seek them there.
            bool fromIndex = false;
            for (platform::RowReader r = cur.rows(QStringLiteral("EXPLAIN QUERY PLAN ") + missing, ids); r.next();)
                fromIndex = fromIndex || r.text(3).contains(QStringLiteral("SEARCH x USING COVERING INDEX %1 (").arg(index));
            need(fromIndex);
        }
        if (cur.scalar(missing, ids).toLongLong() != 0) return false;
    }
    return true;
}

// How `index` orders its entries, read from the engine: fields of the
// table compared as bytes, then the rowid.
KeyOrder KeyOrderOf(const Database& cur, const QString& table, const QString& index) {
    const QString s = quoteIdent(cur.schema());
    KeyOrder k;
    int rowids = 0;
    for (platform::RowReader r = cur.rows(QStringLiteral("PRAGMA %1.index_xinfo(%2)").arg(s, quoteIdent(index))); r.next();) {
        if (r.integer(5) == 0) {
            need(r.integer(1) == -1);   // the rowid, and nothing else past the key
            ++rowids;
            continue;
        }
        need(r.integer(1) >= 0 && r.text(4).compare(QStringLiteral("BINARY"), Qt::CaseInsensitive) == 0);
        k.desc.push_back(r.integer(3) != 0);
    }
    need(rowids == 1 && !k.desc.empty());
    for (platform::RowReader r = cur.rows(QStringLiteral("PRAGMA %1.index_list(%2)").arg(s, quoteIdent(table))); r.next();)
        if (r.text(1) == index) k.unique = r.integer(2) != 0;
    return k;
}

// True when a sample of the pages of both files finds more than a quarter
// of them differing (a thousand pages tell it within a few hundredths).
bool MostPagesDiffer(Layout& now, Layout& was) {
    constexpr qint64 kSample = 1024;
    const qint64 step = std::max<qint64>(1, now.count / kSample);
    qint64 seen = 0, differ = 0;
    for (qint64 p = 2; p <= now.count; p += step, ++seen)
        differ += p > was.count || now.page(p) != was.page(p);
    return differ * 4 > seen;
}

// What is read before a page is compared, and tells whether the pages can
// be compared at all: the same format read the same way (page size,
// reserved bytes, no pages of pointers, text encoding, schema format) and
// the same tables, columns and indexes at the same roots. The structure is
// judged, never a count of rows. Returns the usable size of a page, and the
// first trunk of the file's free list.
qint64 OpenBoth(Layout& now, Layout& was, const Database& cur, const QString& file, const QString& copy, qint64* firstTrunk) {
    now.file.setFileName(file);
    was.file.setFileName(copy);
    // Pages are read whole, at random: a buffer would read each one twice.
    need(now.file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) && was.file.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    const QByteArray hn = now.file.read(100), hw = was.file.read(100);
    need(hn.size() == 100 && hw.size() == 100);
    const auto* a = reinterpret_cast<const uchar*>(hn.constData());
    const auto* b = reinterpret_cast<const uchar*>(hw.constData());
    for (int i : {16, 17, 20, 21, 22, 23, 44, 45, 46, 47, 52, 53, 54, 55, 56, 57, 58, 59}) need(a[i] == b[i]);
    need(be32(a + 52) == 0);
    const qint64 pageSize = be16(a + 16) == 1 ? 65536 : be16(a + 16);
    const qint64 usable = pageSize - a[20];
    need(pageSize >= 512 && usable >= 480);
    for (Layout* l : {&now, &was}) {
        l->pageSize = pageSize;
        need(l->file.size() % pageSize == 0);
        l->count = l->file.size() / pageSize;
    }
    need(be32(a + 28) == now.count && be32(b + 28) == was.count);
    *firstTrunk = be32(a + 32);

    const QList<QStringList> schema = schemaOf(cur);
    const Database c = Database::openSnapshot(copy);
    need(schemaOf(c) == schema);
    return usable;
}

// The trees of the file: the schema's own, then each table's and index's.
std::vector<Tree> TreesOf(const QList<QStringList>& schema) {
    std::vector<Tree> trees;
    trees.emplace_back(QStringLiteral("sqlite_schema"), QStringLiteral("sqlite_schema"), 1, false);
    for (const QStringList& row : schema) {
        if (row[3].toLongLong() <= 0) continue;   // a view, a trigger, a virtual table
        trees.emplace_back(row[1], row[2], row[3].toLongLong(), row[0] == QLatin1String("index"));
    }
    return trees;
}

// Every page of both read once: which differ, of what kind each is.
std::vector<bool> ComparePages(Layout& now, Layout& was) {
    for (Layout* l : {&now, &was}) {
        l->kind.assign(size_t(l->count + 1), 0);
        l->owner.assign(size_t(l->count + 1), kNoTree);
        l->parent.assign(size_t(l->count + 1), 0);
    }
    const qint64 pageSize = now.pageSize, most = std::max(now.count, was.count);
    std::vector<bool> differs(size_t(most + 1), false);
    constexpr qint64 kChunkPages = 16;
    need(now.file.seek(0) && was.file.seek(0));
    for (qint64 first = 1; first <= most; first += kChunkPages) {
        const qint64 n = std::min(kChunkPages, most - first + 1);
        QByteArray x, y;
        if (first <= now.count) x = now.file.read(std::min(n, now.count - first + 1) * pageSize);
        if (first <= was.count) y = was.file.read(std::min(n, was.count - first + 1) * pageSize);
        need(x.size() == std::clamp<qint64>(now.count - first + 1, 0, n) * pageSize);
        need(y.size() == std::clamp<qint64>(was.count - first + 1, 0, n) * pageSize);
        for (qint64 i = 0; i < n; ++i) {
            const qint64 p = first + i, off = i * pageSize, h = Layout::headerAt(p);
            const bool inNow = off < x.size(), inWas = off < y.size();
            // Page 1's first 100 bytes are the file's header, judged on its own.
            differs[p] = !inNow || !inWas || memcmp(x.constData() + off + h, y.constData() + off + h, size_t(pageSize - h)) != 0;
            for (auto [l, bytes, in] : {std::tuple{&now, &x, inNow}, std::tuple{&was, &y, inWas}}) {
                if (!in) continue;
                l->kind[p] = uchar(bytes->at(off + h));
            }
        }
    }
    return differs;
}

int ownerOf(const Layout& l, qint64 p) { return p <= l.count ? l.owner[p] : kNoTree; }

// The cells a tree's page holds counted as gained (or given up) and the rows
// they name noted: every entry of an index, a table's rows on its leaves.
void NoteEntries(Tree& tree, Layout& l, qint64 p, qint64 usable, qint64 sign, std::vector<qint64> Tree::*rows) {
    need(tree.root != 1);   // the schema's pages: another schema
    if (!tree.index && l.kind[p] != kTableLeaf) return;
    const Entries e = entriesOf(l.page(p), p, usable);
    tree.gained += sign * e.cells;
    (tree.*rows).insert((tree.*rows).end(), e.rowids.begin(), e.rowids.end());
}

// The pages each tree took or rewrote in the file, and those of the copy it
// gave up, noted on their trees. Returns which pages changed so.
std::vector<bool> NoteChanges(Layout& now, Layout& was, const std::vector<bool>& differs, std::vector<Tree>& trees, qint64 usable) {
    const qint64 most = qint64(differs.size()) - 1;
    std::vector<bool> changed(size_t(most + 1), false);
    qint64 touched = 0;
    for (qint64 p = 1; p <= most; ++p) {
        changed[p] = differs[p] || ownerOf(now, p) != ownerOf(was, p);
        touched += changed[p];
    }
    // Most of the file rewritten: the whole check costs no more.
    need(touched * 4 <= now.count);
    for (qint64 p = 1; p <= most; ++p) {
        const int o = ownerOf(now, p), w = ownerOf(was, p);
        if (o > 0 && changed[p]) NoteEntries(trees[size_t(o - 1)], now, p, usable, 1, &Tree::touchedRows);
        // A page of no tree that differs: free, or part of a row too long for its page.
        else if (differs[p] && p <= now.count) need(o == kFree);
        if (w > 0 && changed[p]) NoteEntries(trees[size_t(w - 1)], was, p, usable, -1, &Tree::leftRows);
    }
    return changed;
}

// A search of an index goes from its root through its interior pages:
// where one of them, or a page below it, changed, the index must still
// hold its entries in order, or a search may miss an entry it holds.
// The pages of a table are searched by rowid, whose order the quick
// check proves on every page of every table.
bool IndexesInOrder(const Database& cur, Layout& now, const std::vector<bool>& changed, const std::vector<Tree>& trees, qint64 usable) {
    std::vector<bool> dirty(size_t(now.count + 1), false);
    for (qint64 p = 1; p <= now.count; ++p) {
        if (!changed[p] || now.owner[p] <= 0 || !trees[size_t(now.owner[p] - 1)].index) continue;
        for (qint64 q = p; q != 0 && !dirty[q]; q = now.parent[q]) dirty[q] = true;
    }
    for (const Tree& index : trees)
        if (index.index && dirty[index.root] && !IndexOrder(now, dirty, changed, usable, KeyOrderOf(cur, index.table, index.name)).holds(index.root))
            return false;
    return true;
}

// Each index of a table that changed gains as many entries as its table
// gains rows, and holds every row that its changes may have touched.
bool IndexesHoldTheirRows(const Database& cur, const std::vector<Tree>& trees) {
    for (const Tree& table : trees) {
        if (table.index) continue;
        for (const Tree& index : trees) {
            if (!index.index || index.table.compare(table.table, Qt::CaseInsensitive) != 0) continue;
            const bool changed = !table.touchedRows.empty() || !index.touchedRows.empty() || !index.leftRows.empty() ||
                                 table.gained != 0 || index.gained != 0;
            if (!changed) continue;
            // The copy's index held one entry per row: it must gain as many as its table.
            if (index.gained != table.gained) return false;
            // Every row of a page that differs, and every row whose entry
            // stood on a page given up, stands in the index as it is now.
            std::vector<qint64> rows = table.touchedRows;
            rows.insert(rows.end(), index.leftRows.begin(), index.leftRows.end());
            if (!RowsStandInIndex(cur, table.table, index.name, std::move(rows))) return false;
        }
    }
    return true;
}

bool Judge(const Database& cur, const QString& file, const QString& copy) {
    Layout now, was;
    qint64 firstTrunk = 0;
    const qint64 usable = OpenBoth(now, was, cur, file, copy, &firstTrunk);
    std::vector<Tree> trees = TreesOf(schemaOf(cur));
    const std::vector<bool> differs = ComparePages(now, was);
    for (size_t t = 0; t < trees.size(); ++t) {
        now.walk(trees[t].root, int(t), trees[t].index);
        was.walk(trees[t].root, int(t), trees[t].index);
    }
    now.markFree(firstTrunk);
    const std::vector<bool> changed = NoteChanges(now, was, differs, trees, usable);
    return IndexesInOrder(cur, now, changed, trees, usable) && IndexesHoldTheirRows(cur, trees);
}

// The digests `what` over the rows read from `from`, whose plan must be
// `plan` (the values read where the check means them to be): one pass.
QStringList DigestsOf(const Database& cur, const QString& from, const QStringList& what, const QString& plan) {
    const QString sql = QStringLiteral("SELECT %1 FROM %2").arg(what.join(QLatin1Char(',')), from);
    bool planned = false;
    for (platform::RowReader r = cur.rows(QStringLiteral("EXPLAIN QUERY PLAN ") + sql); r.next();) planned = r.text(3) == plan;
    need(planned);
    QStringList out;
    for (platform::RowReader r = cur.rows(sql); r.next();)
        for (int i = 0; i < what.size(); ++i) out << r.text(i);
    return out;
}

// Each index of `table` holds the entries its rows give, no more, no fewer:
// its entries read from the index alone and its rows read from the table
// alone (once for all its indexes) give the same digest.
bool IndexesHoldTheirTable(const Database& cur, const QString& table, const QStringList& indexes) {
    const QString s = quoteIdent(cur.schema()), t = QStringLiteral("%1.%2").arg(s, quoteIdent(table));
    QStringList digests, inIndexes;
    for (const QString& index : indexes) {
        QStringList key;
        for (platform::RowReader r = cur.rows(QStringLiteral("PRAGMA %1.index_xinfo(%2)").arg(s, quoteIdent(index))); r.next();) {
            if (r.integer(5) == 0) continue;   // the rowid, added below
            need(r.integer(1) >= 0);
            key << QStringLiteral("x.%1").arg(quoteIdent(r.text(2)));
        }
        need(!key.isEmpty());
        key << QStringLiteral("x.rowid");
        digests << QStringLiteral("entries_digest(%1)").arg(key.join(QLatin1Char(',')));
        inIndexes << DigestsOf(cur, QStringLiteral("%1 AS x INDEXED BY %2").arg(t, quoteIdent(index)), {digests.last()},
                               QStringLiteral("SCAN x USING COVERING INDEX %1").arg(index));
    }
    return DigestsOf(cur, QStringLiteral("%1 AS x NOT INDEXED").arg(t), digests, QStringLiteral("SCAN x")) == inIndexes;
}

// Every index of `file` read from its root in key order, and holding the
// entries its table's rows give.
bool IndexesInKeyOrder(const Database& cur, const QString& file) {
    Layout l;
    l.file.setFileName(file);
    need(l.file.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    const QByteArray head = l.file.read(100);
    need(head.size() == 100);
    const auto* a = reinterpret_cast<const uchar*>(head.constData());
    l.pageSize = be16(a + 16) == 1 ? 65536 : be16(a + 16);
    const qint64 usable = l.pageSize - a[20];
    need(l.pageSize >= 512 && usable >= 480 && be32(a + 52) == 0 && l.file.size() % l.pageSize == 0);
    l.count = l.file.size() / l.pageSize;
    need(be32(a + 28) == l.count);
    const std::vector<bool> every(size_t(l.count + 1), true);
    QMap<QString, QStringList> byTable;
    for (const Tree& index : TreesOf(schemaOf(cur))) {
        if (!index.index) continue;
        for (platform::RowReader r = cur.rows(QStringLiteral("PRAGMA %1.index_list(%2)").arg(quoteIdent(cur.schema()), quoteIdent(index.table)));
             r.next();)
            if (r.text(1) == index.name) need(r.integer(4) == 0);   // a partial index holds some rows only
        if (!IndexOrder(l, every, every, usable, KeyOrderOf(cur, index.table, index.name)).holds(index.root)) return false;
        byTable[index.table] << index.name;
    }
    for (auto it = byTable.cbegin(); it != byTable.cend(); ++it)
        if (!IndexesHoldTheirTable(cur, it.key(), it.value())) return false;
    return true;
}

// `judge`'s answer; false where it cannot answer: the question not bounded
// so, an error of the engine, a page out of reach.
template <typename F>
bool Answered(F judge) {
    try {
        return judge();
    } catch (const Unbounded&) {
        return false;
    } catch (const DbError&) {
        return false;
    } catch (const std::out_of_range&) {
        return false;
    }
}

}  // namespace

bool IndexesMatchTheirTables(const Database& cur, const QString& file) {
    const bool held = Answered([&] { return IndexesInKeyOrder(cur, file); });
    // Where it holds it stood for the full check; where it doubts, the full check runs.
    if (held) platform::testing::fullCheckRuns(file);
    return held;
}

bool ChangesMayBeBounded(const Database& cur, const QString& file, const QString& copy) {
    return Answered([&] {
        Layout now, was;
        qint64 firstTrunk = 0;
        OpenBoth(now, was, cur, file, copy, &firstTrunk);
        return !MostPagesDiffer(now, was);
    });
}

bool ChangesHoldAgainstCopy(const Database& cur, const QString& file, const QString& copy) {
    return Answered([&] { return Judge(cur, file, copy); });
}

}  // namespace ModSwitch
