// The think driver: from "your turn" to a printed move.
//
// A think must always end in a move, and on time, whatever the search manages
// to do. So the driver works from the cheapest certainty to the most costly:
// positions that need no search at all (the empty board, a single forced
// block, a win already proven on the previous move) answer at once; then a
// one-ply pass over every empty point with the static evaluation fixes a move
// that at least does not hand the opponent a five or an open four; only then
// does iterative deepening refine it. Each iteration either finishes, is taken
// as a partial result (the root search finished enough moves to trust), or is
// thrown away, so a stop at any moment still leaves the best move of the last
// trusted iteration in bestMove.
//
// Time. The budget is read once, at the start: INFO may overwrite the settings
// from the main thread at any moment, and a think must not change its mind
// half-way. It is spent from thinkClockStart, the moment the command asking for
// the move was read, because the manager's clock was running from then on:
// waking this thread, a board build, the safety pass all come out of the
// budget. The node search enforces the budget itself (30 ms kept in reserve)
// and the stop request; the driver only decides whether another iteration is
// worth starting: one that begins after a quarter of the budget would rarely
// finish, unless the budget is small against this move's share of the match
// time. Nothing costly runs after the search stops: the speed line, one
// placeStone and the move line.
//
// Analysis. INFO may add a depth and a node limit on top of the clock, and
// ask for a report line per finished iteration. The limits are read once at
// the start, like the budget. The node limit is tested where the clock is,
// every 1024 nodes, so a think it ends stops at the same node on every run;
// the report is printed between iterations and reads the tables without
// searching, so it neither delays nor changes the search.
//
// Memory. The transposition and threat tables are set up at start-up, and a
// failed allocation is retried at every board reset. While it fails, the
// search must not run at all (the probe and store take the tables for
// granted); the safety-pass move is then the answer, which is still a sound
// move.
#include "search/think_driver.h"

#include <cstdint>
#include <cstring>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "protocol/main_loop.h"
#include "protocol/position_commands.h"
#include "rules/evaluation.h"
#include "rules/foul_test.h"
#include "search/root_search.h"
#include "search/search_report.h"
#include "search/transposition.h"

namespace {

// The root window of every iteration: wider than any value the search returns.
constexpr int32_t rootWindow = 100000000;
// A safety-pass move that hands the opponent a five or an unanswerable four.
constexpr int32_t safetyLoss = -9999999;

// Number of points in a threat-point group of a side, up to `limit`.
int countGroupPoints(int group, int side, int limit) {
    int count = 0;
    forEachGroupPoint(group, side, [&](int, int) { return ++count >= limit; });
    return count;
}

bool pointIsBlocked(int x, int y) {
    for (int i = 0; i < engine.blockedCount; ++i) {
        if (engine.blockedPoints[i].x == x && engine.blockedPoints[i].y == y) return true;
    }
    return false;
}

// A point black may not play under Renju.
bool isFoul(int side, int x, int y) {
    return engine.rule == ruleRenju && side == black && isForbidden(x, y) != 0;
}

// An empty point of the board, where a move may go.
bool playablePoint(int x, int y) { return onBoard(x, y) && engine.cells[x][y] == empty; }

// The first empty point in scan order; x and y are left alone on a full board.
void firstEmptyPoint(int32_t& x, int32_t& y) {
    for (int px = 0; px < engine.boardHeight; ++px) {
        for (int py = 0; py < engine.boardWidth; ++py) {
            if (playablePoint(px, py)) {
                x = px;
                y = py;
                return;
            }
        }
    }
}

// Value of playing side at (x, y) looked at one ply deep. The stone is on the
// board while this runs.
int32_t safetyValue(int side, int opponent) {
    if (!groupEmpty(groupFive, opponent)) return safetyLoss;
    if (groupEmpty(groupFive, side) && !groupEmpty(groupOpenFour, opponent)) {
        // Black's open four whose first completion is a foul is no threat in Renju.
        bool fourIsReal = true;
        int fx = 0, fy = 0;
        if (engine.rule == ruleRenju && opponent == black &&
            firstGroupPoint(groupOpenFour, opponent, fx, fy) && isForbidden(fx, fy)) {
            fourIsReal = false;
        }
        if (fourIsReal) return safetyLoss;
    }
    return -evaluatePosition(0, opponent);
}

// The one-ply pass: sets bestMove to the best point in scan order (earliest of
// equals) and returns true when some point was playable. bestMove stays
// (-1, -1) when none is.
bool safetyPass(int side, int opponent) {
    int32_t best = noBest;
    engine.bestMove[0] = -1;
    engine.bestMove[1] = -1;
    const bool blackFouls = engine.rule == ruleRenju && side == black;
    for (int x = 0; x < engine.boardHeight; ++x) {
        for (int y = 0; y < engine.boardWidth; ++y) {
            if (engine.cells[x][y] != empty) continue;
            if (blackFouls && isForbidden(x, y)) continue;
            makeMove(x, y, side);
            int32_t v = safetyValue(side, opponent);
            unmakeMove(x, y, side);
            if (v > best) {
                best = v;
                engine.bestMove[0] = x;
                engine.bestMove[1] = y;
            }
        }
    }
    return best != noBest;
}

// The safety pass's move, for a root that names no playable point.
struct SafetyMove {
    bool anyPoint;  // some point was playable
    int x;
    int y;
};

// The first five point of side, else its first open-four point, in scan order.
bool immediateWinPoint(int side, int& x, int& y) {
    return firstGroupPoint(groupFive, side, x, y) || firstGroupPoint(groupOpenFour, side, x, y);
}

// The move the think answers with when its search ends with `result` taken at
// `depth`: the root's choice, the five or open four itself for a win at the
// root, the safety move when the root named no playable point (in Renju: every
// block a foul), and the first empty point when no point is allowed at all.
// The protocol has no pass, and an off-board answer is a broken brain to the
// manager, so that last one is played and the manager judges the foul.
void moveToPlay(int side, int32_t result, int depth, const SafetyMove& safety, int32_t& x,
                int32_t& y) {
    int32_t mx = engine.bestMove[0];
    int32_t my = engine.bestMove[1];
    int wx = 0, wy = 0;
    if (result - depth >= winValue && immediateWinPoint(side, wx, wy)) {
        mx = wx;
        my = wy;
    }
    if (safety.anyPoint && !playablePoint(mx, my)) {
        mx = safety.x;
        my = safety.y;
    }
    if (!safety.anyPoint && !playablePoint(mx, my)) firstEmptyPoint(mx, my);
    x = mx;
    y = my;
}

// The iteration's line of the report, naming the move this think would play
// if it ended now.
void reportIteration(int depth, int32_t value, int side, const SafetyMove& safety) {
    int32_t x = 0, y = 0;
    moveToPlay(side, value, depth, safety, x, y);
    reportDepth(depth, value, side, x, y);
}

// Iterative deepening from firstDepth. Returns the value of the last iteration
// taken, or `result` untouched when none was; leaves iterationDepth at the
// depth of that iteration. The depth and node limits come on top of the
// clock: whichever is reached first ends the think.
int32_t deepen(int side, int32_t result, int64_t shareOfRest, const SafetyMove& safety) {
    const int64_t boardPoints = static_cast<int64_t>(engine.boardWidth) * engine.boardHeight;
    for (int d = firstDepth;; ++d) {
        engine.iterationDepth = d;
        // Depth 1 always runs, so even a spent budget yields a searched move.
        if (d != firstDepth) {
            int64_t elapsed = nowMs() - engine.searchStart;
            bool timeLeft = elapsed * 4 < engine.turnBudget || engine.turnBudget <= shareOfRest;
            bool roomLeft = d + engine.moveCount <= boardPoints;
            bool nodesLeft = engine.nodeLimit <= 0 || engine.nodeCount < engine.nodeLimit;
            if (!timeLeft || !roomLeft || !nodesLeft || engine.stopRequested.load() > 0) {
                engine.iterationDepth = d - 1;
                return result;
            }
        }
        if (d > maxDepth || (engine.depthLimit > 0 && d > engine.depthLimit)) {
            engine.iterationDepth = d - 1;
            return result;
        }
        engine.singleRootMove = 0;
        engine.deepestPly = 0;
        std::memset(engine.killerTable, 0, sizeof engine.killerTable);
        int32_t v = searchRoot(d, -rootWindow, rootWindow, side, 0);
        if (engine.searchAborted) {
            // 0 means the root had not finished two moves: nothing to trust.
            if (v == 0) {
                engine.iterationDepth = d - 1;
                return result;
            }
            return v;
        }
        result = v;
        if (engine.showDetail) reportIteration(d, v, side, safety);
        if (v >= mateThreshold || v <= -mateThreshold) return result;
        if (engine.singleRootMove && d >= 5) return result;
    }
}

// The speed line gives nodes per millisecond of the think as it really ran,
// from its command to the end of its search. The 200 ms charged for the first
// build is bookkeeping, not time spent, and is left out of `elapsed`.
void answer(int64_t elapsed) {
    int64_t speed = engine.nodeCount / (elapsed + 1);
    printLine("MESSAGE Speed=%d", static_cast<int32_t>(static_cast<uint32_t>(speed)));
    playOwnMove(engine.bestMove[0], engine.bestMove[1]);
    printLine("%d,%d", engine.bestMove[0], engine.bestMove[1]);
}

}  // namespace

void (*thinkStartHookForTests)() = nullptr;

void startThinkClock() { engine.thinkClockStart = nowMs(); }

int pickImmediateWin(int side, int play) {
    int x = 0, y = 0;
    if (!immediateWinPoint(side, x, y)) return 0;
    engine.bestMove[0] = x;
    engine.bestMove[1] = y;
    if (play) placeStone(x, y, side);
    return 1;
}

void thinkDriver() {
    if (thinkStartHookForTests) thinkStartHookForTests();
    // 1. What this think may spend. The INFO atomics are read once.
    const int side = engine.moveCount % 2 + 1;
    const int opponent = 3 - side;
    const int32_t timeoutTurn = engine.timeout_turn.load();
    const int32_t timeLeft = engine.time_left.load();
    engine.turnBudget = timeLeft / 16 < timeoutTurn ? timeLeft / 16 : timeoutTurn;
    int64_t freePoints =
        static_cast<int64_t>(engine.boardWidth) * engine.boardHeight - engine.moveCount + 1;
    if (freePoints < 1) freePoints = 1;
    const int64_t shareOfRest = timeLeft / freePoints;
    engine.nodeCount = 0;
    const int32_t maxDepthSetting = engine.max_depth.load();
    const int32_t maxNodeSetting = engine.max_node.load();
    engine.depthLimit = maxDepthSetting > 0 ? maxDepthSetting : 0;
    engine.nodeLimit = maxNodeSetting > 0 ? maxNodeSetting : 0;
    engine.showDetail = engine.show_detail.load() != 0;
    // Read once, like the budget: the default search departs from the classic
    // one only where it tests this copy.
    engine.searchMode = engine.search.load() == searchClassic ? searchClassic : searchDefault;

    // 2. Empty board: the centre, unless BOARD walled it off.
    if (engine.moveCount == 0) {
        int cx = engine.boardHeight / 2, cy = engine.boardWidth / 2;
        if (!pointIsBlocked(cx, cy)) {
            engine.bestMove[0] = cx;
            engine.bestMove[1] = cy;
            answer(0);
            return;
        }
    }

    // 3. Positions that need no search.
    if (engine.builtForRule != -1) {
        // The previous think found a five or an open four at its root; finish
        // it. Only while it is still ours to finish: if the turn passed oddly
        // (a refused opponent move) and the opponent now threatens a five, the
        // normal path below answers instead.
        if (engine.lastSearchValue - engine.iterationDepth >= winValue) {
            int32_t keepX = engine.bestMove[0], keepY = engine.bestMove[1];
            if (pickImmediateWin(side, 0) &&
                (!groupEmpty(groupFive, side) || groupEmpty(groupFive, opponent)) &&
                !isFoul(side, engine.bestMove[0], engine.bestMove[1])) {
                answer(0);
                return;
            }
            engine.bestMove[0] = keepX;
            engine.bestMove[1] = keepY;
        }
        // With a five of our own the search takes it at depth 1; otherwise an
        // opponent's five point must be blocked, and two of them lose anyway.
        // A block that is a foul for black is no block: the search path then
        // plays the best allowed point rather than lose on the spot by the foul.
        int fx = 0, fy = 0;
        if (groupEmpty(groupFive, side) && firstGroupPoint(groupFive, opponent, fx, fy) &&
            !isFoul(side, fx, fy)) {
            engine.bestMove[0] = fx;
            engine.bestMove[1] = fy;
            if (countGroupPoints(groupFive, opponent, 2) >= 2) engine.lastSearchValue = -winValue;
            answer(0);
            return;
        }
    }

    // 4. The board for the current rule. Its first build in the process counts
    // 200 ms of this move's budget as spent, on top of the time it really takes.
    engine.searchStart = engine.thinkClockStart;
    engine.searchAborted = 0;
    buildBoard();

    // 5. A move that is at least not a blunder one ply deep. The evaluation's
    // scratch list is chosen by iterationDepth, which belongs to this think now.
    engine.iterationDepth = 0;
    const bool anyPoint = safetyPass(side, opponent);
    int32_t result = anyPoint ? 0 : 1;
    const SafetyMove safety{anyPoint, engine.bestMove[0], engine.bestMove[1]};

    // 6-7. Deepen, unless the tables the search needs are missing.
    if (hashTablesReady()) {
        // A think under a depth or node limit is one whose move must come out
        // the same whenever the position and the settings are the same. What
        // earlier thinks left in the tables changes the move order and so the
        // tree, so such a think starts from empty tables, as a fresh process
        // does; clearing them takes a few milliseconds.
        if (engine.depthLimit > 0 || engine.nodeLimit > 0) clearHashTables();
        result = deepen(side, result, shareOfRest, safety);
    } else {
        printLine("MESSAGE search off: no memory for the hash tables, playing the one-ply move");
    }

    // 8. The result of the think; a win at the root is played as the five or
    // open four itself, and a root without a playable move falls back on the
    // safety pass.
    engine.lastSearchValue = result;
    const int64_t end = nowMs();
    engine.searchStart = end - engine.searchStart;
    moveToPlay(side, result, engine.iterationDepth, safety, engine.bestMove[0], engine.bestMove[1]);

    // 9. The speed line, the move into the record, the move line.
    answer(end - engine.thinkClockStart);
}
