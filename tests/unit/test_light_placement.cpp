// Light placement of trial stones: the fields it keeps must match a full
// placement of the same stones, the evaluation fields must never move, and a
// placement followed by its removal must give the board back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/pattern_tables.h"
#include "board/tables.h"
#include "board_setup.h"
#include "rules/light_placement.h"

namespace {

// A full placement and removal at every empty point refreshes every point in
// every direction, so no reset code 1 is left to turn into 0 later.
void settleResetCodes() {
    for (int x = 0; x < engine.boardHeight; ++x) {
        for (int y = 0; y < engine.boardWidth; ++y) {
            if (engine.cells[x][y] != empty) continue;
            placeStone(x, y, black);
            removeStone(x, y, black);
        }
    }
}

// The empty points, all of them or only those within `reach` of the centre
// (crowded positions make the fours, fives and overlines the corrections are
// about).
std::vector<StonePoint> emptyPoints(int reach = maxBoardSide) {
    std::vector<StonePoint> points;
    for (int x = 0; x < engine.boardHeight; ++x) {
        for (int y = 0; y < engine.boardWidth; ++y) {
            const bool near = std::abs(x - engine.boardHeight / 2) <= reach &&
                              std::abs(y - engine.boardWidth / 2) <= reach;
            if (engine.cells[x][y] == empty && near) points.push_back({x, y});
        }
    }
    return points;
}

// Full placements of `count` random stones of random colours.
void randomPosition(std::mt19937& rng, int count, int reach = maxBoardSide) {
    std::vector<StonePoint> points = emptyPoints(reach);
    std::shuffle(points.begin(), points.end(), rng);
    for (int i = 0; i < count && i < static_cast<int>(points.size()); ++i) {
        placeStone(points[i].x, points[i].y, 1 + static_cast<int>(rng() % 2));
    }
}

// What the light update keeps.
struct KeptFields {
    int32_t cells[24][24];
    LineWords lineWords;
    uint32_t codeWord[24][24][2];
    int16_t lineValueSum[24][24][2];
    int32_t dirMask[4][2][24][24];
    int32_t rowMask[4][2][24];
    int32_t topMask[4][2];
    uint64_t hashKey;
    int32_t stoneCount;
    StonePoint stoneList[maxPoints];
};

// What it must never touch.
struct EvaluationFields {
    uint32_t spaceWord[24][24][2];
    int16_t spaceSum[24][24][2];
    int16_t pointValue[24][24][2];
    int16_t weightedValue[24][24][2];
    int32_t valueTotal[2];
    int32_t rowMask4[2][24];
    int32_t topMask4[2];
};

void capture(KeptFields& k) {
    std::memset(&k, 0, sizeof k);
    std::memcpy(k.cells, engine.cells, sizeof k.cells);
    k.lineWords = engine.lineWords;
    for (int x = 0; x < 24; ++x) {
        for (int y = 0; y < 24; ++y) {
            for (int t = 0; t < 2; ++t) {
                k.codeWord[x][y][t] = engine.patterns[x][y].codeWord[t];
                k.lineValueSum[x][y][t] = engine.patterns[x][y].lineValueSum[t];
            }
        }
    }
    std::memcpy(k.dirMask, engine.dirMask, sizeof k.dirMask);
    std::memcpy(k.rowMask, engine.rowMask, sizeof k.rowMask);
    std::memcpy(k.topMask, engine.topMask, sizeof k.topMask);
    k.hashKey = engine.hashKey;
    k.stoneCount = engine.stoneCount;
    std::memcpy(k.stoneList, engine.stoneList, sizeof(StonePoint) * engine.stoneCount);
}

void capture(EvaluationFields& e) {
    std::memset(&e, 0, sizeof e);
    for (int x = 0; x < 24; ++x) {
        for (int y = 0; y < 24; ++y) {
            for (int t = 0; t < 2; ++t) {
                const PointPatterns& pp = engine.patterns[x][y];
                e.spaceWord[x][y][t] = pp.spaceWord[t];
                e.spaceSum[x][y][t] = pp.spaceSum[t];
                e.pointValue[x][y][t] = pp.pointValue[t];
                e.weightedValue[x][y][t] = pp.weightedValue[t];
            }
        }
    }
    std::memcpy(e.valueTotal, engine.valueTotal, sizeof e.valueTotal);
    std::memcpy(e.rowMask4, engine.rowMask[groupDouble], sizeof e.rowMask4);
    std::memcpy(e.topMask4, engine.topMask[groupDouble], sizeof e.topMask4);
}

// memcmp is exact because both captures start from zeroed storage.
template <typename T>
bool same(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

KeptFields keptA, keptB;
EvaluationFields evalA, evalB;

int blackCodeAt(int x, int y, int d) { return codeAt(engine.patterns[x][y].codeWord[0], d); }
bool inGroup(int group, int side, int x, int y) {
    return (engine.rowMask[group][side - 1][x] >> y) & 1;
}

struct BoardShape {
    int rule, width, height;
};
constexpr BoardShape shapes[] = {{ruleFreestyle, 15, 15}, {ruleStandard, 15, 15},
                                 {ruleRenju, 15, 15},     {ruleRenju, 17, 12},
                                 {ruleStandard, 10, 20},  {ruleFreestyle, 24, 24}};

}  // namespace

// Five stones in a row, (7,3)..(7,7): a stone at (7,2) or (7,8) makes six.
TEST(LightPlacement, SixIsAnOverlineWhereTheRuleSaysSo) {
    struct Case {
        int rule, side, expected;
    };
    const Case cases[] = {{ruleRenju, black, 13},     {ruleRenju, white, 12},
                          {ruleStandard, black, 13},  {ruleStandard, white, 13},
                          {ruleFreestyle, black, 12}, {ruleFreestyle, white, 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "rule " << c.rule << " side " << c.side);
        newBoard(c.rule, 15, 15);
        for (int y = 3; y <= 6; ++y) placeStone(7, y, c.side);
        placeStoneLight(7, 7, c.side);
        const uint32_t codes = engine.patterns[7][2].codeWord[c.side - 1];
        EXPECT_EQ(codeAt(codes, H), c.expected);
        EXPECT_EQ(codeAt(engine.patterns[7][8].codeWord[c.side - 1], H), c.expected);
        EXPECT_EQ(inGroup(groupFive, c.side, 7, 2), c.expected == 12);
        EXPECT_EQ(inGroup(groupFive, c.side, 7, 8), c.expected == 12);
        // lineValueSum = sum of the code values of the four directions.
        int sum = 0;
        for (int d = 0; d < 4; ++d) sum += codeValue[codeAt(codes, d)];
        EXPECT_EQ(engine.patterns[7][2].lineValueSum[c.side - 1], sum);
        // Taking the trial stone off leaves an exact five at (7,2) again.
        removeStoneLight(7, 7, c.side);
        EXPECT_EQ(codeAt(engine.patterns[7][2].codeWord[c.side - 1], H), 12);
        EXPECT_TRUE(inGroup(groupFive, c.side, 7, 2));
    }
}

// x x x x * x . x: the window alone shows the six at *, and the stones beyond
// do not turn it into anything else.
TEST(LightPlacement, OverlineSeenByTheWindowStaysAnOverline) {
    newBoard(ruleRenju, 15, 15);
    for (int y : {3, 4, 5, 6, 8, 10}) placeStoneLight(7, y, black);
    EXPECT_EQ(blackCodeAt(7, 7, H), 13);
    for (int group : {groupFive, groupOpenFour, groupFour, groupOpenThree}) {
        EXPECT_FALSE(inGroup(group, black, 7, 7)) << group;
    }
}

// Black (7,3),(7,4),(7,5) and (7,8): a stone at (7,6) makes a four whose
// completion (7,7) would give six, so under the exact-five rules it is a plain
// four; (7,2) still has two exact-five completions and stays an open four.
TEST(LightPlacement, OpenFourWithAnOverlineCompletionIsAFour) {
    for (int rule : {ruleFreestyle, ruleStandard, ruleRenju}) {
        SCOPED_TRACE(rule);
        newBoard(rule, 15, 15);
        placeStone(7, 3, black);
        placeStone(7, 4, black);
        placeStoneLight(7, 5, black);
        placeStoneLight(7, 8, black);
        const int expected = rule == ruleFreestyle ? 11 : 9;
        EXPECT_EQ(blackCodeAt(7, 6, H), expected);
        EXPECT_EQ(inGroup(groupOpenFour, black, 7, 6), expected == 11);
        EXPECT_EQ(inGroup(groupFour, black, 7, 6), expected == 9);
        EXPECT_EQ(blackCodeAt(7, 2, H), 11);
        removeStoneLight(7, 8, black);
        EXPECT_EQ(blackCodeAt(7, 6, H), 11);
        EXPECT_TRUE(inGroup(groupOpenFour, black, 7, 6));
        EXPECT_FALSE(inGroup(groupFour, black, 7, 6));
    }
}

// The reference for every code: a full placement of the same stones.
TEST(LightPlacement, AgreesWithFullPlacementOnRandomStones) {
    std::mt19937 rng(20261207);
    for (const BoardShape& s : shapes) {
        for (int round = 0; round < 8; ++round) {
            SCOPED_TRACE(testing::Message() << "rule " << s.rule << " board " << s.width << "x"
                                            << s.height << " round " << round);
            // The tables depend on the shape only; a reset clears the stones.
            if (round == 0) newBoard(s.rule, s.width, s.height);
            resetBoard();
            const int reach = round % 2 == 0 ? maxBoardSide : 3;
            randomPosition(rng, 10 + 4 * round, reach);
            settleResetCodes();
            capture(evalA);
            std::vector<StonePoint> points = emptyPoints(reach);
            std::shuffle(points.begin(), points.end(), rng);
            const int trials = std::min<int>(16, points.size());
            std::vector<int> colours(trials);
            for (int i = 0; i < trials; ++i) {
                colours[i] = 1 + static_cast<int>(rng() % 2);
                placeStoneLight(points[i].x, points[i].y, colours[i]);
                capture(evalB);
                ASSERT_TRUE(same(evalA, evalB)) << "evaluation fields moved at trial stone " << i;
            }
            capture(keptA);
            for (int i = trials - 1; i >= 0; --i) {
                removeStoneLight(points[i].x, points[i].y, colours[i]);
            }
            for (int i = 0; i < trials; ++i) placeStone(points[i].x, points[i].y, colours[i]);
            capture(keptB);
            EXPECT_TRUE(same(keptA.cells, keptB.cells));
            EXPECT_TRUE(same(keptA.lineWords, keptB.lineWords));
            EXPECT_TRUE(same(keptA.codeWord, keptB.codeWord));
            EXPECT_TRUE(same(keptA.lineValueSum, keptB.lineValueSum));
            EXPECT_TRUE(same(keptA.dirMask, keptB.dirMask));
            EXPECT_TRUE(same(keptA.rowMask, keptB.rowMask));
            EXPECT_TRUE(same(keptA.topMask, keptB.topMask));
            EXPECT_EQ(keptA.hashKey, keptB.hashKey);
            EXPECT_TRUE(same(keptA.stoneList, keptB.stoneList));
            EXPECT_TRUE(checkBoardConsistency());
        }
    }
}

// Nested trial stones, removed in reverse order, give back every field bit for
// bit once no reset code is left on the board; the full board's own checker
// then still finds it consistent.
TEST(LightPlacement, NestedTrialsRestoreTheBoard) {
    std::mt19937 rng(77);
    for (const BoardShape& s : shapes) {
        SCOPED_TRACE(testing::Message()
                     << "rule " << s.rule << " board " << s.width << "x" << s.height);
        newBoard(s.rule, s.width, s.height);
        randomPosition(rng, 40);
        settleResetCodes();
        capture(keptA);
        capture(evalA);
        for (int trial = 0; trial < 300; ++trial) {
            std::vector<StonePoint> points = emptyPoints();
            std::shuffle(points.begin(), points.end(), rng);
            const int depth = 1 + static_cast<int>(rng() % 8);
            for (int i = 0; i < depth; ++i) {
                placeStoneLight(points[i].x, points[i].y, 1 + i % 2);
            }
            for (int i = depth - 1; i >= 0; --i) {
                removeStoneLight(points[i].x, points[i].y, 1 + i % 2);
            }
            capture(keptB);
            ASSERT_TRUE(same(keptA, keptB)) << "trial " << trial;
        }
        capture(evalB);
        EXPECT_TRUE(same(evalA, evalB));
        EXPECT_TRUE(checkBoardConsistency());
    }
}

// On a fresh board every inner point carries the reset code 1; a trial stone
// refreshes its four lines, and once it is gone the windows there hold no
// stone, which the table rates 0. Only the code and its line value follow.
TEST(LightPlacement, ResetCodesAreTheOnlyTrace) {
    newBoard(ruleRenju, 15, 15);
    capture(evalA);
    EXPECT_EQ(engine.patterns[7][3].codeWord[0], 0x1111u);
    EXPECT_EQ(engine.patterns[7][3].lineValueSum[0], 4);
    placeStoneLight(7, 7, black);
    removeStoneLight(7, 7, black);
    // (7,3) lies on the H line of the stone only; (7,7) on all four lines.
    EXPECT_EQ(engine.patterns[7][3].codeWord[0], 0x1110u);
    EXPECT_EQ(engine.patterns[7][3].lineValueSum[1], 3);
    EXPECT_EQ(engine.patterns[7][7].codeWord[1], 0u);
    EXPECT_EQ(engine.patterns[7][7].lineValueSum[0], 0);
    // Beyond the radius of 5 nothing was refreshed.
    EXPECT_EQ(engine.patterns[7][1].codeWord[0], 0x1111u);
    EXPECT_EQ(engine.patterns[1][7].codeWord[1], 0x1111u);
    capture(evalB);
    EXPECT_TRUE(same(evalA, evalB));
    EXPECT_EQ(engine.stoneCount, 0);
    EXPECT_EQ(engine.hashKey, 0u);
}
