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

#include <initializer_list>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "rules/foul_test.h"
#include "rules/threat_space_search.h"

namespace {

// Threat-space nodes per millisecond on the slower of the machines the engine
// plays on, kept low so that the share below is a ceiling in time too.
constexpr int64_t nodesPerMs = 300;
// The share of the turn budget, as a divisor: an eighth leaves the deepening
// nearly all of its iterations (each one costs several times the last).
constexpr int64_t budgetDivisor = 8;
// The most a look may search, whatever the budget: wins longer than this
// holds are rare, and a long think should go to depth.
constexpr int64_t budgetCap = 200000;
// The defence look: the opponent's win gets half its budget, and each
// candidate reply a sixteenth; candidates beyond the budget are kept unjudged.
constexpr int64_t candidateDivisor = 16;
constexpr int maxCandidates = 48;

// The opponent's win by threes from this position, as if it were to move.
bool opponentWins(int opponent, int64_t nodeBudget, VctResult& result) {
    VctRequest request = vctDefaultRequest(opponent);
    request.nodeBudget = nodeBudget;
    threatSpaceSearch(request, result);
    return result.status == vctWin;
}

void markPoint(uint32_t* rows, int x, int y) {
    if (onBoard(x, y) && engine.cells[x][y] == empty) rows[x] |= 1u << y;
}

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

int rootThreatDefences(int side, int64_t nodeBudget) {
    engine.rootDefenceCount = 0;
    if (nodeBudget <= 0) return 0;
    const int opponent = 3 - side;
    const int64_t start = engine.nodeCount;
    VctResult threat;
    if (!opponentWins(opponent, nodeBudget / 2, threat) || engine.searchAborted) return 0;

    // Candidates: where the opponent's line goes, and where either side
    // threatens: a block of a three or a four, or a counter-four.
    uint32_t rows[maxBoardSide] = {};
    for (int i = 0; i < threat.lineLength; ++i) markPoint(rows, threat.line[i].x, threat.line[i].y);
    for (int group : {groupFive, groupOpenFour, groupFour, groupOpenThree, groupDouble}) {
        for (int who : {side, opponent}) {
            forEachGroupPoint(group, who, [&](int px, int py) {
                markPoint(rows, px, py);
                return false;
            });
        }
    }

    const int64_t perCandidate = nodeBudget / candidateDivisor;
    int count = 0;
    int judged = 0;
    for (int x = 0; x < engine.boardHeight; ++x) {
        uint32_t row = rows[x];
        while (row) {
            const int y = __builtin_ctz(row);
            row &= row - 1;
            if (engine.rule == ruleRenju && side == black && isForbidden(x, y) != 0) continue;
            bool defends = true;  // unjudged candidates stay
            if (judged < maxCandidates && engine.nodeCount - start + perCandidate <= nodeBudget) {
                ++judged;
                makeMove(x, y, side);
                VctResult after;
                defends = !opponentWins(opponent, perCandidate, after);
                unmakeMove(x, y, side);
                if (engine.searchAborted) return 0;
            }
            if (defends) {
                engine.rootDefences[count++] =
                    ScoredMove{0, static_cast<int16_t>(x), static_cast<int16_t>(y)};
            }
        }
    }
    engine.rootDefenceCount = count;
    return count;
}
