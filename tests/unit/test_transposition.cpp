// Transposition table: allocation and its failure, clearing on a rule change,
// bucket and slot choice, the check word, depth-relative mate values, bound
// merging and the move lists kept per entry.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "search/transposition.h"

namespace {

constexpr int none[3] = {-1, -1, -1};

void setupBoard(int rule) {
    engine.rule = rule;
    engine.boardWidth = 15;
    engine.boardHeight = 15;
    engine.boardSize = 15;
    engine.updateRadius = rule == ruleFreestyle ? 4 : 5;
    buildEngineTables();
    resetBoard();
}

class TranspositionTest : public ::testing::Test {
   protected:
    void SetUp() override {
        if (engine.allocatedHashBuckets == 0 || engine.allocatedThreatSize == 0) {
            initEngineState();
            setupBoard(ruleFreestyle);
        }
        ASSERT_TRUE(hashTablesReady());
        clearHashTables();
        engine.moveCount = 10;
    }

    // The bucket of a key in side's table.
    static HashBucket& bucket(int side, uint64_t key) {
        return engine.hashTable[side - 1][key & (hashBuckets - 1)];
    }

    static void store(uint64_t key, int depth, int32_t value, int bound, int side = 1,
                      const int* mx = none, const int* my = none) {
        engine.hashKey = key;
        storeEntry(depth, value, bound, side, mx, my);
    }

    static int32_t probe(uint64_t key, int depth, int32_t alpha, int32_t beta, int side = 1) {
        int mx[3] = {-7, -7, -7}, my[3] = {-7, -7, -7};
        return probeEntry(depth, alpha, beta, side, key, mx, my, 3);
    }
};

// Keys that share bucket 77 of either table but are different positions.
uint64_t keyInBucket(uint64_t n) { return (n << 32) | 77u; }

}  // namespace

TEST(HashAllocation, FailureLeavesTablesAbsentAndIsRetriedAtTheNextReset) {
    // Start from a process that has no tables yet.
    for (HashBucket*& t : engine.hashTable) {
        std::free(t);
        t = nullptr;
    }
    for (ThreatBucket*& t : engine.threatTables) {
        std::free(t);
        t = nullptr;
    }
    engine.allocatedHashBuckets = 0;
    engine.allocatedThreatSize = 0;
    initEngineState();
    // The second transposition table cannot be obtained; the first must not
    // be kept on its own.
    failTableAllocations(1, 1);
    setupBoard(ruleStandard);
    EXPECT_FALSE(hashTablesReady());
    EXPECT_EQ(engine.hashTable[0], nullptr);
    EXPECT_EQ(engine.hashTable[1], nullptr);
    EXPECT_EQ(engine.allocatedHashBuckets, 0u);
    // The threat group was obtained on its own, but nothing was cleared and
    // no rule recorded while a table is missing.
    EXPECT_EQ(engine.allocatedThreatSize, threatHashSize);
    EXPECT_EQ(engine.hashClearedForRule, -1);
    // The board itself is still usable.
    placeStone(7, 7, black);
    EXPECT_TRUE(checkBoardConsistency());

    // The next reset gets the tables and clears them for the current rule.
    failTableAllocations(0, 0);
    resetBoard();
    ASSERT_TRUE(hashTablesReady());
    EXPECT_EQ(engine.allocatedHashBuckets, hashBuckets);
    EXPECT_EQ(engine.hashClearedForRule, ruleStandard);
    EXPECT_EQ(engine.hashTable[0][hashBuckets - 1].entries[3].check, 0u);
    EXPECT_EQ(engine.threatTables[3][threatHashSize - 1].entries[1].check, 0u);
    // 128-byte buckets start on 128-byte boundaries.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(engine.hashTable[1]) % 128, 0u);

    // Later resets allocate nothing new.
    HashBucket* first = engine.hashTable[0];
    resetBoard();
    EXPECT_EQ(engine.hashTable[0], first);
}

TEST(HashAllocation, MissingThreatTableKeepsTheEngineFromSearching) {
    initEngineState();
    setupBoard(ruleFreestyle);
    ASSERT_TRUE(hashTablesReady());
    for (ThreatBucket*& t : engine.threatTables) {
        std::free(t);
        t = nullptr;
    }
    engine.allocatedThreatSize = 0;
    ASSERT_EQ(engine.hashClearedForRule, ruleFreestyle);
    failTableAllocations(1, 1);  // the second threat table
    resetBoard();
    EXPECT_FALSE(hashTablesReady());
    for (ThreatBucket* t : engine.threatTables) EXPECT_EQ(t, nullptr);
    EXPECT_EQ(engine.allocatedThreatSize, 0u);
    EXPECT_NE(engine.hashTable[0], nullptr);
    // The fresh tables arrive at the next reset and are cleared although the
    // rule did not change: fresh memory is never trusted.
    failTableAllocations(0, 0);
    resetBoard();
    ASSERT_TRUE(hashTablesReady());
    EXPECT_EQ(engine.hashClearedForRule, ruleFreestyle);
    EXPECT_EQ(engine.threatTables[0][12345].entries[0].check, 0u);
}

TEST_F(TranspositionTest, ResetClearsOnlyWhenTheRuleChanges) {
    setupBoard(ruleFreestyle);
    store(12345, 4, 50, 3);
    engine.threatTables[2][5].entries[0].check = 99;
    setupBoard(ruleFreestyle);  // same rule: tables kept
    EXPECT_EQ(probe(12345, 4, -1000, 1000), 50);
    EXPECT_EQ(engine.threatTables[2][5].entries[0].check, 99u);
    setupBoard(ruleRenju);  // new rule: everything cleared
    EXPECT_EQ(engine.hashClearedForRule, ruleRenju);
    EXPECT_EQ(probe(12345, 4, -1000, 1000), noValue);
    EXPECT_EQ(engine.threatTables[2][5].entries[0].check, 0u);
}

TEST(HashAllocation, TablesClearedAtStartUpServeTheFirstRuleWithoutAnotherClear) {
    // A manager that sends the rule after START makes the first Renju board
    // at the first move, inside the move's time: the tables, still as the
    // start-up clear left them, must not be cleared there again.
    initEngineState();
    prepareHashTablesAtStartUp();
    ASSERT_TRUE(hashTablesReady());
    EXPECT_EQ(engine.hashClearedForRule, hashTablesBlank);
    // A mark only a clear would remove (it stands for no search entry).
    engine.threatTables[1][7].entries[0].check = 77;
    setupBoard(ruleRenju);
    EXPECT_EQ(engine.threatTables[1][7].entries[0].check, 77u);
    EXPECT_EQ(engine.hashClearedForRule, ruleRenju);
    // From then on the tables belong to that rule: another rule clears them.
    setupBoard(ruleStandard);
    EXPECT_EQ(engine.threatTables[1][7].entries[0].check, 0u);
    EXPECT_EQ(engine.hashClearedForRule, ruleStandard);
}

TEST_F(TranspositionTest, EntryLayoutAndBucketBySideAndLowKeyBits) {
    const int mx[3] = {3, 4, -1}, my[3] = {5, 6, -1};
    uint64_t key = 0xABCDEF0100000000ull | 1000u;
    store(key, 6, -123, 2, 2, mx, my);
    const HashEntry& e = engine.hashTable[1][1000].entries[0];
    EXPECT_EQ(e.upper, -123);
    EXPECT_EQ(e.lower, -123);
    EXPECT_EQ(e.depth, 6);
    EXPECT_EQ(e.age, 10);
    EXPECT_EQ(e.flags, 2);
    EXPECT_EQ(e.moveCount, 2);
    EXPECT_EQ(e.moves[1][0], 4);
    EXPECT_EQ(e.moves[1][1], 6);
    EXPECT_EQ(e.moves[2][0], -1);
    // Every term sign-extended to 64 bits before shifting.
    uint64_t neg = 0xFFFFFFFFFFFFFF85ull;  // -123
    EXPECT_EQ(e.check, key ^ (neg << 36) ^ (neg << 8) ^ (uint64_t{6} << 2) ^ 2u);
    // The other side's table does not see it.
    EXPECT_EQ(engine.hashTable[0][1000].entries[0].flags, 0);
    EXPECT_EQ(probe(key, 6, -1000, -200, 1), noValue);
    EXPECT_EQ(probe(key, 6, -1000, -200, 2), -123);
}

TEST_F(TranspositionTest, CheckWordRejectsTornOrForeignEntries) {
    uint64_t key = keyInBucket(5);
    store(key, 3, 40, 3);
    EXPECT_EQ(probe(key, 3, 0, 100), 40);
    EXPECT_EQ(probe(keyInBucket(6), 3, 0, 100), noValue);  // same bucket, other position
    bucket(1, key).entries[0].upper = 41;                  // torn write
    EXPECT_EQ(probe(key, 3, 0, 100), noValue);
}

TEST_F(TranspositionTest, MateValuesAreStoredRelativeToDepth) {
    store(keyInBucket(1), 10, 10000012, 3);
    EXPECT_EQ(bucket(1, keyInBucket(1)).entries[0].upper, 10000002);
    // A mate value is usable at any depth and reads back relative to it.
    EXPECT_EQ(probe(keyInBucket(1), 4, -100, 100), 10000006);
    EXPECT_EQ(probe(keyInBucket(1), 30, -100, 100), 10000032);

    store(keyInBucket(2), 7, -10000003, 3);
    EXPECT_EQ(bucket(1, keyInBucket(2)).entries[1].lower, -9999996);
    EXPECT_EQ(probe(keyInBucket(2), 2, -100, 100), -9999998);

    // Ordinary values stay as they are.
    store(keyInBucket(3), 7, 9998847, 3);
    EXPECT_EQ(bucket(1, keyInBucket(3)).entries[2].upper, 9998847);
}

TEST_F(TranspositionTest, ProbeUsesBoundsOnlyWhenDeepEnoughAndOutsideTheWindow) {
    const int mx[3] = {1, 2, 3}, my[3] = {4, 5, 6};
    uint64_t key = keyInBucket(9);
    store(key, 5, 30, 1, 1, mx, my);  // upper bound 30
    int ox[3] = {-7, -7, -7}, oy[3] = {-7, -7, -7};
    EXPECT_EQ(probeEntry(5, 30, 60, 1, key, ox, oy, 2), 30);  // 30 <= alpha
    EXPECT_EQ(ox[0], 1);
    EXPECT_EQ(oy[1], 5);
    EXPECT_EQ(ox[2], -7);                       // only `wanted` moves are written
    EXPECT_EQ(probe(key, 5, 29, 60), noValue);  // bound inside the window
    // Too shallow: no value and no moves.
    ox[0] = -7;
    EXPECT_EQ(probeEntry(6, 40, 60, 1, key, ox, oy, 3), noValue);
    EXPECT_EQ(ox[0], -7);
    // Deep enough but inconclusive: the moves still come out.
    EXPECT_EQ(probeEntry(4, 10, 20, 1, key, ox, oy, 3), noValue);
    EXPECT_EQ(ox[2], 3);
    EXPECT_EQ(oy[2], 6);

    store(keyInBucket(10), 5, 70, 2);  // lower bound 70
    EXPECT_EQ(probe(keyInBucket(10), 5, 0, 70), 70);
    EXPECT_EQ(probe(keyInBucket(10), 5, 0, 71), noValue);

    // A hit writes the current move number into the age.
    engine.moveCount = 14;
    probe(keyInBucket(10), 5, 0, 71);
    EXPECT_EQ(bucket(1, keyInBucket(10)).entries[1].age, 14);
}

TEST_F(TranspositionTest, ShallowerStoreOnlyRefreshesTheAge) {
    uint64_t key = keyInBucket(1);
    store(key, 8, 100, 3);
    HashEntry before = bucket(1, key).entries[0];
    engine.moveCount = 11;
    store(key, 7, -500, 1);
    const HashEntry& after = bucket(1, key).entries[0];
    EXPECT_EQ(after.age, 11);
    EXPECT_EQ(after.upper, before.upper);
    EXPECT_EQ(after.lower, before.lower);
    EXPECT_EQ(after.depth, 8);
    EXPECT_EQ(after.flags, 3);
    EXPECT_EQ(after.check, before.check);
    EXPECT_EQ(bucket(1, key).entries[1].flags, 0);  // nothing stored elsewhere
}

TEST_F(TranspositionTest, BoundsMergeAtEqualDepthAndExactIsNeverWeakened) {
    uint64_t key = keyInBucket(1);
    store(key, 5, 80, 1);  // upper 80
    store(key, 5, 20, 2);  // lower 20 joins it
    const HashEntry& e = bucket(1, key).entries[0];
    EXPECT_EQ(e.flags, 3);
    EXPECT_EQ(e.upper, 80);
    EXPECT_EQ(e.lower, 20);
    store(key, 5, 90, 1);  // a looser upper bound is ignored
    EXPECT_EQ(e.upper, 80);
    store(key, 5, 60, 1);  // a tighter one is kept
    EXPECT_EQ(e.upper, 60);
    store(key, 5, 10, 2);
    EXPECT_EQ(e.lower, 20);
    EXPECT_EQ(probe(key, 5, 60, 100), 60);
    EXPECT_EQ(probe(key, 5, -100, 20), 20);
    EXPECT_EQ(probe(key, 5, 30, 50), noValue);

    // Exact, then weaker bounds of the same depth: unchanged.
    uint64_t k2 = keyInBucket(2);
    store(k2, 5, 33, 3);
    store(k2, 5, 10, 1);
    store(k2, 5, 50, 2);
    EXPECT_EQ(probe(k2, 5, -100, 100), 33);
    // An exact store of the same depth replaces it.
    store(k2, 5, 35, 3);
    EXPECT_EQ(probe(k2, 5, -100, 100), 35);
    // A deeper bound replaces the entry outright.
    store(k2, 6, 10, 1);
    const HashEntry& e2 = bucket(1, k2).entries[1];
    EXPECT_EQ(e2.depth, 6);
    EXPECT_EQ(e2.flags, 1);
    EXPECT_EQ(e2.upper, 10);
    EXPECT_EQ(probe(k2, 6, -100, 100), noValue);
    EXPECT_EQ(probe(k2, 6, 10, 100), 10);
}

TEST_F(TranspositionTest, FullBucketOfCurrentExactDeepEntriesLosesItsFirst) {
    for (uint64_t n = 1; n <= 4; ++n) store(keyInBucket(n), 20, 7, 3);
    store(keyInBucket(5), 20, 8, 3);
    EXPECT_EQ(probe(keyInBucket(1), 20, -100, 100), noValue);
    EXPECT_EQ(probe(keyInBucket(5), 20, -100, 100), 8);
    for (uint64_t n = 2; n <= 4; ++n) EXPECT_EQ(probe(keyInBucket(n), 20, -100, 100), 7);
}

TEST_F(TranspositionTest, ReplacementPrefersTheLastStaleEntryThenOldOrShallowOnes) {
    // Ages: entries 1 and 3 are stale (two or more moves away).
    engine.moveCount = 4;
    store(keyInBucket(2), 9, 1, 1);
    engine.moveCount = 9;
    store(keyInBucket(3), 9, 1, 1);
    engine.moveCount = 4;
    store(keyInBucket(4), 9, 1, 1);
    engine.moveCount = 10;
    store(keyInBucket(1), 9, 1, 1);
    // Filled in store order: keys 2, 3, 4, 1.
    HashBucket& b = bucket(1, keyInBucket(1));
    ASSERT_EQ(b.entries[0].age, 4);
    ASSERT_EQ(b.entries[1].age, 9);
    ASSERT_EQ(b.entries[2].age, 4);
    ASSERT_EQ(b.entries[3].age, 10);
    store(keyInBucket(6), 1, 5, 1);
    // Stale entries are 0 and 2; the last one seen, 2, is taken.
    EXPECT_EQ(probe(keyInBucket(4), 9, 100, 200), noValue);
    EXPECT_EQ(probe(keyInBucket(6), 1, 100, 200), 5);
    EXPECT_EQ(probe(keyInBucket(2), 9, 100, 200), 1);

    // No stale entry: an entry from the previous move loses to current ones,
    // and among equals a shallower one is taken.
    clearHashTables();
    engine.moveCount = 10;
    store(keyInBucket(1), 9, 1, 1);
    store(keyInBucket(2), 3, 1, 1);
    engine.moveCount = 9;
    store(keyInBucket(3), 9, 1, 1);  // previous move, not stale
    engine.moveCount = 10;
    store(keyInBucket(4), 2, 1, 1);
    store(keyInBucket(5), 9, 1, 1);
    EXPECT_EQ(bucket(1, keyInBucket(5)).entries[2].upper, 1);
    EXPECT_EQ(probe(keyInBucket(3), 9, 100, 200), noValue);
    EXPECT_EQ(probe(keyInBucket(4), 2, 100, 200), 1);

    // All current and not exact: the shallowest-first rule picks entry 3
    // over 0 only when it is shallower than the running victim.
    clearHashTables();
    store(keyInBucket(1), 5, 1, 1);
    store(keyInBucket(2), 6, 1, 1);
    store(keyInBucket(3), 4, 1, 1);
    store(keyInBucket(4), 7, 1, 1);
    store(keyInBucket(5), 8, 1, 1);
    // Scores against victim 0 (current): 2 - 2 + (shallower) = 1 only for
    // entry 2 (depth 4 < 5); then 3 (depth 7) does not beat 2.
    EXPECT_EQ(probe(keyInBucket(3), 4, 100, 200), noValue);
    EXPECT_EQ(probe(keyInBucket(5), 8, 100, 200), 1);
}

TEST_F(TranspositionTest, StoreAlwaysOverwritesWithoutMergeOrDepthTest) {
    const int m1x[3] = {1, 2, 3}, m1y[3] = {1, 2, 3};
    const int m2x[3] = {9, -1, -1}, m2y[3] = {8, -1, -1};
    uint64_t key = keyInBucket(1);
    store(key, 12, 500, 3, 1, m1x, m1y);
    engine.hashKey = key;
    storeEntryAlways(3, 44, 2, 1, m2x, m2y);
    const HashEntry& e = bucket(1, key).entries[0];
    EXPECT_EQ(e.depth, 3);
    EXPECT_EQ(e.flags, 2);
    EXPECT_EQ(e.lower, 44);
    EXPECT_EQ(e.moveCount, 1);
    EXPECT_EQ(e.moves[0][0], 9);
    EXPECT_EQ(e.moves[1][0], -1);
    EXPECT_EQ(e.moves[2][0], -1);
    EXPECT_EQ(bucket(1, key).entries[1].flags, 0);
}

TEST_F(TranspositionTest, MovesMergeKeepingTheBestOldOnes) {
    uint64_t key = keyInBucket(1);
    auto moves = [&]() {
        const HashEntry& e = bucket(1, key).entries[0];
        return std::vector<int>{e.moveCount, e.moves[0][0], e.moves[1][0], e.moves[2][0]};
    };
    // Moves are written with y = x + 10 so that only x needs checking.
    auto put = [&](int a, int b, int c) {
        int mx[3] = {a, b, c};
        int my[3] = {a < 0 ? -1 : a + 10, b < 0 ? -1 : b + 10, c < 0 ? -1 : c + 10};
        store(key, 5, 0, 1, 1, mx, my);
    };
    put(1, 2, 3);
    EXPECT_EQ(moves(), (std::vector<int>{3, 1, 2, 3}));
    // Two new moves: old move 1 differs from both, so it takes slot 3.
    put(4, 5, -1);
    EXPECT_EQ(moves(), (std::vector<int>{3, 4, 5, 1}));
    // Old move 1 (4) is new again; old move 2 (5) differs: slot 3 = 5.
    put(6, 4, -1);
    EXPECT_EQ(moves(), (std::vector<int>{3, 6, 4, 5}));
    // Neither old 1 nor old 2 qualifies; old 3 (5) is not new: kept.
    put(4, 6, -1);
    EXPECT_EQ(moves(), (std::vector<int>{3, 4, 6, 5}));
    put(6, 4, -1);  // old 1 = 4, old 2 = 6: both new; old 3 = 5 kept
    EXPECT_EQ(moves(), (std::vector<int>{3, 6, 4, 5}));
    put(5, 6, -1);  // old 1 (6) is new, old 2 (4) differs: slot 3 = 4
    EXPECT_EQ(moves(), (std::vector<int>{3, 5, 6, 4}));
    put(6, 5, -1);  // old 1 = 5, old 2 = 6 both new; old 3 = 4 kept
    EXPECT_EQ(moves(), (std::vector<int>{3, 6, 5, 4}));
    // One new move that differs from old move 1: shift down.
    put(7, -1, -1);
    EXPECT_EQ(moves(), (std::vector<int>{3, 7, 6, 5}));
    // One new move equal to old move 2: old 2 is not copied to slot 3.
    put(6, -1, -1);
    EXPECT_EQ(moves(), (std::vector<int>{3, 6, 7, 5}));
    // The same first move again, or no move: nothing changes.
    put(6, -1, -1);
    EXPECT_EQ(moves(), (std::vector<int>{3, 6, 7, 5}));
    put(-1, -1, -1);
    EXPECT_EQ(moves(), (std::vector<int>{3, 6, 7, 5}));
    EXPECT_EQ(bucket(1, key).entries[0].moves[1][1], 17);
}

TEST_F(TranspositionTest, TwoNewMovesEmptySlotThreeWhenItOnlyRepeatsThem) {
    uint64_t key = keyInBucket(1);
    const HashEntry& e = bucket(1, key).entries[0];
    // An entry whose third move repeats its first.
    int ox[3] = {1, 2, 1}, oy[3] = {1, 2, 1};
    engine.hashKey = key;
    storeEntryAlways(5, 0, 1, 1, ox, oy);
    ASSERT_EQ(e.moveCount, 3);
    int nx[3] = {2, 1, -1}, ny[3] = {2, 1, -1};
    store(key, 5, 0, 1, 1, nx, ny);
    EXPECT_EQ(e.moves[0][0], 2);
    EXPECT_EQ(e.moves[1][0], 1);
    EXPECT_EQ(e.moves[2][0], -1);
    EXPECT_EQ(e.moves[2][1], -1);
    EXPECT_EQ(e.moveCount, 2);

    // An entry without moves: its empty first move fills slot 3.
    uint64_t k2 = keyInBucket(2);
    store(k2, 5, 0, 1);
    store(k2, 5, 0, 1, 1, nx, ny);
    const HashEntry& e2 = bucket(1, k2).entries[1];
    EXPECT_EQ(e2.moveCount, 2);
    EXPECT_EQ(e2.moves[2][0], -1);
}

TEST_F(TranspositionTest, TablesSitOnLargePageBoundariesAndPrefetchesChangeNothing) {
    // Buckets never straddle more cache lines than they must, and on Linux a
    // table can lie wholly in large pages.
#if defined(__linux__)
    constexpr uintptr_t alignment = uintptr_t{2} << 20;
#else
    constexpr uintptr_t alignment = sizeof(HashBucket);
#endif
    for (HashBucket* t : engine.hashTable) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(t) % alignment, 0u);
    }
    for (ThreatBucket* t : engine.threatTables) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(t) % alignment, 0u);
    }

    // A prefetch is a hint: the entry it points at reads and verifies as before,
    // the last bucket of each table included.
    const uint64_t last = hashBuckets - 1;
    store(last, 5, 77, 3, 2);
    const HashBucket before = bucket(2, last);
    for (int side = 1; side <= 2; ++side) {
        prefetchBucket(side, last);
        prefetchBucket(side, ~uint64_t{0});
    }
    EXPECT_EQ(std::memcmp(&before, &bucket(2, last), sizeof before), 0);
    EXPECT_EQ(probe(last, 5, -1000, 1000, 2), 77);
}
