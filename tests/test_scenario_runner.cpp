#include "scenario_runner.h"

#include <gtest/gtest.h>
#include <sstream>

TEST(ScenarioRunner, AMalformedLineStopsTheRunBeforeAnyStep) {
    std::istringstream text("create\nbogus\n");
    StreamInput in(text);
    std::ostringstream out, err;
    RunResult r =
        runScenario(in, "t.vorn", RunOptions{"/nonexistent.so", "", true, false}, out, err);
    EXPECT_TRUE(r.malformed);
    EXPECT_NE(err.str().find("t.vorn:1: /nonexistent.so: no such plug-in file"), std::string::npos)
        << err.str();
}
