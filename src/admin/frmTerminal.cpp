#include "admin/frmTerminal.h"

#include "admin/Sites.h"
#include "billing/frmFeeDetail.h"
#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/frmFind.h"
#include "params/NavTree.h"
#include "platform/AppExit.h"
#include "platform/Files.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "printing/PrintGrid.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <stdexcept>

namespace {

frmTerminal* g_instance = nullptr;
std::function<void(QMenu*)> g_popupRunner;

const QString kFormat = QStringLiteral(
    ">站点编号|站点名称      |联系人   |联系电话       |站点地址         |话费信息|机型        |容量       | 备注      "
    "               ");
const char* const kColumns[] = {"PointID", "PointName", "OwnerName", "Telephone", "Address",
                                "FeeDetail", "Model", "Capacity", "Summary"};
// Declared sizes of the text columns 1 to 8, as the table holds them.
const int kSizes[] = {0, 40, 20, 20, 40, 4, 40, 20, 200};
constexpr quint32 kModifiedColour = 0xFFFFC0;
const QString kAskName = QStringLiteral("请输入站点名称(除<默认>外)");

void say(const QString& text) { platform::MsgBox(text, platform::mbOKOnly, AppName); }

// A failure of a toolbar action, reported as "操作错误," and its description.
struct ActionError : std::runtime_error {
    explicit ActionError(const QString& t) : std::runtime_error(t.toStdString()), text(t) {}
    QString text;
};

}  // namespace

frmTerminal& frmTerminal::instance() {
    if (!g_instance) g_instance = new frmTerminal;
    return *g_instance;
}
bool frmTerminal::exists() { return g_instance != nullptr; }
void frmTerminal::unload() {
    if (g_instance) g_instance->close();
}
void frmTerminal::SetPopupRunner(std::function<void(QMenu*)> runner) { g_popupRunner = std::move(runner); }

frmTerminal::frmTerminal() : QWidget(nullptr, Qt::Window) {
    setObjectName(QStringLiteral("frmTerminal"));
    setWindowTitle(QStringLiteral("站点管理"));
    setAttribute(Qt::WA_DeleteOnClose);
    setMinimumSize(platform::px(9000), platform::px(6000));
    resize(platform::px(9600), platform::px(6600));

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(platform::px(100), 0, platform::px(100), platform::px(100));
    tbrPoint = new QToolBar(this);
    tbrPoint->setObjectName(QStringLiteral("tbrPoint"));
    tbrPoint->setIconSize(QSize(20, 20));
    tbrPoint->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    lay->addWidget(tbrPoint);
    fgPoint = new platform::FlexGrid(this);
    fgPoint->setObjectName(QStringLiteral("fgPoint"));
    fgPoint->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lay->addWidget(fgPoint, 1);

    txtModify = new QLineEdit(this);
    txtModify->setObjectName(QStringLiteral("txtModify"));
    txtModify->hide();
    txtModify->installEventFilter(this);

    popModify = new QMenu(this);
    popModify->setObjectName(QStringLiteral("popModify"));
    mnuModify = popModify->addAction(QStringLiteral("修改"));
    mnuModify->setObjectName(QStringLiteral("mnuModify"));
    connect(mnuModify, &QAction::triggered, this, [this] { mnuModify_Click(); });
    popFee = new QMenu(this);
    popFee->setObjectName(QStringLiteral("popFee"));
    mnuFeeDetail = popFee->addAction(QStringLiteral("查看年月话费"));
    mnuFeeDetail->setObjectName(QStringLiteral("mnuFeeDetail"));
    connect(mnuFeeDetail, &QAction::triggered, this, [this] { mnuFeeDetail_Click(); });

    fgPoint->installEventFilter(this);
    fgPoint->viewport()->installEventFilter(this);
    connect(tbrPoint, &QToolBar::actionTriggered, this, [this](QAction* a) { tbrPoint_ButtonClick(a->data().toString()); });

    Form_Load();
}

frmTerminal::~frmTerminal() {
    if (g_instance == this) g_instance = nullptr;
}

void frmTerminal::Form_Load() {
    tbrAdd(QStringLiteral("Save"), QStringLiteral("保存"), 5);
    tbrAdd(QStringLiteral("Add"), QStringLiteral("增加"), 6);
    tbrAdd(QStringLiteral("Delete"), QStringLiteral("删除"), 7);
    tbrAdd(QStringLiteral("Find"), QStringLiteral("查找"), 8);
    tbrAdd(QStringLiteral("Print"), QStringLiteral("打印"), 9);
    tbrAdd(QStringLiteral("Exit"), QStringLiteral("退出"), 11);

    fgPoint->setFixedRows(1);
    fgPoint->setFormatString(kFormat);
    fgPoint->setRows(2);
    db_ = admin::TerminalDatabase(&ownDb_);
    platform::Recordset rs = db_.query(QStringLiteral("select * from terminal order by pointid"));
    QList<QStringList> rows;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QString name = rs.str(QStringLiteral("pointname"));
        if (admin::IsSiteRow(name)) {
            QStringList cells;
            for (int c = 0; c < 9; ++c) cells << rs.str(QLatin1String(kColumns[c]));
            rows << cells;
        } else {
            // A site whose directory is gone (removed by hand) is no site any
            // more, nor is a row naming ".", "..", "Backup" or a place outside
            // the data directory (foreign data): its row goes, no directory is
            // touched. A name the rule for new names would refuse is still a site.
            db_.execute(QStringLiteral("delete from terminal where pointid=?"), {rs.lng(QStringLiteral("pointid"))});
        }
    }
    rs.close();
    if (!rows.isEmpty()) fgPoint->setRows(1 + rows.size());
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < 9; ++c) fgPoint->setTextMatrix(r + 1, c, rows[r][c]);
    fgPoint->setRow(1);
    fgPoint->setCol(0);
}

QAction* frmTerminal::tbrAdd(const QString& key, const QString& tip, int image, int style) {
    (void)style;
    QAction* a = tbrPoint->addAction(ModSwitch::ToolImage(image), tip);
    a->setObjectName(key);
    a->setData(key);
    a->setToolTip(tip);
    tbrPoint->addSeparator();
    return a;
}

bool frmTerminal::noSite() const { return fgPoint->TextMatrix(1, 0).isEmpty(); }

QVariant frmTerminal::storedName(const QString& id) const {
    if (id.isEmpty()) return {};
    platform::Recordset rs =
        db_.query(QStringLiteral("select pointname from terminal where pointid=?"), {id.toInt()});
    if (rs.eof()) return {};
    return QVariant(rs.str(QStringLiteral("pointname")));
}

// ------------------------------------------------------------------ rows

void frmTerminal::SetRowColor(int row, bool modified) {
    fgPoint->setCellBackColorAt(row, 0, modified ? platform::vbColor(kModifiedColour) : fgPoint->BackColor());
}

bool frmTerminal::RowModified(int row) const {
    return fgPoint->CellBackColorAt(row, 0) == platform::vbColor(kModifiedColour);
}

void frmTerminal::removeGridRow(int r) {
    if (fgPoint->Rows() > 2) {
        fgPoint->RemoveItem(r);
    } else {
        for (int c = 0; c < fgPoint->Cols(); ++c) fgPoint->setTextMatrix(r, c, QString());
        SetRowColor(r, false);
    }
}

// ------------------------------------------------------------------ editing

void frmTerminal::StartEdit() {
    if (EditorVisible() || m_Busy) return;
    const int col = fgPoint->Col();
    if (col == 0 || col == 5 || noSite()) return;
    m_EditCol = col;
    int c1 = 0, c2 = 0;
    ModGeneral::GetGridSel(*fgPoint, false, c1, c2);
    if (GridSelFirst < 1) GridSelFirst = 1;
    if (GridSelLast < GridSelFirst) GridSelLast = GridSelFirst;
    if (col == 1) {
        // A name is one site's own; the site in use keeps its directory's name.
        GridSelLast = GridSelFirst;
        const QString name = fgPoint->TextMatrix(GridSelFirst, 1);
        if (name == QStringLiteral("默认") || admin::IsSiteInUse(name)) return;
    }
    SetBox();
}

void frmTerminal::SetBox() {
    const int row = qMax(1, GridSelFirst);
    const QRect cell = fgPoint->visualRect(fgPoint->model()->index(row, m_EditCol));
    const QPoint at = fgPoint->viewport()->mapTo(this, cell.topLeft());
    txtModify->setGeometry(at.x() - 2, at.y() - 3, qMax(cell.width(), 40),
                           qMax(cell.height(), txtModify->sizeHint().height()));
    txtModify->setMaxLength(m_EditCol >= 1 && m_EditCol <= 8 ? kSizes[m_EditCol] : 32767);
    txtModify->setText(fgPoint->TextMatrix(row, m_EditCol));
    txtModify->show();
    txtModify->raise();
    txtModify->setFocus();
    ModGeneral::SelectAllText(txtModify);
}

void frmTerminal::fgPoint_DblClick() {
    if (fgPoint->Col() == 5) mnuFeeDetail_Click();
    else StartEdit();
}

void frmTerminal::fgPoint_MouseDown(int button, int row, int col) {
    if (button != 2 || EditorVisible() || col <= 0 || row < 1) return;
    // A click outside the selection makes its cell the current one first.
    const int r1 = qMin(fgPoint->Row(), fgPoint->RowSel()), r2 = qMax(fgPoint->Row(), fgPoint->RowSel());
    const int c1 = qMin(fgPoint->Col(), fgPoint->ColSel()), c2 = qMax(fgPoint->Col(), fgPoint->ColSel());
    if (row < r1 || row > r2 || col < c1 || col > c2) {
        fgPoint->setRow(row);
        fgPoint->setCol(col);
        fgPoint->setRowSel(row);
        fgPoint->setColSel(col);
    }
    popup(col == 5 ? popFee : popModify);
}

void frmTerminal::popup(QMenu* menu) {
    if (g_popupRunner) g_popupRunner(menu);
    else menu->exec(QCursor::pos());
}

void frmTerminal::mnuModify_Click() { StartEdit(); }

void frmTerminal::mnuFeeDetail_Click() {
    const QString id = fgPoint->TextMatrix(fgPoint->Row(), 0);
    if (id.isEmpty()) return;
    // The archives are in the directory of the name stored, whatever the grid shows unsaved.
    const QVariant stored = storedName(id);
    billing::frmFeeDetail::ShowDetail(stored.isNull() ? fgPoint->TextMatrix(fgPoint->Row(), 1) : stored.toString());
}

void frmTerminal::txtModify_LostFocus() {
    if (txtModify->isHidden() || m_Committing) return;
    m_Committing = true;
    const QString text = txtModify->text();
    const int col = m_EditCol;
    auto close = [this] {
        txtModify->hide();
        m_Committing = false;
        fgPoint->setFocus();
    };
    if (col == 1) {
        const int r = qMax(1, GridSelFirst);
        GridSelLast = r;
        const QString id = fgPoint->TextMatrix(r, 0);
        const QString stored = storedName(id).toString();
        const QString refusal = admin::SiteNameRefusal(text, stored);
        if (refusal == kAskName) {
            say(kAskName);
            m_Committing = false;
            txtModify->show();
            txtModify->setFocus();
            return;
        }
        if (text != fgPoint->TextMatrix(r, 1)) {
            const QVariant other = db_.scalar(
                QStringLiteral("select pointid from terminal where pointid<>? and lower(pointname)=lower(?)"),
                {id.toInt(), text});
            if (!other.isNull()) {
                say(QStringLiteral("数据库中已存在此站点") + text);
                return close();
            }
            for (int i = 1; i < fgPoint->Rows(); ++i) {
                if (i != r && fgPoint->TextMatrix(i, 1).compare(text, Qt::CaseInsensitive) == 0) {
                    say(text + QStringLiteral("站点已存在"));
                    return close();
                }
            }
            if (!refusal.isEmpty()) {
                say(refusal);
                return close();
            }
        }
    }
    for (int r = qMax(1, GridSelFirst); r <= GridSelLast && r < fgPoint->Rows(); ++r) {
        if (fgPoint->TextMatrix(r, col) == text) continue;
        fgPoint->setTextMatrix(r, col, text);
        SetRowColor(r, true);
        m_Modified = true;
    }
    fgPoint->setCol(col);
    close();
}

// ------------------------------------------------------------------ toolbar

void frmTerminal::tbrPoint_ButtonClick(const QString& key) {
    if (m_Busy) return;
    if (EditorVisible()) {
        txtModify_LostFocus();
        return;
    }
    try {
        if (key == QLatin1String("Add")) {
            addRow();
        } else if (key == QLatin1String("Save")) {
            Save();
        } else if (key == QLatin1String("Delete")) {
            Delete();
        } else if (key == QLatin1String("Print")) {
            printing::PrintGrid(*fgPoint, windowTitle(), true);
        } else if (key == QLatin1String("Find")) {
            frmFind::instance().FindItem(fgPoint);
        } else if (key == QLatin1String("Exit")) {
            close();
            return;
        }
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const ActionError& e) {
        say(QStringLiteral("操作错误,") + e.text);
    } catch (const platform::DbError& e) {
        say(QStringLiteral("操作错误,") + platform::OperatorText(e));
    } catch (const std::exception& e) {
        say(QStringLiteral("操作错误,") + platform::OperatorText(e));
    }
    core::SetConsoleEnabled(true);
}

void frmTerminal::addRow() {
    // The list is in number order: the last row's number and one.
    const QString last = fgPoint->TextMatrix(fgPoint->Rows() - 1, 0);
    const int next = last.isEmpty() ? 1 : last.toInt() + 1;
    if (next > 32767) throw ActionError(QStringLiteral("站点编号超出范围"));
    QStringList cells{QString::number(next), {}, {}, {}, {}, QStringLiteral("年月话费"), {}, {}, {}};
    if (noSite() && fgPoint->Rows() == 2) {
        for (int c = 0; c < 9; ++c) fgPoint->setTextMatrix(1, c, cells[c]);
    } else {
        fgPoint->setRows(fgPoint->Rows() + 1);
        for (int c = 0; c < 9; ++c) fgPoint->setTextMatrix(fgPoint->Rows() - 1, c, cells[c]);
    }
    const int r = fgPoint->Rows() - 1;
    fgPoint->setRow(r);
    fgPoint->setRowSel(r);
    fgPoint->setCol(1);
    fgPoint->setColSel(1);
    fgPoint->setTopRow(r);
    StartEdit();
}

void frmTerminal::Save() {
    // Creating a directory copies step by step and lets events in meanwhile:
    // no second action and no close may start then.
    m_Busy = true;
    setEnabled(false);
    struct Done {
        frmTerminal* w;
        ~Done() {
            w->m_Busy = false;
            w->setEnabled(true);
        }
    } done{this};
    QList<platform::ColumnInfo> cols = db_.columns(QStringLiteral("terminal"));
    auto cut = [&](int c, const QString& text) {
        const int size = c < cols.size() && cols[c].size > 0 ? cols[c].size : kSizes[c];
        return size > 0 ? text.left(size) : text;
    };
    for (int r = 1; r < fgPoint->Rows();) {
        if (!RowModified(r)) {
            ++r;
            continue;
        }
        const QString id = fgPoint->TextMatrix(r, 0);
        const QString name = fgPoint->TextMatrix(r, 1);
        if (name.isEmpty()) {
            // A row never named is no site: it goes without touching any directory.
            if (fgPoint->Rows() > 2) {
                fgPoint->RemoveItem(r);
                continue;
            }
            removeGridRow(r);
            ++r;
            continue;
        }
        platform::Params values;
        values << id.toInt();
        for (int c = 1; c < 9; ++c) values << cut(c, fgPoint->TextMatrix(r, c));
        const QVariant stored = storedName(id);
        if (stored.isNull()) {
            QString error;
            if (!admin::AddSiteDirectory(name, db_, &error)) throw ActionError(error);
            try {
                db_.execute(QStringLiteral("insert into terminal(PointID,PointName,OwnerName,Telephone,Address,FeeDetail,"
                                           "Model,Capacity,Summary) values(?,?,?,?,?,?,?,?,?)"),
                            values);
            } catch (const platform::DbError&) {
                // The directory goes with the row that could not be stored.
                QString ignored;
                admin::DeleteSiteDirectory(admin::RootDataDir() + name, &ignored);
                throw;
            }
        } else {
            const QString old = stored.toString();
            const bool rename = old != name;
            QString error;
            if (rename && !admin::RenameSiteDirectory(old, name, &error)) throw ActionError(error);
            try {
                values.removeFirst();
                values << id.toInt();
                db_.execute(QStringLiteral("update terminal set PointName=?,OwnerName=?,Telephone=?,Address=?,FeeDetail=?,"
                                           "Model=?,Capacity=?,Summary=? where PointID=?"),
                            values);
            } catch (const platform::DbError&) {
                if (rename) admin::RenameSiteDirectory(name, old, &error);
                throw;
            }
        }
        SetRowColor(r, false);
        ++r;
    }
    m_Modified = false;
}

void frmTerminal::Delete() {
    if (noSite()) return;
    int c1 = 0, c2 = 0;
    ModGeneral::GetGridSel(*fgPoint, false, c1, c2);
    if (GridSelFirst < 1) GridSelFirst = 1;
    if (GridSelLast >= fgPoint->Rows()) GridSelLast = fgPoint->Rows() - 1;
    if (GridSelLast < GridSelFirst) return;
    const int first = GridSelFirst, last = GridSelLast;
    const QString question = QStringLiteral("真的要删除第%1条到第%2条共%3条记录吗?").arg(first).arg(last).arg(last - first + 1);
    if (platform::MsgBox(question, platform::mbYesNo | platform::mbExclamation, AppName) != platform::rYes) return;
    QStringList partly, leftovers;
    for (int r = last; r >= first; --r) {
        const QString id = fgPoint->TextMatrix(r, 0);
        const QVariant stored = storedName(id);
        const QString name = stored.isNull() ? fgPoint->TextMatrix(r, 1) : stored.toString();
        // The site in use stays, without a word.
        if (!name.isEmpty() && admin::IsSiteInUse(name)) continue;
        // The deletion stops at a site that could not go: it and the rows above it stay.
        auto stopped = [&](const QString& error) {
            QStringList left;
            for (int k = first; k <= r; ++k)
                if (!fgPoint->TextMatrix(k, 1).isEmpty()) left << fgPoint->TextMatrix(k, 1);
            QString text = error + QStringLiteral("\n以下站点未删除:") + left.join(QLatin1Char(','));
            if (!partly.isEmpty())
                text += QStringLiteral("\n以下站点已删除,其目录未能清除:") + partly.join(QLatin1Char(',')) + QLatin1Char('\n') +
                        leftovers.join(QLatin1Char('\n'));
            return ActionError(text);
        };
        if (!stored.isNull()) {
            // The site's directory leaves its name in one step before anything
            // in it is removed, so a site is either whole or gone.
            QString aside, error;
            const QString path = admin::RootDataDir() + name;
            if (!name.isEmpty() && !admin::MoveSiteDirectoryAside(path, &aside, &error)) throw stopped(error);
            try {
                db_.execute(QStringLiteral("delete from terminal where pointid=?"), {id.toInt()});
            } catch (const platform::DbError& e) {
                admin::PutSiteDirectoryBack(aside, path);
                throw stopped(platform::OperatorText(e));
            }
            if (!admin::RemoveSiteDirectoryAside(aside, &error)) {
                partly << name;
                leftovers << error;
            }
        }
        removeGridRow(r);
    }
    if (!partly.isEmpty())
        throw ActionError(QStringLiteral("以下站点已删除,其目录未能清除:") + partly.join(QLatin1Char(',')) + QLatin1Char('\n') +
                          leftovers.join(QLatin1Char('\n')));
}

// ------------------------------------------------------------------ directories

bool frmTerminal::AddPoint(const QString& name) {
    QString error;
    return admin::AddSiteDirectory(name, db_, &error);
}

bool frmTerminal::CopyFileto(const QString& folder, const QString& fileName) {
    QString error;
    return admin::CopyFileTo(folder, fileName, db_, &error);
}

bool frmTerminal::DeleteDirectory(const QString& path) {
    QString error;
    bool existed = false;
    return admin::DeleteSiteDirectory(path, &error, &existed) && existed;
}

// ------------------------------------------------------------------ events

bool frmTerminal::eventFilter(QObject* o, QEvent* e) {
    if (o == fgPoint->viewport()) {
        if (e->type() == QEvent::MouseButtonPress) {
            auto* me = static_cast<QMouseEvent*>(e);
            if (EditorVisible()) return true;
            if (me->button() == Qt::RightButton) {
                const QPoint p = me->position().toPoint();
                fgPoint_MouseDown(2, fgPoint->rowAt(p.y()), fgPoint->columnAt(p.x()));
                return true;
            }
        } else if (e->type() == QEvent::MouseButtonDblClick) {
            fgPoint_DblClick();
            return true;
        }
    } else if (o == fgPoint && e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            StartEdit();
            return true;
        }
    } else if (o == txtModify) {
        if (e->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(e);
            if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
                txtModify_LostFocus();
                return true;
            }
            // Only ".", digits, letters and Chinese are typed; control keys pass.
            const QString t = k->text();
            if (!t.isEmpty() && t.at(0).isPrint())
                for (const QChar c : t)
                    if (!admin::SiteNameChar(c)) return true;
        } else if (e->type() == QEvent::FocusOut) {
            txtModify_LostFocus();
        }
    }
    return QWidget::eventFilter(o, e);
}

void frmTerminal::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Form_Resize();
}

void frmTerminal::Form_Resize() {
    if (isMinimized()) return;
    // The layout keeps the grid under the toolbar; an open editor would float off its cell.
    if (EditorVisible() && !m_Committing) SetBox();
}

void frmTerminal::closeEvent(QCloseEvent* e) {
    if (m_Busy) {
        e->ignore();
        return;
    }
    if (EditorVisible()) {
        // A name that is none (a new row left unnamed) goes with the window unasked.
        const bool noName = m_EditCol == 1 &&
                            admin::SiteNameRefusal(txtModify->text(), storedName(fgPoint->TextMatrix(GridSelFirst, 0)).toString()) ==
                                kAskName;
        if (!noName) txtModify_LostFocus();
        txtModify->hide();
        m_Committing = false;
    }
    if (m_Modified &&
        platform::MsgBox(QStringLiteral("你已修改了数据,要保存吗"), platform::mbYesNo | platform::mbQuestion, AppName) ==
            platform::rYes) {
        try {
            Save();
        } catch (const platform::ProgramEnded&) {
            throw;
        } catch (const ActionError& ex) {
            say(QStringLiteral("操作错误,") + ex.text);
        } catch (const platform::DbError& ex) {
            say(QStringLiteral("操作错误,") + platform::OperatorText(ex));
        }
    }
    if (ownDb_) db_.close();
    db_ = platform::Database();
    e->accept();
    if (core::Console* c = core::TheConsole()) {
        if (QWidget* w = c->ConsoleWidget()) {
            w->window()->show();
            w->window()->activateWindow();
        }
    }
    if (g_instance == this) g_instance = nullptr;
    // Until it is deleted the closed window is no site window for anyone looking one up.
    setObjectName(QString());
}
