#include "console/frmHelp.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>
#include <memory>

namespace {

std::unique_ptr<frmHelp> g_help;

const char* const kViews = R"(<h3>导航树</h3>
<p>左边的导航树选择右边显示的内容：</p>
<ul>
<li><b>系统监控</b>：板卡通道状态（单击板卡可设置板卡布局）、分机端口状态、即时话单记录、叫醒服务记录、操作历史记录。</li>
<li><b>字头设置</b>：本机字头、市话字头、缩位字头、附加字头、加发字头（路由1、路由2）。</li>
<li><b>参数设置</b>：分机参数、中继参数、帐号参数、用户管理、集团电话费率、集团电话时段。</li>
<li><b>计费管理</b>：用户结算、话单查询、折价设置、普通费率、IP费率及字头。</li>
</ul>
<p>在表格中双击单元格或按回车键修改数据；右击表格弹出修改菜单或校验、上传、下载菜单；
在用户管理中右击用户名称左边的格子可选择分机帐号、结算或初始化用户。</p>)";

const char* const kToolbar = R"(<h3>工具栏</h3>
<ul>
<li><b>下载</b>：把当前表发送到集团电话。<b>上传</b>：从集团电话读回当前表。<b>校验</b>：比较集团电话与本机的数据。</li>
<li><b>备份</b>：把当前表备份到数据目录的 Backup.mdb；<b>恢复</b>：从备份库恢复当前表。</li>
<li><b>保存</b>、<b>增加</b>、<b>删除</b>：保存修改、增加一行、删除所选行（也可按 Delete 键）。</li>
<li><b>查找</b>：按条件查找表格中的行。<b>打印</b>：打印表格的所选部分。</li>
<li><b>帮助</b>：打开本窗口。<b>退出</b>：退出系统。</li>
</ul>
<p>F12 或双击右上角的图标打开通讯调试窗口（需要全部权限）。</p>)";

QString menuSection(const QMenuBar* menus) {
    QString html = QStringLiteral("<h3>菜单和快捷键</h3>");
    if (!menus) return html;
    for (QAction* top : menus->actions()) {
        QMenu* m = top->menu();
        if (!m || !top->isVisible()) continue;
        html += QStringLiteral("<p><b>%1</b></p><ul>").arg(top->text().trimmed().toHtmlEscaped());
        for (QAction* a : m->actions()) {
            if (a->isSeparator() || !a->isVisible()) continue;
            QList<QAction*> items{a};
            if (a->menu()) items = a->menu()->actions();
            for (QAction* i : items) {
                if (i->isSeparator() || !i->isVisible()) continue;
                QString line = i->text().toHtmlEscaped();
                if (!i->shortcut().isEmpty())
                    line += QStringLiteral("　（") + i->shortcut().toString(QKeySequence::NativeText) +
                            QStringLiteral("）");
                if (!i->isEnabled()) line += QStringLiteral("　暂不可用");
                html += QStringLiteral("<li>") + line + QStringLiteral("</li>");
            }
        }
        html += QStringLiteral("</ul>");
    }
    return html;
}

}  // namespace

frmHelp& frmHelp::instance() {
    if (!g_help) g_help.reset(new frmHelp);
    return *g_help;
}
bool frmHelp::exists() { return static_cast<bool>(g_help); }
void frmHelp::unload() { g_help.reset(); }

frmHelp::frmHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("帮助主题"));
    resize(560, 520);
    txtHelp = new QTextBrowser(this);
    txtHelp->setObjectName(QStringLiteral("txtHelp"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(txtHelp);
}

void frmHelp::ShowHelp(const QMenuBar* menus) {
    txtHelp->setHtml(QStringLiteral("<h2>集团电话计费管理系统</h2>") + QString::fromUtf8(kViews) +
                     QString::fromUtf8(kToolbar) + menuSection(menus));
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}
