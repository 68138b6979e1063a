// Node search: fail-soft principal-variation alpha-beta below the root.
#pragma once

#include <cstdint>

// Value of the node for side. ext is the extension credit in half plies.
// Returns 0 at once once the search is aborted; callers test searchAborted.
int32_t searchNode(int depth, int32_t alpha, int32_t beta, int side, int ext);
