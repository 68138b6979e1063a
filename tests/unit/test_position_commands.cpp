// The game record, the board bounds and the board builds, driven through the
// command handlers and the record operations with the output captured.
//
// TURN, BEGIN and BOARD hand work to the think thread and are covered by the
// protocol tests; everything here runs on the test's own thread.
#include <gtest/gtest.h>

#include <string>

#include "board/engine_state.h"
#include "protocol/main_loop.h"
#include "protocol/position_commands.h"

namespace {

std::string banner() { return std::string(bannerText) + "\n"; }
std::string newGame() { return banner() + "OK\n"; }

class PositionCommands : public ::testing::Test {
   protected:
    void SetUp() override {
        initEngineState();
        setOutputCapture(&out);
    }
    void TearDown() override { setOutputCapture(nullptr); }

    // Output printed since the last call.
    std::string take() {
        std::string text = out;
        out.clear();
        return text;
    }

    void expectRecord(std::initializer_list<MoveRecordEntry> moves) {
        ASSERT_EQ(engine.moveCount, static_cast<int>(moves.size()));
        int i = 0;
        for (const MoveRecordEntry& m : moves) {
            EXPECT_EQ(engine.moveRecord[i].x, m.x) << "entry " << i;
            EXPECT_EQ(engine.moveRecord[i].y, m.y) << "entry " << i;
            EXPECT_EQ(engine.moveRecord[i].colour, m.colour) << "entry " << i;
            ++i;
        }
    }

    std::string out;
};

}  // namespace

// ---------------------------------------------------------------------------
// Number and argument parsing.

TEST(ArgumentParsing, IntegersFollowFormattedInputRules) {
    const char* text = " \t+12x";
    EXPECT_EQ(readInteger(text), 12);
    EXPECT_EQ(*text, 'x');
    text = "-7,";
    EXPECT_EQ(readInteger(text), -7);
    EXPECT_EQ(*text, ',');
    text = "007";
    EXPECT_EQ(readInteger(text), 7);

    for (const char* bad : {"", "   ", "+", "-", "- 5", "+-5", "x5", ",5"}) {
        const char* p = bad;
        EXPECT_FALSE(readInteger(p).has_value()) << '"' << bad << '"';
        EXPECT_EQ(p, bad) << "a failed read leaves the text where it was";
    }
}

TEST(ArgumentParsing, HugeIntegersSaturate) {
    const char* text = "2147483647";
    EXPECT_EQ(readInteger(text), 2147483647);
    text = "2147483648";
    EXPECT_EQ(readInteger(text), 2147483647);
    text = "-2147483648";
    EXPECT_EQ(readInteger(text), -2147483647 - 1);
    text = "-99999999999999999999999999";
    EXPECT_EQ(readInteger(text), -2147483647 - 1);
    text = "4294967311";  // 2^32 + 15 must not wrap to a small coordinate
    EXPECT_EQ(readInteger(text), 2147483647);
    EXPECT_EQ(*text, '\0');
}

TEST(ArgumentParsing, CoordinatesWantTheCommaRightAfterTheFirstNumber) {
    auto pair = parseCoordinates("7,8");
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->first, 7);
    EXPECT_EQ(pair->second, 8);
    pair = parseCoordinates("  7,\t 8 and more");
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->second, 8);
    pair = parseCoordinates("-1,+3");
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->first, -1);
    EXPECT_EQ(pair->second, 3);
    for (const char* bad : {"7 ,8", "7;8", "7,", "7", ",8", "", "7 8", "a,b"}) {
        EXPECT_FALSE(parseCoordinates(bad)) << '"' << bad << '"';
    }
}

TEST(ArgumentParsing, RectSizesAllowWhiteSpaceAroundTheComma) {
    for (const char* good : {"20,15", "20 , 15", "20\t,15", "20,  15 x"}) {
        auto pair = parseRectSizes(good);
        ASSERT_TRUE(pair) << '"' << good << '"';
        EXPECT_EQ(pair->first, 20);
        EXPECT_EQ(pair->second, 15);
    }
    for (const char* bad : {"20", "20 15", "20,", ",15", "", "x,15"}) {
        EXPECT_FALSE(parseRectSizes(bad)) << '"' << bad << '"';
    }
}

TEST(ArgumentParsing, StoneLines) {
    auto line = parseStoneLine("3, 4,\t2 tail");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->x, 3);
    EXPECT_EQ(line->y, 4);
    EXPECT_EQ(line->who, 2);
    for (const char* bad : {"3 ,4,2", "3,4 ,2", "3,4", "3,4,", "DONE", ""}) {
        EXPECT_FALSE(parseStoneLine(bad)) << '"' << bad << '"';
    }
}

// ---------------------------------------------------------------------------
// Board sizes.

TEST_F(PositionCommands, StartSetsBothBoundsFromOneOrTwoNumbers) {
    commandStart("15");
    EXPECT_EQ(take(), newGame());
    EXPECT_EQ(engine.boardWidth, 15);
    EXPECT_EQ(engine.boardHeight, 15);
    EXPECT_EQ(engine.boardSize, 15);

    commandStart("20 12");
    EXPECT_EQ(take(), newGame());
    EXPECT_EQ(engine.boardWidth, 20);
    EXPECT_EQ(engine.boardHeight, 12);
    EXPECT_EQ(engine.boardSize, 20);

    // No number keeps the bounds; trailing text after one number is ignored.
    commandStart("");
    EXPECT_EQ(take(), newGame());
    EXPECT_EQ(engine.boardWidth, 20);
    EXPECT_EQ(engine.boardHeight, 12);
    commandStart("ING 9");
    EXPECT_EQ(engine.boardWidth, 20);
    commandStart("9x9");
    EXPECT_EQ(engine.boardWidth, 9);
    EXPECT_EQ(engine.boardHeight, 9);
}

TEST_F(PositionCommands, RectStartGivesWidthThenHeight) {
    commandRectStart("20,15");
    EXPECT_EQ(take(), newGame());
    EXPECT_EQ(engine.boardWidth, 20);
    EXPECT_EQ(engine.boardHeight, 15);
    EXPECT_EQ(engine.boardSize, 20);

    commandRectStart("12 10");
    EXPECT_EQ(take(), "ERROR bad RECTSTART parameters\n");
    EXPECT_EQ(engine.boardWidth, 20);
    EXPECT_EQ(engine.boardHeight, 15);
}

TEST_F(PositionCommands, TheFirstCommandGetsTheDefaultBoardUnlessItIsAStart) {
    commandPlay("3,4");
    EXPECT_EQ(take(), newGame() + "3,4\n");
    EXPECT_EQ(engine.boardWidth, 20);
    EXPECT_EQ(engine.boardHeight, 20);

    initEngineState();
    commandRectStart("10,8");
    EXPECT_EQ(take(), newGame());

    // A refused RECTSTART never reaches the preparation step.
    initEngineState();
    commandRectStart("10");
    EXPECT_EQ(take(), "ERROR bad RECTSTART parameters\n");
    EXPECT_EQ(engine.boardWidth, 0);
}

TEST_F(PositionCommands, StartZeroBecomesTheDefaultBoardWithTwoAnswers) {
    commandStart("0");
    EXPECT_EQ(take(), newGame() + newGame());
    EXPECT_EQ(engine.boardWidth, 20);
    EXPECT_EQ(engine.boardHeight, 20);
    EXPECT_EQ(engine.boardSize, 20);

    commandStart("11");
    take();
    commandStart("0");
    EXPECT_EQ(take(), newGame() + newGame());
    EXPECT_EQ(engine.boardWidth, 20);
}

TEST_F(PositionCommands, RefusedSizesKeepThePreviousGame) {
    commandStart("15");
    commandPlay("14,14");
    take();
    const char* refusedStarts[] = {"25", "24 25", "-3", "15 0", "15 -1", "99999999999"};
    for (const char* sizes : refusedStarts) {
        commandStart(sizes);
        EXPECT_EQ(take(), "ERROR size of the board\n") << sizes;
        EXPECT_EQ(engine.boardWidth, 15) << sizes;
        EXPECT_EQ(engine.boardHeight, 15) << sizes;
        EXPECT_EQ(engine.boardSize, 15) << sizes;
        expectRecord({{14, 14, black}});
    }
    for (const char* sizes : {"25,10", "15,0", "-1,5", "15 , 99999999999"}) {
        commandRectStart(sizes);
        EXPECT_EQ(take(), "ERROR size of the board\n") << sizes;
        EXPECT_EQ(engine.boardWidth, 15) << sizes;
        EXPECT_EQ(engine.boardHeight, 15) << sizes;
        expectRecord({{14, 14, black}});
    }
    // The old bounds are really in force.
    commandPlay("15,0");
    EXPECT_EQ(take(), "ERROR bad coordinates\n");
}

TEST_F(PositionCommands, ARefusedFirstStartLeavesNoBoard) {
    commandStart("25");
    EXPECT_EQ(take(), "ERROR size of the board\n");
    EXPECT_EQ(engine.boardWidth, 0);
    commandStart("-3");
    EXPECT_EQ(take(), "ERROR size of the board\n");
    EXPECT_EQ(engine.boardWidth, 0);
    // So the next position command still starts the default board first.
    commandPlay("19,19");
    EXPECT_EQ(take(), newGame() + "19,19\n");
}

// ---------------------------------------------------------------------------
// Moves and the record.

TEST_F(PositionCommands, ColoursFollowThePlayOrderWhoeverMoves) {
    commandStart("15");
    take();
    playOwnMove(7, 7);
    playOwnMove(7, 8);
    playOpponentMove(8, 8);
    playOpponentMove(9, 9);
    EXPECT_EQ(take(), "");
    expectRecord({{7, 7, black}, {7, 8, white}, {8, 8, black}, {9, 9, white}});
}

TEST_F(PositionCommands, ARepeatedPointIsRefusedOnAnUnbuiltBoard) {
    commandStart("15");
    take();
    ASSERT_EQ(engine.builtForRule, -1);
    commandPlay("7,7");
    commandPlay("7,7");
    EXPECT_EQ(take(), "7,7\nERROR my move [7,7]\n7,7\n");
    playOpponentMove(7, 7);
    EXPECT_EQ(take(), "ERROR opponents's move [7,7]\n");
    playOwnMove(-1, -1);
    EXPECT_EQ(take(), "ERROR my move [-1,-1]\n");
    playOpponentMove(15, 3);
    EXPECT_EQ(take(), "ERROR opponents's move [15,3]\n");
    expectRecord({{7, 7, black}});
}

TEST_F(PositionCommands, TheRecordNeverOutgrowsTheBoard) {
    commandStart("24");
    take();
    for (int x = 0; x < 24; ++x) {
        for (int y = 0; y < 24; ++y) playOpponentMove(x, y);
    }
    EXPECT_EQ(take(), "");
    EXPECT_EQ(engine.moveCount, maxPoints);
    EXPECT_EQ(engine.moveRecord[maxPoints - 1].colour, white);
    playOwnMove(0, 0);
    playOwnMove(23, 23);
    EXPECT_EQ(take(), "ERROR my move [0,0]\nERROR my move [23,23]\n");
    EXPECT_EQ(engine.moveCount, maxPoints);
}

TEST_F(PositionCommands, TakeBackLiftsOnlyTheLastMove) {
    commandStart("15");
    take();
    commandTakeBack("7,7");
    EXPECT_EQ(take(), "ERROR bad coordinates\n");
    EXPECT_EQ(engine.moveCount, 0);

    playOwnMove(7, 7);
    playOwnMove(8, 8);
    engine.lastSearchValue = 1234;
    commandTakeBack("7,7");  // a stone, but not the last one
    EXPECT_EQ(take(), "ERROR bad coordinates\n");
    commandTakeBack("9,9");  // empty
    EXPECT_EQ(take(), "ERROR bad coordinates\n");
    for (const char* bad : {"8 ,8", "8", "", "15,8", "8,-1"}) {
        commandTakeBack(bad);
        EXPECT_EQ(take(), "ERROR bad coordinates\n") << bad;
    }
    expectRecord({{7, 7, black}, {8, 8, white}});
    EXPECT_EQ(engine.lastSearchValue, 1234);

    commandTakeBack("8, 8");
    EXPECT_EQ(take(), "OK\n");
    expectRecord({{7, 7, black}});
    EXPECT_EQ(engine.lastSearchValue, 0);
    commandTakeBack("7,7");
    EXPECT_EQ(take(), "OK\n");
    EXPECT_EQ(engine.moveCount, 0);
    commandTakeBack("7,7");
    EXPECT_EQ(take(), "ERROR bad coordinates\n");
    EXPECT_EQ(engine.moveCount, 0);

    // A lifted point is free again and the colours restart from the order.
    playOpponentMove(7, 7);
    expectRecord({{7, 7, black}});
}

TEST_F(PositionCommands, BlockedPointsAreNeitherMovesNorFree) {
    commandStart("15");
    take();
    // A remembered blocked point, as a BOARD block leaves it.
    engine.blockedPoints[0] = {3, 3};
    engine.blockedCount = 1;
    playOwnMove(3, 3);
    EXPECT_EQ(take(), "ERROR my move [3,3]\n");
    EXPECT_EQ(engine.moveCount, 0);
    commandTakeBack("3,3");
    EXPECT_EQ(take(), "ERROR bad coordinates\n");
    EXPECT_EQ(engine.moveCount, 0);

    // A new game forgets them.
    commandRestart("");
    EXPECT_EQ(take(), newGame());
    EXPECT_EQ(engine.blockedCount, 0);
    playOwnMove(3, 3);
    expectRecord({{3, 3, black}});
}

TEST_F(PositionCommands, NewGamesEmptyTheRecordAndKeepTheSettings) {
    commandStart("15");
    playOwnMove(1, 1);
    playOwnMove(2, 2);
    engine.lastSearchValue = 77;
    engine.timeout_turn.store(1234);
    take();
    commandRestart("anything");
    EXPECT_EQ(take(), newGame());
    EXPECT_EQ(engine.moveCount, 0);
    EXPECT_EQ(engine.lastSearchValue, 0);
    EXPECT_EQ(engine.builtForRule, -1);
    EXPECT_EQ(engine.boardWidth, 15);
    EXPECT_EQ(engine.timeout_turn.load(), 1234);

    playOwnMove(1, 1);
    engine.lastSearchValue = 77;
    commandRectStart("10,12");
    EXPECT_EQ(engine.moveCount, 0);
    EXPECT_EQ(engine.lastSearchValue, 0);
}

// ---------------------------------------------------------------------------
// Board builds.

TEST_F(PositionCommands, TheThinkBuildNamesTheRuleAndChargesTheFirstBuild) {
    engine.requestedRule.store(ruleStandard);
    commandStart("15");
    playOwnMove(7, 7);
    playOwnMove(7, 8);
    take();
    EXPECT_EQ(engine.rule, ruleStandard);
    EXPECT_EQ(engine.builtForRule, -1);

    engine.searchStart = 100000;
    buildBoard();
    EXPECT_EQ(take(), "MESSAGE Rule Gomoku (Standard)\n");
    EXPECT_EQ(engine.builtForRule, ruleStandard);
    EXPECT_EQ(engine.updateRadius, 5);
    EXPECT_FALSE(engine.firstBuildPending);
    EXPECT_EQ(engine.searchStart, 100000 - 200);
    EXPECT_EQ(engine.cells[7][7], black);
    EXPECT_EQ(engine.cells[7][8], white);
    EXPECT_EQ(engine.stoneCount, 2);

    // Built for this rule: nothing to do.
    engine.searchStart = 100000;
    buildBoard();
    EXPECT_EQ(take(), "");
    EXPECT_EQ(engine.searchStart, 100000);

    // A later rule change rebuilds, but only the first build is charged.
    engine.rule = ruleFreestyle;
    buildBoard();
    EXPECT_EQ(take(), "MESSAGE Rule Gomoku (Freestyle)\n");
    EXPECT_EQ(engine.updateRadius, 4);
    EXPECT_EQ(engine.searchStart, 100000);
    EXPECT_EQ(engine.builtForRule, ruleFreestyle);
}

TEST_F(PositionCommands, ABuiltBoardFollowsEveryMoveAndTakeBack) {
    commandStart("15");
    playOwnMove(7, 7);
    buildBoard();
    take();
    playOpponentMove(7, 8);
    EXPECT_EQ(engine.cells[7][8], white);
    EXPECT_EQ(engine.stoneCount, 2);
    playOwnMove(7, 8);
    EXPECT_EQ(take(), "ERROR my move [7,8]\n");
    EXPECT_EQ(engine.stoneCount, 2);
    EXPECT_EQ(takeBackMove(7, 8), 0);
    EXPECT_EQ(engine.cells[7][8], empty);
    EXPECT_EQ(engine.stoneCount, 1);
    EXPECT_EQ(takeBackMove(7, 8), 2);
    EXPECT_EQ(engine.stoneCount, 1);
}

TEST_F(PositionCommands, EveryRebuildPutsTheBlockedPointsBack) {
    commandStart("15");
    playOwnMove(7, 7);
    engine.blockedPoints[0] = {0, 0};
    engine.blockedPoints[1] = {14, 14};
    engine.blockedCount = 2;
    buildBoard();
    EXPECT_EQ(engine.cells[0][0], wall);
    EXPECT_EQ(engine.cells[14][14], wall);
    EXPECT_EQ(engine.cells[7][7], black);
    EXPECT_EQ(engine.stoneCount, 1);  // walls never enter the stone list
    engine.rule = ruleStandard;
    buildBoard();
    EXPECT_EQ(engine.cells[0][0], wall);
    EXPECT_EQ(engine.cells[14][14], wall);
    EXPECT_EQ(engine.stoneList[0].x, 7);
    EXPECT_EQ(engine.stoneList[0].y, 7);
    EXPECT_EQ(engine.stoneCount, 1);
}

TEST_F(PositionCommands, RenjuIsBuiltAtOnceAndSilently) {
    engine.requestedRule.store(ruleRenju);
    commandStart("15");
    EXPECT_EQ(take(), newGame());
    EXPECT_EQ(engine.builtForRule, ruleRenju);
    EXPECT_EQ(engine.updateRadius, 5);
    commandPlay("7,7");
    EXPECT_EQ(take(), "7,7\n");
    EXPECT_EQ(engine.cells[7][7], black);

    // The think build finds nothing to do and the first-build charge stays due.
    buildBoard();
    EXPECT_EQ(take(), "");
    EXPECT_TRUE(engine.firstBuildPending);
}

TEST_F(PositionCommands, ARuleRequestedMidGameReachesTheBoardAtTheNextCommand) {
    commandStart("15");
    playOwnMove(7, 7);
    buildBoard();
    take();
    ASSERT_EQ(engine.builtForRule, ruleFreestyle);

    engine.requestedRule.store(ruleRenju);
    EXPECT_EQ(engine.rule, ruleFreestyle);
    commandPlay("8,8");  // the move entered brings the silent Renju rebuild
    EXPECT_EQ(take(), "8,8\n");
    EXPECT_EQ(engine.rule, ruleRenju);
    EXPECT_EQ(engine.builtForRule, ruleRenju);
    EXPECT_EQ(engine.cells[7][7], black);
    EXPECT_EQ(engine.cells[8][8], white);
    EXPECT_EQ(engine.stoneCount, 2);

    // Back to a Gomoku rule: the Renju board is dropped at once (its tables
    // no longer fit the rule) and nothing is built until the think asks for it;
    // the move waits in the record.
    engine.requestedRule.store(ruleStandard);
    commandPlay("9,9");
    EXPECT_EQ(engine.builtForRule, -1);
    EXPECT_EQ(engine.moveCount, 3);
    buildBoard();
    EXPECT_EQ(engine.cells[9][9], black);
    EXPECT_EQ(take(), "9,9\nMESSAGE Rule Gomoku (Standard)\n");
    EXPECT_EQ(engine.builtForRule, ruleStandard);
    EXPECT_EQ(engine.stoneCount, 3);
}

// ---------------------------------------------------------------------------
// YXSHOWFORBID (no think runs here, so the answer comes at once).

TEST_F(PositionCommands, ForbiddenPointsFollowTheRuleOfTheGame) {
    commandShowForbid("");
    EXPECT_EQ(take(), "FORBID .\n");  // no board yet, and none is made for it
    EXPECT_EQ(engine.boardWidth, 0);

    // Black's double three at 3,3 is no foul outside Renju.
    commandStart("15");
    for (auto [x, y] : {std::pair{3, 4}, {0, 14}, {3, 5}, {14, 0}, {4, 3}, {14, 14}, {5, 3}}) {
        playOwnMove(x, y);
    }
    take();
    commandShowForbid("");
    EXPECT_EQ(take(), "FORBID .\n");
    // A Renju request counts from the next position command, as for a think.
    engine.requestedRule.store(ruleRenju);
    commandShowForbid("");
    EXPECT_EQ(take(), "FORBID .\n");
    commandPlay("0,7");
    EXPECT_EQ(take(), "0,7\n");
    commandShowForbid("");
    EXPECT_EQ(take(), "FORBID 0303.\n");
    // Two-digit coordinates, with black to move as well as white.
    for (auto [x, y] :
         {std::pair{10, 12}, {14, 7}, {10, 13}, {7, 0}, {11, 11}, {7, 14}, {12, 11}}) {
        playOwnMove(x, y);
    }
    take();
    commandShowForbid("extra text");
    EXPECT_EQ(take(), "FORBID 03031011.\n");
}
