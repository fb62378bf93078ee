#include "core/ChangedPages.h"

#include "platform/Db.h"

#include <QFile>
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
        std::vector<qint64> todo{root};
        while (!todo.empty()) {
            const qint64 p = todo.back();
            todo.pop_back();
            need(p >= 1 && p <= count && owner[p] == kNoTree);
            owner[p] = tree + 1;
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
                todo.push_back(be32(d + at));
            }
            todo.push_back(be32(d + h + 8));
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
    const qint64 pointers = h + (kind == kIndexInterior ? 12 : 8);
    need(pointers + 2 * cells <= usable);
    // A key longer than a page keeps: its rowid may stand on another page.
    const quint64 maxLocal = quint64((usable - 12) * 64 / 255 - 23);
    Entries e;
    e.cells = cells;
    for (qint64 i = 0; i < cells; ++i) {
        const qint64 at = be16(d + pointers + 2 * i);
        need(at >= pointers + 2 * cells && at < usable);
        const uchar* p = d + at;
        quint64 v = 0;
        if (kind == kTableLeaf) {
            p += varint(p, end, &v);   // the payload's size
            varint(p, end, &v);
            e.rowids.push_back(qint64(v));
            continue;
        }
        need(kind == kIndexLeaf || kind == kIndexInterior);
        if (kind == kIndexInterior) p += 4;
        quint64 payload = 0;
        p += varint(p, end, &payload);
        need(payload <= maxLocal && p + payload <= end);
        const uchar* record = p;
        quint64 headerSize = 0;
        const uchar* t = record + varint(record, end, &headerSize);
        need(headerSize <= payload);
        qint64 offset = qint64(headerSize);
        quint64 type = 0;
        qint64 size = 0;
        bool any = false;
        while (t < record + headerSize) {
            offset += size;
            t += varint(t, record + headerSize, &type);
            size = fieldSize(type);
            any = true;
        }
        need(any && offset + size <= qint64(payload));
        qint64 rowid = 0;
        if (type == 8 || type == 9) {
            rowid = qint64(type - 8);
        } else {
            need(type >= 1 && type <= 6);
            const uchar* r = record + offset;
            rowid = (r[0] & 0x80) ? -1 : 0;   // signed, big-endian
            for (qint64 k = 0; k < size; ++k) rowid = qint64(quint64(rowid) << 8 | r[k]);
        }
        e.rowids.push_back(rowid);
    }
    return e;
}

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
// by their own values and rowid, the values read from the index itself; for
// a unique index, with the rows of its entries `entries`, no other row with
// the same key. False at the first that fails.
bool RowsStandInIndex(const Database& cur, const QString& table, const QString& index, std::vector<qint64> rows,
                      const std::vector<qint64>& entries) {
    const QString s = quoteIdent(cur.schema());
    bool unique = false;
    for (platform::RowReader r = cur.rows(QStringLiteral("PRAGMA %1.index_list(%2)").arg(s, quoteIdent(table))); r.next();) {
        if (r.text(1) != index) continue;
        unique = r.integer(2) != 0;
        need(r.integer(4) == 0);   // a partial index holds some rows only
    }
    QStringList same, equal;
    for (platform::RowReader r = cur.rows(QStringLiteral("PRAGMA %1.index_xinfo(%2)").arg(s, quoteIdent(index))); r.next();) {
        if (r.integer(5) == 0) continue;   // the rowid, matched below
        need(r.integer(1) >= 0 && r.text(4).compare(QStringLiteral("BINARY"), Qt::CaseInsensitive) == 0);
        const QString c = quoteIdent(r.text(2));
        // Compared byte for byte, as the index orders them.
        same << QStringLiteral("x.%1 IS t.%1 COLLATE BINARY").arg(c);
        equal << QStringLiteral("x.%1 = t.%1 COLLATE BINARY").arg(c);
    }
    need(!same.isEmpty());
    // A key held twice has one of its entries on a page that differs.
    if (unique) rows.insert(rows.end(), entries.begin(), entries.end());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.empty()) return true;
    const QString t = QStringLiteral("%1.%2").arg(s, quoteIdent(table));
    const QString from = QStringLiteral("%1 AS x INDEXED BY %2").arg(t, quoteIdent(index));
    const std::vector<qint64>& all = rows;
    constexpr size_t kChunk = 500;
    for (size_t at = 0; at < all.size(); at += kChunk) {
        const size_t n = std::min(kChunk, all.size() - at);
        platform::Params ids;
        for (size_t i = 0; i < n; ++i) ids << all[at + i];
        const QString missing = QStringLiteral("SELECT count(*) FROM %1 AS t NOT INDEXED WHERE t.rowid IN (%2) AND NOT EXISTS "
                                               "(SELECT 1 FROM %3 WHERE %4 AND x.rowid = t.rowid)")
                                    .arg(t, placeholders(qsizetype(n)), from, same.join(QStringLiteral(" AND ")));
        QStringList checks{missing};
        if (unique)
            checks << QStringLiteral("SELECT count(*) FROM %1 AS t NOT INDEXED, %3 WHERE t.rowid IN (%2) AND %4 AND x.rowid <> t.rowid")
                          .arg(t, placeholders(qsizetype(n)), from, equal.join(QStringLiteral(" AND ")));
        for (const QString& sql : checks) {
            if (at == 0) {
                // The values compared must be the index's own: the engine
                // must read them from the index, not from the table, and
                // seek them there.
                bool fromIndex = false;
                for (platform::RowReader r = cur.rows(QStringLiteral("EXPLAIN QUERY PLAN ") + sql, ids); r.next();)
                    fromIndex = fromIndex || r.text(3).contains(QStringLiteral("SEARCH x USING COVERING INDEX %1 (").arg(index));
                need(fromIndex);
            }
            if (cur.scalar(sql, ids).toLongLong() != 0) return false;
        }
    }
    return true;
}

bool Judge(const Database& cur, const QString& file, const QString& copy) {
    Layout now, was;
    now.file.setFileName(file);
    was.file.setFileName(copy);
    need(now.file.open(QIODevice::ReadOnly) && was.file.open(QIODevice::ReadOnly));
    const QByteArray hn = now.file.read(100), hw = was.file.read(100);
    need(hn.size() == 100 && hw.size() == 100);
    const auto* a = reinterpret_cast<const uchar*>(hn.constData());
    const auto* b = reinterpret_cast<const uchar*>(hw.constData());
    // The same format read the same way: page size, reserved bytes, no
    // pages of pointers, text encoding, schema format.
    for (int i : {16, 17, 20, 21, 22, 23, 44, 45, 46, 47, 52, 53, 54, 55, 56, 57, 58, 59}) need(a[i] == b[i]);
    need(be32(a + 52) == 0);
    const qint64 pageSize = be16(a + 16) == 1 ? 65536 : be16(a + 16);
    const qint64 usable = pageSize - a[20];
    need(pageSize >= 512 && usable >= 480);
    for (Layout* l : {&now, &was}) {
        l->pageSize = pageSize;
        need(l->file.size() % pageSize == 0);
        l->count = l->file.size() / pageSize;
        l->kind.assign(size_t(l->count + 1), 0);
        l->owner.assign(size_t(l->count + 1), kNoTree);
    }
    need(be32(a + 28) == now.count && be32(b + 28) == was.count);

    // The same tables and indexes at the same roots.
    const QList<QStringList> schema = schemaOf(cur);
    {
        const Database c = Database::openSnapshot(copy);
        need(schemaOf(c) == schema);
    }
    std::vector<Tree> trees;
    trees.emplace_back(QStringLiteral("sqlite_schema"), QStringLiteral("sqlite_schema"), 1, false);
    for (const QStringList& row : schema) {
        if (row[3].toLongLong() <= 0) continue;   // a view, a trigger, a virtual table
        trees.emplace_back(row[1], row[2], row[3].toLongLong(), row[0] == QLatin1String("index"));
    }

    // Every page of both read once: which differ, of what kind each is.
    const qint64 most = std::max(now.count, was.count);
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
    for (size_t t = 0; t < trees.size(); ++t) {
        now.walk(trees[t].root, int(t), trees[t].index);
        was.walk(trees[t].root, int(t), trees[t].index);
    }
    now.markFree(be32(a + 32));

    // The pages each tree took or rewrote in the file, and those of the copy it gave up.
    qint64 touched = 0;
    for (qint64 p = 1; p <= most; ++p) {
        const int o = p <= now.count ? now.owner[p] : kNoTree, w = p <= was.count ? was.owner[p] : kNoTree;
        if (differs[p] || o != w) ++touched;
        if (o > 0 && (differs[p] || o != w)) {
            Tree& tree = trees[size_t(o - 1)];
            need(o != 1);   // the schema's pages: another schema
            if (tree.index || now.kind[p] == kTableLeaf) {
                const Entries e = entriesOf(now.page(p), p, usable);
                tree.gained += e.cells;
                tree.touchedRows.insert(tree.touchedRows.end(), e.rowids.begin(), e.rowids.end());
            }
        } else if (differs[p] && p <= now.count) {
            // A page of no tree that differs: free, or part of a row too long for its page.
            need(o == kFree);
        }
        if (w > 0 && (differs[p] || o != w)) {
            Tree& tree = trees[size_t(w - 1)];
            need(w != 1);
            if (tree.index || was.kind[p] == kTableLeaf) {
                const Entries e = entriesOf(was.page(p), p, usable);
                tree.gained -= e.cells;
                tree.leftRows.insert(tree.leftRows.end(), e.rowids.begin(), e.rowids.end());
            }
        }
    }
    // Most of the file rewritten: the whole check costs no more.
    need(touched * 4 <= now.count);

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
            if (!RowsStandInIndex(cur, table.table, index.name, std::move(rows), index.touchedRows)) return false;
        }
    }
    return true;
}

}  // namespace

bool ChangesHoldAgainstCopy(const Database& cur, const QString& file, const QString& copy) {
    try {
        return Judge(cur, file, copy);
    } catch (const Unbounded&) {
        return false;
    } catch (const DbError&) {
        return false;
    } catch (const std::out_of_range&) {
        return false;
    }
}

}  // namespace ModSwitch
