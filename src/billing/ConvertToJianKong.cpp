#include "billing/ConvertToJianKong.h"

#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/ModUpgrade.h"
#include "core/frmProgress.h"
#include "platform/Clock.h"

#include <QHash>

using platform::Currency;
using platform::Database;
using platform::Recordset;

namespace billing {

namespace {

// Rows written in one transaction between two yields.
constexpr int kBatch = 100;

Currency moneyOf(const Recordset& rs, const QString& name) { return rs.cur(name); }

}  // namespace

int ConvertToJianKong(const Database& dbSrc, const Database& dbDst, const QString& tableName) {
    if (ModUpgrade::CreateTable(dbDst, QStringLiteral("JianKong"), false) == 0) return 0;
    const QString target = dbDst.qualified(dbDst.actualTableName(QStringLiteral("JianKong")));
    const qint64 first = dbDst.scalar(QStringLiteral("SELECT max(Number) FROM %1").arg(target)).toLongLong() + 1;
    const QString source = dbSrc.actualTableName(tableName).isEmpty() ? tableName : dbSrc.actualTableName(tableName);
    Recordset rs = dbSrc.query(QStringLiteral("SELECT * FROM %1 ORDER BY f_date DESC").arg(dbSrc.qualified(source)));
    const int n = rs.recordCount();

    QHash<qint64, QString> users, extensions;
    {
        Recordset u = dbSwitch.query(QStringLiteral("SELECT userid, username FROM user"));
        for (u.moveFirst(); !u.eof(); u.moveNext()) users.insert(u.value(0).toLongLong(), u.value(1).toString());
        Recordset x = dbSwitch.query(QStringLiteral("SELECT address, txhm FROM que_txhm"));
        for (x.moveFirst(); !x.eof(); x.moveNext())
            if (!extensions.contains(x.value(0).toLongLong())) extensions.insert(x.value(0).toLongLong(), x.value(1).toString());
    }

    frmProgress& prog = frmProgress::instance();
    prog.LoadProgress(QStringLiteral("正在转换"), true, static_cast<qint32>(first + n), static_cast<qint32>(first), false);
    const QString insert = QStringLiteral("INSERT INTO %1 (Number, Calling, Unit, Called, CalledArea, PhoneDate, BeginTime, "
                                          "CostTime, JinE, YaJin, Pay, ServiceFee, AddtionFee, ZHMiMa, ZhongJiNum) "
                                          "VALUES (?,?,?,?,?,?,?,?,?,0,?,?,?,'',?)")
                               .arg(target);
    struct Guard {
        ~Guard() { frmProgress::unload(); }
    } unloadProgress;
    qint64 number = first;
    rs.moveFirst();
    while (!rs.eof() && !prog.bStop) {
        {
            // One batch commits before the yield that lets Stop be pressed.
            platform::Transaction t(dbDst);
            for (int k = 0; k < kBatch && !rs.eof(); ++k, rs.moveNext(), ++number) {
                prog.setpValue(-1, QString());
                const QDateTime when = rs.date(QStringLiteral("f_date"));
                const Currency add = moneyOf(rs, QStringLiteral("f_addfee1")) + moneyOf(rs, QStringLiteral("f_addfee2"));
                const Currency gate = moneyOf(rs, QStringLiteral("f_gatefee"));
                const Currency amount = add + gate + moneyOf(rs, QStringLiteral("f_linkfee"));
                const QString amountText = amount.toPlainString();
                dbDst.execute(insert,
                              {number, extensions.value(rs.lng(QStringLiteral("f_calladdr")), QStringLiteral("****")),
                               users.value(rs.lng(QStringLiteral("f_userid"))), rs.str(QStringLiteral("f_resp")),
                               rs.str(QStringLiteral("f_memo")), when.toString(QStringLiteral("yyyy-MM-dd")),
                               when.toString(QStringLiteral("HH:mm:ss")),
                               ModGeneral::StrToTime(static_cast<qint32>(rs.lng(QStringLiteral("f_long")) % 86400))
                                   .toString(QStringLiteral("HH:mm:ss")),
                               amountText, amountText, gate.toPlainString(), add.toPlainString(),
                               rs.lng(QStringLiteral("f_zjaddr"))});
            }
            t.commit();
        }
        platform::YieldEvents();
    }
    return 0;
}

}  // namespace billing
