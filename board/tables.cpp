// Placeholder until this module is built.
#include "board/tables.h"
void buildEngineTables() {}
