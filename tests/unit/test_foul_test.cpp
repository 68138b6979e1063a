// Renju foul test: each rule case as a small position. In the diagrams a row
// is one x (growing downwards), a column one y; x is black, o white, * the
// empty point asked about. H runs along a row, V down a column.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "board_setup.h"
#include "rules/foul_test.h"

namespace {

void newRenjuBoard() {
    initEngineState();
    engine.rule = ruleRenju;
    engine.boardWidth = 15;
    engine.boardHeight = 15;
    engine.boardSize = 15;
    engine.updateRadius = 5;
    buildEngineTables();
    resetBoard();
}

// Puts the diagram on a fresh 15x15 Renju board with its first row at x0 and
// first column at y0; returns the starred point.
StonePoint position(int x0, int y0, std::initializer_list<const char*> rows) {
    newRenjuBoard();
    StonePoint star{-1, -1};
    int x = x0;
    for (const char* row : rows) {
        for (int i = 0; row[i] != '\0'; ++i) {
            const int y = y0 + i;
            if (row[i] == 'x') placeStone(x, y, black);
            if (row[i] == 'o') placeStone(x, y, white);
            if (row[i] == '*') star = {x, y};
        }
        ++x;
    }
    return star;
}

int forbiddenAt(StonePoint p) { return isForbidden(p.x, p.y); }

}  // namespace

TEST(FoulTest, SingleThreatsAreAllowed) {
    EXPECT_EQ(forbiddenAt(position(7, 2, {".xxx*...."})), 0);  // open four
    EXPECT_EQ(forbiddenAt(position(7, 2, {"..xx*...."})), 0);  // open three
    EXPECT_EQ(forbiddenAt(position(7, 2, {".x.x*...."})), 0);  // split open three
    EXPECT_EQ(forbiddenAt(position(7, 2, {"oxxx*...."})), 0);  // four
    EXPECT_EQ(forbiddenAt(position(7, 2, {"..x.*..x."})), 0);  // nothing
}

TEST(FoulTest, OverlineIsForbiddenUnlessTheMoveAlsoMakesAFive) {
    // Six in H.
    EXPECT_EQ(forbiddenAt(position(7, 2, {"..xxx*xx.."})), 1);
    // Six in H (the earlier direction) and an exact five in V.
    EXPECT_EQ(forbiddenAt(position(2, 2,
                                   {"..........",  //
                                    ".....x....",  //
                                    ".....x....",  //
                                    ".....x....",  //
                                    ".....x....",  //
                                    "..xxx*xx..",  //
                                    ".........."})),
              0);
    // Seven in a row is an overline too.
    EXPECT_EQ(forbiddenAt(position(7, 1, {".xxx*xxx."})), 1);
}

TEST(FoulTest, DoubleFourIsForbiddenUnlessTheMoveAlsoMakesAFive) {
    // Closed fours in V and D.
    EXPECT_EQ(forbiddenAt(position(3, 3,
                                   {"....o...o",  //
                                    "....x..x.",  //
                                    "....x.x..",  //
                                    "....xx...",  //
                                    "....*...."})),
              1);
    // The same with an exact five in H.
    EXPECT_EQ(forbiddenAt(position(3, 3,
                                   {"....o...o",  //
                                    "....x..x.",  //
                                    "....x.x..",  //
                                    "....xx...",  //
                                    "xxxx*...."})),
              0);
}

TEST(FoulTest, TwoFoursInOneLineAreForbidden) {
    // X . X * X . X: both gaps complete a five.
    EXPECT_EQ(forbiddenAt(position(7, 2, {".x.x*x.x."})), 1);
    // X . X * X . O: the right gap no longer makes five, one four is left.
    EXPECT_EQ(forbiddenAt(position(7, 2, {".x.x*x.o."})), 0);
    // X X . X * X . X: the left gap makes six, only the right one a five.
    EXPECT_EQ(forbiddenAt(position(7, 0, {"..xx.x*x.x....."})), 0);
}

TEST(FoulTest, FourAndThreeAreAllowed) {
    // Closed four in H, open three in V.
    EXPECT_EQ(forbiddenAt(position(7, 3,
                                   {"oxxx*....",  //
                                    "....x....",  //
                                    "....x...."})),
              0);
    // An open four counts once, even with its three in V.
    EXPECT_EQ(forbiddenAt(position(7, 2,
                                   {".xxx*....",  //
                                    "....x....",  //
                                    "....x...."})),
              0);
    // A four whose line could hold two fours (both ends are four points
    // before the move), but only one end becomes a five: still one four.
    EXPECT_EQ(forbiddenAt(position(7, 0,
                                   {"..xx.x*x.x",  //
                                    "......x...",  //
                                    "......x..."})),
              0);
}

TEST(FoulTest, DoubleThreeIsForbidden) {
    EXPECT_EQ(forbiddenAt(position(5, 5,
                                   {"..x..",  //
                                    "..x..",  //
                                    "xx*.."})),
              1);
    // Split threes in both lines.
    EXPECT_EQ(forbiddenAt(position(4, 4,
                                   {"...x....",  //
                                    "...x....",  //
                                    "........",  //
                                    "xx.*...."})),
              1);
}

// The H three at * is blocked by o on the right, so (7,6) is its only
// open-four point. It is real unless that point is excluded.
TEST(FoulTest, ThreeIsRealOnlyWithAnAllowedOpenFourPoint) {
    // Both threes real.
    EXPECT_EQ(forbiddenAt(position(3, 3,
                                   {".........",  //
                                    ".........",  //
                                    ".........",  //
                                    ".........",  //
                                    "....*xx.o",  //
                                    "....x....",  //
                                    "....x...."})),
              1);
    // (7,6) would make six in V: a forbidden point, so only the V three counts.
    EXPECT_EQ(forbiddenAt(position(3, 3,
                                   {".........",  //
                                    "...x.....",  //
                                    "...x.....",  //
                                    "...x.....",  //
                                    "....*xx.o",  //
                                    "...xx....",  //
                                    "...xx...."})),
              0);
    // (7,6) completes a five in V: the H three would become a five, not an
    // open four, so again only the V three counts.
    EXPECT_EQ(forbiddenAt(position(3, 3,
                                   {"...x.....",  //
                                    "...x.....",  //
                                    "...x.....",  //
                                    "...x.....",  //
                                    "....*xx.o",  //
                                    "....x....",  //
                                    "....x...."})),
              0);
}

// The open-four point of a three is judged with the stone at * on the board:
// (7,6) then has an open four in H and a closed four in V, a double four, so
// the H three is not real. Judged without *, (7,6) would only be a four and a
// three, and * would be a double three.
TEST(FoulTest, OpenFourPointIsJudgedInThePositionOfTheThree) {
    EXPECT_EQ(forbiddenAt(position(3, 3,
                                   {"...o.....",  //
                                    "...x.....",  //
                                    "...x.....",  //
                                    "...x.....",  //
                                    "....*xx.o",  //
                                    "....x....",  //
                                    "....x...."})),
              0);
}

namespace {

BoardFields before;

}  // namespace

TEST(FoulTest, OccupiedPointIsAllowed) {
    const StonePoint p = position(7, 2, {".x.x*x.x."});
    EXPECT_EQ(isForbidden(7, 3), 0);
    placeStone(p.x, p.y, white);
    EXPECT_EQ(forbiddenAt(p), 0);
}

// Crowded random positions: every empty point is asked, and the board must be
// bit for bit what it was (reset codes are settled first, since a trial stone
// may turn an untouched code 1 into 0).
TEST(FoulTest, LeavesTheBoardAsItFoundIt) {
    std::mt19937 rng(4242);
    int forbiddenSeen = 0;
    for (int round = 0; round < 12; ++round) {
        newRenjuBoard();
        for (int i = 0; i < 30 + 3 * round; ++i) {
            const int x = 3 + static_cast<int>(rng() % 9);
            const int y = 3 + static_cast<int>(rng() % 9);
            if (engine.cells[x][y] == empty) placeStone(x, y, 1 + static_cast<int>(rng() % 3 != 0));
        }
        for (int x = 0; x < 15; ++x) {
            for (int y = 0; y < 15; ++y) {
                if (engine.cells[x][y] != empty) continue;
                placeStone(x, y, black);
                removeStone(x, y, black);
            }
        }
        saveBoard(before);
        for (int x = 0; x < 15; ++x) {
            for (int y = 0; y < 15; ++y) forbiddenSeen += isForbidden(x, y);
        }
        ASSERT_STREQ(boardDifference(before), nullptr) << "round " << round;
        EXPECT_TRUE(checkBoardConsistency());
    }
    EXPECT_GT(forbiddenSeen, 0);
}
