// The scenario language: one step a line, each step and each expectation one row of a table
// that gives its keyword, its usage, its help text, how its line is read and what runs it.
// `vorn-host --help` prints the table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ScenarioRow;

// One line of a scenario, read.
struct ScenarioStep {
    int line = 0;
    std::string source;               // the line as written
    const ScenarioRow* row = nullptr; // null for a blank line or a comment
    std::string text;     // the step's text (a file, a folder, a parent command, an expected text)
    std::string property; // expect panel: the property
    std::string panel, control;        // press
    std::vector<std::int64_t> numbers; // report, switch, tick, advance (ms), message, contact
    bool isExpectation() const;
};

// What runs the steps: one operation per row. Each returns false when the run cannot go on
// past the step (a failure outside interactive use, or a fatal error).
class ScenarioRunner {
public:
    virtual bool config(const ScenarioStep& step) = 0;
    virtual bool load(const ScenarioStep& step) = 0;
    virtual bool create(const ScenarioStep& step) = 0;
    virtual bool parent(const ScenarioStep& step) = 0;
    virtual bool hold(const ScenarioStep& step) = 0;
    virtual bool release(const ScenarioStep& step) = 0;
    virtual bool press(const ScenarioStep& step) = 0;
    virtual bool report(const ScenarioStep& step) = 0;
    virtual bool switchContact(const ScenarioStep& step) = 0;
    virtual bool tick(const ScenarioStep& step) = 0;
    virtual bool advance(const ScenarioStep& step) = 0;
    virtual bool message(const ScenarioStep& step) = 0;
    virtual bool destroy(const ScenarioStep& step) = 0;
    virtual bool expectCommand(const ScenarioStep& step) = 0;
    virtual bool expectDebug(const ScenarioStep& step) = 0;
    virtual bool expectAnswer(const ScenarioStep& step) = 0;
    virtual bool expectNoAnswer(const ScenarioStep& step) = 0;
    virtual bool expectNotify(const ScenarioStep& step) = 0;
    virtual bool expectNothing(const ScenarioStep& step) = 0;
    virtual bool expectPanel(const ScenarioStep& step) = 0;
    virtual bool expectContact(const ScenarioStep& step) = 0;
    virtual bool expectEnded(const ScenarioStep& step) = 0;

protected:
    ~ScenarioRunner() = default;
};

struct ScenarioRow {
    enum Needs { Nothing, Host, Component }; // what a step needs before it runs
    const char* keyword; // "press"; an expectation's keyword starts with "expect"
    const char* usage;   // "press PANEL CONTROL": shown in help and in errors
    const char* help;
    // Reads what follows the keyword into the step; false with the error otherwise.
    bool (*parse)(const ScenarioRow& row, const std::string& rest, ScenarioStep& step,
                  std::string& error);
    bool (ScenarioRunner::*run)(const ScenarioStep& step);
    Needs needs;
};

// Every row, steps first, then expectations.
const std::vector<ScenarioRow>& scenarioRows();

// Reads one line; false with the error for a malformed line. A blank line or a comment gives a
// step without a row.
bool parseScenarioLine(const std::string& raw, int line, ScenarioStep& step, std::string& error);

// The language's help, made from the table.
std::string scenarioHelp();

// Resolves \n, \t, \r, \\ and \xHH; any other backslash is an error.
bool unescape(const std::string& text, std::string& out, std::string& error);
// A character as \xHH, the form texts give characters that cannot be shown.
std::string hexEscape(unsigned char c);
// The reverse, for showing texts on one line.
std::string escape(const std::string& text);
