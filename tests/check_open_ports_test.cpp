// CheckForOpenPorts: asks the driver about ports 1 to 256 and, while one is open, asks the user.
#include "setup/custom_actions.h"
#include "sim_fixture.h"

namespace {

constexpr const char* kOpenPortsText = "There are still ZEL ports open.\nPlease close these ports before continuing.";

struct Port {
    DWORD number;
    uint16_t portOpen;
    DWORD statusError;
};

struct Case {
    const char* name;
    bool driverLoaded;
    std::vector<Port> ports;
    std::vector<int> answers;  // the user's answers, in order; 0: no desktop, boxes fail
    bool closeOnFirstRetry;    // the application closes the open ports when the user answers Retry
    UINT want;
    size_t statusRequests;     // how many status requests reach the driver (0: not checked)
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string CaseName(const testing::TestParamInfo<Case>& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

class CheckForOpenPortsCase : public SimTest, public testing::WithParamInterface<Case> {};

TEST_P(CheckForOpenPortsCase, Scan) {
    const Case& c = GetParam();
    if (c.driverLoaded) sim::DriverLoad("4.302.7.15");
    for (const Port& port : c.ports) sim::DriverSetPort(port.number, sim::DriverPort{{}, port.portOpen, port.statusError, 0});
    bool noDesktop = c.answers.size() == 1 && c.answers[0] == 0;
    sim::SetNoDesktop(noDesktop);
    bool closed = false;
    for (int answer : noDesktop ? std::vector<int>{} : c.answers) {
        std::function<void()> then;
        if (c.closeOnFirstRetry && answer == IDRETRY && !closed) {
            closed = true;
            then = [ports = c.ports] {
                for (const Port& port : ports) sim::DriverFindPort(port.number)->portOpen = 0;
            };
        }
        sim::ScriptMessageBox(answer, kOpenPortsText, then);
    }

    EXPECT_EQ(CheckForOpenPorts(sim::InstallHandle()), c.want);

    size_t expectedBoxes = noDesktop ? 1 : c.answers.size();
    ASSERT_EQ(sim::MessageBoxes().size(), expectedBoxes);
    for (const auto& box : sim::MessageBoxes()) {
        EXPECT_EQ(box.text, kOpenPortsText);
        EXPECT_EQ(box.caption, "");
        EXPECT_FALSE(box.captionNull);
        EXPECT_TRUE(box.ownerNull);
        EXPECT_EQ(box.style, MB_RETRYCANCEL);
    }
    std::vector<DWORD> asked;
    for (const auto& request : sim::DriverRequests()) {
        EXPECT_EQ(request.controlCode, 0x818A4018u);
        asked.push_back(request.portNumber);
    }
    if (c.statusRequests) {
        EXPECT_EQ(asked.size(), c.statusRequests);
    }
    for (DWORD port : asked) EXPECT_TRUE(port >= 1 && port <= 256) << "asked about port " << port;
    for (const char* name : {"SeTakeOwnershipPrivilege", "SeSecurityPrivilege", "SeLoadDriverPrivilege"})
        EXPECT_FALSE(sim::GetPrivilegeState(name).enabled) << "the check enables no privilege";
    EXPECT_EQ(sim::CallCount("AdjustTokenPrivileges"), 0u);
    EXPECT_EQ(sim::DebugOutput(), "") << "trace is off in the product";
}

const Case kCases[] = {
    {"no driver: one open attempt, no box", false, {}, {}, false, 0, 0},
    {"no port open: all 256 asked", true, {{3, 0, 0}, {5, 0, 0}}, {}, false, 0, 256},
    {"open port 256 then Cancel", true, {{256, 1, 0}}, {IDCANCEL}, false, static_cast<UINT>(-2), 256},
    {"Retry after the port closed rescans from port 1", true, {{3, 1, 0}}, {IDRETRY}, true, 0, 3 + 256},
    {"Retry with the port still open asks again", true, {{3, 1, 0}}, {IDRETRY, IDRETRY, IDCANCEL}, false,
     static_cast<UINT>(-2), 9},
    {"a failing status request skips only that port", true, {{3, 1, ERROR_FILE_NOT_FOUND}, {9, 1, 0}}, {IDCANCEL},
     false, static_cast<UINT>(-2), 9},
    {"PortOpen 2 is not open", true, {{3, 2, 0}, {4, 0xFFFF, 0}}, {}, false, 0, 256},
    {"no desktop: a box that cannot be shown cancels", true, {{3, 1, 0}}, {0}, false, static_cast<UINT>(-2), 3},
};

INSTANTIATE_TEST_SUITE_P(Machines, CheckForOpenPortsCase, testing::ValuesIn(kCases), CaseName);

using CheckForOpenPortsFrame = SimTest;

TEST_F(CheckForOpenPortsFrame, ExceptionShowsTheUnknownExceptionBoxAndLetsTheInstallationGoOn) {
    sim::DriverLoad("4.302.7.15");
    sim::DriverSetPort(2, sim::DriverPort{{}, 1, 0, 0});
    sim::RaiseInCall("MessageBoxW", 1, EXCEPTION_ACCESS_VIOLATION);
    sim::ScriptMessageBox(IDOK, "An Unknown Exception Occurred.");
    EXPECT_EQ(CheckForOpenPorts(sim::InstallHandle()), 0u);
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(sim::MessageBoxes()[0].text, "An Unknown Exception Occurred.");
}

TEST_F(CheckForOpenPortsFrame, EveryFailingCallEndsInAClearResultWithNothingLeaked) {
    for (unsigned n = 1;; ++n) {
        SCOPED_TRACE("failing call " + std::to_string(n));
        sim::Reset();
        sim::DriverLoad("4.302.7.15");
        sim::DriverSetPort(2, sim::DriverPort{{}, 1, 0, 0});
        sim::ScriptMessageBox(IDRETRY, kOpenPortsText, [] { sim::DriverFindPort(2)->portOpen = 0; });
        sim::FailCall("*", n, ERROR_ACCESS_DENIED);
        UINT result = CheckForOpenPorts(sim::InstallHandle());
        // A failed open reads as no driver, a failed request as a closed port, a failed box as Cancel.
        EXPECT_TRUE(result == 0 || result == static_cast<UINT>(-2)) << result;
        EXPECT_EQ(sim::LeakReport(), "");
        EXPECT_TRUE(sim::Violations().empty());
        if (sim::FaultsInjected() == 0) break;
    }
}

}  // namespace
