#include "shrink.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <tuple>
#include <utility>

namespace {

// Simpler values of a step's field, simplest first; none for what is already simplest.
std::vector<std::string> simpler(const std::string& text) {
    if (text.empty()) return {};
    // Shorter by halves and quarters, then (for short texts only, so that a long one cannot
    // take a trial per character) by one character.
    std::vector<std::string> out = {""};
    if (text.size() > 2) out.push_back(text.substr(0, text.size() / 2));
    if (text.size() > 4) out.push_back(text.substr(0, text.size() * 3 / 4));
    if (text.size() > 1 && text.size() <= 64) out.push_back(text.substr(0, text.size() - 1));
    return out;
}
std::vector<std::int32_t> simpler(std::int32_t n) {
    std::vector<std::int32_t> out;
    if (n != 0) out.push_back(0);
    if (n != 0 && n != 1) out.push_back(1);
    if (n / 2 != 0 && n / 2 != 1 && std::abs(static_cast<long long>(n)) > 2) out.push_back(n / 2);
    return out;
}
std::vector<Milliseconds> simpler(Milliseconds d) {
    std::vector<Milliseconds> out;
    if (d.ms != 0) out.push_back({0});
    if (d.ms > 1) out.push_back({d.ms / 2});
    return out;
}
std::vector<Setting> simpler(const Setting&) {
    return {};
}

template <std::size_t I, class Kind>
void simplerField(const Step& step, const Kind& kind, std::vector<Step>& out) {
    for (const auto& value : simpler(std::get<I>(kind.fields()))) {
        Kind changed = kind;
        std::get<I>(changed.fields()) = value;
        Step s = step;
        s.kind = changed;
        out.push_back(std::move(s));
    }
}
template <class Kind, std::size_t... I>
void simplerFields(const Step& step, const Kind& kind, std::index_sequence<I...>,
                   std::vector<Step>& out) {
    (simplerField<I>(step, kind, out), ...);
}

// A parent command that keeps its answer as one that hands it back at once; none for others.
std::optional<Step> handedBackAtOnce(const Step& step) {
    const auto* hold = std::get_if<steps::Hold>(&step.kind);
    if (!hold) return std::nullopt;
    Step s = step;
    s.kind = steps::Parent{hold->text};
    return s;
}

// Every step one field simpler than this one, whatever its kind; a parent command that keeps
// its answer first becomes one that hands it back at once.
std::vector<Step> simplerSteps(const Step& step) {
    std::vector<Step> out;
    if (auto parent = handedBackAtOnce(step)) out.push_back(std::move(*parent));
    std::visit(
        [&](const auto& kind) {
            using Fields = decltype(kind.fields());
            simplerFields(step, kind, std::make_index_sequence<std::tuple_size_v<Fields>>(), out);
        },
        step.kind);
    return out;
}

class Shrinker {
public:
    Shrinker(const Trial& failing, const TrialVerdict& verdict, const TrialRunner& run,
             double limitSeconds)
        : run_(run), deadline_(std::chrono::steady_clock::now() +
                               std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(limitSeconds))) {
        result_.trial = failing;
        result_.verdict = verdict;
        result_.stepsBefore = failing.steps();
    }

    ShrinkResult shrink() {
        const auto started = std::chrono::steady_clock::now();
        focus();
        // Fewer steps first, values after: each step taken away makes every later pass cheaper.
        for (bool changed = true; changed && !result_.limitReached;) {
            changed = fewerLives();
            changed |= failingLifeFirst();
            for (std::size_t life = 0; life < result_.trial.lives.size(); ++life)
                changed |= fewerSteps(life);
            for (std::size_t life = 0; life < result_.trial.lives.size() && !changed; ++life)
                // Steps made alike are tried before merges, which cost a trial for each
                // step and exemplar; not for a hang, where each alike candidate that keeps
                // hanging costs the wait and merges find the same in fewer of them.
                changed = result_.verdict.kind == TrialVerdict::TimedOut
                              ? mergedSteps(life) || alikeThenFewer(life)
                              : alikeThenFewer(life) || mergedSteps(life);
            if (changed) continue;
            for (std::size_t life = 0; life < result_.trial.lives.size(); ++life)
                changed |= simplerValues(life);
            changed |= fewerInstances();
        }
        result_.stepsAfter = result_.trial.steps();
        result_.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return result_;
    }

private:
    // Takes the candidate when it fails the same way.
    bool holds(const Trial& candidate) {
        if (result_.limitReached || std::chrono::steady_clock::now() >= deadline_) {
            result_.limitReached = true;
            return false;
        }
        ++result_.attempts;
        const TrialVerdict v = run_(candidate);
        if (!v.same(result_.verdict)) return false;
        result_.trial = candidate;
        result_.verdict = v;
        // A candidate may fail sooner than the trial it came from: what follows the step it
        // failed in is then tried away at once.
        if (v.life < candidate.lives.size() && v.step >= 1 &&
            v.step < candidate.lives[v.life].steps.size()) {
            Trial shorter = candidate;
            shorter.lives[v.life].steps.resize(v.step);
            holds(shorter);
        }
        return true;
    }

    // Lives side by side start in their order: the life the fault was found in goes first, so
    // that the others' steps before its failing one can go.
    bool failingLifeFirst() {
        const std::size_t failing = result_.verdict.life;
        if (result_.trial.mode == Trial::Mode::Alone || failing == 0 ||
            failing >= result_.trial.lives.size())
            return false;
        Trial candidate = result_.trial;
        std::rotate(candidate.lives.begin(),
                    candidate.lives.begin() + static_cast<std::ptrdiff_t>(failing),
                    candidate.lives.begin() + static_cast<std::ptrdiff_t>(failing) + 1);
        return holds(candidate);
    }

    // Steps made alike, kept only when a step can go then. Rationale: a step made alike is no
    // smaller, and values made simpler can make it unlike again, so only a step fewer ends the
    // pass; when none can go, the same trial is not tried again.
    bool alikeThenFewer(std::size_t life) {
        if (result_.trial.steps() == alikeFailedAt_) return false;
        const Trial before = result_.trial;
        const TrialVerdict verdict = result_.verdict;
        if (alikeSteps(life)) fewerSteps(life);
        if (result_.trial.steps() < before.steps()) return true;
        result_.trial = before;
        result_.verdict = verdict;
        alikeFailedAt_ = before.steps();
        return false;
    }

    // Steps made like the life's most frequent one: a fault at a count of messages needs its
    // steps alike before one more of them can go (a parent command with no answer among ones
    // that have an answer). Each one taken makes that step more frequent, so it ends.
    bool alikeSteps(std::size_t life) {
        const auto& steps = result_.trial.lives[life].steps;
        std::size_t best = 0, bestCount = 0;
        for (std::size_t i = 1; i < steps.size(); ++i) {
            if (steps[i].isComment()) continue;
            const auto count =
                static_cast<std::size_t>(std::count(steps.begin() + 1, steps.end(), steps[i]));
            if (count > bestCount) {
                best = i;
                bestCount = count;
            }
        }
        if (bestCount < 2) return false;
        const Step frequent = steps[best];
        // All at once first, then all but the last (the step that failed, often of another
        // kind); one by one only where a candidate that keeps failing costs no wait (a hang's
        // does, for every step).
        for (const std::size_t keep : {std::size_t{0}, steps.size() - 1}) {
            Trial candidate = result_.trial;
            for (std::size_t i = 1; i < steps.size(); ++i)
                if (i != keep && !steps[i].isComment()) candidate.lives[life].steps[i] = frequent;
            if (candidate.lives[life].steps != steps && holds(candidate)) return true;
        }
        if (result_.verdict.kind == TrialVerdict::TimedOut) return false;
        bool changed = false;
        for (std::size_t i = 1; i < result_.trial.lives[life].steps.size(); ++i) {
            if (result_.limitReached) return changed;
            const Step& step = result_.trial.lives[life].steps[i];
            if (step.isComment() || step == frequent) continue;
            Trial candidate = result_.trial;
            candidate.lives[life].steps[i] = frequent;
            changed |= holds(candidate);
        }
        return changed;
    }

    // First the life the fault was found in, alone, up to the step it was found in: most
    // faults need nothing more.
    void focus() {
        const TrialVerdict& v = result_.verdict;
        if (v.life >= result_.trial.lives.size()) return;
        Trial candidate = result_.trial;
        Life life = candidate.lives[v.life];
        if (v.step >= 1 && v.step < life.steps.size()) life.steps.resize(v.step);
        candidate.lives = {life};
        if (candidate.steps() < result_.trial.steps()) holds(candidate);
    }

    // Runs of lives, from half of them down to one, from the last backwards; one stays.
    bool fewerLives() {
        bool changed = false;
        for (std::size_t run = result_.trial.lives.size() / 2; run >= 1; run /= 2) {
            for (std::size_t end = result_.trial.lives.size();
                 end > 0 && result_.trial.lives.size() > 1 && !result_.limitReached;) {
                const std::size_t begin = end > run ? end - run : 0;
                if (end - begin == result_.trial.lives.size()) break;
                Trial candidate = result_.trial;
                candidate.lives.erase(candidate.lives.begin() + static_cast<std::ptrdiff_t>(begin),
                                      candidate.lives.begin() + static_cast<std::ptrdiff_t>(end));
                changed |= holds(candidate);
                end = begin;
            }
        }
        return changed;
    }

    // Runs of steps, from half the life down to one step, from the end backwards; the first
    // step (the component's creation) stays.
    bool fewerSteps(std::size_t life) {
        bool changed = false;
        for (std::size_t run = result_.trial.lives[life].steps.size() / 2; run >= 1; run /= 2) {
            for (std::size_t end = result_.trial.lives[life].steps.size(); end > 1;) {
                const std::size_t begin = end > run + 1 ? end - run : 1;
                Trial candidate = result_.trial;
                auto& steps = candidate.lives[life].steps;
                steps.erase(steps.begin() + static_cast<std::ptrdiff_t>(begin),
                            steps.begin() + static_cast<std::ptrdiff_t>(end));
                if (holds(candidate)) changed = true;
                end = begin;
                if (result_.limitReached) return changed;
            }
        }
        return changed;
    }

    bool simplerValues(std::size_t life) {
        bool changed = false;
        for (std::size_t i = 0; i < result_.trial.lives[life].steps.size(); ++i) {
            if (result_.trial.lives[life].steps[i].isComment()) continue;
            for (bool more = true; more && !result_.limitReached;) {
                more = false;
                for (Step& simpler : simplerSteps(result_.trial.lives[life].steps[i])) {
                    Trial candidate = result_.trial;
                    candidate.lives[life].steps[i] = std::move(simpler);
                    if (holds(candidate)) {
                        changed = more = true;
                        break;
                    }
                }
            }
        }
        return changed;
    }

    // Two steps in a row made one, another of the life's own: a fault at a count of messages
    // needs fewer steps of those that deliver more. Each one taken is a step fewer, so it ends.
    // The parent commands that hand their answer back at once come first: they deliver the
    // most (the command and the hand-back); a life without one is given "return=all".
    bool mergedSteps(std::size_t life) {
        std::vector<Step> exemplars;
        const auto add = [&](const Step& s) {
            if (exemplars.size() < 12 &&
                std::find(exemplars.begin(), exemplars.end(), s) == exemplars.end())
                exemplars.push_back(s);
        };
        for (const Step& s : result_.trial.lives[life].steps) {
            if (const auto parent = handedBackAtOnce(s)) {
                add(*parent);
            } else if (std::holds_alternative<steps::Parent>(s.kind)) {
                add(s);
            }
        }
        // And the query every component answers, for lives that have no parent command.
        add(Step{steps::Parent{"return=all"}, "", 0});
        for (const Step& s : result_.trial.lives[life].steps)
            if (!s.isComment()) add(s);
        bool changed = false;
        for (std::size_t i = 1; i + 1 < result_.trial.lives[life].steps.size(); ++i) {
            for (const Step& exemplar : exemplars) {
                if (result_.limitReached) return changed;
                Trial candidate = result_.trial;
                auto& steps = candidate.lives[life].steps;
                steps[i] = exemplar;
                steps.erase(steps.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                if (holds(candidate)) {
                    changed = true;
                    break;
                }
            }
        }
        return changed;
    }

    // The facility's instances the fault does not need, and the labels and replies of those it
    // does.
    bool fewerInstances() {
        bool changed = false;
        for (std::size_t life = 0; life < result_.trial.lives.size(); ++life) {
            std::vector<std::string> names;
            for (const auto& entry : result_.trial.lives[life].facility.instances)
                names.push_back(entry.first);
            for (const std::string& name : names) {
                Trial candidate = result_.trial;
                candidate.lives[life].facility.instances.erase(name);
                if (holds(candidate)) {
                    changed = true;
                    continue;
                }
                FacilityInstance& kept = candidate.lives[life].facility.instances[name];
                kept = result_.trial.lives[life].facility.instances.at(name);
                if (kept.reply || !kept.idtext.empty()) {
                    kept.reply.reset();
                    kept.idtext.clear();
                    changed |= holds(candidate);
                }
            }
        }
        return changed;
    }

    const TrialRunner& run_;
    std::size_t alikeFailedAt_ = 0; // the size of the trial that no steps made alike shortened
    std::chrono::steady_clock::time_point deadline_;
    ShrinkResult result_;
};

} // namespace

ShrinkResult shrinkTrial(const Trial& failing, const TrialVerdict& verdict, const TrialRunner& run,
                         double limitSeconds) {
    return Shrinker(failing, verdict, run, limitSeconds).shrink();
}
