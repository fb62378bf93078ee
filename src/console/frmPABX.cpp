#include "console/frmPABX.h"

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
    tmrSys = new QTimer(this);
    tmrSys->setInterval(1000);
    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
}

void frmPABX::Form_Load() {}

bool frmPABX::NotExit(int) { return true; }

void frmPABX::CloseApp() {
    extern void EndStation [[noreturn]] ();
    EndStation();
}
