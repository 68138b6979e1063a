// Light stone placement for trial moves.
//
// The foul test and the threat search try thousands of stones per move and
// only ever read the pattern codes, the line-value sums and the threat-point
// groups 0 to 3. So a trial stone refreshes exactly those: one window lookup
// per point of the stretch, and for a point whose code did not change two
// comparisons and nothing else. The space counts, the weighted values, the
// running totals and the double-threat group are left describing the position
// before the first trial stone; since trial stones always come off in reverse
// order before anything reads those fields, they are right again afterwards
// without ever being recomputed.
//
// The refresh is the full refresh of the board minus its evaluation half, so
// the codes it writes are the codes a full placement would write, including
// the exact-five corrections that turn a black five into an overline (and an
// open four with an overline completion into a plain four). Those corrections
// must be repeated here: a trial stone five cells away along the line changes
// them without changing any window. Group membership goes through the board's
// own bookkeeping so both updates keep the bit sets in one layout.
//
// The stretch is clipped to the board once per call instead of testing every
// point, and the line word is read once: positions along a line grow by one per
// step in every direction, so the window of the k-th point is a plain shift.
// The codes come from the byte copy of the window table that the full refresh
// reads too, so both updates share one cache-friendly table.
#include "rules/light_placement.h"

#include <algorithm>
#include <cstdint>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/pattern_tables.h"

namespace {

// Threat-point group of a pattern code, -1 for codes no group holds.
// clang-format off
constexpr int8_t groupOfCode[16] = {-1, -1, -1, -1, -1, -1, -1,
                                    groupOpenThree, groupOpenThree, groupFour, groupFour,
                                    groupOpenFour, groupFive, -1, -1, -1};
// clang-format on

inline bool ownStoneAt(int x, int y, int colour) {
    return onBoard(x, y) && engine.cells[x][y] == colour;
}

inline void setNibble(uint32_t& word, int d, int code) {
    word = (word & ~(15u << (4 * d))) | (static_cast<uint32_t>(code) << (4 * d));
}

inline void addToLineValue(PointPatterns& pp, int t, int delta) {
    pp.lineValueSum[t] = static_cast<int16_t>(pp.lineValueSum[t] + delta);
}

// The window sees four cells each way, so a five it reports may continue past
// its edge, and an open four may have a completion that makes six. Only the
// fields of the light update are corrected.
void correctExactFive(int d, int t, int x, int y, int code) {
    const int own = t + 1;
    const int sx = dirStepX[d];
    const int sy = dirStepY[d];
    PointPatterns& pp = engine.patterns[x][y];
    if (code == codeFive) {
        const bool low = ownStoneAt(x - sx, y - sy, own);
        const bool high = ownStoneAt(x + sx, y + sy, own);
        // Stones on both sides: the window saw the whole run already.
        if (low == high) return;
        const int sigma = high ? 1 : -1;
        if (!ownStoneAt(x + 5 * sigma * sx, y + 5 * sigma * sy, own)) return;
        leaveGroup(groupFive, own, x, y, d);
        setNibble(pp.codeWord[t], d, codeOverline);
        addToLineValue(pp, t, -codeValue[codeFive]);
        return;
    }
    // Open four: find each completion point and look one step beyond it.
    int k = 1;
    while (ownStoneAt(x + k * sx, y + k * sy, own)) ++k;
    bool overline = ownStoneAt(x + (k + 1) * sx, y + (k + 1) * sy, own);
    if (!overline) {
        k = -1;
        while (ownStoneAt(x + k * sx, y + k * sy, own)) --k;
        overline = ownStoneAt(x + (k - 1) * sx, y + (k - 1) * sy, own);
    }
    if (!overline) return;
    leaveGroup(groupOpenFour, own, x, y, d);
    setNibble(pp.codeWord[t], d, codeFourA);
    addToLineValue(pp, t, codeValue[codeFourA] - codeValue[codeOpenFour]);
    enterGroup(groupFour, own, x, y, d);
}

// Both values of (x, y) may be stale from now on.
void markStale(int x, int y) {
    engine.staleValue[x][y] = 3;
    for (int d = 0; d < 4; ++d) {
        engine.staleLines[d][lineIndexOf(d, x, y)] |= 1u << linePosition(d, x, y);
    }
}

template <int d>
inline void refreshStretch(int x, int y) {
    constexpr int sx = dirStepX[d];
    constexpr int sy = dirStepY[d];
    const int radius = engine.updateRadius;
    int kLow = -radius;
    int kHigh = radius;
    if (sx == 1) {
        kLow = std::max(kLow, -x);
        kHigh = std::min(kHigh, engine.boardHeight - 1 - x);
    } else if (sx == -1) {
        kLow = std::max(kLow, x - (engine.boardHeight - 1));
        kHigh = std::min(kHigh, x);
    }
    if (sy == 1) {
        kLow = std::max(kLow, -y);
        kHigh = std::min(kHigh, engine.boardWidth - 1 - y);
    }
    const uint64_t word = lineWordOf(d, x, y);
    const int position = linePosition(d, x, y);
    // Points still holding their reset record in this direction: the codes
    // refreshed here will not return to the reset code when the trial stone
    // comes off, and the point values stay as computed with it (stale).
    uint32_t& pristine = engine.pristineLines[d][lineIndexOf(d, x, y)];
    const uint32_t stretch = (2u << (position + kHigh)) - (1u << (position + kLow));
    if (pristine & stretch) {
        uint32_t reached = pristine & stretch;
        pristine &= ~stretch;
        ++engine.lastingChanges;
        while (reached) {
            const int k = __builtin_ctz(reached) - position;
            reached &= reached - 1;
            markStale(x + k * sx, y + k * sy);
        }
    }
    // Black's fives are corrected under the standard and Renju rules, white's
    // only under the standard rule (a white overline wins in Renju).
    const bool correct[2] = {engine.rule != ruleFreestyle, engine.rule == ruleStandard};

    for (int k = kLow; k <= kHigh; ++k) {
        const int qx = x + k * sx;
        const int qy = y + k * sy;
        const WindowCodes& e =
            engine.windowCodes[static_cast<uint32_t>(word >> (2 * (position + k))) & 0x3FFFF];
        PointPatterns& pp = engine.patterns[qx][qy];
        for (int t = 0; t < 2; ++t) {
            const int n = e.code[t];
            const int o = codeAt(pp.codeWord[t], d);
            if (n != o) {
                if (groupOfCode[o] >= 0) leaveGroup(groupOfCode[o], t + 1, qx, qy, d);
                setNibble(pp.codeWord[t], d, n);
                addToLineValue(pp, t, codeValue[n] - codeValue[o]);
                if (groupOfCode[n] >= 0) enterGroup(groupOfCode[n], t + 1, qx, qy, d);
            }
            if ((n == codeOpenFour || n == codeFive) && correct[t])
                correctExactFive(d, t, qx, qy, n);
        }
    }
}

}  // namespace

void refreshLineLight(int d, int x, int y) {
    switch (d) {
        case H: refreshStretch<H>(x, y); break;
        case V: refreshStretch<V>(x, y); break;
        case D: refreshStretch<D>(x, y); break;
        default: refreshStretch<A>(x, y); break;
    }
}

void placeStoneLight(int x, int y, int side) {
    const uint64_t colour = static_cast<uint64_t>(side);
    engine.cells[x][y] = side;
    engine.lineWords.H[x] |= colour << (2 * y + 8);
    refreshStretch<H>(x, y);
    engine.lineWords.V[y] |= colour << (2 * x + 8);
    refreshStretch<V>(x, y);
    engine.lineWords.D[x + y] |= colour << (2 * engine.posD[x][y] + 8);
    refreshStretch<D>(x, y);
    engine.lineWords.A[x - y + engine.boardSize] |= colour << (2 * engine.posA[x][y] + 8);
    refreshStretch<A>(x, y);
    engine.hashKey ^= engine.zobrist[x][y][side - 1];
    engine.stoneList[engine.stoneCount] = StonePoint{x, y};
    ++engine.stoneCount;
}

void removeStoneLight(int x, int y, int side) {
    engine.cells[x][y] = empty;
    engine.lineWords.H[x] &= ~(uint64_t{3} << (2 * y + 8));
    refreshStretch<H>(x, y);
    engine.lineWords.V[y] &= ~(uint64_t{3} << (2 * x + 8));
    refreshStretch<V>(x, y);
    engine.lineWords.D[x + y] &= ~(uint64_t{3} << (2 * engine.posD[x][y] + 8));
    refreshStretch<D>(x, y);
    engine.lineWords.A[x - y + engine.boardSize] &= ~(uint64_t{3} << (2 * engine.posA[x][y] + 8));
    refreshStretch<A>(x, y);
    engine.hashKey ^= engine.zobrist[x][y][side - 1];
    --engine.stoneCount;
}
