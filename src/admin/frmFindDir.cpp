#include "admin/frmFindDir.h"

#include "core/ModDefine.h"
#include "platform/Prompts.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <memory>

namespace {
std::unique_ptr<frmFindDir> g_instance;
}

namespace admin {
bool MakeFolderLevels(const QString& path) {
    if (!path.startsWith('/')) return false;
    // Level by level, so a failure names the first level that could not be made.
    for (int i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        const QString prefix = path.left(i);
        if (QFileInfo(prefix).isDir()) continue;
        if (!QDir().mkdir(prefix)) return false;
    }
    return QFileInfo(path).isDir();
}
}  // namespace admin

frmFindDir& frmFindDir::instance() {
    if (!g_instance) g_instance.reset(new frmFindDir);
    return *g_instance;
}
bool frmFindDir::exists() { return static_cast<bool>(g_instance); }
void frmFindDir::unload() { g_instance.reset(); }

frmFindDir::frmFindDir(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmFindDir"));
    setWindowTitle(QStringLiteral("    选择目录窗口"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    Drive1 = new QComboBox(this);
    Drive1->addItem(QStringLiteral("/"));
    Dir1 = new QListWidget(this);
    txtDir = new QLineEdit(this);
    cmdOK = new QPushButton(QStringLiteral("确定"), this);
    cmdCancel = new QPushButton(QStringLiteral("取消"), this);
    auto* v = new QVBoxLayout(this);
    v->addWidget(txtDir);
    v->addWidget(Drive1);
    v->addWidget(Dir1);
    auto* h = new QHBoxLayout;
    h->addStretch();
    h->addWidget(cmdOK);
    h->addWidget(cmdCancel);
    v->addLayout(h);
    resize(360, 320);
    connect(Dir1, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* it) {
        Dir1_Change(QDir(listed_).absoluteFilePath(it->text()));
    });
    connect(txtDir, &QLineEdit::textEdited, this, [this](const QString& t) { txtDir_Change(t); });
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
}

void frmFindDir::listFolders(const QString& folder) {
    listed_ = folder;
    Dir1->clear();
    Dir1->addItem(QStringLiteral(".."));
    Dir1->addItems(QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name));
}

void frmFindDir::txtDir_Change(const QString& text) {
    // The list follows what is typed as soon as it names a place: a folder
    // shows its folders, a file those beside it.
    const QString t = text.trimmed();
    if (!t.startsWith('/')) return;
    const QFileInfo f(t);
    if (f.isDir()) listFolders(QDir::cleanPath(t));
    else if (f.isFile()) listFolders(f.absolutePath());
}

void frmFindDir::Dir1_Change(const QString& folder) {
    const QString clean = QDir::cleanPath(folder);
    txtDir->setText(clean);
    listFolders(clean);
}

QString frmFindDir::SelectPath(QString start) {
    if (!QFileInfo(start).isDir()) start = DataPath;
    txtDir->setText(start);
    listFolders(start);
    result_.clear();
    platform::RunModal(this);
    QString r = result_;
    if (!r.isEmpty() && !r.endsWith('/')) r += '/';
    unload();
    return r;
}

void frmFindDir::cmdOK_Click() {
    const QString text = txtDir->text().trimmed();
    // Only an absolute folder names a place on this machine.
    if (!text.startsWith('/')) {
        platform::MsgBox(QStringLiteral("错误的驱动符"), platform::mbOKOnly, AppName);
        return;
    }
    if (QFileInfo(text).isDir()) {
        result_ = text;
        hide();
        return;
    }
    if (platform::MsgBox(QStringLiteral("指定的文件夹不存在，要建立吗？"), platform::mbYesNo | platform::mbQuestion, AppName) !=
        platform::rYes) {
        hide();
        return;
    }
    if (!admin::MakeFolderLevels(text)) {
        platform::MsgBox(QStringLiteral("请输入正确的路径(不能包含非法的字符)"), platform::mbOKOnly, AppName);
        txtDir->setFocus();
        return;
    }
    result_ = text;
    hide();
}

void frmFindDir::cmdCancel_Click() {
    result_.clear();
    hide();
}
