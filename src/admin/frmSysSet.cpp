#include "admin/frmSysSet.h"

#include "core/Console.h"
#include "core/Deposit.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/Settings.h"
#include "core/OpLog.h"
#include "link/FrameCodes.h"
#include "link/ModComm.h"
#include "link/Transport.h"
#include "params/DialDigits.h"
#include "platform/AppExit.h"
#include "platform/Clock.h"
#include "platform/Comm.h"
#include "platform/Currency.h"
#include "platform/Prompts.h"
#include "platform/TypedLimit.h"
#include "transfer/OperationCommands.h"
#include "transfer/RowFrames.h"

#include <QAction>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QKeyEvent>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <cmath>
#include <functional>
#include <memory>

namespace {

std::unique_ptr<frmSysSet> g_instance;

void say(const QString& text) { platform::MsgBox(text, platform::mbOKOnly, AppName); }

platform::Currency money(const QString& text) { return platform::Currency::parse(text.trimmed()).value_or(platform::Currency()); }

QString boolText(bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); }

// The leading number of a text ("12abc" gives 12); false when there is none.
bool leadingNumber(const QString& text, qint64* value) {
    const QString t = text.trimmed();
    int i = 0;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
    const int start = i;
    while (i < t.size() && t[i].isDigit() && i - start < 12) ++i;
    if (i == start) return false;
    *value = t.left(i).toLongLong();
    return true;
}

// A deposit field takes at most this many typed characters; the amount it
// shows ("100.00") may be longer.
constexpr int kDepositTyped = 5;

// The transfer-command texts, when a field is left and when the window saves:
// dial characters only; empty is allowed (a fresh station has no command, and
// the switch is then sent fillers).
bool transferCommandOk(const QString& text) { return ModSwitch::IsDialStr(text); }

const QString kNotANumber = QStringLiteral("请输入数值");

// The shortest stored talk time: a finite whole number ("nan", "inf" and
// "2.5" are none), "" when it is one; `range` also wants it within a 16-bit
// integer. `value` gets it.
QString holdTimeFault(const QString& text, bool range, int* value = nullptr) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || v != std::floor(v)) return kNotANumber;
    if (range && (v < -32768 || v > 32767)) return QStringLiteral("溢出");
    if (value) *value = int(v);
    return QString();
}

// The port as a command found it: number, settings, open or not.
struct PortInUse {
    int number = 0;
    QString settings;
    bool open = false;
};

// After a detection or a save that failed, the port the settings name is
// opened again, so that records keep arriving; what became of it is told.
// Settings that cannot be read (a database locked by another program) give
// back the port that was in use when the command began. Messages name the
// port as the serial line does: the device named in the settings, or "Com"
// and its number.
QString reopenStoredPort(const PortInUse& before) {
    platform::Comm& port = ModComm::ComA();
    QString number, settings;
    try {
        number = ModSwitch::GetVariant(QStringLiteral("CommPort"), QStringLiteral("1"));
        settings = ModSwitch::GetVariant(QStringLiteral("CommSet"), QStringLiteral("9600,N,8,1"));
    } catch (const platform::DbError&) {
        port.setPortOpen(false);
        port.setCommPort(before.number);
        port.setSettings(before.settings);
        if (ModComm::UsbCollectorChosen()) return QString();
        if (!before.open) return QStringLiteral("\n端口") + ModComm::SerialLine().name() + QStringLiteral("已关闭");
        if (port.setPortOpen(true)) return QStringLiteral("\n已重新打开端口") + ModComm::SerialLine().name();
        return QStringLiteral("\n端口") + ModComm::SerialLine().name() + QStringLiteral("无法打开");
    }
    port.setPortOpen(false);
    port.setCommPort(number.toInt());
    port.setSettings(settings);
    if (ModComm::UsbCollectorChosen()) return QString();
    if (port.setPortOpen(true)) return QStringLiteral("\n已重新打开端口") + ModComm::SerialLine().name();
    return QStringLiteral("\n端口") + ModComm::SerialLine().name() + QStringLiteral("无法打开");
}

int checkedIndex(const QVector<QRadioButton*>& group) {
    for (int i = 0; i < group.size(); ++i)
        if (group[i]->isChecked()) return i;
    return 0;
}

void check(const QVector<QRadioButton*>& group, int index) {
    if (index < 0 || index >= group.size()) index = 0;
    group[index]->setChecked(true);
}

// The port the serial control can take: a known speed, parity letter, 5 to 8 data bits, 1, 1.5 or 2 stop bits.
bool portSettingsUsable(const QStringList& p) {
    bool ok = false;
    const int speed = p.value(0).trimmed().toInt(&ok);
    const int bits = p.value(2).trimmed().toInt();
    const QString stop = p.value(3).trimmed();
    return ok && speed > 0 && QStringLiteral("EONMS").contains(p.value(1).trimmed().left(1).toUpper()) &&
           !p.value(1).trimmed().isEmpty() && bits >= 5 && bits <= 8 &&
           (stop == QLatin1String("1") || stop == QLatin1String("1.5") || stop == QLatin1String("2"));
}

}  // namespace

frmSysSet& frmSysSet::instance() {
    if (!g_instance) {
        g_instance.reset(new frmSysSet);
        g_instance->Form_Load();
    }
    return *g_instance;
}
bool frmSysSet::exists() { return static_cast<bool>(g_instance); }
void frmSysSet::unload() { g_instance.reset(); }

void frmSysSet::ShowModal() {
    platform::RunModal(&instance());
    unload();
}

frmSysSet::frmSysSet(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmSysSet"));
    setWindowTitle(QStringLiteral("系统参数设置窗口"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    auto* grid = new QGridLayout(this);

    chkUsb = new QCheckBox(QStringLiteral("使用USB端口"), this);
    connect(chkUsb, &QCheckBox::clicked, this, [this] { chkUsb_Click(); });
    FraCom = new QGroupBox(this);
    auto* com = new QFormLayout(FraCom);
    const char* const comLabels[] = {"通讯  端口", "波  特  率", "奇偶校验位", "数  据  位", "停  止  位"};
    for (int i = 0; i < 5; ++i) {
        auto* c = new QComboBox(FraCom);
        c->setEditable(true);
        cboComset << c;
        com->addRow(QString::fromUtf8(comLabels[i]), c);
    }
    cmdTestPort = new QPushButton(QStringLiteral("自动检测"), FraCom);
    connect(cmdTestPort, &QPushButton::clicked, this, [this] { cmdTestPort_Click(); });
    com->addRow(cmdTestPort);
    auto* left = new QVBoxLayout;
    left->addWidget(chkUsb);
    left->addWidget(FraCom);
    grid->addLayout(left, 0, 0);

    auto* times = new QGroupBox(QStringLiteral("通话限时参数设置"), this);
    auto* tf = new QFormLayout(times);
    const char* const timeLabels[] = {"内 线  限 时(秒)", "国际长途限时(秒)", "国内长途限时(秒)", "网 间  限 时(秒)",
                                      "市 话  限 时(秒)", "信息台 限 时(秒)", "移 动  限 时(秒)", "呼 入  限 时(秒)"};
    for (int i = 0; i < 8; ++i) {
        auto* e = new QLineEdit(times);
        e->setMaxLength(5);
        e->installEventFilter(this);
        txtTime << e;
        tf->addRow(QString::fromUtf8(timeLabels[i]), e);
    }
    grid->addWidget(times, 0, 1);

    auto* sel = new QGroupBox(QStringLiteral("连选命令设置"), this);
    auto* sf = new QFormLayout(sel);
    const char* const selLabels[] = {"转移命令起始符", "转移命令结束符", "清除 转移 命令"};
    const int selLengths[] = {8, 2, 12};
    for (int i = 0; i < 3; ++i) {
        auto* e = new QLineEdit(sel);
        e->setMaxLength(selLengths[i]);
        e->installEventFilter(this);
        txtSelect << e;
        sf->addRow(QString::fromUtf8(selLabels[i]), e);
    }
    const char* const cboLabels[] = {"连  选  开  关", "清除 转移 选择"};
    for (int i = 0; i < 2; ++i) {
        auto* c = new QComboBox(sel);
        c->addItems({QStringLiteral("关"), QStringLiteral("开")});
        cboSel << c;
        sf->addRow(QString::fromUtf8(cboLabels[i]), c);
    }
    grid->addWidget(sel, 0, 2);

    auto* dep = new QGroupBox(QStringLiteral("拨打电话最低押金(元)"), this);
    auto* df = new QFormLayout(dep);
    const char* const depLabels[] = {"国际长途", "国内长途", "郊    县", "市    话"};
    for (int i = 0; i < 4; ++i) {
        auto* e = new QLineEdit(dep);
        e->installEventFilter(this);
        platform::LimitTyped(e, kDepositTyped);   // typed, pasted or committed by an input method
        txtDeposit << e;
        df->addRow(QString::fromUtf8(depLabels[i]), e);
    }
    grid->addWidget(dep, 1, 0);

    auto* fee = new QGroupBox(QStringLiteral("话费参数:对于小于分的数"), this);
    auto* ff = new QVBoxLayout(fee);
    for (const char* t : {"四舍五入", "进位到分", "不进位"}) {
        optFee << new QRadioButton(QString::fromUtf8(t), fee);
        ff->addWidget(optFee.last());
    }
    grid->addWidget(fee, 1, 1);

    auto* bill = new QGroupBox(QStringLiteral("即时话单参数"), this);
    auto* bf = new QVBoxLayout(bill);
    chkMonitor = new QCheckBox(QStringLiteral("即时掐断"), bill);
    bf->addWidget(chkMonitor);
    auto* printGroup = new QWidget(bill);
    auto* pf = new QHBoxLayout(printGroup);
    for (const char* t : {"全部用户", "选中用户", "不打印"}) {
        optPrint << new QRadioButton(QString::fromUtf8(t), printGroup);
        pf->addWidget(optPrint.last());
    }
    bf->addWidget(printGroup);
    chkCity = new QCheckBox(QStringLiteral("市话不打印"), bill);
    chkPage = new QCheckBox(QStringLiteral("链式打印机"), bill);
    bf->addWidget(chkCity);
    bf->addWidget(chkPage);
    auto* hold = new QHBoxLayout;
    txtMinHoldonTime = new QLineEdit(bill);
    txtMinHoldonTime->setMaxLength(4);
    txtMinHoldonTime->installEventFilter(this);
    hold->addWidget(new QLabel(QStringLiteral("保存最短通话时长"), bill));
    hold->addWidget(txtMinHoldonTime);
    hold->addWidget(new QLabel(QStringLiteral("秒话单"), bill));
    bf->addLayout(hold);
    grid->addWidget(bill, 1, 2);

    auto* transfer = new QGroupBox(QStringLiteral("转发话单参数"), this);
    auto* trf = new QHBoxLayout(transfer);
    auto* disp = new QGroupBox(QStringLiteral("显示方式"), transfer);
    auto* dl = new QVBoxLayout(disp);
    for (const char* t : {"原号码", "转发号码"}) {
        optDisp << new QRadioButton(QString::fromUtf8(t), disp);
        dl->addWidget(optDisp.last());
    }
    auto* charge = new QGroupBox(QStringLiteral("计费方式"), transfer);
    auto* cl = new QVBoxLayout(charge);
    for (const char* t : {"原号码 ", "转发号码 "}) {
        OptCharge << new QRadioButton(QString::fromUtf8(t), charge);
        cl->addWidget(OptCharge.last());
    }
    trf->addWidget(disp);
    trf->addWidget(charge);
    grid->addWidget(transfer, 2, 0, 1, 2);

    auto* clock = new QGroupBox(QStringLiteral("系统时间"), this);
    auto* ckl = new QVBoxLayout(clock);
    DTSysTime = new QDateTimeEdit(clock);
    DTSysTime->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    ckl->addWidget(DTSysTime);
    // Only the operator's own change sets the clock, not the window filling the picker.
    connect(DTSysTime, &QDateTimeEdit::dateTimeChanged, this, [this] {
        if (!loading_) DTSysTime_Change();
    });
    grid->addWidget(clock, 2, 2);

    auto* buttons = new QHBoxLayout;
    cmdSave = new QPushButton(QStringLiteral("保 存"), this);
    connect(cmdSave, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
    buttons->addWidget(cmdSave);
    cmd = {new QPushButton(QStringLiteral("下载参数"), this), new QPushButton(QStringLiteral(" 上传参数"), this),
           new QPushButton(QStringLiteral("下载时间"), this)};
    for (int i : {2, 0, 1}) {
        buttons->addWidget(cmd[i]);
        connect(cmd[i], &QPushButton::clicked, this, [this, i] { cmd_Click(i); });
    }
    cmdExit = new QPushButton(QStringLiteral("关 闭"), this);
    connect(cmdExit, &QPushButton::clicked, this, [this] { cmdExit_Click(); });
    buttons->addWidget(cmdExit);
    grid->addLayout(buttons, 3, 0, 1, 3);
    for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);
}

void frmSysSet::Form_Load() {
    ModComm::SendOrder(FrameCode::kMonitorOff, false, 4, true);
    for (int i = 1; i <= 8; ++i) cboComset[0]->addItem(QStringLiteral("Com%1").arg(i));
    cboComset[1]->addItems({"1200", "2400", "9600", "14400", "19200", "28800", "38400", "56000"});
    cboComset[2]->addItems({"E -偶校验", "O -奇校验", "N -无", "M -标记", "S -空格"});
    cboComset[3]->addItems({"4", "5", "6", "7", "8"});
    cboComset[4]->addItems({"1", "1.5", "2"});
    GetSysPara();
}

void frmSysSet::showPort(int port, const QString& settings) {
    const QStringList p = ModGeneral::SplitStr(settings, QStringLiteral(","));
    for (int i = 1; i <= 4; ++i) cboComset[i]->setEditText(p.value(i - 1));
    cboComset[0]->setCurrentIndex(port - 1);
}

void frmSysSet::GetSysPara() {
    loading_ = true;
    for (int i = 0; i < 4; ++i) {
        const platform::Currency v =
            money(ModSwitch::GetVariant(QStringLiteral("Deposit%1").arg(i), QStringLiteral("0")));
        txtDeposit[i]->setText(v.toString2());
    }
    showPort(ModComm::ComA().CommPort(), ModComm::ComA().Settings());
    const QStringList limits = ModGeneral::SplitStr(ModSwitch::GetVariant(QStringLiteral("Limit")), QStringLiteral(","));
    for (int i = 0; i < 8; ++i) txtTime[i]->setText(limits.value(i));
    DTSysTime->setDateTime(platform::Now());
    const QStringList sel = ModGeneral::SplitStr(ModSwitch::GetVariant(QStringLiteral("SelCmd")), QStringLiteral(","));
    for (int i = 0; i < 3; ++i) txtSelect[i]->setText(sel.value(i));
    cboSel[0]->setCurrentIndex(sel.value(3).toInt() == 1 ? 1 : 0);
    cboSel[1]->setCurrentIndex(sel.value(4).toInt() == 1 ? 1 : 0);
    txtMinHoldonTime->setText(ModSwitch::GetVariant(QStringLiteral("FeeHDTime"), QStringLiteral("0")));
    check(optFee, ModSwitch::GetVariant(QStringLiteral("FeeType"), QStringLiteral("0")).trimmed().toInt());
    check(optPrint, PrnHD);
    chkCity->setChecked(!SHPrnHD);
    chkPage->setChecked(PrnType);
    check(optDisp, TransferDisplay);
    check(OptCharge, TransferCharge);
    chkMonitor->setChecked(ModSwitch::GetVariant(QStringLiteral("BILLMONITORED"), QStringLiteral("0")).trimmed().toInt() != 0);
    chkUsb->setChecked(ModSwitch::GetVariant(QStringLiteral("CHKUSEUSB"), QStringLiteral("0")).trimmed().toInt() != 0);
    loading_ = false;
    if (chkUsb->isChecked()) chkUsb_Click();
    FraCom->setEnabled(!chkUsb->isChecked());
}

bool frmSysSet::eventFilter(QObject* o, QEvent* e) {
    auto* box = qobject_cast<QLineEdit*>(o);
    if (!box || (e->type() != QEvent::FocusIn && e->type() != QEvent::FocusOut)) return QDialog::eventFilter(o, e);
    if (e->type() == QEvent::FocusIn) {
        QTimer::singleShot(0, box, [box] { box->selectAll(); });
        if (txtDeposit.contains(box)) depositBefore_ = box->text();
        if (txtSelect.contains(box)) selectBefore_ = box->text();
        return false;
    }
    bool ok = true;
    if (txtTime.contains(box)) ok = txtTime_LostFocus(txtTime.indexOf(box));
    else if (txtSelect.contains(box)) ok = txtSelect_LostFocus(txtSelect.indexOf(box));
    else if (box == txtMinHoldonTime) ok = txtMinHoldonTime_LostFocus();
    else if (txtDeposit.contains(box)) txtDeposit_LostFocus(txtDeposit.indexOf(box));
    if (!ok) QTimer::singleShot(0, box, [box] { box->setFocus(); });
    return false;
}

bool frmSysSet::txtTime_LostFocus(int i) {
    qint64 v = 0;
    if (!leadingNumber(txtTime[i]->text(), &v)) v = 0;
    txtTime[i]->setText(QString::number(v));
    if (v < 0 || v > 65535) {
        say(QStringLiteral("请输入0-65535之间的数值"));
        return false;
    }
    return true;
}

bool frmSysSet::txtSelect_LostFocus(int i) {
    if (!transferCommandOk(txtSelect[i]->text())) {
        say(QStringLiteral("请输入0-9,*,#之中组合的数据"));
        txtSelect[i]->setText(selectBefore_);
        return false;
    }
    return true;
}

bool frmSysSet::txtMinHoldonTime_LostFocus() {
    if (!holdTimeFault(txtMinHoldonTime->text(), false).isEmpty()) {
        say(kNotANumber);
        return false;
    }
    return true;
}

void frmSysSet::txtDeposit_LostFocus(int i) {
    const platform::Currency before = money(depositBefore_);
    platform::Currency v = money(txtDeposit[i]->text());
    txtDeposit[i]->setText(v.toString2());
    if (v != before) depositChanged_ = true;
}

// Every field is checked before the save touches anything; "" when all are sound.
QString frmSysSet::checkFields() const {
    for (QLineEdit* t : txtTime) {
        bool ok = false;
        const int v = t->text().trimmed().toInt(&ok);
        if (!ok || v < 0 || v > 65535) return QStringLiteral("请输入0-65535之间的数值");
    }
    for (QLineEdit* t : txtSelect)
        if (!transferCommandOk(t->text())) return QStringLiteral("请输入0-9,*,#之中组合的数据");
    const QString hold = holdTimeFault(txtMinHoldonTime->text(), true);
    if (!hold.isEmpty()) return hold;
    QStringList p{cboComset[1]->currentText(), cboComset[2]->currentText().left(1), cboComset[3]->currentText(),
                  cboComset[4]->currentText()};
    if (cboComset[0]->currentIndex() < 0 || !portSettingsUsable(p)) return QStringLiteral("无效的端口设置");
    return QString();
}

void frmSysSet::cmdSave_Click() {
    guarded(QStringLiteral("保存系统参数失败:"), true, [this] { save(); });
}

void frmSysSet::save() {
    if (ModGeneral::CheckRight(21, 2)) return;
    const QString bad = checkFields();
    if (!bad.isEmpty()) {
        say(bad);
        return;
    }
    setEnabled(false);
    platform::Comm& port = ModComm::ComA();
    const int oldPort = port.CommPort();
    const QString oldSettings = port.Settings();
    const bool wasOpen = port.PortOpen();
    QStringList limits;
    for (QLineEdit* t : txtTime) limits << QString::number(t->text().trimmed().toInt());
    port.setPortOpen(false);
    port.setCommPort(cboComset[0]->currentIndex() + 1);
    port.setSettings(cboComset[1]->currentText().trimmed() + ',' + cboComset[2]->currentText().trimmed().left(1) + ',' +
                     cboComset[3]->currentText().trimmed() + ',' + cboComset[4]->currentText().trimmed());
    if (!ModComm::UsbCollectorChosen() && !port.setPortOpen(true)) {
        const QString why = port.lastError();
        // The port that worked before comes back as it was.
        port.setCommPort(oldPort);
        port.setSettings(oldSettings);
        if (wasOpen) port.setPortOpen(true);
        setEnabled(true);
        say(why.isEmpty() ? QStringLiteral("无法打开端口") : why);
        return;
    }
    const int feeType = checkedIndex(optFee);
    int holdTime = FeeHDTime;
    holdTimeFault(txtMinHoldonTime->text(), true, &holdTime);
    const int prnHD = checkedIndex(optPrint);
    const bool shPrnHD = !chkCity->isChecked();
    const bool prnType = chkPage->isChecked();
    const bool monitorOn = chkMonitor->isChecked();
    const int transferDisplay = optDisp[0]->isChecked() ? 0 : 1;
    const int transferCharge = OptCharge[0]->isChecked() ? 0 : 1;
    QList<QPair<QString, QString>> keys{
        {QStringLiteral("CommPort"), QString::number(port.CommPort())},
        {QStringLiteral("CommSet"), port.Settings()},
        {QStringLiteral("SelCmd"), QStringList{txtSelect[0]->text(), txtSelect[1]->text(), txtSelect[2]->text(),
                                               QString::number(cboSel[0]->currentIndex()),
                                               QString::number(cboSel[1]->currentIndex())}
                                       .join(',')},
        {QStringLiteral("Limit"), limits.join(',')},
        {QStringLiteral("TransferDisplay"), QString::number(transferDisplay)},
        {QStringLiteral("TransferCharge"), QString::number(transferCharge)},
        {QStringLiteral("FeeHDTime"), QString::number(holdTime)},
        {QStringLiteral("FeeType"), QString::number(feeType)},
        {QStringLiteral("PrnHD"), QString::number(prnHD)},
        {QStringLiteral("SHPrnHD"), boolText(shPrnHD)},
        {QStringLiteral("PrnType"), boolText(prnType)},
        {QStringLiteral("CHKUSEUSB"), chkUsb->isChecked() ? QStringLiteral("1") : QStringLiteral("0")},
        {QStringLiteral("BILLMONITORED"), monitorOn ? QStringLiteral("1") : QStringLiteral("0")}};
    const bool deposits = depositChanged_;
    if (deposits)
        for (int i = 0; i < 4; ++i) keys.append({QStringLiteral("Deposit%1").arg(i), money(txtDeposit[i]->text()).toString2()});
    // All the keys are stored or none; the station works by the new values
    // only once they are stored, so that it never charges by a setting the
    // next start would not find.
    ModSwitch::SetVariants(keys);
    FeeType = feeType;
    FeeHDTime = holdTime;
    PrnHD = prnHD;
    SHPrnHD = shPrnHD;
    PrnType = prnType;
    g_MonitorOn = monitorOn;
    TransferDisplay = transferDisplay;
    TransferCharge = transferCharge;
    if (deposits) {
        depositChanged_ = false;
        ModGeneral::CheckDeposit(0, true, false);
    }
    ModGeneral::AddOpLog(QStringLiteral("保存系统参数"));
    setEnabled(true);
}

bool frmSysSet::guarded(const QString& what, bool portAtStake, const std::function<void()>& handler) {
    const platform::Comm& inUse = ModComm::ComA();
    const PortInUse before{inUse.CommPort(), inUse.Settings(), inUse.PortOpen()};
    try {
        handler();
        return true;
    } catch (const platform::ProgramEnded&) {
        setEnabled(true);
        throw;
    } catch (const std::exception& e) {
        // A database that cannot be read or written (full, locked by another
        // program) ends the command here, never in the window system: the
        // window works again, and the operator learns what failed and, when
        // the command had the port in hand, where the port is now.
        QString why = what + platform::OperatorText(e);
        if (portAtStake) why += reopenStoredPort(before);
        setEnabled(true);
        say(why);
    }
    return false;
}

void frmSysSet::chkUsb_Click() {
    guarded(QStringLiteral("保存端口选择失败:"), false, [this] {
        const bool usb = chkUsb->isChecked();
        try {
            ModSwitch::SetVariant(QStringLiteral("CHKUSEUSB"), usb ? QStringLiteral("1") : QStringLiteral("0"));
        } catch (const platform::DbError&) {
            // Not stored, not taken: the box shows the choice in force.
            chkUsb->setChecked(ModComm::UsbCollectorChosen());
            throw;
        }
        ModComm::ChooseTransport(usb);
        if (core::Console* c = core::TheConsole())
            if (QAction* a = c->ConsoleWidget()->findChild<QAction*>(QStringLiteral("mnuUsb"))) a->setVisible(usb);
        FraCom->setEnabled(!usb);
        // The serial port opens again as it stands set; the collector needs no opening.
        if (!usb && !ModComm::ComA().PortOpen()) ModComm::ComA().setPortOpen(true);
    });
}

void frmSysSet::DTSysTime_Change() {
    QString why;
    if (!platform::SetPcClock(DTSysTime->dateTime(), &why))
        say(QStringLiteral("设置系统时间失败:") + why);
}

void frmSysSet::cmdTestPort_Click() {
    // The port fields show where the port is after a detection that failed.
    if (!guarded(QStringLiteral("自动检测失败:"), true, [this] { detectPort(); }))
        showPort(ModComm::ComA().CommPort(), ModComm::ComA().Settings());
}

void frmSysSet::detectPort() {
    setEnabled(false);
    platform::Comm& port = ModComm::ComA();
    const PortInUse before{port.CommPort(), port.Settings(), port.PortOpen()};
    // A device named in the settings is the only place the switch can be.
    const bool fixedDevice = !port.Device().trimmed().isEmpty();
    port.setSettings(QStringLiteral("9600,N,8,1"));
    int found = 0;
    const int last = fixedDevice ? 1 : cboComset[0]->count();
    for (int n = 1; n <= last && !found; ++n) {
        port.setPortOpen(false);
        if (!fixedDevice) {
            cboComset[0]->setCurrentIndex(n - 1);
            port.setCommPort(n);
        }
        if (!port.setPortOpen(true)) continue;
        // The wait for any frame is in place before the probe goes out: the
        // switch answers at once, and an answer arriving while the probe still
        // waited for its acknowledgement would find nobody waiting for it.
        QByteArray answer;
        if (ModComm::GetOrder(answer, FrameCode::kAnyCode, false, FrameCode::kLinkProbe, 5) == ModComm::GotAnswer)
            found = fixedDevice ? port.CommPort() : n;
    }
    if (found) {
        showPort(port.CommPort(), QStringLiteral("9600,N,8,1"));
        cboComset[2]->setCurrentIndex(2);
        if (!fixedDevice) ModSwitch::SetVariant(QStringLiteral("CommPort"), QString::number(found));
        ModSwitch::SetVariant(QStringLiteral("CommSet"), port.Settings());
    } else {
        const QString reopened = reopenStoredPort(before);
        showPort(port.CommPort(), port.Settings());
        say(QStringLiteral("检测失败，请确认集团电话是否已开机!") + reopened);
    }
    setEnabled(true);
}

void frmSysSet::cmd_Click(int index) {
    guarded(QString(), false, [this, index] { switchCommand(index); });
}

void frmSysSet::switchCommand(int index) {
    if (ModGeneral::CheckRight(21, 2)) return;
    setEnabled(false);
    try {
        if (index == 0) {
            OperationCommands::mnuDownPara_Click();
        } else if (index == 2) {
            OperationCommands::mnuDownSysTime_Click();
        } else {
            const transfer::SystemParams p = transfer::ReadSystemParams();
            if (p.limits == transfer::SystemParams::Read)
                for (int i = 0; i < 8; ++i) txtTime[i]->setText(QString::number(p.limit[i]));
            if (p.selCmd == transfer::SystemParams::Read) {
                for (int i = 0; i < 3; ++i) txtSelect[i]->setText(p.selDial[i]);
                for (int i = 0; i < 2; ++i) cboSel[i]->setCurrentIndex(p.selSwitch[i]);
            }
            if (p.complete()) ModGeneral::AddOpLog(QStringLiteral("上传系统参数"));
            const QString message = p.message();
            say(message);
        }
    } catch (const platform::ProgramEnded&) {
        setEnabled(true);
        throw;
    } catch (...) {
    }
    setEnabled(true);
}

void frmSysSet::cmdExit_Click() {
    guarded(QString(), false, [] { ModComm::SetMonitor(true); });
    hide();
}
