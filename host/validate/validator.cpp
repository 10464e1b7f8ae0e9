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

// The plug-in, loaded here: the job's own, so that what goes wrong in loading it is the child's.
std::string withPlugin(const std::string& path, const ValidateOptions& options, std::uint64_t seed,
                       const ValidatorCheck* check) {
    auto plugin = std::make_shared<Plugin>();
    std::string error;
    if (!plugin->open(path, error)) return error;
    if (!check) return {};
    return check->run(CheckContext{plugin, seed, options.iterations, absolutePath(path)});
}

// How the child of one check or of the load starts on Windows.
SandboxChild childOf(const std::string& name, const std::string& path, std::uint64_t seed,
                     const ValidateOptions& options) {
    return {"validate --child " + name + " --seed " + std::to_string(seed) + " --iterations " +
                std::to_string(options.iterations) + " \"" + path + "\"",
            true};
}

} // namespace

int validatePlugin(const std::string& path, const ValidateOptions& options, std::ostream& out,
                   std::ostream& err) {
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
    if (!options.child.empty()) { // one job, here, for the parent's report (Windows)
        const std::string& name = options.child.front();
        const ValidatorCheck* check = findValidatorCheck(name);
        out.flush();
        sandboxChild(
            check ? std::string("the check ") + name : "loading the plug-in",
            [&] { return withPlugin(path, options, seed, check); }, 1);
        return 0;
    }
    // The library is loaded in a child first: a file that makes the loader crash or hang ends
    // that child, and vorn-host says why it cannot load it.
    const SandboxOutcome load = sandboxRun(
        "loading the plug-in", [&] { return withPlugin(path, options, seed, nullptr); },
        childOf("load", path, seed, options), SandboxLimits{options.hangSeconds, 0});
    if (load.kind != SandboxOutcome::Finished || !load.detail.empty()) {
        err << "vorn-host: "
            << (load.kind == SandboxOutcome::Finished ? load.detail
                : load.kind == SandboxOutcome::Crashed
                    ? "cannot load " + path + ": the loader crashed (" + load.detail + ")"
                : load.kind == SandboxOutcome::Ended
                    ? "cannot load " + path + ": loading it ended the process (" + load.detail + ")"
                    : "cannot load " + path + ": " + load.detail)
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
        const SandboxOutcome outcome = sandboxRun(
            std::string("the check ") + check.name,
            [&] { return withPlugin(path, options, seed, &check); },
            childOf(check.name, path, seed, options),
            SandboxLimits{options.timeoutSeconds, options.hangSeconds});
        Verdict verdict = NotRun;
        std::string detail = outcome.detail;
        switch (outcome.kind) {
        case SandboxOutcome::Finished:
            verdict = detail.empty() ? Passed : Failed;
            break;
        case SandboxOutcome::Ended: // a verdict is never taken from an exit status
            verdict = Failed;
            detail = "the check ended before it finished: the plug-in ended the process (" +
                     detail + ")";
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
        switch (verdict) {
        case Crashed:
            out << "(" << detail << ") " << check.name << "\n";
            break;
        case TimedOut:
            out << check.name << " (" << detail << ")\n";
            break;
        default:
            out << check.name << (detail.empty() ? "" : ": " + detail) << "\n";
        }
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
