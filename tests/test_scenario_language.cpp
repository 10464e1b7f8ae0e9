#include "scenario_language.h"

#include <gtest/gtest.h>

TEST(ScenarioLanguage, ReadsStepsAndExpectations) {
    ScenarioStep s;
    std::string error;
    ASSERT_TRUE(parseScenarioLine("parent buttonText=a b\\n", 3, s, error));
    ASSERT_NE(s.row, nullptr);
    EXPECT_STREQ(s.row->keyword, "parent");
    EXPECT_EQ(s.text, "buttonText=a b\n");
    EXPECT_EQ(s.line, 3);
    ASSERT_TRUE(parseScenarioLine("advance 10s", 1, s, error));
    EXPECT_EQ(s.numbers, std::vector<std::int64_t>{10000});
    ASSERT_TRUE(parseScenarioLine("report 12 3 -1\r", 1, s, error));
    EXPECT_EQ(s.numbers, (std::vector<std::int64_t>{12, 3, -1}));
    ASSERT_TRUE(parseScenarioLine("expect GS 12 3 1 1", 1, s, error));
    EXPECT_STREQ(s.row->keyword, "expect");
    EXPECT_EQ(s.text, "GS 12 3 1 1");
    ASSERT_TRUE(parseScenarioLine("expect AS", 1, s, error));
    EXPECT_STREQ(s.row->keyword, "expect");
    ASSERT_TRUE(parseScenarioLine("expect no answer", 1, s, error));
    EXPECT_STREQ(s.row->keyword, "expect no answer");
    ASSERT_TRUE(parseScenarioLine("expect answer ", 1, s, error));
    EXPECT_STREQ(s.row->keyword, "expect answer");
    EXPECT_EQ(s.text, "");
    ASSERT_TRUE(parseScenarioLine("expect panel text=Studio A=x", 1, s, error));
    EXPECT_EQ(s.property, "text");
    EXPECT_EQ(s.text, "Studio A=x");
    ASSERT_TRUE(parseScenarioLine("press 1 My\\x41", 1, s, error));
    EXPECT_EQ(s.panel, "1");
    EXPECT_EQ(s.control, "MyA");
    ASSERT_TRUE(parseScenarioLine("   # comment", 1, s, error));
    EXPECT_EQ(s.row, nullptr);
    ASSERT_TRUE(parseScenarioLine("create", 1, s, error));
    EXPECT_EQ(s.text, "");
}

TEST(ScenarioLanguage, RejectsMalformedLinesWithAReason) {
    ScenarioStep s;
    for (const char* bad :
         {"press 1", "report 1 2", "report a b c", "tick", "advance -1", "advance x", "message 2",
          "delete now", "expect", "expect maybe", "expect panel text", "expect contact 1 2",
          "frobnicate", "config", "report 1 2 99999999999"}) {
        std::string error;
        EXPECT_FALSE(parseScenarioLine(bad, 7, s, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(ScenarioLanguage, EscapesRoundTrip) {
    std::string out, error;
    ASSERT_TRUE(unescape("a\\nb\\t\\\\c\\x41", out, error)) << error;
    EXPECT_EQ(out, "a\nb\t\\cA");
    for (const char* bad : {"C:\\layouts\\new", "a\\q", "end\\", "\\x4"}) {
        EXPECT_FALSE(unescape(bad, out, error)) << bad;
        EXPECT_NE(error.find("unknown escape"), std::string::npos) << bad;
    }
    EXPECT_EQ(escape("a\nb\t\\c\x01"), "a\\nb\\t\\\\c\\x01");
    ASSERT_TRUE(unescape(escape("x\n\\y\x7f"), out, error));
    EXPECT_EQ(out, "x\n\\y\x7f");
}

TEST(ScenarioLanguage, HelpShowsEveryRowOnce) {
    const std::string help = scenarioHelp();
    for (const ScenarioRow& row : scenarioRows()) {
        const std::string line = std::string("\n  ") + row.usage;
        EXPECT_NE(help.find(line), std::string::npos) << row.usage;
        EXPECT_EQ(help.find(line + " "), help.rfind(line + " ")) << row.usage;
    }
}
