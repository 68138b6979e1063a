// The per-depth report of a think.
//
// The report must never cost the think its time or change what it plays. It
// is written once per finished iteration, between iterations, and its
// expected line comes from the transposition table alone: the moves are
// followed by their hash keys, without placing a stone, probing with a bound
// or touching an entry's age, so the next iteration finds the board and the
// tables exactly as the search left them.
//
// Values. A proven result is winValue plus the remaining depth of the node
// where the five (or an unstoppable open four) is on, so its distance from the
// root in plies is the iteration depth minus that remaining depth. The report
// turns plies into the winning side's own moves, which is how a player counts
// ("win in 3"). Threat penalties shift values along a line by a little, so the
// count is the search's own measure, not an exact proof length; it is kept
// between 1 and the number of points of the largest board.
#include "search/search_report.h"

#include <cstdio>

#include "board/engine_state.h"
#include "protocol/main_loop.h"
#include "search/transposition.h"

namespace {

bool freePoint(int x, int y) { return onBoard(x, y) && engine.cells[x][y] == empty; }

// 64-bit counts in decimal without a 64-bit printf conversion, which the C
// runtimes the Windows brains link against do not all spell the same way.
void formatCount(int64_t value, char* out) {
    char digits[24];
    int n = 0;
    const bool negative = value < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) *out++ = '-';
    while (n > 0) *out++ = digits[--n];
    *out = '\0';
}

bool inLine(int count, const int lineX[], const int lineY[], int x, int y) {
    for (int i = 0; i < count; ++i) {
        if (lineX[i] == x && lineY[i] == y) return true;
    }
    return false;
}

}  // namespace

int provenMoves(int32_t value, int depth) {
    const bool win = value > 0;
    const int64_t magnitude = win ? static_cast<int64_t>(value) : -static_cast<int64_t>(value);
    int64_t plies = static_cast<int64_t>(depth) - (magnitude - winValue);
    if (plies < 0) plies = 0;
    // The root side moves at even plies, the opponent at odd ones.
    const int64_t moves = win ? plies / 2 + 1 : (plies + 1) / 2;
    if (moves < 1) return 1;
    return moves > maxPoints ? maxPoints : static_cast<int>(moves);
}

int formatSearchValue(int32_t value, int depth, char* out, size_t size) {
    int length = 0;
    if (value >= mateThreshold) {
        length = std::snprintf(out, size, "+win %d", provenMoves(value, depth));
    } else if (value <= -mateThreshold) {
        length = std::snprintf(out, size, "-loss %d", provenMoves(value, depth));
    } else if (value == 0) {
        length = std::snprintf(out, size, "0");
    } else {
        length = std::snprintf(out, size, "%+d", value);
    }
    return length < 0 ? 0 : length;
}

int expectedLine(int side, int firstX, int firstY, int limit, int lineX[], int lineY[]) {
    if (limit < 1 || !freePoint(firstX, firstY)) return 0;
    uint64_t key = engine.hashKey;
    int count = 0;
    int x = firstX;
    int y = firstY;
    for (;;) {
        lineX[count] = x;
        lineY[count] = y;
        ++count;
        key ^= engine.zobrist[x][y][side - 1];
        side = 3 - side;
        if (count >= limit || !tableMove(side, key, x, y)) break;
        // A stale or foreign entry may name a taken point; the line ends there.
        if (!freePoint(x, y) || inLine(count, lineX, lineY, x, y)) break;
    }
    return count;
}

void reportDepth(int depth, int32_t value, int side, int moveX, int moveY) {
    char valueText[32];
    formatSearchValue(value, depth, valueText, sizeof valueText);
    int lineX[reportLineMoves];
    int lineY[reportLineMoves];
    const int limit = depth < reportLineMoves ? depth : reportLineMoves;
    const int count = expectedLine(side, moveX, moveY, limit, lineX, lineY);
    // "pv" and up to ten moves of "xx,yy" each: well inside one output line.
    char pvText[reportLineMoves * 6 + 4];
    int used = 0;
    for (int i = 0; i < count; ++i) {
        used += std::snprintf(pvText + used, sizeof pvText - static_cast<size_t>(used), " %d,%d",
                              lineX[i], lineY[i]);
    }
    pvText[used] = '\0';
    const int64_t elapsed = nowMs() - engine.thinkClockStart;
    char nodes[24], perMs[24], time[24];
    formatCount(engine.nodeCount, nodes);
    formatCount(engine.nodeCount / (elapsed > 0 ? elapsed : 1), perMs);
    formatCount(elapsed, time);
    printLine("MESSAGE depth %d-%d value %s nodes %s nps %sk time %s pv%s", depth,
              engine.deepestPly, valueText, nodes, perMs, time, pvText);
}
