#include "Contact_Tile.h"
#include "alloc_counter.h"
#include "recording_host.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

const vorn_load_function makeTile = &vorn_create_component<Contact_Tile>;

const std::string kLook = "' '1' 'MyContact_Tile'";
std::string tp(const std::string& setting) {
    return "TP '" + setting + kLook;
}

class Tile : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(configPath_) << "[instances.A]\nidtext = Studio A\n"
                                      "[instances.B]\nidtext = Studio B\n";
        setenv("VORN_CONFIG", configPath_.c_str(), 1);
        host.lookups = {{"A", "12 3"},       {"B", "20 7"},          {"Max", "999 999"},
                        {"Neg", "-1 5"},     {"Zero", "0 3"},        {"Big", "1000 3"},
                        {"BigC", "12 1000"}, {"Quoted", "'12' '3'"}, {"", "30 1"}};
    }
    void TearDown() override {
        tile.reset();
        EXPECT_EQ(host.repliesOut, host.repliesBack);
        EXPECT_TRUE(host.monitor.breaches().empty());
        unsetenv("VORN_CONFIG");
        std::remove(configPath_.c_str());
    }
    Component& create(const char* path = "") {
        tile = std::make_unique<Component>(makeTile, &host, path);
        host.take();
        return *tile;
    }
    // A tile bound to A (12, 3) with looks green/red, the contact reported in the given state.
    Component& bound(int state = 0) {
        create();
        tile->parentCommand("onState=green");
        tile->parentCommand("offState=red");
        tile->parentCommand("instance=A");
        if (state >= 0) tile->report(12, 3, state);
        host.take();
        return *tile;
    }

    RecordingHost host;
    std::unique_ptr<Component> tile;
    std::string configPath_ =
        ::testing::TempDir() + "contact_tile_test." + std::to_string(getpid()) + ".ini";
};

const std::string kBindA = "debug: Instance change code called - Instance=A\n";

} // namespace

TEST_F(Tile, WholeLifeUnboundWithAndWithoutPath) {
    {
        Component t(makeTile, &host, "panels");
        t.destroy();
    }
    EXPECT_EQ(host.take(), (Log{"ET 1 10000", "PS '1' 'panels/myButton.vorn_ui'", "ET 1", "AS"}));
    { Component t(makeTile, &host, ""); }
    EXPECT_EQ(host.take(), (Log{"ET 1 10000", "PS '1' 'myButton.vorn_ui'", "ET 1", "AS"}));
    {
        Component t(makeTile, &host, nullptr);
        t.press("1", "MyContact_Tile");
        t.tick(1);
    }
    EXPECT_EQ(host.take(), (Log{"ET 1 10000", "PS '1' 'myButton.vorn_ui'", "ET 1", "AS"}));
}

TEST_F(Tile, CreationWithoutMemoryReturnsNullAndSendsNothing) {
    // Long enough that the copy of the path and the panel's command need the heap.
    const std::string longPath = "/panels/of/the/studio/floor" + std::string(200, 'x');
    std::size_t allocations = 0;
    {
        AllocCounter counter; // creation alone (no host, which allocates on its own)
        vorn_abi_delete(makeTile(nullptr, longPath.c_str()));
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 3u); // the object, its copy of the path, the panel's command
    for (std::size_t failing = 0; failing < allocations; ++failing) { // each of them in turn
        vorn_client_callback* tile = nullptr;
        {
            AllocCounter counter;
            counter.failFrom(failing);
            tile = makeTile(&host, longPath.c_str());
        }
        EXPECT_EQ(tile, nullptr) << "allocation " << failing;
        EXPECT_TRUE(host.take().empty()) << "allocation " << failing;
    }
}

TEST_F(Tile, WholeLifeBound) {
    Component& t = create("panels");
    t.parentCommand("instance=A");
    EXPECT_EQ(host.take(), (Log{kBindA, "SD 'A'", "GR 12 3 3", "GP 12 3 3", tp("text=Studio A")}));
    t.report(12, 3, 1);
    t.tick(1);
    t.destroy();
    EXPECT_EQ(host.take(),
              (Log{tp("statesheet="), "HN 'GPIvalue=1'", "GP 12 3 3", "GU 12", "ET 1", "AS"}));
}

TEST_F(Tile, ANullHostLivesAWholeLifeSilently) {
    Component t(makeTile, nullptr, "p");
    t.parentCommand("instance=A");
    t.parentCommand("useText=true");
    EXPECT_EQ(t.ask("return=useText"), "useText=true");
    t.report(0, 0, 1);
    t.press("1", "MyContact_Tile");
    t.tick(1);
    t.tick(2);
    t.destroy();
    // Only the binding's debug texts, nothing sent.
    EXPECT_EQ(host.take(), (Log{"debug: Instance change code called - Instance=A\n",
                                "debug: No valid device or contact\n"}));
}

TEST_F(Tile, RebindingReleasesTheOldContactAndKeepsTheState) {
    Component& t = bound(1);
    t.parentCommand("instance=A");
    EXPECT_TRUE(host.take().empty());
    EXPECT_EQ(t.ask("instance=A"), "<null>");
    t.parentCommand("instance=B");
    EXPECT_EQ(host.take(), (Log{"debug: Instance change code called - Instance=B\n", "GU 12",
                                "SD 'B'", "GR 20 7 7", "GP 20 7 7", tp("text=Studio B")}));
    // gpiState 1 is kept: the new contact's first "on" report changes nothing.
    t.report(20, 7, 1);
    t.report(12, 3, 0);
    EXPECT_TRUE(host.take().empty());
    t.report(20, 7, 0);
    EXPECT_EQ(host.take(), (Log{tp("statesheet=red"), "HN 'GPIvalue=0'"}));
}

TEST_F(Tile, LookupLimits) {
    Component& t = create();
    t.parentCommand("instance=Max");
    EXPECT_EQ(host.take(), (Log{"debug: Instance change code called - Instance=Max\n", "SD 'Max'",
                                "GR 999 999 999", "GP 999 999 999", tp("text=")}));
    t.parentCommand("instance=Neg");
    EXPECT_EQ(host.take(), (Log{"debug: Instance change code called - Instance=Neg\n", "GU 999",
                                "SD 'Neg'", "GR -1 5 5", "GP -1 5 5", tp("text=")}));
    t.report(-1, 5, 1);
    t.tick(1);
    t.destroy();
    EXPECT_EQ(host.take(),
              (Log{tp("statesheet="), "HN 'GPIvalue=1'", "GP -1 5 5", "GU -1", "ET 1", "AS"}));
}

TEST_F(Tile, FailedLookupsKeepTheOldNumbers) {
    Component& t = bound(0);
    for (const char* name : {"Zero", "Big", "BigC", "Quoted", "Missing"}) {
        t.parentCommand(("instance=" + std::string(name)).c_str());
        // The old numbers stay, so each later binding releases device 12 again.
        EXPECT_EQ(
            host.take(),
            (Log{"debug: Instance change code called - Instance=" + std::string(name) + "\n",
                 "GU 12", "SD '" + std::string(name) + "'", "debug: No valid device or contact\n"}))
            << name;
    }
    t.tick(1);
    t.press("1", "MyContact_Tile");
    t.report(12, 3, 1);
    t.destroy();
    EXPECT_EQ(host.take(), (Log{"GP 12 3 3", "GS 12 3 1 1", tp("statesheet=green"),
                                "HN 'GPIvalue=1'", "GU 12", "ET 1", "AS"}));
}

TEST_F(Tile, FailedFirstLookupThenEmptyInstanceName) {
    Component& t = create();
    t.parentCommand("instance=Missing");
    t.parentCommand("instance=");
    EXPECT_EQ(host.take(), (Log{"debug: Instance change code called - Instance=Missing\n",
                                "SD 'Missing'", "debug: No valid device or contact\n",
                                "debug: Instance change code called - Instance=\n", "SD ''",
                                "GR 30 1 1", "GP 30 1 1", tp("text=")}));
    t.parentCommand("instance=A");
    // instance is empty, so the binding to 30 is not released.
    EXPECT_EQ(host.take(), (Log{kBindA, "SD 'A'", "GR 12 3 3", "GP 12 3 3", tp("text=Studio A")}));
}

TEST_F(Tile, LabelComesFromButtonTextWhenUseTextIsSet) {
    Component& t = create();
    t.parentCommand("buttonText=Tally");
    EXPECT_TRUE(host.take().empty());
    EXPECT_EQ(t.ask("return=buttonText"), "buttonText=");
    t.parentCommand("useText=true");
    t.parentCommand("useText=true");
    t.parentCommand("instance=A");
    EXPECT_EQ(host.take(), (Log{tp("text=Tally"), tp("text=Tally"), kBindA, "SD 'A'", "GR 12 3 3",
                                "GP 12 3 3", tp("text=Tally")}));
    EXPECT_EQ(t.ask("return=buttonText"), "buttonText=Tally");
    t.parentCommand("buttonText=It's on");
    t.parentCommand("useText=FALSE");
    EXPECT_EQ(host.take(), (Log{tp("text=It's on"), tp("text=Studio A")}));
    EXPECT_EQ(t.ask("return=buttonText"), "buttonText=A");
    unsetenv("VORN_CONFIG");
    t.parentCommand("useText=false");
    EXPECT_EQ(host.take(), (Log{tp("text=")}));
}

TEST_F(Tile, SettingsAndTheirPanelEffects) {
    Component& t = create();
    EXPECT_EQ(t.ask("useButton=FALSE"), "<null>");
    t.parentCommand("useButton=True");
    t.parentCommand("useButton=on");
    t.parentCommand("useButton= true");
    t.parentCommand("UseButton=true");
    t.parentCommand("usebutton=false");
    t.parentCommand("stateSheet=base");
    t.parentCommand("offState=red");
    t.parentCommand("onState=green");
    t.parentCommand("sendGPI=false");
    EXPECT_EQ(host.take(), (Log{tp("style=label"), tp("style=button"), tp("stylesheet=base")}));
    EXPECT_EQ(t.ask("return=all"), "useButton=true\nsendGPI=false\nuseText=false\nbuttonText=\n"
                                   "stateSheet=base\noffState=red\nonState=green");
    t.parentCommand("sendGPI=TRUE");
    EXPECT_EQ(t.ask("return=sendGPI"), "sendGPI=true");
    EXPECT_TRUE(host.take().empty());
}

TEST_F(Tile, QueriesAndVocabulary) {
    Component& t = create();
    EXPECT_EQ(t.ask("return=all"), "useButton=true\nsendGPI=true\nuseText=false\nbuttonText=\n"
                                   "stateSheet=\noffState=\nonState=");
    EXPECT_EQ(t.ask("return=useButton"), "useButton=true");
    EXPECT_EQ(t.ask("return=useText"), "useText=false");
    for (const char* empty : {"return=stateSheet", "return=instance", "return",
                              "return=", "return=All", "nonsense=1", "", "instance"})
        EXPECT_EQ(t.ask(empty), "<null>") << empty;
    EXPECT_EQ(t.ask("_events"), "GPIvalue=*");
    EXPECT_EQ(t.ask("_events=x"), "GPIvalue=*");
    EXPECT_EQ(t.ask("_events.a.b"), "GPIvalue=*");
    EXPECT_EQ(t.ask("_commands"),
              "useButton=[value]\nsendGPI=[value]\nuseText=[value]\nbuttonText=[value]");
    // "return" is always a query: it cannot be set.
    t.parentCommand("buttonText=Tally");
    EXPECT_NE(t.ask("return=all").find("\nbuttonText=Tally\n"), std::string::npos);
    EXPECT_TRUE(host.take().empty());
}

TEST_F(Tile, StateSheetsWaitForTheMatchingState) {
    Component& t = create();
    t.parentCommand("instance=A");
    host.take();
    t.parentCommand("offState=red"); // gpiState -1: nothing
    t.parentCommand("onState=green");
    EXPECT_TRUE(host.take().empty());
    t.report(12, 3, 1);
    t.parentCommand("offState=dark"); // gpiState 1: only onState shows
    t.parentCommand("onState=lime");
    t.parentCommand("onState=");
    EXPECT_EQ(host.take(), (Log{tp("statesheet=green"), "HN 'GPIvalue=1'", tp("statesheet=lime"),
                                tp("statesheet=")}));
    t.report(12, 3, 0);
    t.parentCommand("offState=black");
    t.parentCommand("onState=x");
    EXPECT_EQ(host.take(), (Log{tp("statesheet=dark"), "HN 'GPIvalue=0'", tp("statesheet=black")}));
}

TEST_F(Tile, TransitionTable) {
    struct Row {
        int from; // -1: no report yet
        int reported;
        Log expected;
    };
    const Row rows[] = {
        {-1, 0, {tp("statesheet=red"), "HN 'GPIvalue=0'"}},
        {-1, 1, {tp("statesheet=green"), "HN 'GPIvalue=1'"}},
        {-1, 7, {tp("statesheet=green"), "HN 'GPIvalue=1'"}},
        {-1, -1, {}},
        {0, 0, {}},
        {0, 1, {tp("statesheet=green"), "HN 'GPIvalue=1'"}},
        {0, -3, {tp("statesheet=green"), "HN 'GPIvalue=1'"}},
        {1, 1, {}},
        {1, 0, {tp("statesheet=red"), "HN 'GPIvalue=0'"}},
        {1, 5, {tp("statesheet=green"), "HN 'GPIvalue=1'"}},
    };
    for (const Row& row : rows) {
        Component& t = bound(row.from);
        t.report(12, 3, row.reported);
        EXPECT_EQ(host.take(), row.expected) << row.from << " -> " << row.reported;
        tile.reset();
        host.take();
    }
}

TEST_F(Tile, ReportsForOtherContactsAndTheUnboundZeroPair) {
    Component& t = bound(0);
    t.report(12, 4, 1);
    t.report(13, 3, 1);
    t.report(0, 0, 1);
    EXPECT_TRUE(host.take().empty());
    tile.reset();
    Component& unbound = create();
    unbound.report(0, 0, 1);
    EXPECT_EQ(host.take(), (Log{tp("statesheet="), "HN 'GPIvalue=1'"}));
}

TEST_F(Tile, PressesSwitchTheOppositeStateWithoutChangingTheLook) {
    Component& t = bound(0);
    t.press("1", "MyContact_Tile");
    t.press("1", "MyContact_Tile");
    t.report(12, 3, 1);
    t.press("1", "MyContact_Tile");
    t.press("2", "MyContact_Tile");
    t.press("01", "MyContact_Tile");
    t.press("1", "Other");
    t.parentCommand("useButton=false");
    t.press("1", "MyContact_Tile");
    t.parentCommand("sendGPI=false");
    t.press("1", "MyContact_Tile");
    EXPECT_EQ(host.take(),
              (Log{"GS 12 3 1 1", "GS 12 3 1 1", tp("statesheet=green"), "HN 'GPIvalue=1'",
                   "GS 12 3 0 1", tp("style=label"), "GS 12 3 0 1"}));
    tile.reset();
    host.take();
    Component& early = bound(-1);
    early.press("1", "MyContact_Tile");
    EXPECT_TRUE(host.take().empty());
}

TEST_F(Tile, TimersPollWhileBoundAndStrayTimersAreStopped) {
    Component& t = create();
    t.tick(1);
    t.tick(2);
    EXPECT_EQ(host.take(), (Log{"ET 2"}));
    t.parentCommand("instance=A");
    host.take();
    t.tick(1);
    t.tick(7);
    t.tick(-4);
    EXPECT_EQ(host.take(), (Log{"GP 12 3 3", "ET 7", "ET -4"}));
}

TEST_F(Tile, MessagesThatAllocateNothing) {
    Component& t = bound(0);
    HostDeviceRecord same{12, 0, 3, 0};
    HostDeviceRecord other{12, 0, 4, 1};
    HostButtonRecord press{0, 0, "1", "MyContact_Tile"};
    host.log.reserve(64);
    AllocCounter counter;
    t.get()->dispatch(&same, 1);
    t.get()->dispatch(&other, 1);
    t.get()->dispatch(reinterpret_cast<void*>(1), 4);
    const std::size_t beforePress = counter.count();
    t.get()->dispatch(&press, 2);
    // The recording host keeps a copy of "GS 12 3 1 1", within the short-string buffer.
    EXPECT_EQ(counter.count(), beforePress);
    EXPECT_EQ(counter.count(), 0u);
}
