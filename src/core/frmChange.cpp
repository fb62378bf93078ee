#include "core/frmChange.h"

#include "platform/Prompts.h"

#include <QGridLayout>
#include <QVBoxLayout>
#include <memory>

namespace {
std::unique_ptr<frmChange> g_instance;

QStringList listItems(const QListWidget* l) {
    QStringList r;
    for (int i = 0; i < l->count(); ++i) r << l->item(i)->text();
    r << QString();
    return r;
}
}  // namespace

frmChange& frmChange::instance() {
    if (!g_instance) g_instance.reset(new frmChange);
    return *g_instance;
}
bool frmChange::exists() { return static_cast<bool>(g_instance); }
void frmChange::unload() { g_instance.reset(); }

frmChange::frmChange(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmChange"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    auto* grid = new QGridLayout(this);
    lblShare = new QLabel(this);
    lblHave = new QLabel(this);
    lstShare = new QListWidget(this);
    lstHave = new QListWidget(this);
    lstShare->setObjectName(QStringLiteral("lstShare"));
    lstHave->setObjectName(QStringLiteral("lstHave"));
    lstShare->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstHave->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto makeButton = [this](const QString& caption, const QString& tip) {
        auto* b = new QPushButton(caption, this);
        b->setToolTip(tip);
        b->setAutoDefault(false);
        return b;
    };
    cmdHave << makeButton(QStringLiteral(">>"), QStringLiteral("全部添加")) << makeButton(QStringLiteral(">"), QStringLiteral("添加选中"));
    cmdShare << makeButton(QStringLiteral("<<"), QStringLiteral("全部删除")) << makeButton(QStringLiteral("<"), QStringLiteral("删除选中"));
    cmdHide << makeButton(QStringLiteral("取消"), QStringLiteral("不设置退出")) << makeButton(QStringLiteral("确定"), QStringLiteral("应用设置"));
    cmdHide[1]->setDefault(true);

    auto* arrows = new QVBoxLayout;
    arrows->addStretch();
    arrows->addWidget(cmdHave[0]);
    arrows->addWidget(cmdHave[1]);
    arrows->addWidget(cmdShare[1]);
    arrows->addWidget(cmdShare[0]);
    arrows->addStretch();
    grid->addWidget(lblShare, 0, 0);
    grid->addWidget(lblHave, 0, 2);
    grid->addWidget(lstShare, 1, 0);
    grid->addLayout(arrows, 1, 1);
    grid->addWidget(lstHave, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdHide[1]);
    buttons->addWidget(cmdHide[0]);
    grid->addLayout(buttons, 2, 0, 1, 3);

    for (int i = 0; i < 2; ++i) {
        connect(cmdHave[i], &QPushButton::clicked, this, [this, i] { cmdHave_Click(i); });
        connect(cmdShare[i], &QPushButton::clicked, this, [this, i] { cmdShare_Click(i); });
        connect(cmdHide[i], &QPushButton::clicked, this, [this, i] { cmdHide_Click(i); });
    }
    connect(lstShare, &QListWidget::itemDoubleClicked, this, [this] { cmdHave_Click(1); });
    connect(lstHave, &QListWidget::itemDoubleClicked, this, [this] { cmdShare_Click(1); });
}

bool frmChange::SetList(QStringList& available, QStringList& chosen, const QString& title, int nFixed, int nLimit) {
    if (available.isEmpty()) available << QString();
    if (chosen.isEmpty()) chosen << QString();
    const int highA = available.size() - 1;
    const int highC = chosen.size() - 1;
    const int total = highA + highC + ((!available[0].isEmpty() && !chosen[0].isEmpty()) ? 2 : 1);
    m_Limit = nLimit != 0 ? nLimit : total;
    if (m_Limit > total) m_Limit = total;
    m_Fixed = nFixed;

    lstHave->clear();
    lstShare->clear();
    for (const QString& s : chosen)
        if (!s.isEmpty()) lstHave->addItem(s);
    for (const QString& s : available)
        if (!s.isEmpty()) lstShare->addItem(s);
    lblShare->setText(QStringLiteral("可选择的") + title);
    lblHave->setText(QStringLiteral("已选择的") + title);
    setWindowTitle(title + QStringLiteral("选择窗口"));

    // The close box counts as cancel, whatever an earlier use pressed.
    m_Pressed = 0;
    platform::RunModal(this);
    const bool applied = m_Pressed == 1;
    if (applied) {
        available = listItems(lstShare);
        chosen = listItems(lstHave);
    }
    unload();
    return applied;
}

void frmChange::MoveItems(QListWidget* from, QListWidget* to, bool onlySelected, bool toChosen) {
    for (int i = from->count() - 1; i >= 0; --i) {
        QListWidgetItem* item = from->item(i);
        if (onlySelected && !item->isSelected()) continue;
        // Never more chosen items than the caller allows.
        if (toChosen && to->count() >= m_Limit) break;
        if (!toChosen && i < m_Fixed) continue;
        to->addItem(item->text());
        delete from->takeItem(i);
    }
}

void frmChange::cmdHave_Click(int index) { MoveItems(lstShare, lstHave, index == 1, true); }
void frmChange::cmdShare_Click(int index) { MoveItems(lstHave, lstShare, index == 1, false); }

void frmChange::cmdHide_Click(int index) {
    m_Pressed = index;
    done(index);
}

void frmChange::reject() { cmdHide_Click(0); }
