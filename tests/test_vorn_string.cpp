#include "vorn_string.h"
#include "vorn_stringlist.h"

#include <climits>
#include <gtest/gtest.h>

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
