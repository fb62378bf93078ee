#include "pricing/TariffEdit.h"

#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/OpLog.h"
#include "core/frmFeeFind.h"
#include "platform/GridText.h"
#include "platform/Prompts.h"
#include "pricing/RateCache.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSignalBlocker>

namespace pricing {

bool IsZoneCode(const QString& t) {
    static const QRegularExpression re(QStringLiteral("^[0-9]{1,16}$"));
    return re.match(t).hasMatch();
}

bool IsNumber(const QString& t) {
    static const QRegularExpression re(QStringLiteral("^[+-]?([0-9]+(\\.[0-9]+)?|\\.[0-9]+)$"));
    return re.match(t).hasMatch();
}

platform::Currency LeadingNumber(const QString& t) {
    static const QRegularExpression re(QStringLiteral("^\\s*([+-]?)([0-9]*)(\\.([0-9]*))?"));
    const auto m = re.match(t);
    QString intPart = m.captured(2), frac = m.captured(4);
    if (intPart.isEmpty() && frac.isEmpty()) return {};
    // Beyond what any tariff field holds; keeps the parse within range.
    if (intPart.size() > 12) intPart = QStringLiteral("999999999999");
    const QString text = m.captured(1) + (intPart.isEmpty() ? QStringLiteral("0") : intPart) +
                         (frac.isEmpty() ? QString() : QStringLiteral(".") + frac.left(8));
    return platform::Currency::parse(text).value_or(platform::Currency());
}

platform::Currency TariffPrice(const QString& typed) {
    // The price charged is the price shown.
    return qBound(platform::Currency(), LeadingNumber(typed), kTariffPriceLimit).round(2);
}

qint64 LeadingWhole(const QString& t) { return LeadingNumber(t).round(0).raw() / platform::Currency::kScale; }

QRegularExpression WildcardPattern(const QString& pattern) {
    QString re;
    for (const QChar c : pattern) {
        if (c == QLatin1Char('*')) re += QStringLiteral(".*");
        else if (c == QLatin1Char('?')) re += QLatin1Char('.');
        else re += QRegularExpression::escape(QString(c));
    }
    QRegularExpression rx(QRegularExpression::anchoredPattern(re),
                          QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    rx.optimize();
    return rx;
}

bool WildcardMatch(const QString& pattern, const QString& text) { return WildcardPattern(pattern).match(text).hasMatch(); }

namespace {
QString yesNo(bool b) { return b ? QStringLiteral("是") : QStringLiteral("否"); }
}  // namespace

QString FeeRateRowText(const platform::Recordset& rs) {
    const QStringList cells{rs.str("zonecode"),
                      rs.str("summary"),
                      QString::number(rs.lng("firsttime")) + QLatin1Char('s'),
                      rs.cur("firstprice").toString2(),
                      QString::number(rs.lng("pertime")) + QLatin1Char('s'),
                      rs.cur("perprice").toString2(),
                      rs.cur("extrafee").toString2(),
                      QString::number(rs.lng("extrarate")) + QLatin1Char('%'),
                      rs.cur("poundage").toString2(),
                      QString::number(rs.lng("poundagerate")) + QLatin1Char('%'),
                      rs.str("discountname"),
                      yesNo(rs.boolean("extradiscount")),
                      yesNo(rs.boolean("poundagediscount"))};
    return platform::GridLine(cells);
}

GridValue FeeGridValue(const QString& title, const QString& typed) {
    GridValue v;
    const QString t = title.trimmed();
    if (t == QStringLiteral("首次时长") || t == QStringLiteral("每次时长")) {
        const qint64 low = t == QStringLiteral("每次时长") ? 1 : 0;
        const qint64 n = qBound<qint64>(low, LeadingWhole(typed), 255);
        v.display = QString::number(n) + QLatin1Char('s');
        v.value = platform::Param(static_cast<long long>(n));
    } else if (t == QStringLiteral("首次价格") || t == QStringLiteral("每次价格") || t == QStringLiteral("附加费1") ||
               t == QStringLiteral("手续费1")) {
        const platform::Currency c = TariffPrice(typed);
        v.display = c.toString2();
        v.value = platform::Param(c);
    } else if (t == QStringLiteral("附加费2") || t == QStringLiteral("手续费2")) {
        const platform::Currency c = LeadingNumber(typed);
        qint64 n = c.round(0).raw() / platform::Currency::kScale;
        if (c < platform::Currency() || c > platform::Currency::fromYuan(100)) n = 100;
        v.display = QString::number(n) + QLatin1Char('%');
        v.value = platform::Param(static_cast<long long>(n));
    } else {
        v.display = typed;
        v.value = platform::Param(typed);
    }
    return v;
}

bool CommitsEditor(const QEvent* e, bool& eat) {
    eat = false;
    if (e->type() == QEvent::FocusOut) return true;
    if (e->type() != QEvent::KeyPress) return false;
    const int key = static_cast<const QKeyEvent*>(e)->key();
    eat = key == Qt::Key_Return || key == Qt::Key_Enter;
    return eat;
}

QString FeeRateColumn(int gridCol) {
    static const char* const cols[] = {"zonecode", "summary",  "firsttime",    "firstprice",   "pertime",
                                       "perprice", "extrafee", "extrarate",    "poundage",     "poundagerate",
                                       "discountid", "extradiscount", "poundagediscount"};
    return gridCol >= 0 && gridCol < 13 ? QString::fromLatin1(cols[gridCol]) : QString();
}

QString IPLinkText(int index, const QString& typed) {
    switch (index) {
    case 0:
    case 2:
        return QString::number(qMax<qint64>(index == 2 ? 1 : 0, LeadingWhole(typed))) + QLatin1Char('s');
    case 5:
    case 7: {
        const platform::Currency c = LeadingNumber(typed);
        if (c < platform::Currency() || c > platform::Currency::fromYuan(100)) return QStringLiteral("0%");
        return QString::number(c.round(0).raw() / platform::Currency::kScale) + QLatin1Char('%');
    }
    default: {
        const QString t = typed.trimmed();
        if (!IsNumber(t)) return QStringLiteral("0.00");
        return TariffPrice(t).toString2();
    }
    }
}

platform::Param IPLinkValue(int index, const QString& text) {
    const QString shown = IPLinkText(index, text);
    if (index == 0 || index == 2 || index == 5 || index == 7) return platform::Param(static_cast<long long>(LeadingWhole(shown)));
    return platform::Param(LeadingNumber(shown));
}

// ------------------------------------------------------------------ the fee-rate grid

namespace {
void say(const QString& text) { platform::MsgBox(text, platform::mbOKOnly, AppName); }
}  // namespace

FeeRateGridForm::FeeRateGridForm(int right) : QWidget(nullptr, Qt::Window), m_Right(right) {
    RateCache::holdWhileEditing();
    m_HoldsRates = true;
}

FeeRateGridForm::~FeeRateGridForm() { releaseRates(); }

void FeeRateGridForm::releaseRates() {
    if (!m_HoldsRates) return;
    m_HoldsRates = false;
    RateCache::releaseAfterEditing();
}

void FeeRateGridForm::makeGrid(QWidget* parent, const QString& format) {
    fgFeerate = new platform::FlexGrid(parent);
    fgFeerate->setObjectName(QStringLiteral("fgFeerate"));
    fgFeerate->setFixedRows(1);
    fgFeerate->setFormatString(format);
    fgFeerate->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void FeeRateGridForm::makeEditors() {
    txtModify = new QLineEdit(this);
    txtModify->hide();
    txtModify->installEventFilter(this);
    cboModify = new QComboBox(this);
    cboModify->setEditable(true);
    cboModify->setInsertPolicy(QComboBox::NoInsert);
    cboModify->hide();
    cboModify->installEventFilter(this);
    connect(cboModify, &QComboBox::activated, this, [this](int) { cboModify_Commit(); });
    connect(cboModify->lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString&) { ModGeneral::ComboAutoComplete(cboModify, false, true); });

    fgFeerate->installEventFilter(this);
    fgFeerate->viewport()->installEventFilter(this);
    connect(fgFeerate, &platform::FlexGrid::cellClickedVb, this, [this] {
        if (!EditorVisible()) GridEditCol = fgFeerate->Col();
    });
}

bool FeeRateGridForm::EditorVisible() const { return !txtModify->isHidden() || !cboModify->isHidden(); }

void FeeRateGridForm::commitPending() {
    if (!txtModify->isHidden()) txtModify_LostFocus();
    if (!cboModify->isHidden()) cboModify_Commit();
}

bool FeeRateGridForm::leaveTab() {
    commitPending();
    if (!EditorVisible()) return true;
    const QSignalBlocker quiet(SSTab1);
    SSTab1->setCurrentIndex(m_Tab);
    return false;
}

void FeeRateGridForm::placeEditor(QWidget* editor) {
    const QRect cell = fgFeerate->visualRect(fgFeerate->model()->index(GridSelFirst, GridEditCol));
    const QPoint at = fgFeerate->viewport()->mapTo(this, cell.topLeft());
    editor->setGeometry(at.x(), at.y(), qMax(cell.width(), 40), qMax(cell.height(), editor->sizeHint().height()));
}

bool FeeRateGridForm::rowOneProtected() const {
    // A category's default row, whose zone code is not a number, lists first and
    // is kept; without a default row, row 1 is a rate like any other.
    const QString zone = fgFeerate->TextMatrix(1, 0);
    return !zone.isEmpty() && !IsNumber(zone);
}

void FeeRateGridForm::showRows(platform::Recordset& rs) {
    fgFeerate->setRedraw(false);
    QVector<QStringList> rows;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) rows.push_back(FeeRateRowText(rs).split(QChar(9)));
    // A category without rates keeps one empty data row.
    fgFeerate->setRows(1);
    fgFeerate->setRows(1 + qMax<int>(1, rows.size()));
    for (int c = 0; c < fgFeerate->Cols(); ++c) fgFeerate->setTextMatrix(1, c, QString());
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c) fgFeerate->setTextMatrix(r + 1, c, rows[r][c]);
    fgFeerate->setRedraw(true);
    fgFeerate->setRow(1);
    fgFeerate->setRowSel(1);
}

void FeeRateGridForm::showStoredRow(int r, platform::Recordset& rs, const QString& zone) {
    if (rs.eof()) {
        fgFeerate->setTextMatrix(r, 0, zone);
        return;
    }
    const QStringList cells = FeeRateRowText(rs).split(QChar(9));
    for (int c = 0; c < cells.size(); ++c) fgFeerate->setTextMatrix(r, c, cells[c]);
}

void FeeRateGridForm::insertRate(int r, const QString& zone, const QString& summary, int type, qint32 feerateId) {
    auto cell = [&](int c) { return fgFeerate->TextMatrix(r, c); };
    const QVariant did =
        dbSwitch.scalar(QStringLiteral("select discountid from discount where discountname=?"), {cell(10)});
    auto num = [&](int c) { return FeeGridValue(fgFeerate->TextMatrix(0, c), cell(c)).value; };
    dbSwitch.execute(
        QStringLiteral("insert into feerate(zonecode,summary,firsttime,firstprice,pertime,perprice,extrafee,extrarate,"
                       "poundage,poundagerate,discountid,extradiscount,poundagediscount,feeratetype,feerateid) "
                       "values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
        {zone, summary, num(2), num(3), num(4), num(5), num(6), num(7), num(8), num(9), did.isNull() ? 1 : did.toInt(),
         cell(11) == QStringLiteral("是") ? 1 : 0, cell(12) == QStringLiteral("是") ? 1 : 0, type, feerateId});
}

void FeeRateGridForm::readFindRows(platform::Recordset& rs) {
    m_FindRows.clear();
    m_FindPos = -1;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext())
        m_FindRows.push_back({rs.str("zonecode"), rs.str("summary"), static_cast<int>(rs.lng("feeratetype"))});
}

void FeeRateGridForm::fgFeerate_DblClick() {
    if (EditorVisible() || !gridEditable()) return;
    const int col = fgFeerate->Col();
    if (fgFeerate->Row() < 1) return;
    if (col < 10) {
        if (col <= 1 && fgFeerate->Row() == 1 && rowOneProtected()) return;
        setFieldEnter(txtModify);
    } else {
        GetSelectArr(col == 10);
        setFieldEnter(cboModify);
    }
}

void FeeRateGridForm::fgFeerate_MouseDown(int button) {
    if (EditorVisible()) return;
    GridEditCol = fgFeerate->Col();
    // A right click on a block of rows in one value column edits them all at
    // once; the zone code and place name are edited one row at a time.
    if (button == 2 && fgFeerate->Col() == fgFeerate->ColSel() &&
        (fgFeerate->Col() >= 2 || fgFeerate->Row() == fgFeerate->RowSel()))
        fgFeerate_DblClick();
}

void FeeRateGridForm::fgFeerate_KeyDown(int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) fgFeerate_MouseDown(2);
}

void FeeRateGridForm::GetSelectArr(bool bDiscount) {
    cboModify->clear();
    if (bDiscount) {
        platform::Recordset rs =
            dbSwitch.query(QStringLiteral("select discountid,discountname from discount order by discountid"));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) cboModify->addItem(rs.str("discountname"), rs.lng("discountid"));
    } else {
        cboModify->addItem(QStringLiteral("否"), 0);
        cboModify->addItem(QStringLiteral("是"), 1);
    }
}

void FeeRateGridForm::setFieldEnter(QWidget* editor) {
    if (ModGeneral::CheckRight(m_Right, ModGeneral::kRightMessage)) return;
    int c1 = 0, c2 = 0;
    ModGeneral::GetGridSel(*fgFeerate, false, c1, c2);
    if (GridSelFirst < 1) GridSelFirst = 1;
    if (GridSelLast < GridSelFirst) GridSelLast = GridSelFirst;
    GridEditCol = fgFeerate->Col();
    placeEditor(editor);
    const QString text = fgFeerate->TextMatrix(GridSelFirst, GridEditCol);
    if (editor == txtModify) {
        txtModify->setText(text);
    } else {
        cboModify->setCurrentIndex(cboModify->findText(text));
        cboModify->setEditText(text);
    }
    editor->show();
    editor->raise();
    editor->setFocus();
    if (editor == txtModify) ModGeneral::SelectAllText(txtModify);
}

void FeeRateGridForm::txtModify_LostFocus() {
    if (txtModify->isHidden() || m_Committing) return;
    m_Committing = true;
    try {
        if (GridEditCol == 0) zoneCommit();
        else setFieldValue(txtModify, txtModify->text());
    } catch (const platform::DbError& e) {
        // The statement was refused: the grid shows what is stored.
        txtModify->hide();
        say(QStringLiteral("保存失败: ") + platform::OperatorText(e));
        reloadAfterFailure(true);
    }
    m_Committing = false;
}

void FeeRateGridForm::cboModify_Commit() {
    if (cboModify->isHidden() || m_Committing) return;
    m_Committing = true;
    const QString text = cboModify->currentText();
    const int ix = cboModify->findText(text);
    if (text.isEmpty() || ix < 0) {
        // Only the list's items can be stored.
        cboModify->setEditText(fgFeerate->TextMatrix(GridSelFirst, GridEditCol));
        cboModify->setFocus();
    } else {
        cboModify->setCurrentIndex(ix);
        try {
            setFieldValue(cboModify, text);
        } catch (const platform::DbError& e) {
            cboModify->hide();
            say(QStringLiteral("保存失败: ") + platform::OperatorText(e));
            reloadAfterFailure(false);
        }
    }
    m_Committing = false;
}

GridValue FeeRateGridForm::editedValue(QWidget* editor, const QString& text) const {
    if (editor != cboModify) return FeeGridValue(fgFeerate->TextMatrix(0, GridEditCol), text);
    GridValue v;
    v.display = text;
    v.value = platform::Param(cboModify->currentData().toLongLong());
    return v;
}

void FeeRateGridForm::refuseZone(const QString& message, int r) {
    say(message);
    txtModify->setText(fgFeerate->TextMatrix(r, 0));
    txtModify->setFocus();
    ModGeneral::SelectAllText(txtModify);
}

void FeeRateGridForm::zoneCommit() {
    const int r = GridSelFirst;
    QString t = txtModify->text();
    if (t.isEmpty()) t = fgFeerate->TextMatrix(r, GridEditCol);
    if (t.isEmpty()) {
        // A row just added keeps waiting for its zone code; nothing is stored yet.
        txtModify->hide();
        return;
    }
    if (t.size() > 16) return refuseZone(QStringLiteral("请输入1-16位地区代号"), r);
    if (!IsZoneCode(t)) return refuseZone(QStringLiteral("请输入数字"), r);
    const QVariant found = zoneOwner(t);
    if (!found.isNull()) {
        if (fgFeerate->TextMatrix(r, GridEditCol) == t) {
            txtModify->hide();
            return;
        }
        return refuseZone(QStringLiteral("地区代号<") + t + QStringLiteral(">已经存在于") + categoryName(found.toInt()),
                          r);
    }
    storeZone(r, t);
}

void FeeRateGridForm::addRow() {
    const int above = fgFeerate->Rows() - 1;
    fgFeerate->setRedraw(false);
    fgFeerate->AddItem(QString());
    const int r = fgFeerate->Rows() - 1;
    for (int c = 1; c < 13; ++c) fgFeerate->setTextMatrix(r, c, fgFeerate->TextMatrix(above, c));
    fgFeerate->setRedraw(true);
    fgFeerate->setRow(r);
    fgFeerate->setRowSel(r);
    fgFeerate->setCol(0);
    fgFeerate->setColSel(0);
    fgFeerate->setTopRow(r);
    GridEditCol = 0;
    setFieldEnter(txtModify);
    if (!txtModify->isHidden()) {
        txtModify->setText(ModGeneral::NextNumStr(fgFeerate->TextMatrix(above, 0)));
        ModGeneral::SelectAllText(txtModify);
    }
}

int FeeRateGridForm::rowsToDelete() {
    txtModify->hide();
    cboModify->hide();
    int c1 = 0, c2 = 0;
    ModGeneral::GetGridSel(*fgFeerate, false, c1, c2);
    if (GridSelFirst < 1) GridSelFirst = 1;
    if (GridSelFirst == 1 && rowOneProtected()) GridSelFirst = 2;
    return qMin<int>(GridSelLast, fgFeerate->Rows() - 1);
}

bool FeeRateGridForm::deleteSelectedRows() {
    const int last = rowsToDelete();
    try {
        platform::Transaction tx(dbSwitch);
        for (int r = last; r >= GridSelFirst; --r) {
            const QString zone = fgFeerate->TextMatrix(r, 0);
            if (!zone.isEmpty()) deleteRate(zone);
        }
        tx.commit();
    } catch (const platform::DbError& e) {
        say(QStringLiteral("删除失败: ") + platform::OperatorText(e));
        return false;
    }
    for (int r = last; r >= GridSelFirst; --r) dropRow(r);
    return true;
}

void FeeRateGridForm::dropRow(int r) {
    if (fgFeerate->Rows() > 2) {
        fgFeerate->RemoveItem(r);
    } else {
        // The tab keeps one data row; it no longer shows a stored rate.
        for (int c = 0; c < fgFeerate->Cols(); ++c) fgFeerate->setTextMatrix(r, c, QString());
    }
}

void FeeRateGridForm::findNext() {
    // The find may show another tab: an open edit is settled first.
    commitPending();
    if (EditorVisible()) return;
    m_FindText = frmFeeFind::instance().Find(QStringLiteral("请输入要查找的地区代号或地名:"), m_FindText);
    if (m_FindText.isEmpty()) return;
    const int n = m_FindRows.size();
    if (n == 0) return;
    const QRegularExpression rx = WildcardPattern(m_FindText);
    int hit = -1;
    for (int k = 1; k <= n && hit < 0; ++k) {
        const int i = ((m_FindPos + k) % n + n) % n;
        if (rx.match(m_FindRows[i].zone).hasMatch() || rx.match(m_FindRows[i].summary).hasMatch()) hit = i;
    }
    if (hit < 0) return;
    m_FindPos = hit;
    // A copy: showing another tab may read the find list again.
    const FindRow f = m_FindRows[hit];
    if (f.type != SSTab1->currentIndex() && f.type >= 0 && f.type < SSTab1->count()) SSTab1->setCurrentIndex(f.type);
    fgFeerate->setRedraw(false);
    for (int r = 1; r < fgFeerate->Rows(); ++r) {
        if (fgFeerate->TextMatrix(r, 0) != f.zone) continue;
        fgFeerate->setTopRow(r);
        fgFeerate->setRow(r);
        fgFeerate->setCol(0);
        fgFeerate->setRowSel(r);
        fgFeerate->setColSel(fgFeerate->Cols() - 1);
        break;
    }
    fgFeerate->setRedraw(true);
}

bool FeeRateGridForm::eventFilter(QObject* o, QEvent* e) {
    if (fgFeerate && o == fgFeerate->viewport()) {
        if (e->type() == QEvent::MouseButtonPress) {
            auto* me = static_cast<QMouseEvent*>(e);
            if (EditorVisible()) return true;
            if (me->button() == Qt::RightButton) {
                // The selection stays as it is: a right click edits it.
                fgFeerate_MouseDown(2);
                return true;
            }
        } else if (e->type() == QEvent::MouseButtonDblClick) {
            fgFeerate_DblClick();
            return true;
        }
    } else if (o == fgFeerate && e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            fgFeerate_KeyDown(key);
            return true;
        }
    } else if (o == txtModify) {
        bool eat = false;
        if (CommitsEditor(e, eat)) {
            txtModify_LostFocus();
            if (eat) return true;
        }
    } else if (o == cboModify && e->type() == QEvent::FocusOut) {
        if (!cboModify->view()->isVisible()) cboModify_Commit();
    }
    return QWidget::eventFilter(o, e);
}

void FeeRateGridForm::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    // The cell moves with the grid: an open edit is committed as leaving it
    // does; a refused one stays open over its cell.
    commitPending();
    if (!txtModify->isHidden()) placeEditor(txtModify);
    if (!cboModify->isHidden()) placeEditor(cboModify);
}

}  // namespace pricing
