// Line-pattern tables: all the pattern knowledge of the engine.
//
// windowTable turns the 9-cell window of a point on a line into the code each
// side would get there by playing the centre (0..13) and its free space;
// comboTable turns a point's four codes (its code word) into a combination
// value per side; comboFlags summarises a code word for the searches. They are
// rebuilt at every board build, for the current rule, and only read between
// builds. The constants below are the engine's shape knowledge; the builder
// turns them into the tables with one pass over the 262144 windows and one
// over the sorted code quadruples.
#pragma once

#include <cstdint>

// Pattern codes.
constexpr int codeOpenThreeGap = 7;
constexpr int codeOpenThree = 8;
constexpr int codeFourA = 9;
constexpr int codeFourB = 10;
constexpr int codeOpenFour = 11;
constexpr int codeFive = 12;
constexpr int codeOverline = 13;

// Value of each pattern code.
constexpr int16_t codeValue[16] = {0, 1, 2, 6, 7, 10, 23, 158, 175, 256, 256, 511, 2047, 0, 0, 0};

// Combination-formula constants, by code.
constexpr int topPenalty[16] = {0, 2, 4, 4, 5, 8, 21, 148, 165, 216, 216, 411, 1947, 0, 0, 0};
constexpr int codeWeight[16] = {3, 5, 4, 16, 16, 16, 16, 36, 36, 36, 40, 128, 256, 0, 0, 0};

// comboFlags bits.
constexpr uint16_t flagCountMask = 0x0F;  // number of codes >= 3
constexpr uint16_t flagThree = 0x10;      // some code >= 7
constexpr uint16_t flagFour = 0x20;       // some code >= 9
constexpr uint16_t flagFourB = 0x40;      // some code == 10

// The code one 5-cell window gives to the side playing one of its empty cells.
// Row: bits 0-4 the cells already holding the side's stones (cell 0 lowest on
// the line), 0x20 low end blocked, 0x40 high end blocked. Column h: the
// window's offset in the 9-cell frame (the new stone goes into cell 4 - h).
extern const uint8_t shapeTable[128][5];

// Rebuilds windowTable, comboTable and comboFlags for engine.rule. Under the
// default search the combination values also carry the tuned amounts of
// board/eval_tuning.h; the classic search keeps the formula's values alone.
void buildPatternTables();

// The default search's tuning adds one amount per point and side, chosen by
// the point's two highest codes (0..13 each, so 105 unordered pairs). The
// index of that pair for a code word, or -1 where no amount applies: black's
// forbidden combinations under Renju, whose values say "may not play here"
// and are not a matter of weight.
constexpr int comboPairCount = 105;
int comboPairIndex(uint32_t codeWord, int side, int rule);
