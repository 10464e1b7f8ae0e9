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

using Outcome = SandboxOutcome;

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
    auto plugin = std::make_shared<Plugin>();
    std::string error;
    if (!plugin->open(path, error)) {
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
        const CheckContext context{plugin, seed, options.iterations, absolutePath(path)};
        sandboxChild(std::string("the check ") + check->name, [&] { return check->run(context); },
                     1);
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
        const CheckContext context{plugin, seed, options.iterations, absolutePath(path)};
        const std::string arguments = std::string("validate --child ") + check.name + " --seed " +
                                      std::to_string(seed) + " --iterations " +
                                      std::to_string(options.iterations) + " \"" + path + "\"";
        const Outcome outcome = sandboxRun(
            std::string("the check ") + check.name, [&] { return check.run(context); }, arguments,
            SandboxLimits{options.timeoutSeconds, options.hangSeconds});
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
