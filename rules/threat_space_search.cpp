// Threat-space search: can the side to move force five by threes and fours?
//
// The search by fours alone sees a win only when every attacking move leaves
// the defender a single reply. Most wins in real games pass through threes:
// an open three does not threaten five at once, but it threatens an open four,
// which does, so the defender must answer it too; only it has a few answers
// instead of one. This search lets the attacker play both kinds of threat and
// gives the defender every answer that really defends, so what it finds is a
// proof and not a guess.
//
// Two node kinds alternate. At an attacker node the attacker wins at once with
// a five point, or with an open-four point it may play while the defender has
// no five point of its own (two five points cannot both be blocked). It must
// block a five point of the defender (two of them lose). Otherwise it tries
// its four points and, while the line still has threes to spend, its
// open-three points, fours first, the most valuable first; after placing one
// it checks what the move really made: a five point is a four, an open-four
// point it may play is a three, anything else is no threat and is not searched.
//
// At a defender node the defender loses when the attacker has two five points
// or one it may not block, and blocks a single one. Facing a three it has lost
// when it cannot answer at all, won when it has an open-four point of its own
// (the attacker then has no five point to beat it), and otherwise tries every
// real defence; the attacker must beat all of them. A real defence is a move
// after which
//   - the defender has a five point: a counter-four, which the attacker must
//     block before anything else (the block is the attacker's forced move at
//     the next attacker node, and the defender then faces whatever threat is
//     left: no threat, and the attack has failed); or
//   - the attacker has no open-four point it may play left.
// Every other move loses by force: the attacker plays an open-four point, whose
// two completions are both fives (under the standard and Renju rules the board
// downgrades an open four with a six-making completion to a four), and the
// defender, without a five point, blocks one of them at most.
//
// Why no defence is missed. Each candidate is placed and judged exactly by the
// definition above, so the only risk is a defence never placed. A stone
// changes the codes only of the points on its four lines within the update
// radius. Take a witness: an open-four point W of the attacker that it may
// play and whose permission cannot change while its codes do not (any point
// for white or outside Renju; for black, a point whose only threat is that
// open four, which the foul test allows from its codes alone). A defender
// stone off W's four lines leaves W an open-four point the attacker may play,
// so it defends only if it makes a four. Hence the candidates are the
// defender's four and open-four points plus the points near every witness (W
// itself and its lines within the radius); when black in Renju has no witness,
// every empty point is a candidate. A black defender in Renju never plays a
// forbidden point, so a block there is no defence, and a black attacker never
// plays one either.
//
// Depth and order. Fours cost nothing; threes are counted per line and the
// search deepens one three at a time, up to the request's limit; an iteration
// in which no line was cut for want of a three is the last. A limit on the
// plies to the five prunes lines that could not finish in time, and makes the
// result's count an upper bound the defender cannot exceed: the defender takes
// the longest of its defences, and every move that is no defence loses within
// four plies, never later than a real one. Moves are tried in a fixed order,
// ties in scan order, so the result is the same on every build.
//
// A small cache remembers results by position, node kind and attacker for the
// length of one call: a win with the plies it needs and the threes it may
// spend, a failure with the threes and plies it had. It collapses the many
// orders of the same threats, above all the defender's counter-fours. It is
// 1.5 MiB, cleared by a generation number rather than by writing it.
#include "rules/threat_space_search.h"

#include "board/engine_state.h"
#include "board/tables.h"
#include "rules/foul_test.h"
#include "rules/light_placement.h"

namespace {

// ---------------------------------------------------------------------------
// Cache.

constexpr int cacheBits = 16;
constexpr uint32_t cacheSize = 1u << cacheBits;

struct CacheEntry {
    uint64_t check;       // position key XOR the node's salt
    uint32_t generation;  // the call that stored it
    int16_t plies;        // win: plies from the node to the five
    int8_t threes;        // threes the node had left
    uint8_t allowance;    // plies the node had left
    int8_t x;             // attacker node won: its move
    int8_t y;
    uint8_t flags;
    uint8_t unused[5];
};
static_assert(sizeof(CacheEntry) == 24, "a cache entry is 24 bytes on every build");

constexpr uint8_t entryWin = 1;
constexpr uint8_t entryCutByThrees = 2;

CacheEntry cache[cacheSize];
uint32_t cacheGeneration;

// Salts that keep attacker and defender nodes of either attacker apart.
constexpr uint64_t nodeSalt[2][2] = {{0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full},
                                     {0x165667B19E3779F9ull, 0xD6E8FEB86659FD93ull}};

// ---------------------------------------------------------------------------
// The state of one search.

struct Search {
    int attacker;
    int defender;
    int64_t nodeBudget;
    int64_t nodes;
    int maxPlies;
    int firstList;
    bool useCache;
    bool budgetSpent;
    bool threesCut;  // some line of this subtree wanted a three it did not have
    int pvEnd[vctMaxPlies + 1];
    StonePoint pv[vctMaxPlies + 1][vctMaxPlies];
};

Search s;

inline bool ended() { return engine.searchAborted != 0 || s.budgetSpent; }

// Counts the node; false when the search must end here.
bool enterNode() {
    ++engine.nodeCount;
    ++s.nodes;
    if ((engine.nodeCount & 1023) == 0 && searchShouldStop()) {
        engine.searchAborted = 1;
        return false;
    }
    if (s.nodes > s.nodeBudget) {
        s.budgetSpent = true;
        return false;
    }
    return true;
}

// The principal line from `ply`: one move, then the child's line.
void setLine(int ply, int x, int y) {
    s.pv[ply][ply] = StonePoint{x, y};
    s.pvEnd[ply] = ply + 1;
}

void setLineWithChild(int ply, int x, int y) {
    setLine(ply, x, y);
    if (ply + 1 > vctMaxPlies - 1) return;
    for (int i = ply + 1; i < s.pvEnd[ply + 1]; ++i) s.pv[ply][i] = s.pv[ply + 1][i];
    s.pvEnd[ply] = s.pvEnd[ply + 1];
}

inline uint64_t cacheKey(int defenderNode) {
    return engine.hashKey ^ nodeSalt[defenderNode][s.attacker - 1];
}

// A stored result that answers this node, or -1.
int probe(int defenderNode, int ply, int threesLeft) {
    if (!s.useCache) return -1;
    const uint64_t key = cacheKey(defenderNode);
    const CacheEntry& e = cache[key & (cacheSize - 1)];
    if (e.check != key || e.generation != cacheGeneration) return -1;
    const int allowance = s.maxPlies - ply;
    if (e.flags & entryWin) {
        if (threesLeft < e.threes || allowance < e.plies) return -1;
        s.pvEnd[ply] = ply;
        if (e.x >= 0) setLine(ply, e.x, e.y);
        return ply + e.plies;
    }
    if (threesLeft > e.threes || allowance > e.allowance) return -1;
    if (e.flags & entryCutByThrees) s.threesCut = true;
    s.pvEnd[ply] = ply;
    return 0;
}

void store(int defenderNode, int ply, int threesLeft, int value, int x, int y) {
    if (!s.useCache) return;
    const uint64_t key = cacheKey(defenderNode);
    CacheEntry& e = cache[key & (cacheSize - 1)];
    e.check = key;
    e.generation = cacheGeneration;
    e.threes = static_cast<int8_t>(threesLeft);
    e.allowance = static_cast<uint8_t>(s.maxPlies - ply);
    e.plies = static_cast<int16_t>(value > 0 ? value - ply : 0);
    e.x = static_cast<int8_t>(value > 0 ? x : -1);
    e.y = static_cast<int8_t>(value > 0 ? y : -1);
    e.flags =
        static_cast<uint8_t>((value > 0 ? entryWin : 0) | (s.threesCut ? entryCutByThrees : 0));
}

// ---------------------------------------------------------------------------
// Board questions.

inline bool renjuBlack(int side) { return engine.rule == ruleRenju && side == black; }

// May `side` play the empty point (x, y)?
inline bool mayPlay(int side, int x, int y) { return !renjuBlack(side) || isForbidden(x, y) == 0; }

// Number of five points of a side, counted up to two; the first in (x, y).
int fivePoints(int side, int& x, int& y) {
    int n = 0;
    forEachGroupPoint(groupFive, side, [&](int px, int py) {
        if (n == 0) {
            x = px;
            y = py;
        }
        return ++n >= 2;
    });
    return n;
}

// The first open-four point the side may play.
bool playableOpenFour(int side, int& x, int& y) {
    bool found = false;
    forEachGroupPoint(groupOpenFour, side, [&](int px, int py) {
        if (!mayPlay(side, px, py)) return false;
        x = px;
        y = py;
        found = true;
        return true;
    });
    return found;
}

inline bool playableOpenFour(int side) {
    int x = 0;
    int y = 0;
    return playableOpenFour(side, x, y);
}

// Black's open four at (x, y) is its only threat there, so the foul test
// allows it from the point's own codes, whatever happens off its lines.
bool permissionIsLocal(int side, int x, int y) {
    if (!renjuBlack(side)) return true;
    const uint32_t word = engine.patterns[x][y].codeWord[0];
    int threats = 0;
    for (int d = 0; d < 4; ++d) {
        const int c = codeAt(word, d);
        if (c == 13) return false;
        if (c >= 7 && c <= 11) ++threats;
    }
    return threats == 1;
}

// Sets the bits of (x, y) and of the points on its four lines within the
// update radius.
void markNear(int x, int y, uint32_t* rows) {
    rows[x] |= 1u << y;
    for (int d = 0; d < 4; ++d) {
        for (int k = 1; k <= engine.updateRadius; ++k) {
            for (int sign = 1; sign >= -1; sign -= 2) {
                const int qx = x + sign * k * dirStepX[d];
                const int qy = y + sign * k * dirStepY[d];
                if (onBoard(qx, qy)) rows[qx] |= 1u << qy;
            }
        }
    }
}

inline int32_t lineValue(int side, int x, int y) {
    return engine.patterns[x][y].lineValueSum[side - 1];
}

// Stable ascending sort by key: ties keep scan order.
void sortByKey(ScoredMove* list, int count) {
    for (int i = 1; i < count; ++i) {
        const ScoredMove m = list[i];
        int j = i;
        while (j > 0 && list[j - 1].key > m.key) {
            list[j] = list[j - 1];
            --j;
        }
        list[j] = m;
    }
}

inline ScoredMove scored(int32_t key, int x, int y) {
    return ScoredMove{key, static_cast<int16_t>(x), static_cast<int16_t>(y)};
}

// The defences against open-four points; the caller has checked that the
// attacker has no five point and that the defender has none either.
// -1 when the attacker has no open-four point it may play.
int defencesAgainstThree(int attacker, ScoredMove* list) {
    const int defender = 3 - attacker;
    uint32_t near[maxBoardSide] = {};
    bool threat = false;
    bool witness = false;
    forEachGroupPoint(groupOpenFour, attacker, [&](int px, int py) {
        if (!mayPlay(attacker, px, py)) return false;
        threat = true;
        if (!permissionIsLocal(attacker, px, py)) return false;
        uint32_t mine[maxBoardSide] = {};
        markNear(px, py, mine);
        for (int x = 0; x < maxBoardSide; ++x) near[x] = witness ? (near[x] & mine[x]) : mine[x];
        witness = true;
        return false;
    });
    if (!threat) return -1;
    if (!witness) {
        for (int x = 0; x < engine.boardHeight; ++x) near[x] = (1u << engine.boardWidth) - 1;
    }
    forEachGroupPoint(groupFour, defender, [&](int px, int py) {
        near[px] |= 1u << py;
        return false;
    });
    forEachGroupPoint(groupOpenFour, defender, [&](int px, int py) {
        near[px] |= 1u << py;
        return false;
    });

    int count = 0;
    for (int x = 0; x < engine.boardHeight; ++x) {
        uint32_t row = near[x];
        while (row) {
            const int y = __builtin_ctz(row);
            row &= row - 1;
            if (engine.cells[x][y] != empty || !mayPlay(defender, x, y)) continue;
            placeStoneLight(x, y, defender);
            const bool defends = !groupEmpty(groupFive, defender) ||
                                 (groupEmpty(groupFive, attacker) && !playableOpenFour(attacker));
            removeStoneLight(x, y, defender);
            if (!defends) continue;
            // The points the attacker values most first: they are where its
            // threats meet.
            list[count++] =
                scored(-(lineValue(attacker, x, y) + lineValue(defender, x, y) / 2), x, y);
        }
    }
    sortByKey(list, count);
    return count;
}

int defenderNode(int ply, int threesLeft);

// ---------------------------------------------------------------------------
// Attacker node: the attacker to move, `ply` moves played since the root.
// Returns the ply of the five (the plies to it from the root) or 0.

int attackerNodeBody(int ply, int threesLeft) {
    const int attacker = s.attacker;
    const int defender = s.defender;
    int x = 0;
    int y = 0;

    if (fivePoints(attacker, x, y) > 0) {
        if (ply + 1 > s.maxPlies) return 0;
        setLine(ply, x, y);
        return ply + 1;
    }
    const int defenderFives = fivePoints(defender, x, y);
    if (defenderFives >= 2) return 0;
    if (defenderFives == 1) {
        // The forced block; the defender then faces whatever it threatens.
        if (!mayPlay(attacker, x, y)) return 0;
        placeStoneLight(x, y, attacker);
        const int v = defenderNode(ply + 1, threesLeft);
        removeStoneLight(x, y, attacker);
        if (ended() || v == 0) return 0;
        setLineWithChild(ply, x, y);
        return v;
    }
    if (playableOpenFour(attacker, x, y)) {
        if (ply + 3 > s.maxPlies) return 0;
        setLine(ply, x, y);
        return ply + 3;
    }
    // A four, the block and a five are the shortest way left.
    if (ply + 3 > s.maxPlies) return 0;
    const int slot = s.firstList + ply;
    if (slot >= maxPoints) return 0;

    const int known = probe(0, ply, threesLeft);
    if (known >= 0) return known;

    // Candidates: the fours, then (with a three to spend and room for its
    // longer road) the open threes; strongest first within each kind.
    ScoredMove* list = engine.moveLists[slot];
    int count = 0;
    forEachGroupPoint(groupFour, attacker, [&](int px, int py) {
        const int32_t key =
            -(1 << 20) - lineValue(attacker, px, py) - lineValue(defender, px, py) / 2;
        list[count++] = scored(key, px, py);
        return false;
    });
    if (!groupEmpty(groupOpenThree, attacker)) {
        if (threesLeft > 0 && ply + 5 <= s.maxPlies) {
            forEachGroupPoint(groupOpenThree, attacker, [&](int px, int py) {
                if ((engine.rowMask[groupFour][attacker - 1][px] >> py) & 1) return false;
                const int32_t key = -lineValue(attacker, px, py) - lineValue(defender, px, py) / 2;
                list[count++] = scored(key, px, py);
                return false;
            });
        } else if (threesLeft == 0) {
            s.threesCut = true;
        }
    }
    sortByKey(list, count);

    for (int i = 0; i < count; ++i) {
        const int mx = list[i].x;
        const int my = list[i].y;
        if (!mayPlay(attacker, mx, my)) continue;
        placeStoneLight(mx, my, attacker);
        int v = 0;
        if (!groupEmpty(groupFive, attacker)) {
            v = defenderNode(ply + 1, threesLeft);
        } else if (threesLeft > 0 && ply + 5 <= s.maxPlies) {
            // No five point: a three if it left an open-four point, which the
            // defender node checks first.
            v = defenderNode(ply + 1, threesLeft - 1);
        } else if (threesLeft == 0 && playableOpenFour(attacker)) {
            s.threesCut = true;
        }
        removeStoneLight(mx, my, attacker);
        if (ended()) return 0;
        if (v > 0) {
            setLineWithChild(ply, mx, my);
            store(0, ply, threesLeft, v, mx, my);
            return v;
        }
    }
    store(0, ply, threesLeft, 0, -1, -1);
    return 0;
}

int attackerNode(int ply, int threesLeft) {
    if (!enterNode()) return 0;
    // No five can come within the limit from here.
    if (ply >= s.maxPlies) return 0;
    s.pvEnd[ply] = ply;
    const bool outerCut = s.threesCut;
    s.threesCut = false;
    const int v = attackerNodeBody(ply, threesLeft);
    s.threesCut = s.threesCut || outerCut;
    return v;
}

// ---------------------------------------------------------------------------
// Defender node: the defender to move. Returns the ply of the attacker's five
// against the longest defence, or 0 when some defence holds.

int defenderNodeBody(int ply, int threesLeft) {
    const int attacker = s.attacker;
    const int defender = s.defender;
    int x = 0;
    int y = 0;

    // The defender completes its own five first.
    if (!groupEmpty(groupFive, defender)) return 0;
    const int attackerFives = fivePoints(attacker, x, y);
    if (attackerFives >= 2 || (attackerFives == 1 && !mayPlay(defender, x, y))) {
        return ply + 2 <= s.maxPlies ? ply + 2 : 0;
    }
    if (attackerFives == 1) {
        placeStoneLight(x, y, defender);
        const int v = attackerNode(ply + 1, threesLeft);
        removeStoneLight(x, y, defender);
        if (ended() || v == 0) return 0;
        setLineWithChild(ply, x, y);
        return v;
    }
    // Facing a three at most. Its own open four wins for the defender, since
    // the attacker has no five point to answer with.
    if (playableOpenFour(defender)) return 0;
    // Without a defence the attacker's open four and five come at ply + 2 and
    // ply + 4.
    if (ply + 4 > s.maxPlies) return 0;
    const int slot = s.firstList + ply;
    if (slot >= maxPoints) return 0;

    const int known = probe(1, ply, threesLeft);
    if (known >= 0) return known;

    ScoredMove* list = engine.moveLists[slot];
    const int count = defencesAgainstThree(attacker, list);
    if (count < 0) return 0;  // no threat left: the defender is free

    // Every move that is no defence loses at ply + 4; the defender takes the
    // longest road among the rest.
    int worst = ply + 4;
    int best = -1;
    for (int i = 0; i < count; ++i) {
        const int dx = list[i].x;
        const int dy = list[i].y;
        placeStoneLight(dx, dy, defender);
        const int v = attackerNode(ply + 1, threesLeft);
        removeStoneLight(dx, dy, defender);
        if (ended()) return 0;
        if (v == 0) {
            store(1, ply, threesLeft, 0, -1, -1);
            return 0;
        }
        if (best < 0 || v > worst) {
            if (v > worst) worst = v;
            best = i;
            setLineWithChild(ply, dx, dy);
        }
    }
    store(1, ply, threesLeft, worst, -1, -1);
    return worst;
}

int defenderNode(int ply, int threesLeft) {
    if (!enterNode()) return 0;
    if (ply >= s.maxPlies) return 0;
    s.pvEnd[ply] = ply;
    const bool outerCut = s.threesCut;
    s.threesCut = false;
    const int v = defenderNodeBody(ply, threesLeft);
    s.threesCut = s.threesCut || outerCut;
    return v;
}

}  // namespace

VctRequest vctDefaultRequest(int attacker) {
    return VctRequest{attacker, 200000, 6, vctMaxPlies, 0, true};
}

void threatSpaceSearch(const VctRequest& request, VctResult& result) {
    result.status = vctNotFound;
    result.moveX = -1;
    result.moveY = -1;
    result.plies = 0;
    result.threes = 0;
    result.nodes = 0;
    result.lineLength = 0;

    s.attacker = request.attacker;
    s.defender = 3 - request.attacker;
    s.nodeBudget = request.nodeBudget;
    s.nodes = 0;
    s.maxPlies = request.maxPlies < vctMaxPlies ? request.maxPlies : vctMaxPlies;
    s.firstList = request.firstList < 0 ? 0 : request.firstList;
    s.useCache = request.useCache;
    s.budgetSpent = false;
    if (++cacheGeneration == 0) {
        for (CacheEntry& e : cache) e = CacheEntry{};
        cacheGeneration = 1;
    }
    if (engine.searchAborted) {
        result.status = vctStopped;
        return;
    }

    for (int threes = 0; threes <= request.maxThrees; ++threes) {
        s.threesCut = false;
        const int v = attackerNode(0, threes);
        result.nodes = s.nodes;
        if (engine.searchAborted) {
            result.status = vctStopped;
            return;
        }
        if (s.budgetSpent) {
            result.status = vctBudgetSpent;
            return;
        }
        if (v > 0) {
            result.status = vctWin;
            result.plies = v;
            result.threes = threes;
            result.lineLength = s.pvEnd[0];
            for (int i = 0; i < s.pvEnd[0]; ++i) result.line[i] = s.pv[0][i];
            result.moveX = result.line[0].x;
            result.moveY = result.line[0].y;
            return;
        }
        // Nothing wanted another three: more would find nothing more.
        if (!s.threesCut) return;
    }
}

int threatSpaceDefences(int attacker, ScoredMove* list) {
    const int defender = 3 - attacker;
    if (!groupEmpty(groupFive, defender)) return -1;
    int x = 0;
    int y = 0;
    const int fives = fivePoints(attacker, x, y);
    if (fives >= 2) return 0;
    if (fives == 1) {
        if (!mayPlay(defender, x, y)) return 0;
        list[0] = scored(0, x, y);
        return 1;
    }
    return defencesAgainstThree(attacker, list);
}
