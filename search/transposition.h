// Transposition table.
//
// Two tables, by side to move, of 524288 buckets of four 32-byte entries each,
// keyed by hashKey; plus the four threat-search tables, owned here only for
// allocation and clearing. All are allocated once, outside any search. Entries
// carry a check word that folds the stored data into the key, so a torn or
// foreign entry never verifies. Mate values are stored relative to the depth.
#pragma once

#include <cstdint>

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

// bound: 1 upper, 2 lower, 3 exact. Moves as (x, y) pairs, -1 for none.
void storeEntry(int depth, int32_t value, int bound, int side, const int moveX[3],
                const int moveY[3]);
void storeEntryAlways(int depth, int32_t value, int bound, int side, const int moveX[3],
                      const int moveY[3]);
