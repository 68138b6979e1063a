// The empty board the engine's own board build makes, for tests: rule, bounds
// (width bounds y, height bounds x), updateRadius, tables, reset.
#pragma once

#include <algorithm>

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
