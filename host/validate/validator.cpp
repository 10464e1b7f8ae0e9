#include "validator.h"

#include "crash_report.h"

#include "emulated_host.h"
#include "junit.h"
#include "plugin.h"
#include "scenario_language.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// Commands of one life, in order.
std::vector<std::string> commandsOf(const EmulatedHost& host) {
    std::vector<std::string> commands;
    for (const HostEvent& e : host.events)
        if (e.kind == HostEvent::Command) commands.push_back(e.text);
    return commands;
}

// What every life must end with: no breach of the host contract (which includes "AS" sent
// once, last).
std::string lifeProblems(const EmulatedHost& host) {
    return host.monitor.breaches().empty() ? std::string() : host.monitor.breaches().front().text();
}

// A check in a child process tells its parent that it goes on, at most ten times a second:
// a message that never returns shows as silence, judged after --hang seconds.
void (*progressHook)() = nullptr;
void progress() {
    static auto last = std::chrono::steady_clock::time_point();
    if (!progressHook) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last < std::chrono::milliseconds(100)) return;
    last = now;
    progressHook();
}

// How a child ends its report: this byte, then P (passed) or F and the problem. A report without
// it ended before its check finished, whatever the exit status says.
constexpr char verdictMark = '\x01';
std::string verdictRecord(const std::string& problem) {
    return std::string(1, verdictMark) + (problem.empty() ? "P" : "F" + problem);
}

// Runs a check for a parent process, reporting to fd (a pipe on Linux, the report file that is
// standard output on Windows): its progress, a crash's report, and at its end its verdict.
void runForParent(const ValidatorCheck& check, const CheckContext& context, int fd) {
    static int reportTo = -1;
    reportTo = fd;
    progressHook = [] { (void)!write(reportTo, ".", 1); };
    crashReportSet((std::string("the check ") + check.name).c_str());
    crashReportTo(fd);
    DebugTap::instance().take(); // what an earlier check left behind is not this one's
    const std::string record = verdictRecord(check.run(context));
    for (std::size_t done = 0; done < record.size();) {
        const auto n = write(fd, record.data() + done, static_cast<unsigned>(record.size() - done));
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// The folder replays and the empty configuration are written to.
std::string temporaryFolder() {
#ifdef _WIN32
    if (const char* t = std::getenv("TEMP")) return t;
#else
    if (const char* t = std::getenv("TMPDIR")) return t;
#endif
    return "/tmp";
}

std::string join(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines)
        all += "  " + l + "\n";
    return all;
}

// Random texts of the kinds a host may pass.
class Randomness {
public:
    explicit Randomness(std::uint64_t seed) : engine_(seed) {}
    int below(int n) { return static_cast<int>(engine_() % static_cast<std::uint64_t>(n)); }
    std::int32_t number() {
        switch (below(6)) {
        case 0:
            return 0;
        case 1:
            return INT_MIN;
        case 2:
            return INT_MAX;
        case 3:
            return -below(5);
        case 4:
            return static_cast<std::int32_t>(engine_());
        default:
            return below(1001);
        }
    }
    std::string text() {
        static const char* const pieces[] = {
            "",         ".",      "=",   "'",    " ",       "..",        "useButton",
            "instance", "return", "all", "true", "FALSE",   "A",         "\xc3\xa9\xe2\x82\xac",
            "%1",       "%2",     "\\",  "\t",   "_events", "_commands", "12 3"};
        std::string t;
        const int n = below(8);
        for (int i = 0; i < n; ++i)
            t += pieces[below(static_cast<int>(sizeof pieces / sizeof *pieces))];
        if (below(20) == 0) t += std::string(static_cast<std::size_t>(below(5000)), 'x');
        return t;
    }
    std::string parentText(const std::vector<std::string>& names) {
        static const char* const commands[] = {"useButton",  "sendGPI",  "useText",  "buttonText",
                                               "stateSheet", "offState", "onState",  "return",
                                               "instance",   "_events",  "_commands"};
        static const char* const values[] = {"true",    "false",     "True",       "FALSE",
                                             "all",     "useButton", "buttonText", "useText",
                                             "sendGPI", "",          "yes"};
        switch (below(4)) {
        case 0:
            return text();
        case 1:
            return std::string("instance=") +
                   names[static_cast<std::size_t>(below(static_cast<int>(names.size())))];
        default:
            return std::string(commands[below(11)]) + (below(5) ? "=" : "") +
                   (below(3) ? values[below(11)] : text());
        }
    }
    std::string reply() {
        switch (below(6)) {
        case 0:
            return "";
        case 1:
            return std::to_string(number()) + " " + std::to_string(number());
        case 2:
            return "99999999999999999999 -99999999999999999999";
        case 3:
            return "'" + text() + "' '" + text();
        case 4:
            return text();
        default:
            return std::to_string(1 + below(999)) + " " + std::to_string(1 + below(999));
        }
    }

private:
    std::mt19937_64 engine_;
};

// One delivery of a random life, drawn before it is run, so that the same life can be run
// again on another component and compared.
struct Step {
    enum Kind { Report, Press, Parent, Advance, Tick, ReleaseNull, Message, Ignored };
    Kind kind = Ignored;
    std::int32_t a = 0, b = 0, c = 0;
    std::string text, text2;
    bool nullText = false;
    int release = -1; // after a parent command: which held answer to hand back, if any
    bool switchAfter = false;
    std::int32_t sd = 0, sc = 0, ss = 0; // the facility change made after the step
};

struct Life {
    Facility facility;
    std::string path;
    std::vector<Step> steps;
};

Life randomLife(Randomness& rnd) {
    Life life;
    std::vector<std::string> names = {"", "A", "it's", "x y"};
    for (const std::string& name : names) {
        FacilityInstance instance{1 + rnd.below(999), 1 + rnd.below(999), rnd.text(), std::nullopt};
        if (rnd.below(2)) instance.reply = rnd.reply();
        life.facility.instances[name] = instance;
    }
    names.push_back("unknown");
    life.path = rnd.below(2) ? "" : rnd.text();
    const int count = 20 + rnd.below(60);
    for (int i = 0; i < count; ++i) {
        Step step;
        const int type = rnd.below(11) - 1; // -1 to 9
        switch (type) {
        case 1:
            step.kind = Step::Report;
            step.a = rnd.number();
            step.b = rnd.number();
            step.c = rnd.below(3) ? rnd.below(2) : rnd.number();
            break;
        case 2: {
            static const char* const panels[] = {"1", "2", "01", "", "1 "};
            step.kind = Step::Press;
            step.text = panels[rnd.below(5)];
            step.text2 = rnd.below(4) ? "MyContact_Tile" : rnd.text();
            break;
        }
        case 3:
            step.kind = Step::Parent;
            step.text = rnd.parentText(names);
            step.nullText = rnd.below(30) == 0;
            step.release = rnd.below(3) ? rnd.below(1 << 20) : -1;
            break;
        case 4:
            step.kind = rnd.below(2) ? Step::Advance : Step::Tick;
            step.a = step.kind == Step::Advance ? rnd.below(25000) : rnd.number();
            break;
        case 5:
            step.kind = Step::ReleaseNull;
            break;
        case 6:
        case 7:
            step.kind = Step::Message;
            step.a = type;
            break;
        default:
            step.a = type; // types the component must ignore: their data is never read
            break;
        }
        if (rnd.below(10) == 0) {
            step.switchAfter = true;
            step.sd = rnd.number();
            step.sc = rnd.number();
            step.ss = rnd.below(2);
        }
        life.steps.push_back(step);
    }
    return life;
}

// A component living one life in its own host, a step at a time; the transcript holds what it
// did, in order, for comparison with another run of the same life.
class Run {
public:
    Run(const Plugin& plugin, const Life& life) : life_(life), host_(life.facility) {
        if (!host_.create(plugin, life.path)) problem_ = "no component";
        take();
    }
    bool done() const { return !problem_.empty() || next_ > life_.steps.size(); }
    const std::string& problem() const { return problem_; }
    // The step the problem was found in, counting from 1; past the last: the ending.
    std::size_t failedStep() const { return failedStep_; }
    const std::vector<std::string>& transcript() const { return transcript_; }

    // Runs the next step, or ends the life after the last one.
    void step() {
        if (done()) return;
        progress();
        if (next_ == life_.steps.size()) {
            host_.destroy(); // hands back the answers it kept first
            take();
            ++next_;
            fail(lifeProblems(host_));
            return;
        }
        run(life_.steps[next_++]);
        take();
        if (!host_.monitor.breaches().empty()) fail(host_.monitor.breaches().front().text());
    }
    void finish() {
        while (!done())
            step();
    }

private:
    void fail(const std::string& what) {
        if (!what.empty() && problem_.empty()) {
            problem_ = "step " + std::to_string(next_) + ": " + what;
            failedStep_ = next_;
        }
    }
    void take() {
        for (; taken_ < host_.events.size(); ++taken_)
            transcript_.push_back(std::to_string(host_.events[taken_].kind) + " " +
                                  host_.events[taken_].text);
    }
    void run(const Step& step) {
        switch (step.kind) {
        case Step::Report:
            host_.report(step.a, step.b, step.c);
            break;
        case Step::Press:
            host_.press(step.text, step.text2);
            break;
        case Step::Parent: {
            host_.parentCommand(step.nullText ? nullptr : &step.text, true);
            if (step.release >= 0) host_.release(step.release);
            break;
        }
        case Step::Advance:
            host_.advance(step.a);
            break;
        case Step::Tick:
            host_.tick(step.a);
            break;
        case Step::ReleaseNull:
            host_.dispatch(nullptr, VORN_MSG_RELEASE);
            break;
        case Step::Message:
            host_.message(step.a);
            break;
        case Step::Ignored:
            host_.message(step.a);
            break;
        }
        if (step.switchAfter) host_.switchContact(step.sd, step.sc, step.ss);
    }

    const Life& life_;
    EmulatedHost host_;
    std::size_t next_ = 0;
    std::size_t taken_ = 0;
    std::vector<std::string> transcript_;
    std::string problem_;
    std::size_t failedStep_ = 0;
};

// A text as one word of a scenario line: escaped, with blanks written as \x20 and the empty
// text as \x00 (which reads back as the empty text).
std::string word(const std::string& text) {
    if (text.empty()) return "\\x00";
    std::string out;
    for (char c : escape(text))
        out += c == ' ' ? std::string("\\x20") : std::string(1, c);
    return out;
}

// Writes a failing life as a scenario file (and its facility as a configuration beside it)
// that `vorn-host run` replays; returns the scenario's path, or empty when it cannot be
// written.
// A path as one word of a command a person copies: in double quotes when it has a blank.
std::string shellWord(const std::string& path) {
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

std::string writeReplay(const Life& life, const CheckContext& context, int index,
                        std::size_t failedStep, const std::string& problem) {
    const std::uint64_t seed = context.seed;
    const std::string dir = temporaryFolder();
    const std::string stem =
        "vorn-validate-" + std::to_string(seed) + "-life" + std::to_string(index);
    const std::string ini = dir + "/" + stem + ".ini", vorn = dir + "/" + stem + ".vorn";
    std::ofstream config(ini);
    config << "# The facility of life " << index << " of seed " << seed << ".\n";
    // No labels: the check ran with an empty configuration, and so does the replay.
    for (const auto& [name, instance] : life.facility.instances) {
        config << "[instances." << name << "]\ndevice = " << instance.device
               << "\ncontact = " << instance.contact << "\n";
        if (instance.reply) config << "reply = \"" << *instance.reply << "\"\n";
    }
    std::ofstream out(vorn);
    out << "# Written by vorn-host validate: life " << index << " of seed " << seed
        << ", which failed the check 'random'.\n# Replay: vorn-host run --plugin "
        << shellWord(context.pluginPath) << " " << shellWord(vorn) << "\nconfig " << stem
        << ".ini\ncreate " << escape(life.path) << "\n";
    for (std::size_t i = 0; i < life.steps.size(); ++i) {
        const Step& step = life.steps[i];
        switch (step.kind) {
        case Step::Report:
            out << "report " << step.a << " " << step.b << " " << step.c << "\n";
            break;
        case Step::Press:
            out << "press " << word(step.text) << " " << word(step.text2) << "\n";
            break;
        case Step::Parent:
            out << (step.nullText ? std::string("message 3") : "hold " + escape(step.text)) << "\n";
            if (step.release >= 0) out << "release " << step.release << "\n";
            break;
        case Step::Advance:
            out << "advance " << step.a << "\n";
            break;
        case Step::Tick:
            out << "tick " << step.a << "\n";
            break;
        case Step::ReleaseNull:
            out << "message 5\n";
            break;
        case Step::Message:
        case Step::Ignored:
            out << "message " << step.a << "\n";
            break;
        }
        if (step.switchAfter)
            out << "switch " << step.sd << " " << step.sc << " " << step.ss << "\n";
        if (i + 1 == failedStep) {
            out << "# The check found here: " << escape(problem) << "\n";
            return out ? vorn : std::string();
        }
    }
    out << "delete\n# The check found: " << escape(problem) << "\n";
    return out && config ? vorn : std::string();
}

std::string createDeleteInARow(const CheckContext& context) {
    std::vector<std::string> first[2];
    for (int i = 0; i < 1000; ++i) {
        progress();
        const std::string where = "life " + std::to_string(i) + ": ";
        EmulatedHost host;
        if (!host.create(context.plugin, i % 2 ? "" : "p")) return where + "no component";
        host.destroy();
        const std::string problem = lifeProblems(host);
        if (!problem.empty()) return where + problem;
        // Every life with the same folder sends the same commands: nothing is carried over.
        const std::vector<std::string> commands = commandsOf(host);
        if (i < 2)
            first[i] = commands;
        else if (commands != first[i % 2])
            return where + "commands differ from the first such life; expected:\n" +
                   join(first[i % 2]) + "  actual:\n" + join(commands);
    }
    return {};
}

std::string nullHostLife(const CheckContext& context) {
    Randomness rnd(context.seed);
    vorn_client_callback* component = context.plugin.create(nullptr, "panels");
    if (!component) return "no component";
    for (int i = 0; i < 200; ++i) {
        progress();
        std::string text = rnd.parentText({"A", ""});
        char* answer = component->dispatch(i % 50 ? text.data() : nullptr, VORN_MSG_PARENT);
        if (answer && std::strlen(answer) == 0) return "an empty answer buffer";
        component->dispatch(answer, VORN_MSG_RELEASE);
        HostDeviceRecord report{rnd.number(), 0, rnd.number(), rnd.number()};
        component->dispatch(&report, VORN_MSG_DEVICE_REPORT);
        const std::string control = rnd.text();
        HostButtonRecord press{0, 0, "1", control.c_str()};
        component->dispatch(&press, VORN_MSG_BUTTON);
        component->dispatch(reinterpret_cast<void*>(static_cast<std::intptr_t>(rnd.number())),
                            VORN_MSG_TIMER);
    }
    std::int32_t opaque[16] = {};
    for (int type : {0, 5, 6, 7, 8, -1})
        component->dispatch(type == 5 ? nullptr : opaque, type);
    vorn_abi_delete(component);
    return {};
}

// Lives run side by side, each in its own host, a step of each in turn; deleted in an order
// unrelated to creation.
std::string interleaved(const CheckContext& context, const std::vector<Life>& lives,
                        std::vector<std::unique_ptr<Run>>& runs) {
    for (const Life& life : lives)
        runs.push_back(std::make_unique<Run>(context.plugin, life));
    // Turns in a scattered order that still visits every run: a stride with no factor in
    // common with their number.
    std::size_t stride = 17;
    while (std::gcd(stride, runs.size()) != 1)
        ++stride;
    for (bool more = true; more;) {
        more = false;
        for (std::size_t k = 0; k < runs.size(); ++k) {
            Run& run = *runs[(k * stride) % runs.size()];
            if (run.done()) continue;
            run.step();
            more = true;
        }
    }
    for (std::size_t i = 0; i < runs.size(); ++i)
        if (!runs[i]->problem().empty())
            return "component " + std::to_string(i) + ", " + runs[i]->problem();
    return {};
}

std::string manyAlive(const CheckContext& context) {
    Randomness rnd(context.seed ^ 0x5a5a);
    std::vector<Life> lives;
    for (int i = 0; i < 50; ++i)
        lives.push_back(randomLife(rnd));
    std::vector<std::unique_ptr<Run>> runs;
    return interleaved(context, lives, runs);
}

std::string independence(const CheckContext& context) {
    Randomness rnd(context.seed ^ 0xa5a5);
    std::vector<Life> lives;
    for (int i = 0; i < 8; ++i)
        lives.push_back(randomLife(rnd));
    std::vector<std::unique_ptr<Run>> together;
    std::string problem = interleaved(context, lives, together);
    if (!problem.empty()) return problem;
    for (std::size_t i = 0; i < lives.size(); ++i) {
        Run alone(context.plugin, lives[i]);
        alone.finish();
        if (!alone.problem().empty())
            return "component " + std::to_string(i) + " alone, " + alone.problem();
        const std::vector<std::string>& a = alone.transcript();
        const std::vector<std::string>& b = together[i]->transcript();
        const auto diff = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
        if (diff.first != a.end() || diff.second != b.end())
            return "component " + std::to_string(i) + " behaved differently beside others, at " +
                   "event " + std::to_string(diff.first - a.begin()) + ": alone '" +
                   (diff.first != a.end() ? *diff.first : "(end)") + "', beside others '" +
                   (diff.second != b.end() ? *diff.second : "(end)") + "'";
    }
    return {};
}

std::string randomSequences(const CheckContext& context) {
    Randomness rnd(context.seed);
    for (int i = 0; i < context.iterations; ++i) {
        const Life life = randomLife(rnd);
        Run run(context.plugin, life);
        run.finish();
        if (!run.problem().empty()) {
            const std::string problem = "life " + std::to_string(i) + ", " + run.problem();
            const std::string replay =
                writeReplay(life, context, i, run.failedStep(), run.problem());
            return problem + (replay.empty()
                                  ? ""
                                  : "\n        replay: vorn-host run --plugin " +
                                        shellWord(context.pluginPath) + " " + shellWord(replay));
        }
    }
    return {};
}

} // namespace

const std::vector<ValidatorCheck>& validatorChecks() {
    static const std::vector<ValidatorCheck> checks = {
        {"create-delete", "1000 components created and deleted in a row, each alike",
         createDeleteInARow},
        {"null-host", "a whole life with a null host client", nullHostLife},
        {"many-alive", "50 components alive at once, driven in turns, keep the host contract",
         manyAlive},
        {"independence", "a component beside others behaves as it does alone", independence},
        {"random", "random message sequences keep the host contract", randomSequences},
    };
    return checks;
}

const ValidatorCheck* findValidatorCheck(const std::string& name) {
    for (const ValidatorCheck& check : validatorChecks())
        if (name == check.name) return &check;
    return nullptr;
}

namespace {

// How one isolated check ended.
struct Outcome {
    enum Kind { Passed, Failed, Crashed, TimedOut, NotRun } kind = NotRun;
    std::string detail; // the problem, the signal or exception, or why it did not run
};

// The verdict of a child that ended by itself, from its report alone; how it ended (its exit
// status) only names what happened when the report has no verdict.
Outcome judged(const std::string& report, const std::string& howItEnded) {
    Outcome outcome;
    const std::size_t mark = report.find(verdictMark);
    if (mark == std::string::npos || mark + 1 >= report.size()) {
        outcome.kind = Outcome::Failed;
        outcome.detail = "the check ended before it finished: the plug-in ended the process (" +
                         howItEnded + ")";
    } else if (report[mark + 1] == 'P') {
        outcome.kind = Outcome::Passed;
    } else {
        outcome.kind = Outcome::Failed;
        outcome.detail = report.substr(mark + 2);
    }
    return outcome;
}

// What a crashed child's report says of its crash ("vorn-host: the plug-in read a reply after
// handing it back ([read-after-loan]) in ..."), as ": what"; empty when it says nothing.
std::string crashLine(const std::string& report) {
    const std::string lead = "vorn-host: the plug-in ";
    const std::size_t at = report.find(lead);
    // "crashed (signal 11)" says no more than the signal itself.
    if (at == std::string::npos || report.compare(at + lead.size(), 7, "crashed") == 0) return {};
    std::string line = report.substr(at + lead.size());
    line = line.substr(0, line.find_first_of("\r\n"));
    return ": " + line.substr(0, line.find(" in the check "));
}

// Says how long a child may go on: false once it has run past the check's limit, or made no
// progress for the hang limit; then outcome says which.
class Watch {
public:
    explicit Watch(const ValidateOptions& options)
        : options_(options), start_(std::chrono::steady_clock::now()), last_(start_) {}
    void progressed() { last_ = std::chrono::steady_clock::now(); }
    // Milliseconds to wait for the child at most, before looking again.
    long wait() const {
        const auto now = std::chrono::steady_clock::now();
        const auto until = std::min(start_ + std::chrono::seconds(options_.timeoutSeconds),
                                    last_ + std::chrono::seconds(options_.hangSeconds));
        return std::max<long>(
            0, static_cast<long>(
                   std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()));
    }
    bool expired(Outcome& outcome) const {
        const auto now = std::chrono::steady_clock::now();
        if (now >= start_ + std::chrono::seconds(options_.timeoutSeconds)) {
            outcome.kind = Outcome::TimedOut;
            outcome.detail = "after " + std::to_string(options_.timeoutSeconds) + " s";
            return true;
        }
        if (now >= last_ + std::chrono::seconds(options_.hangSeconds)) {
            outcome.kind = Outcome::TimedOut;
            outcome.detail = "no progress for " + std::to_string(options_.hangSeconds) +
                             " s: a call into the plug-in did not return";
            return true;
        }
        return false;
    }

private:
    const ValidateOptions& options_;
    std::chrono::steady_clock::time_point start_, last_;
};

#ifdef _WIN32
// A child process of this program runs the check (validate --child NAME) and prints what it
// found into a file; its exit code tells how it ended.
Outcome isolated(const ValidatorCheck& check, const std::string& plugin,
                 const ValidateOptions& options, std::uint64_t seed) {
    Outcome outcome;
    char exe[MAX_PATH];
    if (!GetModuleFileNameA(nullptr, exe, MAX_PATH)) {
        outcome.detail = "cannot find vorn-host.exe itself";
        return outcome;
    }
    char dir[MAX_PATH], file[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "vvc", 0, file);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_TEMPORARY, nullptr);
    std::string command = std::string("\"") + exe + "\" validate --child " + check.name +
                          " --seed " + std::to_string(seed) + " --iterations " +
                          std::to_string(options.iterations) + " \"" + plugin + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        CloseHandle(output);
        DeleteFileA(file);
        outcome.detail = "cannot start a child process";
        return outcome;
    }
    CloseHandle(output);
    // The report grows while the check makes progress.
    HANDLE report = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    Watch watch(options);
    LARGE_INTEGER seen{};
    bool expired = false;
    while (WaitForSingleObject(process.hProcess, static_cast<DWORD>(std::min<long>(
                                                     watch.wait(), 200))) == WAIT_TIMEOUT) {
        LARGE_INTEGER size{};
        if (report != INVALID_HANDLE_VALUE && GetFileSizeEx(report, &size) &&
            size.QuadPart > seen.QuadPart) {
            seen = size;
            watch.progressed();
        }
        if (watch.expired(outcome)) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, INFINITE);
            expired = true;
            break;
        }
    }
    if (report != INVALID_HANDLE_VALUE) CloseHandle(report);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    DeleteFileA(file);
    if (expired) return outcome;
    // An exception ends a process with its code, which is never a small number.
    if (code > 255) {
        outcome.kind = Outcome::Crashed;
        char hex[32];
        std::snprintf(hex, sizeof hex, "exception 0x%08lx", static_cast<unsigned long>(code));
        outcome.detail = hex + crashLine(text);
        return outcome;
    }
    return judged(text, "exit status " + std::to_string(code));
}
#else
// A forked copy of this process runs the check and writes what it found into a pipe.
Outcome isolated(const ValidatorCheck& check, const Plugin& plugin, const std::string& path,
                 const ValidateOptions& options, std::uint64_t seed) {
    Outcome outcome;
    int channel[2];
    if (pipe(channel) != 0) {
        outcome.detail = "cannot make a pipe";
        return outcome;
    }
    std::cout.flush();
    const pid_t pid = fork();
    if (pid < 0) {
        close(channel[0]);
        close(channel[1]);
        outcome.detail = "cannot fork";
        return outcome;
    }
    if (pid == 0) {
        close(channel[0]);
        runForParent(check, CheckContext{plugin, seed, options.iterations, absolutePath(path)},
                     channel[1]);
        _exit(0);
    }
    close(channel[1]);
    std::string text;
    Watch watch(options);
    bool expired = false;
    for (;;) {
        if (watch.expired(outcome)) {
            expired = true;
            break;
        }
        pollfd wait{channel[0], POLLIN, 0};
        const int ready = poll(&wait, 1, static_cast<int>(watch.wait()));
        if (ready <= 0) continue; // interrupted, or a limit to look at again
        char chunk[4096];
        const ssize_t n = read(channel[0], chunk, sizeof chunk);
        if (n <= 0) break; // the child is done with it
        text.append(chunk, static_cast<std::size_t>(n));
        watch.progressed();
    }
    close(channel[0]);
    if (expired) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (expired) return outcome;
    if (WIFSIGNALED(status)) {
        outcome.kind = Outcome::Crashed;
        outcome.detail = "signal " + std::to_string(WTERMSIG(status)) + crashLine(text);
        return outcome;
    }
    return judged(text, "exit status " + std::to_string(WEXITSTATUS(status)));
}
#endif

bool selected(const ValidatorCheck& check, const ValidateOptions& options) {
    auto named = [&](const std::vector<std::string>& names) {
        return std::find(names.begin(), names.end(), check.name) != names.end();
    };
    return (options.only.empty() || named(options.only)) && !named(options.skip);
}

} // namespace

namespace {
// A configuration file with nothing in it, for the battery.
std::string emptyConfiguration() {
    const std::string path = temporaryFolder() + "/vorn-validate-empty.ini";
    std::ofstream(path) << "# vorn-host validate: no labels\n";
    return path;
}
} // namespace

int validatePlugin(const std::string& path, const ValidateOptions& options, std::ostream& out,
                   std::ostream& err) {
    Plugin plugin;
    std::string error;
    if (!plugin.open(path, error)) {
        err << "vorn-host: " << error << "\n";
        return 2;
    }
    // The battery's verdict is the same whatever the caller's environment holds: no labels,
    // neither from VORN_CONFIG nor from a vorn.ini beside the plug-in. A replay of a life runs
    // with a facility file that has none either.
    if (options.child.empty())
        setEnvironment("VORN_CONFIG", emptyConfiguration()); // children inherit it
    // Every check's debug texts are caught, whether or not it makes a host of its own.
    DebugTap::instance();
    const std::uint64_t seed =
        options.seedGiven ? options.seed
                          : static_cast<std::uint64_t>(
                                std::chrono::steady_clock::now().time_since_epoch().count()) %
                                1000000007ull;
    if (!options.child.empty()) { // one check, here, for the parent's report (Windows)
        const ValidatorCheck* check = findValidatorCheck(options.child.front());
        out.flush();
        runForParent(*check, CheckContext{plugin, seed, options.iterations, absolutePath(path)}, 1);
        return 0;
    }
    out << "validating " << path << "\nseed " << seed << " (replay with --seed " << seed << "), "
        << options.iterations << " random sequences, " << options.timeoutSeconds
        << " s for each check, " << options.hangSeconds << " s without progress\n"
        << std::flush;

    int passed = 0, failed = 0;
    std::vector<JUnitCase> cases;
    for (const ValidatorCheck& check : validatorChecks()) {
        if (!selected(check, options)) continue;
        const auto started = std::chrono::steady_clock::now();
        out << "RUN     " << check.name << ": " << check.what << std::endl;
#ifdef _WIN32
        const Outcome outcome = isolated(check, path, options, seed);
#else
        const Outcome outcome = isolated(check, plugin, path, options, seed);
#endif
        // One line per check: its verdict first, as the report reads.
        static const char* const lines[] = {"PASSED  ", "FAILED  ", "CRASHED ", "TIMED OUT ",
                                            "NOT RUN "};
        static const char* const verdicts[] = {"passed", "failed", "crashed", "timed out",
                                               "not run"};
        ++(outcome.kind == Outcome::Passed ? passed : failed);
        out << lines[outcome.kind];
        switch (outcome.kind) {
        case Outcome::Crashed:
            out << "(" << outcome.detail << ") " << check.name << "\n";
            break;
        case Outcome::TimedOut:
            out << check.name << " (" << outcome.detail << ")\n";
            break;
        default:
            out << check.name << (outcome.detail.empty() ? "" : ": " + outcome.detail) << "\n";
        }
        out.flush();
        JUnitCase c;
        c.name = check.name;
        c.kind = outcome.kind == Outcome::Passed ? JUnitCase::Passed : JUnitCase::Failure;
        c.message =
            std::string(check.name) + " " + verdicts[outcome.kind] +
            (outcome.detail.empty() ? ""
                                    : ": " + outcome.detail.substr(0, outcome.detail.find('\n')));
        c.detail = outcome.detail;
        c.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        cases.push_back(c);
    }
    if (passed + failed == 0) {
        err << "vorn-host: no check selected (see validate --list)\n";
        return 2;
    }
    out << passed << " passed, " << failed << " failed\n";
    if (!options.junit.empty() &&
        !writeJUnit(options.junit, "vorn-host validate " + path, cases, error)) {
        err << "vorn-host: " << error << "\n";
        return 2;
    }
    return failed ? 1 : 0;
}
