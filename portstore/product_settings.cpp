#include "portstore/product_settings.h"

const WCHAR kProductSettingsKey[] = TEXT("Software\\Kelmiso\\ZEL");
const WCHAR kTargetDirValue[] = TEXT("TargetDir");
const WCHAR kInfFileValue[] = TEXT("InfFile");

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
