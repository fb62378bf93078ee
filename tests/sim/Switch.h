#pragma once
// The switch simulator: plays the exchange at the far end of the station's
// serial line (a pseudo-terminal) or behind the USB collector.
//
// How to use it in a test:
//
//     sim::Switch sw;                       // seeded, answers like a healthy switch
//     ASSERT_TRUE(sw.openPty());            // the station opens sw.slavePath()
//     ModSwitch::SetVariant("CommDevice", sw.slavePath());
//     sw.start();                           // plays on its own thread ...
//     sw.waitConnected(5000);               // ... once the station opened the line
//     sw.sendCallRecord(rec);               // unsolicited frames on demand
//     auto fee = sw.waitFor("950820", 2000, [] { QCoreApplication::processEvents(); });
//     EXPECT_EQ(sw.receivedWith("820302").size(), 1u);
//
// What it does by itself, for every frame the station sends:
//  - "830300" (probe) is answered with "950B";
//  - orders are acknowledged with "820300" (or, when a rule says so, not at all,
//    with "820301"/"820303", with a garbled checksum, twice, or late); a frame
//    with a bad sum is answered "820301";
//  - rows downloaded to it are kept per table ("8103"+code .. rows .. "810300",
//    or addressed rows) and served to the read requests, a streamed table one
//    row per "820300" of the station and "810300" at its end;
//  - call records and deposit events are sent one at a time: the next goes
//    out when the station answers "820302"; "820303" sends the same one again;
//  - a deposit event's "820302" is acknowledged, since the station waits for it;
//  - the record upload "9607" is acknowledged and answered with the records of
//    setUploadRecords(), one per "820302", then the end frame "9607" (the
//    records answered are kept for the next upload unless told otherwise);
//  - everything received is recorded, decoded (see Frame::describe).
// Only the orders the station waits for are acknowledged:
// an acknowledgement of a fire-and-forget order such as "960301" would complete
// whatever send of the station is pending at that moment.
// Before the station opens the terminal, and while it reopens it, what is due
// waits (or is lost with dropWhileClosed). To compare with an earlier state,
// pass receivedCount() taken before the action as `from` to waitFor().
// All calls are thread-safe; the observer runs on the simulator's thread and
// may call back into it. Noise and split sizes come from the seed alone.
// The USB collector that carries the same switch: sim/UsbCollectorSim.h.
#include "sim/Frames.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

namespace sim {

// How the switch replies to a frame of the station.
enum class Reply {
    Normal,     // the acknowledgement "820300", or the data asked for
    Silent,     // nothing at all
    Status01,   // "820301" (the switch saw a bad checksum) instead
    Status03,   // "820303" instead
    BadSum,     // the normal reply with a wrong checksum byte
    Short,      // the normal reply less its last data byte (length byte to match)
    LostAck,    // an order is taken, but its acknowledgement is lost on the line
    Doubled,    // the normal reply written twice, back to back
    Late,       // the normal reply, written setLateReplyMs() after the frame came
    LateRefusal,// an order is not taken: "820303", written setLateReplyMs() after the frame
                // came (with setAckTiming, its copy as drawn after that)
    Echoed,     // the normal reply at once, and a copy of it setLateReplyMs() after
};

// A switch table as the simulator stores it: rows keyed by address (or by
// their position for the streamed tables), each row the frame body without sum.
using Table = std::map<int, QByteArray>;

// Table names used by the store.
namespace tables {
inline const QString LanHead = QStringLiteral("LanHead");          // "810309" .. "860B" rows, read "810389"
inline const QString CityHead = QStringLiteral("CityHead");        // "810301", read "810381"
inline const QString PabxFeeRate = QStringLiteral("PabxFeeRate");  // "810303" .. "8F17"/"8F12", read "810383"
inline const QString SpringNum = QStringLiteral("SpringNum");      // "810310" .. "8705", read "810382"
inline const QString PabxTimes = QStringLiteral("PabxTimes");      // "A910"/"A90C" keyed by byte 2, read "A903"
inline const QString ExtraHead = QStringLiteral("ExtraHead");      // "940A" keyed by bytes 2-3, asked "9304"
inline const QString Shrink = QStringLiteral("Shrink");            // "A70A" keyed by byte 2, asked "A703"
inline const QString AddHead = QStringLiteral("AddHead");          // "9008" keyed by bytes 2-3, asked "9104"
inline const QString Relay = QStringLiteral("Relay");              // "8916" keyed by port byte 2, asked "8804 00 E0.."
inline const QString Extension = QStringLiteral("Extension");      // "8B16" keyed by byte 2, asked "8804 00 ii"
inline const QString Account = QStringLiteral("Account");          // "8C08" keyed by bytes 2-3, asked "8804 08/09 ii"
inline const QString ExtDeposit = QStringLiteral("ExtDeposit");    // "A507" keyed by byte 2, asked "A503"
inline const QString BoardLayout = QStringLiteral("BoardLayout");  // "9E13", asked "8E04"
inline const QString Limits = QStringLiteral("Limits");            // "8D12", asked "8D0300"
inline const QString SelCmd = QStringLiteral("SelCmd");            // "A80E", asked "A803"
inline const QString IPPuhPara = QStringLiteral("IPPuhPara");      // "A60E", asked "A603"
}  // namespace tables

struct SwitchOptions {
    unsigned seed = 1;
    bool answerProbe = true;          // "830300" gets "950B"
    int uploadStartDelayMs = 100;     // the record upload starts this long after its "9607"
    bool dropWhileClosed = false;     // what is due while no station holds the line open is
                                      // lost, as on a real line (else it waits for the station)
};

class Switch {
public:
    explicit Switch(SwitchOptions opt = {});
    ~Switch();
    Switch(const Switch&) = delete;
    Switch& operator=(const Switch&) = delete;

    // ---- transport ----
    // Opens a pseudo-terminal pair in raw mode; the station opens slavePath().
    bool openPty();
    QString slavePath() const { return slavePath_; }
    // Until a station holds the terminal open (pty mode), driving the pty
    // itself when no thread does.
    bool waitConnected(int timeoutMs);
    // Until the station has closed the terminal (a step has seen it hung up).
    bool waitDisconnected(int timeoutMs);
    // Plays on an own thread until stop() (or destruction).
    void start();
    void stop();
    // Without a pty (the USB collector): bytes from the station go in here and
    // whole frames for the station come out of takeOutgoingFrame().
    void feed(const QByteArray& bytesFromStation);
    std::optional<QByteArray> takeOutgoingFrame();

    // ---- wire faults (apply to what the switch writes to the pty) ----
    // Writes are cut into pieces of 1..maxChunk bytes (0 = whole), at least
    // gapMs apart, so the station's reads see partial frames.
    void setSplit(int maxChunk, int gapMs = 3);
    // Before a frame, with this probability, 1..maxBytes bytes that can never
    // start a frame are written.
    void setNoise(double probability, int maxBytes = 3);

    // ---- replies ----
    void setDefaultReply(Reply r);           // for every frame of the station
    // The next `times` frames whose hex starts with `hexPrefix` (e.g. "940A",
    // "8509", "810309") get reply `r`, after `skip` such frames were answered
    // normally; times < 0 = from then on. Rules are tried in the order added.
    void addRule(const QString& hexPrefix, Reply r, int times = 1, int skip = 0);
    void clearRules();
    // The next table read as a stream ("810389", "A90300", ...) ends with
    // "810300" after `rows` rows, whatever the table holds.
    void endNextStreamAfter(int rows);
    void setAnswerProbe(bool on);
    // How long a Late reply is held back (default 4200 ms: just after the station's 4 s wait).
    void setLateReplyMs(int ms);
    // Every acknowledgement of an order (a refusal too), drawn for each from
    // the seed: written `lateMinMs`..`lateMaxMs` after its order came, and with
    // the probability `repeatShare` (1: every one, 0: never) once more
    // `repeatMinMs`..`repeatMaxMs` after that.
    // `fromAck` acknowledgements are written plainly first (the n-th of the
    // line is the first that may be late or repeated); lateMinMs < 0 ends it.
    void setAckTiming(int lateMinMs, int lateMaxMs, double repeatShare, int repeatMinMs, int repeatMaxMs,
                      int fromAck = 0);
    // A line of `baud` bits a second (ten bits a byte), both ways: what the
    // switch writes leaves no faster, and a frame of the station is taken when
    // its last byte would have come. 0 (the default): as fast as the terminal.
    void setBaud(int baud);
    // Acknowledgements written so far, repeats counted, and repeats alone.
    int acksWritten() const;
    int repeatsWritten() const;

    // ---- frames on demand (each gets its checksum appended) ----
    void send(const QByteArray& body);       // any frame
    void sendHex(const QString& hexBody) { send(fromHex(hexBody)); }
    void sendRaw(const QByteArray& bytes);   // exactly these bytes
    void announce();                         // "830300"
    void sendCallRecord(const CallRecord& r) { queueRecord(r.body()); }
    void sendDeposit(const DepositEvent& d) { queueRecord(d.body()); }
    // One at a time: the next goes out when the station answers "820302".
    // (send(record.body()) sends one at once, outside this queue.)
    void queueRecord(const QByteArray& body);
    void sendLiveCall(const LiveCall& c) { send(c.body()); }
    void sendCardState(int card, const std::vector<quint8>& ports) { send(cardStateBody(card, ports)); }
    void sendPortState(int channel, quint8 state, quint8 calling, quint8 called, quint8 third = 0) {
        send(portStateBody(channel, state, calling, called, third));
    }
    void sendBalanceQuery(int extAddr, const QString& account = {}, quint8 tag6 = 0) {
        send(balanceQueryBody(extAddr, account, tag6));
    }
    void resendRecordInFlight();
    int recordsWaiting() const;              // queued or in flight, not yet taken
    // Records the switch holds for the record upload "9607" (sent as "961D",
    // one per "820302", then a "9607" end frame).
    void setUploadRecords(const std::vector<QByteArray>& bodies);
    // With `on`, an uploaded record answered "820302" is forgotten, as a real
    // switch does: the next upload no longer has it.
    void setUploadForgetsAnswered(bool on);
    // With `on`, the first uploaded record goes in one write with the request's acknowledgement.
    void setUploadWithAck(bool on);
    std::vector<QByteArray> uploadRecords() const;

    // ---- the deposit answer lagging what the switch took ----
    // A change ("A507" kind 01/02) the switch takes shows in its answers to the
    // deposit question ("A503") of that extension only once `questions` of
    // them were answered since (with what it showed before) and
    // `minMs`..`maxMs` (drawn from the seed) after it came. row() and table()
    // give what the switch holds. questions 0 and maxMs 0: shown at once.
    void setDepositLag(int questions, int minMs = 0, int maxMs = 0);

    // ---- tables ----
    void setRow(const QString& table, int key, const QByteArray& body);
    std::optional<QByteArray> row(const QString& table, int key) const;
    Table table(const QString& name) const;
    void clearTables();

    // ---- what the station sent ----
    std::vector<Frame> received() const;
    std::vector<Frame> receivedWith(const QString& hexPrefix) const;
    size_t receivedCount() const;
    void clearReceived();
    // Waits for a frame with the prefix at index >= from of received(); calls
    // idle() between looks (e.g. the station's processEvents).
    std::optional<Frame> waitFor(const QString& hexPrefix, int timeoutMs,
                                 const std::function<void()>& idle = {}, size_t from = 0);
    // Waits until every byte the station wrote before the call has been read
    // and its frames taken into received(); false after timeoutMs.
    bool waitReadAll(int timeoutMs);
    // Waits until every reply held back (late, echoed or repeated answers) and
    // every piece of a reply has been written to the line; false after timeoutMs.
    bool waitWritten(int timeoutMs);
    // The station's answers to our records, in order: "820302" or "820303".
    std::vector<QString> recordAnswers() const;
    // Each frame the station sends, as it is parsed (on the switch's thread).
    void setObserver(std::function<void(const Frame&)> fn);

private:
    using Clock = std::chrono::steady_clock;
    struct Rule { QString prefix; Reply reply; int times; int skip; };
    struct Stream {                     // rows or records sent one per answer
        std::deque<QByteArray> left;
        QByteArray current;             // body in flight, empty when none
        QByteArray end;                 // sent after the last one (may be empty)
        QString advanceOn;              // the station's answer that takes `current`
        bool active() const { return !current.isEmpty() || !left.empty(); }
    };

    void step(int waitMs);
    void timersLocked();
    void handleLocked(const Frame& f);
    Reply replyFor(const Frame& f);
    void replyLocked(const Frame& f, const QByteArray& answerBody);   // per rules
    bool ackLocked(const Frame& f);     // true when the order counts as taken
    void emitLocked(const QByteArray& body, bool garble = false);
    void emitNow(const std::function<void()>& put);
    void emitRawLocked(const QByteArray& bytes);
    void startStreamLocked(Stream& s, std::deque<QByteArray> rows, const QByteArray& end,
                           const QString& advanceOn);
    void advanceStreamLocked(Stream& s);
    bool storeRowLocked(const Frame& f);
    void serveRequestLocked(const Frame& f);
    QByteArray blankRow(const QString& table, int key) const;
    bool isAcknowledgedLocked(const Frame& f) const;
    void writeDueLocked();
    void wake();

    SwitchOptions opt_;
    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::mt19937 rng_;

    int master_ = -1, wakeR_ = -1, wakeW_ = -1;
    QString slavePath_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    bool ptyMode_ = false;
    bool connected_ = false;

    FrameParser parser_;
    std::deque<QByteArray> outChunks_;        // bytes due on the pty
    std::deque<QByteArray> outFrames_;        // frames due to the collector
    Clock::time_point lastChunk_{};
    int splitMax_ = 0, splitGapMs_ = 3;
    double noiseP_ = 0.0;
    int noiseMax_ = 3;

    Reply default_ = Reply::Normal;
    Reply lastReply_ = Reply::Normal;
    int lateMs_ = 4200;
    // setAckTiming
    int echoLateMinMs_ = -1, echoLateMaxMs_ = -1, echoMinMs_ = 0, echoMaxMs_ = 0;
    double echoShare_ = 0.0;
    int echoFrom_ = 0;
    int acksWritten_ = 0, repeatsWritten_ = 0;
    // setBaud: the time one byte takes on the line, 0 unpaced; when the next
    // byte may leave; what the station sent, held until it would have come.
    std::chrono::microseconds byteTime_{0};
    Clock::time_point outFree_{};
    Clock::time_point inFree_{};
    std::deque<std::pair<Clock::time_point, QByteArray>> inbound_;
    void takeInboundLocked(const QByteArray& bytes);
    void parseDueLocked(std::vector<Frame>& seen);
    void dueLocked(Clock::time_point at, const QByteArray& body);
    std::deque<std::pair<Clock::time_point, QByteArray>> late_;   // Late replies, due in order
    std::vector<Rule> rules_;
    int streamCut_ = -1;

    Stream records_;      // unsolicited call records and deposit events
    Stream table_;        // a table being read back, or an upload of records
    std::vector<QByteArray> uploadRecords_;
    bool uploadForgets_ = false;
    bool uploadWithAck_ = false;
    std::optional<Clock::time_point> uploadAt_;
    QString openTable_;   // the table opened by "8103"+code
    int openOrdinal_ = 0;
    std::map<QString, Table> tables_;
    // setDepositLag: what each extension's deposit answer shows meanwhile, and
    // the rows the changes left, each shown once its questions and time are past.
    struct LaggedRow { QByteArray row; int questions; Clock::time_point due; };
    int lagQuestions_ = 0, lagMinMs_ = 0, lagMaxMs_ = 0;
    std::map<int, QByteArray> shownDeposit_;
    std::map<int, std::deque<LaggedRow>> laggedDeposit_;
    std::optional<QByteArray> shownDepositLocked(int addr);

    quint64 steps_ = 0;   // steps done, for the waits on the line
    bool waitSteps(const std::function<bool()>& doneLocked, int timeoutMs);

    std::vector<Frame> received_;
    std::vector<QString> recordAnswers_;
    std::function<void(const Frame&)> observer_;
};

}  // namespace sim
