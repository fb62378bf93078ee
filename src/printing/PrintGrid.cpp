#include "printing/PrintGrid.h"

#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/Settings.h"
#include "platform/Clock.h"
#include "platform/FlexGrid.h"
#include "platform/Printer.h"
#include "platform/Prompts.h"

#include <QPrinterInfo>
#include <QVector>
#include <cmath>
#include <limits>

using platform::Printer;

namespace printing {

namespace {

std::optional<bool> g_hasPrinter;
int g_printerChecks = 0;

// A whole number as the print code stores it: halves go to the even neighbour.
int cint(double v) {
    const double r = std::nearbyint(v);
    if (r < std::numeric_limits<int>::min() || r > std::numeric_limits<int>::max())
        throw platform::PrintError(QStringLiteral("数值溢出"));
    return int(r);
}

// A 16-bit whole number, as the shrunken column table holds them.
int cint16(double v) {
    const int r = cint(v);
    if (r < -32768 || r > 32767) throw platform::PrintError(QStringLiteral("数值溢出"));
    return r;
}

// Integer division of two numbers rounded to whole numbers first.
qint64 idiv(double a, double b) {
    const qint64 d = cint(b);
    if (d == 0) throw platform::PrintError(QStringLiteral("除数为零"));
    return qint64(cint(a)) / d;
}

double gridFontSize(const platform::FlexGrid& grid) {
    const QFont f = grid.font();
    if (f.pointSizeF() > 0) return f.pointSizeF();
    return f.pixelSize() > 0 ? f.pixelSize() * 0.75 : 9;
}

// The column's alignment code; 9 (general) when the grid sets none.
int columnAlignCode(const platform::FlexGrid& grid, int col) {
    int a = grid.columnAlignment(col);
    if (a == 0) a = grid.CellAlignmentAt(0, col);
    return a == 0 ? 9 : a;
}

struct Column {
    int offset = 0, align = 9, width = 0;
};

}  // namespace

bool HasPrinter() {
    ++g_printerChecks;
    if (g_hasPrinter) return *g_hasPrinter;
    return !QPrinterInfo::availablePrinterNames().isEmpty();
}

namespace testing {
void setHasPrinter(std::optional<bool> has) {
    g_hasPrinter = has;
    g_printerChecks = 0;
}
int printerChecks() { return g_printerChecks; }
}  // namespace testing

bool IsNumericText(const QString& text) {
    bool ok = false;
    text.trimmed().toDouble(&ok);
    return ok;
}

void PrintCell(int x, int y, const QString& text, int align, int width, int height) {
    if (align < 0 || align > 9) return;
    Printer& p = Printer::instance();
    const double tw = p.TextWidth(text);
    const double th = p.TextHeight(text);
    int h = align / 3;   // 0 left, 1 centre, 2 right
    if (align == 9) h = IsNumericText(text) ? 2 : 0;
    double cx = x;
    if (h == 1) cx = x + (width - tw) / 2;
    else if (h == 2) cx = x + width - tw - 50;
    double cy = y;
    const int v = align == 9 ? 1 : align % 3;   // 0 top, 1 middle, 2 bottom
    if (v == 1) cy = y + (height - th) / 2;
    else if (v == 2) cy = y + height - th;
    p.setCurrentX(cx);
    p.setCurrentY(cy);
    if (width > 0) p.Print(text);
}

void PrintGrid(platform::FlexGrid& grid, const QString& title, bool wholeIfSingle) {
    using ModDefine::AppName;
    if (!HasPrinter()) {
        platform::MsgBox(QStringLiteral("打不到打印机"), platform::mbOKOnly, AppName);
        return;
    }
    grid.setRedraw(false);
    int colFirst = 0, colLast = -1;
    ModGeneral::GetGridSel(grid, wholeIfSingle, colFirst, colLast);
    const int rowFirst = ModDefine::GridSelFirst, rowLast = ModDefine::GridSelLast;

    // Column table: offsets from the table's left edge; only the first
    // column's slot carries the extra 25 twips.
    QVector<Column> cols;
    int T = 0;
    for (int j = colFirst; j <= colLast; ++j) {
        Column c;
        c.offset = T;
        c.align = columnAlignCode(grid, j);
        c.width = grid.ColWidth(j);
        T += c.width + (j == colFirst ? 25 : 0);
        cols << c;
    }
    grid.setRedraw(true);

    Printer& p = Printer::instance();
    try {
        const double fontSize = gridFontSize(grid);
        p.setFontName(grid.font().family());
        p.setFontSize(fontSize);
        p.setFontBold(false);

        const QString range = QStringLiteral("第%1行至第%2行,第%3列至第%4列的记录吗")
                                  .arg(rowFirst)
                                  .arg(rowLast)
                                  .arg(colFirst)
                                  .arg(colLast);
        if (T > p.Width()) {
            if (platform::MsgBox(QStringLiteral("列宽太大,要缩小字体打印") + range,
                                 platform::mbYesNo | platform::mbQuestion, AppName) != platform::rYes)
                return;
            p.setFontSize(double(idiv((p.Width() - 100) * fontSize, T)));
            const double ratio = p.FontSize() / fontSize;
            for (Column& c : cols) {
                c.offset = cint16(ratio * c.offset);
                c.width = cint16(ratio * c.width);
            }
            T = cint16(ratio * T);
        } else if (platform::MsgBox(QStringLiteral("真的要打印") + range, platform::mbYesNo, AppName) !=
                   platform::rYes) {
            return;
        }

        int y0 = 0;
        if (PrnType) {
            y0 = cint(ModSwitch::GetVariant(kLocateKey, QStringLiteral("0")).trimmed().toDouble());
            if (y0 != 0) y0 += 200;
        } else {
            p.EndDoc();
        }

        const int W = p.Width();
        const int M = cint((W - T) / 2.0);
        const int H = cint(p.FontSize() * 22);
        const int pen = p.DrawWidth();
        const int P = H + 5 * pen;
        const qint64 R = idiv(p.Height() - 12 * P, P);
        if (R <= 0) throw platform::PrintError(QStringLiteral("纸张太小,一页印不下一行"));
        const qint64 n = qint64(rowLast) - rowFirst + 1;
        const qint64 pages = (n + R - 1) / R;

        // A continuous form ends where a cut sheet's rows end; a job that
        // would run past it goes on at the top of the next form.
        const int bottom = p.Height() - 12 * P;
        int forms = 1;
        if (PrnType && y0 != 0 && y0 + 4 * H + 5 * pen > bottom) {
            p.NewPage();
            ModSwitch::SetVariant(kLocateKey, QString());
            y0 = 0;
        }

        // Cleared once: nothing else prints while the job runs.
        bool cleared = false;
        auto clearLocate = [&] {
            if (cleared) return;
            ModSwitch::SetVariant(kLocateKey, QString());
            cleared = true;
        };
        auto rule = [&](int y) { p.Line(M - 25, y, M - 25 + T, y); };
        auto cells = [&](int y, int r, bool header) {
            for (const Column& c : cols) {
                PrintCell(M + c.offset - 50, y, QStringLiteral("|"), 4, 25, H);
                const QString text = grid.TextMatrix(header ? 0 : r, colFirst + int(&c - cols.constData())).trimmed();
                PrintCell(M + c.offset - 25, y, text, header ? 4 : c.align, c.width, H);
            }
            PrintCell(M + T - 25, y, QStringLiteral("|"), 0, 50, H);
        };

        int y = y0 + H;
        PrintCell(M + 25, y, title, 3, W - 2 * M, H);
        for (int r = rowFirst; r <= rowLast; ++r) {
            const qint64 k = r - rowFirst;
            // Cut sheets start at the top (y0 is 0), so each sheet's rows begin at k mod R = 0.
            bool header = r == rowFirst || (!PrnType && k % R == 0);
            if (PrnType && r != rowFirst && y + H > bottom) {
                p.NewPage();
                clearLocate();
                ++forms;
                y = 0;
                header = true;
            }
            if (header) {
                y = (r == rowFirst ? y : 0) + 2 * H;
                rule(y);
                y += 5 * pen;
                cells(y, 0, true);
            }
            y += H;
            rule(y);
            y += 5 * pen;
            cells(y, r, false);
            const bool last = r == rowLast;
            if (last || (!PrnType && (k + 1) % R == 0)) {
                y += H;
                rule(y);
                const qint64 page = PrnType ? forms : k / R + 1;
                const qint64 count = PrnType ? forms : pages;
                const QString foot = QStringLiteral("打印时间:") +
                                     platform::Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                                     QStringLiteral("   %1/%2页   操作员: ").arg(page).arg(count) + ModDefine::WorkerID;
                PrintCell(25, y + H, foot, 7, W - M - 200, H);
                if (!last) {
                    p.NewPage();
                    clearLocate();
                    y = 0;
                }
            }
        }
        if (!PrnType) p.EndDoc();
        ModSwitch::SetVariant(kLocateKey, PrnType ? QString::number(y) : QString());
    } catch (const std::exception& e) {
        try {
            p.KillDoc();
        } catch (...) {
        }
        platform::MsgBox(QStringLiteral("打印出错:") + platform::OperatorText(e), platform::mbOKOnly, AppName);
    }
}

}  // namespace printing
