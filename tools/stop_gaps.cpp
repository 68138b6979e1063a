// zorvan-stop-gaps: how long the engine runs without looking at the stop flag.
//
// A stop request, or a budget running out, is noticed only at a stop test; the
// time between two tests is time in which the engine cannot react. This tool
// measures it on the bench positions in two ways, per position and per rule:
//
//   search  the bench's fixed-depth iterative deepening of the root search
//           (no clock, so the same tree as the bench signature);
//   think   a whole think at a move time (default 1000 ms), as the think
//           thread runs it: the pre-search work, the safety pass, the
//           deepening and the answer.
//
// For each it prints the longest interval between two stop tests and, for a
// think, the stretch from the command to the first stop test and from the
// last one to the move. It needs the instrumented engine library
// (ZORVAN_STOP_GAPS); tools/stop_gaps.sh builds and runs it.
//
//   zorvan-stop-gaps [positions-file] [think-ms]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "protocol/main_loop.h"
#include "protocol/position_commands.h"
#include "search/node_search.h"
#include "search/think_driver.h"
#include "search/transposition.h"
#include "tools/bench_positions.h"

#ifndef ZORVAN_STOP_GAPS
#error "zorvan-stop-gaps needs the instrumented engine (build it with tools/stop_gaps.sh)"
#endif

namespace {

void resetGaps() { stopGaps = StopGaps{0, 0, 0, 0}; }

struct Gaps {
    double longestMs = 0;  // between two stop tests
    double firstMs = 0;    // from the start to the first test
    double lastMs = 0;     // from the last test to the end
    int64_t tests = 0;
};

Gaps gapsSince(int64_t startUs, int64_t endUs) {
    Gaps g;
    g.tests = stopGaps.tests;
    g.longestMs = stopGaps.longestUs / 1000.0;
    if (stopGaps.tests > 0) {
        g.firstMs = (stopGaps.firstTestUs - startUs) / 1000.0;
        g.lastMs = (endUs - stopGaps.lastTestUs) / 1000.0;
    } else {
        g.firstMs = g.lastMs = (endUs - startUs) / 1000.0;
    }
    return g;
}

// The bench's own preparation and fixed-depth deepening, unlimited budget.
Gaps searchLikeTheBench(const BenchPosition& p) {
    setBenchGeometry(p);
    buildEngineTables();
    resetBoard();
    engine.builtForRule = p.rule;
    enterBenchMoves(p);
    clearHashTables();
    clearTriedStamps();
    const int side = engine.moveCount % 2 + 1;
    startFixedDepthSearch(engine.searchMode);
    resetGaps();
    const int64_t start = nowUs();
    for (int d = 1; d <= p.depth; ++d) {
        const int32_t v = searchIteration(d, side);
        if (v >= mateThreshold || v <= -mateThreshold) break;
    }
    return gapsSince(start, nowUs());
}

// A new game with the position's moves, then one think at `thinkMs`.
Gaps thinkAtMoveTime(const BenchPosition& p, int thinkMs, std::string& out) {
    out.clear();
    engine.requestedRule.store(p.rule);
    engine.rule = p.rule;
    engine.boardWidth = p.width;
    engine.boardHeight = p.height;
    startGame();
    for (const StonePoint& m : p.moves) playOpponentMove(m.x, m.y);
    engine.timeout_turn.store(thinkMs);
    engine.time_left.store(1000000000);
    engine.stopRequested.store(0);
    resetGaps();
    const int64_t start = nowUs();
    startThinkClock();
    thinkDriver();
    return gapsSince(start, nowUs());
}

struct RuleSummary {
    double searchLongest = 0;
    double thinkLongest = 0;
    double thinkFirst = 0;
    double thinkLast = 0;
};

void keepMax(double& kept, double v) {
    if (v > kept) kept = v;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : "tools/bench_positions.txt";
    const int thinkMs = argc > 2 ? std::atoi(argv[2]) : 1000;
    std::string error;
    const std::optional<std::vector<BenchPosition>> set = readBenchPositions(path, error);
    if (!set) {
        std::printf("%s\n", error.c_str());
        return 2;
    }
    const std::vector<BenchPosition>& positions = *set;
    initEngineState();
    prepareHashTablesAtStartUp();
    std::string out;
    setOutputCapture(&out);

    RuleSummary rules[3];
    std::printf("%-18s %4s | %-22s | %-34s\n", "position", "rule", "search: longest ms tests",
                "think: longest  first  last  tests");
    for (const BenchPosition& p : positions) {
        const Gaps s = searchLikeTheBench(p);
        const Gaps t = thinkAtMoveTime(p, thinkMs, out);
        std::printf("%-18s %4d | %8.2f %12lld | %8.2f %6.2f %5.2f %7lld\n", p.name.c_str(), p.rule,
                    s.longestMs, static_cast<long long>(s.tests), t.longestMs, t.firstMs, t.lastMs,
                    static_cast<long long>(t.tests));
        std::fflush(stdout);
        RuleSummary& r = rules[p.rule];
        keepMax(r.searchLongest, s.longestMs);
        keepMax(r.thinkLongest, t.longestMs);
        keepMax(r.thinkFirst, t.firstMs);
        keepMax(r.thinkLast, t.lastMs);
    }
    setOutputCapture(nullptr);
    const char* names[3] = {"freestyle", "standard", "renju"};
    std::printf(
        "\nper rule (ms): search longest | think longest, command to first test, "
        "last test to move\n");
    for (int r = 0; r < 3; ++r) {
        std::printf("%-10s %8.2f | %8.2f %8.2f %8.2f\n", names[r], rules[r].searchLongest,
                    rules[r].thinkLongest, rules[r].thinkFirst, rules[r].thinkLast);
    }
    return 0;
}
