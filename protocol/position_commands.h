// Position commands and the game record.
//
// START, RECTSTART, RESTART, TURN, PLAY, BEGIN, BOARD and TAKEBACK keep the
// game record and the board bounds, and decide when the incremental board is
// rebuilt from the record. The record never holds an off-board or repeated
// point, whether or not the board is built.
#pragma once

// Command handlers; `args` is the text after the keyword and its white space.
void commandStart(const char* args);
void commandRectStart(const char* args);
void commandRestart(const char* args);
void commandTurn(const char* args);
void commandPlay(const char* args);
void commandBegin(const char* args);
void commandBoard(const char* args);
void commandTakeBack(const char* args);

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
