// Whole downloads against a switch that answers late, repeats its answers now
// and then or always, refuses a row, on a fast line and on a paced 9600 baud
// one: a row is never done on another row's answer.
#include "transfer/TransferFixture.h"

#include "link/CommState.h"
#include "link/TraceList.h"
#include "link/frmSRV.h"

#include <QRegularExpression>

using namespace transfertest;

namespace {

struct Line {
    const char* name;
    int baud;   // 0: as fast as the terminal
};
const Line kLines[] = {{"unpaced", 0}, {"9600 baud", 9600}};

class AnswerMatching : public TransferTest {
protected:
    // The trace of these long downloads is not left to the tests after them.
    void TearDown() override {
        TransferTest::TearDown();
        frmSRV::instance().lstRec->clear();
    }
    // Each case meets the line afresh, as a station that has just opened it.
    void freshLine(int baud) {
        sw.setBaud(baud);
        sw.clearRules();
        freshLink();
    }
    // The line goes quiet, and answers in time from then on.
    void drain() {
        sw.setAckTiming(-1, -1, 0, 0, 0);
        TransferTest::drain();
    }
    void cityHeads(int n) {
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute("delete from CityHead");
        for (int i = 0; i < n; ++i)
            dbSwitch.execute("insert into CityHead values(?, ?, 8, 0, 1, 2, 1)", {QStringLiteral("%1").arg(10000 + i), i % 30});
        tx.commit();
    }
    // A fresh line whose answers come as setAckTiming's arguments say, the tables of the switch empty.
    void timedLine(int baud, int lateMin, int lateMax, double share, int gapMin, int gapMax, int from = 0) {
        freshLine(baud);
        sw.clearTables();
        sw.setAckTiming(lateMin, lateMax, share, gapMin, gapMax, from);
    }
    // The heads 0-5, or the extensions below 6, made pending and downloaded:
    // the table fails, `row` stays pending, every row done is held by the switch.
    void failsKeeping(const char* table, const QString& row) {
        if (QLatin1String(table) == QLatin1String("Extension")) {
            pendingExtensions(6);
            choose(1);
            down("Extension", 6);
        } else {
            dbSwitch.execute("update ExtraHead set bSet=1");
            down("ExtraHead");
        }
        EXPECT_EQ(status(), "下载失败");
        EXPECT_TRUE(pendingOf(table).split(',').contains(row)) << pendingOf(table).toStdString();
        EXPECT_EQ(doneNotHeld(table), QStringList());
        drain();
    }
};

}  // namespace

// A refused row keeps its pending mark and the table fails, whether the line
// repeats its first answer only after a few rows, only some answers, each one
// later than 150 ms, or each one as soon as the row after it is sent; a row
// after it is done only where the switch holds it.
TEST_F(AnswerMatching, ARefusedRowStaysPendingWhateverTheLineRepeats) {
    extraHeads(6);
    struct Repeats {
        const char* name;
        int lateMin, lateMax;
        double share;
        int gapMin, gapMax, from;
    };
    const Repeats kinds[] = {
        {"first repeat after the first row, 10 ms late and apart", 10, 10, 1.0, 10, 10, 2},
        {"some answers repeated", 10, 60, 0.5, 10, 60, 1},
        {"each repeat 160-200 ms after", 30, 30, 1.0, 160, 200, 0},
        {"each 30 ms late, again 15 ms after", 30, 30, 1.0, 15, 15, 0},
        {"each 30 ms late, again 30 ms after", 30, 30, 1.0, 30, 30, 0},
        {"each 30 ms late, again 50 ms after", 30, 30, 1.0, 50, 50, 0},
        {"each 30 ms late, again 15-50 ms after", 30, 30, 1.0, 15, 50, 0},
    };
    for (const Line& line : kLines) {
        for (const Repeats& k : kinds) {
            SCOPED_TRACE(std::string(line.name) + ", " + k.name);
            timedLine(line.baud, k.lateMin, k.lateMax, k.share, k.gapMin, k.gapMax, k.from);
            sw.addRule("940A0003", sim::Reply::Status03, -1);
            failsKeeping("ExtraHead", "3");
            timedLine(line.baud, k.lateMin, k.lateMax, k.share, k.gapMin, k.gapMax, k.from);
            sw.addRule("8B1603", sim::Reply::Status03, -1);
            failsKeeping("Extension", "3");
        }
    }
}

// One repeat early in a long download is heard and forgotten again: the rows
// after it wait no more than for a switch that never repeats, and each row
// still ends on its own answer.
TEST_F(AnswerMatching, OneRepeatIsForgottenAgain) {
    cityHeads(450);
    freshLine(0);
    // The second answer of the line comes again 20 ms after it; no other does.
    sw.setAckTiming(0, 0, 1.0, 20, 20, 1);
    int seen = 0;
    sw.setObserver([&](const sim::Frame& f) {
        if (f.startsWith("860B") && ++seen == 1) sw.setAckTiming(-1, -1, 0, 0, 0);
    });
    down("CityHead", 9);
    sw.setObserver({});
    EXPECT_EQ(status(), "下载成功");
    EXPECT_EQ(sw.repeatsWritten(), 1);
    EXPECT_EQ(count("select count(*) from CityHead where bSet<>0"), 0);
    EXPECT_EQ(ModComm::RowWaitMs(), 0);
}

namespace {

// Downloads judged by what the switch holds.
class RowsHeld : public AnswerMatching {
protected:
    void SetUp() override {
        AnswerMatching::SetUp();
        extraHeads(6);
    }
    void TearDown() override {
        SwitchModel = 0;
        AnswerMatching::TearDown();
    }
    void repeatingLine(int baud, int late, int gapMin, int gapMax) { timedLine(baud, late, late, 1.0, gapMin, gapMax); }
    // The heads all made pending and downloaded: done only where the switch
    // holds them (once the repeats are learned a lost row may be sent again
    // and taken), all of them when the table went.
    void cityHeadsDoneWhereHeld() {
        dbSwitch.execute("update CityHead set bSet=1");
        down("CityHead", 9);
        EXPECT_EQ(doneNotHeld("CityHead"), QStringList());
        if (status() == "下载成功") {
            EXPECT_EQ(count("select count(*) from CityHead where bSet<>0"), 0);
        }
        drain();
    }
};

struct Repeat {
    const char* name;
    int gapMin, gapMax;
};
const Repeat kRepeats[] = {{"repeated 20 ms after", 20, 20}, {"repeated 300-1000 ms after", 300, 1000}};

}  // namespace

// Every answer 30 ms late and again after it, from the line's first answer
// on, and one row lost on the line (the switch never got it): the lost row
// stays pending and the table fails, and every row the station holds as
// downloaded is in the switch; short tables, extensions and a longer table,
// on both lines and both switch models.
TEST_F(RowsHeld, ARowLostUnderRepeatsFromTheFirstAnswerStaysPending) {
    for (int model : {0, 2}) {
        SwitchModel = model;
        for (const Line& line : kLines) {
            for (const Repeat& k : kRepeats) {
                SCOPED_TRACE(std::string(line.name) + ", " + k.name + ", model " + std::to_string(model));
                repeatingLine(line.baud, 30, k.gapMin, k.gapMax);
                sw.addRule("940A0003", sim::Reply::Silent);
                failsKeeping("ExtraHead", "3");
                repeatingLine(line.baud, 30, k.gapMin, k.gapMax);
                sw.addRule("8B1603", sim::Reply::Silent);
                failsKeeping("Extension", "3");
            }
        }
    }
    // A longer table, its 90th row lost: done only where the switch holds it.
    cityHeads(120);
    for (const Line& line : kLines) {
        SCOPED_TRACE(line.name);
        repeatingLine(line.baud, 30, 20, 20);
        sw.addRule("860B", sim::Reply::Silent, 1, 89);
        cityHeadsDoneWhereHeld();
    }
}

// A refusal that comes later than the line's quiet, on a line that repeats
// every answer: the refused row keeps its pending mark and the table fails,
// also when the refused row is the table's last.
TEST_F(RowsHeld, ARefusalLaterThanTheQuietKeepsItsRowPending) {
    struct Case {
        const char* name;
        int gap, refusalMs, row;
    };
    const Case cases[] = {
        {"repeats 20 ms after, refusal 380 ms late", 20, 380, 3},
        {"the last row, refused 380 ms late", 20, 380, 5},
        {"repeats 300 ms after, refusal 430 ms late", 300, 430, 3},
    };
    for (const Line& line : kLines) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(line.name) + ", " + c.name);
            repeatingLine(line.baud, 30, c.gap, c.gap);
            sw.setLateReplyMs(c.refusalMs);
            sw.addRule(QStringLiteral("940A000%1").arg(c.row), sim::Reply::LateRefusal, -1);
            failsKeeping("ExtraHead", QString::number(c.row));
        }
    }
}

// A switch that never repeats reports one bad sum and takes the row sent
// again: the row is taken, as the two attempts of the frame rule say, and the
// rest of the table goes.
TEST_F(RowsHeld, OneBadSumThenAGoodAnswerOnALineThatNeverRepeatedIsARowTaken) {
    for (const Line& line : kLines) {
        SCOPED_TRACE(line.name);
        for (const char* table : {"Extension", "ExtraHead"}) {
            freshLine(line.baud);
            sw.clearTables();
            const bool extensions = QLatin1String(table) == QLatin1String("Extension");
            sw.addRule(extensions ? "8B1631" : "940A0003", sim::Reply::Status01);
            if (extensions) {
                pendingExtensions(120);
                choose(1);
                down("Extension", 6);
                EXPECT_EQ(sw.table(sim::tables::Extension).size(), 120u);
            } else {
                dbSwitch.execute("update ExtraHead set bSet=1");
                down("ExtraHead");
            }
            EXPECT_EQ(status(), "下载成功") << table;
            EXPECT_EQ(pendingOf(table), QString());
            EXPECT_EQ(doneNotHeld(table), QStringList());
        }
    }
}

// On a paced line whose answers come late and twice, a row refused once:
// every head the station holds as downloaded is in the switch.
TEST_F(RowsHeld, ARowRefusedOnceOnAPacedRepeatingLineIsDoneOnlyWhereTheSwitchHoldsIt) {
    cityHeads(80);
    for (int model : {0, 2}) {
        SwitchModel = model;
        for (const Repeat& k : {Repeat{"10-60 ms late, again 20 ms after", 20, 20}, Repeat{"again 15-40 ms after", 15, 40}}) {
            SCOPED_TRACE(std::string(k.name) + ", model " + std::to_string(model));
            timedLine(9600, 10, 60, 1.0, k.gapMin, k.gapMax);
            sw.addRule("860B", sim::Reply::Status03, 1, 40);
            cityHeadsDoneWhereHeld();
        }
    }
}
