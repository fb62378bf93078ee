// tarvo-mkdata DIR [--model 2]: writes a fresh data directory for the station.
#include "core/Schema.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int model = 0;
    QString dir;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--model" && i + 1 < args.size()) {
            bool ok = false;
            model = args[++i].toInt(&ok);
            if (!ok || (model != 0 && model != 2)) {
                std::fprintf(stderr, "tarvo-mkdata: --model takes 0 or 2\n");
                return 2;
            }
        } else if (dir.isEmpty()) {
            dir = args[i];
        } else {
            std::fprintf(stderr, "usage: tarvo-mkdata DIR [--model 2]\n");
            return 2;
        }
    }
    if (dir.isEmpty()) {
        std::fprintf(stderr, "usage: tarvo-mkdata DIR [--model 2]\n");
        return 2;
    }
    QString error;
    if (!core::schema::WriteFreshDataDir(dir, model, &error)) {
        std::fprintf(stderr, "tarvo-mkdata: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
