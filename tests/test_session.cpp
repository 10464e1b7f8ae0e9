// The session and the web panel's model, where a scenario cannot look: the reasons a delivery
// got nothing as values, and a panel whose reads never wait for the step that runs.
#include "panel.h"
#include "session.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

void apply(Session& session, const std::string& line) {
    std::string error;
    const std::optional<Step> step = parseStep(line, 1, error);
    ASSERT_TRUE(step) << line << ": " << error;
    for (const StepFailure& f : session.apply(*step))
        ADD_FAILURE() << line << ": " << f.text();
}

std::optional<Silence> silenceOf(Session& session, const std::string& line) {
    apply(session, line);
    std::string error;
    return session.silence(*parseStep(line, 1, error));
}

} // namespace

// Each reason a host can tell, as the value the page and the transcript are made from.
TEST(Session, SaysWhyADeliveryGotNothing) {
    Session session(SessionOptions{VORN_TILE, VORN_SCENARIOS "/t.vorn"});
    ASSERT_TRUE(session.configure(VORN_SCENARIOS "/facility.ini", 1).empty());
    apply(session, "create");
    EXPECT_EQ(silenceOf(session, "parent instance=Nowhere"), std::nullopt); // not a delivery
    EXPECT_EQ(silenceOf(session, "press 1 MyContact_Tile")->reason, Silence::NotRegistered);
    apply(session, "parent instance=A");
    EXPECT_EQ(silenceOf(session, "report 20 7 1")->reason, Silence::OtherContact);
    apply(session, "report 12 3 1");
    const std::optional<Silence> other = silenceOf(session, "press 2 Elsewhere");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->reason, Silence::OtherControl);
    EXPECT_EQ(other->text(), "(the component sent nothing: that is another panel or control "
                             "than the one it puts ('1' 'MyContact_Tile'))");
    apply(session, "parent sendGPI=false");
    EXPECT_EQ(silenceOf(session, "press 1 MyContact_Tile")->reason, Silence::PressIgnored);
    EXPECT_EQ(silenceOf(session, "advance 5")->reason, Silence::NoTimerDue);
    EXPECT_EQ(silenceOf(session, "press 1 MyContact_Tile")->text(),
              "(the component sent nothing: the component did not act on the press)");
    session.end();
}

namespace {
PanelOptions panelOf(const char* plugin, int stepSeconds) {
    PanelOptions options;
    options.session = SessionOptions{plugin, ""};
    options.stepSeconds = stepSeconds;
    return options;
}
} // namespace

// While a step hangs in the child, the page still reads the panel; the hang then ends the
// child, and the panel says which step it was.
TEST(Panel, ReadsNeverWaitForAStepThatRuns) {
    Panel panel(panelOf(VORN_HANG_PLUGIN, 3));
    std::string error;
    ASSERT_TRUE(panel.begin(error)) << error;
    std::atomic<bool> returned{false};
    std::thread step([&] {
        panel.act("parent hang");
        returned = true;
    });
    // Until the step shows in the transcript, it has not been asked of the child yet.
    for (int i = 0; i < 200; ++i) {
        const nlohmann::json s = panel.state(0);
        if (!s["lines"].empty() && s["lines"].back()["text"] == "parent hang") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const nlohmann::json during = panel.state(0);
    EXPECT_FALSE(returned) << "the state was read only after the step";
    EXPECT_TRUE(during["crash"].is_null());
    step.join();
    EXPECT_EQ(panel.state(0)["crash"],
              "the plug-in did not return within 3 s in the step 'parent hang'");
}

// The running clock's seconds are one step to run again, and a silence reaches the page as
// its reason.
TEST(Panel, RunsTheClockAgainAsOneStepAndGivesSilencesAsReasons) {
    Panel panel(panelOf(VORN_TILE, 10));
    std::string error;
    ASSERT_TRUE(panel.begin(error)) << error; // one unnamed tile, created
    for (int i = 0; i < 3; ++i)
        panel.secondPassed();
    EXPECT_EQ(panel.act("press 1 MyContact_Tile").status, 200);
    const nlohmann::json state = panel.state(0);
    nlohmann::json silence;
    for (const nlohmann::json& l : state["lines"])
        if (l.contains("silence")) silence = l["silence"];
    EXPECT_EQ(silence["reason"], "not-registered") << state["lines"].dump(1);
    panel.restart();
    const nlohmann::json lines = panel.state(0)["lines"];
    EXPECT_EQ(lines.back()["text"], "restarted: 3 steps run again"); // create, 3 s, press
    EXPECT_NE(panel.recording().find("\nadvance 3s\n"), std::string::npos) << panel.recording();
}

// A crash that names a rule reaches the page with its rule, as the terminal says it.
TEST(Panel, ACrashNamesItsRule) {
    Panel panel(panelOf(VORN_LATE_PLUGIN, 10));
    std::string error;
    ASSERT_TRUE(panel.begin(error)) << error;
    panel.act("config " VORN_SCENARIOS "/facility.ini");
    panel.act("parent x");
    panel.act("parent y");
    EXPECT_EQ(panel.state(0)["crash"],
              "the plug-in read a reply after handing it back ([read-after-loan], signal 11) in "
              "the step 'parent y'");
}
