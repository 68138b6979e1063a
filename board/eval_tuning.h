// The default search's evaluation amounts, distilled from deeper searches.
//
// The classic evaluation values a point by its line codes through a fixed
// formula. The default search adds one amount per point and side on top of
// that formula, chosen by the point's two highest codes (comboPairIndex), so
// the tuned evaluation stays an incremental sum over points in integers and
// is the same on every build. The amounts come from zorvan-tune-eval --depth 5
// over 2,147 games of self-play and earlier matches: a logistic fit of the
// static evaluation of about 39,000 positions to the classic search's depth-5
// value of the same positions, with a penalty that keeps rare pairs near the
// formula. The
// largest amounts are negative and sit on the pairs of two threats (two open
// threes, a three and a four): the static sum counts both threats in full,
// while a search finds that the opponent's reply and the spent tempo take
// much of that away. Row 0 serves freestyle and the standard rule, row 1
// Renju.
#pragma once

#include <cstdint>

#include "board/pattern_tables.h"

constexpr int16_t comboPairTuning[2][comboPairCount] = {
    {0,   0,   -1,  0,  0,  -1, 3,  -2,  2,   3,   5,   4,  4,   6,  10,  -6,  -3,  -4,
     -4,  1,   -6,  2,  2,  3,  7,  9,   1,   2,   15,  11, 14,  19, 24,  10,  14,  -78,
     8,   13,  14,  19, 38, 31, 26, -83, -81, 8,   12,  10, 23,  30, 18,  29,  -23, -36,
     -54, 10,  23,  11, 18, 18, 10, 27,  -25, -38, -16, 0,  -23, 9,  -12, -25, -13, -47,
     -22, -34, -43, -1, 0,  0,  0,  0,   0,   0,   0,   0,  0,   0,  0,   0,   0,   0,
     0,   1,   -3,  0,  0,  0,  0,  1,   0,   0,   -3,  0,  0,   0,  0},
    {0,   0,   -2,  0,   -2, 1,  2,   2,   5,   3,   4,   4,   5,  10, 9,   -4, -2, -3, -4, -3, -6,
     3,   2,   3,   11,  12, 1,  5,   12,  9,   9,   13,  14,  10, 9,  -64, 15, 21, 19, 18, 29, 25,
     25,  -94, -63, 8,   13, 7,  28,  30,  14,  24,  -25, -47, -1, 10, 12,  12, 21, 4,  22, 37, -10,
     -42, -2,  0,   -24, 10, -8, -16, -27, -61, -21, -51, -80, 0,  1,  0,   0,  0,  0,  0,  0,  0,
     0,   0,   0,   0,   0,  0,  0,   0,   0,   0,   0,   0,   0,  0,  0,   0,  0,  0,  0,  0,  0},
};
