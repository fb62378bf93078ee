// "Bill.dat" and the spool read by the same rules: a record whose bytes changed
// on the disk is kept as a reject row, an append torn by a crash is no record,
// every other record is stored and charged once.
#include "support/PricingFixture.h"

#include "pricing/BillFile.h"
#include "pricing/RecordSpool.h"

#include <QFile>

using namespace pricingtest;
namespace billfile = pricing::billfile;
namespace spool = pricing::spool;

namespace {

class RecordQueueTest : public PricingTest {
protected:
    void SetUp() override {
        PricingTest::SetUp();
        TerminalName = QStringLiteral("默认");
        localCaller("10", 1);
    }
    QByteArray call(int minute) {
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(10, minute, 0));
        r.seconds = 250;   // 0.40 yuan
        return r.frame();
    }
    // The second record after `header` bytes changed on the disk, and an append torn after the last.
    void damage(const QString& path, int header) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray all = f.readAll();
        ASSERT_EQ(all.size(), header + 90);
        all[header + 30 + 3] = char(all[header + 30 + 3] ^ 1);   // extension 5 reads as 4
        all.append("torn");
        ASSERT_TRUE(f.seek(0));
        ASSERT_EQ(f.write(all), all.size());
    }
};

TEST_F(RecordQueueTest, EitherFileKeepsADamagedRecordAsARejectRowAndATornAppendIsNoRecord) {
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(spool::Append(call(k)));
    damage(spool::Path(), 16);
    EXPECT_EQ(spool::Replay(), 0);
    EXPECT_EQ(count("Tab_Phone"), 2);
    EXPECT_EQ(count("tab_errPh"), 1);
    EXPECT_EQ(remainOf(7), yuan("9.20"));

    {
        billfile::Writer w;
        int waiting = -1;
        ASSERT_TRUE(w.start(true, &waiting));
        for (int k = 3; k < 6; ++k) {
            QByteArray f = call(k);
            quint8 sum = 0;
            for (char c : f) sum = quint8(sum + quint8(c));
            ASSERT_TRUE(w.append(f.append(char(sum))));
        }
    }
    damage(billfile::Path(), 0);
    billfile::Report report;
    EXPECT_EQ(billfile::Price({}, &report), 0);
    EXPECT_EQ(report.rejected, 1);
    EXPECT_EQ(count("Tab_Phone"), 4);
    EXPECT_EQ(count("tab_errPh"), 2);
    EXPECT_EQ(remainOf(7), yuan("8.40"));
}

}  // namespace
