// A widget header reached from a module the engine links, by a path that
// climbs out of it.
#include <QtCore/../QtWidgets/QWidget>
