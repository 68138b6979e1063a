// Static evaluation.
#pragma once

#include <cstdint>

// Value of the current position for side (1 black, 2 white); higher is better.
// The remaining depth only selects the scratch move list
// (iterationDepth - depth). Must not run while light trial stones are placed.
int32_t evaluatePosition(int depth, int side);
