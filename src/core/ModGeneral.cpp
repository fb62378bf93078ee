#include "core/ModGeneral.h"

#include "core/ModDefine.h"
#include "platform/Prompts.h"

#include <QApplication>

namespace ModGeneral {

bool CheckEmpty(QWidget* ctl) {
    QString text;
    if (auto* e = qobject_cast<QLineEdit*>(ctl)) text = e->text();
    else if (auto* c = qobject_cast<QComboBox*>(ctl)) text = c->currentText();
    else return false;
    if (!text.isEmpty()) return false;
    platform::MsgBox(QStringLiteral("此项数据不能为空"), platform::mbOKOnly, AppName);
    ctl->setFocus();
    return true;
}

void FillComboFromSql(QComboBox* cbo, const QString& sql, const platform::Database& db, bool bPair) {
    cbo->clear();
    try {
        platform::Recordset rs = db.query(sql);
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
            QString item = rs.value(0).toString();
            if (bPair) item += QStringLiteral("-") + (rs.fieldCount() > 1 ? rs.value(1).toString() : QString());
            cbo->addItem(item);
        }
    } catch (const platform::DbError&) {
        // The list stays as far as it was filled.
    }
}

void FillComboFromArray(QComboBox* cbo, const QStringList& arr) {
    cbo->clear();
    cbo->addItems(arr);
}

void AddArrayToList(const QStringList& arr, QComboBox* cbo) { FillComboFromArray(cbo, arr); }

void ComboAutoComplete(QComboBox* cbo, bool bAllowFree, bool bSetIndex) {
    if (!cbo) return;
    const QString typed = cbo->currentText();
    const int n = typed.size();
    if (n == 0) return;
    const QString key = typed.toUpper();
    int found = -1;
    for (int i = 0; i < cbo->count(); ++i) {
        if (cbo->itemText(i).left(n).toUpper() == key) {
            found = i;
            break;
        }
    }
    if (found >= 0) {
        if (bSetIndex) cbo->setCurrentIndex(found);
        else cbo->setEditText(cbo->itemText(found));
        if (QLineEdit* le = cbo->lineEdit()) {
            const QString now = le->text();
            le->setSelection(n, now.size() - n);
        }
        return;
    }
    if (!bAllowFree) {
        if (cbo->isEditable()) cbo->setEditText(QString());
        else cbo->setCurrentIndex(-1);
        QApplication::beep();
        cbo->setFocus();
    }
}

void SelectAllText(QLineEdit* ctl) {
    if (ctl) ctl->selectAll();
}

void ClearControls(QWidget* frm) {
    if (!frm) return;
    for (QLineEdit* e : frm->findChildren<QLineEdit*>()) {
        // A combo box's own line edit is cleared through its combo box.
        if (qobject_cast<QComboBox*>(e->parentWidget())) continue;
        e->clear();
    }
    for (QComboBox* c : frm->findChildren<QComboBox*>()) {
        if (c->isEditable()) c->setEditText(QString());
        else c->setCurrentIndex(-1);
    }
}

bool GetGridSel(platform::FlexGrid& grid, bool bWholeIfSingle, int& colFirst, int& colLast) {
    GridSelFirst = qMin(grid.Row(), grid.RowSel());
    GridSelLast = qMax(grid.Row(), grid.RowSel());
    colFirst = qMin(grid.Col(), grid.ColSel());
    colLast = qMax(grid.Col(), grid.ColSel());
    if (bWholeIfSingle) {
        if (GridSelFirst == GridSelLast) {
            GridSelFirst = grid.FixedRows();
            GridSelLast = grid.Rows() - 1;
        }
        if (colFirst == colLast) {
            colFirst = 0;
            colLast = grid.Cols() - 1;
        }
        return true;
    }
    return !(GridSelFirst == GridSelLast && colFirst == colLast);
}

qint32 FindGridRow(platform::FlexGrid& grid, int col, const QString& text, qint32 startRow) {
    const qint32 r = grid.FindRow(col, text, startRow);
    if (r >= 0) grid.setRow(r);
    return r;
}

void ClearGridRow(platform::FlexGrid& grid) {
    if (grid.Rows() < 2) return;
    for (int c = 0; c < grid.Cols(); ++c) grid.setTextMatrix(1, c, QString());
}

}  // namespace ModGeneral
