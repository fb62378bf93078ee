#pragma once
// A second print window kept for the printing subsystem's completeness:
// nothing in the station opens it. Only its cell printer and its reading of
// the continuous-form position do anything.
#include "platform/FlexGrid.h"

#include <QLabel>
#include <QVariant>
#include <QWidget>

class frmPrint : public QWidget {
    Q_OBJECT
public:
    static frmPrint& instance();
    static bool exists();
    static void unload();
    ~frmPrint() override;

    // Takes the grid's selection (a single cell stays a single cell) and prints nothing.
    bool PrintGrid(platform::FlexGrid& grid, const QString& title, const QVariant& a, const QVariant& b);
    bool PrintTicket(const QVariant& a, const QVariant& b);
    bool PrintScrip(const QVariant& a, const QVariant& b);
    // The cell printer of the grid printout.
    void PrintLine(int x, int y, const QString& text, int align, int width, int height);
    // Reads the continuous-form position; keeps nothing.
    void Init();

    QLabel* lblHead1 = nullptr;
    QLabel* lblHead2 = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblFootNote = nullptr;
    platform::FlexGrid* grdPrint = nullptr;

private:
    explicit frmPrint(QWidget* parent = nullptr);
};
