#include "scenario_runner.h"

#include <gtest/gtest.h>
#include <sstream>

// A file is parsed whole first: its malformed lines are all named, and no step runs, not even
// the ones before them (here, loading a plug-in that is not there).
TEST(ScenarioRunner, AMalformedLineStopsTheRunBeforeAnyStep) {
    std::istringstream text("create\nbogus\npress 1\n");
    StreamInput in(text);
    std::ostringstream out, err;
    RunResult r =
        runScenario(in, "t.vorn", RunOptions{"/nonexistent.so", "", true, false}, out, err);
    EXPECT_TRUE(r.malformed);
    EXPECT_EQ(r.steps, 0);
    EXPECT_EQ(err.str(), "t.vorn:2: unknown step 'bogus' (see vorn-host --help)\n  line: bogus\n"
                         "t.vorn:3: expected 'press PANEL CONTROL'\n  line: press 1\n");
}
