#include "scenario.h"

#include <gtest/gtest.h>
#include <sstream>

TEST(ScenarioParser, ReadsStepsAndExpectations) {
    ScenarioStep s;
    std::string error;
    ASSERT_TRUE(parseScenarioLine("parent buttonText=a b\\n", 3, s, error));
    EXPECT_EQ(s.keyword, "parent");
    EXPECT_EQ(s.text, "buttonText=a b\n");
    EXPECT_EQ(s.line, 3);
    ASSERT_TRUE(parseScenarioLine("advance 10s", 1, s, error));
    EXPECT_EQ(s.numbers, std::vector<std::int64_t>{10000});
    ASSERT_TRUE(parseScenarioLine("report 12 3 -1\r", 1, s, error));
    EXPECT_EQ(s.numbers, (std::vector<std::int64_t>{12, 3, -1}));
    ASSERT_TRUE(parseScenarioLine("expect GS 12 3 1 1", 1, s, error));
    EXPECT_EQ(s.expectKind, "command");
    EXPECT_EQ(s.text, "GS 12 3 1 1");
    ASSERT_TRUE(parseScenarioLine("expect AS", 1, s, error));
    EXPECT_EQ(s.expectKind, "command");
    ASSERT_TRUE(parseScenarioLine("expect no answer", 1, s, error));
    EXPECT_EQ(s.expectKind, "no-answer");
    ASSERT_TRUE(parseScenarioLine("expect answer ", 1, s, error));
    EXPECT_EQ(s.expectKind, "answer");
    EXPECT_EQ(s.text, "");
    ASSERT_TRUE(parseScenarioLine("expect panel text=Studio A", 1, s, error));
    EXPECT_EQ(s.text, "text=Studio A");
    ASSERT_TRUE(parseScenarioLine("   # comment", 1, s, error));
    EXPECT_TRUE(s.keyword.empty());
    ASSERT_TRUE(parseScenarioLine("create", 1, s, error));
    EXPECT_EQ(s.text, "");
}

TEST(ScenarioParser, RejectsMalformedLinesWithAReason) {
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

TEST(ScenarioParser, EscapesRoundTrip) {
    EXPECT_EQ(unescape("a\\nb\\t\\\\c\\x41\\q"), "a\nb\t\\cAq");
    EXPECT_EQ(escape("a\nb\t\\c\x01"), "a\\nb\\t\\\\c\\x01");
    EXPECT_EQ(unescape(escape("x\n\\y\x7f")), "x\n\\y\x7f");
}

TEST(ScenarioRunner, AMalformedLineStopsTheRunBeforeAnyStep) {
    std::istringstream in("create\nbogus\n");
    std::ostringstream out, err;
    RunResult r =
        runScenario(in, "t.vorn", RunOptions{"/nonexistent.so", "", true, false}, out, err);
    EXPECT_TRUE(r.malformed);
    EXPECT_NE(err.str().find("t.vorn:1: /nonexistent.so: no such plug-in file"), std::string::npos)
        << err.str();
}
