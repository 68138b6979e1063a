// Root search: one iteration of the think, from the position on the board.
//
// The root is a node like any other, with the same staged moves, penalties,
// extensions and principal-variation searches of its children; only its
// duties differ. It must name a move, so it never takes a table cut-off, a
// threat-search answer or a static prune in place of searching: all of them
// would return a value without a move. It must hand the think a value the
// think can act on, so values are capped: a win found below the root is
// returned as at most iterationDepth + 9999999, which the think can tell from
// the five or open four the root itself sees (those return 10000000 + depth
// uncapped). And it must survive a stop: once two root moves are finished,
// an aborted iteration still yields the better of the finished moves, and
// that partial value is never 0, which is how the think recognises an
// iteration to throw away.
//
// The root stores with the overwriting store: its entry describes the
// iteration just finished and must replace whatever an earlier, shallower
// iteration left in the same slot.
#include "search/root_search.h"

#include <algorithm>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "rules/evaluation.h"
#include "search/node_search.h"
#include "search/transposition.h"

namespace {

// Values the root tracks besides the node frame.
struct RootBounds {
    int32_t cap;     // highest value a non-immediate result may have
    int32_t lowCap;  // lowest
    int nonLosing;   // moves whose value is not a proven loss
};

void publishBestMove(const SearchFrame& f) {
    engine.bestMove[0] = f.keptX[0];
    engine.bestMove[1] = f.keptY[0];
}

// Result of an iteration stopped after its first two moves: the best of the
// finished moves, never 0.
int32_t partialResult(SearchFrame& f, const RootBounds& r) {
    publishBestMove(f);
    int32_t alpha = std::min(f.alpha, r.cap);
    int32_t best = f.best;
    if (best != noBest) {
        best = std::max(std::min(best, r.cap), r.lowCap);
        if (best == 0) best = 1;
    }
    if (alpha == 0) alpha = 1;
    return best != noBest ? best : alpha;
}

enum class RootLoopEnd { stagesGoOn, rootReturns, rootFinishes };

RootLoopEnd searchRootStage(SearchFrame& f, RootBounds& r, int stage, int count, int32_t* result) {
    ScoredMove* list = engine.moveLists[f.ply];
    const int firstNumber = f.listed - count;
    for (int i = 0; i < count; ++i) {
        const int x = list[i].x;
        const int y = list[i].y;
        const int moveNumber = firstNumber + i;
        const int w = engine.patterns[x][y].lineValueSum[f.side - 1];
        prefetchChild(f, x, y);
        int extension = 0;
        const int32_t penalty = threatPenalty(f, x, y, &extension);

        makeMove(x, y, f.side);
        int32_t v = 0;
        if (threatExtension(f, w, &extension)) {
            v = searchChild(f, moveNumber, penalty, f.ext + extension);
        }
        unmakeMove(x, y, f.side);
        if (engine.searchAborted) {
            // The first two moves decide too little: the think drops the
            // iteration. Later ones leave a usable choice.
            *result = moveNumber < 2 ? 0 : partialResult(f, r);
            return RootLoopEnd::rootReturns;
        }

        if (v >= -8999999) ++r.nonLosing;
        f.best = std::max(f.best, v);
        keepMove(f, x, y, v);
        if (v >= f.beta) {
            if (quietPoint(x, y)) updateKillers(f, x, y);
            storeEntryAlways(f.effDepth, v, 2, f.side, f.keptX, f.keptY);
            publishBestMove(f);
            engine.singleRootMove = r.nonLosing == 1 ? 1 : 0;
            *result = std::min(f.beta, r.cap);
            return RootLoopEnd::rootReturns;
        }
        if (v > f.alpha) {
            f.alpha = v;
            f.bound = 3;
        } else if (pruneByCount(f, stage, moveNumber, extension)) {
            return RootLoopEnd::rootFinishes;
        }
    }
    return RootLoopEnd::stagesGoOn;
}

}  // namespace

int32_t searchRoot(int depth, int32_t alpha, int32_t beta, int side, int ext) {
    // Entry checks shared with every node: abort test, five, forced block,
    // open four. Wins are returned uncapped.
    if (countNodeAndCheckAbort()) return 0;
    // Every node probes and stores; without the tables no search may run, and
    // an aborted iteration is what the think already knows how to drop.
    if (!hashTablesReady()) {
        engine.searchAborted = 1;
        return 0;
    }
    if (!groupEmpty(groupFive, side)) return winValue + depth;
    SearchFrame f;
    initFrame(f, depth, alpha, beta, side, ext);
    f.root = true;
    f.forcedBlock = firstGroupPoint(groupFive, f.opp, f.blockX, f.blockY);
    if (!f.forcedBlock && openFourWins(side)) return winValue + depth;
    if (!plyInRange(f.ply)) return outOfRangeLeaf(depth, side);
    const int noMove[3] = {-1, -1, -1};
    if (!f.forcedBlock && depth + (ext & ~3) / 2 < 1) {
        const int32_t value = evaluatePosition(depth, side);
        storeEntryAlways(f.effDepth, value, 3, side, noMove, noMove);
        return value;
    }

    RootBounds r;
    r.cap = engine.iterationDepth + 9999999;
    r.lowCap = -9999999 - engine.iterationDepth;
    r.nonLosing = 0;

    startPlyGeneration(f.ply);
    int32_t result = 0;
    if (f.forcedBlock) {
        ScoredMove* list = engine.moveLists[f.ply];
        list[0].key = 0;
        list[0].x = static_cast<int16_t>(f.blockX);
        list[0].y = static_cast<int16_t>(f.blockY);
        const int n = filterAndOrder(f, 1, true);
        if (searchRootStage(f, r, stageForcedBlock, n, &result) == RootLoopEnd::rootReturns) {
            return result;
        }
    } else {
        for (int stage = stageTable; stage < stageCount; ++stage) {
            int n = 0;
            if (stage == stageTable) {
                n = generateTableStage(f, &result);
                if (n < 0) return result;
            } else {
                n = generateStage(f, stage);
            }
            n = filterAndOrder(f, n, stage == stageTable);
            const RootLoopEnd end = searchRootStage(f, r, stage, n, &result);
            if (end == RootLoopEnd::rootReturns) return result;
            if (end == RootLoopEnd::rootFinishes || f.defenceOnly) break;
        }
    }

    // End of the iteration.
    publishBestMove(f);
    engine.singleRootMove = r.nonLosing == 1 ? 1 : 0;
    const bool full = f.listed == 0 && boardIsFull();
    const int32_t value = full ? 0 : (f.best != noBest ? f.best : f.alpha);
    storeEntryAlways(f.effDepth, value, f.bound, side, f.keptX, f.keptY);
    const int32_t alphaCapped = std::min(f.alpha, r.cap);
    if (f.best != noBest) return std::max(std::min(f.best, r.cap), r.lowCap);
    if (f.listed > 0) return alphaCapped;
    return full ? 0 : std::max(alphaCapped, -9999998 - depth);
}
