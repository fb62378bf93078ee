#pragma once
// The link with the switch: frame table and codec, rings, parser, the send and
// ask primitives, the dispatcher and the link's supervision.
#include <QByteArray>
#include <QString>
#include <QVector>

struct FrameDef {
    QString Code;
    quint8 Len = 0;
    int SubFlag = 0;   // -1 when the third byte belongs to the code
};

namespace ModComm {

extern QVector<FrameDef> FrameTable;
void InitFrameTable();
// Row of the frame table whose code starts `data` (at `offset`), -1 when none.
int FindFrame(const QByteArray& data, int offset = 0);
// Normalised hex text, or "" when `text` is not hexadecimal.
QString CheckHex(const QString& text);
QString CheckSum(const QString& hex);
QString ByteToHex(quint8 b);
QString LongToHex(qint64 value, int bytes);
QString SpaceHex(const QString& hex);
QByteArray HexToBytes(const QString& hex);

// Sends one order; 1 acknowledged, 0 did not wait, 2 no acknowledgement, else the status byte.
int SendOrder(const QString& order, bool waitAck = false, int timeoutSec = 4, bool addSum = true);
// Asks; 2 answer in `answer`, 1 the switch has nothing, 0 time-out.
int GetOrder(QByteArray& answer, const QString& expectCode, bool flag, const QString& order, int timeoutSec = 5);
// Polls the port or the collector once and runs the parser twice.
void ProcessComm();

}  // namespace ModComm
