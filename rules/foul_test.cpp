// Renju foul test.
//
// Everything the test needs is already in black's code word at the point: the
// board keeps, per direction, what a black stone there would make (open three,
// four, open four, exact five, overline), with the exact-five corrections
// applied, so under Renju a code of 12 is always an exact five and 11 always a
// four both of whose completions are exact fives. Most points are therefore
// settled from the four nibbles alone: a five wins whatever else the move
// does, an overline without a five is forbidden, and a point with at most one
// threat, or with a four and a three whose four cannot be doubled in its own
// line, is allowed.
//
// Only a candidate double three or double four pays for a trial stone. With
// the stone on the board a four is counted at each end of its run that is now
// a five point (so X . X P X . X counts twice in one line), and a three is real
// only when one of its open-four points is neither a five point nor itself
// forbidden; that last question is asked recursively in the position where the
// three exists. Each level adds one light stone and removes it before
// returning, so the board comes back as it was and the recursion is bounded by
// the number of empty points.
#include "rules/foul_test.h"

#include <cstdint>

#include "board/engine_state.h"
#include "board/pattern_tables.h"
#include "rules/light_placement.h"

namespace {

inline int blackCode(int x, int y, int d) { return codeAt(engine.patterns[x][y].codeWord[0], d); }

inline bool isBlack(int x, int y) { return onBoard(x, y) && engine.cells[x][y] == black; }

// The first point beyond the run of black stones that starts next to (x, y)
// in direction d, sign +1 or -1; false when the run reaches the edge.
inline bool endOfBlackRun(int x, int y, int d, int sign, int& ex, int& ey) {
    const int sx = sign * dirStepX[d];
    const int sy = sign * dirStepY[d];
    int cx = x + sx;
    int cy = y + sy;
    while (isBlack(cx, cy)) {
        cx += sx;
        cy += sy;
    }
    if (!onBoard(cx, cy)) return false;
    ex = cx;
    ey = cy;
    return true;
}

// Two fours in one line need a black four code at both ends of the run
// through the point; read on the board without the stone.
bool fourCanDoubleInLine(int x, int y, int d) {
    for (int sign = 1; sign >= -1; sign -= 2) {
        int ex = 0;
        int ey = 0;
        if (!endOfBlackRun(x, y, d, sign, ex, ey) || blackCode(ex, ey, d) < codeFourA) return false;
    }
    return true;
}

inline bool inBlackFiveGroup(int x, int y) { return (engine.rowMask[groupFive][0][x] >> y) & 1; }

// With the trial stone placed: does the end of the run on this side turn the
// three into an open four, without being a five point, and is it allowed?
bool threeBecomesOpenFour(int x, int y, int d, int sign) {
    int qx = 0;
    int qy = 0;
    if (!endOfBlackRun(x, y, d, sign, qx, qy)) return false;
    if (blackCode(qx, qy, d) != codeOpenFour || inBlackFiveGroup(qx, qy)) return false;
    return isForbidden(qx, qy) == 0;
}

inline bool runEndsInFive(int x, int y, int d, int sign) {
    int ex = 0;
    int ey = 0;
    return endOfBlackRun(x, y, d, sign, ex, ey) && blackCode(ex, ey, d) == codeFive;
}

}  // namespace

int isForbidden(int x, int y) {
    const uint32_t word = engine.patterns[x][y].codeWord[0];

    // 1. Scan: a five ends the test at once; note overlines and the threats.
    bool overline = false;
    int threats = 0;
    int low = -1;
    int high = -1;
    for (int d = 0; d < 4; ++d) {
        const int c = codeAt(word, d);
        if (c == codeFive) return 0;
        if (c == codeOverline) overline = true;
        if (c >= codeOpenThreeGap && c <= codeOpenFour) {
            ++threats;
            if (low < 0) low = d;
            high = d;
        }
    }
    // 2-3. An overline without a five is forbidden; no threat, nothing to test.
    if (overline) return 1;
    if (threats == 0) return 0;

    // 4. Pre-filters from the codes alone.
    if (threats == 1) {
        const int c = codeAt(word, low);
        if (c != codeFourA && c != codeFourB) return 0;
        if (!fourCanDoubleInLine(x, y, low)) return 0;
    } else if (threats == 2) {
        const int cLow = codeAt(word, low);
        const int cHigh = codeAt(word, high);
        if ((cLow <= codeOpenThree) != (cHigh <= codeOpenThree)) {
            const int fourDir = cLow >= codeFourA ? low : high;
            if (!fourCanDoubleInLine(x, y, fourDir)) return 0;
        }
    }

    // 5. Judge the threats in the position with the stone.
    placeStoneLight(x, y, black);

    // 6. Count real threes and fours; the codes of step 1 say which is which.
    int threes = 0;
    int fours = 0;
    for (int d = low; d <= high; ++d) {
        const int c = codeAt(word, d);
        if (c < codeOpenThreeGap) continue;
        if (c <= codeOpenThree) {
            if (threeBecomesOpenFour(x, y, d, 1) || threeBecomesOpenFour(x, y, d, -1)) ++threes;
            continue;
        }
        if (runEndsInFive(x, y, d, 1)) {
            ++fours;
            if (c == codeOpenFour) continue;  // an open four counts once
        }
        if (runEndsInFive(x, y, d, -1)) ++fours;
    }

    // 7-8.
    removeStoneLight(x, y, black);
    return (threes >= 2 || fours >= 2) ? 1 : 0;
}
