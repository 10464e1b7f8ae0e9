#include "scenario_language.h"

#include "host_command.h"

#include <algorithm>
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
            error = "unknown escape '\\" + std::string(c ? 1 : 0, c) +
                    "' (texts take \\n \\t \\r \\\\ \\xHH; write a backslash as \\\\)";
            return false;
        }
        ++i;
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

namespace {

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    std::string w;
    while (in >> w)
        out.push_back(w);
    return out;
}

bool isCommandText(const std::string& text) {
    return text.size() >= 2 && text[0] >= 'A' && text[0] <= 'Z' && text[1] >= 'A' &&
           text[1] <= 'Z' && (text.size() == 2 || text[2] == ' ');
}

bool expected(const ScenarioRow& row, std::string& error) {
    error = std::string("expected '") + row.usage + "'";
    return false;
}

// How the lines of the rows are read.
bool anyText(const ScenarioRow&, const std::string& rest, ScenarioStep& step, std::string& error) {
    return unescape(rest, step.text, error);
}

bool someText(const ScenarioRow& row, const std::string& rest, ScenarioStep& step,
              std::string& error) {
    if (rest.empty()) return expected(row, error);
    return unescape(rest, step.text, error);
}

bool noText(const ScenarioRow& row, const std::string& rest, ScenarioStep&, std::string& error) {
    if (rest.find_first_not_of(' ') == std::string::npos) return true;
    error = std::string("'") + row.usage + "' takes nothing after it";
    return false;
}

bool numbers(const ScenarioRow& row, std::size_t count, const std::string& rest, ScenarioStep& step,
             std::string& error) {
    const std::vector<std::string> w = words(rest);
    if (w.size() != count) return expected(row, error);
    for (const std::string& n : w) {
        std::int32_t v = 0;
        if (!parseInt32(n, v)) {
            error = "'" + n + "' is not a 32-bit number; expected '" + row.usage + "'";
            return false;
        }
        step.numbers.push_back(v);
    }
    return true;
}

bool oneNumber(const ScenarioRow& row, const std::string& rest, ScenarioStep& step,
               std::string& error) {
    return numbers(row, 1, rest, step, error);
}

bool threeNumbers(const ScenarioRow& row, const std::string& rest, ScenarioStep& step,
                  std::string& error) {
    return numbers(row, 3, rest, step, error);
}

bool press(const ScenarioRow& row, const std::string& rest, ScenarioStep& step,
           std::string& error) {
    const std::vector<std::string> w = words(rest);
    if (w.size() != 2) return expected(row, error);
    return unescape(w[0], step.panel, error) && unescape(w[1], step.control, error);
}

bool messageType(const ScenarioRow& row, const std::string& rest, ScenarioStep& step,
                 std::string& error) {
    if (!numbers(row, 1, rest, step, error)) return false;
    if (step.numbers[0] == 1 || step.numbers[0] == 2 || step.numbers[0] == 4) {
        error = "message types 1, 2 and 4 have steps of their own (report, press, tick)";
        return false;
    }
    return true;
}

bool duration(const ScenarioRow&, const std::string& rest, ScenarioStep& step, std::string& error) {
    std::string amount = rest;
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
    step.numbers.push_back(v * scale);
    return true;
}

bool command(const ScenarioRow& row, const std::string& rest, ScenarioStep& step,
             std::string& error) {
    if (!isCommandText(rest)) return expected(row, error);
    return unescape(rest, step.text, error);
}

bool propertyValue(const ScenarioRow& row, const std::string& rest, ScenarioStep& step,
                   std::string& error) {
    const std::size_t eq = rest.find('=');
    if (eq == std::string::npos) return expected(row, error);
    return unescape(rest.substr(0, eq), step.property, error) &&
           unescape(rest.substr(eq + 1), step.text, error);
}

using R = ScenarioRunner;
using Row = ScenarioRow;

} // namespace

const std::vector<ScenarioRow>& scenarioRows() {
    static const std::vector<ScenarioRow> rows = {
        {"config", "config FILE", "configuration and facility file (relative to the scenario)",
         someText, &R::config, Row::Nothing},
        {"load", "load [FILE]", "load a plug-in file (default: --plugin)", anyText, &R::load,
         Row::Nothing},
        {"create", "create [PATH]",
         "create the component with the panel folder PATH (may be empty); a live one is deleted "
         "first",
         anyText, &R::create, Row::Host},
        {"parent", "parent TEXT", "deliver a parent command (type 3); its answer is shown", anyText,
         &R::parent, Row::Component},
        {"hold", "hold TEXT",
         "deliver a parent command and keep its answer until 'release' or the component's end",
         anyText, &R::hold, Row::Component},
        {"release", "release K",
         "hand back the kept answer K (0: the oldest; counted modulo how many are kept)", oneNumber,
         &R::release, Row::Component},
        {"press", "press PANEL CONTROL", "deliver a button press (type 2)", press, &R::press,
         Row::Component},
        {"report", "report DEVICE CONTACT STATE", "deliver a device report (type 1)", threeNumbers,
         &R::report, Row::Component},
        {"switch", "switch DEVICE CONTACT STATE",
         "change a contact at the facility, as if switched from elsewhere", threeNumbers,
         &R::switchContact, Row::Component},
        {"tick", "tick TIMER", "deliver a timer tick (type 4) outside the clock", oneNumber,
         &R::tick, Row::Component},
        {"advance", "advance MS", "move the simulated clock (MS, or Ns for seconds)", duration,
         &R::advance, Row::Component},
        {"message", "message TYPE",
         "deliver a message of another type: 3, a parent command with null data (its answer "
         "kept as 'hold' keeps it); 5 with null data; 6, 7, 0, 8, -1... with a zeroed block",
         messageType, &R::message, Row::Component},
        {"delete", "delete", "delete the component", noText, &R::destroy, Row::Component},
        {"expect", "expect XX ...",
         "the next command has exactly this text (XX: two upper-case letters)", command,
         &R::expectCommand, Row::Nothing},
        {"expect debug", "expect debug TEXT", "the next debug text (its line feed written as \\n)",
         anyText, &R::expectDebug, Row::Nothing},
        {"expect answer", "expect answer TEXT", "the parent command's answer", anyText,
         &R::expectAnswer, Row::Nothing},
        {"expect no answer", "expect no answer", "the parent command had no answer", noText,
         &R::expectNoAnswer, Row::Nothing},
        {"expect notify", "expect notify TEXT", "the next command is HN 'TEXT'", anyText,
         &R::expectNotify, Row::Nothing},
        {"expect nothing", "expect nothing",
         "the step did nothing more than the expectations before this one", noText,
         &R::expectNothing, Row::Nothing},
        {"expect panel", "expect panel PROPERTY=VALUE",
         "the property of the control the component last put", propertyValue, &R::expectPanel,
         Row::Host},
        {"expect contact", "expect contact DEVICE CONTACT STATE",
         "the facility's state of that contact", threeNumbers, &R::expectContact, Row::Host},
        {"expect ended", "expect ended", "the component has sent AS", noText, &R::expectEnded,
         Row::Nothing},
    };
    return rows;
}

bool ScenarioStep::isExpectation() const {
    return row && std::string(row->keyword).rfind("expect", 0) == 0;
}

namespace {

// The row whose keyword the line starts with, as a whole word: the longest that fits. Command
// texts start with upper-case letters, so "expect AS" can only be the bare "expect" row.
const ScenarioRow* rowOf(const std::string& text, std::string& rest) {
    const ScenarioRow* best = nullptr;
    std::size_t bestLength = 0;
    for (const ScenarioRow& row : scenarioRows()) {
        const std::string keyword = row.keyword;
        if (text.compare(0, keyword.size(), keyword) != 0) continue;
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
    for (const ScenarioRow& row : scenarioRows()) {
        const std::string keyword = row.keyword;
        if (keyword.rfind("expect", 0) != 0) continue;
        if (!forms.empty()) forms += ", ";
        forms += keyword == "expect" ? "expect XX..." : keyword.substr(7);
    }
    return forms;
}

} // namespace

bool parseScenarioLine(const std::string& raw, int line, ScenarioStep& step, std::string& error) {
    step = ScenarioStep();
    step.line = line;
    std::string text = raw;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    step.source = text;
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos || text[first] == '#') return true;
    text = text.substr(first);

    std::string rest;
    const ScenarioRow* row = rowOf(text, rest);
    if (!row) {
        error = "unknown step '" + text.substr(0, text.find(' ')) + "' (see vorn-host --help)";
        return false;
    }
    if (std::string(row->keyword) == "expect" && !isCommandText(rest)) {
        error = "unknown expectation '" + rest + "' (" + expectationForms() + ")";
        return false;
    }
    step.row = row;
    return row->parse(*row, rest, step, error);
}

std::string scenarioHelp() {
    // Usage in a column of its own (a longer one on a line of its own), the help beside it,
    // wrapped at 96 characters.
    const std::size_t column = 30, width = 96;
    std::string help = "Scenario steps (one a line; '#' starts a comment line; texts take \\n "
                       "\\t \\\\ \\xHH):\n";
    bool expectations = false;
    for (const ScenarioRow& row : scenarioRows()) {
        const std::string usage = row.usage;
        if (!expectations && usage.rfind("expect", 0) == 0) {
            expectations = true;
            help += "Expectations check, in order, what the step before them made the component "
                    "do (what they\nleave unchecked is passed over when the next step "
                    "starts):\n";
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
    return help;
}
