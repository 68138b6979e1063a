// Placeholder until this module is built.
#include "rules/light_placement.h"
void placeStoneLight(int, int, int) {}
void removeStoneLight(int, int, int) {}
void refreshLineLight(int, int, int) {}
