// Stand-in for the link's send primitive until the link is in (removed then).
#include "link/ModComm.h"
#include <QStringList>
QStringList g_tempSent;
int ModComm::SendOrder(const QString& order, bool, int, bool) { g_tempSent << order; return 0; }
