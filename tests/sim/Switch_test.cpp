// The simulator seen from the station's end of a real pseudo-terminal: the
// test writes and reads raw bytes and checks them against hand-written frames.
#include "sim/Switch.h"

#include <QSerialPort>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray bytes(std::initializer_list<int> v) {
    QByteArray b;
    for (int x : v) b.append(char(x));
    return b;
}

// The station's end: the pty slave, raw.
class Line {
public:
    explicit Line(const QString& path) {
        fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Line() { if (fd_ >= 0) ::close(fd_); }
    bool ok() const { return fd_ >= 0; }
    void write(const QByteArray& b) { ASSERT_EQ(::write(fd_, b.constData(), size_t(b.size())), b.size()); }
    // Reads until `n` bytes came or `ms` passed; counts the separate reads.
    QByteArray read(int n, int ms = 3000) {
        QByteArray got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < n && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5) <= 0) continue;
            char buf[512];
            const ssize_t k = ::read(fd_, buf, sizeof buf);
            if (k > 0) {
                got.append(buf, int(k));
                ++reads;
            }
        }
        return got;
    }
    int reads = 0;
private:
    int fd_ = -1;
};

class SwitchOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sw.openPty());
        line = std::make_unique<Line>(sw.slavePath());
        ASSERT_TRUE(line->ok());
        sw.start();
    }
    sim::Switch sw;
    std::unique_ptr<Line> line;
    // The clock order of 2024-05-06 14:07:09, a Monday, and the switch's acknowledgement.
    const QByteArray clock = sim::withSum(QStringLiteral("8509440506140709 01"));
    const QByteArray ack = bytes({0x82, 0x03, 0x00, 0x85});
};

TEST(Frames, ChecksumAndCodes) {
    EXPECT_EQ(sim::withSum(QStringLiteral("830300")), bytes({0x83, 0x03, 0x00, 0x86}));
    EXPECT_EQ(sim::withSum(QStringLiteral("96 03 01")), bytes({0x96, 0x03, 0x01, 0x9A}));
    EXPECT_EQ(sim::toHex(sim::withSum(QStringLiteral("860B14123FFFFF04000102"))), "860B14123FFFFF04000102FB");
    // 82 03 04 is no frame start; 82 03 03 is; 9F takes lengths 03..27 only.
    EXPECT_EQ(sim::frameStart(0x82, 0x03, true, 0x04), 0);
    EXPECT_EQ(sim::frameStart(0x82, 0x03, true, 0x03), 1);
    EXPECT_EQ(sim::frameStart(0x9F, 0x27, false, 0), 1);
    EXPECT_EQ(sim::frameStart(0x9F, 0x28, false, 0), 0);
    EXPECT_TRUE(sim::fromHex("8303G0").isEmpty());
}

TEST_F(SwitchOnPty, ProbeIsAnsweredWith950B) {
    line->write(bytes({0x00, 0x83, 0x03}));          // a noise byte, then a split probe
    ASSERT_TRUE(sw.waitReadAll(3000));
    line->write(bytes({0x00, 0x86}));
    const QByteArray a = line->read(12);
    ASSERT_EQ(a.size(), 12);
    EXPECT_EQ(quint8(a[0]), 0x95);
    EXPECT_EQ(quint8(a[1]), 0x0B);
    EXPECT_EQ(quint8(a[11]), sim::checksum(a.left(11)));
    ASSERT_EQ(sw.receivedWith("830300").size(), 1u);

    sw.setAnswerProbe(false);
    line->write(bytes({0x83, 0x03, 0x00, 0x86}));
    EXPECT_TRUE(line->read(1, 150).isEmpty());
}

TEST_F(SwitchOnPty, OrdersAreAcknowledgedOrRefusedAsTold) {
    line->write(clock);
    EXPECT_EQ(line->read(4), ack);
    auto got = sw.waitFor("8509", 1000);
    ASSERT_TRUE(got);
    auto c = sim::decodeClock(*got);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->when, QDateTime(QDate(2024, 5, 6), QTime(14, 7, 9)));
    EXPECT_EQ(c->weekday, 1);

    sw.addRule("8509", sim::Reply::Silent);
    sw.addRule("8509", sim::Reply::Status03);
    sw.addRule("8509", sim::Reply::Status01);
    sw.addRule("8509", sim::Reply::BadSum);
    line->write(clock);
    EXPECT_TRUE(line->read(1, 150).isEmpty());
    line->write(clock);
    EXPECT_EQ(line->read(4), bytes({0x82, 0x03, 0x03, 0x88}));
    line->write(clock);
    EXPECT_EQ(line->read(4), bytes({0x82, 0x03, 0x01, 0x86}));
    line->write(clock);
    const QByteArray garbled = line->read(4);
    ASSERT_EQ(garbled.size(), 4);
    EXPECT_EQ(garbled.left(3), bytes({0x82, 0x03, 0x00}));
    EXPECT_NE(quint8(garbled[3]), 0x85);
    line->write(clock);                                // rules used up: normal again
    EXPECT_EQ(line->read(4), ack);

    // A damaged order is reported with 820301; fire-and-forget orders get nothing.
    line->write(bytes({0x85, 0x09, 0x44, 0x05, 0x06, 0x14, 0x07, 0x09, 0x01, 0x00}));
    EXPECT_EQ(line->read(4), bytes({0x82, 0x03, 0x01, 0x86}));
    line->write(sim::withSum(QStringLiteral("84040101")));
    line->write(sim::withSum(QStringLiteral("960301")));
    EXPECT_TRUE(line->read(1, 150).isEmpty());
    EXPECT_EQ(sw.receivedWith("84040101").size(), 1u);
}

TEST_F(SwitchOnPty, AnswersLateRepeatedOnAPacedLineAndTheWaitsForThem) {
    // Every answer late and again 30 ms later, a refusal too.
    sw.setAckTiming(10, 20, 1.0, 30, 30);
    line->write(clock);
    EXPECT_EQ(line->read(8), ack + ack);
    sw.addRule("8509", sim::Reply::Status03);
    line->write(clock);
    EXPECT_EQ(line->read(8), bytes({0x82, 0x03, 0x03, 0x88, 0x82, 0x03, 0x03, 0x88}));
    EXPECT_EQ(sw.acksWritten(), 4);
    EXPECT_EQ(sw.repeatsWritten(), 2);
    // None again; then only from the second answer on.
    sw.setAckTiming(10, 60, 0.0, 10, 200);
    line->write(clock);
    EXPECT_EQ(line->read(4), ack);
    sw.setAckTiming(0, 0, 1.0, 10, 10, 1);
    line->write(clock);
    EXPECT_EQ(line->read(4), ack);
    line->write(clock);
    EXPECT_EQ(line->read(8), ack + ack);
    EXPECT_TRUE(line->read(1, 150).isEmpty());
    EXPECT_EQ(sw.repeatsWritten(), 3);

    // A paced line carries whole frames both ways.
    sw.setAckTiming(-1, -1, 0, 0, 0);
    sw.setBaud(9600);
    line->write(bytes({0x83, 0x03, 0x00, 0x86}) + clock);
    const QByteArray a = line->read(16);
    ASSERT_EQ(a.size(), 16);
    EXPECT_EQ(quint8(a[0]), 0x95);
    EXPECT_EQ(quint8(a[11]), sim::checksum(a.left(11)));
    EXPECT_EQ(a.mid(12), ack);

    // The waits for the line: what the station wrote is taken, however slowly a
    // paced line brings it; a reply held back has been written when the wait ends.
    sw.setAnswerProbe(false);
    QByteArray probes;
    for (int i = 0; i < 20; ++i) probes += bytes({0x83, 0x03, 0x00, 0x86});
    line->write(probes);
    ASSERT_TRUE(sw.waitReadAll(10000));
    EXPECT_EQ(sw.receivedWith("830300").size(), 21u);   // and the probe of the paced line above

    sw.setBaud(0);
    sw.setLateReplyMs(300);
    sw.addRule("8509", sim::Reply::Late);
    line->write(clock);
    ASSERT_TRUE(sw.waitFor("8509", 5000));
    ASSERT_TRUE(sw.waitWritten(10000));
    EXPECT_EQ(line->read(4, 1), ack);   // already on the line
}

TEST_F(SwitchOnPty, RecordsDepositsFeesAndTheStationsAnswers) {
    sim::CallRecord r;
    r.extAddr = 0x0105;
    r.called = "013812345678";
    r.channel = 3;
    r.start = QDateTime(QDate(2024, 12, 31), QTime(23, 59, 58));
    r.durationSec = 3725;                               // 1 h 2 min 5 s
    r.account = "1234";
    r.type = 1;
    sw.sendCallRecord(r);
    sim::CallRecord second = r;
    second.extAddr = 7;
    sw.sendCallRecord(second);

    QByteArray f = line->read(30);
    ASSERT_EQ(f.size(), 30);
    EXPECT_EQ(f.left(5), bytes({0x96, 0x1D, 0x01, 0x05, 0xFF}));
    EXPECT_EQ(f.mid(5, 10), bytes({0x01, 0x38, 0x12, 0x34, 0x56, 0x78, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(quint8(f[16]), 0x03);
    EXPECT_EQ(f.mid(17, 8), bytes({0x12, 0x31, 0x23, 0x59, 0x58, 0x01, 0x02, 0x05}));
    EXPECT_EQ(f.mid(25, 2), bytes({0x12, 0x34}));
    EXPECT_EQ(quint8(f[28]), 0x01);
    EXPECT_EQ(quint8(f[29]), sim::checksum(f.left(29)));
    EXPECT_TRUE(line->read(1, 100).isEmpty()) << "one record at a time";

    line->write(sim::withSum(QStringLiteral("820303")));   // not stored: the same again
    EXPECT_EQ(line->read(30), f);
    line->write(sim::withSum(QStringLiteral("820302")));   // taken: the next one
    const QByteArray g = line->read(30);
    ASSERT_EQ(g.size(), 30);
    EXPECT_EQ(quint8(g[3]), 7);
    line->write(sim::withSum(QStringLiteral("820302")));
    EXPECT_TRUE(line->read(1, 100).isEmpty());
    EXPECT_EQ(sw.recordAnswers(), (std::vector<QString>{"820303", "820302", "820302"}));
    EXPECT_EQ(sw.recordsWaiting(), 0);

    sim::DepositEvent d;
    d.extAddr = 5;
    d.fen = 500;
    d.when = QDateTime(QDate(2024, 3, 1), QTime(8, 0, 0));
    sw.sendDeposit(d);
    f = line->read(30);
    ASSERT_EQ(f.size(), 30);
    EXPECT_EQ(f.mid(22, 3), bytes({0x00, 0x01, 0xF4}));
    EXPECT_EQ(quint8(f[28]), 0x0A);
    // The station answers a stored deposit event "820302" and waits for our ack.
    line->write(sim::withSum(QStringLiteral("820302")));
    EXPECT_EQ(line->read(4), ack);

    // Fee 1.23 yuan for extension 5 on channel byte 0x13.
    line->write(sim::withSum(QStringLiteral("950820050000 7B 13")));
    auto fee = sw.waitFor("950820", 1000);
    ASSERT_TRUE(fee);
    auto o = sim::decodeFee(*fee);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->extLow, 5);
    EXPECT_EQ(o->fen, 123);
    EXPECT_EQ(o->channelByte, 0x13);
    // A balance answer of -1.50 (80 00 96) is acknowledged.
    line->write(sim::withSum(QStringLiteral("950810 05 800096 00")));
    EXPECT_EQ(line->read(4), ack);
    auto bal = sim::decodeBalance(*sw.waitFor("950810", 1000));
    ASSERT_TRUE(bal);
    EXPECT_EQ(bal->signedFen(), -150);
}

TEST_F(SwitchOnPty, StreamedTableIsKeptAndServedBack) {
    const QByteArray row1 = sim::withSum(QStringLiteral("860B14123FFFFF04000102"));
    const QByteArray row2 = sim::withSum(QStringLiteral("860B15456FFFFF04000102"));
    // Nothing stored yet: the read gets the table end at once.
    line->write(sim::withSum(QStringLiteral("810389")));
    EXPECT_EQ(line->read(4), bytes({0x81, 0x03, 0x00, 0x84}));

    for (const QByteArray& f : {sim::withSum(QStringLiteral("810309")), row1, row2, sim::withSum(QStringLiteral("810300"))}) {
        line->write(f);
        EXPECT_EQ(line->read(4), ack);
    }
    EXPECT_EQ(sw.table(sim::tables::LanHead).size(), 2u);

    line->write(sim::withSum(QStringLiteral("810389")));
    EXPECT_EQ(line->read(12), row1);
    EXPECT_TRUE(line->read(1, 100).isEmpty()) << "next row only after the station's 820300";
    line->write(ack);
    EXPECT_EQ(line->read(12), row2);
    line->write(ack);
    EXPECT_EQ(line->read(4), bytes({0x81, 0x03, 0x00, 0x84}));
}

TEST_F(SwitchOnPty, AddressedRowsAndASilentThirdRow) {
    sw.addRule("940A", sim::Reply::Silent, 1, 2);
    for (int a = 0; a < 3; ++a) {
        QByteArray row = sim::fromHex("940A0000123FFFFFFFFF");
        row[3] = char(a);
        line->write(sim::withSum(row));
        if (a < 2) { EXPECT_EQ(line->read(4), ack) << a; }
        else EXPECT_TRUE(line->read(1, 150).isEmpty());
    }
    EXPECT_EQ(sw.table(sim::tables::ExtraHead).size(), 2u);
    // Row 1 comes back as stored; row 2 never arrived, so it is blank.
    line->write(sim::withSum(QStringLiteral("93040001")));
    EXPECT_EQ(line->read(11), sim::withSum(QStringLiteral("940A0001123FFFFFFFFF")));
    line->write(sim::withSum(QStringLiteral("93040002")));
    EXPECT_EQ(line->read(11), sim::withSum(QStringLiteral("940A0002FFFFFFFFFFFF")));
    // 88 04 00 E0 asks trunk 1, 88 04 09 05 the account at 0x905.
    line->write(sim::withSum(QStringLiteral("880400E0")));
    const QByteArray relay = line->read(23);
    ASSERT_EQ(relay.size(), 23);
    EXPECT_EQ(relay.left(3), bytes({0x89, 0x16, 0xE0}));
    line->write(sim::withSum(QStringLiteral("88040905")));
    EXPECT_EQ(line->read(9), sim::withSum(QStringLiteral("8C080905FFFF0000")));
}

TEST_F(SwitchOnPty, SplitWritesAndNoiseKeepFramesWhole) {
    sw.setSplit(3, 2);
    sw.setNoise(0.5, 3);
    for (int card = 0; card < 12; ++card) sw.sendCardState(card, {1, 0, 0, 0, 0, 0, 0, quint8(card)});
    // The station's end cuts what it reads into frames as the switch's own reader does.
    sim::FrameParser parser;
    int frames = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (frames < 12 && std::chrono::steady_clock::now() < end) {
        parser.feed(line->read(1, 50));
        for (; auto f = parser.next(); ++frames) {
            EXPECT_TRUE(f->sumOk);
            EXPECT_EQ(f->body, sim::cardStateBody(frames, {1, 0, 0, 0, 0, 0, 0, quint8(frames)}));
        }
    }
    EXPECT_EQ(frames, 12);
    EXPECT_GT(parser.noiseBytes(), 0);
    EXPECT_GT(line->reads, 12) << "frames arrive in pieces";
}

TEST(SwitchLine, OutputWaitsForTheStationOrIsLostAsOnARealLine) {
    for (bool drop : {false, true}) {
        sim::SwitchOptions opt;
        opt.dropWhileClosed = drop;
        sim::Switch sw(opt);
        ASSERT_TRUE(sw.openPty());
        sw.start();
        sw.announce();                                  // nobody listens yet
        ASSERT_TRUE(sw.waitDisconnected(3000));
        {
            Line line(sw.slavePath());
            ASSERT_TRUE(sw.waitConnected(3000));
            if (drop) EXPECT_TRUE(line.read(1, 150).isEmpty());
            else EXPECT_EQ(line.read(4), bytes({0x83, 0x03, 0x00, 0x86}));
            sw.announce();                              // the line is open: always delivered
            EXPECT_EQ(line.read(4), bytes({0x83, 0x03, 0x00, 0x86}));
        }
        EXPECT_TRUE(sw.waitDisconnected(3000)) << "the station closed the line";
    }
}

TEST(SwitchLine, ReopenedBySerialPort) {
    sim::Switch sw;
    ASSERT_TRUE(sw.openPty());
    sw.start();
    for (int round = 0; round < 2; ++round) {   // the station reopens its port
        QSerialPort port(sw.slavePath());
        ASSERT_TRUE(port.open(QIODevice::ReadWrite)) << port.errorString().toStdString();
        port.write(sim::withSum(QStringLiteral("830300")));
        port.waitForBytesWritten(500);
        QByteArray got;
        while (got.size() < 12 && port.waitForReadyRead(3000)) got += port.readAll();
        ASSERT_EQ(got.size(), 12) << round;
        EXPECT_EQ(quint8(got[0]), 0x95);
        port.close();
    }
    EXPECT_EQ(sw.receivedWith("830300").size(), 2u);
}

}  // namespace
