// The installer custom actions exported by the DLL, their common frame and the helpers they share.
#pragma once

#include "diag/status.h"

extern "C" {
// Ordinal 1. Returns 0 when no product port is open (or the driver is absent), -2 when the user cancels.
UINT WINAPI CheckForOpenPorts(MSIHANDLE install);
// Ordinal 2. Stages the driver package and carries the earlier installation's ports across. Returns 0,
// or the error of reading the installation folder or of staging the package.
UINT WINAPI Install(MSIHANDLE install);
// Ordinal 3. Returns -1 while a product port is open (nothing removed); otherwise removes every port and
// the product settings keys when CustomActionData is empty, and returns 0.
UINT WINAPI Uninstall(MSIHANDLE install);
}

// Stages ZelDrvr\ZelDrvr.inf of the installation folder (".\ZelDrvr\" when it is unknown) and records the
// staged copy. Returns a Windows error code; on 0 infPath (capacity characters) holds the source INF.
DWORD InstallDriverPackage(MSIHANDLE install, WCHAR* infPath, DWORD capacity);

// Deletes a registry key with everything below it. TRUE when it is gone or was never there; FALSE when a
// key could not be opened or deleted (that branch stays). DeleteKeyTree works on a buffer of
// kKeyTreePathChars characters, which it extends and cuts in place.
constexpr DWORD kKeyTreePathChars = 520;
BOOL DeleteRegistryTree(HKEY root, const WCHAR* path);
BOOL DeleteKeyTree(HKEY root, WCHAR* path);

// Enables or disables one privilege of the process token. Returns 0, ERROR_NO_SUCH_PRIVILEGE for an
// unknown name, ERROR_NOT_ALL_ASSIGNED when the token does not hold it, or the failing call's error.
// previous, when given, receives whether the privilege was enabled before (false when the call failed
// before the token was adjusted).
DWORD SetPrivilege(const WCHAR* name, BOOL enable, BOOL* previous);

// The three privileges the changing actions hold for their duration, enabled in order and put back in
// reverse order to the state each had before. `captured` counts the privileges whose earlier state was
// taken; only those are put back.
struct SetupPrivileges {
    BOOL wasEnabled[3];
    int captured;
};
void EnableSetupPrivileges(SetupPrivileges* saved);
void RestoreSetupPrivileges(const SetupPrivileges* saved);
// Runs body(context) under the exception guard with the three privileges held; enabling and putting them
// back run guarded too, so an exception in either is caught as well. Returns 0 or the first exception's
// code; the privileges are put back on every path.
DWORD RunWithSetupPrivileges(void (*body)(void* context), void* context);

// Reads the installer property "CustomActionData" into buffer (capacity characters), falling back to the
// recorded installation folder in the product settings key. Returns a Windows error code; on 0 the buffer
// holds the value, terminated.
DWORD GetCustomActionData(MSIHANDLE install, WCHAR* buffer, DWORD capacity);

// The common frame of the exports: privileges (when asked for), the catch-all guard, and the
// unknown-exception box. The body sets `result`; it may move `exceptionResult` along as it goes, which
// is what the action returns when an exception ends it.
struct CustomAction {
    MSIHANDLE install;
    bool holdsPrivileges;
    void (*body)(CustomAction* action);
    UINT result;
    UINT exceptionResult;
};
UINT RunCustomAction(CustomAction* action);
