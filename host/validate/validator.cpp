#include "validator.h"

#include "checks.h"
#include "junit.h"
#include "lives.h"
#include "plugin.h"
#include "sandbox.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>

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

namespace {

// The child's job: the plug-in loaded, then one check run on it ("check" empty: the load alone).
// Its result: what the check found wrong, or why the plug-in cannot be loaded; empty: passed.
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
        std::string found;
        if (check)
            found = check->run(CheckContext{plugin, job["seed"].get<std::uint64_t>(),
                                            job["iterations"], absolutePath(path)});
        side.result({{"loaded", true}, {"found", found}});
    }};

SandboxOutcome inChild(const std::string& path, const std::string& check, std::uint64_t seed,
                       const ValidateOptions& options, const SandboxLimits& limits) {
    return sandboxRun(
        checkJob,
        {{"plugin", path}, {"check", check}, {"seed", seed}, {"iterations", options.iterations}},
        check.empty() ? "loading the plug-in" : "the check " + check, limits,
        SandboxOutput::Discard);
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
    const std::uint64_t seed =
        options.seedGiven ? options.seed
                          : static_cast<std::uint64_t>(
                                std::chrono::steady_clock::now().time_since_epoch().count()) %
                                1000000007ull;
    // The library is loaded in a child first: a file that makes the loader crash or hang ends
    // that child, and vorn-host says why it cannot load it.
    const SandboxOutcome load =
        inChild(path, "", seed, options, SandboxLimits{options.hangSeconds, 0});
    if (load.kind != SandboxOutcome::Finished || !load.result.value("loaded", false)) {
        err << "vorn-host: "
            << (load.kind == SandboxOutcome::Finished
                    ? load.result.value("found", std::string("cannot load ") + path)
                    : "cannot load " + path + ": " + load.describe())
            << "\n";
        return 2;
    }
    out << "validating " << path << "\nseed " << seed << " (replay with --seed " << seed << "), "
        << options.iterations << " random sequences, " << options.timeoutSeconds
        << " s for each check, " << options.hangSeconds << " s without progress\n"
        << std::flush;

    // One line per check: its verdict first, as the report reads.
    enum Verdict { Passed, Failed, Crashed, TimedOut, NotRun };
    static const char* const lines[] = {"PASSED  ", "FAILED  ", "CRASHED ", "TIMED OUT ",
                                        "NOT RUN "};
    static const char* const verdicts[] = {"passed", "failed", "crashed", "timed out", "not run"};
    int passed = 0, failed = 0;
    std::vector<JUnitCase> cases;
    for (const ValidatorCheck& check : validatorChecks()) {
        if (!selected(check, options)) continue;
        const auto started = std::chrono::steady_clock::now();
        out << "RUN     " << check.name << ": " << check.what << std::endl;
        const SandboxOutcome outcome =
            inChild(path, check.name, seed, options,
                    SandboxLimits{options.timeoutSeconds, options.hangSeconds});
        Verdict verdict = NotRun;
        std::string detail = outcome.describe();
        switch (outcome.kind) {
        case SandboxOutcome::Finished:
            detail = outcome.result.value("found", "");
            verdict = detail.empty() ? Passed : Failed;
            break;
        case SandboxOutcome::Ended: // a verdict is never taken from an exit status
            verdict = Failed;
            detail = "the check ended before it finished: " + detail;
            break;
        case SandboxOutcome::Crashed:
            verdict = Crashed;
            break;
        case SandboxOutcome::TimedOut:
            verdict = TimedOut;
            break;
        case SandboxOutcome::NotRun:
            break;
        }
        ++(verdict == Passed ? passed : failed);
        out << lines[verdict];
        out << check.name << (detail.empty() ? "" : ": " + detail) << "\n";
        out.flush();
        JUnitCase c;
        c.name = check.name;
        c.kind = verdict == Passed ? JUnitCase::Passed : JUnitCase::Failure;
        c.message = std::string(check.name) + " " + verdicts[verdict] +
                    (detail.empty() ? "" : ": " + detail.substr(0, detail.find('\n')));
        c.detail = detail;
        c.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        cases.push_back(c);
    }
    if (passed + failed == 0) {
        err << "vorn-host: no check selected (see validate --list)\n";
        return 2;
    }
    out << passed << " passed, " << failed << " failed\n";
    std::string error;
    if (!options.junit.empty() &&
        !writeJUnit(options.junit, "vorn-host validate " + path, cases, error)) {
        err << "vorn-host: " << error << "\n";
        return 2;
    }
    return failed ? 1 : 0;
}
