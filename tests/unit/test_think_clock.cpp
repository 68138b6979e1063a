// The clock of a think, through the think thread: it runs from the moment the
// main loop read the command that asked for the move, so whatever happens
// before the search (waking the thread, a board build, table clears) comes out
// of the move's budget instead of pushing the move past it.
//
// This executable starts and ends the think thread itself, so it holds only
// these tests: after the thread is ended no other test may wait for it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "board/engine_state.h"
#include "protocol/main_loop.h"
#include "protocol/position_commands.h"
#include "protocol/think_thread.h"
#include "search/think_driver.h"

namespace {

constexpr int budgetMs = 600;
// Work before the search, standing for a slow wake-up or a board build: half
// the budget, so a clock that starts at the search overruns by about as much.
constexpr int delayMs = 300;
// How late the move may still be. The engine keeps 30 ms in reserve for the
// stretch between two stop tests and the answer; under emulation the 32-bit
// build's first search can take longer than that between two tests (its code
// is being translated), and a busy machine adds waits for a core. Half the
// delay: a clock started at the search, late by the whole delay, is still
// caught.
constexpr int lateMs = delayMs / 2;

int64_t hookCalledAt = 0;

void slowStart() {
    hookCalledAt = nowMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
}

bool hasMoveLine(const std::string& text) {
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t end = text.find('\n', begin);
        if (end == std::string::npos) return false;
        const std::string line = text.substr(begin, end - begin);
        if (!line.empty() && line.find(',') != std::string::npos && line.rfind("MESSAGE", 0) != 0) {
            return true;
        }
        begin = end + 1;
    }
    return false;
}

// Collects the think thread's output until its move line is printed; returns
// the clock reading at which it was seen, or -1 after `giveUpMs`. The output
// goes to one of two strings in turn; switching the capture under the output
// lock is what makes the other one safe to read.
int64_t waitForMove(std::string sinks[2], std::string& seen, int64_t giveUpAt) {
    int current = 0;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int next = 1 - current;
        sinks[next].clear();
        setOutputCapture(&sinks[next]);
        const int64_t now = nowMs();
        seen += sinks[current];
        current = next;
        if (hasMoveLine(seen)) return now;
        if (now > giveUpAt) return -1;
    }
}

TEST(ThinkClock, WorkBeforeTheSearchComesOutOfTheMovesBudget) {
    initEngineState();
    std::string sinks[2];
    setOutputCapture(&sinks[0]);
    engine.requestedRule.store(ruleFreestyle);
    engine.rule = ruleFreestyle;
    engine.boardWidth = engine.boardHeight = 15;
    startGame();
    buildBoard();  // the first build's fixed charge stays out of this think
    for (auto [x, y] : {std::pair{7, 7}, {7, 8}, {8, 8}, {6, 6}}) playOpponentMove(x, y);
    engine.timeout_turn.store(budgetMs);
    engine.time_left.store(1000000000);
    thinkStartHookForTests = slowStart;
    startThinkThread();

    // What the main loop does with a TURN line: note when it was read, enter
    // the move (done above), hand the think over.
    engine.commandReadAt = nowMs();
    const int64_t readAt = engine.commandReadAt;
    startThinking();
    std::string seen;
    const int64_t movedAt = waitForMove(sinks, seen, readAt + 10 * budgetMs);
    stopAndWait();
    setOutputCapture(nullptr);
    thinkStartHookForTests = nullptr;
    engine.thinkCommand = -1;
    startThinking();
    joinThinkThread();

    ASSERT_NE(movedAt, -1) << seen;
    EXPECT_GE(hookCalledAt - readAt, 0);
    // The search ran after the delay: a think that gave up at once would pass
    // the time check without showing anything.
    EXPECT_GT(engine.nodeCount, 0);
    EXPECT_GE(movedAt - readAt, delayMs);
    EXPECT_LE(movedAt - readAt, budgetMs + lateMs) << seen;
    EXPECT_EQ(engine.moveCount, 5);
}

}  // namespace
