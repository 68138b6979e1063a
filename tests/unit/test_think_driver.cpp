// The think driver in-process: the turn budget, the moves that need no search,
// the win finished from the previous think, the answer without tables, and the
// depth and node limits with the per-depth report.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "protocol/main_loop.h"
#include "protocol/position_commands.h"
#include "search/think_driver.h"
#include "search/transposition.h"

namespace {

// A new game of the given rule and size, with the output captured. In Renju
// the board is built by the start itself; otherwise `build` builds it.
class Driver : public ::testing::Test {
   protected:
    std::string out;

    void newGame(int rule, int width, int height, bool build) {
        initEngineState();
        setOutputCapture(&out);
        engine.requestedRule.store(rule);
        engine.rule = rule;
        engine.boardWidth = width;
        engine.boardHeight = height;
        startGame();
        if (build) buildBoard();
        startThinkClock();  // as if the command asking for the move were read now
        out.clear();
    }

    // Moves in play order; the colour follows the order.
    void play(std::initializer_list<std::pair<int, int>> moves) {
        for (auto [x, y] : moves) playOpponentMove(x, y);
    }

    void TearDown() override { setOutputCapture(nullptr); }
};

// Runs in a fresh process before any board was built: then the tables can be
// made to fail. Later in the same process they exist and the case is skipped.
TEST_F(Driver, WithoutTablesTheOnePlyMoveIsPlayedAndSaidSo) {
    if (hashTablesReady()) GTEST_SKIP() << "tables already allocated in this process";
    failTableAllocations(0, 1000);
    newGame(ruleFreestyle, 15, 15, false);
    play({{7, 7}, {7, 8}, {8, 8}});  // white to move: black threatens nothing yet
    thinkDriver();
    failTableAllocations(0, 0);
    EXPECT_FALSE(hashTablesReady());
    EXPECT_NE(out.find("MESSAGE search off"), std::string::npos) << out;
    EXPECT_NE(out.find("MESSAGE Speed=0\n"), std::string::npos) << out;
    EXPECT_EQ(engine.moveCount, 4);  // the move was entered
    const MoveRecordEntry& m = engine.moveRecord[3];
    EXPECT_TRUE(onBoard(m.x, m.y));
    EXPECT_EQ(out.substr(out.rfind("MESSAGE Speed=")),
              "MESSAGE Speed=0\n" + std::to_string(m.x) + "," + std::to_string(m.y) + "\n");
}

TEST_F(Driver, TurnBudgetIsTheSmallerOfTimeoutTurnAndASixteenthOfTimeLeft) {
    struct Case {
        int32_t timeoutTurn, timeLeft, budget;
    };
    const Case cases[] = {
        {30000, 16000, 1000}, {30000, 1000, 62}, {300, 1000000000, 300},
        {5000, 80000, 5000},  {100, 1615, 100},  {30000, -160, -10},
    };
    for (const Case& c : cases) {
        newGame(ruleFreestyle, 15, 15, false);
        engine.timeout_turn.store(c.timeoutTurn);
        engine.time_left.store(c.timeLeft);
        thinkDriver();  // empty board: no search, but the budget is set first
        EXPECT_EQ(engine.turnBudget, c.budget) << c.timeoutTurn << " " << c.timeLeft;
        EXPECT_EQ(out, "MESSAGE Speed=0\n7,7\n");
    }
}

TEST_F(Driver, TwoFivePointsOfTheOpponentMarkTheGameLost) {
    newGame(ruleFreestyle, 15, 15, true);
    // Black's open four in column 9: five points (2,9) and (7,9).
    play({{3, 9}, {0, 0}, {4, 9}, {0, 14}, {5, 9}, {14, 0}, {6, 9}});
    engine.lastSearchValue = 0;
    thinkDriver();
    EXPECT_EQ(out, "MESSAGE Speed=0\n2,9\n");
    EXPECT_EQ(engine.lastSearchValue, -winValue);
    EXPECT_EQ(engine.cells[2][9], white);
}

TEST_F(Driver, AWinProvenLastMoveIsFinishedWithTheFive) {
    newGame(ruleFreestyle, 15, 15, true);
    // Black 7,4-7,7 with white at 7,8: black's five point is 7,3; black also
    // has nothing else. The previous think claimed a win at its root.
    play({{7, 4}, {0, 0}, {7, 5}, {0, 14}, {7, 6}, {14, 0}, {7, 7}, {7, 8}});
    engine.lastSearchValue = winValue + 3;
    engine.iterationDepth = 3;
    thinkDriver();
    EXPECT_EQ(out, "MESSAGE Speed=0\n7,3\n");
}

TEST_F(Driver, AClaimedWinDoesNotOverrideTheOpponentsFive) {
    newGame(ruleFreestyle, 15, 15, true);
    // White to move with an open three at 10,5-10,7 (open-four points, no
    // five point); black has a closed four 3,9-6,9 (five point 7,9). A stale
    // claim of a win must not make white play its open four: it must block.
    play({{3, 9}, {10, 5}, {4, 9}, {10, 6}, {5, 9}, {10, 7}, {6, 9}, {2, 9}, {14, 14}});
    engine.lastSearchValue = winValue + 1;
    engine.iterationDepth = 1;
    thinkDriver();
    EXPECT_EQ(out, "MESSAGE Speed=0\n7,9\n");
}

TEST_F(Driver, AFiveOfItsOwnEndsTheDeepeningAtDepthOne) {
    // Black to move: its five point 7,7 (7,3-7,6 closed at 7,2) against
    // white's open four in column 10. The first iteration is a win at the
    // root, worth winValue + 1, and nothing deeper is searched, under both
    // searches.
    for (int search : {searchClassic, searchDefault}) {
        SCOPED_TRACE(testing::Message() << "search " << search);
        newGame(ruleFreestyle, 15, 15, true);
        play({{7, 3}, {7, 2}, {7, 4}, {3, 10}, {7, 5}, {4, 10}, {7, 6}, {5, 10}, {0, 0}, {6, 10}});
        engine.timeout_turn.store(30000);
        engine.time_left.store(1000000000);
        engine.search.store(search);
        thinkDriver();
        EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1), "7,7\n");
        EXPECT_EQ(engine.iterationDepth, 1);
        EXPECT_EQ(engine.lastSearchValue, winValue + 1);
        EXPECT_EQ(engine.cells[7][7], black);
    }
}

// ---------------------------------------------------------------------------
// Analysis: depth and node limits and the per-depth report.

// The lines of a captured output, without their line feeds.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Black to move on 15x15 after four quiet moves: nothing is decided, so every
// depth is searched in full and the limits, not a proof, end the think.
void quietOpening() {
    for (auto [x, y] : {std::pair{7, 7}, {8, 8}, {6, 8}, {7, 9}}) playOpponentMove(x, y);
}

TEST_F(Driver, TheReportChangesNeitherTheTreeNorTheMoveAndLimitedThinksRepeat) {
    // The same limited think three times in one process: without the report,
    // with it, and without it again after an unlimited think of the same
    // position filled the tables.
    int64_t nodes[3] = {};
    std::string moves[3];
    for (int run = 0; run < 3; ++run) {
        newGame(ruleFreestyle, 15, 15, true);
        quietOpening();
        if (run == 2) {
            // An unlimited think of the same position leaves its entries.
            engine.timeout_turn.store(200);
            thinkDriver();
            const MoveRecordEntry& last = engine.moveRecord[engine.moveCount - 1];
            ASSERT_EQ(takeBackMove(last.x, last.y), 0);
            out.clear();
        }
        engine.timeout_turn.store(600000);
        engine.max_depth.store(6);
        engine.show_detail.store(run == 1 ? 1 : 0);
        thinkDriver();
        nodes[run] = engine.nodeCount;
        const std::vector<std::string> lines = linesOf(out);
        ASSERT_FALSE(lines.empty());
        moves[run] = lines.back();
        if (run != 1) {
            ASSERT_EQ(lines.size(), 2u) << "no report unless asked for: " << out;
        } else {
            EXPECT_EQ(lines.size(), 8u) << out;
        }
    }
    EXPECT_EQ(nodes[1], nodes[0]);
    EXPECT_EQ(moves[1], moves[0]);
    EXPECT_EQ(nodes[2], nodes[0]);
    EXPECT_EQ(moves[2], moves[0]);
    engine.max_depth.store(0);
    engine.show_detail.store(0);
}

TEST(PickImmediateWin, FivePointBeforeOpenFourAndScanOrder) {
    initEngineState();
    engine.rule = ruleFreestyle;
    engine.requestedRule.store(ruleFreestyle);
    engine.boardWidth = engine.boardHeight = 15;
    std::string sink;
    setOutputCapture(&sink);
    startGame();
    buildBoard();
    // Black: open three in row 2 (open-four points 2,3 and 2,7, earlier in
    // scan order) and a closed four in row 9 (five point 9,9).
    for (auto [x, y] : {std::pair{2, 4},
                        {14, 14},
                        {2, 5},
                        {14, 12},
                        {2, 6},
                        {9, 4},
                        {9, 5},
                        {14, 10},
                        {9, 6},
                        {14, 8},
                        {9, 7},
                        {14, 6},
                        {9, 8}}) {
        playOpponentMove(x, y);
    }
    setOutputCapture(nullptr);
    engine.bestMove[0] = engine.bestMove[1] = -7;
    ASSERT_EQ(pickImmediateWin(black, 0), 1);
    EXPECT_EQ(engine.bestMove[0], 9);
    EXPECT_EQ(engine.bestMove[1], 9);
    EXPECT_EQ(engine.cells[9][9], empty);  // play 0 places nothing

    // White has neither: nothing changes.
    EXPECT_EQ(pickImmediateWin(white, 1), 0);
    EXPECT_EQ(engine.bestMove[0], 9);
    EXPECT_EQ(engine.bestMove[1], 9);

    // With the five point taken by white, the first open-four point is 2,3.
    placeStone(9, 9, white);
    ASSERT_EQ(pickImmediateWin(black, 1), 1);
    EXPECT_EQ(engine.bestMove[0], 2);
    EXPECT_EQ(engine.bestMove[1], 3);
    EXPECT_EQ(engine.cells[2][3], black);  // play 1 places the stone
}

// ---------------------------------------------------------------------------
// The two searches evaluate with their own combination values, which the
// board's point records carry. A think under the other search than the last
// one must rebuild them first: the default search's tree after a classic
// think is the one a fresh game gives, and the records check out.
TEST_F(Driver, SwitchingTheSearchRebuildsTheBoardsValues) {
    auto limitedThink = [&](int search) {
        engine.search.store(search);
        engine.max_depth.store(6);
        engine.timeout_turn.store(600000);
        startThinkClock();
        thinkDriver();
        EXPECT_TRUE(checkBoardConsistency());
        const MoveRecordEntry last = engine.moveRecord[engine.moveCount - 1];
        EXPECT_EQ(takeBackMove(last.x, last.y), 0);
        return std::pair<int64_t, std::string>{engine.nodeCount, linesOf(out).back()};
    };
    for (int rule : {ruleFreestyle, ruleRenju}) {
        SCOPED_TRACE(testing::Message() << "rule " << rule);
        newGame(rule, 15, 15, rule != ruleRenju);
        quietOpening();
        const auto fresh = limitedThink(searchDefault);
        const auto classic = limitedThink(searchClassic);
        const auto again = limitedThink(searchDefault);
        EXPECT_EQ(again, fresh);
        // Classic after a default think is classic's tree in a game whose board
        // is first built at the think (Renju builds at the start, as the default).
        newGame(rule, 15, 15, false);
        quietOpening();
        EXPECT_EQ(limitedThink(searchClassic), classic);
    }
    engine.max_depth.store(0);
}

// Both searches keep the rules' absolutes.

// Does `side` have five in a row on the board (exactly five under the
// standard rule and for black in Renju)? Counted on the cells, not read from
// the engine's pattern codes.
bool madeFive(int side) {
    const bool exact = engine.rule == ruleStandard || (engine.rule == ruleRenju && side == black);
    for (int x = 0; x < engine.boardHeight; ++x) {
        for (int y = 0; y < engine.boardWidth; ++y) {
            for (int d = 0; d < 4; ++d) {
                const int px = x - dirStepX[d], py = y - dirStepY[d];
                if (engine.cells[x][y] != side || (onBoard(px, py) && engine.cells[px][py] == side))
                    continue;  // not the first stone of its run
                int n = 0;
                for (int cx = x, cy = y; onBoard(cx, cy) && engine.cells[cx][cy] == side;
                     cx += dirStepX[d], cy += dirStepY[d])
                    ++n;
                if (n == 5 || (n > 5 && !exact)) return true;
            }
        }
    }
    return false;
}

// One think of the side to move under a search and a depth limit.
void thinkWith(int search, int depth) {
    engine.search.store(search);
    engine.max_depth.store(depth);
    startThinkClock();
    thinkDriver();
}

// Two threes in reach: the attacker's (7,6) (7,7) in row 7 and (8,8) (9,8) in
// column 8, so (7,8) makes two open threes, a win in five plies; the other
// side's four stones sit in the corners. Black, the attacker, is to move.
void crossPosition() {
    const std::pair<int, int> mine[] = {{7, 6}, {7, 7}, {8, 8}, {9, 8}};
    const std::pair<int, int> theirs[] = {{0, 0}, {0, 14}, {14, 0}, {14, 14}};
    for (int i = 0; i < 4; ++i) {
        playOpponentMove(mine[i].first, mine[i].second);
        playOpponentMove(theirs[i].first, theirs[i].second);
    }
}

TEST_F(Driver, NeitherSearchPlaysBlacksFoulNorSkipsAFiveOrABlock) {
    for (int search : {searchClassic, searchDefault})
        for (int depth : {1, 6}) {
            SCOPED_TRACE(testing::Message() << "search " << search << " depth " << depth);
            // Renju, black to move in the cross: (7,8) is black's double-three foul,
            // and neither search may play it.
            newGame(ruleRenju, 15, 15, false);
            crossPosition();
            thinkWith(search, depth);
            const MoveRecordEntry& m = engine.moveRecord[engine.moveCount - 1];
            EXPECT_FALSE(m.x == 7 && m.y == 8);
            EXPECT_EQ(engine.cells[7][8], empty);

            // White's four on row 0 (five point (0,4)) comes before black's win by
            // threes: black blocks.
            newGame(ruleFreestyle, 15, 15, true);
            play({{7, 6}, {0, 0}, {7, 7}, {0, 1}, {8, 8}, {0, 2}, {9, 8}, {0, 3}});
            thinkWith(search, depth);
            EXPECT_EQ(engine.cells[0][4], black);

            // With a five point of its own and an open three of white's to face,
            // black makes five.
            newGame(ruleStandard, 15, 15, true);
            play({{7, 3}, {7, 2}, {7, 4}, {3, 10}, {7, 5}, {4, 10}, {7, 6}, {5, 10}});
            thinkWith(search, depth);
            EXPECT_TRUE(madeFive(black));

            // An open four of its own when white has no four: black plays it (or
            // the five straight after) rather than anything slower.
            newGame(ruleFreestyle, 15, 15, true);
            play({{7, 5}, {0, 0}, {7, 6}, {0, 14}, {7, 7}, {14, 0}});
            thinkWith(search, depth);
            const MoveRecordEntry& four = engine.moveRecord[engine.moveCount - 1];
            EXPECT_EQ(four.x, 7);
            EXPECT_TRUE(four.y == 4 || four.y == 8) << four.y;
        }
}

}  // namespace
