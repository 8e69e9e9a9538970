// The fixture every test of the library runs in: a fresh simulated machine before, and after, no open
// handle, no heap block, no misuse of the platform and no scripted answer left unused.
#pragma once

#include <gtest/gtest.h>

#include "winsim/sim.h"

class SimTest : public testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override {
        EXPECT_EQ(sim::LeakReport(), "") << "handles or heap blocks leaked";
        for (const std::string& violation : sim::Violations()) ADD_FAILURE() << "platform misuse: " << violation;
        EXPECT_EQ(sim::PendingMessageBoxAnswers(), 0u) << "a scripted message box answer was never used";
        if (HasFailure()) std::cerr << "Last calls on the simulated machine:\n" << sim::CallLogText(60);
        sim::Reset();
    }
};
