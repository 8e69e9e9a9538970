// The COM port database of msports.dll, which the Windows SDK of mingw-w64 lacks. Declared from the
// documented interface; the import library comes from winbuild/msports.def.
#pragma once

#ifdef _WIN32
#include <windows.h>

DECLARE_HANDLE(HCOMDB);
typedef HCOMDB* PHCOMDB;
#define HCOMDB_INVALID_HANDLE_VALUE ((HCOMDB)INVALID_HANDLE_VALUE)

#define CDB_REPORT_BITS 0x0
#define CDB_REPORT_BYTES 0x1
#define COMDB_MIN_PORTS_ARBITRATED 256
#define COMDB_MAX_PORTS_ARBITRATED 4096

extern "C" {
LONG WINAPI ComDBOpen(PHCOMDB database);
LONG WINAPI ComDBClose(HCOMDB database);
LONG WINAPI ComDBGetCurrentPortUsage(HCOMDB database, PBYTE buffer, DWORD bufferSize, ULONG reportType,
                                     LPDWORD maxPortsReported);
LONG WINAPI ComDBClaimPort(HCOMDB database, DWORD comNumber, BOOL forceClaim, PBOOL forced);
LONG WINAPI ComDBReleasePort(HCOMDB database, DWORD comNumber);
}
#endif
