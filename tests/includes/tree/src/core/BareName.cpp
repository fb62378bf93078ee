// A header of the windows by its bare name, from its own folder.
#include "Console.h"
