// Kernel objects of the simulated machine: the process token with its privileges, and the product's
// driver behind its control device "\\.\Zel", reached with CreateFileW, DeviceIoControl and CloseHandle.
#include <algorithm>
#include <cstring>

#include "winsim/sim_internal.h"

namespace sim {
namespace detail {
namespace {

// ---- Token ----
struct KnownPrivilege {
    const char* name;
    DWORD luid;
};
constexpr KnownPrivilege kKnownPrivileges[] = {
    {"SeCreateTokenPrivilege", 2},        {"SeAssignPrimaryTokenPrivilege", 3}, {"SeLockMemoryPrivilege", 4},
    {"SeIncreaseQuotaPrivilege", 5},      {"SeMachineAccountPrivilege", 6},     {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},           {"SeTakeOwnershipPrivilege", 9},      {"SeLoadDriverPrivilege", 10},
    {"SeSystemProfilePrivilege", 11},     {"SeSystemtimePrivilege", 12},        {"SeProfileSingleProcessPrivilege", 13},
    {"SeIncreaseBasePriorityPrivilege", 14}, {"SeCreatePagefilePrivilege", 15}, {"SeCreatePermanentPrivilege", 16},
    {"SeBackupPrivilege", 17},            {"SeRestorePrivilege", 18},           {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},             {"SeAuditPrivilege", 21},             {"SeSystemEnvironmentPrivilege", 22},
    {"SeChangeNotifyPrivilege", 23},      {"SeRemoteShutdownPrivilege", 24},    {"SeUndockPrivilege", 25},
    {"SeManageVolumePrivilege", 28},      {"SeImpersonatePrivilege", 29},       {"SeCreateGlobalPrivilege", 30},
};

struct TokenState {
    // Indexed like kKnownPrivileges.
    PrivilegeState privileges[std::size(kKnownPrivileges)];
    bool previousListsUnchanged = false;
};
TokenState& Token() {
    static TokenState token;
    return token;
}

int PrivilegeIndex(std::string_view name) {
    for (size_t i = 0; i < std::size(kKnownPrivileges); ++i) {
        std::string_view known = kKnownPrivileges[i].name;
        if (known.size() == name.size() &&
            std::equal(known.begin(), known.end(), name.begin(),
                       [](char a, char b) { return std::tolower((unsigned char)a) == std::tolower((unsigned char)b); }))
            return static_cast<int>(i);
    }
    return -1;
}

int PrivilegeIndex(const LUID& luid) {
    if (luid.HighPart != 0) return -1;
    for (size_t i = 0; i < std::size(kKnownPrivileges); ++i)
        if (kKnownPrivileges[i].luid == luid.LowPart) return static_cast<int>(i);
    return -1;
}

struct TokenHandle : HandleObject {
    DWORD access = 0;
};

// ---- Driver ----
constexpr DWORD kPortChanged = 0x818A4004;
constexpr DWORD kGetPortConfig = 0x818A4008;
constexpr DWORD kGetPortStatus = 0x818A4018;
constexpr DWORD kProbe = 0x818A41B4;
constexpr DWORD kGetVersion = 0x818A41E8;
constexpr DWORD kPortStatusSize = 140;
constexpr DWORD ERROR_NOACCESS_ = 998;

// The request block as the driver reads it from a caller of this process's width.
struct PortRequestView {
    DWORD argument;
    DWORD portNumber;
    DWORD reserved;
    DWORD bufferLength;
    void* buffer;
};

struct DeviceHandle : HandleObject {};

struct DriverModel {
    DriverState state;
    std::vector<DriverRequest> requests;
};
DriverModel& Model() {
    static DriverModel model;
    return model;
}

void ResetKernel() {
    TokenState& token = Token();
    token.previousListsUnchanged = false;
    for (auto& p : token.privileges) p = PrivilegeState{};
    // An elevated administrator's token, as the installer's custom-action server runs with.
    for (const char* held : {"SeSecurityPrivilege", "SeTakeOwnershipPrivilege", "SeLoadDriverPrivilege",
                             "SeBackupPrivilege", "SeRestorePrivilege", "SeShutdownPrivilege", "SeDebugPrivilege",
                             "SeSystemtimePrivilege", "SeIncreaseQuotaPrivilege", "SeImpersonatePrivilege",
                             "SeCreateGlobalPrivilege", "SeUndockPrivilege", "SeManageVolumePrivilege"})
        token.privileges[PrivilegeIndex(held)] = PrivilegeState{true, false};
    token.privileges[PrivilegeIndex("SeChangeNotifyPrivilege")] = PrivilegeState{true, true};
    Model() = DriverModel{};
}
ResetHook kernelReset(ResetKernel);

DWORD Complete(DriverRequest& request, DWORD error) {
    request.result = error;
    Model().requests.push_back(request);
    return error;
}

// Runs one control request the way the driver completes it; returns 0 or the error it completes with.
DWORD RunRequest(DWORD code, void* input, DWORD inputLength, void* output, DWORD outputLength, DWORD* written) {
    DriverState& driver = Model().state;
    DriverRequest request;
    request.controlCode = code;
    if (input && inputLength) {
        auto bytes = static_cast<const uint8_t*>(input);
        request.input.assign(bytes, bytes + inputLength);
    }
    request.outputLength = outputLength;
    request.outputNull = output == nullptr;
    *written = 0;

    PortRequestView block{};
    bool carriesBlock = code == kPortChanged || code == kGetPortConfig || code == kGetPortStatus;
    if (carriesBlock) {
        if (!input || inputLength != sizeof(PortRequestView) || output || outputLength)
            return Complete(request, ERROR_INVALID_PARAMETER);
        std::memcpy(&block, input, sizeof block);
        request.argument = block.argument;
        request.portNumber = block.portNumber;
        request.reserved = block.reserved;
        request.bufferLength = block.bufferLength;
        request.bufferAddress = reinterpret_cast<uintptr_t>(block.buffer);
    }
    for (auto& [failing, error] : driver.controlErrors)
        if (failing == code) return Complete(request, error);

    DriverPort* port = carriesBlock ? DriverFindPort(block.portNumber) : nullptr;
    switch (code) {
        case kPortChanged:
            if (driver.onPortChanged) driver.onPortChanged(block.portNumber);
            return Complete(request, 0);
        case kGetPortConfig: {
            if (!port) return Complete(request, driver.unknownPortError);
            if (port->configError) return Complete(request, port->configError);
            if (!block.buffer && block.bufferLength) return Complete(request, ERROR_NOACCESS_);
            size_t n = std::min<size_t>(port->config.size(), block.bufferLength);
            if (n) std::memcpy(block.buffer, port->config.data(), n);
            return Complete(request, 0);
        }
        case kGetPortStatus: {
            if (!port) return Complete(request, driver.unknownPortError);
            if (port->statusError) return Complete(request, port->statusError);
            if (!block.buffer) return Complete(request, ERROR_NOACCESS_);
            if (block.bufferLength < kPortStatusSize) return Complete(request, ERROR_INSUFFICIENT_BUFFER);
            uint8_t status[kPortStatusSize];
            std::memset(status, driver.statusFill, sizeof status);
            std::memcpy(status, &block.portNumber, 4);
            std::memcpy(status + 4, &port->portOpen, 2);
            std::memcpy(block.buffer, status, sizeof status);
            return Complete(request, 0);
        }
        case kProbe: {
            if (!output || outputLength < 4) return Complete(request, ERROR_INSUFFICIENT_BUFFER);
            DWORD answer = 1;
            std::memcpy(output, &answer, 4);
            *written = 4;
            return Complete(request, 0);
        }
        case kGetVersion: {
            if (!output) return Complete(request, ERROR_NOACCESS_);
            if (driver.version.size() > outputLength) return Complete(request, ERROR_INSUFFICIENT_BUFFER);
            if (!driver.version.empty()) std::memcpy(output, driver.version.data(), driver.version.size());
            *written = static_cast<DWORD>(driver.version.size());
            return Complete(request, 0);
        }
        default:
            return Complete(request, ERROR_INVALID_FUNCTION);
    }
}

bool IsDriverName(LPCWSTR name) {
    static const std::u16string kName = u"\\\\.\\Zel";
    if (!name) return false;
    std::u16string_view given(name);
    return given.size() == kName.size() &&
           std::equal(given.begin(), given.end(), kName.begin(), [](char16_t a, char16_t b) {
               auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
               return fold(a) == fold(b);
           });
}

}  // namespace
}  // namespace detail

using namespace detail;

void SetPrivilegeState(std::string_view name, bool held, bool enabled) {
    Guard guard(Lock());
    int i = PrivilegeIndex(name);
    if (i >= 0) Token().privileges[i] = PrivilegeState{held, held && enabled};
}

void SetPreviousStateListsUnchanged(bool listsUnchanged) {
    Guard guard(Lock());
    Token().previousListsUnchanged = listsUnchanged;
}

PrivilegeState GetPrivilegeState(std::string_view name) {
    Guard guard(Lock());
    int i = PrivilegeIndex(name);
    return i >= 0 ? Token().privileges[i] : PrivilegeState{};
}

DriverState& Driver() { return Model().state; }

void DriverLoad(std::string_view versionText) {
    Guard guard(Lock());
    DriverState& driver = Model().state;
    driver.loaded = true;
    driver.version.assign(versionText.begin(), versionText.end());
    driver.version.push_back(0);
}

void DriverSetPort(DWORD port, DriverPort state) {
    Guard guard(Lock());
    if (DriverPort* existing = DriverFindPort(port)) {
        *existing = std::move(state);
        return;
    }
    Model().state.ports.emplace_back(port, std::move(state));
}

DriverPort* DriverFindPort(DWORD port) {
    for (auto& [number, state] : Model().state.ports)
        if (number == port) return &state;
    return nullptr;
}

const std::vector<DriverRequest>& DriverRequests() { return Model().requests; }

}  // namespace sim

using sim::detail::A;
using namespace sim;
using namespace sim::detail;

extern "C" {

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    SIM_ENTER(outcome, "OpenProcessToken", A("ProcessHandle", process), A("DesiredAccess", access));
    if (outcome) {
        SetLastError(outcome.code);
        return FALSE;
    }
    if (!token || process != GetCurrentProcess()) {
        SetLastError(!token ? ERROR_NOACCESS_ : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto object = std::make_shared<TokenHandle>();
    object->access = access;
    *token = reinterpret_cast<HANDLE>(AddHandle(HandleKind::Token, object, "OpenProcessToken"));
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid) {
    SIM_ENTER(outcome, "LookupPrivilegeValueW", A("lpSystemName", systemName), A("lpName", name));
    if (outcome) {
        SetLastError(outcome.code);
        return FALSE;
    }
    if (!name || !luid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int i = PrivilegeIndex(sim::U8(name));
    if (i < 0) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    luid->LowPart = kKnownPrivileges[i].luid;
    luid->HighPart = 0;
    return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE tokenHandle, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                  DWORD bufferLength, PTOKEN_PRIVILEGES previousState, PDWORD returnLength) {
    SIM_ENTER(outcome, "AdjustTokenPrivileges", A("TokenHandle", tokenHandle), A("DisableAllPrivileges", disableAll),
              A("PrivilegeCount", newState ? newState->PrivilegeCount : 0),
              A("Luid", newState && newState->PrivilegeCount ? newState->Privileges[0].Luid.LowPart : 0),
              A("Attributes", newState && newState->PrivilegeCount ? newState->Privileges[0].Attributes : 0),
              A("BufferLength", bufferLength), A("PreviousState", previousState));
    if (outcome) {
        SetLastError(outcome.code);
        return FALSE;
    }
    Guard guard(Lock());
    auto token = Find<TokenHandle>(reinterpret_cast<uintptr_t>(tokenHandle), HandleKind::Token);
    if (!token) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(token->access & TOKEN_ADJUST_PRIVILEGES) || (previousState && !(token->access & TOKEN_QUERY))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!disableAll && !newState) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    TokenState& state = Token();
    // Work out the changes first: the previous state reports only privileges whose state changes.
    std::vector<std::pair<int, bool>> changes;  // (privilege, enable), listed in the previous state
    bool notAll = false;
    if (disableAll) {
        for (size_t i = 0; i < std::size(kKnownPrivileges); ++i)
            if (state.privileges[i].enabled) changes.emplace_back(static_cast<int>(i), false);
    } else {
        for (DWORD k = 0; k < newState->PrivilegeCount; ++k) {
            int i = PrivilegeIndex(newState->Privileges[k].Luid);
            if (i < 0 || !state.privileges[i].held) {
                notAll = true;
                continue;
            }
            bool enable = (newState->Privileges[k].Attributes & SE_PRIVILEGE_ENABLED) != 0;
            if (state.privileges[i].enabled != enable || state.previousListsUnchanged) changes.emplace_back(i, enable);
        }
    }
    if (previousState) {
        DWORD needed = static_cast<DWORD>(sizeof(DWORD) + changes.size() * sizeof(LUID_AND_ATTRIBUTES));
        if (returnLength) *returnLength = needed;
        if (bufferLength < needed) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        previousState->PrivilegeCount = static_cast<DWORD>(changes.size());
        for (size_t k = 0; k < changes.size(); ++k) {
            previousState->Privileges[k].Luid = LUID{kKnownPrivileges[changes[k].first].luid, 0};
            previousState->Privileges[k].Attributes =
                state.privileges[changes[k].first].enabled ? SE_PRIVILEGE_ENABLED : 0;
        }
    }
    for (auto& [i, enable] : changes) state.privileges[i].enabled = enable;
    SetLastError(notAll ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS);
    return TRUE;
}

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
    SIM_ENTER(outcome, "CreateFileW", A("lpFileName", name), A("dwDesiredAccess", access),
              A("dwShareMode", shareMode), A("lpSecurityAttributes", security),
              A("dwCreationDisposition", disposition), A("dwFlagsAndAttributes", flags),
              A("hTemplateFile", templateFile));
    if (outcome) {
        SetLastError(outcome.code);
        return INVALID_HANDLE_VALUE;
    }
    Guard guard(Lock());
    DriverState& driver = Model().state;
    if (!IsDriverName(name)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (!driver.loaded || driver.refuseOpen) {
        SetLastError(driver.openError);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(AddHandle(HandleKind::Device, std::make_shared<DeviceHandle>(), "CreateFileW"));
}

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD controlCode, LPVOID input, DWORD inputLength, LPVOID output,
                            DWORD outputLength, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    SIM_ENTER(outcome, "DeviceIoControl", A("hDevice", device), A("dwIoControlCode", controlCode),
              A("lpInBuffer", input), A("nInBufferSize", inputLength), A("lpOutBuffer", output),
              A("nOutBufferSize", outputLength), A("lpOverlapped", overlapped));
    if (outcome) {
        SetLastError(outcome.code);
        return FALSE;
    }
    DWORD error;
    DWORD written = 0;
    {
        Guard guard(Lock());
        if (!Find<DeviceHandle>(reinterpret_cast<uintptr_t>(device), HandleKind::Device)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (!bytesReturned && !overlapped) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        error = RunRequest(controlCode, input, inputLength, output, outputLength, &written);
    }
    if (bytesReturned) *bytesReturned = written;
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    SIM_ENTER_RELEASE(outcome, "CloseHandle", A("hObject", handle));
    if (outcome) {
        SetLastError(outcome.code);
        return FALSE;
    }
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (FindHandle(value, HandleKind::Device)) {
        RemoveHandle(value, HandleKind::Device, "CloseHandle");
        if (DWORD error = Model().state.closeError) {
            SetLastError(error);
            return FALSE;
        }
        return TRUE;
    }
    if (FindHandle(value, HandleKind::Token)) {
        RemoveHandle(value, HandleKind::Token, "CloseHandle");
        return TRUE;
    }
    Violation("CloseHandle: not an open kernel object handle");
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

}  // extern "C"
