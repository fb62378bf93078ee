#pragma once
// The order frames that carry the station's parameter tables to the switch,
// one frame per table row, as upper-case hex text without the checksum (the
// send appends it). A row that cannot be encoded (a missing value, a text
// where a number belongs, a value that does not fit its field) throws
// EncodeError: nothing of it is sent.
#include "platform/Db.h"

#include <QHash>
#include <QVector>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <initializer_list>
#include <stdexcept>
#include <utility>

namespace transfer {

class EncodeError : public std::runtime_error {
public:
    explicit EncodeError(const QString& text) : std::runtime_error(text.toStdString()), text_(text) {}
    QString text() const { return text_; }
private:
    QString text_;
};

// The values of one row by column name (case-insensitive): the current row of
// a recordset, or values given directly. Money columns hold the stored form,
// ten-thousandths of a yuan.
class RowValues {
public:
    RowValues() = default;
    RowValues(std::initializer_list<std::pair<QString, QVariant>> values);
    static RowValues of(const platform::Recordset& rs);
    QVariant value(const QString& column) const;   // Null when absent
    void set(const QString& column, const QVariant& v) { v_.insert(column.toLower(), v); }
private:
    QHash<QString, QVariant> v_;
};

// What the grades of an account or extension depend on in its owner.
struct Owner {
    bool found = false;     // an owner without a user row counts as unlocked, not a deposit user
    bool locked = false;
    int balanceMode = 1;    // 0: pays in advance (deposit user)
};
// The owner `userId` as the user table holds it now.
Owner LookupOwner(qint64 userId);

// Mode of an account or extension frame: as stored, the owner barred, the rows given back.
enum DownMode { kModeNormal = 0, kModeLocked = 1, kModeRelease = 2 };

// "860B": HeadID, HeadType, HeadLen, Headdelay, Router1, Router2. A city head
// carries the ninth bit of its second route in the top bit of the length byte.
QString HeadRow(const RowValues& r, bool cityHead);
// "940A": Address, ExtraHead.
QString ExtraHeadRow(const RowValues& r);
// "A70A": Address, ShrinkHead.
QString ShrinkRow(const RowValues& r);
// "9008": Router, PortAddr, AddHead.
QString AddHeadRow(const RowValues& r);
// "9E13": the board kinds of slots 0..21 (15 = empty); slot 6 always carries the tone board.
QString BoardLayout(const QVector<int>& kinds);
// "8916": a trunk row.
QString RelayRow(const RowValues& r);
// "8705": Head, SpringNum.
QString SpringNumRow(const RowValues& r);
// "8F17", or "8F12" for the second switch model.
QString PabxFeeRateRow(const RowValues& r, int switchModel);
// "A910", or "A90C" for the second switch model; `ordinal` is the row's place in the download, from 1.
QString PabxTimesRow(const RowValues& r, int ordinal, int switchModel);
// "A507": Address, ChangeValue.
QString ExtDepositRow(const RowValues& r);
// "8C08": an account; `clearPassword` asks the switch to clear every password sent.
QString AccountRow(const RowValues& r, int mode, bool clearPassword, const Owner& owner);
// "8B16": an extension's parameters.
QString ExtParaRow(const RowValues& r, int mode, bool clearPassword, const Owner& owner);
// "8D12" from the setting "Limit" (eight numbers 0..65535).
QString LimitsFrame(const QString& setting);
// "A80E" from the setting "SelCmd" (three dial strings, two switches 0 or 1).
QString SelCmdFrame(const QString& setting);

// The system parameters as the switch holds them: its call limits (asked
// "8D0300", answered "8D12") and its selection codes (asked "A80300",
// answered "A80E").
struct SystemParams {
    enum State { NoAnswer, NotSet, Read };
    State limits = NoAnswer;
    int limit[8] = {};          // 0..65535 each
    State selCmd = NoAnswer;
    QString selDial[3];         // the three dial strings
    int selSwitch[2] = {0, 0};  // the two switches, 0 or 1
    // Both were read.
    bool complete() const { return limits == Read && selCmd == Read; }
    // The settings "Limit" and "SelCmd" as they are stored.
    QString limitSetting() const;
    QString selCmdSetting() const;
    // What the operator is told of the read.
    QString message() const;
};
// Asks the switch for both, the limits first, each answer awaited 5 seconds.
// A short answer counts as none.
SystemParams ReadSystemParams();

// What the switch holds of rows it was sent, as 上传 and 校验 read it: for
// each of `orders` (row frames as sent, hex without the sum) whether the
// switch holds that row as it was sent. An addressed row is asked for by the
// address it carries; the rows of a streamed table (heads, fee rates, time
// bands, flexible numbers) are read with the whole table, once, and a row
// counts as held where the table holds it (the flexible numbers and fee rates
// at its place among the rows sent). The frames that open and close a table
// carry no row and count as held. A row the switch cannot be asked for (a
// deposit change), or whose answer does not come, is not held. A row held is
// the same frame, every bit. Answers naming another row do not stop the
// reading; two rows in turn whose asks hear nothing do.
QVector<bool> HeldAsSent(const QStringList& orders);

// Whether `answer`, an addressed row frame of the switch (code first), names
// the row `ask` asked for (hex without the sum): an answer to an earlier ask,
// late or a copy, names another.
bool AnswersAsk(const QByteArray& answer, const QString& ask);

}  // namespace transfer
