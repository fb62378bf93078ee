#include "core/Schema.h"

#include <QDir>
#include <QFileInfo>

namespace core::schema {

void CreateStation(const platform::Database& sw, const platform::Database& cur, int model) {
    platform::Transaction tx(sw);
    AddCoreSchema(sw, cur, model);
    AddWorkerSchema(sw, cur, model);
    params::AddSchema(sw, cur, model);
    pricing::AddSchema(sw, cur, model);
    billing::AddSchema(sw, cur, model);
    admin::AddSchema(sw, cur, model);
    tx.commit();
}

bool WriteFreshDataDir(const QString& dir, int model, QString* error) {
    if (!QDir().mkpath(dir)) {
        if (error) *error = QStringLiteral("无法建立目录 %1").arg(dir);
        return false;
    }
    const QString swPath = QDir(dir).filePath(QStringLiteral("switch.mdb"));
    const QString curPath = QDir(dir).filePath(QStringLiteral("PhoneCur.mdb"));
    if (QFileInfo::exists(swPath) || QFileInfo::exists(curPath)) {
        if (error) *error = QStringLiteral("数据库已存在: %1").arg(dir);
        return false;
    }
    try {
        platform::Database::create(curPath).close();
        platform::Database sw = platform::Database::create(swPath);
        platform::Database cur = sw.attach(curPath, QStringLiteral("phonecur"));
        CreateStation(sw, cur, model);
        cur.close();
        sw.close();
    } catch (const platform::DbError& e) {
        QFile::remove(swPath);
        QFile::remove(curPath);
        if (error) *error = e.text();
        return false;
    }
    return true;
}

}  // namespace core::schema
