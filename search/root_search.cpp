// Placeholder until this module is built.
#include "search/root_search.h"
int32_t searchRoot(int, int32_t, int32_t, int, int) { return 0; }
