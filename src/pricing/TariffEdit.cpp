#include "pricing/TariffEdit.h"

#include <QRegularExpression>

namespace pricing {

bool IsZoneCode(const QString& t) {
    static const QRegularExpression re(QStringLiteral("^[0-9]{1,16}$"));
    return re.match(t).hasMatch();
}

bool IsNumber(const QString& t) {
    static const QRegularExpression re(QStringLiteral("^[+-]?([0-9]+(\\.[0-9]+)?|\\.[0-9]+)$"));
    return re.match(t).hasMatch();
}

platform::Currency LeadingNumber(const QString& t) {
    static const QRegularExpression re(QStringLiteral("^\\s*([+-]?)([0-9]*)(\\.([0-9]*))?"));
    const auto m = re.match(t);
    QString intPart = m.captured(2), frac = m.captured(4);
    if (intPart.isEmpty() && frac.isEmpty()) return {};
    // Beyond what any tariff field holds; keeps the parse within range.
    if (intPart.size() > 12) intPart = QStringLiteral("999999999999");
    const QString text = m.captured(1) + (intPart.isEmpty() ? QStringLiteral("0") : intPart) +
                         (frac.isEmpty() ? QString() : QStringLiteral(".") + frac.left(8));
    return platform::Currency::parse(text).value_or(platform::Currency());
}

qint64 LeadingWhole(const QString& t) { return LeadingNumber(t).round(0).raw() / platform::Currency::kScale; }

QRegularExpression WildcardPattern(const QString& pattern) {
    QString re;
    for (const QChar c : pattern) {
        if (c == QLatin1Char('*')) re += QStringLiteral(".*");
        else if (c == QLatin1Char('?')) re += QLatin1Char('.');
        else re += QRegularExpression::escape(QString(c));
    }
    QRegularExpression rx(QRegularExpression::anchoredPattern(re),
                          QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    rx.optimize();
    return rx;
}

bool WildcardMatch(const QString& pattern, const QString& text) { return WildcardPattern(pattern).match(text).hasMatch(); }

namespace {
QString yesNo(bool b) { return b ? QStringLiteral("是") : QStringLiteral("否"); }
}  // namespace

QString FeeRateRowText(const platform::Recordset& rs) {
    const QChar tab(9);
    QStringList cells{rs.str("zonecode"),
                      rs.str("summary"),
                      QString::number(rs.lng("firsttime")) + QLatin1Char('s'),
                      rs.cur("firstprice").toString2(),
                      QString::number(rs.lng("pertime")) + QLatin1Char('s'),
                      rs.cur("perprice").toString2(),
                      rs.cur("extrafee").toString2(),
                      QString::number(rs.lng("extrarate")) + QLatin1Char('%'),
                      rs.cur("poundage").toString2(),
                      QString::number(rs.lng("poundagerate")) + QLatin1Char('%'),
                      rs.str("discountname"),
                      yesNo(rs.boolean("extradiscount")),
                      yesNo(rs.boolean("poundagediscount"))};
    return cells.join(tab);
}

GridValue FeeGridValue(const QString& title, const QString& typed) {
    GridValue v;
    const QString t = title.trimmed();
    if (t == QStringLiteral("首次时长") || t == QStringLiteral("每次时长")) {
        const qint64 low = t == QStringLiteral("每次时长") ? 1 : 0;
        const qint64 n = qBound<qint64>(low, LeadingWhole(typed), 255);
        v.display = QString::number(n) + QLatin1Char('s');
        v.value = platform::Param(static_cast<long long>(n));
    } else if (t == QStringLiteral("首次价格") || t == QStringLiteral("每次价格") || t == QStringLiteral("附加费1") ||
               t == QStringLiteral("手续费1")) {
        platform::Currency c = LeadingNumber(typed);
        c = qBound(platform::Currency(), c, platform::Currency::fromYuan(999));
        // The price charged is the price shown.
        c = c.round(2);
        v.display = c.toString2();
        v.value = platform::Param(c);
    } else if (t == QStringLiteral("附加费2") || t == QStringLiteral("手续费2")) {
        const platform::Currency c = LeadingNumber(typed);
        qint64 n = c.round(0).raw() / platform::Currency::kScale;
        if (c < platform::Currency() || c > platform::Currency::fromYuan(100)) n = 100;
        v.display = QString::number(n) + QLatin1Char('%');
        v.value = platform::Param(static_cast<long long>(n));
    } else {
        v.display = typed;
        v.value = platform::Param(typed);
    }
    return v;
}

QString FeeRateColumn(int gridCol) {
    static const char* const cols[] = {"zonecode", "summary",  "firsttime",    "firstprice",   "pertime",
                                       "perprice", "extrafee", "extrarate",    "poundage",     "poundagerate",
                                       "discountid", "extradiscount", "poundagediscount"};
    return gridCol >= 0 && gridCol < 13 ? QString::fromLatin1(cols[gridCol]) : QString();
}

QString IPLinkText(int index, const QString& typed) {
    switch (index) {
    case 0:
    case 2:
        return QString::number(qMax<qint64>(index == 2 ? 1 : 0, LeadingWhole(typed))) + QLatin1Char('s');
    case 5:
    case 7: {
        const platform::Currency c = LeadingNumber(typed);
        if (c < platform::Currency() || c > platform::Currency::fromYuan(100)) return QStringLiteral("0%");
        return QString::number(c.round(0).raw() / platform::Currency::kScale) + QLatin1Char('%');
    }
    default: {
        const QString t = typed.trimmed();
        if (!IsNumber(t)) return QStringLiteral("0.00");
        return LeadingNumber(t).round(2).toString2();
    }
    }
}

platform::Param IPLinkValue(int index, const QString& text) {
    const QString shown = IPLinkText(index, text);
    if (index == 0 || index == 2 || index == 5 || index == 7) return platform::Param(static_cast<long long>(LeadingWhole(shown)));
    return platform::Param(LeadingNumber(shown));
}

}  // namespace pricing
