// Shrinking: a failing trial made as small as the same fault allows, so that what a developer
// reads is the fault and little else. Lives are taken away, then runs of steps (halves down to
// single steps), then values made simpler (texts shorter, numbers smaller, the facility's
// instances fewer), then two steps in a row made one of the life's own, for as long as the
// trial still fails with the same fault (the same rule, a crash of the same kind); it ends when
// no single step can be removed, or at its time limit.
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
