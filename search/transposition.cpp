// Placeholder until this module is built.
#include "search/transposition.h"
#include "board/engine_state.h"
void allocateHashTables() {}
bool hashTablesReady() { return false; }
void clearHashTables() {}
int32_t probeEntry(int, int32_t, int32_t, int, uint64_t, int*, int*, int) { return noValue; }
void storeEntry(int, int32_t, int, int, const int*, const int*) {}
void storeEntryAlways(int, int32_t, int, int, const int*, const int*) {}
