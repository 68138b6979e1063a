// The think thread and its handshake with the main thread.
//
// thinkRequested is a one-shot latch: two requests made before the thread
// wakes are taken as one. thinkDone starts true so that waiting before the
// first think returns at once. Neither mutex is held while the think driver
// runs, and the two are never held together, so there is no lock order.
#include "protocol/think_thread.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "board/engine_state.h"
#include "protocol/position_commands.h"
#include "search/think_driver.h"

namespace {

std::mutex startMutex;
std::condition_variable startSignal;
bool thinkRequested = false;

std::mutex doneMutex;
std::condition_variable doneSignal;
bool thinkDone = true;
// FORBID answers asked for during the running think, guarded by doneMutex:
// the think thread serves them before it sets thinkDone, so none is lost
// between the main thread's test and the end of the think.
int forbiddenAnswersDue = 0;

// After a think, still owning the board: the FORBID answers due, then idle.
void finishThink() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(doneMutex);
            if (forbiddenAnswersDue == 0) {
                thinkDone = true;
                break;
            }
            --forbiddenAnswersDue;
        }
        answerForbiddenPoints();
    }
    doneSignal.notify_all();
}

std::thread thinkThread;

}  // namespace

void startThinkThread() { thinkThread = std::thread(thinkThreadMain); }

void joinThinkThread() {
    if (thinkThread.joinable()) thinkThread.join();
}

void startThinking() {
    // The think is timed from its command, not from when its thread wakes.
    engine.thinkClockStart = engine.commandReadAt;
    engine.stopRequested.store(0);
    {
        std::lock_guard<std::mutex> lock(doneMutex);
        thinkDone = false;
    }
    {
        std::lock_guard<std::mutex> lock(startMutex);
        thinkRequested = true;
    }
    startSignal.notify_all();
}

void stopAndWait() {
    engine.stopRequested.store(1);
    std::unique_lock<std::mutex> lock(doneMutex);
    doneSignal.wait(lock, [] { return thinkDone; });
}

void requestStop() { engine.stopRequested.store(1); }

bool queueForbiddenAnswer() {
    std::lock_guard<std::mutex> lock(doneMutex);
    if (thinkDone) return false;
    ++forbiddenAnswersDue;
    return true;
}

void thinkThreadMain() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(startMutex);
            startSignal.wait(lock, [] { return thinkRequested; });
            thinkRequested = false;
        }
        if (engine.thinkCommand == -1) return;
        if (engine.thinkCommand == 0) thinkDriver();
        finishThink();
    }
}
