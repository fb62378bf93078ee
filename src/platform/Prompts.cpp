#include "platform/Prompts.h"

#include "platform/AppExit.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPointer>
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
    const int icon = buttons & 0x70;
    box.setIcon(icon == mbCritical ? QMessageBox::Critical : icon == mbQuestion ? QMessageBox::Question
                : icon == mbExclamation ? QMessageBox::Warning : icon == mbInformation ? QMessageBox::Information
                : QMessageBox::NoIcon);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    QMessageBox::StandardButtons sb;
    switch (set) {
    case mbOKCancel: sb = QMessageBox::Ok | QMessageBox::Cancel; break;
    case mbAbortRetryIgnore: sb = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore; break;
    case mbYesNoCancel: sb = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    case mbYesNo: sb = QMessageBox::Yes | QMessageBox::No; break;
    case mbRetryCancel: sb = QMessageBox::Retry | QMessageBox::Cancel; break;
    default: sb = QMessageBox::Ok; break;
    }
    box.setStandardButtons(sb);
    if (buttons & mbDefaultButton2) {
        if (set == mbYesNo || set == mbYesNoCancel) box.setDefaultButton(QMessageBox::No);
        else if (set == mbOKCancel || set == mbRetryCancel) box.setDefaultButton(QMessageBox::Cancel);
    }
    const int r = box.exec();
    switch (r) {
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
