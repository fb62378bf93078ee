#include "core/MDIMain.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/frmWorker.h"
#include "platform/AppExit.h"
#include "platform/Prompts.h"

#include <QApplication>
#include <QCloseEvent>
#include <memory>
#include <stdexcept>

namespace {
std::unique_ptr<MDIMain> g_frame;
}

MDIMain& MDIMain::instance() {
    if (!g_frame) g_frame.reset(new MDIMain);
    return *g_frame;
}
bool MDIMain::exists() { return static_cast<bool>(g_frame); }
void MDIMain::unload() { g_frame.reset(); }

MDIMain::MDIMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MDIMain"));
    resize(1024, 720);
    caption_ = AppName;
}

MDIMain::~MDIMain() {
    // The console window has its own lifetime: hand it back before the frame goes.
    core::Console* c = core::TheConsole();
    if (c && c->ConsoleWidget() && centralWidget() == c->ConsoleWidget()) {
        takeCentralWidget();
        c->ConsoleWidget()->setParent(nullptr);
    }
}

void MDIMain::Show() {
    if (!loaded_) {
        loaded_ = true;
        MDIForm_Load();
    }
    show();
}

void MDIMain::MDIForm_Load() {
    platform::setPromptParent(this);
    core::Console* console = core::MakeConsole();
    if (!console) throw std::logic_error("the frame was shown with no console to hold");
    setCentralWidget(console->ConsoleWidget());
    connect(console->ConsoleWidget(), &QWidget::windowTitleChanged, this, &MDIMain::showTitle);
    try {
        console->Form_Load();
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception& e) {
        // No failure of the start-up ends the program unseen.
        platform::MsgBox(QStringLiteral("系统启动失败:") + platform::OperatorText(e), platform::mbOKOnly,
                         QStringLiteral("警告"));
        platform::EndProgram(1);
    }
    console->ConsoleWidget()->show();
    // A cancelled or refused login ends the program without a word.
    if (!frmWorker::instance().GetLogin()) platform::EndProgram(0);
    QString caption = AppName;
    if (SwitchModel == 2) caption += QStringLiteral("<") + TerminalName + QStringLiteral(">");
    SetCaption(caption);
}

void MDIMain::SetCaption(const QString& caption) {
    caption_ = caption;
    showTitle();
}

void MDIMain::showTitle() {
    const QWidget* child = centralWidget();
    const QString childCaption = child ? child->windowTitle() : QString();
    setWindowTitle(childCaption.isEmpty() ? caption_
                                          : caption_ + QStringLiteral(" - [") + childCaption + QLatin1Char(']'));
}

void MDIMain::MDIForm_QueryUnload(bool& Cancel, int UnloadMode) {
    core::Console* console = core::TheConsole();
    Cancel = console ? console->NotExit(UnloadMode) : false;
}

void MDIMain::MDIForm_Resize() {
    // Centres the active window of the station in the frame.
    QWidget* active = QApplication::activeWindow();
    if (!active || active == this || active->parentWidget() != this) return;
    active->move(x() + (width() - active->width()) / 2, y() + (height() - active->height()) / 2);
}

void MDIMain::closeEvent(QCloseEvent* e) {
    bool cancel = false;
    MDIForm_QueryUnload(cancel, 0);   // the operator closes the frame
    if (cancel) e->ignore();
    else e->accept();
}

void MDIMain::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    MDIForm_Resize();
}
