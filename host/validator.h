// The validation battery: anyone can run it against a built plug-in file.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

struct ValidateOptions {
    std::uint64_t seed = 0;
    bool seedGiven = false;
    int iterations = 200;
    std::string config;
};

// Prints one line per test and "N passed, N failed"; returns the exit status (0: all passed,
// 1: a test failed, 2: the plug-in cannot be loaded).
int validatePlugin(const std::string& plugin, const ValidateOptions& options, std::ostream& out,
                   std::ostream& err);
