// Placeholder until this module is built.
#include "board/make_unmake.h"
void resetBoard() {}
void placeStone(int, int, int) {}
void removeStone(int, int, int) {}
void refreshLineH(int, int) {}
void refreshLineV(int, int) {}
void refreshLineD(int, int) {}
void refreshLineA(int, int) {}
void exactFiveCheck(int, int, int, int) {}
void leaveGroup(int, int, int, int, int) {}
void enterGroup(int, int, int, int, int) {}
void doubleCheckAfterLeave(int, int, int) {}
void doubleCheckAfterEnter(int, int, int) {}
bool checkBoardConsistency() { return true; }
