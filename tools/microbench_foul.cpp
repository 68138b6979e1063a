// Speed of the Renju foul test: isForbidden over every empty point of a few
// crowded positions, repeated for a fixed time, in calls per second. The
// positions come from a fixed generator so every run and both word sizes
// measure the same work; the count of forbidden points is printed with them
// as a check that the positions really exercise the trial stones.
#include <algorithm>
#include <cstdint>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "protocol/main_loop.h"
#include "rules/foul_test.h"

namespace {

constexpr int side = 15;
constexpr int64_t msPerPosition = 1000;

struct BenchPosition {
    uint32_t seed;
    int stones;
    int spread;      // stones fall in a square of this side around the centre
    int whiteEvery;  // every n-th stone is white; 2 alternates like a game
};
// The last position is black-heavy, so many points are real candidates for a
// double three or four and pay for the trial stones and the recursion.
constexpr BenchPosition positions[] = {
    {11, 40, 9, 2}, {12, 60, 11, 2}, {13, 80, 11, 2}, {14, 110, 13, 2}, {15, 45, 11, 3}};

uint32_t nextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

void newBoard() {
    initEngineState();
    engine.rule = ruleRenju;
    engine.boardWidth = side;
    engine.boardHeight = side;
    engine.boardSize = side;
    engine.updateRadius = 5;
    buildEngineTables();
    resetBoard();
}

// Colours from black on; a point that is taken is drawn again.
void setUp(const BenchPosition& bp) {
    newBoard();
    uint32_t state = bp.seed;
    const int origin = (side - bp.spread) / 2;
    int placed = 0;
    while (placed < bp.stones) {
        const int x = origin + static_cast<int>(nextRandom(state) % bp.spread);
        const int y = origin + static_cast<int>(nextRandom(state) % bp.spread);
        if (engine.cells[x][y] != empty) continue;
        placeStone(x, y, placed % bp.whiteEvery == bp.whiteEvery - 1 ? white : black);
        ++placed;
    }
}

}  // namespace

int main() {
    int64_t totalCalls = 0;
    int64_t totalMs = 0;
    for (const BenchPosition& bp : positions) {
        setUp(bp);
        int emptyPoints = 0;
        int forbidden = 0;
        for (int x = 0; x < side; ++x) {
            for (int y = 0; y < side; ++y) {
                if (engine.cells[x][y] != empty) continue;
                ++emptyPoints;
                forbidden += isForbidden(x, y);
            }
        }
        int64_t calls = 0;
        const int64_t start = nowMs();
        int64_t elapsed = 0;
        do {
            for (int x = 0; x < side; ++x) {
                for (int y = 0; y < side; ++y) {
                    if (engine.cells[x][y] == empty) isForbidden(x, y);
                }
            }
            calls += emptyPoints;
            elapsed = nowMs() - start;
        } while (elapsed < msPerPosition);
        elapsed = std::max<int64_t>(elapsed, 1);
        totalCalls += calls;
        totalMs += elapsed;
        printLine("position %u: %d stones, %d empty, %d forbidden: %lld calls/s", bp.seed,
                  bp.stones, emptyPoints, forbidden,
                  static_cast<long long>(calls * 1000 / elapsed));
    }
    printLine("all positions: %lld calls/s", static_cast<long long>(totalCalls * 1000 / totalMs));
    return 0;
}
