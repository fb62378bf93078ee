// A widget header by its module's path, with an inline call that needs no link.
#include <QtWidgets/QWidget>
bool Shown(const QWidget& w) { return w.isVisible(); }
