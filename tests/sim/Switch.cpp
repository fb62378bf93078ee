#include "sim/Switch.h"

#include <algorithm>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

const QByteArray kAck = fromHex("820300");
const QByteArray kStatus01 = fromHex("820301");
const QByteArray kStatus03 = fromHex("820303");
const QByteArray kTableEnd = fromHex("810300");

// Orders a healthy switch acknowledges: the ones the station waits for.
const char* const kAcknowledged[] = {
    "8003", "8103", "8509", "9207", "950810", "9607", "8D12", "A80E", "A60E",
    "860B", "8705", "8916", "8B16", "8C08", "8F17", "8F12", "9008", "940A",
    "A70A", "A910", "A90C", "A507", "9E13",
};

bool isDepositEvent(const QByteArray& body) {
    return body.size() == 29 && (quint8(body[28]) == 0x0A || quint8(body[28]) == 0x1A);
}

int word(const Frame& f, int i) { return f.at(i) * 256 + f.at(i + 1); }

// The tables kept row by row: each one's empty row (its first four digits
// the row's code and length), and how many bytes of its key stand from byte 2.
const std::map<QString, std::pair<const char*, int>>& keptRows() {
    static const std::map<QString, std::pair<const char*, int>> blanks = {
        {tables::Extension, {"8B160000000000FFFFFF0000000000FFFFFFFFFFFFFF", 1}},
        {tables::Relay, {"89160000000000FF000000FFFFFFFFFFFFFFFFFFFFFF", 1}},
        {tables::Account, {"8C080000FFFF0000", 2}},
        {tables::ExtraHead, {"940A0000FFFFFFFFFFFF", 2}},
        {tables::Shrink, {"A70A00FFFFFFFFFFFFFF", 1}},
        {tables::AddHead, {"90080000FFFFFFFF", 2}},
        {tables::ExtDeposit, {"A5070000000000", 1}},
        {tables::BoardLayout, {"9E1300FFFFFFFFFFFFFFFFFFFFFF0000000000", 0}},
        {tables::Limits, {"8D12FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", 0}},
        {tables::SelCmd, {"A80EFFFFFFFFFFFFFFFFFFFFFFFF", 0}},
        {tables::IPPuhPara, {"A60E000000000000000000000000", 0}},
    };
    return blanks;
}

}  // namespace

Switch::Switch(SwitchOptions opt) : opt_(std::move(opt)), rng_(opt_.seed) {}

Switch::~Switch() {
    stop();
    for (int fd : {master_, wakeR_, wakeW_})
        if (fd >= 0) ::close(fd);
}

// ---- transport ---------------------------------------------------------------

bool Switch::openPty() {
    std::lock_guard lk(mu_);
    if (master_ >= 0) return true;
    int m = -1, s = -1;
    char name[256] = {0};
    if (::openpty(&m, &s, name, nullptr, nullptr) != 0) return false;
    termios t{};
    if (::tcgetattr(s, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(s, TCSANOW, &t);
    }
    ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK);
    ::fcntl(m, F_SETFD, FD_CLOEXEC);
    ::fcntl(s, F_SETFD, FD_CLOEXEC);
    int p[2];
    if (::pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0) {
        ::close(m);
        ::close(s);
        return false;
    }
    master_ = m;
    // Only the station holds the slave open, so the master sees when the line
    // is closed (the station stopped, or reopens its port).
    ::close(s);
    wakeR_ = p[0];
    wakeW_ = p[1];
    slavePath_ = QString::fromLocal8Bit(name);
    ptyMode_ = true;
    return true;
}

void Switch::start() {
    if (running_.exchange(true)) return;
    thread_ = std::thread([this] {
        while (running_) step(5);
    });
}

void Switch::stop() {
    if (!running_.exchange(false)) return;
    wake();
    if (thread_.joinable()) thread_.join();
}

void Switch::wake() {
    if (wakeW_ >= 0) {
        const char c = 1;
        [[maybe_unused]] auto n = ::write(wakeW_, &c, 1);
    }
}

bool Switch::waitConnected(int timeoutMs) {
    return waitSteps([this] { return connected_; }, timeoutMs);
}

bool Switch::waitDisconnected(int timeoutMs) {
    return waitSteps([this] { return !connected_; }, timeoutMs);
}

void Switch::step(int waitMs) {
    if (master_ < 0) return;
    int timeout = waitMs;
    {
        std::lock_guard lk(mu_);
        if (!outChunks_.empty()) timeout = qMin(timeout, byteTime_.count() > 0 ? 1 : qMax(1, splitGapMs_));
        if (records_.active() || table_.active() || uploadAt_ || !late_.empty()) timeout = qMin(timeout, 5);
        const auto until = [&](Clock::time_point at) {
            const auto due = std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now());
            timeout = qMin(timeout, int(qMax<qint64>(1, due.count())));
        };
        if (!late_.empty()) until(late_.front().first);
        if (!inbound_.empty()) until(inbound_.front().first);
    }
    pollfd fds[2] = {{master_, POLLIN, 0}, {wakeR_, POLLIN, 0}};
    ::poll(fds, 2, qMax(0, timeout));
    const bool hangup = (fds[0].revents & POLLHUP) && !(fds[0].revents & POLLIN);
    if (hangup && !(fds[1].revents & POLLIN))    // a closed line polls at once: do not spin
        std::this_thread::sleep_for(std::chrono::milliseconds(qBound(0, timeout, 5)));
    QByteArray in;
    if (fds[0].revents & POLLIN) {
        char buf[4096];
        for (ssize_t n; (n = ::read(master_, buf, sizeof buf)) > 0;) in.append(buf, int(n));
    }
    if (fds[1].revents & POLLIN) {
        char buf[64];
        while (::read(wakeR_, buf, sizeof buf) > 0) {}
    }
    std::vector<Frame> seen;
    std::function<void(const Frame&)> observer;
    {
        std::lock_guard lk(mu_);
        connected_ = !hangup;
        takeInboundLocked(in);
        parseDueLocked(seen);
        timersLocked();
        writeDueLocked();
        observer = observer_;
        ++steps_;
        cv_.notify_all();
    }
    if (observer)
        for (const Frame& f : seen) observer(f);
}

// What the station wrote: on a paced line each piece is taken when its last
// byte would have come, one byte time after the byte before it.
void Switch::takeInboundLocked(const QByteArray& bytes) {
    if (bytes.isEmpty()) return;
    if (byteTime_.count() <= 0 && inbound_.empty()) {
        parser_.feed(bytes);
        return;
    }
    const auto now = Clock::now();
    const auto start = qMax(now, inFree_);
    inFree_ = start + byteTime_ * bytes.size();
    inbound_.push_back({inFree_, bytes});
}

void Switch::parseDueLocked(std::vector<Frame>& seen) {
    const auto now = Clock::now();
    while (!inbound_.empty() && inbound_.front().first <= now) {
        parser_.feed(inbound_.front().second);
        inbound_.pop_front();
    }
    while (auto f = parser_.next()) {
        handleLocked(*f);
        seen.push_back(*f);
    }
}

void Switch::setBaud(int baud) {
    std::lock_guard lk(mu_);
    // Ten bits a byte: a start bit, eight data bits, a stop bit.
    byteTime_ = baud > 0 ? std::chrono::microseconds(10'000'000 / baud) : std::chrono::microseconds(0);
}

int Switch::acksWritten() const { std::lock_guard lk(mu_); return acksWritten_; }

int Switch::repeatsWritten() const { std::lock_guard lk(mu_); return repeatsWritten_; }

// Time-driven work: held-back replies and an upload that are due.
void Switch::timersLocked() {
    const auto now = Clock::now();
    while (!late_.empty() && now >= late_.front().first) {
        emitLocked(late_.front().second);
        late_.pop_front();
    }
    if (uploadAt_ && now >= *uploadAt_) {
        uploadAt_.reset();
        std::deque<QByteArray> rows(uploadRecords_.begin(), uploadRecords_.end());
        startStreamLocked(table_, std::move(rows), fromHex("96070000000000"), QStringLiteral("820302"));
    }
}

void Switch::feed(const QByteArray& bytes) {
    std::vector<Frame> seen;
    std::function<void(const Frame&)> observer;
    {
        std::lock_guard lk(mu_);
        parser_.feed(bytes);
        parseDueLocked(seen);
        timersLocked();
        observer = observer_;
    }
    if (observer)
        for (const Frame& f : seen) observer(f);
}

std::optional<QByteArray> Switch::takeOutgoingFrame() {
    std::lock_guard lk(mu_);
    timersLocked();
    if (outFrames_.empty()) return std::nullopt;
    QByteArray f = outFrames_.front();
    outFrames_.pop_front();
    return f;
}

void Switch::writeDueLocked() {
    if (master_ < 0) return;
    if (!connected_) {
        if (opt_.dropWhileClosed) outChunks_.clear();
        return;
    }
    const auto now = Clock::now();
    while (!outChunks_.empty()) {
        if (splitMax_ > 0 && now - lastChunk_ < std::chrono::milliseconds(splitGapMs_)) return;
        QByteArray& chunk = outChunks_.front();
        qint64 size = chunk.size();
        if (byteTime_.count() > 0) {
            // A paced line: only the bytes whose time has come leave, those a
            // late step owes at once.
            if (now < outFree_) return;
            size = qMin<qint64>(size, (now - outFree_) / byteTime_ + 1);
        }
        const ssize_t n = ::write(master_, chunk.constData(), size_t(size));
        if (n > 0 && byteTime_.count() > 0) outFree_ += byteTime_ * n;
        if (n < 0) return;                          // full: try again next step
        if (n < chunk.size()) {
            chunk.remove(0, int(n));
            return;
        }
        outChunks_.pop_front();
        lastChunk_ = now;
        if (splitMax_ > 0) return;                  // one piece per gap
    }
}

// ---- wire faults -------------------------------------------------------------

void Switch::setSplit(int maxChunk, int gapMs) {
    std::lock_guard lk(mu_);
    splitMax_ = qMax(0, maxChunk);
    splitGapMs_ = qMax(0, gapMs);
}

void Switch::setNoise(double probability, int maxBytes) {
    std::lock_guard lk(mu_);
    noiseP_ = probability;
    noiseMax_ = qMax(1, maxBytes);
}

void Switch::emitRawLocked(const QByteArray& bytes) {
    if (!ptyMode_) {
        outFrames_.push_back(bytes);
        return;
    }
    // A paced line that was idle starts its next byte now.
    if (byteTime_.count() > 0 && outChunks_.empty()) outFree_ = qMax(outFree_, Clock::now());
    if (splitMax_ <= 0) {
        outChunks_.push_back(bytes);
        return;
    }
    std::uniform_int_distribution<int> size(1, splitMax_);
    for (int at = 0; at < bytes.size();) {
        const int n = qMin(size(rng_), int(bytes.size()) - at);
        outChunks_.push_back(bytes.mid(at, n));
        at += n;
    }
}

void Switch::emitLocked(const QByteArray& body, bool garble) {
    QByteArray wire = withSum(body);
    if (garble) wire[wire.size() - 1] = char(quint8(wire[wire.size() - 1]) + 1);
    if (ptyMode_ && noiseP_ > 0) {
        std::uniform_real_distribution<double> p(0.0, 1.0);
        if (p(rng_) < noiseP_) {
            // Noise is drawn from bytes that no frame begins with, so it can
            // never swallow the frame that follows it.
            std::uniform_int_distribution<int> count(1, noiseMax_);
            std::uniform_int_distribution<int> pick(0, 0x7E + (0xFF - 0xAA + 1));
            QByteArray noise;
            for (int i = count(rng_); i > 0; --i) {
                const int v = pick(rng_);
                noise.append(char(v <= 0x7E ? v : 0xAA + (v - 0x7F)));
            }
            wire.prepend(noise);
        }
    }
    emitRawLocked(wire);
}

// ---- replies -----------------------------------------------------------------

void Switch::setDefaultReply(Reply r) { std::lock_guard lk(mu_); default_ = r; }

void Switch::addRule(const QString& hexPrefix, Reply r, int times, int skip) {
    std::lock_guard lk(mu_);
    rules_.push_back({hexPrefix.toUpper().remove(QLatin1Char(' ')), r, times, skip});
}

void Switch::clearRules() { std::lock_guard lk(mu_); rules_.clear(); }

void Switch::endNextStreamAfter(int rows) { std::lock_guard lk(mu_); streamCut_ = rows; }

void Switch::setAckTiming(int lateMinMs, int lateMaxMs, double repeatShare, int repeatMinMs, int repeatMaxMs,
                          int fromAck) {
    std::lock_guard lk(mu_);
    echoLateMinMs_ = lateMinMs;
    echoLateMaxMs_ = qMax(lateMinMs, lateMaxMs);
    echoShare_ = repeatShare;
    echoMinMs_ = qMax(0, repeatMinMs);
    echoMaxMs_ = qMax(echoMinMs_, repeatMaxMs);
    echoFrom_ = acksWritten_ + qMax(0, fromAck);
}

// Held-back replies go out in the order they fall due.
void Switch::dueLocked(Clock::time_point at, const QByteArray& body) {
    auto it = late_.end();
    while (it != late_.begin() && std::prev(it)->first > at) --it;
    late_.insert(it, {at, body});
}

void Switch::setUploadWithAck(bool on) { std::lock_guard lk(mu_); uploadWithAck_ = on; }

void Switch::setLateReplyMs(int ms) { std::lock_guard lk(mu_); lateMs_ = qMax(0, ms); }

void Switch::setAnswerProbe(bool on) { std::lock_guard lk(mu_); opt_.answerProbe = on; }

bool Switch::isAcknowledgedLocked(const Frame& f) const {
    for (const char* p : kAcknowledged)
        if (f.startsWith(QString::fromLatin1(p))) return true;
    return false;
}

Reply Switch::replyFor(const Frame& f) {
    for (Rule& r : rules_) {
        if (!f.startsWith(r.prefix)) continue;
        if (r.skip > 0) {
            --r.skip;
            return Reply::Normal;
        }
        if (r.times == 0) continue;
        if (r.times > 0) --r.times;
        return r.reply;
    }
    return default_;
}

void Switch::replyLocked(const Frame& f, const QByteArray& answerBody) {
    lastReply_ = replyFor(f);
    const bool isAck = answerBody == kAck;
    if (echoLateMinMs_ >= 0 && isAck && acksWritten_ >= echoFrom_) {
        const QByteArray body = lastReply_ == Reply::Status01 ? kStatus01
                                : lastReply_ == Reply::Status03 || lastReply_ == Reply::LateRefusal ? kStatus03
                                : lastReply_ == Reply::Normal   ? kAck
                                                                : QByteArray();
        if (!body.isEmpty()) {
            std::uniform_int_distribution<int> late(echoLateMinMs_, echoLateMaxMs_);
            std::uniform_int_distribution<int> gap(echoMinMs_, echoMaxMs_);
            std::uniform_real_distribution<double> share(0.0, 1.0);
            // Drawn in one order whatever is drawn, so the seed alone decides.
            const int lateMs = late(rng_), gapMs = gap(rng_);
            const bool again = share(rng_) < echoShare_;
            const auto first =
                Clock::now() + std::chrono::milliseconds(lastReply_ == Reply::LateRefusal ? lateMs_ : lateMs);
            dueLocked(first, body);
            ++acksWritten_;
            if (again) {
                dueLocked(first + std::chrono::milliseconds(gapMs), body);
                ++acksWritten_;
                ++repeatsWritten_;
            }
            return;
        }
    }
    const bool twice = lastReply_ == Reply::Doubled || lastReply_ == Reply::Echoed;
    if (isAck && lastReply_ != Reply::Silent && lastReply_ != Reply::LostAck && lastReply_ != Reply::Short)
        acksWritten_ += twice ? 2 : 1;
    if (isAck && twice) ++repeatsWritten_;
    switch (lastReply_) {
    case Reply::Normal: emitLocked(answerBody); break;
    case Reply::Silent:
    case Reply::LostAck: break;
    case Reply::Doubled: {
        // One write: the station finds both in the same read.
        const QByteArray wire = withSum(answerBody);
        emitRawLocked(wire + wire);
        break;
    }
    case Reply::Late: dueLocked(Clock::now() + std::chrono::milliseconds(lateMs_), answerBody); break;
    case Reply::Echoed:
        emitLocked(answerBody);
        dueLocked(Clock::now() + std::chrono::milliseconds(lateMs_), answerBody);
        break;
    case Reply::LateRefusal:
        if (isAck) dueLocked(Clock::now() + std::chrono::milliseconds(lateMs_), kStatus03);
        break;
    case Reply::Status01: emitLocked(kStatus01); break;
    case Reply::Status03: emitLocked(kStatus03); break;
    case Reply::BadSum: emitLocked(answerBody, true); break;
    case Reply::Short: {
        QByteArray shorter = answerBody.left(answerBody.size() - 1);
        if (shorter.size() > 1) shorter[1] = char(shorter.size());
        emitLocked(shorter);
        break;
    }
    }
}

bool Switch::ackLocked(const Frame& f) {
    replyLocked(f, kAck);
    // A garbled or lost acknowledgement still means the switch took the order.
    return lastReply_ == Reply::Normal || lastReply_ == Reply::BadSum || lastReply_ == Reply::LostAck ||
           lastReply_ == Reply::Doubled || lastReply_ == Reply::Late || lastReply_ == Reply::Echoed;
}

// ---- what the station sends ----------------------------------------------------

void Switch::handleLocked(const Frame& f) {
    received_.push_back(f);
    cv_.notify_all();

    const QString c = f.code();
    if (!f.sumOk) {
        // The switch reports a damaged order; damaged answers are dropped.
        if (!c.startsWith("8203")) replyLocked(f, kStatus01);
        return;
    }
    if (c.startsWith("8203")) {
        // A record is taken ("820302") or refused ("820303"); an uploaded one
        // too; a table's row is asked on by its own answer.
        const bool taken = c == "820302" || c == "820303";
        Stream* s = nullptr;
        if (!records_.current.isEmpty() && taken) s = &records_;
        else if (!table_.current.isEmpty() && (table_.advanceOn == c || (table_.advanceOn == "820302" && taken)))
            s = &table_;
        if (!s) return;
        if (s == &records_) recordAnswers_.push_back(c);
        if (c == "820303") {
            emitLocked(s->current);
            return;
        }
        // The station waits for our acknowledgement of a deposit event's "820302".
        if (s == &records_ && c == "820302" && isDepositEvent(s->current)) replyLocked(f, kAck);
        // An uploaded record the station took is gone from the switch.
        if (s == &table_ && c == "820302" && table_.advanceOn == "820302" && uploadForgets_) {
            auto it = std::find(uploadRecords_.begin(), uploadRecords_.end(), s->current);
            if (it != uploadRecords_.end()) uploadRecords_.erase(it);
        }
        advanceStreamLocked(*s);
        return;
    }
    if (c == "830300") {
        if (opt_.answerProbe) replyLocked(f, probeAnswerBody());
        return;
    }
    const quint8 code = f.at(0);
    // A streamed table's read, or a question of four or three bytes.
    const bool isRequest = (code == 0x81 && (f.at(2) & 0x80)) ||
                           (f.size() == 4 && QByteArray("\x88\x93\x91\x8E").contains(char(code))) ||
                           (f.size() == 3 && QByteArray("\xA7\xA5\xA9\x8D\xA8\xA6").contains(char(code)));
    if (isRequest) {
        serveRequestLocked(f);
        return;
    }
    if (code == 0x96 && f.size() == 7 && f.at(6) != 0) {   // closing order of a record upload
        table_ = Stream{};
        uploadAt_.reset();
        return;
    }
    if (!isAcknowledgedLocked(f)) return;
    if (!ackLocked(f)) return;
    if (c.startsWith("8103")) {
        const quint8 t = f.at(2);
        openTable_.clear();
        openOrdinal_ = 0;
        if (t == 0x09) openTable_ = tables::LanHead;
        else if (t == 0x01) openTable_ = tables::CityHead;
        else if (t == 0x03) openTable_ = tables::PabxFeeRate;
        else if (t == 0x10) openTable_ = tables::SpringNum;
        else if (t != 0x00) openTable_ = QStringLiteral("Table%1").arg(t, 2, 16, QLatin1Char('0')).toUpper();
        if (!openTable_.isEmpty()) tables_[openTable_].clear();
        return;
    }
    if (code == 0x96 && f.size() == 7) {                      // record upload request
        if (uploadWithAck_) {
            const size_t before = outChunks_.size();
            std::deque<QByteArray> rows(uploadRecords_.begin(), uploadRecords_.end());
            startStreamLocked(table_, std::move(rows), fromHex("96070000000000"), QStringLiteral("820302"));
            // The acknowledgement and the first record leave in one write.
            if (ptyMode_ && splitMax_ <= 0 && before > 0 && outChunks_.size() == before + 1) {
                outChunks_[before - 1] += outChunks_[before];
                outChunks_.pop_back();
            }
            return;
        }
        // The station sets up its wait for the first record only after the
        // acknowledgement and a few more orders: the switch takes its time too.
        uploadAt_ = Clock::now() + std::chrono::milliseconds(opt_.uploadStartDelayMs);
        return;
    }
    storeRowLocked(f);
}

bool Switch::storeRowLocked(const Frame& f) {
    const QString c = f.code();
    auto appendOpen = [&](const QString& fallback) {
        const QString name = openTable_.isEmpty() ? fallback : openTable_;
        if (name.isEmpty()) return false;
        Table& t = tables_[name];
        const int key = openTable_.isEmpty() ? int(t.size()) : openOrdinal_++;
        t[key] = f.body;
        return true;
    };
    if (c == "860B") return appendOpen({});
    if (c == "8F17" || c == "8F12") return appendOpen(tables::PabxFeeRate);
    if (c == "8705") return appendOpen(tables::SpringNum);
    if (c == "A910" || c == "A90C") { tables_[tables::PabxTimes][f.at(2)] = f.body; return true; }
    if (c == "A507") {
        // The station sends a change (01 add, 02 take off); the switch keeps
        // the deposit itself and reports it as kind 00 with its flags.
        Table& t = tables_[tables::ExtDeposit];
        const int addr = f.at(2);
        QByteArray row = t.count(addr) ? t[addr] : blankRow(tables::ExtDeposit, addr);
        qint64 real = (qint64(quint8(row[4]) & 0x0F) << 16) | (quint8(row[5]) << 8) | quint8(row[6]);
        const qint64 change = (qint64(f.at(4)) << 16) | (f.at(5) << 8) | f.at(6);
        real = f.at(3) == 0x02 ? qMax<qint64>(0, real - change) : qMin<qint64>(0xFFFFF, real + change);
        const QByteArray shown = t.count(addr) ? t[addr] : blankRow(tables::ExtDeposit, addr);
        row[3] = char(0);
        row[4] = char((quint8(row[4]) & 0xC0) | ((real >> 16) & 0x0F));
        row[5] = char((real >> 8) & 0xFF);
        row[6] = char(real & 0xFF);
        t[addr] = row;
        if (lagQuestions_ > 0 || lagMaxMs_ > 0) {
            std::uniform_int_distribution<int> lag(lagMinMs_, lagMaxMs_);
            if (!shownDeposit_.count(addr)) shownDeposit_[addr] = shown;
            laggedDeposit_[addr].push_back({row, lagQuestions_, Clock::now() + std::chrono::milliseconds(lag(rng_))});
        }
        return true;
    }
    for (const auto& [name, blank] : keptRows())
        if (c == QLatin1String(blank.first, 4)) {
            tables_[name][blank.second == 2 ? word(f, 2) : blank.second ? f.at(2) : 0] = f.body;
            return true;
        }
    return false;
}

QByteArray Switch::blankRow(const QString& table, int key) const {
    const auto it = keptRows().find(table);
    if (it == keptRows().end()) return {};
    const auto& [hex, keyBytes] = it->second;
    QByteArray b = fromHex(QString::fromLatin1(hex));
    if (keyBytes == 2) b[2] = char(key >> 8);
    if (keyBytes > 0) b[1 + keyBytes] = char(key & 0xFF);
    return b;
}

void Switch::serveRequestLocked(const Frame& f) {
    const quint8 code = f.at(0);
    auto stream = [&](const QString& name) {
        std::deque<QByteArray> rows;
        for (const auto& [key, body] : tables_[name]) rows.push_back(body);
        if (streamCut_ >= 0) {
            if (rows.size() > size_t(streamCut_)) rows.resize(size_t(streamCut_));
            streamCut_ = -1;
        }
        const Reply r = replyFor(f);
        if (r == Reply::Silent) return;
        if (r == Reply::Status01 || r == Reply::Status03) {
            emitLocked(r == Reply::Status01 ? kStatus01 : kStatus03);
            return;
        }
        startStreamLocked(table_, std::move(rows), kTableEnd, QStringLiteral("820300"));
    };
    if (code == 0x81) {
        switch (f.at(2)) {
        case 0x89: return stream(tables::LanHead);
        case 0x81: return stream(tables::CityHead);
        case 0x83: return stream(tables::PabxFeeRate);
        case 0x82: return stream(tables::SpringNum);
        default: return;
        }
    }
    if (code == 0xA9) return stream(tables::PabxTimes);

    QString name;
    int key = 0;
    switch (code) {
    case 0x88:
        if (f.at(2) == 0x08 || f.at(2) == 0x09) { name = tables::Account; key = word(f, 2); }
        else if (f.at(3) >= 0xE0) { name = tables::Relay; key = f.at(3); }
        else { name = tables::Extension; key = f.at(3); }
        break;
    case 0x93: name = tables::ExtraHead; key = word(f, 2); break;
    case 0x91: name = tables::AddHead; key = word(f, 2); break;
    case 0xA7: name = tables::Shrink; key = f.at(2); break;
    case 0xA5: name = tables::ExtDeposit; key = f.at(2); break;
    case 0x8E: name = tables::BoardLayout; break;
    case 0x8D: name = tables::Limits; break;
    case 0xA8: name = tables::SelCmd; break;
    case 0xA6: name = tables::IPPuhPara; break;
    default: return;
    }
    if (name == tables::ExtDeposit) {
        if (const std::optional<QByteArray> shown = shownDepositLocked(key)) {
            replyLocked(f, *shown);
            return;
        }
    }
    const Table& t = tables_[name];
    auto it = t.find(key);
    if (it != t.end()) replyLocked(f, it->second);
    else replyLocked(f, blankRow(name, key));
}

void Switch::setDepositLag(int questions, int minMs, int maxMs) {
    std::lock_guard lk(mu_);
    lagQuestions_ = qMax(0, questions);
    lagMinMs_ = qMax(0, minMs);
    lagMaxMs_ = qMax(lagMinMs_, maxMs);
}

// What the answer to this question of the extension shows: the rows whose
// questions and time are past are shown, and the others count this question.
std::optional<QByteArray> Switch::shownDepositLocked(int addr) {
    auto lagged = laggedDeposit_.find(addr);
    if (lagged == laggedDeposit_.end()) return std::nullopt;
    std::deque<LaggedRow>& q = lagged->second;
    while (!q.empty() && q.front().questions <= 0 && Clock::now() >= q.front().due) {
        shownDeposit_[addr] = q.front().row;
        q.pop_front();
    }
    const QByteArray shown = shownDeposit_[addr];
    if (q.empty()) {
        laggedDeposit_.erase(lagged);
        shownDeposit_.erase(addr);
    }
    for (LaggedRow& r : q) --r.questions;
    return shown;
}

// ---- streams -------------------------------------------------------------------

void Switch::startStreamLocked(Stream& s, std::deque<QByteArray> rows, const QByteArray& end,
                               const QString& advanceOn) {
    s = Stream{};
    s.left = std::move(rows);
    s.end = end;
    s.advanceOn = advanceOn;
    advanceStreamLocked(s);
}

void Switch::advanceStreamLocked(Stream& s) {
    s.current.clear();
    if (!s.left.empty()) {
        s.current = s.left.front();
        s.left.pop_front();
        emitLocked(s.current);
        return;
    }
    if (!s.end.isEmpty()) {
        emitLocked(s.end);
        s.end.clear();
    }
}

// ---- frames on demand -------------------------------------------------------------

// What `put` puts out goes on the line at once.
void Switch::emitNow(const std::function<void()>& put) {
    {
        std::lock_guard lk(mu_);
        put();
        writeDueLocked();
    }
    wake();
}

void Switch::send(const QByteArray& body) { emitNow([&] { emitLocked(body); }); }
void Switch::sendRaw(const QByteArray& bytes) { emitNow([&] { emitRawLocked(bytes); }); }

void Switch::announce() { send(fromHex("830300")); }

void Switch::queueRecord(const QByteArray& body) {
    emitNow([&] {
        records_.left.push_back(body);
        if (records_.current.isEmpty()) advanceStreamLocked(records_);
    });
}


void Switch::resendRecordInFlight() {
    emitNow([&] {
        if (!records_.current.isEmpty()) emitLocked(records_.current);
    });
}

int Switch::recordsWaiting() const {
    std::lock_guard lk(mu_);
    return int(records_.left.size()) + (records_.current.isEmpty() ? 0 : 1);
}

void Switch::setUploadRecords(const std::vector<QByteArray>& bodies) {
    std::lock_guard lk(mu_);
    uploadRecords_ = bodies;
}

void Switch::setUploadForgetsAnswered(bool on) { std::lock_guard lk(mu_); uploadForgets_ = on; }

std::vector<QByteArray> Switch::uploadRecords() const { std::lock_guard lk(mu_); return uploadRecords_; }

// ---- tables -------------------------------------------------------------------------

void Switch::setRow(const QString& table, int key, const QByteArray& body) {
    std::lock_guard lk(mu_);
    tables_[table][key] = body;
    // A deposit set by hand is what the answers show from now on.
    if (table == tables::ExtDeposit) {
        laggedDeposit_.erase(key);
        shownDeposit_.erase(key);
    }
}

std::optional<QByteArray> Switch::row(const QString& name, int key) const {
    const Table t = table(name);
    const auto r = t.find(key);
    return r == t.end() ? std::nullopt : std::optional(r->second);
}

Table Switch::table(const QString& name) const {
    std::lock_guard lk(mu_);
    auto t = tables_.find(name);
    return t == tables_.end() ? Table{} : t->second;
}

void Switch::clearTables() {
    std::lock_guard lk(mu_);
    tables_.clear();
    laggedDeposit_.clear();
    shownDeposit_.clear();
}

// ---- what the station sent ------------------------------------------------------------

std::vector<Frame> Switch::received() const { std::lock_guard lk(mu_); return received_; }

std::vector<Frame> Switch::receivedWith(const QString& hexPrefix) const {
    std::lock_guard lk(mu_);
    std::vector<Frame> out;
    for (const Frame& f : received_)
        if (f.startsWith(hexPrefix)) out.push_back(f);
    return out;
}

size_t Switch::receivedCount() const { std::lock_guard lk(mu_); return received_.size(); }

void Switch::clearReceived() {
    std::lock_guard lk(mu_);
    received_.clear();
    recordAnswers_.clear();
}

std::optional<Frame> Switch::waitFor(const QString& hexPrefix, int timeoutMs,
                                     const std::function<void()>& idle, size_t from) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::unique_lock lk(mu_);
            for (size_t i = from; i < received_.size(); ++i)
                if (received_[i].startsWith(hexPrefix)) return received_[i];
            if (Clock::now() >= deadline) return std::nullopt;
            if (!idle && running_) {
                cv_.wait_until(lk, qMin(deadline, Clock::now() + std::chrono::milliseconds(20)));
                continue;
            }
        }
        if (idle) idle();
        if (!idle && master_ >= 0) step(2);   // nobody else drives the pty: drive it ourselves
        else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Waits until `doneLocked` holds after a whole step begun once it held,
// driving the pty itself when no thread does.
bool Switch::waitSteps(const std::function<bool()>& doneLocked, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::optional<quint64> after;
    for (;;) {
        {
            std::unique_lock lk(mu_);
            if (!doneLocked()) after.reset();
            else if (!after) after = steps_;   // the step under way may have begun before it held
            else if (steps_ > *after) return true;
            if (Clock::now() >= deadline) return false;
            if (running_) {
                cv_.wait_until(lk, qMin(deadline, Clock::now() + std::chrono::milliseconds(5)));
                continue;
            }
        }
        step(1);
    }
}

bool Switch::waitReadAll(int timeoutMs) {
    if (master_ < 0) return true;
    return waitSteps([this] {
        int unread = 0;
        return ::ioctl(master_, FIONREAD, &unread) == 0 && unread == 0 && inbound_.empty();
    }, timeoutMs);
}

bool Switch::waitWritten(int timeoutMs) {
    return waitSteps([this] { return late_.empty() && outChunks_.empty(); }, timeoutMs);
}

std::vector<QString> Switch::recordAnswers() const { std::lock_guard lk(mu_); return recordAnswers_; }

void Switch::setObserver(std::function<void(const Frame&)> fn) { std::lock_guard lk(mu_); observer_ = std::move(fn); }

}  // namespace sim
