// vorn-host: plays the host of a script component, with a simulated facility of GPI devices.
#include "plugin.h"
#include "scenario_runner.h"
#include "step.h"
#include "validator.h"

#include "crash_report.h"
#include "junit.h"
#include "sandbox.h"
#ifdef VORN_SERVE
#include "server.h"
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <sys/stat.h>
#ifdef VORN_LINE_EDITING
#include <editline/readline.h>
#endif
#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

#ifndef VORN_VERSION
#define VORN_VERSION "unknown"
#endif
#ifndef VORN_BUILT_PLUGIN
#define VORN_BUILT_PLUGIN "" // the plug-in of this build, relative to this program
#endif

namespace {

const char* const usage = R"(usage:
  vorn-host run [options] SCENARIO...   run scenario files; '-' reads steps from standard input
  vorn-host validate [options] PLUGIN   run the validation battery against a plug-in file
  vorn-host serve [options] [SCENARIO]  serve the panel as a local web page of live tiles
  vorn-host --help | --version

options of run:
  --plugin FILE     the plug-in to load when a scenario has no 'load' step
                    (default: Contact_Tile beside this program, else the one built with it,
                    found from where this program is)
  --config FILE     configuration and facility file (VORN_CONFIG for the plug-in), unless a
                    scenario names its own with 'config'
  --quiet           print only failures and the summary line
  --record OUT      write the steps run to OUT, each followed by all it made the component do
                    as expectations, so that 'vorn-host run OUT' passes
  --junit FILE      write a JUnit XML report: one test case per scenario file
  --timeout S       a step (a call into the plug-in) that has not returned within S seconds
                    ends the run, naming the step; 0 to 3600, 0 for no limit (default 60)
  Ctrl-C ends the run as the end of its input does: the component's teardown is shown and
  the recording kept.
options of validate:
  --seed N          seed of the random message sequences, 0 to 18446744073709551615
                    (default: random; always printed)
  --iterations N    number of random message sequences, 1 to 1000000 (default 200)
  --timeout S       limit of each check in seconds, 1 to 3600 (default 120)
  --hang S          a check that makes no progress for S seconds (a call into the plug-in
                    that does not return) has hung, 1 to 3600 (default 10)
  --list            list the checks
  --only NAME       run only this check (may be given more than once)
  --skip NAME       do not run this check (may be given more than once)
  --junit FILE      write a JUnit XML report: one test case per check
options of serve:
  --plugin FILE     the plug-in of the tiles (default as for run)
  --config FILE     configuration and facility file: its [tiles.NAME] sections (instance =
                    NAME, and settings as parent commands), else one tile for each instance
  --port N          the port, 0 to 65535 (default 8150; 0: any free one, printed)
  --listen ADDR     the address to listen on (default 127.0.0.1); any other lets other
                    machines drive the panel, and is warned of
  --timeout S       a step not answered within S seconds has hung, 1 to 3600 (default 10)
  SCENARIO          a scenario file replayed on the page at the start
Options take their value as "--name value" or "--name=value".

exit status: 0 all passed; 1 an expectation or check failed; 2 a malformed scenario line, a
scenario without steps, a plug-in that cannot be loaded, a wrong command line, or output that
could not be written.
)";

int usageError(const std::string& message) {
    std::cerr << "vorn-host: " << message << "\n(see vorn-host --help)\n";
    return 2;
}

// Options as "--name value" or "--name=value".
class Arguments {
public:
    Arguments(int argc, char** argv, int first) : argc_(argc), argv_(argv), i_(first) {}
    bool done() const { return i_ >= argc_; }
    // The next argument; for "--name=value" the name, with the value kept for value().
    std::string next() {
        std::string arg = argv_[i_++];
        inline_.clear();
        hasInline_ = false;
        const std::size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inline_ = arg.substr(eq + 1);
            hasInline_ = true;
            arg.resize(eq);
        }
        return arg;
    }
    bool value(std::string& out) {
        if (hasInline_) {
            out = inline_;
            hasInline_ = false;
            return true;
        }
        if (i_ >= argc_) return false;
        out = argv_[i_++];
        return true;
    }
    bool leftover() const { return hasInline_; }

private:
    int argc_;
    char** argv_;
    int i_;
    std::string inline_;
    bool hasInline_ = false;
};

// A whole number within [low, high]; the error names the range.
bool wholeNumber(const std::string& name, const std::string& text, unsigned long long low,
                 unsigned long long high, unsigned long long& value, std::string& error) {
    bool digits = !text.empty();
    for (char c : text)
        digits = digits && c >= '0' && c <= '9';
    errno = 0;
    char* end = nullptr;
    const unsigned long long n = digits ? std::strtoull(text.c_str(), &end, 10) : 0;
    if (!digits || errno == ERANGE || n < low || n > high) {
        error = name + " takes a whole number from " + std::to_string(low) + " to " +
                std::to_string(high) + ", not '" + text + "'";
        return false;
    }
    value = n;
    return true;
}

// Standard output that could not be written is a failure of the run, whatever it found.
int finished(int status) {
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "vorn-host: cannot write to standard output\n";
        return 2;
    }
    return status;
}

#ifdef VORN_LINE_EDITING
// Typed steps with line editing and history.
class EditedInput final : public ScenarioInput {
public:
    bool next(std::string& line) override {
        char* typed = readline("> ");
        if (!typed) {
            std::cout << "\n";
            return false;
        }
        line = typed;
        if (*typed) add_history(typed);
        std::free(typed);
        return true;
    }
};
#endif

// Typed steps without line editing: a prompt before each line.
class PromptedInput final : public ScenarioInput {
public:
    bool next(std::string& line) override {
        std::cout << "> " << std::flush;
        if (std::getline(std::cin, line)) return true;
        std::cout << "\n";
        return false;
    }
};

// The plug-in vorn-host runs when none is named: Contact_Tile beside this program (as a
// package holds it), else the one of the build this program comes from, found from where this
// program is (empty when neither is there).
std::string defaultPlugin() {
    std::string self;
#ifdef _WIN32
    char name[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, name, MAX_PATH);
    if (n > 0 && n < MAX_PATH) self.assign(name, n);
    const char* file = "Contact_Tile.dll";
#else
    char name[4096];
    const ssize_t n = readlink("/proc/self/exe", name, sizeof name - 1);
    if (n > 0) self.assign(name, static_cast<std::size_t>(n));
    const char* file = "Contact_Tile.so";
#endif
    const std::size_t slash = self.find_last_of("/\\");
    if (slash == std::string::npos) return {};
    struct stat st;
    for (const std::string& candidate : {std::string(file), std::string(VORN_BUILT_PLUGIN)}) {
        if (candidate.empty()) continue;
        const std::string path = self.substr(0, slash + 1) + candidate;
        if (::stat(path.c_str(), &st) == 0) return path;
    }
    return {};
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Runs one scenario file (or standard input) here: in the sandbox's child.
RunResult runHere(const std::string& file, const RunOptions& options) {
    if (file != "-") {
        std::ifstream stream(file);
        StreamInput in(stream);
        return runScenario(in, file, options, std::cout, std::cerr);
    }
    RunOptions typed = options;
    typed.interactive = isatty(0) != 0;
    if (!typed.interactive) {
        StreamInput in(std::cin);
        return runScenario(in, "-", typed, std::cout, std::cerr);
    }
#ifdef VORN_LINE_EDITING
    EditedInput in;
#else
    PromptedInput in;
#endif
    std::cout << "Type steps (see 'help'); 'quit' or end of input ends the run.\n";
    return runScenario(in, "-", typed, std::cout, std::cerr);
}

// A file name as one argument of a command line on Windows.
std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Runs one scenario in the sandbox: the plug-in is loaded in the child, and whatever it does
// there (a crash, an exit, a hang past --timeout) ends the child, never this run. The verdict
// comes from the child's result alone.
RunResult runApart(const std::string& file, const RunOptions& options,
                   const std::string& recordPath) {
    SandboxChild child{"run --timeout " + std::to_string(options.stepSeconds), false};
    if (!options.plugin.empty()) child.arguments += " --plugin " + quoted(options.plugin);
    if (!options.config.empty()) child.arguments += " --config " + quoted(options.config);
    if (options.quiet) child.arguments += " --quiet";
    if (!recordPath.empty()) child.arguments += " --record-append " + quoted(recordPath);
    child.arguments += " " + quoted(file);
    const SandboxOutcome outcome = sandboxRun(
        "the scenario " + file, [&] { return encodeRunResult(runHere(file, options)); }, child,
        SandboxLimits{0, 0}); // a step's limit is the child's own (--timeout)
    RunResult result;
    std::string problem;
    switch (outcome.kind) {
    case SandboxOutcome::Finished:
        if (decodeRunResult(outcome.detail, result)) return result;
        problem = "the run's result cannot be read";
        break;
    case SandboxOutcome::Ended:
        problem = "the scenario ended before it finished (" + outcome.detail + ")";
        break;
    case SandboxOutcome::Crashed:
        problem = "the plug-in crashed (" + outcome.detail + "): the scenario ended there";
        break;
    case SandboxOutcome::TimedOut:
    case SandboxOutcome::NotRun:
        problem = "cannot run the scenario: " + outcome.detail;
        result.malformed = true;
        break;
    }
    result.failures = std::max(result.failures, 1);
    result.problems.push_back(file + ": " + problem);
    std::cerr << result.problems.back() << "\n";
    return result;
}

int run(int argc, char** argv) {
    RunOptions options;
    options.plugin = defaultPlugin();
    std::vector<std::string> files;
    std::string recordPath, junitPath, reportPath;
    bool append = false;
    for (Arguments args(argc, argv, 2); !args.done();) {
        const std::string arg = args.next();
        if (arg == "--help" || arg == "-h") {
            std::cout << usage << "\n" << scenarioHelp();
            return finished(0);
        } else if (arg == "--plugin" || arg == "--config" || arg == "--record" ||
                   arg == "--junit" || arg == "--record-append" || arg == "--report") {
            std::string value;
            if (!args.value(value) || value.empty()) return usageError(arg + " needs a file");
            if (arg == "--record-append") append = true;
            (arg == "--plugin"   ? options.plugin
             : arg == "--config" ? options.config
             : arg == "--junit"  ? junitPath
             : arg == "--report" ? reportPath
                                 : recordPath) = value;
        } else if (arg == "--quiet") {
            if (args.leftover()) return usageError("--quiet takes no value");
            options.quiet = true;
        } else if (arg == "--timeout") {
            std::string value, error;
            unsigned long long n = 0;
            if (!args.value(value)) return usageError(arg + " needs a value");
            if (!wholeNumber(arg, value, 0, 3600, n, error)) return usageError(error);
            options.stepSeconds = static_cast<int>(n);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option " + arg);
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return usageError("run needs a scenario file or '-'");
    if (std::count(files.begin(), files.end(), "-") > 1)
        return usageError("'-' (standard input) can be read only once");
    std::ofstream recording;
    if (!recordPath.empty()) {
        recording.open(recordPath, append ? std::ios::app : std::ios::trunc);
        if (!recording) return usageError(recordPath + ": cannot write the recording");
        if (!append)
            recording << "# Recorded by vorn-host run: each step, then all it made the "
                         "components do.\n";
        recording.flush(); // the children append to it
        options.record = &recording;
    }
    interruptWatch();
    if (!reportPath.empty()) { // the sandbox's child on Windows: one scenario, here
#ifdef _WIN32
        const int fd = _open(reportPath.c_str(), _O_WRONLY | _O_BINARY);
#else
        const int fd = ::open(reportPath.c_str(), O_WRONLY);
#endif
        if (fd < 0 || files.size() != 1) return usageError("--report is the sandbox's own");
        sandboxChild(
            "the scenario " + files.front(),
            [&] { return encodeRunResult(runHere(files.front(), options)); }, fd, false);
        return finished(0);
    }
    std::vector<JUnitCase> cases;
    int passed = 0, failed = 0, expectations = 0, mismatches = 0;
    bool malformed = false;
    for (const std::string& file : files) {
        if (interrupted()) break;
        const auto started = std::chrono::steady_clock::now();
        if (file != "-" && (!std::ifstream(file) || isDirectory(file))) {
            const std::string problem = file + ":0: cannot read the scenario file" +
                                        (isDirectory(file) ? " (it is a folder)" : "");
            std::cerr << problem << "\n";
            cases.push_back({JUnitCase::Error, file, problem, problem, 0});
            malformed = true;
            ++failed;
            continue;
        }
        const RunResult result = runApart(file, options, recordPath);
        std::cout.flush();
        malformed = malformed || result.malformed;
        expectations += result.expectations;
        mismatches += result.failures;
        if (result.failures == 0 && !result.malformed)
            ++passed;
        else
            ++failed;
        JUnitCase c;
        c.name = file;
        c.kind = result.malformed      ? JUnitCase::Error
                 : result.failures > 0 ? JUnitCase::Failure
                                       : JUnitCase::Passed;
        for (const std::string& p : result.problems)
            c.detail += p + "\n";
        if (!result.problems.empty())
            c.message = result.problems.front().substr(0, result.problems.front().find('\n'));
        c.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        cases.push_back(c);
    }
    if (recording.is_open()) {
        recording.close();
        if (!recording) {
            std::cerr << "vorn-host: " << recordPath << ": cannot write the recording\n";
            malformed = true;
        }
    }
    std::string error;
    if (!junitPath.empty() && !writeJUnit(junitPath, "vorn-host run", cases, error)) {
        std::cerr << "vorn-host: " << error << "\n";
        malformed = true;
    }
    std::cout << "scenarios: " << passed << " passed, " << failed
              << " failed; expectations: " << expectations << ", mismatches: " << mismatches
              << "\n";
    return finished(malformed ? 2 : failed ? 1 : 0);
}

int validate(int argc, char** argv) {
    ValidateOptions options;
    std::string plugin;
    for (Arguments args(argc, argv, 2); !args.done();) {
        const std::string arg = args.next();
        std::string value, error;
        unsigned long long n = 0;
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            return finished(0);
        } else if (arg == "--list") {
            for (const ValidatorCheck& check : validatorChecks())
                std::cout << check.name << "  " << check.what << "\n";
            return finished(0);
        } else if (arg == "--seed" || arg == "--iterations" || arg == "--timeout" ||
                   arg == "--hang") {
            if (!args.value(value)) return usageError(arg + " needs a value");
            if (arg == "--seed") {
                if (!wholeNumber(arg, value, 0, ~0ull, n, error)) return usageError(error);
                options.seed = n;
                options.seedGiven = true;
            } else if (arg == "--iterations") {
                if (!wholeNumber(arg, value, 1, 1000000, n, error)) return usageError(error);
                options.iterations = static_cast<int>(n);
            } else {
                if (!wholeNumber(arg, value, 1, 3600, n, error)) return usageError(error);
                (arg == "--timeout" ? options.timeoutSeconds : options.hangSeconds) =
                    static_cast<int>(n);
            }
        } else if (arg == "--only" || arg == "--skip" || arg == "--child") {
            if (!args.value(value)) return usageError(arg + " needs a check's name");
            if (!findValidatorCheck(value) && !(arg == "--child" && value == "load"))
                return usageError("no check named '" + value + "' (see validate --list)");
            (arg == "--only"   ? options.only
             : arg == "--skip" ? options.skip
                               : options.child)
                .push_back(value);
        } else if (arg == "--junit") {
            if (!args.value(options.junit) || options.junit.empty())
                return usageError("--junit needs a file");
        } else if (arg == "--config") {
            return usageError("validate takes no --config: the battery makes its own facility, "
                              "so that its verdict does not depend on a file");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option " + arg);
        } else if (plugin.empty()) {
            plugin = arg;
        } else {
            return usageError("validate takes one plug-in file");
        }
    }
    if (plugin.empty()) return usageError("validate needs a plug-in file");
    return finished(validatePlugin(plugin, options, std::cout, std::cerr));
}

int serveCommand(int argc, char** argv) {
#ifdef VORN_SERVE
    ServeOptions options;
    options.plugin = defaultPlugin();
    bool child = false;
    for (Arguments args(argc, argv, 2); !args.done();) {
        const std::string arg = args.next();
        std::string value, error;
        unsigned long long n = 0;
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            return finished(0);
        } else if (arg == "--plugin" || arg == "--config") {
            if (!args.value(value) || value.empty()) return usageError(arg + " needs a file");
            (arg == "--plugin" ? options.plugin : options.config) = value;
        } else if (arg == "--listen") {
            if (!args.value(value) || value.empty()) return usageError(arg + " needs an address");
            options.listen = value;
            options.listenGiven = true;
        } else if (arg == "--port" || arg == "--timeout") {
            if (!args.value(value)) return usageError(arg + " needs a value");
            if (!wholeNumber(arg, value, arg == "--port" ? 0 : 1, arg == "--port" ? 65535 : 3600, n,
                             error))
                return usageError(error);
            (arg == "--port" ? options.port : options.stepSeconds) = static_cast<int>(n);
        } else if (arg == "--child") { // the session's own process, on Windows
            child = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option " + arg);
        } else if (options.scenario.empty()) {
            options.scenario = arg;
        } else {
            return usageError("serve takes one scenario file");
        }
    }
    if (child) return serveChild(options);
    options.childArguments = "serve --child";
    if (!options.plugin.empty()) options.childArguments += " --plugin \"" + options.plugin + "\"";
    return finished(serve(options));
#else
    (void)argc;
    (void)argv;
    std::cerr << "vorn-host: serve is not in this build (it needs cpp-httplib and "
                 "nlohmann-json when it is built)\n";
    return 2;
#endif
}

} // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
    // Output to a reader that has gone is a write error (exit 2), not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (argc < 2) return usageError("no command");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << usage << "\n" << scenarioHelp();
        return finished(0);
    }
    if (command == "--version") {
        std::cout << "vorn-host " << VORN_VERSION << "\n";
        return finished(0);
    }
    if (command == "run") return run(argc, argv);
    if (command == "validate") return validate(argc, argv);
    if (command == "serve") return serveCommand(argc, argv);
    return usageError("unknown command " + command);
}
