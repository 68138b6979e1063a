// Speed of the threat-space search (wins by threes and fours), 64- and 32-bit
// alike.
//
// Game-like positions from a fixed generator, each searched for the side to
// move with the usual request (six threes, 200000 nodes), per rule: positions,
// wins found, budgets spent, nodes and nodes per second. The last line is a
// checksum of every result (status, move, plies, nodes), which must be the
// same on both word sizes: the search is integer-only and its order fixed.
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "protocol/main_loop.h"
#include "rules/threat_space_search.h"

namespace {

constexpr int positionsPerRule = 40;

int64_t nowNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

uint32_t nextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

void newBoard(int rule) {
    initEngineState();
    engine.hashClearedForRule = rule;
    engine.rule = rule;
    engine.boardWidth = 15;
    engine.boardHeight = 15;
    engine.boardSize = 15;
    engine.updateRadius = rule == ruleFreestyle ? 4 : 5;
    buildEngineTables();
    resetBoard();
    engine.iterationDepth = 1;
    engine.turnBudget = 1000000000;
    engine.searchStart = nowMs();
}

// Stones alternate from black around the centre, never on a point that would
// give the mover a four or more, so no position starts won. Returns the side
// to move.
int randomPosition(uint32_t seed, int stones) {
    resetBoard();
    uint32_t state = seed;
    int placed = 0;
    for (int draws = 0; placed < stones && draws < 10000; ++draws) {
        const int x = 3 + static_cast<int>(nextRandom(state) % 9);
        const int y = 3 + static_cast<int>(nextRandom(state) % 9);
        const int colour = placed % 2 == 0 ? black : white;
        if (engine.cells[x][y] != empty) continue;
        bool threat = false;
        for (int g : {groupFive, groupOpenFour, groupFour}) {
            threat = threat || ((engine.rowMask[g][colour - 1][x] >> y) & 1);
        }
        if (threat) continue;
        placeStone(x, y, colour);
        ++placed;
    }
    return placed % 2 == 0 ? black : white;
}

const char* ruleName(int rule) {
    return rule == ruleFreestyle ? "freestyle" : rule == ruleStandard ? "standard" : "renju";
}

}  // namespace

int main() {
    printLine("threat-space search, %d-bit build", static_cast<int>(sizeof(void*) * 8));
    uint64_t checksum = 0;
    for (int rule : {ruleFreestyle, ruleStandard, ruleRenju}) {
        newBoard(rule);
        int wins = 0;
        int spent = 0;
        int64_t nodes = 0;
        int64_t ns = 0;
        for (int i = 0; i < positionsPerRule; ++i) {
            const int side =
                randomPosition(1000u * static_cast<uint32_t>(rule) + 7u * i, 16 + i % 20);
            VctResult r;
            const int64_t start = nowNs();
            threatSpaceSearch(vctDefaultRequest(side), r);
            ns += nowNs() - start;
            nodes += r.nodes;
            wins += r.status == vctWin;
            spent += r.status == vctBudgetSpent;
            checksum =
                checksum * 1000003u + static_cast<uint64_t>(r.status * 1000000 + r.moveX * 10000 +
                                                            r.moveY * 100 + r.plies);
            checksum = checksum * 1000003u + static_cast<uint64_t>(r.nodes);
        }
        printLine("%-9s %d positions, %d wins, %d budgets spent, %lld nodes, %lld nodes/s",
                  ruleName(rule), positionsPerRule, wins, spent, static_cast<long long>(nodes),
                  static_cast<long long>(ns > 0 ? nodes * 1000000000 / ns : 0));
    }
    printLine("checksum %016llx", static_cast<unsigned long long>(checksum));
    return 0;
}
