#pragma once
// A station with its databases open, a printer that records (or writes PDF
// files), a fixed clock and worker "0000".
#include "core/Settings.h"
#include "platform/Clock.h"
#include "platform/FlexGrid.h"
#include "platform/Printer.h"
#include "platform/Prompts.h"
#include "printing/PrintGrid.h"
#include "printing/frmGridPrn.h"
#include "support/Fixtures.h"

#include <QProcess>

namespace printtest {

using platform::PrintRecord;

// Text of a PDF file as pdftotext reads it.
inline QString pdfText(const QString& file) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), file, QStringLiteral("-")});
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

class PrintTest : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        rec = &platform::testing::usePrintRecorder();
        printing::testing::setHasPrinter(true);
        printing::testing::setExecutableName(QStringLiteral("tarvo"));
        platform::testing::setNow([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 30, 5)); });
        WorkerID = QStringLiteral("0000");
        PrnType = false;
    }
    void TearDown() override {
        frmGridPrn::unload();
        platform::testing::resetPrinter();
        printing::testing::setHasPrinter(std::nullopt);
        printing::testing::setExecutableName(QString());
        StationDbTest::TearDown();
    }
    // A grid of `rows` data rows under the header `format`, in `points` type.
    static void fill(platform::FlexGrid& g, const QString& format, int rows, double points = 9) {
        QFont f = g.font();
        f.setPointSizeF(points);
        g.setFont(f);
        g.setFormatString(format);
        g.setRows(rows + 1);
        for (int r = 1; r <= rows; ++r)
            for (int c = 0; c < g.Cols(); ++c) g.setTextMatrix(r, c, QStringLiteral("r%1c%2").arg(r).arg(c));
    }
    QList<PrintRecord> texts(const QString& text) const {
        QList<PrintRecord> out;
        for (const PrintRecord& r : rec->records)
            if (r.kind == PrintRecord::Text && r.text == text) out << r;
        return out;
    }
    int count(PrintRecord::Kind kind) const {
        int n = 0;
        for (const PrintRecord& r : rec->records) n += r.kind == kind;
        return n;
    }
    QString lastTextStartingWith(const QString& head) const {
        for (int i = rec->records.size() - 1; i >= 0; --i)
            if (rec->records[i].kind == PrintRecord::Text && rec->records[i].text.startsWith(head))
                return rec->records[i].text;
        return {};
    }
    static QString locate() { return ModSwitch::GetVariant(printing::kLocateKey); }
    static QString pdfText(const QString& file) { return printtest::pdfText(file); }
    // The page count of a PDF file.
    static int pdfPages(const QString& file) {
        QProcess p;
        p.start(QStringLiteral("pdfinfo"), {file});
        p.waitForFinished(20000);
        for (const QString& l : QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n')))
            if (l.startsWith(QStringLiteral("Pages:"))) return l.mid(6).trimmed().toInt();
        return -1;
    }
    platform::PrintRecorder* rec = nullptr;
};

}  // namespace printtest
