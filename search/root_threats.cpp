// The default search's look for forced wins by threes, before deepening.
//
// The classic search proves wins by fours only: it sees a win by threes when
// its depth reaches the five, which at a few hundred milliseconds a move it
// rarely does, and lost games show the opponent winning by exactly such lines
// a dozen moves before the end. The threat-space search finds them in a few
// thousand nodes, and what it finds is a proof against every defence, so a win
// it returns is played at once, without deepening.
//
// Its cost is taken from the think's depth, so it gets a bounded share: a node
// budget worked out from the turn budget with a fixed estimate of its speed.
// Nodes, not milliseconds, so that the same position and settings give the
// same move on every run and both word sizes; the clock and the stop flag
// still end it, as they end every search, so it is never late.
#include "search/root_threats.h"

#include "board/engine_state.h"
#include "board/tables.h"
#include "rules/foul_test.h"
#include "rules/threat_space_search.h"
#include "search/node_search.h"

namespace {

// Threat-space nodes per millisecond on the slower of the machines the engine
// plays on, kept low so that the share below is a ceiling in time too.
constexpr int64_t nodesPerMs = 300;
// The share of the turn budget, as a divisor: a third at most (the look is
// faster than the estimate on most machines), which leaves the deepening its
// iterations but one (each costs several times the last).
constexpr int64_t budgetDivisor = 3;
// The most a look may search, whatever the budget: wins longer than this
// holds are rare, and a long think should go to depth.
constexpr int64_t budgetCap = 200000;

}  // namespace

int64_t rootThreatNodeBudget(int32_t turnBudget, int64_t nodeLimit) {
    int64_t budget =
        turnBudget > 0 ? static_cast<int64_t>(turnBudget) * nodesPerMs / budgetDivisor : 0;
    if (budget > budgetCap) budget = budgetCap;
    // Under a node limit the look takes the same share of the nodes, and so
    // never ends the think by the limit before the search has a move.
    if (nodeLimit > 0 && budget > nodeLimit / budgetDivisor) budget = nodeLimit / budgetDivisor;
    return budget;
}

bool rootThreatSpaceWin(int side, int64_t nodeBudget, int32_t& x, int32_t& y, int32_t& plies) {
    if (nodeBudget <= 0) return false;
    // A five or an open four at hand is the search's own at depth 1, which
    // proves it as a win at the root (the next think then finishes it
    // without searching): nothing for the look to add.
    if (!groupEmpty(groupFive, side)) return false;
    int bx = 0, by = 0;
    if (!firstGroupPoint(groupFive, 3 - side, bx, by) && openFourWins(side)) return false;
    VctRequest request = vctDefaultRequest(side);
    request.nodeBudget = nodeBudget;
    VctResult result;
    threatSpaceSearch(request, result);
    if (result.status != vctWin) return false;
    const int mx = result.moveX;
    const int my = result.moveY;
    // The search plays only legal points; a move that is not one would be a
    // lost game by itself, so it is checked here all the same.
    if (!onBoard(mx, my) || engine.cells[mx][my] != empty) return false;
    if (engine.rule == ruleRenju && side == black && isForbidden(mx, my) != 0) return false;
    x = mx;
    y = my;
    plies = result.plies;
    return true;
}

int32_t rootThreatWinValue(int32_t plies) { return winValue - 1 - plies; }
