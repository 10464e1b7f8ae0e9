// Trials: what a check made of steps does to a plug-in, as data: lives, each a facility and its
// steps, run alone or side by side. A trial that failed can be run again in a child of its own
// (so that a crash, an exit or a hang of the plug-in's is a verdict like a breach), made smaller
// (shrink.h) and written out as a scenario that replays it.
#pragma once

#include "lives.h"
#include "sandbox.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

struct Trial {
    enum class Mode {
        Alone,          // each life in a session of its own, one after another
        SideBySide,     // all in sessions of their own, a step of each in turn
        AloneAndBeside, // side by side, then each alone: each must do the same both times
    } mode = Mode::Alone;
    std::vector<Life> lives;
    std::size_t steps() const; // of all its lives
};

// How a trial ended, as facts.
struct TrialVerdict {
    enum Kind {
        Passed,
        Breach,   // a rule of the host contract: rule is its id
        Failure,  // a step could not run as written (a session's own error)
        Differs,  // a life did otherwise beside others than alone
        Crashed,  // rule: "signal N" or "exception 0x..." (or the contract rule the fault names)
        Exited,   // the plug-in ended the process in a step
        TimedOut, // a step that did not return
    } kind = Passed;
    std::string rule;
    std::string text;     // for a person: "component 3, step 12: [no-as] ..."
    std::size_t life = 0; // the life and step it was found in (from 0 and 1); step 0: unknown
    std::size_t step = 0;
    std::vector<std::string> transcript; // what that life did, up to the fault
    bool passed() const { return kind == Passed; }
    // The same fault: what shrinking keeps.
    bool same(const TrialVerdict& other) const { return kind == other.kind && rule == other.rule; }
    // "breach [no-as]", "crash (signal 11)": the kind of fault, in words.
    std::string fault() const;
};

// Runs the trial here. stepLimit: a step that has not returned within it ends the process as a
// hang that names the step (crash_report.h); 0: no limit.
TrialVerdict runTrial(std::shared_ptr<const Plugin> plugin, const Trial& trial,
                      std::chrono::milliseconds stepLimit);

// Runs the trial in a child of its own that loads the plug-in: the verdict of a crash, an exit
// or a hang is the child's end, with the step it named.
TrialVerdict runTrialInChild(const std::string& pluginPath, const Trial& trial,
                             std::chrono::milliseconds stepLimit);

// The verdict of a child that ran a trial and did not finish it.
TrialVerdict verdictOf(const SandboxOutcome& outcome);

SandboxMessage trialJson(const Trial& trial);
// False, with why, when the message holds no trial.
bool trialFromJson(const SandboxMessage& message, Trial& trial, std::string& error);
SandboxMessage verdictJson(const TrialVerdict& verdict);
TrialVerdict verdictFromJson(const SandboxMessage& message);
