// Hash keys and auxiliary tables: everything the incremental board needs that
// depends on the rule or the board size but not on the stones.
#pragma once

#include <cstdint>

#include "board/engine_state.h"

// Pattern tables for the current rule, the Zobrist keys (first call only),
// posD/posA for the current boardSize, bitIndexTable and bitCountTable.
void buildEngineTables();

// Bit number of an isolated bit (a power of two below 2^24).
inline int bitIndexOf(uint32_t isolatedBit) {
    return isolatedBit <= 32768 ? engine.bitIndexTable[isolatedBit]
                                : engine.bitIndexTable[isolatedBit >> 15] + 15;
}

// Number of set bits of any 32-bit value, through bitCountTable.
inline int bitCountOf(uint32_t v) {
    return engine.bitCountTable[v & 0x7FFF] + engine.bitCountTable[(v >> 15) & 0x7FFF] +
           engine.bitCountTable[v >> 30];
}

// Calls fn(x, y) for every point of a threat-point group of a side, in scan
// order (ascending x, then ascending y). fn returns true to stop early.
template <typename Fn>
inline void forEachGroupPoint(int group, int side, Fn&& fn) {
    uint32_t top = static_cast<uint32_t>(engine.topMask[group][side - 1]);
    while (top) {
        uint32_t xBit = top & (0u - top);
        top ^= xBit;
        int x = bitIndexOf(xBit);
        uint32_t row = static_cast<uint32_t>(engine.rowMask[group][side - 1][x]);
        while (row) {
            uint32_t yBit = row & (0u - row);
            row ^= yBit;
            if (fn(x, bitIndexOf(yBit))) return;
        }
    }
}

// The first point of a group in scan order; false when the group is empty.
inline bool firstGroupPoint(int group, int side, int& x, int& y) {
    bool found = false;
    forEachGroupPoint(group, side, [&](int px, int py) {
        x = px;
        y = py;
        found = true;
        return true;
    });
    return found;
}

inline bool groupEmpty(int group, int side) { return engine.topMask[group][side - 1] == 0; }
