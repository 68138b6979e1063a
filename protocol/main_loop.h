// Main loop and command dispatcher: the engine's main thread.
//
// Reads standard input one line at a time, recognises the command at the start
// of the line, runs it (or hands it to the think thread) and prints the
// answers. Every line the engine prints goes through printLine (or printRaw
// for the one format that carries its own newline), so lines of the two
// threads never interleave.
#pragma once

#include <string>

// Reads the next line into engine.lineBuffer; false at end of input.
bool readLine();

// Interprets engine.lineBuffer; true only for END.
bool dispatchCommand();

// Returns the text after `keyword` and the white space after it when `text`
// begins with it (letters a-z compared as capitals), else nullptr.
const char* matchKeyword(const char* keyword, const char* text);

// printf-like; appends a newline and flushes. The whole line is written at once.
void printLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// printf-like for a format that carries its own newline; flushes.
void printRaw(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Tests capture the output instead of writing it: while set, every printed
// line is appended to *sink.
void setOutputCapture(std::string* sink);

// The step every position command runs first: stop a think and wait for it,
// take the INFO rule, and start the default 20x20 game when no board exists.
void prepareForCommand();

// Start-up, the loop, and the quit sequence. Returns the exit status (0).
int runMainLoop();

extern const char* const aboutText;
