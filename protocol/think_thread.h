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

void thinkThreadMain();
