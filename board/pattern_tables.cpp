// Placeholder until this module is built.
#include "board/pattern_tables.h"
#include "board/engine_state.h"
const uint8_t shapeTable[128][5] = {};
void buildPatternTables() {}
