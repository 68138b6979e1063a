// Placeholder until this module is built.
#include "search/think_driver.h"
void thinkDriver() {}
int pickImmediateWin(int, int) { return 0; }
