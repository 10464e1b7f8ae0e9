#include "trial.h"

#include "crash_report.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

std::size_t Trial::steps() const {
    std::size_t n = 0;
    for (const Life& life : lives)
        n += life.steps.size();
    return n;
}

std::string TrialVerdict::fault() const {
    switch (kind) {
    case Passed:
        return "passed";
    case Breach:
        return "breach [" + rule + "]";
    case Failure:
        return "a step that cannot run";
    case Differs:
        return "a difference beside others";
    case Crashed:
        return "crash (" + rule + ")";
    case Exited:
        return "exit";
    case TimedOut:
        return "hang";
    }
    return {};
}

namespace {

TrialVerdict failed(const LifeRun& run, std::size_t life) {
    TrialVerdict v;
    const StepFailure& f = run.failure();
    v.kind = f.kind == StepFailure::Contract ? TrialVerdict::Breach : TrialVerdict::Failure;
    v.rule = f.rule;
    v.life = life;
    v.step = run.failedStep();
    v.transcript = run.transcript();
    return v;
}

// Lives run side by side, each in its own host, a step of each in turn, in a scattered order
// that still visits every one: a stride with no factor in common with their number.
TrialVerdict interleaved(const std::shared_ptr<const Plugin>& plugin, const Trial& trial,
                         std::chrono::milliseconds stepLimit,
                         std::vector<std::unique_ptr<LifeRun>>& runs) {
    for (std::size_t i = 0; i < trial.lives.size(); ++i)
        runs.push_back(
            std::make_unique<LifeRun>(plugin, trial.lives[i], static_cast<int>(i), stepLimit));
    std::size_t stride = 17;
    while (std::gcd(stride, runs.size()) != 1)
        ++stride;
    for (bool more = true; more;) {
        more = false;
        for (std::size_t k = 0; k < runs.size(); ++k) {
            LifeRun& run = *runs[(k * stride) % runs.size()];
            if (run.done()) continue;
            run.step();
            more = true;
        }
    }
    for (std::size_t i = 0; i < runs.size(); ++i)
        if (!runs[i]->problem().empty()) {
            TrialVerdict v = failed(*runs[i], i);
            v.text = trial.lives[i].name + ", " + runs[i]->problem();
            return v;
        }
    return {};
}

TrialVerdict aloneAndBeside(const std::shared_ptr<const Plugin>& plugin, const Trial& trial,
                            std::chrono::milliseconds stepLimit) {
    std::vector<std::unique_ptr<LifeRun>> together;
    TrialVerdict v = interleaved(plugin, trial, stepLimit, together);
    if (!v.passed()) return v;
    for (std::size_t i = 0; i < trial.lives.size(); ++i) {
        const std::string& name = trial.lives[i].name;
        LifeRun alone(plugin, trial.lives[i], static_cast<int>(i), stepLimit);
        alone.finish();
        if (!alone.problem().empty()) {
            v = failed(alone, i);
            v.text = name + " alone, " + alone.problem();
            return v;
        }
        const std::vector<std::string>& a = alone.transcript();
        const std::vector<std::string>& b = together[i]->transcript();
        const auto diff = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
        if (diff.first != a.end() || diff.second != b.end()) {
            v.kind = TrialVerdict::Differs;
            v.life = i;
            v.transcript = b;
            const std::string alonely = diff.first != a.end() ? *diff.first : "(end)";
            const std::string beside = diff.second != b.end() ? *diff.second : "(end)";
            const std::string at = ", at event " + std::to_string(diff.first - a.begin());
            // One life beside none is a life run twice: beside none first, then alone.
            v.text = trial.lives.size() == 1
                         ? name + " did otherwise the second time" + at + ": first '" + beside +
                               "', second '" + alonely + "'"
                         : name + " behaved differently beside others" + at + ": alone '" +
                               alonely + "', beside others '" + beside + "'";
            return v;
        }
    }
    return {};
}

} // namespace

TrialVerdict runTrial(std::shared_ptr<const Plugin> plugin, const Trial& trial,
                      std::chrono::milliseconds stepLimit) {
    TrialVerdict v;
    switch (trial.mode) {
    case Trial::Mode::Alone:
        for (std::size_t i = 0; i < trial.lives.size() && v.passed(); ++i) {
            LifeRun run(plugin, trial.lives[i], static_cast<int>(i), stepLimit);
            run.finish();
            if (!run.problem().empty()) {
                v = failed(run, i);
                v.text = trial.lives[i].name + ", " + run.problem();
            }
        }
        break;
    case Trial::Mode::SideBySide: {
        std::vector<std::unique_ptr<LifeRun>> runs;
        v = interleaved(plugin, trial, stepLimit, runs);
        break;
    }
    case Trial::Mode::AloneAndBeside:
        v = aloneAndBeside(plugin, trial, stepLimit);
        break;
    }
    crashReportClear();
    return v;
}

TrialVerdict verdictOf(const SandboxOutcome& outcome) {
    TrialVerdict v;
    v.text = outcome.describe();
    v.life = outcome.part < 0 ? 0 : static_cast<std::size_t>(outcome.part);
    v.step = outcome.step < 0 ? 0 : static_cast<std::size_t>(outcome.step);
    switch (outcome.kind) {
    case SandboxOutcome::Crashed: {
        v.kind = TrialVerdict::Crashed;
        char code[32];
        if (outcome.exception)
            std::snprintf(code, sizeof code, "exception 0x%08lx", outcome.exception);
        else
            std::snprintf(code, sizeof code, "signal %d", outcome.signal);
        v.rule = outcome.rule.empty() ? code : outcome.rule;
        break;
    }
    case SandboxOutcome::Ended:
        v.kind = outcome.exitedInStep ? TrialVerdict::Exited : TrialVerdict::Failure;
        break;
    case SandboxOutcome::TimedOut:
        v.kind = TrialVerdict::TimedOut;
        break;
    default:
        v.kind = TrialVerdict::Failure;
        break;
    }
    return v;
}

namespace {

// The child's job: the plug-in loaded, then the trial run; its result the verdict.
const SandboxJobType trialJob{
    "trial", [](const SandboxMessage& job, SandboxChildSide& side) {
        auto plugin = std::make_shared<Plugin>();
        std::string error;
        Trial trial;
        TrialVerdict v;
        if (!plugin->open(job["plugin"], error) || !trialFromJson(job["trial"], trial, error)) {
            v.kind = TrialVerdict::Failure;
            v.text = error;
        } else {
            v = runTrial(plugin, trial, std::chrono::milliseconds(job["stepMs"]));
        }
        side.result(verdictJson(v));
    }};

} // namespace

TrialVerdict runTrialInChild(const std::string& pluginPath, const Trial& trial,
                             std::chrono::milliseconds stepLimit) {
    // The child's own step limit names the step that hangs; the parent's, a little later,
    // ends a child that cannot say so.
    const int limitSeconds =
        static_cast<int>(std::chrono::ceil<std::chrono::seconds>(stepLimit).count());
    const SandboxOutcome outcome = sandboxRun(
        trialJob,
        {{"plugin", pluginPath}, {"trial", trialJson(trial)}, {"stepMs", stepLimit.count()}},
        "a trial", SandboxLimits{0, limitSeconds + 2}, SandboxOutput::Discard);
    if (outcome.kind == SandboxOutcome::Finished) return verdictFromJson(outcome.result);
    return verdictOf(outcome);
}

SandboxMessage trialJson(const Trial& trial) {
    SandboxMessage lives = SandboxMessage::array();
    for (const Life& life : trial.lives) {
        SandboxMessage instances = SandboxMessage::object();
        for (const auto& [name, instance] : life.facility.instances) {
            SandboxMessage i = {{"device", instance.device},
                                {"contact", instance.contact},
                                {"idtext", instance.idtext}};
            if (instance.reply) i["reply"] = *instance.reply;
            instances[name] = i;
        }
        SandboxMessage lines = SandboxMessage::array();
        for (const Step& step : life.steps)
            lines.push_back(formatStep(step));
        lives.push_back({{"name", life.name}, {"instances", instances}, {"steps", lines}});
    }
    return {{"mode", static_cast<int>(trial.mode)}, {"lives", lives}};
}

bool trialFromJson(const SandboxMessage& message, Trial& trial, std::string& error) {
    try {
        trial.mode = static_cast<Trial::Mode>(message.at("mode").get<int>());
        trial.lives.clear();
        for (const SandboxMessage& l : message.at("lives")) {
            Life life;
            life.name = l.at("name");
            for (const auto& [name, i] : l.at("instances").items()) {
                FacilityInstance instance{i.at("device"), i.at("contact"), i.at("idtext"),
                                          std::nullopt};
                if (i.contains("reply")) instance.reply = i["reply"].get<std::string>();
                life.facility.instances[name] = instance;
            }
            for (const SandboxMessage& line : l.at("steps")) {
                std::optional<Step> step = parseStep(line.get<std::string>(), 0, error);
                if (!step) return false;
                life.steps.push_back(*step);
            }
            trial.lives.push_back(std::move(life));
        }
        return true;
    } catch (const SandboxMessage::exception& e) {
        error = std::string("not a trial: ") + e.what();
        return false;
    }
}

SandboxMessage verdictJson(const TrialVerdict& v) {
    return {{"kind", static_cast<int>(v.kind)},
            {"rule", v.rule},
            {"text", v.text},
            {"life", v.life},
            {"step", v.step},
            {"transcript", v.transcript}};
}

TrialVerdict verdictFromJson(const SandboxMessage& m) {
    TrialVerdict v;
    v.kind = static_cast<TrialVerdict::Kind>(m.value("kind", 0));
    v.rule = m.value("rule", "");
    v.text = m.value("text", "");
    v.life = m.value("life", std::size_t{0});
    v.step = m.value("step", std::size_t{0});
    v.transcript = m.value("transcript", std::vector<std::string>{});
    return v;
}
