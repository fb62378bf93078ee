#pragma once
// The pricing records held in every call-supervision slot: one fee rate, one
// discount time segment, and the day rule of a discount scheme.
#include "platform/Currency.h"

#include <QStringList>
#include <QTime>

struct RateRec {
    int firsttime = 0;
    platform::Currency firstprice;
    int pertime = 600;
    platform::Currency perprice = platform::Currency::fromRaw(5000);
    platform::Currency poundage;
    int poundagerate = 0;
    platform::Currency extrafee;
    int extrarate = 0;
    int discountid = 1;
    bool extradiscount = false;
    bool poundagediscount = false;
    QString summary;
};

struct DiscountSeg {
    QTime starttime;
    QTime endtime;
    int normaldiscount = 100;
    int holidaydiscount = 100;
};

struct DayRule {
    bool saturdaydiscount = false;
    bool sundaydiscount = false;
    // The scheme's holiday dates ("MM-dd"), read when the rule is loaded.
    QStringList dates;
    int discountid = 0;
};
