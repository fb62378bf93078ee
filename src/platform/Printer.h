#pragma once
// The station's one printer, in the model its print code is written for:
// lengths in twips, a current print position, text and lines, new page, end
// and cancel of the document, and the paper size. What it draws goes to a
// system printer or a PDF file (QPainter on a QPrinter), or, in tests, to a
// recorder that keeps every text and line with its exact position.
//
// A document begins with the first thing drawn and stays open, in memory,
// until EndDoc or KillDoc: a continuous form can collect several jobs.
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <stdexcept>

namespace platform {

// A printer failure; what() is the description shown to the operator.
class PrintError : public std::runtime_error {
public:
    explicit PrintError(const QString& description) : std::runtime_error(description.toStdString()) {}
    QString description() const { return QString::fromStdString(what()); }
};

// Paper sizes as the print code numbers them.
enum PaperSize { PaperA4 = 9, PaperUser = 256 };
constexpr int kA4WidthTwips = 11906;
constexpr int kA4HeightTwips = 16838;

// One thing the printer did, as the recorder keeps it.
struct PrintRecord {
    enum Kind { Text, Line, NewPage, EndDoc, KillDoc };
    Kind kind = Text;
    int doc = 0;    // document number, from 1
    int page = 0;   // page within the document, from 1
    double x = 0, y = 0, x2 = 0, y2 = 0;   // twips: a text's top left, a line's ends
    QString text;
    QString fontName;
    double fontSize = 0;
    bool bold = false;
    int drawWidth = 0;
    int pageWidth = 0, pageHeight = 0;     // paper of the page drawn on
};

class PrintSurface;

class Printer {
public:
    static Printer& instance();
    ~Printer();

    // Paper, in twips. Setting a length makes the paper user-defined; setting
    // A4 gives its lengths back. A change applies from the next page begun.
    int Width() const { return width_; }
    void setWidth(int twips);
    int Height() const { return height_; }
    void setHeight(int twips);
    int PaperSize() const { return paperSize_; }
    void setPaperSize(int size);
    // The paper as a whole (size and lengths), to be put back as it was.
    struct Paper {
        int size = PaperA4, width = kA4WidthTwips, height = kA4HeightTwips;
    };
    Paper paper() const { return {paperSize_, width_, height_}; }
    void setPaper(const Paper& paper);

    QString FontName() const { return fontName_; }
    void setFontName(const QString& name);
    double FontSize() const { return fontSize_; }
    void setFontSize(double points);
    bool FontBold() const { return bold_; }
    void setFontBold(bool on) { bold_ = on; }
    // Pen width in device pixels (600 to the inch).
    int DrawWidth() const { return drawWidth_; }
    void setDrawWidth(int pixels) { drawWidth_ = qMax(1, pixels); }

    double CurrentX() const { return x_; }
    void setCurrentX(double twips) { x_ = twips; }
    double CurrentY() const { return y_; }
    void setCurrentY(double twips) { y_ = twips; }

    // Size of a text in the current font, in twips.
    double TextWidth(const QString& text);
    double TextHeight(const QString& text);

    // Prints the text with its top left at the print position and ends the
    // line: the position moves to the left edge, one text height down.
    void Print(const QString& text);
    // A line in the current pen width; the print position moves to its end.
    void Line(double x1, double y1, double x2, double y2);
    void NewPage();
    // Ends the document and sends it on. A document that failed on the way
    // reports its failure here. Nothing happens when no document is open.
    void EndDoc();
    // Cancels the open document; what it held is not printed.
    void KillDoc();

    bool documentOpen() const;
    // The open document failed; only EndDoc or KillDoc clear that.
    bool failed() const { return !failed_.isEmpty(); }
    int Page() const { return page_; }   // page being drawn, 1 for the first

    // Drops any open document and goes back to the defaults (A4, "宋体" 9 pt, pen 1).
    void reset();
    // Where documents go; the printer takes the surface over.
    void setSurface(std::unique_ptr<PrintSurface> surface);
    PrintSurface& surface() { return *surface_; }

    // Tests: the `ops`-th drawing operation from now fails with `description`,
    // and so does every one after it until the document ends (-1: never).
    void failAfter(int ops, const QString& description);

private:
    Printer();
    void draw();   // a drawing operation is about to run: begin, count, fail
    int width_ = kA4WidthTwips, height_ = kA4HeightTwips, paperSize_ = PaperA4;
    QString fontName_;
    double fontSize_ = 9;
    bool bold_ = false;
    int drawWidth_ = 1;
    double x_ = 0, y_ = 0;
    int page_ = 1;
    bool pagePending_ = false;   // NewPage given; the page begins with its first drawing
    QString failed_;             // why the open document failed
    int failIn_ = -1;
    QString failText_;
    std::unique_ptr<PrintSurface> surface_;
};

// Held by a print job that sets the paper it needs (a ticket cut to its
// call, a narrow voucher): when the job ends, however it ends, the printer's
// paper is put back as the job found it, so the next job of another kind
// prints on the paper it expects.
class KeepPaper {
public:
    KeepPaper() : saved_(Printer::instance().paper()) {}
    ~KeepPaper() { Printer::instance().setPaper(saved_); }
    KeepPaper(const KeepPaper&) = delete;
    KeepPaper& operator=(const KeepPaper&) = delete;

private:
    Printer::Paper saved_;
};

// What a printer draws on. Lengths in twips, fonts as name, points and bold.
class PrintSurface {
public:
    virtual ~PrintSurface() = default;
    virtual bool isOpen() const = 0;
    virtual void begin(int width, int height) = 0;      // a new document's first page
    virtual void newPage(int width, int height) = 0;
    virtual void text(double x, double y, const QString& text, const QString& font, double size, bool bold) = 0;
    virtual void line(double x1, double y1, double x2, double y2, int drawWidth) = 0;
    virtual void end() = 0;
    virtual void abort() = 0;
    virtual double textWidth(const QString& text, const QString& font, double size, bool bold) = 0;
    virtual double textHeight(const QString& font, double size, bool bold) = 0;
};

// Draws with QPainter on a QPrinter: the system's default printer, or, when
// `pdfDir` is given, one PDF file per document in that folder.
std::unique_ptr<PrintSurface> makePainterSurface(const QString& pdfDir = QString());

// Keeps everything drawn. Its metrics are fixed so that positions are exact:
// a text is size × 25 twips high; a character is size × 10 twips wide, a
// wide (CJK) character size × 20.
class PrintRecorder : public PrintSurface {
public:
    bool isOpen() const override { return open_; }
    void begin(int width, int height) override;
    void newPage(int width, int height) override;
    void text(double x, double y, const QString& text, const QString& font, double size, bool bold) override;
    void line(double x1, double y1, double x2, double y2, int drawWidth) override;
    void end() override;
    void abort() override;
    double textWidth(const QString& text, const QString& font, double size, bool bold) override;
    double textHeight(const QString& font, double size, bool bold) override;

    QList<PrintRecord> records;
    int documents = 0;   // documents begun
    int ended = 0;       // documents ended with EndDoc

private:
    bool open_ = false;
    int page_ = 0, width_ = 0, height_ = 0;
};

// The font that "宋体" and any family without Chinese glyphs fall back to.
QString cjkFontFamily();

namespace testing {
// The printer records instead of printing; returns the recorder.
PrintRecorder& usePrintRecorder();
// Documents become numbered PDF files in `dir` ("print-0001.pdf", ...).
void printToPdfDir(const QString& dir);
// The PDF files written so far by printToPdfDir, oldest first.
QStringList printedPdfFiles();
// Back to the system printer, nothing open, defaults.
void resetPrinter();
}  // namespace testing

}  // namespace platform
