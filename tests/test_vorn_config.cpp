#include "vorn_config.h"
#include "vorn_ini.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

class ConfigFile : public ::testing::Test {
protected:
    void write(const std::string& text) {
        std::ofstream(path_) << text;
        setenv("VORN_CONFIG", path_.c_str(), 1);
    }
    void TearDown() override {
        std::remove(path_.c_str());
        unsetenv("VORN_CONFIG");
    }
    std::string path_ =
        ::testing::TempDir() + "vorn_config_test." + std::to_string(getpid()) + ".ini";
};

} // namespace

TEST_F(ConfigFile, ReadsAttributesOfTheNamedEntry) {
    write("# studio\n[instances.A]\nidtext = Studio A \ndevice=12\n\n[instances.B]\n"
          "idtext=\"  padded  \"\n; other\nidtext = = odd\n[instances.A]\nextra = 1\n");
    EXPECT_STREQ(vorn_config("instances.A").attr("idtext"), "Studio A");
    EXPECT_STREQ(vorn_config("instances.A").attr("extra"), "1");
    EXPECT_STREQ(vorn_config("instances.B").attr("idtext"), "= odd");
    EXPECT_STREQ(vorn_config("instances.a").attr("idtext"), "");
    EXPECT_STREQ(vorn_config("instances.C").attr("idtext"), "");
    EXPECT_STREQ(vorn_config("instances.A").attr("missing"), "");
}

TEST_F(ConfigFile, AbsentOrUnreadableConfigurationGivesEmptyTexts) {
    unsetenv("VORN_CONFIG");
    EXPECT_STREQ(vorn_config("instances.A").attr("idtext"), "");
    setenv("VORN_CONFIG", "", 1);
    EXPECT_STREQ(vorn_config("instances.A").attr("idtext"), "");
    setenv("VORN_CONFIG", "/nonexistent/dir/file.ini", 1);
    EXPECT_STREQ(vorn_config("instances.A").attr("idtext"), "");
    setenv("VORN_CONFIG", ::testing::TempDir().c_str(), 1); // a folder, not a file
    EXPECT_STREQ(vorn_config("instances.A").attr("idtext"), "");
}

TEST_F(ConfigFile, AnEditedFileIsSeenByTheNextEntry) {
    write("[instances.A]\nidtext = one\n");
    vorn_config before("instances.A");
    EXPECT_STREQ(before.attr("idtext"), "one");
    // Same size, written again: the modification time tells.
    write("[instances.A]\nidtext = two\n");
    EXPECT_STREQ(vorn_config("instances.A").attr("idtext"), "two");
    EXPECT_STREQ(before.attr("idtext"), "one"); // an open entry keeps what it read
    write("[instances.A]\nidtext = three, longer\n");
    EXPECT_STREQ(vorn_config("instances.A").attr("idtext"), "three, longer");
    std::remove(path_.c_str());
    EXPECT_STREQ(vorn_config("instances.A").attr("idtext"), "");
}

TEST(VornIni, ReportsMalformedLinesWithTheirNumbers) {
    vorn_ini ini;
    ini.parse("orphan = 1\n[ok]\nx=\"\"\nno equals sign\n[broken\n= nameless\n");
    ASSERT_EQ(ini.problems().size(), 4u);
    EXPECT_EQ(ini.problems()[0].line, 1);
    EXPECT_EQ(ini.problems()[1].line, 4);
    EXPECT_EQ(ini.problems()[2].line, 5);
    EXPECT_EQ(ini.problems()[3].line, 6);
    EXPECT_EQ(ini.value("ok", "x"), "");
    EXPECT_EQ(ini.lineOf("ok"), 2);
}
