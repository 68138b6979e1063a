// Placeholder until this module is built.
#include "protocol/info_settings.h"
void commandInfo(const char*) {}
int32_t parseInfoNumber(const char*) { return 0; }
int32_t ruleFromInfo(int32_t) { return 0; }
