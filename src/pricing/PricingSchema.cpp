#include "core/books/ChargeLog.h"
#include "core/Schema.h"

namespace pricing {

// Tables of this subsystem in a fresh station: the tariffs in "switch.mdb", the
// priced and rejected calls in "PhoneCur.mdb", and the wake-up log.
void AddSchema(const platform::Database& sw, const platform::Database& cur, int model) {
    (void)model;

    // Fee rates. Physical column order matters: the rate editor inserts by position.
    // pertime is a divisor of the fee calculation, so it is never below 1; a row given
    // only its key columns (a new IP rate type's defaults) prices in minutes under scheme 1.
    sw.execute(
        "CREATE TABLE feerate ("
        "zonecode TEXT(16) NOT NULL, summary TEXT(50), "
        "firsttime INTEGER NOT NULL DEFAULT 0, firstprice CURRENCY NOT NULL DEFAULT 0, "
        "pertime INTEGER NOT NULL DEFAULT 60 CHECK (pertime >= 1), perprice CURRENCY NOT NULL DEFAULT 0, "
        "extrafee CURRENCY NOT NULL DEFAULT 0, extrarate INTEGER NOT NULL DEFAULT 0, "
        "poundage CURRENCY NOT NULL DEFAULT 0, poundagerate INTEGER NOT NULL DEFAULT 0, "
        "discountid INTEGER NOT NULL DEFAULT 1, extradiscount BOOLEAN NOT NULL DEFAULT 0, "
        "poundagediscount BOOLEAN NOT NULL DEFAULT 0, feeratetype BYTE NOT NULL DEFAULT 0, "
        "feerateid LONG NOT NULL DEFAULT 0, "
        "CONSTRAINT PrimaryKey PRIMARY KEY (zonecode, feerateid, feeratetype))");

    sw.execute(
        "CREATE TABLE discount (discountid INTEGER NOT NULL PRIMARY KEY, discountname TEXT(50), "
        "saturdaydiscount BYTE NOT NULL DEFAULT 0, sundaydiscount BYTE NOT NULL DEFAULT 0, summary TEXT(50))");
    // Holiday dates as "MM-dd": only month and day are ever compared.
    sw.execute(
        "CREATE TABLE discountdate (discountid INTEGER NOT NULL DEFAULT 1, discountdate TEXT(10), summary TEXT(50))");
    sw.execute("CREATE INDEX discountdate_id ON discountdate (discountid)");
    // Times of day as "HH:mm:ss"; a percent is the share of the price charged.
    sw.execute(
        "CREATE TABLE discounttimes (discountid INTEGER NOT NULL DEFAULT 1, position INTEGER NOT NULL DEFAULT 0, "
        "starttime TEXT(8), endtime TEXT(8), normaldiscount INTEGER NOT NULL DEFAULT 100, "
        "holidaydiscount INTEGER NOT NULL DEFAULT 100)");
    sw.execute("CREATE INDEX discounttimes_id ON discounttimes (discountid, position)");

    sw.execute(
        "CREATE TABLE ipfeerate (ipfeerateid LONG NOT NULL PRIMARY KEY, ipfeeratename TEXT(50), summary TEXT(50))");

    // IP access prefixes; columns 4 to 11 are read by position by the IP-head editor.
    sw.execute(
        "CREATE TABLE iphead (iphead TEXT(15) NOT NULL PRIMARY KEY, summary TEXT(50), "
        "ipfeerate LONG NOT NULL DEFAULT 0, "
        "firsttime INTEGER NOT NULL DEFAULT 0, firstprice CURRENCY NOT NULL DEFAULT 0, "
        "pertime INTEGER NOT NULL DEFAULT 60 CHECK (pertime >= 1), perprice CURRENCY NOT NULL DEFAULT 0, "
        "extrafee CURRENCY NOT NULL DEFAULT 0, extrarate INTEGER NOT NULL DEFAULT 0, "
        "poundage CURRENCY NOT NULL DEFAULT 0, poundagerate INTEGER NOT NULL DEFAULT 0, "
        "extradiscount BOOLEAN NOT NULL DEFAULT 0, poundagediscount BOOLEAN NOT NULL DEFAULT 0, "
        "discountid INTEGER NOT NULL DEFAULT 1, showipheadonly BOOLEAN NOT NULL DEFAULT 0)");

    sw.execute(
        "CREATE TABLE awake (flewno INTEGER PRIMARY KEY, Address INTEGER NOT NULL DEFAULT 0, servetime DATETIME, "
        "servetype BYTE NOT NULL DEFAULT 0)");

    // The default scheme: full price at every time of every day.
    sw.execute("INSERT INTO discount VALUES (1, ?, 0, 0, ?)", {QStringLiteral("默认方案"), QStringLiteral("")});
    sw.execute("INSERT INTO discounttimes VALUES (1, 1, '00:00:00', '00:00:00', 100, 100)");

    // Priced calls, in the column order the engine inserts by.
    cur.execute(QStringLiteral(
        "CREATE TABLE %1 (f_calladdr INTEGER NOT NULL DEFAULT 0, f_zjaddr INTEGER NOT NULL DEFAULT 0, "
        "f_date DATETIME, f_long LONG NOT NULL DEFAULT 0, f_rectype INTEGER NOT NULL DEFAULT 0, "
        "f_moneny CURRENCY NOT NULL DEFAULT 0, f_flag INTEGER NOT NULL DEFAULT 0, f_resp TEXT(40), f_zh TEXT(4), "
        "f_indjh TEXT(4), f_phmode BYTE NOT NULL DEFAULT 0, f_addfee1 CURRENCY NOT NULL DEFAULT 0, "
        "f_addfee2 CURRENCY NOT NULL DEFAULT 0, f_gatefee CURRENCY NOT NULL DEFAULT 0, "
        "f_linkfee CURRENCY NOT NULL DEFAULT 0, f_memo TEXT(50), f_userid LONG NOT NULL DEFAULT 0, "
        "f_yj CURRENCY NOT NULL DEFAULT 0)").arg(cur.qualified("Tab_Phone")));
    cur.execute(QStringLiteral("CREATE INDEX %1 ON Tab_Phone (f_calladdr, f_date)").arg(cur.qualified("Tab_Phone_call")));
    cur.execute(QStringLiteral("CREATE INDEX %1 ON Tab_Phone (f_userid, f_date)").arg(cur.qualified("Tab_Phone_user")));
    ModSwitch::CreateChargeLog(cur);
    // Rejected records keep the frame's fields as text: a rejected date may be no date at all.
    cur.execute(QStringLiteral(
        "CREATE TABLE %1 (f_FlewNO INTEGER PRIMARY KEY, f_calladdr INTEGER NOT NULL DEFAULT 0, "
        "f_zjaddr INTEGER NOT NULL DEFAULT 0, f_date DATETIME, f_long TEXT(10), f_resp TEXT(40), f_zh TEXT(4))")
                    .arg(cur.qualified("tab_errPh")));
}

}  // namespace pricing
