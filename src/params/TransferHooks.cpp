#include "params/TransferHooks.h"

#include "core/ModDefine.h"
#include "core/books/WriteAhead.h"
#include "transfer/RowFrames.h"
#include "transfer/UserDownload.h"

#include <QSet>

namespace ModSwitch {

namespace {

// The states of the rows of `rs`, by address; owners are read once each.
QHash<qint64, QString> statesOf(const QString& table, platform::Recordset& rs) {
    const bool account = table.compare(QLatin1String("Account"), Qt::CaseInsensitive) == 0;
    QHash<qint64, transfer::Owner> owners;
    QHash<qint64, QString> states;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const qint64 address = rs.lng(QStringLiteral("address"));
        const qint64 uid = rs.lng(QStringLiteral("userid"));
        if (!owners.contains(uid)) owners.insert(uid, transfer::LookupOwner(uid));
        const transfer::RowValues row = transfer::RowValues::of(rs);
        QString frame;
        try {
            frame = account ? transfer::AccountRow(row, transfer::kModeNormal, false, owners.value(uid))
                            : transfer::ExtParaRow(row, transfer::kModeNormal, false, owners.value(uid));
        } catch (const transfer::EncodeError&) {
            frame = QStringLiteral("?");   // a row that cannot be sent as it stands
        }
        states.insert(address, frame + QLatin1Char('/') + rs.value(QStringLiteral("depositgrade")).toString());
    }
    return states;
}

QString rowTable(const QString& table) {
    return table.compare(QLatin1String("Account"), Qt::CaseInsensitive) == 0 ? QStringLiteral("account")
                                                                              : QStringLiteral("extension");
}

}  // namespace

bool SendAccountNow(qint64 address) {
    platform::Recordset rs = dbSwitch.query(QStringLiteral("select * from account where address=?"), {address});
    return ModToolbar::DownAccount(rs, 0, false, false);
}

bool SendUserPara(qint64 userId, int mode, bool clearPasswords) {
    return ModToolbar::DownUserPara(userId, mode, clearPasswords ? 1 : 0, 0, 0);
}

void WriteUserRelease(qint64 userId) {
    transfer::SettleSwitchIntents();
    transfer::WriteReleaseIntent(userId);
}

void SettleUserReleases() {
    if (!PendingWriteAhead(dbSwitch, transfer::kReleaseIntent).isEmpty()) transfer::SettleSwitchIntents();
}

bool SettleUserRelease(qint64 userId) { return transfer::SettleReleaseIntent(userId); }

void ReleaseDone(qint64 userId) { SettleWriteAhead(dbSwitch, transfer::kReleaseIntent, QString::number(userId)); }

QString SwitchRowState(const QString& table, qint64 address) {
    platform::Recordset rs =
        dbSwitch.query(QStringLiteral("select * from %1 where address=?").arg(rowTable(table)), {address});
    return statesOf(table, rs).value(address);
}

QHash<qint64, QString> OwnedRowStates(const QString& table, const QList<qint64>& owners) {
    QHash<qint64, QString> states;
    for (qint64 uid : owners) {
        platform::Recordset rs =
            dbSwitch.query(QStringLiteral("select * from %1 where userid=?").arg(rowTable(table)), {uid});
        states.insert(statesOf(table, rs));
    }
    return states;
}

OwnedRowsBefore::OwnedRowsBefore(const QList<qint64>& owners)
    : owners_(owners),
      ext_(OwnedRowStates(QStringLiteral("Extension"), owners)),
      acc_(OwnedRowStates(QStringLiteral("Account"), owners)) {}

int OwnedRowsBefore::MarkChanged() const {
    int marked = 0;
    const auto mark = [&](const QString& table, const QHash<qint64, QString>& before) {
        const QHash<qint64, QString> after = OwnedRowStates(table, owners_);
        QSet<qint64> changed;
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            if (!after.contains(it.key()) || after.value(it.key()) != it.value()) changed << it.key();
        for (auto it = after.cbegin(); it != after.cend(); ++it)
            if (!before.contains(it.key())) changed << it.key();
        for (qint64 address : changed)
            marked += dbSwitch.execute(QStringLiteral("update %1 set bSet=1 where address=?").arg(rowTable(table)), {address});
    };
    mark(QStringLiteral("Extension"), ext_);
    mark(QStringLiteral("Account"), acc_);
    return marked;
}

}  // namespace ModSwitch
