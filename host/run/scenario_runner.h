// Runs a scenario (step.h) through a session (session.h): what `vorn-host run` does with each
// file, in the sandbox's child process.
#pragma once

#include <nlohmann/json.hpp>

#include <istream>
#include <ostream>
#include <string>
#include <vector>

struct RunOptions {
    std::string plugin; // default plug-in file
    std::string config; // default configuration file
    bool quiet = false;
    bool interactive = false; // keep going after a failure, prompt on a terminal
    int stepSeconds = 60;     // a step that has not returned by then ends the run; 0: no limit
    // Where to write the steps run, each followed by every event it made as an expectation,
    // so that running what was written passes; null: not recorded.
    std::ostream* record = nullptr;
    std::string noPlugin = {}; // when there is no default plug-in: why, for a person
};

struct RunResult {
    int steps = 0;                     // steps and expectations read
    int expectations = 0;              // of which expectations
    int failures = 0;                  // mismatches and contract breaches, each reported
    std::vector<std::string> problems; // each failure and error, as printed
    bool malformed = false; // a line that is not a step, or a plug-in that cannot be loaded
};

// Where the steps come from, one line at a time.
class ScenarioInput {
public:
    virtual bool next(std::string& line) = 0;

protected:
    ~ScenarioInput() = default;
};

class StreamInput final : public ScenarioInput {
public:
    explicit StreamInput(std::istream& in) : in_(in) {}
    bool next(std::string& line) override;

private:
    std::istream& in_;
};

// Runs the scenario read from "in"; "name" names it in messages and anchors relative paths.
// Every mismatch is reported and the run goes on; a malformed line or a plug-in that cannot be
// loaded stops it. Interactive runs read "help" and "quit" too and go on after errors.
RunResult runScenario(ScenarioInput& in, const std::string& name, const RunOptions& options,
                      std::ostream& out, std::ostream& err);

// A run's options and result as the channel carries them between the sandbox's two sides (the
// recording's stream is not carried: the child opens its own).
nlohmann::json runOptionsToJson(const RunOptions& options);
RunOptions runOptionsFromJson(const nlohmann::json& json);
nlohmann::json runResultToJson(const RunResult& result);
bool runResultFromJson(const nlohmann::json& json, RunResult& result);
