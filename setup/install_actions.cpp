// The exported actions that change the system: Install stages the driver package and carries the ports
// across; Uninstall removes every port and the product settings keys.
#include "devinst/device_setup.h"
#include "driver/driver_channel.h"
#include "platform/text.h"
#include "portstore/product_settings.h"
#include "setup/custom_actions.h"
#include "setup/port_migration.h"

namespace {

constexpr DWORD kPathChars = MAX_PATH;
constexpr DWORD kLastPort = 256;
constexpr DWORD kPropertyProbeChars = 100;
constexpr DWORD kSubkeyNameChars = MAX_PATH;

struct InstallAction {
    CustomAction action;  // first: the frame hands the body this
    PortInfo* records;    // the saved ports while they are carried across
};

void InstallBody(CustomAction* action) {
    auto* install = reinterpret_cast<InstallAction*>(action);
    WCHAR directory[kPathChars] = {};
    WCHAR infPath[kPathChars] = {};
    LONG count = 0;

    action->exceptionResult = GetCustomActionData(action->install, directory, kPathChars);
    if (action->exceptionResult == 0) SetTargetDir(directory);
    action->exceptionResult = InstallDriverPackage(action->install, infPath, kPathChars);
    action->result = action->exceptionResult;
    if (action->result != 0) return;

    CollectAndRemovePorts(action->install, &count, &install->records);
    if (count > 0) RestorePorts(action->install, count, install->records);
    if (install->records) LocalFree(install->records);
    install->records = nullptr;
}

void UninstallBody(CustomAction* action) {
    PortStatus status = {};
    WCHAR value[kPropertyProbeChars];
    DWORD length = kPropertyProbeChars;

    action->result = 0;
    for (DWORD port = 1; port <= kLastPort; ++port) {
        status.PortNumber = port;
        ZelStatus result = GetPortStatus(&status);
        if (result == ZEL_DRIVER_OPEN_FAILED) break;  // no driver, so no port can be open
        if (result == 0 && status.PortOpen == 1) {
            MessageBoxW(nullptr,
                        TEXT("Unable to uninstall. There are still some ZEL ports opened.\nPlease Close open ports ")
                            TEXT("before uninstalling the software."),
                        TEXT(""), MB_OK);
            action->result = static_cast<UINT>(-1);
            return;
        }
    }
    // Only a removal has no CustomActionData: with a value, whatever its length, nothing is removed.
    MsiGetPropertyW(action->install, TEXT("CustomActionData"), value, &length);
    if (length != 0) return;
    CollectAndRemovePorts(action->install, nullptr, nullptr);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kProductSettingsKey);
    DeleteRegistryTree(HKEY_CURRENT_USER, kProductSettingsKey);
}

void Print(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(ZelStrLenA(text)), &written, nullptr);
}

}  // namespace

DWORD InstallDriverPackage(MSIHANDLE install, WCHAR* infPath, DWORD capacity) {
    WCHAR directory[kPathChars] = {};
    BOOL known = GetCustomActionData(install, directory, kPathChars) == 0;
    return static_cast<DWORD>(StageDriverPackage(known ? directory : nullptr, infPath, capacity, FALSE));
}

BOOL DeleteRegistryTree(HKEY root, const WCHAR* path) {
    WCHAR buffer[kKeyTreePathChars] = {};
    // A path that does not fit would delete some other key.
    if (!ZelStrCopy(buffer, kKeyTreePathChars, path)) return FALSE;
    return DeleteKeyTree(root, buffer);
}

BOOL DeleteKeyTree(HKEY root, WCHAR* path) {
    HKEY key = nullptr;
    WCHAR name[kSubkeyNameChars];
    WCHAR previous[kSubkeyNameChars] = {};
    if (RegDeleteKeyW(root, path) == ERROR_SUCCESS) return TRUE;
    LONG status = RegOpenKeyExW(root, path, 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND) {
        Print("Key not found.\n");
        return TRUE;
    }
    if (status != ERROR_SUCCESS) {
        Print("Error opening key.\n");
        return FALSE;
    }
    size_t length = ZelStrLen(path);
    if ((length == 0 || path[length - 1] != '\\') && length + 1 < kKeyTreePathChars) {
        path[length++] = '\\';
        path[length] = 0;
    }
    const size_t subkeyAt = length;
    for (;;) {
        DWORD nameChars = kSubkeyNameChars;
        FILETIME written;
        if (RegEnumKeyExW(key, 0, name, &nameChars, nullptr, nullptr, nullptr, &written) != ERROR_SUCCESS) break;
        // A subkey that is still first after its deletion reported success could not be deleted: stop
        // rather than ask for it again and again.
        if (ZelStrEqualNoCase(name, previous)) break;
        ZelStrCopy(previous, kSubkeyNameChars, name);
        // A path that does not fit its buffer fails this branch; it is never cut to name another key.
        if (path[subkeyAt - 1] != '\\' || !ZelStrCopy(path + subkeyAt, kKeyTreePathChars - subkeyAt, name)) break;
        if (!DeleteKeyTree(root, path)) break;
    }
    path[subkeyAt - 1] = 0;
    RegCloseKey(key);
    return RegDeleteKeyW(root, path) == ERROR_SUCCESS ? TRUE : FALSE;
}

extern "C" UINT WINAPI Install(MSIHANDLE install) {
    InstallAction action = {{install, true, InstallBody, 1, 1}, nullptr};
    UINT result = RunCustomAction(&action.action);
    // An exception in the middle of the migration leaves the saved block behind.
    if (action.records) LocalFree(action.records);
    return result;
}

extern "C" UINT WINAPI Uninstall(MSIHANDLE install) {
    CustomAction action = {install, true, UninstallBody, 0, 0};
    return RunCustomAction(&action);
}
