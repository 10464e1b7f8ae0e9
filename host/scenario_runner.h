// Runs scenario files (scenario_language.h) against a plug-in through the emulated host.
#pragma once

#include <istream>
#include <ostream>
#include <string>

struct RunOptions {
    std::string plugin; // default plug-in file
    std::string config; // default configuration file
    bool quiet = false;
    bool interactive = false; // keep going after a failure, prompt on a terminal
};

struct RunResult {
    int failures = 0;
    bool malformed = false; // a line that is not a step, or a plug-in that cannot be loaded
};

// Runs the scenario read from "in"; "name" names it in messages and anchors relative paths.
RunResult runScenario(std::istream& in, const std::string& name, const RunOptions& options,
                      std::ostream& out, std::ostream& err);
