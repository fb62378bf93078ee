#include "core/frmFeeFind.h"

#include "core/ModGeneral.h"
#include "platform/Prompts.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <memory>

namespace {
std::unique_ptr<frmFeeFind> g_instance;
}

frmFeeFind& frmFeeFind::instance() {
    if (!g_instance) g_instance.reset(new frmFeeFind);
    return *g_instance;
}
bool frmFeeFind::exists() { return static_cast<bool>(g_instance); }
void frmFeeFind::unload() { g_instance.reset(); }

frmFeeFind::frmFeeFind(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmFeeFind"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    auto* layout = new QVBoxLayout(this);
    lblPrompt = new QLabel(this);
    txtFind = new QLineEdit(this);
    txtFind->setMaxLength(100);
    cmdFind = new QPushButton(QStringLiteral("确定"), this);
    cmdClose = new QPushButton(QStringLiteral("关闭"), this);
    cmdFind->setDefault(true);
    cmdClose->setAutoDefault(false);
    layout->addWidget(lblPrompt);
    layout->addWidget(txtFind);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(cmdFind);
    row->addWidget(cmdClose);
    layout->addLayout(row);
    connect(cmdFind, &QPushButton::clicked, this, [this] { cmdFind_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { cmdClose_Click(); });
}

QString frmFeeFind::Find(const QString& prompt, const QString& defaultText) {
    txtFind->setText(defaultText);
    lblPrompt->setText(prompt);
    m_Result.clear();
    // The default text is selected, so typing replaces it.
    txtFind->setFocus();
    ModGeneral::SelectAllText(txtFind);
    platform::RunModal(this);
    return m_Result;   // the window stays loaded, hidden, for the next call
}

void frmFeeFind::cmdFind_Click() {
    m_Result = txtFind->text();
    hide();
    done(1);
}

void frmFeeFind::cmdClose_Click() { done(0); }

void frmFeeFind::reject() { cmdClose_Click(); }
