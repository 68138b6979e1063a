// Placeholder until this module is built.
#include "rules/threat_search.h"
int32_t threatSearch(int, int, int, int) { return 0; }
int32_t threatNode(int, int, int, int) { return 0; }
