// An engine file that includes only what the engine may.
#include "core/Engine.h"
#include "Engine.h"
#include "../core/Engine.h"
#include <QString>
#include <QtCore/QList>
#include <QSerialPort>
#include <functional>
int Engine() { return 0; }
