#include "core/frmDialog.h"

#include "platform/Prompts.h"
#include "platform/Twips.h"

#include <memory>

namespace {
std::unique_ptr<frmDialog> g_instance;
}  // namespace

using platform::px;

frmDialog& frmDialog::instance() {
    if (!g_instance) g_instance.reset(new frmDialog);
    return *g_instance;
}
bool frmDialog::exists() { return static_cast<bool>(g_instance); }
void frmDialog::unload() { g_instance.reset(); }

frmDialog::frmDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmDialog"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    for (int i = 0; i < 6; ++i) {
        auto* b = new QPushButton(this);
        b->setObjectName(QStringLiteral("cmdSet%1").arg(i));
        b->setAutoDefault(false);
        b->setGeometry(px(330), 0, px(1500), px(465));
        b->setVisible(false);
        connect(b, &QPushButton::clicked, this, [this, i] { cmdSet_Click(i); });
        cmdSet << b;
    }
}

int frmDialog::GetUDLSel(QStringList& captions, bool) {
    if (captions.isEmpty()) captions << QString();
    int n = captions.size() - 1;
    captions[0] = QStringLiteral("  取  消");
    if (n > 5) n = 5;
    HeightTwips = (n + 2) * 800;
    setFixedSize(px(330 * 2 + 1500), px(HeightTwips));
    for (int i = 0; i <= n; ++i) {
        cmdSet[i]->move(px(330), px((n - i) * 800 + 300));
        cmdSet[i]->setText(captions[i]);
        cmdSet[i]->setVisible(true);
    }
    // The close box counts as cancel.
    m_Pressed = 0;
    platform::RunModal(this);
    const int pressed = m_Pressed;
    unload();
    return pressed;
}

void frmDialog::cmdSet_Click(int index) {
    m_Pressed = index;
    done(index);
}

void frmDialog::reject() { cmdSet_Click(0); }
