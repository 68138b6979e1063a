// Position commands and the game record.
//
// START, RECTSTART, RESTART, TURN, PLAY, BEGIN, BOARD, YXBOARD and TAKEBACK
// keep the game record and the board bounds, and decide when the incremental
// board is rebuilt from the record. The record never holds an off-board or
// repeated point, whether or not the board is built. YXSHOWFORBID reads the
// position.
#pragma once

#include <cstdint>
#include <optional>

// Command handlers; `args` is the text after the keyword and its white space.
void commandStart(const char* args);
void commandRectStart(const char* args);
void commandRestart(const char* args);
void commandTurn(const char* args);
void commandPlay(const char* args);
void commandBegin(const char* args);
void commandBoard(const char* args);
void commandTakeBack(const char* args);
// YXBOARD: a BOARD block that enters the position and asks for no move.
void commandYxBoard(const char* args);
// YXSHOWFORBID: "FORBID " and black's forbidden points as xxyy, then ".".
void commandShowForbid(const char* args);
// The FORBID line for the position on the board; run by the board's owner.
// Empty outside Renju: the rule is the current game's, as the last position
// command took it from INFO.
void answerForbiddenPoints();

void startGame();
void restartGame();
void playOpponentMove(int x, int y);
void playOwnMove(int x, int y);
// 0 done, 2 rejected.
int takeBackMove(int x, int y);
// The think driver's build: rebuilds the board when builtForRule != rule.
void buildBoard();

// The banner line printed before "OK" by START, RECTSTART and RESTART.
extern const char* const bannerText;

// Argument parsing shared by the commands and INFO.

// One signed decimal integer with formatted-input rules: leading white space
// skipped, an optional sign, then at least one digit. On success `text` moves
// past the last digit. Values beyond 32 bits saturate at INT32_MIN/INT32_MAX.
std::optional<int32_t> readInteger(const char*& text);

struct NumberPair {
    int32_t first;
    int32_t second;
};

// "x,y" as TURN, PLAY and TAKEBACK take it: the comma follows the first number
// directly; white space may precede the second. Text after it is ignored.
std::optional<NumberPair> parseCoordinates(const char* text);
// "w,h" as RECTSTART takes it: white space allowed on both sides of the comma.
std::optional<NumberPair> parseRectSizes(const char* text);

struct StoneLine {
    int32_t x;
    int32_t y;
    int32_t who;
};
// "x,y,who" as a BOARD block line, commas placed as in parseCoordinates. Only
// the syntax; bounds and who are the block's business.
std::optional<StoneLine> parseStoneLine(const char* text);
