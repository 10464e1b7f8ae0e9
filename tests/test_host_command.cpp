#include "host_command.h"

#include <gtest/gtest.h>

TEST(HostCommandParser, ReadsEveryCommandForm) {
    HostCommand c;
    std::string why;
    ASSERT_TRUE(parseHostCommand("GR 12 3 3 'ADD'", c, why)) << why;
    EXPECT_EQ(c.word, "GR");
    EXPECT_EQ(c.numbers, (std::vector<std::int32_t>{12, 3, 3}));
    EXPECT_TRUE(c.add);
    ASSERT_TRUE(parseHostCommand("GS -2147483648 3 1 1", c, why)) << why;
    EXPECT_EQ(c.numbers.front(), INT32_MIN);
    ASSERT_TRUE(parseHostCommand("ET 1", c, why));
    ASSERT_TRUE(parseHostCommand("ET 1 10000", c, why));
    ASSERT_TRUE(parseHostCommand("AS", c, why));
    ASSERT_TRUE(parseHostCommand("TP 'text=it's' '1' 'MyContact_Tile'", c, why)) << why;
    EXPECT_EQ(c.texts, (std::vector<std::string>{"text=it's", "1", "MyContact_Tile"}));
    // A text holds any byte but NUL, as it came: a line feed, an accented letter.
    ASSERT_TRUE(parseHostCommand("TP 'text=a\nR\xe9gie \xc3\xa9' '1' 'c'", c, why)) << why;
    EXPECT_EQ(c.texts.front(), "text=a\nR\xe9gie \xc3\xa9");
    ASSERT_TRUE(parseHostCommand("TP 'a' 'b' 'c' 'd'", c, why));
    EXPECT_EQ(c.texts, (std::vector<std::string>{"a' 'b", "c", "d"}));
    ASSERT_TRUE(parseHostCommand("PS '1' 'C:\\x/f.vorn_ui'", c, why));
    EXPECT_EQ(c.texts, (std::vector<std::string>{"1", "C:\\x/f.vorn_ui"}));
    ASSERT_TRUE(parseHostCommand("PS '1' 'f' 'a=b'", c, why));
    EXPECT_EQ(c.texts.back(), "a=b");
    ASSERT_TRUE(parseHostCommand("SD ''", c, why));
    EXPECT_EQ(c.texts, (std::vector<std::string>{""}));
    ASSERT_TRUE(parseHostCommand("HN 'GPIvalue=1'", c, why));
    EXPECT_EQ(c.texts.front(), "GPIvalue=1");
}

TEST(HostCommandParser, RejectsMalformedCommands) {
    HostCommand c;
    std::string why;
    for (const char* bad : {"",           "G",         "gr 1 2 3", "XX 1",          "GR 1 2",
                            "GR 1 2 3 4", "GR 1  2 3", "GU 1 ",    "GU 2147483648", "GU 1x",
                            "ET",         "ET 1 2 3",  "AS 1",     "HN GPIvalue=1", "SD 'x",
                            "TP 'a' 'b'", "PS '1'",    "GS 1 2 3", "GR 1 2 3 ADD",  "GU -",
                            "ASX",        "GU  1",     "ET  1 2",  "GP 1 2\t3",     "GU\t1",
                            "GU 1\n"}) {
        EXPECT_FALSE(parseHostCommand(bad, c, why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}
