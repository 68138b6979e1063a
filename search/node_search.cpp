// Node search: the recursive alpha-beta below the root.
//
// Five-in-a-row is a game of forcing moves, and the search is shaped around
// them rather than around a uniform move loop. Before any move is generated a
// node settles what needs no search: a five to play wins, an opponent five
// leaves exactly one move, an open four wins, the table may already know the
// answer, and the threat search may prove a win by continuous fours. Only
// then are moves produced, lazily and in stages that follow the threat-point
// sets kept by the board: the table moves first, then double threats,
// defences against an open four, fours and threes of each side, the killers,
// and last the quiet points. Most cut-offs come from the early stages, so the
// expensive scan for quiet moves is rarely paid.
//
// Everything a node needs lives in fixed storage: its move list is
// engine.moveLists[ply], the tried-point stamps and killers are per-ply arrays
// of the engine record, and the rest is a small frame on the stack. A ply
// index is the distance from the root (iterationDepth - depth), which strictly
// grows along the active path, so no two live nodes ever share a list. The
// evaluation and the threat search use the list after the node's own as
// scratch; a node therefore needs two list slots, and one that would sit on
// the last slot (possible only after very long extended sequences) is scored
// as a leaf instead.
//
// Values stay in 32-bit integers everywhere; the penalty factors are applied
// as exact integer ratios, truncating after every step, so that the 32-bit
// and the 64-bit engines search the very same tree.
#include "search/node_search.h"

#include <algorithm>
#include <cstring>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/pattern_tables.h"
#include "board/tables.h"
#include "rules/evaluation.h"
#include "rules/foul_test.h"
#include "rules/threat_search.h"
#include "search/transposition.h"

namespace {

// A point's line-value sum at or above this holds a four or a three.
constexpr int threatLevel = 158;
// Above this the point holds a double threat or better.
constexpr int strongThreatLevel = 261;
// Values beyond these are treated as proven when moves are ranked.
constexpr int32_t provenRank = 9000000;
// "Still playing": best values above this are not yet desperate.
constexpr int32_t hopeless = -5000000;
constexpr uint64_t generationLimit = 1ULL << 63;
// Late-move reductions of the default search: the least depth that reduces,
// the first move number reduced, and where a reduction grows to two plies.
constexpr int lmrMinDepth = 3;
constexpr int lmrFirstMove = 3;
constexpr int lmrDeepDepth = 6;
constexpr int lmrLateMove = 8;

const int noMove[3] = {-1, -1, -1};

inline const PointPatterns& at(int x, int y) { return engine.patterns[x][y]; }
inline int lineSum(int x, int y, int side) { return at(x, y).lineValueSum[side - 1]; }

// Calls fn(x, y) for every set bit of a row mask in ascending y.
template <typename Fn>
inline void forEachBit(uint32_t row, int x, Fn&& fn) {
    while (row) {
        const uint32_t bit = row & (0u - row);
        row ^= bit;
        fn(x, bitIndexOf(bit));
    }
}

// A stage's list under construction. The per-row marks keep a point from
// being listed twice within one stage, so a list never outgrows the 576
// entries of its slot however many groups it merges.
struct StageList {
    ScoredMove* moves;
    int count;
    uint64_t generation;
    uint64_t (*stamps)[maxBoardSide];
    uint32_t marked[maxBoardSide];

    explicit StageList(const SearchFrame& f)
        : moves(engine.moveLists[f.ply]),
          count(0),
          generation(engine.plyGeneration[f.ply]),
          stamps(engine.triedStamps[f.ply]),
          marked{} {}

    void add(int x, int y) {
        if (!onBoard(x, y) || engine.cells[x][y] != empty) return;
        if (stamps[x][y] == generation || ((marked[x] >> y) & 1)) return;
        marked[x] |= 1u << y;
        moves[count].key = 0;
        moves[count].x = static_cast<int16_t>(x);
        moves[count].y = static_cast<int16_t>(y);
        ++count;
    }

    void addGroup(int group, int side) {
        forEachGroupPoint(group, side, [this](int x, int y) {
            add(x, y);
            return false;
        });
    }

    // Points of groups 2 and 3 of side that are not in its group 4.
    void addSingleThreats(int side) {
        const int s = side - 1;
        uint32_t top =
            static_cast<uint32_t>(engine.topMask[groupFour][s] | engine.topMask[groupOpenThree][s]);
        while (top) {
            const uint32_t xBit = top & (0u - top);
            top ^= xBit;
            const int x = bitIndexOf(xBit);
            const uint32_t row = static_cast<uint32_t>(
                (engine.rowMask[groupFour][s][x] | engine.rowMask[groupOpenThree][s][x]) &
                ~engine.rowMask[groupDouble][s][x]);
            forEachBit(row, x, [this](int px, int py) { add(px, py); });
        }
    }
};

// The extra blocks of an open-four point P of opp: the points that stop the
// four it would make without taking P itself.
void addExtraBlocks(StageList& list, int opp, int px, int py) {
    const uint32_t word = at(px, py).codeWord[opp - 1];
    int d = 0;
    while (d < 4 && codeAt(word, d) != codeOpenFour) ++d;
    if (d == 4) return;
    int sx = dirStepX[d];
    int sy = dirStepY[d];
    auto holdsOpp = [opp](int x, int y) { return onBoard(x, y) && engine.cells[x][y] == opp; };

    if (holdsOpp(px + sx, py + sy) && holdsOpp(px - sx, py - sy)) {
        // P fills a gap: the four's two ends lie past the runs on both sides.
        for (int sign = 1; sign >= -1; sign -= 2) {
            int x = px + sign * sx;
            int y = py + sign * sy;
            while (onBoard(x, y) && engine.cells[x][y] != empty) {
                x += sign * sx;
                y += sign * sy;
            }
            list.add(x, y);
        }
        return;
    }
    if (holdsOpp(px - sx, py - sy)) {
        sx = -sx;
        sy = -sy;
    }
    // P extends a run of three lying towards +step; Q is the run's far end.
    const int qx = px + 4 * sx;
    const int qy = py + 4 * sy;
    if (onBoard(qx, qy) && codeAt(at(qx, qy).codeWord[opp - 1], d) == codeOpenFour &&
        (engine.rule != ruleRenju || opp == white || isForbidden(qx, qy) == 0)) {
        return;  // Q is itself listed as an open-four point
    }
    list.add(qx, qy);
    list.add(px - sx, py - sy);
}

// Stage 2. Returns true when the defences are the node's only moves.
bool listOpenFourDefences(StageList& list, int side) {
    const int opp = 3 - side;
    list.addGroup(groupOpenFour, opp);
    int px = 0;
    int py = 0;
    bool allFoul = false;
    if (engine.rule == ruleRenju && side == white) {
        bool found = false;
        forEachGroupPoint(groupOpenFour, opp, [&](int x, int y) {
            if (isForbidden(x, y) != 0) return false;
            px = x;
            py = y;
            found = true;
            return true;
        });
        if (!found) {
            firstGroupPoint(groupOpenFour, opp, px, py);
            allFoul = true;
        }
    } else {
        firstGroupPoint(groupOpenFour, opp, px, py);
    }
    addExtraBlocks(list, opp, px, py);
    list.addGroup(groupFour, side);
    if (engine.rule == ruleRenju && side == black) list.addGroup(groupOpenFour, side);
    // Black's open fours that are all fouls threaten nothing: white plays on.
    return !allFoul;
}

void addKillers(StageList& list, const SearchFrame& f) {
    for (int slot = 0; slot < 2; ++slot) {
        const KillerEntry& k = engine.killerTable[f.ply][slot];
        if (k.codeWord == 0 || !onBoard(k.x, k.y) || engine.cells[k.x][k.y] != empty) continue;
        if (at(k.x, k.y).codeWord[f.side - 1] == k.codeWord) list.add(k.x, k.y);
    }
}

// Column mask of the five columns y-2 .. y+2 (pattern bit c+2 for column y+c),
// clipped at column 0.
inline uint32_t columnMask(uint32_t pattern, int y) { return (pattern << y) >> 2; }

// Stage 7: the quiet points, in three passes of widening reach.
void listRest(StageList& list, const SearchFrame& f) {
    const int side = f.side;
    const int opp = f.opp;
    const int height = engine.boardHeight;
    const int width = engine.boardWidth;
    const bool demanding =
        (f.nullWindow || f.best > hopeless) && (engine.rule == ruleFreestyle || f.ply > 1);
    auto relevant = [&](int x, int y) {
        const int own = lineSum(x, y, side);
        const int other = lineSum(x, y, opp);
        return demanding ? (own > 7 || other > 8) : (own > 5 || other > 5);
    };
    auto untried = [&](int x, int y) {
        return engine.cells[x][y] == empty && list.stamps[x][y] != list.generation;
    };

    // Pass 1: note the relevant points; list the points with codes of 3 or
    // more in two directions for either colour.
    int noted = 0;
    for (int x = 0; x < height; ++x) {
        for (int y = 0; y < width; ++y) {
            if (!untried(x, y)) continue;
            if (relevant(x, y)) ++noted;
            const PointPatterns& p = at(x, y);
            if ((engine.comboFlags[p.codeWord[0] & 0xFFFF] & 7) >= 2 ||
                (engine.comboFlags[p.codeWord[1] & 0xFFFF] & 7) >= 2) {
                list.add(x, y);
            }
        }
    }
    const int firstPass = list.count;
    if (firstPass > 0 && f.ply > 1 && f.best > hopeless && f.nullWindow) return;
    if (f.listed > 0 && f.ply >= 2 && f.effDepth <= 4 && f.nullWindow) return;

    // Occupancy by row: any cell (stones and walls) for pass 2, stones and the
    // side's own stones for pass 3.
    const int size = engine.boardSize;
    uint32_t occupied[maxBoardSide] = {};
    uint32_t stones[maxBoardSide] = {};
    uint32_t own[maxBoardSide] = {};
    for (int x = 0; x < size; ++x) {
        for (int y = 0; y < size; ++y) {
            const int c = engine.cells[x][y];
            if (c != empty) occupied[x] |= 1u << y;
            if (c == black || c == white) stones[x] |= 1u << y;
            if (c == side) own[x] |= 1u << y;
        }
    }

    bool widen = noted == 0;
    if (noted > 0) {
        // Pass 2: relevant points with anything in their 5 x 5 square.
        for (int x = 0; x < height; ++x) {
            for (int y = 0; y < width; ++y) {
                if (!untried(x, y) || !relevant(x, y)) continue;
                const uint32_t cols = columnMask(0x1F, y);
                bool near = false;
                for (int r = std::max(0, x - 2); r <= std::min(size - 1, x + 2) && !near; ++r) {
                    near = (occupied[r] & cols) != 0;
                }
                if (near) list.add(x, y);
            }
        }
        if (list.count > 0) {
            if (f.ply < 2) {
                const int n = firstPass + f.listed + list.count;
                widen = n < 11 || (!f.nullWindow && n < 19);
            } else {
                widen = false;
            }
        } else {
            widen = true;
        }
    }

    if (widen) {
        // Pass 3: every untried point with a stone in its neighbourhood shape,
        // rows given as column patterns for offsets -2 .. +2.
        uint32_t anyShape[5] = {0x1F, 0x1F, 0x1F, 0x1F, 0x1F};
        uint32_t ownShape[5] = {0, 0, 0, 0, 0};
        if (engine.rule == ruleFreestyle) {
            const bool narrow = f.effDepth < 5 && f.nullWindow && f.best > hopeless && f.ply > 1;
            // The square's inner 3 x 3 and the four lines out to distance 2.
            anyShape[0] = anyShape[4] = 0x15;
            anyShape[1] = anyShape[3] = 0x0E;
            if (!narrow) {
                // The eight knight-move points count only for the side's stones.
                ownShape[0] = ownShape[4] = 0x0A;
                ownShape[1] = ownShape[3] = 0x11;
            }
        }
        for (int x = 0; x < height; ++x) {
            for (int y = 0; y < width; ++y) {
                if (!untried(x, y)) continue;
                bool near = false;
                for (int r = std::max(0, x - 2); r <= std::min(height - 1, x + 2) && !near; ++r) {
                    const int i = r - x + 2;
                    near = (stones[r] & columnMask(anyShape[i], y)) != 0 ||
                           (own[r] & columnMask(ownShape[i], y)) != 0;
                }
                if (near) list.add(x, y);
            }
        }
    }

    if (f.listed == 0 && list.count == 0) {
        for (int x = 0; x < height; ++x) {
            for (int y = 0; y < width; ++y) list.add(x, y);
        }
    }
}

// Edge-distance weight of the threat penalty: a threat near the edge has
// little room to grow, so spending it costs more.
int edgeWeight(int x, int y) {
    const int k = std::min(x, engine.boardHeight - 1 - x);
    const int m = std::min(y, engine.boardWidth - 1 - y);
    switch (std::min(k, m)) {
        case 0:
        case 1: return 40;
        case 2: return 32;
        case 3: return 26;
        case 4: return 20;
        default: return 15;
    }
}

// The penalty shrinks when the side stands well and grows when it stands
// badly: a threat spent from a good position is cheap.
int32_t scaleByStanding(int32_t k, int32_t e) {
    if (e >= 600) return 0;
    if (e >= 500) return k * 1 / 10;
    if (e >= 400) return k * 2 / 10;
    if (e >= 300) return k * 4 / 10;
    if (e >= 200) return k * 6 / 10;
    if (e >= 100) return k * 8 / 10;
    if (e > -100) return k;
    if (e >= -199) return k * 11 / 10;
    if (e >= -299) return k * 13 / 10;
    if (e >= -499) return k * 16 / 10;
    return k * 18 / 10;
}

void storeNode(const SearchFrame& f, int32_t value, int bound, const int moveX[3],
               const int moveY[3]) {
    if (f.root) {
        storeEntryAlways(f.effDepth, value, bound, f.side, moveX, moveY);
    } else {
        storeEntry(f.effDepth, value, bound, f.side, moveX, moveY);
    }
}

// The table's moves for this position, inside the board and on empty points.
void probeTableMoves(SearchFrame& f) {
    int moveX[3] = {-1, -1, -1};
    int moveY[3] = {-1, -1, -1};
    probeEntry(1, f.alpha, f.beta, f.side, engine.hashKey, moveX, moveY, 3);
    f.tableCount = 0;
    for (int i = 0; i < 3; ++i) {
        const int x = moveX[i];
        const int y = moveY[i];
        if (!onBoard(x, y) || engine.cells[x][y] != empty) continue;
        bool repeated = false;
        for (int j = 0; j < f.tableCount; ++j) repeated |= f.tableX[j] == x && f.tableY[j] == y;
        if (repeated) continue;
        f.tableX[f.tableCount] = x;
        f.tableY[f.tableCount] = y;
        ++f.tableCount;
    }
}

enum class LoopEnd { stagesGoOn, nodeReturns, nodeFinishes };

// Late-move reductions (default search only). At a null-window node the
// points that only block the opponent's future threats, and the quiet points,
// almost never cut: in the bench's trees one in thirty of the first and one in
// sixty of the second does, against one in three of the node's own threats.
// Searched a ply or two shallower they still refute what they can, and one
// that unexpectedly reaches alpha is searched again at full depth. A move with
// an extension (a threat of the mover) is never reduced. Nodes that must
// answer a five or an open four never reach these two stages.
int lateMoveReduction(const SearchFrame& f, int stage, int moveNumber) {
    if (engine.searchMode != searchDefault || !f.nullWindow) return 0;
    if (stage != stageOppThreats && stage != stageRest) return 0;
    if (f.effDepth < lmrMinDepth || moveNumber < lmrFirstMove) return 0;
    return f.effDepth >= lmrDeepDepth && moveNumber >= lmrLateMove ? 2 : 1;
}

// The reduced search of a move without extension (so without penalty), and
// the full one when the reduced one does not fail low.
int32_t searchReducedChild(const SearchFrame& f, int moveNumber, int reduction) {
    const int32_t v = -searchNode(f.depth - 1 - reduction, -f.alpha - 1, -f.alpha, f.opp, f.ext);
    if (engine.searchAborted || v <= f.alpha) return v;
    return searchChild(f, moveNumber, 0, f.ext);
}

// Searches the filtered list of one stage: penalty and extension, the child
// search, the kept moves, cut-off, alpha and move-count pruning.
LoopEnd searchStage(SearchFrame& f, int stage, int count, int32_t* result) {
    ScoredMove* list = engine.moveLists[f.ply];
    const int firstNumber = f.listed - count;
    for (int i = 0; i < count; ++i) {
        const int x = list[i].x;
        const int y = list[i].y;
        const int moveNumber = firstNumber + i;
        const int w = lineSum(x, y, f.side);
        prefetchChild(f, x, y);
        int extension = 0;
        const int32_t penalty = threatPenalty(f, x, y, &extension);

        makeMove(x, y, f.side);
        if (!threatExtension(f, w, &extension)) {
            unmakeMove(x, y, f.side);
            *result = 0;
            return LoopEnd::nodeReturns;
        }
        const int reduction = extension == 0 ? lateMoveReduction(f, stage, moveNumber) : 0;
        const int32_t v = reduction > 0 ? searchReducedChild(f, moveNumber, reduction)
                                        : searchChild(f, moveNumber, penalty, f.ext + extension);
        unmakeMove(x, y, f.side);
        if (engine.searchAborted) {
            *result = 0;
            return LoopEnd::nodeReturns;
        }

        f.best = std::max(f.best, v);
        keepMove(f, x, y, v);
        if (v >= f.beta) {
            if (stage == stageTable) {
                // Store the table moves not searched yet along with the cut.
                for (int j = i + 1; j < 3 && j < count; ++j) {
                    f.keptX[j] = list[j].x;
                    f.keptY[j] = list[j].y;
                }
            }
            if (quietPoint(x, y)) updateKillers(f, x, y);
            storeEntry(f.effDepth, v, 2, f.side, f.keptX, f.keptY);
            *result = v;
            return LoopEnd::nodeReturns;
        }
        if (v > f.alpha) {
            f.alpha = v;
            f.bound = 3;
        } else if (pruneByCount(f, stage, moveNumber, extension)) {
            return LoopEnd::nodeFinishes;
        }
    }
    return LoopEnd::stagesGoOn;
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared pieces.

bool plyInRange(int ply) { return ply >= 0 && ply < maxPoints - 1; }

int32_t outOfRangeLeaf(int depth, int side) {
    // Clamp the evaluation's scratch slot onto a list no live node uses.
    const int ply = std::min(std::max(engine.iterationDepth - depth, 0), maxPoints - 1);
    return evaluatePosition(engine.iterationDepth - ply, side);
}

void initFrame(SearchFrame& f, int depth, int32_t alpha, int32_t beta, int side, int ext) {
    f.depth = depth;
    f.side = side;
    f.opp = 3 - side;
    f.ext = ext;
    f.effDepth = depth + ext / 2;
    f.ply = engine.iterationDepth - depth;
    f.root = false;
    f.nullWindow = static_cast<int64_t>(beta) == static_cast<int64_t>(alpha) + 1;
    f.alpha = alpha;
    f.beta = beta;
    f.best = noBest;
    f.bound = 1;
    f.listed = 0;
    f.forcedBlock = false;
    f.blockX = -1;
    f.blockY = -1;
    f.defenceOnly = false;
    f.evalKnown = false;
    f.eval = 0;
    for (int i = 0; i < 3; ++i) {
        f.keptX[i] = -1;
        f.keptY[i] = -1;
        f.keptValue[i] = noBest;
        f.tableX[i] = -1;
        f.tableY[i] = -1;
    }
    f.tableCount = 0;
}

bool countNodeAndCheckAbort() {
    ++engine.nodeCount;
    if (engine.nodeCount % 1024 == 0 && searchShouldStop()) {
        engine.searchAborted = 1;
        return true;
    }
    return false;
}

bool openFourWins(int side) {
    int x = 0;
    int y = 0;
    if (!firstGroupPoint(groupOpenFour, side, x, y)) return false;
    if (engine.rule == ruleRenju && side == black) return isForbidden(x, y) == 0;
    return true;
}

void clearTriedStamps() {
    std::memset(engine.triedStamps, 0, sizeof(engine.triedStamps));
    std::memset(engine.plyGeneration, 0, sizeof(engine.plyGeneration));
}

void startPlyGeneration(int ply) {
    if (engine.plyGeneration[ply] > generationLimit) {
        engine.plyGeneration[ply] = 0;
        std::memset(engine.triedStamps[ply], 0, sizeof(engine.triedStamps[ply]));
    }
    ++engine.plyGeneration[ply];
}

int generateTableStage(SearchFrame& f, int32_t* result) {
    probeTableMoves(f);
    if (f.tableCount == 0 && f.effDepth >= (f.nullWindow ? 8 : 6)) {
        // No move known: a reduced search of this very node finds one.
        const int reduction = f.nullWindow ? f.effDepth / 4 : 1;
        const int32_t v = searchNode(f.depth - reduction - 2, f.alpha, f.beta, f.side, f.ext);
        if (engine.searchAborted) {
            *result = 0;
            return -1;
        }
        if (f.nullWindow && v >= f.beta && v > provenRank) {
            storeNode(f, v, 3, noMove, noMove);
            *result = v;
            return -1;
        }
        probeTableMoves(f);
    }
    ScoredMove* list = engine.moveLists[f.ply];
    for (int i = 0; i < f.tableCount; ++i) {
        list[i].key = 0;
        list[i].x = static_cast<int16_t>(f.tableX[i]);
        list[i].y = static_cast<int16_t>(f.tableY[i]);
    }
    return f.tableCount;
}

int generateStage(SearchFrame& f, int stage) {
    StageList list(f);
    switch (stage) {
        case stageOwnDoubles: list.addGroup(groupDouble, f.side); break;
        case stageOpenFourDefence:
            if (!groupEmpty(groupOpenFour, f.opp))
                f.defenceOnly = listOpenFourDefences(list, f.side);
            break;
        case stageOppDoubles: list.addGroup(groupDouble, f.opp); break;
        case stageOwnThreats: list.addSingleThreats(f.side); break;
        case stageOppThreats: list.addSingleThreats(f.opp); break;
        case stageKillers: addKillers(list, f); break;
        case stageRest: listRest(list, f); break;
        default: break;
    }
    return list.count;
}

int filterAndOrder(SearchFrame& f, int count, bool keepOrder) {
    ScoredMove* list = engine.moveLists[f.ply];
    const uint64_t generation = engine.plyGeneration[f.ply];
    uint64_t(*stamps)[maxBoardSide] = engine.triedStamps[f.ply];
    const bool checkFouls = engine.rule == ruleRenju && f.side == black;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const int x = list[i].x;
        const int y = list[i].y;
        if (stamps[x][y] == generation) continue;
        if (checkFouls && isForbidden(x, y) != 0) continue;
        stamps[x][y] = generation;
        list[kept].x = static_cast<int16_t>(x);
        list[kept].y = static_cast<int16_t>(y);
        list[kept].key = -(lineSum(x, y, f.side) + lineSum(x, y, f.opp) / 2);
        ++kept;
    }
    if (!keepOrder) {
        // Insertion sort: stable, so equal keys keep their listing order.
        for (int i = 1; i < kept; ++i) {
            const ScoredMove m = list[i];
            int j = i;
            while (j > 0 && list[j - 1].key > m.key) {
                list[j] = list[j - 1];
                --j;
            }
            list[j] = m;
        }
    }
    f.listed += kept;
    return kept;
}

int32_t threatPenalty(SearchFrame& f, int x, int y, int* extension) {
    const PointPatterns& p = at(x, y);
    const int w = p.lineValueSum[f.side - 1];
    *extension = 0;
    if (w < threatLevel) return 0;

    const int level = w > strongThreatLevel ? 2 : 1;
    const uint16_t flags = engine.comboFlags[p.codeWord[f.side - 1] & 0xFFFF];
    const int space = p.spaceSum[f.side - 1];
    int32_t base = 0;
    if (flags & flagFour) {
        base = level == 1 ? -40 : -5;
    } else if (flags & flagThree) {
        base = space > 23 ? 0 : -10;
    }
    *extension = f.nullWindow ? (w <= strongThreatLevel ? 1 : 2) : level + 1;

    int32_t k = base * edgeWeight(x, y) / 40;
    if (k != 0) {
        if (space < 18) {
            k = k * 11 / 10;
            if (space < 15) {
                k = k * 11 / 10;
                if (space < 12) k = k * 13 / 10;
            }
        } else if (space > 22) {
            k = k * 9 / 10;
        }
        if (!f.evalKnown) {
            f.eval = evaluatePosition(f.depth - 1, f.side);
            f.evalKnown = true;
        }
        k = scaleByStanding(k, f.eval);
    }
    if (!groupEmpty(groupFive, f.opp)) k /= 4;
    return k;
}

void prefetchChild(const SearchFrame& f, int x, int y) {
    // The child's key is known before its stone is placed; its first reads are
    // its table bucket and, unless the table settles it, the threat search's
    // bucket. Both loads run while the make refreshes the lines, and asked for
    // together their address translations overlap too: a miss there stalls
    // the processor however early it is asked for.
    const uint64_t child = engine.hashKey ^ engine.zobrist[x][y][f.side - 1];
    prefetchBucket(f.opp, child);
    prefetchThreatSearch(f.opp, child);
}

bool threatExtension(const SearchFrame& f, int w, int* extension) {
    if (f.nullWindow || w <= 7 || w >= threatLevel) return true;
    if (f.depth < (-3 * engine.iterationDepth) / 2) return true;
    const int32_t v = threatSearch(f.depth - 1, f.side, 0, 0);
    if (engine.searchAborted) return false;
    if (v > 0) *extension = std::min(*extension + (w > 33 ? 2 : 1), 4);
    return true;
}

int32_t searchChild(const SearchFrame& f, int moveNumber, int32_t penalty, int credit) {
    const int32_t k = penalty;
    if (moveNumber == 0 || f.nullWindow) {
        return k - searchNode(f.depth - 1, k - f.beta, k - f.alpha, f.opp, credit);
    }
    int32_t v = k - searchNode(f.depth - 1, k - f.alpha - 1, k - f.alpha, f.opp, credit);
    if (engine.searchAborted) return 0;
    if (f.alpha < v && v < f.beta) {
        v = k - searchNode(f.depth - 1, k - f.beta, k - f.alpha, f.opp, credit);
    }
    return v;
}

void keepMove(SearchFrame& f, int x, int y, int32_t v) {
    const int32_t rank = (v <= -provenRank || v >= provenRank) ? v : std::max(v, f.alpha);
    for (int i = 0; i < 3; ++i) {
        if (rank > f.keptValue[i]) {
            for (int j = 2; j > i; --j) {
                f.keptX[j] = f.keptX[j - 1];
                f.keptY[j] = f.keptY[j - 1];
                f.keptValue[j] = f.keptValue[j - 1];
            }
            f.keptX[i] = x;
            f.keptY[i] = y;
            f.keptValue[i] = rank;
            return;
        }
    }
}

void updateKillers(const SearchFrame& f, int x, int y) {
    KillerEntry* slots = engine.killerTable[f.ply];
    slots[0] = slots[1];
    slots[1].x = static_cast<int16_t>(x);
    slots[1].y = static_cast<int16_t>(y);
    slots[1].codeWord = at(x, y).codeWord[f.side - 1];
}

bool quietPoint(int x, int y) {
    return lineSum(x, y, black) < threatLevel && lineSum(x, y, white) < threatLevel;
}

bool pruneByCount(const SearchFrame& f, int stage, int moveNumber, int extension) {
    if (f.ply <= 2 || f.best <= hopeless || !f.nullWindow || extension > 1) return false;
    if (f.forcedBlock || f.defenceOnly) return false;
    if (f.effDepth <= 1) {
        return (stage >= 4 && moveNumber >= 12) || (stage >= 5 && moveNumber >= 10) ||
               (stage >= 6 && moveNumber >= 8);
    }
    if (f.effDepth == 2) return (stage >= 4 && moveNumber >= 12) || (stage >= 6 && moveNumber >= 8);
    if (f.effDepth == 3) return stage >= 5 && moveNumber >= 12;
    if (f.effDepth == 4) return stage >= 6 && moveNumber >= 12;
    return false;
}

bool boardIsFull() {
    if (engine.stoneCount >= engine.boardWidth * engine.boardHeight) return true;
    // Blocked points are walls inside the board and never enter stoneCount.
    for (int x = 0; x < engine.boardHeight; ++x) {
        for (int y = 0; y < engine.boardWidth; ++y) {
            if (engine.cells[x][y] == empty) return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------

int32_t searchNode(int depth, int32_t alpha, int32_t beta, int side, int ext) {
    // 1. Node count and abort test, a five to play, an opponent five to
    // block, an open four.
    if (countNodeAndCheckAbort()) return 0;
    if (!groupEmpty(groupFive, side)) return winValue + depth;
    SearchFrame f;
    initFrame(f, depth, alpha, beta, side, ext);
    f.forcedBlock = firstGroupPoint(groupFive, f.opp, f.blockX, f.blockY);
    if (!f.forcedBlock && openFourWins(side)) return winValue + depth;
    if (!plyInRange(f.ply)) return outOfRangeLeaf(depth, side);
    // For the per-depth report only; nothing in the search reads it.
    if (f.ply > engine.deepestPly) engine.deepestPly = f.ply;

    if (!f.forcedBlock) {
        // 2. A table answer at a null-window node.
        if (f.nullWindow) {
            int moveX[3] = {-1, -1, -1};
            int moveY[3] = {-1, -1, -1};
            const int32_t known =
                probeEntry(f.effDepth, alpha, beta, side, engine.hashKey, moveX, moveY, 1);
            if (known != noValue) return known;
        }
        // 3. A win by continuous fours.
        const int32_t fours = threatSearch(depth, side, 0, 0);
        if (engine.searchAborted) return 0;
        if (fours > 0) {
            const int32_t value = depth - maxPoints + fours;
            storeEntry(f.effDepth, value, 3, side, noMove, noMove);
            return value;
        }
        // 4. Horizon; extension credit counts in whole multiples of 4 half plies.
        if (depth + (ext & ~3) / 2 < 1) {
            const int32_t value = evaluatePosition(depth, side);
            storeEntry(f.effDepth, value, 3, side, noMove, noMove);
            return value;
        }
        // 5. Static pruning near the horizon.
        if (f.effDepth < 5 && f.nullWindow) {
            f.eval = evaluatePosition(depth - 1, side);
            f.evalKnown = true;
            const int32_t margin = 64 * std::max(1, f.effDepth);
            if (f.eval + margin <= alpha) return alpha;
            if (f.eval - margin >= beta) return beta;
        }
    }

    // 6. Moves, stage by stage (one forced block, or the eight stages).
    startPlyGeneration(f.ply);
    int32_t result = 0;
    if (f.forcedBlock) {
        ScoredMove* list = engine.moveLists[f.ply];
        list[0].key = 0;
        list[0].x = static_cast<int16_t>(f.blockX);
        list[0].y = static_cast<int16_t>(f.blockY);
        const int n = filterAndOrder(f, 1, true);
        if (searchStage(f, stageForcedBlock, n, &result) == LoopEnd::nodeReturns) return result;
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
            const LoopEnd end = searchStage(f, stage, n, &result);
            if (end == LoopEnd::nodeReturns) return result;
            if (end == LoopEnd::nodeFinishes || f.defenceOnly) break;
        }
    }

    // 7. End of the node: a full board is a draw, no legal move a loss.
    const bool full = f.listed == 0 && boardIsFull();
    const int32_t value = full ? 0 : (f.best != noBest ? f.best : f.alpha);
    storeEntry(f.effDepth, value, f.bound, side, f.keptX, f.keptY);
    if (f.listed == 0) return full ? 0 : std::max(f.alpha, -9999998 - depth);
    return value;
}
