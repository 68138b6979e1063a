// zorvan-bench: the engine's deterministic regression signature.
//
// Every position of a fixed set is searched by iterative deepening of the
// root search, from depth 1 to the depth given with the position, with the
// same preparation a think makes (tables built for the rule, killers cleared
// before every iteration) but without a clock: the budget is unlimited and no
// stop can arrive, so the node count depends on nothing but the code. The
// total node count is the signature; a change of it means the search now
// visits a different tree. The 32-bit and the 64-bit builds must print the
// same signature, which checks that the search stays in exact integer
// arithmetic.
//
// The positions are data (bench_positions.txt next to this file, or the path
// given as an argument), in the format tools/bench_positions.h reads.
//
//   zorvan-bench [positions] [--repeat N] [--search classic|default]
//
// --search chooses the search as INFO search does (default: the default
// search). The classic search has its own signature, which must never move:
// it is the engine as it always played. Today the default search is
// still the classic one, so both print the same signature.
//
// --repeat N searches the whole set N times (a longer, steadier speed
// figure); every pass must visit exactly the nodes of the first, and the
// signature stays the node count of one pass. The speed lines count search
// time only: "nps" by the clock, "cpu nps" by the processor time the bench
// was given, which a busy machine disturbs far less. The set-up of the
// positions (table build, board build, table clears) is timed on a line of its
// own, so neither hides the other.
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "protocol/main_loop.h"
#include "search/node_search.h"
#include "search/transposition.h"
#include "tools/bench_positions.h"

namespace {

std::string defaultPositionsPath() {
    std::string source = __FILE__;
    size_t slash = source.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : source.substr(0, slash);
    return dir + "/bench_positions.txt";
}

int64_t nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// Set-up time by phase, summed over every position and pass.
struct SetUpTimes {
    int64_t tablesUs = 0;
    int64_t boardUs = 0;
    int64_t clearsUs = 0;
};

// The board build of a game: rule, sizes, tables, empty board, the moves in
// order with alternating colours, and the game record that ages the table.
void setUpPosition(const BenchPosition& p, SetUpTimes& times) {
    const int64_t start = nowUs();
    setBenchGeometry(p);
    buildEngineTables();
    const int64_t tablesDone = nowUs();
    // The tables are cleared below for every position; the reset need not
    // clear them a second time when the rule changes.
    engine.hashClearedForRule = p.rule;
    resetBoard();
    engine.builtForRule = p.rule;
    enterBenchMoves(p);
    const int64_t boardDone = nowUs();
    clearHashTables();
    clearTriedStamps();
    const int64_t clearsDone = nowUs();
    times.tablesUs += tablesDone - start;
    times.boardUs += boardDone - tablesDone;
    times.clearsUs += clearsDone - boardDone;
}

struct BenchResult {
    int depth;
    int64_t nodes;
    int bestX;
    int bestY;
    int32_t value;
    int64_t us;
    std::clock_t cpu;
};

BenchResult searchPosition(const BenchPosition& p, int searchMode) {
    const int side = engine.moveCount % 2 + 1;
    engine.bestMove[0] = -1;
    engine.bestMove[1] = -1;
    const int64_t start = nowUs();
    const std::clock_t cpuStart = std::clock();
    startFixedDepthSearch(searchMode);
    BenchResult r{0, 0, -1, -1, 0, 0, 0};
    for (int d = 1; d <= p.depth; ++d) {
        const int32_t v = searchIteration(d, side);
        r.depth = d;
        r.value = v;
        if (v >= mateThreshold || v <= -mateThreshold) break;
    }
    r.nodes = engine.nodeCount;
    r.bestX = engine.bestMove[0];
    r.bestY = engine.bestMove[1];
    r.us = nowUs() - start;
    r.cpu = std::clock() - cpuStart;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = defaultPositionsPath();
    int repeat = 1;
    int searchMode = searchDefault;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--search" && i + 1 < argc) {
            const std::string mode = argv[++i];
            if (mode != "classic" && mode != "default") {
                printLine("--search takes classic or default");
                return 2;
            }
            searchMode = mode == "classic" ? searchClassic : searchDefault;
        } else if (arg == "--repeat" && i + 1 < argc) {
            repeat = std::atoi(argv[++i]);
            if (repeat < 1) {
                printLine("--repeat needs a count of at least 1");
                return 2;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            printLine("usage: zorvan-bench [positions] [--repeat N] [--search classic|default]");
            return 2;
        } else {
            path = arg;
        }
    }
    std::string error;
    const std::optional<std::vector<BenchPosition>> set = readBenchPositions(path, error);
    if (!set) {
        printLine("%s", error.c_str());
        return 2;
    }
    const std::vector<BenchPosition>& positions = *set;

    initEngineState();
    // Before any table is built: the two searches evaluate with their own
    // combination values.
    engine.searchMode = searchMode;
    // As the engine does before its first command: allocate and clear the
    // tables once, so that no position's set-up pays the first touch of them.
    const int64_t startUpBegin = nowUs();
    prepareHashTablesAtStartUp();
    const int64_t startUpUs = nowUs() - startUpBegin;
    int64_t passNodes = 0;
    int64_t totalNodes = 0;
    int64_t searchUs = 0;
    double searchCpu = 0;
    SetUpTimes setUp;
    for (int pass = 0; pass < repeat; ++pass) {
        int64_t nodes = 0;
        for (const BenchPosition& p : positions) {
            setUpPosition(p, setUp);
            if (!hashTablesReady()) {
                printLine("the hash tables could not be allocated");
                return 2;
            }
            const BenchResult r = searchPosition(p, searchMode);
            nodes += r.nodes;
            searchUs += r.us;
            searchCpu += static_cast<double>(r.cpu) / CLOCKS_PER_SEC;
            if (pass == 0) {
                printLine("%-18s depth %2d nodes %10lld best %d,%d value %d ms %lld",
                          p.name.c_str(), r.depth, static_cast<long long>(r.nodes), r.bestX,
                          r.bestY, r.value, static_cast<long long>(r.us / 1000));
            }
        }
        if (pass == 0) {
            passNodes = nodes;
        } else if (nodes != passNodes) {
            // The search must depend on nothing but the position: a pass that
            // differs means state leaked from one search into the next.
            printLine("pass %d searched %lld nodes, the first %lld", pass + 1,
                      static_cast<long long>(nodes), static_cast<long long>(passNodes));
            return 1;
        }
        totalNodes += nodes;
    }
    const int64_t setUpUs = setUp.tablesUs + setUp.boardUs + setUp.clearsUs;
    printLine("nodes %lld", static_cast<long long>(passNodes));
    if (repeat > 1)
        printLine("passes %d searched nodes %lld", repeat, static_cast<long long>(totalNodes));
    printLine("search ms %lld", static_cast<long long>(searchUs / 1000));
    printLine("nps %lld", static_cast<long long>(totalNodes * 1000000 / (searchUs + 1)));
    printLine("cpu nps %lld", static_cast<long long>(totalNodes / (searchCpu + 1e-6)));
    printLine("setup ms %lld (tables %lld, board %lld, clears %lld; start-up %lld)",
              static_cast<long long>(setUpUs / 1000), static_cast<long long>(setUp.tablesUs / 1000),
              static_cast<long long>(setUp.boardUs / 1000),
              static_cast<long long>(setUp.clearsUs / 1000),
              static_cast<long long>(startUpUs / 1000));
    printLine("signature %lld", static_cast<long long>(passNodes));
    return 0;
}
