#include "billing/BillQuery.h"

#include <QStringList>

namespace billing {

namespace {

QString marks(int n) {
    QStringList m;
    m.reserve(n);
    for (int i = 0; i < n; ++i) m << QStringLiteral("?");
    return m.join(',');
}

// LIKE with the prefix's own wildcards taken literally.
QString likePrefix(const QString& prefix) {
    QString out;
    for (QChar c : prefix) {
        if (c == '%' || c == '_' || c == '\\') out += '\\';
        out += c;
    }
    return out + '%';
}

// Whether a call was made with an account, by the rule the settlement charges
// it by: an account field of blanks, empty or NULL is a call of the extension.
const QString kWithAccount = QStringLiteral(" AND ifnull(rtrim(f_zh,' '),'')<>''");
const QString kWithoutAccount = QStringLiteral(" AND ifnull(rtrim(f_zh,' '),'')=''");

}  // namespace

QString ObjectKeyColumn(int kind) {
    switch (kind) {
    case kObjAccounts: return QStringLiteral("f_zh");
    case kObjExtensions: return QStringLiteral("f_calladdr");
    default: return QStringLiteral("f_userid");
    }
}

QString CallTypeName(int phmode) {
    static const char* const names[11] = {"国际长途", "国际地区", "国内长途", "省内长途", "移动通讯", "网间电话",
                                          "信息台",   "本地市话", "IP电话",   "本局电话", "被叫电话"};
    return phmode >= 0 && phmode <= 10 ? QString::fromUtf8(names[phmode]) : QString();
}

QString BillCondition::where(platform::Params& p, const QString& userTable) const {
    QString w = QStringLiteral("f_date<=? AND f_date>=?");
    p << end << start;
    const QString deletedPart = QStringLiteral("f_userid NOT IN (SELECT userid FROM %1)").arg(userTable);
    if (everyAccount) {
        w += kWithAccount;
    } else if (!everyObject) {
        if (!ids.isEmpty()) {
            w += QStringLiteral(" AND (%1 IN (%2)").arg(ObjectKeyColumn(objectKind), marks(ids.size()));
            for (const QVariant& v : ids) p << v;
            if (deleted) w += QStringLiteral(" OR ") + deletedPart;
            w += ')';
        } else if (deleted) {
            w += QStringLiteral(" AND ") + deletedPart;
        }
        if (objectKind == kObjAccounts) w += kWithAccount;
    }
    if (!categories.isEmpty()) {
        w += QStringLiteral(" AND f_phmode IN (%1)").arg(marks(categories.size()));
        for (int c : categories) p << c;
    }
    if (!calledPrefix.isEmpty()) {
        w += QStringLiteral(" AND f_resp LIKE ? ESCAPE '\\'");
        p << likePrefix(calledPrefix);
    }
    if (minSeconds != 0) {
        w += QStringLiteral(" AND f_long>=?");
        p << minSeconds;
    }
    if (maxSeconds != 0) {
        w += QStringLiteral(" AND f_long<=?");
        p << maxSeconds;
    }
    if (!accountCalls) w += kWithoutAccount;
    return w;
}

}  // namespace billing
