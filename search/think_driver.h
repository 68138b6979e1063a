// Think driver: turns the engine's turn to move into a printed move.
#pragma once

// Budget, shortcuts, safety pass, iterative deepening, speed line, playOwnMove
// and the move line. Runs on the think thread.
void thinkDriver();

// Sets bestMove to side's first five point, else its first open-four point;
// with play non-zero also places the stone. 0 when the side has neither.
int pickImmediateWin(int side, int play);
