// INFO settings: the manager's time limits and rule, the analysis settings
// (depth and node limits, the per-depth report) and the choice of search.
//
// INFO is the one command handled while a think may be running, so it writes
// nothing but atomics: the time limits and the analysis settings, which the
// think driver reads once at the start of each think, and the requested rule.
// The rule is not written into `rule` here: the board and every search read
// `rule` directly, and a value changing under a running search would make it
// judge a board built for one rule with the other's win test. The owner of
// the board copies the request in when it takes the state back (the
// preparation step of every position command), so a new rule always starts at
// a board build.
//
// Keys are prefix matches tested in a fixed order, and a key that is read but
// has no effect still has to be recognised, so that its value is never taken
// for another key's. INFO never answers: a manager sends INFO lines it does not
// expect replies to, and an unexpected line would be read as the answer to its
// next command.
#include "protocol/info_settings.h"

#include "board/engine_state.h"
#include "protocol/main_loop.h"
#include "protocol/position_commands.h"

namespace {

enum class InfoKey {
    maxMemory,
    timeoutMatch,
    timeoutTurn,
    timeLeft,
    gameType,
    rule,
    folder,
    maxDepth,
    maxNode,
    showDetail,
    search,
};

struct InfoKeyName {
    const char* name;  // upper case: matchKeyword compares letters as capitals
    InfoKey key;
};

// The order of testing.
constexpr InfoKeyName infoKeys[] = {
    {"MAX_MEMORY", InfoKey::maxMemory},
    {"TIMEOUT_MATCH", InfoKey::timeoutMatch},
    {"TIMEOUT_TURN", InfoKey::timeoutTurn},
    {"TIME_LEFT", InfoKey::timeLeft},
    {"GAME_TYPE", InfoKey::gameType},
    {"RULE", InfoKey::rule},
    {"FOLDER", InfoKey::folder},
    {"MAX_DEPTH", InfoKey::maxDepth},
    {"MAX_NODE", InfoKey::maxNode},
    {"SHOW_DETAIL", InfoKey::showDetail},
    {"SEARCH", InfoKey::search},
};

// The word of `INFO search`: "classic" or "default" in any case, nothing but
// white space after it. Anything else is -1, and the setting stays as it was:
// a manager that sends a value from some later version must not silently
// switch the engine to a search it did not ask for.
int32_t searchFromInfo(const char* value) {
    for (int mode : {searchClassic, searchDefault}) {
        const char* rest = matchKeyword(mode == searchClassic ? "CLASSIC" : "DEFAULT", value);
        if (rest && *rest == '\0') return mode;
    }
    return -1;
}

}  // namespace

int32_t parseInfoNumber(const char* text) { return readInteger(text).value_or(0); }

int32_t ruleFromInfo(int32_t v) {
    // Bit value 4 marks Renju, and so does the plain number 2.
    if ((v & 4) != 0 || v == 2) return ruleRenju;
    return (v & 1) != 0 ? ruleStandard : ruleFreestyle;
}

void commandInfo(const char* args) {
    for (const InfoKeyName& entry : infoKeys) {
        const char* value = matchKeyword(entry.name, args);
        if (!value) continue;
        if (entry.key == InfoKey::search) {
            const int32_t mode = searchFromInfo(value);
            if (mode >= 0) engine.search.store(mode);
            return;
        }
        const int32_t number = parseInfoNumber(value);
        switch (entry.key) {
            case InfoKey::timeoutTurn: engine.timeout_turn.store(number); break;
            case InfoKey::timeLeft: engine.time_left.store(number); break;
            case InfoKey::rule: engine.requestedRule.store(ruleFromInfo(number)); break;
            case InfoKey::maxDepth: engine.max_depth.store(number); break;
            case InfoKey::maxNode: engine.max_node.store(number); break;
            case InfoKey::showDetail: engine.show_detail.store(number); break;
            default: break;  // accepted without effect
        }
        return;
    }
}
