#include "transfer/SwitchIntents.h"

#include "core/ChargeLog.h"
#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/StationFiles.h"
#include "core/WriteAhead.h"
#include "link/FrameCodes.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "link/Transport.h"
#include "platform/Db.h"
#include "platform/MsgCodes.h"
#include "transfer/DepositChange.h"
#include "transfer/RowFrames.h"
#include "transfer/UserDownload.h"

#include <QSet>
#include <optional>

namespace transfer {

namespace {

struct Row {
    bool account = false;
    qint64 address = 0;
    QString frame;   // hex without checksum, as sent
};

struct Release {
    QString name;
    QList<Row> rows;
};

ModSwitch::WriteAheadBody bodyOf(const Release& r) {
    ModSwitch::WriteAheadBody b;
    b.set(QStringLiteral("name"), r.name);
    for (const Row& row : r.rows)
        b.add(QStringLiteral("rows"), ModSwitch::WriteAheadBody()
                                          .set(QStringLiteral("account"), qint64(row.account))
                                          .set(QStringLiteral("address"), row.address)
                                          .set(QStringLiteral("frame"), row.frame));
    return b;
}

std::optional<Release> releaseOf(const ModSwitch::WriteAheadBody& body) {
    if (!body.has(QStringLiteral("name"))) return std::nullopt;
    Release r{body.text(QStringLiteral("name")), {}};
    for (const ModSwitch::WriteAheadBody& row : body.list(QStringLiteral("rows"))) {
        bool ok[2] = {};
        const qint64 account = row.integer(QStringLiteral("account"), &ok[0]);
        const qint64 address = row.integer(QStringLiteral("address"), &ok[1]);
        if (!ok[0] || !ok[1] || !row.has(QStringLiteral("frame"))) return std::nullopt;
        r.rows.append({account != 0, address, row.text(QStringLiteral("frame"))});
    }
    return r;
}

// Whether the switch holds the row as the release frame left it; none when it
// does not answer.
std::optional<bool> heldReleased(const Row& row) {
    QString ask, code;
    if (row.account) {
        ask = QString(FrameCode::kReadRow) + ModComm::ByteToHex(quint8(row.address / 256)) +
              ModComm::ByteToHex(quint8(row.address % 256));
        code = QString(FrameCode::kAccountRow);
    } else {
        ask = QString(FrameCode::kReadExtRow) + ModComm::ByteToHex(quint8(row.address));
        code = QString(FrameCode::kExtParaRow);
    }
    QByteArray answer;
    if (ModComm::GetOrder(answer, code, false, ask, 5) != ModComm::GotAnswer) return std::nullopt;
    const QByteArray sent = QByteArray::fromHex(row.frame.toLatin1());
    return answer.left(sent.size()) == sent;
}

QString rowName(const Row& row) {
    return row.account ? QStringLiteral("帐号%1").arg(row.address) : QStringLiteral("分机%1").arg(row.address);
}

void tell(const QString& text) {
    LinkTrace::Note(text);
    core::Notify(text, platform::mbOKOnly | platform::mbExclamation, AppName);
}

bool g_settling = false;

// The gesture open (its depth) and the releases it found the switch silent on.
int g_gestures = 0;
QSet<qint64> g_unanswered;

}  // namespace

OneGesture::OneGesture() { ++g_gestures; }

OneGesture::~OneGesture() {
    if (--g_gestures == 0) g_unanswered.clear();
}

void WriteReleaseIntent(qint64 userId, bool clearPasswords) {
    Release r;
    r.name = dbSwitch.scalar(QStringLiteral("select username from user where userid=?"), {userId}).toString();
    platform::Recordset accounts =
        dbSwitch.query(QStringLiteral("select * from account where userid=? order by address"), {userId});
    for (accounts.moveFirst(); !accounts.eof(); accounts.moveNext())
        r.rows.append({true, accounts.lng(QStringLiteral("address")),
                       AccountRow(RowValues::of(accounts), kModeRelease, clearPasswords, Owner{})});
    platform::Recordset extensions =
        dbSwitch.query(QStringLiteral("select * from extension where userid=? order by address"), {userId});
    for (extensions.moveFirst(); !extensions.eof(); extensions.moveNext())
        r.rows.append({false, extensions.lng(QStringLiteral("address")),
                       ExtParaRow(RowValues::of(extensions), kModeRelease, clearPasswords, Owner{})});
    ModSwitch::WriteAhead(dbSwitch, kReleaseIntent, QString::number(userId), bodyOf(r));
}

bool SettleReleaseIntent(qint64 userId) {
    const QString key = QString::number(userId);
    std::optional<ModSwitch::WriteAheadBody> body;
    for (const ModSwitch::WriteAheadRecord& w : ModSwitch::PendingWriteAhead(dbSwitch, kReleaseIntent))
        if (w.key == key) body = w.body;
    if (!body) return true;
    // Told already in this gesture: the switch is not asked again for it.
    if (g_unanswered.contains(userId)) return false;
    const std::optional<Release> r = releaseOf(*body);
    if (!r) {
        LinkTrace::Note(QStringLiteral("用户%1的释放记录无法读取, 已丢弃").arg(userId));
        ModSwitch::SettleWriteAhead(dbSwitch, kReleaseIntent, key);
        return true;
    }
    QList<Row> released, kept;
    bool silent = false;
    for (const Row& row : r->rows) {
        const std::optional<bool> held = heldReleased(row);
        if (!held) {
            // One row unanswered leaves the whole release open: the rest are
            // not asked now.
            silent = true;
            break;
        }
        (*held ? released : kept).append(row);
    }
    const bool exists = dbSwitch.scalar(QStringLiteral("select count(*) from user where userid=?"), {userId}).toInt() > 0;
    const QString who = r->name.isEmpty() ? key : QStringLiteral("%1(%2)").arg(r->name, key);
    if (silent) {
        if (g_gestures > 0) g_unanswered.insert(userId);
        tell(QStringLiteral("用户%1的删除未能完成：其帐号和分机在交换机上是否已释放无法查明(交换机没有回答)。"
                            "下次下载或打开站点时再核对。").arg(who));
        return false;
    }
    if (kept.isEmpty()) {
        // Every row given back on the switch: the deletion the operator
        // asked for is finished, with the intent.
        if (exists)
            ModSwitch::MoveBalances(
                [&] {
                    ModSwitch::DeleteUserRows(dbSwitch, userId);
                    ModSwitch::SettleWriteAhead(dbSwitch, kReleaseIntent, key);
                },
                userId);
        else
            ModSwitch::SettleWriteAhead(dbSwitch, kReleaseIntent, key);
        if (exists) {
            ModToolbar::ShowUserDeleted(userId);
            tell(QStringLiteral("用户%1的帐号和分机此前已在交换机上释放，其删除现已完成。").arg(who));
        }
        return true;
    }
    // Not (all) given back: the user stays; what the switch gave back is sent
    // again as the station holds it, at the next download.
    {
        platform::Transaction tx(dbSwitch);
        for (const Row& row : released)
            dbSwitch.execute(QStringLiteral("update %1 set bSet=1 where address=?")
                                 .arg(row.account ? QStringLiteral("account") : QStringLiteral("extension")),
                             {row.address});
        ModSwitch::SettleWriteAhead(dbSwitch, kReleaseIntent, key);
        tx.commit();
    }
    if (!released.isEmpty()) {
        QStringList names;
        for (const Row& row : released) names << rowName(row);
        tell(QStringLiteral("用户%1没有删除，但其%2已在交换机上释放；它们已标记为待下载，下载后仍归该用户。")
                 .arg(who, names.join(QStringLiteral("、"))));
    } else {
        LinkTrace::Note(QStringLiteral("用户%1的帐号和分机没有在交换机上释放, 用户保留").arg(who));
    }
    return true;
}

void SettleSwitchIntents(bool deposits) {
    if (g_settling) return;
    g_settling = true;
    struct Done {
        ~Done() { g_settling = false; }
    } done;
    try {
        if (!ModComm::Link().isOpen()) return;
        const QList<ModSwitch::WriteAheadRecord> pending = ModSwitch::PendingWriteAhead(dbSwitch);
        for (const ModSwitch::WriteAheadRecord& w : pending) {
            bool ok = false;
            const qint64 key = w.key.toLongLong(&ok);
            if (!ok) continue;
            if (w.kind == kDepositIntent && deposits) {
                ModComm::TurnRun run;
                SettleDepositIntent(run, int(key));
                run.settle();
            } else if (w.kind == kReleaseIntent) {
                SettleReleaseIntent(key);
            }
        }
    } catch (const std::exception& e) {
        LinkTrace::Note(QStringLiteral("交换机命令的记录未能结清: %1").arg(platform::OperatorText(e)));
    }
}

}  // namespace transfer
