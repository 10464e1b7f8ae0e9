// Scenario files: one step a line, run against a plug-in through the emulated host.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

struct ScenarioStep {
    int line = 0;
    std::string keyword; // create, parent, press, ..., expect
    std::string text;    // the step's text argument, escapes resolved
    std::vector<std::int64_t> numbers;
    std::string expectKind; // for expect: command, debug, answer, no-answer, notify,
                            // panel, contact, ended, nothing
    std::string source;     // the line as written
};

struct ScenarioError {
    int line;
    std::string message;
};

// Parses one line; returns false with the error for a malformed line. Blank lines and comments
// give a step with an empty keyword.
bool parseScenarioLine(const std::string& raw, int line, ScenarioStep& step, std::string& error);
// Resolves \n, \t, \r, \\ and \xHH.
std::string unescape(const std::string& text);
// The reverse, for showing texts on one line.
std::string escape(const std::string& text);

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

extern const char* const scenarioHelp;
