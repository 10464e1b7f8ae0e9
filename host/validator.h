// The validation battery: anyone can run it against any plug-in file. Its checks hold every
// plug-in to the host contract; a component's own behaviour is its scenarios' business.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class Plugin;

struct ValidateOptions {
    std::uint64_t seed = 0;
    bool seedGiven = false;
    int iterations = 200;
    std::string config;
};

// What a check is given: the loaded plug-in, the battery's seed, the number of random lives.
struct CheckContext {
    const Plugin& plugin;
    std::uint64_t seed;
    int iterations;
};

// One check of the battery: empty when it passed, else what went wrong.
struct ValidatorCheck {
    const char* name; // short, for selecting it
    const char* what; // what it checks, one line
    std::string (*run)(const CheckContext& context);
};

// Every check, in the order they run.
const std::vector<ValidatorCheck>& validatorChecks();

// Prints one line per check and "N passed, N failed"; returns the exit status (0: all passed,
// 1: a check failed, 2: the plug-in cannot be loaded).
int validatePlugin(const std::string& plugin, const ValidateOptions& options, std::ostream& out,
                   std::ostream& err);
