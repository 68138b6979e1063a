// Placeholder until this module is built.
#include "protocol/position_commands.h"
const char* const bannerText = "MESSAGE Zorvan";
void commandStart(const char*) {}
void commandRectStart(const char*) {}
void commandRestart(const char*) {}
void commandTurn(const char*) {}
void commandPlay(const char*) {}
void commandBegin(const char*) {}
void commandBoard(const char*) {}
void commandTakeBack(const char*) {}
void startGame() {}
void restartGame() {}
void playOpponentMove(int, int) {}
void playOwnMove(int, int) {}
int takeBackMove(int, int) { return 2; }
void buildBoard() {}
