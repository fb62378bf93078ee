#include "transfer/frmVerify.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "platform/FlexGrid.h"
#include "platform/Prompts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace {

frmVerify* g_instance = nullptr;

platform::FlexGrid* consoleGrid() {
    core::Console* c = core::TheConsole();
    return c ? c->fgDisp : nullptr;
}

const QColor kRed = platform::vbColor(0x0000FF);

}  // namespace

frmVerify& frmVerify::instance() {
    if (!g_instance) {
        g_instance = new frmVerify(core::TheConsole() ? core::TheConsole()->ConsoleWidget() : nullptr);
        g_instance->Form_Load();
    }
    return *g_instance;
}

bool frmVerify::exists() { return g_instance != nullptr; }

void frmVerify::unload() {
    frmVerify* d = g_instance;
    g_instance = nullptr;
    delete d;
}

frmVerify::~frmVerify() {
    if (g_instance == this) g_instance = nullptr;
}

frmVerify::frmVerify(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmVerify"));
    setWindowTitle(QStringLiteral("校验结果"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    fgSys = new platform::FlexGrid(this);
    fgVerify = new platform::FlexGrid(this);
    lblPrompt = new QLabel(this);
    txtAddr = new QLineEdit(this);
    txtAddr->setMaximumWidth(80);
    cmdPriv = new QPushButton(QStringLiteral("上一个(&B)"), this);
    cmdNext = new QPushButton(QStringLiteral("下一个(&N)"), this);
    cmdClose = new QPushButton(QStringLiteral("关  闭"), this);
    fgSys->setMaximumHeight(120);   // the rows that differ, as the switch holds them

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lblPrompt);
    buttons->addStretch();
    buttons->addWidget(txtAddr);
    buttons->addWidget(cmdPriv);
    buttons->addWidget(cmdNext);
    buttons->addWidget(cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fgVerify);
    layout->addWidget(fgSys);
    layout->addLayout(buttons);
    resize(640, 480);

    connect(cmdNext, &QPushButton::clicked, this, [this] { cmdNext_Click(); });
    connect(cmdPriv, &QPushButton::clicked, this, [this] { cmdPriv_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { cmdClose_Click(); });
    txtAddr->installEventFilter(this);
}

bool frmVerify::eventFilter(QObject* o, QEvent* e) {
    if (o == txtAddr) {
        if (e->type() == QEvent::FocusIn) {
            ModGeneral::SelectAllText(txtAddr);
        } else if (e->type() == QEvent::FocusOut && isVisible() && !closing_ && !validating_) {
            txtAddr_Validate();
        } else if (e->type() == QEvent::KeyPress) {
            // Enter takes the typed number and ends there: the dialog's
            // default button must not move on from it.
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                txtAddr_Validate();
                return true;
            }
        }
    }
    return QDialog::eventFilter(o, e);
}

void frmVerify::Form_Load() {
    fgVerify->setCols(3);
    fgVerify->setRows(2);
    fgVerify->setFixedRows(1);
    fgVerify->setFixedCols(1);
    fgVerify->setFormatString(QStringLiteral("<列  名            |<软件设置                        |<集团电话设置                   "));
    if (platform::FlexGrid* g = consoleGrid()) {
        for (int k = 0; k < g->Cols(); ++k) fgVerify->AddItem(g->TextMatrix(0, k).trimmed());
    }
    fgVerify->RemoveItem(1);
}

int frmVerify::differences() const { return fgSys->Rows() - 1; }

void frmVerify::GetDifferSet(bool& result) {
    platform::FlexGrid* g = consoleGrid();
    if (!g) {
        result = false;
        unload();
        return;
    }
    const int cols = g->Cols();
    g->setRedraw(false);
    for (qint32 i = SelRowFirst; i <= SelRowLast && i < g->Rows(); ++i) {
        const QString key = g->TextMatrix(i, 0);
        int j = 1;
        while (j < fgSys->Rows() && fgSys->TextMatrix(j, 0) != key) ++j;
        if (j >= fgSys->Rows()) {
            platform::MsgBox(QStringLiteral("集团电话参数缺少") + g->TextMatrix(0, 0).trimmed() + QLatin1Char(' ') + key,
                             platform::mbOKOnly, AppName);
            g->setRedraw(true);
            result = true;
            unload();
            return;
        }
        bool same = true;
        for (int c = 1; c < cols && same; ++c) same = g->TextMatrix(i, c) == fgSys->TextMatrix(j, c);
        if (!same) continue;
        if (fgSys->Rows() >= 3) {
            fgSys->RemoveItem(j);
        } else {
            for (int c = 0; c < cols; ++c) fgSys->setTextMatrix(1, c, QString());
        }
    }
    g->setRedraw(true);
    if (fgSys->Rows() < 2 || (fgSys->TextMatrix(1, 0).isEmpty() && fgSys->TextMatrix(1, 1).isEmpty())) {
        result = false;
        unload();
        return;
    }
    differNo_ = 1;
    cmdPriv->setEnabled(false);
    cmdNext->setEnabled(fgSys->Rows() >= 3);
    lblPrompt->setText(QStringLiteral("不一致的参数行共有 %1行").arg(differences()));
    SetToDisp();
    platform::RunModal(this);
    result = true;
    unload();
}

void frmVerify::SetToDisp() {
    platform::FlexGrid* g = consoleGrid();
    if (!g) return;
    txtAddr->setText(QString::number(differNo_));
    const QString key = fgSys->TextMatrix(differNo_, 0);
    int r = 1;
    while (r < g->Rows() && g->TextMatrix(r, 0) != key) ++r;
    const bool found = r < g->Rows();
    const QColor normal = palette().color(QPalette::WindowText);
    for (int k = 1; k <= g->Cols() && k < fgVerify->Rows(); ++k) {
        const QString station = found ? g->TextMatrix(r, k - 1) : QString();
        const QString sw = fgSys->TextMatrix(differNo_, k - 1);
        fgVerify->setTextMatrix(k, 1, station);
        fgVerify->setTextMatrix(k, 2, sw);
        fgVerify->setCellForeColorAt(k, 0, !found || station != sw ? kRed : normal);
    }
}

void frmVerify::cmdNext_Click() {
    if (differNo_ >= differences()) return;
    ++differNo_;
    if (differNo_ >= differences()) cmdNext->setEnabled(false);
    cmdPriv->setEnabled(true);
    SetToDisp();
}

void frmVerify::cmdPriv_Click() {
    if (differNo_ <= 1) return;
    --differNo_;
    if (differNo_ <= 1) cmdPriv->setEnabled(false);
    cmdNext->setEnabled(true);
    SetToDisp();
}

void frmVerify::txtAddr_Validate() {
    // The refusal's message box takes the focus from the box: that is no
    // second leaving to check.
    if (validating_) return;
    validating_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{validating_};
    bool ok = false;
    const double v = txtAddr->text().trimmed().toDouble(&ok);
    const int n = differences();
    // "nan" and "inf" read as numbers but name no difference.
    if (!ok || !std::isfinite(v) || v < 1 || v > n) {
        platform::MsgBox(QStringLiteral("输入错误，请输入1-%1之间的数").arg(n), platform::mbOKOnly, AppName);
        txtAddr->setText(QString::number(differNo_));
        return;
    }
    // Rounded as the number of a whole difference is: a half to the even neighbour.
    differNo_ = qBound(1, int(std::nearbyint(v)), n);
    cmdPriv->setEnabled(differNo_ != 1);
    cmdNext->setEnabled(differNo_ != n);
    SetToDisp();
}

void frmVerify::cmdClose_Click() {
    closing_ = true;
    fgSys->Clear();
    fgVerify->Clear();
    core::StatusText(2, QStringLiteral("校验完成"));
    accept();
}

void frmVerify::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    if (e->type() != QEvent::ActivationChange || isActiveWindow() || !isVisible() || closing_) return;
    // Another window of the station taking the activation ends the dialog
    // (without "校验完成"); a box (message, input, file choice) does not.
    QTimer::singleShot(0, this, [this] {
        QWidget* to = QApplication::activeWindow();
        const bool box = platform::IsMessageBox(to) || qobject_cast<QInputDialog*>(to) || qobject_cast<QFileDialog*>(to);
        if (!isVisible() || closing_ || isActiveWindow() || !to || box || isAncestorOf(to)) return;
        closing_ = true;
        done(QDialog::Rejected);
    });
}

void frmVerify::closeEvent(QCloseEvent* e) {
    if (closing_) e->accept();
    else e->ignore();   // only the close button ends the dialog
}
