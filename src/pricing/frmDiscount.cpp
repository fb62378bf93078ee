#include "pricing/frmDiscount.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/OpLog.h"
#include "platform/Db.h"
#include "platform/GridText.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "pricing/RateCache.h"
#include "pricing/TariffEdit.h"

#include <QCloseEvent>
#include <QDate>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace pricing {

namespace {

frmDiscount* g_instance = nullptr;

constexpr int kRight = 16;
const QChar kTab(9);

void say(const QString& text) { platform::MsgBox(text, platform::mbOKOnly, AppName); }

QString nodeKey(const QTreeWidgetItem* n) { return n ? n->data(0, Qt::UserRole).toString() : QString(); }

// A stored holiday ("MM-dd", or a full date) as the grid shows it: "m-d".
QString dateShown(const QString& stored) {
    const QString d = stored.trimmed().section(QLatin1Char(' '), 0, 0);
    const QStringList parts = d.split(QLatin1Char('-'));
    bool okM = false, okD = false;
    const int m = parts.size() >= 2 ? parts[parts.size() - 2].toInt(&okM) : 0;
    const int dd = parts.size() >= 2 ? parts.last().toInt(&okD) : 0;
    if (!okM || !okD) return stored;
    return QStringLiteral("%1-%2").arg(m).arg(dd);
}

// A stored time of day ("HH:mm:ss", possibly after a date) as the grid shows it: "H:mm:ss".
QString timeShown(const QString& stored) {
    const QString t = stored.trimmed().section(QLatin1Char(' '), -1);
    const QTime tm = SegmentTime(t);
    return tm.isValid() ? tm.toString(QStringLiteral("H:mm:ss")) : t;
}

qint32 cellSeconds(const QString& cell) {
    const QTime t = SegmentTime(cell.trimmed());
    return t.isValid() ? ModGeneral::TimeToSec(t) : 0;
}

int cellPercent(const QString& cell) {
    const int p = DiscountPercent(cell);
    return p >= 0 ? p : qBound(0, cell.trimmed().toInt(), 100);
}

QString defaultSegmentLine() {
    return QString() + kTab + QStringLiteral("0:00:00") + kTab + QStringLiteral("0:00:00") + kTab +
           QStringLiteral("100") + kTab + QStringLiteral("100");
}

}  // namespace

// ------------------------------------------------------------------ recognisers

QString HolidayDate(const QString& typed) {
    static const QRegularExpression re(QStringLiteral("^([0-9]{1,2})-([0-9]{1,2})$"));
    const auto m = re.match(typed);
    if (!m.hasMatch()) return {};
    const int month = m.captured(1).toInt(), day = m.captured(2).toInt();
    // A leap year, so that 2-29 is a day like any other: the year never counts.
    if (!QDate(2000, month, day).isValid()) return {};
    return QStringLiteral("%1-%2").arg(month, 2, 10, QLatin1Char('0')).arg(day, 2, 10, QLatin1Char('0'));
}

QTime SegmentTime(const QString& typed) {
    static const QRegularExpression re(QStringLiteral("^([0-9]{1,2}):([0-9]{2})(?::([0-9]{2}))?$"));
    const auto m = re.match(typed);
    if (!m.hasMatch()) return {};
    const int h = m.captured(1).toInt(), mi = m.captured(2).toInt();
    const int s = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
    if (h > 23 || mi > 59 || s > 59) return {};
    return QTime(h, mi, s);
}

int DiscountPercent(const QString& typed) {
    static const QRegularExpression re(QStringLiteral("^\\s*([+-]?)([0-9]*)(?:\\.([0-9]*))?"));
    const auto m = re.match(typed);
    const QString whole = m.captured(2), frac = m.captured(3);
    // A fraction would not fit the whole-number column.
    for (const QChar c : frac)
        if (c != QLatin1Char('0')) return -1;
    QString digits = whole;
    while (digits.size() > 1 && digits.startsWith(QLatin1Char('0'))) digits.remove(0, 1);
    if (digits.isEmpty()) return 0;
    if (digits.size() > 3) return -1;
    const int n = digits.toInt();
    if (n == 0) return 0;
    if (m.captured(1) == QLatin1String("-") || n > 100) return -1;
    return n;
}

// ------------------------------------------------------------------ the window

frmDiscount& frmDiscount::instance() {
    if (!g_instance) {
        g_instance = new frmDiscount;
        g_instance->Form_Load();
    }
    return *g_instance;
}
bool frmDiscount::exists() { return g_instance != nullptr; }
void frmDiscount::unload() {
    if (!g_instance) return;
    g_instance->m_Force = true;
    g_instance->close();
}

void frmDiscount::ShowFromConsole() {
    frmDiscount& f = instance();
    f.show();
    f.raise();
    f.activateWindow();
}

frmDiscount::frmDiscount() : QWidget(nullptr, Qt::Window) {
    setObjectName(QStringLiteral("frmDiscount"));
    setWindowTitle(QStringLiteral("折价设置窗口"));
    resize(platform::px(9800), platform::px(6800));
    setMinimumSize(platform::px(9800), platform::px(6800));

    auto* lay = new QHBoxLayout(this);
    tvwDiscount = new QTreeWidget(this);
    tvwDiscount->setObjectName(QStringLiteral("tvwDiscount"));
    tvwDiscount->setHeaderHidden(true);
    tvwDiscount->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lay->addWidget(tvwDiscount, 1);

    auto* right = new QVBoxLayout;
    fraSet = new QGroupBox(this);
    auto* set = new QGridLayout(fraSet);
    txtDiscount = new QLineEdit(fraSet);
    txtSummary = new QLineEdit(fraSet);
    chkSaturday = new QCheckBox(QStringLiteral("周六折价"), fraSet);
    chkSunday = new QCheckBox(QStringLiteral("周日折价"), fraSet);
    set->addWidget(new QLabel(QStringLiteral("折价名称"), fraSet), 0, 0);
    set->addWidget(txtDiscount, 0, 1);
    set->addWidget(chkSaturday, 0, 2);
    set->addWidget(new QLabel(QStringLiteral("折价说明"), fraSet), 1, 0);
    set->addWidget(txtSummary, 1, 1);
    set->addWidget(chkSunday, 1, 2);
    right->addWidget(fraSet);

    const QString tip = QStringLiteral("按<Enter>键增加一行,按<Del>键删除一行");
    auto makeGrid = [&](QGroupBox*& frame, platform::FlexGrid*& grid, const QString& caption, const QString& format,
                        const char* name) {
        frame = new QGroupBox(caption, this);
        auto* fl = new QVBoxLayout(frame);
        grid = new platform::FlexGrid(frame);
        grid->setObjectName(QString::fromLatin1(name));
        grid->setFixedRows(1);
        grid->setFormatString(format);
        grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
        grid->setToolTip(tip);
        grid->installEventFilter(this);
        grid->viewport()->installEventFilter(this);
        fl->addWidget(grid);
    };
    makeGrid(fraDate, fgDate, QStringLiteral("折价日期设置"),
             QStringLiteral(">节假日期") + QString(9, QLatin1Char(' ')) + QStringLiteral("|备注") +
                 QString(35, QLatin1Char(' ')),
             "fgDate");
    makeGrid(fraTimes, fgTimes, QStringLiteral("折价时段设置"),
             QStringLiteral("时段序号|>开始时间  |>结束时间   |普通折价率(%)|节假日折价率(%)"), "fgTimes");
    right->addWidget(fraDate, 1);
    right->addWidget(fraTimes, 1);

    auto* cmdRow = new QHBoxLayout;
    cmdRow->addStretch();
    for (int i = 0; i < 2; ++i) {
        auto* b = new QPushButton(i == 0 ? QStringLiteral("增加") : QStringLiteral("保存"), this);
        connect(b, &QPushButton::clicked, this, [this, i] { cmdSave_Click(i); });
        cmdRow->addWidget(b);
        cmdSave << b;
    }
    cmdDelete = new QPushButton(QStringLiteral("删除"), this);
    connect(cmdDelete, &QPushButton::clicked, this, [this] { cmdDelete_Click(); });
    cmdRow->addWidget(cmdDelete);
    cmdExit = new QPushButton(QStringLiteral("关闭"), this);
    connect(cmdExit, &QPushButton::clicked, this, [this] { cmdExit_Click(); });
    cmdRow->addWidget(cmdExit);
    right->addLayout(cmdRow);
    lay->addLayout(right, 3);

    txtModify = new QLineEdit(this);
    txtModify->hide();
    txtModify->installEventFilter(this);

    // Only what the operator does counts as a change; filling the controls
    // while a scheme is shown does not.
    connect(txtDiscount, &QLineEdit::textEdited, this, [this] { m_Modified = true; });
    connect(txtSummary, &QLineEdit::textEdited, this, [this] { m_Modified = true; });
    connect(chkSaturday, &QCheckBox::clicked, this, [this] { m_Modified = true; });
    connect(chkSunday, &QCheckBox::clicked, this, [this] { m_Modified = true; });
    connect(tvwDiscount, &QTreeWidget::currentItemChanged, this, [this] {
        if (!m_Selecting) tvwDiscount_Click();
    });
}

QTreeWidgetItem* frmDiscount::node(const QString& key) const {
    QTreeWidgetItem* root = tvwDiscount->topLevelItemCount() ? tvwDiscount->topLevelItem(0) : nullptr;
    if (!root) return nullptr;
    if (nodeKey(root) == key) return root;
    for (int i = 0; i < root->childCount(); ++i)
        if (nodeKey(root->child(i)) == key) return root->child(i);
    return nullptr;
}

void frmDiscount::selectNode(QTreeWidgetItem* n) {
    m_Selecting = true;
    tvwDiscount->setCurrentItem(n);
    m_Selecting = false;
}

void frmDiscount::Form_Load() {
    auto* root = new QTreeWidgetItem(tvwDiscount, QStringList(QStringLiteral("折价名称")));
    root->setData(0, Qt::UserRole, QStringLiteral("K0"));
    platform::Recordset rs =
        dbSwitch.query(QStringLiteral("select discountid,discountname from discount order by discountid"));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        auto* n = new QTreeWidgetItem(root, QStringList(rs.str("discountname")));
        n->setData(0, Qt::UserRole, QStringLiteral("K%1").arg(rs.lng("discountid")));
    }
    root->setExpanded(true);
    // Scheme 1 always exists; should it not, the first scheme, else the root.
    QTreeWidgetItem* first = node(QStringLiteral("K1"));
    if (!first) first = root->childCount() ? root->child(0) : root;
    selectNode(first);
    showScheme();
}

// ------------------------------------------------------------------ showing

void frmDiscount::tvwDiscount_Click() {
    if (!txtModify->isHidden()) {
        txtModify_LostFocus();
        // A refused value is dropped; the cell keeps what it had.
        txtModify->hide();
    }
    const int shown = m_DiscountID;
    if (!ShowMsg()) {
        // The changed scheme could not be saved: it stays on the screen, changes and all.
        if (QTreeWidgetItem* n = node(QStringLiteral("K%1").arg(shown))) selectNode(n);
        return;
    }
    showScheme();
}

void frmDiscount::showScheme() {
    txtModify->hide();
    QTreeWidgetItem* cur = tvwDiscount->currentItem();
    m_DiscountID = nodeKey(cur).mid(1).toInt();
    cmdDelete->setEnabled(m_DiscountID >= 2);

    fgDate->setRedraw(false);
    fgDate->setRows(1);
    platform::Recordset dates = dbSwitch.query(
        QStringLiteral("select discountdate,summary from discountdate where discountid=? order by rowid"), {m_DiscountID});
    for (dates.moveFirst(); !dates.eof(); dates.moveNext())
        fgDate->AddItem(platform::GridLine({dateShown(dates.str("discountdate")), dates.str("summary")}));
    fgDate->AddItem(QString());
    fgDate->setRedraw(true);

    fgTimes->setRedraw(false);
    fgTimes->setRows(1);
    platform::Recordset times = dbSwitch.query(
        QStringLiteral("select position,starttime,endtime,normaldiscount,holidaydiscount from discounttimes "
                       "where discountid=? order by position"),
        {m_DiscountID});
    for (times.moveFirst(); !times.eof(); times.moveNext())
        fgTimes->AddItem(platform::GridLine({times.str("position"), timeShown(times.str("starttime")),
                                             timeShown(times.str("endtime")), QString::number(times.lng("normaldiscount")),
                                             QString::number(times.lng("holidaydiscount"))}));
    // Every list ends with the segment that catches the rest of the day.
    fgTimes->AddItem(defaultSegmentLine());
    fgTimes->setRedraw(true);
    fgDate->setRow(1);
    fgTimes->setRow(1);

    if (m_DiscountID == 0) {
        txtDiscount->clear();
        txtSummary->clear();
    } else {
        platform::Recordset rs =
            dbSwitch.query(QStringLiteral("select * from discount where discountid=?"), {m_DiscountID});
        if (!rs.eof()) {
            chkSaturday->setChecked(rs.lng("saturdaydiscount") != 0);
            chkSunday->setChecked(rs.lng("sundaydiscount") != 0);
            txtDiscount->setText(rs.str("discountname"));
            txtSummary->setText(rs.str("summary"));
        } else {
            txtDiscount->clear();
            txtSummary->clear();
        }
    }
    fraSet->setTitle(m_DiscountID == 0 ? QStringLiteral("没有选择折价名称")
                                       : (cur ? cur->text(0) : QString()) + QStringLiteral(" 折价设置"));
    m_Modified = false;
}

// ------------------------------------------------------------------ saving

bool frmDiscount::ShowMsg() {
    if (!m_Modified) return true;
    if (platform::MsgBox(QStringLiteral("参数已经改变，要保存吗?"), platform::mbYesNo, AppName) != platform::rYes) {
        m_Modified = false;
        return true;
    }
    return save(1);
}

void frmDiscount::cmdSave_Click(int index) { save(index); }

bool frmDiscount::save(int index) {
    if (!txtModify->isHidden()) {
        txtModify_LostFocus();
        if (!txtModify->isHidden()) return false;   // the refused value is still in the editor
    }
    const bool wasModified = m_Modified;
    m_Modified = false;
    // Whatever stops the save keeps the changes marked, so that leaving still asks.
    auto refused = [&] {
        m_Modified = wasModified;
        return false;
    };
    const QString name = txtDiscount->text();
    const QString summary = txtSummary->text();
    // New fee rates find their scheme by name: two schemes never share one.
    // The default scheme's save never writes its name, so whatever its name
    // box holds cannot clash.
    const bool writesName = index == 0 || m_DiscountID != 1;
    const QVariant clash =
        index == 0 ? dbSwitch.scalar(QStringLiteral("select count(*) from discount where discountname=?"), {name})
                   : dbSwitch.scalar(
                         QStringLiteral("select count(*) from discount where discountname=? and discountid<>?"),
                         {name, m_DiscountID});
    if (writesName && clash.toInt() > 0) {
        say(name + QStringLiteral(" 折价名称已存在"));
        txtDiscount->setFocus();
        return refused();
    }
    if (ModGeneral::CheckRight(kRight, ModGeneral::kRightMessage)) return refused();
    if (index == 1 && m_DiscountID == 0) return true;

    // The segments up to the first that runs past midnight; a segment below it
    // would never be reached, so the operator decides before anything is written.
    // Rows that only repeat the default segment, which every list ends with,
    // lose nothing when dropped.
    const int rows = fgTimes->Rows();
    int lastSeg = rows - 1;
    for (int r = 1; r < rows; ++r) {
        if (cellSeconds(fgTimes->TextMatrix(r, 1)) >= cellSeconds(fgTimes->TextMatrix(r, 2))) {
            lastSeg = r;
            break;
        }
    }
    bool dropsSegment = false;
    for (int r = lastSeg + 1; r < rows; ++r) {
        QStringList cells;
        for (int c = 1; c < 5; ++c) cells << fgTimes->TextMatrix(r, c);
        if (cellSeconds(cells[0]) != 0 || cellSeconds(cells[1]) != 0 || cellPercent(cells[2]) != 100 ||
            cellPercent(cells[3]) != 100)
            dropsSegment = true;
    }
    if (dropsSegment &&
        platform::MsgBox(QStringLiteral("第%1行以后的时段将不被保存,要保存吗?").arg(lastSeg), platform::mbYesNo, AppName) !=
            platform::rYes)
        return refused();

    const int sat = chkSaturday->isChecked() ? 1 : 0;
    const int sun = chkSunday->isChecked() ? 1 : 0;
    int id = m_DiscountID;
    try {
        platform::Transaction tx(dbSwitch);
        if (index == 1) {
            // The default scheme keeps its name and remark.
            if (id != 1)
                dbSwitch.execute(QStringLiteral("update discount set discountname=?,summary=? where discountid=?"),
                                 {name, summary, id});
            dbSwitch.execute(QStringLiteral("update discount set saturdaydiscount=?,sundaydiscount=? where discountid=?"),
                             {sat, sun, id});
        } else {
            // The first gap in 1, 2, 3, ..., else one past the last.
            platform::Recordset ids =
                dbSwitch.query(QStringLiteral("select discountid from discount order by discountid"));
            id = 1;
            for (ids.moveFirst(); !ids.eof() && ids.lng("discountid") == id; ids.moveNext()) ++id;
            dbSwitch.execute(QStringLiteral("insert into discount values(?,?,?,?,?)"), {id, name, sat, sun, summary});
        }
        dbSwitch.execute(QStringLiteral("delete from discountdate where discountid=?"), {id});
        for (int r = 1; r < fgDate->Rows(); ++r) {
            const QString d = HolidayDate(fgDate->TextMatrix(r, 0).trimmed());
            if (d.isEmpty()) continue;
            dbSwitch.execute(QStringLiteral("insert into discountdate values(?,?,?)"), {id, d, fgDate->TextMatrix(r, 1)});
        }
        dbSwitch.execute(QStringLiteral("delete from discounttimes where discountid=?"), {id});
        for (int r = 1; r <= lastSeg; ++r) {
            const QTime s = ModGeneral::StrToTime(cellSeconds(fgTimes->TextMatrix(r, 1)));
            const QTime e = ModGeneral::StrToTime(cellSeconds(fgTimes->TextMatrix(r, 2)));
            dbSwitch.execute(QStringLiteral("insert into discounttimes values(?,?,?,?,?,?)"),
                             {id, r, s.toString(QStringLiteral("HH:mm:ss")), e.toString(QStringLiteral("HH:mm:ss")),
                              cellPercent(fgTimes->TextMatrix(r, 3)), cellPercent(fgTimes->TextMatrix(r, 4))});
        }
        tx.commit();
    } catch (const platform::DbError& e) {
        // Rolled back: the scheme is as it was, the window keeps the changes.
        say(QStringLiteral("保存失败: ") + platform::OperatorText(e));
        return refused();
    }

    if (index == 1) {
        if (id != 1)
            if (QTreeWidgetItem* n = node(QStringLiteral("K%1").arg(id))) n->setText(0, name);
    } else {
        auto* n = new QTreeWidgetItem(node(QStringLiteral("K0")), QStringList(name));
        n->setData(0, Qt::UserRole, QStringLiteral("K%1").arg(id));
        m_DiscountID = id;
    }
    // Adding while the default scheme is shown keeps it shown; otherwise the
    // saved or added scheme is shown.
    if (nodeKey(tvwDiscount->currentItem()) != QLatin1String("K1")) {
        if (QTreeWidgetItem* n = node(QStringLiteral("K%1").arg(m_DiscountID))) {
            selectNode(n);
            if (m_DiscountID != 1) n->setText(0, name);
        }
    }
    showScheme();
    return true;
}

// ------------------------------------------------------------------ deleting

void frmDiscount::cmdDelete_Click() {
    if (m_DiscountID < 2) {
        cmdDelete->setEnabled(false);
        return;
    }
    if (ModGeneral::CheckRight(kRight, ModGeneral::kRightMessage)) return;
    const int id = m_DiscountID;
    const bool used =
        !dbSwitch.scalar(QStringLiteral("select discountid from feerate where discountid=? limit 1"), {id}).isNull() ||
        !dbSwitch.scalar(QStringLiteral("select discountid from iphead where discountid=? limit 1"), {id}).isNull();
    QTreeWidgetItem* n = node(QStringLiteral("K%1").arg(id));
    if (used && platform::MsgBox(QStringLiteral("折价名称<") + (n ? n->text(0) : QString()) +
                                     QStringLiteral(">已经被使用,真的要删除此折价名称吗?"),
                                 platform::mbYesNo, AppName) != platform::rYes)
        return;
    try {
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute(QStringLiteral("update feerate set discountid=1 where discountid=?"), {id});
        dbSwitch.execute(QStringLiteral("update iphead set discountid=1 where discountid=?"), {id});
        dbSwitch.execute(QStringLiteral("delete from discountdate where discountid=?"), {id});
        dbSwitch.execute(QStringLiteral("delete from discounttimes where discountid=?"), {id});
        dbSwitch.execute(QStringLiteral("delete from discount where discountid=?"), {id});
        tx.commit();
    } catch (const platform::DbError& e) {
        say(QStringLiteral("删除失败: ") + platform::OperatorText(e));
        return;
    }
    if (used) {
        // The pricing's copy of the rates still names the deleted scheme.
        rsFeeRate = dbSwitch.query(QStringLiteral("select * from feerate order by zonecode desc"));
        rsIPHead = dbSwitch.openTable(QStringLiteral("iphead"));
        RateCache::schemeDeleted(id);
    }
    m_Modified = false;
    QTreeWidgetItem* next = node(QStringLiteral("K%1").arg(id - 1));
    if (!next) next = node(QStringLiteral("K1"));
    m_Selecting = true;
    delete n;
    m_Selecting = false;
    if (!next) {
        QTreeWidgetItem* root = node(QStringLiteral("K0"));
        next = root && root->childCount() ? root->child(0) : root;
    }
    selectNode(next);
    showScheme();
}

// ------------------------------------------------------------------ grids

void frmDiscount::fgDate_DblClick() { openEditor(fgDate); }
void frmDiscount::fgTimes_DblClick() { openEditor(fgTimes); }

void frmDiscount::openEditor(platform::FlexGrid* grid) {
    if (!txtModify->isHidden()) return;
    const int r = grid->Row(), c = grid->Col();
    if (r < 1 || r >= grid->Rows() || c < 0 || c >= grid->Cols()) return;
    if (grid == fgTimes && c == 0) return;
    m_EditGrid = grid;
    m_EditRow = r;
    m_EditCol = c;
    const QRect cell = grid->visualRect(grid->model()->index(r, c));
    const QPoint at = grid->viewport()->mapTo(this, cell.topLeft());
    txtModify->setGeometry(at.x(), at.y(), qMax(cell.width(), 40), qMax(cell.height(), txtModify->sizeHint().height()));
    txtModify->setText(grid->TextMatrix(r, c));
    txtModify->show();
    txtModify->raise();
    txtModify->setFocus();
    ModGeneral::SelectAllText(txtModify);
}

void frmDiscount::txtModify_LostFocus() {
    if (txtModify->isHidden() || m_Committing || !m_EditGrid) return;
    m_Committing = true;
    platform::FlexGrid* grid = m_EditGrid;
    const int r = m_EditRow, c = m_EditCol;
    const QString title = grid->TextMatrix(0, c).trimmed();
    const QString old = grid->TextMatrix(r, c);
    const QString typed = txtModify->text();
    QString value = old;
    QString refusal;
    bool changed = false;
    if (title == QStringLiteral("节假日期")) {
        const QString t = typed.trimmed();
        if (t.isEmpty()) {
            value.clear();
        } else if (const QString d = HolidayDate(t); !d.isEmpty()) {
            value = dateShown(d);
        } else {
            refusal = QStringLiteral("请输入正确的日期,格式为月-日(如:5-1)");
        }
        changed = value != old;
    } else if (title == QStringLiteral("备注")) {
        value = typed;
        changed = value != old;
    } else if (title == QStringLiteral("开始时间") || title == QStringLiteral("结束时间")) {
        const QTime t = SegmentTime(typed.trimmed());
        if (t.isValid()) value = t.toString(QStringLiteral("H:mm:ss"));
        else refusal = QStringLiteral("请输入正确的时间,如是:23:59:59");
        changed = value != old;
    } else if (title == QStringLiteral("普通折价率(%)") || title == QStringLiteral("节假日折价率(%)")) {
        const int p = DiscountPercent(typed);
        if (p >= 0) {
            value = QString::number(p);
            changed = DiscountPercent(old) != p;
        } else {
            refusal = QStringLiteral("请输入0-100之间的数");
        }
    }
    if (!refusal.isEmpty()) {
        say(refusal);
        txtModify->setText(old);
        txtModify->setFocus();
        ModGeneral::SelectAllText(txtModify);
        m_Committing = false;
        return;
    }
    if (changed) {
        grid->setTextMatrix(r, c, value);
        m_Modified = true;
    }
    txtModify->hide();
    m_Committing = false;
}

void frmDiscount::fgDate_KeyDown(int key) { gridKey(fgDate, key); }
void frmDiscount::fgTimes_KeyDown(int key) { gridKey(fgTimes, key); }

void frmDiscount::gridKey(platform::FlexGrid* grid, int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        grid->AddItem(grid == fgTimes ? defaultSegmentLine() : QString());
        m_Modified = true;
    } else if (key == Qt::Key_Delete) {
        const int r = grid->Row();
        if (r < 1 || r >= grid->Rows()) return;
        if (grid->Rows() > 2) {
            grid->RemoveItem(r);
            m_Modified = true;
        } else if (grid == fgDate && !(grid->TextMatrix(r, 0).isEmpty() && grid->TextMatrix(r, 1).isEmpty())) {
            // The list keeps one row; the only segment stays as it is.
            grid->setTextMatrix(r, 0, QString());
            grid->setTextMatrix(r, 1, QString());
            m_Modified = true;
        }
    }
}

// ------------------------------------------------------------------ events and closing

bool frmDiscount::eventFilter(QObject* o, QEvent* e) {
    for (platform::FlexGrid* g : {fgDate, fgTimes}) {
        if (o == g->viewport() && e->type() == QEvent::MouseButtonDblClick) {
            openEditor(g);
            return true;
        }
        if (o == g && e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Delete) {
                gridKey(g, key);
                return true;
            }
        }
    }
    bool eat = false;
    if (o == txtModify && CommitsEditor(e, eat)) {
        txtModify_LostFocus();
        if (eat) return true;
    }
    return QWidget::eventFilter(o, e);
}

void frmDiscount::cmdExit_Click() { close(); }

void frmDiscount::Form_Unload() {
    if (core::Console* c = core::TheConsole())
        if (QWidget* w = c->ConsoleWidget()) w->show();
}

void frmDiscount::closeEvent(QCloseEvent* e) {
    if (!m_Force) {
        // Leaving the window leaves the scheme shown: a changed one is offered for saving.
        if (!txtModify->isHidden()) {
            txtModify_LostFocus();
            txtModify->hide();
        }
        if (!ShowMsg()) {
            e->ignore();
            return;
        }
    }
    Form_Unload();
    e->accept();
    if (g_instance == this) g_instance = nullptr;
    deleteLater();
}

}  // namespace pricing
