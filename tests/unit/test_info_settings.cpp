// INFO: which key a line names, how its number is read, how the manager's rule
// number maps onto the engine's rules, and that nothing is ever printed.
#include <gtest/gtest.h>

#include <string>

#include "board/engine_state.h"
#include "protocol/info_settings.h"
#include "protocol/main_loop.h"

namespace {

class InfoSettings : public ::testing::Test {
   protected:
    void SetUp() override {
        initEngineState();
        setOutputCapture(&out);
    }
    void TearDown() override {
        EXPECT_EQ(out, "") << "INFO printed something";
        setOutputCapture(nullptr);
    }

    void expectSettings(int32_t turn, int32_t left, int32_t rule) {
        EXPECT_EQ(engine.timeout_turn.load(), turn);
        EXPECT_EQ(engine.time_left.load(), left);
        EXPECT_EQ(engine.requestedRule.load(), rule);
    }

    std::string out;
};

}  // namespace

TEST(InfoNumbers, SignDigitsAndTheFirstOtherCharacter) {
    EXPECT_EQ(parseInfoNumber("5000"), 5000);
    EXPECT_EQ(parseInfoNumber(" \t 5000"), 5000);
    EXPECT_EQ(parseInfoNumber("+42"), 42);
    EXPECT_EQ(parseInfoNumber("-42"), -42);
    EXPECT_EQ(parseInfoNumber("12abc"), 12);
    EXPECT_EQ(parseInfoNumber("3.9"), 3);
    EXPECT_EQ(parseInfoNumber("1 2"), 1);
}

TEST(InfoNumbers, NoDigitsReadsAsZero) {
    for (const char* text : {"", "   ", "abc", "-", "+", "- 5", "x12", "--3"}) {
        EXPECT_EQ(parseInfoNumber(text), 0) << '"' << text << '"';
    }
}

TEST(InfoNumbers, HugeValuesSaturate) {
    EXPECT_EQ(parseInfoNumber("2147483647"), 2147483647);
    EXPECT_EQ(parseInfoNumber("2147483648"), 2147483647);
    EXPECT_EQ(parseInfoNumber("123456789012345678901234567890"), 2147483647);
    EXPECT_EQ(parseInfoNumber("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(parseInfoNumber("-123456789012345678901234567890"), -2147483647 - 1);
}

TEST(InfoRule, ManagerNumbersMapOntoRuleCodes) {
    // Renju when bit value 4 is set or the number is 2; otherwise the low bit
    // picks standard (odd) or freestyle (even).
    struct Case {
        int32_t sent;
        int32_t rule;
    };
    const Case cases[] = {
        {0, ruleFreestyle}, {1, ruleStandard},   {2, ruleRenju},      {3, ruleStandard},
        {4, ruleRenju},     {5, ruleRenju},      {6, ruleRenju},      {7, ruleRenju},
        {8, ruleFreestyle}, {9, ruleStandard},   {10, ruleFreestyle}, {11, ruleStandard},
        {12, ruleRenju},    {16, ruleFreestyle}, {17, ruleStandard},  {-1, ruleRenju},
        {-7, ruleStandard}, {-8, ruleFreestyle},
    };
    for (const Case& c : cases) EXPECT_EQ(ruleFromInfo(c.sent), c.rule) << "sent " << c.sent;
}

TEST_F(InfoSettings, TimeKeysStoreTheirNumbersAsSent) {
    commandInfo("timeout_turn 5000");
    expectSettings(5000, 1000000000, ruleFreestyle);
    commandInfo("time_left 16000");
    expectSettings(5000, 16000, ruleFreestyle);
    commandInfo("time_left -250");  // no range check
    expectSettings(5000, -250, ruleFreestyle);
    commandInfo("timeout_turn 0");
    expectSettings(0, -250, ruleFreestyle);
}

TEST_F(InfoSettings, KeysIgnoreCaseAndNeedNoSeparator) {
    commandInfo("TIMEOUT_TURN 7000");
    EXPECT_EQ(engine.timeout_turn.load(), 7000);
    commandInfo("Time_Left 9000");
    EXPECT_EQ(engine.time_left.load(), 9000);
    commandInfo("timeout_turn4000");
    EXPECT_EQ(engine.timeout_turn.load(), 4000);
    commandInfo("RULE\t\t1");
    EXPECT_EQ(engine.requestedRule.load(), ruleStandard);
    commandInfo("rule4");
    EXPECT_EQ(engine.requestedRule.load(), ruleRenju);
}

TEST_F(InfoSettings, AKeyWithoutDigitsSetsZero) {
    commandInfo("timeout_turn");
    EXPECT_EQ(engine.timeout_turn.load(), 0);
    commandInfo("time_left soon");
    EXPECT_EQ(engine.time_left.load(), 0);
    commandInfo("rule 1");
    commandInfo("rule renju");  // no digits: 0, freestyle
    EXPECT_EQ(engine.requestedRule.load(), ruleFreestyle);
}

TEST_F(InfoSettings, KeysWithoutEffectAndUnknownLinesChangeNothing) {
    commandInfo("timeout_turn 5000");
    commandInfo("time_left 6000");
    commandInfo("rule 1");
    for (const char* line : {"max_memory 83886080", "timeout_match 180000", "game_type 1",
                             "folder /tmp/x", "some_other_key 5", "", "   ", "timeout 1", "time 1",
                             "timeout_", "ru 4", "xrule 4", " rule 4", "turn 1"}) {
        commandInfo(line);
        expectSettings(5000, 6000, ruleStandard);
    }
}

TEST_F(InfoSettings, TheRuleWaitsForTheBoardOwner) {
    // INFO may arrive during a think; only the request changes.
    commandInfo("rule 2");
    EXPECT_EQ(engine.requestedRule.load(), ruleRenju);
    EXPECT_EQ(engine.rule, ruleFreestyle);
    commandInfo("rule 9");
    EXPECT_EQ(engine.requestedRule.load(), ruleStandard);
    EXPECT_EQ(engine.rule, ruleFreestyle);
}

TEST_F(InfoSettings, AnalysisKeysAreKeysOfTheirOwn) {
    commandInfo("max_depth 7");
    commandInfo("MAX_NODE 250000");
    commandInfo("show_detail 1");
    EXPECT_EQ(engine.max_depth.load(), 7);
    EXPECT_EQ(engine.max_node.load(), 250000);
    EXPECT_EQ(engine.show_detail.load(), 1);
    // max_memory shares their first four letters and must stay without effect;
    // nor may the new keys touch the time settings or the rule.
    commandInfo("max_memory 83886080");
    commandInfo("max_ 9");
    EXPECT_EQ(engine.max_depth.load(), 7);
    EXPECT_EQ(engine.max_node.load(), 250000);
    expectSettings(30000, 1000000000, ruleFreestyle);
    commandInfo("max_node 99999999999");  // saturates like every INFO number
    EXPECT_EQ(engine.max_node.load(), 2147483647);
    commandInfo("max_depth");
    commandInfo("show_detail 0");
    EXPECT_EQ(engine.max_depth.load(), 0);
    EXPECT_EQ(engine.show_detail.load(), 0);
}

TEST_F(InfoSettings, SearchChoosesClassicOrDefaultAndIgnoresAnythingElse) {
    // Without the key the engine plays the default search.
    EXPECT_EQ(engine.search.load(), searchDefault);
    commandInfo("search classic");
    EXPECT_EQ(engine.search.load(), searchClassic);
    // It lasts: other keys, and values that name no search, leave it alone.
    commandInfo("timeout_turn 500");
    commandInfo("rule 2");
    for (const char* ignored : {"search", "search fast", "search classical", "search 1",
                                "search default x", "search_default"}) {
        SCOPED_TRACE(ignored);
        commandInfo(ignored);
        EXPECT_EQ(engine.search.load(), searchClassic);
    }
    commandInfo("SEARCH Default");
    EXPECT_EQ(engine.search.load(), searchDefault);
    commandInfo("search   CLASSIC  ");
    EXPECT_EQ(engine.search.load(), searchClassic);
    commandInfo("search default");
    EXPECT_EQ(engine.search.load(), searchDefault);
    commandInfo("search nonsense");
    EXPECT_EQ(engine.search.load(), searchDefault);
    // Nor does the key touch the other settings.
    expectSettings(500, 1000000000, ruleRenju);
}
