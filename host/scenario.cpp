#include "scenario.h"

#include "emulated_host.h"
#include "host_command.h"
#include "plugin.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <sstream>

const char* const scenarioHelp =
    R"(Scenario steps (one a line; '#' starts a comment line; texts take \n \t \\ \xHH):
  config FILE              configuration and facility file (relative to the scenario)
  load [FILE]              load a plug-in file (default: --plugin)
  create [PATH]            create the component with the panel folder PATH (may be empty);
                           a live one is deleted first
  parent TEXT              deliver a parent command (type 3); its answer is shown
  press PANEL CONTROL      deliver a button press (type 2)
  report DEV CONTACT STATE deliver a device report (type 1)
  switch DEV CONTACT STATE change a contact at the facility, as if switched from elsewhere
  tick ID                  deliver a timer tick (type 4) outside the clock
  advance MS               move the simulated clock (MS, or Ns for seconds)
  message TYPE             deliver a message of another type (5 with null data, 6, 7, 0, 8, -1...)
  delete                   delete the component
Expectations check, in order, what the step before them made the component do (what they
leave unchecked is passed over when the next step starts):
  expect XX ...            the next command has exactly this text (XX: two upper-case letters)
  expect debug TEXT        the next debug text (its line feed written as \n)
  expect answer TEXT       the parent command's answer
  expect no answer         the parent command had no answer
  expect notify TEXT       the next command is HN 'TEXT'
  expect nothing           the step did nothing more than the expectations before this one
  expect panel PROP=VALUE  the property of the control the component last put
  expect contact DEV CONTACT STATE   the facility's state of that contact
  expect ended             the component has sent AS
)";

std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'n')
            out += '\n';
        else if (c == 't')
            out += '\t';
        else if (c == 'r')
            out += '\r';
        else if (c == 'x' && i + 2 < text.size() &&
                 std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                 std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else
            out += c;
    }
    return out;
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
        else if (c < 32 || c == 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

namespace {

bool parseNumber(const std::string& word, std::int64_t& value) {
    std::int32_t v = 0;
    if (!parseInt32(word, v)) return false;
    value = v;
    return true;
}

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

// Splits "keyword rest": rest is everything after the first space, as written.
void splitKeyword(const std::string& line, std::string& keyword, std::string& rest) {
    const std::size_t space = line.find(' ');
    keyword = line.substr(0, space);
    rest = space == std::string::npos ? "" : line.substr(space + 1);
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
    splitKeyword(text, step.keyword, rest);
    const std::string& k = step.keyword;
    auto numbers = [&](std::size_t count, const char* form) {
        const std::vector<std::string> w = words(rest);
        if (w.size() != count) {
            error = std::string("expected '") + form + "'";
            return false;
        }
        for (const std::string& n : w) {
            std::int64_t v = 0;
            if (!parseNumber(n, v)) {
                error = std::string("'") + n + "' is not a 32-bit number; expected '" + form + "'";
                return false;
            }
            step.numbers.push_back(v);
        }
        return true;
    };

    if (k == "config" || k == "load" || k == "create" || k == "parent") {
        if (k == "config" && rest.empty()) {
            error = "expected 'config FILE'";
            return false;
        }
        step.text = unescape(rest);
        return true;
    }
    if (k == "press") {
        const std::vector<std::string> w = words(rest);
        if (w.size() != 2) {
            error = "expected 'press PANEL CONTROL'";
            return false;
        }
        step.text = unescape(w[0]) + '\n' + unescape(w[1]);
        return true;
    }
    if (k == "report") return numbers(3, "report DEVICE CONTACT STATE");
    if (k == "switch") return numbers(3, "switch DEVICE CONTACT STATE");
    if (k == "tick") return numbers(1, "tick TIMER");
    if (k == "message") {
        if (!numbers(1, "message TYPE")) return false;
        if (step.numbers[0] >= 1 && step.numbers[0] <= 4) {
            error = "message types 1 to 4 have steps of their own (report, press, parent, tick)";
            return false;
        }
        return true;
    }
    if (k == "advance") {
        std::string amount = rest;
        std::int64_t scale = 1;
        if (!amount.empty() && amount.back() == 's') {
            amount.pop_back();
            scale = 1000;
        }
        std::int64_t v = 0;
        if (!parseNumber(amount, v) || v < 0) {
            error = "expected 'advance MS' or 'advance Ns' with a number of zero or more";
            return false;
        }
        step.numbers.push_back(v * scale);
        return true;
    }
    if (k == "delete") {
        if (!rest.empty()) {
            error = "'delete' takes nothing after it";
            return false;
        }
        return true;
    }
    if (k == "expect") {
        std::string kind, arg;
        splitKeyword(rest, kind, arg);
        if (isCommandText(rest)) {
            step.expectKind = "command";
            step.text = unescape(rest);
        } else if (kind == "debug" || kind == "answer" || kind == "notify") {
            step.expectKind = kind;
            step.text = unescape(arg);
        } else if (rest == "no answer" || rest == "nothing" || rest == "ended") {
            step.expectKind = rest == "no answer" ? "no-answer" : rest;
        } else if (kind == "panel") {
            if (arg.find('=') == std::string::npos) {
                error = "expected 'expect panel PROPERTY=VALUE'";
                return false;
            }
            step.expectKind = kind;
            step.text = unescape(arg);
        } else if (kind == "contact") {
            rest = arg;
            step.expectKind = kind;
            return numbers(3, "expect contact DEVICE CONTACT STATE");
        } else {
            error = "unknown expectation '" + rest +
                    "' (expect XX..., debug, answer, no answer, notify, nothing, panel, contact, "
                    "ended)";
            return false;
        }
        return true;
    }
    error = "unknown step '" + k + "' (see vorn-host --help)";
    return false;
}

namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string relativeTo(const std::string& name, const std::string& file) {
    if (file.empty() || file[0] == '/' || (file.size() > 1 && file[1] == ':') || name == "-")
        return file;
    return folderOf(name) + file;
}

class Runner {
public:
    Runner(const std::string& name, const RunOptions& options, std::ostream& out, std::ostream& err)
        : name_(name), options_(options), out_(out), err_(err) {}

    RunResult run(std::istream& in) {
        if (!options_.config.empty()) useConfig(options_.config, 0);
        std::string raw;
        int line = 0;
        const bool prompt = options_.interactive;
        if (prompt) out_ << "> " << std::flush;
        while (std::getline(in, raw)) {
            ++line;
            ScenarioStep step;
            std::string error;
            if (!parseScenarioLine(raw, line, step, error)) {
                err_ << name_ << ":" << line << ": " << error << "\n  line: " << raw << "\n";
                if (!options_.interactive) {
                    result_.malformed = true;
                    return result_;
                }
            } else if (!step.keyword.empty()) {
                lastLine_ = line;
                if (!execute(step) && !options_.interactive) break;
            }
            if (prompt) out_ << "> " << std::flush;
        }
        if (!result_.malformed) finish();
        return result_;
    }

private:
    bool fail(int line, const std::string& what, const std::string& expected,
              const std::string& actual) {
        ++result_.failures;
        out_.flush();
        err_ << name_ << ":" << line << ": " << what << "\n  expected: " << expected
             << "\n  actual:   " << actual << "\n";
        return false;
    }

    bool fatal(int line, const std::string& message) {
        result_.malformed = true;
        out_.flush();
        err_ << name_ << ":" << line << ": " << message << "\n";
        return false;
    }

    bool useConfig(const std::string& file, int line) {
        facility_ = Facility();
        std::vector<std::string> problems;
        const std::string path = absolutePath(file);
        facility_.load(path, problems);
        for (const std::string& p : problems)
            fatal(line, file + ": " + p);
        setEnvironment("VORN_CONFIG", path);
        if (host_) host_->facility = facility_;
        return problems.empty();
    }

    bool ensureHost(int line) {
        if (!plugin_) {
            const std::string file = options_.plugin;
            if (file.empty())
                return fatal(line, "no plug-in: give --plugin FILE or a 'load FILE' step");
            if (!load(file, line)) return false;
        }
        if (!host_) host_ = std::make_unique<EmulatedHost>(facility_);
        return true;
    }

    bool load(const std::string& file, int line) {
        host_.reset();
        plugin_ = std::make_unique<Plugin>();
        std::string error;
        if (!plugin_->open(file, error)) {
            plugin_.reset();
            return fatal(line, error);
        }
        return true;
    }

    bool needComponent(const ScenarioStep& step) {
        if (host_ && host_->alive()) return true;
        return fail(step.line, "'" + step.keyword + "' needs a live component",
                    "a 'create' step before it",
                    host_ ? "the component was deleted" : "no component");
    }

    bool execute(const ScenarioStep& step) {
        const std::string& k = step.keyword;
        if (k == "expect") return expect(step);
        if (!options_.quiet) out_ << name_ << ":" << step.line << "  " << step.source << "\n";
        // Expectations look at what this step does; whatever the last step did that no
        // expectation checked is passed over.
        const std::size_t from = host_ ? host_->events.size() : 0;
        cursor_ = from;
        if (host_) host_->panelChanged = false;

        if (k == "config") return useConfig(relativeTo(name_, step.text), step.line);
        if (k == "load")
            return load(step.text.empty() ? options_.plugin : relativeTo(name_, step.text),
                        step.line);
        if (!ensureHost(step.line)) return false;
        EmulatedHost& h = *host_;
        if (k == "create") {
            // A live component is deleted first, as the host would replace it.
            if (!h.create(*plugin_, step.text))
                return fail(step.line, "the plug-in returned no component", "a component", "null");
        } else if (k == "delete") {
            if (!needComponent(step)) return false;
            h.destroy();
        } else {
            if (!needComponent(step)) return false;
            bool answered = false;
            if (k == "parent")
                h.parentCommand(step.text, answered);
            else if (k == "press") {
                const std::size_t nl = step.text.find('\n');
                h.press(step.text.substr(0, nl), step.text.substr(nl + 1));
            } else if (k == "report")
                h.report(static_cast<std::int32_t>(step.numbers[0]),
                         static_cast<std::int32_t>(step.numbers[1]),
                         static_cast<std::int32_t>(step.numbers[2]));
            else if (k == "switch")
                h.switchContact(static_cast<std::int32_t>(step.numbers[0]),
                                static_cast<std::int32_t>(step.numbers[1]),
                                static_cast<std::int32_t>(step.numbers[2]));
            else if (k == "tick")
                h.tick(static_cast<std::int32_t>(step.numbers[0]));
            else if (k == "advance")
                h.advance(step.numbers[0]);
            else if (k == "message")
                h.message(static_cast<int>(step.numbers[0]));
        }
        if (!options_.quiet) show(from);
        return checkViolations(step.line);
    }

    void show(std::size_t from) {
        const EmulatedHost& h = *host_;
        for (std::size_t i = from; i < h.events.size(); ++i) {
            const HostEvent& e = h.events[i];
            switch (e.kind) {
            case HostEvent::Command:
                out_ << "  -> " << e.text;
                if (e.text.rfind("SD ", 0) == 0)
                    out_ << (e.hasReply ? "   <= \"" + escape(e.reply) + "\""
                                        : std::string("   <= no reply"));
                out_ << "\n";
                break;
            case HostEvent::Debug:
                out_ << "  debug: " << escape(e.text) << "\n";
                break;
            case HostEvent::Answer:
                out_ << (e.hasReply ? "  <= answer \"" + escape(e.text) + "\""
                                    : std::string("  <= no answer"))
                     << "\n";
                break;
            case HostEvent::Delivered:
                out_ << "  <- " << e.text << "\n";
                break;
            }
        }
        if (h.panelChanged) out_ << "  " << buttonView() << "\n";
    }

    std::string buttonView() const {
        const EmulatedHost& h = *host_;
        auto prop = [&](const char* name, const char* none) {
            const std::string* value = h.property(name);
            if (!value) return std::string(none);
            return value->empty() ? std::string("\"\"") : escape(*value);
        };
        std::string view = "[ " + prop("text", "(no label)") +
                           " ]  style=" + prop("style", "button") +
                           "  look=" + prop("statesheet", "-");
        if (h.property("stylesheet")) view += "  sheet=" + prop("stylesheet", "");
        view += "  panel " + (h.lastPanel.empty() ? std::string("-") : h.lastPanel);
        if (!h.notifications.empty()) view += "  last " + escape(h.notifications.back());
        return view;
    }

    // The next event that an expectation can match, or null.
    const HostEvent* next() {
        if (!host_) return nullptr;
        while (cursor_ < host_->events.size() &&
               host_->events[cursor_].kind == HostEvent::Delivered)
            ++cursor_;
        return cursor_ < host_->events.size() ? &host_->events[cursor_] : nullptr;
    }

    static std::string describe(const HostEvent* e) {
        if (!e) return "nothing more";
        switch (e->kind) {
        case HostEvent::Command:
            return "command " + e->text;
        case HostEvent::Debug:
            return "debug " + escape(e->text);
        case HostEvent::Answer:
            return e->hasReply ? "answer " + escape(e->text) : "no answer";
        case HostEvent::Delivered:
            break;
        }
        return e->text;
    }

    // The next event, passing over parent commands that had no answer (unless an answer is
    // what is expected).
    const HostEvent* nextSkippingSilentAnswers() {
        const HostEvent* e = next();
        while (e && e->kind == HostEvent::Answer && !e->hasReply) {
            ++cursor_;
            e = next();
        }
        return e;
    }

    bool expectEvent(const ScenarioStep& step, const HostEvent& wanted) {
        const HostEvent* e =
            wanted.kind == HostEvent::Answer ? next() : nextSkippingSilentAnswers();
        if (!e || e->kind != wanted.kind || e->text != wanted.text ||
            (wanted.kind == HostEvent::Answer && e->hasReply != wanted.hasReply))
            return fail(step.line, "mismatch", describe(&wanted), describe(e));
        ++cursor_;
        return true;
    }

    static HostEvent answerEvent(const std::string& text, bool answered) {
        HostEvent e(HostEvent::Answer, text);
        e.hasReply = answered;
        return e;
    }

    bool expect(const ScenarioStep& step) {
        const std::string& kind = step.expectKind;
        if (kind == "command") return expectEvent(step, {HostEvent::Command, step.text});
        if (kind == "notify")
            return expectEvent(step, {HostEvent::Command, "HN '" + step.text + "'"});
        if (kind == "debug") return expectEvent(step, {HostEvent::Debug, step.text});
        if (kind == "answer") return expectEvent(step, answerEvent(step.text, true));
        if (kind == "no-answer") return expectEvent(step, answerEvent("", false));
        if (kind == "nothing") {
            const HostEvent* e = nextSkippingSilentAnswers();
            return e ? fail(step.line, "mismatch", "nothing more", describe(e)) : true;
        }
        if (kind == "ended")
            return host_ && host_->ended ? true : fail(step.line, "mismatch", "AS sent", "no AS");
        if (!host_) return fail(step.line, "mismatch", step.source, "no host yet");
        if (kind == "panel") {
            const std::size_t eq = step.text.find('=');
            const std::string property = step.text.substr(0, eq), value = step.text.substr(eq + 1);
            const std::string* set = host_->property(property);
            const std::string actual = set ? property + "=" + escape(*set) : "(not set)";
            const std::string wanted = property + "=" + escape(value);
            return actual == wanted ? true : fail(step.line, "panel property", wanted, actual);
        }
        if (kind == "contact") {
            const auto d = static_cast<std::int32_t>(step.numbers[0]),
                       c = static_cast<std::int32_t>(step.numbers[1]);
            const std::int32_t actual = host_->facility.state(d, c);
            return actual == step.numbers[2]
                       ? true
                       : fail(step.line, "contact state", std::to_string(step.numbers[2]),
                              std::to_string(actual));
        }
        return fail(step.line, "unknown expectation", "", kind);
    }

    bool checkViolations(int line) {
        if (!host_) return true;
        bool ok = true;
        for (; reported_ < host_->violations.size(); ++reported_)
            ok =
                fail(line, "host contract", "a well-behaved plug-in", host_->violations[reported_]);
        return ok;
    }

    void finish() {
        if (!host_) return;
        if (host_->alive()) {
            const std::size_t from = host_->events.size();
            host_->panelChanged = false;
            host_->destroy();
            if (!options_.quiet) {
                out_ << name_ << ": end: the component is deleted\n";
                show(from);
            }
        }
        checkViolations(lastLine_);
        if (host_->outstandingReplies() != 0)
            fail(lastLine_, "at the end", "every reply handed back with mode 5",
                 std::to_string(host_->repliesOut) + " given, " +
                     std::to_string(host_->repliesBack) + " handed back, " +
                     std::to_string(host_->outstandingReplies()) + " still held by the component");
    }

    std::string name_;
    RunOptions options_;
    std::ostream& out_;
    std::ostream& err_;
    Facility facility_;
    std::unique_ptr<Plugin> plugin_;
    std::unique_ptr<EmulatedHost> host_;
    std::size_t cursor_ = 0;
    std::size_t reported_ = 0;
    int lastLine_ = 0;
    RunResult result_;
};

} // namespace

RunResult runScenario(std::istream& in, const std::string& name, const RunOptions& options,
                      std::ostream& out, std::ostream& err) {
    Runner runner(name, options, out, err);
    return runner.run(in);
}
