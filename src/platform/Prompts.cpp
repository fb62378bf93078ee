#include "platform/Prompts.h"

#include "platform/AppExit.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QTranslator>
#include <map>

namespace platform {

namespace {
QPointer<QWidget> g_parent;
constexpr int kMaxUnexpected = 50;

struct Answer {
    QString textPart;
    int result;
    QString text;
};
struct ScriptState {
    bool enabled = false;
    QList<Answer> answers;
    QList<script::Shown> shown;
    QList<script::Shown> unexpected;
    std::map<QString, std::function<void(QDialog*)>> modal;
    std::function<void(const QString&)> whileShown;
};
ScriptState& S() {
    static ScriptState s;
    return s;
}

// Finds and removes the first queued answer that matches; false when none.
bool take(script::Kind kind, const QString& text, const QString& title, int buttons, Answer* out) {
    S().shown << script::Shown{kind, text, title, buttons};
    if (S().whileShown) {
        const auto hook = S().whileShown;   // it may show a box itself
        hook(text);
    }
    for (int i = 0; i < S().answers.size(); ++i) {
        if (S().answers[i].textPart.isEmpty() || text.contains(S().answers[i].textPart)) {
            *out = S().answers.takeAt(i);
            return true;
        }
    }
    S().unexpected << script::Shown{kind, text, title, buttons};
    // A scripted run that keeps meeting boxes nobody expected is caught in a
    // loop that asks until it is answered (an open failure): end it.
    if (S().unexpected.size() >= kMaxUnexpected) EndProgram(1);
    return false;
}

QString defaultTitle(const QString& t) {
    return t.isEmpty() ? QApplication::applicationName() : t;
}

constexpr auto kReportBoxName = "ReportBox";
// A report of more lines than this is read in a scrolling text area.
constexpr int kReportLines = 25;

QMessageBox::StandardButtons standardButtons(int set) {
    switch (set) {
    case mbOKCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case mbAbortRetryIgnore: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case mbYesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case mbYesNo: return QMessageBox::Yes | QMessageBox::No;
    case mbRetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    default: return QMessageBox::Ok;
    }
}

// The button a box defaults to, when its caller asked for the second one.
int defaultButton(int buttons) {
    const int set = buttons & 7;
    if (!(buttons & mbDefaultButton2)) return QMessageBox::NoButton;
    if (set == mbYesNo || set == mbYesNoCancel) return QMessageBox::No;
    if (set == mbOKCancel || set == mbRetryCancel) return QMessageBox::Cancel;
    return QMessageBox::NoButton;
}

QMessageBox::Icon iconOf(int buttons) {
    const int icon = buttons & 0x70;
    return icon == mbCritical ? QMessageBox::Critical : icon == mbQuestion ? QMessageBox::Question
           : icon == mbExclamation ? QMessageBox::Warning : icon == mbInformation ? QMessageBox::Information
           : QMessageBox::NoIcon;
}

int answerOf(int button, int set) {
    switch (button) {
    case QMessageBox::Ok: return rOK;
    case QMessageBox::Cancel: return rCancel;
    case QMessageBox::Abort: return rAbort;
    case QMessageBox::Retry: return rRetry;
    case QMessageBox::Ignore: return rIgnore;
    case QMessageBox::Yes: return rYes;
    case QMessageBox::No: return rNo;
    default:
        // The close box: cancel where there is one, otherwise the safe answer.
        return set == mbYesNo ? rNo : (set == mbOKOnly ? rOK : rCancel);
    }
}

// The screen area a box stands in: its parent's screen, else the primary one.
QRect screenArea() {
    QScreen* screen = g_parent ? g_parent->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

// A report naming many users or calls, one a line: the lines in a text area
// the operator scrolls, selects and copies, the box no larger than the
// screen, its buttons always on it.
int reportBox(const QString& text, int buttons, const QString& title, const QRect& area) {
    const int set = buttons & 7;
    QDialog box(g_parent);
    box.setObjectName(QLatin1String(kReportBoxName));
    box.setWindowTitle(defaultTitle(title));
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* layout = new QVBoxLayout(&box);
    auto* row = new QHBoxLayout;
    const QMessageBox::Icon icon = iconOf(buttons);
    if (icon != QMessageBox::NoIcon) {
        auto* picture = new QLabel(&box);
        picture->setPixmap(QMessageBox::standardIcon(icon));
        picture->setAlignment(Qt::AlignTop);
        row->addWidget(picture);
    }
    auto* lines = new QPlainTextEdit(&box);
    lines->setObjectName(QStringLiteral("txtReport"));
    lines->setReadOnly(true);
    lines->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    lines->setPlainText(text);
    row->addWidget(lines, 1);
    layout->addLayout(row, 1);
    auto* bar = new QDialogButtonBox(QDialogButtonBox::StandardButtons(int(standardButtons(set))), &box);
    layout->addWidget(bar);
    int pressed = QMessageBox::NoButton;
    QObject::connect(bar, &QDialogButtonBox::clicked, &box, [&](QAbstractButton* b) {
        pressed = int(bar->standardButton(b));
        box.accept();
    });
    const int preferred = defaultButton(buttons);
    QAbstractButton* focus = bar->buttons().value(0);
    if (preferred != QMessageBox::NoButton) focus = bar->button(QDialogButtonBox::StandardButton(preferred));
    if (auto* p = qobject_cast<QPushButton*>(focus)) {
        p->setDefault(true);
        p->setFocus();
    }

    // As wide as the longest line allows and as tall as the lines, both
    // within nine tenths of the screen; the text area scrolls the rest.
    const QFontMetrics fm(lines->font());
    int widest = 0;
    int count = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        widest = qMax(widest, fm.horizontalAdvance(line));
        ++count;
    }
    const int chromeW = 80 + (icon != QMessageBox::NoIcon ? 64 : 0);
    const int chromeH = bar->sizeHint().height() + 60;
    const int maxW = area.width() * 9 / 10, maxH = area.height() * 9 / 10;
    const int w = qBound(qMin(400, maxW), widest + chromeW, maxW);
    const int h = qBound(qMin(200, maxH), count * fm.lineSpacing() + chromeH, maxH);
    box.resize(w, h);
    box.move(area.left() + (area.width() - w) / 2, area.top() + (area.height() - h) / 2);
    box.exec();
    return answerOf(pressed, set);
}
}  // namespace

void setPromptParent(QWidget* w) { g_parent = w; }

bool InstallChineseQtTexts() {
    static QTranslator* installed = nullptr;
    if (installed) return true;
    if (!QCoreApplication::instance()) return false;
    auto* t = new QTranslator(QCoreApplication::instance());
    if (!t->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete t;
        return false;
    }
    QCoreApplication::installTranslator(t);
    installed = t;
    return true;
}

int MsgBox(const QString& text, int buttons, const QString& title) {
    const int set = buttons & 7;
    if (S().enabled) {
        Answer a;
        if (take(script::Kind::Message, text, title, buttons, &a)) return a.result;
        // Nobody expected this box: answer as if it was closed.
        switch (set) {
        case mbOKCancel: case mbRetryCancel: case mbYesNoCancel: return rCancel;
        case mbYesNo: return rNo;
        case mbAbortRetryIgnore: return rAbort;
        default: return rOK;
        }
    }
    QMessageBox box(g_parent);
    box.setWindowTitle(defaultTitle(title));
    box.setText(text);
    box.setIcon(iconOf(buttons));
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.setStandardButtons(standardButtons(set));
    if (const int preferred = defaultButton(buttons); preferred != QMessageBox::NoButton)
        box.setDefaultButton(QMessageBox::StandardButton(preferred));
    // A report taller than the screen, or of many lines, is read in the report box.
    const QRect area = screenArea();
    if (text.count(QLatin1Char('\n')) >= kReportLines || box.sizeHint().height() > area.height() ||
        box.sizeHint().width() > area.width())
        return reportBox(text, buttons, title, area);
    return answerOf(box.exec(), set);
}

bool IsMessageBox(const QWidget* w) {
    return qobject_cast<const QMessageBox*>(w) || (w && w->objectName() == QLatin1String(kReportBoxName));
}

QString InputBox(const QString& prompt, const QString& title, const QString& defaultText, bool* ok) {
    if (S().enabled) {
        Answer a;
        if (take(script::Kind::Input, prompt, title, 0, &a) && a.result != rCancel) {
            if (ok) *ok = true;
            return a.text;
        }
        if (ok) *ok = false;
        return {};
    }
    bool accepted = false;
    QString r = QInputDialog::getText(g_parent, defaultTitle(title), prompt, QLineEdit::Normal, defaultText, &accepted);
    if (ok) *ok = accepted;
    return accepted ? r : QString();
}

static QString chooser(script::Kind kind, const QString& title, const std::function<QString()>& real) {
    if (S().enabled) {
        Answer a;
        if (take(kind, title, title, 0, &a) && a.result != rCancel) return a.text;
        return {};
    }
    return real();
}

QString OpenFileName(const QString& title, const QString& filter, const QString& dir) {
    return chooser(script::Kind::OpenFile, title, [&] { return QFileDialog::getOpenFileName(g_parent, title, dir, filter); });
}
QString SaveFileName(const QString& title, const QString& filter, const QString& dir, bool confirmOverwrite) {
    return chooser(script::Kind::SaveFile, title, [&] {
        QFileDialog d(g_parent, title, dir, filter);
        d.setAcceptMode(QFileDialog::AcceptSave);
        d.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
        // Above a topmost window that asks for it, like the message boxes.
        d.setWindowFlag(Qt::WindowStaysOnTopHint);
        return d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty() ? d.selectedFiles().constFirst() : QString();
    });
}
QString FolderName(const QString& title, const QString& dir) {
    return chooser(script::Kind::Folder, title, [&] { return QFileDialog::getExistingDirectory(g_parent, title, dir); });
}

int RunModal(QDialog* dialog) {
    auto it = S().modal.find(dialog->objectName());
    if (it != S().modal.end()) {
        auto handler = it->second;
        QPointer<QDialog> d(dialog);
        QTimer::singleShot(0, dialog, [d, handler] {
            if (d) handler(d);
        });
    } else if (S().enabled) {
        // A modal window nobody scripted would wait forever in a test.
        S().unexpected << script::Shown{script::Kind::Message, dialog->objectName(), dialog->windowTitle(), -1};
        return QDialog::Rejected;
    }
    dialog->setWindowFlag(Qt::WindowStaysOnTopHint);
    return dialog->exec();
}

namespace script {
void enable() { S().enabled = true; }
void disable() { S().enabled = false; }
bool enabled() { return S().enabled; }
void answer(const QString& textPart, int result, const QString& text) { S().answers << Answer{textPart, result, text}; }
void onModal(const QString& objectName, std::function<void(QDialog*)> handler) { S().modal[objectName] = std::move(handler); }
void whileShown(std::function<void(const QString&)> hook) { S().whileShown = std::move(hook); }
const QList<Shown>& shown() { return S().shown; }
const QList<Shown>& unexpected() { return S().unexpected; }
int pendingAnswers() { return S().answers.size(); }
void reset() {
    bool e = S().enabled;
    S() = ScriptState();
    S().enabled = e;
}
}  // namespace script

}  // namespace platform
