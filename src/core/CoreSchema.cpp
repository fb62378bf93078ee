#include "core/Schema.h"
#include "core/Settings.h"

#include <QPair>
#include <QStringList>

namespace core::schema {

void AddCoreSchema(const platform::Database& sw, const platform::Database& cur, int model) {
    (void)cur;
    sw.execute("CREATE TABLE Variant (varname TEXT(50) NOT NULL COLLATE NOCASE, value TEXT(255))");
    sw.execute("CREATE INDEX i_varname ON Variant (varname)");
    sw.execute("CREATE TABLE tab_oplog (f_date DATETIME, f_workerid TEXT(4), f_workername TEXT(20), f_memo TEXT(255))");
    sw.execute("CREATE INDEX i_oplog_date ON tab_oplog (f_date)");

    // The settings the station reads without a default, and the defaults of
    // the system parameters, so that a new station starts as it would run.
    const QList<QPair<QString, QString>> settings = {
        {"SWITCHMODEL", QString::number(model)},
        {"CommPort", "1"},
        {"CommSet", "9600,N,8,1"},
        {"CHKUSEUSB", "0"},
        // Talk-time limits in seconds, in the settings window's order; 0 = none.
        {"Limit", "0,0,0,0,0,0,0,0"},
        // Transfer start and end signs, clear-transfer command, hunting and clear switches.
        {"SelCmd", ",,,0,0"},
        {"PrnType", "False"},
        {"PrnHD", "2"},
        {"SHPrnHD", "False"},
        {"Deposit0", "0"},
        {"Deposit1", "0"},
        {"Deposit2", "0"},
        {"Deposit3", "0"},
        {"TransferDisplay", "0"},
        {"TransferCharge", "0"},
        {"FeeHDTime", "0"},
        {"FeeType", "0"},
        {"BILLMONITORED", "0"},
        {"AppName", "DE Duzariv"},
        {"APPCOMPANY", "本公司"},
        // The last entry of the call file's charge log applied to the balances.
        {"TarvoChargeApplied", "0"},
    };
    ModSwitch::SetVariants(sw, settings);
}

}  // namespace core::schema
