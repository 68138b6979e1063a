// Renju foul test.
//
// isForbidden decides whether a black stone on an empty point would be an
// overline, a double four or a double three, with the recursive test of real
// threes. It does not look at the rule or the side to move: callers ask only
// when the rule is Renju and the mover is black. A move that makes an exact
// five is always allowed. The board is left as found (up to the reset-code
// case of the pattern records).
#pragma once

// 1 forbidden, 0 allowed; (x, y) must be on the board. Occupied points give 0.
int isForbidden(int x, int y);
