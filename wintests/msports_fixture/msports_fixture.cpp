// The COM port database for the Wine test prefix, kept where the simulator keeps it so that the Windows
// tests and the native ones see the same machine: a REG_BINARY bitmap, bit n - 1 for COMn, least
// significant bit first, in the value "ComDB" of HKLM\System\CurrentControlSet\Control\COM Name Arbiter.
// A missing or shorter value reads as an empty database of 256 ports; a longer one holds eight ports a byte.
#include <cstring>

#include "platform/msports.h"

namespace {

constexpr WCHAR kArbiterKey[] = L"System\\CurrentControlSet\\Control\\COM Name Arbiter";
constexpr WCHAR kComDbValue[] = L"ComDB";
constexpr DWORD kMinBytes = COMDB_MIN_PORTS_ARBITRATED / 8;
constexpr DWORD kMaxBytes = COMDB_MAX_PORTS_ARBITRATED / 8;
constexpr DWORD kMagic = 0x42444D43;  // "CMDB"

struct Database {
    DWORD magic;
    HKEY key;
};

struct Bitmap {
    BYTE bits[kMaxBytes];
    DWORD bytes;

    DWORD Ports() const { return bytes * 8; }
    bool Claimed(DWORD comNumber) const { return (bits[(comNumber - 1) / 8] >> ((comNumber - 1) % 8)) & 1; }
    void Set(DWORD comNumber, bool claimed) {
        BYTE mask = static_cast<BYTE>(1u << ((comNumber - 1) % 8));
        if (claimed) bits[(comNumber - 1) / 8] |= mask;
        else bits[(comNumber - 1) / 8] &= static_cast<BYTE>(~mask);
    }
};

Database* Open(HCOMDB handle) {
    auto* database = reinterpret_cast<Database*>(handle);
    if (!database || handle == HCOMDB_INVALID_HANDLE_VALUE || database->magic != kMagic) return nullptr;
    return database;
}

LONG Load(const Database* database, Bitmap* bitmap) {
    std::memset(bitmap->bits, 0, sizeof bitmap->bits);
    DWORD bytes = sizeof bitmap->bits;
    LONG status = RegQueryValueExW(database->key, kComDbValue, nullptr, nullptr, bitmap->bits, &bytes);
    if (status == ERROR_FILE_NOT_FOUND) bytes = 0;
    else if (status != ERROR_SUCCESS) return status;
    bitmap->bytes = bytes < kMinBytes ? kMinBytes : bytes;
    return ERROR_SUCCESS;
}

LONG Store(const Database* database, const Bitmap& bitmap) {
    return RegSetValueExW(database->key, kComDbValue, 0, REG_BINARY, bitmap.bits, bitmap.bytes);
}

}  // namespace

extern "C" {

// Its presence tells the tests that this database, not the system's, is loaded.
DWORD WINAPI ZelComDbFixture() { return 1; }

LONG WINAPI ComDBOpen(PHCOMDB handle) {
    if (!handle) return ERROR_INVALID_PARAMETER;
    *handle = HCOMDB_INVALID_HANDLE_VALUE;
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kArbiterKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    auto* database = static_cast<Database*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Database)));
    if (!database) {
        RegCloseKey(key);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    database->magic = kMagic;
    database->key = key;
    *handle = reinterpret_cast<HCOMDB>(database);
    return ERROR_SUCCESS;
}

LONG WINAPI ComDBClose(HCOMDB handle) {
    Database* database = Open(handle);
    if (!database) return ERROR_INVALID_PARAMETER;
    RegCloseKey(database->key);
    database->magic = 0;
    HeapFree(GetProcessHeap(), 0, database);
    return ERROR_SUCCESS;
}

LONG WINAPI ComDBGetCurrentPortUsage(HCOMDB handle, PBYTE buffer, DWORD bufferSize, ULONG reportType,
                                     LPDWORD maxPortsReported) {
    Database* database = Open(handle);
    if (!database) return ERROR_INVALID_PARAMETER;
    Bitmap bitmap;
    LONG status = Load(database, &bitmap);
    if (status != ERROR_SUCCESS) return status;
    if (!buffer) {
        if (!maxPortsReported) return ERROR_INVALID_PARAMETER;
        *maxPortsReported = bitmap.Ports();
        return ERROR_SUCCESS;
    }
    if (reportType == CDB_REPORT_BYTES) {
        DWORD count = bufferSize < bitmap.Ports() ? bufferSize : bitmap.Ports();
        for (DWORD i = 0; i < count; ++i) buffer[i] = bitmap.Claimed(i + 1) ? 1 : 0;
        if (maxPortsReported) *maxPortsReported = count;
        return ERROR_SUCCESS;
    }
    if (reportType == CDB_REPORT_BITS) {
        DWORD count = bufferSize < bitmap.bytes ? bufferSize : bitmap.bytes;
        std::memcpy(buffer, bitmap.bits, count);
        if (maxPortsReported) *maxPortsReported = count * 8;
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_PARAMETER;
}

LONG WINAPI ComDBClaimPort(HCOMDB handle, DWORD comNumber, BOOL forceClaim, PBOOL forced) {
    Database* database = Open(handle);
    if (!database) return ERROR_INVALID_PARAMETER;
    Bitmap bitmap;
    LONG status = Load(database, &bitmap);
    if (status != ERROR_SUCCESS) return status;
    if (comNumber < 1 || comNumber > bitmap.Ports()) return ERROR_INVALID_PARAMETER;
    bool inUse = bitmap.Claimed(comNumber);
    if (inUse && !forceClaim) return ERROR_SHARING_VIOLATION;
    if (forced) *forced = inUse ? TRUE : FALSE;
    bitmap.Set(comNumber, true);
    return Store(database, bitmap);
}

LONG WINAPI ComDBReleasePort(HCOMDB handle, DWORD comNumber) {
    Database* database = Open(handle);
    if (!database) return ERROR_INVALID_PARAMETER;
    Bitmap bitmap;
    LONG status = Load(database, &bitmap);
    if (status != ERROR_SUCCESS) return status;
    if (comNumber < 1 || comNumber > bitmap.Ports()) return ERROR_INVALID_PARAMETER;
    bitmap.Set(comNumber, false);
    return Store(database, bitmap);
}

}  // extern "C"
