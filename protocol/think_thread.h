// Think thread and stop signalling.
//
// Two mutex/condition-variable pairs, never held together and never held while
// the search runs: one raises the think request (main -> think thread), the
// other reports the think thread idle (think thread -> main). The only value
// that crosses during a search is the atomic stopRequested.
#pragma once

// Creates the think thread (main loop, before the first line is read).
void startThinkThread();
// Joins it (quit sequence, after thinkCommand = -1 and startThinking).
void joinThinkThread();

// Hands the request named by thinkCommand to the think thread; returns at once.
// The think's clock starts at engine.commandReadAt, when the main loop read the
// command that asks for it.
void startThinking();
// Asks a running think to stop and blocks until the think thread is idle.
void stopAndWait();
// YXSTOP: asks a running think to answer now, without waiting for it. The
// think still prints and plays its move; with no think running it does
// nothing (the next think clears the request when it starts).
void requestStop();
// YXSHOWFORBID while the board may be the think's: true when a think is
// running, and its thread then answers with answerForbiddenPoints right after
// its move, before it reports itself idle; false when no think runs and the
// caller owns the board.
bool queueForbiddenAnswer();

void thinkThreadMain();
