// zorvan-probe: prints the engine's view of one position, for comparing
// builds and checking the incremental board by hand.
//
//   zorvan-probe RULE WIDTH HEIGHT [TOKENS...]
//
// RULE 0 freestyle, 1 standard, 2 Renju; WIDTH bounds y and HEIGHT bounds x.
// The board is built as the engine builds it; a token "x,y" places the next
// stone (black first, colours alternating with the stone count) and "undo"
// takes the last stone off. Everything about the board is printed before any
// search routine runs, so those lines show exactly what make and unmake left.
// This is a developer tool, not the engine: it prints with printf directly.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "rules/evaluation.h"
#include "rules/foul_test.h"
#include "rules/threat_search.h"
#include "search/transposition.h"

namespace {

int usage(const char* why) {
    std::fprintf(stderr,
                 "zorvan-probe: %s\n"
                 "usage: zorvan-probe RULE WIDTH HEIGHT [x,y | undo ...]\n"
                 "  RULE 0 freestyle, 1 standard, 2 Renju; WIDTH bounds y, HEIGHT bounds x "
                 "(1..24)\n",
                 why);
    return 2;
}

std::optional<int> parseInt(const char* s, const char** end) {
    if (!(*s >= '0' && *s <= '9')) return std::nullopt;
    long v = 0;
    while (*s >= '0' && *s <= '9') {
        v = v * 10 + (*s - '0');
        if (v > 1000) return std::nullopt;
        ++s;
    }
    *end = s;
    return static_cast<int>(v);
}

std::optional<int> parseWhole(const char* s) {
    const char* end = s;
    std::optional<int> v = parseInt(s, &end);
    if (!v || *end != '\0') return std::nullopt;
    return v;
}

void printSide(const PointPatterns& pp, int t) {
    std::printf(" %04x %04x %d %d %d %d", static_cast<unsigned>(pp.codeWord[t] & 0xFFFF),
                static_cast<unsigned>(pp.spaceWord[t] & 0xFFFF), pp.lineValueSum[t],
                pp.pointValue[t], pp.spaceSum[t], pp.weightedValue[t]);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return usage("missing arguments");
    std::optional<int> rule = parseWhole(argv[1]);
    std::optional<int> width = parseWhole(argv[2]);
    std::optional<int> height = parseWhole(argv[3]);
    if (!rule || *rule > 2) return usage("RULE must be 0, 1 or 2");
    if (!width || !height || *width < 1 || *width > maxBoardSide || *height < 1 ||
        *height > maxBoardSide) {
        return usage("WIDTH and HEIGHT must be 1..24");
    }

    initEngineState();
    // The probe shows the classic evaluation's values, whatever the default.
    engine.searchMode = searchClassic;
    engine.rule = *rule;
    engine.boardWidth = *width;
    engine.boardHeight = *height;
    engine.boardSize = *width > *height ? *width : *height;
    engine.updateRadius = *rule == ruleFreestyle ? 4 : 5;
    buildEngineTables();
    resetBoard();

    for (int i = 4; i < argc; ++i) {
        const char* tok = argv[i];
        if (std::strcmp(tok, "undo") == 0) {
            if (engine.stoneCount == 0) return usage("undo with no stone on the board");
            const StonePoint last = engine.stoneList[engine.stoneCount - 1];
            removeStone(last.x, last.y, engine.cells[last.x][last.y]);
            --engine.moveCount;
            continue;
        }
        const char* end = tok;
        std::optional<int> x = parseInt(tok, &end);
        if (!x || *end != ',') return usage("bad token (want x,y or undo)");
        std::optional<int> y = parseWhole(end + 1);
        if (!y) return usage("bad token (want x,y or undo)");
        if (!onBoard(*x, *y)) return usage("point off the board");
        if (engine.cells[*x][*y] != empty) return usage("point already occupied");
        const int colour = engine.stoneCount % 2 + 1;
        placeStone(*x, *y, colour);
        // The game record follows the stones, as the engine's own build keeps it.
        engine.moveRecord[engine.moveCount] = MoveRecordEntry{*x, *y, colour};
        ++engine.moveCount;
    }

    const int size = engine.boardSize;
    std::printf("size %d %d %d rule %d\n", size, *width, *height, *rule);
    std::printf("hash %016llx\n", static_cast<unsigned long long>(engine.hashKey));
    std::printf("stones %d\n", engine.stoneCount);
    std::printf("total %d %d\n", engine.valueTotal[0], engine.valueTotal[1]);
    for (int x = 0; x < size; ++x) {
        for (int y = 0; y < size; ++y) {
            const PointPatterns& pp = engine.patterns[x][y];
            std::printf("P %d %d %d B", x, y, engine.cells[x][y]);
            printSide(pp, 0);
            std::printf(" W");
            printSide(pp, 1);
            std::printf("\n");
        }
    }
    for (int g = 0; g < 5; ++g) {
        for (int side = 1; side <= 2; ++side) {
            std::printf("G %d %d", g, side);
            forEachGroupPoint(g, side, [](int px, int py) {
                std::printf(" %d,%d", px, py);
                return false;
            });
            std::printf("\n");
        }
    }
    std::fflush(stdout);

    if (*rule == ruleRenju) {
        std::printf("F");
        for (int x = 0; x < size; ++x) {
            for (int y = 0; y < size; ++y) {
                if (onBoard(x, y) && engine.cells[x][y] == empty && isForbidden(x, y) == 1) {
                    std::printf(" %d,%d", x, y);
                }
            }
        }
        std::printf("\n");
    }
    engine.iterationDepth = 0;
    std::printf("E %d %d\n", evaluatePosition(0, 1), evaluatePosition(0, 2));
    std::fflush(stdout);
    if (!hashTablesReady()) {
        std::fprintf(stderr, "zorvan-probe: the search tables could not be allocated\n");
        return 1;
    }
    clearHashTables();
    engine.searchAborted = 0;
    engine.turnBudget = 2000000000;
    engine.searchStart = nowMs();
    engine.stopRequested = 0;
    std::printf("T %d %d\n", threatSearch(0, 1, 0, 0), threatSearch(0, 2, 0, 0));
    return 0;
}
