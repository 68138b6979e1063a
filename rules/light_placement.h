// Light stone placement for trial moves.
//
// The foul test and the threat search put trial stones on the one board many
// thousands of times per move. The light update keeps current exactly what
// they read: cells, line words, code words, lineValueSum, threat-point groups
// 0 to 3 (with the exact-five corrections), hashKey and stoneList. It never
// touches spaceWord, spaceSum, pointValue, weightedValue, valueTotal or group
// 4; those still describe the position before the first trial stone and are
// correct again once the last one is removed. No full placement and no static
// evaluation may run while a light stone is on the board.
#pragma once

void placeStoneLight(int x, int y, int side);
void removeStoneLight(int x, int y, int side);
void refreshLineLight(int d, int x, int y);
