// Hash keys and auxiliary tables.
//
// Everything here depends on the rule or the board size but never on the
// stones, so it is rebuilt at each board build and then only read. The one
// exception is the Zobrist keys: they are drawn once per process, so that
// hash keys (and the transposition-table slots they select) stay comparable
// across games. They come from a private copy of the classic 15-bit linear
// congruential generator rather than the platform's rand(): the numbers, and
// hence every key, are then the same on every platform and word size, and no
// other caller of rand() can shift the sequence.
#include "board/tables.h"

#include "board/pattern_tables.h"

namespace {

// The generator: state starts at 1, each draw advances it and returns bits
// 16-30 of the new state.
struct KeyGenerator {
    uint32_t state = 1;
    uint64_t draw() {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFF;
    }
};

void makeZobristKeys() {
    KeyGenerator gen;
    for (int x = 0; x < maxBoardSide; ++x) {
        for (int y = 0; y < maxBoardSide; ++y) {
            for (int k = 0; k < 3; ++k) {
                uint64_t r1 = gen.draw();
                uint64_t r2 = gen.draw();
                uint64_t r3 = gen.draw();
                uint64_t r4 = gen.draw();
                uint64_t r5 = gen.draw();
                engine.zobrist[x][y][k] = r1 ^ (r2 << 15) ^ (r3 << 30) ^ (r4 << 45) ^ (r5 << 60);
            }
        }
    }
    engine.zobristReady = true;
}

}  // namespace

void buildEngineTables() {
    // 1. Pattern tables for the current rule.
    buildPatternTables();

    // 2. Keys, once per process.
    if (!engine.zobristReady) makeZobristKeys();

    // 3. Positions on the diagonal lines of the current square.
    const int size = engine.boardSize;
    for (int x = 0; x < size; ++x) {
        for (int y = 0; y < size; ++y) {
            engine.posD[x][y] = size - 1 - x < y ? size - 1 - x : y;
            engine.posA[x][y] = x < y ? x : y;
        }
    }

    // 4. Bit number of each isolated bit up to 2^15; everything else 0.
    for (int i = 0; i < bitTableSize; ++i) engine.bitIndexTable[i] = 0;
    for (int k = 0; k < 16; ++k) engine.bitIndexTable[1 << k] = static_cast<uint8_t>(k);

    // 5. Bit counts: n has the bits of n / 2 plus its own low bit.
    engine.bitCountTable[0] = 0;
    for (int n = 1; n < bitTableSize; ++n)
        engine.bitCountTable[n] = static_cast<uint8_t>(engine.bitCountTable[n >> 1] + (n & 1));
}
