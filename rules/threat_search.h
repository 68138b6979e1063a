// Threat-sequence search: forced wins by continuous fours (VCF).
#pragma once

#include <cstdint>

// A win value (10000576 - plies to the five, > 0) when side forces a win by
// fours, else 0. Callers pass (remaining depth - 1, side, 0, 0) and must test
// searchAborted afterwards: a stopped search returns 0.
int32_t threatSearch(int depth, int side, int spare, int ply);

// One node: defender 0 at an attacker node, 1 at a defender node.
int32_t threatNode(int depth, int side, int defender, int ply);

// Starts loading the bucket that threatSearch for side reads first when the
// position key is key (a cache hint; changes no result).
void prefetchThreatSearch(int side, uint64_t key);
