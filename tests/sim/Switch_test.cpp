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
    const QByteArray ack = QByteArray::fromHex("82030085");
};

TEST_F(SwitchOnPty, AnswersLateRepeatedOnAPacedLineAndTheWaitsForThem) {
    // Every answer late and again 30 ms later, a refusal too.
    sw.setAckTiming(10, 20, 1.0, 30, 30);
    line->write(clock);
    EXPECT_EQ(line->read(8), ack + ack);
    sw.addRule("8509", sim::Reply::Status03);
    line->write(clock);
    EXPECT_EQ(line->read(8), QByteArray::fromHex("8203038882030388"));
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
    line->write(QByteArray::fromHex("83030086") + clock);
    EXPECT_EQ(line->read(16), QByteArray::fromHex("950B 000000000000000000 A0") + ack);

    // The waits for the line: what the station wrote is taken, however slowly a
    // paced line brings it; a reply held back has been written when the wait ends.
    sw.setAnswerProbe(false);
    QByteArray probes;
    for (int i = 0; i < 20; ++i) probes += QByteArray::fromHex("83030086");
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

TEST_F(SwitchOnPty, ProbeAnsweredWith950BAndSplitWritesAndNoiseKeepFramesWhole) {
    line->write(QByteArray::fromHex("008303"));          // a noise byte, then a split probe
    ASSERT_TRUE(sw.waitReadAll(3000));
    line->write(QByteArray::fromHex("0086"));
    EXPECT_EQ(line->read(12), QByteArray::fromHex("950B 000000000000000000 A0"));
    ASSERT_EQ(sw.receivedWith("830300").size(), 1u);

    sw.setAnswerProbe(false);
    line->write(QByteArray::fromHex("83030086"));
    EXPECT_TRUE(line->read(1, 150).isEmpty());

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

TEST(SwitchLine, OutputWaitsForTheStationOrIsLostAsOnARealLineAndThePortReopens) {
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
            if (drop) { EXPECT_TRUE(line.read(1, 150).isEmpty()); }
            else EXPECT_EQ(line.read(4), QByteArray::fromHex("83030086"));
            sw.announce();                              // the line is open: always delivered
            EXPECT_EQ(line.read(4), QByteArray::fromHex("83030086"));
        }
        EXPECT_TRUE(sw.waitDisconnected(3000)) << "the station closed the line";
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
}

}  // namespace
