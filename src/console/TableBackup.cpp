#include "console/TableBackup.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/TableCopy.h"
#include "core/OpLog.h"
#include "params/CellEdit.h"
#include "params/DialDigits.h"
#include "params/SavePara.h"
#include "platform/Files.h"
#include "platform/Prompts.h"

#include <QFileInfo>

namespace console {

namespace {

constexpr auto kBackupFile = "Backup.mdb";

void status(const QString& text) { core::StatusText(2, text); }

// The caption of the view less its last two characters ("本机字头" gives "本机").
QString logPrefix(const QString& caption) { return caption.left(qMax(0, int(caption.size()) - 2)); }

// A suffix brought to `len` digits: its last `len` characters, or a number
// padded with leading zeros; anything else stays as it is.
QString fitSuffix(const QString& s, int len) {
    if (s.size() > len) return s.right(len);
    bool digits = !s.isEmpty();
    for (QChar ch : s) digits = digits && ch.isDigit();
    return digits ? s.rightJustified(len, QLatin1Char('0')) : s;
}

// Shows the restored table as its view shows it.
void showRestored(const QString& view) {
    if (core::Console* c = core::TheConsole()) c->ShowView(view);
}

// Pending grid edits are offered for saving before the table is copied.
void savePending(int tableRight);

}  // namespace

QString BackupTableName(const QString& view) {
    if (view == QLatin1String("Router1") || view == QLatin1String("Router2")) return QStringLiteral("AddHead");
    return view;
}

QString BackupFilePath() { return platform::resolveCI(DataPath, QLatin1String(kBackupFile)); }

void TableBackup(const QString& view, int tableRight, const QString& caption) {
    if (ModGeneral::CheckRight(tableRight, 0)) return;
    savePending(tableRight);
    if (platform::MsgBox(QStringLiteral("要备份数据库吗?"), platform::mbYesNo | platform::mbQuestion, AppName) !=
        platform::rYes)
        return;
    const QString table = BackupTableName(view);
    bool copied = false;
    try {
        platform::Database backup = platform::Database::create(BackupFilePath());
        copied = ModSwitch::CopyTable(dbSwitch, table, backup, table, false, QString());
        backup.close();
    } catch (const platform::DbError&) {
        copied = false;   // a file that can be neither made nor opened
    }
    if (!copied) {
        status(QStringLiteral("备份失败"));
        return;
    }
    status(QStringLiteral("备份成功"));
    ModGeneral::AddOpLog(logPrefix(caption) + QStringLiteral("备份"));
}

void TableRestore(const QString& view, int tableRight, const QString& caption) {
    if (ModGeneral::CheckRight(tableRight, 0)) return;
    const QString path = BackupFilePath();
    if (!QFileInfo(path).isFile()) {
        platform::MsgBox(QStringLiteral("不存在备份数据"), platform::mbOKOnly, AppName);
        return;
    }
    if (platform::MsgBox(QStringLiteral("要从备份库恢复数据吗?"), platform::mbYesNo | platform::mbQuestion,
                         AppName) != platform::rYes)
        return;
    const QString table = BackupTableName(view);
    bool noCopy = false;
    try {
        platform::Database backup = dbSwitch.attach(path, QStringLiteral("tarvo_backup"));
        try {
            const QString stored = backup.actualTableName(table);
            if (stored.isEmpty()) {
                noCopy = true;
            } else {
                // The columns both sides have, by name: the copy never depends on their order.
                QStringList names;
                const QList<platform::ColumnInfo> mine = dbSwitch.columns(table);
                for (const platform::ColumnInfo& b : backup.columns(stored))
                    for (const platform::ColumnInfo& m : mine)
                        if (m.name.compare(b.name, Qt::CaseInsensitive) == 0) names << platform::quoteIdent(m.name);
                if (names.isEmpty()) throw platform::DbError(platform::kErrGeneric, QStringLiteral("备份表没有可用的列"));
                const QString cols = names.join(QLatin1Char(','));
                const QString target = dbSwitch.qualified(dbSwitch.actualTableName(table));
                platform::Transaction tx(dbSwitch);
                dbSwitch.execute(QStringLiteral("delete from ") + target);
                dbSwitch.execute(QStringLiteral("insert into %1 (%2) select %2 from %3")
                                     .arg(target, cols, backup.qualified(stored)));
                if (view == QLatin1String("Extension")) FitExtensionSuffixes(dbSwitch);
                // A table read from the switch and not yet taken over is given
                // up: the restored table is the one the view shows from now on.
                if (ParaMode == QLatin1String("UpSend"))
                    dbSwitch.execute(QStringLiteral("drop table if exists ") + platform::quoteIdent(QStringLiteral("p") + table));
                tx.commit();
            }
        } catch (...) {
            backup.close();
            throw;
        }
        backup.close();
    } catch (const platform::DbError&) {
        status(QStringLiteral("恢复失败"));
        return;
    }
    if (noCopy) {
        platform::MsgBox(QStringLiteral("没有备份数据"), platform::mbOKOnly, AppName);
        return;
    }
    // The grid's edits, and the amounts typed into it, go with the table restored.
    ModSwitch::DropGridEdits();
    ParaMode.clear();
    showRestored(view);
    ModGeneral::AddOpLog(logPrefix(caption) + QStringLiteral("恢复"));
    status(QStringLiteral("恢复成功"));
}

void FitExtensionSuffixes(const platform::Database& db) {
    QList<qint64> heads;
    {
        platform::Recordset rs =
            db.query(QStringLiteral("Select distinct Head From Extension where head>19 and Head<29"));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) heads << rs.lng(QStringLiteral("Head"));
    }
    for (qint64 h : heads) {
        const int n = ModSwitch::GetExtHeadLen();
        platform::Recordset prefix = db.query(QStringLiteral("Select HeadLen From LanHead where HeadType=?"), {h});
        const bool kept = !prefix.eof();
        const int len = kept ? static_cast<int>(prefix.lng(QStringLiteral("HeadLen"))) : n;
        platform::Recordset rows =
            db.query(QStringLiteral("Select Address,SpringNum From Extension where Head=?"), {h});
        for (rows.moveFirst(); !rows.eof(); rows.moveNext()) {
            const QString suffix = rows.str(QStringLiteral("SpringNum"));
            // A category no longer in the prefix table goes to the flexible one.
            const QString fitted = kept ? fitSuffix(suffix, len) : fitSuffix(suffix.right(n), n);
            db.execute(QStringLiteral("Update Extension set Head=?,bSetSpringNum=0,SpringNum=? where Address=?"),
                       {kept ? h : 29, fitted, rows.lng(QStringLiteral("Address"))});
        }
    }
}

namespace {
void savePending(int tableRight) { ModSwitch::SaveSwitchPara(tableRight, true); }
}  // namespace

}  // namespace console
