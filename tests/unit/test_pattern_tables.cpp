// Window codes, combination values and flags of the line-pattern tables, for
// each rule, checked against hand-worked positions and against a classifier of
// 5-cell shapes written from what the codes mean.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "board/engine_state.h"
#include "board/eval_tuning.h"
#include "board/pattern_tables.h"
#include "board/tables.h"

namespace {

void buildFor(int rule) {
    initEngineState();
    engine.searchMode = searchClassic;  // the formula's own values
    engine.rule = rule;
    buildEngineTables();
}

// "[xxxx.x...]": frame cells 0..8 (x black, o white, # wall, . empty) to the
// 18-bit window code, cell i in bits 2i and 2i+1.
uint32_t windowCode(const std::string& text) {
    EXPECT_EQ(text.size(), 11u) << text;
    uint32_t w = 0;
    for (int i = 0; i < 9; ++i) {
        char ch = text[1 + i];
        uint32_t cell = ch == 'x' ? 1 : ch == 'o' ? 2 : ch == '#' ? 3 : 0;
        EXPECT_TRUE(ch == 'x' || ch == 'o' || ch == '#' || ch == '.') << text;
        w |= cell << (2 * i);
    }
    return w;
}

struct Entry {
    int codeBlack, codeWhite, spaceBlack, spaceWhite;
};

void expectWindow(const std::string& text, Entry want) {
    const WindowEntry& e = engine.windowTable[windowCode(text)];
    EXPECT_EQ(e.code[0], want.codeBlack) << text << " rule " << engine.rule;
    EXPECT_EQ(e.code[1], want.codeWhite) << text << " rule " << engine.rule;
    EXPECT_EQ(e.space[0], want.spaceBlack) << text << " rule " << engine.rule;
    EXPECT_EQ(e.space[1], want.spaceWhite) << text << " rule " << engine.rule;
}

uint32_t word(int a, int b, int c, int d) { return a | (b << 4) | (c << 8) | (d << 12); }

// The word holding the same four codes in descending order.
uint32_t sortedWord(uint32_t w) {
    int c[4] = {codeAt(w, 0), codeAt(w, 1), codeAt(w, 2), codeAt(w, 3)};
    std::sort(c, c + 4, [](int a, int b) { return a > b; });
    return word(c[0], c[1], c[2], c[3]);
}

// Point value of a code word for a colour (1 black, 2 white).
int pointValueOf(int colour, uint32_t w) {
    int sum = 0;
    for (int d = 0; d < 4; ++d) sum += codeValue[codeAt(w, d)];
    return sum + engine.comboTable[colour - 1][w];
}

constexpr int allRules[3] = {ruleFreestyle, ruleStandard, ruleRenju};

}  // namespace

// ---------------------------------------------------------------------------
// Window table.

TEST(WindowTable, ShapesThatDoNotDependOnTheRule) {
    for (int rule : allRules) {
        buildFor(rule);
        expectWindow("[.........]", {0, 0, 8, 8});
        expectWindow("[...x.....]", {5, 0, 8, 4});
        expectWindow("[.xxx.....]", {11, 0, 8, 4});
        expectWindow("[xxxx.....]", {12, 0, 8, 4});
        expectWindow("[oxxx.....]", {9, 0, 7, 4});
        expectWindow("[.xxx.o...]", {9, 1, 4, 4});
        expectWindow("[xx.x.....]", {9, 0, 8, 4});
        expectWindow("[x.xx.....]", {10, 0, 8, 4});
        expectWindow("[#........]", {0, 0, 7, 7});
        expectWindow("[...#.....]", {0, 0, 4, 4});
        // White two with one gap; black sees only mixed or walled windows.
        expectWindow("[x.o.....#]", {0, 4, 4, 6});
        // A five with the other colour's stone right after it.
        expectWindow("[xxxx.o...]", {12, 1, 4, 4});
        // A split three whose high side is closed by a wall at frame cell 7.
        expectWindow("[.....xx#.]", {6, 0, 6, 4});
    }
}

TEST(WindowTable, OverlinesFollowTheRule) {
    buildFor(ruleFreestyle);
    expectWindow("[xxxx.x...]", {12, 0, 8, 0});
    expectWindow("[oooo.o...]", {0, 12, 0, 8});
    expectWindow("[...x.xxxx]", {12, 0, 8, 0});
    buildFor(ruleStandard);
    expectWindow("[xxxx.x...]", {13, 0, 8, 0});
    expectWindow("[oooo.o...]", {0, 13, 0, 8});
    expectWindow("[...o.oooo]", {0, 13, 0, 8});
    buildFor(ruleRenju);
    expectWindow("[xxxx.x...]", {13, 0, 8, 0});
    expectWindow("[oooo.o...]", {0, 12, 0, 8});
    expectWindow("[..xx.xxx.]", {13, 0, 8, 0});
    // Exactly five, with a gap before the next stone, stays a five.
    expectWindow("[.xxx.x.x.]", {12, 0, 8, 0});
}

TEST(WindowTable, OccupiedCentreGivesZeroEntry) {
    buildFor(ruleRenju);
    for (uint32_t w = 0; w < static_cast<uint32_t>(windowCount); ++w) {
        if (((w >> 8) & 3) == 0) continue;
        const WindowEntry& e = engine.windowTable[w];
        ASSERT_TRUE(e.code[0] == 0 && e.code[1] == 0 && e.space[0] == 0 && e.space[1] == 0) << w;
    }
}

// Reading a line the other way round changes nothing, and swapping the colours
// swaps the two sides' entries except where the rule treats them differently.
TEST(WindowTable, MirrorAndColourSymmetry) {
    for (int rule : allRules) {
        buildFor(rule);
        for (uint32_t w = 0; w < static_cast<uint32_t>(windowCount); ++w) {
            uint32_t mirrored = 0, swapped = 0;
            for (int i = 0; i < 9; ++i) {
                uint32_t cell = (w >> (2 * i)) & 3;
                mirrored |= cell << (2 * (8 - i));
                swapped |= (cell == 1 ? 2u : cell == 2 ? 1u : cell) << (2 * i);
            }
            const WindowEntry& e = engine.windowTable[w];
            const WindowEntry& m = engine.windowTable[mirrored];
            ASSERT_TRUE(e.code[0] == m.code[0] && e.code[1] == m.code[1] &&
                        e.space[0] == m.space[0] && e.space[1] == m.space[1])
                << "rule " << rule << " window " << w;
            const WindowEntry& s = engine.windowTable[swapped];
            ASSERT_EQ(e.space[0], s.space[1]) << w;
            if (rule != ruleRenju) {
                ASSERT_EQ(e.code[0], s.code[1]) << "rule " << rule << " window " << w;
                ASSERT_EQ(e.code[1], s.code[0]) << "rule " << rule << " window " << w;
            } else {
                // Only black's overlines differ from white's fives.
                int whiteAsBlack = s.code[0] == codeOverline ? codeFive : s.code[0];
                ASSERT_EQ(e.code[1], whiteAsBlack) << w;
            }
        }
    }
}

TEST(WindowTable, CodesStayInRange) {
    for (int rule : allRules) {
        buildFor(rule);
        for (uint32_t w = 0; w < static_cast<uint32_t>(windowCount); ++w) {
            const WindowEntry& e = engine.windowTable[w];
            for (int s = 0; s < 2; ++s) {
                ASSERT_LE(e.code[s], rule == ruleFreestyle ? 12 : 13) << w;
                ASSERT_GE(e.space[s], 0);
                ASSERT_LE(e.space[s], 8);
            }
            if (rule == ruleRenju) {
                ASSERT_NE(e.code[1], codeOverline) << w;
            }
        }
    }
}

// The refreshes read the byte copy of the window table; it must repeat every
// entry under every rule, including a rebuild for another rule.
TEST(WindowTable, ByteCopyRepeatsEveryEntry) {
    for (int rule : {ruleRenju, ruleFreestyle, ruleStandard}) {
        buildFor(rule);
        for (uint32_t w = 0; w < static_cast<uint32_t>(windowCount); ++w) {
            const WindowEntry& e = engine.windowTable[w];
            const WindowCodes& c = engine.windowCodes[w];
            for (int s = 0; s < 2; ++s) {
                ASSERT_EQ(c.code[s], e.code[s]) << "rule " << rule << " window " << w;
                ASSERT_EQ(c.space[s], e.space[s]) << "rule " << rule << " window " << w;
            }
        }
    }
}

// Every window and every code word is rewritten by each build, whatever the
// tables held before.
TEST(PatternTables, BuildOverwritesEveryEntry) {
    buildFor(ruleStandard);
    const int16_t whiteDoubleFour = engine.comboTable[1][word(10, 9, 0, 0)];
    for (int rule : allRules) {
        for (auto& e : engine.windowTable) e = WindowEntry{{0x5555, 0x5555}, {0x5555, 0x5555}};
        for (auto& side : engine.comboTable) std::fill(side, side + codeWordCount, int16_t{0x5555});
        std::fill(engine.comboFlags, engine.comboFlags + codeWordCount, uint16_t{0x5555});
        engine.rule = rule;
        buildPatternTables();
        for (const auto& e : engine.windowTable) ASSERT_NE(e.code[0], 0x5555);
        for (int w = 0; w < codeWordCount; ++w) {
            ASSERT_NE(engine.comboTable[0][w], 0x5555) << w;
            ASSERT_NE(engine.comboTable[1][w], 0x5555) << w;
            ASSERT_NE(engine.comboFlags[w], 0x5555) << w;
        }
        // White's values are the same under every rule.
        EXPECT_EQ(engine.comboTable[1][word(10, 9, 0, 0)], whiteDoubleFour);
    }
}

// ---------------------------------------------------------------------------
// Combination table.

TEST(ComboTable, PointValuesOfTypicalCodeSets) {
    struct Case {
        int c[4];
        int combo, point;
    };
    const Case general[] = {
        {{0, 0, 0, 0}, 0, 0},       {{1, 0, 0, 0}, -2, -1},      {{1, 1, 1, 1}, -2, 2},
        {{8, 0, 0, 0}, -165, 10},   {{8, 8, 0, 0}, -150, 200},   {{10, 8, 0, 0}, -200, 231},
        {{11, 0, 0, 0}, -410, 101}, {{12, 0, 0, 0}, -1944, 103}, {{12, 12, 0, 0}, -1179, 2915}};
    for (int rule : allRules) {
        buildFor(rule);
        for (const Case& k : general) {
            // The same codes in two different directions' nibbles.
            for (uint32_t w :
                 {word(k.c[0], k.c[1], k.c[2], k.c[3]), word(k.c[3], k.c[2], k.c[0], k.c[1])}) {
                EXPECT_EQ(engine.comboTable[1][w], k.combo) << std::hex << w;
                EXPECT_EQ(pointValueOf(2, w), k.point) << std::hex << w;
                if (rule != ruleRenju) {
                    EXPECT_EQ(engine.comboTable[0][w], k.combo) << std::hex << w;
                    EXPECT_EQ(pointValueOf(1, w), k.point) << std::hex << w;
                }
            }
        }
    }
}

TEST(ComboTable, RenjuBlackForbiddenCombinations) {
    buildFor(ruleRenju);
    struct Case {
        int c[4];
        int combo, point;
    };
    const Case cases[] = {
        {{8, 8, 0, 0}, -323, 27},      // double three: -165 - 158
        {{10, 10, 0, 0}, -384, 128},   // double four: 2 x (64 - 256)
        {{13, 8, 0, 0}, -175, 0},      // overline cancels the rest
        {{13, 11, 0, 0}, -255, 256},   // overline with an open four
        {{13, 11, 11, 0}, -510, 512},  // two open fours beside an overline
        {{13, 12, 5, 0}, 0, 2057},     // a five beside an overline is still a five
        {{11, 11, 0, 0}, -510, 512},   // double open four: 2 x (256 - 511)
        {{11, 9, 0, 0}, -447, 320},    // (256 - 511) + (64 - 256)
        {{9, 8, 7, 0}, -589, 0},       // four with two threes
        {{8, 7, 7, 0}, -491, 0},       // triple three
        {{8, 7, 0, 0}, -323, 10},      // double three with a split three
        {{12, 9, 9, 0}, -1943, 616},   // the five wins: general formula, +4 for c3 >= 3
        {{8, 2, 0, 0}, -164, 13},      // a single three: -165 + 1296 / 768
        {{9, 8, 0, 0}, -201, 230},     // four-three: -216 + 11664 / 768
    };
    for (const Case& k : cases) {
        uint32_t w = word(k.c[1], k.c[3], k.c[0], k.c[2]);
        EXPECT_EQ(engine.comboTable[0][w], k.combo) << std::hex << w;
        EXPECT_EQ(pointValueOf(1, w), k.point) << std::hex << w;
    }
}

// The combination formula as a person would compute it by hand: the weight
// product over 256 over d in floating point, truncated.
TEST(ComboTable, GeneralFormulaEverywhere) {
    for (int rule : allRules) {
        buildFor(rule);
        for (uint32_t w = 0; w < static_cast<uint32_t>(codeWordCount); ++w) {
            uint32_t s = sortedWord(w);
            int c1 = codeAt(s, 0), c2 = codeAt(s, 1), c3 = codeAt(s, 2), c4 = codeAt(s, 3);
            double v = -topPenalty[c1];
            if (c3 == 0) {
                double d = c2 >= 1 ? 3.0 : c1 >= 1 ? 9.0 : 18.0;
                double product =
                    1.0 * codeWeight[c1] * codeWeight[c2] * codeWeight[c3] * codeWeight[c4];
                v += std::trunc(product / 256.0 / d);
            } else {
                v += (c3 >= 3 ? 4 : 0) + (c4 >= 3 ? 8 : 0);
            }
            ASSERT_EQ(engine.comboTable[1][w], static_cast<int>(v)) << std::hex << w;
            if (rule != ruleRenju) {
                ASSERT_EQ(engine.comboTable[0][w], static_cast<int>(v)) << std::hex << w;
            }
        }
    }
}

// The default search's tables are the classic ones plus one tuned amount per
// pair of highest codes: nothing else moves, the flags the searches read stay,
// and black's forbidden combinations under Renju keep their classic values.
TEST(ComboTable, DefaultSearchAddsThePairAmountAndNothingElse) {
    for (int rule : allRules) {
        buildFor(rule);
        std::vector<int16_t> classic[2] = {
            std::vector<int16_t>(engine.comboTable[0], engine.comboTable[0] + codeWordCount),
            std::vector<int16_t>(engine.comboTable[1], engine.comboTable[1] + codeWordCount)};
        const std::vector<uint16_t> flags(engine.comboFlags, engine.comboFlags + codeWordCount);
        const std::vector<WindowEntry> windows(engine.windowTable,
                                               engine.windowTable + windowCount);
        engine.searchMode = searchDefault;
        buildPatternTables();
        const int16_t* tuning = comboPairTuning[rule == ruleRenju ? 1 : 0];
        int forbidden = 0;
        for (uint32_t w = 0; w < static_cast<uint32_t>(codeWordCount); ++w) {
            for (int side : {black, white}) {
                const uint32_t s = sortedWord(w);
                const int top = codeAt(s, 0), second = codeAt(s, 1);
                const int pair = comboPairIndex(w, side, rule);
                if (pair < 0) {
                    // Only codes that never occur, or black's fouls in Renju.
                    ASSERT_TRUE(top > codeOverline || (rule == ruleRenju && side == black)) << w;
                    if (top <= codeOverline) ++forbidden;
                } else {
                    ASSERT_EQ(pair, top * (top + 1) / 2 + second) << w;
                }
                const int want = classic[side - 1][w] + (pair >= 0 ? tuning[pair] : 0);
                ASSERT_EQ(engine.comboTable[side - 1][w], want) << rule << " " << side << " " << w;
            }
            ASSERT_EQ(engine.comboFlags[w], flags[w]) << w;
        }
        for (int i = 0; i < windowCount; ++i) {
            ASSERT_EQ(engine.windowTable[i].code[0], windows[i].code[0]) << i;
            ASSERT_EQ(engine.windowTable[i].code[1], windows[i].code[1]) << i;
        }
        EXPECT_EQ(forbidden > 0, rule == ruleRenju);
        // Renju's double three, double four and overline are outside the tuning.
        if (rule == ruleRenju) {
            EXPECT_EQ(comboPairIndex(word(8, 7, 0, 0), black, rule), -1);
            EXPECT_EQ(comboPairIndex(word(10, 9, 0, 0), black, rule), -1);
            EXPECT_EQ(comboPairIndex(word(13, 2, 0, 0), black, rule), -1);
            EXPECT_GE(comboPairIndex(word(8, 7, 0, 0), white, rule), 0);
            EXPECT_GE(comboPairIndex(word(12, 10, 9, 0), black, rule), 0);  // the five wins
        }
        // Occupied points carry the empty code word, which must stay worth 0.
        EXPECT_EQ(tuning[0], 0);
        EXPECT_EQ(engine.comboTable[0][0], 0);
        EXPECT_EQ(engine.comboTable[1][0], 0);
    }
}

TEST(ComboTable, OrderOfTheFourCodesDoesNotMatter) {
    for (int rule : allRules) {
        buildFor(rule);
        for (uint32_t w = 0; w < static_cast<uint32_t>(codeWordCount); ++w) {
            uint32_t s = sortedWord(w);
            ASSERT_EQ(engine.comboTable[0][w], engine.comboTable[0][s]) << rule << " " << w;
            ASSERT_EQ(engine.comboTable[1][w], engine.comboTable[1][s]) << rule << " " << w;
            ASSERT_EQ(engine.comboFlags[w], engine.comboFlags[s]) << rule << " " << w;
        }
    }
}

TEST(ComboFlags, SummariseTheCodes) {
    buildFor(ruleFreestyle);
    EXPECT_EQ(engine.comboFlags[word(10, 3, 0, 0)], 0x72);
    EXPECT_EQ(engine.comboFlags[word(0, 0, 3, 10)], 0x72);
    EXPECT_EQ(engine.comboFlags[word(2, 2, 2, 2)], 0);
    EXPECT_EQ(engine.comboFlags[word(0, 0, 0, 0)], 0);
    EXPECT_EQ(engine.comboFlags[word(6, 6, 6, 6)], 4);
    EXPECT_EQ(engine.comboFlags[word(7, 0, 0, 0)], 0x11);
    EXPECT_EQ(engine.comboFlags[word(9, 8, 0, 0)], 0x32);
    EXPECT_EQ(engine.comboFlags[word(12, 7, 3, 3)], 0x34);
    EXPECT_EQ(engine.comboFlags[word(13, 0, 0, 0)], 0x31);
    EXPECT_EQ(engine.comboFlags[word(10, 10, 10, 10)], 0x74);
}

// ---------------------------------------------------------------------------
// The shape table, re-derived from the meaning of the codes.
//
// After the new stone is placed the window holds n of the side's stones:
// five is 12; a four is 11 when four adjacent stones can be completed at both
// ends (".xxxx" needs the high end open, "xxxx." the low end), 10 when it is a
// split four whose three-stone block has an open outer end ("xxx.x" with the
// low end open, "x.xxx" with the high end open), else 9; a three is an open
// three (8 in a row, 7 with a gap) when one more stone makes an open four, else
// 6; a two is 1 when the window is closed at both ends or the stones are four
// apart, 2 when a stone sits at a closed end, else 5, 4, 3 for zero, one or two
// empty cells between; a lone stone is 1 unless it sits at a closed end or
// both ends are closed (0). A new stone on an occupied cell is 0.
namespace {

int classify(int stones, bool lowClosed, bool highClosed);

int classifyPlacement(int mask, int cell, bool lowClosed, bool highClosed) {
    if ((mask >> cell) & 1) return 0;
    return classify(mask | (1 << cell), lowClosed, highClosed);
}

int classify(int stones, bool lowClosed, bool highClosed) {
    int n = __builtin_popcount(stones);
    if (n == 5) return 12;
    if (n == 4) {
        int gap = __builtin_ctz(~stones & 31);
        if (gap == 4) return lowClosed ? 9 : 11;
        if (gap == 0) return highClosed ? 9 : 11;
        if (gap == 3) return lowClosed ? 9 : 10;
        if (gap == 1) return highClosed ? 9 : 10;
        return 9;
    }
    if (n == 3) {
        bool open = false;
        for (int cell = 0; cell < 5; ++cell)
            if (!((stones >> cell) & 1) &&
                classify(stones | (1 << cell), lowClosed, highClosed) == 11)
                open = true;
        if (!open) return 6;
        bool inRow = stones == 7 || stones == 14 || stones == 28;
        return inRow ? 8 : 7;
    }
    int low = __builtin_ctz(stones), high = 31 - __builtin_clz(stones);
    bool atClosedEnd = (low == 0 && lowClosed) || (high == 4 && highClosed);
    if (n == 2) {
        if (lowClosed && highClosed) return 1;
        if (high - low == 4) return 1;
        if (atClosedEnd) return 2;
        return 6 - (high - low);
    }
    return (lowClosed && highClosed) || atClosedEnd ? 0 : 1;
}

}  // namespace

TEST(ShapeTable, AgreesWithTheMeaningOfTheCodes) {
    for (int row = 0; row < 128; ++row) {
        int mask = row & 31;
        bool lowClosed = row & 0x20, highClosed = row & 0x40;
        for (int h = 0; h < 5; ++h) {
            EXPECT_EQ(shapeTable[row][h], classifyPlacement(mask, 4 - h, lowClosed, highClosed))
                << "row " << row << " column " << h;
        }
    }
}

// Three rows written out a second time by hand, apart from the table itself.
TEST(ShapeTable, SpotRows) {
    const uint8_t xxDot[4][5] = {
        {6, 7, 8, 0, 0}, {6, 6, 6, 0, 0}, {6, 7, 8, 0, 0}, {6, 6, 6, 0, 0}};
    const uint8_t dotXXXDot[4][5] = {
        {11, 0, 0, 0, 11}, {11, 0, 0, 0, 9}, {9, 0, 0, 0, 11}, {9, 0, 0, 0, 9}};
    const uint8_t lastCell[4][5] = {
        {0, 5, 4, 3, 1}, {0, 5, 4, 3, 1}, {0, 2, 2, 2, 1}, {0, 1, 1, 1, 1}};
    for (int v = 0; v < 4; ++v) {
        for (int h = 0; h < 5; ++h) {
            EXPECT_EQ(shapeTable[0x03 + 0x20 * v][h], xxDot[v][h]);
            EXPECT_EQ(shapeTable[0x0E + 0x20 * v][h], dotXXXDot[v][h]);
            EXPECT_EQ(shapeTable[0x10 + 0x20 * v][h], lastCell[v][h]);
        }
    }
}
