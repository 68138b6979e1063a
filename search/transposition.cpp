// Transposition table and the allocation of every search table.
//
// A bucket is four 32-byte entries, 128 bytes, so a probe or a store touches
// two cache lines and nothing else; the tables are aligned to at least the
// bucket size so a bucket never straddles more lines than it must. The bucket
// is chosen by the low 32 bits of the key, which are the same on 32- and
// 64-bit builds.
//
// No entry is trusted on its key alone: its check word is the key XORed with
// the stored bounds, depth and flags, so an entry whose data were torn by a
// concurrent writer, or that belongs to another position, fails to verify.
// Mate values are stored relative to the depth of the node that stored them,
// so a proven result found again at another depth of the tree still counts the
// distance to the win from the node that reads it.
//
// The 192 MiB are obtained once, outside any search, with an allocator that
// reports failure instead of throwing. A group of tables that cannot be
// obtained stays absent (null pointers, size 0) and is asked for again at the
// next board reset; while any table is absent hashTablesReady() is false and
// the think driver answers without searching. Fresh memory is never trusted:
// a newly allocated group forces a clear at the reset that follows.
#include "search/transposition.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <malloc.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "board/engine_state.h"

namespace {

// Test hook: allocations numbered failFirst .. failFirst + failCount - 1 from
// the moment it was set fail.
int allocationsSeen = 0;
int failFirst = 0;
int failCount = 0;

// Asks for large pages over a table not yet written. A probe lands on a random
// bucket of a 64 MiB table, so with 4 KiB pages nearly every probe also misses
// the address translation cache, and that walk costs as much as the miss
// itself; with 2 MiB pages the tables need few enough entries to stay mapped.
// The first write also faults in 2 MiB steps instead of 4 KiB ones. Only
// advice; where the system has no such pages, or on other systems, nothing
// changes.
void adviseLargePages(void* table, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t pageSize = 4096;
    uintptr_t first = (reinterpret_cast<uintptr_t>(table) + pageSize - 1) & ~(pageSize - 1);
    uintptr_t last = (reinterpret_cast<uintptr_t>(table) + bytes) & ~(pageSize - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)table;
    (void)bytes;
#endif
}

// Tables start on a large-page boundary so that every byte of them can sit in
// large pages (their sizes are multiples of it); elsewhere the bucket size is
// alignment enough.
#if defined(__linux__)
constexpr size_t tableAlignment = size_t{2} << 20;
#else
constexpr size_t tableAlignment = sizeof(HashBucket);
#endif
static_assert(tableAlignment % sizeof(HashBucket) == 0, "buckets never straddle the alignment");

void* allocateTable(size_t bytes) {
    const int n = allocationsSeen++;
    if (n >= failFirst && n < failFirst + failCount) return nullptr;
#ifdef _WIN32
    void* table = _aligned_malloc(bytes, tableAlignment);
#else
    void* table = std::aligned_alloc(tableAlignment, bytes);
#endif
    if (table != nullptr) adviseLargePages(table, bytes);
    return table;
}

void freeTable(void* table) {
#ifdef _WIN32
    _aligned_free(table);
#else
    std::free(table);
#endif
}

constexpr size_t hashTableBytes = static_cast<size_t>(hashBuckets) * sizeof(HashBucket);
constexpr size_t threatTableBytes = static_cast<size_t>(threatHashSize) * sizeof(ThreatBucket);
static_assert(hashTableBytes % tableAlignment == 0 && threatTableBytes % tableAlignment == 0,
              "aligned_alloc takes sizes that are multiples of the alignment");

inline uint64_t signExtended(int64_t v) { return static_cast<uint64_t>(v); }

inline uint64_t checkOf(uint64_t key, int32_t upper, int32_t lower, int16_t depth, int8_t flags) {
    return key ^ (signExtended(upper) << 36) ^ (signExtended(lower) << 8) ^
           (signExtended(depth) << 2) ^ signExtended(flags);
}

inline bool matches(const HashEntry& e, uint64_t key) {
    return checkOf(e.check, e.upper, e.lower, e.depth, e.flags) == key;
}

inline bool isMate(int32_t v) { return v >= mateThreshold || v <= -mateThreshold; }

inline int32_t toStored(int32_t v, int depth) {
    if (v >= mateThreshold) return v - depth;
    if (v <= -mateThreshold) return v + depth;
    return v;
}

inline int32_t fromStored(int32_t v, int depth) {
    if (v >= mateThreshold) return v + depth;
    if (v <= -mateThreshold) return v - depth;
    return v;
}

inline HashBucket& bucketOf(int side, uint64_t key) {
    return engine.hashTable[side - 1][static_cast<uint32_t>(key) & (hashBuckets - 1)];
}

inline bool sameMove(const int8_t a[2], const int8_t b[2]) { return a[0] == b[0] && a[1] == b[1]; }

inline void setMove(int8_t m[2], int x, int y) {
    m[0] = static_cast<int8_t>(x);
    m[1] = static_cast<int8_t>(y);
}

inline void clearMove(int8_t m[2]) { setMove(m, -1, -1); }

inline int8_t countMoves(const HashEntry& e) {
    return static_cast<int8_t>((e.moves[0][0] != -1) + (e.moves[1][0] != -1) +
                               (e.moves[2][0] != -1));
}

void outputMoves(const HashEntry& e, int moveX[3], int moveY[3], int wanted) {
    moveX[0] = e.moves[0][0];
    moveY[0] = e.moves[0][1];
    if (wanted >= 2) {
        moveX[1] = e.moves[1][0];
        moveY[1] = e.moves[1][1];
    }
    if (wanted >= 3) {
        moveX[2] = e.moves[2][0];
        moveY[2] = e.moves[2][1];
    }
}

// Slot choice shared by both stores. Returns the entry to write, or null when
// storeEntry must leave a deeper entry of the same position alone; `existing`
// tells whether the entry already holds this position.
HashEntry* chooseSlot(HashBucket& bucket, uint64_t key, int depth, bool depthTest, bool& existing) {
    const int age = engine.moveCount;
    HashEntry* stale = nullptr;
    HashEntry* victim = &bucket.entries[0];
    existing = false;
    for (HashEntry& e : bucket.entries) {
        if (e.flags == 0) return &e;
        if (matches(e, key)) {
            e.age = static_cast<int16_t>(age);
            if (depthTest && depth < e.depth) return nullptr;
            existing = true;
            return &e;
        }
        if (std::abs(e.age - age) >= 2) stale = &e;
        if (stale == nullptr) {
            // Prefer to evict entries from earlier moves, then shallow ones;
            // current or exact entries are kept as long as possible.
            int score = (victim->age == age ? 2 : 0) - (e.age == age || e.flags == 3 ? 2 : 0) +
                        (e.depth < victim->depth ? 1 : 0);
            if (score > 0) victim = &e;
        }
    }
    return stale != nullptr ? stale : victim;
}

void writeNew(HashEntry& e, uint64_t key, int depth, int32_t value, int bound, const int moveX[3],
              const int moveY[3]) {
    const int32_t stored = toStored(value, depth);
    for (int i = 0; i < 3; ++i) setMove(e.moves[i], moveX[i], moveY[i]);
    e.moveCount = countMoves(e);
    e.depth = static_cast<int16_t>(depth);
    e.age = static_cast<int16_t>(engine.moveCount);
    e.flags = static_cast<int8_t>(bound);
    e.upper = stored;
    e.lower = stored;
    e.check = checkOf(key, e.upper, e.lower, e.depth, e.flags);
}

// Keeps the best old moves behind the new ones.
void mergeMoves(HashEntry& e, const int moveX[3], const int moveY[3]) {
    int8_t m1[2];
    int8_t m2[2];
    setMove(m1, moveX[0], moveY[0]);
    setMove(m2, moveX[1], moveY[1]);
    if (moveX[2] != -1) {
        for (int i = 0; i < 3; ++i) setMove(e.moves[i], moveX[i], moveY[i]);
        e.moveCount = 3;
    } else if (moveX[1] != -1) {
        int8_t keep[2] = {e.moves[2][0], e.moves[2][1]};
        if (!sameMove(e.moves[0], m1) && !sameMove(e.moves[0], m2)) {
            setMove(keep, e.moves[0][0], e.moves[0][1]);
        } else if (!sameMove(e.moves[1], m1) && !sameMove(e.moves[1], m2)) {
            setMove(keep, e.moves[1][0], e.moves[1][1]);
        } else if (sameMove(e.moves[2], m1) || sameMove(e.moves[2], m2)) {
            clearMove(keep);
        }
        setMove(e.moves[0], m1[0], m1[1]);
        setMove(e.moves[1], m2[0], m2[1]);
        setMove(e.moves[2], keep[0], keep[1]);
        e.moveCount = static_cast<int8_t>(2 + (keep[0] != -1));
    } else if (moveX[0] != -1 && !sameMove(e.moves[0], m1)) {
        if (!sameMove(e.moves[1], m1)) setMove(e.moves[2], e.moves[1][0], e.moves[1][1]);
        setMove(e.moves[1], e.moves[0][0], e.moves[0][1]);
        setMove(e.moves[0], m1[0], m1[1]);
        e.moveCount = countMoves(e);
    }
}

}  // namespace

void failTableAllocations(int first, int count) {
    allocationsSeen = 0;
    failFirst = first;
    failCount = count;
}

void allocateHashTables() {
    if (engine.allocatedHashBuckets == 0) {
        void* tables[2] = {allocateTable(hashTableBytes), allocateTable(hashTableBytes)};
        if (tables[0] != nullptr && tables[1] != nullptr) {
            engine.hashTable[0] = static_cast<HashBucket*>(tables[0]);
            engine.hashTable[1] = static_cast<HashBucket*>(tables[1]);
            engine.allocatedHashBuckets = hashBuckets;
            engine.hashClearedForRule = -1;
        } else {
            freeTable(tables[0]);
            freeTable(tables[1]);
        }
    }
    if (engine.allocatedThreatSize == 0) {
        void* tables[4];
        bool all = true;
        for (void*& t : tables) {
            t = allocateTable(threatTableBytes);
            all = all && t != nullptr;
        }
        if (all) {
            for (int i = 0; i < 4; ++i)
                engine.threatTables[i] = static_cast<ThreatBucket*>(tables[i]);
            engine.allocatedThreatSize = threatHashSize;
            engine.hashClearedForRule = -1;
        } else {
            for (void* t : tables) freeTable(t);
        }
    }
}

bool hashTablesReady() {
    return engine.allocatedHashBuckets != 0 && engine.allocatedThreatSize != 0 &&
           engine.hashTable[0] != nullptr && engine.hashTable[1] != nullptr &&
           engine.threatTables[0] != nullptr && engine.threatTables[1] != nullptr &&
           engine.threatTables[2] != nullptr && engine.threatTables[3] != nullptr;
}

void clearHashTables() {
    for (HashBucket* t : engine.hashTable) {
        if (t != nullptr) std::memset(t, 0, hashTableBytes);
    }
    for (ThreatBucket* t : engine.threatTables) {
        if (t != nullptr) std::memset(t, 0, threatTableBytes);
    }
}

int32_t probeEntry(int depth, int32_t alpha, int32_t beta, int side, uint64_t key, int moveX[3],
                   int moveY[3], int wanted) {
    HashBucket& bucket = bucketOf(side, key);
    HashEntry* hit = nullptr;
    for (HashEntry& e : bucket.entries) {
        // An empty entry is all zeros and would verify against key 0.
        if (e.flags != 0 && matches(e, key)) {
            hit = &e;
            break;
        }
    }
    if (hit == nullptr) return noValue;
    HashEntry& e = *hit;
    e.age = static_cast<int16_t>(engine.moveCount);
    const int32_t upper = fromStored(e.upper, depth);
    const int32_t lower = fromStored(e.lower, depth);
    const bool deepEnough = e.depth >= depth;
    if (upper == lower && e.flags == 3 && (isMate(upper) || deepEnough)) {
        outputMoves(e, moveX, moveY, wanted);
        return upper;
    }
    if ((e.flags & 1) && upper <= alpha && (isMate(upper) || deepEnough)) {
        outputMoves(e, moveX, moveY, wanted);
        return upper;
    }
    if ((e.flags & 2) && lower >= beta && (isMate(lower) || deepEnough)) {
        outputMoves(e, moveX, moveY, wanted);
        return lower;
    }
    if (deepEnough || (isMate(upper) && isMate(lower))) outputMoves(e, moveX, moveY, wanted);
    return noValue;
}

bool tableMove(int side, uint64_t key, int& x, int& y) {
    if (engine.hashTable[side - 1] == nullptr) return false;
    for (const HashEntry& e : bucketOf(side, key).entries) {
        if (e.flags == 0 || !matches(e, key)) continue;
        if (e.moves[0][0] < 0 || e.moves[0][1] < 0) return false;
        x = e.moves[0][0];
        y = e.moves[0][1];
        return true;
    }
    return false;
}

void storeEntry(int depth, int32_t value, int bound, int side, const int moveX[3],
                const int moveY[3]) {
    const uint64_t key = engine.hashKey;
    bool existing = false;
    HashEntry* slot = chooseSlot(bucketOf(side, key), key, depth, true, existing);
    if (slot == nullptr) return;
    HashEntry& e = *slot;
    if (!existing) {
        writeNew(e, key, depth, value, bound, moveX, moveY);
        return;
    }
    mergeMoves(e, moveX, moveY);
    const int32_t stored = toStored(value, depth);
    if (depth == e.depth) {
        if (bound == 3) {
            e.flags = 3;
            e.upper = stored;
            e.lower = stored;
        } else {
            // Re-verify before merging bounds: only bounds of this position
            // may be combined, and an exact value is never weakened.
            if (!matches(e, key)) return;
            if (e.flags == 3 && e.upper == e.lower) return;
            if (bound & 1) {
                e.upper = (e.flags & 1) && e.upper < stored ? e.upper : stored;
                e.flags = static_cast<int8_t>(e.flags | 1);
            }
            if (bound & 2) {
                e.lower = (e.flags & 2) && e.lower > stored ? e.lower : stored;
                e.flags = static_cast<int8_t>(e.flags | 2);
            }
        }
    } else {
        e.depth = static_cast<int16_t>(depth);
        e.flags = static_cast<int8_t>(bound);
        e.upper = stored;
        e.lower = stored;
    }
    e.check = checkOf(key, e.upper, e.lower, e.depth, e.flags);
}

void storeEntryAlways(int depth, int32_t value, int bound, int side, const int moveX[3],
                      const int moveY[3]) {
    const uint64_t key = engine.hashKey;
    bool existing = false;
    HashEntry* slot = chooseSlot(bucketOf(side, key), key, depth, false, existing);
    writeNew(*slot, key, depth, value, bound, moveX, moveY);
}

void prepareHashTablesAtStartUp() {
    allocateHashTables();
    if (!hashTablesReady()) return;
    clearHashTables();
    // Clean for every rule: the first board need not clear them a second time,
    // whatever rule it is built for. (A first Renju game whose rule arrives
    // after START builds its board at the first move, and clearing 192 MiB
    // there again cost that move tens of milliseconds.)
    engine.hashClearedForRule = hashTablesBlank;
}
