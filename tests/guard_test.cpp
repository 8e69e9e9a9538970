// The exception guard: faults and raised exceptions inside a guarded body come back as their codes and
// the process goes on.
#include "driver/driver_channel.h"
#include "platform/guard.h"
#include "sim_fixture.h"

namespace {

using Guard = SimTest;

int volatile* volatile nowhere = nullptr;

void ReadThroughNull(void* context) { *static_cast<int*>(context) = *nowhere; }
void RaiseCode(void* context) { RaiseException(*static_cast<DWORD*>(context), 0, 0, nullptr); }
void Finish(void* context) { *static_cast<int*>(context) = 42; }
void NestedFault(void* context) {
    auto* inner = static_cast<DWORD*>(context);
    int sink = 0;
    *inner = ZelRunGuarded(ReadThroughNull, &sink);
    RaiseException(0xE0001234, 0, 0, nullptr);  // reaches the outer guard
}

TEST_F(Guard, BodyThatFinishesReturnsZero) {
    int result = 0;
    EXPECT_EQ(ZelRunGuarded(Finish, &result), 0u);
    EXPECT_EQ(result, 42);
}

TEST_F(Guard, AccessViolationBecomesItsCode) {
    int sink = 0;
    EXPECT_EQ(ZelRunGuarded(ReadThroughNull, &sink), EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(static_cast<DWORD>(GetPortStatus(nullptr)), EXCEPTION_ACCESS_VIOLATION);
}

TEST_F(Guard, RaisedExceptionBecomesItsCode) {
    DWORD code = 0x80000100;
    EXPECT_EQ(ZelRunGuarded(RaiseCode, &code), 0x80000100u);
    sim::DriverLoad("4.302.7.15");
    sim::RaiseInCall("CreateFileW", 1, 0xC0000096);
    PortStatus status = {};
    status.PortNumber = 1;
    EXPECT_EQ(static_cast<DWORD>(GetPortStatus(&status)), 0xC0000096u);
}

TEST_F(Guard, NestedGuardsEachCatchTheirOwn) {
    DWORD inner = 0;
    EXPECT_EQ(ZelRunGuarded(NestedFault, &inner), 0xE0001234u);
    EXPECT_EQ(inner, EXCEPTION_ACCESS_VIOLATION);
}

TEST_F(Guard, ManyFaultsInARowLeaveTheProcessHealthy) {
    for (int i = 0; i < 1000; ++i) {
        int sink = 0;
        ASSERT_EQ(ZelRunGuarded(ReadThroughNull, &sink), EXCEPTION_ACCESS_VIOLATION);
    }
    int result = 0;
    EXPECT_EQ(ZelRunGuarded(Finish, &result), 0u);
    EXPECT_EQ(result, 42);
}

}  // namespace
