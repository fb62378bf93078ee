#include "billing/frmQueryBill.h"

#include "billing/frmRecord.h"
#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/Settings.h"
#include "core/OpLog.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <memory>

using platform::Recordset;

namespace {

std::unique_ptr<frmQueryBill> g_instance;

QDateTime toSecond(const QDateTime& t) {
    return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute(), t.time().second()));
}

void giveConsoleBack() {
    if (core::Console* c = core::TheConsole()) {
        if (QWidget* w = c->ConsoleWidget()) {
            w->show();
            w->window()->show();
            w->activateWindow();
        }
    }
}

}  // namespace

frmQueryBill& frmQueryBill::instance() {
    if (!g_instance) g_instance.reset(new frmQueryBill);
    return *g_instance;
}
bool frmQueryBill::exists() { return static_cast<bool>(g_instance); }

void frmQueryBill::unload() {
    if (!g_instance) return;
    // A running query holds the dialog: its result window closes first.
    if (frmRecord::exists() && frmRecord::instance().Running()) return;
    g_instance->Form_Unload();
    g_instance.reset();
}

void frmQueryBill::ShowFromConsole() {
    if (core::Console* c = core::TheConsole())
        if (QWidget* w = c->ConsoleWidget()) w->hide();
    frmQueryBill& f = instance();
    f.show();
    f.raise();
    f.activateWindow();
}

frmQueryBill::frmQueryBill(QWidget* parent) : ObjectPickerWindow(parent, true) {
    setObjectName(QStringLiteral("frmQueryBill"));
    setWindowTitle(QStringLiteral("话单查询"));

    QGroupBox* objBox = makeObjectBox(QStringLiteral("查询对象"), {QStringLiteral("用户"), QStringLiteral("部门"),
                                                                QStringLiteral("帐号"), QStringLiteral("分机")});
    chkAccount = new QCheckBox(QStringLiteral("包括帐号"), objBox);
    objBox->layout()->addWidget(chkAccount);

    auto* callBox = new QGroupBox(QStringLiteral("话单选择"), this);
    auto* callLay = new QHBoxLayout(callBox);
    for (const char* c : {"全部", "主叫", "被叫"}) {
        auto* o = new QRadioButton(QString::fromUtf8(c), callBox);
        callLay->addWidget(o);
        optCall << o;
    }

    auto* typeBox = new QGroupBox(QStringLiteral("话单类型"), this);
    auto* typeLay = new QGridLayout(typeBox);
    const char* const types[11] = {"国际长途", "国际地区", "国内长途", "省内长途", "移动通讯", "郊县",
                                   "信息台",   "市话",     "IP电话",   "本局",     "被叫"};
    for (int i = 0; i < 11; ++i) {
        auto* c = new QCheckBox(QString::fromUtf8(types[i]), typeBox);
        typeLay->addWidget(c, i / 3, i % 3);
        chkType << c;
    }

    auto* timeBox = new QGroupBox(QStringLiteral("时间范围"), this);
    auto* timeLay = new QGridLayout(timeBox);
    makePeriod(timeBox);
    timeLay->addWidget(new QLabel(QStringLiteral("起始时间"), timeBox), 0, 0);
    timeLay->addWidget(DTPStart, 0, 1);
    timeLay->addWidget(chkLast, 0, 2);
    timeLay->addWidget(new QLabel(QStringLiteral("结束时间"), timeBox), 1, 0);
    timeLay->addWidget(DTPEnd, 1, 1);
    timeLay->addWidget(chkNow, 1, 2);

    auto* longBox = new QGroupBox(QStringLiteral("通话时长"), this);
    auto* longLay = new QHBoxLayout(longBox);
    DTPMin = new QTimeEdit(QTime(0, 0), longBox);
    DTPMax = new QTimeEdit(QTime(0, 0), longBox);
    longLay->addWidget(new QLabel(QStringLiteral("最小值"), longBox));
    longLay->addWidget(DTPMin);
    longLay->addWidget(new QLabel(QStringLiteral("最大值"), longBox));
    longLay->addWidget(DTPMax);
    for (QTimeEdit* t : {DTPMin, DTPMax}) t->setDisplayFormat(QStringLiteral("HH:mm:ss"));

    auto* calledBox = new QGroupBox(QStringLiteral("被叫号码"), this);
    txtCalled = new QLineEdit(calledBox);
    txtCalled->installEventFilter(this);
    (new QVBoxLayout(calledBox))->addWidget(txtCalled);

    auto* sortBox = new QGroupBox(QStringLiteral("排序方式"), this);
    auto* sortLay = new QGridLayout(sortBox);
    const char* const sorts[8] = {"用户名称", "主叫分机", "帐号号码", "被叫号码", "通话日期", "通话时长", "话费金额", "话单类型"};
    for (int i = 0; i < 8; ++i) {
        auto* o = new QRadioButton(QString::fromUtf8(sorts[i]), sortBox);
        sortLay->addWidget(o, i / 4, i % 4);
        optSort << o;
        connect(o, &QRadioButton::clicked, this, [this, i] { optSort_Click(i); });
    }

    cmdQuery = new QPushButton(QStringLiteral("查询"), this);
    cmdClose = new QPushButton(QStringLiteral("关闭"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdQuery);
    buttons->addWidget(cmdClose);

    auto* right = new QVBoxLayout;
    right->addWidget(callBox);
    right->addWidget(typeBox);
    right->addWidget(timeBox);
    right->addWidget(longBox);
    right->addWidget(calledBox);
    right->addWidget(sortBox);
    auto* top = new QHBoxLayout;
    top->addWidget(objBox, 1);
    top->addLayout(right, 2);
    auto* main = new QVBoxLayout(this);
    main->addLayout(top);
    main->addLayout(buttons);

    // Load: sort by extension, every category, the users listed, the remembered period, the end at now.
    optSort[1]->setChecked(true);
    optSort_Click(1);
    optCall[0]->setChecked(true);
    optCall_Click(0);
    optOBJ[0]->setChecked(true);
    optOBJ_Click(0);
    const QDateTime now = toSecond(platform::Now());
    m_Start = billing::StoredPeriodDate(ModSwitch::GetVariant(QStringLiteral("QueryBT"), QString()));
    if (!m_Start.isValid()) m_Start = QDateTime(now.date().addDays(-1), QTime(0, 0));
    m_End = billing::StoredPeriodDate(ModSwitch::GetVariant(QStringLiteral("QueryET"), QString()));
    if (!m_End.isValid()) m_End = now;
    showStart(m_Start);
    showEnd(m_End);
    chkNow->setChecked(true);
    chkNow_Click();

    for (int k = 0; k < 4; ++k) connect(optOBJ[k], &QRadioButton::clicked, this, [this, k] { optOBJ_Click(k); });
    for (int k = 0; k < 3; ++k) connect(optCall[k], &QRadioButton::clicked, this, [this, k] { optCall_Click(k); });
    connectPicker();
    connect(txtCalled, &QLineEdit::textEdited, this, [this] { txtCalled_KeyUp(); });
    connect(cmdQuery, &QPushButton::clicked, this, [this] { cmdQuery_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, [] { unload(); });
    resize(760, 600);
}

frmQueryBill::~frmQueryBill() = default;

void frmQueryBill::optOBJ_Click(int k) {
    m_CheckAll = true;
    chkAccount->setVisible(k == billing::kObjExtensions);
    chkAccount->setChecked(k != billing::kObjExtensions);
    listObjects(
        k,
        [k](QList<QTreeWidgetItem*>& items) {
            try {
                static const char* const sql[4] = {
                    "SELECT userid, username FROM user ORDER BY username",
                    "SELECT deptname, deptname FROM user GROUP BY deptname",
                    "SELECT address, account FROM account WHERE account<>'FFFF' ORDER BY account",
                    "SELECT address, txhm FROM que_txhm"};
                Recordset rs = dbSwitch.query(QString::fromLatin1(sql[k]));
                for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
                    auto* it = new QTreeWidgetItem({rs.value(1).toString()});
                    it->setData(0, Qt::UserRole, QStringLiteral("K") + rs.value(0).toString());
                    items << it;
                }
            } catch (const platform::DbError& e) {
                platform::MsgBox(QStringLiteral("查询错误:") + platform::OperatorText(e), platform::mbOKOnly, ModDefine::AppName);
            }
        },
        true);
}

void frmQueryBill::optCall_Click(int k) {
    for (int i = 0; i < 11; ++i) chkType[i]->setChecked(k == 0 || (k == 1 ? i < 10 : i == 10));
}

QTreeWidgetItem* frmQueryBill::itemByText(const QString& text) const {
    for (int i = 0; i < lvObj->topLevelItemCount(); ++i)
        if (lvObj->topLevelItem(i)->text(0) == text) return lvObj->topLevelItem(i);
    return nullptr;
}

void frmQueryBill::txtCalled_KeyUp() {
    const QString t = txtCalled->text();
    if (t.isEmpty()) return;
    bool digits = true;
    for (QChar c : t) digits = digits && c.isDigit() && c.unicode() < 128;
    if (digits) return;
    platform::MsgBox(QStringLiteral("只能输入数字"), platform::mbOKOnly, ModDefine::AppName);
    txtCalled->setText(t.left(t.size() - 1));
}

bool frmQueryBill::eventFilter(QObject* o, QEvent* e) {
    if (o == txtCalled && e->type() == QEvent::FocusIn) ModGeneral::SelectAllText(txtCalled);
    return QWidget::eventFilter(o, e);
}

bool frmQueryBill::GetSelectObject(billing::BillCondition& cond) {
    cond.objectKind = m_Obj;
    cond.everyObject = cond.everyAccount = cond.deleted = false;
    cond.ids.clear();
    const QString cap = optOBJ[m_Obj]->text();
    for (int i = 0; i < lvObj->topLevelItemCount(); ++i) {
        QTreeWidgetItem* it = lvObj->topLevelItem(i);
        if (it->checkState(0) != Qt::Checked) continue;
        const QString text = it->text(0);
        const QString key = billing::PickerKey(it);
        if (key == QLatin1String("ALL")) {
            if (m_Obj == billing::kObjAccounts) cond.everyAccount = true;
            else cond.everyObject = true;
            cond.ids.clear();
            cond.deleted = false;
            return true;
        }
        if (key == QLatin1String("Delete")) {
            cond.deleted = true;
            continue;
        }
        if (m_Obj == billing::kObjUsers && (key == QLatin1String("Deposit") || key == QLatin1String("Monthly") ||
                                            key == QLatin1String("Free"))) {
            Recordset rs = dbSwitch.query(QStringLiteral("SELECT userid FROM user WHERE balancemode=?"), {i - 1});
            for (rs.moveFirst(); !rs.eof(); rs.moveNext()) cond.ids << rs.value(0).toLongLong();
            continue;
        }
        switch (m_Obj) {
        case billing::kObjDepartments: {
            Recordset rs = dbSwitch.query(QStringLiteral("SELECT userid FROM user WHERE deptname=?"), {text});
            for (rs.moveFirst(); !rs.eof(); rs.moveNext()) cond.ids << rs.value(0).toLongLong();
            break;
        }
        case billing::kObjAccounts: cond.ids << text; break;
        default: cond.ids << key.mid(1).toLongLong(); break;
        }
    }
    (void)cap;
    return !cond.ids.isEmpty() || cond.deleted;
}

QList<int> frmQueryBill::GetBillType() const {
    QList<int> out;
    for (int k = 0; k < 11; ++k)
        if (chkType[k]->isChecked()) out << k;
    return out;
}

void frmQueryBill::cmdQuery_Click() {
    if (ModGeneral::CheckRight(23, 2)) return;
    auto say = [](const QString& text) { platform::MsgBox(text, platform::mbOKOnly, ModDefine::AppName); };
    const QDateTime start = DTPStart->dateTime();
    const QDateTime end = DTPEnd->dateTime();
    if (!chkNow->isChecked() && end > platform::Now()) return say(QStringLiteral("结束时间不能大于当前时间"));
    if (start > end) return say(QStringLiteral("开始时间不能大于结束时间"));
    billing::BillCondition cond;
    bool selected = false;
    try {
        selected = GetSelectObject(cond);
    } catch (const platform::DbError& e) {
        return say(QStringLiteral("查询错误:") + platform::OperatorText(e));
    }
    const QString cap = optOBJ[m_Obj]->text();
    if (!selected) return say(QStringLiteral("请选择要查询的") + cap);
    cond.categories = GetBillType();
    cond.minSeconds = ModGeneral::TimeToSec(DTPMin->time());
    cond.maxSeconds = ModGeneral::TimeToSec(DTPMax->time());
    if (cond.maxSeconds != 0 && cond.minSeconds > cond.maxSeconds)
        return say(QStringLiteral("通话时长最小值不能大于最大值"));
    cond.start = start;
    cond.end = end;
    cond.calledPrefix = txtCalled->text();
    cond.accountCalls = chkAccount->isChecked();
    QList<billing::QueryObject> objects;
    for (int i = 0; i < lvObj->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* it = lvObj->topLevelItem(i);
        if (it->checkState(0) == Qt::Checked) objects << billing::QueryObject{it->text(0), billing::PickerKey(it)};
    }
    setEnabled(false);
    frmRecord::instance().ShowBill(cond, m_Sort, cap, objects);
}

void frmQueryBill::Form_Unload() {
    if (m_Unloaded) return;
    m_Unloaded = true;
    try {
        ModSwitch::SetVariant(QStringLiteral("QueryBT"), m_Start.toString(billing::kPeriodStoredFormat));
        ModSwitch::SetVariant(QStringLiteral("QueryET"), m_End.toString(billing::kPeriodStoredFormat));
    } catch (const platform::DbError&) {
    }
    hide();
    giveConsoleBack();
}

void frmQueryBill::closeEvent(QCloseEvent* e) {
    if (frmRecord::exists() && frmRecord::instance().Running()) {
        e->ignore();
        return;
    }
    e->accept();
    Form_Unload();
    // Closed from the title bar: the next opening loads the dialog anew.
    if (g_instance.get() == this) g_instance.release()->deleteLater();
}
