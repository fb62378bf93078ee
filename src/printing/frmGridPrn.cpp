#include "printing/frmGridPrn.h"

#include "core/ModDefine.h"
#include "core/Settings.h"
#include "platform/Printer.h"
#include "printing/PrintGrid.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFont>
#include <cmath>

using platform::Printer;

namespace {

frmGridPrn* g_instance = nullptr;
QString g_exeName;

const QString kPlainKey = QStringLiteral("LocateY");

double pointsOf(const QWidget* w) {
    const QFont f = w->font();
    if (f.pointSizeF() > 0) return f.pointSizeF();
    return f.pixelSize() > 0 ? f.pixelSize() * 0.75 : 9;
}

void setPoints(QWidget* w, double size, bool bold) {
    QFont f = w->font();
    f.setPointSizeF(size);
    f.setBold(bold);
    w->setFont(f);
}

}  // namespace

namespace printing::testing {
void setExecutableName(const QString& name) { g_exeName = name; }
}  // namespace printing::testing

frmGridPrn& frmGridPrn::instance() {
    if (!g_instance) {
        g_instance = new frmGridPrn;
        g_instance->Form_Load();
    }
    return *g_instance;
}

bool frmGridPrn::exists() { return g_instance != nullptr; }

void frmGridPrn::unload() {
    delete g_instance;
    g_instance = nullptr;
}

frmGridPrn::~frmGridPrn() {
    if (g_instance == this) g_instance = nullptr;
}

frmGridPrn::frmGridPrn(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmGridPrn"));
    QFont song(QStringLiteral("宋体"));
    song.setPointSizeF(9);
    setFont(song);
    Label1 = new QLabel(this);
    Label2 = new QLabel(this);
    Label3 = new QLabel(this);
    Label4 = new QLabel(this);
    MSFlexGrid1 = new platform::FlexGrid(this);
}

void frmGridPrn::Form_Load() {
    // The detail grid is laid out for one call ticket in row 1.
    setPoints(MSFlexGrid1, 7, false);
    MSFlexGrid1->setFixedCols(0);
    MSFlexGrid1->setFormatString(QStringLiteral(
        "<主叫名称|>主叫分机|^帐号|对方号码         |<地名    |>通话日期            |>通话时长 |>帐户余额|>总话费  "
        "|>基本费  |>附加费1|>附加费2|>手续费|>IP接入费"));
    MSFlexGrid1->setRows(2);
    MSFlexGrid1->setFixedRows(1);
}

QString frmGridPrn::OwnPositionKey(const QString& exeName) {
    const QString kind = exeName.left(5);
    for (const char* k : {"Nubix", "Tarvo", "Pelda"})
        if (kind.compare(QLatin1String(k), Qt::CaseInsensitive) == 0) return QLatin1String(k) + kPlainKey;
    return QString();
}

QString frmGridPrn::ownKey() const {
    const QString name =
        g_exeName.isEmpty() ? QFileInfo(QCoreApplication::applicationFilePath()).fileName() : g_exeName;
    return OwnPositionKey(name);
}

bool frmGridPrn::SetPaperUserDef(bool userDef) {
    try {
        Printer& p = Printer::instance();
        if (userDef) {
            p.setPaperSize(platform::PaperUser);
            p.setWidth(11900);
            p.setHeight(100000);
        } else if (p.PaperSize() == platform::PaperUser) {
            p.setPaperSize(platform::PaperA4);
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void frmGridPrn::ClearFrm() {
    TitleLine1 = TitleLine2 = TitleLine3 = FootLine = nullptr;
}

bool frmGridPrn::Init(platform::FlexGrid* grid, int firstCol, int lastCol, int firstRow, int lastRow,
                      bool headerRow, bool titlesEveryPage) {
    try {
        bill_ = false;
        rowSpace_ = 100;
        blockGap_ = 200;
        if (!grid) throw platform::PrintError(QStringLiteral("没有要打印的表格"));
        PrintGridObj = grid;
        colFirst_ = firstCol;
        colLast_ = lastCol;
        rowFirst_ = firstRow;
        rowLast_ = lastRow;
        header_ = headerRow;
        titles_ = titlesEveryPage;
        page_ = 1;
        newPagePending_ = false;
        prnError_.clear();
        Printer::instance().setDrawWidth(2);
        const double stored =
            std::nearbyint(ModSwitch::GetVariant(printing::kLocateKey, QStringLiteral("0")).trimmed().toDouble());
        SetPage(stored != 0 ? stored + 200 : 200, 200, 200, 400);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void frmGridPrn::SetPage(int top, int bottom, int left, int right) {
    Printer& p = Printer::instance();
    platform::FlexGrid& g = *PrintGridObj;
    top_ = top;
    bottom_ = bottom;
    left_ = left;
    right_ = right;
    titleHeight_ = 0;
    for (QLabel* t : {TitleLine1, TitleLine2, TitleLine3}) {
        if (!t) continue;
        p.setFontSize(pointsOf(t));
        titleHeight_ += p.TextHeight(t->text()) + blockGap_;
    }
    footHeight_ = 0;
    if (FootLine) {
        p.setFontSize(pointsOf(FootLine));
        footHeight_ = 2 * (p.TextHeight(FootLine->text()) + blockGap_);
    }
    tableWidth_ = p.Width() - left - right;
    double widths = 0;
    for (int j = colFirst_; j <= colLast_; ++j) widths += g.ColWidth(j);
    if (widths <= 0) throw platform::PrintError(QStringLiteral("表格没有可打印的列"));
    scale_ = tableWidth_ / widths;

    p.setFontSize(pointsOf(&g));
    rowsHeight_ = header_ ? p.TextHeight(g.TextMatrix(0, 0)) : 0;
    for (int r = rowFirst_; r <= rowLast_; ++r) rowsHeight_ += p.TextHeight(g.TextMatrix(r, 0)) + rowSpace_;

    const double H = p.Height();
    firstBody_ = PrnType ? H - top - bottom - 2 * blockGap_
                         : H - titleHeight_ - footHeight_ - top - bottom - 2 * blockGap_;
    firstStart_ = titleHeight_ + top;
    if (titles_) {
        laterBody_ = firstBody_;
        laterStart_ = firstStart_;
    } else {
        laterBody_ = H - footHeight_ - top - 2 * bottom;
        laterStart_ = top;
    }
    if (PrnType) laterBody_ = firstBody_;

    if (rowsHeight_ > firstBody_) {
        if (firstBody_ <= 0 || laterBody_ <= 0) throw platform::PrintError(QStringLiteral("纸张太小,一页印不下表格"));
        // Without repeated titles the later pages are counted after the first.
        pageCount_ = titles_ ? int(std::ceil(rowsHeight_ / firstBody_))
                             : 1 + int(std::ceil((rowsHeight_ - firstBody_) / laterBody_));
    } else {
        pageCount_ = 1;
        if (p.PaperSize() == platform::PaperUser && !PrnType)
            p.setHeight(int(std::nearbyint(top + rowsHeight_ + bottom + titleHeight_ + footHeight_ + blockGap_)));
    }
}

void frmGridPrn::PrnGrid() {
    prnError_.clear();
    try {
        PrnTitle();
        if (header_) PrnRow(0);
        for (int r = rowFirst_; r <= rowLast_; ++r) PrnRow(r);
    } catch (const std::exception& e) {
        prnError_ = QString::fromUtf8(e.what());
    }
}

void frmGridPrn::printLabel(QLabel* label, bool bold) {
    Printer& p = Printer::instance();
    p.setFontSize(pointsOf(label));
    p.setFontBold(bold);
    p.Print(label->text());
    p.setCurrentX(left_);
    p.setCurrentY(p.CurrentY() + 200);
    if (PrnType) CheckRollEnd();
}

void frmGridPrn::PrnTitle() {
    Printer& p = Printer::instance();
    p.setCurrentX(left_);
    // On a continuous form the top margin already holds where the last job stopped.
    p.setCurrentY(top_);
    if (PrnType) CheckRollEnd();
    if (TitleLine1) printLabel(TitleLine1, true);
    if (TitleLine2) printLabel(TitleLine2, false);
    boxTop_ = p.CurrentY() - 100;
    boxLeft_ = left_;
    if (TitleLine3) printLabel(TitleLine3, false);
    if (bill_) p.setCurrentY(p.CurrentY() - 200);
    const double y = p.CurrentY();
    tableTop_ = y;
    p.Line(left_, y, left_ + tableWidth_, y);
    p.setCurrentX(left_);
    p.setCurrentY(y + 50);
    if (PrnType) CheckRollEnd();
}

void frmGridPrn::PrnRow(int r) {
    Printer& p = Printer::instance();
    platform::FlexGrid& g = *PrintGridObj;
    if (newPagePending_) {
        if (!PrnType) {
            p.NewPage();
            ModSwitch::SetVariant(printing::kLocateKey, QString());
        }
        newPagePending_ = false;
        if (titles_) PrnTitle();
        if (header_) PrnRow(0);
    }
    p.setFontSize(pointsOf(&g));
    p.setFontBold(false);
    double x = left_;
    const double y0 = p.CurrentY();
    for (int j = colFirst_; j <= colLast_; ++j) {
        const double w = g.ColWidth(j) * scale_;
        const QString text = g.TextArray(r * g.Cols() + j);
        p.setCurrentX(x + qMax(0.0, (w - p.TextWidth(text)) / 2));
        p.setCurrentY(y0);
        p.Print(text);
        x += w;
    }
    const double h = p.TextHeight(g.TextMatrix(r, 0));
    tableRight_ = left_ + tableWidth_;
    lastRule_ = y0 + h + 50;
    p.Line(left_, lastRule_, tableRight_, lastRule_);
    p.setCurrentX(left_);
    p.setCurrentY(y0 + h + 100);

    const double y = p.CurrentY();
    bool full;
    if (!PrnType) full = page_ == 1 ? y >= firstStart_ + firstBody_ : y >= laterStart_ + laterBody_;
    else full = y >= formBottom() - 1200;
    if (r == rowLast_ || full) {
        double vx = left_;
        p.Line(vx, tableTop_, vx, lastRule_);
        for (int j = colFirst_; j <= colLast_; ++j) {
            vx += g.ColWidth(j) * scale_;
            const double at = j == colLast_ ? left_ + tableWidth_ - 2 * p.DrawWidth() : vx;
            p.Line(at, tableTop_, at, lastRule_);
        }
        PrnFoot();
        newPagePending_ = true;
        if (PrnType && p.CurrentY() >= formBottom() - 1200) {
            // The form is full: it goes out, and the next job starts a fresh one.
            const QString own = ownKey();
            if (!own.isEmpty()) ModSwitch::SetVariant(own, QString());
            p.EndDoc();
            top_ = 200;
            return;
        }
    }
    if (PrnType) {
        const QString pos = QString::number(double(float(p.CurrentY())), 'g', 7);
        const QString own = ownKey();
        if (!own.isEmpty()) ModSwitch::SetVariant(own, pos);
        ModSwitch::SetVariant(kPlainKey, pos);
    }
}

void frmGridPrn::PrnFoot() {
    Printer& p = Printer::instance();
    p.setCurrentY(p.CurrentY() + 200);
    if (FootLine) {
        p.setCurrentX(left_);
        p.setFontSize(pointsOf(FootLine));
        p.setFontBold(false);
        p.Print(FootLine->text());
    }
    if (pageCount_ > 1) {
        const QString t = QStringLiteral("第%1/%2页").arg(page_).arg(pageCount_);
        p.setCurrentX(left_ + (tableWidth_ - p.TextWidth(t)) / 2);
        p.Print(t);
    }
    ++page_;
}

void frmGridPrn::CheckRollEnd() {
    Printer& p = Printer::instance();
    if (!PrnType || p.CurrentY() < formBottom()) return;
    const QString own = ownKey();
    if (!own.isEmpty()) ModSwitch::SetVariant(own, QString());
    p.EndDoc();
    top_ = 200;
    p.setCurrentY(top_);
}

// Where a continuous form's printable part ends, measured from the form's top.
// A form that is ended goes out; the next one starts at the top margin.
double frmGridPrn::formBottom() const { return Printer::instance().Height() - bottom_ - 2 * blockGap_; }

bool frmGridPrn::SetGridBill() {
    setPoints(Label1, 12, true);
    setPoints(Label2, 9, true);
    setPoints(Label3, 12, true);
    setPoints(Label4, 9, true);
    platform::FlexGrid& g = *MSFlexGrid1;
    setPoints(&g, 7, false);
    g.setCols(4);
    g.setRows(6);
    g.setFixedRows(0);
    g.setFixedCols(0);
    static const char* const kNames[6][2] = {{"国际长途", "国际地区"}, {"国内长途", "省内长途"},
                                             {"信 息 台", "郊    县"}, {"市    话", "移动通讯"},
                                             {"IP电话", "本     机"},  {"月租费", "总话费"}};
    for (int r = 0; r < 6; ++r) {
        g.setTextMatrix(r, 0, QString::fromUtf8(kNames[r][0]));
        g.setTextMatrix(r, 1, QString());
        g.setTextMatrix(r, 2, QString::fromUtf8(kNames[r][1]));
        g.setTextMatrix(r, 3, QString());
    }
    const bool ok = Init(&g, 0, 3, 0, 5, false, true);
    bill_ = true;
    return ok;
}

void frmGridPrn::DrawBox() {
    Printer& p = Printer::instance();
    p.setDrawWidth(4);
    p.Line(boxLeft_, tableTop_, tableRight_, tableTop_);
    p.Line(tableRight_, tableTop_, tableRight_, lastRule_);
    p.Line(tableRight_, lastRule_, boxLeft_, lastRule_);
    p.Line(boxLeft_, lastRule_, boxLeft_, tableTop_);
    p.setDrawWidth(2);
}

int frmGridPrn::GetInsertSpace(QLabel* label, const QString& left, const QString& right) {
    try {
        Printer& p = Printer::instance();
        p.setFontSize(pointsOf(label));
        const double blank = p.TextWidth(QStringLiteral(" "));
        if (blank <= 0) return 0;
        const double n = std::nearbyint((7400 - p.TextWidth(left) - p.TextWidth(right)) / blank);
        return int(qBound(0.0, n, 32767.0));
    } catch (const std::exception&) {
        return 0;
    }
}
