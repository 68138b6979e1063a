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
// Elo against the default search over 100 games). Nor does a model that
// knows who moves: separate amounts for the side to move's and the
// opponent's double, open-four and four points, fitted to depth-6 values,
// lost -116 +- 76 over 62 games at 200 ms. Every fit lowers the weight of
// threats, and the search seems to rely on the evaluation's caution about
// them more than on its accuracy against deeper values.
// Row 0 serves freestyle and the standard rule, row 1 Renju.
#pragma once

#include <cstdint>

#include "board/pattern_tables.h"

constexpr int16_t comboPairTuning[2][comboPairCount] = {};
