// Incremental make and unmake.
//
// A stone changes one cell of four line words. The only points whose 9-cell
// windows can see that cell are the points of those four lines within four
// steps, and the exact-five corrections look at most five steps away, so a
// refresh walks at most 2 * updateRadius + 1 points per direction and never
// scans the board. Each point costs one window lookup, in the 4-byte copy of
// windowTable (half its memory, so far fewer cache misses); a side whose code
// and space did not change costs two comparisons, and only a changed code
// pays for a comboTable lookup and the threat-point bookkeeping.
//
// The refresh is a template on the direction so that the step, the line word
// and the position arithmetic are compile-time constants in the inner loop;
// the four exported refreshLine routines are its instances.
//
// The exact-five corrections exist because the 9-cell window cannot see the
// cell five steps away that turns a five into an overline or makes one
// completion of an open four an overline. A corrected nibble (13 or 9) differs
// from the table code (12 or 11), so the next refresh of that point takes the
// changed-code path, restores the table code and corrects again: the stored
// nibble is always the table code with the correction applied.
//
// checkBoardConsistency recomputes every incremental field from the cells
// alone (the windows are rebuilt from the cells, not read from the line
// words) and is what the debug builds and the tests hold the update to.
#include "board/make_unmake.h"

#include <cstdlib>
#include <cstring>

#include "board/engine_state.h"
#include "board/pattern_tables.h"
#include "search/transposition.h"

namespace {

// 1 for the 4-bit direction masks with two or more bits set.
constexpr uint8_t twoOrMore[16] = {0, 0, 0, 1, 0, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1};

// Codes an exact-five correction may produce or change: 9 and 13 (corrected),
// 11 (open four) and 12 (five).
constexpr uint32_t fiveShapeCodes =
    (1u << codeFourA) | (1u << codeOpenFour) | (1u << codeFive) | (1u << codeOverline);

// Threat-point group of a pattern code, -1 for none.
constexpr int8_t groupOfCode[16] = {-1, -1, -1, -1, -1, -1, -1, 3, 3, 2, 2, 1, 0, -1, -1, -1};

inline int16_t weightedOf(int pointValue, int spaceSum) {
    return static_cast<int16_t>(pointValue * spaceSum / 32);
}

// Black's fives are exact under the standard and the Renju rule, white's only
// under the standard rule (a white overline wins in Renju).
inline bool exactFiveApplies(int side) {
    return side == black ? engine.rule != ruleFreestyle : engine.rule == ruleStandard;
}

inline bool ownAt(int x, int y, int side) { return onBoard(x, y) && engine.cells[x][y] == side; }

// Threat-point mask words change only through this write: a logged make keeps
// each word's old value so that unmakeMove can put it back. A full log counts
// as a lasting change, which sends every live make to the refreshing unmake.
template <bool Log>
inline void writeMask(int32_t& word, int32_t value) {
    if (Log) {
        if (engine.maskUndoTop < maskUndoCapacity) {
            engine.maskUndo[engine.maskUndoTop++] = MaskUndo{&word, word};
        } else {
            ++engine.lastingChanges;
        }
    }
    word = value;
}

template <bool Log>
inline void leaveGroupOf(int group, int side, int x, int y, int d) {
    const int t = side - 1;
    int32_t& dm = engine.dirMask[group][t][x][y];
    writeMask<Log>(dm, dm & ~(1 << d));
    if (dm != 0) return;
    int32_t& row = engine.rowMask[group][t][x];
    writeMask<Log>(row, row & ~(1 << y));
    if (row == 0) writeMask<Log>(engine.topMask[group][t], engine.topMask[group][t] & ~(1 << x));
}

template <bool Log>
inline void enterGroupOf(int group, int side, int x, int y, int d) {
    const int t = side - 1;
    int32_t& dm = engine.dirMask[group][t][x][y];
    writeMask<Log>(dm, dm | (1 << d));
    int32_t& row = engine.rowMask[group][t][x];
    writeMask<Log>(row, row | (1 << y));
    writeMask<Log>(engine.topMask[group][t], engine.topMask[group][t] | (1 << x));
}

template <bool Log>
inline void doubleCheckLeaving(int side, int x, int y) {
    const int t = side - 1;
    if (twoOrMore[engine.dirMask[groupFour][t][x][y] | engine.dirMask[groupOpenThree][t][x][y]]) {
        return;
    }
    int32_t& row = engine.rowMask[groupDouble][t][x];
    writeMask<Log>(row, row & ~(1 << y));
    if (row == 0) {
        writeMask<Log>(engine.topMask[groupDouble][t], engine.topMask[groupDouble][t] & ~(1 << x));
    }
}

template <bool Log>
inline void doubleCheckEntering(int side, int x, int y) {
    const int t = side - 1;
    if (!twoOrMore[engine.dirMask[groupFour][t][x][y] | engine.dirMask[groupOpenThree][t][x][y]]) {
        return;
    }
    int32_t& row = engine.rowMask[groupDouble][t][x];
    writeMask<Log>(row, row | (1 << y));
    writeMask<Log>(engine.topMask[groupDouble][t], engine.topMask[groupDouble][t] | (1 << x));
}

template <bool Log>
inline void leaveCodeGroup(int code, int side, int x, int y, int d) {
    int g = groupOfCode[code];
    if (g < 0) return;
    leaveGroupOf<Log>(g, side, x, y, d);
    if (g >= groupFour) doubleCheckLeaving<Log>(side, x, y);
}

template <bool Log>
inline void enterCodeGroup(int code, int side, int x, int y, int d) {
    int g = groupOfCode[code];
    if (g < 0) return;
    enterGroupOf<Log>(g, side, x, y, d);
    if (g >= groupFour) doubleCheckEntering<Log>(side, x, y);
}

// After a full refresh of a stretch holding points whose values a trial
// stone left stale: a value the refresh recomputed is right again, which is a
// lasting change (an unmake that copied the old record back would bring the
// stale value back, where refreshing again keeps the right one). A value that
// is right by its codes is taken as recomputed; one the refresh did not
// touch keeps its mark.
void settleStaleValues(int d, int x, int y, int position, uint32_t stale) {
    while (stale) {
        const int k = __builtin_ctz(stale) - position;
        stale &= stale - 1;
        const int qx = x + k * dirStepX[d];
        const int qy = y + k * dirStepY[d];
        const PointPatterns& pp = engine.patterns[qx][qy];
        uint8_t& marks = engine.staleValue[qx][qy];
        for (int t = 0; t < 2; ++t) {
            if ((marks & (1u << t)) == 0) continue;
            const auto right =
                static_cast<int16_t>(pp.lineValueSum[t] + engine.comboTable[t][pp.codeWord[t]]);
            if (pp.pointValue[t] != right) continue;
            marks = static_cast<uint8_t>(marks & ~(1u << t));
            ++engine.lastingChanges;
        }
        if (marks == 0) {
            for (int e = 0; e < 4; ++e) {
                engine.staleLines[e][lineIndexOf(e, qx, qy)] &= ~(1u << linePosition(e, qx, qy));
            }
        }
    }
}

template <bool Log>
void exactFiveCorrection(int d, int side, int x, int y);

// Brings one side's nibble d of point (qx, qy) to table code n and space s.
template <int d, bool Log>
inline void refreshSide(PointPatterns& pp, int t, int qx, int qy, int n, int s) {
    constexpr int shift = 4 * d;
    constexpr uint32_t nibble = 15u << shift;
    const int o = static_cast<int>((pp.codeWord[t] >> shift) & 15);
    const int os = static_cast<int>((pp.spaceWord[t] >> shift) & 15);
    const int side = t + 1;
    if (n == o) {
        if (s != os) {
            engine.valueTotal[t] -= pp.weightedValue[t];
            pp.spaceWord[t] = (pp.spaceWord[t] & ~nibble) | (static_cast<uint32_t>(s) << shift);
            pp.spaceSum[t] = static_cast<int16_t>(pp.spaceSum[t] + s - os);
            pp.weightedValue[t] = weightedOf(pp.pointValue[t], pp.spaceSum[t]);
            engine.valueTotal[t] += pp.weightedValue[t];
        }
    } else {
        engine.valueTotal[t] -= pp.weightedValue[t];
        leaveCodeGroup<Log>(o, side, qx, qy, d);
        pp.lineValueSum[t] = static_cast<int16_t>(pp.lineValueSum[t] + codeValue[n] - codeValue[o]);
        pp.spaceSum[t] = static_cast<int16_t>(pp.spaceSum[t] + s - os);
        pp.codeWord[t] = (pp.codeWord[t] & ~nibble) | (static_cast<uint32_t>(n) << shift);
        pp.spaceWord[t] = (pp.spaceWord[t] & ~nibble) | (static_cast<uint32_t>(s) << shift);
        pp.pointValue[t] =
            static_cast<int16_t>(pp.lineValueSum[t] + engine.comboTable[t][pp.codeWord[t]]);
        pp.weightedValue[t] = weightedOf(pp.pointValue[t], pp.spaceSum[t]);
        engine.valueTotal[t] += pp.weightedValue[t];
        enterCodeGroup<Log>(n, side, qx, qy, d);
    }
    if ((n == codeOpenFour || n == codeFive) && exactFiveApplies(side)) {
        exactFiveCorrection<Log>(d, side, qx, qy);
    }
}

// Range of k for which c + k * step stays inside [0, bound); empty when a
// fixed coordinate is outside.
template <int step>
inline void clampRange(int c, int bound, int& kmin, int& kmax) {
    if (step == 0) {
        if (c < 0 || c >= bound) kmax = kmin - 1;
    } else if (step > 0) {
        if (-c > kmin) kmin = -c;
        if (bound - 1 - c < kmax) kmax = bound - 1 - c;
    } else {
        if (c - bound + 1 > kmin) kmin = c - bound + 1;
        if (c < kmax) kmax = c;
    }
}

template <int d, bool Log>
inline void refreshLineOf(int x, int y) {
    constexpr int sx = dirStepX[d];
    constexpr int sy = dirStepY[d];
    int kmin = -engine.updateRadius;
    int kmax = engine.updateRadius;
    clampRange<sx>(x, engine.boardHeight, kmin, kmax);
    clampRange<sy>(y, engine.boardWidth, kmin, kmax);
    if (kmin > kmax) return;
    // The line word cannot change during the refresh (the corrections read
    // cells only), so it is read once.
    const uint64_t word = lineWordOf(d, x, y);
    const int p = linePosition(d, x, y);
    const int line = lineIndexOf(d, x, y);
    uint32_t& pristine = engine.pristineLines[d][line];
    const uint32_t stretch = (2u << (p + kmax)) - (1u << (p + kmin));
    const uint32_t pristineHere = pristine & stretch;
    if (pristineHere) {
        pristine &= ~stretch;
        ++engine.lastingChanges;
    }
    const uint32_t stale = engine.staleLines[d][line] & stretch;
    int top = engine.undoRecordTop;
    for (int k = kmin; k <= kmax; ++k) {
        const int qx = x + k * sx;
        const int qy = y + k * sy;
        PointPatterns& pp = engine.patterns[qx][qy];
        // Five steps away (standard and Renju) the window does not reach the
        // changed cell. A point refreshed before already holds its window's
        // codes and spaces, so only a five or an open four and their
        // corrections (codes 9, 11, 12, 13) can change there.
        if ((k == -5 || k == 5) && ((pristineHere >> (p + k)) & 1u) == 0 &&
            ((fiveShapeCodes >> codeAt(pp.codeWord[0], d)) & 1u) == 0 &&
            ((fiveShapeCodes >> codeAt(pp.codeWord[1], d)) & 1u) == 0) {
            continue;
        }
        const uint32_t w = static_cast<uint32_t>((word >> (2 * (p + k))) & 0x3FFFF);
        const WindowCodes& e = engine.windowCodes[w];
        if (Log) {
            engine.undoRecords[top] = pp;
            engine.undoPointIndex[top] = static_cast<uint16_t>(qx * maxBoardSide + qy);
            ++top;
        }
        refreshSide<d, Log>(pp, 0, qx, qy, e.code[0], e.space[0]);
        refreshSide<d, Log>(pp, 1, qx, qy, e.code[1], e.space[1]);
    }
    if (Log) engine.undoRecordTop = top;
    if (stale) settleStaleValues(d, x, y, p, stale);
}

inline int lineLength(int d, int x, int y) {
    const int size = engine.boardSize;
    switch (d) {
        case H:
        case V: return size;
        case D: {
            int k = x + y;
            return (k < 2 * size - 2 - k ? k : 2 * size - 2 - k) + 1;
        }
        default: return size - std::abs(x - y);
    }
}

inline int min4(int v) { return v < 4 ? v : 4; }

// The record the reset gives to (x, y): code 1 on every line of six or more
// cells except at its ends, and the free cells within four steps as space.
PointPatterns resetRecord(int x, int y) {
    PointPatterns pp{};
    uint32_t cw = 0;
    uint32_t sw = 0;
    int lineValueSum = 0;
    int spaceSum = 0;
    for (int d = 0; d < 4; ++d) {
        int len = lineLength(d, x, y);
        int p = linePosition(d, x, y);
        int code = (p > 0 && p < len - 1 && len >= 6) ? 1 : 0;
        int space = min4(p) + min4(len - 1 - p);
        cw |= static_cast<uint32_t>(code) << (4 * d);
        sw |= static_cast<uint32_t>(space) << (4 * d);
        lineValueSum += codeValue[code];
        spaceSum += space;
    }
    for (int t = 0; t < 2; ++t) {
        pp.codeWord[t] = cw;
        pp.spaceWord[t] = sw;
        pp.lineValueSum[t] = static_cast<int16_t>(lineValueSum);
        pp.spaceSum[t] = static_cast<int16_t>(spaceSum);
        pp.pointValue[t] = static_cast<int16_t>(lineValueSum + engine.comboTable[t][cw]);
        pp.weightedValue[t] = weightedOf(pp.pointValue[t], pp.spaceSum[t]);
    }
    return pp;
}

}  // namespace

// ---------------------------------------------------------------------------
// Threat-point groups.

void leaveGroup(int group, int side, int x, int y, int d) {
    leaveGroupOf<false>(group, side, x, y, d);
}

void enterGroup(int group, int side, int x, int y, int d) {
    enterGroupOf<false>(group, side, x, y, d);
}

void doubleCheckAfterLeave(int side, int x, int y) { doubleCheckLeaving<false>(side, x, y); }

void doubleCheckAfterEnter(int side, int x, int y) { doubleCheckEntering<false>(side, x, y); }

// ---------------------------------------------------------------------------
// Exact-five corrections.

namespace {

template <bool Log>
void exactFiveCorrection(int d, int side, int x, int y) {
    const int t = side - 1;
    const int shift = 4 * d;
    const int sx = dirStepX[d];
    const int sy = dirStepY[d];
    PointPatterns& pp = engine.patterns[x][y];
    const int code = static_cast<int>((pp.codeWord[t] >> shift) & 15);
    if (code == codeFive) {
        const bool before = ownAt(x - sx, y - sy, side);
        const bool after = ownAt(x + sx, y + sy, side);
        // With own stones on both sides the window saw the whole run already.
        if (before == after) return;
        const int sigma = after ? 1 : -1;
        if (!ownAt(x + 5 * sigma * sx, y + 5 * sigma * sy, side)) return;
        engine.valueTotal[t] -= pp.weightedValue[t];
        leaveGroupOf<Log>(groupFive, side, x, y, d);
        pp.codeWord[t] =
            (pp.codeWord[t] & ~(15u << shift)) | (static_cast<uint32_t>(codeOverline) << shift);
        pp.lineValueSum[t] = static_cast<int16_t>(pp.lineValueSum[t] -
                                                  (codeValue[codeFive] - codeValue[codeOverline]));
    } else if (code == codeOpenFour) {
        int k = 1;
        while (ownAt(x + k * sx, y + k * sy, side)) ++k;
        bool overline = ownAt(x + (k + 1) * sx, y + (k + 1) * sy, side);
        if (!overline) {
            k = 1;
            while (ownAt(x - k * sx, y - k * sy, side)) ++k;
            overline = ownAt(x - (k + 1) * sx, y - (k + 1) * sy, side);
        }
        if (!overline) return;
        engine.valueTotal[t] -= pp.weightedValue[t];
        leaveGroupOf<Log>(groupOpenFour, side, x, y, d);
        pp.codeWord[t] =
            (pp.codeWord[t] & ~(15u << shift)) | (static_cast<uint32_t>(codeFourA) << shift);
        pp.lineValueSum[t] = static_cast<int16_t>(pp.lineValueSum[t] -
                                                  (codeValue[codeOpenFour] - codeValue[codeFourA]));
        enterGroupOf<Log>(groupFour, side, x, y, d);
        doubleCheckEntering<Log>(side, x, y);
    } else {
        return;
    }
    pp.pointValue[t] =
        static_cast<int16_t>(pp.lineValueSum[t] + engine.comboTable[t][pp.codeWord[t]]);
    pp.weightedValue[t] = weightedOf(pp.pointValue[t], pp.spaceSum[t]);
    engine.valueTotal[t] += pp.weightedValue[t];
}

template <bool Log>
inline void placeStoneOf(int x, int y, int colour) {
    const uint64_t c = static_cast<uint64_t>(colour);
    engine.cells[x][y] = colour;
    engine.lineWords.H[x] |= c << (2 * y + 8);
    refreshLineOf<H, Log>(x, y);
    engine.lineWords.V[y] |= c << (2 * x + 8);
    refreshLineOf<V, Log>(x, y);
    engine.lineWords.D[x + y] |= c << (2 * engine.posD[x][y] + 8);
    refreshLineOf<D, Log>(x, y);
    engine.lineWords.A[x - y + engine.boardSize] |= c << (2 * engine.posA[x][y] + 8);
    refreshLineOf<A, Log>(x, y);
    engine.hashKey ^= engine.zobrist[x][y][colour - 1];
    if (colour != wall) {
        engine.stoneList[engine.stoneCount].x = x;
        engine.stoneList[engine.stoneCount].y = y;
        ++engine.stoneCount;
    }
}

// The cells, line words and key without the stone; the caller brings the
// pattern records back.
inline void takeOffStone(int x, int y, int colour) {
    engine.cells[x][y] = empty;
    engine.lineWords.H[x] &= ~(uint64_t{3} << (2 * y + 8));
    engine.lineWords.V[y] &= ~(uint64_t{3} << (2 * x + 8));
    engine.lineWords.D[x + y] &= ~(uint64_t{3} << (2 * engine.posD[x][y] + 8));
    engine.lineWords.A[x - y + engine.boardSize] &= ~(uint64_t{3} << (2 * engine.posA[x][y] + 8));
    engine.hashKey ^= engine.zobrist[x][y][colour - 1];
    if (colour != wall) --engine.stoneCount;
}

}  // namespace

void exactFiveCheck(int d, int side, int x, int y) { exactFiveCorrection<false>(d, side, x, y); }

// ---------------------------------------------------------------------------
// Refreshes, placement and removal.

void refreshLineH(int x, int y) { refreshLineOf<H, false>(x, y); }
void refreshLineV(int x, int y) { refreshLineOf<V, false>(x, y); }
void refreshLineD(int x, int y) { refreshLineOf<D, false>(x, y); }
void refreshLineA(int x, int y) { refreshLineOf<A, false>(x, y); }

void placeStone(int x, int y, int colour) { placeStoneOf<false>(x, y, colour); }

void removeStone(int x, int y, int colour) {
    // A refresh reads only its own line word and the cells, so all four words
    // can lose the stone before the first refresh.
    takeOffStone(x, y, colour);
    refreshLineOf<H, false>(x, y);
    refreshLineOf<V, false>(x, y);
    refreshLineOf<D, false>(x, y);
    refreshLineOf<A, false>(x, y);
}

void makeMove(int x, int y, int side) {
    MoveUndo& u = engine.undoFrames[engine.undoDepth++];
    u.recordTop = engine.undoRecordTop;
    u.maskTop = engine.maskUndoTop;
    u.valueTotal[0] = engine.valueTotal[0];
    u.valueTotal[1] = engine.valueTotal[1];
    u.lastingChanges = engine.lastingChanges;
    placeStoneOf<true>(x, y, side);
}

void unmakeMove(int x, int y, int side) {
    const MoveUndo& u = engine.undoFrames[--engine.undoDepth];
    if (engine.lastingChanges != u.lastingChanges) {
        removeStone(x, y, side);
    } else {
        // Newest first, so a record saved twice (the stone's own point, once
        // per line) ends with its oldest copy, and a mask word written twice
        // with its first old value.
        takeOffStone(x, y, side);
        PointPatterns* const records = &engine.patterns[0][0];
        for (int i = engine.undoRecordTop - 1; i >= u.recordTop; --i) {
            records[engine.undoPointIndex[i]] = engine.undoRecords[i];
        }
        for (int i = engine.maskUndoTop - 1; i >= u.maskTop; --i) {
            *engine.maskUndo[i].where = engine.maskUndo[i].old;
        }
        engine.valueTotal[0] = u.valueTotal[0];
        engine.valueTotal[1] = u.valueTotal[1];
    }
    engine.undoRecordTop = u.recordTop;
    engine.maskUndoTop = u.maskTop;
}

// ---------------------------------------------------------------------------
// Reset.

namespace {

inline void setLineWalls(uint64_t& word, int length) {
    word = (uint64_t{3} << 6) | (uint64_t{3} << (2 * length + 8));
}

inline uint32_t lineBits(int length) { return (uint32_t{1} << length) - 1; }

}  // namespace

void resetBoard() {
    const int size = engine.boardSize;

    // 1-2. Empty cells; every line word holds only its two end walls.
    std::memset(engine.cells, 0, sizeof engine.cells);
    std::memset(&engine.lineWords, 0, sizeof engine.lineWords);
    for (int i = 0; i < size; ++i) {
        setLineWalls(engine.lineWords.H[i], size);
        setLineWalls(engine.lineWords.V[i], size);
    }
    for (int k = 0; k <= 2 * size - 2; ++k) {
        setLineWalls(engine.lineWords.D[k], (k < 2 * size - 2 - k ? k : 2 * size - 2 - k) + 1);
    }
    for (int k = 1; k <= 2 * size - 1; ++k) {
        setLineWalls(engine.lineWords.A[k], size - std::abs(k - size));
    }

    // 3. Tables exist from the first reset on; a rule change invalidates
    //    every stored result.
    allocateHashTables();
    if (hashTablesReady() && engine.rule != engine.hashClearedForRule) {
        if (engine.hashClearedForRule != hashTablesBlank) clearHashTables();
        engine.hashClearedForRule = engine.rule;
    }

    // 4-5. Pattern records of the empty board.
    std::memset(engine.patterns, 0, sizeof engine.patterns);
    engine.valueTotal[0] = 0;
    engine.valueTotal[1] = 0;
    for (int x = 0; x < size; ++x) {
        for (int y = 0; y < size; ++y) {
            engine.patterns[x][y] = resetRecord(x, y);
            engine.valueTotal[0] += engine.patterns[x][y].weightedValue[0];
            engine.valueTotal[1] += engine.patterns[x][y].weightedValue[1];
        }
    }

    // Every point of every line still holds its reset record; no make is live.
    std::memset(engine.pristineLines, 0, sizeof engine.pristineLines);
    for (int i = 0; i < size; ++i) {
        engine.pristineLines[H][i] = lineBits(size);
        engine.pristineLines[V][i] = lineBits(size);
    }
    for (int k = 0; k <= 2 * size - 2; ++k) {
        engine.pristineLines[D][k] = lineBits((k < 2 * size - 2 - k ? k : 2 * size - 2 - k) + 1);
    }
    for (int k = 1; k <= 2 * size - 1; ++k) {
        engine.pristineLines[A][k] = lineBits(size - std::abs(k - size));
    }
    std::memset(engine.staleValue, 0, sizeof engine.staleValue);
    std::memset(engine.staleLines, 0, sizeof engine.staleLines);
    engine.undoRecordTop = 0;
    engine.maskUndoTop = 0;
    engine.undoDepth = 0;

    // 6-8. Threat-point sets, per-ply lists, key and counters.
    std::memset(engine.dirMask, 0, sizeof engine.dirMask);
    std::memset(engine.rowMask, 0, sizeof engine.rowMask);
    std::memset(engine.topMask, 0, sizeof engine.topMask);
    std::memset(engine.moveLists, 0, sizeof engine.moveLists);
    engine.hashKey = 0;
    engine.stoneCount = 0;
    engine.iterationDepth = 0;
    engine.searchAborted = 0;
    engine.lastSearchValue = 0;

    // 9. The part of the square outside the rectangle is wall.
    if (engine.boardWidth != engine.boardHeight) {
        for (int x = 0; x < size; ++x) {
            for (int y = 0; y < size; ++y) {
                if (x >= engine.boardHeight || y >= engine.boardWidth) placeStone(x, y, wall);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// From-scratch consistency check.

namespace {

// Cell at position pos of the line of direction d through (x, y) (which sits
// at position p): the line's own cells, walls just outside both ends, and
// nothing further out, exactly as the line word lays them out.
int lineCell(int d, int x, int y, int p, int len, int pos) {
    if (pos == -1 || pos == len) return wall;
    if (pos < -1 || pos > len) return empty;
    int k = pos - p;
    return engine.cells[x + k * dirStepX[d]][y + k * dirStepY[d]];
}

// Length of the run of `side` stones through (x, y) along d if (x, y) and
// (ex, ey) held such stones too.
int runWith(int d, int side, int x, int y, int ex, int ey) {
    auto own = [&](int cx, int cy) {
        return (cx == x && cy == y) || (cx == ex && cy == ey) ||
               (onBoard(cx, cy) && engine.cells[cx][cy] == side);
    };
    int run = 1;
    for (int k = 1; own(x + k * dirStepX[d], y + k * dirStepY[d]); ++k) ++run;
    for (int k = 1; own(x - k * dirStepX[d], y - k * dirStepY[d]); ++k) ++run;
    return run;
}

// The code a refresh must leave at an empty point: the table code, with a
// five that is really an overline marked 13 and an open four one of whose
// completions makes an overline marked 9, where the rule makes fives exact.
int correctedCode(int d, int side, int x, int y, int code) {
    if (!exactFiveApplies(side)) return code;
    if (code == codeFive && runWith(d, side, x, y, x, y) >= 6) return codeOverline;
    if (code == codeOpenFour) {
        // The completion points are the cells just past both ends of the four.
        const int sx = dirStepX[d];
        const int sy = dirStepY[d];
        for (int sign = -1; sign <= 1; sign += 2) {
            int k = 1;
            while (onBoard(x + sign * k * sx, y + sign * k * sy) &&
                   engine.cells[x + sign * k * sx][y + sign * k * sy] == side) {
                ++k;
            }
            int cx = x + sign * k * sx;
            int cy = y + sign * k * sy;
            if (onBoard(cx, cy) && runWith(d, side, x, y, cx, cy) >= 6) return codeFourA;
        }
    }
    return code;
}

}  // namespace

bool checkBoardConsistency() {
    const int size = engine.boardSize;
    bool ok = true;

    // Line words from the cells.
    for (int x = 0; x < size && ok; ++x) {
        for (int y = 0; y < size && ok; ++y) {
            for (int d = 0; d < 4; ++d) {
                int len = lineLength(d, x, y);
                int p = linePosition(d, x, y);
                uint64_t word = lineWordOf(d, x, y);
                if (((word >> (2 * p + 8)) & 3) != static_cast<uint64_t>(engine.cells[x][y])) {
                    ok = false;
                }
                if (((word >> 6) & 3) != 3 || ((word >> (2 * len + 8)) & 3) != 3 ||
                    (word & 63) != 0 || (2 * len + 10 < 64 && (word >> (2 * len + 10)) != 0)) {
                    ok = false;
                }
            }
        }
    }

    // Lines outside the square stay empty.
    for (int i = size; i < maxBoardSide; ++i) {
        if (engine.lineWords.H[i] != 0 || engine.lineWords.V[i] != 0) ok = false;
    }
    for (int k = 2 * size - 1; k < 47; ++k) {
        if (engine.lineWords.D[k] != 0) ok = false;
    }
    for (int k = 2 * size; k < 48; ++k) {
        if (engine.lineWords.A[k] != 0) ok = false;
    }
    if (engine.lineWords.A[0] != 0) ok = false;

    // Key, stone count and stone list.
    uint64_t key = 0;
    int stones = 0;
    for (int x = 0; x < size; ++x) {
        for (int y = 0; y < size; ++y) {
            int c = engine.cells[x][y];
            if (c != empty) key ^= engine.zobrist[x][y][c - 1];
            if (c == black || c == white) ++stones;
            if (!onBoard(x, y) && c != wall) ok = false;
        }
    }
    if (key != engine.hashKey || stones != engine.stoneCount) ok = false;
    for (int i = 0; i < engine.stoneCount && ok; ++i) {
        const StonePoint& s = engine.stoneList[i];
        if (!onBoard(s.x, s.y) || engine.cells[s.x][s.y] == empty ||
            engine.cells[s.x][s.y] == wall) {
            ok = false;
        }
        for (int j = 0; j < i; ++j) {
            if (engine.stoneList[j].x == s.x && engine.stoneList[j].y == s.y) ok = false;
        }
    }

    // Pattern records, totals and threat-point sets. A direction still marked
    // as never refreshed must hold the reset record's code and space; every
    // other one what the cells give. A value may differ from what its codes
    // give only where it is marked stale.
    static int32_t dirMask[4][2][24][24];
    static int32_t rowMask[5][2][24];
    int32_t topMask[5][2] = {};
    std::memset(dirMask, 0, sizeof dirMask);
    std::memset(rowMask, 0, sizeof rowMask);
    int32_t total[2] = {0, 0};
    for (int x = 0; x < size; ++x) {
        for (int y = 0; y < size; ++y) {
            const PointPatterns& pp = engine.patterns[x][y];
            PointPatterns want = resetRecord(x, y);
            const int marks = engine.staleValue[x][y];
            if (onBoard(x, y)) {
                for (int d = 0; d < 4; ++d) {
                    const bool staleBit =
                        (engine.staleLines[d][lineIndexOf(d, x, y)] >> linePosition(d, x, y)) & 1u;
                    if (staleBit != (marks != 0)) ok = false;
                }
                for (int t = 0; t < 2; ++t) {
                    uint32_t cw = 0;
                    uint32_t sw = 0;
                    int lineValueSum = 0;
                    int spaceSum = 0;
                    for (int d = 0; d < 4; ++d) {
                        int code = 0;
                        int space = 0;
                        const int p = linePosition(d, x, y);
                        if ((engine.pristineLines[d][lineIndexOf(d, x, y)] >> p) & 1u) {
                            code = codeAt(want.codeWord[t], d);
                            space = codeAt(want.spaceWord[t], d);
                        } else if (engine.cells[x][y] == empty) {
                            int len = lineLength(d, x, y);
                            uint32_t w = 0;
                            for (int i = 0; i < 9; ++i) {
                                w |= static_cast<uint32_t>(lineCell(d, x, y, p, len, p - 4 + i))
                                     << (2 * i);
                            }
                            const WindowEntry& e = engine.windowTable[w];
                            code = correctedCode(d, t + 1, x, y, e.code[t]);
                            space = e.space[t];
                        }
                        cw |= static_cast<uint32_t>(code) << (4 * d);
                        sw |= static_cast<uint32_t>(space) << (4 * d);
                        lineValueSum += codeValue[code];
                        spaceSum += space;
                        int g = groupOfCode[code];
                        if (g >= 0) {
                            dirMask[g][t][x][y] |= 1 << d;
                            rowMask[g][t][x] |= 1 << y;
                            topMask[g][t] |= 1 << x;
                        }
                    }
                    if (twoOrMore[dirMask[groupFour][t][x][y] | dirMask[groupOpenThree][t][x][y]]) {
                        rowMask[groupDouble][t][x] |= 1 << y;
                        topMask[groupDouble][t] |= 1 << x;
                    }
                    want.codeWord[t] = cw;
                    want.spaceWord[t] = sw;
                    want.lineValueSum[t] = static_cast<int16_t>(lineValueSum);
                    want.spaceSum[t] = static_cast<int16_t>(spaceSum);
                    want.pointValue[t] =
                        (marks & (1 << t))
                            ? pp.pointValue[t]
                            : static_cast<int16_t>(lineValueSum + engine.comboTable[t][cw]);
                    want.weightedValue[t] = weightedOf(want.pointValue[t], want.spaceSum[t]);
                }
            } else if (marks != 0) {
                ok = false;
            }
            if (std::memcmp(&want, &pp, sizeof want) != 0) ok = false;
            total[0] += want.weightedValue[0];
            total[1] += want.weightedValue[1];
        }
    }
    if (total[0] != engine.valueTotal[0] || total[1] != engine.valueTotal[1]) ok = false;
    if (std::memcmp(dirMask, engine.dirMask, sizeof dirMask) != 0 ||
        std::memcmp(rowMask, engine.rowMask, sizeof rowMask) != 0 ||
        std::memcmp(topMask, engine.topMask, sizeof topMask) != 0) {
        ok = false;
    }
    return ok;
}
