#include "sim/UsbCollectorSim.h"

namespace sim {

UsbCollectorSim::UsbCollectorSim(SwitchOptions opt) : sw_(std::move(opt)) {}

QByteArray UsbCollectorSim::pointer(int address) {
    const int block = address / 16;
    return QByteArray() + char((block >> 8) & 0xFF) + char(block & 0xFF) + char(address % 16);
}

bool UsbCollectorSim::WritePort2(const QByteArray& input) {
    QByteArray report = input.left(64);
    report.append(QByteArray(64 - report.size(), char(0)));
    std::unique_lock lk(mu_);
    if (failWrites_ > 0) {
        --failWrites_;
        return false;
    }
    if (report.startsWith(QByteArray(4, char(0xFF)))) return true;   // the poll before a read
    const quint8 code = quint8(report[0]);
    const int len = quint8(report[1]);
    if (code == 0x7F) {
        collectorOrderLocked(report);
        return true;
    }
    const QByteArray frame = report.left(qMin(64, len + 1));
    // The station's answers to the records of a store read are the collector's.
    if (reading_ && !inFlight_.isEmpty() && len == 3 && code == 0x82
        && (quint8(report[2]) == 0x02 || quint8(report[2]) == 0x03)
        && quint8(report[3]) == checksum(report.left(3))) {
        if (quint8(report[2]) == 0x02) {
            if (inFlightAddr_ >= p2_) p2_ = inFlightAddr_ + 1;
            inFlight_.clear();
            sendNextRecordLocked();
        } else {
            own_.push_back(withSum(inFlight_));
        }
        return true;
    }
    lk.unlock();
    sw_.feed(frame);
    return true;
}

void UsbCollectorSim::collectorOrderLocked(const QByteArray& r) {
    const int len = quint8(r[1]);
    Frame f;
    if (len < 3 || len > 63) {           // no frame fits: keep it as seen, answer nothing
        f.body = r;
        f.sumOk = false;
        orders_.push_back(f);
        return;
    }
    f.body = r.left(len);
    f.sum = quint8(r[len]);
    f.sumOk = checksum(f.body) == f.sum;
    const quint8 op = quint8(r[2]);
    // The erase order is sent one byte short: 7F 06 00 00 00 and its sum.
    if (!f.sumOk && op == 0x00 && quint8(r[5]) == checksum(r.left(5))) {
        f.body = r.left(5);
        f.sum = quint8(r[5]);
        f.sumOk = true;
        shortErase_ = true;
    }
    orders_.push_back(f);
    if (!f.sumOk) return;
    if (op == 0x00 && eraseDelay_ == 0) {
        store_.clear();
        p1_ = p2_ = p3_;
        return;
    }
    const bool answers = op == 0x20 || op == 0x10 || op == 0x04;
    if (answers && ignore_ > 0) {
        --ignore_;
        return;
    }
    switch (op) {
    case 0x20:
    case 0x10:
        if (op == 0x10) number_ = quint16(quint8(r[3]) * 256 + quint8(r[4]));
        queueLocked(fromHex("7F06") + char(op) + char(number_ >> 8) + char(number_ & 0xFF) + char(0));
        break;
    case 0x00:
        eraseLeft_ = eraseDelay_;
        break;
    case 0x04:
        if (eraseLeft_ > 0) {
            --eraseLeft_;
        } else if (eraseLeft_ == 0) {
            eraseLeft_ = -1;
            store_.clear();
            p1_ = p2_ = p3_;
        }
        queueLocked(fromHex("7F0C04") + pointer(p1_) + pointer(p2_) + pointer(p3_));
        break;
    case 0x01:
    case 0x02:
    case 0xFF:
        reading_ = true;
        readAt_ = op == 0x01 ? p1_ : op == 0x02 ? p2_ : (quint8(r[3]) * 256 + quint8(r[4])) * 16 + quint8(r[5]);
        readEnd_ = p3_;
        inFlight_.clear();
        sendNextRecordLocked();
        break;
    case 0x08:
        reading_ = false;
        inFlight_.clear();
        break;
    default:
        break;
    }
}

void UsbCollectorSim::sendNextRecordLocked() {
    while (readAt_ < readEnd_) {
        const int addr = readAt_++;
        auto it = store_.find(addr);
        if (it == store_.end()) continue;
        inFlight_ = it->second;
        inFlightAddr_ = addr;
        own_.push_back(withSum(inFlight_));
        return;
    }
    inFlight_.clear();
    reading_ = false;
    queueLocked(fromHex("96070000000000"));
}

bool UsbCollectorSim::ReadPort2(QByteArray& report) {
    std::lock_guard lk(mu_);
    if (failReads_ > 0) {
        --failReads_;
        return false;
    }
    QByteArray frame;
    if (!own_.empty()) {
        frame = own_.front();
        own_.pop_front();
    } else if (auto f = sw_.takeOutgoingFrame()) {
        frame = *f;
    }
    if (!frame.isEmpty()) {
        last_ = QByteArray(64, char(0));
        last_[0] = char(nextSeq_++);
        last_.replace(1, qMin(63, int(frame.size())), frame.left(63));
    }
    report = last_;
    return true;
}

// ---- state and faults ----------------------------------------------------------

void UsbCollectorSim::setNumber(quint16 n) { std::lock_guard lk(mu_); number_ = n; }
quint16 UsbCollectorSim::number() const { std::lock_guard lk(mu_); return number_; }

void UsbCollectorSim::storeRecord(const QByteArray& body) {
    std::lock_guard lk(mu_);
    store_[p3_++] = body;
}

void UsbCollectorSim::setPointers(int oldest, int firstUnread, int nextFree) {
    std::lock_guard lk(mu_);
    p1_ = oldest;
    p2_ = firstUnread;
    p3_ = nextFree;
}

int UsbCollectorSim::oldest() const { std::lock_guard lk(mu_); return p1_; }
int UsbCollectorSim::firstUnread() const { std::lock_guard lk(mu_); return p2_; }
int UsbCollectorSim::nextFree() const { std::lock_guard lk(mu_); return p3_; }
void UsbCollectorSim::setEraseDelay(int n) { std::lock_guard lk(mu_); eraseDelay_ = qMax(0, n); }
bool UsbCollectorSim::shortEraseSeen() const { std::lock_guard lk(mu_); return shortErase_; }
void UsbCollectorSim::failReads(int n) { std::lock_guard lk(mu_); failReads_ = n; }
void UsbCollectorSim::failWrites(int n) { std::lock_guard lk(mu_); failWrites_ = n; }
void UsbCollectorSim::ignoreOrders(int n) { std::lock_guard lk(mu_); ignore_ = n; }

std::vector<Frame> UsbCollectorSim::collectorOrders() const { std::lock_guard lk(mu_); return orders_; }

}  // namespace sim
