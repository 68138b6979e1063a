// The default search's evaluation amounts, one per pair of line codes.
//
// The classic evaluation values a point by its line codes through a fixed
// formula. The default search adds one amount per point and side on top of
// that formula, chosen by the point's two highest codes (comboPairIndex), so
// a tuned evaluation stays an incremental sum over points in integers and is
// the same on every build. zorvan-tune-eval fits the amounts so that the
// static evaluation predicts a deeper search's value of the same position.
//
// The rows are zero: the default search evaluates as the classic one. Amounts
// distilled from depth-5 classic values (commit 3fb6c08) won at 200 ms a move
// and lost at 1 s, where tournaments play. A deeper teacher does not mend it:
// depth-7 default-search values give nearly the same freestyle row (the
// largest amounts, about -80, on the pairs of two threats), and amounts
// fitted with those pairs held at zero did not win at 1 s either (-31 +- 63
// Elo against the default search over 100 games). The likely limit is the
// model: one amount serves both sides, while a double threat is a near win
// for the side to move and only a point to block for the other.
// Row 0 serves freestyle and the standard rule, row 1 Renju.
#pragma once

#include <cstdint>

#include "board/pattern_tables.h"

constexpr int16_t comboPairTuning[2][comboPairCount] = {};
