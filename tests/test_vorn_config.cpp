#include "alloc_counter.h"
#include "plugin.h"
#include "vorn_config.h"
#include "vorn_file.h"
#include "vorn_ini.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// This program's reads go through here (it is linked with --wrap=read): a test counts them, or
// acts as an editor that saves the file while the configuration reads it.
namespace {
std::function<void()> duringRead;
int reads = 0;
} // namespace
extern "C" ssize_t __real_read(int fd, void* buffer, size_t size);
extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t size) {
    ++reads;
    const ssize_t n = __real_read(fd, buffer, size);
    if (duringRead) duringRead();
    return n;
}

namespace {

class ConfigFile : public ::testing::Test {
protected:
    void write(const std::string& text) {
        std::ofstream(path_) << text;
        setenv("VORN_CONFIG", path_.c_str(), 1);
    }
    void SetUp() override { DebugTap::instance().take(); }
    void TearDown() override {
        duringRead = nullptr;
        std::remove(path_.c_str());
        unsetenv("VORN_CONFIG");
    }
    // Rewrites the file in place, as an editor saves it.
    void save(const std::string& text) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ::close(fd);
    }
    // Moves the file's time stamp on by whole seconds, as a save a tick later does.
    void touchLater(int seconds) {
        struct stat st;
        ASSERT_EQ(::stat(path_.c_str(), &st), 0);
        const timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec + seconds, st.st_mtim.tv_nsec}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
    }
    std::string label(const char* entry = "instances.A") {
        return static_cast<const char*>(vorn_config(entry).attr("idtext"));
    }
    std::vector<std::string> debugTexts() { return DebugTap::instance().take(); }
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

// A file that has rested since it was saved is read once: later labels only look at its
// version. One saved a moment ago is read at every label, as an edit within the same tick
// would not show in its version.
TEST_F(ConfigFile, AFileAtRestIsReadOnce) {
    write("[instances.A]\nidtext = Studio A\n");
    EXPECT_EQ(label(), "Studio A");
    reads = 0;
    EXPECT_EQ(label(), "Studio A");
    EXPECT_GT(reads, 0);
    touchLater(-10);
    EXPECT_EQ(label(), "Studio A");
    reads = 0;
    EXPECT_EQ(label(), "Studio A");
    EXPECT_EQ(label(), "Studio A");
    EXPECT_EQ(reads, 0);
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

// The file reader's answers, each from what it met: read, too large, missing (gone since its
// version was taken, or no regular file).
TEST_F(ConfigFile, AWholeFileReadSaysWhatItMet) {
    vorn_file_version version;
    std::string text = "left over";
    EXPECT_FALSE(vorn_file_stat(nullptr, version));
    EXPECT_FALSE(vorn_file_stat(path_.c_str(), version)); // not written yet
    write("[a]\nb = c\n");
    ASSERT_TRUE(vorn_file_stat(path_.c_str(), version));
    EXPECT_TRUE(version.regular);
    EXPECT_EQ(version.size, 10u);
    EXPECT_EQ(vorn_file_read_whole(path_.c_str(), 10, version, text), vorn_file_read::Read);
    EXPECT_EQ(text, "[a]\nb = c\n");
    EXPECT_EQ(vorn_file_read_whole(path_.c_str(), 9, version, text), vorn_file_read::TooLarge);
    EXPECT_EQ(text, "");
    write("\n"); // one byte: the first read gets all of it
    ASSERT_TRUE(vorn_file_stat(path_.c_str(), version));
    EXPECT_EQ(vorn_file_read_whole(path_.c_str(), 10, version, text), vorn_file_read::Read);
    EXPECT_EQ(text, "\n");
    // Gone after its version was taken: missing, however the first attempt went.
    ASSERT_TRUE(vorn_file_stat(path_.c_str(), version));
    std::remove(path_.c_str());
    text = "left over";
    EXPECT_EQ(vorn_file_read_whole(path_.c_str(), 100, version, text), vorn_file_read::Missing);
    EXPECT_EQ(text, "");
    // A folder is no regular file.
    ASSERT_TRUE(vorn_file_stat(::testing::TempDir().c_str(), version));
    EXPECT_FALSE(version.regular);
    EXPECT_EQ(vorn_file_read_whole(::testing::TempDir().c_str(), 100, version, text),
              vorn_file_read::Missing);
}

TEST(VornIni, AByteOrderMarkAloneOnTheFirstLineLeavesItBlank) {
    vorn_ini ini;
    ini.parse("\xEF\xBB\xBF\n[a]\nb = 1\n");
    EXPECT_TRUE(ini.problems().empty());
    EXPECT_EQ(ini.value("a", "b"), "1");
}

TEST(VornIni, ReportsMalformedLinesWithTheirNumbers) {
    vorn_ini ini;
    ini.parse("orphan = 1\n[ok]\nx=\"\"\nno equals sign\n[broken\n= nameless\n[]\n[a]\ny=1\n"
              "[ spaced ]\nz=2\nquote = \"\nquoted = \"\"\"\n");
    ASSERT_EQ(ini.problems().size(), 5u);
    EXPECT_EQ(ini.problems()[0].line, 1);
    EXPECT_EQ(ini.problems()[1].line, 4);
    EXPECT_EQ(ini.problems()[2].line, 5);
    EXPECT_EQ(ini.problems()[3].line, 6);
    EXPECT_EQ(ini.problems()[4].line, 7);
    EXPECT_EQ(ini.value("ok", "x"), "");
    EXPECT_EQ(ini.lineOf("ok"), 2);
    EXPECT_EQ(ini.value("a", "y"), "1");           // the shortest name a section has
    EXPECT_EQ(ini.value("spaced", "z"), "2");      // blanks inside the brackets are not the name's
    EXPECT_EQ(ini.value("spaced", "quote"), "\""); // one quotation mark quotes nothing
    EXPECT_EQ(ini.value("spaced", "quoted"), "\"");
}

TEST_F(ConfigFile, AFileOverTheLimitIsNeverOpened) {
    // 50 MB that take no disk: the plug-in must not read them.
    write("[instances.A]\nidtext = Studio A\n");
    ASSERT_EQ(::truncate(path_.c_str(), 50 << 20), 0);
    reads = 0;
    {
        AllocCounter counter;
        EXPECT_EQ(label(), "");
        EXPECT_LT(counter.peakBytes(), 4096u);
    }
    EXPECT_EQ(reads, 0);
    EXPECT_EQ(debugTexts(), std::vector<std::string>{
                                path_ + ": 52428800 bytes, over the 1048576 a configuration file "
                                        "may have: not read, no label comes from it\n"});
    // Said once for this version of the file; later labels cost no memory at all.
    {
        AllocCounter counter;
        EXPECT_STREQ(vorn_config("instances.A").attr("idtext"), "");
        EXPECT_EQ(counter.peakBytes(), 0u);
    }
    EXPECT_TRUE(debugTexts().empty());
    // At the limit, it is read.
    write("[instances.A]\nidtext = Studio A\n");
    ASSERT_EQ(::truncate(path_.c_str(), vorn_config::maxFileSize), 0);
    EXPECT_EQ(label(), "Studio A");
}

TEST_F(ConfigFile, LinesWithBytesNoTextMayCarryAreNotUsed) {
    const char withNul[] = "[instances.A]\nidtext = Al\0pha\nnote = ok\n";
    const std::string text = std::string(withNul, sizeof withNul - 1) +
                             "[instances.B]\nidtext = Esc \x1b[2J\n[instances.C]\nidtext = a\rb\n" +
                             "[instances.D]\r\nidtext = R\xc3\xa9gie 2\t(tab)\r\n" +
                             "[instances.E]\nidtext = R\xe9gie 2\n";
    write(text);
    EXPECT_EQ(label("instances.A"), "");
    EXPECT_STREQ(vorn_config("instances.A").attr("note"), "ok");
    EXPECT_EQ(label("instances.B"), "");
    EXPECT_EQ(label("instances.C"), "");
    // 8-bit texts, UTF-8 or a Windows code page, and tabs are texts; CR LF ends a line.
    EXPECT_EQ(label("instances.D"), "R\xc3\xa9gie 2\t(tab)");
    EXPECT_EQ(label("instances.E"), "R\xe9gie 2");
    EXPECT_EQ(debugTexts(),
              (std::vector<std::string>{
                  path_ + ":2: a NUL byte at column 12; the line is not used\n",
                  path_ + ":5: a control character (\\x1B) at column 14; the line is not used\n",
                  path_ + ":7: a carriage return inside the line at column 11 (lines end with LF "
                          "or CR LF); the line is not used\n"}));
    EXPECT_TRUE(debugTexts().empty()); // once for this version of the file

    // UTF-16 either way round: little-endian (FF FE) and big-endian (FE FF).
    for (const std::string mark : {"\xff\xfe[\0i\0", "\xfe\xff\0[\0i"}) {
        write(std::string(mark.data(), 6));
        EXPECT_EQ(label(), "");
        EXPECT_EQ(debugTexts(), std::vector<std::string>{
                                    path_ + ":1: the file is saved as UTF-16; save it as UTF-8 "
                                            "or ANSI text\n"});
    }
}

// A host started with standard input closed: the file the configuration opens is descriptor 0.
TEST_F(ConfigFile, IsReadWhenItGetsDescriptorZero) {
    write("[instances.A]\nidtext = Studio A\n");
    const int input = ::dup(0);
    ASSERT_GE(input, 0);
    ::close(0);
    const std::string read = label();
    ASSERT_EQ(::dup2(input, 0), 0);
    ::close(input);
    EXPECT_EQ(read, "Studio A");
}

// Many entries with the same attribute names: each name is found in its own entry, whatever
// the others beside it in the index.
TEST_F(ConfigFile, EachEntryHasItsOwnAttributes) {
    std::string text;
    for (int i = 0; i < 64; ++i)
        text += "[instances.S" + std::to_string(i) + "]\nidtext = Studio " + std::to_string(i) +
                "\ndevice = " + std::to_string(i) + "\n";
    write(text);
    for (int i = 0; i < 64; ++i) {
        const std::string entry = "instances.S" + std::to_string(i);
        EXPECT_EQ(label(entry.c_str()), "Studio " + std::to_string(i));
        EXPECT_EQ(std::string(vorn_config(entry.c_str()).attr("device")), std::to_string(i));
        EXPECT_STREQ(vorn_config(entry.c_str()).attr("contact"), "");
    }
    EXPECT_EQ(label("instances.S64"), "");
}

TEST_F(ConfigFile, AReadingAllocatesAsOftenHoweverLongTheFile) {
    write("");
    label(); // what the first reading of a process sets up once
    std::size_t counts[2] = {};
    for (int entries : {1, 1000}) {
        std::string text;
        for (int i = 0; i < entries; ++i)
            text += "[instances.S" + std::to_string(i) + "]\nidtext = Studio\ndevice = 1\n";
        write(text);
        AllocCounter counter;
        EXPECT_EQ(label("instances.S0"), "Studio");
        counts[entries > 1] = counter.count();
    }
    EXPECT_EQ(counts[0], counts[1]);
}

TEST_F(ConfigFile, ManyUnusableLinesAreReportedTenThenCounted) {
    std::string text = "[instances.A]\nidtext = A\n";
    for (int i = 0; i < 25; ++i)
        text += "junk\n";
    write(text);
    EXPECT_EQ(label(), "A");
    const auto texts = debugTexts();
    ASSERT_EQ(texts.size(), 11u);
    EXPECT_EQ(texts[0], path_ + ":3: expected 'name = text'\n");
    EXPECT_EQ(texts[10], path_ + ": 15 more lines not used\n");
}

TEST_F(ConfigFile, AFileSavedWhileItIsReadIsReadAgain) {
    write("[instances.A]\nidtext = old\n");
    // Saved longer while it is read.
    duringRead = [&] {
        duringRead = nullptr;
        save("[instances.A]\nidtext = new, and longer\n");
    };
    EXPECT_EQ(label(), "new, and longer");
    // Saved at the same size a tick later.
    duringRead = [&] {
        duringRead = nullptr;
        save("[instances.A]\nidtext = NEW, and longer\n");
        touchLater(5);
    };
    EXPECT_EQ(label(), "NEW, and longer");
    EXPECT_TRUE(debugTexts().empty());

    // Saved again and again: the previous reading stands, and the file is read when it rests.
    int saves = 0;
    duringRead = [&] {
        ++saves;
        save(saves % 2 ? "[instances.A]\nidtext = x\n" : "[instances.A]\nidtext = yy\n");
    };
    EXPECT_EQ(label(), "NEW, and longer");
    EXPECT_EQ(saves, 6); // three attempts, a save after each of their two reads
    EXPECT_EQ(debugTexts(), std::vector<std::string>{path_ + ": changed while it was read; the "
                                                             "previous reading is kept\n"});
    duringRead = nullptr;
    EXPECT_EQ(label(), saves % 2 ? "x" : "yy");
}

TEST_F(ConfigFile, AReadingCostsAtMostEightTimesTheFileBeyondTheFile) {
    // The densest files the index can meet: the shortest attributes, the shortest entries.
    std::string attributes = "[e]\n", entries, mixed;
    for (int i = 0; attributes.size() < 200000; ++i)
        attributes += "a=\n";
    for (int i = 0; entries.size() < 200000; ++i)
        entries += "[" + std::to_string(i) + "]\n";
    for (int i = 0; mixed.size() < 200000; ++i)
        mixed += "[instances.S" + std::to_string(i) + "]\nidtext = Studio " + std::to_string(i) +
                 "\nx=\n";
    for (const std::string* text : {&attributes, &entries, &mixed}) {
        write(*text);
        AllocCounter counter;
        EXPECT_EQ(label("instances.S7"), text == &mixed ? "Studio 7" : "");
        EXPECT_LE(counter.peakBytes(), 9 * text->size() + 4096) << text->substr(0, 20);
    }
}
