#include "platform/guard.h"
#include "portstore/product_settings.h"
#include "setup/custom_actions.h"

namespace {

constexpr DWORD kTokenAccess = TOKEN_ALL_ACCESS & ~TOKEN_ADJUST_SESSIONID;
const WCHAR* const kSetupPrivilegeNames[3] = {
    TEXT("SeTakeOwnershipPrivilege"),
    TEXT("SeSecurityPrivilege"),
    TEXT("SeLoadDriverPrivilege"),
};

void RunBody(void* context) {
    auto* action = static_cast<CustomAction*>(context);
    action->body(action);
}

void EnableBody(void* context) { EnableSetupPrivileges(static_cast<SetupPrivileges*>(context)); }

struct PrivilegeToRestore {
    const SetupPrivileges* saved;
    int index;
};

void RestoreOneBody(void* context) {
    auto* restore = static_cast<PrivilegeToRestore*>(context);
    SetPrivilege(kSetupPrivilegeNames[restore->index], restore->saved->wasEnabled[restore->index], nullptr);
}

}  // namespace

DWORD SetPrivilege(const WCHAR* name, BOOL enable, BOOL* previous) {
    if (previous) *previous = FALSE;
    LUID luid;
    if (!LookupPrivilegeValueW(nullptr, name, &luid)) return ERROR_NO_SUCH_PRIVILEGE;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), kTokenAccess, &token)) return GetLastError();

    TOKEN_PRIVILEGES requested;
    requested.PrivilegeCount = 1;
    requested.Privileges[0].Luid = luid;
    requested.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    TOKEN_PRIVILEGES earlier = {};
    DWORD earlierSize = 0;
    AdjustTokenPrivileges(token, FALSE, &requested, sizeof earlier, previous ? &earlier : nullptr,
                          previous ? &earlierSize : nullptr);
    DWORD result = GetLastError();
    if (previous && result == ERROR_SUCCESS) {
        // The earlier state lists only privileges whose state changed; one that did not change already
        // was in the state requested.
        *previous = earlier.PrivilegeCount == 1 ? (earlier.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED) != 0
                                                : (enable ? TRUE : FALSE);
    }
    CloseHandle(token);
    return result;
}

void EnableSetupPrivileges(SetupPrivileges* saved) {
    saved->captured = 0;
    for (int i = 0; i < 3; ++i) {
        SetPrivilege(kSetupPrivilegeNames[i], TRUE, &saved->wasEnabled[i]);
        saved->captured = i + 1;
    }
}

void RestoreSetupPrivileges(const SetupPrivileges* saved) {
    for (int i = saved->captured - 1; i >= 0; --i) SetPrivilege(kSetupPrivilegeNames[i], saved->wasEnabled[i], nullptr);
}

DWORD RunWithSetupPrivileges(void (*body)(void* context), void* context) {
    SetupPrivileges saved = {};
    DWORD exception = ZelRunGuarded(EnableBody, &saved);
    if (!exception) exception = ZelRunGuarded(body, context);
    // Each privilege on its own: an exception putting one back must not leave the others enabled.
    for (int i = saved.captured - 1; i >= 0; --i) {
        PrivilegeToRestore restore = {&saved, i};
        DWORD restoring = ZelRunGuarded(RestoreOneBody, &restore);
        if (!exception) exception = restoring;
    }
    return exception;
}

DWORD GetCustomActionData(MSIHANDLE install, WCHAR* buffer, DWORD capacity) {
    DWORD length = capacity;
    if (MsiGetPropertyW(install, TEXT("CustomActionData"), buffer, &length) == ERROR_SUCCESS) return 0;

    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductSettingsKey, 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    status = QueryTextValue(key, kTargetDirValue, buffer, capacity);
    RegCloseKey(key);
    return static_cast<DWORD>(status);
}

UINT RunCustomAction(CustomAction* action) {
    DWORD exception = action->holdsPrivileges ? RunWithSetupPrivileges(RunBody, action) : ZelRunGuarded(RunBody, action);
    if (!exception) return action->result;
    MessageBoxW(nullptr, TEXT("An Unknown Exception Occurred."), TEXT(""), MB_OK);
    return action->exceptionResult;
}
