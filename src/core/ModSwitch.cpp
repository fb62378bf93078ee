#include "core/ModSwitch.h"

#include "console/frmPABX.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "platform/AppExit.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Prompts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cmath>

namespace ModSwitch {

using platform::Database;
using platform::DbError;
using platform::Recordset;

namespace {
const QString kPhoneCurSchema = QStringLiteral("phonecur");

// Names of the local prefix kinds, by kind number.
const char* const kLanHeadTypes =
    "话务台参数,话务台功能,话务台语音,限拨号,国际长途,国内长途,长途出局,BP机,,特服号,网间,信息台,本地局号,本地出局,,"
    "转移局向,间接出局,指定出局,用户功能码,用户语音码,本局1,本局2,本局3,本局4,本局5,本局6,本局7,本局8,本局9,"
    "本局闭锁,呼叫话务台,分机代接码,缩位码";

// A settings text as a Boolean: "True"/"False" in any case, or a number
// (non-zero is True). Anything else, empty included, reads as False.
bool settingBool(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) return true;
    if (t.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0) return false;
    bool ok = false;
    const double d = t.toDouble(&ok);
    return ok && d != 0.0;
}

// A settings text as a 16-bit Integer, rounded to even as the station converts;
// empty, unconvertible or out-of-range text reads as 0.
int settingInt(const QString& text) {
    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(d)) return 0;
    const double r = std::nearbyint(d);
    if (r < -32768 || r > 32767) return 0;
    return static_cast<int>(r);
}
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

void LoadSysPara() {
    // The station waits for the switch's first frame before it waits for acknowledgements.
    // TODO(link): ModComm::ResetLink() empties the rings here once the link lands.
    g_NoAnswerCount = 10;
    FreeAllSlots();

    PrnType = settingBool(GetVariant(QStringLiteral("PrnType"), QString()));
    PrnHD = settingInt(GetVariant(QStringLiteral("PrnHD"), QString()));
    SHPrnHD = settingBool(GetVariant(QStringLiteral("SHPrnHD"), QString()));
    TransferDisplay = settingInt(GetVariant(QStringLiteral("TransferDisplay"), QStringLiteral("0")));
    TransferCharge = settingInt(GetVariant(QStringLiteral("TransferCharge"), QStringLiteral("0")));
    FeeHDTime = settingInt(GetVariant(QStringLiteral("FeeHDTime"), QStringLiteral("0")));
    FeeType = settingInt(GetVariant(QStringLiteral("FeeType"), QStringLiteral("0")));
    frmPABX::instance().ComA->setCommPort(settingInt(GetVariant(QStringLiteral("CommPort"), QStringLiteral("1"))));
    g_MonitorOn = settingBool(GetVariant(QStringLiteral("BILLMONITORED"), QStringLiteral("0")));
    AppName = GetVariant(QStringLiteral("AppName"), QStringLiteral("DE Duzariv"));
    AppCompany = GetVariant(QStringLiteral("APPCOMPANY"), QStringLiteral("本公司"));

    QString title = QCoreApplication::applicationName();
    if (title.isEmpty()) title = QStringLiteral("DE Duzariv");
    SetVariant(QStringLiteral("APPTITLE"), title);

    // Wake-up and log rows older than 90 days go; those of the 90th day stay.
    const QString limit = platform::Now().date().addDays(-90).toString(QStringLiteral("yyyy-MM-dd"));
    {
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute(QStringLiteral("delete from awake where servetime<?"), {limit});
        dbSwitch.execute(QStringLiteral("delete from tab_oplog where f_date<?"), {limit});
        tx.commit();
    }

    ModGeneral::SplitStr(QString::fromUtf8(kLanHeadTypes), LanHeadTypeList, QStringLiteral(","));
}

void LoadMonRes() {
    Recordset rs = dbSwitch.query(QStringLiteral("select * from monres"));
    MonRes.clear();
    MonRes.resize(rs.recordCount() + 1);
    int i = 0;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext(), ++i) {
        MonRes[i].channelpicture = static_cast<int>(rs.lng(QStringLiteral("channelpicture")));
        MonRes[i].channeltext = rs.str(QStringLiteral("channeltext"));
        MonRes[i].userpicture = static_cast<int>(rs.lng(QStringLiteral("userpicture")));
        MonRes[i].Usertext = rs.str(QStringLiteral("Usertext"));
    }
}

}  // namespace ModSwitch
