// Static evaluation.
//
// Almost everything a leaf is worth has already been added up by the
// incremental update: every point's weighted value flows into valueTotal, so
// the evaluation starts from the difference of the two totals and only adds a
// handful of corrections that the per-point values cannot see, because they
// concern who moves next and how threats combine across the board: black's
// Renju fouls (a white threat that black may not block), the tempo of a side
// that already has fours or open threes to play, the opponent's open fours
// with the threats clustered around them, and threats in several directions.
//
// The corrections walk the threat-point sets, never the board. Point lists are
// built in scan order into the caller's scratch move list before the foul test
// runs, because the foul test puts trial stones on the board and so rewrites
// the very masks a walk would be reading. Only the Renju terms call the foul
// test; under the other rules the evaluation is pure bit-mask work.
//
// Bit counts go through bitCountOf, which splits a mask into 15-bit pieces:
// on a board wider than 15 columns a masked row can exceed the range of
// bitCountTable, and a direct lookup would read past it.
#include "rules/evaluation.h"

#include "board/engine_state.h"
#include "board/tables.h"
#include "rules/foul_test.h"

namespace {

// Scratch for a remaining depth whose ply slot lies outside the move lists;
// using it keeps such a call from writing over a list some caller still owns.
ScoredMove spareScratch[maxPoints];

ScoredMove* scratchList(int depth) {
    int slot = engine.iterationDepth - depth;
    if (slot < 0 || slot >= maxPoints) return spareScratch;
    return engine.moveLists[slot];
}

// Appends the points of one group of a side in scan order; returns the new
// length. A group never holds more than maxPoints distinct points.
int collectGroup(ScoredMove* list, int count, int group, int side) {
    forEachGroupPoint(group, side, [&](int x, int y) {
        list[count].x = static_cast<int16_t>(x);
        list[count].y = static_cast<int16_t>(y);
        ++count;
        return false;
    });
    return count;
}

// Renju: every white four or open three at which black may not play is a
// threat black cannot answer there. Each group is listed and judged on its
// own, so a point in both groups counts twice and the list never needs room
// for more than one group.
int32_t foulTerm(ScoredMove* list, int side) {
    int32_t amount = 0;
    constexpr int groups[2] = {groupFour, groupOpenThree};
    for (int group : groups) {
        int count = collectGroup(list, 0, group, white);
        for (int i = 0; i < count; ++i) {
            int x = list[i].x;
            int y = list[i].y;
            if (isForbidden(x, y) == 1) {
                amount += engine.patterns[x][y].lineValueSum[black - 1] < 158 ? 200 : 120;
            }
        }
    }
    return side == white ? amount : -amount;
}

// Renju, white to move: black's threats only give black the tempo when black
// may actually play at least one of them.
bool blackHasPlayableThreat(ScoredMove* list) {
    int count = 0;
    uint32_t top =
        static_cast<uint32_t>(engine.topMask[groupFour][0] | engine.topMask[groupOpenThree][0]);
    while (top) {
        uint32_t xBit = top & (0u - top);
        top ^= xBit;
        int x = bitIndexOf(xBit);
        uint32_t row = static_cast<uint32_t>(engine.rowMask[groupFour][0][x] |
                                             engine.rowMask[groupOpenThree][0][x]);
        while (row) {
            uint32_t yBit = row & (0u - row);
            row ^= yBit;
            list[count].x = static_cast<int16_t>(x);
            list[count].y = static_cast<int16_t>(bitIndexOf(yBit));
            ++count;
        }
    }
    for (int i = 0; i < count; ++i) {
        if (isForbidden(list[i].x, list[i].y) == 0) return true;
    }
    return false;
}

// Columns y-3 .. y+3 of a row as a mask, columns left of 0 dropped.
uint32_t columnsAround(uint32_t pattern, int y) {
    return y >= 3 ? pattern << (y - 3) : pattern >> (3 - y);
}

// Number of the side's four and open-three points (a point in both counts
// once) among the 33 neighbours of (x, y): the 5x5 square plus the points at
// distance 3 along the row, the column and both diagonals.
int threatNeighbours(int side, int x, int y) {
    constexpr uint32_t centreRow = 0x7F;  // y-3 .. y+3
    constexpr uint32_t nearRow = 0x3E;    // y-2 .. y+2
    constexpr uint32_t farRow = 0x49;     // y-3, y, y+3
    int count = 0;
    for (int dx = -3; dx <= 3; ++dx) {
        int row = x + dx;
        if (row < 0 || row >= engine.boardHeight) continue;
        uint32_t pattern = dx == 0 ? centreRow : (dx == 3 || dx == -3) ? farRow : nearRow;
        uint32_t threats = static_cast<uint32_t>(engine.rowMask[groupFour][side - 1][row] |
                                                 engine.rowMask[groupOpenThree][side - 1][row]);
        count += bitCountOf(threats & columnsAround(pattern, y));
    }
    return count;
}

// The opponent's open fours: the first one's free space counts for it, and
// every one is worth less to it the more of its own threats crowd around it.
int32_t openFourTerm(ScoredMove* list, int opponent) {
    int count = collectGroup(list, 0, groupOpenFour, opponent);
    if (count == 0) return 0;
    int32_t t = int32_t{engine.patterns[list[0].x][list[0].y].spaceSum[opponent - 1]} * 50 / 32;
    for (int i = 0; i < count; ++i) {
        int x = list[i].x;
        int y = list[i].y;
        int32_t space = engine.patterns[x][y].spaceSum[opponent - 1];
        t -= space * 20 * threatNeighbours(opponent, x, y) / 32;
    }
    return t;
}

// Directions in which a side has a five or an open four somewhere.
uint32_t strongDirections(int side) {
    uint32_t dirs = 0;
    forEachGroupPoint(groupFive, side, [&](int x, int y) {
        dirs |= static_cast<uint32_t>(engine.dirMask[groupFive][side - 1][x][y]);
        return false;
    });
    forEachGroupPoint(groupOpenFour, side, [&](int x, int y) {
        dirs |= static_cast<uint32_t>(engine.dirMask[groupOpenFour][side - 1][x][y]);
        return false;
    });
    return dirs;
}

}  // namespace

int32_t evaluatePosition(int depth, int side) {
    const int opponent = 3 - side;
    ScoredMove* list = scratchList(depth);

    // 1. The running totals.
    int32_t t = engine.valueTotal[side - 1] - engine.valueTotal[opponent - 1];

    // 2. Black's fouls.
    if (engine.rule == ruleRenju) t += foulTerm(list, side);

    // 3. Tempo: the opponent has threats to play.
    if (!groupEmpty(groupFour, opponent) || !groupEmpty(groupOpenThree, opponent)) {
        if (engine.rule != ruleRenju || side != white || blackHasPlayableThreat(list)) t += 100;
    }

    // 4. The opponent's open fours.
    t += openFourTerm(list, opponent);

    // 5. Threats in several directions.
    t += 50;
    if (bitCountOf(strongDirections(side)) >= 2) t += 200;
    if (bitCountOf(strongDirections(opponent)) >= 2) t -= 200;
    return t;
}
