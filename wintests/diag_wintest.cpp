// Diagnostics on Wine's message functions: trace lines built with Wine's FormatMessageA and caught as
// the debug-output exceptions they are sent as, and the error box with no display to show it on.
#include <string>
#include <vector>

#include "diag/status.h"
#include "setup/custom_actions.h"
#include "wintests/wine_test.h"

namespace {

constexpr DWORD kDebugPrintException = 0x40010006;  // how OutputDebugStringA hands its text to a debugger

// Collects what OutputDebugStringA sends while it is in scope, from a first-chance vectored handler.
class DebugOutput {
public:
    DebugOutput() {
        lines_.clear();
        handler_ = AddVectoredExceptionHandler(1, Collect);
    }
    ~DebugOutput() { RemoveVectoredExceptionHandler(handler_); }
    const std::vector<std::string>& Lines() const { return lines_; }

private:
    static LONG WINAPI Collect(EXCEPTION_POINTERS* exception) {
        const EXCEPTION_RECORD* record = exception->ExceptionRecord;
        if (record->ExceptionCode == kDebugPrintException && record->NumberParameters >= 2)
            lines_.emplace_back(reinterpret_cast<const char*>(record->ExceptionInformation[1]));
        return EXCEPTION_CONTINUE_SEARCH;
    }
    static inline std::vector<std::string> lines_;
    void* handler_;
};

std::string SystemText(DWORD code) {
    char* text = nullptr;
    if (!FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                        LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&text), 0, nullptr))
        return "";
    std::string result = text;
    LocalFree(text);
    return result;
}

class TraceTest : public wintest::WineTest {};

TEST_F(TraceTest, LinesCarrySystemTextOrTableNameOrBareCode) {
    std::string accessDenied = SystemText(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(accessDenied.empty()) << "Wine has a text for error 5";
    ASSERT_EQ(SystemText(static_cast<DWORD>(ZEL_DRIVER_OPEN_FAILED)), "");

    DebugOutput output;
    TracePrint(TRACE_SETUP, TRACE_FLOW, 1, ERROR_ACCESS_DENIED, "_AddPortError-- (%s) Port %d", "RegOpenKeyExW", 5);
    TracePrint(TRACE_SETUP, TRACE_FLOW, 1, static_cast<DWORD>(ZEL_DRIVER_OPEN_FAILED), "CallDriver--");
    TracePrint(TRACE_SETUP, TRACE_FLOW, 1, 0xE000021A, "SetupDi--");
    TracePrint(TRACE_SETUP, TRACE_FLOW, 1, 0x2BADC0DE, "Odd--");
    TracePrint(TRACE_PORT_CONFIG, TRACE_INFO, 0, 5, "InitPortMap numPorts %d", 3);
    const std::vector<std::string> expected = {
        "ZelIf(ERR_) _AddPortError-- (RegOpenKeyExW) Port 5 (00000005) " + accessDenied,
        "ZelIf(ERR_) CallDriver-- (FFFFFFF3) ZEL_DRIVER_OPEN_FAILED\n",
        "ZelIf(ERR_) SetupDi-- (E000021A) ERROR_NO_DEFAULT_DEVICE_INTERFACE\n",
        "ZelIf(ERR_) Odd-- (2BADC0DE)\n",
        "ZelIf(INFO) InitPortMap numPorts 3\n",
    };
    EXPECT_EQ(output.Lines(), expected);
}

TEST_F(TraceTest, SwitchedOffTheActionsWriteNothing) {
    ASSERT_EQ(TraceSwitch, 0);
    DebugOutput output;
    WCHAR buffer[MAX_PATH];
    CheckForOpenPorts(0);
    GetCustomActionData(0, buffer, MAX_PATH);
    SetPrivilege(L"SeNoSuchPrivilege", TRUE, nullptr);
    for (const std::string& line : output.Lines()) EXPECT_NE(line.rfind("ZelIf(", 0), 0u) << line;
}

// ShowErrorBox on its own thread, so that a box waiting for an answer fails the test instead of hanging it.
struct BoxCall {
    const WCHAR* context;
    ZelStatus code;
    int answer;
};

DWORD WINAPI ShowBox(void* context) {
    auto* call = static_cast<BoxCall*>(context);
    call->answer = ShowErrorBox(call->context, call->code);
    return 0;
}

class ErrorBoxTest : public wintest::WineTest {};

TEST_F(ErrorBoxTest, WithNoDisplayReturnsWithoutAnAnswer) {
    // One code of each kind of message: a system text, a table name, neither.
    for (ZelStatus code : {static_cast<ZelStatus>(ERROR_FILE_NOT_FOUND), ZEL_DRIVER_OPEN_FAILED,
                           static_cast<ZelStatus>(0x2BADC0DE)}) {
        SCOPED_TRACE(testing::Message() << "code " << code);
        BoxCall call = {L"RegOpenKeyExW (Software\\Kelmiso\\ZEL)", code, IDOK};
        HANDLE thread = CreateThread(nullptr, 0, ShowBox, &call, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        DWORD waited = WaitForSingleObject(thread, 20000);
        if (waited != WAIT_OBJECT_0) TerminateThread(thread, 1);
        CloseHandle(thread);
        ASSERT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0)) << "the box waited for an answer";
        // No box could be shown: Windows documents 0 for that; Wine answers -1. Never a button's answer.
        EXPECT_LE(call.answer, 0);
    }
}

}  // namespace
