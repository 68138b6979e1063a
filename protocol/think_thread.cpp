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
#include "search/think_driver.h"

namespace {

std::mutex startMutex;
std::condition_variable startSignal;
bool thinkRequested = false;

std::mutex doneMutex;
std::condition_variable doneSignal;
bool thinkDone = true;

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

void thinkThreadMain() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(startMutex);
            startSignal.wait(lock, [] { return thinkRequested; });
            thinkRequested = false;
        }
        if (engine.thinkCommand == -1) return;
        if (engine.thinkCommand == 0) thinkDriver();
        {
            std::lock_guard<std::mutex> lock(doneMutex);
            thinkDone = true;
        }
        doneSignal.notify_all();
    }
}
