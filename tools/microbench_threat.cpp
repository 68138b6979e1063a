// Speed of the threat-sequence search, 64- and 32-bit alike.
//
// Part one: nodes per second over game-like positions from a fixed generator,
// both sides searched in each, for a fixed time per rule. The threat tables
// stay filled between positions as they do in a game.
//
// Part two: the time to prove each forced win of a test set: the walled
// chains of one to four fours under every rule, and the first positions of
// the generator in which the side to move has a win by fours. Each proof is
// repeated many times; so that the tables never answer from an earlier
// repetition, the position key is salted for the length of every run (the
// trial stones only ever XOR into it, so the salt comes off unchanged).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "protocol/main_loop.h"
#include "rules/threat_search.h"
#include "search/transposition.h"

namespace {

constexpr int64_t msPerRule = 1500;
constexpr int proofRepeats = 400;
constexpr int randomProofs = 6;

int64_t nowNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

uint32_t nextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

void newBoard(int rule, int size) {
    initEngineState();
    engine.hashClearedForRule = rule;  // the tables keep their entries across boards
    engine.rule = rule;
    engine.boardWidth = size;
    engine.boardHeight = size;
    engine.boardSize = size;
    engine.updateRadius = rule == ruleFreestyle ? 4 : 5;
    buildEngineTables();
    resetBoard();
    engine.iterationDepth = 1;
    engine.turnBudget = 1000000000;
    engine.searchStart = nowMs();
}

// A game-like position: stones alternate from black, drawn around the centre,
// never on a point that would give the mover an open three or more.
void randomPosition(int rule, uint32_t seed, int stones) {
    if (engine.rule == rule && engine.boardSize == 15 && engine.boardWidth == 15) {
        resetBoard();
        engine.iterationDepth = 1;
    } else {
        newBoard(rule, 15);
    }
    uint32_t state = seed;
    int placed = 0;
    int draws = 0;
    while (placed < stones && draws < 10000) {
        ++draws;
        const int x = 3 + static_cast<int>(nextRandom(state) % 9);
        const int y = 3 + static_cast<int>(nextRandom(state) % 9);
        const int colour = placed % 2 == 0 ? black : white;
        if (engine.cells[x][y] != empty) continue;
        // No stone makes an open three or more: no side starts with a five or
        // an open four to play, so every search has to find its fours.
        bool threat = false;
        for (int g : {groupFive, groupOpenFour, groupFour, groupOpenThree}) {
            threat = threat || ((engine.rowMask[g][colour - 1][x] >> y) & 1);
        }
        if (threat) continue;
        placeStone(x, y, colour);
        ++placed;
    }
}

// Walled chain of k fours for the attacker (see the unit tests for the shape):
// corridors S1..Sk and the closing six-cell line T.
void chainPosition(int rule, int size, int k, int attacker, int dx, int dy) {
    newBoard(rule, size);
    static bool open[24][24];
    std::memset(open, 0, sizeof open);
    struct P {
        int x, y;
    };
    const P m[5] = {{0, 0}, {1, 5}, {4, 5}, {4, 8}, {7, 8}};
    const P step[5] = {{0, 1}, {1, 0}, {0, 1}, {1, 0}, {0, 1}};
    P stones[16];
    int count = 0;
    for (int i = 1; i <= 5; ++i) open[1][i] = true;
    for (int i = 1; i <= 3; ++i) stones[count++] = {1, i};
    for (int i = 2; i <= k; ++i) {
        for (int j = 0; j < 5; ++j) {
            open[m[i - 1].x + j * step[i - 1].x][m[i - 1].y + j * step[i - 1].y] = true;
        }
        for (int j = 1; j <= 2; ++j) {
            stones[count++] = {m[i - 1].x + j * step[i - 1].x, m[i - 1].y + j * step[i - 1].y};
        }
    }
    for (int j = -1; j <= 4; ++j) open[m[k].x + j * step[k].x][m[k].y + j * step[k].y] = true;
    for (int j = 1; j <= 2; ++j) stones[count++] = {m[k].x + j * step[k].x, m[k].y + j * step[k].y};
    for (int x = 0; x < size; ++x) {
        for (int y = 0; y < size; ++y) {
            if (x < dx || y < dy || !open[x - dx][y - dy]) placeStone(x, y, wall);
        }
    }
    for (int i = 0; i < count; ++i) placeStone(stones[i].x + dx, stones[i].y + dy, attacker);
}

// Runs the proof proofRepeats times with fresh keys; prints the median time.
void timeProof(const char* name, int side) {
    static int64_t samples[proofRepeats];
    const uint64_t realKey = engine.hashKey;
    int32_t value = 0;
    int64_t nodes = 0;
    static uint32_t salt = 12345;  // never repeats a key across proofs
    for (int r = 0; r < proofRepeats; ++r) {
        engine.hashKey = realKey ^ (uint64_t{nextRandom(salt)} << 32 | nextRandom(salt));
        const int64_t nodesBefore = engine.nodeCount;
        const int64_t start = nowNs();
        value = threatSearch(0, side, 0, 0);
        samples[r] = nowNs() - start;
        nodes = engine.nodeCount - nodesBefore;
    }
    engine.hashKey = realKey;
    std::sort(samples, samples + proofRepeats);
    printLine("  %-34s value %d, %lld nodes, %.2f us", name, value, static_cast<long long>(nodes),
              static_cast<double>(samples[proofRepeats / 2]) / 1000.0);
}

const char* ruleName(int rule) {
    return rule == ruleFreestyle ? "freestyle" : rule == ruleStandard ? "standard" : "renju";
}

}  // namespace

int main() {
    printLine("threat search, %d-bit build", static_cast<int>(sizeof(void*) * 8));

    // Part one: node rate.
    for (int rule : {ruleFreestyle, ruleStandard, ruleRenju}) {
        int64_t nodes = 0;
        int64_t ns = 0;
        int positions = 0;
        int wins = 0;
        uint32_t seed = 1000;
        const int64_t until = nowMs() + msPerRule;
        while (nowMs() < until) {
            randomPosition(rule, seed, 30 + static_cast<int>(seed % 40));
            ++seed;
            for (int side : {black, white}) {
                const int64_t before = engine.nodeCount;
                const int64_t start = nowNs();
                wins += threatSearch(0, side, 0, 0) > 0;
                ns += nowNs() - start;
                nodes += engine.nodeCount - before;
            }
            ++positions;
        }
        ns = std::max<int64_t>(ns, 1);
        printLine("%-9s %d positions, %d wins, %lld nodes: %lld nodes/s", ruleName(rule), positions,
                  wins, static_cast<long long>(nodes),
                  static_cast<long long>(nodes * 1000000000 / ns));
    }

    // Part two: time to prove.
    printLine("proofs (median of %d):", proofRepeats);
    static char name[64];
    for (int rule : {ruleFreestyle, ruleStandard, ruleRenju}) {
        clearHashTables();  // as the engine does when the rule changes
        for (int k = 1; k <= 4; ++k) {
            chainPosition(rule, 15, k, black, 0, 0);
            std::snprintf(name, sizeof name, "%s 15x15 chain of %d", ruleName(rule), k);
            timeProof(name, black);
        }
        chainPosition(rule, 20, 4, white, 8, 7);
        std::snprintf(name, sizeof name, "%s 20x20 chain of 4, white", ruleName(rule));
        timeProof(name, white);
    }
    for (int rule : {ruleFreestyle, ruleRenju}) {
        clearHashTables();
        int found = 0;
        for (uint32_t seed = 1; seed < 5000 && found < randomProofs; ++seed) {
            const int stones = 20 + static_cast<int>(seed % 40);
            randomPosition(rule, seed, stones);
            const int toMove = engine.stoneCount % 2 == 0 ? black : white;
            // Wins of two fours or more.
            const int32_t v = threatSearch(0, toMove, 0, 0);
            if (v <= 0 || v > winValue + maxPoints - 4) continue;
            ++found;
            std::snprintf(name, sizeof name, "%s seed %u, %d stones", ruleName(rule), seed,
                          engine.stoneCount);
            timeProof(name, toMove);
        }
    }
    return 0;
}
