#include "core/ModSwitch.h"

#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "platform/AppExit.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Prompts.h"

#include <QFileInfo>

namespace ModSwitch {

using platform::Database;
using platform::DbError;
using platform::Recordset;

namespace {
const QString kPhoneCurSchema = QStringLiteral("phonecur");
}  // namespace

// ------------------------------------------------------------------ opening

bool OpenDB(const QString& path, Database& db) {
    const bool attachToSwitch = &db == &dbPhoneCur;
    bool result = true;
    for (;;) {
        try {
            const QString file = platform::resolvePathCI(path);
            if (db.isOpen()) db.close();
            if (attachToSwitch) {
                if (!dbSwitch.isOpen()) throw DbError(platform::kErrClosed, QStringLiteral("数据库未打开"));
                db = dbSwitch.attach(file, kPhoneCurSchema);
            } else {
                db = Database::open(file);
            }
            return result;
        } catch (const DbError& e) {
            result = false;
            db = Database();
            const int answer = platform::MsgBox(e.text() + QStringLiteral(",要终止程序吗"), platform::mbYesNo,
                                                QStringLiteral("警告"));
            if (answer == platform::rYes) platform::EndProgram(0);
            // Nothing may go on without its database: wait and try again.
            ModGeneral::Delay(1000);
        }
    }
}

void OpenSharedRecordsets() {
    rsUser = dbSwitch.openTable(QStringLiteral("user"));
    rsFeeRate = dbSwitch.query(QStringLiteral("select * from feerate order by zonecode desc"));
    rsIPHead = dbSwitch.openTable(QStringLiteral("iphead"));
    if (!rsUser.findFirst(QStringLiteral("userid"), 0)) {
        dbSwitch.execute(QStringLiteral("insert into user(userid,username,lastdate) values(0,?,?)"),
                         {QStringLiteral("默认用户"), platform::Now()});
        rsUser.requery();
    }
}

void OpenAllDB(bool bOpen) {
    if (bOpen) {
        OpenDB(DataPath + QStringLiteral("switch.mdb"), dbSwitch);
        OpenDB(DataPath + QStringLiteral("PhoneCur.mdb"), dbPhoneCur);
        OpenSharedRecordsets();
    } else {
        rsUser.close();
        rsFeeRate.close();
        rsIPHead.close();
        dbSwitch.close();
        dbPhoneCur.close();
    }
}

// ------------------------------------------------------------------ lists

int GetRecordCount(Recordset& rs) {
    if (!rs.isOpen() || rs.recordCount() < 1) return 0;
    rs.moveLast();
    rs.moveFirst();
    return rs.recordCount();
}

void GetRsArray(const QString& sql, QStringList& arr, const Database& db, bool bPair) {
    Recordset rs = db.query(sql);
    if (rs.empty()) return;
    QStringList out;
    out.reserve(rs.recordCount());
    const bool spring = bPair && rs.fieldCount() > 1 &&
                        rs.fieldName(1).compare(QStringLiteral("SpringNum"), Qt::CaseInsensitive) == 0;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QString first = rs.value(0).toString();
        if (!bPair) out << first;
        else if (spring) out << first + rs.value(1).toString();
        else out << first + QStringLiteral("-") + (rs.fieldCount() > 1 ? rs.value(1).toString() : QString());
    }
    arr = out;
}

QString RsValuesList(Recordset& rs, int kind) {
    QString list;
    if (!rs.isOpen()) return list;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QVariant v = rs.value(0);
        switch (kind) {
        case 0: list += QStringLiteral(",") + v.toString(); break;
        case 1: {
            // Quoted as an SQL text literal; a quote inside is doubled, so the
            // list can never end the literal early.
            QString t = v.toString();
            t.replace(QLatin1Char('\''), QStringLiteral("''"));
            list += QStringLiteral(",'") + t + QStringLiteral("'");
            break;
        }
        case 2: {
            // Dates are stored as text: a date list is a list of date texts.
            const QDateTime t = platform::parseDate(v);
            QString s = t.isValid() ? platform::dateText(t) : v.toString();
            s.replace(QLatin1Char('\''), QStringLiteral("''"));
            list += QStringLiteral(",'") + s + QStringLiteral("'");
            break;
        }
        default: break;
        }
    }
    return list.mid(1);
}

// ------------------------------------------------------------------ settings

QString GetVariant(const QString& key, const QString& defaultValue) {
    const QVariant v = dbSwitch.scalar(QStringLiteral("select value from variant where varname=?"), {key});
    if (v.isNull() || v.toString().isEmpty()) return defaultValue;
    return v.toString();
}

void SetVariant(const QString& key, const QString& value) {
    platform::Transaction tx(dbSwitch);
    dbSwitch.execute(QStringLiteral("delete from variant where varname=?"), {key});
    dbSwitch.execute(QStringLiteral("insert into Variant(varname,value) values(?,?)"), {key, value});
    tx.commit();
}

}  // namespace ModSwitch
