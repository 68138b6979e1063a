// The per-depth report of a think (INFO show_detail): one MESSAGE line for
// every finished iteration, with its value, effort and expected line.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest expected line a report shows.
constexpr int reportLineMoves = 10;

// Moves until a proven result of an iteration of `depth`, counted for the side
// that wins: for a win the root side's own moves, for a loss the opponent's,
// each time up to and including the move that makes the five (or the open
// four the search already scores as won). At least 1.
int provenMoves(int32_t value, int depth);

// The value as the report writes it: "+35", "-120", "0", or "+win N" /
// "-loss N" for a proven result (see provenMoves). Returns the text length.
int formatSearchValue(int32_t value, int depth, char* out, size_t size);

// The line the search expects from the position on the board with side to
// move: (firstX, firstY), then the first table move of each position along
// the line, up to `limit` moves. Only reads the tables and the cells; stops
// at a position without a table move or at a move that is not a free point.
// Returns the number of moves written to lineX / lineY.
int expectedLine(int side, int firstX, int firstY, int limit, int lineX[], int lineY[]);

// Prints "MESSAGE depth D-S value V nodes N nps Xk time T pv x,y ..." for the
// iteration of `depth` that has just finished with `value`; (moveX, moveY) is
// the move the think would play if it ended now.
void reportDepth(int depth, int32_t value, int side, int moveX, int moveY);
