#include "alloc_counter.h"
#include "vorn_string.h"
#include "vorn_stringlist.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

TEST(VornString, ConstructionAndConcatenation) {
    EXPECT_STREQ(vorn_string(), "");
    EXPECT_STREQ(vorn_string(nullptr), "");
    EXPECT_STREQ(vorn_string(1, 0, 0, 10), "1");
    EXPECT_STREQ(vorn_string(-2147483647 - 1, 0, 0, 10), "-2147483648");
    EXPECT_STREQ(vorn_string(255, 0, 0, 16), "ff");
    EXPECT_STREQ(vorn_string(7, '0', 3, 10), "007");
    vorn_string a("ab");
    EXPECT_STREQ(a + "cd", "abcd");
    EXPECT_STREQ("x" + a, "xab");
    EXPECT_STREQ(a + a, "abab");
    a += vorn_string("!");
    EXPECT_STREQ(a, "ab!");
    EXPECT_EQ(a.length(), 3u);
    a = "z";
    EXPECT_STREQ(a, "z");
}

TEST(VornString, EqualityIsExactAndNumbersCompareByTheirDecimalText) {
    vorn_string s("True");
    EXPECT_TRUE(s == "True");
    EXPECT_FALSE(s == "true");
    EXPECT_TRUE(s != "true");
    EXPECT_TRUE(vorn_string("") == nullptr);
    EXPECT_TRUE(vorn_string("a") != vorn_string("b"));
    EXPECT_TRUE(vorn_string("1") == 1);
    EXPECT_TRUE(vorn_string("-12") == -12);
    for (const char* other : {"01", " 1", "+1", "1.0", "", "2", "1x"})
        EXPECT_FALSE(vorn_string(other) == 1) << other;
    EXPECT_TRUE(vorn_string("-2147483648") == INT_MIN);
    // Each != is the opposite of its ==.
    EXPECT_FALSE(s != "True");
    EXPECT_FALSE(vorn_string("a") != vorn_string("a"));
    EXPECT_TRUE(vorn_string("1") != 2);
    EXPECT_FALSE(vorn_string("1") != 1);
    EXPECT_EQ(vorn_string(static_cast<const char*>(nullptr)).length(), 0u);
}

TEST(VornString, LowerLeavesTheOriginal) {
    vorn_string s("TrUe 1-X");
    EXPECT_STREQ(s.lower(), "true 1-x");
    EXPECT_STREQ(s, "TrUe 1-X");
}

TEST(VornString, ArgFillsTheLowestMarker) {
    EXPECT_STREQ(vorn_string("%1=%2").arg("useButton").arg("true"), "useButton=true");
    EXPECT_STREQ(vorn_string("%2 then %1").arg("a"), "%2 then a");
    EXPECT_STREQ(vorn_string("GPIvalue=%1").arg(0, 0, 0, 10), "GPIvalue=0");
    EXPECT_STREQ(vorn_string("%1%1").arg(vorn_string("x")), "xx");
    EXPECT_STREQ(vorn_string("%10 %2").arg("a"), "%10 a");
    EXPECT_STREQ(vorn_string("%11 %10.%10").arg("a"), "%11 a.a");
    EXPECT_STREQ(vorn_string("%19 %9").arg("a"), "%19 a");
    const vorn_string none = vorn_string("a%1b").arg(static_cast<const char*>(nullptr));
    EXPECT_EQ(std::string(none, none.length()), "ab");
    EXPECT_STREQ(vorn_string("no marker").arg("a"), "no marker");
    EXPECT_STREQ(vorn_string("100%").arg("a"), "100%");
    EXPECT_STREQ(vorn_string("SD '%1'").arg(""), "SD ''");
    vorn_string t("%1");
    EXPECT_STREQ(t.arg("v"), "v");
    EXPECT_STREQ(t, "%1");
}

TEST(VornStringList, JoinsInOrderWithoutTrailingSeparator) {
    vorn_stringlist list;
    EXPECT_STREQ(list.toString('\n'), "");
    list << vorn_string("a");
    EXPECT_STREQ(list.toString('\n'), "a");
    list << vorn_string("") << vorn_string("c");
    EXPECT_STREQ(list.toString('\n'), "a\n\nc");
}

TEST(VornString, TextsOnBothSidesOfTheShortBufferKeepTheirContents) {
    const std::size_t edge = vorn_string::shortCapacity;
    for (std::size_t size : {edge - 1, edge, edge + 1, 3 * edge}) {
        const std::string text(size, 'a');
        vorn_string s(text.c_str());
        vorn_string copy(s), moved(static_cast<vorn_string&&>(copy));
        EXPECT_EQ(std::string(moved), text) << size;
        EXPECT_STREQ(copy, "") << size; // a moved-from text is empty
        s += s;                         // from itself
        EXPECT_EQ(std::string(s), text + text) << size;
        s = static_cast<const char*>(s) + 1; // from inside itself
        EXPECT_EQ(std::string(s), (text + text).substr(1)) << size;
        s = static_cast<const char*>(s); // from its own start
        EXPECT_EQ(std::string(s), (text + text).substr(1)) << size;
        copy = moved;
        copy = static_cast<vorn_string&&>(moved);
        EXPECT_EQ(std::string(copy), text) << size;
        EXPECT_EQ(std::string(vorn_string("x") + copy + "y"), "x" + text + "y") << size;
    }
}

TEST(VornString, ArgWithManyMarkersAndLongValues) {
    std::string many, expected;
    for (int i = 0; i < 20; ++i) {
        many += "<%1>";
        expected += "<" + std::string(200, 'v') + ">";
    }
    EXPECT_EQ(std::string(vorn_string(many.c_str()).arg(std::string(200, 'v').c_str())), expected);
    EXPECT_STREQ(vorn_string("%3 %2 %2 %3").arg(7, '0', 3, 10), "%3 007 007 %3");
    EXPECT_STREQ(vorn_string("%1").arg(-5, 0, 60, 10), (std::string(58, ' ') + "-5").c_str());
}

// Numbers in every base the formatting takes (2 to 36; others are read as 10), with their sign,
// fill and width, as texts and as what arg puts in place of a marker.
TEST(VornString, NumbersInOtherBasesWithFillAndWidth) {
    const struct {
        int number;
        char fill;
        int width, base;
        const char* text;
    } cases[] = {
        {255, 0, 0, 16, "ff"},   {255, '0', 4, 16, "00ff"},
        {-255, 0, 0, 16, "-ff"}, {5, 0, 0, 2, "101"},
        {1, 0, 0, 2, "1"},       {2, 0, 0, 2, "10"},
        {3, 0, 0, 3, "10"},      {9, 0, 0, 9, "10"},
        {8, 0, 0, 8, "10"},      {7, 0, 0, 8, "7"},
        {35, 0, 0, 36, "z"},     {35, 0, 0, 37, "35"},
        {12, 0, 0, 1, "12"},     {0, 0, 0, 0, "0"},
        {5, 0, 0, 37, "5"},      {5, 'x', 3, 10, "xx5"},
        {5, 0, 2, 10, " 5"},     {-5, '0', 1, 10, "-5"},
        {10, 0, 0, 10, "10"},    {-1, 0, 0, 10, "-1"},
        {9, 0, 0, 10, "9"},      {-2147483647 - 1, 0, 0, 2, "-10000000000000000000000000000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " base " + std::to_string(c.base));
        EXPECT_STREQ(vorn_string(c.number, c.fill, c.width, c.base), c.text);
        EXPECT_STREQ(vorn_string("<%1>").arg(c.number, c.fill, c.width, c.base),
                     ("<" + std::string(c.text) + ">").c_str());
    }
    // Without fill, width and base: decimal, as wide as it is.
    EXPECT_STREQ(vorn_string(-1234), "-1234");
    EXPECT_STREQ(vorn_string("<%1>").arg(1234), "<1234>");
    // Widths on both sides of what arg formats in place.
    for (int width : {38, 39, 40, 41, 60}) {
        const std::string padded = std::string(static_cast<std::size_t>(width) - 2, '.') + "ff";
        EXPECT_EQ(std::string(vorn_string("%1").arg(255, '.', width, 16)), padded);
        EXPECT_EQ(std::string(vorn_string(255, '.', width, 16)), padded);
    }
}

// The lowest marker is put wherever it stands, however many times: on both sides of the count
// one scan keeps, and after more than that many of a higher marker.
TEST(VornString, ArgWithManyEqualMarkers) {
    for (int count : {7, 8, 9, 17}) {
        std::string text, expected;
        for (int i = 0; i < count; ++i) {
            text += "%2[%1]";
            expected += "%2[v]";
        }
        EXPECT_EQ(std::string(vorn_string(text.c_str()).arg("v")), expected) << count;
    }
    std::string text = "%1";
    for (int i = 0; i < 9; ++i)
        text += "%2%3";
    text += "%1";
    std::string expected = "a";
    for (int i = 0; i < 9; ++i)
        expected += "%2%3";
    EXPECT_EQ(std::string(vorn_string(text.c_str()).arg("a")), expected + "a");
    text = "";
    for (int i = 0; i < 9; ++i)
        text += "%3";
    EXPECT_EQ(std::string(vorn_string((text + "%2%12").c_str()).arg("b")), text + "b%12");
}

// Every run length through each way of copying: exactly the run is copied, nothing beside it.
TEST(VornString, CopyCharsCopiesExactlyTheRun) {
    char from[80], to[80];
    for (std::size_t i = 0; i < sizeof from; ++i)
        from[i] = static_cast<char>('!' + i);
    for (std::size_t n = 0; n <= 70; ++n) {
        std::memset(to, '#', sizeof to);
        vorn_copy_chars(to + 4, from + 3, n);
        EXPECT_EQ(std::string(to, 4), "####") << n;
        EXPECT_EQ(std::string(to + 4, n), std::string(from + 3, n)) << n;
        EXPECT_EQ(std::string(to + 4 + n, sizeof to - 4 - n), std::string(sizeof to - 4 - n, '#'))
            << n;
    }
}

TEST(VornString, TheFramesTypicalTextsStayOffTheHeap) {
    AllocCounter counter;
    vorn_string entry = vorn_string("instances.%1").arg(vorn_string("Studio_A"));
    vorn_string line = vorn_string("Instance change code called - Instance=%1\n").arg(entry);
    vorn_string pair = vorn_string("%1=%2").arg("useButton").arg("TRUE").lower();
    vorn_string number(1, 0, 0, 10);
    vorn_stringlist list;
    list << line << pair << number << entry;
    vorn_string all = list.toString('\n');
    EXPECT_EQ(counter.count(), 0u);
    EXPECT_EQ(all.length(), line.length() + pair.length() + 1 + entry.length() + 3);
}

TEST(VornStringList, GrowsPastItsBufferInOrder) {
    vorn_stringlist list;
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        const std::string item = std::to_string(i) + std::string(static_cast<std::size_t>(i), '.');
        list << vorn_string(item.c_str());
        expected += (i ? "," : "") + item;
    }
    EXPECT_EQ(list.count(), 40u);
    EXPECT_EQ(std::string(list.toString(',')), expected);
}

// 256 bytes inside the list hold its items, each after its length; past them, one block that
// doubles.
TEST(VornStringList, ItsOwnBufferFirstThenOneBlockThatDoubles) {
    const vorn_string fills(std::string(256 - sizeof(std::size_t), 'f').c_str());
    const vorn_string one("1"), more(std::string(600, 'm').c_str());
    {
        const vorn_string overfills(std::string(257 - sizeof(std::size_t), 'o').c_str());
        vorn_stringlist over;
        AllocCounter counter;
        over << overfills;
        EXPECT_EQ(counter.count(), 1u); // one byte past its own buffer
    }
    vorn_stringlist list;
    AllocCounter counter;
    list << fills;
    EXPECT_EQ(counter.count(), 0u);
    list << one;
    EXPECT_EQ(counter.count(), 1u); // 512 bytes
    list << more;
    EXPECT_EQ(counter.count(), 2u); // 1024 bytes
    EXPECT_EQ(list.count(), 3u);
    EXPECT_EQ(list.toString('|').length(), fills.length() + 1 + 1 + 1 + more.length());
}
