#include "portstore/product_settings.h"

#include "platform/text.h"

const WCHAR kProductSettingsKey[] = TEXT("Software\\Kelmiso\\ZEL");
const WCHAR kTargetDirValue[] = TEXT("TargetDir");
const WCHAR kInfFileValue[] = TEXT("InfFile");

namespace {

// The registry's view is left to the process: no KEY_WOW64_* flag, in reading as in writing.
LONG ReadSetting(const WCHAR* valueName, WCHAR* buffer, bool* opened) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductSettingsKey, 0, KEY_READ, &key);
    *opened = status == ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) {
        key = nullptr;
        goto exit;
    }
    status = QueryTextValue(key, valueName, buffer, kSettingsTextChars);
    // The callers that go on after a failed read must find a text, not what the failed read left.
    if (status != ERROR_SUCCESS) buffer[0] = 0;

exit:
    if (key) RegCloseKey(key);
    return status;
}

LONG WriteSetting(const WCHAR* valueName, const WCHAR* text) {
    HKEY key = nullptr;
    LONG status = ERROR_INVALID_PARAMETER;
    DWORD bytes = 0;
    if (!text) goto exit;
    status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        key = nullptr;
        goto exit;
    }
    bytes = static_cast<DWORD>((ZelStrLen(text) + 1) * sizeof(WCHAR));
    status = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);

exit:
    if (key) RegCloseKey(key);
    return status;
}

}  // namespace

LONG QueryTextValue(HKEY key, const WCHAR* valueName, WCHAR* buffer, DWORD capacity) {
    DWORD size = capacity * sizeof(WCHAR);
    LONG status = RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size);
    if (status != ERROR_SUCCESS) return status;
    // Whole characters read; an odd trailing byte is dropped.
    DWORD characters = size / sizeof(WCHAR);
    if (characters > 0 && buffer[characters - 1] == 0) return ERROR_SUCCESS;
    if (characters >= capacity) return ERROR_MORE_DATA;
    buffer[characters] = 0;
    return ERROR_SUCCESS;
}

ZelStatus GetTargetDir(WCHAR* buffer) {
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, 0, 0, "GetTargetDir++");
    bool opened = false;
    ZelStatus result = ReadSetting(kTargetDirValue, buffer, &opened);
    // Unopened, the buffer is still the caller's and may hold no text at all.
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, 1, result, "GetTargetDir-- \"%ws\"", opened ? buffer : TEXT(""));
    return result;
}

ZelStatus SetTargetDir(const WCHAR* text) {
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, 0, 0, "SetTargetDir-- \"%ws\"", text);
    ZelStatus result = WriteSetting(kTargetDirValue, text);
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, 1, result, "SetTargetDir--");
    return result;
}

ZelStatus GetInfPathFromRegistry(WCHAR* buffer) {
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, 0, 0, "GetInfPathFromRegistry++");
    bool opened = false;
    ZelStatus result = ReadSetting(kInfFileValue, buffer, &opened);
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, 1, result, "GetInfPathFromRegistry-- \"%ws\"", opened ? buffer : TEXT(""));
    return result;
}

ZelStatus SetInfPathInRegistry(const WCHAR* text) {
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, 0, 0, "SetInfPathInRegistry-- \"%ws\"", text);
    ZelStatus result = WriteSetting(kInfFileValue, text);
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, 1, result, "SetInfPathInRegistry--");
    return result;
}
