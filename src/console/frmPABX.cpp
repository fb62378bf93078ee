#include "console/frmPABX.h"

#include "billing/ArchiveBills.h"
#include "billing/frmBalanceBill.h"
#include "billing/frmQueryBill.h"
#include "link/FrameCodes.h"
#include "platform/Printer.h"
#include "printing/PrintGrid.h"
#include "printing/frmGridPrn.h"
#include "admin/OpenSite.h"
#include "admin/frmDBManager.h"
#include "core/MDIMain.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/StationFiles.h"
#include "core/Settings.h"
#include "core/OpLog.h"
#include "core/frmFind.h"
#include "core/frmPicClip.h"
#include "core/frmProgress.h"
#include "core/frmWelcome.h"
#include "link/ModComm.h"
#include "link/Monitor.h"
#include "link/Transport.h"
#include "link/UsbCommands.h"
#include "link/frmSRV.h"
#include "params/BoardPanel.h"
#include "params/GridEditors.h"
#include "params/NavTree.h"
#include "params/SavePara.h"
#include "params/ShowTable.h"
#include "params/TableViews.h"
#include "pricing/frmDiscount.h"
#include "pricing/frmFeeRate.h"
#include "pricing/frmIP.h"
#include "platform/AppExit.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/InstanceLock.h"
#include "platform/Prompts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QThread>
#include <memory>
#include <utility>

namespace {

std::unique_ptr<frmPABX> g_instance;

constexpr int kTw = 15;   // twips to a pixel

// A splitter bar: hands its mouse to the console's splitter procedures with
// the offset from where the press began, in twips.
class SplitBar : public QFrame {
public:
    SplitBar(QWidget* parent, std::function<void(QMouseEvent*, int)> handler, Qt::CursorShape shape)
        : QFrame(parent), handler_(std::move(handler)) {
        setFrameShape(QFrame::Panel);
        setFrameShadow(QFrame::Raised);
        setCursor(shape);
    }

protected:
    void mousePressEvent(QMouseEvent* e) override { handler_(e, 0); }
    void mouseMoveEvent(QMouseEvent* e) override { handler_(e, 1); }
    void mouseReleaseEvent(QMouseEvent* e) override { handler_(e, 2); }

private:
    std::function<void(QMouseEvent*, int)> handler_;
};

const QString kChannelHeader = QStringLiteral(
    "  |状态              |^主叫          |^被叫          |^第三方          |   |状态              |^主叫          "
    "|^被叫          |^第三方          ");
const QString kPortHeader =
    QStringLiteral("   |^1     |^2     |^3     |^4     |^5     |^6     |^7     |^8     ");

const QString kBillHeader = QStringLiteral(
    "<主叫名称|>主叫分机|^帐号|对方号码         |<地名    |>通话日期            |>通话时长 |>帐户余额|<话单类型|>总话费  "
    "|>基本费  |>附加费1|>附加费2|>手续费|>IP接入费|>中继号|>间接局");
const QString kBillFields = QStringLiteral(
    "f_userid,f_calladdr,f_zh,f_resp,F_Memo,f_date,f_long,f_yj,f_phmode,"
    "f_moneny+f_addfee1+f_addfee2+f_gatefee+f_linkfee as SumFee,f_moneny,f_addfee1,f_addfee2,f_gatefee,f_linkfee,"
    "f_zjaddr,f_indjh");

struct TableView {
    const char* key;
    int right;
    const char* sql;
    const char* header;
    int hidden;
    bool setsCurSql;
};

// Views of the grid built by the generic loader.
const TableView kTableViews[] = {
    {"LanHead", 10, "Select * From LanHead order by headtype,headid,length(headid)",
     ">本机字头     |<本机类别       |>号长             |>延时              |>路由1                |>路由2                     ",
     1, true},
    {"CityHead", 9, "Select * From CityHead order by headtype,headid,length(headid)",
     ">市话字头     |<市话类别       |>号长             |>延时              |>路由1                |>路由2                     ",
     1, true},
    {"ExtraHead", 12, "Select * From ExtraHead", nullptr, 1, true},
    {"Shrink", 11, "select * from Shrink", nullptr, 1, true},
    {"Account", 3, "select * from Account",
     ">物理地址|>帐号  |等级一       |等级二       |押金等级     |闭锁  |清密码  |所属用户                                 ", 1,
     true},
    {"User", 7, "select * from User order by userid",
     ">用户编号|>用户名称    |>上次结算日期        |>结算方式   |预付押金  |押金余额  |>透支额    |>月租费    |>所属部门   "
     "|>打印即时话单|>闭锁",
     2, true},
    {"Awake", 25,
     "select flewno,HeadID||SpringNum,ServeTime,ServeType From awake,Extension,LanHead where Head=HeadType and "
     "awake.Address=Extension.Address order by servetime desc limit 2000",
     ">记录号        |<分机号码         |>服务时间            |>服务类型    ", 0, true},
    {"History", 24, "select * from tab_oplog limit 2000",
     ">记录日期           |员工编号|员工名称|<操作事件                                    ", 0, false},
    {"ExtDepositHistory", 0, "select * from extdeposithistory order by changedate desc,extaddr limit 20000",
     "修改日期                |分机号码|修改金额   |工号　|分机押金类型", 0, false},
};

QString twoColumnHeader(const char* second) {
    return QStringLiteral(">物理地址|>") + QString::fromUtf8(second) + QString(98, QLatin1Char(' '));
}

}  // namespace

frmPABX& frmPABX::instance() {
    if (!g_instance) {
        g_instance.reset(new frmPABX);
        // The window goes while the application still exists, not among the statics.
        static bool routine = false;
        if (!routine) {
            routine = true;
            qAddPostRoutine([] { frmPABX::unload(); });
        }
    }
    return *g_instance;
}
bool frmPABX::exists() { return static_cast<bool>(g_instance); }
void frmPABX::unload() {
    if (g_instance && MDIMain::exists() && MDIMain::instance().centralWidget() == g_instance.get()) {
        MDIMain::instance().takeCentralWidget();
        g_instance->setParent(nullptr);
    }
    g_instance.reset();
}

frmPABX::~frmPABX() {
    core::UnregisterConsole(this);
    if (qApp) qApp->removeEventFilter(this);
    // The link must not keep a port that goes with the window.
    if (&ModComm::ComA() == ComA) ModComm::AttachPort(nullptr);
}

void frmPABX::Move(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(left / kTw, top / kTw, qMax(0, width / kTw), qMax(0, height / kTw));
}

frmPABX::frmPABX(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmPABX"));
    setMinimumSize(8000 / kTw, 6000 / kTw);
    resize(12000 / kTw, 9000 / kTw);
    ComA = new platform::Comm(this);

    buildMenus();
    tbrSwitch = new QToolBar(this);
    tbrSwitch->setObjectName(QStringLiteral("tbrSwitch"));
    tbrSwitch->setIconSize(QSize(20, 20));
    picRun = new QLabel(this);
    picRun->setObjectName(QStringLiteral("picRun"));
    picRun->setFixedSize(24, 24);
    picRun->setScaledContents(true);
    picRun->installEventFilter(this);
    picRun->setToolTip(QStringLiteral("调试窗口"));

    tvSwitch = new QTreeWidget(this);
    tvSwitch->setObjectName(QStringLiteral("tvSwitch"));
    tvSwitch->setHeaderHidden(true);
    tvSwitch->setEditTriggers(QAbstractItemView::NoEditTriggers);   // node texts are not edited
    connect(tvSwitch, &QTreeWidget::itemClicked, this, [this] { tvSwitch_Click(); });

    fraDiv = new SplitBar(
        this,
        [this](QMouseEvent* e, int phase) {
            const int x = (e->position().toPoint().x() - (phase == 0 ? 0 : dragStart_)) * kTw;
            if (phase == 0) {
                dragStart_ = e->position().toPoint().x();
                fraDiv_MouseDown(e->button());
            } else if (phase == 1) {
                fraDiv_MouseMove(e->buttons(), x);
            } else {
                fraDiv_MouseUp(e->button(), x);
            }
        },
        Qt::SizeHorCursor);
    fraDiv->setObjectName(QStringLiteral("fraDiv"));

    fgDisp = new platform::FlexGrid(this);
    fgDisp->setObjectName(QStringLiteral("fgDisp"));

    picMon = new QWidget(this);
    picMon->setObjectName(QStringLiteral("picMon"));
    for (int i = 0; i < 2; ++i) {
        auto* g = new platform::FlexGrid(picMon);
        g->setObjectName(QStringLiteral("fgMon%1").arg(i));
        fgMon << g;
    }
    fgMon[1]->setRows(37);
    fgMon[1]->setCols(9);
    fgMon[1]->setFixedRows(1);
    PicMain = new QWidget(picMon);
    PicMain->setObjectName(QStringLiteral("PicMain"));
    PicMain->setAutoFillBackground(true);
    for (int i = 0; i < 22; ++i) {
        auto* card = new QLabel(PicMain);
        card->setObjectName(QStringLiteral("picCard%1").arg(i));
        card->setAutoFillBackground(true);
        Move(card, 200 + 400 * i, 480, 300, 1785);
        card->setVisible(i == 0);
        picCard << card;
    }
    lblCard = new QWidget(PicMain);
    lblCard->setObjectName(QStringLiteral("lblCard"));
    for (int i = 0; i < 22; ++i) {
        auto* n = new QLabel(QString::number(i + 1), lblCard);
        n->setObjectName(QStringLiteral("lblCardNo%1").arg(i));
        n->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        lblCardNo << n;
    }
    tbrLegend = new QToolBar(PicMain);
    tbrLegend->setObjectName(QStringLiteral("tbrLegend"));
    tbrLegend->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    tbrLegend->setIconSize(QSize(16, 16));
    legendGroup = new QActionGroup(this);
    legendGroup->setExclusive(true);
    for (int i = 0; i < 2; ++i) {
        auto* bar = new SplitBar(
            picMon,
            [this, i](QMouseEvent* e, int phase) {
                const int y = (e->position().toPoint().y() - (phase == 0 ? 0 : dragStart_)) * kTw;
                if (phase == 0) {
                    dragStart_ = e->position().toPoint().y();
                    fraMon_MouseDown(i, e->button());
                } else if (phase == 1) {
                    fraMon_MouseMove(i, e->buttons(), y);
                } else {
                    fraMon_MouseUp(i, e->button(), y);
                }
            },
            i == 0 ? Qt::ArrowCursor : Qt::SizeVerCursor);
        bar->setObjectName(QStringLiteral("fraMon%1").arg(i));
        fraMon << bar;
    }

    sbrInfo = new platform::StatusBar(5, this);
    sbrInfo->setObjectName(QStringLiteral("sbrInfo"));
    sbrInfo->setSizeGripEnabled(false);
    // The clock keeps all its digits in the narrowest window the console allows.
    sbrInfo->fitPanelTo(3, QStringLiteral("0000-00-00 00:00:00"));

    txtModify = new QLineEdit(this);
    txtModify->setObjectName(QStringLiteral("txtModify"));
    txtModify->hide();
    cboModify = new QComboBox(this);
    cboModify->setObjectName(QStringLiteral("cboModify"));
    cboModify->hide();
    ModSwitch::AttachGridEditors(fgDisp, txtModify, cboModify);

    tmrCom = new QTimer(this);
    tmrCom->setInterval(3);
    connect(tmrCom, &QTimer::timeout, this, &frmPABX::tmrCom_Timer);
    tmrSys = new QTimer(this);
    tmrSys->setInterval(1000);
    connect(tmrSys, &QTimer::timeout, this, &frmPABX::tmrSys_Timer);
    Timer1 = new QTimer(this);
    Timer1->setInterval(100);

    ModComm::AttachPort(ComA);
    connectCommands();
    Form_Resize();
    core::RegisterConsole(this);
}

QPixmap frmPABX::icon(int cell) const { return frmPicClip::instance().Pc.GraphicCell(cell); }

// ------------------------------------------------------------------ start-up

void frmPABX::Form_Load() {
    if (loaded_) return;
    loaded_ = true;
    frmWelcome& splash = frmWelcome::instance();
    splash.show();
    ModGeneral::Delay(300);
    mnuExtOption->setEnabled(false);
    mnuRelayOption->setEnabled(false);

    splash.SetValue(5, QStringLiteral("正在检查系统文件..."));
    if (SwitchModel != 2) {
        mnuIPPUHPARA->setVisible(false);
        mnuTerminal->setVisible(false);
        mnuChangeTerminal->setVisible(false);
        mnuUsb->menuAction()->setVisible(false);
    }
    // The start-up's opening: a file that fails its check and has no sound
    // copy, or a failed upgrade, ends the station here (a change of site goes
    // back to the site it left instead). Start-up alone archives the call
    // file, before the waiting calls are stored, so that they land in the
    // call file the archive leaves; the boards and views come later, with the face.
    admin::SiteOpening how;
    how.progress = [](int value, const QString& text) { frmWelcome::instance().SetValue(value, text); };
    how.opened = [this] {
        frmWelcome::instance().SetValue(25, QString());
        ModSwitch::LoadMonRes();
        frmWelcome::instance().SetValue(30, QStringLiteral("正在处理话单库..."));
        RunArchive();
        frmGridPrn::instance();   // the print form, hidden, kept loaded to the end
    };
    how.ready = [] { frmDBManager::instance(); };   // hidden; its timer backs up the site now open
    admin::OpenSite(how);
    frmWelcome::instance().SetValue(35, QString());
    frmWelcome::instance().SetValue(40, QStringLiteral("正在初始化界面..."));

    InitCard();
    ModSwitch::BuildNavTree();
    Move(fraDiv, 2300, Top(fraDiv), Width(fraDiv), Height(fraDiv));
    SetInitFace();
    frmWelcome::instance().SetValue(45, QString());
    SetMonFace();
    frmWelcome::instance().SetValue(50, QString());
    SetPortMonitor();
    frmWelcome::instance().SetValue(55, QString());
    ModSwitch::SetToolbar();
    UpdateCommandStates();

    CurTable = QStringLiteral("MonCard");
    setWindowTitle(QStringLiteral("板卡通道状态"));
    qApp->installEventFilter(this);
    picRun->setPixmap(icon(44));
    picMon->raise();
    fgMon[0]->raise();
    PicMain->raise();

    frmWelcome::instance().SetValue(60, QStringLiteral("正在与集团电话通讯..."));
    ModComm::ChooseTransportBySettings();
    mnuUsb->menuAction()->setVisible(ModComm::UsbCollectorChosen());

    tmrCom->start();
    frmWelcome::instance().Timer1->start();
    if (ModComm::OpenComm(true) != ModComm::LinkOpened) {
        if (frmWelcome::exists()) {
            frmWelcome::instance().SetValue(100, QString());
            frmWelcome::instance().Timer1->stop();
            frmWelcome::unload();
        }
        if (platform::MsgBox(QStringLiteral("与集团电话通讯失败，是否继续?"), platform::mbYesNo | platform::mbQuestion,
                             AppName) == platform::rNo)
            CloseApp();
    } else {
        // The opening's settling of what was about to go to the switch,
        // now that the line is up.
        admin::SettleOnTheLine();
    }
    if (frmWelcome::exists()) {
        frmWelcome::instance().Timer1->stop();
        frmWelcome::instance().SetValue(100, QString());
    }
    ModSwitch::SetVariant(QStringLiteral("TarvoLocateY"), QString());
    frmWelcome::unload();

    ModComm::SendOrder(FrameCode::kMonitorCards, false, 4, true);
    ModComm::SendOrder(FrameCode::kResumeReports, false, 4, true);
    tmrSys->start();
}

void frmPABX::Form_Activate() { ModComm::SetMonitor(true); }

bool frmPABX::Form_KeyDown(int keyCode, Qt::KeyboardModifiers) {
    if (keyCode == Qt::Key_F12) {
        picRun_DblClick();
        return true;
    }
    if (!txtModify->isVisible() && !cboModify->isVisible() && keyCode == Qt::Key_Delete) {
        try {
            tbrSwitch_ButtonClick(QStringLiteral("Delete"));
        } catch (const platform::ProgramEnded&) {
            throw;
        } catch (...) {
        }
        return true;
    }
    return false;
}

bool frmPABX::eventFilter(QObject* o, QEvent* e) {
    if (o == picRun && e->type() == QEvent::MouseButtonDblClick) {
        picRun_DblClick();
        return true;
    }
    if (e->type() == QEvent::KeyPress && o->isWidgetType()) {
        auto* w = static_cast<QWidget*>(o);
        if (w == this || isAncestorOf(w)) {
            auto* k = static_cast<QKeyEvent*>(e);
            if (Form_KeyDown(k->key(), k->modifiers())) return true;
        }
    }
    return QWidget::eventFilter(o, e);
}

void frmPABX::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (loaded_ && tmrSys->isActive()) Form_Activate();
}

// A window of the station that took the screen (the settings window, the
// settlement) may have switched the monitor reports off and closed without
// switching them on again: when the console is active again its view's
// monitor mode comes back. Only a mode left wrong is sent, and a message box
// (which leaves the mode as its command set it) does not count.
void frmPABX::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() != QEvent::ActivationChange) return;
    if (!isActiveWindow()) {
        QWidget* to = QApplication::activeWindow();
        leftForWindow_ = to && to != window() && !platform::IsMessageBox(to);
        return;
    }
    if (!std::exchange(leftForWindow_, false)) return;
    if (!loaded_ || !tmrSys->isActive() || ModComm::MonitorModeOfView()) return;
    try {
        Form_Activate();
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception&) {
        // The next activation tries again.
    }
}

void frmPABX::closeEvent(QCloseEvent* e) {
    // As 退出: a cell typed and not yet confirmed is checked (and kept or
    // refused) first, and the window stays (NotExit).
    if (NotExit(0)) e->ignore();
    else e->accept();
}

bool frmPABX::InputVisible() {
    // A command given while an in-place editor is open only commits or
    // refuses that edit.
    return ModSwitch::EditorInputVisible();
}

void frmPABX::mnuExit_Click() {
    if (InputVisible()) return;
    tbrSwitch_ButtonClick(QStringLiteral("Exit"));
}

void frmPABX::mnuDbManager_Click() {
    if (InputVisible()) return;
    // The console comes back when the window's "关 闭" hides it.
    window()->hide();
    frmDBManager& w = frmDBManager::instance();
    w.show();
    w.raise();
    w.activateWindow();
}

void frmPABX::picRun_DblClick() {
    if (ModGeneral::CheckRight(0, 0)) return;
    frmSRV& srv = frmSRV::instance();
    srv.setWindowState(srv.windowState() & ~Qt::WindowMinimized);
    srv.show();
    srv.raise();
}

bool frmPABX::NotExit(int UnloadMode) {
    if (UnloadMode < 2) {
        // Whichever window the operator closes (this one or the frame it sits
        // in), a cell typed and not yet confirmed is checked first, and the
        // station stays.
        if (InputVisible()) return true;
        if (platform::MsgBox(QStringLiteral("要退出系统吗?"), platform::mbYesNo | platform::mbQuestion, AppName) ==
            platform::rNo)
            return true;
        if (g_Modified) {
            ModSwitch::SaveSwitchPara(m_TableRight, false);
            // A save asked for that failed keeps the edits, and the station:
            // the status bar says why.
            if (g_Modified) return true;
        }
    }
    frmPABX::CloseApp();
    // Only reached where the end of the program is observed instead of
    // carried out (tests): the exit goes on.
    return false;
}

// The page of immediate bills goes to the printer now; the next one starts
// at the top of a fresh page.
void frmPABX::mnuMomentBill_Click() {
    try {
        platform::Printer::instance().EndDoc();
    } catch (...) {
    }
    try {
        ModSwitch::SetVariant(printing::kLocateKey, QString());
    } catch (...) {
    }
}

void frmPABX::CloseApp() {
    // Every step runs whatever the one before it did; nothing goes to the switch.
    frmDBManager::unload();
    try {
        ModGeneral::AddOpLog(QStringLiteral("退出系统"));
    } catch (...) {
    }
    try {
        if (dbSwitch.isOpen()) dbSwitch.tryExecute(QStringLiteral("update worker set b_active=0"));
    } catch (...) {
    }
    mnuMomentBill_Click();
    try {
        rsUser.close();
        rsFeeRate.close();
        rsIPHead.close();
        dbPhoneCur.close();
        dbSwitch.close();
    } catch (...) {
    }
    if (frmPicClip::exists()) frmPicClip::instance().Pc.release();
    for (QLabel* c : picCard) c->clear();
    platform::ReleaseInstanceLock();
    platform::EndProgram(0);
}

// ------------------------------------------------------------------ timers

namespace {
// A timer's step that fails is given up for this tick only: an exception must
// not leave an event handler, and the next tick tries again.
template <typename F>
void guarded(F&& step) {
    try {
        step();
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception&) {
    }
}
}  // namespace

void frmPABX::tmrCom_Timer() {
    guarded([] { ModComm::ProcessComm(); });
}

void frmPABX::tmrSys_Timer() {
    const QDateTime now = platform::Now();
    sbrInfo->setPanelText(3, now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (now.time().second() == 0) {
        g_UsbError = false;
        if (isEnabled() && isVisible() && g_NoAnswerCount > 5)
            guarded([] { ModComm::SendOrder(FrameCode::kLinkProbe, false, 4, true); });
    }
    guarded([&] { ModComm::CheckTimeLimit(now); });
    guarded([] { ModComm::RefreshMonitor(); });
    if (ArchiveDue(now) && TickMayArchive()) RunArchive();
    if (g_NoAnswerCount <= 5) {
        ++g_NoAnswerCount;
        picRun->setPixmap(icon(44 + now.time().second() % 3));
    }
}

bool frmPABX::ArchiveDue(const QDateTime& now) const {
    const QDateTime due(now.date(), QTime(2, 0, 0));
    if (now < due) return false;
    return !m_LastArchive.isValid() || m_LastArchive < due;
}

bool frmPABX::TickMayArchive() const {
    if (platform::YieldDepth() > 0) return false;                    // inside a wait or a long job
    if (frmProgress::exists() && frmProgress::instance().isVisible()) return false;
    if (QThread::currentThread()->loopLevel() > 1) return false;      // inside a modal window
    return true;
}

bool frmPABX::RunArchive() {
    const QDateTime started = platform::Now();
    try {
        billing::ArchiveBills();
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception&) {
        // The records stay current; the next night's run takes them.
        m_LastArchive = started;
        return true;
    }
    if (!billing::LastArchiveRun().ran) return false;
    m_LastArchive = started;
    return true;
}

// ------------------------------------------------------------------ navigation tree

bool frmPABX::ShowView(const QString& key) {
    QTreeWidgetItem* node = ModSwitch::FindNode(key);
    if (!node) return false;
    // The view shown drawn again (after a payment, a restore): the operator's
    // row stays on its record, found by its first cell; a record gone leaves
    // no row chosen, never the one that took its place.
    // Panel 2, when it told the cursor, tells where the row is now.
    const bool again = key == CurTable && fgDisp->Row() >= fgDisp->FixedRows();
    const QString chosen = again ? fgDisp->TextMatrix(fgDisp->Row(), 0) : QString();
    const bool toldCursor = again && ModSwitch::PanelTellsCursor();
    const int col = fgDisp->Col();
    const int top = fgDisp->TopRow();
    tvSwitch->setCurrentItem(node);
    tvSwitch_Click();
    if (chosen.isEmpty() || CurTable != key) return true;
    if (fgDisp->TextMatrix(fgDisp->Row(), 0) != chosen) {
        const int r = fgDisp->FindRow(0, chosen, fgDisp->FixedRows());
        if (r < 0) return true;
        fgDisp->setTopRow(qMin(top, r));
        fgDisp->setCol(qMin(col, fgDisp->Cols() - 1));
        fgDisp->setRow(r);
        fgDisp->scrollTo(fgDisp->model()->index(r, fgDisp->Col()));
        GridSelFirst = GridSelLast = r;
    }
    if (toldCursor && core::PanelText(2).isEmpty()) ModSwitch::TellCursor();
    return true;
}

void frmPABX::tvSwitch_Click() {
    if (building_) return;
    if (InputVisible()) {
        // The click only checked the open editor (the value stays in the grid
        // as an edit the next save asks about, or is refused with the reason).
        // The press has already moved the tree's highlight: it goes back to
        // the view shown, as a later refresh of "the view" reads it there.
        if (QTreeWidgetItem* n = ModSwitch::FindNode(CurTable)) tvSwitch->setCurrentItem(n);
        return;
    }
    building_ = true;
    setCursor(Qt::WaitCursor);
    sbrInfo->setPanelText(2, QString());
    try {
        // The view being left offers its unsaved edits for saving first. A
        // save that fails keeps them, and the view: the tree shows it again.
        ModSwitch::SaveSwitchPara(m_TableRight, true);
        if (g_Modified || ParaMode == QLatin1String("UpSend")) {
            if (QTreeWidgetItem* n = ModSwitch::FindNode(CurTable)) tvSwitch->setCurrentItem(n);
            building_ = false;
            unsetCursor();
            return;
        }
        if (frmFind::exists()) frmFind::unload();
        m_TableRight = 0;
        m_LastTable = CurTable;
        CurTable = ModSwitch::NodeKey(tvSwitch->currentItem());
        if (buildView()) {
            if (QTreeWidgetItem* n = tvSwitch->currentItem()) setWindowTitle(n->text(0));
            ModSwitch::SetToolbar();
            UpdateCommandStates();
            mnuExtOption->setEnabled(CurTable == QLatin1String("Extension"));
            mnuRelayOption->setEnabled(CurTable == QLatin1String("Relay"));
            if (CurTable != QLatin1String("MonCard") && CurTable != QLatin1String("PortMonitor")) {
                fgDisp->raise();
                cboModify->raise();
                txtModify->raise();
            }
            ModComm::SetMonitor(true);
        }
    } catch (const platform::ProgramEnded&) {
        building_ = false;
        unsetCursor();
        throw;
    } catch (...) {
        // A view that fails to build ends the click; the grid keeps what it got.
    }
    building_ = false;
    unsetCursor();
}

bool frmPABX::buildView() {
    const QString key = CurTable;
    for (const TableView& v : kTableViews) {
        if (key != QLatin1String(v.key)) continue;
        if (key == QLatin1String("ExtDepositHistory") && SwitchModel != 2) break;
        m_TableRight = v.right;
        QString header = v.header ? QString::fromUtf8(v.header) : QString();
        if (key == QLatin1String("ExtraHead")) header = twoColumnHeader("附加字头");
        if (key == QLatin1String("Shrink")) header = twoColumnHeader("缩位字头");
        const QString sql = QString::fromUtf8(v.sql);
        if (v.setsCurSql) {
            CurSQL = sql;
            CurSQLParams.clear();
        }
        ModGeneral::ShowTable(*fgDisp, sql, header, 0, v.hidden, true);
        return true;
    }
    if (key == QLatin1String("Router1") || key == QLatin1String("Router2")) {
        m_TableRight = 13;
        CurSQL = QStringLiteral("Select PortAddr,AddHead,bSet From AddHead where Router=?");
        CurSQLParams = {key == QLatin1String("Router1") ? 1 : 2};
        ModGeneral::ShowTable(*fgDisp, CurSQL, twoColumnHeader("加发字头"), 0, 1, true, CurSQLParams);
        return true;
    }
    if (key == QLatin1String("Extension")) {
        m_TableRight = 6;
        ModSwitch::ShowExtGrid(*fgDisp, QStringLiteral("Extension"), true);
        return true;
    }
    if (key == QLatin1String("Relay")) {
        m_TableRight = 8;
        ModSwitch::ShowRelayGrid(*fgDisp, QStringLiteral("Relay"), true);
        return true;
    }
    if (key == QLatin1String("PabxFeeRate")) {
        m_TableRight = 14;
        ModSwitch::ShowPabxFeeRate(*fgDisp, QStringLiteral("PabxFeeRate"), true);
        return true;
    }
    if (key == QLatin1String("PabxTimes")) {
        m_TableRight = 15;
        ModSwitch::ShowPabxTimes(*fgDisp, QStringLiteral("PabxTimes"), true);
        return true;
    }
    if (key == QLatin1String("ExtDeposit") && SwitchModel == 2) {
        m_TableRight = 31;
        ModSwitch::ShowExtDeposit(*fgDisp, CurTable, true);
        return true;
    }
    if (key == QLatin1String("Bill")) {
        showBillList();
        return true;
    }
    if (key == QLatin1String("MonCard")) {
        m_TableRight = 4;
        showMonCard();
        return true;
    }
    if (key == QLatin1String("PortMonitor")) {
        showPortMonitor();
        return true;
    }
    openWindowNode(key);
    return false;
}

void frmPABX::openWindowNode(const QString& key) {
    ModComm::SendOrder(FrameCode::kMonitorOff, false, 4, true);
    CurTable = m_LastTable;
    if (QTreeWidgetItem* n = ModSwitch::FindNode(CurTable)) {
        tvSwitch->setCurrentItem(n);
        setWindowTitle(n->text(0));
    }
    if (key == QLatin1String("Balance")) {
        // The settlement window holds the console disabled until it closes.
        frmBalanceBill::ShowFromConsole();
        return;
    }
    hide();
    if (key == QLatin1String("Query")) {
        // The query dialog shows the console again when it unloads.
        frmQueryBill::ShowFromConsole();
        return;
    }
    // The tariff windows take the screen and give it back when they close;
    // any other key is a group node, and the console shows again.
    if (key == QLatin1String("FeeRate")) {
        pricing::frmFeeRate::ShowFromConsole();
        return;
    }
    if (key == QLatin1String("Discount")) {
        pricing::frmDiscount::ShowFromConsole();
        return;
    }
    if (key == QLatin1String("IP")) {
        pricing::frmIP::ShowFromConsole();
        return;
    }
    show();
    ModComm::SetMonitor(true);
}

void frmPABX::showBillList() {
    CurSQL = QStringLiteral("Select ") + kBillFields + QStringLiteral(" From Tab_phone order by f_date desc,f_yj limit 200");
    CurSQLParams.clear();
    platform::Recordset rs = dbPhoneCur.query(CurSQL);
    fgDisp->Clear();
    fgDisp->setRows(2);
    fgDisp->setFixedRows(1);
    fgDisp->setFormatString(kBillHeader);
    fgDisp->setRow(0);
    fgDisp->setRedraw(false);
    for (int c = 0; c < fgDisp->Cols() && c < rs.fieldCount() - 1; ++c) {
        const QString name = rs.fieldName(c);
        const bool left = name.compare(QLatin1String("F_PhMode"), Qt::CaseInsensitive) == 0 ||
                          name.compare(QLatin1String("F_Memo"), Qt::CaseInsensitive) == 0 ||
                          name.compare(QLatin1String("userid"), Qt::CaseInsensitive) == 0;
        fgDisp->setCellAlignmentAt(0, c, left ? 1 : 7);
    }
    ModSwitch::ShowBillGrid(rs);
    rs.close();
    // Older records from the yearly archives, newest month first, up to 200 in all.
    for (int year = platform::Now().date().year(); fgDisp->Rows() < 201 && year > 2002; --year) {
        const QString file = platform::resolveCI(DataPath, QStringLiteral("PhBill_%1.mdb").arg(year));
        if (!QFile::exists(file)) continue;
        try {
            platform::Database archive = platform::Database::open(file);
            for (int month = 12; month >= 1 && fgDisp->Rows() <= 200; --month) {
                const QString table = QStringLiteral("Tab_Ph%1").arg(month);
                if (!archive.hasTable(table)) continue;
                CurSQL = QStringLiteral("Select ") + kBillFields + QStringLiteral(" From ") + table +
                         QStringLiteral(" order by f_date desc,f_yj limit ?");
                CurSQLParams = {201 - fgDisp->Rows()};
                platform::Recordset old = archive.query(CurSQL, CurSQLParams);
                ModSwitch::ShowBillGrid(old);
            }
        } catch (const platform::DbError&) {
            // A damaged archive adds nothing to the list.
        }
    }
    fgDisp->setRedraw(true);
    fgDisp->setRow(fgDisp->Rows() - 1);
    if (fgDisp->Rows() >= 3) fgDisp->RemoveItem(fgDisp->Rows() - 1);
    if (fgDisp->Rows() >= 2) fgDisp->setTopRow(fgDisp->Rows() - 1);
}

void frmPABX::showMonCard() {
    fgMon[0]->show();
    if (g_NoAnswerCount > 5) SetMonFace();
    else ModComm::RefreshMonitor();
    picMon->raise();
    fgMon[1]->lower();
}

void frmPABX::showPortMonitor() {
    if (g_NoAnswerCount < 6) {
        ModSwitch::InitExtNumber();
        ModComm::RefreshMonitor();
    } else {
        SetPortMonitor();
    }
    picMon->raise();
    fgMon[1]->show();
    fgMon[1]->raise();
}

// ------------------------------------------------------------------ layout

void frmPABX::SetInitFace() {
    const int toolbarBottom = Top(tbrSwitch) + Height(tbrSwitch);
    Move(fraDiv, Left(fraDiv), toolbarBottom, 45, Top(sbrInfo) - toolbarBottom);
    Move(tvSwitch, 0, Top(fraDiv), Left(fraDiv), Height(fraDiv));
    const int gridLeft = Left(fraDiv) + Width(fraDiv);
    Move(fgDisp, gridLeft, Top(fraDiv), Width(this) - gridLeft - 90, Height(fraDiv));
    Move(lblCard, 0, Top(lblCard), Width(lblCard), Height(lblCard));
    Move(PicMain, Left(PicMain), Top(PicMain), Width(PicMain), 2565);
    Move(picMon, Left(fgDisp), Top(fraDiv), Width(fgDisp), Height(fgDisp));
    SetInitMon();
}

void frmPABX::SetInitMon() {
    const int pane = Height(picMon);
    Move(fgMon[1], 0, 0, Width(fgMon[1]), pane);
    Move(PicMain, Left(PicMain), 0, Width(PicMain), Height(PicMain));
    Move(fgMon[0], 0, Top(PicMain) + Height(PicMain), Width(fgMon[0]), pane - Height(PicMain));
    SetMonWidth();
}

void frmPABX::SetInterFace() {
    const int gridLeft = Left(fraDiv) + Width(fraDiv);
    Move(fgDisp, gridLeft, Top(fgDisp), Width(this) - gridLeft - 120, Height(fraDiv));
    Move(tvSwitch, Left(tvSwitch), Top(tvSwitch), Left(fraDiv), Height(fraDiv));
    Move(picMon, Left(fgDisp), Top(picMon), Width(fgDisp), Height(fgDisp));
}

void frmPABX::SetMonWidth() {
    const int w = Width(picMon);
    Move(fgMon[1], Left(fgMon[1]), Top(fgMon[1]), w, Height(picMon) - Top(fgMon[1]));
    Move(PicMain, Left(PicMain), Top(PicMain), w, Height(PicMain));
    Move(fgMon[0], Left(fgMon[0]), Top(fgMon[0]), w, Height(fgMon[0]));
    for (QFrame* bar : fraMon) Move(bar, Left(bar), Top(bar), w, 15);
    placeLegend();
}

// The legend stands at its place when the pane is wide enough, else further
// left, above the boards; in a pane narrower than itself its last buttons are
// behind its extension button. Every kind of board can be picked.
void frmPABX::placeLegend() {
    if (!tbrLegend || !PicMain) return;
    const QSize hint = tbrLegend->sizeHint();
    const int w = qMin(hint.width(), PicMain->width());
    tbrLegend->setGeometry(qMax(0, qMin(9000 / kTw, PicMain->width() - w)), 0, w, hint.height());
}

void frmPABX::Form_Resize() {
    {
        // Minimised, not shown: a hidden trace window stays hidden.
        frmSRV& srv = frmSRV::instance();
        srv.setWindowState(srv.windowState() | Qt::WindowMinimized);
    }
    if (isMinimized()) return;
    // The minimum size of 8000 x 6000 twips is kept by the window itself.
    const int menuH = mnuBar->sizeHint().height();
    mnuBar->setGeometry(0, 0, width(), menuH);
    tbrSwitch->setGeometry(0, menuH, qMax(0, width() - 1400 / kTw), tbrSwitch->sizeHint().height());
    const int sbrH = sbrInfo->sizeHint().height();
    sbrInfo->setGeometry(0, height() - sbrH, width(), sbrH);
    const int toolbarBottom = Top(tbrSwitch) + Height(tbrSwitch);
    Move(fraDiv, Left(fraDiv), toolbarBottom, 45, Top(sbrInfo) - toolbarBottom);
    SetInitFace();
    if (Top(fgMon[1]) + 1000 > Height(picMon)) SetInitMon();
    else SetMonWidth();
    Move(picRun, Width(this) - 1400, Top(tbrSwitch), Width(picRun), Height(picRun));
}

void frmPABX::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (mnuBar) Form_Resize();
}

void frmPABX::fraDiv_MouseDown(Qt::MouseButton button) {
    fraDiv->raise();
    if (button == Qt::LeftButton) m_Dragging = true;
}

void frmPABX::fraDiv_MouseMove(Qt::MouseButtons buttons, int x) {
    fraDiv->setCursor(Qt::SizeHorCursor);
    if ((buttons & Qt::LeftButton) && m_Dragging)
        Move(fraDiv, Left(fraDiv) + x, Top(fraDiv), Width(fraDiv), Height(fraDiv));
}

void frmPABX::fraDiv_MouseUp(Qt::MouseButton button, int x) {
    if (button != Qt::LeftButton || !m_Dragging) return;
    int left = Left(fraDiv) + x;
    if (left > Width(this) - 300) left = Width(this) - 300;
    if (left < 100) left = 100;
    Move(fraDiv, left, Top(fraDiv), Width(fraDiv), Height(fraDiv));
    SetInterFace();
    if (Top(fgMon[1]) + 1000 > Height(picMon)) SetInitMon();
    else SetMonWidth();
    m_Dragging = false;
}

void frmPABX::fraMon_MouseDown(int index, Qt::MouseButton button) {
    if (index == 1 && button == Qt::LeftButton) m_Dragging = true;
}

void frmPABX::fraMon_MouseMove(int index, Qt::MouseButtons buttons, int y) {
    if (index == 0) return;
    fraMon[index]->setCursor(Qt::SizeVerCursor);
    if ((buttons & Qt::LeftButton) && m_Dragging) {
        QFrame* bar = fraMon[index];
        Move(bar, Left(bar), Top(bar) + y, Width(bar), Height(bar));
    }
}

void frmPABX::fraMon_MouseUp(int index, Qt::MouseButton button, int y) {
    if (index == 0 || button != Qt::LeftButton || !m_Dragging) return;
    QFrame* bar = fraMon[index];
    int top = Top(bar) + y;
    if (Top(fgMon[0]) + 1000 > top) top = Top(fgMon[0]) + 1000 - 10;
    if (top > Height(picMon) - 1000) top = Height(picMon) - 1000 + 10;
    Move(bar, Left(bar), top, Width(bar), Height(bar));
    Move(fgMon[0], Left(fgMon[0]), Top(fgMon[0]), Width(fgMon[0]), top - Top(fgMon[0]));
    Move(fgMon[1], Left(fgMon[1]), top + Height(bar), Width(fgMon[1]), Height(picMon) - top - 15);
    m_Dragging = false;
}

// ------------------------------------------------------------------ board legend and monitor grids

void frmPABX::InitCard() {
    Move(picCard[0], 200, 480, 300, 1785);
    for (int i = 1; i < 22; ++i) {
        QLabel* c = picCard[i];
        Move(c, 400 * i + 200, 480, 300, 1785);
        c->setVisible(true);
        QPalette pal = c->palette();
        pal.setColor(QPalette::Window, Qt::black);
        c->setPalette(pal);
    }
    {
        QPalette pal = picCard[0]->palette();
        pal.setColor(QPalette::Window, platform::vbColor(0x808080));
        picCard[0]->setPalette(pal);
    }
    // Each number stands centred under its slot's picture, whatever the font:
    // placed by the slot's position, not by padding a line of text.
    const int numberH = qMax(250 / kTw, lblCardNo[0]->sizeHint().height());
    Move(lblCard, 0, 480 + 1785 + 15, 14000, numberH * kTw);
    for (int i = 0; i < 22; ++i) {
        QLabel* n = lblCardNo[i];
        const int w = qMax(n->sizeHint().width(), 400 / kTw);
        const int centre = picCard[i]->x() + picCard[i]->width() / 2;
        n->setGeometry(centre - w / 2 - lblCard->x(), 0, w, numberH);
    }
    struct Legend {
        const char* caption;
        int image;
        const char* key;
        const char* tip;
    };
    static const Legend kLegend[] = {
        {"中继板", 13, "", "1,2,4,5号为中继板"},
        {"来显板", 14, "", "3,6号为来显板"},
        {"音令板", 15, "", "7号为音令板"},
        {"用户板", 16, "", "8-22号为用户板"},
        {"专用电话", 17, "Phone", "专用电话可以在用户板中任意一处"},
        {"空余板", 18, "", "表示板没有设置"},
    };
    tbrLegend->clear();
    for (const Legend& l : kLegend) {
        QAction* a = tbrLegend->addAction(ModSwitch::ToolImage(l.image), QString::fromUtf8(l.caption));
        a->setCheckable(true);
        a->setToolTip(QString::fromUtf8(l.tip));
        a->setData(QString::fromUtf8(l.key));
        legendGroup->addAction(a);
    }
    placeLegend();
}

void frmPABX::SetMonFace() {
    ModComm::PortStates.resize(16);
    for (int i = 0; i < 16; ++i) {
        auto& s = ModComm::PortStates[i];
        s.Data = QByteArray(11, '\0');
        for (int b = 3; b <= 10; ++b) s.Data[b] = char(0xFF);
        s.ShownState = 24;
    }
    platform::FlexGrid* g = fgMon[0];
    g->Clear();
    g->setRedraw(false);
    g->setFormatString(kChannelHeader);
    g->setRows(9);
    g->setCols(10);
    const QPixmap idle = icon(24);
    for (int i = 1; i <= 8; ++i) {
        g->setRowHeight(i, 660);
        for (int c = 0; c < 10; ++c) g->setTextMatrix(i, c, QString());
        g->setTextMatrix(i, 0, QString::number(2 * i - 1));
        g->setTextMatrix(i, 5, QString::number(2 * i));
        for (int c : {1, 6}) {
            g->setCellPictureAt(i, c, idle);
            g->setCellAlignmentAt(i, c, 7);
            g->setTextMatrix(i, c, QStringLiteral("空闲"));
        }
    }
    g->setRedraw(true);
    ModSwitch::LoadCards();
}

void frmPABX::SetPortMonitor() {
    ModComm::CardStates.resize(18);
    for (int i = 0; i < 18; ++i) {
        ModComm::CardStates[i].Data = QByteArray(12, '\0');
        ModComm::CardStates[i].ShownState = 0;
    }
    platform::FlexGrid* g = fgMon[1];
    g->setRedraw(false);
    g->setFormatString(kPortHeader);
    ModComm::PortLamps = QByteArray(169, '\0');
    for (int i = 120; i <= 135; ++i) ModComm::PortLamps[i] = char(48);
    for (int i = 136; i <= 143; ++i) ModComm::PortLamps[i] = char(21);
    const QPixmap ext = icon(0), trunk = icon(48), other = icon(21);
    for (int r = 1; r < g->Rows(); r += 2) {
        g->setRowHeight(r, 630);
        if (r + 1 < g->Rows()) g->setRowHeight(r + 1, 300);
        g->setTextMatrix(r, 0, QString::number(r / 2 + 1));
        for (int c = 1; c <= 8; ++c) {
            g->setColWidth(c, 1500);
            g->setCellPictureAt(r, c, r < 30 ? ext : r <= 34 ? trunk : other);
            g->setCellAlignmentAt(r, c, 7);
            g->setTextMatrix(r, c, QStringLiteral("空闲"));
        }
    }
    ModSwitch::InitExtNumber();
    g->setRedraw(true);
}

// ------------------------------------------------------------------ USB collector menu

void frmPABX::mnuGetUSBID_Click() { UsbCommands::GetUsbId(); }
void frmPABX::mnuSetUsbID_Click() { UsbCommands::SetUsbId(mnuSetUsbID->text()); }
void frmPABX::mnuClearUSB_Click() { UsbCommands::ClearCommand(); }
void frmPABX::mnuReadUSB_Click(int Index) { UsbCommands::ReadUsb(Index); }
bool frmPABX::ClearUSB() { return UsbCommands::ClearUSB(); }
bool frmPABX::CheckUSBID() { return UsbCommands::CheckUSBID(); }
