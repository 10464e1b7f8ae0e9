#include "step.h"

#include "host_command.h"

#include <cctype>
#include <cstdio>
#include <sstream>

bool unescape(const std::string& text, std::string& out, std::string& error) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        const char c = i + 1 < text.size() ? text[i + 1] : '\0';
        if (c == 'n') {
            out += '\n';
        } else if (c == 't') {
            out += '\t';
        } else if (c == 'r') {
            out += '\r';
        } else if (c == '\\') {
            out += '\\';
        } else if (c == 'x' && i + 3 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 2;
        } else {
            error = "unknown escape '\\" + escape(std::string(c ? 1 : 0, c)) +
                    "' (texts take \\n \\t \\r \\\\ \\xHH; write a backslash as \\\\)";
            return false;
        }
        ++i;
    }
    // Every text crosses to the plug-in as a C string: a NUL would end it there, and the host
    // and the component would each see another text.
    if (out.find('\0') != std::string::npos) {
        error = "a text cannot hold a NUL byte (\\x00): the host's texts end there";
        return false;
    }
    return true;
}

std::string hexEscape(unsigned char c) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    return hex;
}

std::string escape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\\')
            out += "\\\\";
        else if (c < 32 || c == 127)
            out += hexEscape(c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

std::string visible(const std::string& line) {
    std::string out;
    for (unsigned char c : line)
        out += c < 32 || c == 127 ? hexEscape(c) : std::string(1, static_cast<char>(c));
    return out;
}

namespace {

bool blank(const std::string& text, std::size_t from = 0) {
    return text.find_first_not_of(" \t", from) == std::string::npos;
}

bool expected(const StepRow& row, std::string& error) {
    error = std::string("expected '") + row.usage + "'";
    return false;
}

// Reading fields: each takes what it needs from the rest of the line at "at" and moves "at".
std::string nextWord(const std::string& rest, std::size_t& at) {
    const std::size_t start = rest.find_first_not_of(" \t", at);
    if (start == std::string::npos) {
        at = rest.size();
        return {};
    }
    const std::size_t end = rest.find_first_of(" \t", start);
    at = end == std::string::npos ? rest.size() : end;
    return rest.substr(start, at - start);
}

bool readField(Word& field, const StepRow& row, const std::string& rest, std::size_t& at,
               std::string& error) {
    const std::string word = nextWord(rest, at);
    if (word.empty()) return expected(row, error);
    if (word == "\"\"") {
        field.clear();
        return true;
    }
    return unescape(word, field, error);
}

bool readField(std::int32_t& field, const StepRow& row, const std::string& rest, std::size_t& at,
               std::string& error) {
    const std::string word = nextWord(rest, at);
    if (word.empty()) return expected(row, error);
    if (parseInt32(word, field)) return true;
    error = "'" + escape(word) + "' is not a 32-bit number; expected '" + row.usage + "'";
    return false;
}

bool readField(Milliseconds& field, const StepRow&, const std::string& rest, std::size_t& at,
               std::string& error) {
    std::string amount = nextWord(rest, at);
    std::int64_t scale = 1;
    if (!amount.empty() && amount.back() == 's') {
        amount.pop_back();
        scale = 1000;
    }
    std::int32_t v = 0;
    if (!parseInt32(amount, v) || v < 0) {
        error = "expected 'advance MS' or 'advance Ns' with a number of zero or more";
        return false;
    }
    field.ms = v * scale;
    return true;
}

// The rest of the line, after the one blank that follows the keyword.
bool readField(std::string& field, const StepRow&, const std::string& rest, std::size_t& at,
               std::string& error) {
    const std::string text = rest.substr(at);
    at = rest.size();
    return unescape(text, field, error);
}

bool readField(Setting& field, const StepRow& row, const std::string& rest, std::size_t& at,
               std::string& error) {
    const std::string text = rest.substr(at);
    at = rest.size();
    const std::size_t eq = text.find('=');
    static const std::string unset = " unset";
    if (eq == std::string::npos && text.size() > unset.size() &&
        text.compare(text.size() - unset.size(), unset.size(), unset) == 0 &&
        text.find(' ') == text.size() - unset.size()) {
        field.unset = true;
        return unescape(text.substr(0, text.size() - unset.size()), field.property, error);
    }
    if (eq == std::string::npos) return expected(row, error);
    return unescape(text.substr(0, eq), field.property, error) &&
           unescape(text.substr(eq + 1), field.value, error);
}

// Writing fields, each with the blank before it.
std::string writeField(const Word& field) {
    if (field.empty()) return " \"\"";
    std::string out = " ";
    for (char c : escape(field))
        out += c == ' ' ? std::string("\\x20") : std::string(1, c);
    return out == " \"\"" ? " \\x22\\x22" : out;
}
std::string writeField(const std::int32_t& field) {
    return " " + std::to_string(field);
}
std::string writeField(const Milliseconds& field) {
    return field.ms > 0 && field.ms % 1000 == 0 ? " " + std::to_string(field.ms / 1000) + "s"
                                                : " " + std::to_string(field.ms);
}
std::string writeField(const std::string& field) {
    return field.empty() ? "" : " " + escape(field);
}
std::string writeField(const Setting& field) {
    std::string property;
    for (char c : escape(field.property))
        property += c == '='   ? std::string("\\x3d")
                    : c == ' ' ? std::string("\\x20")
                               : std::string(1, c);
    return field.unset ? " " + property + " unset" : " " + property + "=" + escape(field.value);
}

// A row's reading and writing, made from the fields of its step.
template <class T, auto Valid>
bool parseKind(const StepRow& row, const std::string& rest, StepKind& kind, std::string& error) {
    T step;
    auto fields = step.fields();
    constexpr std::size_t count = std::tuple_size_v<decltype(fields)>;
    if constexpr (count == 0) {
        if (!blank(rest)) {
            error = std::string("'") + row.usage + "' takes nothing after it";
            return false;
        }
    } else {
        std::size_t at = 0;
        bool ok = true;
        std::apply(
            [&](auto&... field) { ((ok = ok && readField(field, row, rest, at, error)), ...); },
            fields);
        if (!ok) return false;
        if (!blank(rest, at)) return expected(row, error);
    }
    if constexpr (!std::is_same_v<decltype(Valid), std::nullptr_t>) {
        if (!Valid(row, step, error)) return false;
    }
    kind = std::move(step);
    return true;
}

template <class T> std::string formatKind(const StepKind& kind) {
    std::string out;
    std::apply([&](const auto&... field) { ((out += writeField(field)), ...); },
               std::get<T>(kind).fields());
    return out;
}

template <class T, auto Valid = nullptr>
StepRow row(const char* keyword, const char* usage, const char* help, StepRow::Needs needs) {
    return {keyword, usage, help, needs, parseKind<T, Valid>, formatKind<T>};
}

// Checks beyond the fields' own.
bool isCommandText(const std::string& text) {
    return text.size() >= 2 && text[0] >= 'A' && text[0] <= 'Z' && text[1] >= 'A' &&
           text[1] <= 'Z' && (text.size() == 2 || text[2] == ' ');
}
bool commandText(const StepRow& row, const steps::ExpectCommand& step, std::string& error) {
    return isCommandText(step.text) || expected(row, error);
}
bool someFile(const StepRow& row, const steps::Config& step, std::string& error) {
    return !step.file.empty() || expected(row, error);
}
bool otherType(const StepRow&, const steps::Message& step, std::string& error) {
    if (step.type != 1 && step.type != 2 && step.type != 4) return true;
    error = "message types 1, 2 and 4 have steps of their own (report, press, tick)";
    return false;
}

using N = StepRow::Needs;
namespace s = steps;

std::vector<StepRow> makeRows() {
    std::vector<StepRow> rows = {
        row<s::Comment>("#", "# TEXT", "a comment", N::Nothing),
        row<s::Config, someFile>("config", "config FILE",
                                 "configuration and facility file (relative to the scenario)",
                                 N::Nothing),
        row<s::Load>("load", "load [FILE]", "load a plug-in file (default: --plugin)", N::Nothing),
        row<s::Create>("create", "create [PATH]",
                       "create the component with the panel folder PATH (may be empty); a live "
                       "one is deleted first",
                       N::Plugin),
        row<s::Parent>("parent", "parent TEXT",
                       "deliver a parent command (type 3); its answer is shown", N::Component),
        row<s::Hold>("hold", "hold TEXT",
                     "deliver a parent command and keep its answer until 'release' or the "
                     "component's end",
                     N::Component),
        row<s::Release>("release", "release K",
                        "hand back the kept answer K (0: the oldest; counted modulo how many are "
                        "kept)",
                        N::Component),
        row<s::Press>("press", "press PANEL CONTROL", "deliver a button press (type 2)",
                      N::Component),
        row<s::Report>("report", "report DEVICE CONTACT STATE", "deliver a device report (type 1)",
                       N::Component),
        row<s::Switch>("switch", "switch DEVICE CONTACT STATE",
                       "change a contact at the facility, as if switched from elsewhere: every "
                       "component registered for it hears of it",
                       N::Plugin),
        row<s::Tick>("tick", "tick TIMER", "deliver a timer tick (type 4) outside the clock",
                     N::Component),
        row<s::Advance>("advance", "advance MS",
                        "move the simulated clock (MS, or Ns for seconds): every component's "
                        "timers fall due",
                        N::Plugin),
        row<s::Message, otherType>(
            "message", "message TYPE",
            "deliver a message of another type: 3, a parent command with null data (its answer "
            "kept as 'hold' keeps it); 5 with null data; 6, 7, 0, 8, -1... with a zeroed block",
            N::Component),
        row<s::Delete>("delete", "delete", "delete the component", N::Component),
        row<s::ExpectCommand, commandText>(
            "expect", "expect XX ...",
            "the next command has exactly this text (XX: two upper-case letters)", N::Nothing),
        row<s::ExpectDebug>("expect debug", "expect debug TEXT",
                            "the next debug text (its line feed written as \\n)", N::Nothing),
        row<s::ExpectAnswer>("expect answer", "expect answer TEXT", "the parent command's answer",
                             N::Nothing),
        row<s::ExpectNoAnswer>("expect no answer", "expect no answer",
                               "the parent command had no answer", N::Nothing),
        row<s::ExpectNotify>("expect notify", "expect notify TEXT", "the next command is HN 'TEXT'",
                             N::Nothing),
        row<s::ExpectNothing>("expect nothing", "expect nothing",
                              "the steps did nothing more than the expectations before this one",
                              N::Nothing),
        row<s::ExpectPanel>("expect panel", "expect panel PROPERTY=VALUE | PROPERTY unset",
                            "the property of the control the component last put, or that it "
                            "never put it",
                            N::Plugin),
        row<s::ExpectContact>("expect contact", "expect contact DEVICE CONTACT STATE",
                              "the facility's state of that contact", N::Plugin),
        row<s::ExpectEnded>("expect ended", "expect ended", "the component has sent AS",
                            N::Nothing),
        row<s::ExpectRest>("expect ...", "expect ...",
                           "and anything else: what the steps did beyond the expectations before "
                           "this one is not checked",
                           N::Nothing),
    };
    return rows;
}

// The row whose keyword the line starts with, as a whole word: the longest that fits. Command
// texts start with upper-case letters, so "expect AS" can only be the bare "expect" row.
const StepRow* rowOf(const std::string& text, std::string& rest) {
    const StepRow* best = nullptr;
    std::size_t bestLength = 0;
    for (const StepRow& row : stepRows()) {
        const std::string keyword = row.keyword;
        if (keyword == "#" || text.compare(0, keyword.size(), keyword) != 0) continue;
        if (text.size() > keyword.size() && text[keyword.size()] != ' ') continue;
        if (keyword.size() > bestLength) {
            best = &row;
            bestLength = keyword.size();
        }
    }
    if (!best) return nullptr;
    rest = text.size() > bestLength ? text.substr(bestLength + 1) : "";
    return best;
}

std::string expectationForms() {
    std::string forms;
    for (const StepRow& row : stepRows()) {
        const std::string keyword = row.keyword;
        if (keyword.rfind("expect", 0) != 0) continue;
        if (!forms.empty()) forms += ", ";
        forms += keyword == "expect" ? "expect XX..." : keyword.substr(7);
    }
    return forms;
}

} // namespace

bool isComponentName(const std::string& name) {
    if (name.empty()) return false;
    for (unsigned char c : name)
        if (!isComponentNameCharacter(c)) return false;
    return true;
}

bool isComponentNameCharacter(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '-' || c == '.';
}

const std::vector<StepRow>& stepRows() {
    static const std::vector<StepRow> rows = makeRows();
    static_assert(std::variant_size_v<StepKind> == 24, "one row for each kind of step");
    return rows;
}

const StepRow& Step::row() const {
    return stepRows()[kind.index()];
}

namespace {
// The position of T among a variant's alternatives.
template <class T, class... Ts> constexpr std::size_t indexIn(std::variant<Ts...>*) {
    std::size_t i = 0;
    (void)((std::is_same_v<T, Ts> ? false : (++i, true)) && ...);
    return i;
}
} // namespace

bool Step::isExpectation() const {
    // Expectations are StepKind's last alternatives, from ExpectCommand on.
    return kind.index() >= indexIn<steps::ExpectCommand>(static_cast<StepKind*>(nullptr));
}

bool Step::operator==(const Step& other) const {
    if (component != other.component || kind.index() != other.kind.index()) return false;
    return std::visit(
        [&](const auto& mine) {
            using T = std::decay_t<decltype(mine)>;
            return mine.fields() == std::get<T>(other.kind).fields();
        },
        kind);
}

std::optional<Step> parseStep(const std::string& raw, int number, std::string& error) {
    Step step;
    step.line = number;
    std::string text = raw;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;
    text = text.substr(first);
    if (text[0] == '#') {
        step.kind = steps::Comment{text.substr(1)};
        return step;
    }
    if (text[0] == '@') {
        const std::size_t end = text.find(' ');
        const std::string name = text.substr(1, end == std::string::npos ? end : end - 1);
        if (!isComponentName(name)) {
            error = "'@" + escape(name) +
                    "' does not name a component (letters, digits, '_', '-' and '.', then a "
                    "step: '@NAME STEP')";
            return std::nullopt;
        }
        const std::size_t rest = end == std::string::npos ? end : text.find_first_not_of(' ', end);
        if (rest == std::string::npos) {
            error = "'@" + name + "' names a component but no step follows ('@NAME STEP')";
            return std::nullopt;
        }
        step.component = name;
        text = text.substr(rest);
    }
    std::string rest;
    const StepRow* row = rowOf(text, rest);
    if (!row) {
        error =
            "unknown step '" + escape(text.substr(0, text.find(' '))) + "' (see vorn-host --help)";
        return std::nullopt;
    }
    if (std::string(row->keyword) == "expect" && !isCommandText(rest)) {
        error = "unknown expectation '" + escape(rest) + "' (" + expectationForms() + ")";
        return std::nullopt;
    }
    if (!row->parse(*row, rest, step.kind, error)) return std::nullopt;
    return step;
}

std::string formatStep(const Step& step) {
    const StepRow& row = step.row();
    if (step.isComment()) return "#" + visible(std::get<steps::Comment>(step.kind).text);
    const std::string address = step.component.empty() ? "" : "@" + step.component + " ";
    return address + row.keyword + row.format(step.kind);
}

Script parseScript(const std::vector<std::string>& lines) {
    Script script;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string error;
        const int number = static_cast<int>(i + 1);
        std::optional<Step> step = parseStep(lines[i], number, error);
        if (step) {
            script.steps.push_back(std::move(*step));
        } else if (!error.empty()) {
            script.errors.push_back(std::to_string(number) + ": " + error +
                                    "\n  line: " + visible(lines[i]));
        }
    }
    return script;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        at = end + 1;
    }
    return lines;
}

std::string formatScript(const std::vector<Step>& steps) {
    std::string out;
    for (const Step& step : steps)
        out += formatStep(step) + "\n";
    return out;
}

std::string scenarioHelp() {
    // Usage in a column of its own (a longer one on a line of its own), the help beside it,
    // wrapped at 96 characters.
    const std::size_t column = 30, width = 96;
    std::string help = "Scenario steps (one a line; '#' starts a comment line; texts take \\n "
                       "\\t \\\\ \\xHH):\n";
    bool expectations = false;
    for (const StepRow& row : stepRows()) {
        const std::string usage = row.usage;
        if (usage.rfind("#", 0) == 0) continue;
        if (!expectations && usage.rfind("expect", 0) == 0) {
            expectations = true;
            help +=
                "Expectations check, in order, everything the steps since the last expectations "
                "made the\ncomponent do. In a file, what they leave unchecked fails when the "
                "next step starts or\nthe file ends ('expect ...' lets it pass); typed at the "
                "prompt, it is passed over:\n";
        }
        std::string line = "  " + usage;
        if (line.size() + 1 > column) {
            help += line + "\n";
            line.clear();
        }
        std::istringstream words(row.help);
        std::string word;
        bool first = true;
        while (words >> word) {
            if (!first && line.size() + 1 + word.size() > width) {
                help += line + "\n";
                line.clear();
                first = true;
            }
            if (first) {
                line.resize(column, ' ');
                line += word;
                first = false;
            } else {
                line += " " + word;
            }
        }
        help += line + "\n";
    }
    help += "Several components: a step or an expectation for one of them starts with its name,\n"
            "'@NAME STEP' (NAME: letters, digits, '_', '-', '.'); a line without it addresses the\n"
            "unnamed component. All of them share one facility and one clock.\n";
    return help;
}
