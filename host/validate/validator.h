// The validation battery: anyone can run it against any plug-in file. Its checks hold every
// plug-in to the host contract; a component's own behaviour is its scenarios' business.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class Plugin;
struct Trial;

struct ValidateOptions {
    std::uint64_t seed = 0;
    bool seedGiven = false;
    int iterations = 200;
    int timeoutSeconds = 120;      // each check's limit
    int hangSeconds = 10;          // a check that makes no progress this long has hung
    int level = defaultLevel;      // the checks of this level and below run (and any named with
                                   // --only); the rest are skipped
    double shrinkSeconds = 10;     // each failure's shrinking
    std::vector<std::string> only; // run only these checks (empty: all)
    std::vector<std::string> skip; // and not these
    std::string junit;             // where to write a JUnit XML report, if anywhere
    std::string out;               // the folder for replays and reports (empty: a new one)
    std::string hostVersion;       // vorn-host's, for the reports
    static constexpr int defaultLevel = 2, highestLevel = 3;
};

// What a check is given: the loaded plug-in, the battery's seed, the number of random lives.
struct CheckContext {
    std::shared_ptr<const Plugin> plugin;
    std::uint64_t seed;
    int iterations;
    std::string pluginPath;              // absolute
    std::chrono::milliseconds stepLimit; // of one step of a trial
};

// What a check of its own kind found: passed, failed with why, skipped with why (it does not
// apply to this component), or a warning (the contract is kept, but a person should know).
struct CheckFinding {
    enum Outcome { Passed, Failed, Skipped, Warning } outcome = Passed;
    std::string detail;
    CheckFinding() = default;
    // Failed when there is a problem, else passed.
    CheckFinding(std::string problem) // NOLINT(google-explicit-constructor)
        : outcome(problem.empty() ? Passed : Failed), detail(std::move(problem)) {}
    CheckFinding(Outcome o, std::string why) : outcome(o), detail(std::move(why)) {}
};

// One check of the battery, as data. Either a check of its own kind (run), or one made of
// trials (trial.h): they are run in turn until one fails, and the failure is shrunk and written
// as a replay. A new check is a function in a file of its own (checks.h) and a row of
// validatorChecks() (validator.cpp).
struct ValidatorCheck {
    const char* name;  // short, for selecting it
    const char* topic; // what part of the contract it is about
    int level;         // 1: every run; higher: stricter runs (--level)
    const char* what;  // what it checks, one line
    CheckFinding (*run)(const CheckContext& context);
    std::vector<Trial> (*trials)(const CheckContext& context);
};

// Every check, in the order they run.
const std::vector<ValidatorCheck>& validatorChecks();
const ValidatorCheck* findValidatorCheck(const std::string& name);

// Loads the plug-in in a child process first (a file that crashes the loader is "cannot load"),
// then runs each selected check isolated in a sandbox's child of its own (sandbox.h), so that a
// crash or a hang ends only that check: its name is printed before it runs, then PASSED, FAILED,
// CRASHED, TIMED OUT, SKIPPED or WARNING. A failure of a check made of trials is shrunk and
// written as a replay; the replays and the reports (report.json, report.xml, report.html) go to
// the out folder. Ends with "N passed, N failed"; returns the exit status (0: none failed, 1: a
// check failed, 2: the plug-in cannot be loaded or the reports cannot be written). The battery
// does not read the caller's VORN_CONFIG.
int validatePlugin(const std::string& plugin, const ValidateOptions& options, std::ostream& out,
                   std::ostream& err);

// Runs a trial file that a validation wrote (a failure of several components side by side) in a
// child, as the check ran it, and says how it ended: 1 when it fails (it reproduced), 0 when it
// passes, 2 when the file or the plug-in cannot be read.
int replayTrial(const std::string& file, const std::string& plugin, const ValidateOptions& options,
                std::ostream& out, std::ostream& err);
