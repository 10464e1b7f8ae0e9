// Steps: what a scenario, a recording, a random life of the validator and the web panel do to a
// session, as values. One line of the scenario language is one step; parseStep() reads it and
// formatStep() writes it, and the two round-trip: parseStep(formatStep(s)) == s.
//
// A new step kind is one alternative of StepKind (its fields through STEP_FIELDS), one row of
// stepRows() (step.cpp) and one case of Session::apply() (session.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

// Field types. The kind of a field says how it is read and written:
//   Word          one word (blanks inside as \x20, the empty text as "")
//   std::int32_t  one whole 32-bit number
//   Milliseconds  a duration: MS, or Ns for seconds
//   std::string   the rest of the line, as written (the last field only)
//   Setting       PROPERTY=VALUE, the rest of the line
// Texts take the escapes \n \t \r \\ \xHH.
struct Word : std::string {
    using std::string::string;
    Word(std::string text) : std::string(std::move(text)) {}
};
struct Milliseconds {
    std::int64_t ms = 0;
    bool operator==(const Milliseconds& o) const { return ms == o.ms; }
};
// PROPERTY=VALUE, or "PROPERTY unset": a property that was never put.
struct Setting {
    std::string property, value;
    bool unset = false;
    bool operator==(const Setting& o) const {
        return property == o.property && value == o.value && unset == o.unset;
    }
};

#define STEP_FIELDS(...)                                                                           \
    auto fields() {                                                                                \
        return std::tie(__VA_ARGS__);                                                              \
    }                                                                                              \
    auto fields() const {                                                                          \
        return std::tie(__VA_ARGS__);                                                              \
    }
#define STEP_NO_FIELDS                                                                             \
    std::tuple<> fields() const {                                                                  \
        return {};                                                                                 \
    }

namespace steps {
// Lines a person reads: "# TEXT". Nothing runs.
struct Comment {
    std::string text;
    STEP_FIELDS(text)
};
struct Config {
    std::string file;
    STEP_FIELDS(file)
};
struct Load {
    std::string file; // empty: the run's default plug-in
    STEP_FIELDS(file)
};
struct Create {
    std::string path;
    STEP_FIELDS(path)
};
struct Parent {
    std::string text;
    STEP_FIELDS(text)
};
struct Hold {
    std::string text;
    STEP_FIELDS(text)
};
struct Release {
    std::int32_t k = 0;
    STEP_FIELDS(k)
};
struct Press {
    Word panel, control;
    STEP_FIELDS(panel, control)
};
struct Report {
    std::int32_t device = 0, contact = 0, state = 0;
    STEP_FIELDS(device, contact, state)
};
struct Switch {
    std::int32_t device = 0, contact = 0, state = 0;
    STEP_FIELDS(device, contact, state)
};
struct Tick {
    std::int32_t timer = 0;
    STEP_FIELDS(timer)
};
struct Advance {
    Milliseconds by;
    STEP_FIELDS(by)
};
struct Message {
    std::int32_t type = 0;
    STEP_FIELDS(type)
};
struct Delete {
    STEP_NO_FIELDS
};
struct ExpectCommand {
    std::string text;
    STEP_FIELDS(text)
};
struct ExpectDebug {
    std::string text;
    STEP_FIELDS(text)
};
struct ExpectAnswer {
    std::string text;
    STEP_FIELDS(text)
};
struct ExpectNoAnswer {
    STEP_NO_FIELDS
};
struct ExpectNotify {
    std::string text;
    STEP_FIELDS(text)
};
struct ExpectNothing {
    STEP_NO_FIELDS
};
struct ExpectPanel {
    Setting setting;
    STEP_FIELDS(setting)
};
struct ExpectContact {
    std::int32_t device = 0, contact = 0, state = 0;
    STEP_FIELDS(device, contact, state)
};
struct ExpectEnded {
    STEP_NO_FIELDS
};
// What the steps did beyond the expectations before this one is not checked.
struct ExpectRest {
    STEP_NO_FIELDS
};
} // namespace steps

// In the order of the language table; expectations last.
using StepKind =
    std::variant<steps::Comment, steps::Config, steps::Load, steps::Create, steps::Parent,
                 steps::Hold, steps::Release, steps::Press, steps::Report, steps::Switch,
                 steps::Tick, steps::Advance, steps::Message, steps::Delete, steps::ExpectCommand,
                 steps::ExpectDebug, steps::ExpectAnswer, steps::ExpectNoAnswer,
                 steps::ExpectNotify, steps::ExpectNothing, steps::ExpectPanel,
                 steps::ExpectContact, steps::ExpectEnded, steps::ExpectRest>;

struct StepRow;

struct Step {
    StepKind kind;
    // The component the step addresses: "" is the unnamed one, which a file that drives one
    // component uses throughout. Steps that act on the facility or the session ignore it.
    std::string component;
    int line = 0; // where it was read; 0 for a step made otherwise

    const StepRow& row() const;
    bool isExpectation() const;
    bool isComment() const { return std::holds_alternative<steps::Comment>(kind); }
    // Kind, fields and component alike; where it was read does not count.
    bool operator==(const Step& other) const;
    bool operator!=(const Step& other) const { return !(*this == other); }
};

struct StepRow {
    // What a step needs before it runs: nothing, a plug-in loaded, or its component alive.
    enum Needs { Nothing, Plugin, Component };
    const char* keyword; // "press"; an expectation's starts with "expect"; a comment's is "#"
    const char* usage;   // "press PANEL CONTROL": shown in help and in errors
    const char* help;
    Needs needs;
    // Reads what follows the keyword; false with the error.
    bool (*parse)(const StepRow& row, const std::string& rest, StepKind& kind, std::string& error);
    // What follows the keyword, as parse reads it back (with its leading blank).
    std::string (*format)(const StepKind& kind);
};

// Every row, in the order of StepKind's alternatives.
const std::vector<StepRow>& stepRows();

// Reads one line. A blank line gives nothing; a malformed one nothing, with the error. A line
// "@NAME STEP" addresses the component NAME; a line without it the unnamed one.
std::optional<Step> parseStep(const std::string& line, int number, std::string& error);
// The line of a step.
std::string formatStep(const Step& step);

// A whole file read before any of it runs.
struct Script {
    std::vector<Step> steps; // comments included
    // Each malformed line: "LINE: why\n  line: the line as written".
    std::vector<std::string> errors;
};
// Reads the lines of a file, every one of them, whatever errors come before.
Script parseScript(const std::vector<std::string>& lines);
// Writes steps as parseScript reads them.
std::string formatScript(const std::vector<Step>& steps);
// The lines of a text as a file holds them, each without its line end (LF or CR LF); no line
// after a last line end.
std::vector<std::string> splitLines(const std::string& text);

// What a component's name is made of, after '@': letters, digits, '_', '-' and '.'.
bool isComponentNameCharacter(unsigned char c);
bool isComponentName(const std::string& name); // what may follow '@'

// The language's help, made from the table.
std::string scenarioHelp();

// Resolves \n, \t, \r, \\ and \xHH; any other backslash is an error.
bool unescape(const std::string& text, std::string& out, std::string& error);
// A character as \xHH, the form texts give characters that cannot be shown.
std::string hexEscape(unsigned char c);
// The reverse, for showing texts on one line.
std::string escape(const std::string& text);
// A line as written, its control characters shown as \xHH.
std::string visible(const std::string& line);
