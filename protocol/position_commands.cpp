// Position commands and the game record.
//
// The record (moveRecord, with the blocked points of the current game beside
// it) is the truth about the game; the incremental board is a cache built from
// it. Building that cache is not free (tables for the rule, a reset, a replay),
// so outside Renju it is deferred until a think needs it, and while it is
// deferred moves only go into the record. Renju is built at once because
// black's forbidden moves are judged on the board from the first stone on.
//
// Because the board may be stale, every legality question is answered from
// the record, never from the cells: a point is taken when it is in the record
// or in the blocked list. That keeps one answer for built and unbuilt boards,
// so the record can never hold a repeated or off-board point and never outgrow
// its 576 entries, and a later replay never stacks two stones on one point.
// For the same reason TAKEBACK lifts only the last move of the record: the
// stone list of the board drops its last entry on every removal, so any other
// point would leave record, list and board disagreeing.
//
// Blocked points are not moves and have no colour in the play order, but they
// are part of the position: each rebuild puts them back as walls right after
// the reset and before the stones, so a rule change or a deferred build never
// forgets them.
//
// Sizes. A width of 0 is the "no board yet" mark that the shared preparation
// step turns into the default 20x20 game; START and RECTSTART therefore write
// their sizes between stopping the think and that step, so START 0 becomes
// the default board (and its banner and OK are printed twice). Whatever is
// left after that step must give every axis at least one point and fit the
// 24x24 arrays; a size that does not is refused and the previous bounds stay.
#include "protocol/position_commands.h"

#include <algorithm>
#include <cassert>
#include <cstdio>

#include "board/engine_state.h"
#include "board/make_unmake.h"
#include "board/tables.h"
#include "protocol/main_loop.h"
#include "protocol/think_thread.h"
#include "rules/foul_test.h"

const char* const bannerText = "MESSAGE Zorvan 1.0 Gomoku/Renju brain";

namespace {

constexpr int notBuilt = -1;
constexpr int takeBackDone = 0;
constexpr int takeBackRejected = 2;
constexpr int32_t int32Max = 2147483647;
constexpr int64_t int32MinMagnitude = 2147483648LL;

// Printed by the board build, indexed by rule code.
const char* const ruleNames[3] = {"Gomoku (Freestyle)", "Gomoku (Standard)", "Renju"};

bool isFormatSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* skipSpace(const char* text) {
    while (isFormatSpace(*text)) ++text;
    return text;
}

bool boardBuilt() { return engine.builtForRule != notBuilt; }

// True when (x, y) already belongs to the game: a recorded stone or a blocked
// point. Answered from the record so that it holds on a stale board too.
bool pointTaken(int x, int y) {
    for (int i = 0; i < engine.moveCount; ++i) {
        if (engine.moveRecord[i].x == x && engine.moveRecord[i].y == y) return true;
    }
    for (int i = 0; i < engine.blockedCount; ++i) {
        if (engine.blockedPoints[i].x == x && engine.blockedPoints[i].y == y) return true;
    }
    return false;
}

// Fresh tables and an empty board, then the blocked points as walls, then the
// record in play order. The caller has set updateRadius and the rule.
void rebuildFromRecord() {
    engine.builtForSearch = engine.searchMode;
    buildEngineTables();
    resetBoard();
    for (int i = 0; i < engine.blockedCount; ++i) {
        placeStone(engine.blockedPoints[i].x, engine.blockedPoints[i].y, wall);
    }
    for (int i = 0; i < engine.moveCount; ++i) {
        const MoveRecordEntry& move = engine.moveRecord[i];
        placeStone(move.x, move.y, move.colour);
    }
    assert(checkBoardConsistency());
}

// Renju needs the board at all times: build it silently as soon as the rule
// is Renju and the board was built for something else (or not at all).
void renjuBuild() {
    if (engine.rule != ruleRenju || engine.builtForRule == ruleRenju) return;
    engine.updateRadius = 5;
    rebuildFromRecord();
    engine.builtForRule = ruleRenju;
}

// The shared body of playOpponentMove and playOwnMove; `own` picks the wording
// of the refusal.
void enterMove(int x, int y, bool own) {
    if (!onBoard(x, y) || pointTaken(x, y) || engine.moveCount >= maxPoints) {
        if (own) {
            printLine("ERROR my move [%d,%d]", x, y);
        } else {
            printLine("ERROR opponents's move [%d,%d]", x, y);
        }
        return;
    }
    // The colour follows the play order, whoever the command says moved.
    const int colour = engine.moveCount % 2 + 1;
    if (boardBuilt()) {
        placeStone(x, y, colour);
        assert(checkBoardConsistency());
    }
    engine.moveRecord[engine.moveCount] = {x, y, colour};
    ++engine.moveCount;
    renjuBuild();
}

void enterBlockedPoint(int x, int y) {
    if (pointTaken(x, y) || engine.blockedCount >= maxPoints) {
        printLine("ERROR board-block move [%d,%d]", x, y);
        return;
    }
    if (boardBuilt()) placeStone(x, y, wall);
    engine.blockedPoints[engine.blockedCount] = {x, y};
    ++engine.blockedCount;
    renjuBuild();
}

// Everything a new game on the current bounds does: empty record, no blocked
// points, board marked stale, banner, the Renju build, OK.
void beginGame() {
    engine.builtForRule = notBuilt;
    engine.moveCount = 0;
    engine.blockedCount = 0;
    engine.lastSearchValue = 0;
    printLine("%s", bannerText);
    renjuBuild();
    printLine("OK");
}

// startGame with its outcome: false when the bounds were refused (nothing
// changed then).
bool startNewGame() {
    const int32_t width = engine.boardWidth;
    const int32_t height = engine.boardHeight;
    if (width > maxBoardSide || height > maxBoardSide || width <= 0 || height <= 0) {
        printLine("ERROR size of the board");
        return false;
    }
    engine.boardSize = std::max(width, height);
    beginGame();
    return true;
}

// START and RECTSTART after their arguments are known. The think thread is
// already idle; the sizes go in before the default-board step so that a width
// of 0 means the default board. A refused size restores the bounds in force
// before, which keeps them matching the unchanged record and board.
void startWithSizes(int32_t width, int32_t height) {
    const int32_t oldWidth = engine.boardWidth;
    const int32_t oldHeight = engine.boardHeight;
    engine.boardWidth = width;
    engine.boardHeight = height;
    prepareForCommand();
    if (!startNewGame()) {
        engine.boardWidth = oldWidth;
        engine.boardHeight = oldHeight;
    }
}

// Coordinates of TURN, PLAY and TAKEBACK, checked against the bounds.
std::optional<NumberPair> boardPoint(const char* args) {
    std::optional<NumberPair> point = parseCoordinates(args);
    if (!point || !onBoard(point->first, point->second)) return std::nullopt;
    return point;
}

bool equalsIgnoringCase(const char* text, const char* upperWord) {
    for (; *upperWord; ++text, ++upperWord) {
        char c = *text;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != *upperWord) return false;
    }
    return *text == '\0';
}

}  // namespace

// ---------------------------------------------------------------------------
// Parsing.

std::optional<int32_t> readInteger(const char*& text) {
    const char* p = skipSpace(text);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') return std::nullopt;
    const int64_t limit = negative ? int32MinMagnitude : int64_t{int32Max};
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = std::min(magnitude * 10 + (*p - '0'), limit);
    }
    text = p;
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

std::optional<NumberPair> parseCoordinates(const char* text) {
    std::optional<int32_t> first = readInteger(text);
    if (!first || *text != ',') return std::nullopt;
    ++text;
    std::optional<int32_t> second = readInteger(text);
    if (!second) return std::nullopt;
    return NumberPair{*first, *second};
}

std::optional<NumberPair> parseRectSizes(const char* text) {
    std::optional<int32_t> first = readInteger(text);
    if (!first) return std::nullopt;
    text = skipSpace(text);
    if (*text != ',') return std::nullopt;
    ++text;
    std::optional<int32_t> second = readInteger(text);
    if (!second) return std::nullopt;
    return NumberPair{*first, *second};
}

std::optional<StoneLine> parseStoneLine(const char* text) {
    std::optional<int32_t> x = readInteger(text);
    if (!x || *text != ',') return std::nullopt;
    ++text;
    std::optional<int32_t> y = readInteger(text);
    if (!y || *text != ',') return std::nullopt;
    ++text;
    std::optional<int32_t> who = readInteger(text);
    if (!who) return std::nullopt;
    return StoneLine{*x, *y, *who};
}

// ---------------------------------------------------------------------------
// Game operations.

void startGame() { startNewGame(); }

void restartGame() { beginGame(); }

void playOpponentMove(int x, int y) { enterMove(x, y, false); }

void playOwnMove(int x, int y) { enterMove(x, y, true); }

int takeBackMove(int x, int y) {
    if (!onBoard(x, y) || engine.moveCount == 0) return takeBackRejected;
    const MoveRecordEntry& last = engine.moveRecord[engine.moveCount - 1];
    if (last.x != x || last.y != y) return takeBackRejected;
    if (boardBuilt()) {
        removeStone(x, y, last.colour);
        assert(checkBoardConsistency());
    }
    --engine.moveCount;
    engine.lastSearchValue = 0;
    renjuBuild();
    return takeBackDone;
}

void buildBoard() {
    // The two searches evaluate with different combination values, which the
    // board's point records carry; a think under the other search rebuilds.
    if (engine.builtForRule == engine.rule && engine.builtForSearch == engine.searchMode) return;
    engine.updateRadius = engine.rule == ruleFreestyle ? 4 : 5;
    if (engine.builtForRule != engine.rule) printRaw("MESSAGE Rule %s\n", ruleNames[engine.rule]);
    rebuildFromRecord();
    engine.builtForRule = engine.rule;
    // The tables and the reset of the first build cost time the manager's
    // clock has already counted; charge it to this think's budget.
    if (engine.firstBuildPending) {
        engine.firstBuildPending = false;
        engine.searchStart -= 200;
    }
}

// ---------------------------------------------------------------------------
// Commands.

void commandStart(const char* args) {
    std::optional<int32_t> width = readInteger(args);
    std::optional<int32_t> height = width ? readInteger(args) : std::nullopt;
    stopAndWait();
    const int32_t newWidth = width.value_or(engine.boardWidth);
    const int32_t newHeight = height.value_or(width.value_or(engine.boardHeight));
    startWithSizes(newWidth, newHeight);
}

void commandRectStart(const char* args) {
    std::optional<NumberPair> sizes = parseRectSizes(args);
    if (!sizes) {
        printLine("ERROR bad RECTSTART parameters");
        return;
    }
    stopAndWait();
    startWithSizes(sizes->first, sizes->second);
}

void commandRestart(const char*) {
    prepareForCommand();
    restartGame();
}

void commandTurn(const char* args) {
    prepareForCommand();
    std::optional<NumberPair> point = boardPoint(args);
    if (!point) {
        printLine("ERROR bad coordinates");
        return;
    }
    playOpponentMove(point->first, point->second);
    // A refused point still gets an answer: the engine moves for the side to
    // move, which the refusal did not change.
    startThinking();
}

void commandPlay(const char* args) {
    prepareForCommand();
    std::optional<NumberPair> point = boardPoint(args);
    if (!point) {
        printLine("ERROR bad coordinates");
        return;
    }
    playOwnMove(point->first, point->second);
    printLine("%d,%d", point->first, point->second);
}

void commandBegin(const char*) {
    prepareForCommand();
    startThinking();
}

namespace {

// The stone lines of a BOARD or YXBOARD block, entered in order, up to the
// line that ends the block. `keyword` names the block in its error line.
void readStoneBlock(const char* keyword) {
    for (;;) {
        // At end of input the buffer is left empty, which ends the block like
        // any line that is not a stone line.
        const bool gotLine = readLine();
        const char* line = engine.lineBuffer;
        std::optional<StoneLine> stone = gotLine ? parseStoneLine(line) : std::nullopt;
        if (!stone || !onBoard(stone->x, stone->y) || stone->who < 1 || stone->who > 3) {
            if (!gotLine || !equalsIgnoringCase(line, "DONE")) {
                printLine("ERROR x,y,who or DONE expected after %s", keyword);
            }
            return;
        }
        switch (stone->who) {
            case 1: playOwnMove(stone->x, stone->y); break;
            case 2: playOpponentMove(stone->x, stone->y); break;
            default: enterBlockedPoint(stone->x, stone->y); break;
        }
    }
}

}  // namespace

void commandBoard(const char*) {
    prepareForCommand();
    readStoneBlock("BOARD");
    startThinking();
}

// A front-end that only wants to show or analyse a position enters it without
// a move coming back; the next TURN or BEGIN thinks from it.
void commandYxBoard(const char*) {
    prepareForCommand();
    readStoneBlock("YXBOARD");
}

void commandShowForbid(const char*) {
    // The board is the think's until its move is in: a running think is left
    // alone, and its thread answers right after that move instead.
    if (!queueForbiddenAnswer()) answerForbiddenPoints();
}

void answerForbiddenPoints() {
    // Room for "FORBID ", four digits for every point of the largest board,
    // the final dot.
    char text[8 + 4 * maxPoints + 2];
    int used = std::snprintf(text, sizeof text, "FORBID ");
    if (engine.boardWidth > 0 && engine.rule == ruleRenju) {
        renjuBuild();
        for (int x = 0; x < engine.boardHeight; ++x) {
            for (int y = 0; y < engine.boardWidth; ++y) {
                if (engine.cells[x][y] != empty || isForbidden(x, y) != 1) continue;
                used += std::snprintf(text + used, sizeof text - static_cast<size_t>(used),
                                      "%02d%02d", x, y);
            }
        }
    }
    printLine("%s.", text);
}

void commandTakeBack(const char* args) {
    prepareForCommand();
    std::optional<NumberPair> point = boardPoint(args);
    if (!point || takeBackMove(point->first, point->second) != takeBackDone) {
        printLine("ERROR bad coordinates");
        return;
    }
    printLine("OK");
}
