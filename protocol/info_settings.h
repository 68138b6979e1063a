// INFO settings: time limits, the rule and the analysis settings, sent by the
// manager. Never answers.
#pragma once

#include <cstdint>

// `args` is the text after the INFO keyword and its white space.
void commandInfo(const char* args);

// Signed decimal with formatted-input rules: leading white space, optional
// sign, digits up to the first other character; no digits gives 0. Values
// beyond 32 bits saturate.
int32_t parseInfoNumber(const char* text);

// Maps the manager's rule number onto the engine's rule code.
int32_t ruleFromInfo(int32_t v);
