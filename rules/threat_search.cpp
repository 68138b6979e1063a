// Threat-sequence search: can a side force five by playing only fours?
//
// Every attacking move is a four, so the defender's only moves are the blocks
// of the five-point it creates and the tree is narrow enough to search to the
// end without a depth limit. Two node kinds alternate: an attacker node tries
// its four-points, a defender node tries the blocks. The defender never looks
// for counter-fours of its own; a block that happens to make one is answered at
// the next attacker node, which must then block with a four or give up.
//
// The search runs on the one board and places its trial stones with the light
// update, which keeps exactly the codes, line-value sums and threat-point sets
// read here. Candidates come straight from those sets; a four whose point has
// little value in its other lines (line-value sum below 279) is never tried;
// in freestyle three shapes are recognised as won without searching; and a
// candidate's child position is looked up in the tables before any stone is
// placed, so a known result costs no placement at all.
//
// Four tables, by node kind and side to move, remember results across calls
// and across the moves of a game. Win and loss values are stored relative to
// the storing node's ply so that a result found deep in one search reads
// correctly at another ply. An entry only counts when its check word XOR its
// value gives the key, so a torn or foreign entry never verifies.
//
// Each ply uses the move list after its caller's. A sequence too long for the
// lists ends there as "no win": it is never written past the last list, and a
// node whose slot would lie before the first list is treated the same way.
#include "rules/threat_search.h"

#include "board/engine_state.h"
#include "board/pattern_tables.h"
#include "board/tables.h"
#include "rules/foul_test.h"
#include "rules/light_placement.h"
#include "search/transposition.h"

namespace {

constexpr int32_t winAtRoot = winValue + maxPoints;  // 10000576: five at ply 0
constexpr int32_t sortableFourSum = 279;

// Table index: attacker black, attacker white, defender black, defender white.
inline int tableIndex(int defender, int side) { return 2 * defender + side - 1; }

inline uint64_t checkOf(uint64_t key, int32_t value) {
    return key ^ static_cast<uint64_t>(static_cast<int64_t>(value));
}

inline ThreatEntry* bucketOf(int table, uint64_t key) {
    ThreatBucket* base = engine.threatTables[table];
    if (base == nullptr) return nullptr;
    return base[key & (threatHashSize - 1)].entries;
}

// Asks for the buckets of every candidate's child before the first probe, so
// that their misses overlap instead of following one another.
inline void prefetchChildren(int table, uint64_t key, const ScoredMove* list, int count, int side) {
    const ThreatBucket* base = engine.threatTables[table];
    if (base == nullptr) return;
    for (int i = 0; i < count; ++i) {
        const uint64_t child = key ^ engine.zobrist[list[i].x][list[i].y][side - 1];
        prefetchLine(&base[child & (threatHashSize - 1)]);
    }
}

// Looks a position up; returns the raw stored value (age refreshed) or noValue.
int32_t probeRaw(int table, uint64_t key) {
    ThreatEntry* entries = bucketOf(table, key);
    if (entries == nullptr) return noValue;
    for (int i = 0; i < 2; ++i) {
        ThreatEntry& e = entries[i];
        if (checkOf(e.check, e.value) == key) {
            e.age = static_cast<int16_t>(engine.moveCount);
            return e.value;
        }
    }
    return noValue;
}

// Converts a stored value back with a ply distance: wins and losses move away
// from zero by `distance`, other values stay.
inline int32_t fromStored(int32_t stored, int32_t distance) {
    if (stored == noValue) return noValue;
    if (stored >= mateThreshold) return stored + distance;
    if (stored <= -mateThreshold) return stored - distance;
    return stored;
}

// The node's own entry, read at its own ply.
inline int32_t probeOwn(int table, uint64_t key, int ply) {
    return fromStored(probeRaw(table, key), maxPoints - ply);
}

// A child's entry read from its parent at ply p converts with 577 - p, then is
// turned to the parent's point of view.
inline int32_t probeChild(int table, uint64_t key, int ply) {
    int32_t v = fromStored(probeRaw(table, key), maxPoints + 1 - ply);
    return v == noValue ? noValue : -v;
}

void store(int table, uint64_t key, int32_t value, int ply) {
    ThreatEntry* entries = bucketOf(table, key);
    if (entries == nullptr) return;
    const int16_t plyTag = static_cast<int16_t>(maxPoints - ply);
    if (value >= mateThreshold) {
        value -= plyTag;
    } else if (value <= -mateThreshold) {
        value += plyTag;
    }
    // Entry 0 is kept when it holds a different, nearer-the-root result of this
    // or the previous game move; otherwise it is the one overwritten.
    ThreatEntry* target = &entries[0];
    const ThreatEntry& first = entries[0];
    int ageGap = first.age - engine.moveCount;
    if (first.check != 0 && checkOf(first.check, first.value) != key && first.plyTag > plyTag &&
        ageGap < 2 && ageGap > -2) {
        target = &entries[1];
    }
    target->check = checkOf(key, value);
    target->value = value;
    target->plyTag = plyTag;
    target->age = static_cast<int16_t>(engine.moveCount);
}

inline bool inGroup(int group, int side, int x, int y) {
    return (engine.rowMask[group][side - 1][x] >> y) & 1;
}

inline int codeOf(int side, int x, int y, int d) {
    return codeAt(engine.patterns[x][y].codeWord[side - 1], d);
}

inline bool isFourCode(int code) { return code == codeFourA || code == codeFourB; }

// The point where the opponent must answer the four that `side` makes at M in
// direction d: the first non-stone past the run of own stones, + side first,
// when it is empty and a four-point of that line. False when neither side has
// one.
bool replyPoint(int side, int mx, int my, int d, int& rx, int& ry) {
    for (int sign = 1; sign >= -1; sign -= 2) {
        int x = mx + sign * dirStepX[d];
        int y = my + sign * dirStepY[d];
        while (onBoard(x, y) && engine.cells[x][y] == side) {
            x += sign * dirStepX[d];
            y += sign * dirStepY[d];
        }
        if (onBoard(x, y) && engine.cells[x][y] == empty && isFourCode(codeOf(side, x, y, d))) {
            rx = x;
            ry = y;
            return true;
        }
    }
    return false;
}

// Freestyle shapes won at once by playing the four at M: two fours; a four and
// two open threes when the opponent has no four to answer with; a four and an
// open three whose forced reply gives the opponent no four.
bool freestyleQuickWin(int side, int x, int y) {
    const int opponent = 3 - side;
    uint32_t fours = static_cast<uint32_t>(engine.dirMask[groupFour][side - 1][x][y]);
    uint32_t threes = static_cast<uint32_t>(engine.dirMask[groupOpenThree][side - 1][x][y]);
    if (bitCountOf(fours) >= 2) return true;
    if (bitCountOf(threes) >= 2) {
        return groupEmpty(groupFour, opponent) && groupEmpty(groupOpenFour, opponent);
    }
    if (bitCountOf(fours | threes) < 2) return false;
    for (int d = 0; d < 4; ++d) {
        if (!isFourCode(codeOf(side, x, y, d))) continue;
        int rx = 0;
        int ry = 0;
        if (!replyPoint(side, x, y, d, rx, ry)) return false;
        return !inGroup(groupFour, opponent, rx, ry) && !inGroup(groupOpenFour, opponent, rx, ry);
    }
    return false;
}

inline bool forbiddenForSide(int side, int x, int y) {
    return engine.rule == ruleRenju && side == black && isForbidden(x, y) == 1;
}

// Stable ascending sort by key; equal keys keep their scan order.
void sortByKey(ScoredMove* list, int count) {
    for (int i = 1; i < count; ++i) {
        ScoredMove m = list[i];
        int j = i;
        while (j > 0 && list[j - 1].key > m.key) {
            list[j] = list[j - 1];
            --j;
        }
        list[j] = m;
    }
}

int32_t attackerNode(int depth, int side, int ply, uint64_t key, ScoredMove* list) {
    const int opponent = 3 - side;
    const int own = tableIndex(0, side);
    const int32_t win = winAtRoot - ply;
    const uint32_t lowWord = 0xFFFF;

    // 5. Candidates: the block of the opponent's five when it has one (and only
    // if the block is itself a four), else every four-point.
    int count = 0;
    int fx = 0;
    int fy = 0;
    const bool mustBlock = firstGroupPoint(groupFive, opponent, fx, fy);
    if (mustBlock) {
        uint32_t word = engine.patterns[fx][fy].codeWord[side - 1] & lowWord;
        if ((engine.comboFlags[word] & flagFour) == 0) {
            store(own, key, 0, ply);
            return 0;
        }
        list[0] = ScoredMove{0, static_cast<int16_t>(fx), static_cast<int16_t>(fy)};
        count = 1;
    } else {
        forEachGroupPoint(groupFour, side, [&](int x, int y) {
            list[count++] = ScoredMove{0, static_cast<int16_t>(x), static_cast<int16_t>(y)};
            return false;
        });
    }

    // 6. Keys: filters, quick wins and known children, all before any stone.
    const int childTable = tableIndex(1, opponent);
    prefetchChildren(childTable, key, list, count, side);
    for (int i = 0; i < count; ++i) {
        const int x = list[i].x;
        const int y = list[i].y;
        const PointPatterns& pp = engine.patterns[x][y];
        if (pp.lineValueSum[side - 1] < sortableFourSum || forbiddenForSide(side, x, y)) {
            list[i].key = skipKey;
            continue;
        }
        if (engine.rule == ruleFreestyle && !mustBlock && freestyleQuickWin(side, x, y)) {
            store(own, key, win, ply);
            return win;
        }
        int32_t known = probeChild(childTable, key ^ engine.zobrist[x][y][side - 1], ply);
        if (known == noValue) {
            list[i].key =
                -static_cast<int32_t>(static_cast<uint16_t>(pp.lineValueSum[opponent - 1]) >> 1) -
                static_cast<int32_t>(static_cast<uint16_t>(pp.lineValueSum[side - 1]));
        } else if (known > 0) {
            store(own, key, known, ply);
            return known;
        } else {
            list[i].key = skipKey;
        }
    }

    // 7. Most valuable points first, skipped ones last.
    sortByKey(list, count);

    // 8. Play the fours.
    for (int i = 0; i < count && list[i].key != skipKey; ++i) {
        const int x = list[i].x;
        const int y = list[i].y;
        placeStoneLight(x, y, side);
        int32_t v = -threatNode(depth - 1, opponent, 1, ply + 1);
        removeStoneLight(x, y, side);
        if (engine.searchAborted) return 0;
        if (v > 0) {
            store(own, key, v, ply);
            return v;
        }
    }

    // 9. No four wins.
    store(own, key, 0, ply);
    return 0;
}

int32_t defenderNode(int depth, int side, int ply, uint64_t key, ScoredMove* list) {
    const int attacker = 3 - side;
    const int own = tableIndex(1, side);

    // 5. Candidates: the attacker's five-points.
    int count = 0;
    forEachGroupPoint(groupFive, attacker, [&](int x, int y) {
        list[count++] = ScoredMove{0, static_cast<int16_t>(x), static_cast<int16_t>(y)};
        return false;
    });
    if (count == 0) {
        store(own, key, 0, ply);
        return 0;
    }

    // 6. Drop forbidden blocks and blocks known to lose; a block known to hold
    // settles the node.
    const int childTable = tableIndex(0, attacker);
    prefetchChildren(childTable, key, list, count, side);
    for (int i = 0; i < count;) {
        const int x = list[i].x;
        const int y = list[i].y;
        bool drop = forbiddenForSide(side, x, y);
        if (!drop) {
            int32_t known = probeChild(childTable, key ^ engine.zobrist[x][y][side - 1], ply);
            if (known != noValue) {
                if (known >= 0) {
                    store(own, key, known, ply);
                    return known;
                }
                drop = true;
            }
        }
        if (drop) {
            list[i] = list[--count];
        } else {
            ++i;
        }
    }

    // 7. Nothing may block: the attacker completes its five.
    if (count == 0) {
        int32_t lost = ply - (winAtRoot - 2);
        store(own, key, lost, ply);
        return lost;
    }

    // 8. Try the blocks in list order.
    int32_t v = 0;
    for (int i = 0; i < count; ++i) {
        const int x = list[i].x;
        const int y = list[i].y;
        placeStoneLight(x, y, side);
        v = -threatNode(depth - 1, attacker, 0, ply + 1);
        removeStoneLight(x, y, side);
        if (engine.searchAborted) return 0;
        if (v >= 0) {
            store(own, key, v, ply);
            return v;
        }
    }

    // 9. Every block lost.
    store(own, key, v, ply);
    return v;
}

}  // namespace

int32_t threatSearch(int depth, int side, int /*spare*/, int /*ply*/) {
    for (ThreatBucket* table : engine.threatTables) {
        if (table == nullptr) return 0;
    }
    return threatNode(depth, side, 0, 0);
}

void prefetchThreatSearch(int side, uint64_t key) {
    // threatSearch starts as an attacker node, whose first read is its own
    // entry in the attacker table of the side.
    const ThreatBucket* table = engine.threatTables[tableIndex(0, side)];
    if (table != nullptr) prefetchLine(&table[key & (threatHashSize - 1)]);
}

int32_t threatNode(int depth, int side, int defender, int ply) {
    const int opponent = 3 - side;
    const int32_t win = winAtRoot - ply;

    // 1. Count the node; the clock and the stop flag are read every 1024 nodes.
    ++engine.nodeCount;
    if ((engine.nodeCount & 1023) == 0 && searchShouldStop()) {
        engine.searchAborted = 1;
        return 0;
    }

    // 2. A five to play.
    if (!groupEmpty(groupFive, side)) return win;

    // 3. An open four the opponent cannot answer with a five. A black open four
    // in Renju only wins when its first point may be played.
    if (groupEmpty(groupFive, opponent) && !groupEmpty(groupOpenFour, side)) {
        if (engine.rule != ruleRenju || side != black) return win;
        int x = 0;
        int y = 0;
        firstGroupPoint(groupOpenFour, side, x, y);
        if (isForbidden(x, y) == 0) return win;
    }

    // 4. A result already known.
    const uint64_t key = engine.hashKey;
    int32_t known = probeOwn(tableIndex(defender, side), key, ply);
    if (known != noValue) return known;

    // A sequence longer than the move lists stops here, without a result.
    const int slot = engine.iterationDepth - depth;
    if (slot < 0 || slot >= maxPoints) return 0;
    ScoredMove* list = engine.moveLists[slot];

    return defender ? defenderNode(depth, side, ply, key, list)
                    : attackerNode(depth, side, ply, key, list);
}
