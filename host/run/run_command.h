// `vorn-host run`: each scenario file runs in a sandbox's child (sandbox.h), so that what the
// plug-in does there (a crash, an exit, a hang past the step limit) ends that file, never the
// run; the verdict comes from the child's result alone.
#pragma once

#include "scenario_runner.h"

#include <string>
#include <vector>

struct RunCommandOptions {
    RunOptions run;                 // plug-in, configuration, quiet, step limit
    bool pluginNamed = false;       // else each file's default (default_plugin.h)
    std::vector<std::string> files; // '-' for standard input, at most once
    std::string recordPath;         // empty: no recording
    std::string junitPath;          // empty: no JUnit report
};

// Runs the files and prints the summary; the exit status (0 passed, 1 failed, 2 malformed).
int runCommand(const RunCommandOptions& options);
