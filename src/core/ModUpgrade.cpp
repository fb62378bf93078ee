#include "core/ModUpgrade.h"

#include "core/ModDefine.h"
#include "core/Notices.h"
#include "core/books/TableCopy.h"
#include "billing/Settlement.h"
#include "params/ExtCountView.h"
#include "platform/Files.h"
#include "platform/MsgCodes.h"

#include <QFile>
#include <QFileInfo>

namespace ModUpgrade {

using platform::Database;
using platform::DbError;

namespace {

// Column lists of the four tables, in their order; %1 is the qualified name.
// Key columns are required, as a key's columns always are.
QString Definition(const QString& name) {
    if (name == QLatin1String("ExtDeposit"))
        return QStringLiteral(
            "CREATE TABLE %1 (Address INTEGER NOT NULL, ExtNum TEXT(16), ChangeValue CURRENCY DEFAULT 0, "
            "RealValue CURRENCY DEFAULT 0, bOverDraft BYTE DEFAULT 0, bMonitor BYTE DEFAULT 0, bSet BYTE DEFAULT 0, "
            "CONSTRAINT i_Addr PRIMARY KEY (Address))");
    if (name == QLatin1String("ExtDepositHistory"))
        return QStringLiteral(
            "CREATE TABLE %1 (ChangeDate DATETIME NOT NULL, ExtAddr INTEGER NOT NULL, ChangeValue CURRENCY, "
            "WorkerID TEXT(4), ChangeType BYTE, CONSTRAINT I_DepositHistory PRIMARY KEY (ChangeDate, ExtAddr))");
    if (name == QLatin1String("Terminal"))
        return QStringLiteral(
            "CREATE TABLE %1 (PointID INTEGER NOT NULL, PointName TEXT(40), OwnerName TEXT(20), Telephone TEXT(20), "
            "Address TEXT(40), FeeDetail TEXT(4) DEFAULT '话费信息' CHECK (FeeDetail <> ''), Model TEXT(40), "
            "Capacity TEXT(20), Summary TEXT(200), CONSTRAINT i_PointID PRIMARY KEY (PointID))");
    if (name == QLatin1String("JianKong"))
        return QStringLiteral(
            "CREATE TABLE %1 (Number LONG NOT NULL, Calling TEXT(20), Unit TEXT(20), Called TEXT(20), "
            "CalledArea TEXT(20), PhoneDate TEXT(16), BeginTime TEXT(8), CostTime TEXT(8), JinE TEXT(14), "
            "YaJin BOOLEAN, Pay TEXT(14), ServiceFee TEXT(14), AddtionFee TEXT(14), ZHMiMa TEXT(4), "
            "ZhongJiNum BYTE, CONSTRAINT i_HD PRIMARY KEY (Number))");
    return {};
}

using platform::quoteIdent;
using platform::sameFile;

// Deletes a ".bak" copy that no longer matches its database.
void RemoveBak(const QString& dir, const QString& name) {
    const QString path = platform::resolveCI(dir, name);
    if (QFileInfo::exists(path) && !QFile::remove(path))
        throw DbError(platform::kErrGeneric, QStringLiteral("无法删除文件 '%1'").arg(path));
}

}  // namespace

int CreateTable(const Database& db, const QString& name, bool bReplace) {
    const QString definition = Definition(name);
    if (definition.isEmpty()) return 0;
    try {
        if (!db.isOpen()) return 0;
        const bool found = db.tableNames().contains(name);   // letter case included
        if (found && !bReplace) return 1;
        platform::Transaction tx(db);
        if (found) db.execute(QStringLiteral("DROP TABLE %1").arg(db.qualified(name)));
        db.execute(definition.arg(db.qualified(name)));
        tx.commit();
        return 2;
    } catch (const DbError&) {
        return 0;
    }
}

void UpgradeFeeRateKey() {
    try {
        // A renaming that would give two rows one key changes nothing.
        dbSwitch.execute(QStringLiteral("update feerate set  zonecode=?,summary=? where zonecode=?"),
                         {QStringLiteral("本局"), QStringLiteral("本局默认"), QStringLiteral("本机")});

        const QString table = dbSwitch.actualTableName(QStringLiteral("feerate"));
        if (table.isEmpty()) return;
        const QStringList want{QStringLiteral("zonecode"), QStringLiteral("feerateid"), QStringLiteral("feeratetype")};
        for (const platform::IndexInfo& ix : dbSwitch.indexes(table)) {
            if (!ix.primary) continue;
            if (ix.columns.size() == want.size()) {
                bool same = true;
                for (int i = 0; i < want.size(); ++i)
                    same = same && ix.columns[i].compare(want[i], Qt::CaseInsensitive) == 0;
                if (same) return;
            }
        }

        // The key of a table cannot be changed in place: the table is rebuilt
        // with it, in one transaction, keeping its other indexes.
        platform::Transaction tx(dbSwitch);
        QStringList otherIndexes;
        platform::Recordset ix = dbSwitch.query(
            QStringLiteral("select name, sql from main.sqlite_master where type='index' and tbl_name=? and sql is not null"),
            {table});
        for (ix.moveFirst(); !ix.eof(); ix.moveNext()) {
            if (ix.str(QStringLiteral("name")).compare(QStringLiteral("primarykey"), Qt::CaseInsensitive) == 0) {
                dbSwitch.execute(QStringLiteral("DROP INDEX %1").arg(dbSwitch.qualified(ix.str(QStringLiteral("name")))));
                continue;
            }
            otherIndexes << ix.str(QStringLiteral("sql"));
        }
        const QString work = table + QStringLiteral("_rekey");
        QStringList cols;
        for (const platform::ColumnInfo& c : dbSwitch.columns(table)) cols << quoteIdent(c.name);
        dbSwitch.execute(QStringLiteral("CREATE TABLE %1 (%2, CONSTRAINT PrimaryKey PRIMARY KEY (zonecode, feerateid, feeratetype))")
                             .arg(dbSwitch.qualified(work), ModSwitch::ColumnDefinitions(dbSwitch, table)));
        dbSwitch.execute(QStringLiteral("INSERT INTO %1 (%3) SELECT %3 FROM %2")
                             .arg(dbSwitch.qualified(work), dbSwitch.qualified(table), cols.join(',')));
        dbSwitch.execute(QStringLiteral("DROP TABLE %1").arg(dbSwitch.qualified(table)));
        dbSwitch.execute(QStringLiteral("ALTER TABLE %1 RENAME TO %2")
                             .arg(dbSwitch.qualified(work), quoteIdent(table)));
        for (const QString& sql : otherIndexes) dbSwitch.execute(sql);
        tx.commit();
    } catch (const DbError&) {
        // Stops silently; what was done stays done, the table keeps its rows.
    }
}

void UpgradeV154() {
    QString failure;
    if (TryUpgradeV154(&failure)) return;
    core::Notify(failure + QStringLiteral("升级V1.5.4失败!"), platform::mbOKOnly, QStringLiteral("警告"));
    core::EndStation();
}

bool TryUpgradeV154(QString* failure) {
    try {
        // An empty right list is a valid value of every text column of our
        // files: Worker.RightList needs no change.

        bool extDepositNew = false;
        {
            platform::Transaction tx(dbSwitch);
            const int r = CreateTable(dbSwitch, QStringLiteral("ExtDeposit"), false);
            if (r == 0) throw DbError(platform::kErrGeneric, QString());
            extDepositNew = r == 2;
            // One row per extension port; completes a seeding an older start left unfinished.
            for (int n = 0; n <= 119; ++n)
                dbSwitch.execute(QStringLiteral("insert into extdeposit(address) select ? "
                                                "where not exists (select 1 from extdeposit where address=?)"),
                                 {n, n});
            tx.commit();
        }

        const int history = CreateTable(dbSwitch, QStringLiteral("ExtDepositHistory"), false);
        if (history == 0) throw DbError(platform::kErrGeneric, QString());
        if (history == 2 || extDepositNew) RemoveBak(DataPath, QStringLiteral("switch.mdb.bak"));

        const QString rootDir = platform::resolveCI(AppPath, QStringLiteral("data"));
        const QString rootPath = platform::resolveCI(rootDir, QStringLiteral("switch.mdb"));
        int terminal = 0;
        if (dbSwitch.isOpen() && sameFile(rootPath, dbSwitch.path())) {
            // The default site lives in the root directory: one connection for one file.
            terminal = CreateTable(dbSwitch, QStringLiteral("Terminal"), false);
        } else {
            Database root = Database::open(rootPath);
            terminal = CreateTable(root, QStringLiteral("Terminal"), false);
            root.close();
        }
        if (terminal == 0) throw DbError(platform::kErrGeneric, QString());
        if (terminal == 2) RemoveBak(rootDir, QStringLiteral("switch.mdb.bak"));

        platform::Transaction tx(dbSwitch);
        dbSwitch.execute(QStringLiteral("update rightlist set rightname=? where rightid=29"), {QStringLiteral("IP公话参数")});
        const QList<QPair<int, QString>> rights = {
            {30, QStringLiteral("上传话单")}, {31, QStringLiteral("分机押金参数")}, {32, QStringLiteral("站点管理")}};
        for (const auto& r : rights)
            dbSwitch.execute(QStringLiteral("insert into rightlist(rightid,rightname) select ?,? "
                                            "where not exists (select 1 from rightlist where rightid=?)"),
                             {r.first, r.second, r.first});
        tx.commit();
        return true;
    } catch (const DbError& e) {
        if (failure) *failure = platform::OperatorText(e);
        return false;
    }
}

bool UpgradeStationDb(QString* failure) {
    UpgradeFeeRateKey();
    try {
        // Data directories from before the settlement table get it here.
        billing::EnsureBalanceTable(dbSwitch);
    } catch (const DbError&) {
    }
    try {
        params::EnsureExtCountView(dbSwitch);
    } catch (const DbError&) {
    }
    if (SwitchModel != 2) return true;
    if (!failure) {
        UpgradeV154();
        return true;
    }
    return TryUpgradeV154(failure);
}

}  // namespace ModUpgrade
