// Board helpers for tests: the empty board the engine's own board build makes
// (rule, bounds, updateRadius, tables, reset), and a snapshot of every field
// of the board state to compare or restore.
#pragma once

#include <algorithm>
#include <cstring>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"

inline void newBoard(int rule, int width, int height) {
    initEngineState();
    engine.rule = rule;
    engine.boardWidth = width;
    engine.boardHeight = height;
    engine.boardSize = std::max(width, height);
    engine.updateRadius = rule == ruleFreestyle ? 4 : 5;
    buildEngineTables();
    resetBoard();
}

// Every field a placement or a removal may change.
struct BoardFields {
    int32_t cells[24][24];
    LineWords lineWords;
    uint64_t hashKey;
    StonePoint stoneList[maxPoints];
    int32_t stoneCount;
    PointPatterns patterns[24][24];
    int32_t valueTotal[2];
    int32_t dirMask[4][2][24][24];
    int32_t rowMask[5][2][24];
    int32_t topMask[5][2];
};

inline void saveBoard(BoardFields& b) {
    std::memcpy(b.cells, engine.cells, sizeof b.cells);
    b.lineWords = engine.lineWords;
    b.hashKey = engine.hashKey;
    std::memcpy(b.stoneList, engine.stoneList, sizeof b.stoneList);
    b.stoneCount = engine.stoneCount;
    std::memcpy(b.patterns, engine.patterns, sizeof b.patterns);
    std::memcpy(b.valueTotal, engine.valueTotal, sizeof b.valueTotal);
    std::memcpy(b.dirMask, engine.dirMask, sizeof b.dirMask);
    std::memcpy(b.rowMask, engine.rowMask, sizeof b.rowMask);
    std::memcpy(b.topMask, engine.topMask, sizeof b.topMask);
}

inline void restoreBoard(const BoardFields& b) {
    std::memcpy(engine.cells, b.cells, sizeof b.cells);
    engine.lineWords = b.lineWords;
    engine.hashKey = b.hashKey;
    std::memcpy(engine.stoneList, b.stoneList, sizeof b.stoneList);
    engine.stoneCount = b.stoneCount;
    std::memcpy(engine.patterns, b.patterns, sizeof b.patterns);
    std::memcpy(engine.valueTotal, b.valueTotal, sizeof b.valueTotal);
    std::memcpy(engine.dirMask, b.dirMask, sizeof b.dirMask);
    std::memcpy(engine.rowMask, b.rowMask, sizeof b.rowMask);
    std::memcpy(engine.topMask, b.topMask, sizeof b.topMask);
}

// The first field in which the board differs from `want`, or nullptr. Entries
// of stoneList past stoneCount are not part of the state.
inline const char* boardDifference(const BoardFields& want) {
    if (std::memcmp(want.cells, engine.cells, sizeof want.cells) != 0) return "cells";
    if (std::memcmp(&want.lineWords, &engine.lineWords, sizeof want.lineWords) != 0) {
        return "lineWords";
    }
    if (want.hashKey != engine.hashKey) return "hashKey";
    if (want.stoneCount != engine.stoneCount ||
        std::memcmp(want.stoneList, engine.stoneList, sizeof(StonePoint) * want.stoneCount) != 0) {
        return "stoneList";
    }
    if (std::memcmp(want.patterns, engine.patterns, sizeof want.patterns) != 0) return "patterns";
    if (std::memcmp(want.valueTotal, engine.valueTotal, sizeof want.valueTotal) != 0) {
        return "valueTotal";
    }
    if (std::memcmp(want.dirMask, engine.dirMask, sizeof want.dirMask) != 0) return "dirMask";
    if (std::memcmp(want.rowMask, engine.rowMask, sizeof want.rowMask) != 0) return "rowMask";
    if (std::memcmp(want.topMask, engine.topMask, sizeof want.topMask) != 0) return "topMask";
    return nullptr;
}
