#include "core/Settings.h"

#include "core/ModDefine.h"
#include "core/ModGeneralText.h"
#include "link/ModComm.h"
#include "platform/Clock.h"
#include "platform/Comm.h"
#include "platform/Db.h"

#include <QCoreApplication>
#include <cmath>

namespace ModSwitch {

using platform::Recordset;

namespace {
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

const QString kSettingsTable = QStringLiteral("Variant");

QString GetVariant(const platform::Database& db, const QString& key, const QString& defaultValue, const QString& table) {
    const QVariant v = db.scalar(QStringLiteral("select value from %1 where varname=?").arg(db.qualified(table)), {key});
    if (v.isNull() || v.toString().isEmpty()) return defaultValue;
    return v.toString();
}

void SetVariant(const platform::Database& db, const QString& key, const QString& value, const QString& table) {
    // A table without a unique key may hold a key twice (older files): all of them go.
    const QString t = db.qualified(table);
    platform::Transaction tx(db);
    db.execute(QStringLiteral("delete from %1 where varname=?").arg(t), {key});
    db.execute(QStringLiteral("insert into %1(varname,value) values(?,?)").arg(t), {key, value});
    tx.commit();
}

void SetVariants(const platform::Database& db, const QList<QPair<QString, QString>>& values, const QString& table) {
    platform::Transaction tx(db);
    for (const auto& [key, value] : values) SetVariant(db, key, value, table);
    tx.commit();
}

void RemoveVariant(const platform::Database& db, const QString& key, const QString& table) {
    db.execute(QStringLiteral("delete from %1 where varname=?").arg(db.qualified(table)), {key});
}

QString GetVariant(const QString& key, const QString& defaultValue) { return GetVariant(dbSwitch, key, defaultValue); }

void SetVariant(const QString& key, const QString& value) { SetVariant(dbSwitch, key, value); }

void SetVariants(const QList<QPair<QString, QString>>& values) { SetVariants(dbSwitch, values); }

void LoadSysPara() {
    // Empty rings; the station waits for the switch's first frame before it
    // waits for acknowledgements (g_NoAnswerCount 10).
    ModComm::ResetLink();
    FreeAllSlots();

    PrnType = settingBool(GetVariant(QStringLiteral("PrnType"), QString()));
    PrnHD = settingInt(GetVariant(QStringLiteral("PrnHD"), QString()));
    SHPrnHD = settingBool(GetVariant(QStringLiteral("SHPrnHD"), QString()));
    TransferDisplay = settingInt(GetVariant(QStringLiteral("TransferDisplay"), QStringLiteral("0")));
    TransferCharge = settingInt(GetVariant(QStringLiteral("TransferCharge"), QStringLiteral("0")));
    FeeHDTime = settingInt(GetVariant(QStringLiteral("FeeHDTime"), QStringLiteral("0")));
    FeeType = settingInt(GetVariant(QStringLiteral("FeeType"), QStringLiteral("0")));
    ModComm::ComA().setCommPort(settingInt(GetVariant(QStringLiteral("CommPort"), QStringLiteral("1"))));
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
