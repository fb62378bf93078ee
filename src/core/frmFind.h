#pragma once
// Finds the next grid row that meets up to three conditions (column,
// operator, value), all of which must hold. Modeless; kept loaded.
#include "platform/FlexGrid.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVector>
#include <QWidget>

class frmFind : public QWidget {
    Q_OBJECT
public:
    static frmFind& instance();
    static bool exists();
    static void unload();

    // Shows the dialog for `grid` and fills the field lists from its titles.
    void FindItem(platform::FlexGrid* grid);
    // The comparison of one cell with one condition, as texts.
    static bool GetSelectRow(const QString& cell, const QString& sign, const QString& value);

    void cboField_Click(int index);
    void cmdQuery_Click();
    void cmdClear_Click();
    void cmdClose_Click();

    QVector<QComboBox*> cboField, cboSign, cboValue;
    QPushButton* cmdQuery = nullptr;
    QPushButton* cmdClear = nullptr;
    QPushButton* cmdClose = nullptr;
    QPointer<platform::FlexGrid> FindGrid;

private:
    explicit frmFind(QWidget* parent = nullptr);
    int fieldColumn(int i) const;
};
