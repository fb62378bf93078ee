#include "billing/frmBalanceBill.h"

#include "billing/BillingSeams.h"
#include "billing/frmPayfor.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/Settings.h"
#include "core/OpLog.h"
#include "core/frmProgress.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <memory>

using platform::Recordset;

namespace {

std::unique_ptr<frmBalanceBill> g_instance;
bool g_fromConsole = false;

}  // namespace

frmBalanceBill& frmBalanceBill::instance() {
    if (!g_instance) g_instance.reset(new frmBalanceBill);
    return *g_instance;
}
bool frmBalanceBill::exists() { return static_cast<bool>(g_instance); }

void frmBalanceBill::unload() {
    if (!g_instance) return;
    g_instance->Form_Unload();
    g_instance.reset();
}

void frmBalanceBill::ShowFromConsole() {
    frmBalanceBill& f = instance();
    g_fromConsole = true;
    billing::SetConsoleEnabled(false);
    f.show();
    f.raise();
    f.activateWindow();
}

void frmBalanceBill::SettleUser(qint64 userId) {
    frmBalanceBill& f = instance();
    if (QTreeWidgetItem* it = f.itemByKey(QStringLiteral("K%1").arg(userId))) it->setCheckState(0, Qt::Checked);
    f.cmdBalance_Click(1);
    unload();
}

frmBalanceBill::frmBalanceBill(QWidget* parent) : ObjectPickerWindow(parent, false) {
    setObjectName(QStringLiteral("frmBalanceBill"));
    setWindowTitle(QStringLiteral("用户结算"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    QGroupBox* objBox = makeObjectBox(QStringLiteral("结算对象"), {QStringLiteral("用户"), QStringLiteral("部门")});

    auto* typeBox = new QGroupBox(QStringLiteral("话单类型"), this);
    auto* typeLay = new QGridLayout(typeBox);
    const QStringList types{"国际长途", "国际地区", "国内长途", "省内长途", "移动通讯", "郊县",
                            "信息台",   "市话",     "IP电话",   "本机",     "被叫"};
    for (int i = 0; i < types.size(); ++i) {
        auto* c = new QCheckBox(types[i], typeBox);
        c->setChecked(i < 10);
        c->setEnabled(i < 10);
        typeLay->addWidget(c, i / 2, i % 2);
        chkType << c;
    }

    auto* minBox = new QGroupBox(QStringLiteral("话单最小通话时长"), this);
    DTPMin = new QTimeEdit(QTime(0, 0), minBox);
    DTPMin->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    (new QVBoxLayout(minBox))->addWidget(DTPMin);

    auto* timeBox = new QGroupBox(QStringLiteral("时间范围"), this);
    auto* timeLay = new QGridLayout(timeBox);
    makePeriod(timeBox);
    timeLay->addWidget(chkLast, 0, 0);
    timeLay->addWidget(chkNow, 0, 1);
    timeLay->addWidget(new QLabel(QStringLiteral("起始时间"), timeBox), 1, 0);
    timeLay->addWidget(DTPStart, 1, 1);
    timeLay->addWidget(new QLabel(QStringLiteral("结束时间"), timeBox), 2, 0);
    timeLay->addWidget(DTPEnd, 2, 1);

    auto* payBox = new QGroupBox(QStringLiteral("按月用户结算日"), this);
    auto* payLay = new QHBoxLayout(payBox);
    txtPayDay = new QLineEdit(payBox);
    txtPayDay->installEventFilter(this);
    chkForce = new QCheckBox(QStringLiteral("强制结算"), payBox);
    payLay->addWidget(txtPayDay);
    payLay->addWidget(chkForce);

    auto* clBox = new QGroupBox(QStringLiteral("结算后对用户的处理"), this);
    auto* clLay = new QHBoxLayout(clBox);
    for (const QString& c : {QStringLiteral("不做处理"), QStringLiteral("闭锁用户"), QStringLiteral("删除用户")}) {
        auto* o = new QRadioButton(c, clBox);
        clLay->addWidget(o);
        optCL << o;
    }

    auto* feeBox = new QGroupBox(QStringLiteral("显示费用明细"), this);
    auto* feeLay = new QHBoxLayout(feeBox);
    chkBillTypeFee = new QCheckBox(QStringLiteral("话单类型"), feeBox);
    chkDetailFee = new QCheckBox(QStringLiteral("详细费用"), feeBox);
    chkRent = new QCheckBox(QStringLiteral("月租费"), feeBox);
    for (QCheckBox* c : {chkBillTypeFee, chkDetailFee, chkRent}) {
        c->setChecked(true);
        feeLay->addWidget(c);
    }

    auto* buttons = new QHBoxLayout;
    const QStringList captions{"结  算", "结算并付讫", "结算并打印", "查看结算单"};
    for (int i = 0; i < 4; ++i) {
        auto* b = new QPushButton(captions[i], this);
        connect(b, &QPushButton::clicked, this, [this, i] { cmdBalance_Click(i); });
        buttons->addWidget(b);
        cmdBalance << b;
    }
    cmdClose = new QPushButton(QStringLiteral("关  闭"), this);
    buttons->addWidget(cmdClose);

    auto* right = new QVBoxLayout;
    right->addWidget(typeBox);
    right->addWidget(minBox);
    right->addWidget(timeBox);
    right->addWidget(payBox);
    right->addWidget(clBox);
    right->addWidget(feeBox);
    auto* top = new QHBoxLayout;
    top->addWidget(objBox, 1);
    top->addLayout(right, 2);
    auto* main = new QVBoxLayout(this);
    main->addLayout(top);
    main->addLayout(buttons);

    // Load: the remembered choices, the users listed, the end at now.
    m_Filling = true;
    bool okNum = false;
    int cl = ModSwitch::GetVariant(QStringLiteral("OptCL"), QStringLiteral("0")).trimmed().toInt(&okNum);
    if (!okNum || cl < 0) cl = 0;
    optCL[cl % 3]->setChecked(true);
    optOBJ[0]->setChecked(true);
    m_Filling = false;
    optOBJ_Click(0);
    txtPayDay->setText(ModSwitch::GetVariant(QStringLiteral("txtPayDay"), QString()));
    txtPayDay_LostFocus();
    const QDateTime now = platform::Now();
    m_Start = billing::StoredPeriodDate(ModSwitch::GetVariant(QStringLiteral("frmPayBT"), QString()));
    if (!m_Start.isValid()) m_Start = QDateTime(now.date().addDays(-1), QTime(0, 0));
    m_End = billing::StoredPeriodDate(ModSwitch::GetVariant(QStringLiteral("frmPayET"), QString()));
    if (!m_End.isValid()) m_End = QDateTime(now.date(), QTime(now.time().hour(), now.time().minute(), now.time().second()));
    showStart(m_Start);
    showEnd(m_End);
    SetUncheckLast();
    chkNow->setChecked(true);
    chkNow_Click();

    connect(optOBJ[0], &QRadioButton::clicked, this, [this] { optOBJ_Click(0); });
    connect(optOBJ[1], &QRadioButton::clicked, this, [this] { optOBJ_Click(1); });
    connectPicker();
    connect(txtPayDay, &QLineEdit::editingFinished, this, [this] { txtPayDay_LostFocus(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { close(); });
    resize(760, 560);
}

frmBalanceBill::~frmBalanceBill() = default;

void frmBalanceBill::optOBJ_Click(int index) {
    listObjects(
        index,
        [index](QList<QTreeWidgetItem*>& items) {
            try {
                if (index == 0) {
                    Recordset rs = dbSwitch.query(QStringLiteral("SELECT userid, username FROM user ORDER BY username"));
                    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
                        auto* it = new QTreeWidgetItem({rs.str(QStringLiteral("username"))});
                        it->setData(0, Qt::UserRole, QStringLiteral("K%1").arg(rs.lng(QStringLiteral("userid"))));
                        items << it;
                    }
                } else {
                    Recordset rs = dbSwitch.query(QStringLiteral("SELECT deptname FROM user GROUP BY deptname"));
                    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
                        auto* it = new QTreeWidgetItem({rs.str(QStringLiteral("deptname"))});
                        it->setData(0, Qt::UserRole, QStringLiteral("K") + rs.str(QStringLiteral("deptname")));
                        items << it;
                    }
                }
            } catch (const platform::DbError&) {
            }
        },
        false);
}

void frmBalanceBill::removeItem(const QString& key) {
    if (QTreeWidgetItem* it = itemByKey(key)) delete it;
}

bool frmBalanceBill::GetSelectObject(QList<qint64>& users, bool& all) {
    users.clear();
    all = true;
    bool every = true;
    const int n = lvObj->topLevelItemCount();
    for (int i = 0; i < n; ++i) {
        QTreeWidgetItem* it = lvObj->topLevelItem(i);
        if (it->checkState(0) != Qt::Checked) {
            every = false;
            continue;
        }
        if (i == 0) {
            users.clear();
            return true;
        }
        Recordset rs;
        if (m_Obj == 0 && i <= 3) {
            rs = dbSwitch.query(QStringLiteral("SELECT userid FROM user WHERE balancemode=?"), {i - 1});
        } else if (m_Obj == 0) {
            users << billing::PickerKey(it).mid(1).toLongLong();
            continue;
        } else {
            rs = dbSwitch.query(QStringLiteral("SELECT userid FROM user WHERE deptname=?"), {billing::PickerKey(it).mid(1)});
        }
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) users << rs.lng(QStringLiteral("userid"));
    }
    if (every && n > 0) {
        users.clear();
        return true;
    }
    all = false;
    return !users.isEmpty();
}

QList<int> frmBalanceBill::GetBillType() const {
    QList<int> out;
    for (int k = 0; k < 10; ++k)
        if (chkType[k]->isChecked()) out << k;
    return out;
}

namespace {
// The integer value of a typed day: the number the text begins with, sign,
// fraction and exponent included ("+5" gives 5, "12.7" and "12日" 12,
// "2.9e1" 29), its fraction dropped; 0 when it begins with none, and 0 too
// for a number beyond any day, so that the range check refuses it.
int dayValue(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?"));
    const QRegularExpressionMatch m = number.match(text.trimmed());
    if (!m.hasMatch()) return 0;
    const double v = m.captured(0).toDouble();
    return std::isfinite(v) && std::fabs(v) < 1000 ? int(v) : 0;
}
}  // namespace

void frmBalanceBill::txtPayDay_LostFocus() {
    int day = dayValue(txtPayDay->text());
    if (day < 1 || day > 28) day = 1;
    txtPayDay->setText(QString::number(day));
    try {
        ModSwitch::SetVariant(QStringLiteral("txtPayDay"), txtPayDay->text());
    } catch (const platform::DbError&) {
    }
}

int frmBalanceBill::PayDay() const {
    const int d = dayValue(txtPayDay->text());
    return d >= 1 && d <= 28 ? d : 1;
}

int frmBalanceBill::AfterAction() const {
    for (int i = 0; i < optCL.size(); ++i)
        if (optCL[i]->isChecked()) return i;
    return 0;
}

void frmBalanceBill::cmdBalance_Click(int index) {
    QList<qint64> users;
    bool all = true;
    if (!GetSelectObject(users, all)) {
        platform::MsgBox(QStringLiteral("请选择要结算的") + optOBJ[m_Obj]->text(), platform::mbOKOnly, AppName);
        return;
    }
    const QList<int> types = GetBillType();
    if (types.isEmpty()) {
        platform::MsgBox(QStringLiteral("请选择要结算的话单类型"), platform::mbOKOnly, AppName);
        return;
    }
    if (ModGeneral::CheckRight(22, ModGeneral::kRightMessage)) return;

    billing::SettleOptions o;
    o.index = index;
    o.allUsers = all;
    o.users = users;
    o.categories = types;
    o.minSeconds = ModGeneral::TimeToSec(DTPMin->time());
    o.manualStart = DTPStart->dateTime();
    o.manualEnd = DTPEnd->dateTime();
    o.useLast = chkLast->isChecked() && m_SelUser >= 0;
    o.payDay = PayDay();
    o.force = chkForce->isChecked();

    const bool silent = m_Silent;
    bool progress = false;
    m_Last = billing::RunSettlement(o, [&](int i, int n, const QString& name) {
        if (!silent) {
            if (!progress) frmProgress::instance().LoadProgress(QStringLiteral("正在结算用户..."), false, n - 1, 0, false);
            progress = true;
            frmProgress::instance().setpValue(i, QStringLiteral("正在结算用户") + name);
        }
        ModGeneral::Delay(2);
    });
    if (progress) {
        frmProgress::instance().setToMax(static_cast<qint32>(m_Last.lines.size()));
        frmProgress::unload();
    }
    // The progress window gives the console back when it goes; this window still holds it.
    if (g_fromConsole && isVisible()) billing::SetConsoleEnabled(false);
    if (!m_Last.ok) {
        platform::MsgBox(m_Last.error, platform::mbOKOnly, AppName);
        return;
    }
    frmPayfor& pay = frmPayfor::instance();
    for (const billing::StatementLine& l : m_Last.lines)
        pay.fgUser->AddItem(billing::StatementLineText(l, chkRent->isChecked()));
    if (!silent) pay.ShowMode(index);
}

bool frmBalanceBill::CheckZHClear(qint64 userId) {
    if (QTreeWidgetItem* it = itemByKey(QStringLiteral("K%1").arg(userId))) it->setCheckState(0, Qt::Checked);
    m_Silent = true;
    optCL[0]->setChecked(true);
    frmPayfor::instance().Form_Load();
    cmdBalance_Click(0);
    m_Silent = false;
    platform::FlexGrid& g = *frmPayfor::instance().fgUser;
    if (g.Rows() >= 3) g.RemoveItem(1);
    for (int r = 1; r < g.Rows(); ++r) {
        const auto v = platform::Currency::parse(g.TextMatrix(r, 4).trimmed());
        if (!v || *v != platform::Currency()) return false;
    }
    return true;
}

void frmBalanceBill::Form_Unload() {
    if (m_Unloaded) return;
    m_Unloaded = true;
    try {
        ModSwitch::SetVariant(QStringLiteral("frmPayBT"), m_Start.toString(billing::kPeriodStoredFormat));
        ModSwitch::SetVariant(QStringLiteral("frmPayET"), m_End.toString(billing::kPeriodStoredFormat));
        ModSwitch::SetVariant(QStringLiteral("OptCL"), QString::number(AfterAction()));
    } catch (const platform::DbError&) {
    }
    if (frmPayfor::exists()) frmPayfor::unload();
    if (g_fromConsole) {
        g_fromConsole = false;
        billing::SetConsoleEnabled(true);
    }
}

void frmBalanceBill::closeEvent(QCloseEvent* e) {
    Form_Unload();
    e->accept();
    // The instance goes once the close has been handled.
    if (g_instance.get() == this) {
        frmBalanceBill* self = g_instance.release();
        self->deleteLater();
    }
}

bool frmBalanceBill::eventFilter(QObject* o, QEvent* e) {
    if (o == txtPayDay && e->type() == QEvent::FocusIn)
        QTimer::singleShot(0, txtPayDay, [this] { txtPayDay->selectAll(); });
    return QWidget::eventFilter(o, e);
}
