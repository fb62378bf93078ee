#include "console/frmPABX.h"

#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/frmWelcome.h"
#include "core/OpLog.h"
#include "core/ModSwitch.h"
#include "core/ModUpgrade.h"
#include "core/frmPicClip.h"
#include "link/ModComm.h"
#include "link/frmSRV.h"
#include "platform/AppExit.h"
#include "platform/InstanceLock.h"
#include "platform/Prompts.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <memory>

namespace {
std::unique_ptr<frmPABX> g_instance;
}

frmPABX& frmPABX::instance() {
    if (!g_instance) g_instance.reset(new frmPABX);
    return *g_instance;
}
bool frmPABX::exists() { return static_cast<bool>(g_instance); }
void frmPABX::unload() { g_instance.reset(); }

frmPABX::frmPABX(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmPABX"));
    ComA = new platform::Comm(this);
    ModComm::AttachPort(ComA);
    auto* layout = new QVBoxLayout(this);
    tbrSwitch = new QToolBar(this);
    layout->addWidget(tbrSwitch);
    auto* body = new QHBoxLayout;
    tvSwitch = new QTreeWidget(this);
    tvSwitch->setHeaderHidden(true);
    body->addWidget(tvSwitch, 1);
    auto* right = new QVBoxLayout;
    PicMain = new QWidget(this);
    PicMain->setMinimumHeight(80);
    for (int i = 0; i < 22; ++i) {
        auto* card = new QLabel(PicMain);
        card->setGeometry(4 + i * 30, 4, 26, 70);
        card->setAutoFillBackground(true);
        picCard << card;
    }
    right->addWidget(PicMain);
    fgDisp = new platform::FlexGrid(this);
    fgDisp->setObjectName(QStringLiteral("fgDisp"));
    right->addWidget(fgDisp, 4);
    for (int i = 0; i < 2; ++i) {
        auto* g = new platform::FlexGrid(this);
        g->setObjectName(QStringLiteral("fgMon%1").arg(i));
        g->hide();
        right->addWidget(g, 2);
        fgMon << g;
    }
    body->addLayout(right, 4);
    layout->addLayout(body, 1);
    sbrInfo = new platform::StatusBar(5, this);
    picRun = new QLabel(this);
    picRun->setFixedSize(16, 16);
    sbrInfo->addWidget(picRun);
    layout->addWidget(sbrInfo);
    txtModify = new QLineEdit(fgDisp->viewport());
    txtModify->hide();
    cboModify = new QComboBox(fgDisp->viewport());
    cboModify->hide();
    tmrCom = new QTimer(this);
    tmrCom->setInterval(3);
    connect(tmrCom, &QTimer::timeout, this, [] { ModComm::ProcessComm(); });
    picRun->installEventFilter(this);
    tmrSys = new QTimer(this);
    tmrSys->setInterval(1000);
    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
}

void frmPABX::Form_Load() {
    if (loaded_) return;
    loaded_ = true;
    frmWelcome& splash = frmWelcome::instance();
    splash.show();
    ModGeneral::Delay(300);

    splash.SetValue(5, QStringLiteral("正在检查系统文件..."));
    ModSwitch::CompactDB(QStringLiteral("Switch.mdb"));
    splash.SetValue(10, QString());
    ModSwitch::CompactDB(QStringLiteral("PhoneCur.mdb"));
    splash.SetValue(15, QString());
    ModSwitch::OpenDB(DataPath + QStringLiteral("Switch.mdb"), dbSwitch);
    ModUpgrade::UpgradeFeeRateKey();
    if (SwitchModel == 2) ModUpgrade::UpgradeV154();
    ModSwitch::OpenDB(DataPath + QStringLiteral("phonecur.mdb"), dbPhoneCur);

    splash.SetValue(20, QStringLiteral("正在初始化系统..."));
    ModSwitch::LoadSysPara();
    ModSwitch::OpenSharedRecordsets();
    splash.SetValue(25, QString());
    ModSwitch::LoadMonRes();

    // Later steps of the load: archive the call records, the board panel and
    // the navigation tree.
    picRun->setPixmap(frmPicClip::instance().Pc.GraphicCell(44).scaled(picRun->size(), Qt::KeepAspectRatio));
    splash.SetValue(80, QStringLiteral("正在与集团电话通讯..."));
    tmrCom->start();
    if (ModComm::OpenComm(true) != 1 &&
        platform::MsgBox(QStringLiteral("与集团电话通讯失败，是否继续?"), platform::mbYesNo, AppName) == platform::rNo)
        CloseApp();
    splash.SetValue(100, QString());
    frmWelcome::unload();
    ModComm::SendOrder(QStringLiteral("84040101"), false, 4, true);
    ModComm::SendOrder(QStringLiteral("960301"), false, 4, true);
    // Later: tmrSys last.
}

void frmPABX::picRun_DblClick() {
    if (ModGeneral::CheckRight(0, 0)) return;
    frmSRV::instance().showNormal();
}

bool frmPABX::eventFilter(QObject* o, QEvent* e) {
    if (o == picRun && e->type() == QEvent::MouseButtonDblClick) {
        picRun_DblClick();
        return true;
    }
    return QWidget::eventFilter(o, e);
}

bool frmPABX::NotExit(int UnloadMode) {
    if (UnloadMode < 2) {
        if (platform::MsgBox(QStringLiteral("要退出系统吗?"), platform::mbYesNo | platform::mbQuestion, AppName) == platform::rNo) return true;
        // TODO(params): after "Yes", pending grid edits are saved first when
        // g_Modified is set (SaveSwitchPara with bRefresh False).
    }
    CloseApp();
}

void frmPABX::CloseApp() {
    // Each step runs whatever the one before it did.
    // TODO(admin): unload the backup window.
    ModGeneral::AddOpLog(QStringLiteral("退出系统"));
    try {
        if (dbSwitch.isOpen()) dbSwitch.tryExecute(QStringLiteral("update worker set b_active=0"));
    } catch (...) {
    }
    // TODO(printing): end the page of immediate bills.
    rsUser.close();
    rsFeeRate.close();
    rsIPHead.close();
    dbPhoneCur.close();
    dbSwitch.close();
    platform::ReleaseInstanceLock();
    platform::EndProgram(0);
}
