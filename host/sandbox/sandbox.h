// The child channel: a job that calls into a plug-in runs in a child process, so that a crash,
// a hang or an exit of the plug-in's ends the child, never vorn-host. On Linux the child is a
// fork of this process; on Windows it is this program started again into its one hidden entry
// point (sandboxChildMain). Either way the job is data that the channel carries, and the child
// runs it with the same code.
//
// The protocol: messages are JSON objects with a "type", one a line, over a pipe pair of the
// channel's own (never the child's standard input or output, which stay the user's). Texts
// travel as UTF-8: a byte that is not shows as U+FFFD (step texts are escaped by the step
// language, so they arrive as written).
//   parent -> child  "job"       the first message: {"type":"job","kind":NAME,...its fields}
//                    anything    further messages of a conversation (SandboxChild::send)
//   child -> parent  "progress"  the job goes on (at most ten a second)
//                    "result"    {"value": ...}: the job's result; a one-shot job ends with it
//                    "crash"     {"signal" | "exception", "rule", "text", "where"}: the crash
//                                handlers' own, put together by hand
//                    "exit"      {"where"}: the plug-in called exit() in the middle of a step
//                    "hang"      {"ms", "where"}: a step past the child's own limit
//                                (these three also carry "part" and "step" when the job named
//                                them: crashReportSet)
//                    anything    a conversation's answers (SandboxChild::receive)
// A verdict comes from the messages alone: the exit status tells only how a child ended that
// sent no result.
//
// Threads: a SandboxChild is used by one thread at a time. SIGPIPE is never raised by the
// channel's own writes, whatever the program's signal disposition: a peer that has gone is an
// ended child, not a dead parent.
#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <string>

using SandboxMessage = nlohmann::json;

class SandboxChildSide;

// A kind of job, declared once at namespace scope next to the code that runs it:
//   const SandboxJobType runJob{"run", [](const SandboxMessage& job, SandboxChildSide& side) {
//       side.result(...); }};
// Its name is what the "job" message carries; the child finds the type by it. A job's what()
// names it in reports ("the check random").
class SandboxJobType {
public:
    using Run = std::function<void(const SandboxMessage& job, SandboxChildSide& side)>;
    SandboxJobType(const char* name, Run run);
    SandboxJobType(const SandboxJobType&) = delete;
    SandboxJobType& operator=(const SandboxJobType&) = delete;
    const char* name() const { return name_; }
    const Run& run() const { return run_; }
    static const SandboxJobType* find(const std::string& name);

private:
    const char* name_;
    Run run_;
};

// The child's end: what a job uses to talk to its parent.
class SandboxChildSide {
public:
    SandboxChildSide(int in, int out) : in_(in), out_(out) {}
    // The next message from the parent; false once the parent closed its end.
    bool receive(SandboxMessage& message);
    // False when the parent has gone.
    bool send(const SandboxMessage& message);
    bool result(const SandboxMessage& value) {
        return send({{"type", "result"}, {"value", value}});
    }
    int out() const { return out_; }

private:
    int in_, out_;
    std::string pending_;
};

// Called by a job as it goes on (at most ten reports a second reach the parent): a call into
// the plug-in that never returns shows as silence, judged after the hang limit.
void sandboxProgress();

struct SandboxLimits {
    int seconds = 0;          // the whole wait's limit; 0: none
    int hangSeconds = 0;      // no message (progress included) for this long: hung; 0: never
    bool hangIsAStep = false; // the wait is for one step's answer: the hang is that step's
};

// How a job in the sandbox ended, as facts. describe() words it, the one text of it that a
// person reads (terminal, JUnit, page).
struct SandboxOutcome {
    enum Kind {
        Finished, // the job sent its result: result
        Ended,    // the child ended without a result: exitStatus, and exitWhere when the
                  // plug-in called exit() in a step
        Crashed,  // signal (Linux) or exception (Windows); rule and ruleText when the fault
                  // names a rule of the host contract ("read-after-loan")
        TimedOut, // limit and limitMs
        NotRun,   // problem: why the child could not be started
    } kind = NotRun;
    enum Limit { Whole, Progress, Step } limit = Whole;
    SandboxMessage result;
    int exitStatus = 0;
    bool exitedInStep = false;
    int signal = 0;
    unsigned long exception = 0;
    std::string rule, ruleText;
    int limitMs = 0;
    std::string where;        // what ran when it ended: the child's own word, else the job's
    int part = -1, step = -1; // and the part and step, when the child named them
    std::string problem;

    std::string describe() const;
};

// Where the child's standard output and error go: the user's (a scenario's run prints there),
// or the null device (a check's child, whose words the parent gives).
enum class SandboxOutput { Inherit, Discard };

// The parent's end of one child.
class SandboxChild {
public:
    SandboxChild() = default;
    SandboxChild(const SandboxChild&) = delete;
    SandboxChild& operator=(const SandboxChild&) = delete;
    ~SandboxChild();
    // Starts a child that runs the job; "job" holds its fields (the channel adds "type" and
    // "kind"); "what" names it in reports until the child names a step. False with outcome()
    // saying why.
    bool start(const SandboxJobType& type, SandboxMessage job, const std::string& what,
               SandboxOutput output = SandboxOutput::Inherit);
    bool send(const SandboxMessage& message);
    // What the child does from now on, as the parent asked it ("the step 'press 1 X'"): an
    // outcome names it unless the child named something else itself.
    void doing(const std::string& what) { outcome_.where = what; }
    // The next message that is not progress, within the limits; false once the child has
    // ended (or was ended past a limit), with outcome() saying how.
    bool receive(SandboxMessage& message, const SandboxLimits& limits);
    bool running() const { return running_; }
    const SandboxOutcome& outcome() const { return outcome_; }
    // Closes the child's input (it ends as its input ends) and waits for it, for two seconds at
    // most before it is killed.
    void stop();

private:
    bool readMore(int waitMs); // false at the end of the child's output
    void ended(bool killed);
    void note(const SandboxMessage& message);
    bool running_ = false;
    SandboxOutcome outcome_;
    std::string pending_;
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

// A one-shot job: starts it and waits for its result within the limits.
SandboxOutcome sandboxRun(const SandboxJobType& type, SandboxMessage job, const std::string& what,
                          const SandboxLimits& limits,
                          SandboxOutput output = SandboxOutput::Inherit);

// The hidden entry point on Windows: true when this process was started as a sandbox's child,
// then sandboxChildMain(argc, argv) runs its job and gives the exit status.
bool sandboxIsChild(int argc, char** argv);
int sandboxChildMain(int argc, char** argv);

// One line of JSON: any byte that is not UTF-8 shows as U+FFFD.
std::string jsonText(const SandboxMessage& value);

// Writes all of text; false when the reader has gone. Never raises SIGPIPE.
bool sandboxWriteAll(int fd, const std::string& text);
