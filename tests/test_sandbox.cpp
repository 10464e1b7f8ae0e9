#include "crash_report.h"
#include "sandbox.h"
#include "scenario_runner.h"

#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

// Answers each "ask" with "got " and its text; "crash" faults in a step it names first, "hang"
// never answers, "exit" ends the process as a plug-in's exit() would.
const SandboxJobType echoJob{"test-echo", [](const SandboxMessage&, SandboxChildSide& side) {
                                 SandboxMessage m;
                                 while (side.receive(m)) {
                                     const std::string text = m.value("text", "");
                                     if (text == "crash") {
                                         crashReportSet("the step 'crash'");
                                         std::raise(SIGSEGV);
                                     }
                                     if (text == "hang") pause();
                                     if (text == "exit") {
                                         crashReportSet("the step 'exit'");
                                         std::exit(3);
                                     }
                                     side.send({{"type", "answer"}, {"text", "got " + text}});
                                 }
                             }};

// Gives back the run result it was sent, as a scenario's child gives its own.
const SandboxJobType resultJob{
    "test-result",
    [](const SandboxMessage& job, SandboxChildSide& side) { side.result(job["result"]); }};

// Starts a process of its own that keeps the channel open for a few seconds, then crashes.
const SandboxJobType crashesBesideItsChildJob{"test-crashes-beside",
                                              [](const SandboxMessage&, SandboxChildSide&) {
                                                  if (fork() == 0) {
                                                      sleep(5);
                                                      _exit(0);
                                                  }
                                                  std::raise(SIGSEGV);
                                              }};

const SandboxJobType endsAtOnceJob{"test-ends", [](const SandboxMessage&, SandboxChildSide&) {}};

bool ask(SandboxChild& child, const std::string& text, std::string& answer) {
    SandboxMessage m;
    if (!child.send({{"type", "ask"}, {"text", text}}) || !child.receive(m, SandboxLimits{0, 1}))
        return false;
    answer = m.value("text", "");
    return true;
}

} // namespace

// A conversation answers until its child crashes, hangs or exits; each end is told as the facts
// it was, and worded once.
TEST(SandboxChild, AnswersUntilTheChildCrashesHangsOrExits) {
    SandboxChild child;
    ASSERT_TRUE(child.start(echoJob, {}, "the test's child"));
    std::string answer;
    ASSERT_TRUE(ask(child, "one", answer));
    EXPECT_EQ(answer, "got one");
    ASSERT_TRUE(ask(child, "two\nlines \x01", answer));
    EXPECT_EQ(answer, "got two\nlines \x01");

    EXPECT_FALSE(ask(child, "crash", answer));
    EXPECT_FALSE(child.running());
    EXPECT_EQ(child.outcome().kind, SandboxOutcome::Crashed);
    EXPECT_EQ(child.outcome().describe(), "the plug-in crashed (signal 11) in the step 'crash'");
    EXPECT_FALSE(ask(child, "after", answer));

    ASSERT_TRUE(child.start(echoJob, {}, "the test's child"));
    EXPECT_FALSE(ask(child, "hang", answer));
    EXPECT_EQ(child.outcome().kind, SandboxOutcome::TimedOut);
    EXPECT_EQ(child.outcome().describe(),
              "no progress for 1 s: a call into the plug-in did not return in the test's child");

    ASSERT_TRUE(child.start(echoJob, {}, "the test's child"));
    EXPECT_FALSE(ask(child, "exit", answer));
    EXPECT_EQ(child.outcome().kind, SandboxOutcome::Ended);
    EXPECT_EQ(child.outcome().describe(),
              "the plug-in ended the process (exit status 3) in the step 'exit'");
}

// A child that ended is seen to have ended at once, even while a process it started (a
// debugger for its crash, say) still holds the channel open.
TEST(SandboxChild, AnEndIsSeenWhileAProcessItStartedHoldsTheChannel) {
    const SandboxOutcome outcome =
        sandboxRun(crashesBesideItsChildJob, {}, "the test's child", SandboxLimits{0, 4});
    EXPECT_EQ(outcome.kind, SandboxOutcome::Crashed) << outcome.describe(); // not hung
}

// Writing to a child that has gone is an ended child, never a SIGPIPE for the program that
// uses the channel (this test keeps SIGPIPE's default disposition, which would end it).
TEST(SandboxChild, WritesToAChildThatHasGoneRaiseNoSignal) {
    ASSERT_EQ(std::signal(SIGPIPE, SIG_DFL), SIG_DFL);
    for (int round = 0; round < 20; ++round) {
        SandboxChild child;
        ASSERT_TRUE(child.start(endsAtOnceJob, {}, "the test's child"));
        const std::string big(70000, 'x'); // more than a pipe holds
        bool sent = true;
        for (int i = 0; i < 10 && sent; ++i)
            sent = child.send({{"type", "ask"}, {"text", big}});
        EXPECT_FALSE(sent);
        EXPECT_EQ(child.outcome().kind, SandboxOutcome::Ended);
    }
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

// A scenario's result comes back from its child as it was, texts and all.
TEST(SandboxChild, GivesBackARunResultAsItWas) {
    RunResult r;
    r.steps = 12;
    r.expectations = 7;
    r.failures = 2;
    r.malformed = true;
    r.problems = {"a.vorn:3: mismatch\n  expected: command SD 'A'\n  actual:   nothing more",
                  "back\\slash, tab\t, \xc3\xa9", ""};
    const SandboxOutcome outcome =
        sandboxRun(resultJob, {{"result", runResultToJson(r)}}, "the test's child", {});
    ASSERT_EQ(outcome.kind, SandboxOutcome::Finished) << outcome.describe();
    RunResult back;
    ASSERT_TRUE(runResultFromJson(outcome.result, back));
    EXPECT_EQ(std::tie(back.steps, back.expectations, back.failures, back.malformed),
              std::tie(r.steps, r.expectations, r.failures, r.malformed));
    EXPECT_EQ(back.problems, r.problems);
    EXPECT_FALSE(runResultFromJson(nlohmann::json::object(), back));
    EXPECT_FALSE(runResultFromJson({{"steps", "twelve"}}, back));
}
