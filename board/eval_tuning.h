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
// and lost at 1 s, where tournaments play. The likely reason: they took much
// of the value of two threats away, as a shallow search finds, while a longer
// think searches such threats itself and was only misled by the cut values.
// Row 0 serves freestyle and the standard rule, row 1 Renju.
#pragma once

#include <cstdint>

#include "board/pattern_tables.h"

constexpr int16_t comboPairTuning[2][comboPairCount] = {};
