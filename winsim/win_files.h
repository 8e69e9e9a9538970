// Files, INF files, driver package staging and win.ini, as the simulated platform provides them.
// Written from the public documentation of setupapi.dll and kernel32.dll.
#pragma once

#include "winsim/win_api.h"

typedef UINT* PUINT;
typedef PVOID HINF;

#define ERROR_FILE_EXISTS 80L
#define ERROR_FILE_INVALID 1006L

// SetupAPI's own codes, APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | n (ERROR_CLASS_MISMATCH and the
// device codes are in win_setupapi.h).
#define ERROR_EXPECTED_SECTION_NAME 0xE0000000u
#define ERROR_BAD_SECTION_NAME_LINE 0xE0000001u
#define ERROR_SECTION_NAME_TOO_LONG 0xE0000002u
#define ERROR_GENERAL_SYNTAX 0xE0000003u
#define ERROR_WRONG_INF_STYLE 0xE0000100u
#define ERROR_SECTION_NOT_FOUND 0xE0000101u
#define ERROR_LINE_NOT_FOUND 0xE0000102u
#define ERROR_NO_ASSOCIATED_CLASS 0xE0000200u
#define ERROR_INVALID_CLASS 0xE0000206u

#define INF_STYLE_NONE 0x00000000u
#define INF_STYLE_OLDNT 0x00000001u
#define INF_STYLE_WIN4 0x00000002u
#define INF_STYLE_CACHE_ENABLE 0x00000010u
#define INF_STYLE_CACHE_DISABLE 0x00000020u

#define MAX_CLASS_NAME_LEN 32

// A position in an open INF: the handle it belongs to and the line within a section.
typedef struct _INFCONTEXT {
    PVOID Inf;
    PVOID CurrentInf;
    UINT Section;
    UINT Line;
} INFCONTEXT, *PINFCONTEXT;

// SetupCopyOEMInfW: source media types and copy styles.
#define SPOST_NONE 0u
#define SPOST_PATH 1u
#define SPOST_URL 2u
#define SP_COPY_DELETESOURCE 0x0000001u
#define SP_COPY_REPLACEONLY 0x0000002u
#define SP_COPY_NOOVERWRITE 0x0000008u
#define SP_COPY_OEMINF_CATALOG_ONLY 0x0040000u

// AddReg line flags.
#define FLG_ADDREG_BINVALUETYPE 0x00000001u
#define FLG_ADDREG_NOCLOBBER 0x00000002u
#define FLG_ADDREG_DELVAL 0x00000004u
#define FLG_ADDREG_APPEND 0x00000008u
#define FLG_ADDREG_KEYONLY 0x00000010u
#define FLG_ADDREG_OVERWRITEONLY 0x00000020u
#define FLG_ADDREG_TYPE_SZ 0x00000000u
#define FLG_ADDREG_TYPE_MULTI_SZ 0x00010000u
#define FLG_ADDREG_TYPE_EXPAND_SZ 0x00020000u
#define FLG_ADDREG_TYPE_BINARY 0x00000001u
#define FLG_ADDREG_TYPE_DWORD 0x00010001u
#define FLG_ADDREG_TYPE_NONE 0x00020001u

extern "C" {

// INF files. An open INF is released with SetupCloseInfFile.
HINF WINAPI SetupOpenInfFileW(PCWSTR fileName, PCWSTR infClass, DWORD infStyle, PUINT errorLine);
void WINAPI SetupCloseInfFile(HINF inf);
BOOL WINAPI SetupFindFirstLineW(HINF inf, PCWSTR section, PCWSTR key, PINFCONTEXT context);
BOOL WINAPI SetupFindNextLine(const INFCONTEXT* contextIn, PINFCONTEXT contextOut);
DWORD WINAPI SetupGetFieldCount(const INFCONTEXT* context);
BOOL WINAPI SetupGetStringFieldW(const INFCONTEXT* context, DWORD fieldIndex, PWSTR returnBuffer,
                                 DWORD returnBufferSize, PDWORD requiredSize);

// Setup classes.
BOOL WINAPI SetupDiGetINFClassW(PCWSTR infName, LPGUID classGuid, PWSTR className, DWORD classNameSize,
                                PDWORD requiredSize);
BOOL WINAPI SetupDiClassGuidsFromNameW(PCWSTR className, LPGUID classGuidList, DWORD classGuidListSize,
                                       PDWORD requiredSize);

// Driver package staging.
BOOL WINAPI SetupCopyOEMInfW(PCWSTR sourceInfFileName, PCWSTR oemSourceMediaLocation, DWORD oemSourceMediaType,
                             DWORD copyStyle, PWSTR destinationInfFileName, DWORD destinationInfFileNameSize,
                             PDWORD requiredSize, PWSTR* destinationInfFileNameComponent);

// win.ini.
DWORD WINAPI GetProfileStringW(LPCWSTR appName, LPCWSTR keyName, LPCWSTR defaultText, LPWSTR returnedString,
                               DWORD size);
BOOL WINAPI WriteProfileStringW(LPCWSTR appName, LPCWSTR keyName, LPCWSTR text);

}  // extern "C"
