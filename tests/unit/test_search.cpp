// Node and root search: positions with a known answer, the board left as
// found, aborted iterations and the ply bounds.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <initializer_list>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "board_setup.h"
#include "rules/evaluation.h"
#include "search/node_search.h"
#include "search/root_search.h"
#include "search/transposition.h"

namespace {

constexpr int32_t wide = 100000000;

struct Stone {
    int x;
    int y;
    int colour;
};

// An empty board with clean tables and killers.
void newSearchBoard(int rule, int width, int height) {
    newBoard(rule, width, height);
    ASSERT_TRUE(hashTablesReady());
    clearHashTables();
    std::memset(engine.killerTable, 0, sizeof(engine.killerTable));
    engine.moveCount = 0;
}

void put(std::initializer_list<Stone> stones) {
    for (const Stone& s : stones) {
        placeStone(s.x, s.y, s.colour);
        if (s.colour != wall) ++engine.moveCount;
    }
}

// A search without a clock: nothing but an explicit stop can abort it.
void prepareSearch(int depth) {
    engine.iterationDepth = depth;
    engine.turnBudget = INT32_MAX;
    engine.stopRequested.store(0);
    engine.searchAborted = 0;
    engine.searchStart = nowMs();
    engine.nodeCount = 0;
    engine.singleRootMove = 0;
    engine.bestMove[0] = -2;
    engine.bestMove[1] = -2;
    std::memset(engine.killerTable, 0, sizeof(engine.killerTable));
}

int32_t root(int depth, int side) {
    prepareSearch(depth);
    return searchRoot(depth, -wide, wide, side, 0);
}

// Everything a search must hand back unchanged.
struct BoardSnapshot {
    int32_t cells[24][24];
    LineWords lineWords;
    uint64_t hashKey;
    StonePoint stoneList[maxPoints];
    int32_t stoneCount;
    int32_t rowMask[5][2][24];
    int32_t topMask[5][2];
    int32_t valueTotal[2];

    void take() {
        std::memcpy(cells, engine.cells, sizeof cells);
        lineWords = engine.lineWords;
        hashKey = engine.hashKey;
        std::memcpy(stoneList, engine.stoneList, sizeof stoneList);
        stoneCount = engine.stoneCount;
        std::memcpy(rowMask, engine.rowMask, sizeof rowMask);
        std::memcpy(topMask, engine.topMask, sizeof topMask);
        std::memcpy(valueTotal, engine.valueTotal, sizeof valueTotal);
    }

    void expectSame() const {
        EXPECT_EQ(std::memcmp(cells, engine.cells, sizeof cells), 0);
        EXPECT_EQ(std::memcmp(&lineWords, &engine.lineWords, sizeof lineWords), 0);
        EXPECT_EQ(hashKey, engine.hashKey);
        EXPECT_EQ(stoneCount, engine.stoneCount);
        EXPECT_EQ(std::memcmp(stoneList, engine.stoneList, sizeof(StonePoint) * stoneCount), 0);
        EXPECT_EQ(std::memcmp(rowMask, engine.rowMask, sizeof rowMask), 0);
        EXPECT_EQ(std::memcmp(topMask, engine.topMask, sizeof topMask), 0);
    }
};

// A quiet middle game in freestyle with enough moves for long searches.
void middleGame() {
    newSearchBoard(ruleFreestyle, 15, 15);
    put({{7, 7, black},
         {7, 8, white},
         {8, 7, black},
         {6, 7, white},
         {8, 8, black},
         {9, 9, white},
         {8, 6, black},
         {8, 9, white},
         {6, 9, black},
         {9, 5, white},
         {5, 8, black},
         {10, 6, white}});
}

bool inSet(int x, int y, std::initializer_list<Stone> points) {
    for (const Stone& p : points) {
        if (p.x == x && p.y == y) return true;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Fives and fours settle a node before any move is generated.

TEST(SearchImmediate, OwnFiveIsAWinAtTheRemainingDepth) {
    newSearchBoard(ruleFreestyle, 15, 15);
    put({{7, 3, black},
         {7, 4, black},
         {7, 5, black},
         {7, 6, black},
         {0, 0, white},
         {14, 14, white},
         {0, 14, white},
         {14, 0, white}});
    EXPECT_EQ(root(3, black), winValue + 3);
    prepareSearch(5);
    EXPECT_EQ(searchNode(2, -wide, wide, black, 0), winValue + 2);
    // A win is a win whatever the window.
    EXPECT_EQ(searchNode(2, 100, 101, black, 0), winValue + 2);
}

TEST(SearchImmediate, OpenFourToMakeIsAWin) {
    newSearchBoard(ruleFreestyle, 15, 15);
    put({{7, 5, black},
         {7, 6, black},
         {7, 7, black},
         {0, 0, white},
         {14, 14, white},
         {0, 14, white}});
    EXPECT_EQ(root(4, black), winValue + 4);
}

TEST(SearchImmediate, SingleFiveToBlockIsTheOnlyMove) {
    newSearchBoard(ruleFreestyle, 15, 15);
    put({{7, 3, black},
         {7, 4, black},
         {7, 5, black},
         {7, 6, black},
         {7, 2, white},
         {0, 0, white},
         {14, 14, white}});
    const int32_t v = root(3, white);
    EXPECT_EQ(engine.bestMove[0], 7);
    EXPECT_EQ(engine.bestMove[1], 7);
    EXPECT_GT(v, -mateThreshold);
    EXPECT_LT(v, mateThreshold);
    EXPECT_EQ(engine.singleRootMove, 1);
}

TEST(SearchImmediate, TwoFivePointsToBlockLose) {
    newSearchBoard(ruleFreestyle, 15, 15);
    put({{7, 4, black},
         {7, 5, black},
         {7, 6, black},
         {7, 7, black},
         {0, 0, white},
         {14, 14, white},
         {0, 14, white},
         {14, 0, white}});
    // The first five point in scan order is blocked; black then fives with
    // two plies left: white's value is -(winValue + depth - 1).
    EXPECT_EQ(root(3, white), -(winValue + 2));
    EXPECT_EQ(engine.bestMove[0], 7);
    EXPECT_EQ(engine.bestMove[1], 3);
    EXPECT_EQ(engine.singleRootMove, 0);
    prepareSearch(6);
    EXPECT_EQ(searchNode(4, -wide, wide, white, 0), -(winValue + 3));
}

TEST(SearchImmediate, RenjuFoulOpenFourIsNoImmediateWin) {
    // Black open threes on row 3 and column 4 cross at (3, 4), the first
    // open-four point in scan order: playing it makes two open fours, a foul.
    const std::initializer_list<Stone> stones = {{3, 5, black},  {3, 6, black},  {3, 7, black},
                                                 {4, 4, black},  {5, 4, black},  {6, 4, black},
                                                 {0, 0, white},  {0, 14, white}, {14, 14, white},
                                                 {14, 0, white}, {12, 7, white}};
    newSearchBoard(ruleFreestyle, 15, 15);
    put(stones);
    EXPECT_EQ(root(3, black), winValue + 3);

    newSearchBoard(ruleRenju, 15, 15);
    put(stones);
    const int32_t v = root(3, black);
    // (3, 8) or (7, 4) still make an open four: a win two plies later, no
    // longer the immediate one.
    EXPECT_GE(v, mateThreshold);
    EXPECT_LT(v - engine.iterationDepth, winValue);
    EXPECT_TRUE(inSet(engine.bestMove[0], engine.bestMove[1], {{3, 8, 0}, {7, 4, 0}}));
}

// ---------------------------------------------------------------------------
// Move generation: forced defences and the threat search inside the tree.

TEST(SearchDefence, OpenThreeIsStoppedAtItsOpenFourPoints) {
    newSearchBoard(ruleFreestyle, 15, 15);
    put({{7, 5, black}, {7, 6, black}, {7, 7, black}, {0, 0, white}, {14, 14, white}});
    for (int depth = 1; depth <= 3; ++depth) {
        root(depth, white);
        EXPECT_TRUE(inSet(engine.bestMove[0], engine.bestMove[1], {{7, 4, 0}, {7, 8, 0}}))
            << "depth " << depth;
    }
}

TEST(SearchDefence, BrokenThreeAlsoAllowsTheEndsOfTheFour) {
    // X X . X: the gap is the open-four point; the ends of the four it would
    // make, (7, 4) and (7, 9), stop it too.
    newSearchBoard(ruleFreestyle, 15, 15);
    put({{7, 5, black}, {7, 6, black}, {7, 8, black}, {0, 0, white}, {14, 14, white}});
    for (int depth = 1; depth <= 3; ++depth) {
        root(depth, white);
        EXPECT_TRUE(
            inSet(engine.bestMove[0], engine.bestMove[1], {{7, 7, 0}, {7, 4, 0}, {7, 9, 0}}))
            << "depth " << depth;
    }
}

TEST(SearchThreats, WinByFoursIsFoundAtALeaf) {
    // Black has a four-three at (9, 4) but no five or open-four point.
    newSearchBoard(ruleFreestyle, 15, 15);
    put({{10, 2, black},
         {10, 3, black},
         {10, 4, black},
         {10, 1, white},
         {7, 5, black},
         {8, 5, black},
         {6, 5, white},
         {9, 6, black},
         {9, 7, black},
         {9, 8, black},
         {9, 9, white},
         {0, 0, white},
         {0, 14, white},
         {14, 14, white},
         {14, 0, white}});
    ASSERT_TRUE(groupEmpty(groupFive, black));
    ASSERT_TRUE(groupEmpty(groupOpenFour, black));
    prepareSearch(3);
    // At depth 0 a node would be a leaf; the threat search comes first.
    const int32_t leaf = searchNode(0, -wide, wide, black, 0);
    EXPECT_GE(leaf, mateThreshold);
    EXPECT_LE(leaf, winValue);
    // The root needs no depth beyond 1: the reply is forced and the threat
    // search of the next node proves the rest.
    const int32_t v = root(1, black);
    EXPECT_GE(v, mateThreshold);
    EXPECT_LE(v, engine.iterationDepth + 9999999);
}

TEST(SearchThreats, HorizonCountsExtensionInWholeFours) {
    middleGame();
    prepareSearch(4);
    const int32_t expected = evaluatePosition(0, black);
    // Credit 3 does not move the horizon (3 with its low bits cleared is 0).
    EXPECT_EQ(searchNode(0, -wide, wide, black, 3), expected);
    const int64_t leafNodes = engine.nodeCount;
    // Credit 4 is two plies: the node searches moves.
    engine.nodeCount = 0;
    searchNode(0, -wide, wide, black, 4);
    EXPECT_GT(engine.nodeCount, leafNodes + 2);
}

TEST(SearchThreats, NullWindowNodesNearTheHorizonPruneStatically) {
    // At remaining depth 2 a null-window node compares the static value with
    // its window using a margin of 64 x 2: far above beta it fails high with
    // beta, far below alpha it fails low with alpha.
    middleGame();
    prepareSearch(4);
    const int32_t e = evaluatePosition(1, black);
    EXPECT_EQ(searchNode(2, e - 1000, e - 999, black, 0), e - 999);
    EXPECT_EQ(searchNode(2, e + 999, e + 1000, black, 0), e + 999);
    // Within the margin the node searches its moves.
    const int64_t before = engine.nodeCount;
    searchNode(2, e + 100, e + 101, black, 0);
    EXPECT_GT(engine.nodeCount, before + 2);
}

// ---------------------------------------------------------------------------
// Nodes without a move.

TEST(SearchNoMove, FullBoardIsADraw) {
    newSearchBoard(ruleStandard, 6, 5);
    for (int x = 0; x < 5; ++x) {
        for (int y = 0; y < 6; ++y) put({{x, y, ((x / 2) + y) % 2 + 1}});
    }
    ASSERT_EQ(engine.stoneCount, 30);
    EXPECT_EQ(root(3, black), 0);
    EXPECT_EQ(engine.bestMove[0], -1);
    EXPECT_EQ(engine.bestMove[1], -1);
    prepareSearch(3);
    EXPECT_EQ(searchNode(2, -wide, wide, white, 0), 0);
}

TEST(SearchNoMove, BoardFullOfStonesAndBlockedPointsIsADraw) {
    // A blocked point is a wall inside the board and never counts as a stone:
    // the board is still full.
    newSearchBoard(ruleFreestyle, 6, 6);
    for (int x = 0; x < 6; ++x) {
        for (int y = 0; y < 6; ++y) {
            put({{x, y, x == 2 && y == 3 ? wall : ((x / 2) + y) % 2 + 1}});
        }
    }
    EXPECT_EQ(root(2, black), 0);
    prepareSearch(3);
    EXPECT_EQ(searchNode(2, -wide, wide, white, 0), 0);
}

TEST(SearchNoMove, RenjuBlackWithOnlyFoulsLoses) {
    // Walls everywhere but two rows; each row's empty point would give black
    // seven in a row, an overline.
    newSearchBoard(ruleRenju, 15, 15);
    for (int x = 0; x < 15; ++x) {
        for (int y = 0; y < 15; ++y) {
            if ((x == 7 || x == 9) && y >= 2 && y <= 8) continue;
            put({{x, y, wall}});
        }
    }
    for (int x : {7, 9}) {
        put({{x, 2, black},
             {x, 3, black},
             {x, 4, black},
             {x, 6, black},
             {x, 7, black},
             {x, 8, black}});
    }
    BoardSnapshot before;
    before.take();
    EXPECT_EQ(root(3, black), -9999998 - 3);
    EXPECT_EQ(engine.bestMove[0], -1);
    prepareSearch(4);
    EXPECT_EQ(searchNode(2, -wide, wide, black, 0), -9999998 - 2);
    // A higher alpha is returned instead.
    EXPECT_EQ(searchNode(2, -500, 500, black, 0), -500);
    before.expectSame();

    // White may play there.
    const int32_t v = root(3, white);
    EXPECT_TRUE(inSet(engine.bestMove[0], engine.bestMove[1], {{7, 5, 0}, {9, 5, 0}}));
    EXPECT_GT(v, -mateThreshold);
}

// ---------------------------------------------------------------------------
// The board after a search, and aborted iterations.

TEST(SearchState, BoardKeyAndStonesUnchangedByASearch) {
    for (int rule : {ruleFreestyle, ruleStandard, ruleRenju}) {
        newSearchBoard(rule, 15, 15);
        put({{7, 7, black},
             {7, 8, white},
             {8, 7, black},
             {6, 7, white},
             {8, 8, black},
             {9, 9, white},
             {8, 6, black},
             {8, 9, white}});
        BoardSnapshot before;
        before.take();
        for (int depth = 1; depth <= 4; ++depth) {
            root(depth, engine.moveCount % 2 + 1);
            EXPECT_EQ(engine.searchAborted, 0);
            ASSERT_TRUE(onBoard(engine.bestMove[0], engine.bestMove[1])) << "rule " << rule;
            EXPECT_EQ(engine.cells[engine.bestMove[0]][engine.bestMove[1]], empty);
        }
        before.expectSame();
    }
}

TEST(SearchState, AbortAtTheRootOrTheFirstMovesDiscardsTheIteration) {
    middleGame();
    BoardSnapshot before;
    before.take();
    // The stop is seen when the node count reaches a multiple of 1024: with
    // the count set just below one, the abort falls on the chosen node.
    for (int64_t node : {1, 2, 3, 20}) {
        prepareSearch(4);
        engine.stopRequested.store(1);
        engine.nodeCount = 1024 * 1000 - node;
        EXPECT_EQ(searchRoot(4, -wide, wide, black, 0), 0) << "abort at node " << node;
        EXPECT_EQ(engine.searchAborted, 1);
        before.expectSame();
    }
}

// An opening whose depth-3 iteration takes fewer than 1024 nodes, so that an
// abort can be placed on any of its nodes.
void smallOpening() {
    newSearchBoard(ruleFreestyle, 15, 15);
    put({{7, 7, black}, {7, 8, white}, {8, 7, black}, {6, 9, white}});
}

TEST(SearchState, LaterAbortKeepsTheFinishedMoves) {
    smallOpening();
    BoardSnapshot before;
    before.take();
    const int depth = 3;
    const int32_t full = root(depth, black);
    const int64_t total = engine.nodeCount;
    ASSERT_LT(total, 1024);
    ASSERT_GT(total, 100);
    // The stop is only seen at multiples of 1024 nodes; starting the count at
    // -node puts the abort on the chosen node. Aborts during the first two
    // root moves give 0; from then on the best of the finished moves, which
    // can only grow as more moves finish and never passes the full result.
    bool sawPartial = false;
    int32_t lastPartial = INT32_MIN;
    for (int64_t node = 1; node < total; node += total / 9) {
        smallOpening();
        prepareSearch(depth);
        engine.stopRequested.store(1);
        engine.nodeCount = -node;
        const int32_t v = searchRoot(depth, -wide, wide, black, 0);
        ASSERT_EQ(engine.searchAborted, 1) << "abort at node " << node;
        before.expectSame();
        if (v == 0) {
            EXPECT_FALSE(sawPartial) << "a later abort discarded the iteration at node " << node;
            continue;
        }
        sawPartial = true;
        ASSERT_TRUE(onBoard(engine.bestMove[0], engine.bestMove[1]));
        EXPECT_EQ(engine.cells[engine.bestMove[0]][engine.bestMove[1]], empty);
        EXPECT_GE(v, lastPartial) << "abort at node " << node;
        EXPECT_LE(v, full == 0 ? 1 : full) << "abort at node " << node;
        lastPartial = v;
    }
    EXPECT_TRUE(sawPartial);
}

TEST(SearchState, SameBoardSameTree) {
    middleGame();
    root(4, black);
    const int64_t first = engine.nodeCount;
    const int bx = engine.bestMove[0];
    const int by = engine.bestMove[1];
    middleGame();
    root(4, black);
    EXPECT_EQ(engine.nodeCount, first);
    EXPECT_EQ(engine.bestMove[0], bx);
    EXPECT_EQ(engine.bestMove[1], by);
}

// ---------------------------------------------------------------------------
// Ply bounds: a node never uses a list beyond the last one.

TEST(SearchBounds, NodeOnTheLastListIsALeaf) {
    middleGame();
    prepareSearch(maxPoints - 1);
    // depth 0 with iterationDepth 575 is ply 575, the last list: scored as a
    // leaf although a large extension credit would let it search on.
    BoardSnapshot before;
    before.take();
    const int32_t v = searchNode(0, -wide, wide, black, 40);
    EXPECT_EQ(v, evaluatePosition(0, black));
    EXPECT_EQ(engine.nodeCount, 1);
    // Beyond the lists (and before the first one) likewise.
    engine.nodeCount = 0;
    EXPECT_EQ(searchNode(-5, -wide, wide, black, 40), evaluatePosition(0, black));
    engine.iterationDepth = 2;
    EXPECT_EQ(searchNode(3, -wide, wide, black, 0), evaluatePosition(2, black));
    before.expectSame();
}

TEST(SearchBounds, ExtendedSearchNearTheLastListStaysInside) {
    // Four plies from the last list with eight half plies of credit: without
    // the bound the children would run past the lists.
    middleGame();
    BoardSnapshot before;
    before.take();
    prepareSearch(maxPoints - 1);
    const int32_t v = searchNode(4, -wide, wide, black, 8);
    EXPECT_EQ(engine.searchAborted, 0);
    EXPECT_GT(v, -winValue - maxPoints);
    EXPECT_LT(v, winValue + maxPoints);
    before.expectSame();
}

TEST(SearchBounds, RectangularBoardMovesStayInside) {
    newSearchBoard(ruleStandard, 20, 15);
    put({{7, 10, black}, {7, 11, white}, {8, 10, black}, {14, 19, white}, {13, 18, black}});
    BoardSnapshot before;
    before.take();
    for (int depth = 1; depth <= 4; ++depth) {
        root(depth, white);
        ASSERT_TRUE(onBoard(engine.bestMove[0], engine.bestMove[1]));
        EXPECT_EQ(engine.cells[engine.bestMove[0]][engine.bestMove[1]], empty);
    }
    before.expectSame();
}

// ---------------------------------------------------------------------------
// Late-move reductions (default search): the same iteration for fewer nodes,
// and a win the reduced search reports is still a win.

namespace {

// root() under `search`; the file's other tests keep the default search.
void rootUnder(int search, int depth, int side) {
    engine.searchMode = search;
    root(depth, side);
    engine.searchMode = searchDefault;
}

int64_t middleGameNodes(int search, int depth) {
    middleGame();
    rootUnder(search, depth, black);
    return engine.nodeCount;
}

// Plays the searched move of `side` at `depth` under `search`.
void playSearched(int search, int side, int depth) {
    rootUnder(search, depth, side);
    ASSERT_TRUE(onBoard(engine.bestMove[0], engine.bestMove[1]));
    ASSERT_EQ(engine.cells[engine.bestMove[0]][engine.bestMove[1]], empty);
    put({{engine.bestMove[0], engine.bestMove[1], side}});
}

// True when the side to move wins on the spot: a five to play, or an open
// four to make while the opponent has no five point.
bool winsNow(int side) {
    if (!groupEmpty(groupFive, side)) return true;
    return groupEmpty(groupFive, 3 - side) && openFourWins(side);
}

// The attacker, under the default search, against the classic search from
// the current position, the attacker to move: true when the attacker wins on
// the spot before the defender does, within `plies`.
bool winsAgainstClassic(int attacker, int depth, int plies) {
    int side = attacker;
    for (int ply = 0; ply < plies; ++ply) {
        if (winsNow(side)) return side == attacker;
        playSearched(side == attacker ? searchDefault : searchClassic, side, depth);
        side = 3 - side;
    }
    return false;
}

}  // namespace

TEST(SearchReductions, TheDefaultSearchReachesAnIterationForFewerNodes) {
    for (int depth : {5, 7}) {
        SCOPED_TRACE(depth);
        EXPECT_LT(middleGameNodes(searchDefault, depth), middleGameNodes(searchClassic, depth));
    }
}

TEST(SearchReductions, AWinClaimedUnderReductionsBeatsTheClassicSearch) {
    // The middle game played on by the default search against itself; at the
    // first claimed win the claim is played out against the classic search.
    // A reduced move is searched again in full whenever it could raise alpha,
    // so a reduction can hide a win but never invent one.
    constexpr int depth = 6;
    middleGame();
    int side = black;
    for (int ply = 0; ply < 60; ++ply) {
        if (root(depth, side) >= mateThreshold) {
            EXPECT_TRUE(winsAgainstClassic(side, depth, 40)) << "claim at ply " << ply;
            return;
        }
        playSearched(searchDefault, side, depth);
        side = 3 - side;
    }
    FAIL() << "no win claimed in 60 plies";
}
