// Line-pattern tables.
//
// The incremental board never looks at a line: it reads one window code per
// point and direction and turns it into a pattern code with windowTable, and a
// point's four codes into its combination value with comboTable. All the
// game's shape knowledge therefore sits in the small constant shapeTable (one
// 5-cell window, seen from the side playing one of its empty cells) and in the
// combination formula; the builder expands them for the current rule.
//
// The build runs at every board build, so it is one pass over the 262144
// windows that does almost nothing per window: the four cells on each side of
// the centre are decoded through a compile-time 256-entry table of per-colour
// bit masks, after which each of the five 5-cell windows through the
// centre is a few shifts and masks plus one shapeTable lookup. The
// free-space counts come from two 16-entry run-length tables over the
// "blocked for this side" mask. Three quarters of the windows have an occupied
// centre and are plain zero entries.
//
// The combination table depends only on the multiset of a point's four codes,
// so it is computed once per sorted quadruple and written to every ordering of
// the nibbles. All arithmetic is integer so that 32- and 64-bit builds produce
// identical tables.
#include "board/pattern_tables.h"

#include <algorithm>

#include "board/engine_state.h"
#include "board/eval_tuning.h"

// Row = stone mask of window cells 0-4 + 0x20 (low end blocked) + 0x40 (high
// end blocked); column = the window's offset h in the 9-cell frame, the new
// stone going into window cell 4 - h. Entries whose new-stone cell is occupied
// are 0 and never read. The empty-mask rows are what the board reset gives the
// points of an empty line; the window builder skips stoneless windows.
const uint8_t shapeTable[128][5] = {
    // neither end blocked
    {1, 1, 1, 1, 1},    // .....
    {1, 3, 4, 5, 0},    // x....
    {3, 4, 5, 0, 5},    // .x...
    {6, 7, 8, 0, 0},    // xx...
    {4, 5, 0, 5, 4},    // ..x..
    {6, 7, 0, 8, 0},    // x.x..
    {7, 8, 0, 0, 8},    // .xx..
    {10, 11, 0, 0, 0},  // xxx..
    {5, 0, 5, 4, 3},    // ...x.
    {6, 0, 7, 7, 0},    // x..x.
    {7, 0, 8, 0, 7},    // .x.x.
    {9, 0, 11, 0, 0},   // xx.x.
    {8, 0, 0, 8, 7},    // ..xx.
    {10, 0, 0, 11, 0},  // x.xx.
    {11, 0, 0, 0, 11},  // .xxx.
    {12, 0, 0, 0, 0},   // xxxx.
    {0, 5, 4, 3, 1},    // ....x
    {0, 6, 6, 6, 0},    // x...x
    {0, 7, 7, 0, 6},    // .x..x
    {0, 9, 10, 0, 0},   // xx..x
    {0, 8, 0, 7, 6},    // ..x.x
    {0, 10, 0, 10, 0},  // x.x.x
    {0, 11, 0, 0, 10},  // .xx.x
    {0, 12, 0, 0, 0},   // xxx.x
    {0, 0, 8, 7, 6},    // ...xx
    {0, 0, 10, 9, 0},   // x..xx
    {0, 0, 11, 0, 9},   // .x.xx
    {0, 0, 12, 0, 0},   // xx.xx
    {0, 0, 0, 11, 10},  // ..xxx
    {0, 0, 0, 12, 0},   // x.xxx
    {0, 0, 0, 0, 12},   // .xxxx
    {0, 0, 0, 0, 0},    // xxxxx
    // low end blocked
    {1, 1, 1, 1, 0},    // .....
    {1, 2, 2, 2, 0},    // x....
    {3, 4, 5, 0, 2},    // .x...
    {6, 6, 6, 0, 0},    // xx...
    {4, 5, 0, 5, 2},    // ..x..
    {6, 6, 0, 6, 0},    // x.x..
    {7, 8, 0, 0, 6},    // .xx..
    {9, 9, 0, 0, 0},    // xxx..
    {5, 0, 5, 4, 2},    // ...x.
    {6, 0, 6, 6, 0},    // x..x.
    {7, 0, 8, 0, 6},    // .x.x.
    {9, 0, 9, 0, 0},    // xx.x.
    {8, 0, 0, 8, 6},    // ..xx.
    {10, 0, 0, 9, 0},   // x.xx.
    {11, 0, 0, 0, 9},   // .xxx.
    {12, 0, 0, 0, 0},   // xxxx.
    {0, 5, 4, 3, 1},    // ....x
    {0, 6, 6, 6, 0},    // x...x
    {0, 7, 7, 0, 6},    // .x..x
    {0, 9, 9, 0, 0},    // xx..x
    {0, 8, 0, 7, 6},    // ..x.x
    {0, 10, 0, 9, 0},   // x.x.x
    {0, 11, 0, 0, 9},   // .xx.x
    {0, 12, 0, 0, 0},   // xxx.x
    {0, 0, 8, 7, 6},    // ...xx
    {0, 0, 10, 9, 0},   // x..xx
    {0, 0, 11, 0, 9},   // .x.xx
    {0, 0, 12, 0, 0},   // xx.xx
    {0, 0, 0, 11, 10},  // ..xxx
    {0, 0, 0, 12, 0},   // x.xxx
    {0, 0, 0, 0, 12},   // .xxxx
    {0, 0, 0, 0, 0},    // xxxxx
    // high end blocked
    {0, 1, 1, 1, 1},    // .....
    {1, 3, 4, 5, 0},    // x....
    {2, 4, 5, 0, 5},    // .x...
    {6, 7, 8, 0, 0},    // xx...
    {2, 5, 0, 5, 4},    // ..x..
    {6, 7, 0, 8, 0},    // x.x..
    {6, 8, 0, 0, 8},    // .xx..
    {10, 11, 0, 0, 0},  // xxx..
    {2, 0, 5, 4, 3},    // ...x.
    {6, 0, 7, 7, 0},    // x..x.
    {6, 0, 8, 0, 7},    // .x.x.
    {9, 0, 11, 0, 0},   // xx.x.
    {6, 0, 0, 8, 7},    // ..xx.
    {9, 0, 0, 11, 0},   // x.xx.
    {9, 0, 0, 0, 11},   // .xxx.
    {12, 0, 0, 0, 0},   // xxxx.
    {0, 2, 2, 2, 1},    // ....x
    {0, 6, 6, 6, 0},    // x...x
    {0, 6, 6, 0, 6},    // .x..x
    {0, 9, 10, 0, 0},   // xx..x
    {0, 6, 0, 6, 6},    // ..x.x
    {0, 9, 0, 10, 0},   // x.x.x
    {0, 9, 0, 0, 10},   // .xx.x
    {0, 12, 0, 0, 0},   // xxx.x
    {0, 0, 6, 6, 6},    // ...xx
    {0, 0, 9, 9, 0},    // x..xx
    {0, 0, 9, 0, 9},    // .x.xx
    {0, 0, 12, 0, 0},   // xx.xx
    {0, 0, 0, 9, 9},    // ..xxx
    {0, 0, 0, 12, 0},   // x.xxx
    {0, 0, 0, 0, 12},   // .xxxx
    {0, 0, 0, 0, 0},    // xxxxx
    // both ends blocked
    {0, 0, 0, 0, 0},   // .....
    {1, 1, 1, 1, 0},   // x....
    {1, 1, 1, 0, 1},   // .x...
    {6, 6, 6, 0, 0},   // xx...
    {1, 1, 0, 1, 1},   // ..x..
    {6, 6, 0, 6, 0},   // x.x..
    {6, 6, 0, 0, 6},   // .xx..
    {9, 9, 0, 0, 0},   // xxx..
    {1, 0, 1, 1, 1},   // ...x.
    {6, 0, 6, 6, 0},   // x..x.
    {6, 0, 6, 0, 6},   // .x.x.
    {9, 0, 9, 0, 0},   // xx.x.
    {6, 0, 0, 6, 6},   // ..xx.
    {9, 0, 0, 9, 0},   // x.xx.
    {9, 0, 0, 0, 9},   // .xxx.
    {12, 0, 0, 0, 0},  // xxxx.
    {0, 1, 1, 1, 1},   // ....x
    {0, 6, 6, 6, 0},   // x...x
    {0, 6, 6, 0, 6},   // .x..x
    {0, 9, 9, 0, 0},   // xx..x
    {0, 6, 0, 6, 6},   // ..x.x
    {0, 9, 0, 9, 0},   // x.x.x
    {0, 9, 0, 0, 9},   // .xx.x
    {0, 12, 0, 0, 0},  // xxx.x
    {0, 0, 6, 6, 6},   // ...xx
    {0, 0, 9, 9, 0},   // x..xx
    {0, 0, 9, 0, 9},   // .x.xx
    {0, 0, 12, 0, 0},  // xx.xx
    {0, 0, 0, 9, 9},   // ..xxx
    {0, 0, 0, 12, 0},  // x.xxx
    {0, 0, 0, 0, 12},  // .xxxx
    {0, 0, 0, 0, 0},   // xxxxx
};

namespace {

// Which of four consecutive frame cells (one byte of a window code) hold
// black, white and wall: bit i for the byte's cell i.
struct QuadMasks {
    uint16_t black;
    uint16_t white;
    uint16_t wall;
};

struct DecodeTables {
    QuadMasks quad[256];
    // Free cells reachable from the centre through four cells given as a
    // "stops this side" mask: walking down from bit 3, and up from bit 0.
    uint8_t runDown[16];
    uint8_t runUp[16];
};

constexpr DecodeTables makeDecodeTables() {
    DecodeTables t{};
    for (int b = 0; b < 256; ++b) {
        QuadMasks m = {0, 0, 0};
        for (int i = 0; i < 4; ++i) {
            int cell = (b >> (2 * i)) & 3;
            if (cell == black) m.black |= static_cast<uint16_t>(1 << i);
            if (cell == white) m.white |= static_cast<uint16_t>(1 << i);
            if (cell == wall) m.wall |= static_cast<uint16_t>(1 << i);
        }
        t.quad[b] = m;
    }
    for (int stop = 0; stop < 16; ++stop) {
        int down = 0;
        for (int i = 3; i >= 0 && !((stop >> i) & 1); --i) ++down;
        int up = 0;
        for (int i = 0; i < 4 && !((stop >> i) & 1); ++i) ++up;
        t.runDown[stop] = static_cast<uint8_t>(down);
        t.runUp[stop] = static_cast<uint8_t>(up);
    }
    return t;
}

constexpr DecodeTables decode = makeDecodeTables();

// One window with an empty centre. Masks are 9-bit, bit i = frame cell i.
WindowEntry windowEntryFor(uint32_t w, int rule) {
    const QuadMasks& lo = decode.quad[w & 0xFF];
    const QuadMasks& hi = decode.quad[w >> 10];
    const uint32_t stones[2] = {lo.black | (uint32_t(hi.black) << 5),
                                lo.white | (uint32_t(hi.white) << 5)};
    const uint32_t walls = lo.wall | (uint32_t(hi.wall) << 5);
    // Cells that stop a side: the opponent's stones and the walls.
    const uint32_t stops[2] = {stones[1] | walls, stones[0] | walls};

    int best[2] = {0, 0};
    bool overline[2] = {false, false};
    for (int h = 0; h < 5; ++h) {
        if ((walls >> h) & 31) continue;
        uint32_t b = (stones[0] >> h) & 31;
        uint32_t wh = (stones[1] >> h) & 31;
        if ((b == 0) == (wh == 0)) continue;  // no stone, or both colours
        int r = b ? 0 : 1;
        int lowBlocked = h == 0 || ((stops[r] >> (h - 1)) & 1);
        int highBlocked = h == 4 || ((stops[r] >> (h + 5)) & 1);
        int code = shapeTable[(b | wh) + 0x20 * lowBlocked + 0x40 * highBlocked][h];
        if (code <= best[r]) continue;
        // A five that extends into a neighbouring stone of the same colour is
        // six or more: not a win for black outside freestyle, nor for white
        // under the standard rule.
        if (code == codeFive && rule != ruleFreestyle && (r == 0 || rule == ruleStandard)) {
            if ((h > 0 && ((stones[r] >> (h - 1)) & 1)) || (h < 4 && ((stones[r] >> (h + 5)) & 1)))
                overline[r] = true;
        }
        best[r] = code;
    }

    WindowEntry e;
    for (int s = 0; s < 2; ++s) {
        e.code[s] = static_cast<uint16_t>(overline[s] ? codeOverline : best[s]);
        e.space[s] = static_cast<int16_t>(decode.runDown[stops[s] & 15] +
                                          decode.runUp[(stops[s] >> 5) & 15]);
    }
    return e;
}

// The general combination formula, for the four codes sorted c[0] >= ... >= c[3].
int generalCombo(const int c[4]) {
    int v = -topPenalty[c[0]];
    if (c[2] == 0) {
        // The product of the four weights over 256 and over d, truncated. The
        // values are small and positive, so one integer division by 256 * d is
        // exactly the truncated floating-point quotient, and it is the same on
        // every build.
        int d = c[1] >= 1 ? 3 : (c[0] >= 1 ? 9 : 18);
        int product = codeWeight[c[0]] * codeWeight[c[1]] * codeWeight[c[2]] * codeWeight[c[3]];
        v += product / (256 * d);
    } else {
        if (c[2] >= 3) v += 4;
        if (c[3] >= 3) v += 8;
    }
    return v;
}

// Black under Renju: overlines, double fours and double threes are forbidden,
// so those code sets are worth minus what they would otherwise add up to.
int renjuBlackCombo(const int c[4]) {
    int fours = 0, threes = 0, valueSum = 0;
    for (int i = 0; i < 4; ++i) {
        if (c[i] >= codeFourA && c[i] <= codeOpenFour) ++fours;
        if (c[i] == codeOpenThreeGap || c[i] == codeOpenThree) ++threes;
        valueSum += codeValue[c[i]];
    }
    if (c[0] == codeOverline) {
        int fives = 0, openFours = 0;
        for (int i = 1; i < 4; ++i) {
            if (c[i] == codeFive) ++fives;
            if (c[i] == codeOpenFour) ++openFours;
        }
        if (fives) return 0;
        if (openFours) return -255 * openFours;
        return -(codeValue[c[1]] + codeValue[c[2]] + codeValue[c[3]]);
    }
    if (fours < 2 || c[0] == codeFive) {
        if (threes < 2) return generalCombo(c);
        if (fours >= 1) return -valueSum;
        if (threes == 2) return -topPenalty[c[0]] - 158;
        return -valueSum;
    }
    int v = 0;
    for (int i = 0; i < 4; ++i) {
        v += (c[i] == codeOpenFour ? 256 : 0) - codeValue[c[i]];
        if (c[i] == codeFourA || c[i] == codeFourB) v += 64;
    }
    return v;
}

// The general formula is what Renju gives black unless the codes make a
// forbidden combination (an overline, two fours, two open threes).
bool renjuBlackIsGeneral(const int c[4]) {
    if (c[0] == codeOverline) return false;
    int fours = 0, threes = 0;
    for (int i = 0; i < 4; ++i) {
        if (c[i] >= codeFourA && c[i] <= codeOpenFour) ++fours;
        if (c[i] == codeOpenThreeGap || c[i] == codeOpenThree) ++threes;
    }
    return (fours < 2 || c[0] == codeFive) && threes < 2;
}

// Pair index of the sorted codes c[0] >= c[1]; -1 for black's forbidden
// combinations under Renju.
int pairIndexOfSorted(const int c[4], bool renjuBlack) {
    if (c[0] > codeOverline || (renjuBlack && !renjuBlackIsGeneral(c))) return -1;
    return c[0] * (c[0] + 1) / 2 + c[1];
}

uint16_t flagsFor(const int c[4]) {
    uint16_t f = 0;
    for (int i = 0; i < 4; ++i) {
        if (c[i] >= 3) ++f;
        if (c[i] >= codeOpenThreeGap) f |= flagThree;
        if (c[i] >= codeFourA) f |= flagFour;
        if (c[i] == codeFourB) f |= flagFourB;
    }
    return f;
}

// The 24 orderings of four nibble slots.
constexpr uint8_t orderings[24][4] = {
    {0, 1, 2, 3}, {0, 1, 3, 2}, {0, 2, 1, 3}, {0, 2, 3, 1}, {0, 3, 1, 2}, {0, 3, 2, 1},
    {1, 0, 2, 3}, {1, 0, 3, 2}, {1, 2, 0, 3}, {1, 2, 3, 0}, {1, 3, 0, 2}, {1, 3, 2, 0},
    {2, 0, 1, 3}, {2, 0, 3, 1}, {2, 1, 0, 3}, {2, 1, 3, 0}, {2, 3, 0, 1}, {2, 3, 1, 0},
    {3, 0, 1, 2}, {3, 0, 2, 1}, {3, 1, 0, 2}, {3, 1, 2, 0}, {3, 2, 0, 1}, {3, 2, 1, 0}};

}  // namespace

void buildPatternTables() {
    const int rule = engine.rule;

    // 1. Windows. An occupied centre gives the all-zero entry.
    WindowEntry* table = engine.windowTable;
    for (uint32_t w = 0; w < static_cast<uint32_t>(windowCount); ++w) {
        if ((w >> 8) & 3) {
            table[w] = WindowEntry{{0, 0}, {0, 0}};
        } else {
            table[w] = windowEntryFor(w, rule);
        }
        engine.windowCodes[w] = WindowCodes{
            {static_cast<uint8_t>(table[w].code[0]), static_cast<uint8_t>(table[w].code[1])},
            {static_cast<uint8_t>(table[w].space[0]), static_cast<uint8_t>(table[w].space[1])}};
    }

    // 2. Combinations and flags, once per sorted quadruple.
    const bool tuned = engine.searchMode == searchDefault;
    const int16_t* tuning = comboPairTuning[rule == ruleRenju ? 1 : 0];
    int c[4];
    for (c[0] = 0; c[0] < 16; ++c[0]) {
        for (c[1] = 0; c[1] <= c[0]; ++c[1]) {
            for (c[2] = 0; c[2] <= c[1]; ++c[2]) {
                for (c[3] = 0; c[3] <= c[2]; ++c[3]) {
                    int general = generalCombo(c);
                    int blackValue = rule == ruleRenju ? renjuBlackCombo(c) : general;
                    if (tuned) {
                        int whitePair = pairIndexOfSorted(c, false);
                        int blackPair = pairIndexOfSorted(c, rule == ruleRenju);
                        if (whitePair >= 0) general += tuning[whitePair];
                        if (blackPair >= 0) blackValue += tuning[blackPair];
                    }
                    uint16_t flags = flagsFor(c);
                    for (const auto& o : orderings) {
                        uint32_t word = c[o[0]] | (c[o[1]] << 4) | (c[o[2]] << 8) | (c[o[3]] << 12);
                        engine.comboTable[0][word] = static_cast<int16_t>(blackValue);
                        engine.comboTable[1][word] = static_cast<int16_t>(general);
                        engine.comboFlags[word] = flags;
                    }
                }
            }
        }
    }
}

int comboPairIndex(uint32_t codeWord, int side, int rule) {
    int c[4];
    for (int i = 0; i < 4; ++i) c[i] = static_cast<int>((codeWord >> (4 * i)) & 15);
    std::sort(c, c + 4, [](int a, int b) { return a > b; });
    return pairIndexOfSorted(c, side == black && rule == ruleRenju);
}
