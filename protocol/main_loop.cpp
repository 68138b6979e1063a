// The main thread: reads lines, dispatches them, runs the quit sequence.
//
// Input is read one byte at a time so that the engine never reads ahead of the
// line it is handling (the BOARD block reads its stone lines through the same
// routine). Output goes through one writer: a line is formatted in full, then
// written and flushed under a mutex, so a MESSAGE line of the think thread can
// never be cut into by an answer of the main thread.
#include "protocol/main_loop.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "board/engine_state.h"
#include "protocol/info_settings.h"
#include "protocol/position_commands.h"
#include "protocol/think_thread.h"
#include "search/transposition.h"

const char* const aboutText =
    "name=\"Zorvan\", author=\"Benrow\", version=\"1.0\", country=\"Nowhere\", "
    "www=\"https://zorvan.invalid\"";

namespace {

#ifdef _WIN32
int readByte(char* c) { return _read(0, c, 1); }
#else
int readByte(char* c) { return static_cast<int>(read(STDIN_FILENO, c, 1)); }
#endif

std::mutex outputMutex;
std::string* outputCapture = nullptr;

// Longest line the engine prints: the FORBID line, which may name every point
// of a 24x24 board in four digits (2312 bytes); the others stay far shorter.
constexpr int maxOutputLine = 4096;

void writeFormatted(const char* format, va_list args, bool appendNewline) {
    char text[maxOutputLine + 2];
    int length = vsnprintf(text, maxOutputLine, format, args);
    if (length < 0) length = 0;
    if (length > maxOutputLine - 1) length = maxOutputLine - 1;
    if (appendNewline) text[length++] = '\n';
    std::lock_guard<std::mutex> lock(outputMutex);
    if (outputCapture) {
        outputCapture->append(text, static_cast<size_t>(length));
        return;
    }
    fwrite(text, 1, static_cast<size_t>(length), stdout);
    fflush(stdout);
}

bool isFormatSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The keyword rule of the dispatcher: the line starts with the keyword, letters
// compared as capitals, other bytes as they are. Returns the text after it.
const char* keywordEnd(const char* keyword, const char* text) {
    while (*keyword) {
        if (*text == '\0' || upperAscii(*text) != *keyword) return nullptr;
        ++keyword;
        ++text;
    }
    return text;
}

const char* skipSpace(const char* text) {
    while (isFormatSpace(*text)) ++text;
    return text;
}

}  // namespace

void setOutputCapture(std::string* sink) {
    std::lock_guard<std::mutex> lock(outputMutex);
    outputCapture = sink;
}

void printLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeFormatted(format, args, true);
    va_end(args);
}

void printRaw(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeFormatted(format, args, false);
    va_end(args);
}

const char* matchKeyword(const char* keyword, const char* text) {
    const char* end = keywordEnd(keyword, text);
    return end ? skipSpace(end) : nullptr;
}

bool readLine() {
    char* buffer = engine.lineBuffer;
    int stored = 0;
    for (;;) {
        char c;
        int got = readByte(&c);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {        // end of input, or a stream that can no longer be read
            buffer[0] = '\0';  // an unfinished last line is discarded
            return false;
        }
        if (stored < lineBufferSize) buffer[stored++] = c;
        if (c == '\n') break;
    }
    // Zero over the line feed when it fitted, else over the 8192nd byte, so an
    // over-long line keeps its first 8191 bytes.
    buffer[stored - 1] = '\0';
    if (stored >= 2 && buffer[stored - 2] == '\r') buffer[stored - 2] = '\0';
    return true;
}

void prepareForCommand() {
    stopAndWait();
    // The board owner takes the INFO rule here, never during a think.
    const int32_t requested = engine.requestedRule.load();
    if (requested != engine.rule) {
        engine.rule = requested;
        // A board built for the old rule holds the old rule's fives; stones
        // placed on it now would be judged by the new rule's tables, leaving a
        // mix that no rule describes, and the think's shortcuts would read it.
        // Marked unbuilt, it is rebuilt whole at the next think (or at the
        // next move, in Renju), and moves go only into the record until then.
        engine.builtForRule = -1;
    }
    if (engine.boardWidth == 0) {
        engine.boardWidth = 20;
        engine.boardHeight = 20;
        startGame();
    }
}

bool dispatchCommand() {
    const char* line = engine.lineBuffer;
    const char* rest;
    if ((rest = keywordEnd("INFO", line))) {
        commandInfo(skipSpace(rest));
    } else if ((rest = keywordEnd("START", line))) {
        commandStart(skipSpace(rest));
    } else if ((rest = keywordEnd("RECTSTART", line))) {
        commandRectStart(skipSpace(rest));
    } else if ((rest = keywordEnd("RESTART", line))) {
        commandRestart(skipSpace(rest));
    } else if ((rest = keywordEnd("TURN", line))) {
        commandTurn(skipSpace(rest));
    } else if ((rest = keywordEnd("PLAY", line))) {
        commandPlay(skipSpace(rest));
    } else if ((rest = keywordEnd("BEGIN", line))) {
        commandBegin(skipSpace(rest));
    } else if (matchKeyword("ABOUT", line)) {
        printLine("%s", aboutText);
    } else if (matchKeyword("END", line)) {
        return true;
    } else if ((rest = matchKeyword("BOARD", line))) {
        commandBoard(rest);
    } else if ((rest = matchKeyword("TAKEBACK", line))) {
        commandTakeBack(rest);
    } else if ((rest = matchKeyword("YXBOARD", line))) {
        commandYxBoard(rest);
    } else if (matchKeyword("YXSTOP", line)) {
        requestStop();
    } else if ((rest = matchKeyword("YXSHOWFORBID", line))) {
        commandShowForbid(rest);
    } else {
        printLine("UNKNOWN command");
    }
    return false;
}

int runMainLoop() {
#ifdef _WIN32
    // Binary mode both ways: the engine strips CR itself, and every line it
    // prints ends in a bare LF, so a manager that strips only the newline reads
    // "OK", never "OK\r".
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
#endif
    initEngineState();
    prefaultEngineState();
    // Before the think thread exists, so nothing else touches the tables yet. A
    // failed allocation is retried by every board reset, and the think driver
    // plays without searching while it fails.
    prepareHashTablesAtStartUp();
    startThinkThread();
    while (readLine()) {
        engine.commandReadAt = nowMs();
        if (dispatchCommand()) break;
    }
    // Quit sequence: a running think still prints its move, then the thread ends.
    stopAndWait();
    engine.thinkCommand = -1;
    startThinking();
    joinThinkThread();
    return 0;
}
