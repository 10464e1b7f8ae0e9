#include "validator.h"

#include "checks.h"
#include "lives.h"
#include "plugin.h"
#include "report.h"
#include "sandbox.h"
#include "shrink.h"
#include "trial.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

const std::vector<ValidatorCheck>& validatorChecks() {
    static const std::vector<ValidatorCheck> checks = {
        {"create-delete", "lifecycle", 1,
         "1000 components created and deleted in a row, each alike", createDeleteInARow, nullptr},
        {"null-host", "lifecycle", 1, "a whole life with a null host client", nullHostLife,
         nullptr},
        {"changing-config", "lifecycle", 2,
         "components made while their configuration file changes between them", nullptr,
         changingConfiguration},
        {"delete-anywhere", "lifecycle", 2, "a long life ended and deleted after each of its steps",
         nullptr, deletedAnywhere},
        {"random", "lives", 1, "random message sequences keep the host contract", nullptr,
         randomSequences},
        {"many-alive", "lives", 2,
         "50 components alive at once, driven in turns, keep the host contract", nullptr,
         manyAlive},
        {"independence", "lives", 2, "a component beside others behaves as it does alone", nullptr,
         independence},
        {"determinism", "lives", 2, "the same life twice gives the same transcript", nullptr,
         determinism},
        {"repeat", "messages", 2, "every message of random lives delivered twice in a row", nullptr,
         repeatedMessages},
        {"held-answers", "answers", 2, "64 answers held at once, handed back out of order and late",
         nullptr, heldAnswers},
        {"long-texts", "texts", 2, "parent commands of 64 KiB and of every byte value", nullptr,
         longAndOddTexts},
        {"foreign-timers", "timers", 2, "ticks of timers the component did not start", nullptr,
         foreignTimers},
        {"storm", "reports", 3, "100,000 device reports to a bound component", nullptr,
         reportStorm},
    };
    return checks;
}

const ValidatorCheck* findValidatorCheck(const std::string& name) {
    for (const ValidatorCheck& check : validatorChecks())
        if (name == check.name) return &check;
    return nullptr;
}

namespace {

bool selected(const ValidatorCheck& check, const ValidateOptions& options) {
    auto named = [&](const std::vector<std::string>& names) {
        return std::find(names.begin(), names.end(), check.name) != names.end();
    };
    return (options.only.empty() || named(options.only)) && !named(options.skip);
}

// A configuration file with nothing in it, for the battery.
std::string emptyConfiguration() {
    const std::string path = temporaryFolder() + "/vorn-validate-empty.ini";
    std::ofstream(path) << "# vorn-host validate: no labels\n";
    return path;
}

CheckContext contextOf(const SandboxMessage& job, std::shared_ptr<const Plugin> plugin) {
    return CheckContext{std::move(plugin), job["seed"].get<std::uint64_t>(), job["iterations"],
                        absolutePath(job["plugin"]), std::chrono::milliseconds(job["stepMs"])};
}

// The child's job: the plug-in loaded, then one check run on it ("check" empty: the load
// alone). A check made of trials says which trial it starts ({"type":"trial","index":N}), so
// that the parent knows the trial a crash ended; its result names a failing trial and its
// verdict.
const SandboxJobType checkJob{
    "check", [](const SandboxMessage& job, SandboxChildSide& side) {
        const std::string path = job["plugin"], name = job["check"];
        const ValidatorCheck* check = name.empty() ? nullptr : findValidatorCheck(name);
        auto plugin = std::make_shared<Plugin>();
        std::string error;
        if (!plugin->open(path, error)) {
            side.result({{"loaded", false}, {"found", error}});
            return;
        }
        if (!check) {
            side.result({{"loaded", true}});
            return;
        }
        const CheckContext context = contextOf(job, plugin);
        if (check->run) {
            const CheckFinding finding = check->run(context);
            side.result(
                {{"loaded", true}, {"outcome", finding.outcome}, {"found", finding.detail}});
            return;
        }
        const std::vector<Trial> trials = check->trials(context);
        for (std::size_t i = 0; i < trials.size(); ++i) {
            side.send({{"type", "trial"}, {"index", i}});
            const TrialVerdict v = runTrial(plugin, trials[i], context.stepLimit);
            if (!v.passed()) {
                side.result({{"loaded", true},
                             {"outcome", CheckFinding::Failed},
                             {"found", v.text},
                             {"trial", i},
                             {"verdict", verdictJson(v)}});
                return;
            }
        }
        side.result({{"loaded", true}, {"outcome", CheckFinding::Passed}, {"found", ""}});
    }};

// The child's job: the trial a check made of trials ran as "index", as data.
const SandboxJobType trialOfJob{
    "trial-of", [](const SandboxMessage& job, SandboxChildSide& side) {
        const ValidatorCheck* check = findValidatorCheck(job["check"]);
        auto plugin = std::make_shared<Plugin>();
        std::string error;
        if (!check || !check->trials || !plugin->open(job["plugin"], error)) {
            side.result({{"error", error.empty() ? "no such check" : error}});
            return;
        }
        const std::vector<Trial> trials = check->trials(contextOf(job, plugin));
        const std::size_t index = job["index"];
        if (index >= trials.size())
            side.result({{"error", "no trial " + std::to_string(index)}});
        else
            side.result({{"trial", trialJson(trials[index])}});
    }};

SandboxMessage jobOf(const std::string& path, const std::string& check, std::uint64_t seed,
                     const ValidateOptions& options) {
    return {{"plugin", path},
            {"check", check},
            {"seed", seed},
            {"iterations", options.iterations},
            {"stepMs", options.hangSeconds * 1000}};
}

// A check's child: its messages until its result, or its end.
struct CheckRun {
    SandboxOutcome outcome;
    std::optional<std::size_t> trial; // the last trial it started
};
CheckRun runCheck(const std::string& path, const ValidatorCheck& check, std::uint64_t seed,
                  const ValidateOptions& options) {
    CheckRun run;
    SandboxChild child;
    if (!child.start(checkJob, jobOf(path, check.name, seed, options),
                     std::string("the check ") + check.name, SandboxOutput::Discard)) {
        run.outcome = child.outcome();
        return run;
    }
    // In a check made of trials, a step's own limit (in the child) names the step that hangs;
    // this one, a little later, ends a child that makes no progress anywhere else.
    const SandboxLimits limits{options.timeoutSeconds,
                               options.hangSeconds + (check.trials ? 2 : 0)};
    SandboxMessage message;
    while (child.receive(message, limits)) {
        if (message["type"] == "trial") {
            run.trial = message["index"].get<std::size_t>();
        } else if (message["type"] == "result") {
            run.outcome = child.outcome();
            run.outcome.kind = SandboxOutcome::Finished;
            run.outcome.result = message["value"];
            child.stop();
            return run;
        }
    }
    run.outcome = child.outcome();
    return run;
}

// A new folder, never one that is there: "NAME", else "NAME-2", "NAME-3"...
std::string newFolder(const std::string& name, std::string& error) {
    std::error_code ec;
    for (int n = 1; n < 1000; ++n) {
        const std::string path = n == 1 ? name : name + "-" + std::to_string(n);
        if (std::filesystem::create_directories(path, ec)) return path;
        if (ec) break;
    }
    error = "cannot make the folder " + name + (ec ? ": " + ec.message() : "");
    return {};
}

std::string defaultOut(const std::string& plugin, std::uint64_t seed) {
    const std::time_t now = std::time(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
    return "vorn-validate-" + std::filesystem::path(plugin).stem().string() + "-seed" +
           std::to_string(seed) + "-" + stamp;
}

// The failure of a check made of trials: the trial fetched, shrunk, written as a replay.
void shrinkAndReplay(const std::string& path, const ValidatorCheck& check, std::uint64_t seed,
                     const ValidateOptions& options, std::size_t index, const TrialVerdict& found,
                     const std::string& outDir, CheckRecord& record) {
    const SandboxOutcome fetched = sandboxRun(
        trialOfJob,
        [&] {
            SandboxMessage job = jobOf(path, check.name, seed, options);
            job["index"] = index;
            return job;
        }(),
        "the trials of the check " + std::string(check.name),
        SandboxLimits{options.timeoutSeconds, options.hangSeconds + 2}, SandboxOutput::Discard);
    Trial trial;
    std::string error;
    if (fetched.kind != SandboxOutcome::Finished || !fetched.result.contains("trial") ||
        !trialFromJson(fetched.result["trial"], trial, error)) {
        record.note =
            "not shrunk: its trial could not be made again (" +
            (fetched.kind == SandboxOutcome::Finished ? fetched.result.value("error", error)
                                                      : fetched.describe()) +
            ")";
        return;
    }
    // Candidates run in children of their own; a step that hangs is judged there after a
    // second, or a quarter of one when a hang is what is shrunk. Rationale: a call that does
    // not return does not return sooner for a longer wait, and each hanging candidate costs
    // the wait, so a hang would otherwise have its time limit spent on a few candidates; a
    // step that is only slow cannot pass for a hang elsewhere, where a hang is another fault.
    const std::chrono::milliseconds stepLimit(found.kind == TrialVerdict::TimedOut ? 250 : 1000);
    record.shrunk = shrinkTrial(
        trial, found,
        [&](const Trial& candidate) { return runTrialInChild(path, candidate, stepLimit); },
        options.shrinkSeconds);
    record.trialIndex = index;
    record.replay = writeReplay(record.shrunk->trial, *record.shrunk, path, check.name, seed,
                                outDir, record.replayCommand);
}

} // namespace

int validatePlugin(const std::string& path, const ValidateOptions& options, std::ostream& out,
                   std::ostream& err) {
    // The battery's verdict is the same whatever the caller's environment holds: no labels,
    // neither from VORN_CONFIG nor from a vorn.ini beside the plug-in. A replay of a life runs
    // with a facility file that has none either.
    setEnvironment("VORN_CONFIG", emptyConfiguration()); // children inherit it
    // Every check's debug texts are caught, whether or not it makes a host of its own.
    DebugTap::instance();
    const auto batteryStarted = std::chrono::steady_clock::now();
    const std::uint64_t seed =
        options.seedGiven ? options.seed
                          : static_cast<std::uint64_t>(
                                std::chrono::steady_clock::now().time_since_epoch().count()) %
                                1000000007ull;
    // The library is loaded in a child first: a file that makes the loader crash or hang ends
    // that child, and vorn-host says why it cannot load it.
    const SandboxOutcome load =
        sandboxRun(checkJob, jobOf(path, "", seed, options), "loading the plug-in",
                   SandboxLimits{options.hangSeconds, 0}, SandboxOutput::Discard);
    if (load.kind != SandboxOutcome::Finished || !load.result.value("loaded", false)) {
        err << "vorn-host: "
            << (load.kind == SandboxOutcome::Finished
                    ? load.result.value("found", std::string("cannot load ") + path)
                    : "cannot load " + path + ": " + load.describe())
            << "\n";
        return 2;
    }
    std::string error;
    std::string outDir = options.out;
    if (outDir.empty()) {
        outDir = newFolder(defaultOut(path, seed), error);
    } else {
        std::error_code ec;
        std::filesystem::create_directories(outDir, ec);
        if (!std::filesystem::is_directory(outDir)) error = "cannot make the folder " + outDir;
    }
    if (!error.empty()) {
        err << "vorn-host: " << error << "\n";
        return 2;
    }
    out << "validating " << path << "\nseed " << seed << " (replay with --seed " << seed << "), "
        << options.iterations << " random sequences, level " << options.level << ", "
        << options.timeoutSeconds << " s for each check, " << options.hangSeconds
        << " s without progress\n"
        << std::flush;

    ValidationReport report;
    report.plugin = describePluginFile(path);
    report.hostVersion = options.hostVersion;
    report.seed = seed;
    report.iterations = options.iterations;
    report.level = options.level;
    report.outDir = outDir;
    int passed = 0, failed = 0, skipped = 0;
    for (const ValidatorCheck& check : validatorChecks()) {
        if (!selected(check, options)) continue;
        CheckRecord record;
        record.check = &check;
        const auto started = std::chrono::steady_clock::now();
        // A check named with --only runs whatever its level: it was asked for.
        if (check.level > options.level && options.only.empty()) {
            record.outcome = CheckRecord::Skipped;
            record.detail = "level " + std::to_string(check.level) + " (run with --level " +
                            std::to_string(check.level) + ")";
        } else {
            out << "RUN     " << check.name << ": " << check.what << std::endl;
            const CheckRun run = runCheck(path, check, seed, options);
            const SandboxOutcome& outcome = run.outcome;
            std::optional<TrialVerdict> verdict;
            switch (outcome.kind) {
            case SandboxOutcome::Finished: {
                record.detail = outcome.result.value("found", "");
                const int o = outcome.result.value("outcome", 0);
                record.outcome = o == CheckFinding::Failed    ? CheckRecord::Failed
                                 : o == CheckFinding::Skipped ? CheckRecord::Skipped
                                 : o == CheckFinding::Warning ? CheckRecord::Warning
                                                              : CheckRecord::Passed;
                if (outcome.result.contains("verdict"))
                    verdict = verdictFromJson(outcome.result["verdict"]);
                break;
            }
            case SandboxOutcome::Ended: // a verdict is never taken from an exit status
                record.outcome = CheckRecord::Failed;
                record.detail = "the check ended before it finished: " + outcome.describe();
                if (outcome.exitedInStep && run.trial) verdict = verdictOf(outcome);
                break;
            case SandboxOutcome::Crashed:
                record.outcome = CheckRecord::Crashed;
                record.detail = outcome.describe();
                if (run.trial) verdict = verdictOf(outcome);
                break;
            case SandboxOutcome::TimedOut:
                record.outcome = CheckRecord::TimedOut;
                record.detail = outcome.describe();
                if (run.trial && outcome.limit == SandboxOutcome::Step)
                    verdict = verdictOf(outcome);
                break;
            case SandboxOutcome::NotRun:
                record.outcome = CheckRecord::Failed;
                record.detail = outcome.describe();
                break;
            }
            if (verdict && run.trial) {
                record.found = *verdict;
                shrinkAndReplay(path, check, seed, options, *run.trial, *verdict, outDir, record);
            }
        }
        record.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        ++(record.counts() ? failed : record.outcome == CheckRecord::Skipped ? skipped : passed);
        out << verdictLine(record) << std::flush;
        report.checks.push_back(std::move(record));
    }
    if (report.checks.empty()) {
        err << "vorn-host: no check selected (see validate --list)\n";
        return 2;
    }
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - batteryStarted).count();
    out << passed << " passed, " << failed << " failed"
        << (skipped ? ", " + std::to_string(skipped) + " skipped" : "") << "\n";
    if (!writeReports(report, options.junit, error)) {
        err << "vorn-host: " << error << "\n";
        return 2;
    }
    out << "reports: " << outDir << "/report.html (and report.json, report.xml)\n";
    return failed ? 1 : 0;
}

int replayTrial(const std::string& file, const std::string& plugin, const ValidateOptions& options,
                std::ostream& out, std::ostream& err) {
    setEnvironment("VORN_CONFIG", emptyConfiguration());
    std::ifstream in(file);
    Trial trial;
    std::string error;
    const SandboxMessage json = SandboxMessage::parse(in, nullptr, false);
    if (!in && !in.eof()) error = "cannot read it";
    if (json.is_discarded()) error = "not JSON";
    if (!error.empty() || !trialFromJson(json, trial, error)) {
        err << "vorn-host: " << file << ": " << error << "\n";
        return 2;
    }
    const TrialVerdict v =
        runTrialInChild(plugin, trial, std::chrono::seconds(options.hangSeconds));
    if (v.passed()) {
        out << "PASSED  the trial of " << trial.lives.size() << " lives did not fail\n";
        return 0;
    }
    out << "FAILED  " << v.fault() << ": " << v.text << "\n";
    return 1;
}
