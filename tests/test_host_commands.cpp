#include "alloc_counter.h"
#include "open_frame.h"
#include "recording_host.h"
#include "vorn_script_helper.h"

#include <climits>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>

using Frame = OpenFrame;

TEST(HostCommands, NumericCommandTexts) {
    RecordingHost host;
    Frame frame(&host, "");
    frame.timerStart(1, 10000);
    frame.timerStart(1, 0);
    frame.timerStop(7);
    frame.gpiRegister(12, 3, 3, true);
    frame.gpiRegister(12, 3, 3, false);
    frame.gpiUnregister(-1);
    frame.gpiSwitch(12, 1, 3, true);
    frame.gpiSwitch(12, 1, 3, false);
    frame.gpiSwitch(12, 0, 3, true);
    frame.gpiSwitch(12, 255, 3, true);
    frame.gpiPoll(-5, 0, 999);
    EXPECT_EQ(host.take(),
              (Log{"ET 1 10000", "ET 1", "ET 7", "GR 12 3 3 'ADD'", "GR 12 3 3", "GU -1",
                   "GS 12 3 1 1", "GS 12 3 1 0", "GS 12 3 0 1", "GS 12 3 255 1", "GP -5 0 999"}));
}

TEST(HostCommands, NumericCommandsAreSentWholeAtTheExtremesWithoutAllocating) {
    struct CountingHost : HostClient {
        VORN_HOST_DESTRUCTOR_BRIDGE(CountingHost)
    public:
        const char* send(const char*, int) override {
            ++sent;
            return nullptr;
        }
        int sent = 0;
    } counting;
    auto extremes = [](Frame& frame) {
        frame.gpiRegister(INT_MIN, INT_MIN, INT_MIN, true);
        frame.gpiSwitch(INT_MIN, 255, INT_MIN, true);
        frame.gpiPoll(INT_MIN, INT_MIN, INT_MIN);
        frame.timerStart(INT_MIN, INT_MIN);
        frame.timerStop(INT_MAX);
        frame.gpiUnregister(INT_MAX);
    };
    {
        Frame frame(&counting, "");
        AllocCounter counter;
        extremes(frame);
        EXPECT_EQ(counter.count(), 0u);
        EXPECT_EQ(counting.sent, 6);
    }
    RecordingHost host;
    Frame frame(&host, "");
    extremes(frame);
    EXPECT_EQ(host.take(),
              (Log{"GR -2147483648 -2147483648 -2147483648 'ADD'",
                   "GS -2147483648 -2147483648 255 1", "GP -2147483648 -2147483648 -2147483648",
                   "ET -2147483648 -2147483648", "ET 2147483647", "GU 2147483647"}));
}

TEST(HostCommands, TextCommandTexts) {
    RecordingHost host;
    Frame frame(&host, "");
    frame.textPut("statesheet", "", "1", "MyContact_Tile");
    frame.textPut("text", "it's", "1", "MyContact_Tile");
    frame.textPut("style=label", "1", "MyContact_Tile");
    frame.hostNotify("GPIvalue=1");
    frame.teardown();
    const std::string longValue(1000, 'v');
    frame.hostNotify(longValue.c_str());
    EXPECT_EQ(host.take(),
              (Log{"TP 'statesheet=' '1' 'MyContact_Tile'", "TP 'text=it's' '1' 'MyContact_Tile'",
                   "TP 'style=label' '1' 'MyContact_Tile'", "HN 'GPIvalue=1'", "AS",
                   "HN '" + longValue + "'"}));
}

TEST(HostCommands, PanelShowJoinsHostPathWithASlash) {
    struct Case {
        const char* path;
        const char* params;
        const char* text;
    };
    const Case cases[] = {
        {"", "", "PS '1' 'myButton.vorn_ui'"},
        {nullptr, "", "PS '1' 'myButton.vorn_ui'"},
        {"C:\\layouts", "", "PS '1' 'C:\\layouts/myButton.vorn_ui'"},
        {"panels/", "", "PS '1' 'panels//myButton.vorn_ui'"},
        {"p", "", "PS '1' 'p/myButton.vorn_ui'"},
        {"", "a=b", "PS '1' 'myButton.vorn_ui' 'a=b'"},
        {"", "x", "PS '1' 'myButton.vorn_ui' 'x'"},
    };
    for (const Case& c : cases) {
        RecordingHost host;
        Frame frame(&host, c.path);
        EXPECT_TRUE(frame.panelShow("1", "myButton.vorn_ui", c.params));
        EXPECT_EQ(host.take(), Log{c.text});
        host.answerPanelShow = false;
        EXPECT_FALSE(frame.panelShow("1", "myButton.vorn_ui", c.params));
    }
}

TEST(HostCommands, GetDeviceReadsTheFirstTwoNumbersAndHandsTheReplyBack) {
    struct Case {
        const char* reply;
        std::int32_t device, contact;
    };
    const Case cases[] = {
        {"12 3", 12, 3},
        {"12 3 x", 12, 3},
        {"12", 12, 0},
        {"'12' '3'", 0, 12},
        {" 12 3", 0, 12},
        {"", 0, 0},
        {"abc def", 0, 0},
        {"-1 5", -1, 5},
        {"+7 08x", 7, 8},
        {"99999999999 -99999999999", INT_MAX, INT_MIN},
        {"-2147483648 2147483647", INT_MIN, INT_MAX},
        {"9 19", 9, 19},
        {"\t12 \n\v\f\r3", 12, 3}, // blanks before a number are passed over
        {"\x0e"
         "4 \x08"
         "5",
         0, 0}, // the characters beside them are not blanks
    };
    for (const Case& c : cases) {
        RecordingHost host;
        host.lookups["A"] = c.reply;
        Frame frame(&host, "");
        std::int32_t device = -9, contact = -9;
        EXPECT_TRUE(frame.getDevice("A", &device, &contact)) << c.reply;
        EXPECT_EQ(device, c.device) << c.reply;
        EXPECT_EQ(contact, c.contact) << c.reply;
        EXPECT_EQ(host.take(), Log{"SD 'A'"});
        EXPECT_EQ(host.repliesOut, 1);
        EXPECT_EQ(host.repliesBack, 1);
        EXPECT_TRUE(host.monitor.breaches().empty());
    }
}

TEST(HostCommands, GetDeviceWithoutReplyPointersOrHost) {
    RecordingHost host;
    host.lookups["A"] = "12 3";
    Frame frame(&host, "");
    std::int32_t device = -9, contact = -9;
    EXPECT_FALSE(frame.getDevice("it's", &device, &contact));
    EXPECT_EQ(device, 0);
    EXPECT_EQ(contact, 0);
    EXPECT_TRUE(frame.getDevice("A", nullptr, nullptr));
    EXPECT_EQ(host.take(), (Log{"SD 'it's'", "SD 'A'"}));
    EXPECT_EQ(host.repliesBack, 1);

    Frame alone(nullptr, "p");
    device = contact = -9;
    EXPECT_FALSE(alone.getDevice("A", &device, &contact));
    EXPECT_EQ(device, 0);
    EXPECT_EQ(contact, 0);
    EXPECT_TRUE(alone.panelShow("1", "f", ""));
}

TEST(HostCommands, ANullHostSendsNothingAtAll) {
    RecordingHost witness; // only to show that nothing is recorded anywhere
    {
        Frame alone(nullptr, "p");
        alone.timerStart(1, 1);
        alone.textPut("a", "b", "c", "d");
        alone.textPut("a", "b", "c");
        alone.hostNotify("x");
        alone.gpiSwitch(1, 1, 1, true);
        alone.teardown();
    }
    EXPECT_TRUE(witness.take().empty());
}

TEST(HostCommands, DebugWritesTheTextAsItStands) {
    RecordingHost host;
    Frame::debug("one\n");
    Frame::debug("two");
    EXPECT_EQ(host.take(), (Log{"debug: one\n", "debug: two"}));
}

// A text is exactly its pieces, whether it is built inside the object or on the heap, from
// pieces written in place or from a table: its size, its C text and its vorn_string agree.
TEST(CommandText, SizeTextAndStringAgreeInlineAndOnTheHeap) {
    const std::string longPiece(300, 'x');
    const vorn_string fromString("cd");
    const vorn_command_text shortText("ab", fromString, nullptr, "e");
    const vorn_command_text longText("<", longPiece.c_str(), ">");
    const vorn_command_text::Piece pieces[] = {"ab", fromString, {"efg", 2}, longPiece.c_str()};
    const vorn_command_text fromTable(vorn_command_text::Table{pieces, 4});
    const vorn_command_text empty(vorn_command_text::Table{pieces, 0});
    const struct {
        const vorn_command_text& text;
        std::string expected;
    } cases[] = {{shortText, "abcde"},
                 {longText, "<" + longPiece + ">"},
                 {fromTable, "abcdef" + longPiece},
                 {empty, ""}};
    // Up to 191 characters inside the object; longer in one heap block.
    for (std::size_t size : {191u, 192u}) {
        const std::string text(size, 't');
        AllocCounter counter;
        const vorn_command_text made(text.c_str());
        EXPECT_EQ(counter.count(), size < 192 ? 0u : 1u) << size;
        EXPECT_EQ(std::string(made.c_str()), text);
    }
    for (const auto& c : cases) {
        EXPECT_EQ(c.text.size(), c.expected.size());
        EXPECT_EQ(std::string(c.text.c_str()), c.expected);
        const vorn_string copy = c.text.str();
        EXPECT_EQ(copy.length(), c.expected.size());
        EXPECT_EQ(std::string(copy), c.expected);
    }
}
