#pragma once
// The station's application object, with the last line behind the windows'
// handlers. Qt carries no exception through its own code: one that leaves a
// handler of a window ends that window's modal loop half way, leaves the
// window on the screen with nothing behind it and the program's state half
// changed (a later click may end the program). Every handler catches what it
// can throw and says it in the window's own words; an exception that still
// leaves one stops here, at the event that raised it, and is handed to the
// handler set below (the station tells the operator, the tests fail the test
// that let it out). The end of the program (ProgramEnded) passes on.
#include <QApplication>
#include <exception>
#include <functional>

namespace platform {

class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// What is done with an exception that left a window's handler: `where` names
// the object the event was for (its class and object name). Without a
// handler the operator is told with OperatorText in a message box.
void SetEscapedHandler(std::function<void(const std::exception& e, const QString& where)> handler);

}  // namespace platform
