// Think driver: turns the engine's turn to move into a printed move.
#pragma once

// Budget, shortcuts, safety pass, iterative deepening, speed line, playOwnMove
// and the move line. Runs on the think thread. The budget is counted from
// engine.thinkClockStart, which startThinking sets to the moment the main loop
// read the command asking for the move.
void thinkDriver();

// For callers that run the think driver themselves, without the main loop and
// the think thread (tools, tests): its clock starts now.
void startThinkClock();

// Test hook, null in the engine: called at the start of every think, before
// any of its work. Tests put a known delay there to stand for whatever may
// come between reading the command and searching.
extern void (*thinkStartHookForTests)();

// Sets bestMove to side's first five point, else its first open-four point;
// with play non-zero also places the stone. 0 when the side has neither.
int pickImmediateWin(int side, int play);
