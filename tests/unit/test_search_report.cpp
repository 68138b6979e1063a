// The per-depth report: how values read, and the expected line taken from the
// transposition table without disturbing it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board_setup.h"
#include "search/search_report.h"
#include "search/transposition.h"

namespace {

std::string valueText(int32_t value, int depth) {
    char text[32];
    const int length = formatSearchValue(value, depth, text, sizeof text);
    EXPECT_EQ(length, static_cast<int>(std::strlen(text)));
    return text;
}

TEST(ReportValues, EvaluationUnitsCarryTheirSign) {
    EXPECT_EQ(valueText(35, 9), "+35");
    EXPECT_EQ(valueText(-120, 9), "-120");
    EXPECT_EQ(valueText(0, 9), "0");
    // The last values short of a proof are still evaluation units.
    EXPECT_EQ(valueText(mateThreshold - 1, 9), "+9998847");
    EXPECT_EQ(valueText(-mateThreshold + 1, 9), "-9998847");
}

TEST(ReportValues, ProvenResultsCountTheWinnersMoves) {
    // A win at remaining depth r of an iteration of depth d is on at ply
    // d - r: the root side's five (or open four) at even plies, the
    // opponent's at odd ones.
    const int d = 9;
    EXPECT_EQ(valueText(winValue + d, d), "+win 1");        // ply 0: this move
    EXPECT_EQ(valueText(winValue + d - 2, d), "+win 2");    // after one reply
    EXPECT_EQ(valueText(winValue + d - 6, d), "+win 4");    // three replies
    EXPECT_EQ(valueText(-winValue - d + 1, d), "-loss 1");  // the reply is a five
    EXPECT_EQ(valueText(-winValue - d + 3, d), "-loss 2");
    // Extensions take the search below depth 0: negative remaining depths.
    EXPECT_EQ(valueText(winValue - 4, 6), "+win 6");
    EXPECT_EQ(valueText(-winValue + 3, 6), "-loss 5");
    // The proof threshold itself counts as proven.
    EXPECT_EQ(valueText(mateThreshold, 1).rfind("+win ", 0), 0u);
    EXPECT_EQ(valueText(-mateThreshold, 1).rfind("-loss ", 0), 0u);
}

TEST(ReportValues, DistancesStayBetweenOneAndTheLargestBoard) {
    // Values a shade beyond what the depth allows (a table entry stored at
    // another depth) still read as a win in 1, never in 0 or less.
    EXPECT_EQ(provenMoves(winValue + 12, 5), 1);
    EXPECT_EQ(provenMoves(-winValue - 12, 5), 1);
    // The far end of the proven range is capped at the number of points.
    EXPECT_LE(provenMoves(mateThreshold, 1), maxPoints);
    EXPECT_LE(provenMoves(-mateThreshold, 1), maxPoints);
    EXPECT_GE(provenMoves(mateThreshold, 1), 1);
}

// A freestyle 15x15 board with a few stones and cleared tables; entries are
// stored for positions along a line by walking the hash key by hand.
class ExpectedLine : public ::testing::Test {
   protected:
    void SetUp() override {
        newBoard(ruleFreestyle, 15, 15);
        clearHashTables();
        placeStone(7, 7, black);
        placeStone(7, 8, white);
    }

    // Stores `move` as the first table move of the position the stones in
    // `path` lead to from the current board, side to move `side`.
    void storeAlong(const std::vector<std::pair<int, int>>& path, int side,
                    std::pair<int, int> move) {
        const uint64_t saved = engine.hashKey;
        int mover = black;  // the line below always starts with black
        for (auto [x, y] : path) {
            engine.hashKey ^= engine.zobrist[x][y][mover - 1];
            mover = 3 - mover;
        }
        const int moveX[3] = {move.first, -1, -1};
        const int moveY[3] = {move.second, -1, -1};
        storeEntryAlways(4, 10, 3, side, moveX, moveY);
        engine.hashKey = saved;
    }

    std::vector<std::pair<int, int>> line(int firstX, int firstY, int limit) {
        int xs[reportLineMoves];
        int ys[reportLineMoves];
        const int n = expectedLine(black, firstX, firstY, limit, xs, ys);
        std::vector<std::pair<int, int>> result;
        for (int i = 0; i < n; ++i) result.push_back({xs[i], ys[i]});
        return result;
    }
};

TEST_F(ExpectedLine, FollowsTheTableFromTheGivenFirstMove) {
    storeAlong({{6, 6}}, white, {8, 8});
    storeAlong({{6, 6}, {8, 8}}, black, {5, 5});
    storeAlong({{6, 6}, {8, 8}, {5, 5}}, white, {4, 4});
    using Line = std::vector<std::pair<int, int>>;
    EXPECT_EQ(line(6, 6, 10), (Line{{6, 6}, {8, 8}, {5, 5}, {4, 4}}));
    EXPECT_EQ(line(6, 6, 2), (Line{{6, 6}, {8, 8}}));
    // Another first move leads into positions the table does not know.
    EXPECT_EQ(line(9, 9, 10), (Line{{9, 9}}));
    // A first move that is no free point gives no line at all.
    EXPECT_TRUE(line(7, 7, 10).empty());
    EXPECT_TRUE(line(-1, -1, 10).empty());
}

TEST_F(ExpectedLine, EndsAtAMoveOntoATakenPointOrBackOntoTheLine) {
    using Line = std::vector<std::pair<int, int>>;
    storeAlong({{6, 6}}, white, {7, 8});  // a stone of the board
    EXPECT_EQ(line(6, 6, 10), (Line{{6, 6}}));
    storeAlong({{5, 5}}, white, {4, 4});
    storeAlong({{5, 5}, {4, 4}}, black, {5, 5});  // a point of the line itself
    EXPECT_EQ(line(5, 5, 10), (Line{{5, 5}, {4, 4}}));
}

TEST_F(ExpectedLine, ReadsWithoutChangingTheTablesOrTheBoard) {
    storeAlong({{6, 6}}, white, {8, 8});
    storeAlong({{6, 6}, {8, 8}}, black, {5, 5});
    engine.moveCount = 40;  // a probe would stamp this age into the entries
    // The buckets the walk reads: white's after 6,6, black's after 8,8.
    const uint64_t afterFirst = engine.hashKey ^ engine.zobrist[6][6][black - 1];
    const uint64_t afterSecond = afterFirst ^ engine.zobrist[8][8][white - 1];
    const HashBucket* buckets[2] = {
        &engine.hashTable[white - 1][static_cast<uint32_t>(afterFirst) & (hashBuckets - 1)],
        &engine.hashTable[black - 1][static_cast<uint32_t>(afterSecond) & (hashBuckets - 1)]};
    HashBucket before[2];
    for (int i = 0; i < 2; ++i) std::memcpy(&before[i], buckets[i], sizeof(HashBucket));
    static BoardFields board;
    saveBoard(board);

    EXPECT_EQ(line(6, 6, 10).size(), 3u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(std::memcmp(&before[i], buckets[i], sizeof(HashBucket)), 0) << "bucket " << i;
    }
    EXPECT_EQ(boardDifference(board), nullptr);
}

}  // namespace
