// Two database files compared by the leaf pages of a table's tree.
#include "platform/DbPages.h"
#include "platform/Db.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;

namespace {

class LeafCompareTest : public ::testing::Test {
protected:
    void SetUp() override {
        a = tmp.path() + "/a.mdb";
        b = tmp.path() + "/b.mdb";
        Database db = Database::create(a);
        db.execute("CREATE TABLE t (k INTEGER, d TEXT, pad TEXT)");
        Transaction tx(db);
        for (int i = 1; i <= 3000; ++i) db.execute("INSERT INTO t VALUES (?, ?, ?)", {i % 97, QString::number(i), QString(60, 'x')});
        tx.commit();
        db.close();
        ASSERT_TRUE(QFile::copy(a, b));
    }
    static qint64 root(const QString& path) {
        return Database::openReadOnly(path).scalar("SELECT rootpage FROM sqlite_master WHERE name='t'").toLongLong();
    }
    LeavesCompared compare() const { return LeafComparer(a, b).compare(root(a), root(b)); }
    // The rows of `spans`.
    static QList<qint64> rowsIn(const QList<RowSpan>& spans, const QString& path) {
        QList<qint64> out;
        Database db = Database::openReadOnly(path);
        for (const RowSpan& s : spans)
            for (RowReader r = db.rows("SELECT rowid FROM t WHERE rowid BETWEEN ? AND ? ORDER BY rowid", {s.first, s.last}); r.next();)
                out << r.integer(0);
        return out;
    }
    QTemporaryDir tmp;
    QString a, b;
};

// A copy appended to shares every leaf but its last with the file it was
// copied from: the spans left hold the rows appended, and the last leaf's.
TEST_F(LeafCompareTest, ACopyAppendedToDiffersOnlyInItsLastLeaves) {
    LeavesCompared same = compare();
    ASSERT_TRUE(same.compared);
    EXPECT_GT(same.leavesA, 10);
    EXPECT_EQ(same.alike, same.leavesA);
    EXPECT_TRUE(same.onlyA.isEmpty() && same.onlyB.isEmpty());

    Database(Database::open(b)).execute("INSERT INTO t SELECT k, d || 'n', pad FROM t WHERE rowid <= 500");
    const LeavesCompared c = compare();
    ASSERT_TRUE(c.compared);
    EXPECT_GE(c.alike, c.leavesA - 1);
    ASSERT_EQ(c.onlyB.size(), 1);
    const QList<qint64> appended = rowsIn(c.onlyB, b);
    for (qint64 r = 3001; r <= 3500; ++r) EXPECT_TRUE(appended.contains(r)) << r;
    EXPECT_LT(appended.size(), 700);
}

// A row changed in the middle of a file, and a table emptied and filled
// again under the same row numbers: each leaf that holds other rows is told,
// whatever the row counts say.
TEST_F(LeafCompareTest, EveryLeafHoldingOtherRowsIsTold) {
    Database(Database::open(b)).execute("UPDATE t SET d='changed' WHERE rowid=1500");
    LeavesCompared c = compare();
    ASSERT_TRUE(c.compared);
    EXPECT_EQ(c.alike, c.leavesA - 1);
    EXPECT_TRUE(rowsIn(c.onlyA, a).contains(1500));
    EXPECT_TRUE(rowsIn(c.onlyB, b).contains(1500));

    {
        Database db = Database::open(b);
        db.execute("DELETE FROM t");
        db.execute("INSERT INTO t SELECT k, d, pad FROM t");   // nothing
        Transaction tx(db);
        for (int i = 1; i <= 3000; ++i) db.execute("INSERT INTO t VALUES (?, ?, ?)", {i % 89, QString::number(i), QString(60, 'y')});
        tx.commit();
    }
    c = compare();
    ASSERT_TRUE(c.compared);
    EXPECT_EQ(c.alike, 0);
    EXPECT_EQ(rowsIn(c.onlyA, a).size(), 3000);
    EXPECT_EQ(rowsIn(c.onlyB, b).size(), 3000);
}

// What the pages cannot tell is not guessed: a journal beside a file, a row
// spilling onto overflow pages, a page that is no table's.
TEST_F(LeafCompareTest, WhatThePagesCannotTellIsNotCompared) {
    const qint64 rootA = root(a), rootB = root(b);
    for (const char* aside : {"-journal", "-wal"}) {
        QFile j(b + aside);
        ASSERT_TRUE(j.open(QIODevice::WriteOnly));
        j.write("x");
        j.close();
        EXPECT_FALSE(LeafComparer(a, b).compare(rootA, rootB).compared) << aside;
        QFile::remove(b + aside);
    }
    EXPECT_TRUE(LeafComparer(a, b).compare(rootA, rootB).compared);

    Database(Database::open(b)).execute("UPDATE t SET pad=? WHERE rowid=10", {QString(20000, 'z')});
    EXPECT_FALSE(compare().compared);

    const qint64 index = [&] {
        Database db = Database::open(a);
        db.execute("CREATE INDEX ix ON t (k)");
        return db.scalar("SELECT rootpage FROM sqlite_master WHERE name='ix'").toLongLong();
    }();
    EXPECT_FALSE(LeafComparer(a, a).compare(index, index).compared);
}

}  // namespace
