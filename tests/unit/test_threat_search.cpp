// Threat-sequence search on walled positions whose every line can be followed
// by hand. Everything but a few corridors is wall, so the only lines are the
// corridors, and the only threats are the ones designed into them.
//
// The chain of k fours. Corridor S1 is five cells of row 1, columns 1..5:
// three attacker stones, then B1 (1,4) and M1 (1,5): playing M1 is a four whose
// only completion is B1. Every later corridor S(i+1) starts at M(i), runs four
// cells on (alternately down a column and along a row) and holds two attacker
// stones after M(i), then M(i+1) and B(i+1). So before M(i) is played, S(i+1)
// holds only a blocked three shape (code 6, line value 23), which lifts M(i)'s
// line-value sum to 256 + 23 = 279, while B(i) lies in S(i) only (256) and is
// never tried. After the k-th four the last corridor T, six cells from one cell
// before M(k), turns into an open three: after the block of the k-th four the
// attacker has an open-four point, a win at ply 2k, worth 10000576 - 2k.
// In freestyle the k-th four is also a four-three whose reply point gives the
// defender nothing, a quick win at ply 2k - 2, worth 10000578 - 2k.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "board_setup.h"
#include "rules/foul_test.h"
#include "rules/threat_search.h"

namespace {

using Point = std::pair<int, int>;

struct Layout {
    std::vector<Point> open;
    std::vector<Point> attacker;
    std::vector<Point> defender;
};

void clearThreatTables() {
    for (ThreatBucket* t : engine.threatTables) {
        if (t != nullptr) std::memset(t, 0, sizeof(ThreatBucket) * threatHashSize);
    }
}

// Walls everywhere but the open cells (unless the board is to stay open),
// then the stones; threat tables empty.
void build(int rule, int size, const Layout& layout, int attacker, Point offset = {0, 0},
           bool walled = true) {
    initEngineState();
    engine.rule = rule;
    engine.boardWidth = size;
    engine.boardHeight = size;
    engine.boardSize = size;
    engine.updateRadius = rule == ruleFreestyle ? 4 : 5;
    engine.hashClearedForRule = rule;
    buildEngineTables();
    resetBoard();
    clearThreatTables();
    static bool isOpen[24][24];
    std::memset(isOpen, 0, sizeof isOpen);
    for (auto [x, y] : layout.open) isOpen[x + offset.first][y + offset.second] = true;
    for (int x = 0; x < size; ++x) {
        for (int y = 0; y < size; ++y) {
            if (walled && !isOpen[x][y]) placeStone(x, y, wall);
        }
    }
    for (auto [x, y] : layout.attacker) placeStone(x + offset.first, y + offset.second, attacker);
    for (auto [x, y] : layout.defender) {
        placeStone(x + offset.first, y + offset.second, 3 - attacker);
    }
    engine.iterationDepth = 1;
    engine.turnBudget = 1000000000;
    engine.searchStart = nowMs();
    engine.stopRequested.store(0);
    engine.searchAborted = 0;
}

// The chain of k fours (1 to 4) described at the top.
Layout chain(int k) {
    Layout l;
    auto line = [&](Point from, Point step, int cells) {
        for (int i = 0; i < cells; ++i) {
            l.open.push_back({from.first + i * step.first, from.second + i * step.second});
        }
    };
    const Point m[5] = {{0, 0}, {1, 5}, {4, 5}, {4, 8}, {7, 8}};
    const Point step[5] = {{0, 1}, {1, 0}, {0, 1}, {1, 0}, {0, 1}};  // S1..S4, then T of k=4
    line({1, 1}, step[0], 5);
    l.attacker = {{1, 1}, {1, 2}, {1, 3}};
    for (int i = 2; i <= k; ++i) {
        line(m[i - 1], step[i - 1], 5);
        for (int j = 1; j <= 2; ++j) {
            l.attacker.push_back(
                {m[i - 1].first + j * step[i - 1].first, m[i - 1].second + j * step[i - 1].second});
        }
    }
    // T: from one cell before M(k) to four cells after it, stones at +1 and +2.
    const Point s = step[k];
    line({m[k].first - s.first, m[k].second - s.second}, s, 6);
    l.attacker.push_back({m[k].first + s.first, m[k].second + s.second});
    l.attacker.push_back({m[k].first + 2 * s.first, m[k].second + 2 * s.second});
    return l;
}

BoardFields snapshot;  // large; kept out of the test frames

int32_t search(int side) {
    const int32_t v = threatSearch(0, side, 0, 0);
    EXPECT_EQ(engine.searchAborted, 0);
    return v;
}

ThreatEntry* entryFor(int table, uint64_t key) {
    ThreatBucket& b = engine.threatTables[table][key & (threatHashSize - 1)];
    for (ThreatEntry& e : b.entries) {
        if ((e.check ^ static_cast<uint64_t>(static_cast<int64_t>(e.value))) == key) return &e;
    }
    return nullptr;
}

void seed(int table, uint64_t key, int32_t storedValue, int slot = 0, int16_t plyTag = 576,
          int16_t age = 0) {
    ThreatEntry& e = engine.threatTables[table][key & (threatHashSize - 1)].entries[slot];
    e.check = key ^ static_cast<uint64_t>(static_cast<int64_t>(storedValue));
    e.value = storedValue;
    e.plyTag = plyTag;
    e.age = age;
}

}  // namespace

TEST(ThreatSearch, ChainsOfFoursUnderEachRule) {
    struct Case {
        int rule;
        int size;
        Point offset;
        int k;
        int attacker;
        int32_t expected;
    };
    const Case cases[] = {
        {ruleFreestyle, 15, {0, 0}, 1, black, 10000576},
        {ruleFreestyle, 15, {0, 0}, 2, black, 10000574},
        {ruleFreestyle, 15, {0, 0}, 3, black, 10000572},
        {ruleFreestyle, 15, {0, 0}, 4, black, 10000570},
        {ruleStandard, 15, {0, 0}, 1, black, 10000574},
        {ruleStandard, 15, {0, 0}, 2, black, 10000572},
        {ruleStandard, 15, {0, 0}, 3, black, 10000570},
        {ruleStandard, 15, {0, 0}, 4, black, 10000568},
        {ruleRenju, 15, {0, 0}, 1, black, 10000574},
        {ruleRenju, 15, {0, 0}, 2, black, 10000572},
        {ruleRenju, 15, {0, 0}, 3, black, 10000570},
        {ruleRenju, 15, {0, 0}, 4, black, 10000568},
        {ruleRenju, 15, {0, 0}, 3, white, 10000570},
        // Columns past 15 on a 20x20 board.
        {ruleFreestyle, 20, {8, 7}, 4, white, 10000570},
        {ruleStandard, 20, {8, 7}, 3, black, 10000570},
        {ruleRenju, 20, {8, 7}, 4, black, 10000568},
        {ruleRenju, 20, {8, 7}, 1, white, 10000574},
    };
    for (const Case& c : cases) {
        build(c.rule, c.size, chain(c.k), c.attacker, c.offset);
        SCOPED_TRACE(testing::Message() << "rule " << c.rule << " size " << c.size << " k " << c.k
                                        << " attacker " << c.attacker);
        EXPECT_EQ(search(c.attacker), c.expected);
        // The defender has no four at all.
        EXPECT_EQ(search(3 - c.attacker), 0);
    }
}

TEST(ThreatSearch, NodesOfAChainAndTheStoredRoot) {
    // Standard rule, four fours: one attacker node and one defender node per
    // four, and the node that finds the open four: plies 0 to 8.
    build(ruleStandard, 15, chain(4), black);
    engine.nodeCount = 0;
    EXPECT_EQ(search(black), 10000568);
    EXPECT_EQ(engine.nodeCount, 9);
    // The root's entry: a win stored relative to its ply tag 576.
    const ThreatEntry* root = entryFor(0, engine.hashKey);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->value, 10000568 - 576);
    EXPECT_EQ(root->plyTag, 576);
    EXPECT_EQ(root->age, engine.moveCount);
    // Asked again, the table answers at the root.
    EXPECT_EQ(search(black), 10000568);
    EXPECT_EQ(engine.nodeCount, 10);
    // Read at ply 3 the same entry is three plies nearer the five.
    EXPECT_EQ(threatNode(0, black, 0, 3), 10000565);
}

TEST(ThreatSearch, BoardIsUnchangedAfterTheSearch) {
    for (int rule : {ruleFreestyle, ruleStandard, ruleRenju}) {
        for (int attacker : {black, white}) {
            build(rule, 15, chain(4), attacker);
            saveBoard(snapshot);
            EXPECT_GT(search(attacker), 0);
            EXPECT_STREQ(boardDifference(snapshot), nullptr);
            saveBoard(snapshot);
            EXPECT_EQ(search(3 - attacker), 0);
            EXPECT_STREQ(boardDifference(snapshot), nullptr);
        }
    }
}

TEST(ThreatSearch, FourBlockedByACounterFour) {
    // Chain of two fours, but white's forced block at (1,4) completes a white
    // four along the diagonal (0,5) (1,4) (2,3) (3,2), whose five-point (4,1)
    // black can only block without making a four of its own.
    Layout l = chain(2);
    for (Point p : {Point{0, 5}, {1, 4}, {2, 3}, {3, 2}, {4, 1}}) l.open.push_back(p);
    l.defender = {{0, 5}, {2, 3}, {3, 2}};
    build(ruleStandard, 15, l, black);
    EXPECT_EQ(search(black), 0);
    // With only the stone that caps the column the chain wins.
    l.defender = {{0, 5}};
    build(ruleStandard, 15, l, black);
    EXPECT_EQ(search(black), 10000572);
}

TEST(ThreatSearch, RenjuOpenFourOnAForbiddenPointIsNoWin) {
    // Chain of two fours whose final open-four point (4,8) is also the middle
    // of six black stones down column 8: an overline, forbidden for black.
    Layout l = chain(2);
    for (int x = 1; x <= 6; ++x) l.open.push_back({x, 8});
    for (int x : {1, 2, 3, 5, 6}) l.attacker.push_back({x, 8});
    build(ruleRenju, 15, l, black);
    ASSERT_EQ(isForbidden(4, 8), 1);
    EXPECT_EQ(search(black), 0);
    // Under the standard rule the open four is not tested and wins.
    build(ruleStandard, 15, l, black);
    EXPECT_EQ(search(black), 10000572);
}

TEST(ThreatSearch, RenjuBlackCannotPlayADoubleFour) {
    // Square of double fours (the corners): white may, black may not.
    Layout l;
    for (int i = 0; i <= 4; ++i) {
        for (Point p : {Point{5, 5 + i}, {9, 5 + i}, {5 + i, 5}, {5 + i, 9}}) l.open.push_back(p);
    }
    for (int i = 1; i <= 3; ++i) {
        for (Point p : {Point{5, 5 + i}, {9, 5 + i}, {5 + i, 5}, {5 + i, 9}}) {
            l.attacker.push_back(p);
        }
    }
    build(ruleRenju, 15, l, black);
    EXPECT_EQ(search(black), 0);
    build(ruleRenju, 15, l, white);
    EXPECT_EQ(search(white), 10000574);  // double four, block, five
    build(ruleStandard, 15, l, black);
    EXPECT_EQ(search(black), 10000574);
    build(ruleFreestyle, 15, l, black);
    EXPECT_EQ(search(black), 10000576);  // two fours at once: won on the spot
}

TEST(ThreatSearch, RenjuBlockForbiddenForBlackLosesAtOnce) {
    // White's four at (3,5) must be blocked at (3,4), where black would make six
    // down column 4. The defender node has no block left: ply 1 - 10000574.
    Layout l;
    for (int y = 1; y <= 5; ++y) l.open.push_back({3, y});
    for (int x : {0, 1, 2, 4, 5}) l.open.push_back({x, 4});
    for (int x = 4; x <= 7; ++x) l.open.push_back({x, 5});
    l.attacker = {{3, 1}, {3, 2}, {3, 3}, {4, 5}, {5, 5}};
    l.defender = {{0, 4}, {1, 4}, {2, 4}, {4, 4}, {5, 4}};
    build(ruleRenju, 15, l, white);
    ASSERT_EQ(isForbidden(3, 4), 1);
    EXPECT_EQ(search(white), 10000573);
    // Under the standard rule black simply blocks.
    build(ruleStandard, 15, l, white);
    EXPECT_EQ(search(white), 0);
}

TEST(ThreatSearch, WeakFourIsNeverPlayed) {
    // A lone four in a walled row: line-value sum 256, below 279.
    Layout l;
    for (int y = 1; y <= 5; ++y) l.open.push_back({7, y});
    l.attacker = {{7, 1}, {7, 2}, {7, 3}};
    build(ruleFreestyle, 15, l, black);
    ASSERT_EQ(engine.patterns[7][5].lineValueSum[0], 256);
    engine.nodeCount = 0;
    saveBoard(snapshot);
    EXPECT_EQ(search(black), 0);
    EXPECT_EQ(engine.nodeCount, 1);
    EXPECT_STREQ(boardDifference(snapshot), nullptr);
}

TEST(ThreatSearch, ImmediateWinsNeedNoTable) {
    // A five-point for the side to move: won at ply 0, before any table access.
    Layout l;
    for (int y = 1; y <= 6; ++y) l.open.push_back({7, y});
    l.attacker = {{7, 1}, {7, 2}, {7, 3}, {7, 4}};
    build(ruleStandard, 15, l, white);
    engine.nodeCount = 0;
    EXPECT_EQ(threatNode(0, white, 0, 0), 10000576);
    EXPECT_EQ(threatNode(0, white, 1, 7), 10000569);
    EXPECT_EQ(entryFor(1, engine.hashKey), nullptr);
    EXPECT_EQ(entryFor(3, engine.hashKey), nullptr);
    EXPECT_EQ(engine.nodeCount, 2);
    // The opponent facing that five has nothing.
    EXPECT_EQ(search(black), 0);
}

TEST(ThreatSearch, ChildEntriesConvertWithTheParentsPly) {
    // Chain of one four: the root's only candidate is M1 = (1,5). A defender
    // entry for the position after M1 holding a loss l reads at the root as
    // -(l - 577): no stone is placed.
    build(ruleStandard, 15, chain(1), black);
    const uint64_t child = engine.hashKey ^ engine.zobrist[1][5][black - 1];
    seed(3, child, -9999999);
    engine.nodeCount = 0;
    EXPECT_EQ(search(black), 10000576);
    EXPECT_EQ(engine.nodeCount, 1);

    // A child entry that says the block holds (0) removes M1 from the search.
    build(ruleStandard, 15, chain(1), black);
    seed(3, child, 0);
    engine.nodeCount = 0;
    EXPECT_EQ(search(black), 0);
    EXPECT_EQ(engine.nodeCount, 1);

    // The defender side: after white's block at B1 = (1,4) the attacker entry
    // for black says "black wins" (stored 9999990, read 9999990 + 577 - 1),
    // so the block is dropped and the defender has none left.
    build(ruleStandard, 15, chain(1), black);
    placeStone(1, 5, black);
    const uint64_t afterBlock = engine.hashKey ^ engine.zobrist[1][4][white - 1];
    seed(0, afterBlock, 9999990);
    engine.nodeCount = 0;
    EXPECT_EQ(threatNode(0, white, 1, 1), 1 - 10000574);
    EXPECT_EQ(engine.nodeCount, 1);
    // Stored as a loss seen from ply 1: value + (576 - 1).
    const ThreatEntry* e = entryFor(3, engine.hashKey);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->value, 1 - 10000574 + 575);
    EXPECT_EQ(e->plyTag, 575);
}

TEST(ThreatSearch, ReplacementKeepsANearerEntryOfThisMove) {
    // Searched from ply 3 the chain of one four is won with 10000571, stored
    // with ply tag 573.
    const int32_t stored = 10000571 - 573;
    struct Case {
        int16_t plyTag;
        int16_t age;
        bool keptInEntry0;
    };
    const Case cases[] = {
        {575, 0, true},    // nearer the root, same game move: kept
        {574, 1, true},    // one move old still counts as current
        {573, 0, false},   // not nearer
        {575, 2, false},   // two moves old: replaced
        {575, -2, false},  // likewise
    };
    for (const Case& c : cases) {
        build(ruleStandard, 15, chain(1), black);
        const uint64_t key = engine.hashKey;
        const uint64_t foreign = key ^ (uint64_t{0x5A5A} << 32);  // same bucket, another key
        seed(0, foreign, 12345, 0, c.plyTag, c.age);
        EXPECT_EQ(threatNode(0, black, 0, 3), 10000571);
        const ThreatEntry* b = engine.threatTables[0][key & (threatHashSize - 1)].entries;
        const ThreatEntry& target = c.keptInEntry0 ? b[1] : b[0];
        EXPECT_EQ(target.value, stored) << c.plyTag << " " << c.age;
        EXPECT_EQ(target.check, key ^ static_cast<uint64_t>(stored));
        EXPECT_EQ(target.plyTag, 573);
        if (c.keptInEntry0) {
            EXPECT_EQ(b[0].value, 12345);
        }
    }
}

TEST(ThreatSearch, StopRequestAbortsWithoutStoring) {
    build(ruleStandard, 15, chain(4), black);
    saveBoard(snapshot);
    engine.nodeCount = 1022;  // the second node is number 1024
    engine.stopRequested.store(1);
    EXPECT_EQ(threatSearch(0, black, 0, 0), 0);
    EXPECT_EQ(engine.searchAborted, 1);
    EXPECT_EQ(engine.nodeCount, 1024);
    EXPECT_STREQ(boardDifference(snapshot), nullptr);
    // Nothing was stored on the way out: the full search still wins.
    engine.stopRequested.store(0);
    engine.searchAborted = 0;
    EXPECT_EQ(search(black), 10000568);

    // The clock: a spent budget stops the search the same way.
    build(ruleStandard, 15, chain(4), black);
    engine.turnBudget = 0;
    engine.nodeCount = 1023;
    EXPECT_EQ(threatSearch(0, black, 0, 0), 0);
    EXPECT_EQ(engine.searchAborted, 1);
}

TEST(ThreatSearch, SequenceEndsAtTheLastMoveList) {
    // The chain of one four needs slots root, root + 1 and root + 2, the last
    // only for the entry checks that find the open four.
    build(ruleStandard, 15, chain(1), black);
    engine.iterationDepth = 574;
    EXPECT_EQ(search(black), 10000574);

    // From slot 575 the defender's list would be past the end: no win, and
    // nothing written beyond the lists.
    build(ruleStandard, 15, chain(1), black);
    engine.iterationDepth = 575;
    engine.triedStamps[0][0][0] = 0x1234567890ABCDEFull;
    EXPECT_EQ(search(black), 0);
    EXPECT_EQ(engine.triedStamps[0][0][0], 0x1234567890ABCDEFull);

    // A root slot before the first list is no win either.
    build(ruleStandard, 15, chain(1), black);
    engine.iterationDepth = 0;
    EXPECT_EQ(threatSearch(1, black, 0, 0), 0);
}

TEST(ThreatSearch, MissingTablesClaimNothing) {
    build(ruleStandard, 15, chain(1), black);
    ThreatBucket* saved = engine.threatTables[2];
    engine.threatTables[2] = nullptr;
    EXPECT_EQ(threatSearch(0, black, 0, 0), 0);
    engine.threatTables[2] = saved;
    EXPECT_EQ(search(black), 10000574);
}

TEST(ThreatSearch, BlockThatIsNoFourEndsTheLine) {
    // White has a five-point at (7,7). Black's block there makes two open
    // threes (line-value sum 350) but no four, so the attacker node gives up
    // without placing it.
    Layout l;
    for (int y = 3; y <= 7; ++y) l.open.push_back({7, y});
    for (int x = 6; x <= 11; ++x) l.open.push_back({x, 7});
    for (int i = -1; i <= 4; ++i) l.open.push_back({7 - i, 7 + i});
    l.attacker = {{8, 7}, {9, 7}, {6, 8}, {5, 9}};
    l.defender = {{7, 3}, {7, 4}, {7, 5}, {7, 6}};
    build(ruleStandard, 15, l, black);
    ASSERT_EQ(engine.patterns[7][7].lineValueSum[0], 350);
    engine.nodeCount = 0;
    EXPECT_EQ(search(black), 0);
    EXPECT_EQ(engine.nodeCount, 1);
    const ThreatEntry* root = entryFor(0, engine.hashKey);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->value, 0);
}

TEST(ThreatSearch, OpenBoardFourThreeAndFourFour) {
    // Black x x x on row 7 behind a white stone at (7,4), and a black pair down
    // column 8 below (7,8). At (7,8) black makes a four and an open three; the
    // forced block at (7,9) leaves black an open four: won at ply 2, or on the
    // spot by the freestyle four-three rule. With a third black stone in the
    // column capped by white, (7,8) is a double four instead: fine for the
    // other rules, forbidden in Renju, and black's other fours are weak.
    struct Case {
        int rule;
        bool doubleFour;
        int32_t expected;
    };
    const Case cases[] = {
        {ruleFreestyle, false, 10000576}, {ruleStandard, false, 10000574},
        {ruleRenju, false, 10000574},     {ruleFreestyle, true, 10000576},
        {ruleStandard, true, 10000574},   {ruleRenju, true, 0},
    };
    for (int size : {15, 20}) {
        const int dx = size == 15 ? 0 : 5;
        const int dy = size == 15 ? 0 : 10;
        for (const Case& c : cases) {
            build(c.rule, size, Layout{}, black, {0, 0}, false);
            for (Point p : {Point{7, 5}, {7, 6}, {7, 7}, {8, 8}, {9, 8}}) {
                placeStone(p.first + dx, p.second + dy, black);
            }
            placeStone(7 + dx, 4 + dy, white);
            if (c.doubleFour) {
                placeStone(10 + dx, 8 + dy, black);
                placeStone(11 + dx, 8 + dy, white);
            }
            SCOPED_TRACE(testing::Message() << "size " << size << " rule " << c.rule);
            EXPECT_EQ(search(black), c.expected);
            EXPECT_EQ(search(white), 0);
        }
    }
}
