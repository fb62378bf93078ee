#include "platform/Printer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHash>
#include <QPageSize>
#include <QPainter>
#include <QPen>
#include <QPrinter>

namespace platform {

namespace {

const QString kDefaultFont = QStringLiteral("宋体");

QStringList& pdfFiles() {
    static QStringList files;
    return files;
}

// A device pixel of the pen: 600 to the inch, 2.4 twips.
constexpr double kTwipsPerPenPixel = 1440.0 / 600.0;

class PainterSurface : public PrintSurface {
public:
    explicit PainterSurface(const QString& pdfDir) : pdfDir_(pdfDir) {}
    ~PainterSurface() override {
        if (!painter_->isActive()) return;
        if (QCoreApplication::instance()) {
            painter_->end();
        } else {
            // Past the application's end nothing can be drawn any more: a
            // document still open then is dropped, not half written.
            (void)painter_.release();
            (void)printer_.release();
        }
    }
    bool isOpen() const override { return painter_->isActive(); }

    void begin(int width, int height) override {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        file_.clear();
        if (!pdfDir_.isEmpty()) {
            QDir().mkpath(pdfDir_);
            file_ = QDir(pdfDir_).filePath(QStringLiteral("print-%1.pdf").arg(pdfFiles().size() + 1, 4, 10, QLatin1Char('0')));
            printer_->setOutputFormat(QPrinter::PdfFormat);
            printer_->setOutputFileName(file_);
        }
        printer_->setResolution(600);
        printer_->setFullPage(true);
        setPage(width, height);
        if (!painter_->begin(printer_.get())) {
            printer_.reset();
            throw PrintError(file_.isEmpty() ? QStringLiteral("打印机不能开始打印")
                                             : QStringLiteral("不能写入打印文件 %1").arg(file_));
        }
        if (!file_.isEmpty()) pdfFiles() << file_;
        const double s = printer_->resolution() / 1440.0;
        painter_->scale(s, s);
    }
    void newPage(int width, int height) override {
        setPage(width, height);
        if (!printer_->newPage()) throw PrintError(QStringLiteral("打印机不能换页"));
    }
    void text(double x, double y, const QString& t, const QString& font, double size, bool bold) override {
        const Metrics& m = metrics(font, size, bold);
        painter_->setFont(m.font);
        painter_->drawText(QPointF(x, y + m.fm.ascent()), t);
    }
    void line(double x1, double y1, double x2, double y2, int drawWidth) override {
        QPen pen(Qt::black);
        pen.setWidthF(drawWidth * kTwipsPerPenPixel);
        painter_->setPen(pen);
        painter_->drawLine(QPointF(x1, y1), QPointF(x2, y2));
    }
    void end() override {
        const bool ok = painter_->end();
        printer_.reset();
        if (!ok) throw PrintError(QStringLiteral("打印文档未能送出"));
    }
    void abort() override {
        if (printer_) printer_->abort();
        if (painter_->isActive()) painter_->end();
        printer_.reset();
        if (!file_.isEmpty()) {
            QFile::remove(file_);
            pdfFiles().removeAll(file_);
        }
    }
    double textWidth(const QString& t, const QString& font, double size, bool bold) override {
        return metrics(font, size, bold).fm.horizontalAdvance(t);
    }
    double textHeight(const QString& font, double size, bool bold) override {
        return metrics(font, size, bold).fm.height();
    }

private:
    struct Metrics {
        QFont font;
        QFontMetricsF fm;
    };
    void setPage(int width, int height) {
        const QPageSize size(QSizeF(width / 20.0, height / 20.0), QPageSize::Point, QString(), QPageSize::ExactMatch);
        printer_->setPageLayout(QPageLayout(size, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
    }
    // Fonts are sized in twips: the painter's unit is one twip.
    const Metrics& metrics(const QString& name, double size, bool bold) {
        if (last_ && lastName_ == name && lastSize_ == size && lastBold_ == bold) return *last_;
        const QString key = QStringLiteral("%1|%2|%3").arg(name).arg(size).arg(bold);
        auto it = cache_.find(key);
        if (it == cache_.end()) it = cache_.insert(key, makeMetrics(name, size, bold));
        last_ = &*it;
        lastName_ = name;
        lastSize_ = size;
        lastBold_ = bold;
        return *last_;
    }
    Metrics makeMetrics(const QString& name, double size, bool bold) {
        QFont f;
        const QString cjk = cjkFontFamily();
        if (name.isEmpty() || name == kDefaultFont) f.setFamilies({cjk});
        else f.setFamilies({name, cjk});
        f.setPixelSize(qMax(1, qRound(size * 20)));
        f.setBold(bold);
        return Metrics{f, QFontMetricsF(f)};
    }
    QString pdfDir_;
    QString file_;
    std::unique_ptr<QPrinter> printer_;
    std::unique_ptr<QPainter> painter_ = std::make_unique<QPainter>();
    QHash<QString, Metrics> cache_;
    // The metrics asked for last; re-pointed after every insertion, which may move entries.
    const Metrics* last_ = nullptr;
    QString lastName_;
    double lastSize_ = 0;
    bool lastBold_ = false;
};

}  // namespace

QString cjkFontFamily() {
    static const QString family = [] {
        // Preferred: a font whose shared glyphs still carry the common
        // character, so text copied out of a PDF reads as it was printed.
        const QStringList families = QFontDatabase::families();
        for (const char* f : {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Serif CJK SC"})
            if (families.contains(QString::fromLatin1(f))) return QString::fromLatin1(f);
        return QString();
    }();
    return family;
}

std::unique_ptr<PrintSurface> makePainterSurface(const QString& pdfDir) {
    return std::make_unique<PainterSurface>(pdfDir);
}

// ---------------------------------------------------------------- recorder

void PrintRecorder::begin(int width, int height) {
    open_ = true;
    ++documents;
    page_ = 1;
    width_ = width;
    height_ = height;
}

void PrintRecorder::newPage(int width, int height) {
    PrintRecord r;
    r.kind = PrintRecord::NewPage;
    r.doc = documents;
    r.page = ++page_;
    r.pageWidth = width_ = width;
    r.pageHeight = height_ = height;
    records << r;
}

void PrintRecorder::text(double x, double y, const QString& t, const QString& font, double size, bool bold) {
    PrintRecord r;
    r.kind = PrintRecord::Text;
    r.doc = documents;
    r.page = page_;
    r.x = x;
    r.y = y;
    r.text = t;
    r.fontName = font;
    r.fontSize = size;
    r.bold = bold;
    r.pageWidth = width_;
    r.pageHeight = height_;
    records << r;
}

void PrintRecorder::line(double x1, double y1, double x2, double y2, int drawWidth) {
    PrintRecord r;
    r.kind = PrintRecord::Line;
    r.doc = documents;
    r.page = page_;
    r.x = x1;
    r.y = y1;
    r.x2 = x2;
    r.y2 = y2;
    r.drawWidth = drawWidth;
    r.pageWidth = width_;
    r.pageHeight = height_;
    records << r;
}

void PrintRecorder::end() {
    PrintRecord r;
    r.kind = PrintRecord::EndDoc;
    r.doc = documents;
    r.page = page_;
    records << r;
    open_ = false;
    ++ended;
}

void PrintRecorder::abort() {
    PrintRecord r;
    r.kind = PrintRecord::KillDoc;
    r.doc = documents;
    r.page = page_;
    records << r;
    open_ = false;
}

double PrintRecorder::textWidth(const QString& t, const QString&, double size, bool) {
    double w = 0;
    for (const QChar c : t) w += c.unicode() >= 0x2E80 ? size * 20 : size * 10;
    return w;
}

double PrintRecorder::textHeight(const QString&, double size, bool) { return size * 25; }

// ---------------------------------------------------------------- the printer

Printer& Printer::instance() {
    static Printer p;
    return p;
}

Printer::Printer() : fontName_(kDefaultFont), surface_(makePainterSurface()) {}
Printer::~Printer() = default;

void Printer::setWidth(int twips) {
    width_ = twips;
    paperSize_ = PaperUser;
}

void Printer::setHeight(int twips) {
    height_ = twips;
    paperSize_ = PaperUser;
}

void Printer::setPaperSize(int size) {
    if (size == PaperA4) {
        width_ = kA4WidthTwips;
        height_ = kA4HeightTwips;
    } else if (size != PaperUser) {
        throw PrintError(QStringLiteral("打印机不支持纸张规格 %1").arg(size));
    }
    paperSize_ = size;
}

void Printer::setPaper(const Paper& paper) {
    paperSize_ = paper.size;
    width_ = paper.width;
    height_ = paper.height;
}

void Printer::setFontName(const QString& name) { fontName_ = name.isEmpty() ? kDefaultFont : name; }

// The device has no type smaller than one point.
void Printer::setFontSize(double points) { fontSize_ = qMax(1.0, points); }

double Printer::TextWidth(const QString& text) { return surface_->textWidth(text, fontName_, fontSize_, bold_); }
double Printer::TextHeight(const QString&) { return surface_->textHeight(fontName_, fontSize_, bold_); }

void Printer::draw() {
    if (!failed_.isEmpty()) throw PrintError(failed_);
    if (failIn_ >= 0) {
        if (failIn_ == 0) {
            failIn_ = -1;
            failed_ = failText_;
            throw PrintError(failed_);
        }
        --failIn_;
    }
    try {
        if (!surface_->isOpen()) {
            surface_->begin(width_, height_);
            page_ = 1;
            pagePending_ = false;
        } else if (pagePending_) {
            surface_->newPage(width_, height_);
            pagePending_ = false;
        }
    } catch (const PrintError& e) {
        failed_ = e.description();
        throw;
    }
}

void Printer::Print(const QString& text) {
    draw();
    surface_->text(x_, y_, text, fontName_, fontSize_, bold_);
    x_ = 0;
    y_ += TextHeight(text);
}

void Printer::Line(double x1, double y1, double x2, double y2) {
    draw();
    surface_->line(x1, y1, x2, y2, drawWidth_);
    x_ = x2;
    y_ = y2;
}

void Printer::NewPage() {
    x_ = 0;
    y_ = 0;
    if (!surface_->isOpen()) return;   // nothing drawn yet: the first page is still blank
    if (pagePending_) surface_->newPage(width_, height_);   // the page before stays blank
    pagePending_ = true;
    ++page_;
}

void Printer::EndDoc() {
    x_ = 0;
    y_ = 0;
    page_ = 1;
    pagePending_ = false;
    if (!failed_.isEmpty()) {
        const QString why = failed_;
        failed_.clear();
        if (surface_->isOpen()) surface_->abort();
        throw PrintError(why);
    }
    if (surface_->isOpen()) surface_->end();
}

void Printer::KillDoc() {
    x_ = 0;
    y_ = 0;
    page_ = 1;
    pagePending_ = false;
    failed_.clear();
    if (surface_->isOpen()) surface_->abort();
}

bool Printer::documentOpen() const { return surface_->isOpen(); }

void Printer::reset() {
    if (surface_->isOpen()) surface_->abort();
    width_ = kA4WidthTwips;
    height_ = kA4HeightTwips;
    paperSize_ = PaperA4;
    fontName_ = kDefaultFont;
    fontSize_ = 9;
    bold_ = false;
    drawWidth_ = 1;
    x_ = y_ = 0;
    page_ = 1;
    pagePending_ = false;
    failed_.clear();
    failIn_ = -1;
}

void Printer::setSurface(std::unique_ptr<PrintSurface> surface) {
    if (surface_ && surface_->isOpen()) surface_->abort();
    surface_ = std::move(surface);
}

void Printer::failAfter(int ops, const QString& description) {
    failIn_ = ops;
    failText_ = description;
}

namespace testing {

PrintRecorder& usePrintRecorder() {
    auto rec = std::make_unique<PrintRecorder>();
    PrintRecorder& r = *rec;
    Printer::instance().reset();
    Printer::instance().setSurface(std::move(rec));
    return r;
}

void printToPdfDir(const QString& dir) {
    Printer::instance().reset();
    Printer::instance().setSurface(makePainterSurface(dir));
    pdfFiles().clear();
}

QStringList printedPdfFiles() { return pdfFiles(); }

void resetPrinter() {
    Printer::instance().reset();
    Printer::instance().setSurface(makePainterSurface());
    pdfFiles().clear();
}

}  // namespace testing

}  // namespace platform
