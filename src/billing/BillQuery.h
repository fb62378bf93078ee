#pragma once
// What a bill query asks for: the period, the objects, the call categories,
// the called-number prefix, the durations and whether account calls count.
// The query dialog fills it; the result window renders it into SQL whose
// values are all bound.
#include "platform/Db.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariantList>

namespace billing {

// The kinds of object a query is made for (the dialog's optOBJ index).
enum ObjectKind { kObjUsers = 0, kObjDepartments = 1, kObjAccounts = 2, kObjExtensions = 3 };

struct BillCondition {
    QDateTime start, end;          // both bounds included
    int objectKind = kObjUsers;
    bool everyObject = false;      // "全部用户/部门/分机": no object condition
    bool everyAccount = false;     // "全部帐号": every call made with an account
    QVariantList ids;              // user ids, extension addresses or account numbers
    bool deleted = false;          // also the records of users no longer in the user table
    QList<int> categories;         // empty: every category
    QString calledPrefix;          // digits; the called number begins with them
    int minSeconds = 0;            // 0: no lower bound
    int maxSeconds = 0;            // 0: no upper bound
    bool accountCalls = true;      // false: only calls made without an account

    // The condition after WHERE, its values appended to `params`. `userTable`
    // is the qualified name of the station's user table.
    QString where(platform::Params& params, const QString& userTable) const;
};

// One ticked item of the query dialog: the text it is listed with and its key
// in the list ("ALL", "Deposit", "Monthly", "Free", "Delete" or "K" and the
// object's id), which says what it stands for whatever its text.
struct QueryObject {
    QString text;
    QString key;
};

// The record column that identifies an object of the kind: f_userid, f_zh or f_calladdr.
QString ObjectKeyColumn(int kind);
// The name of a call category 0..10 ("国际长途" .. "被叫电话"), "" outside.
QString CallTypeName(int phmode);

// The account text of calls made without an account (stored calls may also
// hold an empty or NULL one: the same).
inline const QString kNoAccount = QStringLiteral("    ");

}  // namespace billing
