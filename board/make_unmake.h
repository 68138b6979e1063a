// Incremental make and unmake: the inner loop of the engine.
//
// Every stone the engine puts on the board goes through placeStone and every
// stone it takes off through removeStone. A change at one point can only alter
// the patterns of the points sharing a line with it within updateRadius, so
// each operation refreshes exactly those points in the four directions, and
// with them the point values, the running totals and the threat-point sets.
// Nothing here scans the board or allocates. Placements and removals nest like
// a stack; removeStone always drops the last stoneList entry.
#pragma once

#include <cstdint>

// Empty board of the current size and rule, walls of a rectangular board
// included; also allocates the hash tables and clears them on a rule change.
void resetBoard();

// colour 1 or 2 for a stone, 3 for a wall; (x, y) must be an empty board point.
void placeStone(int x, int y, int colour);
// colour is the colour of the stone being removed.
void removeStone(int x, int y, int colour);

// The search's own make and unmake: the same board change as placeStone and
// removeStone, bit for bit, but makeMove keeps the records it overwrites and
// unmakeMove copies them back instead of refreshing again whenever that gives
// the same record (see the lasting changes in EngineState). Pairs must nest:
// each unmakeMove takes back the newest live makeMove, with its point and side.
void makeMove(int x, int y, int side);
void unmakeMove(int x, int y, int side);

void refreshLineH(int x, int y);
void refreshLineV(int x, int y);
void refreshLineD(int x, int y);
void refreshLineA(int x, int y);

// In the routines below a side is 1 (black) or 2 (white) and d a direction.

// Standard/Renju correction of a five that is really an overline (12 -> 13)
// and an open four one of whose completions is an overline (11 -> 9).
void exactFiveCheck(int d, int side, int x, int y);

// Group bookkeeping shared with the light update.
void leaveGroup(int group, int side, int x, int y, int d);
void enterGroup(int group, int side, int x, int y, int d);
void doubleCheckAfterLeave(int side, int x, int y);
void doubleCheckAfterEnter(int side, int x, int y);

// From-scratch checker of the incremental state: recomputes every code, space,
// value, total and threat-point set from the cells and compares. Returns true
// when consistent. A direction marked as never refreshed since the reset must
// still hold the reset record's code and space, and a point value may differ
// from its codes' only where it is marked stale; the marks themselves must
// agree with each other.
// It also requires the first stoneCount entries of stoneList to be distinct
// stones of the board, which holds while stones come off in the reverse order
// of their placement.
bool checkBoardConsistency();
