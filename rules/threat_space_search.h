// Threat-space search: forced wins by threes and fours.
//
// The attacker (the side to move) plays only threats: fours, which the
// defender must block at the five point, and threes in the broad sense, moves
// after which the attacker has an open-four point it may play. The defender
// answers every threat with every move that really defends it. A win found
// here is a proof: followed move by move, it makes five within `plies`
// whatever the defender does. Not finding one proves nothing beyond the limits
// of the request. See threat_space_search.cpp for the method.
//
// The search runs on the one board of the engine with light trial stones, as
// the threat-sequence search does; every stone is off again when it returns.
// It uses the per-ply move lists from `firstList` on, one per ply. Like the
// other searches it counts engine.nodeCount, tests the clock and the stop flag
// every 1024 nodes and sets searchAborted when it stops.
#pragma once

#include <cstdint>

#include "board/engine_state.h"

// Longest win the search can prove, in plies from the attacker's first move to
// its five, both included.
constexpr int vctMaxPlies = 80;

enum VctStatus : int32_t {
    vctNotFound = 0,     // no win within maxThrees and maxPlies
    vctWin = 1,          // a proven win, described by the result
    vctBudgetSpent = 2,  // the node budget ran out first: nothing is known
    vctStopped = 3,      // the clock or the stop flag ended it (searchAborted is set)
};

struct VctRequest {
    int32_t attacker;    // 1 black or 2 white, the side to move
    int64_t nodeBudget;  // nodes over all iterations
    int32_t maxThrees;   // most attacker threes on any one line of the proof
    int32_t maxPlies;    // longest win accepted (at most vctMaxPlies)
    int32_t firstList;   // first engine.moveLists slot the search may use
    bool useCache;       // remember results of positions met again (transpositions)
};

// A request with the usual limits for the side to move: 200000 nodes, six
// threes, the longest line, lists from slot 0, cache on.
VctRequest vctDefaultRequest(int attacker);

struct VctResult {
    int32_t status;  // VctStatus
    int32_t moveX;   // first move of the win, -1 without one
    int32_t moveY;
    int32_t plies;   // plies to the five along the proof, the first move counting 1
    int32_t threes;  // the iteration that found it: threes allowed on one line
    int64_t nodes;   // nodes searched, all iterations
    // The principal line: attacker and defender moves in turn from the first
    // move, the defender taking its longest-lasting defence. It ends at the
    // five, at an open four (the reply and the five are then any), where the
    // defender has no defence left, or where the proof came from the cache.
    int32_t lineLength;
    StonePoint line[vctMaxPlies];
};

void threatSpaceSearch(const VctRequest& request, VctResult& result);

// The real defences of the side to move against the threat of `attacker`, in
// the order the search tries them (entries with their keys; the list must hold
// 576). Against a five point: its block, if the defender may play it, and
// nothing when there are two. Against open-four points: every move after which
// the defender has a five point (a counter-four) or the attacker has no open
// four it may play left. Returns -1 when the attacker threatens neither, or
// when the defender already has a five point (it simply wins).
int threatSpaceDefences(int attacker, ScoredMove* list);
