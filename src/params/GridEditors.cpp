#include "params/GridEditors.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/OpLog.h"
#include "params/CellEdit.h"
#include "params/DialDigits.h"
#include "params/EntryRules.h"
#include "params/OptionLists.h"
#include "params/SavePara.h"
#include "params/ViewSupport.h"
#include "platform/AppExit.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>

namespace ModSwitch {

namespace {

namespace views = params::views;
using platform::FlexGrid;

bool g_checking = false;   // a commit check is running (it may show a box)

QString title(int col) { return views::ConsoleGrid().TextMatrix(0, col).trimmed(); }

bool neverEdited() {
    static const QStringList keys = {"Awake", "Bill", "History", "ExtDepositHistory"};
    return keys.contains(CurTable);
}

bool protectedTitle(const QString& t) {
    return t == QStringLiteral("押金余额") || t == QStringLiteral("押金等级") || t == QStringLiteral("上次结算日期");
}

// The default user (id 0) keeps its id and name.
bool defaultUserCell(const FlexGrid& g, int col) {
    return CurTable == QLatin1String("User") && col <= 1 && g.TextMatrix(GridSelFirst, 0).trimmed() == QLatin1String("0");
}

// Places `editor` over cell (GridSelFirst, GridMouseCol), 30 twips above its top.
void place(QWidget* editor) {
    FlexGrid& g = views::ConsoleGrid();
    if (!editor || GridSelFirst < 0 || GridSelFirst >= g.Rows() || GridMouseCol < 0 || GridMouseCol >= g.Cols()) return;
    const QRect cell = g.visualRect(g.model()->index(GridSelFirst, GridMouseCol));
    QWidget* parent = editor->parentWidget();
    const QPoint at = parent ? g.viewport()->mapTo(parent, cell.topLeft()) : cell.topLeft();
    editor->setGeometry(at.x(), at.y() - platform::px(30), g.columnWidth(GridMouseCol), editor->height());
    editor->raise();
}

void refuseText(QLineEdit* txt, const QString& message) {
    if (!message.isEmpty()) views::StatusText(message);
    GridSelLast = GridSelFirst;
    // A deposit is typed as the amount to add: after a refusal nothing is
    // added yet (the cell's deposit, committed, would be added to itself).
    if (title(GridMouseCol) == QStringLiteral("预付押金")) txt->setText(QStringLiteral("0.00"));
    else txt->setText(views::ConsoleGrid().TextMatrix(GridSelFirst, GridMouseCol));
    txt->setFocus();
}

void commitText(const QString& text) {
    QLineEdit* txt = views::TextEditor();
    txt->setText(text);
    SaveCellEdit(views::ConsoleGrid(), text);
    txt->hide();
}

class EditorEvents : public QObject {
public:
    EditorEvents(QObject* parent, QWidget* grid, QWidget* txt, QWidget* cbo)
        : QObject(parent), grid_(grid), txt_(txt), cbo_(cbo) {}

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        auto* view = qobject_cast<QAbstractItemView*>(grid_);
        const bool onGrid = o == grid_ || (view && o == view->viewport());
        switch (e->type()) {
        case QEvent::MouseButtonDblClick:
            if (onGrid && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
                // The press of the double click has moved the current cell first.
                QTimer::singleShot(0, grid_, [] { guarded(fgDisp_DblClick); });
            }
            break;
        case QEvent::MouseButtonRelease:
            // The right button moves no selection; what its popup said stays.
            if (onGrid && static_cast<QMouseEvent*>(e)->button() != Qt::RightButton)
                QTimer::singleShot(0, grid_, [] { guarded(fgDisp_MouseUp); });
            break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key != Qt::Key_Return && key != Qt::Key_Enter) break;
            if (o == grid_) {
                guarded([key] { fgDisp_KeyDown(key); });
                return true;
            }
            if (o == txt_) {
                guarded([key] { txtModify_KeyDown(key); });
                return true;
            }
            if (o == cbo_ || o->parent() == cbo_) {
                guarded([key] { cboModify_KeyDown(key); });
                return true;
            }
            break;
        }
        case QEvent::FocusIn:
            // Coming back from another window is no new entry into the editor.
            if (o == txt_ && static_cast<QFocusEvent*>(e)->reason() != Qt::ActiveWindowFocusReason)
                guarded(txtModify_GotFocus);
            break;
        case QEvent::FocusOut: {
            // A list popping up, a box of the check itself, or the operator
            // turning to another window is no leaving: what is half typed stays.
            const auto reason = static_cast<QFocusEvent*>(e)->reason();
            if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason || g_checking) break;
            if (o == txt_) QTimer::singleShot(0, txt_, [] { guarded(txtModify_LostFocus); });
            else if (o == cbo_) QTimer::singleShot(0, cbo_, [] { guarded(cboModify_LostFocus); });
            break;
        }
        default:
            break;
        }
        return QObject::eventFilter(o, e);
    }

private:
    // An event handler never lets an error out; the program's end passes.
    template <typename F>
    static void guarded(F&& f) {
        try {
            f();
        } catch (const platform::ProgramEnded&) {
            throw;
        } catch (const std::exception&) {
            g_Editing = false;
        }
    }
    QWidget* grid_;
    QWidget* txt_;
    QWidget* cbo_;
};

}  // namespace

void ShowEditor(QWidget* editor) {
    FlexGrid& g = views::ConsoleGrid();
    if (!editor || GridSelFirst < 0 || GridSelFirst >= g.Rows() || GridMouseCol < 0 || GridMouseCol >= g.Cols()) return;
    place(editor);
    const QString text = g.TextMatrix(GridSelFirst, GridMouseCol);
    if (auto* txt = qobject_cast<QLineEdit*>(editor)) txt->setText(text);
    else if (auto* cbo = qobject_cast<QComboBox*>(editor)) cbo->setEditText(text);
    editor->setVisible(true);
    views::EditDone() = false;
    editor->setFocus();
    // A new entry: what it shows is typed over. Selected now, also when the
    // window is not active yet (a box has just closed): the focus that comes
    // with the activation later is no new entry and selects nothing.
    if (qobject_cast<QLineEdit*>(editor)) txtModify_GotFocus();
}

void ShowModifyCtrl(int) {
    FlexGrid& g = views::ConsoleGrid();
    const QString t = title(GridMouseCol);
    QComboBox* cbo = views::OptionEditor();
    QLineEdit* txt = views::TextEditor();
    // No column offers another's options.
    cbo->clear();
    const auto combo = [&] {
        ModGeneral::AddArrayToList(g_ModifyList, cbo);
        ShowEditor(cbo);
    };
    if (t == QStringLiteral("字头")) {
        g_ModifyList.clear();
        platform::Recordset rs = dbSwitch.query(QStringLiteral("Select HeadID From LanHead where HeadType>19 and HeadType<30"));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) g_ModifyList << HexToDial(rs.str(QStringLiteral("HeadID")));
        combo();
    } else if (t == QStringLiteral("始呼分机1") || t == QStringLiteral("始呼分机2")) {
        g_ModifyList.clear();
        platform::Recordset rs = dbSwitch.query(QStringLiteral("Select txhm,Address From que_txhm order by Address"));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) g_ModifyList << rs.str(QStringLiteral("txhm"));
        combo();
    } else if (t == QStringLiteral("直拨遇忙") || t == QStringLiteral("转接遇忙")) {
        GetOptionList(t, g_ModifyList);
        if (g_ModifyList.size() - 1 >= 1) combo();
    } else if (t == QStringLiteral("群呼分机") || t == QStringLiteral("通话限时")) {
        const QString chosen = ChooseListItems(g.TextMatrix(GridSelFirst, GridMouseCol), t);
        commitText(chosen);
    } else if (t == QStringLiteral("折价标志")) {
        const quint8 mask = ChooseWeekdays(static_cast<quint8>(g.TextMatrix(GridSelFirst, GridMouseCol).toInt()));
        commitText(QString::number(mask));
    } else {
        GetOptionList(t, g_ModifyList);
        if (t == QStringLiteral("所属用户") || g_ModifyList.size() - 1 > 0) combo();
        else ShowEditor(txt);
    }
}

void mnuModifyTable_Click() { ShowModifyCtrl(0); }

void fgDisp_DblClick() {
    FlexGrid& g = views::ConsoleGrid();
    if (neverEdited()) return;
    if (CurTable == QLatin1String("ExtDeposit") && g.Col() != 2) return;
    views::HideMonitorGrids();
    if (EditorInputVisible()) return;
    if (g.MouseCol() != g.Col()) return;
    if (g.MouseRow() == 0) GridSelFirst = GridSelLast = 1;
    g.setRowSel(GridSelLast);
    GridSelFirst = GridSelLast;
    g.setFocus();
    const int right = CurTable == QLatin1String("Extension") && g.MouseCol() < 3 ? 5 : views::TableRight();
    if (ModGeneral::CheckRight(right, ModGeneral::kRightStatusBar)) return;
    if (ParaMode == QLatin1String("UpSend") && !SaveSwitchPara(views::TableRight(), true)) {
        views::RefreshView();
        return;
    }
    if (defaultUserCell(g, g.Col())) return;
    if (CurTable == QLatin1String("PabxFeeRate") && g.TextMatrix(1, 1).isEmpty()) return;
    if (protectedTitle(title(g.Col())) || g.Col() < g.FixedCols()) return;
    GridMouseCol = g.Col();
    const QString cell = g.TextMatrix(GridSelFirst, GridMouseCol);
    if (cell == QLatin1String("ON") || cell == QLatin1String("OFF")) {
        commitText(cell == QLatin1String("ON") ? QStringLiteral("OFF") : QStringLiteral("ON"));
        return;
    }
    g_Editing = true;
    ShowModifyCtrl(0);
}

void fgDisp_KeyDown(int keyCode) {
    if (keyCode != Qt::Key_Return && keyCode != Qt::Key_Enter) return;
    FlexGrid& g = views::ConsoleGrid();
    if (neverEdited()) return;
    if (CurTable == QLatin1String("ExtDeposit") && g.Col() != 2) return;
    if (EditorInputVisible()) return;
    // The keyboard may have moved the selection since the last click.
    ModGeneral::GetGridSel(g, false, GridSelColFirst, GridSelColLast);
    if (GridSelFirst < g.FixedRows()) return;
    const int right = CurTable == QLatin1String("Extension") && g.Col() < 3 ? 5 : views::TableRight();
    if (ModGeneral::CheckRight(right, ModGeneral::kRightStatusBar)) return;
    if (ParaMode == QLatin1String("UpSend") && !SaveSwitchPara(views::TableRight(), true)) {
        views::RefreshView();
        return;
    }
    if (defaultUserCell(g, g.Col())) return;
    if (CurTable == QLatin1String("PabxFeeRate") && g.TextMatrix(1, 1).isEmpty()) return;
    if (g.Col() < g.FixedCols()) return;
    GridMouseCol = g.Col();
    const QString t = title(GridMouseCol);
    static const QStringList oneRow = {"费率字头", "本机字头", "市话字头", "弹性号码", "本机类别", "市话类别", "附加字头"};
    static const QStringList always = {"加发字头", "缩位字头"};
    bool open;
    if (oneRow.contains(t)) open = GridSelFirst == GridSelLast;
    else if (always.contains(t)) open = true;
    else open = !protectedTitle(t) && GridSelColFirst == GridSelColLast;
    if (open) mnuModifyTable_Click();
}

namespace {
constexpr auto kCursorWords = QStringView(u"当前光标");

// Panel 2's words for the operator's cursor in the console grid.
QString cursorText(const FlexGrid& g) {
    return QStringLiteral("共%1条记录，选中%2条记录  %3：行 %4 列　%5")
        .arg(g.Rows() - 1)
        .arg(qAbs(g.RowSel() - g.Row()) + 1)
        .arg(kCursorWords)
        .arg(g.Row())
        .arg(g.Col());
}
}  // namespace

void fgDisp_MouseUp() {
    static const QStringList untracked = {"Awake", "Bill", "History"};
    if (untracked.contains(CurTable) || g_Editing) return;
    if (views::TextEditor()->isVisible() || views::OptionEditor()->isVisible()) return;
    FlexGrid& g = views::ConsoleGrid();
    ModGeneral::GetGridSel(g, false, GridSelColFirst, GridSelColLast);
    views::StatusText(cursorText(g));
}

bool PanelTellsCursor() { return core::PanelText(2).contains(kCursorWords); }

void TellCursor() { views::StatusText(cursorText(views::ConsoleGrid())); }

void fgDisp_Scroll() {
    QLineEdit* txt = views::TextEditor();
    QComboBox* cbo = views::OptionEditor();
    QWidget* editor = txt->isVisible() ? static_cast<QWidget*>(txt) : cbo->isVisible() ? cbo : nullptr;
    if (!editor) return;
    FlexGrid& g = views::ConsoleGrid();
    if (GridSelFirst < 0 || GridSelFirst >= g.Rows() || GridMouseCol < 0 || GridMouseCol >= g.Cols()) return;
    // The edited cell stays in view and the editor over it; what is typed stays.
    const QRect cell = g.visualRect(g.model()->index(GridSelFirst, GridMouseCol));
    if (!g.viewport()->rect().contains(cell)) g.scrollTo(g.model()->index(GridSelFirst, GridMouseCol));
    place(editor);
}

void txtModify_GotFocus() {
    QLineEdit* txt = views::TextEditor();
    if (title(GridMouseCol) == QStringLiteral("预付押金")) txt->setText(QStringLiteral("0.00"));
    ModGeneral::SelectAllText(txt);
}

void txtModify_KeyDown(int keyCode) {
    if (keyCode == Qt::Key_Return || keyCode == Qt::Key_Enter) txtModify_LostFocus();
}

void txtModify_LostFocus() {
    QLineEdit* txt = views::TextEditor();
    if (!txt->isVisible() || g_checking) return;
    if (views::EditDone()) {
        txt->hide();
        return;
    }
    g_checking = true;
    try {
        FlexGrid& g = views::ConsoleGrid();
        const EntryResult r = CheckTextEntry(g, txt->text());
        if (r.ok) commitText(r.text);
        else refuseText(txt, r.message);
    } catch (const platform::ProgramEnded&) {
        g_checking = false;
        throw;
    } catch (const std::exception& e) {
        // The check could not be made: nothing is committed, the editor stays.
        g_Editing = false;
        views::StatusText(platform::OperatorText(e));
    }
    g_checking = false;
}

void cboModify_Change() {
    if (title(GridMouseCol) == QStringLiteral("所属部门")) return;
    ModGeneral::ComboAutoComplete(views::OptionEditor(), false, false);
}

void cboModify_Click() { cboModify_LostFocus(); }

void cboModify_KeyDown(int keyCode) {
    if (keyCode == Qt::Key_Return || keyCode == Qt::Key_Enter) cboModify_LostFocus();
}

void cboModify_LostFocus() {
    QComboBox* cbo = views::OptionEditor();
    if (!cbo->isVisible() || g_checking) return;
    if (views::EditDone()) {
        cbo->hide();
        return;
    }
    g_checking = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        FlexGrid& g = views::ConsoleGrid();
        const EntryResult r = CheckOptionEntry(g, cbo->currentText(), cbo->count());
        if (r.ok) {
            if (!r.message.isEmpty()) views::StatusText(r.message);
            views::EditDone() = true;
            SaveCellEdit(g, r.text);
            cbo->hide();
        } else {
            QApplication::restoreOverrideCursor();
            if (!r.message.isEmpty()) platform::MsgBox(r.message, platform::mbOKOnly, AppName);
            QApplication::setOverrideCursor(Qt::WaitCursor);
            GridSelLast = GridSelFirst;
            cbo->setEditText(g.TextMatrix(GridSelFirst, GridMouseCol));
        }
    } catch (const platform::ProgramEnded&) {
        QApplication::restoreOverrideCursor();
        g_checking = false;
        throw;
    } catch (const std::exception& e) {
        g_Editing = false;
        cbo->hide();
        views::StatusText(platform::OperatorText(e));
    }
    QApplication::restoreOverrideCursor();
    g_checking = false;
}

bool EditorInputVisible() {
    if (views::EditDone()) return false;
    if (views::TextEditor()->isVisible()) {
        txtModify_LostFocus();
        return true;
    }
    if (views::OptionEditor()->isVisible()) {
        cboModify_LostFocus();
        return true;
    }
    return false;
}

void AttachGridEditors(QWidget* grid, QWidget* textEditor, QWidget* optionEditor) {
    auto* events = new EditorEvents(grid, grid, textEditor, optionEditor);
    grid->installEventFilter(events);
    if (auto* view = qobject_cast<QAbstractItemView*>(grid)) {
        view->viewport()->installEventFilter(events);
        QObject::connect(view->verticalScrollBar(), &QScrollBar::valueChanged, grid, [] { fgDisp_Scroll(); });
        QObject::connect(view->horizontalScrollBar(), &QScrollBar::valueChanged, grid, [] { fgDisp_Scroll(); });
    }
    textEditor->installEventFilter(events);
    if (auto* cbo = qobject_cast<QComboBox*>(optionEditor)) {
        cbo->setEditable(true);
        cbo->setInsertPolicy(QComboBox::NoInsert);
        cbo->setCompleter(nullptr);
        cbo->installEventFilter(events);
        if (cbo->lineEdit()) cbo->lineEdit()->installEventFilter(events);
        QObject::connect(cbo, &QComboBox::activated, cbo, [] {
            try {
                cboModify_Click();
            } catch (const std::exception&) {
            }
        });
        QObject::connect(cbo, &QComboBox::editTextChanged, cbo, [cbo] {
            if (cbo->isVisible() && cbo->hasFocus()) cboModify_Change();
        });
    }
}

}  // namespace ModSwitch
