// Incremental board: reset values, pattern codes with the exact-five
// corrections, threat-point groups, walls, and the invariant that every
// incremental field equals a from-scratch recomputation after any sequence of
// placements and removals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/pattern_tables.h"
#include "board/tables.h"
#include "board_setup.h"
#include "rules/light_placement.h"

namespace {

int code(int x, int y, int side, int d) {
    return codeAt(engine.patterns[x][y].codeWord[side - 1], d);
}
int space(int x, int y, int side, int d) {
    return codeAt(engine.patterns[x][y].spaceWord[side - 1], d);
}

bool inGroup(int group, int side, int x, int y) {
    bool rowBit = (engine.rowMask[group][side - 1][x] >> y) & 1;
    bool topBit = (engine.topMask[group][side - 1] >> x) & 1;
    EXPECT_TRUE(!rowBit || topBit) << "row bit without top bit at " << x << "," << y;
    return rowBit;
}

std::vector<std::pair<int, int>> groupPoints(int group, int side) {
    std::vector<std::pair<int, int>> out;
    forEachGroupPoint(group, side, [&](int x, int y) {
        out.emplace_back(x, y);
        return false;
    });
    return out;
}

// ---------------------------------------------------------------------------
// An independent model of the board: its own cells, which directions of which
// points have been refreshed since the reset, and every derived field
// recomputed from those alone.

struct Model {
    int cells[24][24];
    bool refreshed[24][24][4];
};

int modelLineLength(int d, int x, int y, int size) {
    switch (d) {
        case H:
        case V: return size;
        case D: return size - std::abs(x + y - (size - 1));
        default: return size - std::abs(x - y);
    }
}

// Position along the line: the number of steps back to its first cell.
int modelPosition(int d, int x, int y, int size) {
    int p = 0;
    int cx = x - dirStepX[d];
    int cy = y - dirStepY[d];
    while (cx >= 0 && cy >= 0 && cx < size && cy < size) {
        ++p;
        cx -= dirStepX[d];
        cy -= dirStepY[d];
    }
    return p;
}

bool inRect(int x, int y) {
    return x >= 0 && y >= 0 && x < engine.boardHeight && y < engine.boardWidth;
}

void modelReset(Model& m) {
    std::memset(&m, 0, sizeof m);
    int size = engine.boardSize;
    for (int x = 0; x < size; ++x)
        for (int y = 0; y < size; ++y)
            if (!inRect(x, y)) m.cells[x][y] = wall;
    // Wall placements refresh the board points near them.
    for (int x = 0; x < size; ++x)
        for (int y = 0; y < size; ++y)
            if (!inRect(x, y)) {
                for (int d = 0; d < 4; ++d)
                    for (int k = -engine.updateRadius; k <= engine.updateRadius; ++k) {
                        int qx = x + k * dirStepX[d], qy = y + k * dirStepY[d];
                        if (inRect(qx, qy)) m.refreshed[qx][qy][d] = true;
                    }
            }
}

void modelChange(Model& m, int x, int y, int colour) {
    m.cells[x][y] = colour;
    for (int d = 0; d < 4; ++d)
        for (int k = -engine.updateRadius; k <= engine.updateRadius; ++k) {
            int qx = x + k * dirStepX[d], qy = y + k * dirStepY[d];
            if (inRect(qx, qy)) m.refreshed[qx][qy][d] = true;
        }
}

// Number of `side` stones in a row through (x, y) along d, counting (x, y)
// and the extra point (ex, ey) as the side's stones.
int modelRun(const Model& m, int d, int side, int x, int y, int ex, int ey) {
    auto own = [&](int cx, int cy) {
        if ((cx == x && cy == y) || (cx == ex && cy == ey)) return true;
        return inRect(cx, cy) && m.cells[cx][cy] == side;
    };
    int n = 1;
    for (int k = 1; own(x + k * dirStepX[d], y + k * dirStepY[d]); ++k) ++n;
    for (int k = 1; own(x - k * dirStepX[d], y - k * dirStepY[d]); ++k) ++n;
    return n;
}

bool fivesExact(int side) {
    return engine.rule == ruleStandard || (engine.rule == ruleRenju && side == black);
}

// Codes and spaces of a point in one direction for both sides: the reset's
// values where the direction was never refreshed (or the point is a wall),
// else the table's values for an empty point with the exact-five rule
// applied, and zeros for an occupied point.
void expectedDirection(const Model& m, int x, int y, int d, int c[2], int s[2]) {
    int size = engine.boardSize;
    int len = modelLineLength(d, x, y, size);
    int p = modelPosition(d, x, y, size);
    if (!inRect(x, y) || !m.refreshed[x][y][d]) {
        // Code 1 on lines of six or more except at their ends; space = the
        // line's cells within four steps.
        c[0] = c[1] = (len >= 6 && p > 0 && p < len - 1) ? 1 : 0;
        s[0] = s[1] = std::min(p, 4) + std::min(len - 1 - p, 4);
        return;
    }
    c[0] = c[1] = s[0] = s[1] = 0;
    if (m.cells[x][y] != 0) return;
    uint32_t w = 0;
    for (int i = 0; i < 9; ++i) {
        int pos = p - 4 + i;
        int cell = 0;
        if (pos == -1 || pos == len) {
            cell = wall;
        } else if (pos >= 0 && pos < len) {
            int k = pos - p;
            cell = m.cells[x + k * dirStepX[d]][y + k * dirStepY[d]];
        }
        w |= static_cast<uint32_t>(cell) << (2 * i);
    }
    const WindowEntry& e = engine.windowTable[w];
    for (int side = 1; side <= 2; ++side) {
        int& code = c[side - 1];
        code = e.code[side - 1];
        s[side - 1] = e.space[side - 1];
        if (!fivesExact(side)) continue;
        if (code == codeFive && modelRun(m, d, side, x, y, -100, -100) >= 6) code = codeOverline;
        if (code == codeOpenFour) {
            // Both completion points of the open four; if filling either
            // makes six or more, the four has only one real completion.
            for (int dirSign = -1; dirSign <= 1; dirSign += 2) {
                int k = 1;
                int sx = dirSign * dirStepX[d], sy = dirSign * dirStepY[d];
                while (inRect(x + k * sx, y + k * sy) && m.cells[x + k * sx][y + k * sy] == side) {
                    ++k;
                }
                if (modelRun(m, d, side, x, y, x + k * sx, y + k * sy) >= 6) code = codeFourA;
            }
        }
    }
}

int16_t weighted(int pv, int ss) { return static_cast<int16_t>(pv * ss / 32); }

// Compares every incremental field with the model; returns the number of
// mismatches and reports the first few.
int compareWithModel(const Model& m) {
    int size = engine.boardSize;
    int bad = 0;
    auto fail = [&](const char* what, int x, int y) {
        if (bad++ < 5) ADD_FAILURE() << what << " differs at " << x << "," << y;
    };
    uint64_t key = 0;
    int stones = 0;
    int32_t total[2] = {0, 0};
    int32_t dirMask[4][2][24][24] = {};
    int32_t rowMask[5][2][24] = {};
    int32_t topMask[5][2] = {};
    for (int x = 0; x < size; ++x) {
        for (int y = 0; y < size; ++y) {
            int cell = m.cells[x][y];
            if (engine.cells[x][y] != cell) fail("cell", x, y);
            if (cell != 0) key ^= engine.zobrist[x][y][cell - 1];
            if (cell == black || cell == white) ++stones;
            for (int d = 0; d < 4; ++d) {
                int p = modelPosition(d, x, y, size);
                uint64_t word = lineWordOf(d, x, y);
                if (static_cast<int>((word >> (2 * p + 8)) & 3) != cell) fail("line word", x, y);
            }
            const PointPatterns& pp = engine.patterns[x][y];
            int codes[4][2], spaces[4][2];
            for (int d = 0; d < 4; ++d) expectedDirection(m, x, y, d, codes[d], spaces[d]);
            for (int side = 1; side <= 2; ++side) {
                int t = side - 1;
                uint32_t cw = 0, sw = 0;
                int lvs = 0, ss = 0;
                for (int d = 0; d < 4; ++d) {
                    int c = codes[d][t], s = spaces[d][t];
                    cw |= static_cast<uint32_t>(c) << (4 * d);
                    sw |= static_cast<uint32_t>(s) << (4 * d);
                    lvs += codeValue[c];
                    ss += s;
                    int g = c == 12               ? 0
                            : c == 11             ? 1
                            : (c == 9 || c == 10) ? 2
                            : (c == 7 || c == 8)  ? 3
                                                  : -1;
                    if (g >= 0) {
                        dirMask[g][t][x][y] |= 1 << d;
                        rowMask[g][t][x] |= 1 << y;
                        topMask[g][t] |= 1 << x;
                    }
                }
                int threatDirs = dirMask[2][t][x][y] | dirMask[3][t][x][y];
                if (threatDirs != 0 && (threatDirs & (threatDirs - 1)) != 0) {
                    rowMask[4][t][x] |= 1 << y;
                    topMask[4][t] |= 1 << x;
                }
                int pv = static_cast<int16_t>(lvs + engine.comboTable[t][cw]);
                int16_t wv = weighted(pv, ss);
                if (pp.codeWord[t] != cw) fail("codeWord", x, y);
                if (pp.spaceWord[t] != sw) fail("spaceWord", x, y);
                if (pp.lineValueSum[t] != lvs) fail("lineValueSum", x, y);
                if (pp.pointValue[t] != pv) fail("pointValue", x, y);
                if (pp.spaceSum[t] != ss) fail("spaceSum", x, y);
                if (pp.weightedValue[t] != wv) fail("weightedValue", x, y);
                total[t] += wv;
            }
        }
    }
    if (engine.hashKey != key) fail("hashKey", -1, -1);
    if (engine.stoneCount != stones) fail("stoneCount", -1, -1);
    if (engine.valueTotal[0] != total[0] || engine.valueTotal[1] != total[1]) {
        fail("valueTotal", -1, -1);
    }
    if (std::memcmp(dirMask, engine.dirMask, sizeof dirMask) != 0) fail("dirMask", -1, -1);
    if (std::memcmp(rowMask, engine.rowMask, sizeof rowMask) != 0) fail("rowMask", -1, -1);
    if (std::memcmp(topMask, engine.topMask, sizeof topMask) != 0) fail("topMask", -1, -1);
    return bad;
}

// Deterministic generator for the random sequences (no dependence on rand,
// which the key generation owns).
struct Lcg {
    uint64_t s;
    int next(int n) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<int>((s >> 33) % static_cast<uint64_t>(n));
    }
};

struct Snapshot {
    int cells[24][24];
    LineWords lines;
    uint64_t hashKey;
    int stoneCount;
    int32_t dirMask[4][2][24][24];
    int32_t rowMask[5][2][24];
    int32_t topMask[5][2];
};

void takeSnapshot(Snapshot& s) {
    std::memcpy(s.cells, engine.cells, sizeof s.cells);
    s.lines = engine.lineWords;
    s.hashKey = engine.hashKey;
    s.stoneCount = engine.stoneCount;
    std::memcpy(s.dirMask, engine.dirMask, sizeof s.dirMask);
    std::memcpy(s.rowMask, engine.rowMask, sizeof s.rowMask);
    std::memcpy(s.topMask, engine.topMask, sizeof s.topMask);
}

bool sameAsSnapshot(const Snapshot& s) {
    return std::memcmp(s.cells, engine.cells, sizeof s.cells) == 0 &&
           std::memcmp(&s.lines, &engine.lineWords, sizeof s.lines) == 0 &&
           s.hashKey == engine.hashKey && s.stoneCount == engine.stoneCount &&
           std::memcmp(s.dirMask, engine.dirMask, sizeof s.dirMask) == 0 &&
           std::memcmp(s.rowMask, engine.rowMask, sizeof s.rowMask) == 0 &&
           std::memcmp(s.topMask, engine.topMask, sizeof s.topMask) == 0;
}

// Picks an empty board point, mostly on a line next to an existing stone of
// the same colour so that long rows, fours, fives and overlines come up.
bool pickPoint(const Model& m, Lcg& rng, int colour, int& px, int& py) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        int x, y;
        if (engine.stoneCount > 0 && rng.next(4) != 0) {
            const StonePoint& s = engine.stoneList[rng.next(engine.stoneCount)];
            int d = rng.next(4), k = rng.next(3) + 1, sign = rng.next(2) ? 1 : -1;
            if (m.cells[s.x][s.y] != colour && rng.next(2)) continue;
            x = s.x + sign * k * dirStepX[d];
            y = s.y + sign * k * dirStepY[d];
        } else {
            x = rng.next(engine.boardHeight);
            y = rng.next(engine.boardWidth);
        }
        if (inRect(x, y) && m.cells[x][y] == 0) {
            px = x;
            py = y;
            return true;
        }
    }
    return false;
}

// Random nested placements and removals, checked against the model after
// every operation.
void randomWalk(int rule, int width, int height, uint64_t seed, int operations) {
    SCOPED_TRACE(::testing::Message()
                 << "rule " << rule << " board " << width << "x" << height << " seed " << seed);
    newBoard(rule, width, height);
    Model m;
    modelReset(m);
    Lcg rng{seed};
    // A few blocked points inside the rectangle, as a BOARD command leaves.
    int blocked = rng.next(3);
    for (int i = 0; i < blocked; ++i) {
        int x = rng.next(height), y = rng.next(width);
        if (m.cells[x][y] != 0) continue;
        placeStone(x, y, wall);
        modelChange(m, x, y, wall);
    }
    ASSERT_EQ(compareWithModel(m), 0);
    std::vector<int> colours;
    for (int op = 0; op < operations; ++op) {
        bool remove = engine.stoneCount > 0 && rng.next(10) < 3;
        if (remove) {
            const StonePoint s = engine.stoneList[engine.stoneCount - 1];
            removeStone(s.x, s.y, colours.back());
            modelChange(m, s.x, s.y, 0);
            colours.pop_back();
        } else {
            int colour = rng.next(3) == 0 ? white : black;
            if (!colours.empty() && rng.next(2)) colour = 3 - colours.back();
            int x, y;
            if (!pickPoint(m, rng, colour, x, y)) continue;
            // A placement undone at once restores the exact state.
            Snapshot before;
            takeSnapshot(before);
            placeStone(x, y, colour);
            removeStone(x, y, colour);
            modelChange(m, x, y, 0);
            ASSERT_TRUE(sameAsSnapshot(before)) << "place/remove of " << x << "," << y;
            placeStone(x, y, colour);
            modelChange(m, x, y, colour);
            colours.push_back(colour);
        }
        ASSERT_EQ(compareWithModel(m), 0) << "after operation " << op;
        ASSERT_TRUE(checkBoardConsistency()) << "after operation " << op;
    }
    // Unwinding everything leaves the empty board's sets and key.
    while (engine.stoneCount > 0) {
        const StonePoint s = engine.stoneList[engine.stoneCount - 1];
        removeStone(s.x, s.y, colours.back());
        modelChange(m, s.x, s.y, 0);
        colours.pop_back();
    }
    ASSERT_EQ(compareWithModel(m), 0);
    for (int g = 0; g < 5; ++g) {
        EXPECT_EQ(engine.topMask[g][0], 0);
        EXPECT_EQ(engine.topMask[g][1], 0);
    }
}

}  // namespace

// ---------------------------------------------------------------------------

TEST(ResetBoard, CentreAndCornerOfAnEmptyBoard) {
    // The formula's own values: the default search's tables add tuned amounts.
    newBoard(ruleFreestyle, 15, 15);
    engine.searchMode = searchClassic;
    buildEngineTables();
    resetBoard();
    for (int side = 1; side <= 2; ++side) {
        const PointPatterns& c = engine.patterns[7][7];
        for (int d = 0; d < 4; ++d) {
            EXPECT_EQ(code(7, 7, side, d), 1);
            EXPECT_EQ(space(7, 7, side, d), 8);
        }
        EXPECT_EQ(c.lineValueSum[side - 1], 4);
        EXPECT_EQ(c.spaceSum[side - 1], 32);
        EXPECT_EQ(c.pointValue[side - 1], 2);  // 4 + combination value -2 of four 1s
        EXPECT_EQ(c.weightedValue[side - 1], 2);
        for (int d = 0; d < 4; ++d) EXPECT_EQ(code(0, 0, side, d), 0);
        EXPECT_EQ(space(0, 0, side, H), 4);
        EXPECT_EQ(space(0, 0, side, V), 4);
        EXPECT_EQ(space(0, 0, side, D), 0);  // the D line of (0,0) is one cell long
        EXPECT_EQ(space(0, 0, side, A), 4);
    }
    EXPECT_EQ(engine.hashKey, 0u);
    EXPECT_EQ(engine.stoneCount, 0);
    EXPECT_EQ(engine.valueTotal[0], engine.valueTotal[1]);
    EXPECT_TRUE(checkBoardConsistency());
}

TEST(ResetBoard, LineWordsCarryWallsAtBothEnds) {
    newBoard(ruleFreestyle, 15, 15);
    // H line: 15 cells, walls at positions -1 (bits 6-7) and 15 (bits 38-39).
    EXPECT_EQ(engine.lineWords.H[3], (uint64_t{3} << 6) | (uint64_t{3} << 38));
    // The A line of (0, 14) has index 1 and length 1.
    EXPECT_EQ(engine.lineWords.A[1], (uint64_t{3} << 6) | (uint64_t{3} << 10));
    EXPECT_EQ(engine.lineWords.A[0], 0u);
    EXPECT_EQ(engine.lineWords.D[29], 0u);  // D lines run 0..28
}

TEST(ResetBoard, RectangularBoardIsWalledOutsideTheRectangle) {
    // RECTSTART 10,5: width 10 bounds y, height 5 bounds x.
    newBoard(ruleFreestyle, 10, 5);
    ASSERT_EQ(engine.boardSize, 10);
    uint64_t key = 0;
    int walls = 0;
    for (int x = 0; x < 10; ++x)
        for (int y = 0; y < 10; ++y) {
            EXPECT_EQ(engine.cells[x][y], x >= 5 ? wall : empty) << x << "," << y;
            if (x >= 5) {
                key ^= engine.zobrist[x][y][2];
                ++walls;
                EXPECT_EQ((engine.lineWords.H[x] >> (2 * y + 8)) & 3, 3u);
                EXPECT_EQ((engine.lineWords.V[y] >> (2 * x + 8)) & 3, 3u);
                EXPECT_EQ((engine.lineWords.D[x + y] >> (2 * engine.posD[x][y] + 8)) & 3, 3u);
                EXPECT_EQ((engine.lineWords.A[x - y + 10] >> (2 * engine.posA[x][y] + 8)) & 3, 3u);
            }
        }
    EXPECT_EQ(walls, 50);
    EXPECT_EQ(engine.hashKey, key);
    EXPECT_EQ(engine.stoneCount, 0);
    // A point next to the wall sees it: from (4, 3) the V line holds 4 free
    // cells below and none above.
    EXPECT_EQ(space(4, 3, black, V), 4);
    EXPECT_EQ(code(4, 3, black, V), 0);
    // Wall points keep the reset record: (7, 5) is inside the 10x10 square.
    EXPECT_EQ(code(7, 5, black, H), 1);
    EXPECT_TRUE(checkBoardConsistency());
}

TEST(ResetBoard, ClearsSearchFieldsAndKeepsAWholeGameOut) {
    newBoard(ruleStandard, 15, 15);
    placeStone(7, 7, black);
    placeStone(7, 8, white);
    engine.iterationDepth = 5;
    engine.searchAborted = 1;
    engine.lastSearchValue = 77;
    engine.moveLists[3][4].key = 9;
    resetBoard();
    EXPECT_EQ(engine.stoneCount, 0);
    EXPECT_EQ(engine.hashKey, 0u);
    EXPECT_EQ(engine.cells[7][7], empty);
    EXPECT_EQ(engine.iterationDepth, 0);
    EXPECT_EQ(engine.searchAborted, 0);
    EXPECT_EQ(engine.lastSearchValue, 0);
    EXPECT_EQ(engine.moveLists[3][4].key, 0);
    EXPECT_EQ(code(7, 7, black, H), 1);  // back to the reset code
    EXPECT_TRUE(checkBoardConsistency());
}

TEST(PlaceStone, OpenThreeGivesOpenFourPointsInGroupOne) {
    newBoard(ruleFreestyle, 15, 15);
    placeStone(7, 4, black);
    placeStone(7, 5, black);
    placeStone(7, 6, black);
    EXPECT_EQ(code(7, 3, black, H), 11);
    EXPECT_EQ(code(7, 7, black, H), 11);
    EXPECT_EQ(engine.dirMask[groupOpenFour][0][7][3], 1);
    EXPECT_EQ(engine.dirMask[groupOpenFour][0][7][7], 1);
    std::vector<std::pair<int, int>> want = {{7, 3}, {7, 7}};
    EXPECT_EQ(groupPoints(groupOpenFour, black), want);
    EXPECT_TRUE(groupEmpty(groupOpenFour, white));
    // The stones' own points are occupied: codes and spaces 0.
    EXPECT_EQ(engine.patterns[7][5].codeWord[0], 0u);
    EXPECT_EQ(engine.patterns[7][5].spaceWord[1], 0u);
    // (7, 2) and (7, 8) would make a four with one gap: group 2.
    EXPECT_TRUE(inGroup(groupFour, black, 7, 2));
    EXPECT_TRUE(inGroup(groupFour, black, 7, 8));
    EXPECT_TRUE(checkBoardConsistency());
}

TEST(PlaceStone, SixStonesMakeTheEndPointsOverlinesWhenFivesAreExact) {
    for (int rule : {ruleFreestyle, ruleStandard, ruleRenju}) {
        SCOPED_TRACE(rule);
        newBoard(rule, 15, 15);
        for (int y = 3; y <= 8; ++y) placeStone(7, y, black);
        // The window of (7, 2) sees (7, 3) to (7, 6) only: a five by itself.
        int expected = rule == ruleFreestyle ? 12 : 13;
        EXPECT_EQ(code(7, 2, black, H), expected);
        EXPECT_EQ(code(7, 9, black, H), expected);
        EXPECT_EQ(inGroup(groupFive, black, 7, 2), rule == ruleFreestyle);
        EXPECT_EQ(inGroup(groupFive, black, 7, 9), rule == ruleFreestyle);
        // An overline is worth nothing in lineValueSum.
        EXPECT_EQ(engine.patterns[7][2].lineValueSum[0],
                  codeValue[expected] + codeValue[code(7, 2, black, V)] +
                      codeValue[code(7, 2, black, D)] + codeValue[code(7, 2, black, A)]);
        EXPECT_TRUE(checkBoardConsistency());
    }
}

TEST(PlaceStone, OpenFourWithAnOverlineCompletionIsAFour) {
    for (int rule : {ruleFreestyle, ruleStandard}) {
        SCOPED_TRACE(rule);
        newBoard(rule, 15, 15);
        for (int y : {3, 4, 5, 8}) placeStone(7, y, black);
        // At (7, 6): completing at (7, 7) would give 3..8, six stones.
        if (rule == ruleFreestyle) {
            EXPECT_EQ(code(7, 6, black, H), 11);
            EXPECT_TRUE(inGroup(groupOpenFour, black, 7, 6));
            EXPECT_FALSE(inGroup(groupFour, black, 7, 6));
        } else {
            EXPECT_EQ(code(7, 6, black, H), 9);
            EXPECT_EQ(engine.dirMask[groupFour][0][7][6], 1);
            EXPECT_EQ(engine.dirMask[groupOpenFour][0][7][6], 0);
            EXPECT_FALSE(inGroup(groupOpenFour, black, 7, 6));
        }
        EXPECT_TRUE(checkBoardConsistency());
        // Taking the far stone away makes it an open four again.
        removeStone(7, 8, black);
        EXPECT_EQ(code(7, 6, black, H), 11);
        EXPECT_TRUE(inGroup(groupOpenFour, black, 7, 6));
        EXPECT_TRUE(checkBoardConsistency());
    }
}

TEST(PlaceStone, WhiteOverlineIsAFiveInRenju) {
    for (int rule : {ruleStandard, ruleRenju}) {
        newBoard(rule, 15, 15);
        for (int y = 3; y <= 7; ++y) placeStone(7, y, white);
        EXPECT_EQ(code(7, 8, white, H), rule == ruleRenju ? 12 : 13);
        EXPECT_EQ(inGroup(groupFive, white, 7, 8), rule == ruleRenju);
        EXPECT_TRUE(checkBoardConsistency());
    }
}

TEST(PlaceStone, ThreeAndFourInTwoDirectionsMakeADoubleThreat) {
    newBoard(ruleFreestyle, 15, 15);
    // At (7, 7): H gives an open three with (7, 5), (7, 6); V gives a four
    // with (5, 7), (6, 7) and (8, 7), blocked by white at (4, 7).
    placeStone(7, 5, black);
    placeStone(7, 6, black);
    placeStone(4, 7, white);
    placeStone(5, 7, black);
    placeStone(6, 7, black);
    placeStone(8, 7, black);
    EXPECT_EQ(code(7, 7, black, H), 8);
    EXPECT_EQ(code(7, 7, black, V), 9);
    EXPECT_TRUE(inGroup(groupOpenThree, black, 7, 7));
    EXPECT_TRUE(inGroup(groupFour, black, 7, 7));
    EXPECT_EQ(engine.dirMask[groupFour][0][7][7], 2);
    EXPECT_EQ(engine.dirMask[groupOpenThree][0][7][7], 1);
    // (7, 7) is the only double point of row 7.
    EXPECT_EQ(engine.rowMask[groupDouble][0][7], 1 << 7);
    EXPECT_NE(engine.topMask[groupDouble][0] & (1 << 7), 0);
    // Without (8, 7) the V shape is a blocked three: no four, no double.
    removeStone(8, 7, black);
    EXPECT_EQ(code(7, 7, black, V), 6);
    EXPECT_FALSE(inGroup(groupFour, black, 7, 7));
    EXPECT_TRUE(inGroup(groupOpenThree, black, 7, 7));
    EXPECT_EQ(engine.rowMask[groupDouble][0][7], 0);
    EXPECT_EQ(engine.topMask[groupDouble][0] & (1 << 7), 0);
    EXPECT_TRUE(checkBoardConsistency());
    placeStone(8, 7, black);
    EXPECT_TRUE(inGroup(groupDouble, black, 7, 7));
    EXPECT_TRUE(checkBoardConsistency());
}

TEST(PlaceStone, RowStaysInTopMaskWhileAnotherPointOfItsRowIsDouble) {
    newBoard(ruleFreestyle, 15, 15);
    // (7, 3) and (7, 11): each a blocked four in V (white above, a gap at the
    // point itself) and an open three in D.
    for (int y : {3, 11}) {
        placeStone(4, y, white);
        placeStone(5, y, black);
        placeStone(6, y, black);
        placeStone(8, y - 1, black);
        placeStone(9, y - 2, black);
    }
    placeStone(8, 11, black);
    placeStone(8, 3, black);
    EXPECT_EQ(code(7, 3, black, V), 9);
    EXPECT_EQ(code(7, 3, black, D), 8);
    EXPECT_EQ(engine.rowMask[groupDouble][0][7], (1 << 3) | (1 << 11));
    removeStone(8, 3, black);
    EXPECT_EQ(engine.rowMask[groupDouble][0][7], 1 << 11);
    EXPECT_NE(engine.topMask[groupDouble][0] & (1 << 7), 0);
    EXPECT_TRUE(inGroup(groupOpenThree, black, 7, 3));  // the D three is still there
    removeStone(8, 11, black);
    EXPECT_EQ(engine.rowMask[groupDouble][0][7], 0);
    EXPECT_EQ(engine.topMask[groupDouble][0] & (1 << 7), 0);
    EXPECT_TRUE(checkBoardConsistency());
}

TEST(PlaceStone, KeysAndStoneList) {
    newBoard(ruleRenju, 15, 15);
    placeStone(7, 7, black);
    placeStone(8, 8, white);
    EXPECT_EQ(engine.hashKey, engine.zobrist[7][7][0] ^ engine.zobrist[8][8][1]);
    EXPECT_EQ(engine.stoneCount, 2);
    EXPECT_EQ(engine.stoneList[0].x, 7);
    EXPECT_EQ(engine.stoneList[1].y, 8);
    // A blocked point is a wall: in the key, not in the list.
    placeStone(0, 0, wall);
    EXPECT_EQ(engine.stoneCount, 2);
    EXPECT_EQ(engine.hashKey,
              engine.zobrist[7][7][0] ^ engine.zobrist[8][8][1] ^ engine.zobrist[0][0][2]);
    EXPECT_TRUE(checkBoardConsistency());
    removeStone(0, 0, wall);
    removeStone(8, 8, white);
    removeStone(7, 7, black);
    EXPECT_EQ(engine.hashKey, 0u);
    EXPECT_EQ(engine.stoneCount, 0);
    EXPECT_TRUE(checkBoardConsistency());
}

TEST(PlaceStone, RefreshedEmptyLineDropsTheResetCode) {
    newBoard(ruleFreestyle, 15, 15);
    placeStone(7, 7, black);
    removeStone(7, 7, black);
    // (7, 3) was refreshed in H and its window is empty again: code 0 now.
    EXPECT_EQ(code(7, 3, black, H), 0);
    // (7, 2) is five steps away, beyond the freestyle radius: still 1.
    EXPECT_EQ(code(7, 2, black, H), 1);
    EXPECT_TRUE(checkBoardConsistency());
}

TEST(ConsistencyCheck, DetectsCorruption) {
    newBoard(ruleStandard, 15, 15);
    placeStone(7, 4, black);
    placeStone(7, 5, black);
    placeStone(7, 6, black);
    placeStone(8, 8, white);
    ASSERT_TRUE(checkBoardConsistency());

    engine.dirMask[groupOpenFour][0][7][3] ^= 2;
    EXPECT_FALSE(checkBoardConsistency());
    engine.dirMask[groupOpenFour][0][7][3] ^= 2;

    engine.rowMask[groupDouble][1][2] ^= 1;
    EXPECT_FALSE(checkBoardConsistency());
    engine.rowMask[groupDouble][1][2] ^= 1;

    engine.patterns[7][7].codeWord[0] ^= 0x10;
    EXPECT_FALSE(checkBoardConsistency());
    engine.patterns[7][7].codeWord[0] ^= 0x10;

    engine.patterns[3][3].spaceWord[1] ^= 1;
    EXPECT_FALSE(checkBoardConsistency());
    engine.patterns[3][3].spaceWord[1] ^= 1;

    engine.valueTotal[1] += 1;
    EXPECT_FALSE(checkBoardConsistency());
    engine.valueTotal[1] -= 1;

    engine.hashKey ^= 1;
    EXPECT_FALSE(checkBoardConsistency());
    engine.hashKey ^= 1;

    engine.lineWords.V[4] ^= uint64_t{1} << 30;
    EXPECT_FALSE(checkBoardConsistency());
    engine.lineWords.V[4] ^= uint64_t{1} << 30;

    engine.stoneCount = 3;
    EXPECT_FALSE(checkBoardConsistency());
    engine.stoneCount = 4;

    // (2, 2) was never refreshed: its reset code 1 may not turn into 0 alone.
    ASSERT_EQ(code(2, 2, black, H), 1);
    engine.patterns[2][2].codeWord[0] ^= 1;
    EXPECT_FALSE(checkBoardConsistency());
    engine.patterns[2][2].codeWord[0] ^= 1;

    engine.staleValue[2][2] = 1;  // a stale mark without its line marks
    EXPECT_FALSE(checkBoardConsistency());
    engine.staleValue[2][2] = 0;
    EXPECT_TRUE(checkBoardConsistency());
}

// A trial stone next to a point still holding reset codes turns them into the
// table's 0 for good but leaves the point's value as computed with them. Once
// that has happened in all four directions, a stone placed on the point
// changes none of its codes (all 0 already), so the stale value stays on an
// occupied point. That is the engine's real state, and the checker takes it.
TEST(ConsistencyCheck, AcceptsAValueLeftStaleUnderAStone) {
    newBoard(ruleFreestyle, 15, 15);
    const int nx[4] = {7, 8, 6, 8};
    const int ny[4] = {8, 7, 8, 8};
    for (int d = 0; d < 4; ++d) {
        placeStoneLight(nx[d], ny[d], white);
        removeStoneLight(nx[d], ny[d], white);
    }
    const PointPatterns& p = engine.patterns[7][7];
    ASSERT_EQ(p.codeWord[0], 0u);
    ASSERT_NE(p.pointValue[0],
              static_cast<int16_t>(p.lineValueSum[0] + engine.comboTable[0][p.codeWord[0]]));
    EXPECT_TRUE(checkBoardConsistency());

    placeStone(7, 7, black);
    ASSERT_EQ(p.codeWord[0], 0u);
    ASSERT_NE(p.pointValue[0],
              static_cast<int16_t>(p.lineValueSum[0] + engine.comboTable[0][p.codeWord[0]]));
    EXPECT_TRUE(checkBoardConsistency());
    removeStone(7, 7, black);
    EXPECT_TRUE(checkBoardConsistency());
}

TEST(RandomSequences, MatchAFromScratchRecomputation) {
    struct Case {
        int rule, width, height, ops;
    };
    const Case cases[] = {
        {ruleFreestyle, 15, 15, 160}, {ruleStandard, 15, 15, 160}, {ruleRenju, 15, 15, 160},
        {ruleRenju, 24, 24, 120},     {ruleStandard, 20, 13, 120}, {ruleFreestyle, 7, 19, 100},
        {ruleRenju, 6, 6, 60},        {ruleStandard, 24, 5, 80},   {ruleFreestyle, 1, 9, 20},
    };
    uint64_t seed = 12345;
    for (const Case& c : cases) {
        for (int round = 0; round < 2; ++round) {
            randomWalk(c.rule, c.width, c.height, seed++, c.ops);
            if (HasFatalFailure()) return;
        }
    }
}
