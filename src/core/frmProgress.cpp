#include "core/frmProgress.h"

#include "core/Console.h"
#include "core/ModGeneral.h"

#include <QCloseEvent>
#include <QFont>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <memory>

namespace {
std::unique_ptr<frmProgress> g_instance;
}

frmProgress& frmProgress::instance() {
    if (!g_instance) g_instance.reset(new frmProgress);
    return *g_instance;
}
bool frmProgress::exists() { return static_cast<bool>(g_instance); }
void frmProgress::unload() { g_instance.reset(); }

void frmProgress::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_F12 && core::ConsoleExists()) {
        core::TheConsole()->picRun_DblClick();
        return;
    }
    QWidget::keyPressEvent(e);
}

frmProgress::frmProgress(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("frmProgress"));
    auto* layout = new QVBoxLayout(this);
    lblPrompt = new QLabel(this);
    lblPrompt->setFont(QFont(QStringLiteral("宋体")));
    pbrSwitch = new QProgressBar(this);
    pbrSwitch->setTextVisible(false);
    cmdStop = new QPushButton(QStringLiteral("取 消"), this);
    cmdStop->setVisible(false);
    tmrAutoAdd = new QTimer(this);
    tmrAutoAdd->setInterval(1000);
    layout->addWidget(lblPrompt);
    layout->addWidget(pbrSwitch);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(cmdStop);
    layout->addLayout(row);
    resize(360, 110);
    connect(cmdStop, &QPushButton::clicked, this, [this] { cmdStop_Click(); });
    connect(tmrAutoAdd, &QTimer::timeout, this, [this] { setpValue(-1, QString()); });
}

frmProgress::~frmProgress() {
    // Unloading by the job gives the main window back.
    core::SetConsoleEnabled(true);
}

void frmProgress::LoadProgress(const QString& prompt, bool bShowStop, qint32 nMax, qint32 nMin, bool bAutoAdd) {
    lblPrompt->setText(prompt);
    if (nMax < nMin) std::swap(nMax, nMin);
    if (nMax < 2) nMax = 2;
    if (nMin < 1) nMin = 1;
    pbrSwitch->setRange(nMin, nMax);
    pbrSwitch->setValue(nMin);
    cmdStop->setVisible(bShowStop);
    show();
    SetEnabled(false);
    if (bAutoAdd) tmrAutoAdd->start();
    else tmrAutoAdd->stop();
    ModGeneral::Delay(1);
    bStop = false;
}

void frmProgress::setpValue(qint32 nValue, const QString& prompt) {
    if (nValue == -1) nValue = pbrSwitch->value() + 1;
    if (nValue < pbrSwitch->minimum() || nValue > pbrSwitch->maximum()) return;
    pbrSwitch->setValue(nValue);
    if (!prompt.isEmpty()) lblPrompt->setText(prompt);
}

void frmProgress::setToMax(qint32 nFrom) {
    if (nFrom < pbrSwitch->minimum() || nFrom > pbrSwitch->maximum()) nFrom = pbrSwitch->maximum();
    for (qint32 v = nFrom; v <= pbrSwitch->maximum(); ++v) pbrSwitch->setValue(v);
}

void frmProgress::SetEnabled(bool bEnable) {
    core::SetConsoleEnabled(bEnable);
}

void frmProgress::cmdStop_Click() { bStop = true; }

void frmProgress::closeEvent(QCloseEvent* e) {
    // The close box gives the main window back but the job keeps its window.
    SetEnabled(true);
    e->ignore();
}
