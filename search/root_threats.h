// The default search's look for forced wins by threes before deepening.
#pragma once

#include <cstdint>

// Node budget of the look at the root for a think of `turnBudget` ms under a
// node limit of `nodeLimit` (0: none). A bounded share of the think, counted
// in nodes so that the same position and settings always search the same tree.
int64_t rootThreatNodeBudget(int32_t turnBudget, int64_t nodeLimit);

// Runs the threat-space search for `side`, to move, within `nodeBudget`
// nodes (and the think's clock and stop flag). True with (x, y) set to the
// first move of a proven win: an empty point of the board, and never a foul
// for black in Renju. `plies` gets the length of the win, its first move and
// the five both counted. False at once when the side has a five point or an
// open four it may play: the deepening proves those at its first depth. Uses the move lists from
// slot 0, so it must run before or after the search, never inside it.
bool rootThreatSpaceWin(int side, int64_t nodeBudget, int32_t& x, int32_t& y, int32_t& plies);

// The value a think reports for a win the look proved in `plies` plies: a
// proven result (beyond mateThreshold), yet below what the next think reads
// as a five or an open four already at hand.
int32_t rootThreatWinValue(int32_t plies);
