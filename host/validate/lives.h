// Random lives: what the battery does to a component, drawn from a seed as steps (step.h) and
// run in a session of their own, so that the same life can be run again beside others, alone,
// or by `vorn-host run` from the scenario a failing one is written as.
#pragma once

#include "facility.h"
#include "plugin.h"
#include "session.h"
#include "step.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

// What a component says of itself through the contract, as a host can learn it: the names in
// its "_commands" and "return=all" answers (with the kind of value return=all shows), the
// events "_events" announces, the controls it puts properties on, and how many contacts it
// registers when it binds to an instance.
struct ComponentWords {
    enum class Kind { Truth, Number, Text };
    struct Entry {
        std::string name;
        Kind kind;
    };
    std::vector<Entry> settings;
    std::vector<std::string> events;
    std::vector<std::pair<std::string, std::string>> controls; // panel, control
    std::int32_t contactsPerInstance = 1;
};
// Asks a component of the plug-in, in a host of its own: create, "_commands", "_events",
// "return=all", an instance that the host resolves; then its end. Calls into the plug-in.
ComponentWords learnWords(const Plugin& plugin);
// The settings of answers such as "a=true\nb=[value]": each line's name, and the kind its
// value reads as.
void addSettings(const std::string& answer, std::vector<ComponentWords::Entry>& settings);

// Random numbers and texts of the kinds a host may pass, and parent commands, presses and
// reports drawn from what the component says it knows, mixed with random ones.
class Randomness {
public:
    explicit Randomness(std::uint64_t seed, ComponentWords words = {})
        : engine_(seed), words_(std::move(words)) {}
    int below(int n) { return static_cast<int>(engine_() % static_cast<std::uint64_t>(n)); }
    std::int32_t number();
    std::string text();
    std::string parentText(const std::vector<std::string>& names);
    std::string reply();
    const ComponentWords& words() const { return words_; }

private:
    std::string value(ComponentWords::Kind kind);
    std::mt19937_64 engine_;
    ComponentWords words_;
};

// A life: the facility it runs on, and its steps from "create" on; its name says which it is
// in its check ("life 7", "component 3").
struct Life {
    std::string name;
    Facility facility;
    std::vector<Step> steps;
};
Life randomLife(Randomness& rnd);

// A component living one life in a session of its own, a step at a time; the transcript holds
// what it did, in order, for comparison with another run of the same life.
class LifeRun {
public:
    // part: which life of its trial it is, named to the crash reports with each step as it
    // runs, and stepLimit the limit of each step (crash_report.h); -1 and 0: neither.
    LifeRun(std::shared_ptr<const Plugin> plugin, const Life& life, int part = -1,
            std::chrono::milliseconds stepLimit = {});
    bool done() const { return !problem_.empty() || next_ > life_.steps.size(); }
    // "step N: what", or empty.
    const std::string& problem() const { return problem_; }
    // The first failure, when there is a problem.
    const StepFailure& failure() const { return failure_; }
    // The step the problem was found in, counting from 1; past the last: the ending.
    std::size_t failedStep() const { return failedStep_; }
    const std::vector<std::string>& transcript() const { return transcript_; }
    // Runs the next step, or ends the life after the last one.
    void step();
    void finish();

private:
    void take(const std::vector<StepFailure>& failures);

    const Life& life_;
    Session session_;
    std::size_t next_ = 0;
    std::vector<std::string> transcript_;
    std::string problem_;
    StepFailure failure_;
    std::size_t failedStep_ = 0;
    int part_;
    std::chrono::milliseconds stepLimit_;
};

// The facility's instances as sections of a configuration file; a label, when not empty, is
// each one's idtext.
void writeInstances(std::ostream& out, const Facility& facility, const std::string& label = "");

// A path as one word of a command a person copies: in double quotes when it has a blank.
std::string shellWord(const std::string& path);
// The folder the battery's empty configuration is written to.
std::string temporaryFolder();
