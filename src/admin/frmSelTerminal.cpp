#include "admin/frmSelTerminal.h"

#include "admin/Sites.h"
#include "core/Main.h"
#include "core/ModDefine.h"
#include "platform/Files.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

namespace {
const QString kDefaultKey = QStringLiteral("KDefault");
}

QString frmSelTerminal::GetDatapath(bool bStartup, bool* cancelled) {
    frmSelTerminal w(bStartup);
    platform::RunModal(&w);
    if (cancelled) *cancelled = !bStartup && w.m_Cancelled;
    return w.m_Path;
}

bool frmSelTerminal::DeleteDirectory(const QString& path) {
    QString error;
    bool existed = false;
    return admin::DeleteSiteDirectory(path, &error, &existed) && existed;
}

frmSelTerminal::frmSelTerminal(bool bStartup) {
    setObjectName(QStringLiteral("frmSelTerminal"));
    setWindowTitle(QStringLiteral("站点选择窗口"));
    setModal(true);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    resize(platform::px(5000), platform::px(3600));
    auto* lay = new QHBoxLayout(this);
    lvwPoint = new QTreeWidget(this);
    lvwPoint->setObjectName(QStringLiteral("lvwPoint"));
    lvwPoint->setRootIsDecorated(false);
    lvwPoint->setEditTriggers(QAbstractItemView::NoEditTriggers);   // row texts are never edited
    lvwPoint->setSelectionMode(QAbstractItemView::SingleSelection);
    lay->addWidget(lvwPoint, 1);
    auto* buttons = new QVBoxLayout;
    cmdSelect = new QPushButton(QStringLiteral("确定"), this);
    cmdSelect->setObjectName(QStringLiteral("cmdSelect"));
    cmdCancel = new QPushButton(QStringLiteral("取消"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    buttons->addWidget(cmdSelect);
    buttons->addWidget(cmdCancel);
    buttons->addStretch();
    lay->addLayout(buttons);
    connect(cmdSelect, &QPushButton::clicked, this, [this] { cmdSelect_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });

    // At start-up there is no site to go back to.
    cmdCancel->setEnabled(!bStartup);
    m_Path = bStartup ? admin::RootDataDir() : DataPath;
    Form_Load();
}

void frmSelTerminal::Form_Load() {
    lvwPoint->setHeaderLabels({QStringLiteral("站点名称列表")});
    auto* root = new QTreeWidgetItem(lvwPoint, {QStringLiteral("默认")});
    root->setData(0, Qt::UserRole, kDefaultKey);
    try {
        bool own = false;
        platform::Database db = admin::TerminalDatabase(&own);
        platform::Recordset rs = db.query(QStringLiteral("select pointid,pointname from terminal"));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
            const QString name = rs.str(QStringLiteral("pointname"));
            // A site whose directory is missing is not offered, nor a row
            // whose name no site may take ("..", which would make the
            // program's directory the data path).
            if (!admin::IsSiteRow(name)) continue;
            auto* item = new QTreeWidgetItem(lvwPoint, {name});
            item->setData(0, Qt::UserRole, QStringLiteral("K") + QString::number(rs.lng(QStringLiteral("pointid"))));
        }
        rs.close();
        if (own) db.close();
    } catch (const platform::DbError&) {
        // The rows read so far are offered, "默认" at least.
    }
    lvwPoint->setCurrentItem(root);
    SetColumnHeaderWidth();
}

void frmSelTerminal::SetColumnHeaderWidth() {
    const int rows = lvwPoint->topLevelItemCount();
    const int rowHeight = rows ? lvwPoint->visualItemRect(lvwPoint->topLevelItem(0)).height() : 0;
    const bool scrolls = rowHeight * rows + platform::px(200) > lvwPoint->height();
    lvwPoint->setColumnWidth(0, qMax(20, lvwPoint->width() - platform::px(scrolls ? 350 : 100)));
}

void frmSelTerminal::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    SetColumnHeaderWidth();
}

void frmSelTerminal::cmdSelect_Click() {
    QTreeWidgetItem* item = lvwPoint->currentItem();
    if (!item) return;
    const QString text = item->text(0);
    if (platform::MsgBox(QStringLiteral("真的要选择<") + text + QStringLiteral(">吗"),
                         platform::mbYesNo | platform::mbQuestion, QStringLiteral("操作提示")) != platform::rYes)
        return;
    const QString key = item->data(0, Qt::UserRole).toString();
    if (key == kDefaultKey) {
        TerminalName = QStringLiteral("默认");
        m_Path = admin::RootDataDir();
    } else {
        TerminalName = text;
        QString dir = platform::resolveCI(admin::RootDataDir(), text);
        if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
        m_Path = dir;
    }
    TerminalID = key.mid(1).toInt();   // "KDefault" gives 0
    m_Cancelled = false;
    done(QDialog::Accepted);
}

void frmSelTerminal::cmdCancel_Click() {
    if (!cmdCancel->isEnabled()) return;
    m_Cancelled = true;
    done(QDialog::Rejected);
}

void frmSelTerminal::closeEvent(QCloseEvent* e) {
    // Left only through its buttons.
    e->ignore();
}

void frmSelTerminal::reject() {}

namespace admin {
void RegisterSiteChooser() { core::SetSiteChooser(&frmSelTerminal::GetDatapath); }
}  // namespace admin
