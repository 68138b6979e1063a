// The board refresh against a plain reference refresh.
//
// The refreshes of make, unmake and the light update are tuned for speed
// (the byte copy of the window table, clipped stretches, shifted line words,
// the running totals). This file keeps the plain formulation: every point of
// the stretch, every side, the stored code and space compared with
// windowTable's, one direction at a time. Random games of full and nested
// light placements and removals, on every rule and on square and rectangular
// boards, run each operation both ways from the same state and require every
// board field to come out bit for bit the same, including the point values a
// light stone leaves stale and the reset code 1 that a refresh turns into 0,
// which the from-scratch checker only bounds.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/pattern_tables.h"
#include "board_setup.h"
#include "rules/light_placement.h"

namespace {

// ---------------------------------------------------------------------------
// Reference refresh.

int groupOf(int code) {
    switch (code) {
        case codeFive: return groupFive;
        case codeOpenFour: return groupOpenFour;
        case codeFourA:
        case codeFourB: return groupFour;
        case codeOpenThreeGap:
        case codeOpenThree: return groupOpenThree;
        default: return -1;
    }
}

bool fivesExact(int side) {
    return engine.rule == ruleStandard || (engine.rule == ruleRenju && side == black);
}

bool own(int x, int y, int side) { return onBoard(x, y) && engine.cells[x][y] == side; }

int16_t weighted(int pointValue, int spaceSum) {
    return static_cast<int16_t>(pointValue * spaceSum / 32);
}

void setNibble(uint32_t& word, int d, int value) {
    word = (word & ~(15u << (4 * d))) | (static_cast<uint32_t>(value) << (4 * d));
}

void fullSide(int d, int t, int x, int y, int n, int s) {
    PointPatterns& pp = engine.patterns[x][y];
    const int side = t + 1;
    const int o = codeAt(pp.codeWord[t], d);
    const int os = codeAt(pp.spaceWord[t], d);
    if (n == o) {
        if (s != os) {
            engine.valueTotal[t] -= pp.weightedValue[t];
            setNibble(pp.spaceWord[t], d, s);
            pp.spaceSum[t] = static_cast<int16_t>(pp.spaceSum[t] + s - os);
            pp.weightedValue[t] = weighted(pp.pointValue[t], pp.spaceSum[t]);
            engine.valueTotal[t] += pp.weightedValue[t];
        }
    } else {
        engine.valueTotal[t] -= pp.weightedValue[t];
        if (groupOf(o) >= 0) {
            leaveGroup(groupOf(o), side, x, y, d);
            if (groupOf(o) >= groupFour) doubleCheckAfterLeave(side, x, y);
        }
        pp.lineValueSum[t] = static_cast<int16_t>(pp.lineValueSum[t] + codeValue[n] - codeValue[o]);
        pp.spaceSum[t] = static_cast<int16_t>(pp.spaceSum[t] + s - os);
        setNibble(pp.codeWord[t], d, n);
        setNibble(pp.spaceWord[t], d, s);
        pp.pointValue[t] =
            static_cast<int16_t>(pp.lineValueSum[t] + engine.comboTable[t][pp.codeWord[t]]);
        pp.weightedValue[t] = weighted(pp.pointValue[t], pp.spaceSum[t]);
        engine.valueTotal[t] += pp.weightedValue[t];
        if (groupOf(n) >= 0) {
            enterGroup(groupOf(n), side, x, y, d);
            if (groupOf(n) >= groupFour) doubleCheckAfterEnter(side, x, y);
        }
    }
    if ((n == codeOpenFour || n == codeFive) && fivesExact(side)) exactFiveCheck(d, side, x, y);
}

// The light form of the exact-five corrections: codes, line values and
// groups 0 to 2 only.
void lightCorrection(int d, int t, int x, int y, int n) {
    const int side = t + 1;
    const int sx = dirStepX[d];
    const int sy = dirStepY[d];
    PointPatterns& pp = engine.patterns[x][y];
    if (n == codeFive) {
        const bool low = own(x - sx, y - sy, side);
        const bool high = own(x + sx, y + sy, side);
        if (low == high) return;
        const int sigma = high ? 1 : -1;
        if (!own(x + 5 * sigma * sx, y + 5 * sigma * sy, side)) return;
        leaveGroup(groupFive, side, x, y, d);
        setNibble(pp.codeWord[t], d, codeOverline);
        pp.lineValueSum[t] = static_cast<int16_t>(pp.lineValueSum[t] - codeValue[codeFive]);
        return;
    }
    bool overline = false;
    for (int sign = 1; sign >= -1 && !overline; sign -= 2) {
        int k = 1;
        while (own(x + sign * k * sx, y + sign * k * sy, side)) ++k;
        overline = own(x + sign * (k + 1) * sx, y + sign * (k + 1) * sy, side);
    }
    if (!overline) return;
    leaveGroup(groupOpenFour, side, x, y, d);
    setNibble(pp.codeWord[t], d, codeFourA);
    pp.lineValueSum[t] =
        static_cast<int16_t>(pp.lineValueSum[t] + codeValue[codeFourA] - codeValue[codeOpenFour]);
    enterGroup(groupFour, side, x, y, d);
}

void lightSide(int d, int t, int x, int y, int n) {
    PointPatterns& pp = engine.patterns[x][y];
    const int o = codeAt(pp.codeWord[t], d);
    if (n != o) {
        if (groupOf(o) >= 0) leaveGroup(groupOf(o), t + 1, x, y, d);
        setNibble(pp.codeWord[t], d, n);
        pp.lineValueSum[t] = static_cast<int16_t>(pp.lineValueSum[t] + codeValue[n] - codeValue[o]);
        if (groupOf(n) >= 0) enterGroup(groupOf(n), t + 1, x, y, d);
    }
    if ((n == codeOpenFour || n == codeFive) && fivesExact(t + 1)) lightCorrection(d, t, x, y, n);
}

void referenceRefresh(int d, int x, int y, bool light) {
    for (int k = -engine.updateRadius; k <= engine.updateRadius; ++k) {
        const int qx = x + k * dirStepX[d];
        const int qy = y + k * dirStepY[d];
        if (!onBoard(qx, qy)) continue;
        const WindowEntry& e = engine.windowTable[windowOf(d, qx, qy)];
        for (int t = 0; t < 2; ++t) {
            if (light) {
                lightSide(d, t, qx, qy, e.code[t]);
            } else {
                fullSide(d, t, qx, qy, e.code[t], e.space[t]);
            }
        }
    }
}

// colour 0 removes the stone of `was`.
void referenceChange(int x, int y, int colour, int was, bool light) {
    engine.cells[x][y] = colour;
    for (int d = 0; d < 4; ++d) {
        const int shift = 2 * linePosition(d, x, y) + 8;
        uint64_t& word = lineWordOf(d, x, y);
        word = (word & ~(uint64_t{3} << shift)) | (static_cast<uint64_t>(colour) << shift);
        referenceRefresh(d, x, y, light);
    }
    const int keyColour = colour != empty ? colour : was;
    engine.hashKey ^= engine.zobrist[x][y][keyColour - 1];
    if (keyColour == wall) return;
    if (colour != empty) {
        engine.stoneList[engine.stoneCount] = StonePoint{x, y};
        ++engine.stoneCount;
    } else {
        --engine.stoneCount;
    }
}

// ---------------------------------------------------------------------------
// Both ways from one state.

BoardFields before;
BoardFields expected;

enum class Op { place, remove, placeLight, removeLight };

// Runs one operation the reference way, then the engine's way from the same
// state, and reports the first field where they part.
const char* runBothWays(Op op, int x, int y, int colour) {
    saveBoard(before);
    const bool light = op == Op::placeLight || op == Op::removeLight;
    const bool placing = op == Op::place || op == Op::placeLight;
    referenceChange(x, y, placing ? colour : empty, colour, light);
    saveBoard(expected);
    restoreBoard(before);
    switch (op) {
        case Op::place: placeStone(x, y, colour); break;
        case Op::remove: removeStone(x, y, colour); break;
        case Op::placeLight: placeStoneLight(x, y, colour); break;
        case Op::removeLight: removeStoneLight(x, y, colour); break;
    }
    return boardDifference(expected);
}

struct Lcg {
    uint64_t s;
    int next(int n) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<int>((s >> 33) % static_cast<uint64_t>(n));
    }
};

// An empty board point: usually a few steps from a stone along a line, so
// that fours, fives and overlines come up, sometimes anywhere, so that lines
// still carrying the reset code are reached too.
bool pickPoint(Lcg& rng, int& px, int& py) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        int x = rng.next(engine.boardHeight);
        int y = rng.next(engine.boardWidth);
        if (engine.stoneCount > 0 && rng.next(4) != 0) {
            const StonePoint& s = engine.stoneList[rng.next(engine.stoneCount)];
            const int d = rng.next(4);
            const int k = (rng.next(3) + 1) * (rng.next(2) ? 1 : -1);
            x = s.x + k * dirStepX[d];
            y = s.y + k * dirStepY[d];
        }
        if (onBoard(x, y) && engine.cells[x][y] == empty) {
            px = x;
            py = y;
            return true;
        }
    }
    return false;
}

struct Placed {
    int x, y, colour;
};

void randomGame(int rule, int width, int height, uint64_t seed, int operations) {
    SCOPED_TRACE(::testing::Message()
                 << "rule " << rule << " board " << width << "x" << height << " seed " << seed);
    newBoard(rule, width, height);
    Lcg rng{seed};
    for (int i = rng.next(3); i > 0; --i) {
        const int x = rng.next(height);
        const int y = rng.next(width);
        if (engine.cells[x][y] != empty) continue;
        const char* diff = runBothWays(Op::place, x, y, wall);
        ASSERT_EQ(diff, nullptr) << "blocked point " << x << "," << y;
    }
    std::vector<Placed> stones;
    for (int op = 0; op < operations; ++op) {
        if (!stones.empty() && rng.next(10) < 3) {
            const Placed s = stones.back();
            stones.pop_back();
            const char* diff = runBothWays(Op::remove, s.x, s.y, s.colour);
            ASSERT_EQ(diff, nullptr) << "removing " << s.x << "," << s.y << " at op " << op;
            continue;
        }
        int colour = rng.next(2) ? black : white;
        int x = 0;
        int y = 0;
        if (!pickPoint(rng, x, y)) continue;
        const char* diff = runBothWays(Op::place, x, y, colour);
        ASSERT_EQ(diff, nullptr) << "placing " << x << "," << y << " at op " << op;
        stones.push_back({x, y, colour});
        // Now and then a burst of trial stones, taken off in reverse order
        // as the foul test and the threat search do.
        if (rng.next(3) != 0) continue;
        std::vector<Placed> trial;
        for (int i = rng.next(5) + 1; i > 0; --i) {
            colour = 3 - colour;
            if (!pickPoint(rng, x, y)) break;
            diff = runBothWays(Op::placeLight, x, y, colour);
            ASSERT_EQ(diff, nullptr) << "light placing " << x << "," << y << " at op " << op;
            trial.push_back({x, y, colour});
        }
        while (!trial.empty()) {
            const Placed s = trial.back();
            trial.pop_back();
            diff = runBothWays(Op::removeLight, s.x, s.y, s.colour);
            ASSERT_EQ(diff, nullptr) << "light removing " << s.x << "," << s.y << " at op " << op;
        }
    }
    while (!stones.empty()) {
        const Placed s = stones.back();
        stones.pop_back();
        const char* diff = runBothWays(Op::remove, s.x, s.y, s.colour);
        ASSERT_EQ(diff, nullptr) << "unwinding " << s.x << "," << s.y;
    }
}

// The search's make and unmake against placeStone and removeStone. The same
// random walk runs twice from one board: first with placeStone and
// removeStone, keeping every state, then with makeMove and unmakeMove, which
// must reach each state bit for bit. The walk nests makes several deep, puts
// bursts of trial stones on top (which turn reset codes into stale values far
// from the live makes), and wanders into lines no stone has reached yet.
struct WalkCounts {
    int unmakes = 0;
    int copiedBack = 0;  // unmakes that found no lasting change and copied
};

enum class WalkWay { refresh, undoLog };

void walk(uint64_t seed, int operations, WalkWay way, std::vector<BoardFields>* states,
          WalkCounts* counts) {
    Lcg rng{seed};
    std::vector<Placed> live;
    auto place = [&](int x, int y, int colour) {
        if (way == WalkWay::refresh) {
            placeStone(x, y, colour);
        } else {
            makeMove(x, y, colour);
        }
    };
    auto takeBack = [&]() {
        const Placed s = live.back();
        live.pop_back();
        if (way == WalkWay::refresh) {
            removeStone(s.x, s.y, s.colour);
            return;
        }
        ++counts->unmakes;
        if (engine.lastingChanges == engine.undoFrames[engine.undoDepth - 1].lastingChanges) {
            ++counts->copiedBack;
        }
        unmakeMove(s.x, s.y, s.colour);
    };
    size_t step = 0;
    auto reached = [&]() -> const char* {
        if (way == WalkWay::refresh) {
            states->emplace_back();
            saveBoard(states->back());
            return nullptr;
        }
        return boardDifference((*states)[step++]);
    };
    for (int op = 0; op < operations; ++op) {
        const int roll = rng.next(10);
        if (!live.empty() && (roll < 4 || live.size() >= 8)) {
            takeBack();
        } else {
            int x = 0;
            int y = 0;
            if (!pickPoint(rng, x, y)) continue;
            const int colour = rng.next(2) ? black : white;
            place(x, y, colour);
            live.push_back({x, y, colour});
            if (rng.next(3) == 0) {
                std::vector<Placed> trial;
                int c = colour;
                for (int i = rng.next(4) + 1; i > 0 && pickPoint(rng, x, y); --i) {
                    c = 3 - c;
                    placeStoneLight(x, y, c);
                    trial.push_back({x, y, c});
                }
                for (; !trial.empty(); trial.pop_back()) {
                    removeStoneLight(trial.back().x, trial.back().y, trial.back().colour);
                }
            }
        }
        const char* diff = reached();
        ASSERT_STREQ(diff, nullptr) << "op " << op << ", " << live.size() << " live makes";
    }
    while (!live.empty()) {
        takeBack();
        const char* diff = reached();
        ASSERT_STREQ(diff, nullptr) << "unwinding, " << live.size() << " live makes";
    }
}

void compareWalks(int rule, int width, int height, uint64_t seed, int operations,
                  WalkCounts& counts) {
    SCOPED_TRACE(::testing::Message()
                 << "rule " << rule << " board " << width << "x" << height << " seed " << seed);
    // A few stones played as the protocol plays them, so the walk starts next
    // to shapes as a search does, with reset codes still further out.
    auto setUp = [&]() {
        newBoard(rule, width, height);
        Lcg rng{seed ^ 0x5bd1e995};
        for (int i = 0; i < 6; ++i) {
            int x = 0;
            int y = 0;
            if (pickPoint(rng, x, y)) placeStone(x, y, i % 2 ? white : black);
        }
    };
    std::vector<BoardFields> states;
    setUp();
    walk(seed, operations, WalkWay::refresh, &states, nullptr);
    if (::testing::Test::HasFatalFailure()) return;
    setUp();
    walk(seed, operations, WalkWay::undoLog, &states, &counts);
}

}  // namespace

TEST(RefreshReference, SearchMakeAndUnmakeMatchPlacementAndRemoval) {
    struct Case {
        int rule, width, height, ops;
    };
    const Case cases[] = {
        {ruleFreestyle, 15, 15, 400}, {ruleStandard, 15, 15, 400}, {ruleRenju, 15, 15, 400},
        {ruleRenju, 24, 24, 300},     {ruleStandard, 20, 13, 300}, {ruleFreestyle, 7, 19, 200},
        {ruleRenju, 6, 6, 80},
    };
    WalkCounts counts;
    uint64_t seed = 77;
    for (const Case& c : cases) {
        for (int round = 0; round < 3; ++round) {
            compareWalks(c.rule, c.width, c.height, seed++, c.ops, counts);
            if (HasFatalFailure()) return;
        }
    }
    // Both ways of taking a make back were exercised.
    EXPECT_GT(counts.copiedBack, counts.unmakes / 5);
    EXPECT_LT(counts.copiedBack, counts.unmakes);
}

TEST(RefreshReference, FullAndLightUpdatesMatchThePlainRefresh) {
    struct Case {
        int rule, width, height, ops;
    };
    const Case cases[] = {
        {ruleFreestyle, 15, 15, 300}, {ruleStandard, 15, 15, 300}, {ruleRenju, 15, 15, 300},
        {ruleFreestyle, 24, 24, 250}, {ruleStandard, 24, 24, 250}, {ruleRenju, 24, 24, 250},
        {ruleRenju, 20, 13, 200},     {ruleStandard, 7, 19, 150},  {ruleFreestyle, 24, 5, 150},
        {ruleRenju, 6, 6, 60},
    };
    uint64_t seed = 2024;
    for (const Case& c : cases) {
        for (int round = 0; round < 3; ++round) {
            randomGame(c.rule, c.width, c.height, seed++, c.ops);
            if (HasFatalFailure()) return;
        }
    }
}
