// Time of one buildEngineTables, which runs at every board build: average over
// many builds, per rule, on a 20 x 20 board. Also prints a fingerprint of the
// built tables per rule, so the 32- and 64-bit builds can be compared.
#include <chrono>
#include <cstddef>
#include <cstdio>

#include "board/engine_state.h"
#include "board/tables.h"

namespace {

uint64_t fnv(uint64_t h, const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

}  // namespace

int main() {
    constexpr int builds = 200;
    initEngineState();
    engine.boardSize = 20;
    const char* names[3] = {"freestyle", "standard", "renju"};
    for (int rule = 0; rule < 3; ++rule) {
        engine.rule = rule;
        buildEngineTables();  // warm-up: first-call keys, page faults
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < builds; ++i) buildEngineTables();
        double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        uint64_t h = 14695981039346656037ull;
        h = fnv(h, engine.windowTable, sizeof engine.windowTable);
        h = fnv(h, engine.comboTable, sizeof engine.comboTable);
        h = fnv(h, engine.comboFlags, sizeof engine.comboFlags);
        h = fnv(h, engine.zobrist, sizeof engine.zobrist);
        std::printf("buildEngineTables %-9s %8.3f ms per build (%d builds)  tables %016llx\n",
                    names[rule], ms / builds, builds, static_cast<unsigned long long>(h));
    }
    return 0;
}
