#include "platform/Application.h"

#include "platform/AppExit.h"
#include "platform/Db.h"
#include "platform/Prompts.h"

#include <QMetaObject>

namespace platform {

namespace {
std::function<void(const std::exception&, const QString&)>& escapedHandler() {
    static std::function<void(const std::exception&, const QString&)> handler;
    return handler;
}

QString describe(const QObject* receiver) {
    if (!receiver) return QStringLiteral("?");
    QString where = QString::fromLatin1(receiver->metaObject()->className());
    if (!receiver->objectName().isEmpty()) where += QLatin1Char(' ') + receiver->objectName();
    return where;
}

void escaped(const std::exception& e, const QObject* receiver) {
    if (escapedHandler()) {
        escapedHandler()(e, describe(receiver));
        return;
    }
    QString text = OperatorText(e);
    if (text.isEmpty()) text = QStringLiteral("操作失败");
    MsgBox(text, mbOKOnly | mbCritical);
}
}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const ProgramEnded&) {
        throw;
    } catch (const std::exception& e) {
        escaped(e, receiver);
        return true;
    }
}

void SetEscapedHandler(std::function<void(const std::exception&, const QString&)> handler) {
    escapedHandler() = std::move(handler);
}

}  // namespace platform
