// The exception guard on the system's own exception dispatch: processor faults and raised exceptions,
// in our code and inside system DLLs, come back as their codes; the frames between the guard and the
// fault are unwound; the thread's exception chain is left as it was, a thousand times over.

#include "driver/driver_channel.h"
#include "platform/guard.h"
#include "platform/msports.h"
#include "wintests/wine_test.h"

namespace {

using wintest::ExceptionChainHead;

void ReadNull(void*) {
    volatile int* volatile nowhere = nullptr;
    (void)*nowhere;
}

void WriteReadOnly(void*) {
    static const char kConstant[] = "read-only";
    char* volatile target = const_cast<char*>(kConstant);
    target[0] = 'X';
}

void DivideByZero(void*) {
    volatile int dividend = 100;
    volatile int zero = 0;
    volatile int quotient = dividend / zero;
    (void)quotient;
}

void IllegalInstruction(void*) { __builtin_trap(); }

void Breakpoint(void*) { __debugbreak(); }

void FaultInSystemDll(void*) {
    // msvcrt's own strlen on a null pointer: the fault is raised in a system DLL's code.
    using StrLen = size_t(__cdecl*)(const char*);
    auto strLen = reinterpret_cast<StrLen>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), "strlen")));
    ASSERT_NE(strLen, nullptr);
    volatile size_t length = strLen(nullptr);
    (void)length;
}

__attribute__((noinline)) void Recurse(int depth) {
    volatile char frame[64];
    frame[0] = static_cast<char>(depth);
    if (depth == 0) ReadNull(nullptr);
    else Recurse(depth - 1);
    (void)frame[0];
}

void FaultDeepDown(void*) { Recurse(50); }

struct FaultCase {
    const char* name;
    ZelGuardedBody body;
    DWORD code;
};

class GuardFaults : public wintest::WineTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(GuardFaults, ComeBackAsTheirCodeAndTheChainIsRestored) {
    DWORD head = ExceptionChainHead();
    EXPECT_EQ(ZelRunGuarded(GetParam().body, nullptr), GetParam().code);
    EXPECT_EQ(ExceptionChainHead(), head);
}

const FaultCase kFaults[] = {
    {"ReadNull", ReadNull, EXCEPTION_ACCESS_VIOLATION},
    {"WriteReadOnly", WriteReadOnly, EXCEPTION_ACCESS_VIOLATION},
    {"DivideByZero", DivideByZero, EXCEPTION_INT_DIVIDE_BY_ZERO},
    {"IllegalInstruction", IllegalInstruction, EXCEPTION_ILLEGAL_INSTRUCTION},
    {"Breakpoint", Breakpoint, EXCEPTION_BREAKPOINT},
    {"FaultInSystemDll", FaultInSystemDll, EXCEPTION_ACCESS_VIOLATION},
    {"FaultDeepDown", FaultDeepDown, EXCEPTION_ACCESS_VIOLATION},
};
INSTANTIATE_TEST_SUITE_P(Processor, GuardFaults, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

struct Raise {
    DWORD code;
    DWORD flags;
};

void RaiseBody(void* context) {
    auto* raise = static_cast<Raise*>(context);
    ULONG_PTR argument = 42;
    RaiseException(raise->code, raise->flags, 1, &argument);
}

class GuardTest : public wintest::WineTest {};

TEST_F(GuardTest, RaisedExceptionsComeBackAsTheirCode) {
    const Raise raises[] = {
        {0xE0000203u, 0},                         // a SetupAPI-style code
        {0xC0000005u, EXCEPTION_NONCONTINUABLE},  // the access-violation code, raised by software
        {0x00000001u, 0},
    };
    for (Raise raise : raises) {
        SCOPED_TRACE(testing::Message() << std::hex << raise.code);
        EXPECT_EQ(ZelRunGuarded(RaiseBody, &raise), raise.code);
    }
}

TEST_F(GuardTest, GetPortStatusWithNullRecordReturnsAccessViolation) {
    EXPECT_EQ(GetPortStatus(nullptr), static_cast<ZelStatus>(EXCEPTION_ACCESS_VIOLATION));
    // And the process goes on: the next request runs normally (no driver here).
    PortStatus status = {};
    status.PortNumber = 1;
    EXPECT_EQ(GetPortStatus(&status), ZEL_DRIVER_OPEN_FAILED);
}

struct ComDbCall {
    LONG result;
    HCOMDB database;
};

void OpenComDb(void* context) {
    auto* call = static_cast<ComDbCall*>(context);
    call->result = ComDBOpen(&call->database);
}

TEST_F(GuardTest, ExceptionRaisedInsideSystemDllComesBackAsItsCode) {
    if (!wintest::OnWine()) GTEST_SKIP() << "relies on the COM port database being an unimplemented stub";
    HMODULE msports = GetModuleHandleW(L"msports.dll");
    if (msports && GetProcAddress(msports, "ZelComDbFixture")) GTEST_SKIP() << "the fixture database is loaded";
    // Wine's msports.dll exports the COM port database as stubs that raise its "unimplemented" exception.
    ComDbCall call = {-1, nullptr};
    EXPECT_EQ(ZelRunGuarded(OpenComDb, &call), 0x80000100u);
    EXPECT_EQ(call.result, -1) << "the stub returned instead of raising";
}

void OutputDebugLine(void*) { OutputDebugStringA("zel_wintests: debug output inside the guard\n"); }

TEST_F(GuardTest, ExceptionsThatTheSystemHandlesItselfDoNotReachTheGuard) {
    // Debug output is sent as an exception that the system raises and handles around the call.
    EXPECT_EQ(ZelRunGuarded(OutputDebugLine, nullptr), 0u);
}

// A registration record of the test's own between the guard and the fault, as a system DLL calling back
// into guarded code would have: the guard must let the system unwind it before resuming.
struct WitnessCounts {
    int searched;
    int unwound;
};

struct WitnessFrame {
    WitnessFrame* next;  // the first two fields form the system's registration record
    void* handler;
    WitnessCounts* counts;
};

extern "C" EXCEPTION_DISPOSITION __cdecl WitnessHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT*,
                                                         void*) {
    WitnessCounts* counts = static_cast<WitnessFrame*>(establisher)->counts;
    if (record->ExceptionFlags & EXCEPTION_UNWINDING) ++counts->unwound;
    else ++counts->searched;
    return ExceptionContinueSearch;
}

void FaultUnderWitness(void* context) {
    // On the stack below the guard's record, as the system requires of a newer record.
    WitnessFrame witness;
    witness.next = reinterpret_cast<WitnessFrame*>(__readfsdword(0));
    witness.handler = reinterpret_cast<void*>(&WitnessHandler);
    witness.counts = static_cast<WitnessCounts*>(context);
    __writefsdword(0, reinterpret_cast<DWORD>(&witness));
    ReadNull(nullptr);
    __writefsdword(0, reinterpret_cast<DWORD>(witness.next));  // not reached
}

TEST_F(GuardTest, FramesBetweenGuardAndFaultAreUnwound) {
    WitnessCounts counts = {0, 0};
    EXPECT_EQ(ZelRunGuarded(FaultUnderWitness, &counts), EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(counts.searched, 1);
    EXPECT_EQ(counts.unwound, 1);
}

struct Nested {
    DWORD inner;
    bool faultAfterInner;
};

void InnerBody(void*) { ReadNull(nullptr); }

void OuterBody(void* context) {
    auto* nested = static_cast<Nested*>(context);
    nested->inner = ZelRunGuarded(InnerBody, nullptr);
    if (nested->faultAfterInner) DivideByZero(nullptr);
}

TEST_F(GuardTest, NestedGuardsEachCatchTheirOwn) {
    Nested quiet = {0, false};
    EXPECT_EQ(ZelRunGuarded(OuterBody, &quiet), 0u);
    EXPECT_EQ(quiet.inner, EXCEPTION_ACCESS_VIOLATION);

    Nested loud = {0, true};
    EXPECT_EQ(ZelRunGuarded(OuterBody, &loud), EXCEPTION_INT_DIVIDE_BY_ZERO);
    EXPECT_EQ(loud.inner, EXCEPTION_ACCESS_VIOLATION);
}

void CountCall(void* context) { ++*static_cast<int*>(context); }

TEST_F(GuardTest, AThousandFaultsInARowLeaveTheThreadHealthy) {
    DWORD head = ExceptionChainHead();
    for (int i = 0; i < 1000; ++i) {
        DWORD code = ZelRunGuarded(i % 2 ? ReadNull : WriteReadOnly, nullptr);
        if (code != EXCEPTION_ACCESS_VIOLATION || ExceptionChainHead() != head) {
            ADD_FAILURE() << "fault " << i << ": code " << std::hex << code << ", chain head " << ExceptionChainHead()
                          << " instead of " << head;
            break;
        }
    }
    // Still healthy: a body runs to its end, the system dispatches and handles its own exceptions, and a
    // library call that faults is caught again.
    int calls = 0;
    EXPECT_EQ(ZelRunGuarded(CountCall, &calls), 0u);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(ZelRunGuarded(OutputDebugLine, nullptr), 0u);
    EXPECT_EQ(GetPortStatus(nullptr), static_cast<ZelStatus>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(ExceptionChainHead(), head);
}

}  // namespace
