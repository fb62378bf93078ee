#include "core/frmFind.h"

#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "platform/Prompts.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <algorithm>
#include <memory>

namespace {
std::unique_ptr<frmFind> g_instance;
const QStringList kSigns = {QStringLiteral(">"), QStringLiteral("<"), QStringLiteral("="),
                            QStringLiteral("<>"), QStringLiteral("<="), QStringLiteral(">=")};
}  // namespace

frmFind& frmFind::instance() {
    if (!g_instance) g_instance.reset(new frmFind);
    return *g_instance;
}
bool frmFind::exists() { return static_cast<bool>(g_instance); }
void frmFind::unload() { g_instance.reset(); }

frmFind::frmFind(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("frmFind"));
    setWindowTitle(QString(17, QLatin1Char(' ')) + QStringLiteral("查询过滤窗口"));
    auto* grid = new QGridLayout(this);
    const QStringList labels = {QStringLiteral("第一条件"), QStringLiteral("第二条件"), QStringLiteral("第三条件")};
    for (int i = 0; i < 3; ++i) {
        auto* f = new QComboBox(this);
        auto* s = new QComboBox(this);
        auto* v = new QComboBox(this);
        f->setEditable(true);
        v->setEditable(true);
        f->setInsertPolicy(QComboBox::NoInsert);
        v->setInsertPolicy(QComboBox::NoInsert);
        s->addItems(kSigns);
        s->setCurrentIndex(2);
        grid->addWidget(new QLabel(labels[i], this), i, 0);
        grid->addWidget(f, i, 1);
        grid->addWidget(s, i, 2);
        grid->addWidget(v, i, 3);
        cboField << f;
        cboSign << s;
        cboValue << v;
        connect(f, &QComboBox::activated, this, [this, i] { cboField_Click(i); });
        connect(f->lineEdit(), &QLineEdit::textEdited, this, [this, i] {
            const int before = cboField[i]->currentIndex();
            ModGeneral::ComboAutoComplete(cboField[i], false, true);
            if (cboField[i]->currentIndex() >= 0 && cboField[i]->currentIndex() != before) cboField_Click(i);
        });
        connect(v->lineEdit(), &QLineEdit::textEdited, this,
                [this, i] { ModGeneral::ComboAutoComplete(cboValue[i], true, true); });
    }
    cmdQuery = new QPushButton(QStringLiteral("查 询"), this);
    cmdClear = new QPushButton(QStringLiteral("清 空"), this);
    cmdClose = new QPushButton(QStringLiteral("关 闭"), this);
    auto* row = new QHBoxLayout;
    row->addWidget(cmdQuery);
    row->addWidget(cmdClear);
    row->addWidget(cmdClose);
    grid->addLayout(row, 3, 0, 1, 4);
    connect(cmdQuery, &QPushButton::clicked, this, [this] { cmdQuery_Click(); });
    connect(cmdClear, &QPushButton::clicked, this, [this] { cmdClear_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { cmdClose_Click(); });
}

void frmFind::FindItem(platform::FlexGrid* grid) {
    FindGrid = grid;
    show();
    ModGeneral::Delay(2);
    if (!FindGrid) return;
    for (int i = 0; i < 3; ++i) {
        const QString field = cboField[i]->currentText();
        const QString value = cboValue[i]->currentText();
        cboValue[i]->clear();
        cboField[i]->clear();
        for (int c = 0; c < FindGrid->Cols(); ++c) {
            const QString title = FindGrid->TextMatrix(0, c);
            if (title.isEmpty()) break;
            cboField[i]->addItem(title);
        }
        // The operator's earlier choice stays in the boxes.
        cboField[i]->setCurrentIndex(-1);
        cboField[i]->setEditText(field);
        cboValue[i]->setEditText(value);
    }
}

bool frmFind::GetSelectRow(const QString& cell, const QString& sign, const QString& value) {
    const int c = QString::compare(cell, value, Qt::CaseSensitive);
    if (sign == QLatin1String(">")) return c > 0;
    if (sign == QLatin1String("<")) return c < 0;
    if (sign == QLatin1String("=")) return c == 0;
    if (sign == QLatin1String("<=")) return c <= 0;
    if (sign == QLatin1String(">=")) return c >= 0;
    if (sign == QLatin1String("<>")) return c != 0;
    return false;
}

int frmFind::fieldColumn(int i) const {
    return cboField[i]->findText(cboField[i]->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void frmFind::cboField_Click(int index) {
    const QString text = cboValue[index]->currentText();
    cboValue[index]->clear();
    const int c = fieldColumn(index);
    if (FindGrid && c >= 0) {
        QStringList values;
        for (int r = 1; r < FindGrid->Rows(); ++r) values << FindGrid->TextMatrix(r, c);
        std::sort(values.begin(), values.end());
        values.erase(std::unique(values.begin(), values.end()), values.end());
        cboValue[index]->addItems(values);
    }
    cboValue[index]->setCurrentIndex(-1);
    cboValue[index]->setEditText(text);
}

void frmFind::cmdQuery_Click() {
    QVector<int> active;
    for (int i = 0; i < 3; ++i)
        if (!cboField[i]->currentText().isEmpty()) active << i;
    if (active.isEmpty()) {
        platform::MsgBox(QStringLiteral("请输入查询条件"), platform::mbOKOnly, AppName);
        cboField[0]->setFocus();
        return;
    }
    QVector<int> cols;
    for (int i : active) {
        const int c = fieldColumn(i);
        if (c < 0) {
            // A typed field that names no column cannot be searched.
            platform::MsgBox(QStringLiteral("请输入查询条件"), platform::mbOKOnly, AppName);
            cboField[i]->setFocus();
            return;
        }
        cols << c;
    }
    if (!FindGrid) return;
    platform::FlexGrid& g = *FindGrid;
    const int n = g.Rows();
    const int r0 = g.Row();
    for (int k = r0 + 1; k <= r0 + n; ++k) {
        if (k == n) continue;   // the title row
        const int row = k % n;
        if (row == 0) continue;
        bool match = true;
        for (int j = 0; j < active.size(); ++j) {
            const int i = active[j];
            if (!GetSelectRow(g.TextMatrix(row, cols[j]), cboSign[i]->currentText(), cboValue[i]->currentText()))
                match = false;
        }
        if (match) {
            g.setRow(row);
            g.setCol(0);
            g.setColSel(g.Cols() - 1);
            g.setTopRow(row);
            return;
        }
    }
    platform::MsgBox(QStringLiteral("没有找到符合条件的记录"), platform::mbOKOnly, AppName);
}

void frmFind::cmdClear_Click() {
    ModGeneral::ClearControls(this);
    // The operator boxes keep one of their six operators.
    for (QComboBox* s : cboSign)
        if (s->currentIndex() < 0) s->setCurrentIndex(2);
}

void frmFind::cmdClose_Click() { hide(); }
