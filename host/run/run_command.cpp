#include "run_command.h"

#include "default_plugin.h"

#include "crash_report.h"
#include "junit.h"
#include "sandbox.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include <sys/stat.h>
#ifdef VORN_LINE_EDITING
#include <editline/readline.h>
#endif
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace {

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

// The child's job: one scenario file, its result to the parent. A recording is appended to the
// file the parent began.
const SandboxJobType runJob{
    "run", [](const SandboxMessage& job, SandboxChildSide& side) {
        RunOptions options = runOptionsFromJson(job["options"]);
        interruptWatch();
        std::ofstream recording;
        const std::string recordPath = job.value("record", "");
        if (!recordPath.empty()) {
            recording.open(recordPath, std::ios::app);
            options.record = &recording;
        }
        RunResult result = runHere(job["file"], options);
        if (recording.is_open()) {
            recording.close();
            if (!recording) {
                result.malformed = true;
                result.problems.push_back(recordPath + ": cannot write the recording");
                std::cerr << "vorn-host: " << result.problems.back() << "\n";
            }
        }
        std::cout.flush();
        side.result(runResultToJson(result));
    }};

// Runs one scenario in the sandbox: whatever the plug-in does there ends the child, never this
// run. A step's limit is the child's own (--timeout).
RunResult runApart(const std::string& file, const RunOptions& options,
                   const std::string& recordPath) {
    const SandboxOutcome outcome = sandboxRun(
        runJob, {{"file", file}, {"options", runOptionsToJson(options)}, {"record", recordPath}},
        "the scenario " + file, SandboxLimits{});
    RunResult result;
    if (outcome.kind == SandboxOutcome::Finished && runResultFromJson(outcome.result, result))
        return result;
    std::string problem;
    if (outcome.kind == SandboxOutcome::Finished)
        problem = "the run's result cannot be read";
    else if (outcome.kind == SandboxOutcome::NotRun)
        problem = outcome.describe();
    else
        problem = outcome.describe() + "; the scenario ended there";
    result.malformed = outcome.kind == SandboxOutcome::NotRun;
    result.failures = std::max(result.failures, 1);
    result.problems.push_back(file + ": " + problem);
    std::cerr << result.problems.back() << "\n";
    return result;
}

} // namespace

int runCommand(const RunCommandOptions& command) {
    RunOptions options = command.run;
    const std::vector<std::string>& files = command.files;
    const std::string& recordPath = command.recordPath;
    const std::string& junitPath = command.junitPath;
    if (!recordPath.empty()) {
        std::ofstream recording(recordPath, std::ios::trunc);
        recording << "# Recorded by vorn-host run: each step, then all it made the "
                     "components do.\n";
        recording.close();
        if (!recording) {
            std::cerr << "vorn-host: " << recordPath << ": cannot write the recording\n";
            return 2;
        }
    }
    interruptWatch();
    const std::vector<PluginCandidate> candidates =
        command.pluginNamed ? std::vector<PluginCandidate>{} : pluginCandidates();
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
        if (!command.pluginNamed) {
            const PluginChoice choice = defaultPluginFor(file, candidates);
            options.plugin = choice.path;
            options.noPlugin = choice.why;
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
    std::string error;
    if (!junitPath.empty() && !writeJUnit(junitPath, "vorn-host run", cases, error)) {
        std::cerr << "vorn-host: " << error << "\n";
        malformed = true;
    }
    std::cout << "scenarios: " << passed << " passed, " << failed
              << " failed; expectations: " << expectations << ", mismatches: " << mismatches
              << "\n";
    return malformed ? 2 : failed ? 1 : 0;
}
