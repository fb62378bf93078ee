// An engine file that names the engine's own headers through a macro and by
// a path through a module folder it links.
#define TARVO_ENGINE_HEADER "Engine.h"
#include TARVO_ENGINE_HEADER
#include <QtCore/../QtCore/QList>
#include <QtSerialPort/../QtCore/QString>
