#include "alloc_counter.h"
#include "recording_host.h"
#include "vorn_export.h"
#include "vorn_script_helper.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// A component that records which handler ran with what.
class Probe : public vorn_script_helper {
public:
    explicit Probe(HostClient* host, const char* path = "") : vorn_script_helper(host, path) {}
    std::vector<std::string> calls;
    vorn_string answer;
    std::string lastName, lastValue;

protected:
    void onButton(const ButtonEvent& e) override {
        calls.push_back(std::string("button ") + static_cast<const char*>(e.panel()) + " " +
                        static_cast<const char*>(e.control()));
    }
    void onDeviceReport(const DeviceReport& r) override {
        calls.push_back("report " + std::to_string(r.device()) + " " + std::to_string(r.index()) +
                        " " + std::to_string(r.state()));
    }
    vorn_string onParentCommand(const ParentCommand& c) override {
        lastName = static_cast<const char*>(c.name());
        lastValue = static_cast<const char*>(c.value());
        calls.push_back("parent");
        return answer;
    }
    void onMessage7(const MessageRef& m) override {
        calls.push_back(m.data() ? "message7" : "message7 null");
    }
    void onTimer(std::int32_t id) override { calls.push_back("timer " + std::to_string(id)); }
    void onMessage6(const MessageRef& m) override {
        calls.push_back(m.data() ? "message6" : "message6 null");
    }
};

// A component of the frame alone whose constructor fails after the frame is built.
class FailsToConstruct : public Probe {
public:
    FailsToConstruct(HostClient* host, const char* path) : Probe(host, path) { throw 1; }
};

void* timerData(std::intptr_t id) {
    return reinterpret_cast<void*>(id);
}

} // namespace

TEST(Dispatch, RoutesEveryTypeToItsSlot) {
    RecordingHost host;
    Probe probe(&host);
    HostDeviceRecord report{12, 99, 3, 1};
    HostButtonRecord button{0, 0, "1", "MyContact_Tile"};
    int other = 0;
    EXPECT_EQ(probe.dispatch(&report, 1), nullptr);
    EXPECT_EQ(probe.dispatch(&button, 2), nullptr);
    EXPECT_EQ(probe.dispatch(const_cast<char*>("x=y"), 3), nullptr);
    EXPECT_EQ(probe.dispatch(timerData(1), 4), nullptr);
    EXPECT_EQ(probe.dispatch(timerData(-7), 4), nullptr);
    EXPECT_EQ(probe.dispatch(nullptr, 5), nullptr);
    EXPECT_EQ(probe.dispatch(&other, 6), nullptr);
    EXPECT_EQ(probe.dispatch(&other, 7), nullptr);
    for (int type : {0, 8, -1, 100})
        EXPECT_EQ(probe.dispatch(&other, type), nullptr);
    EXPECT_EQ(probe.calls,
              (std::vector<std::string>{"report 12 3 1", "button 1 MyContact_Tile", "parent",
                                        "timer 1", "timer -7", "message6", "message7"}));
    EXPECT_TRUE(host.take().empty());
}

TEST(Dispatch, ParentCommandAnswersAreFreshBuffersHandedBackByType5) {
    RecordingHost host;
    Probe probe(&host);
    probe.answer = "abc";
    char text[] = "name.part=value";
    probe.calls.reserve(8);
    AllocCounter counter;
    char* first = probe.dispatch(text, 3);
    char* second = probe.dispatch(text, 3);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(std::memcmp(first, "abc", 4), 0);
    EXPECT_STREQ(text, "name.part=value");
    EXPECT_EQ(probe.lastName, "name");
    EXPECT_EQ(probe.lastValue, "value");
    probe.dispatch(first, 5);
    probe.dispatch(second, 5);
    // Per call: the parse copy and the answer buffer.
    EXPECT_EQ(counter.count(), 4u);

    probe.answer = "";
    EXPECT_EQ(probe.dispatch(text, 3), nullptr);
    EXPECT_EQ(probe.dispatch(nullptr, 3), nullptr);
    EXPECT_EQ(probe.lastName, "");
    EXPECT_EQ(probe.lastValue, "");
}

TEST(Dispatch, TypesSixAndSevenCrossOverToTheirSlots) {
    Probe probe(nullptr);
    probe.dispatch(nullptr, 6);
    probe.dispatch(nullptr, 7);
    EXPECT_EQ(probe.calls, (std::vector<std::string>{"message6 null", "message7 null"}));
}

TEST(Dispatch, DestructionSendsASLastAndNothingWithoutHost) {
    RecordingHost host;
    { Probe probe(&host); }
    EXPECT_EQ(host.take(), (Log{"AS"}));
    Probe quiet(nullptr);
    quiet.dispatch(nullptr, 3);
}

// Whether an end says "AS" is decided by whether the component was created whole, not by an
// exception that happens to be on its way while it ends.
TEST(Dispatch, AnEndDuringAnExceptionSaysASOnlyForAComponentCreatedWhole) {
    RecordingHost host;
    EXPECT_EQ((vorn_create_component<FailsToConstruct>(&host, "")), nullptr);
    EXPECT_TRUE(host.take().empty());
    vorn_client_callback* made = vorn_create_component<Probe>(&host, "");
    ASSERT_NE(made, nullptr);
    try {
        struct EndsIt {
            vorn_client_callback* component;
            ~EndsIt() { vorn_abi_delete(component); }
        } ends{made};
        throw 2;
    } catch (int) {
    }
    EXPECT_EQ(host.take(), (Log{"AS"}));
}
