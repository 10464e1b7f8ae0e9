// The sandbox: a job that calls into a plug-in runs in a child process, so that a crash, a hang
// or an exit of the plug-in's ends the child, never vorn-host. On Linux the child is a fork of
// this process; on Windows it is this program started again with arguments that make it run the
// job (the caller's counterpart of sandboxChild()).
//
// The child reports to its parent: progress while the job goes on, a crash's report, and at its
// end a verdict record. The verdict comes from that record alone; the exit status only tells of
// a crash. A child that ends without a verdict failed, whatever its exit status.
#pragma once

#include <functional>
#include <string>
#include <vector>

// A job: its result, a text that only its caller reads.
using SandboxJob = std::function<std::string()>;

struct SandboxLimits {
    int seconds = 120;    // the job's limit; 0: none
    int hangSeconds = 10; // a job that makes no progress this long has hung; 0: never
};

// How a job in the sandbox ended.
struct SandboxOutcome {
    enum Kind {
        Finished, // the job returned: detail is its result
        Ended,    // the child ended before the job returned: detail says how ("exit status 0")
        Crashed,  // detail: the signal or exception, and what the crash report says of it
        TimedOut, // detail: which limit
        NotRun,   // detail: why
    } kind = NotRun;
    std::string detail;
};

// How the child starts on Windows: this program's arguments, and where it reports. With
// outputIsReport its standard output and error are the report (validate --child); else they are
// the parent's, and " --report FILE" is added to the arguments.
struct SandboxChild {
    std::string arguments;
    bool outputIsReport = true;
};

// Runs the job in a child and waits for its verdict. "what" names the job in a crash report
// ("the check random"). On Linux the job runs in a fork; on Windows "child" starts it. Ctrl-C
// (interruptWatch) is passed on to the child, which ends its job as it sees fit.
SandboxOutcome sandboxRun(const std::string& what, const SandboxJob& job, const SandboxChild& child,
                          const SandboxLimits& limits);

// The child's side: runs the job and writes its verdict record to fd (a pipe, standard output
// or the report file). A crash report goes to fd too with crashesToParent, else to standard
// error, where a person sees it.
void sandboxChild(const std::string& what, const SandboxJob& job, int fd,
                  bool crashesToParent = true);

// Called by a job as it goes on (at most ten reports a second reach the parent): a call into the
// plug-in that never returns shows as silence, judged after the hang limit.
void sandboxProgress();

// A job that lives on: a child that answers one line with one line, for as long as the parent
// keeps it (the web panel's session). An answer is a line that starts with sandboxAnswerMark;
// any other line on the child's output (a debugger's report of a crash) goes to standard error.
// The child runs serve(in, out) on Linux (a fork), or is this program started again with
// "arguments" on Windows, its standard input and output the two ends. Whatever the plug-in does
// there ends the child, which ended() then tells.
constexpr char sandboxAnswerMark = '\x1e';
class SandboxConversation {
public:
    using Serve = std::function<void(int in, int out)>;
    SandboxConversation() = default;
    SandboxConversation(const SandboxConversation&) = delete;
    SandboxConversation& operator=(const SandboxConversation&) = delete;
    ~SandboxConversation();
    bool start(const std::string& what, const Serve& serve, const std::string& arguments);
    // Sends a line and waits for the answer, at most "seconds" (0: for ever); false when the
    // child ended or did not answer in time (it is then ended), with outcome() saying how.
    bool ask(const std::string& line, std::string& answer, int seconds);
    bool running() const { return running_; }
    const SandboxOutcome& outcome() const { return outcome_; }
    void stop();

private:
    void ended(bool timedOut, int seconds);
    bool takeAnswer(std::string& answer);
    bool running_ = false;
    SandboxOutcome outcome_;
    std::string pending_; // read past the last answer
#ifdef _WIN32
    void* process_ = nullptr;
    void* toChild_ = nullptr;
    void* fromChild_ = nullptr;
#else
    int pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
#endif
};
