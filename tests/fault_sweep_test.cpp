// Every platform call of the installer's runs fails in turn, once and for good, or raises: whatever
// fails, nothing crashes, nothing is left open (but after a raise, whose guard releases nothing), the
// platform is not misused, the privileges are put back, and no port keeps settings that are neither its
// own nor the driver's. The machine is kept small; tools/fault_sweep.sh sweeps a large one.
#include <gtest/gtest.h>

#include "tools/sweep/fault_sweep.h"
#include "winsim/sim.h"

namespace {

struct SweepCase {
    size_t run;
    sweep::Mode mode;
};

class FaultSweepTest : public testing::TestWithParam<SweepCase> {};

TEST_P(FaultSweepTest, NoFailureCausesAProblem) {
    std::vector<sweep::Run> runs = sweep::StandardRuns(2);
    const sweep::Run& run = runs.at(GetParam().run);
    sweep::Report report = sweep::SweepRun(run, GetParam().mode);
    EXPECT_GT(report.calls, 0u);
    EXPECT_EQ(report.outcomes.size(), report.calls) << "every call swept";
    size_t shown = 0;
    for (const sweep::Outcome& outcome : report.outcomes)
        for (const std::string& problem : sweep::Problems(run, outcome))
            if (shown++ < 10) ADD_FAILURE() << problem;
    EXPECT_EQ(shown, 0u) << "problems in " << run.name;
}

std::vector<SweepCase> Cases() {
    std::vector<SweepCase> cases;
    for (size_t run = 0; run < sweep::StandardRuns(2).size(); ++run)
        for (sweep::Mode mode : {sweep::Mode::Transient, sweep::Mode::Persistent, sweep::Mode::Raise})
            cases.push_back({run, mode});
    return cases;
}

std::string CaseName(const testing::TestParamInfo<SweepCase>& info) {
    static const char* const kModes[] = {"Transient", "Persistent", "Raise"};
    return "Run" + std::to_string(info.param.run) + kModes[static_cast<int>(info.param.mode)];
}

INSTANTIATE_TEST_SUITE_P(Runs, FaultSweepTest, testing::ValuesIn(Cases()), CaseName);

}  // namespace
