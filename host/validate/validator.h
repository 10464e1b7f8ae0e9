// The validation battery: anyone can run it against any plug-in file. Its checks hold every
// plug-in to the host contract; a component's own behaviour is its scenarios' business.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class Plugin;

struct ValidateOptions {
    std::uint64_t seed = 0;
    bool seedGiven = false;
    int iterations = 200;
    int timeoutSeconds = 120;       // each check's limit
    int hangSeconds = 10;           // a check that makes no progress this long has hung
    std::vector<std::string> only;  // run only these checks (empty: all)
    std::vector<std::string> skip;  // and not these
    std::string junit;              // where to write a JUnit XML report, if anywhere
};

// What a check is given: the loaded plug-in, the battery's seed, the number of random lives.
struct CheckContext {
    std::shared_ptr<const Plugin> plugin;
    std::uint64_t seed;
    int iterations;
    std::string pluginPath; // absolute, for the replay command a check prints
};

// One check of the battery: empty when it passed, else what went wrong. A new check is a
// function in a file of its own (checks.h) and a row of validatorChecks() (validator.cpp).
struct ValidatorCheck {
    const char* name; // short, for selecting it
    const char* what; // what it checks, one line
    std::string (*run)(const CheckContext& context);
};

// Every check, in the order they run.
const std::vector<ValidatorCheck>& validatorChecks();
const ValidatorCheck* findValidatorCheck(const std::string& name);

// Loads the plug-in in a child process first (a file that crashes the loader is "cannot load"),
// then runs each selected check isolated in a sandbox's child of its own (sandbox.h), so that a
// crash or a hang ends only that check: its name is printed before it runs, then PASSED, FAILED, CRASHED or TIMED OUT. Ends with "N passed, N
// failed"; returns the exit status (0: all passed, 1: a check did not pass, 2: the plug-in
// cannot be loaded). The battery does not read the caller's VORN_CONFIG.
int validatePlugin(const std::string& plugin, const ValidateOptions& options, std::ostream& out,
                   std::ostream& err);
