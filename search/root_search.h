// Root search: one iteration from the current position.
#pragma once

#include <cstdint>

// Sets bestMove and singleRootMove; returns the root value, 0 for an iteration
// aborted during its first two moves, never 0 for a later partial result.
int32_t searchRoot(int depth, int32_t alpha, int32_t beta, int side, int ext);
