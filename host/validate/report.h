// What a validation run hands back: a verdict line per check on the terminal, each failure's
// shrunk replay, and the reports in the out folder: report.json (for programs; its schema is
// docs/validate-report.schema.json), report.xml (JUnit) and report.html (one file a person opens
// and forwards).
#pragma once

#include "shrink.h"
#include "trial.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ValidatorCheck;

// The plug-in file as a person identifies it.
struct PluginFileFacts {
    std::string path; // absolute
    std::uintmax_t size = 0;
    std::string sha256;  // of its bytes, in hex
    std::string version; // its version resource, or empty
};
PluginFileFacts describePluginFile(const std::string& path);

// One check's result.
struct CheckRecord {
    const ValidatorCheck* check = nullptr;
    enum Outcome { Passed, Failed, Crashed, TimedOut, Skipped, Warning } outcome = Passed;
    std::string detail; // as printed
    double seconds = 0;
    // A failure of a check made of trials: the trial, the fault as found, its shrinking and
    // replay.
    std::optional<std::size_t> trialIndex;
    std::optional<TrialVerdict> found;
    std::optional<ShrinkResult> shrunk;
    std::string replay, replayCommand; // the file, and the command that replays it as printed
    std::string note;                  // what could not be done for it, for a person
    bool counts() const { return outcome == Failed || outcome == Crashed || outcome == TimedOut; }
};

struct ValidationReport {
    PluginFileFacts plugin;
    std::string hostVersion;
    std::uint64_t seed = 0;
    int iterations = 0, level = 0;
    double seconds = 0;
    std::string outDir;
    std::vector<CheckRecord> checks;
};

// The lines a check ends with on the terminal: "PASSED  NAME", "FAILED  NAME: why", and for a
// shrunk failure its lengths and the command that replays it.
std::string verdictLine(const CheckRecord& record);

// Writes a shrunk trial as a replay in the folder, under a name of its own (check, seed, life;
// never over a file that is there): a trial of one life as a scenario (and its facility beside
// it) for `vorn-host run`, one of several (or a difference between two runs) as a trial file for
// `vorn-host validate --replay`.
// Returns the file's path, with the command that replays it; empty when it cannot be written.
std::string writeReplay(const Trial& trial, const ShrinkResult& shrunk, const std::string& plugin,
                        const std::string& check, std::uint64_t seed, const std::string& dir,
                        std::string& command);

// report.json, report.xml and report.html in the report's folder, and the JUnit report also at
// junitPath when one is given; false with why when one cannot be written.
bool writeReports(const ValidationReport& report, const std::string& junitPath, std::string& error);

// SHA-256 of bytes, in hex.
std::string sha256Hex(const std::string& bytes);
