#include "alloc_counter.h"
#include "vorn_component.h"
#include "vorn_decoders.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct CommandCase {
    const char* text;
    const char* name;
    std::vector<std::string> parts;
    const char* value;
    bool hasValue;
};

std::vector<std::string> partsOf(const ParsedCommand& c) {
    return std::vector<std::string>(c.parts, c.parts + c.partCount);
}

std::vector<std::string> tokensOf(const decodeVORNString& d) {
    return std::vector<std::string>(d.tokens, d.tokens + d.count);
}

std::string dots(int n) {
    std::string text = "name";
    for (int i = 0; i < n; ++i)
        text += ".x";
    return text + "=1";
}

} // namespace

TEST(ParsedCommand, SplitsNamePartsAndValue) {
    const CommandCase cases[] = {
        {"useButton=true", "useButton", {}, "true", true},
        {"_events", "_events", {}, "", false},
        {"return=all", "return", {}, "all", true},
        {"a.b.c=x.y=z", "a", {"b", "c"}, "x.y=z", true},
        {"a..b", "a", {"", "b"}, "", false},
        {"a.", "a", {""}, "", false},
        {"=5", "", {}, "5", true},
        {"name=", "name", {}, "", true},
        {"", "", {}, "", false},
    };
    for (const CommandCase& c : cases) {
        ParsedCommand parsed(c.text);
        EXPECT_STREQ(parsed.name, c.name) << c.text;
        EXPECT_EQ(partsOf(parsed), c.parts) << c.text;
        EXPECT_STREQ(parsed.value, c.value) << c.text;
        EXPECT_EQ(parsed.hasValue, c.hasValue) << c.text;
    }
}

TEST(ParsedCommand, NullAndEmptyShareTheStaticEmptyTextAndAllocateNothing) {
    for (const char* text : {static_cast<const char*>(nullptr), ""}) {
        AllocCounter counter;
        ParsedCommand parsed(text);
        EXPECT_EQ(counter.count(), 0u);
        EXPECT_EQ(parsed.buffer, nullptr);
        EXPECT_EQ(parsed.name, vorn_empty_text);
        EXPECT_EQ(parsed.value, vorn_empty_text);
        EXPECT_EQ(parsed.partCount, 0);
        for (const char* part : parsed.parts)
            EXPECT_EQ(part, vorn_empty_text);
    }
    AllocCounter counter;
    ParsedCommand parsed("a.b=c");
    EXPECT_EQ(counter.count(), 1u);
    EXPECT_EQ(parsed.parts[1], vorn_empty_text);
}

TEST(ParsedCommand, AnEqualsSignAfter32DotsIsNotRecognised) {
    const std::string text32 = dots(32);
    ParsedCommand with32(text32.c_str());
    EXPECT_EQ(with32.partCount, 32);
    EXPECT_STREQ(with32.parts[31], "x=1");
    EXPECT_STREQ(with32.value, "");
    EXPECT_FALSE(with32.hasValue);

    const std::string text31 = dots(31);
    ParsedCommand with31(text31.c_str());
    EXPECT_EQ(with31.partCount, 31);
    EXPECT_STREQ(with31.value, "1");
    EXPECT_TRUE(with31.hasValue);

    const std::string many(200, '.');
    ParsedCommand dotsOnly(many.c_str());
    EXPECT_EQ(dotsOnly.partCount, 32);
    EXPECT_EQ(std::string(dotsOnly.parts[31]), std::string(200 - 32, '.'));
}

TEST(ParsedCommand, LeavesTheCallersTextUnchanged) {
    const char original[] = "a.b=c";
    char text[sizeof original];
    std::copy(original, original + sizeof original, text);
    ParsedCommand parsed(text);
    EXPECT_STREQ(text, original);
}

TEST(DecodeVornString, TokenTable) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"12 3", {"12", "3"}},
        {"12   3 ", {"12", "3"}},
        {" 12 3", {"", "12", "3"}},
        {"'ab cd' ef", {"", "ab cd", "ef"}},
        {"x 'ab cd'", {"x", "ab cd"}},
        {"a '' b", {"a", "", "b"}},
        {"ab'cd'", {"ab", "cd"}},
        {"x 'ab", {"x", "ab"}},
        {"x 'a b  c", {"x", "a b  c"}},
        {"   ", {""}},
        {"'12' '3'", {"", "12", "3"}},
        {"a\tb,c\\d", {"a\tb,c\\d"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        decodeVORNString decoded(c.first, '\'');
        EXPECT_EQ(tokensOf(decoded), c.second) << '[' << c.first << ']';
        EXPECT_EQ(decoded.quote, '\'');
        for (int i = decoded.count; i < decodeVORNString::maxTokens; ++i)
            EXPECT_EQ(decoded.tokens[i], vorn_empty_text);
    }
}

TEST(DecodeVornString, KeepsAtMost32Tokens) {
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += std::to_string(i) + " ";
    decodeVORNString decoded(text.c_str(), '\'');
    EXPECT_EQ(decoded.count, 32);
    EXPECT_STREQ(decoded.tokens[30], "30");
    EXPECT_STREQ(decoded.tokens[31], "31");

    std::string quotes;
    for (int i = 0; i < 40; ++i)
        quotes += "'' ";
    decodeVORNString empties(quotes.c_str(), '\'');
    EXPECT_EQ(empties.count, 32);
}

TEST(DecodeVornString, OneAllocationForTextNoneForNullOrEmpty) {
    {
        AllocCounter counter;
        decodeVORNString none(nullptr, '\'');
        decodeVORNString empty("", '\'');
        EXPECT_EQ(counter.count(), 0u);
        EXPECT_EQ(none.count, 0);
        EXPECT_EQ(none.buffer, nullptr);
        EXPECT_EQ(empty.buffer, nullptr);
    }
    AllocCounter counter;
    decodeVORNString decoded("12 3 'x y'", '\'');
    EXPECT_EQ(counter.count(), 1u);
}

// A setting of kind number takes an optional sign and decimal digits within 32 bits, and
// nothing else; a refused value leaves the number as it was.
TEST(ReadNumber, SignAndDigitsWithin32Bits) {
    const struct {
        const char* text;
        bool taken;
        std::int32_t number;
    } cases[] = {
        {"12", true, 12},
        {"+12", true, 12},
        {"-12", true, -12},
        {"0", true, 0},
        {"-0", true, 0},
        {"007", true, 7},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"+", false, 0},
        {"1x", false, 0},
        {"x1", false, 0},
        {" 1", false, 0},
        {"1 ", false, 0},
        {"--1", false, 0},
        {"1.5", false, 0},
        {"/", false, 0},
        {":", false, 0},
    };
    for (const auto& c : cases) {
        std::int32_t number = 55;
        EXPECT_EQ(vorn_read_number(vorn_string(c.text), &number), c.taken) << c.text;
        EXPECT_EQ(number, c.taken ? c.number : 55) << c.text;
    }
}
