#include "billing/frmDetial.h"

#include "billing/BillingSeams.h"
#include "billing/Settlement.h"
#include "billing/frmBalanceBill.h"
#include "core/ModDefine.h"
#include "platform/GridText.h"
#include "platform/Twips.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <memory>

using platform::Currency;
using platform::Recordset;

namespace billing {

QString RentHeader() { return QStringLiteral("|月租费  "); }
QString DetailHeader() { return QStringLiteral("|基本费     |附加费1  |附加费2  |手续费  |IP接入费  "); }
QString TypeHeader(bool blankAfterIp) {
    return QStringLiteral("|国际长途|国际地区|国内长途|省内长途|移动通讯|网间话费|信息台  |市话话费|IP电话%1|本机话费")
        .arg(blankAfterIp ? QStringLiteral(" ") : QString());
}

QString DetailName(int kind, const QString& name) {
    if (kind == kKindAccount) return QStringLiteral("帐号:") + name;
    QString number;
    try {
        number = dbSwitch.scalar(QStringLiteral("SELECT txhm FROM que_txhm WHERE address=?"), {name.toLongLong()}).toString();
    } catch (const platform::DbError&) {
    }
    return QStringLiteral("分机:") + (number.isEmpty() ? name : number);
}

}  // namespace billing

namespace {
std::unique_ptr<frmDetial> g_instance;
}  // namespace

frmDetial& frmDetial::instance() {
    if (!g_instance) g_instance.reset(new frmDetial);
    return *g_instance;
}
bool frmDetial::exists() { return static_cast<bool>(g_instance); }
void frmDetial::unload() { g_instance.reset(); }

frmDetial::frmDetial(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmDetial"));
    setWindowTitle(QStringLiteral("结算单明细(未付讫)"));
    if (frmBalanceBill::exists()) {
        const frmBalanceBill& b = frmBalanceBill::instance();
        m_Rent = b.RentShown();
        m_Detail = b.DetailShown();
        m_Types = b.TypesShown();
    }
    fgDetial = new platform::FlexGrid(this);
    QString header = QStringLiteral("<名称               |开始时间              |结束时间              |总话费   ");
    if (m_Rent) header += billing::RentHeader();
    if (m_Detail) header += billing::DetailHeader();
    if (m_Types) header += billing::TypeHeader(true);
    fgDetial->setRows(2);
    fgDetial->setFixedRows(1);
    fgDetial->setFormatString(header);
    FraCmd = new QGroupBox(this);
    cmdPrint = new QPushButton(QStringLiteral("打印"), FraCmd);
    cmdExit = new QPushButton(QStringLiteral("关闭"), FraCmd);
    auto* row = new QHBoxLayout(FraCmd);
    row->addStretch();
    row->addWidget(cmdPrint);
    row->addWidget(cmdExit);
    auto* v = new QVBoxLayout(this);
    v->addWidget(fgDetial, 1);
    v->addWidget(FraCmd);
    setMinimumSize(platform::px(9600), platform::px(6500));
    connect(cmdPrint, &QPushButton::clicked, this, [this] { cmdPrint_Click(); });
    connect(cmdExit, &QPushButton::clicked, this, [this] { accept(); });
}

void frmDetial::AddDetial(qint64 userId, const QDateTime& start, const QDateTime& end) {
    // The rows of this period only: the next period has rows of its own.
    Recordset rs = dbSwitch.query(
        QStringLiteral("SELECT * FROM tab_balance WHERE f_isuser=0 AND f_userid=? AND f_starttime>=? AND f_endtime<=? "
                       "ORDER BY f_name"),
        {userId, start, end});
    const int feeCol = m_Rent ? 5 : 4;
    const int typeCol = m_Detail ? feeCol + 5 : feeCol;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const int last = fgDetial->Rows() - 1;
        Currency parts[5];
        Currency total = rs.cur(QStringLiteral("f_rent"));
        for (int k = 0; k < 5; ++k) {
            parts[k] = Currency::fromRaw(rs.value(5 + k).toLongLong());
            total += parts[k];
        }
        const QString name = billing::DetailName(static_cast<int>(rs.lng(QStringLiteral("f_kind"))), rs.str(QStringLiteral("f_name")));
        fgDetial->AddItem(
            platform::GridLine({name, fgDetial->TextMatrix(last, 1), fgDetial->TextMatrix(last, 2), total.toString2()}));
        const int r = fgDetial->Rows() - 1;
        if (m_Rent) fgDetial->setTextMatrix(r, 4, rs.cur(QStringLiteral("f_rent")).toString2());
        if (m_Detail)
            for (int k = 0; k < 5; ++k) fgDetial->setTextMatrix(r, feeCol + k, parts[k].toString2());
        if (m_Types)
            for (int k = 0; k < 10; ++k)
                fgDetial->setTextMatrix(r, typeCol + k, Currency::fromRaw(rs.value(10 + k).toLongLong()).toString2());
    }
}

void frmDetial::cmdPrint_Click() { billing::PrintGridSelection(*fgDetial, windowTitle()); }
