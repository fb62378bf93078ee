#include "billing/frmFeeDetail.h"

#include "billing/ArchiveBills.h"
#include "billing/ConvertToJianKong.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/ModUpgrade.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "platform/GridText.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QMouseEvent>
#include <QRegularExpression>
#include <memory>

using platform::Currency;
using platform::Database;
using platform::DbError;

namespace billing {

namespace {

std::unique_ptr<frmFeeDetail> g_instance;

const QString kHeader = QStringLiteral(">年月名称           |>话费金额                 ");
// Schema names under which an archive is attached while it is read.
const QString kReportSchema = QStringLiteral("feedetail_year");
const QString kExportSchema = QStringLiteral("feedetail_src");

std::function<QAction*(QMenu*)>& popupRunner() {
    static std::function<QAction*(QMenu*)> r;
    return r;
}

// The site's directory under the root data directory, "" when there is none.
// A name that is not a plain directory name never reaches outside it.
QString siteDirectory(const QString& siteName) {
    if (siteName.trimmed().isEmpty() || siteName == QLatin1String(".") || siteName == QLatin1String("..") ||
        siteName.contains(QLatin1Char('/')) || siteName.contains(QLatin1Char('\\')))
        return {};
    const QString root = platform::resolveCI(AppPath, QStringLiteral("data"));
    const QString dir = platform::resolveCI(root, siteName);
    return QFileInfo(dir).isDir() ? dir : QString();
}

// A year file of a site, opened for as long as it is read. While the
// station's connection is free the file is attached to it, so that the site
// in use keeps one connection for each of its files.
Database openArchive(const QString& path, const QString& schema) {
    if (dbSwitch.isOpen() && !dbSwitch.inTransaction() && dbSwitch.autocommit())
        return dbSwitch.attach(path, schema);
    return Database::open(path);
}

struct CloseOnExit {
    Database& db;
    ~CloseOnExit() {
        try {
            db.close();
        } catch (const DbError&) {
        }
    }
};

void report(const QString& text) { platform::MsgBox(text, platform::mbOKOnly, ModDefine::AppName); }

}  // namespace

namespace testing {
void setPopupRunner(std::function<QAction*(QMenu*)> runner) { popupRunner() = std::move(runner); }
}  // namespace testing

frmFeeDetail& frmFeeDetail::instance() {
    if (!g_instance) g_instance.reset(new frmFeeDetail);
    return *g_instance;
}
bool frmFeeDetail::exists() { return static_cast<bool>(g_instance); }

void frmFeeDetail::unload() {
    if (!g_instance) return;
    // An export on the stack still uses the window; it stays until that ends.
    if (g_instance->m_Busy) return;
    g_instance->releaseOpener();
    g_instance.reset();
}

frmFeeDetail::frmFeeDetail(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmFeeDetail"));
    // Kept above the site window, and shown without taking the focus from it.
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    fgDetail = new platform::FlexGrid(this);
    fgDetail->setObjectName(QStringLiteral("fgDetail"));
    fgDetail->setFormatString(kHeader);
    fgDetail->setFixedCols(1);
    fgDetail->viewport()->installEventFilter(this);
    popImport = new QMenu(this);
    popImport->setObjectName(QStringLiteral("popImport"));
    mnuImport = popImport->addAction(QStringLiteral("导出选定月份话单到话单库..."));
    mnuImport->setObjectName(QStringLiteral("mnuImport"));
    connect(mnuImport, &QAction::triggered, this, [this] { mnuImport_Click(); });
    resize(420, 480);
}

void frmFeeDetail::holdOpener() {
    // The site window waits while its report is open.
    if (m_Opener) return;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != this && w->objectName() == QLatin1String("frmTerminal")) {
            m_Opener = w;
            w->setEnabled(false);
            break;
        }
    }
}

frmFeeDetail::~frmFeeDetail() = default;

void frmFeeDetail::releaseOpener() {
    if (m_Opener) m_Opener->setEnabled(true);
    m_Opener.clear();
}

void frmFeeDetail::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (isMinimized()) return;
    // 150 twips from the left and top, 450 and 650 twips less than the window.
    fgDetail->setGeometry(platform::px(150), platform::px(150), qMax(0, width() - platform::px(450)),
                          qMax(0, height() - platform::px(650)));
}

void frmFeeDetail::closeEvent(QCloseEvent* e) {
    if (m_Busy) {
        e->ignore();
        return;
    }
    e->accept();
    releaseOpener();
}

bool frmFeeDetail::eventFilter(QObject* o, QEvent* e) {
    if (o == fgDetail->viewport() && e->type() == QEvent::MouseButtonPress) {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() == Qt::RightButton) {
            fgDetail_MouseDown(Qt::RightButton);
            return true;
        }
    }
    return QWidget::eventFilter(o, e);
}

void frmFeeDetail::ShowDetail(const QString& siteName) {
    frmFeeDetail& w = instance();
    if (w.m_Busy) {
        w.raise();
        return;
    }
    w.holdOpener();
    w.fill(siteName);
    w.show();
}

void frmFeeDetail::clearGrid() {
    fgDetail->setRows(1);
    fgDetail->setRows(2);
    fgDetail->setFormatString(kHeader);
    fgDetail->setRow(1);
    fgDetail->setCol(0);
}

void frmFeeDetail::fill(const QString& siteName) {
    m_SiteName = siteName;
    m_SiteDir = siteDirectory(siteName);
    fgDetail->setRedraw(false);
    clearGrid();
    QStringList unreadable;
    if (!m_SiteDir.isEmpty()) {
        // One file a year; names told apart without regard to letter case.
        static const QRegularExpression archiveName(QStringLiteral("^phbill_(\\d{4})\\.mdb$"),
                                                    QRegularExpression::CaseInsensitiveOption);
        QMap<int, QString> files;
        for (const QString& f : QDir(m_SiteDir).entryList(QDir::Files, QDir::Name)) {
            const QRegularExpressionMatch m = archiveName.match(f);
            if (m.hasMatch() && !files.contains(m.captured(1).toInt())) files.insert(m.captured(1).toInt(), f);
        }
        Currency total;
        for (auto it = files.constEnd(); it != files.constBegin();) {
            --it;
            const QString year = it.value().mid(7, 4);
            QStringList rows;
            Currency yearSum;
            try {
                Database db = openArchive(m_SiteDir + QLatin1Char('/') + it.value(), kReportSchema);
                CloseOnExit closer{db};
                for (int month = 12; month >= 1; --month) {
                    const QString table = db.actualTableName(MonthTableName(month));
                    if (table.isEmpty()) continue;
                    const QVariant sum = db.scalar(
                        QStringLiteral("SELECT sum(f_Moneny+f_addfee1+f_addfee2+f_gatefee+f_linkfee) FROM %1")
                            .arg(db.qualified(table)));
                    const Currency amount = Currency::fromRaw(sum.isNull() ? 0 : sum.toLongLong());
                    yearSum += amount;
                    rows << platform::GridLine(
                        {year + QLatin1Char('-') + QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0')),
                         sum.isNull() ? QString() : amount.toString2()});
                }
            } catch (const DbError& e) {
                // The year is left out of the report, and the operator told so.
                unreadable << it.value() + QStringLiteral(": ") + platform::OperatorText(e);
                continue;
            }
            for (const QString& r : rows) fgDetail->AddItem(r);
            fgDetail->AddItem(platform::GridLine({year + QStringLiteral("年小计:"), yearSum.toString2()}));
            total += yearSum;
        }
        if (fgDetail->Rows() >= 3) {
            fgDetail->RemoveItem(1);
            fgDetail->AddItem(platform::GridLine({siteName + QStringLiteral("总计:"), total.toString2()}));
        }
    }
    fgDetail->setRedraw(true);
    setWindowTitle(QStringLiteral("查看") + siteName + QStringLiteral("年月话费信息"));
    if (!unreadable.isEmpty())
        report(QStringLiteral("以下话单库无法打开,未计入总计:\n") + unreadable.join(QLatin1Char('\n')));
}

void frmFeeDetail::fgDetail_MouseDown(Qt::MouseButton button) {
    if (button != Qt::RightButton || m_Busy) return;
    if (fgDetail->TextMatrix(1, 0).isEmpty()) return;
    if (popupRunner()) {
        QAction* a = popupRunner()(popImport);
        if (a && a->isEnabled()) a->trigger();
        return;
    }
    popImport->exec(QCursor::pos());
}

void frmFeeDetail::mnuImport_Click() {
    if (m_Busy) return;
    QString target = platform::SaveFileName(QStringLiteral("导出话单"), QStringLiteral("Access数据库文件 (*.mdb)"),
                                            QString(), false);
    if (target.isEmpty()) return;
    if (QFileInfo(target).suffix().isEmpty()) target += QStringLiteral(".mdb");
    const bool created = !QFileInfo::exists(target);

    m_Busy = true;
    struct Busy {
        frmFeeDetail* w;
        ~Busy() {
            w->unsetCursor();
            w->fgDetail->unsetCursor();
            w->m_Busy = false;
        }
    } busy{this};
    Database dst;
    try {
        dst = created ? Database::create(target) : Database::open(target);
    } catch (const DbError& e) {
        report(QStringLiteral("无法打开导出文件") + target + QStringLiteral(":\n") + platform::OperatorText(e));
        return;
    }
    CloseOnExit closeTarget{dst};
    // The export itself does not tell whether it could make its table.
    if (ModUpgrade::CreateTable(dst, QStringLiteral("JianKong"), false) == 0 ||
        dst.actualTableName(QStringLiteral("JianKong")).isEmpty()) {
        report(QStringLiteral("无法在导出文件") + target + QStringLiteral("中建立JianKong表"));
        if (created) {
            dst.close();
            QFile::remove(target);
        }
        return;
    }

    setCursor(Qt::WaitCursor);
    fgDetail->setCursor(Qt::WaitCursor);
    ModGeneral::Delay(10);

    int colFirst = 0, colLast = 0;
    ModGeneral::GetGridSel(*fgDetail, false, colFirst, colLast);
    static const QRegularExpression monthRow(QStringLiteral("^(\\d{4})-(\\d{2})$"));
    QStringList months;
    for (int r = GridSelFirst; r <= GridSelLast; ++r) {
        if (r < fgDetail->FixedRows()) continue;
        const QString first = fgDetail->TextMatrix(r, 0);
        if (monthRow.match(first).hasMatch()) months << first;
    }
    Database src;
    CloseOnExit closeSource{src};
    QString srcYear;
    for (const QString& m : months) {
        const QString year = m.left(4);
        try {
            if (year != srcYear) {
                src.close();
                srcYear.clear();
                const QString path = platform::resolveCI(m_SiteDir, QStringLiteral("Phbill_") + year + QStringLiteral(".mdb"));
                src = openArchive(path, kExportSchema);
                srcYear = year;
            }
            ConvertToJianKong(src, dst, MonthTableName(m.mid(5).toInt()));
        } catch (const DbError& e) {
            report(QStringLiteral("导出") + m + QStringLiteral("话单失败:\n") + platform::OperatorText(e));
            return;
        }
    }
}

}  // namespace billing
