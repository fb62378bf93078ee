// A header of the windows by its path under src/.
#include "core/Console.h"
