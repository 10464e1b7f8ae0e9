#include "sandbox.h"
#include "scenario_runner.h"

#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

// A child that answers each line with the mark, "got " and the line; "crash" faults, "hang"
// never answers, "noise" writes a line that is not an answer first.
void echo(int in, int out) {
    std::string buffer;
    char chunk[256];
    for (;;) {
        const std::size_t eol = buffer.find('\n');
        if (eol == std::string::npos) {
            const ssize_t n = read(in, chunk, sizeof chunk);
            if (n <= 0) return;
            buffer.append(chunk, static_cast<std::size_t>(n));
            continue;
        }
        const std::string line = buffer.substr(0, eol);
        buffer.erase(0, eol + 1);
        if (line == "crash") std::raise(SIGSEGV);
        if (line == "hang") pause();
        std::string reply = std::string(1, sandboxAnswerMark) + "got " + line + "\n";
        if (line == "noise") reply = "a debugger's dump\n" + reply;
        if (write(out, reply.data(), reply.size()) < 0) return;
    }
}

} // namespace

// The web panel's child: answers, and the three ways it can end, each told as what it was.
TEST(SandboxConversation, AnswersUntilTheChildCrashesHangsOrEnds) {
    SandboxConversation child;
    ASSERT_TRUE(child.start("the test's child", echo, ""));
    std::string answer;
    ASSERT_TRUE(child.ask("one", answer, 5));
    EXPECT_EQ(answer, "got one");
    testing::internal::CaptureStderr();
    ASSERT_TRUE(child.ask("noise", answer, 5));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "a debugger's dump\n");
    EXPECT_EQ(answer, "got noise");

    EXPECT_FALSE(child.ask("crash", answer, 5));
    EXPECT_FALSE(child.running());
    EXPECT_EQ(child.outcome().kind, SandboxOutcome::Crashed);
    EXPECT_EQ(child.outcome().detail, "signal 11");
    EXPECT_FALSE(child.ask("after", answer, 5));

    ASSERT_TRUE(child.start("the test's child", echo, ""));
    EXPECT_FALSE(child.ask("hang", answer, 1));
    EXPECT_EQ(child.outcome().kind, SandboxOutcome::TimedOut);
    EXPECT_EQ(child.outcome().detail, "no answer within 1 s");

    ASSERT_TRUE(child.start(
        "the test's child", [](int, int) { _exit(3); }, ""));
    EXPECT_FALSE(child.ask("anyone", answer, 5));
    EXPECT_EQ(child.outcome().kind, SandboxOutcome::Ended);
    EXPECT_EQ(child.outcome().detail, "exit status 3");
}

// A run in the sandbox's child gives its parent its whole result, texts as they were.
TEST(RunResult, ComesBackFromTheChildAsItWas) {
    RunResult r;
    r.steps = 12;
    r.expectations = 7;
    r.failures = 2;
    r.malformed = true;
    r.problems = {"a.vorn:3: mismatch\n  expected: command SD 'A'\n  actual:   nothing more",
                  "back\\slash, tab\t, \xc3\xa9", ""};
    RunResult back;
    ASSERT_TRUE(decodeRunResult(encodeRunResult(r), back));
    EXPECT_EQ(std::tie(back.steps, back.expectations, back.failures, back.malformed),
              std::tie(r.steps, r.expectations, r.failures, r.malformed));
    EXPECT_EQ(back.problems, r.problems);
    EXPECT_FALSE(decodeRunResult("", back));
    EXPECT_FALSE(decodeRunResult("1 2\n", back));
}
