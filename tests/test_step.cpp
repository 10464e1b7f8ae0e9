#include "lives.h"
#include "step.h"

#include <gtest/gtest.h>

namespace {
Step read(const std::string& line) {
    std::string error;
    std::optional<Step> step = parseStep(line, 3, error);
    EXPECT_TRUE(step) << line << ": " << error;
    return step ? *step : Step{};
}
} // namespace

TEST(Step, ReadsEachKindIntoItsFields) {
    EXPECT_EQ(std::get<steps::Parent>(read("parent buttonText=a b\\n").kind).text,
              "buttonText=a b\n");
    EXPECT_EQ(read("parent x").line, 3);
    EXPECT_EQ(std::get<steps::Advance>(read("advance 10s").kind).by.ms, 10000);
    const auto r = std::get<steps::Report>(read("report 12 3 -1\r").kind);
    EXPECT_EQ(std::tie(r.device, r.contact, r.state), std::make_tuple(12, 3, -1));
    EXPECT_EQ(std::get<steps::ExpectCommand>(read("expect GS 12 3 1 1").kind).text, "GS 12 3 1 1");
    EXPECT_TRUE(std::holds_alternative<steps::ExpectCommand>(read("expect AS").kind));
    EXPECT_TRUE(std::holds_alternative<steps::ExpectNoAnswer>(read("expect no answer").kind));
    EXPECT_EQ(std::get<steps::ExpectAnswer>(read("expect answer ").kind).text, "");
    const Setting panel =
        std::get<steps::ExpectPanel>(read("expect panel text=Studio A=x").kind).setting;
    EXPECT_EQ(panel, (Setting{"text", "Studio A=x"}));
    EXPECT_EQ(std::get<steps::ExpectPanel>(read("expect panel statesheet unset").kind).setting,
              (Setting{"statesheet", "", true}));
    // A property named "unset", and a value that ends with the word, are settings as before.
    EXPECT_EQ(std::get<steps::ExpectPanel>(read("expect panel unset=a unset").kind).setting,
              (Setting{"unset", "a unset"}));
    const auto press = std::get<steps::Press>(read("press 1 My\\x41").kind);
    EXPECT_EQ(press.panel, "1");
    EXPECT_EQ(press.control, "MyA");
    EXPECT_EQ(std::get<steps::Press>(read("press \"\" x").kind).panel, "");
    EXPECT_TRUE(read("   # comment").isComment());
    EXPECT_EQ(std::get<steps::Create>(read("create").kind).path, "");
    // A component named, or not.
    EXPECT_EQ(read("@tile-2 press 1 x").component, "tile-2");
    EXPECT_EQ(read("@b expect nothing").component, "b");
    EXPECT_EQ(read("press 1 x").component, "");
}

TEST(Step, RejectsMalformedLinesWithAReason) {
    for (const char* bad : {"press 1",
                            "report 1 2",
                            "report a b c",
                            "tick",
                            "advance -1",
                            "advance x",
                            "message 2",
                            "delete now",
                            "expect",
                            "expect maybe",
                            "expect panel text",
                            "expect panel a b unset",
                            "expect panel unset",
                            "expect contact 1 2",
                            "frobnicate",
                            "config",
                            "report 1 2 99999999999",
                            "press 1 2 3",
                            "@ press 1 x",
                            "@b",
                            "@a/b press 1 x"}) {
        std::string error;
        EXPECT_FALSE(parseStep(bad, 7, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

// A file is read whole: every malformed line is named, with its number, before anything runs.
TEST(Step, AScriptNamesEveryMalformedLine) {
    const Script script = parseScript({"create", "press 1", "", "# c", "bogus x", "delete"});
    ASSERT_EQ(script.errors.size(), 2u);
    EXPECT_EQ(script.errors[0], "2: expected 'press PANEL CONTROL'\n  line: press 1");
    EXPECT_EQ(script.errors[1].rfind("5: unknown step 'bogus'", 0), 0u) << script.errors[1];
    EXPECT_EQ(script.steps.size(), 3u);
}

// What the validator's lives, the recorder and the replays write reads back as the same steps:
// odd texts, empty words, blanks at the ends, every kind.
TEST(Step, FormatAndParseRoundTrip) {
    std::vector<Step> all;
    for (std::uint64_t seed = 0; seed < 200; ++seed) {
        Randomness rnd(seed);
        Life life = randomLife(rnd);
        all.insert(all.end(), life.steps.begin(), life.steps.end());
    }
    auto add = [&](StepKind kind, const std::string& component = "") {
        all.push_back(Step{std::move(kind), component, 0});
    };
    add(steps::Press{"", "\"\""}, "b");
    add(steps::Press{" a b ", "\t#@"});
    add(steps::Parent{"  lead and trail  "});
    add(steps::Config{"dir with blank/f.ini"});
    add(steps::Load{""});
    add(steps::Advance{{0}});
    add(steps::Advance{{1500}});
    add(steps::ExpectPanel{{"a=b", "=c\\"}});
    add(steps::ExpectPanel{{"a b=", "", true}});
    add(steps::ExpectAnswer{""});
    add(steps::ExpectDebug{"line\nfeed\r\x01"});
    add(steps::ExpectContact{-1, 2147483647, -2147483647 - 1});
    add(steps::ExpectEnded{}, "x.y_z-1");
    add(steps::Comment{" a note"});
    const Script back = parseScript([&] {
        std::vector<std::string> lines;
        const std::string text = formatScript(all);
        for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
            end = text.find('\n', at);
            lines.push_back(text.substr(at, end - at));
        }
        return lines;
    }());
    ASSERT_TRUE(back.errors.empty()) << back.errors.front();
    ASSERT_EQ(back.steps.size(), all.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(back.steps[i], all[i]) << formatStep(all[i]);
}

TEST(Step, EscapesRoundTrip) {
    std::string out, error;
    ASSERT_TRUE(unescape("a\\nb\\t\\\\c\\x41", out, error)) << error;
    EXPECT_EQ(out, "a\nb\t\\cA");
    for (const char* bad : {"C:\\layouts\\new", "a\\q", "end\\", "\\x4"}) {
        EXPECT_FALSE(unescape(bad, out, error)) << bad;
        EXPECT_NE(error.find("unknown escape"), std::string::npos) << bad;
    }
    EXPECT_EQ(escape("a\nb\t\\c\x01"), "a\\nb\\t\\\\c\\x01");
}

TEST(Step, HelpShowsEveryRowOnce) {
    const std::string help = scenarioHelp();
    for (const StepRow& row : stepRows()) {
        if (std::string(row.keyword) == "#") continue;
        const std::string line = std::string("\n  ") + row.usage;
        EXPECT_NE(help.find(line), std::string::npos) << row.usage;
        EXPECT_EQ(help.find(line + " "), help.rfind(line + " ")) << row.usage;
    }
}
