#include "transfer/frmIPPuhPara.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/Notices.h"
#include "core/Settings.h"
#include "core/OpLog.h"
#include "core/frmProgress.h"
#include "link/ClsACK.h"
#include "link/FrameCodes.h"
#include "link/ModComm.h"
#include "params/OptionLists.h"
#include "platform/AppExit.h"
#include "platform/Clock.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "platform/Prompts.h"
#include "pricing/BillFile.h"
#include "transfer/IPPuhPara.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QFile>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <optional>

using platform::Currency;

namespace {

frmIPPuhPara* g_instance = nullptr;

constexpr int kRightPara = 29;
constexpr int kRightUpload = 30;
const Currency kMaxAmount = Currency::fromFen(65535);
const QString kRangeMessage = QStringLiteral("请输入0-655.35之间的数值");
const QString kDeductFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QDateTime kDefaultDeduct(QDate(2004, 2, 1), QTime(0, 0, 0));

void say(const QString& text) { platform::MsgBox(text, platform::mbOKOnly, AppName); }

// Orders sent without waiting; a failing send is no reason to stop a cleanup.
void send(const QString& order) {
    try {
        ModComm::SendOrder(order, false, 4, true);
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception&) {
    }
}

void mainEnabled(bool on) { core::HoldStation(!on); }

// The amount of a deposit or rent field; none when it is too large to hold.
std::optional<Currency> amountOf(const QString& text) { return IPPuhPara::AmountOf(text); }

bool amountInRange(const std::optional<Currency>& v) {
    return v && v->roundToFen() >= Currency() && v->roundToFen() <= kMaxAmount;
}

// The shortest talk time as the switch takes it: whole seconds, halves to the
// even neighbour; none when the text's number is too large to write out.
std::optional<double> shortSeconds(const QString& text) {
    const std::optional<QString> n = IPPuhPara::LeadingNumber(text);
    if (!n) return std::nullopt;
    return std::nearbyint(n->toDouble());
}

// A stored grade that names none (the empty entries of the list, 14 and 15,
// as an earlier save could store them) shows as unset rather than as the top
// grades its remainder would select.
int storedGrade(const QString& key) {
    bool ok = false;
    const int g = ModSwitch::GetVariant(key, QStringLiteral("13")).trimmed().toInt(&ok);
    if (!ok) return 13;
    return g >= 0 && g < IPPuhPara::kGrades ? g : -1;
}

QDateTime storedDeduct() {
    const QString text = ModSwitch::GetVariant(QStringLiteral("IPPUHDEDUCT")).trimmed();
    const QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-M-d H:m:s"));
    return t.isValid() ? t : kDefaultDeduct;
}

QString checkText(const QCheckBox* c) { return c->isChecked() ? QStringLiteral("1") : QStringLiteral("0"); }

}  // namespace

frmIPPuhPara& frmIPPuhPara::instance() {
    if (!g_instance) g_instance = new frmIPPuhPara;
    return *g_instance;
}

bool frmIPPuhPara::exists() { return g_instance != nullptr; }

void frmIPPuhPara::unload() {
    if (g_instance) g_instance->close();
}

void frmIPPuhPara::ShowFromConsole() {
    frmIPPuhPara& f = instance();
    f.show();
    f.raise();
    f.activateWindow();
}

frmIPPuhPara::frmIPPuhPara() : QWidget(nullptr, Qt::Window) {
    setObjectName(QStringLiteral("frmIPPuhPara"));
    setWindowTitle(QStringLiteral("IP公话参数"));
    // Over every other window, as long as it is open.
    setWindowFlag(Qt::WindowStaysOnTopHint);

    auto lineEdit = [this](const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->installEventFilter(this);
        connect(e, &QLineEdit::textChanged, this, [this] { markEdited(); });
        return e;
    };

    Frame1 = new QGroupBox(QStringLiteral("最低押金可拨打等级"), this);
    auto* g1 = new QGridLayout(Frame1);
    const char* const depositLabels[] = {"等级一押金", "等级二押金"};
    for (int i = 0; i < 2; ++i) {
        txtDeposit << lineEdit(i == 0 ? "txtDeposit0" : "txtDeposit1");
        auto* cbo = new QComboBox(this);
        cbo->setObjectName(QStringLiteral("cboGrade%1").arg(i));
        cbo->setEditable(true);
        cbo->setInsertPolicy(QComboBox::NoInsert);
        cbo->setCompleter(nullptr);
        connect(cbo->lineEdit(), &QLineEdit::textEdited, this, [cbo] { ModGeneral::ComboAutoComplete(cbo, false, true); });
        connect(cbo, &QComboBox::currentIndexChanged, this, [this] { markEdited(); });
        connect(cbo, &QComboBox::editTextChanged, this, [this] { markEdited(); });
        cboGrade << cbo;
        g1->addWidget(new QLabel(QString::fromUtf8(depositLabels[i]), Frame1), i, 0);
        g1->addWidget(txtDeposit[i], i, 1);
        g1->addWidget(new QLabel(QStringLiteral("可拨打等级"), Frame1), i, 2);
        g1->addWidget(cbo, i, 3);
    }

    Frame2 = new QGroupBox(QStringLiteral("月租费参数"), this);
    auto* g2 = new QGridLayout(Frame2);
    txtRent = lineEdit("txtRent");
    dtDeduct = new QDateTimeEdit(this);
    dtDeduct->setObjectName(QStringLiteral("dtDeduct"));
    dtDeduct->setDisplayFormat(QStringLiteral("d日 H时"));
    connect(dtDeduct, &QDateTimeEdit::dateTimeChanged, this, [this] { dtDeduct_Change(); });
    chkMode = new QCheckBox(QStringLiteral("自动扣除方式"), Frame2);
    chkDeposit = new QCheckBox(QStringLiteral("押金透支不扣除"), Frame2);
    chkOverdraft = new QCheckBox(QStringLiteral("押金允许透支"), Frame2);
    for (QCheckBox* c : {chkMode, chkDeposit, chkOverdraft})
        connect(c, &QCheckBox::toggled, this, [this] { markEdited(); });
    g2->addWidget(new QLabel(QStringLiteral("月租费用"), Frame2), 0, 0);
    g2->addWidget(txtRent, 0, 1);
    g2->addWidget(new QLabel(QStringLiteral("扣除时间"), Frame2), 0, 2);
    g2->addWidget(dtDeduct, 0, 3);
    g2->addWidget(chkMode, 1, 0, 1, 2);
    g2->addWidget(chkDeposit, 1, 2);
    g2->addWidget(chkOverdraft, 1, 3);

    txtShort = lineEdit("txtShort");
    auto* shortRow = new QHBoxLayout;
    const QString shortCaption = QStringLiteral("保存话单最小通话时长     秒");
    shortRow->addWidget(new QLabel(shortCaption.section(QLatin1Char(' '), 0, 0), this));
    shortRow->addWidget(txtShort);
    shortRow->addWidget(new QLabel(QStringLiteral("秒"), this));
    shortRow->addStretch();

    auto button = [this](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QLatin1String(name));
        return b;
    };
    cmdSave = button("cmdSave", "保存");
    cmdDown = button("cmdDown", "下载");
    cmdUpsend = button("cmdUpsend", "上传");
    cmdCancel = button("cmdCancel", "取消");
    connect(cmdSave, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
    connect(cmdDown, &QPushButton::clicked, this, [this] { cmdDown_Click(); });
    connect(cmdUpsend, &QPushButton::clicked, this, [this] { cmdUpsend_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {cmdSave, cmdDown, cmdUpsend, cmdCancel}) buttons->addWidget(b);

    Frame3 = new QGroupBox(QStringLiteral("话单上传"), this);
    auto* g3 = new QHBoxLayout(Frame3);
    DTPStart = new QDateEdit(Frame3);
    DTPStart->setObjectName(QStringLiteral("DTPStart"));
    DTPEnd = new QDateEdit(Frame3);
    DTPEnd->setObjectName(QStringLiteral("DTPEnd"));
    for (QDateEdit* d : {DTPStart, DTPEnd}) {
        d->setDisplayFormat(QStringLiteral("MM-dd"));
        d->setCalendarPopup(true);
    }
    // The calendars name months and weekdays in Chinese.
    for (QDateTimeEdit* d : {dtDeduct, static_cast<QDateTimeEdit*>(DTPStart), static_cast<QDateTimeEdit*>(DTPEnd)})
        d->setLocale(QLocale(QLocale::Chinese, QLocale::China));
    cmdUpBill = new QPushButton(QStringLiteral("上传话单"), Frame3);
    cmdUpBill->setObjectName(QStringLiteral("cmdUpBill"));
    connect(cmdUpBill, &QPushButton::clicked, this, [this] { cmdUpBill_Click(); });
    g3->addWidget(new QLabel(QStringLiteral("开始日期"), Frame3));
    g3->addWidget(DTPStart);
    g3->addWidget(new QLabel(QStringLiteral("结束日期"), Frame3));
    g3->addWidget(DTPEnd);
    g3->addStretch();
    g3->addWidget(cmdUpBill);

    auto* lay = new QVBoxLayout(this);
    lay->addWidget(Frame1);
    lay->addWidget(Frame2);
    lay->addLayout(shortRow);
    lay->addLayout(buttons);
    lay->addWidget(Frame3);

    Form_Load();
}

frmIPPuhPara::~frmIPPuhPara() {
    m_Closing = true;
    if (g_instance == this) g_instance = nullptr;
}

void frmIPPuhPara::Form_Load() {
    QStringList grades;
    ModSwitch::GetOptionList(QStringLiteral("使用等级"), grades);
    for (QComboBox* c : cboGrade) ModGeneral::FillComboFromArray(c, grades);
    DTPEnd->setDate(platform::Now().date().addDays(-1));
    // A month without the day gives its last day.
    DTPStart->setDate(DTPEnd->date().addMonths(-1));
    LoadPara();
}

void frmIPPuhPara::LoadPara() {
    txtDeposit[0]->setText(ModSwitch::GetVariant(QStringLiteral("IPPUHDEPOSIT0"), QStringLiteral("0.00")));
    cboGrade[0]->setCurrentIndex(storedGrade(QStringLiteral("IPPUHGRADE0")));
    txtDeposit[1]->setText(ModSwitch::GetVariant(QStringLiteral("IPPUHDEPOSIT1"), QStringLiteral("0.00")));
    cboGrade[1]->setCurrentIndex(storedGrade(QStringLiteral("IPPUHGRADE1")));
    txtRent->setText(ModSwitch::GetVariant(QStringLiteral("IPPUHRENT"), QStringLiteral("0.00")));
    dtDeduct->setDateTime(storedDeduct());
    chkMode->setChecked(ModSwitch::GetVariant(QStringLiteral("IPPUHMODE"), QStringLiteral("0")).trimmed() == QLatin1String("1"));
    chkDeposit->setChecked(ModSwitch::GetVariant(QStringLiteral("IPPUHDEPOSIT"), QStringLiteral("0")).trimmed() == QLatin1String("1"));
    chkOverdraft->setChecked(ModSwitch::GetVariant(QStringLiteral("IPPUHOVERDRAFT"), QStringLiteral("0")).trimmed() == QLatin1String("1"));
    txtShort->setText(ModSwitch::GetVariant(QStringLiteral("IPPUHSHORT"), QStringLiteral("3")));
    // Filling the fields counted as editing them.
    setUnsaved(false);
}

int frmIPPuhPara::GradeIndex(int index) const {
    const QComboBox* c = cboGrade.value(index);
    if (!c) return -1;
    // The list's empty entries after "禁止使用" name no grade.
    if (c->currentText().isEmpty()) return -1;
    const int current = c->currentIndex();
    const int g = current >= 0 && c->itemText(current) == c->currentText() ? current
                                                                            : c->findText(c->currentText(), Qt::MatchExactly);
    return g < IPPuhPara::kGrades ? g : -1;
}

QWidget* frmIPPuhPara::fieldFault(QString* message) const {
    for (QLineEdit* e : {txtDeposit[0], txtDeposit[1], txtRent}) {
        if (!amountInRange(amountOf(e->text()))) {
            *message = kRangeMessage;
            return e;
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (GradeIndex(i) < 0) {
            *message = QStringLiteral("请选择可拨打等级");
            return cboGrade[i];
        }
    }
    const std::optional<double> secs = shortSeconds(txtShort->text());
    if (!secs || *secs < 0 || *secs > 255) {
        *message = QStringLiteral("此项数据只能是0-255之间的数");
        return txtShort;
    }
    return nullptr;
}

void frmIPPuhPara::refuse(QWidget* field, const QString& message) {
    say(message);
    // After the window is enabled again, where a transfer had disabled it.
    QTimer::singleShot(0, field, [field] { field->setFocus(); });
}

bool frmIPPuhPara::SavePara() {
    QString message;
    if (QWidget* field = fieldFault(&message)) {
        refuse(field, message);
        return false;
    }
    if (*amountOf(txtDeposit[1]->text()) > *amountOf(txtDeposit[0]->text())) {
        refuse(txtDeposit[0], QStringLiteral("等级一押金不能小于等级二押金"));
        return false;
    }
    if (GradeIndex(1) < GradeIndex(0)) {
        refuse(cboGrade[0], QStringLiteral("等级一不能小于等级二"));
        return false;
    }
    {
        // All ten or none.
        platform::Transaction tx(dbSwitch);
        ModSwitch::SetVariant(QStringLiteral("IPPUHDEPOSIT0"), txtDeposit[0]->text());
        ModSwitch::SetVariant(QStringLiteral("IPPUHDEPOSIT1"), txtDeposit[1]->text());
        ModSwitch::SetVariant(QStringLiteral("IPPUHRENT"), txtRent->text());
        ModSwitch::SetVariant(QStringLiteral("IPPUHSHORT"), txtShort->text());
        ModSwitch::SetVariant(QStringLiteral("IPPUHGRADE0"), QString::number(GradeIndex(0)));
        ModSwitch::SetVariant(QStringLiteral("IPPUHGRADE1"), QString::number(GradeIndex(1)));
        ModSwitch::SetVariant(QStringLiteral("IPPUHDEDUCT"), dtDeduct->dateTime().toString(kDeductFormat));
        ModSwitch::SetVariant(QStringLiteral("IPPUHMODE"), checkText(chkMode));
        ModSwitch::SetVariant(QStringLiteral("IPPUHOVERDRAFT"), checkText(chkOverdraft));
        ModSwitch::SetVariant(QStringLiteral("IPPUHDEPOSIT"), checkText(chkDeposit));
        tx.commit();
    }
    setUnsaved(false);
    return true;
}

void frmIPPuhPara::cmdSave_Click() {
    try {
        SavePara();
    } catch (const platform::DbError& e) {
        say(platform::OperatorText(e));
    }
}

void frmIPPuhPara::markEdited() {
    if (!m_Closing) setUnsaved(true);
}

void frmIPPuhPara::setUnsaved(bool on) {
    m_Unsaved = on;
    cmdSave->setEnabled(on && !m_Busy);
}

void frmIPPuhPara::setBusy(bool on) {
    m_Busy = on;
    for (QPushButton* b : {cmdDown, cmdUpsend, cmdCancel, cmdUpBill}) b->setEnabled(!on);
    cmdSave->setEnabled(m_Unsaved && !on);
}

bool frmIPPuhPara::txtDeposit_LostFocus(int index) {
    QLineEdit* e = txtDeposit.value(index);
    if (!e) return true;
    const std::optional<Currency> v = amountOf(e->text());
    if (v) e->setText(v->toString2());
    if (amountInRange(v)) return true;
    say(kRangeMessage);
    return false;
}

bool frmIPPuhPara::txtRent_LostFocus() {
    const std::optional<Currency> v = amountOf(txtRent->text());
    if (v) txtRent->setText(v->toString2());
    if (amountInRange(v)) return true;
    say(kRangeMessage);
    return false;
}

void frmIPPuhPara::txtShort_LostFocus() {
    // A number too large to write out stays as typed; the save refuses it.
    if (const std::optional<QString> n = IPPuhPara::LeadingNumber(txtShort->text()))
        txtShort->setText(QString::number(n->toDouble(), 'g', 15));
}

void frmIPPuhPara::dtDeduct_Change() {
    // Only days every month has: the rent is deducted in February too.
    const QDateTime t = dtDeduct->dateTime();
    if (t.date().day() > 28) {
        dtDeduct->setDateTime(QDateTime(QDate(t.date().year(), t.date().month(), 28), t.time()));
        return;   // the change this makes marks the edit
    }
    markEdited();
}

bool frmIPPuhPara::eventFilter(QObject* o, QEvent* e) {
    auto* box = qobject_cast<QLineEdit*>(o);
    if (!box || m_Closing || m_Busy || (e->type() != QEvent::FocusIn && e->type() != QEvent::FocusOut))
        return QWidget::eventFilter(o, e);
    if (e->type() == QEvent::FocusIn) {
        QTimer::singleShot(0, box, [box] { ModGeneral::SelectAllText(box); });
        return false;
    }
    // The field is left within the window, not only the window for another one.
    const Qt::FocusReason why = static_cast<QFocusEvent*>(e)->reason();
    if (why == Qt::ActiveWindowFocusReason || why == Qt::PopupFocusReason) return false;
    bool ok = true;
    if (txtDeposit.contains(box)) ok = txtDeposit_LostFocus(txtDeposit.indexOf(box));
    else if (box == txtRent) ok = txtRent_LostFocus();
    else if (box == txtShort) txtShort_LostFocus();
    if (!ok) QTimer::singleShot(0, box, [box] { box->setFocus(); });
    return false;
}

void frmIPPuhPara::cmdUpsend_Click() {
    if (ModGeneral::CheckRight(kRightPara, ModGeneral::kRightMessage)) return;
    setBusy(true);
    setEnabled(false);
    try {
        send(FrameCode::kReadIPPuhPara);
        QByteArray answer;
        std::optional<IPPuhPara::Params> p;
        // Taken over only when the whole answer makes sense: a bad day or
        // hour leaves every field as it was.
        if (ModComm::GetOrder(answer, FrameCode::kIPPuhPara, false, QString(), 5) == ModComm::GotAnswer)
            p = IPPuhPara::DecodeAnswer(answer);
        if (p) {
            txtDeposit[0]->setText(p->deposit[0].toString2());
            cboGrade[0]->setCurrentIndex(p->grade[0]);
            txtDeposit[1]->setText(p->deposit[1].toString2());
            cboGrade[1]->setCurrentIndex(p->grade[1]);
            dtDeduct->setDateTime(QDateTime(QDate(2004, 1, p->day), QTime(p->hour, 0, 0)));
            txtRent->setText(p->rent.toString2());
            chkMode->setChecked(p->autoDeduct);
            chkDeposit->setChecked(p->noDeductOverdrawn);
            chkOverdraft->setChecked(p->mayOverdraw);
            txtShort->setText(QString::number(p->shortSecs));
            say(QStringLiteral("上传IP公话参数成功"));
        } else {
            say(QStringLiteral("上传IP公话参数失败"));
        }
    } catch (const platform::ProgramEnded&) {
        setEnabled(true);
        setBusy(false);
        throw;
    } catch (const std::exception&) {
        say(QStringLiteral("上传IP公话参数失败"));
    }
    setEnabled(true);
    setBusy(false);
}

void frmIPPuhPara::cmdDown_Click() {
    if (ModGeneral::CheckRight(kRightPara, ModGeneral::kRightMessage)) return;
    setBusy(true);
    setEnabled(false);
    try {
        bool go = true;
        if (m_Unsaved) {
            // This one question carries the program's own title.
            if (platform::MsgBox(QStringLiteral("参数已改变，要保存吗?"), platform::mbYesNo, QString()) == platform::rYes)
                go = SavePara();
            else
                LoadPara();
        }
        QString message;
        if (go) {
            if (QWidget* field = fieldFault(&message)) {
                refuse(field, message);
                go = false;
            }
        }
        if (go) {
            IPPuhPara::Params p;
            p.deposit[0] = *amountOf(txtDeposit[0]->text());
            p.deposit[1] = *amountOf(txtDeposit[1]->text());
            p.grade[0] = GradeIndex(0);
            p.grade[1] = GradeIndex(1);
            p.day = dtDeduct->date().day();
            p.hour = dtDeduct->time().hour();
            p.rent = *amountOf(txtRent->text());
            p.autoDeduct = chkMode->isChecked();
            p.noDeductOverdrawn = chkDeposit->isChecked();
            p.mayOverdraw = chkOverdraft->isChecked();
            p.shortSecs = int(*shortSeconds(txtShort->text()));
            const bool acked = ModComm::SendOrder(IPPuhPara::ParaOrder(p), true, 4, true) == ModComm::Acknowledged;
            say(acked ? QStringLiteral("下载IP公话参数成功") : QStringLiteral("下载IP公话参数失败"));
        }
    } catch (const platform::ProgramEnded&) {
        setEnabled(true);
        setBusy(false);
        throw;
    } catch (const std::exception&) {
        say(QStringLiteral("下载IP公话参数失败"));
    }
    setEnabled(true);
    setBusy(false);
}

void frmIPPuhPara::cmdUpBill_Click() {
    if (ModGeneral::CheckRight(kRightUpload, ModGeneral::kRightMessage)) return;
    setBusy(true);
    try {
        recordUpload();
    } catch (...) {
        setBusy(false);
        throw;
    }
    setBusy(false);
}

void frmIPPuhPara::recordUpload() {
    // Records of an earlier upload that could not be stored yet are stored
    // first: the new upload replaces their file only when none waits.
    int waiting = pricing::billfile::BeforeRead();
    if (waiting > 0) {
        say(QStringLiteral("上传话单失败:") + pricing::billfile::WaitingText(waiting));
        return;
    }
    const QString request = IPPuhPara::RecordUploadOrder(DTPStart->date(), DTPEnd->date());
    // The switch's own reports pause while it uploads: a record it sent live
    // meanwhile would be taken for an uploaded one and never charged.
    send(FrameCode::kPauseReports);
    // The switch starts sending as soon as it acknowledges the request: its
    // records are waited for from before the request goes.
    ModComm::StreamAsk records(FrameCode::kCallRecord);
    ClsACK ack;
    if (ack.SendOrder(request, true, 2, true) != ModComm::Acknowledged) {
        records.close();
        send(FrameCode::kResumeReports);
        say(QStringLiteral("上传话单失败"));
        return;
    }
    // The switch takes the pause before the request and sends its records
    // after the acknowledgement: the records that came before it were sent
    // live. They go the live road, in their order, answered and charged there.
    QByteArray early;
    while (records.takeArrivedBefore(early, ack.heardAt)) ModComm::DealRecord(early, false);
    send(FrameCode::kMonitorOff);
    pricing::billfile::Writer file;
    pricing::billfile::Report report;
    int n = 0;
    try {
        mainEnabled(false);
        if (!file.start(false, &waiting)) throw std::runtime_error("Bill.dat");
        frmProgress::instance().LoadProgress(QStringLiteral("读取话单..."), true, IPPuhPara::kMaxRecords - 1, 0, false);
        for (int pass = 0; pass < IPPuhPara::kMaxRecords; ++pass) {
            if (frmProgress::exists() && frmProgress::instance().bStop) break;
            QByteArray record;
            if (records.next(record, 5) != ModComm::GotAnswer) break;
            // On the disk before the switch hears that it may forget the record.
            if (!file.append(record)) throw std::runtime_error("Bill.dat");
            ++n;
            if (frmProgress::exists()) frmProgress::instance().setpValue(-1, QString());
            // The record that ends the upload (Stop, or the last one taken) is
            // kept but not answered: an answer would bring the switch's next
            // record, which nobody waits for any more and which the live road
            // would then price as a new call.
            const bool last = pass == IPPuhPara::kMaxRecords - 1 || (frmProgress::exists() && frmProgress::instance().bStop);
            if (last) break;
            send(FrameCode::kAckStored);
        }
        records.close();
        file.close();
        frmProgress::unload();
        send(FrameCode::kCloseUpload);

        frmProgress::instance().LoadProgress(QStringLiteral("正在计算话费..."), false, n - 1, 0, false);
        ModGeneral::Delay(10);
        waiting = pricing::billfile::Price([] {
            if (frmProgress::exists()) frmProgress::instance().setpValue(-1, QString());
        }, &report);
        frmProgress::unload();
        send(FrameCode::kResumeReports);
        ModComm::SetMonitor(true);
        // Records that could not be stored wait in the file; the operator knows how many.
        if (waiting > 0) say(QStringLiteral("读取话单失败:") + pricing::billfile::WaitingText(waiting));
        else if (!report.stopped.isEmpty()) say(QStringLiteral("读取话单失败:") + report.stopped);
        else if (report.rejected > 0) say(QStringLiteral("读取话单成功，") + pricing::billfile::RejectText(report));
        else say(QStringLiteral("读取话单成功"));
        mainEnabled(true);
    } catch (const platform::ProgramEnded&) {
        frmProgress::unload();
        mainEnabled(true);
        throw;
    } catch (const std::exception&) {
        records.close();
        file.close();
        frmProgress::unload();
        send(FrameCode::kCloseUpload);
        mainEnabled(true);
        // What was answered before the failure is on the disk: it is priced now, or waits.
        waiting = 0;
        try {
            waiting = pricing::billfile::Price({}, &report);
        } catch (const std::exception&) {
            waiting = pricing::billfile::Waiting();
        }
        say(QStringLiteral("读取话单失败") +
            (waiting > 0                  ? QStringLiteral(":") + pricing::billfile::WaitingText(waiting)
             : !report.stopped.isEmpty() ? QStringLiteral(":") + report.stopped
             : report.rejected > 0       ? QStringLiteral(":") + pricing::billfile::RejectText(report)
                                         : QString()));
        send(FrameCode::kResumeReports);
        ModComm::SetMonitor(true);
    }
}

void frmIPPuhPara::cmdCancel_Click() { close(); }

void frmIPPuhPara::closeEvent(QCloseEvent* e) {
    // A transfer of this window runs inside its handlers: the window stays until it ends.
    if (m_Busy) {
        e->ignore();
        return;
    }
    m_Closing = true;
    e->accept();
    if (g_instance == this) g_instance = nullptr;
    deleteLater();
    if (core::Console* c = core::TheConsole())
        if (QWidget* w = c->ConsoleWidget()) w->show();
}
