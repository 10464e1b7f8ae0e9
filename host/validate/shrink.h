// Shrinking: a failing trial made as small as the same fault allows, so that what a developer
// reads is the fault and little else. Lives are taken away (the one the fault was found in put
// first, where lives run side by side), then runs of steps (halves down to single steps), then
// two steps in a row made one of the life's own, or steps made alike so that one more can go;
// only when no step can go are values made simpler (texts shorter, numbers smaller, a parent
// command that keeps its answer one that hands it back, the facility's instances fewer), and
// then steps are tried away again. A candidate is taken while the trial still fails with the
// same fault (the same rule, a crash of the same kind), and cut after the step it failed in;
// it ends when nothing more can be taken, or at its time limit.
#pragma once

#include "trial.h"

#include <functional>

struct ShrinkResult {
    Trial trial;          // the smallest that failed so
    TrialVerdict verdict; // how it failed
    std::size_t stepsBefore = 0, stepsAfter = 0;
    int attempts = 0;          // trials run
    bool limitReached = false; // stopped by the time limit, not because nothing more went
    double seconds = 0;
};

// "run" runs a candidate (in a child of its own: a crashing plug-in is shrunk too).
using TrialRunner = std::function<TrialVerdict(const Trial&)>;
ShrinkResult shrinkTrial(const Trial& failing, const TrialVerdict& verdict, const TrialRunner& run,
                         double limitSeconds);
