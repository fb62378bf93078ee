// A header of the windows by a path from this file's folder.
#include "../core/Console.h"
