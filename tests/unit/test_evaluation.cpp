// Static evaluation: each correction term in a position built so that the
// other terms are known. In the diagrams a row is one x (growing downwards), a
// column one y; x is black, o white, # a wall (a blocked point), . empty.
// Walled positions leave open only the lines under test, so every code and
// every threat point can be worked out by hand. Expected values are written as
// the running-total difference (read from the board) plus the terms derived in
// the comments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "rules/evaluation.h"
#include "rules/foul_test.h"

namespace {

// A fresh board; `fill` is put on every point the diagram does not cover.
void setupBoard(int rule, int width, int height, std::initializer_list<const char*> rows = {},
                char fill = '.') {
    initEngineState();
    engine.searchMode = searchClassic;  // the formula's own values
    engine.rule = rule;
    engine.boardWidth = width;
    engine.boardHeight = height;
    engine.boardSize = std::max(width, height);
    engine.updateRadius = rule == ruleFreestyle ? 4 : 5;
    engine.hashClearedForRule = rule;  // the evaluation never reads the hash tables
    buildEngineTables();
    resetBoard();
    const char* const* row = rows.begin();
    for (int x = 0; x < height; ++x) {
        const char* text = row != rows.end() ? *row : "";
        bool ended = false;
        for (int y = 0; y < width; ++y) {
            if (!ended && text[y] == '\0') ended = true;
            const char c = ended ? fill : text[y];
            if (c == 'x') placeStone(x, y, black);
            if (c == 'o') placeStone(x, y, white);
            if (c == '#') placeStone(x, y, wall);
        }
        if (row != rows.end()) ++row;
    }
}

int32_t totalsDiff(int side) { return engine.valueTotal[side - 1] - engine.valueTotal[2 - side]; }

bool groupHas(int group, int side, int x, int y) {
    return (engine.rowMask[group][side - 1][x] >> y) & 1;
}

// Marks (x, y) as a member of a group of a side, as the board would.
void addToGroup(int group, int side, int x, int y, int dirBits = 1) {
    if (group < 4) engine.dirMask[group][side - 1][x][y] |= dirBits;
    engine.rowMask[group][side - 1][x] |= 1 << y;
    engine.topMask[group][side - 1] |= 1 << x;
}

// Renju: white's only fours are (7,7) and (7,8). At (7,7) black makes six in
// the column (an overline, so black may not block there) and, in the
// diagonal through (6,8), (5,9), (4,10), an open three with a gap (code 7,
// line value 158); the row holds white stones and the other diagonal is
// walled off, so black's line-value sum at (7,7) is exactly 158. Without the
// diagonal stones it is 0.
void foulPosition(int rule, bool diagonalThree) {
    setupBoard(rule, 15, 15,
               {"###############", "###############", "###############", "###########.###",
                diagonalThree ? "#######x##x####" : "#######x##.####", "#######x#.#####",
                diagonalThree ? "#######xx######" : "#######x.######", "####ooo..######",
                "######.x#######", "#######x#######"},
               '#');
}

// Four corners of a walled square, each between two walled-in rows or columns
// of three black stones: every black threat point is a double four.
void squarePosition(int rule) {
    setupBoard(rule, 15, 15,
               {"###############", "###############", "###############", "###############",
                "###############", "#####.xxx.#####", "#####x###x#####", "#####x###x#####",
                "#####x###x#####", "#####.xxx.#####"},
               '#');
}

}  // namespace

TEST(Evaluation, EmptyBoardIsFiftyForEitherSide) {
    for (int rule : {ruleFreestyle, ruleStandard, ruleRenju}) {
        setupBoard(rule, 15, 15);
        EXPECT_EQ(evaluatePosition(0, black), 50) << rule;
        EXPECT_EQ(evaluatePosition(0, white), 50) << rule;
    }
    // The walls of a rectangular board weigh the same for both sides.
    setupBoard(ruleStandard, 20, 15);
    EXPECT_EQ(evaluatePosition(0, black), 50);
    EXPECT_EQ(evaluatePosition(0, white), 50);
}

TEST(Evaluation, WithoutThreatPointsOnlyTheTotalsCount) {
    setupBoard(ruleFreestyle, 15, 15, {"", "", "", "...o", "", "", "", ".......x"});
    placeStone(10, 12, white);
    for (int g = 0; g < 4; ++g) {
        ASSERT_EQ(engine.topMask[g][0], 0);
        ASSERT_EQ(engine.topMask[g][1], 0);
    }
    ASSERT_NE(totalsDiff(black), 0);
    EXPECT_EQ(evaluatePosition(0, black), totalsDiff(black) + 50);
    EXPECT_EQ(evaluatePosition(0, white), totalsDiff(white) + 50);
}

TEST(Evaluation, TempoForTheSideFacingThreats) {
    // White's two stones give it open-three points; black's lone stone none.
    setupBoard(ruleFreestyle, 15, 15, {"", "", "..x", "", "", "", "", ".......oo"});
    ASSERT_TRUE(groupHas(groupOpenThree, white, 7, 6));
    ASSERT_EQ(engine.topMask[groupOpenThree][0], 0);
    ASSERT_EQ(engine.topMask[groupFour][0], 0);
    EXPECT_EQ(evaluatePosition(0, black), totalsDiff(black) + 100 + 50);
    EXPECT_EQ(evaluatePosition(0, white), totalsDiff(white) + 50);
}

TEST(Evaluation, OpponentOpenThreeInTheOpen) {
    // Black .xxx. in the middle of row 7: open-four points (7,4) and (7,8),
    // four points (7,3) and (7,9), nothing else. Each open-four point has space
    // 8 in all four lines and one black four point among its neighbours.
    setupBoard(ruleFreestyle, 15, 15, {"", "", "", "", "", "", "", ".....xxx"});
    ASSERT_TRUE(groupHas(groupOpenFour, black, 7, 4));
    ASSERT_TRUE(groupHas(groupOpenFour, black, 7, 8));
    ASSERT_TRUE(groupHas(groupFour, black, 7, 3));
    ASSERT_TRUE(groupHas(groupFour, black, 7, 9));
    ASSERT_EQ(engine.topMask[groupOpenThree][0], 0);
    ASSERT_EQ(engine.patterns[7][4].spaceSum[0], 32);
    ASSERT_EQ(engine.patterns[7][8].spaceSum[0], 32);
    // White: tempo 100; open fours 32*50/32 - 32*20*1/32 - 32*20*1/32 = 10;
    // black's fives and open fours lie in one direction: no 200.
    EXPECT_EQ(evaluatePosition(0, white), totalsDiff(white) + 100 + 10 + 50);
    EXPECT_EQ(evaluatePosition(0, black), totalsDiff(black) + 50);
}

TEST(Evaluation, NeighbourhoodOfAnOpenFourOnAWideBoard) {
    // White open-four point at (10,20) on an empty 24x24 board, with white four
    // and open-three points placed around it. Inside the 33-point neighbourhood:
    // (10,17) (10,23) (7,17) (7,20) (7,23) (8,22) (12,18) and (10,21), the last
    // in both groups: h = 8. Just outside: (13,18) (9,23) (11,16).
    setupBoard(ruleFreestyle, 24, 24);
    addToGroup(groupOpenFour, white, 10, 20);
    engine.patterns[10][20].spaceSum[1] = 32;
    for (auto [x, y] : {std::pair{10, 17},
                        {10, 23},
                        {7, 17},
                        {7, 20},
                        {7, 23},
                        {8, 22},
                        {12, 18},
                        {10, 21},
                        {13, 18},
                        {9, 23},
                        {11, 16}}) {
        addToGroup(groupFour, white, x, y);
    }
    addToGroup(groupOpenThree, white, 10, 21);
    // 100 tempo + 50 first open four - 32*20*8/32 + 50.
    EXPECT_EQ(evaluatePosition(0, black), 100 + 50 - 160 + 50);
}

TEST(Evaluation, NeighbourhoodRowsOutsideTheBoardAreNotCounted) {
    // Open-four points of white on the first and the last row of a 24x24 board.
    // Black's threat points on the far rows sit where a row index past either
    // edge would land in the neighbouring mask arrays.
    setupBoard(ruleFreestyle, 24, 24);
    addToGroup(groupOpenFour, white, 0, 2);
    addToGroup(groupOpenFour, white, 23, 21);
    engine.patterns[0][2].spaceSum[1] = 32;
    engine.patterns[23][21].spaceSum[1] = 32;
    addToGroup(groupFour, white, 0, 5);    // row 0, three columns right: counted
    addToGroup(groupFour, white, 1, 1);    // counted
    addToGroup(groupFour, white, 22, 21);  // counted
    for (auto [x, y] : {std::pair{23, 2}, {22, 1}, {21, 5}}) addToGroup(groupFour, black, x, y);
    for (auto [x, y] : {std::pair{23, 1}, {0, 21}, {1, 20}, {2, 22}}) {
        addToGroup(groupOpenThree, black, x, y);
    }
    // 100 tempo + 50 first open four - 32*20*2/32 - 32*20*1/32 + 50.
    EXPECT_EQ(evaluatePosition(0, black), 100 + 50 - 40 - 20 + 50);

    // Height 15: rows 15 to 17 lie inside the arrays but outside the board.
    setupBoard(ruleFreestyle, 20, 15);
    addToGroup(groupOpenFour, white, 14, 5);
    engine.patterns[14][5].spaceSum[1] = 32;
    addToGroup(groupFour, white, 13, 5);
    addToGroup(groupFour, white, 15, 5);
    addToGroup(groupFour, white, 16, 4);
    EXPECT_EQ(evaluatePosition(0, black), 100 + 50 - 20 + 50);
}

TEST(Evaluation, ThreatsInSeveralDirections) {
    // Own five-point along H and open-four point along V: +200.
    setupBoard(ruleFreestyle, 15, 15);
    addToGroup(groupFive, black, 3, 3, 1 << H);
    addToGroup(groupOpenFour, black, 9, 9, 1 << V);
    EXPECT_EQ(evaluatePosition(0, black), 50 + 200);
    // Seen from white: black's open-four point (space 32 on the empty board,
    // no threats around) gives black 50, and the two directions cost 200.
    EXPECT_EQ(evaluatePosition(0, white), 50 + 50 - 200);

    // Both in one direction: no bonus either way.
    setupBoard(ruleFreestyle, 15, 15);
    addToGroup(groupFive, black, 3, 3, 1 << H);
    addToGroup(groupOpenFour, black, 9, 9, 1 << H);
    EXPECT_EQ(evaluatePosition(0, black), 50);
    EXPECT_EQ(evaluatePosition(0, white), 50 + 50);

    // One five-point that is a five in two directions at once.
    setupBoard(ruleFreestyle, 15, 15);
    addToGroup(groupFive, white, 4, 11, (1 << D) | (1 << A));
    EXPECT_EQ(evaluatePosition(0, white), 50 + 200);
    EXPECT_EQ(evaluatePosition(0, black), 50 - 200);
}

TEST(Evaluation, RenjuFoulAmountFollowsBlacksLineValue) {
    foulPosition(ruleRenju, true);
    ASSERT_EQ(engine.patterns[7][7].lineValueSum[0], 158);
    ASSERT_EQ(isForbidden(7, 7), 1);
    ASSERT_EQ(isForbidden(7, 8), 0);
    // Black: foul -120, tempo +100 (white has fours).
    EXPECT_EQ(evaluatePosition(0, black), totalsDiff(black) - 120 + 100 + 50);

    foulPosition(ruleRenju, false);
    ASSERT_EQ(engine.patterns[7][7].lineValueSum[0], 0);
    ASSERT_EQ(isForbidden(7, 7), 1);
    EXPECT_EQ(evaluatePosition(0, black), totalsDiff(black) - 200 + 100 + 50);
    // White gains the same amount; black has no threat points, so no tempo.
    EXPECT_EQ(evaluatePosition(0, white), totalsDiff(white) + 200 + 50);
}

TEST(Evaluation, NoFoulTermOutsideRenju) {
    // Black's six in the column is also code 13 under the standard rule, so the
    // foul test would call (7,7) forbidden; the evaluation must not ask.
    foulPosition(ruleStandard, true);
    ASSERT_EQ(isForbidden(7, 7), 1);
    EXPECT_EQ(evaluatePosition(0, black), totalsDiff(black) + 100 + 50);
}

TEST(Evaluation, TempoExceptionWhenEveryBlackThreatIsForbidden) {
    squarePosition(ruleRenju);
    for (auto [x, y] : {std::pair{5, 5}, {5, 9}, {9, 5}, {9, 9}}) {
        ASSERT_TRUE(groupHas(groupFour, black, x, y));
        ASSERT_EQ(isForbidden(x, y), 1);
    }
    EXPECT_EQ(evaluatePosition(0, white), totalsDiff(white) + 50);
    EXPECT_EQ(evaluatePosition(0, black), totalsDiff(black) + 50);

    // Free one corner: black may play there, so white faces the tempo again.
    squarePosition(ruleRenju);
    removeStone(5, 6, black);
    placeStone(5, 6, white);
    ASSERT_EQ(isForbidden(5, 9), 0);
    EXPECT_EQ(evaluatePosition(0, white), totalsDiff(white) + 100 + 50);
}

TEST(Evaluation, FreestyleAndStandardNeverAskTheFoulTest) {
    // The same double fours: the foul test would call every corner forbidden
    // under any rule, but outside Renju the tempo counts in full.
    for (int rule : {ruleFreestyle, ruleStandard}) {
        squarePosition(rule);
        ASSERT_EQ(isForbidden(5, 5), 1);
        EXPECT_EQ(evaluatePosition(0, white), totalsDiff(white) + 100 + 50) << rule;
    }
}

TEST(Evaluation, ScratchSlotOnlyAndBoardUntouched) {
    foulPosition(ruleRenju, true);
    const int32_t expected = totalsDiff(black) - 120 + 100 + 50;
    const ScoredMove sentinel{-7, 99, 99};
    for (int slot : {0, 2, 4, 575}) std::fill_n(engine.moveLists[slot], maxPoints, sentinel);
    auto untouched = [&](int slot) {
        for (int i = 0; i < maxPoints; ++i) {
            const ScoredMove& m = engine.moveLists[slot][i];
            if (m.key != sentinel.key || m.x != sentinel.x || m.y != sentinel.y) return false;
        }
        return true;
    };
    static int32_t cellsBefore[24][24];
    std::memcpy(cellsBefore, engine.cells, sizeof cellsBefore);
    const uint64_t keyBefore = engine.hashKey;
    const int stonesBefore = engine.stoneCount;
    static int32_t rowsBefore[5][2][24];
    std::memcpy(rowsBefore, engine.rowMask, sizeof rowsBefore);

    engine.iterationDepth = 5;
    EXPECT_EQ(evaluatePosition(2, black), expected);  // slot 3
    EXPECT_TRUE(untouched(2));
    EXPECT_TRUE(untouched(4));

    // Slots before the first list and past the last one.
    engine.iterationDepth = 0;
    EXPECT_EQ(evaluatePosition(3, black), expected);
    engine.iterationDepth = 10;
    EXPECT_EQ(evaluatePosition(-600, black), expected);
    EXPECT_TRUE(untouched(0));
    EXPECT_TRUE(untouched(575));

    EXPECT_EQ(std::memcmp(cellsBefore, engine.cells, sizeof cellsBefore), 0);
    EXPECT_EQ(std::memcmp(rowsBefore, engine.rowMask, sizeof rowsBefore), 0);
    EXPECT_EQ(engine.hashKey, keyBefore);
    EXPECT_EQ(engine.stoneCount, stonesBefore);
}
