// A widget header named through a macro.
#define TARVO_WIDGET_HEADER <QtWidgets/QWidget>
#include TARVO_WIDGET_HEADER
