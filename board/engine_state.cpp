#include "board/engine_state.h"

#include <chrono>
#include <cstring>

#ifdef ZORVAN_STOP_GAPS
#include <ctime>
#endif

// Zero-initialised storage; the few start-up values are set by initEngineState
// so the record stays in the zero segment instead of the binary image.
EngineState engine;

void initEngineState() {
    engine.boardWidth = 0;
    engine.boardHeight = 0;
    engine.boardSize = 15;
    engine.updateRadius = 4;
    engine.rule = ruleFreestyle;
    engine.requestedRule.store(ruleFreestyle);
    engine.timeout_turn.store(30000);
    engine.time_left.store(1000000000);
    engine.max_depth.store(0);
    engine.max_node.store(0);
    engine.show_detail.store(0);
    engine.search.store(searchDefault);
    engine.depthLimit = 0;
    engine.nodeLimit = 0;
    engine.showDetail = false;
    engine.searchMode = searchDefault;
    engine.moveCount = 0;
    engine.blockedCount = 0;
    engine.builtForRule = -1;
    engine.builtForSearch = searchDefault;
    engine.firstBuildPending = true;
    engine.thinkCommand = 0;
    engine.stopRequested.store(0);
    engine.turnBudget = 10000;
    engine.hashClearedForRule = -1;
}

void prefaultEngineState() {
    std::memset(engine.moveLists, 0, sizeof engine.moveLists);
    std::memset(engine.triedStamps, 0, sizeof engine.triedStamps);
    std::memset(engine.windowTable, 0, sizeof engine.windowTable);
    std::memset(engine.windowCodes, 0, sizeof engine.windowCodes);
    std::memset(engine.comboTable, 0, sizeof engine.comboTable);
    std::memset(engine.comboFlags, 0, sizeof engine.comboFlags);
    std::memset(engine.patterns, 0, sizeof engine.patterns);
    std::memset(engine.dirMask, 0, sizeof engine.dirMask);
    std::memset(engine.undoRecords, 0, sizeof engine.undoRecords);
    std::memset(engine.undoPointIndex, 0, sizeof engine.undoPointIndex);
    std::memset(engine.maskUndo, 0, sizeof engine.maskUndo);
}

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

#ifdef ZORVAN_STOP_GAPS
StopGaps stopGaps;

// CPU time of the calling thread: the work done between two tests, without the
// time the thread spent waiting for a core on a busy machine.
int64_t nowUs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}
#endif

bool searchShouldStop() {
#ifdef ZORVAN_STOP_GAPS
    const int64_t now = nowUs();
    if (stopGaps.tests++ == 0) {
        stopGaps.firstTestUs = now;
    } else if (now - stopGaps.lastTestUs > stopGaps.longestUs) {
        stopGaps.longestUs = now - stopGaps.lastTestUs;
    }
    stopGaps.lastTestUs = now;
#endif
    return engine.turnBudget <= nowMs() - engine.searchStart + 30 ||
           (engine.nodeLimit > 0 && engine.nodeCount >= engine.nodeLimit) ||
           engine.stopRequested.load(std::memory_order_relaxed) > 0;
}
