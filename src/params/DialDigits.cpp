#include "params/DialDigits.h"

#include "core/ModDefine.h"
#include "platform/Db.h"

#include <cmath>

namespace ModSwitch {

namespace {

bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

}  // namespace

qint64 FlexNumberCount(int len) {
    qint64 v = 1;
    for (int i = 0; i < len; ++i) v *= 10;
    return v;
}

QString FlexNumberText(qint64 value, int len) { return QString::number(value).rightJustified(len, QLatin1Char('0')); }

int GetExtHeadLen() {
    try {
        platform::Recordset rs = dbSwitch.query(QStringLiteral("select * from lanhead where headtype=29"));
        const qint64 len = rs.eof() ? 0 : rs.lng(QStringLiteral("headlen"));
        return len > 4 || len < 1 ? 4 : static_cast<int>(len);
    } catch (const platform::DbError&) {
        return 4;
    }
}

QString ExtNumberOf(int address) {
    try {
        platform::Recordset rs = dbSwitch.query(QStringLiteral("Select txhm From que_txhm where address=?"), {address});
        if (!rs.eof()) return rs.str(QStringLiteral("txhm"));
    } catch (const platform::DbError&) {
    }
    return QStringLiteral("****");
}

QString DialToHex(const QString& s) {
    QString out;
    for (QChar c : s) {
        if (c == QLatin1Char('*')) out += QLatin1Char('B');
        else if (c == QLatin1Char('#')) out += QLatin1Char('C');
        // Stored digits are already in the switch's coding ("*" kept as "B",
        // "#" as "C"): they pass unchanged when a frame builder codes them again.
        else if (c == QLatin1Char('E') || c == QLatin1Char('B') || c == QLatin1Char('C') || isDigit(c)) out += c;
    }
    return out;
}

QString HexToDial(const QString& s) {
    QString out;
    for (QChar c : s) {
        if (c == QLatin1Char('B')) out += QLatin1Char('*');
        else if (c == QLatin1Char('C')) out += QLatin1Char('#');
        else if (c == QLatin1Char('E') || isDigit(c)) out += c;
    }
    return out;
}

bool IsDialStr(const QString& s) {
    for (QChar c : s)
        if (!isDigit(c) && c != QLatin1Char('*') && c != QLatin1Char('#') && c != QLatin1Char('E')) return false;
    return true;
}

bool IsDigitsStar(const QString& s, bool bDigitsOnly) {
    if (s.isEmpty()) return false;
    for (QChar c : s) {
        if (isDigit(c)) continue;
        if (!bDigitsOnly && (c == QLatin1Char('*') || c == QLatin1Char('#'))) continue;
        return false;
    }
    return true;
}

QString PackGroupList(const QString& list) {
    QString out;
    for (const QString& item : list.split(QLatin1Char(','))) {
        const QString t = item.trimmed();
        if (t.isEmpty()) continue;
        const int v = t.toInt();
        out += QString::number(static_cast<quint8>(v), 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    if (out.size() > 10) return out.left(10);
    return out.leftJustified(10, QLatin1Char('F'));
}

QString QuoteList(const QByteArray& frame) {
    QStringList items;
    for (int i = 11; i <= 15 && i < frame.size(); ++i) {
        const quint8 b = static_cast<quint8>(frame[i]);
        if (b < 255) items << QString::number(b);
    }
    return QLatin1Char('\'') + items.join(QLatin1Char(',')) + QLatin1Char('\'');
}

void RenumberExt(int head) {
    if (head == 29) return;
    QStringList numbers;
    {
        platform::Recordset rs = dbSwitch.query(
            QStringLiteral("Select SpringNum From Extension where Head=? group by SpringNum"), {head});
        for (; !rs.eof(); rs.moveNext()) numbers << rs.str(QStringLiteral("SpringNum"));
    }
    if (numbers.isEmpty()) return;
    const int len = numbers.first().size();
    const int flexLen = GetExtHeadLen();
    platform::Transaction tx(dbSwitch);
    for (const QString& n : numbers) {
        QList<qint64> addresses;
        platform::Recordset rs = dbSwitch.query(
            QStringLiteral("Select Address,SpringNum From Extension where Head=? and SpringNum=? order by Address desc"),
            {head, n});
        for (; !rs.eof(); rs.moveNext()) addresses << rs.lng(QStringLiteral("Address"));
        for (int k = 1; k < addresses.size(); ++k) {
            bool moved = false;
            for (qint64 c = 0; c < FlexNumberCount(len); ++c) {
                const QString cand = FlexNumberText(c, len);
                const QVariant used = dbSwitch.scalar(
                    QStringLiteral("Select Address From Extension where Head=? and SpringNum=?"), {head, cand});
                if (used.isNull()) {
                    dbSwitch.execute(QStringLiteral("update Extension set SpringNum=? where Address=?"),
                                     {cand, addresses[k]});
                    moved = true;
                    break;
                }
            }
            if (!moved) {
                // No number of this head is left: the extension keeps its last
                // digits under the flexible head.
                const QString last = n.right(flexLen);
                dbSwitch.execute(QStringLiteral("update Extension set Head=29, SpringNum=? where Address=?"),
                                 {FlexNumberText(last.toLongLong(), flexLen), addresses[k]});
            }
        }
    }
    tx.commit();
}

}  // namespace ModSwitch
