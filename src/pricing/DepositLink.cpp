#include "pricing/ClsMonitor.h"

namespace pricing {

void DepositChanged(qint32 userid) { (void)userid; }

}  // namespace pricing
