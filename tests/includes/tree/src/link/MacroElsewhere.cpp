// A header named through a macro this file does not define: what it reaches
// cannot be seen from here.
#include TARVO_SOME_HEADER
