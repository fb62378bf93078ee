#include "billing/frmBillManage.h"

#include "billing/ArchiveBills.h"
#include "core/ModDefine.h"
#include "core/OpLog.h"
#include "platform/Clock.h"
#include "platform/DbCopy.h"
#include "platform/Files.h"
#include "platform/Prompts.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHash>
#include <QVBoxLayout>
#include <memory>

using platform::Database;
using platform::DbError;

namespace {

std::unique_ptr<frmBillManage> g_instance;
const QString kSchema = QStringLiteral("manage_year");

QString keyOf(const QTreeWidgetItem* it) { return it->data(0, Qt::UserRole).toString(); }
// A month node's tables in the archive, as they are spelled there.
constexpr int kTablesRole = Qt::UserRole + 1;

// The month 1..12 a table of an archive holds by its name ("Tab_Ph" and the
// month's number, in any case, "Tab_Ph3" or "Tab_Ph03"); 0 for any other table.
int monthOfTable(const QString& table) {
    if (!table.startsWith(QLatin1String("Tab_Ph"), Qt::CaseInsensitive)) return 0;
    const QString digits = table.mid(6);
    if (digits.isEmpty() || digits.size() > 2) return 0;
    for (QChar ch : digits)
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9')) return 0;
    const int m = digits.toInt();
    return m >= 1 && m <= 12 ? m : 0;
}

// The archive files of the data directory, in listing order.
QStringList archiveFiles() {
    QDir dir(DataPath);
    QStringList out;
    for (const QString& f : dir.entryList({QStringLiteral("phbill_*.mdb")}, QDir::Files, QDir::Name | QDir::IgnoreCase)) {
        if (!f.startsWith(QLatin1String("phbill_"), Qt::CaseInsensitive) || f.size() != 15) continue;
        bool ok = false;
        f.mid(7, 4).toInt(&ok);
        if (ok) out << f;
    }
    return out;
}

}  // namespace

frmBillManage& frmBillManage::instance() {
    if (!g_instance) g_instance.reset(new frmBillManage);
    return *g_instance;
}
bool frmBillManage::exists() { return static_cast<bool>(g_instance); }
void frmBillManage::unload() {
    if (g_instance && g_instance->m_Busy) return;
    g_instance.reset();
}

void frmBillManage::ShowModal() {
    platform::RunModal(&instance());
    unload();
}

frmBillManage::frmBillManage(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmBillManage"));
    setWindowTitle(QStringLiteral("话单库管理"));
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    Label1 = new QLabel(QStringLiteral("请选择要删除/备份的历史话单"), this);
    tvwBill = new QTreeWidget(this);
    tvwBill->setColumnCount(1);
    tvwBill->header()->hide();
    tvwBill->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* buttons = new QHBoxLayout;
    for (const char* c : {"删除", "关闭", "备份"}) cmdOK << new QPushButton(QString::fromUtf8(c), this);
    buttons->addWidget(cmdOK[0]);
    buttons->addWidget(cmdOK[2]);
    buttons->addStretch();
    buttons->addWidget(cmdOK[1]);
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(Label1);
    lay->addWidget(tvwBill);
    lay->addLayout(buttons);
    for (int i = 0; i < 3; ++i) connect(cmdOK[i], &QPushButton::clicked, this, [this, i] { cmdOK_Click(i); });
    connect(tvwBill, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* it) {
        if (!m_Filling) SetCheck(it, true);
    });
    resize(360, 420);
    RefreshList();
}

frmBillManage::~frmBillManage() = default;

QTreeWidgetItem* frmBillManage::node(const QString& key) const {
    for (int i = 0; i < tvwBill->topLevelItemCount(); ++i) {
        QTreeWidgetItem* y = tvwBill->topLevelItem(i);
        if (keyOf(y) == key) return y;
        for (int j = 0; j < y->childCount(); ++j)
            if (keyOf(y->child(j)) == key) return y->child(j);
    }
    return nullptr;
}

void frmBillManage::RefreshList() {
    m_Filling = true;
    tvwBill->clear();
    const QDateTime now = platform::Now();
    const QString thisYear = now.toString(QStringLiteral("yyyy"));
    const QString thisMonth = now.toString(QStringLiteral("MM"));
    QStringList unreadable;
    for (const QString& f : archiveFiles()) {
        const QString year = f.mid(7, 4);
        Database db;
        try {
            db = billing::AttachArchive(year.toInt(), kSchema);
        } catch (const DbError&) {
            // Never deleted: a file that cannot be read may still hold calls.
            unreadable << f;
            continue;
        }
        if (!db.isOpen()) continue;
        auto* y = new QTreeWidgetItem({year});
        y->setData(0, Qt::UserRole, QStringLiteral("K") + year);
        y->setFlags(y->flags() | Qt::ItemIsUserCheckable);
        y->setCheckState(0, Qt::Unchecked);
        QStringList tables;
        try {
            tables = db.tableNames();
        } catch (const DbError&) {
            unreadable << f;
        }
        db.close();
        // Month tables are matched whatever the case of their names ("TAB_PH3"
        // in a restored or foreign file) and the zeros before the number
        // ("Tab_Ph03"): one node per month, which stands for all its tables.
        // In the order of the tables' definitions.
        QList<int> order;
        QHash<int, QStringList> months;
        for (const QString& t : tables) {
            const int m = monthOfTable(t);
            if (m == 0) continue;
            if (!months.contains(m)) order << m;
            months[m] << t;
        }
        for (int m : order) {
            const QString month = QStringLiteral("%1").arg(m, 2, 10, QLatin1Char('0'));
            if (year == thisYear && month == thisMonth) continue;
            auto* c = new QTreeWidgetItem(y, {month});
            c->setData(0, Qt::UserRole, QStringLiteral("K") + year + '-' + month);
            c->setData(0, kTablesRole, months.value(m));
            c->setFlags(c->flags() | Qt::ItemIsUserCheckable);
            c->setCheckState(0, Qt::Unchecked);
        }
        if (y->childCount() == 0) {
            // Only a file without any table is pruned: a table the tree does
            // not list (another program's, "Tab_Ph13") may still hold calls.
            if (year != thisYear && tables.isEmpty() && !unreadable.contains(f)) platform::removeCI(DataPath + f);
            delete y;
            continue;
        }
        tvwBill->addTopLevelItem(y);
        y->setExpanded(true);
    }
    m_Filling = false;
    if (!unreadable.isEmpty())
        platform::MsgBox(unreadable.join(QStringLiteral(", ")) + QStringLiteral("无法打开"), platform::mbOKOnly,
                         ModDefine::AppName);
}

void frmBillManage::SetCheck(QTreeWidgetItem* n, bool) {
    if (!n) return;
    m_Filling = true;
    for (int i = 0; i < n->childCount(); ++i) n->child(i)->setCheckState(0, n->checkState(0));
    m_Filling = false;
}

void frmBillManage::cmdOK_Click(int index) {
    if (m_Busy) return;
    if (index == 1) {
        close();
        return;
    }
    if (ModGeneral::CheckRight(20, 2)) return;
    m_Busy = true;
    for (QPushButton* b : cmdOK) b->setEnabled(false);
    if (index == 2) backup();
    else remove();
    for (QPushButton* b : cmdOK) b->setEnabled(true);
    m_Busy = false;
}

void frmBillManage::backup() {
    const QString folder = DataPath + QStringLiteral("Backup");
    const QString dir = platform::resolvePathCI(folder);
    if (!QFileInfo(dir).isDir() && !QDir().mkpath(dir)) {
        // Why the data directory takes no folder: a full disk, no right to write.
        const QString why = platform::DirectoryWriteFailure(QFileInfo(dir).absolutePath());
        platform::MsgBox(QStringLiteral("无法创建目录 ") + dir + (why.isEmpty() ? QString() : QStringLiteral("（%1）").arg(why)),
                         platform::mbOKOnly, ModDefine::AppName);
        return;
    }
    for (int i = 0; i < tvwBill->topLevelItemCount(); ++i) {
        QTreeWidgetItem* y = tvwBill->topLevelItem(i);
        QTreeWidgetItem* first = nullptr;
        for (int j = 0; j < y->childCount() && !first; ++j)
            if (y->child(j)->checkState(0) == Qt::Checked) first = y->child(j);
        if (!first) continue;
        const int year = y->text(0).toInt();
        const QString source = billing::ArchivePath(year);
        const QString name = QFileInfo(source).fileName();
        const QString target = dir + '/' + platform::Now().toString(QStringLiteral("yyyyMMddHHmmss")) +
                               billing::ArchiveFileName(year);
        QString err;
        if (!platform::CopyDatabaseStepwise(source, target, dbSwitch, &err)) {
            // The file, and why, as 数据库管理's backup says it: a full disk,
            // a folder that cannot be written, a file another program holds.
            platform::MsgBox(QStringLiteral("备份") + name + QStringLiteral("失败：") + err, platform::mbOKOnly,
                             ModDefine::AppName);
            return;
        }
        ModGeneral::AddOpLog(QStringLiteral("备份话单:") + keyOf(first).mid(1));
        m_Filling = true;
        y->setCheckState(0, Qt::Unchecked);
        for (int j = 0; j < y->childCount(); ++j) y->child(j)->setCheckState(0, Qt::Unchecked);
        m_Filling = false;
    }
}

void frmBillManage::remove() {
    if (platform::MsgBox(QStringLiteral("您确信要删除选定的话单?"), platform::mbYesNo, ModDefine::AppName) != platform::rYes)
        return;
    try {
        for (int i = 0; i < tvwBill->topLevelItemCount(); ++i) {
            QTreeWidgetItem* y = tvwBill->topLevelItem(i);
            QList<QTreeWidgetItem*> ticked;
            for (int j = 0; j < y->childCount(); ++j)
                if (y->child(j)->checkState(0) == Qt::Checked) ticked << y->child(j);
            if (ticked.isEmpty()) continue;
            Database db = billing::AttachArchive(y->text(0).toInt(), kSchema);
            if (!db.isOpen())
                throw DbError(platform::kErrFileNotFound, QStringLiteral("找不到文件 ") + billing::ArchiveFileName(y->text(0).toInt()));
            try {
                for (QTreeWidgetItem* m : ticked) {
                    for (const QString& listed : m->data(0, kTablesRole).toStringList()) {
                        const QString table = db.actualTableName(listed);
                        if (!table.isEmpty()) db.execute(QStringLiteral("DROP TABLE %1").arg(db.qualified(table)));
                    }
                    ModGeneral::AddOpLog(QStringLiteral("删话单:") + keyOf(m).mid(1));
                }
            } catch (...) {
                db.close();
                throw;
            }
            db.close();
        }
    } catch (const DbError& e) {
        platform::MsgBox(platform::OperatorText(e), platform::mbOKOnly, ModDefine::AppName);
        return;
    }
    RefreshList();
}
