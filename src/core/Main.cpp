#include "core/Main.h"

#include <QApplication>

namespace core {

int Main(int argc, char** argv) {
    QApplication app(argc, argv);
    return 0;
}

}  // namespace core
