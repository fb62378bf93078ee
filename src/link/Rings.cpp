// The receive and transmit rings and the frame parser; the line in use
// (Transport.h) fills the one and empties the other.
#include "core/ModDefine.h"
#include "link/FrameCodes.h"
#include "link/FrameReader.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "link/CommState.h"
#include "link/Transport.h"
#include "platform/Clock.h"

namespace ModComm {

std::array<quint8, kRingSize> RxBuf{};
int RxRead = 0, RxWrite = 0;
std::array<quint8, kRingSize> TxBuf{};
int TxRead = 0, TxWrite = 0;

CommStateRec CommState;

namespace {

// Frame families the station never answers when their checksum is wrong:
// status frames, acknowledgements and the collector's own frames.
bool silentOnError(quint8 b) {
    switch (b) {
    case 0x99: case 0x97: case 0x9C: case 0x9D: case 0x9B: case 0x9A: case 0x98: case 0x82: case 0x7F:
        return true;
    default:
        return false;
    }
}

QString timeText() { return platform::Now().toString(QStringLiteral("HH:mm:ss")); }
}  // namespace

int RxCount() { return (RxWrite - RxRead + kRingSize) & kRingMask; }
int TxCount() { return (TxWrite - TxRead + kRingSize) & kRingMask; }

int PutRxBuf(const QByteArray& bytes) {
    // One place always stays empty: equal indexes mean an empty ring.
    const int room = kRingMask - RxCount();
    const int n = std::min<int>(room, static_cast<int>(bytes.size()));
    for (int i = 0; i < n; ++i) {
        RxBuf[RxWrite] = static_cast<quint8>(bytes[i]);
        RxWrite = (RxWrite + 1) & kRingMask;
    }
    CommState.RxHeard += n;
    if (n < bytes.size())
        LinkTrace::Note(timeText() + QStringLiteral(" 接收缓冲区满, 丢弃 %1 字节").arg(bytes.size() - n));
    return n;
}

bool PutTxBuf(const QString& order) {
    QString text = order;
    if (!CheckHex(text) || text.size() < 2) return false;
    const QByteArray bytes = HexToBytes(text);
    if (bytes.size() > kRingMask - TxCount()) {
        LinkTrace::Note(timeText() + QStringLiteral(" 发送缓冲区满, 命令未发送: ") + SpaceHex(text));
        return false;
    }
    for (char c : bytes) {
        TxBuf[TxWrite] = static_cast<quint8>(c);
        TxWrite = (TxWrite + 1) & kRingMask;
    }
    LinkTrace::ShowRecord(text, 1);
    return true;
}

void ResetLink() {
    RxRead = RxWrite = TxRead = TxWrite = 0;
    CommState = CommStateRec{};
    ForgetAckEvents();
    g_NoAnswerCount = 10;
}

void ReadComm() { Link().poll(); }

void ParseFrame() {
    if (RxRead == RxWrite) return;
    if (!CommState.Matched) {
        for (int tries = RxCount() - 2; tries > 0; --tries) {
            const int row = FindFrameStart(RxBuf[RxRead], RxBuf[(RxRead + 1) & kRingMask], RxBuf[(RxRead + 2) & kRingMask]);
            if (row >= 0) {
                CommState.Matched = true;
                CommState.FrameIndex = row;
                return;
            }
            RxRead = (RxRead + 1) & kRingMask;
        }
        return;
    }
    const int row = CommState.FrameIndex;
    const int len = FrameTable[row].Len;
    if (RxCount() < len + 1) return;
    QByteArray frame(len + 1, '\0');
    char* out = frame.data();
    for (int i = 0; i <= len; ++i) {
        out[i] = static_cast<char>(RxBuf[RxRead]);
        RxRead = (RxRead + 1) & kRingMask;
    }
    CommState.Matched = false;
    const FrameReader f(frame);
    // Any recognised frame but the switch's own announcement ends the silence.
    if (!f.is(FrameCode::kLinkProbe)) g_NoAnswerCount = 0;

    bool good = f.sumHolds();
    // The time bands and fee rates of the other switch model are not ours.
    const QLatin1StringView times = SwitchModel == 2 ? FrameCode::kPabxTimesRow2 : FrameCode::kPabxTimesRow;
    const QLatin1StringView rates = SwitchModel == 2 ? FrameCode::kPabxFeeRateRow2 : FrameCode::kPabxFeeRateRow;
    if (f.sameKind(times) && !f.is(times)) good = false;
    if (f.sameKind(rates) && !f.is(rates)) good = false;
    if (LinkTrace::Enabled()) LinkTrace::ShowRecord(BytesToHex(frame), good ? 0 : 2);
    if (!good) {
        if (FrameTable[row].Code == FrameCode::kCallRecord)
            SendOrder(FrameCode::kAckResend, false, 4, true);
        else if (!silentOnError(f.byte(0)))
            SendOrder(FrameCode::kAckBadSum, false, 4, true);
        return;
    }
    CommState.FrameHeardAt = CommState.RxHeard - RxCount();
    DealFrame(frame, row);
}

void ProcessComm() {
    ReadComm();
    ParseFrame();
    ParseFrame();
}

void HandleArrived() {
    // The collector gives one frame a poll: it is polled until it has nothing new.
    for (int polls = 0; polls < 16; ++polls) {
        const int written = RxWrite;
        ReadComm();
        for (int guard = 0; guard < kRingSize; ++guard) {
            const int read = RxRead;
            const bool matched = CommState.Matched;
            ParseFrame();
            if (RxRead == read && CommState.Matched == matched) break;   // only part of a frame is left
        }
        if (RxWrite == written) return;
    }
}

}  // namespace ModComm
