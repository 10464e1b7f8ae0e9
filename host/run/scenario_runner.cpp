#include "scenario_runner.h"

#include "crash_report.h"
#include "plugin_file.h"
#include "session.h"

#include <algorithm>
#include <cstdio>

namespace {

class Runner {
public:
    Runner(const std::string& name, const RunOptions& options, std::ostream& out, std::ostream& err)
        : name_(name), options_(options), out_(out), err_(err),
          // A file is strict; steps typed or piped are looked at as they run, and a recording
          // writes what the steps did as the expectations that hold them.
          session_(SessionOptions{options.plugin, name, options.noPlugin,
                                  name != "-" && !options.record}) {}

    RunResult run(ScenarioInput& in) {
        if (!options_.config.empty()) {
            if (!report(session_.configure(options_.config, 0), 0)) return result_;
            // A recording replays with the configuration it was made with.
            if (options_.record) record(Step{steps::Config{absolutePath(options_.config)}, "", 0});
        }
        if (name_ == "-")
            runTyped(in);
        else
            runFile(in);
        if (interrupted() && !options_.quiet)
            out_ << name_ << ": interrupted (Ctrl-C): the run ends here\n";
        // What the last steps did is accounted for too, unless the run stopped short.
        if (!interrupted() && !result_.malformed) report(session_.closeGroup(), lastLine_);
        // The components are ended, their teardown shown, however the run ends.
        crashReportLimit(std::chrono::seconds(options_.stepSeconds));
        finish();
        crashReportLimit(std::chrono::milliseconds(0));
        if (options_.record) options_.record->flush();
        if (!result_.malformed && result_.steps == 0 && !options_.interactive)
            fatal(name_ + ":" + std::to_string(lines_.size()),
                  "no steps: a scenario needs at least one step");
        return result_;
    }

private:
    // A file is read and parsed whole before its first step runs: every malformed line is
    // reported, and then nothing runs.
    void runFile(ScenarioInput& in) {
        std::string raw;
        while (in.next(raw))
            lines_.push_back(raw);
        const Script script = parseScript(lines_);
        for (const std::string& error : script.errors)
            fatal(name_ + ":" + error.substr(0, error.find(':')),
                  error.substr(error.find(':') + 2));
        if (!script.errors.empty()) return;
        for (const Step& step : script.steps) {
            if (interrupted()) break;
            if (!execute(step) && !options_.interactive) break;
        }
    }

    // Typed or piped steps, one at a time as they come, with the prompt's own words.
    void runTyped(ScenarioInput& in) {
        std::string raw;
        while (!interrupted() && in.next(raw)) {
            lines_.push_back(raw);
            const std::string word = raw.substr(0, raw.find_last_not_of(" \t\r") + 1);
            if (word == "quit" || word == "exit") break;
            if (word == "help") {
                out_ << scenarioHelp() << std::flush;
                continue;
            }
            std::string error;
            const int line = static_cast<int>(lines_.size());
            const std::optional<Step> step = parseStep(raw, line, error);
            if (!step) {
                if (error.empty()) continue; // a blank line
                fatal(name_ + ":" + std::to_string(line), error + "\n  line: " + visible(raw));
                if (!options_.interactive) return;
                continue;
            }
            if (!execute(*step) && !options_.interactive) return;
        }
    }

    // The line a step was read from, as written.
    std::string source(const Step& step) const {
        if (step.line < 1 || static_cast<std::size_t>(step.line) > lines_.size())
            return formatStep(step);
        std::string line = lines_[static_cast<std::size_t>(step.line) - 1];
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line.substr(std::min(line.size(), line.find_first_not_of(" \t")));
    }

    // Runs a step, shows and records it; false when the run cannot go on past it.
    bool execute(const Step& step) {
        if (step.isComment()) return true;
        lastLine_ = step.line;
        ++result_.steps;
        const bool expectation = step.isExpectation();
        if (expectation) ++result_.expectations;
        // What is running, for the report of a crash.
        const std::string written = source(step);
        crashReportSet(
            (name_ + ":" + std::to_string(step.line) + " '" + escape(written) + "'").c_str());
        if (!expectation && !options_.quiet)
            out_ << name_ << ":" << step.line << "  " << written << "\n";
        out_.flush(); // all that went before is out, should the plug-in crash in this step
        crashReportLimit(std::chrono::seconds(options_.stepSeconds));
        const int loads = session_.loads();
        const std::vector<StepFailure> failures = session_.apply(step);
        crashReportLimit(std::chrono::milliseconds(0));
        // Which plug-in a run judged, said before anything it did.
        if (session_.loads() != loads && !options_.quiet) {
            const std::string version = pluginVersion(session_.pluginFile());
            out_ << "plug-in " << absolutePath(session_.pluginFile())
                 << (version.empty() ? "" : " (version " + version + ")") << "\n";
        }
        if (!expectation) {
            if (!options_.quiet) show(step);
            record(step);
        }
        const bool ok = report(failures, step.line);
        // What was recorded is kept, however the run ends.
        if (options_.record) options_.record->flush();
        out_.flush();
        return ok;
    }

    // What the step made each component do; with several, each under its name.
    void show(const Step& step) {
        for (const Session::Member& m : session_.members()) {
            const std::string shown = transcript(*m.host, m.stepStart);
            if (shown.empty()) continue;
            if (!m.name.empty()) out_ << "  @" << m.name << ":\n";
            out_ << shown;
        }
        if (const std::optional<Silence> silence = session_.silence(step))
            out_ << "  " << silence->text() << "\n";
    }

    // Writes the step as it ran, its files as absolute paths, then what it made the components
    // do as expectations.
    void record(Step step) {
        if (!options_.record) return;
        if (auto* config = std::get_if<steps::Config>(&step.kind))
            config->file = absolutePath(session_.resolve(config->file));
        if (auto* load = std::get_if<steps::Load>(&step.kind); load && !load->file.empty())
            load->file = absolutePath(session_.resolve(load->file));
        *options_.record << formatStep(step) << "\n";
        if (std::holds_alternative<steps::Config>(step.kind) && step.line == 0) return;
        for (const Step& expectation : session_.expectations())
            *options_.record << formatStep(expectation) << "\n";
    }

    // Reports what a step found; false when one of them is fatal.
    bool report(const std::vector<StepFailure>& failures, int line) {
        bool ok = true;
        for (const StepFailure& f : failures) {
            const std::string at = name_ + ":" + std::to_string(f.line ? f.line : line);
            if (f.fatal()) {
                fatal(f.where.empty() ? at : f.where, f.message);
                ok = false;
                continue;
            }
            ++result_.failures;
            out_.flush();
            const std::string text =
                at + ": " + f.what + "\n  expected: " + f.expected + "\n  actual:   " + f.actual;
            err_ << text << "\n";
            result_.problems.push_back(text);
        }
        return ok;
    }

    void fatal(const std::string& where, const std::string& message) {
        result_.malformed = true;
        out_.flush();
        const std::string text = where + ": " + message;
        err_ << text << "\n";
        result_.problems.push_back(text);
    }

    // The components still alive are deleted, each as a 'delete' step would, their teardown
    // shown and recorded.
    void finish() {
        for (const Step& step : session_.endings()) {
            const std::string who = step.component.empty() ? "" : " " + step.component;
            crashReportSet((name_ + ": end, deleting the component" + who).c_str());
            if (!options_.quiet) out_ << name_ << ": end: the component" << who << " is deleted\n";
            const std::vector<StepFailure> failures = session_.apply(step);
            if (!options_.quiet) show(step);
            record(step);
            if (options_.record && session_.host(step.component)->ended)
                *options_.record << formatStep(Step{steps::ExpectEnded{}, step.component, 0})
                                 << "\n";
            report(failures, lastLine_);
        }
    }

    std::string name_;
    RunOptions options_;
    std::ostream& out_;
    std::ostream& err_;
    Session session_;
    std::vector<std::string> lines_; // as read
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

nlohmann::json runOptionsToJson(const RunOptions& o) {
    return {{"plugin", o.plugin}, {"noPlugin", o.noPlugin},       {"config", o.config},
            {"quiet", o.quiet},   {"interactive", o.interactive}, {"stepSeconds", o.stepSeconds}};
}

RunOptions runOptionsFromJson(const nlohmann::json& j) {
    RunOptions o;
    o.plugin = j.value("plugin", "");
    o.noPlugin = j.value("noPlugin", "");
    o.config = j.value("config", "");
    o.quiet = j.value("quiet", false);
    o.interactive = j.value("interactive", false);
    o.stepSeconds = j.value("stepSeconds", 60);
    return o;
}

nlohmann::json runResultToJson(const RunResult& r) {
    return {{"steps", r.steps},
            {"expectations", r.expectations},
            {"failures", r.failures},
            {"problems", r.problems},
            {"malformed", r.malformed}};
}

bool runResultFromJson(const nlohmann::json& j, RunResult& r) {
    r = RunResult();
    if (!j.is_object()) return false;
    try {
        r.steps = j.at("steps");
        r.expectations = j.at("expectations");
        r.failures = j.at("failures");
        r.malformed = j.at("malformed");
        r.problems = j.at("problems").get<std::vector<std::string>>();
    } catch (const nlohmann::json::exception&) {
        return false;
    }
    return true;
}
