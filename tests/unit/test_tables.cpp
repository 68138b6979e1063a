// Hash keys, diagonal positions and the bit tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "board/engine_state.h"
#include "board/tables.h"

namespace {

void buildFor(int rule, int size) {
    initEngineState();
    engine.rule = rule;
    engine.boardSize = size;
    buildEngineTables();
}

// The key generator, from its definition: a 32-bit linear congruential state
// starting at 1, each draw the bits 16-30 of the new state.
struct ReferenceDraws {
    uint64_t state = 1;
    uint64_t next() {
        state = (state * 214013 + 2531011) % 4294967296ull;
        return (state / 65536) % 32768;
    }
};

}  // namespace

TEST(ZobristKeys, FollowTheGenerator) {
    buildFor(ruleFreestyle, 15);
    ASSERT_TRUE(engine.zobristReady);

    // The well-known opening of this generator's sequence.
    ReferenceDraws probe;
    const uint64_t opening[5] = {41, 18467, 6334, 26500, 19169};
    for (uint64_t v : opening) EXPECT_EQ(probe.next(), v);
    EXPECT_EQ(engine.zobrist[0][0][0], 41u ^ (18467ull << 15) ^ (6334ull << 30) ^ (26500ull << 45) ^
                                           ((19169ull & 15) << 60));

    // Every key of the full 24 x 24 square, in x, y, colour order.
    ReferenceDraws gen;
    for (int x = 0; x < 24; ++x) {
        for (int y = 0; y < 24; ++y) {
            for (int k = 0; k < 3; ++k) {
                uint64_t r[5];
                for (auto& v : r) v = gen.next();
                uint64_t key = r[0] + r[1] * (1ull << 15) + r[2] * (1ull << 30) +
                               r[3] * (1ull << 45) + (r[4] % 16) * (1ull << 60);
                ASSERT_EQ(engine.zobrist[x][y][k], key) << x << "," << y << "," << k;
            }
        }
    }
}

TEST(ZobristKeys, LaterBuildsKeepTheKeys) {
    buildFor(ruleFreestyle, 15);
    static uint64_t before[24][24][3];
    std::memcpy(before, engine.zobrist, sizeof before);
    buildFor(ruleRenju, 24);
    buildFor(ruleStandard, 20);
    EXPECT_EQ(std::memcmp(before, engine.zobrist, sizeof before), 0);
}

TEST(ZobristKeys, AllDistinct) {
    buildFor(ruleFreestyle, 15);
    static uint64_t keys[maxPoints * 3];
    std::memcpy(keys, engine.zobrist, sizeof keys);
    std::sort(keys, keys + maxPoints * 3);
    for (int i = 1; i < maxPoints * 3; ++i) ASSERT_NE(keys[i - 1], keys[i]);
}

TEST(BitTables, IndexOfIsolatedBits) {
    buildFor(ruleFreestyle, 15);
    EXPECT_EQ(engine.bitIndexTable[1], 0);
    EXPECT_EQ(engine.bitIndexTable[32768], 15);
    EXPECT_EQ(engine.bitIndexTable[256] + 15, 23);
    for (int k = 0; k < 24; ++k) EXPECT_EQ(bitIndexOf(1u << k), k) << k;
    int nonZero = 0;
    for (int i = 0; i < bitTableSize; ++i) nonZero += engine.bitIndexTable[i] != 0;
    EXPECT_EQ(nonZero, 15);  // 2^1 .. 2^15; 2^0 holds 0 like every other entry
}

TEST(BitTables, CountOfEveryEntry) {
    buildFor(ruleFreestyle, 15);
    EXPECT_EQ(engine.bitCountTable[0], 0);
    EXPECT_EQ(engine.bitCountTable[32767], 15);
    EXPECT_EQ(engine.bitCountTable[32768], 1);
    for (int n = 0; n < bitTableSize; ++n) {
        int bits = 0;
        for (int v = n; v; v >>= 1) bits += v & 1;
        ASSERT_EQ(engine.bitCountTable[n], bits) << n;
    }
    EXPECT_EQ(bitCountOf(0xFFFFFFFFu), 32);
    EXPECT_EQ(bitCountOf(0xC0008001u), 4);
}

TEST(LinePositions, CornersOfA15Board) {
    buildFor(ruleFreestyle, 15);
    EXPECT_EQ(engine.posD[0][0], 0);
    EXPECT_EQ(engine.posD[14][14], 0);
    EXPECT_EQ(engine.posD[0][14], 14);
    EXPECT_EQ(engine.posA[14][14], 14);
    EXPECT_EQ(engine.posA[0][14], 0);
    EXPECT_EQ(engine.posD[14][0], 0);
}

// Walking a diagonal line from its first point, the positions are 0, 1, 2 ...
// up to the line's length minus one, for every line of the square.
TEST(LinePositions, CountAlongEveryDiagonal) {
    for (int size : {5, 15, 20, 24}) {
        buildFor(ruleStandard, size);
        for (int k = 0; k <= 2 * size - 2; ++k) {
            // D line x + y = k starts at the largest x, step (x - 1, y + 1).
            int x = k < size ? k : size - 1, y = k - x, p = 0;
            for (; x >= 0 && y < size; --x, ++y, ++p) ASSERT_EQ(engine.posD[x][y], p) << size;
            int length = (k < 2 * size - 2 - k ? k : 2 * size - 2 - k) + 1;
            EXPECT_EQ(p, length);
        }
        for (int k = 1; k <= 2 * size - 1; ++k) {
            // A line x - y = k - size starts on the top row or the left column.
            int diff = k - size;
            int x = diff > 0 ? diff : 0, y = x - diff, p = 0;
            for (; x < size && y < size; ++x, ++y, ++p) ASSERT_EQ(engine.posA[x][y], p) << size;
            EXPECT_EQ(p, size - (k > size ? k - size : size - k));
        }
    }
}
