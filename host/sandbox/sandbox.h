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

// A job: what it found wrong, or empty when it passed.
using SandboxJob = std::function<std::string()>;

struct SandboxLimits {
    int seconds = 120;    // the job's limit
    int hangSeconds = 10; // a job that makes no progress this long has hung
};

// How a job in the sandbox ended.
struct SandboxOutcome {
    enum Kind { Passed, Failed, Crashed, TimedOut, NotRun } kind = NotRun;
    std::string detail; // the problem, the signal or exception, or why it did not run
};

// Runs the job in a child and waits for its verdict. "what" names the job in a crash report
// ("the check random"); "arguments" start the child on Windows (it must call sandboxChild() with
// standard output as its report); Linux runs the job in a fork.
SandboxOutcome sandboxRun(const std::string& what, const SandboxJob& job,
                          const std::string& arguments, const SandboxLimits& limits);

// The child's side: runs the job, reporting to fd (a pipe, or on Windows standard output, 1).
void sandboxChild(const std::string& what, const SandboxJob& job, int fd);

// Called by a job as it goes on (at most ten reports a second reach the parent): a call into the
// plug-in that never returns shows as silence, judged after the hang limit.
void sandboxProgress();
