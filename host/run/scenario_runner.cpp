#include "scenario_runner.h"

#include "plugin_file.h"

#include "crash_report.h"
#include "emulated_host.h"
#include "plugin.h"
#include "scenario_language.h"

#include <cstdio>
#include <memory>

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

// A line as written, its control characters shown as \xHH.
std::string visible(const std::string& line) {
    std::string out;
    for (unsigned char c : line) {
        if (c < 32 || c == 127)
            out += hexEscape(c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

class Runner final : public ScenarioRunner {
public:
    Runner(const std::string& name, const RunOptions& options, std::ostream& out, std::ostream& err)
        : name_(name), options_(options), out_(out), err_(err) {}

    RunResult run(ScenarioInput& in) {
        if (!options_.config.empty() && !useConfig(options_.config, 0)) return result_;
        std::string raw;
        int line = 0;
        while (!interrupted() && in.next(raw)) {
            ++line;
            if (name_ == "-") { // typed (or piped) steps: the prompt's own words
                const std::string word = raw.substr(0, raw.find_last_not_of(" \t\r") + 1);
                if (word == "quit" || word == "exit") break;
                if (word == "help") {
                    out_ << scenarioHelp() << std::flush;
                    continue;
                }
            }
            ScenarioStep step;
            std::string error;
            if (!parseScenarioLine(raw, line, step, error)) {
                const std::string text =
                    name_ + ":" + std::to_string(line) + ": " + error + "\n  line: " + visible(raw);
                err_ << text << "\n";
                result_.problems.push_back(text);
                if (!options_.interactive) {
                    result_.malformed = true;
                    return result_;
                }
            } else if (step.row) {
                lastLine_ = line;
                ++result_.steps;
                if (step.isExpectation()) ++result_.expectations;
                noteStep(step);
                crashReportLimit(options_.stepSeconds);
                execute(step);
                crashReportLimit(0);
                if (!step.isExpectation()) record(step);
                // What was recorded is kept, however the run ends.
                if (options_.record) options_.record->flush();
                out_.flush();
                if (result_.malformed && !options_.interactive) break;
            }
        }
        if (interrupted() && !options_.quiet)
            out_ << name_ << ": interrupted (Ctrl-C): the run ends here\n";
        // The component is ended, its teardown shown, however the run ends.
        crashReportLimit(options_.stepSeconds);
        finish();
        crashReportLimit(0);
        if (options_.record) options_.record->flush();
        if (!result_.malformed && result_.steps == 0 && !options_.interactive) {
            fatal(line, "no steps: a scenario needs at least one step");
        }
        return result_;
    }

private:
    // Writes the step as it ran, then what it made the component do as expectations.
    void record(const ScenarioStep& step) {
        if (!options_.record) return;
        std::ostream& to = *options_.record;
        const std::string keyword = step.row->keyword;
        if (keyword == "config" || (keyword == "load" && !step.text.empty()))
            to << keyword << " " << escape(absolutePath(relativeTo(name_, step.text))) << "\n";
        else
            to << step.source.substr(step.source.find_first_not_of(" \t")) << "\n";
        recordEvents();
    }
    void recordEvents() {
        if (!options_.record || !host_) return;
        std::ostream& to = *options_.record;
        for (const HostEvent& e : host_->events) {
            switch (e.kind) {
            case HostEvent::Command:
                to << "expect " << escape(e.text) << "\n";
                break;
            case HostEvent::Debug:
                to << "expect debug " << escape(e.text) << "\n";
                break;
            case HostEvent::Answer:
                to << (e.hasReply ? "expect answer " + escape(e.text) : "expect no answer") << "\n";
                break;
            case HostEvent::Delivered:
                break;
            }
        }
        to << "expect nothing\n";
    }

    // What is running, for the report of a crash.
    void noteStep(const ScenarioStep& step) {
        crashReportSet(
            (name_ + ":" + std::to_string(step.line) + " '" + escape(step.source) + "'").c_str());
    }

    // A mismatch: reported, counted, and the run goes on, as an EXPECT does.
    bool fail(int line, const std::string& what, const std::string& expected,
              const std::string& actual) {
        ++result_.failures;
        out_.flush();
        const std::string text = name_ + ":" + std::to_string(line) + ": " + what +
                                 "\n  expected: " + expected + "\n  actual:   " + actual;
        err_ << text << "\n";
        result_.problems.push_back(text);
        return false;
    }

    bool fatal(int line, const std::string& message) {
        return fatalAt(name_ + ":" + std::to_string(line), message);
    }
    // A fatal error at a place other than a line of this scenario (a configuration file's).
    bool fatalAt(const std::string& where, const std::string& message) {
        result_.malformed = true;
        out_.flush();
        const std::string text = where + ": " + message;
        err_ << text << "\n";
        result_.problems.push_back(text);
        return false;
    }

    bool useConfig(const std::string& file, int line) {
        facility_ = Facility();
        std::vector<std::string> problems;
        const std::string path = absolutePath(file);
        facility_.load(path, problems);
        // Each problem at the place a person mends it: "FILE:LINE: why", and where the file
        // was named.
        const std::string namedAt =
            line > 0 ? " (named at " + name_ + ":" + std::to_string(line) + ")" : " (--config)";
        for (const std::string& p : problems) {
            const std::size_t colon = p.find(": ");
            if (p.rfind("line ", 0) == 0 && colon != std::string::npos)
                fatalAt(file + ":" + p.substr(5, colon - 5), p.substr(colon + 2) + namedAt);
            else
                fatalAt(file, p + namedAt);
        }
        if (!problems.empty()) return false;
        setEnvironment("VORN_CONFIG", path);
        // A recording replays with the configuration it was made with.
        if (line == 0 && options_.record) *options_.record << "config " << escape(path) << "\n";
        // The host's registrations and timers are its own; the file brings instances and,
        // where it names them, contact states.
        if (host_) host_->facility.takeConfiguration(facility_);
        return true;
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
        endComponent(line);
        host_.reset();
        reported_ = 0; // the next host's breaches are all new
        plugin_ = std::make_unique<Plugin>();
        std::string error;
        if (!plugin_->open(file, error)) {
            plugin_.reset();
            return fatal(line, error);
        }
        // Which plug-in a run judged, said before anything it did.
        if (!options_.quiet) {
            const std::string version = pluginVersion(file);
            out_ << "plug-in " << absolutePath(file)
                 << (version.empty() ? "" : " (version " + version + ")") << "\n";
        }
        return true;
    }

    // Ends a live component as the host would before it goes on: its teardown is shown and
    // the host contract checked.
    void endComponent(int line) {
        if (!host_ || !host_->alive()) return;
        const std::size_t from = host_->events.size();
        host_->panelChanged = false;
        host_->destroy();
        if (!options_.quiet) show(from);
        checkViolations(line);
    }

    bool needComponent(const ScenarioStep& step) {
        if (host_ && host_->alive()) return true;
        return fail(step.line, std::string("'") + step.row->keyword + "' needs a live component",
                    "a 'create' step before it",
                    created_ ? "the component was deleted" : "no component was created yet");
    }

    // A delivery the component answered with nothing at all, said so, with the likely reason
    // where the host can tell it.
    void sayWhenSilent(const ScenarioStep& step) {
        const std::string keyword = step.row->keyword;
        if (keyword != "press" && keyword != "report" && keyword != "tick" && keyword != "switch" &&
            keyword != "advance")
            return;
        for (const HostEvent& e : host_->events)
            if (e.kind != HostEvent::Delivered) return;
        std::string why;
        if (keyword == "advance")
            why = host_->events.empty() ? ": no timer fell due" : "";
        else if (!host_->facility.hasRegistrations())
            why = ": no contact is registered";
        else if (keyword == "report" &&
                 !host_->facility.isRegistered(number(step, 0), number(step, 1)))
            why = ": that contact is not registered";
        else if (keyword == "press" && host_->reportsDelivered == 0)
            why = ": no report was delivered yet";
        out_ << "  (the component sent nothing" << why << ")\n";
    }

    bool execute(const ScenarioStep& step) {
        const ScenarioRow& row = *step.row;
        if (step.isExpectation()) {
            if (row.needs != ScenarioRow::Nothing && !host_)
                return fail(step.line, "mismatch", step.source, "no host yet");
            return (this->*row.run)(step);
        }
        if (!options_.quiet) out_ << name_ << ":" << step.line << "  " << step.source << "\n";
        out_.flush(); // all that went before is out, should the plug-in crash in this step
        // Expectations look at what this step does; whatever the last step did that no
        // expectation checked is passed over now, and so not kept: a long run keeps only the
        // current step's events.
        if (host_) {
            host_->events.clear();
            host_->panelChanged = false;
        }
        cursor_ = 0;
        if (row.needs == ScenarioRow::Nothing) return (this->*row.run)(step);
        if (!ensureHost(step.line)) return false;
        if (row.needs == ScenarioRow::Component && !needComponent(step)) return false;
        if (!(this->*row.run)(step)) return false;
        if (!options_.quiet) {
            show(0);
            if (host_->alive()) sayWhenSilent(step);
        }
        return checkViolations(step.line);
    }

    // The steps.
    bool config(const ScenarioStep& step) override {
        return useConfig(relativeTo(name_, step.text), step.line);
    }
    bool load(const ScenarioStep& step) override {
        return load(step.text.empty() ? options_.plugin : relativeTo(name_, step.text), step.line);
    }
    bool create(const ScenarioStep& step) override {
        // A live component is deleted first, as the host would replace it; its teardown is
        // shown and checked with the rest of the step.
        if (!host_->create(*plugin_, step.text))
            return fail(step.line, "the plug-in returned no component", "a component", "null");
        created_ = true;
        return true;
    }
    bool parent(const ScenarioStep& step) override {
        host_->parentCommand(&step.text);
        return true;
    }
    bool hold(const ScenarioStep& step) override {
        host_->parentCommand(&step.text, true);
        return true;
    }
    bool release(const ScenarioStep& step) override {
        host_->release(step.numbers[0]);
        return true;
    }
    bool press(const ScenarioStep& step) override {
        host_->press(step.panel, step.control);
        return true;
    }
    bool report(const ScenarioStep& step) override {
        host_->report(number(step, 0), number(step, 1), number(step, 2));
        return true;
    }
    bool switchContact(const ScenarioStep& step) override {
        host_->switchContact(number(step, 0), number(step, 1), number(step, 2));
        return true;
    }
    bool tick(const ScenarioStep& step) override {
        host_->tick(number(step, 0));
        return true;
    }
    bool advance(const ScenarioStep& step) override {
        const std::int64_t due = host_->ticksDue(step.numbers[0]);
        if (host_->advance(step.numbers[0])) return true;
        return fail(step.line, "too far for one step",
                    "at most " + std::to_string(EmulatedHost::maxTicksPerStep) +
                        " timer ticks in one 'advance'",
                    due > EmulatedHost::maxTicksPerStep
                        ? std::to_string(due) + " ticks due"
                        : "more, with the timers the component started meanwhile");
    }
    bool message(const ScenarioStep& step) override {
        if (number(step, 0) == VORN_MSG_PARENT) {
            host_->parentCommand(nullptr, true);
            return true;
        }
        host_->message(number(step, 0));
        return true;
    }
    bool destroy(const ScenarioStep&) override {
        host_->destroy();
        return true;
    }
    static std::int32_t number(const ScenarioStep& step, std::size_t i) {
        return static_cast<std::int32_t>(step.numbers[i]);
    }

    void show(std::size_t from) {
        const EmulatedHost& h = *host_;
        for (std::size_t i = from; i < h.events.size(); ++i) {
            const HostEvent& e = h.events[i];
            switch (e.kind) {
            case HostEvent::Command:
                out_ << "  -> " << escape(e.text);
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
                out_ << "  <- " << escape(e.text) << "\n";
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
            return "command " + escape(e->text);
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
            (wanted.kind == HostEvent::Answer && e->hasReply != wanted.hasReply)) {
            // Passed over, so that the expectations after it meet the events after it.
            const std::string actual = describe(e);
            if (e) ++cursor_;
            return fail(step.line, "mismatch", describe(&wanted), actual);
        }
        ++cursor_;
        return true;
    }

    static HostEvent answerEvent(const std::string& text, bool answered) {
        HostEvent e(HostEvent::Answer, text);
        e.hasReply = answered;
        return e;
    }

    // The expectations.
    bool expectCommand(const ScenarioStep& step) override {
        return expectEvent(step, {HostEvent::Command, step.text});
    }
    bool expectNotify(const ScenarioStep& step) override {
        return expectEvent(step, {HostEvent::Command, "HN '" + step.text + "'"});
    }
    bool expectDebug(const ScenarioStep& step) override {
        return expectEvent(step, {HostEvent::Debug, step.text});
    }
    bool expectAnswer(const ScenarioStep& step) override {
        return expectEvent(step, answerEvent(step.text, true));
    }
    bool expectNoAnswer(const ScenarioStep& step) override {
        return expectEvent(step, answerEvent("", false));
    }
    bool expectNothing(const ScenarioStep& step) override {
        const HostEvent* e = nextSkippingSilentAnswers();
        return e ? fail(step.line, "mismatch", "nothing more", describe(e)) : true;
    }
    bool expectEnded(const ScenarioStep& step) override {
        return host_ && host_->ended ? true : fail(step.line, "mismatch", "AS sent", "no AS");
    }
    bool expectPanel(const ScenarioStep& step) override {
        const std::string* set = host_->property(step.property);
        // As the button view shows it: a button until the component says otherwise.
        static const std::string button = "button";
        if (!set && step.property == "style") set = &button;
        const std::string actual = set ? step.property + "=" + escape(*set) : "(not set)";
        const std::string wanted = step.property + "=" + escape(step.text);
        return actual == wanted ? true : fail(step.line, "panel property", wanted, actual);
    }
    bool expectContact(const ScenarioStep& step) override {
        const std::int32_t actual = host_->facility.state(number(step, 0), number(step, 1));
        return actual == step.numbers[2]
                   ? true
                   : fail(step.line, "contact state", std::to_string(step.numbers[2]),
                          std::to_string(actual));
    }

    bool checkViolations(int line) {
        if (!host_) return true;
        bool ok = true;
        const auto& breaches = host_->monitor.breaches();
        for (; reported_ < breaches.size(); ++reported_)
            ok = fail(line, "host contract", "a well-behaved plug-in", breaches[reported_].text());
        return ok;
    }

    void finish() {
        if (!host_) return;
        if (host_->alive()) {
            crashReportSet((name_ + ": end, deleting the component").c_str());
            host_->events.clear();
            if (!options_.quiet) out_ << name_ << ": end: the component is deleted\n";
            endComponent(lastLine_);
            if (options_.record) {
                *options_.record << "delete\n";
                recordEvents();
                if (host_->ended) *options_.record << "expect ended\n";
            }
        }
        checkViolations(lastLine_);
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
    bool created_ = false; // a component was made in this run
    int lastLine_ = 0;
    RunResult result_;
};

} // namespace

bool StreamInput::next(std::string& line) {
    return static_cast<bool>(std::getline(in_, line));
}

RunResult runScenario(ScenarioInput& in, const std::string& name, const RunOptions& options,
                      std::ostream& out, std::ostream& err) {
    Runner runner(name, options, out, err);
    RunResult result = runner.run(in);
    crashReportClear(); // the plug-in's part of this file is over
    return result;
}
