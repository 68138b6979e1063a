// Threat-space search (forced wins by threes and fours).
//
// Hand-built positions are mostly walled: everything but a few corridors is
// wall, so the only lines are the ones designed, and whether a win exists can
// be followed by hand. Every win the search claims is played out: the
// attacker plays the search's move, the defender answers with every point it
// may legally play, and the attacker searches again within the plies it has
// left, until a five that is judged by counting stones in a row here, not by
// the engine's pattern codes.
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
#include "rules/light_placement.h"
#include "rules/threat_search.h"
#include "rules/threat_space_search.h"

namespace {

using Point = std::pair<int, int>;

struct Layout {
    std::vector<Point> open;  // empty: an open board
    std::vector<Point> attacker;
    std::vector<Point> defender;
};

void line(Layout& l, Point from, Point step, int cells) {
    for (int i = 0; i < cells; ++i) {
        l.open.push_back({from.first + i * step.first, from.second + i * step.second});
    }
}

void prepareSearch() {
    engine.iterationDepth = 1;
    engine.turnBudget = 1000000000;
    engine.searchStart = nowMs();
    engine.stopRequested.store(0);
    engine.searchAborted = 0;
}

// A direction of a point that no stone has refreshed since the reset keeps the
// reset's code, which any refresh replaces for good (the one way in which
// trial stones may leave the board different). A stone put on and taken off
// every point refreshes every line, so that the snapshots can compare the
// board bit for bit.
void settle() {
    for (int x = 0; x < engine.boardHeight; ++x) {
        for (int y = 0; y < engine.boardWidth; ++y) {
            if (engine.cells[x][y] != empty) continue;
            placeStone(x, y, black);
            removeStone(x, y, black);
        }
    }
}

void build(int rule, int size, const Layout& l, int attacker) {
    newBoard(rule, size, size);
    static bool isOpen[24][24];
    std::memset(isOpen, 0, sizeof isOpen);
    for (auto [x, y] : l.open) isOpen[x][y] = true;
    for (int x = 0; x < size; ++x) {
        for (int y = 0; y < size; ++y) {
            if (!l.open.empty() && !isOpen[x][y]) placeStone(x, y, wall);
        }
    }
    for (auto [x, y] : l.attacker) placeStone(x, y, attacker);
    for (auto [x, y] : l.defender) placeStone(x, y, 3 - attacker);
    settle();
    prepareSearch();
}

// Stones in a row through (x, y) along d, counted on the cells.
int runThrough(int x, int y, int d, int side) {
    int n = 1;
    for (int sign = 1; sign >= -1; sign -= 2) {
        int cx = x + sign * dirStepX[d];
        int cy = y + sign * dirStepY[d];
        while (onBoard(cx, cy) && engine.cells[cx][cy] == side) {
            ++n;
            cx += sign * dirStepX[d];
            cy += sign * dirStepY[d];
        }
    }
    return n;
}

// Would a stone of `side` on the empty point (x, y) win? Exactly five under
// the standard rule and for black in Renju; five or more otherwise.
bool winsAt(int side, int x, int y) {
    const bool exact = engine.rule == ruleStandard || (engine.rule == ruleRenju && side == black);
    engine.cells[x][y] = side;
    bool five = false;
    for (int d = 0; d < 4; ++d) {
        const int n = runThrough(x, y, d, side);
        if (n == 5 || (n > 5 && !exact)) five = true;
    }
    engine.cells[x][y] = empty;
    return five;
}

int winningPoints(int side) {
    int n = 0;
    for (int x = 0; x < engine.boardHeight; ++x) {
        for (int y = 0; y < engine.boardWidth; ++y) {
            if (engine.cells[x][y] == empty && winsAt(side, x, y)) ++n;
        }
    }
    return n;
}

bool mayPlay(int side, int x, int y) {
    return engine.cells[x][y] == empty &&
           (engine.rule != ruleRenju || side != black || isForbidden(x, y) == 0);
}

BoardFields snapshot;  // large; kept out of the test frames

VctRequest request(int attacker, int maxThrees = 4, int64_t budget = 2000000) {
    VctRequest r = vctDefaultRequest(attacker);
    r.maxThrees = maxThrees;
    r.nodeBudget = budget;
    return r;
}

// One search, with the board compared field by field before and after.
VctResult search(const VctRequest& r) {
    VctResult result;
    saveBoard(snapshot);
    threatSpaceSearch(r, result);
    EXPECT_STREQ(boardDifference(snapshot), nullptr);
    return result;
}

// Plays a claimed win out against every legal reply; `limit` plies left.
// Returns the longest game in plies (for the caller to compare with the
// claim); fails the test where the claim does not hold.
int playOut(int attacker, int limit, int maxThrees) {
    const int defender = 3 - attacker;
    VctRequest r = request(attacker, maxThrees);
    r.maxPlies = limit;
    VctResult result;
    const uint64_t key = engine.hashKey;
    threatSpaceSearch(r, result);
    EXPECT_EQ(engine.hashKey, key);
    EXPECT_EQ(result.status, vctWin) << "limit " << limit;
    if (result.status != vctWin) return 1000;
    EXPECT_LE(result.plies, limit);
    const int mx = result.moveX;
    const int my = result.moveY;
    EXPECT_TRUE(mayPlay(attacker, mx, my)) << mx << "," << my;
    if (winsAt(attacker, mx, my)) return 1;
    placeStone(mx, my, attacker);
    int longest = 0;
    EXPECT_EQ(winningPoints(defender), 0) << "the defender makes five after " << mx << "," << my;
    if (winningPoints(attacker) >= 2) {
        longest = 3;  // two fives to make: the defender blocks one at most
    } else {
        for (int x = 0; x < engine.boardHeight && !testing::Test::HasFailure(); ++x) {
            for (int y = 0; y < engine.boardWidth; ++y) {
                if (!mayPlay(defender, x, y)) continue;
                placeStone(x, y, defender);
                const int rest =
                    winningPoints(attacker) > 0 ? 1 : playOut(attacker, limit - 2, maxThrees);
                removeStone(x, y, defender);
                longest = std::max(longest, 2 + rest);
            }
        }
    }
    removeStone(mx, my, attacker);
    EXPECT_LE(longest, limit);
    return longest;
}

void expectRealWin(int attacker, const VctResult& claim, int maxThrees = 4) {
    ASSERT_EQ(claim.status, vctWin);
    saveBoard(snapshot);
    const int longest = playOut(attacker, claim.plies, maxThrees);
    EXPECT_LE(longest, claim.plies);
    EXPECT_STREQ(boardDifference(snapshot), nullptr);
    EXPECT_TRUE(checkBoardConsistency());
}

std::vector<Point> defences(int attacker) {
    static ScoredMove list[maxPoints];
    const int n = threatSpaceDefences(attacker, list);
    std::vector<Point> out;
    for (int i = 0; i < n; ++i) out.push_back({list[i].x, list[i].y});
    std::sort(out.begin(), out.end());
    return out;
}

// Row 7 and column 7, cells 2..10 each, crossing at (7,7); attacker pairs at
// (7,5) (7,6) and (5,7) (6,7). At (7,7) the attacker makes two open threes at
// once; the defender can stop one, and the other becomes an open four:
// (7,7), a reply, the open four, a reply, five: 5 plies. No other point makes
// two threats, and one three alone is blocked for good.
Layout cross() {
    Layout l;
    line(l, {7, 2}, {0, 1}, 9);
    line(l, {2, 7}, {1, 0}, 9);
    l.attacker = {{7, 5}, {7, 6}, {5, 7}, {6, 7}};
    return l;
}

}  // namespace

TEST(ThreatSpaceSearch, DoubleThreeWinsWhereBlackMayPlayIt) {
    struct Case {
        int rule;
        int attacker;
        bool win;
    };
    const Case cases[] = {{ruleFreestyle, black, true},
                          {ruleFreestyle, white, true},
                          {ruleStandard, black, true},
                          {ruleRenju, white, true},
                          {ruleRenju, black, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "rule " << c.rule << " attacker " << c.attacker);
        build(c.rule, 15, cross(), c.attacker);
        const VctResult r = search(request(c.attacker));
        if (!c.win) {
            ASSERT_EQ(isForbidden(7, 7), 1);
            EXPECT_EQ(r.status, vctNotFound);
            continue;
        }
        ASSERT_EQ(r.status, vctWin);
        EXPECT_EQ(r.moveX, 7);
        EXPECT_EQ(r.moveY, 7);
        EXPECT_EQ(r.plies, 5);
        EXPECT_EQ(r.threes, 1);
        // The line ends where the defender has no defence left.
        EXPECT_EQ(r.lineLength, 1);
        expectRealWin(c.attacker, r);
        // No threes, no win; one ply short, no win.
        EXPECT_EQ(search(request(c.attacker, 0)).status, vctNotFound);
        VctRequest shorter = request(c.attacker);
        shorter.maxPlies = 4;
        EXPECT_EQ(search(shorter).status, vctNotFound);
        // The defender has nothing.
        EXPECT_EQ(search(request(3 - c.attacker)).status, vctNotFound);
    }
}

TEST(ThreatSpaceSearch, DefencesOfAThree) {
    // An open three in a row of cells 2..10: only the two open-four points
    // stop it (a stone one further out leaves the other end an open four).
    // A split three x x . x: the gap and both ends.
    Layout l;
    line(l, {7, 2}, {0, 1}, 9);
    for (int rule : {ruleFreestyle, ruleStandard, ruleRenju}) {
        for (int attacker : {black, white}) {
            SCOPED_TRACE(testing::Message() << "rule " << rule << " attacker " << attacker);
            l.attacker = {{7, 5}, {7, 6}, {7, 7}};
            build(rule, 15, l, attacker);
            EXPECT_EQ(defences(attacker), (std::vector<Point>{{7, 4}, {7, 8}}));
            l.attacker = {{7, 4}, {7, 5}, {7, 7}};
            build(rule, 15, l, attacker);
            EXPECT_EQ(defences(attacker), (std::vector<Point>{{7, 3}, {7, 6}, {7, 8}}));
            // A single three is no win, and nothing answers a side without
            // a threat.
            l.attacker = {{7, 5}, {7, 6}};
            build(rule, 15, l, attacker);
            EXPECT_EQ(search(request(attacker)).status, vctNotFound);
            ScoredMove list[maxPoints];
            EXPECT_EQ(threatSpaceDefences(attacker, list), -1);
        }
    }
}

TEST(ThreatSpaceSearch, CounterFourRefutesTheDoubleThree) {
    // The cross, and a defender column 4 (cells 4..8, wall at 3) holding
    // three defender stones. After the double three the defender's fours are
    // its only defences: at (7,4), which also caps the row three, and at
    // (8,4), whose forced block at (7,4) hands the attacker an open four.
    // After (7,4) and the block at (8,4), the column three is stopped and
    // nothing is left: no win. Without the defender stones, the cross wins.
    for (int rule : {ruleFreestyle, ruleStandard}) {
        Layout l = cross();
        line(l, {4, 4}, {1, 0}, 5);
        l.defender = {{4, 4}, {5, 4}, {6, 4}};
        build(rule, 15, l, black);
        EXPECT_EQ(search(request(black, 6)).status, vctNotFound);
        placeStone(7, 7, black);
        EXPECT_EQ(defences(black), (std::vector<Point>{{7, 4}, {8, 4}}));
        removeStone(7, 7, black);

        l.defender.clear();
        build(rule, 15, l, black);
        const VctResult r = search(request(black));
        EXPECT_EQ(r.status, vctWin);
        EXPECT_EQ(r.plies, 5);
    }
}

TEST(ThreatSpaceSearch, RenjuWhiteWinsThroughPointsBlackMayNotTake) {
    // White's row (cells 2..10) holds (7,5) (7,6); white plays (7,7) for an
    // open three whose only stops are (7,4) and (7,8). Columns 4 and 8 are
    // walled to cells 4..9 and hold black stones on 4, 5, 6, 8, 9: a black
    // stone on row 7 there makes six. Black cannot stop the three.
    Layout l;
    line(l, {7, 2}, {0, 1}, 9);
    for (int y : {4, 8}) line(l, {4, y}, {1, 0}, 6);
    l.attacker = {{7, 5}, {7, 6}};
    for (int y : {4, 8}) {
        for (int x : {4, 5, 6, 8, 9}) l.defender.push_back({x, y});
    }
    build(ruleRenju, 15, l, white);
    ASSERT_EQ(isForbidden(7, 4), 1);
    ASSERT_EQ(isForbidden(7, 8), 1);
    VctResult r = search(request(white));
    ASSERT_EQ(r.status, vctWin);
    EXPECT_EQ(r.moveX, 7);
    EXPECT_EQ(r.moveY, 7);
    EXPECT_EQ(r.plies, 5);
    expectRealWin(white, r);
    placeStone(7, 7, white);
    EXPECT_EQ(defences(white), std::vector<Point>{});
    removeStone(7, 7, white);
    // Under the standard rule black simply blocks.
    build(ruleStandard, 15, l, white);
    EXPECT_EQ(search(request(white)).status, vctNotFound);
}

TEST(ThreatSpaceSearch, RenjuBlackAvoidsItsFouls) {
    // 20x20. The cross's double three at (7,7), and a second structure: row
    // 13 (cells 9..17) with black (13,13) (13,14), and columns 11 and 15
    // (cells 10..18) with black pairs at rows 14, 15. Black's points (13,11)
    // and (13,15) would be double threes too. The legal way: (13,12), an open
    // three; whichever end white stops, black's four at the other end is also
    // a column three, and the column becomes an open four: 7 plies.
    Layout l = cross();
    line(l, {13, 9}, {0, 1}, 9);
    for (int y : {11, 15}) line(l, {10, y}, {1, 0}, 9);
    for (Point p : {Point{13, 13}, {13, 14}, {14, 11}, {15, 11}, {14, 15}, {15, 15}}) {
        l.attacker.push_back(p);
    }
    build(ruleRenju, 20, l, black);
    for (Point p : {Point{7, 7}, {13, 11}, {13, 15}}) {
        EXPECT_EQ(isForbidden(p.first, p.second), 1) << p.first << "," << p.second;
    }
    VctResult r = search(request(black));
    ASSERT_EQ(r.status, vctWin);
    EXPECT_EQ(r.moveX, 13);
    EXPECT_EQ(r.moveY, 12);
    EXPECT_EQ(r.plies, 7);
    // The line: the three, an end stopped, the four at the other end, its
    // block, the open four in that end's column.
    ASSERT_EQ(r.lineLength, 5);
    const int stopped = r.line[1].y;
    const int other = stopped == 11 ? 15 : 11;
    EXPECT_EQ(r.line[1].x, 13);
    EXPECT_TRUE(stopped == 11 || stopped == 15);
    EXPECT_EQ(r.line[2].x, 13);
    EXPECT_EQ(r.line[2].y, other);
    EXPECT_EQ(r.line[3].x, 13);
    EXPECT_EQ(r.line[3].y, other == 15 ? 16 : 10);
    EXPECT_TRUE(r.line[4].x == 12 || r.line[4].x == 16);
    EXPECT_EQ(r.line[4].y, other);
    expectRealWin(black, r);
    // Under the standard rule a double three wins sooner.
    build(ruleStandard, 20, l, black);
    r = search(request(black));
    ASSERT_EQ(r.status, vctWin);
    EXPECT_EQ(r.plies, 5);
    expectRealWin(black, r);
}

namespace {

uint32_t nextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// A game-like position: `stones` stones in turn, black first, on random empty
// points of the 9x9 middle of a 15x15 board, none of them a five and no black
// stone on a point black may not play. The side to move is the next one.
int randomPosition(int rule, uint32_t seed, int stones) {
    newBoard(rule, 15, 15);
    prepareSearch();
    uint32_t state = seed;
    int side = black;
    for (int placed = 0, tries = 0; placed < stones && tries < 1000; ++tries) {
        const int x = 3 + static_cast<int>(nextRandom(state) % 9);
        const int y = 3 + static_cast<int>(nextRandom(state) % 9);
        if (!mayPlay(side, x, y) || winsAt(side, x, y)) continue;
        placeStone(x, y, side);
        side = 3 - side;
        ++placed;
    }
    settle();
    return side;
}

bool hasPlayableOpenFour(int side) {
    bool found = false;
    forEachGroupPoint(groupOpenFour, side, [&](int x, int y) {
        found = mayPlay(side, x, y);
        return found;
    });
    return found;
}

// After the defender's stone: can the attacker make two fives at once with an
// open-four point of the board, while the defender has no five to make?
bool attackerWinsByOpenFour(int attacker) {
    if (winningPoints(3 - attacker) > 0) return false;
    bool wins = false;
    forEachGroupPoint(groupOpenFour, attacker, [&](int x, int y) {
        if (!mayPlay(attacker, x, y)) return false;
        placeStone(x, y, attacker);
        wins = winningPoints(attacker) >= 2 && winningPoints(3 - attacker) == 0;
        removeStone(x, y, attacker);
        return wins;
    });
    return wins;
}

}  // namespace

TEST(ThreatSpaceSearch, DefencesAreExactlyTheRepliesThatStopTheThree) {
    // Every open three that the random positions offer, for either side:
    // the generated list against every legal reply judged on the board, and
    // every reply left out must lose to an open four, judged by counting.
    int samples = 0;
    for (int rule : {ruleFreestyle, ruleStandard, ruleRenju}) {
        for (uint32_t seed = 1; seed <= 6; ++seed) {
            randomPosition(rule, seed * 7919u + static_cast<uint32_t>(rule), 14 + 2 * seed);
            std::vector<Point> threes;
            for (int attacker : {black, white}) {
                threes.clear();
                forEachGroupPoint(groupOpenThree, attacker, [&](int x, int y) {
                    threes.push_back({x, y});
                    return false;
                });
                const int defender = 3 - attacker;
                for (auto [tx, ty] : threes) {
                    if (samples >= 120 || !mayPlay(attacker, tx, ty)) continue;
                    placeStone(tx, ty, attacker);
                    if (groupEmpty(groupFive, attacker) && groupEmpty(groupFive, defender) &&
                        hasPlayableOpenFour(attacker)) {
                        ++samples;
                        SCOPED_TRACE(testing::Message() << "rule " << rule << " seed " << seed
                                                        << " three " << tx << "," << ty);
                        const std::vector<Point> listed = defences(attacker);
                        std::vector<Point> stops;
                        for (int x = 0; x < 15; ++x) {
                            for (int y = 0; y < 15; ++y) {
                                if (!mayPlay(defender, x, y)) continue;
                                placeStone(x, y, defender);
                                const bool stop = !groupEmpty(groupFive, defender) ||
                                                  !hasPlayableOpenFour(attacker);
                                if (stop) {
                                    stops.push_back({x, y});
                                } else {
                                    EXPECT_TRUE(attackerWinsByOpenFour(attacker)) << x << "," << y;
                                }
                                removeStone(x, y, defender);
                            }
                        }
                        EXPECT_EQ(listed, stops);
                    }
                    removeStone(tx, ty, attacker);
                }
            }
        }
    }
    EXPECT_GE(samples, 60);
}

TEST(ThreatSpaceSearch, EveryWinByFoursIsFound) {
    // Random positions, the side to move attacking: whenever the search by
    // fours wins, this search wins without a single three. Some claims are
    // played out, and the cache never changes the answer.
    int foursWins = 0;
    int playedOut = 0;
    for (int rule : {ruleFreestyle, ruleStandard, ruleRenju}) {
        for (uint32_t seed = 1; seed <= 40; ++seed) {
            const int side = randomPosition(rule, seed * 104729u + static_cast<uint32_t>(rule),
                                            18 + static_cast<int>(seed % 16));
            if (!groupEmpty(groupFive, black) || !groupEmpty(groupFive, white)) continue;
            SCOPED_TRACE(testing::Message() << "rule " << rule << " seed " << seed);
            const int32_t byFours = threatSearch(0, side, 0, 0);
            ASSERT_EQ(engine.searchAborted, 0);
            const VctResult none = search(request(side, 0));
            if (byFours > 0) {
                ++foursWins;
                EXPECT_EQ(none.status, vctWin);
                EXPECT_EQ(none.threes, 0);
            }
            VctRequest withThrees = request(side, 2, 300000);
            const VctResult cached = search(withThrees);
            withThrees.useCache = false;
            const VctResult uncached = search(withThrees);
            if (cached.status != vctBudgetSpent && uncached.status != vctBudgetSpent) {
                EXPECT_EQ(cached.status, uncached.status);
            }
            if (none.status == vctWin && playedOut < 6) {
                ++playedOut;
                expectRealWin(side, none, 0);
            }
        }
    }
    EXPECT_GE(foursWins, 8);
    EXPECT_GE(playedOut, 6);
}

TEST(ThreatSpaceSearch, OpenBoardDoubleThree) {
    // Black (7,6) (7,7) on row 7 and (8,8) (9,8) on column 8 of an open board,
    // white far away at (0,0): (7,8) makes two open threes. Freestyle and
    // standard find a win and it holds against every reply; in Renju (7,8) is
    // black's foul and is never the move, while white there wins with it.
    for (int rule : {ruleFreestyle, ruleStandard, ruleRenju}) {
        for (int attacker : {black, white}) {
            SCOPED_TRACE(testing::Message() << "rule " << rule << " attacker " << attacker);
            Layout l;
            l.attacker = {{7, 6}, {7, 7}, {8, 8}, {9, 8}};
            l.defender = {{0, 0}};
            build(rule, 15, l, attacker);
            const VctResult r = search(request(attacker, 2));
            if (rule == ruleRenju && attacker == black) {
                ASSERT_EQ(isForbidden(7, 8), 1);
                EXPECT_FALSE(r.status == vctWin && r.moveX == 7 && r.moveY == 8);
                if (r.status == vctWin) expectRealWin(attacker, r, 2);
                continue;
            }
            ASSERT_EQ(r.status, vctWin);
            EXPECT_LE(r.plies, 5);
            expectRealWin(attacker, r, 2);
        }
    }
}

TEST(ThreatSpaceSearch, LimitsStopsAndLists) {
    build(ruleStandard, 15, cross(), black);
    // A budget too small to finish.
    VctResult r = search(request(black, 4, 2));
    EXPECT_EQ(r.status, vctBudgetSpent);
    EXPECT_EQ(r.moveX, -1);
    EXPECT_LE(r.nodes, 3);

    // The stop flag, read at the 1024th node of the engine's count.
    engine.nodeCount = 1022;
    engine.stopRequested.store(1);
    r = search(request(black));
    EXPECT_EQ(r.status, vctStopped);
    EXPECT_EQ(engine.searchAborted, 1);
    EXPECT_EQ(engine.nodeCount, 1024);
    // Still aborted: nothing is searched.
    engine.stopRequested.store(0);
    r = search(request(black));
    EXPECT_EQ(r.status, vctStopped);
    EXPECT_EQ(r.nodes, 0);
    // A spent clock stops it the same way.
    prepareSearch();
    engine.turnBudget = 0;
    engine.nodeCount = 1023;
    EXPECT_EQ(search(request(black)).status, vctStopped);

    // The win needs the root's list and the defender's after it.
    prepareSearch();
    VctRequest late = request(black);
    late.firstList = maxPoints - 2;
    r = search(late);
    EXPECT_EQ(r.status, vctWin);
    late.firstList = maxPoints - 1;
    engine.triedStamps[0][0][0] = 0x1234567890ABCDEFull;
    r = search(late);
    EXPECT_EQ(r.status, vctNotFound);
    EXPECT_EQ(engine.triedStamps[0][0][0], 0x1234567890ABCDEFull);
}

TEST(ThreatSpaceSearch, DefenderThreatsComeFirst) {
    for (int rule : {ruleFreestyle, ruleStandard, ruleRenju}) {
        SCOPED_TRACE(testing::Message() << "rule " << rule);
        // The defender has an open three of its own on row 12 (cells 2..10):
        // it answers the double three with an open four and wins the race.
        Layout l = cross();
        line(l, {12, 2}, {0, 1}, 9);
        l.defender = {{12, 5}, {12, 6}, {12, 7}};
        build(rule, 15, l, white);
        EXPECT_EQ(search(request(white)).status, vctNotFound);

        // The defender has a four on the diagonal (3,3)..(7,7), walled at both
        // ends: the attacker must block at (7,7), and the block is its double
        // three: no three of the attacker's choosing, 5 plies. With the
        // diagonal's five point elsewhere the block makes nothing.
        l = cross();
        line(l, {3, 3}, {1, 1}, 4);
        l.defender = {{3, 3}, {4, 4}, {5, 5}, {6, 6}};
        build(rule, 15, l, white);
        VctResult r = search(request(white));
        ASSERT_EQ(r.status, vctWin);
        EXPECT_EQ(r.moveX, 7);
        EXPECT_EQ(r.moveY, 7);
        EXPECT_EQ(r.plies, 5);
        EXPECT_EQ(r.threes, 0);
        expectRealWin(white, r);
        EXPECT_EQ(threatSearch(0, white, 0, 0), 0);  // the block is no four

        l = cross();
        line(l, {2, 12}, {1, 0}, 5);
        l.defender = {{2, 12}, {3, 12}, {4, 12}, {5, 12}};
        build(rule, 15, l, white);
        EXPECT_EQ(search(request(white)).status, vctNotFound);
    }
}
