// zorvan-microbench-make-unmake: placeStone + removeStone pairs per second,
// and the search's own makeMove + unmakeMove pairs, which copy the saved
// records back instead of refreshing a second time.
//
// The position is a middle game of 36 stones grown around the centre of a
// 15 x 15 board (fixed seed, no five on the board), the moves tried are the
// empty points within two steps of a stone, as the searches generate them,
// and the side to move plays each of them and takes it back. Run for every
// rule, because the standard and Renju rules refresh five points each way
// instead of four and run the exact-five corrections. Time is the thread's CPU
// time, so the figures hold on a machine shared with other work.
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"

namespace {

double cpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

constexpr int positionStones = 36;
constexpr int boardSide = 15;

uint32_t nextRandom(uint32_t& s) {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
}

void buildPosition(int rule) {
    initEngineState();
    engine.rule = rule;
    engine.boardWidth = boardSide;
    engine.boardHeight = boardSide;
    engine.boardSize = boardSide;
    engine.updateRadius = rule == ruleFreestyle ? 4 : 5;
    buildEngineTables();
    resetBoard();
    uint32_t seed = 2024;
    placeStone(7, 7, black);
    while (engine.stoneCount < positionStones) {
        const StonePoint& s = engine.stoneList[nextRandom(seed) % engine.stoneCount];
        int x = s.x + static_cast<int>(nextRandom(seed) % 5) - 2;
        int y = s.y + static_cast<int>(nextRandom(seed) % 5) - 2;
        int side = engine.stoneCount % 2 + 1;
        if (!onBoard(x, y) || engine.cells[x][y] != empty) continue;
        // Keep the game open: no five and no open four for either side.
        if (engine.dirMask[groupFive][side - 1][x][y] != 0 ||
            engine.dirMask[groupOpenFour][side - 1][x][y] != 0) {
            continue;
        }
        placeStone(x, y, side);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    static const char* ruleNames[3] = {"freestyle", "standard", "renju"};
    std::printf("make/unmake pairs per CPU second, %d stones on %dx%d, %zu-bit build\n",
                positionStones, boardSide, boardSide, sizeof(void*) * 8);
    for (int rule = 0; rule < 3; ++rule) {
        buildPosition(rule);
        if (!checkBoardConsistency()) {
            std::printf("board inconsistent after the set-up\n");
            return 1;
        }
        int candX[maxPoints], candY[maxPoints];
        int count = 0;
        for (int x = 0; x < boardSide; ++x) {
            for (int y = 0; y < boardSide; ++y) {
                if (engine.cells[x][y] != empty) continue;
                bool near = false;
                for (int dx = -2; dx <= 2 && !near; ++dx)
                    for (int dy = -2; dy <= 2 && !near; ++dy)
                        near = onBoard(x + dx, y + dy) && (engine.cells[x + dx][y + dy] == black ||
                                                           engine.cells[x + dx][y + dy] == white);
                if (near) {
                    candX[count] = x;
                    candY[count] = y;
                    ++count;
                }
            }
        }
        const int side = engine.stoneCount % 2 + 1;
        // Pairs per CPU second of one way of playing and taking back.
        auto rate = [&](void (*put)(int, int, int), void (*take)(int, int, int), uint64_t& sink) {
            const double start = cpuSeconds();
            int64_t pairs = 0;
            double elapsed = 0;
            while (elapsed < seconds) {
                for (int rep = 0; rep < 100; ++rep) {
                    for (int i = 0; i < count; ++i) {
                        put(candX[i], candY[i], side);
                        sink += static_cast<uint64_t>(engine.valueTotal[0]);
                        take(candX[i], candY[i], side);
                    }
                }
                pairs += 100 * count;
                elapsed = cpuSeconds() - start;
            }
            return pairs / elapsed;
        };
        uint64_t sink = 0;
        const double refreshing = rate(placeStone, removeStone, sink);
        const double copying = rate(makeMove, unmakeMove, sink);
        if (!checkBoardConsistency()) {
            std::printf("board inconsistent after the run\n");
            return 1;
        }
        std::printf(
            "%-9s %3d candidates  place/remove %10.0f pairs/s (%.1f ns)  "
            "make/unmake %10.0f pairs/s (%.1f ns)  [%llu]\n",
            ruleNames[rule], count, refreshing, 1e9 / refreshing, copying, 1e9 / copying,
            static_cast<unsigned long long>(sink % 10));
    }
    return 0;
}
