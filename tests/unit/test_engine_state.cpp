// Start-up values of the engine record and the geometry helpers.
#include <gtest/gtest.h>

#include "board/engine_state.h"

TEST(EngineState, StartUpValues) {
    initEngineState();
    EXPECT_EQ(engine.boardSize, 15);
    EXPECT_EQ(engine.updateRadius, 4);
    EXPECT_EQ(engine.boardWidth, 0);
    EXPECT_EQ(engine.builtForRule, -1);
    EXPECT_TRUE(engine.firstBuildPending);
    EXPECT_EQ(engine.timeout_turn.load(), 30000);
    EXPECT_EQ(engine.time_left.load(), 1000000000);
    EXPECT_EQ(engine.turnBudget, 10000);
    EXPECT_EQ(engine.hashClearedForRule, -1);
    EXPECT_EQ(engine.stoneCount, 0);
    EXPECT_EQ(engine.hashKey, 0u);
}

TEST(EngineState, OnBoardFollowsHeightForXAndWidthForY) {
    engine.boardWidth = 20;
    engine.boardHeight = 15;
    EXPECT_TRUE(onBoard(14, 19));
    EXPECT_FALSE(onBoard(15, 0));
    EXPECT_FALSE(onBoard(0, 20));
    EXPECT_FALSE(onBoard(-1, 0));
    EXPECT_FALSE(onBoard(0, -1));
}

TEST(EngineState, LineWordsOfTheFourDirections) {
    engine.boardSize = 15;
    engine.posD[3][5] = 5;  // min(15 - 1 - 3, 5)
    engine.posA[3][5] = 3;  // min(3, 5)
    EXPECT_EQ(&lineWordOf(H, 3, 5), &engine.lineWords.H[3]);
    EXPECT_EQ(&lineWordOf(V, 3, 5), &engine.lineWords.V[5]);
    EXPECT_EQ(&lineWordOf(D, 3, 5), &engine.lineWords.D[8]);
    EXPECT_EQ(&lineWordOf(A, 3, 5), &engine.lineWords.A[13]);
    EXPECT_EQ(linePosition(H, 3, 5), 5);
    EXPECT_EQ(linePosition(V, 3, 5), 3);
    EXPECT_EQ(linePosition(D, 3, 5), 5);
    EXPECT_EQ(linePosition(A, 3, 5), 3);
    // The window puts the point itself in bits 8-9.
    engine.lineWords.H[3] = uint64_t{2} << (2 * 5 + 8);
    EXPECT_EQ(windowOf(H, 3, 5), 2u << 8);
    engine.lineWords.H[3] = 0;
}

TEST(EngineState, CodeNibbles) {
    uint32_t word = 0xB7C1;  // A=11, D=7, V=12, H=1
    EXPECT_EQ(codeAt(word, H), 1);
    EXPECT_EQ(codeAt(word, V), 12);
    EXPECT_EQ(codeAt(word, D), 7);
    EXPECT_EQ(codeAt(word, A), 11);
}
