// Transposition table.
//
// Two tables, by side to move, of 524288 buckets of four 32-byte entries each,
// keyed by hashKey; plus the four threat-search tables, owned here only for
// allocation and clearing. All are allocated once, outside any search. Entries
// carry a check word that folds the stored data into the key, so a torn or
// foreign entry never verifies. Mate values are stored relative to the depth.
#pragma once

#include <cstdint>

#include "board/engine_state.h"

// hashClearedForRule of tables that hold no entry at all, as the start-up clear
// leaves them: they serve whichever rule the first board is built for.
constexpr int32_t hashTablesBlank = -2;

// Allocates every table group not allocated yet (never clears).
void allocateHashTables();
// Start-up: allocates and writes through every table once, before the first
// command is read. Left to the first board build, the page faults of that
// first write would land inside the first move's time; on a loaded machine
// they alone can exceed a short move budget.
void prepareHashTablesAtStartUp();
// True when all six tables exist; no search runs without them.
bool hashTablesReady();
// Test hook: of the table allocations from now on (numbered from 0), those
// numbered first .. first + count - 1 fail as if the memory were exhausted.
void failTableAllocations(int first, int count);
// Zeroes every transposition and threat-search table.
void clearHashTables();

// Returns a value usable as the node's result, or noValue; may fill up to
// `wanted` moves (1..3) into moveX/moveY.
int32_t probeEntry(int depth, int32_t alpha, int32_t beta, int side, uint64_t key, int moveX[3],
                   int moveY[3], int wanted);

// The first stored move of side's entry for key, for reports: reads the table
// and nothing else (no age update, no bound test), so asking changes no later
// search. False when there is no entry or it holds no move.
bool tableMove(int side, uint64_t key, int& x, int& y);

// bound: 1 upper, 2 lower, 3 exact. Moves as (x, y) pairs, -1 for none.
void storeEntry(int depth, int32_t value, int bound, int side, const int moveX[3],
                const int moveY[3]);
void storeEntryAlways(int depth, int32_t value, int bound, int side, const int moveX[3],
                      const int moveY[3]);

// Asks the cache for the line holding p. Only a hint: it reads nothing the
// program can see and never faults, so no search result depends on it. The
// instruction is written out on x86: GCC takes a function whose only work is
// __builtin_prefetch for one without effect and drops every call to it.
inline void prefetchLine(const void* p) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __asm__ __volatile__("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#elif defined(__GNUC__)
    __builtin_prefetch(p);
#else
    (void)p;
#endif
}

// Starts loading the bucket a probe or store of side's table at key will read.
// A probe that follows at once mostly waits on this miss; issued before a
// stone is placed, the load overlaps the make. Both lines of the bucket are
// asked for, since the entry that matches may be any of the four.
inline void prefetchBucket(int side, uint64_t key) {
    const HashBucket* table = engine.hashTable[side - 1];
    if (table == nullptr) return;
    const HashBucket* bucket = &table[static_cast<uint32_t>(key) & (hashBuckets - 1)];
    static_assert(sizeof(HashBucket) == 128, "a bucket spans two 64-byte lines");
    prefetchLine(&bucket->entries[0]);
    prefetchLine(&bucket->entries[2]);
}
