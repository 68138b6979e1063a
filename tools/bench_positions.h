// The bench position set, read once for every tool that searches it (the
// bench, the stop-test gap tool), and the fixed-depth search those tools and
// the evaluation tuner run. One position a line:
//   name rule width height depth x,y x,y ...
// rule 0 freestyle, 1 standard, 2 Renju; width bounds the second coordinate,
// height the first; the moves alternate black, white, ... from the first.
// Lines that are empty or start with '#' are skipped.
#pragma once

#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "search/root_search.h"

struct BenchPosition {
    std::string name;
    int rule = 0;
    int width = 0;
    int height = 0;
    int depth = 0;
    std::vector<StonePoint> moves;
};

inline std::optional<StonePoint> parseBenchMove(const std::string& token) {
    int x = 0;
    int y = 0;
    char comma = 0;
    std::istringstream in(token);
    if (!(in >> x >> comma >> y) || comma != ',') return std::nullopt;
    char extra = 0;
    if (in >> extra) return std::nullopt;
    return StonePoint{x, y};
}

// A position line, checked so that every move is an empty point of the board.
inline std::optional<BenchPosition> parseBenchPosition(const std::string& line) {
    std::istringstream in(line);
    BenchPosition p;
    if (!(in >> p.name >> p.rule >> p.width >> p.height >> p.depth)) return std::nullopt;
    if (p.rule < 0 || p.rule > 2 || p.width < 5 || p.height < 5 || p.width > maxBoardSide ||
        p.height > maxBoardSide || p.depth < 1 || p.depth > maxDepth) {
        return std::nullopt;
    }
    bool used[maxBoardSide][maxBoardSide] = {};
    std::string token;
    while (in >> token) {
        std::optional<StonePoint> m = parseBenchMove(token);
        if (!m || m->x < 0 || m->y < 0 || m->x >= p.height || m->y >= p.width) return std::nullopt;
        if (used[m->x][m->y]) return std::nullopt;
        used[m->x][m->y] = true;
        p.moves.push_back(*m);
    }
    return p;
}

// The whole set, or nullopt with `error` set ("cannot read", or the line
// number of the first bad line): a set that does not read as a whole would
// give a signature of some other set.
inline std::optional<std::vector<BenchPosition>> readBenchPositions(const std::string& path,
                                                                    std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    std::vector<BenchPosition> positions;
    std::string line;
    int lineNumber = 0;
    while (std::getline(file, line)) {
        ++lineNumber;
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        std::optional<BenchPosition> p = parseBenchPosition(line);
        if (!p) {
            error = path + ":" + std::to_string(lineNumber) + ": bad position line";
            return std::nullopt;
        }
        positions.push_back(*p);
    }
    if (positions.empty()) {
        error = path + ": no positions";
        return std::nullopt;
    }
    return positions;
}

// The position's rule and board bounds, as a board build sets them.
inline void setBenchGeometry(const BenchPosition& p) {
    engine.rule = p.rule;
    engine.requestedRule.store(p.rule);
    engine.boardWidth = p.width;
    engine.boardHeight = p.height;
    engine.boardSize = p.width > p.height ? p.width : p.height;
    engine.updateRadius = p.rule == ruleFreestyle ? 4 : 5;
}

// Puts a position's moves on the built, empty board and into the game record,
// colours alternating from black, as the protocol would have entered them.
inline void enterBenchMoves(const BenchPosition& p) {
    engine.moveCount = 0;
    for (const StonePoint& m : p.moves) {
        const int colour = engine.moveCount % 2 + 1;
        placeStone(m.x, m.y, colour);
        engine.moveRecord[engine.moveCount] = MoveRecordEntry{m.x, m.y, colour};
        ++engine.moveCount;
    }
}

// A search without a clock or a stop request, its node count from zero, under
// the given search.
inline void startFixedDepthSearch(int searchMode) {
    engine.turnBudget = INT32_MAX;
    engine.stopRequested.store(0);
    engine.searchAborted = 0;
    engine.nodeCount = 0;
    engine.searchStart = nowMs();
    engine.searchMode = searchMode;
}

// One iteration at depth d with a full window, set up as the think sets up
// each of its iterations; returns the root's value for side.
inline int32_t searchIteration(int d, int side) {
    engine.iterationDepth = d;
    engine.singleRootMove = 0;
    std::memset(engine.killerTable, 0, sizeof(engine.killerTable));
    return searchRoot(d, -100000000, 100000000, side, 0);
}
