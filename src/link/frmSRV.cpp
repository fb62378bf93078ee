#include "link/frmSRV.h"

#include "platform/Db.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/OpLog.h"
#include "link/FrameCodes.h"
#include "link/LinkTrace.h"
#include "link/ModComm.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"

#include <QApplication>
#include <QThread>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRandomGenerator>
#include <QResizeEvent>
#include <QTimer>
#include <cmath>
#include <memory>

namespace {
// Not destroyed at exit: a window must not outlive the application object.
frmSRV* g_instance = nullptr;
constexpr int kMaxLines = 5000;
}  // namespace

using platform::px;
using platform::twips;

frmSRV& frmSRV::instance() {
    if (!g_instance) g_instance = new frmSRV;
    return *g_instance;
}
bool frmSRV::exists() { return g_instance != nullptr; }
void frmSRV::unload() {
    delete g_instance;
    g_instance = nullptr;
}

std::function<bool(int, int)>& frmSRV::rightCheck() {
    static std::function<bool(int, int)> check = [](int right, int mode) { return ModGeneral::CheckRight(right, mode); };
    return check;
}

frmSRV::frmSRV(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmSRV"));
    setWindowTitle(QStringLiteral("调试窗口"));
    setMinimumSize(px(9700), px(4000));
    marks_[0] = QStringLiteral("<-");
    marks_[1] = QStringLiteral("->");
    marks_[2] = QStringLiteral("--");

    lstRec = new TraceList(this);
    lstRec->setObjectName(QStringLiteral("lstRec"));
    lstBuf = new TraceList(this);
    lstBuf->setObjectName(QStringLiteral("lstBuf"));
    fraV = new QFrame(this);
    fraV->setFrameShape(QFrame::VLine);
    fraV->setCursor(Qt::SplitHCursor);
    fraV->installEventFilter(this);

    Frame1 = new QFrame(this);
    Frame1->setFixedHeight(px(1300));
    Label1 = new QLabel(QStringLiteral("命令窗口"), Frame1);
    Label1->setGeometry(8, 4, 80, 20);
    Label1->installEventFilter(this);
    cboLst = new QComboBox(Frame1);
    cboLst->setEditable(true);
    cboLst->setInsertPolicy(QComboBox::NoInsert);
    cboLst->setGeometry(90, 2, 300, 24);
    cboLst->installEventFilter(this);
    cmdSend = new QPushButton(QStringLiteral("发送"), Frame1);
    cmdSend->setGeometry(400, 2, 60, 24);
    cmdReceive = new QPushButton(QStringLiteral("接 收"), Frame1);
    cmdReceive->setGeometry(465, 2, 60, 24);
    cmdCopy = new QPushButton(QStringLiteral("复制"), Frame1);
    cmdCopy->setGeometry(530, 2, 60, 24);
    cmdClear = new QPushButton(QStringLiteral("清除"), Frame1);
    cmdClear->setGeometry(400, 30, 60, 24);
    cmdClose = new QPushButton(QStringLiteral("关闭"), Frame1);
    cmdClose->setGeometry(465, 30, 60, 24);
    txtSearch = new QLineEdit(Frame1);
    txtSearch->setGeometry(90, 30, 230, 24);
    txtSearch->installEventFilter(this);
    cmdSearch = new QPushButton(QStringLiteral("查找"), Frame1);
    cmdSearch->setGeometry(325, 30, 65, 24);
    chkVerify = new QCheckBox(QStringLiteral("计算校验位"), Frame1);
    chkVerify->setGeometry(8, 60, 100, 22);
    Check1 = new QCheckBox(QStringLiteral("锁定"), Frame1);
    Check1->setGeometry(110, 60, 70, 22);
    Check2 = new QCheckBox(QStringLiteral("显示在最前面"), Frame1);
    Check2->setGeometry(185, 60, 120, 22);
    chkShowBuf = new QCheckBox(QStringLiteral("显示缓冲"), Frame1);
    chkShowBuf->setGeometry(310, 60, 90, 22);
    cmdMon = new QPushButton(QStringLiteral("自动演示"), Frame1);
    cmdMon->setGeometry(530, 30, 80, 24);
    cmdMon->hide();
    cmdTest = new QPushButton(QStringLiteral("测试"), Frame1);
    cmdTest->setGeometry(530, 58, 80, 24);
    cmdTest->hide();
    // The filter box stands where the hidden hand-entry box would be.
    txtFilter = new QLineEdit(Frame1);
    txtFilter->setGeometry(8, 30, 78, 24);
    txtFilter->hide();

    connect(cmdSend, &QPushButton::clicked, this, &frmSRV::cmdSend_Click);
    connect(cmdReceive, &QPushButton::clicked, this, &frmSRV::cmdReceive_Click);
    connect(cmdCopy, &QPushButton::clicked, this, &frmSRV::cmdCopy_Click);
    connect(cmdClear, &QPushButton::clicked, this, &frmSRV::cmdClear_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmSRV::cmdClose_Click);
    connect(cmdSearch, &QPushButton::clicked, this, &frmSRV::cmdSearch_Click);
    connect(cmdMon, &QPushButton::clicked, this, &frmSRV::cmdMon_Click);
    connect(cmdTest, &QPushButton::clicked, this, &frmSRV::cmdTest_Click);
    connect(txtFilter, &QLineEdit::textEdited, this, &frmSRV::txtFilter_Change);
    connect(Check1, &QCheckBox::toggled, this, &frmSRV::Check1_Click);
    connect(Check2, &QCheckBox::toggled, this, &frmSRV::Check2_Click);
    connect(lstRec, &TraceList::rowDoubleClicked, this, &frmSRV::lstRec_DblClick);

    resize(px(9700), px(6000));
    lstRec->setGeometry(0, 0, px(9700 - 3000), 200);
    layoutLists();
}

namespace {
// "HH:mm:ss" of the station's clock, written out by hand: every frame to and
// from the switch is traced, shown or not.
QString traceTime() {
    const QTime t = platform::Now().time();
    const int parts[3] = {t.hour(), t.minute(), t.second()};
    QString text(8, QLatin1Char(':'));
    for (int i = 0; i < 3; ++i) {
        text[3 * i] = QLatin1Char(char('0' + parts[i] / 10));
        text[3 * i + 1] = QLatin1Char(char('0' + parts[i] % 10));
    }
    return text;
}
}  // namespace

QString frmSRV::ShowRecord(const QString& text, int dir) {
    const QString spaced = ModComm::SpaceHex(text);
    if (filterLen_ > 0 && text.left(filterLen_) != txtFilter->text()) return spaced;
    if (lstRec->count() > kMaxLines) lstRec->clear();
    lstRec->addItem(traceTime() + marks_[dir < 0 || dir > 2 ? 0 : dir] + spaced);
    if (!locked_) lstRec->scrollToTop(lstRec->count() - 1);
    return spaced;
}

void frmSRV::cboLst_Enter() {
    if (cboLst->currentText().trimmed().compare(QLatin1String("CLEAR"), Qt::CaseInsensitive) == 0) {
        cboLst->clear();
        cboLst->setEditText(QString());
        return;
    }
    cmdSend_Click();
}

void frmSRV::cmdSend_Click() {
    if (rightCheck() && rightCheck()(1, 2)) return;
    QString text = cboLst->currentText();
    ModComm::CheckHex(text);
    cboLst->setEditText(text);
    int row = 0;
    // Looked up as typed: characters 1-4 as the code, 5-6 (if any) as the sub-code.
    if (text.isEmpty() || !ModComm::FindFrame(text.left(4), text.mid(4, 2), row)) {
        cboLst->setEditText(QString());
        platform::MsgBox(QStringLiteral("错误的命令"), platform::mbOKOnly, AppName);
        cboLst->setFocus();
        return;
    }
    ModComm::SendOrder(text, false, 1, chkVerify->isChecked());
    if (cboLst->findText(text, Qt::MatchExactly) < 0) cboLst->insertItem(0, text);
    cboLst->setEditText(text);
}

void frmSRV::cmdReceive_Click() {
    if (rightCheck() && rightCheck()(1, 2)) return;
    QString text = cboLst->currentText();
    if (!ModComm::CheckHex(text)) return;
    if (chkVerify->isChecked()) text += ModComm::CheckSum(text);
    ModComm::PutRxBuf(ModComm::HexToBytes(text));
}

void frmSRV::cmdCopy_Click() {
    QString all;
    for (const QString& line : lstBuf->lines()) all += QLatin1Char(' ') + line;
    QApplication::clipboard()->setText(all);
}

void frmSRV::cmdClear_Click() {
    lstRec->clear();
    lstBuf->clear();
}

void frmSRV::cmdClose_Click() { hide(); }

void frmSRV::cmdSearch_Click() {
    if (txtSearch->text().isEmpty() || lstRec->count() == 0) return;
    int start = lstRec->currentRow() + 1;
    if (start >= lstRec->count() || start < 0) start = 0;
    lstRec->setCurrentRow(start);
    QString needle = txtSearch->text();
    if (!ModComm::CheckHex(needle)) return;
    needle = ModComm::SpaceHex(needle);
    for (int i = start; i < lstRec->count(); ++i) {
        if (lstRec->text(i).mid(10, needle.size()) == needle) {
            Check1->setChecked(true);
            lstRec->scrollToTop(i);
            lstRec->setCurrentRow(i);
            return;
        }
    }
    lstRec->clearSelection();
    Check1->setChecked(false);
}

void frmSRV::txtFilter_Change() {
    const QString up = txtFilter->text().toUpper();
    if (up != txtFilter->text()) txtFilter->setText(up);
    filterLen_ = up.size();
    txtFilter->setCursorPosition(up.size());
}

void frmSRV::Check1_Click() { locked_ = Check1->isChecked(); }

void frmSRV::Check2_Click() {
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, Check2->isChecked());
    if (visible) show();
}

void frmSRV::lstRec_DblClick() {
    const int row = lstRec->currentRow();
    if (row >= 0) cboLst->setEditText(lstRec->text(row).mid(10));
}

void frmSRV::cmdMon_Click() {
    cmdMon->setText(cmdMon->text() == QLatin1String("自动演示") ? QStringLiteral("停止") : QStringLiteral("自动演示"));
    core::Console* c = core::TheConsole();
    QTimer* t = c ? c->Timer1 : nullptr;
    if (!t) return;
    if (!demoConnected_) {
        connect(t, &QTimer::timeout, this, &frmSRV::DemoTick);
        demoConnected_ = true;
    }
    if (t->isActive()) t->stop();
    else t->start();
}

void frmSRV::cmdTest_Click() {
    g_TestMode = g_TestMode ? 0 : -1;
    cmdTest->setText(g_TestMode ? QStringLiteral("停止") : QStringLiteral("测试"));
}

void frmSRV::DemoTick() {
    QRandomGenerator* r = QRandomGenerator::global();
    // The whole number nearest to x times a draw from [0, 1), halves to the even one.
    const auto nearest = [r](double x) { return static_cast<int>(std::nearbyint(x * r->generateDouble())); };
    // Written without a checksum: the receive command adds one when "计算校验位" is checked.
    const auto inject = [this](const QString& frame) {
        cboLst->setEditText(frame);
        cmdReceive_Click();
    };
    for (int i = 0, n = nearest(2); i <= n; ++i) {
        QString card = FrameCode::kCardState + ModComm::ByteToHex(static_cast<quint8>(nearest(17)));
        for (int k = 0; k < 8; ++k) card += ModComm::ByteToHex(static_cast<quint8>(nearest(63)));
        inject(card);
    }
    for (int j = 0, m = nearest(2); j <= m; ++j) {
        inject(FrameCode::kPortState + QStringLiteral("0") + QString::number(r->bounded(16), 16).toUpper() +
               ModComm::ByteToHex(static_cast<quint8>(nearest(63))) + QStringLiteral("001100110011"));
    }
}

void frmSRV::Label1_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers mods) {
    if (!(mods & Qt::ControlModifier) || !(mods & Qt::ShiftModifier)) return;
    if (button == Qt::LeftButton) {
        cmdMon->setVisible(!cmdMon->isVisible());
        cmdTest->setVisible(!cmdTest->isVisible());
    } else {
        txtFilter->setVisible(!txtFilter->isVisible());
        txtFilter->clear();
        txtFilter_Change();
    }
}

bool frmSRV::eventFilter(QObject* o, QEvent* e) {
    // Every event of the watched controls passes here: each is read as a key or
    // mouse event only when it is one.
    const QEvent::Type type = e->type();
    if ((o == cboLst || o == txtSearch) && type == QEvent::KeyPress) {
        const auto* k = dynamic_cast<const QKeyEvent*>(e);
        if (k && (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter)) {
            if (o == cboLst) cboLst_Enter();
            else cmdSearch_Click();
            return true;
        }
    } else if (o == txtSearch && type == QEvent::FocusIn) {
        QTimer::singleShot(0, txtSearch, [this] { txtSearch->selectAll(); });
    } else if (o == Label1 && type == QEvent::MouseButtonPress) {
        if (const auto* m = dynamic_cast<const QMouseEvent*>(e)) Label1_MouseDown(m->button(), m->modifiers());
    } else if (o == fraV &&
               (type == QEvent::MouseButtonPress || type == QEvent::MouseMove || type == QEvent::MouseButtonRelease)) {
        const auto* m = dynamic_cast<const QMouseEvent*>(e);
        if (!m) return QWidget::eventFilter(o, e);
        if (type == QEvent::MouseButtonPress && m->button() == Qt::LeftButton) {
            dragging_ = true;
            dragStartX_ = m->position().toPoint().x();
            return true;
        }
        if (type == QEvent::MouseMove && dragging_ && (m->buttons() & Qt::LeftButton)) {
            fraV->move(fraV->x() + m->position().toPoint().x() - dragStartX_, fraV->y());
            return true;
        }
        if (type == QEvent::MouseButtonRelease && dragging_) {
            dragging_ = false;
            splitterReleased(twips(fraV->x()));
            return true;
        }
    }
    return QWidget::eventFilter(o, e);
}

void frmSRV::splitterReleased(int leftTwips) {
    const int w = twips(width());
    leftTwips = std::max(100, std::min(leftTwips, w - 300));
    fraV->move(px(leftTwips), fraV->y());
    lstRec->resize(px(std::max(0, leftTwips - 50)), lstRec->height());
    lstBuf->setGeometry(px(leftTwips + 30), lstBuf->y(), px(std::max(0, w - leftTwips - 200)), lstBuf->height());
}

void frmSRV::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    layoutLists();
}

void frmSRV::layoutLists() {
    if (isMinimized()) return;
    const int w = std::max(twips(width()), 9700);
    const int h = std::max(twips(height()), 4000);
    int recW = twips(lstRec->width());
    if (w > recW) recW = w - 700;
    const int listH = std::max(0, h - twips(Frame1->height()) - 480);
    lstRec->setGeometry(0, 0, px(recW), px(listH));
    fraV->setGeometry(lstRec->geometry().right() + 1, 0, 4, lstRec->height());
    const int bufW = std::max(0, w - recW - 150);
    lstBuf->setGeometry(fraV->geometry().right() + 1, 0, px(bufW), lstRec->height());
    Frame1->setGeometry(0, lstRec->geometry().bottom() + 1, width(), Frame1->height());
}

// ---- what the link writes to the trace ----
namespace LinkTrace {

namespace {

class TraceWindow final : public Window {
public:
    // The window needs the widget application; without one nothing is traced.
    bool Ready() override { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }
    void ShowRecord(const QString& text, int dir) override { frmSRV::instance().ShowRecord(text, dir); }
    void Note(const QString& line) override {
        frmSRV& f = frmSRV::instance();
        if (f.lstRec->count() > kMaxLines) f.lstRec->clear();
        f.lstRec->addItem(line);
    }
    bool ShowBuf() override { return frmSRV::exists() && frmSRV::instance().chkShowBuf->isChecked(); }
    void AddBufLine(const QString& line) override {
        frmSRV& f = frmSRV::instance();
        if (f.lstBuf->count() >= kMaxLines + 1) f.lstBuf->clear();
        f.lstBuf->addItem(line);
        if (!f.locked()) {
            f.lstBuf->setCurrentRow(f.lstBuf->count() - 1);
            f.lstBuf->scrollToTop(f.lstBuf->count() - 1);
        }
    }
};

}  // namespace

void UseTraceWindow() {
    static TraceWindow window;
    SetWindow(&window);
    // The full text of a failure an operator is shown in Chinese (the SQL a
    // refused statement ran) goes to the trace.
    // A failure met on a worker thread (the check of a backup's files) is traced
    // by the window's own thread.
    platform::SetErrorTracer([](const QString& t) {
        const QString line = QStringLiteral("错误: ") + t;
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        if (QThread::currentThread() == app->thread()) Note(line);
        else QMetaObject::invokeMethod(app, [line] { Note(line); }, Qt::QueuedConnection);
    });
}

}  // namespace LinkTrace
