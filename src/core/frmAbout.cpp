#include "core/frmAbout.h"

#include "core/ModDefine.h"
#include "platform/Prompts.h"

#include <QMouseEvent>
#include <QVBoxLayout>
#include <memory>

namespace {
std::unique_ptr<frmAbout> g_instance;
}

frmAbout& frmAbout::instance() {
    if (!g_instance) g_instance.reset(new frmAbout);
    return *g_instance;
}
bool frmAbout::exists() { return static_cast<bool>(g_instance); }
void frmAbout::unload() { g_instance.reset(); }

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    auto* layout = new QVBoxLayout(this);
    lblVersion = new QLabel(this);
    lblVersion->setAlignment(Qt::AlignCenter);
    cmdOK = new QPushButton(QStringLiteral("确定"), this);
    cmdOK->setDefault(true);
    layout->addWidget(lblVersion);
    layout->addWidget(cmdOK, 0, Qt::AlignHCenter);
    // Enter presses the default button; Esc rejects: both close the box.
    connect(cmdOK, &QPushButton::clicked, this, [this] { done(0); });
    Form_Load();
}

void frmAbout::Form_Load() {
    setWindowTitle(AppName);
    lblVersion->setText(AppName + QStringLiteral(" Ver%1.%2.%3").arg(kMajor).arg(kMinor).arg(kRevision));
}

void frmAbout::ShowAbout() {
    platform::RunModal(this);
    unload();
}

void frmAbout::mousePressEvent(QMouseEvent*) { done(0); }
