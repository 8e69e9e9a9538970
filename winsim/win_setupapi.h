// SetupAPI device information sets and device properties, the configuration manager's device nodes and
// logical configurations, and the COM port database of msports.dll, as the simulated platform provides
// them. Written from the public documentation of setupapi.dll, cfgmgr32.dll and msports.dll.
#pragma once

#include "winsim/win_api.h"

typedef uint64_t DWORDLONG;
typedef PVOID HDEVINFO;

#define ERROR_INVALID_DATA 13L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_INVALID_USER_BUFFER 1784L

// SetupAPI's own codes: APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | n.
#define ERROR_CLASS_MISMATCH 0xE0000201L
#define ERROR_KEY_DOES_NOT_EXIST 0xE0000204L
#define ERROR_INVALID_DEVINST_NAME 0xE0000205L
#define ERROR_DEVINST_ALREADY_EXISTS 0xE0000207L
#define ERROR_INVALID_REG_PROPERTY 0xE0000209L
#define ERROR_NO_SUCH_DEVINST 0xE000020BL

typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

#define DIGCF_DEFAULT 0x00000001u
#define DIGCF_PRESENT 0x00000002u
#define DIGCF_ALLCLASSES 0x00000004u
#define DIGCF_PROFILE 0x00000008u
#define DIGCF_DEVICEINTERFACE 0x00000010u

#define SPDRP_DEVICEDESC 0x00000000u
#define SPDRP_HARDWAREID 0x00000001u
#define SPDRP_COMPATIBLEIDS 0x00000002u
#define SPDRP_SERVICE 0x00000004u
#define SPDRP_CLASS 0x00000007u
#define SPDRP_CLASSGUID 0x00000008u
#define SPDRP_DRIVER 0x00000009u
#define SPDRP_MFG 0x0000000Bu
#define SPDRP_FRIENDLYNAME 0x0000000Cu
#define SPDRP_ENUMERATOR_NAME 0x00000016u

#define DICS_FLAG_GLOBAL 0x00000001u
#define DICS_FLAG_CONFIGSPECIFIC 0x00000002u
#define DIREG_DEV 0x00000001u
#define DIREG_DRV 0x00000002u
#define DIREG_BOTH 0x00000004u

// ---- Configuration manager ----
typedef DWORD DEVINST;
typedef DWORD DEVNODE;
typedef DWORD_PTR LOG_CONF;
typedef LOG_CONF* PLOG_CONF;
typedef DWORD_PTR RES_DES;
typedef RES_DES* PRES_DES;
typedef ULONG RESOURCEID;
typedef RESOURCEID* PRESOURCEID;
typedef DWORD CONFIGRET;

#define CR_SUCCESS 0x00000000u
#define CR_OUT_OF_MEMORY 0x00000002u
#define CR_INVALID_POINTER 0x00000003u
#define CR_INVALID_FLAG 0x00000004u
#define CR_INVALID_DEVNODE 0x00000005u
#define CR_INVALID_RES_DES 0x00000006u
#define CR_INVALID_LOG_CONF 0x00000007u
#define CR_NO_SUCH_DEVNODE 0x0000000Du
#define CR_NO_MORE_LOG_CONF 0x0000000Eu
#define CR_NO_MORE_RES_DES 0x0000000Fu
#define CR_FAILURE 0x00000013u
#define CR_BUFFER_SMALL 0x0000001Au

#define BASIC_LOG_CONF 0x00000000u
#define FILTERED_LOG_CONF 0x00000001u
#define ALLOC_LOG_CONF 0x00000002u
#define BOOT_LOG_CONF 0x00000003u

#define ResType_All 0x00000000u
#define ResType_Mem 0x00000001u
#define ResType_IO 0x00000002u

#define DN_ROOT_ENUMERATED 0x00000001u
#define DN_DRIVER_LOADED 0x00000002u
#define DN_ENUM_LOADED 0x00000004u
#define DN_STARTED 0x00000008u
#define DN_HAS_PROBLEM 0x00000400u

// The configuration manager's resource records are byte-packed.
#pragma pack(push, 1)
typedef struct IO_Des_s {
    DWORD IOD_Count;
    DWORD IOD_Type;
    DWORDLONG IOD_Alloc_Base;
    DWORDLONG IOD_Alloc_End;
    DWORD IOD_DesFlags;
} IO_DES, *PIO_DES;
typedef struct IO_Range_s {
    DWORDLONG IOR_Align;
    DWORD IOR_nPorts;
    DWORDLONG IOR_Min;
    DWORDLONG IOR_Max;
    DWORD IOR_RangeFlags;
    DWORDLONG IOR_Alias;
} IO_RANGE, *PIO_RANGE;
typedef struct IO_Resource_s {
    IO_DES IO_Header;
    IO_RANGE IO_Data[1];
} IO_RESOURCE, *PIO_RESOURCE;
#pragma pack(pop)
static_assert(sizeof(IO_DES) == 28 && sizeof(IO_RANGE) == 40 && sizeof(IO_RESOURCE) == 68, "packed I/O records");

#define IO_ALIAS_10_BIT_DECODE 0x00000004u
#define fIOD_IO 0x0001u
#define fIOD_10_BIT_DECODE 0x0004u

// ---- COM port database ----
typedef struct HCOMDB__* HCOMDB;
typedef HCOMDB* PHCOMDB;
#define HCOMDB_INVALID_HANDLE_VALUE ((HCOMDB)INVALID_HANDLE_VALUE)
#define CDB_REPORT_BITS 0x0u
#define CDB_REPORT_BYTES 0x1u
#define COMDB_MIN_PORTS_ARBITRATED 256u
#define COMDB_MAX_PORTS_ARBITRATED 4096u

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type,
                                              PBYTE buffer, DWORD bufferSize, PDWORD requiredSize);
HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD scope, DWORD hwProfile, DWORD keyType,
                                 REGSAM access);
BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO set, PSP_DEVINFO_DATA data, PWSTR id, DWORD idSize,
                                        PDWORD requiredSize);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set);

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG status, PULONG problem, DEVINST devInst, ULONG flags);
CONFIGRET WINAPI CM_Get_First_Log_Conf(PLOG_CONF logConf, DEVINST devInst, ULONG flags);
CONFIGRET WINAPI CM_Get_Next_Res_Des(PRES_DES resDes, RES_DES current, RESOURCEID forResource,
                                     PRESOURCEID resourceId, ULONG flags);
CONFIGRET WINAPI CM_Get_Res_Des_Data(RES_DES resDes, PVOID buffer, ULONG bufferLength, ULONG flags);
CONFIGRET WINAPI CM_Free_Res_Des_Handle(RES_DES resDes);
CONFIGRET WINAPI CM_Free_Log_Conf_Handle(LOG_CONF logConf);

LONG WINAPI ComDBOpen(PHCOMDB database);
LONG WINAPI ComDBClose(HCOMDB database);
LONG WINAPI ComDBGetCurrentPortUsage(HCOMDB database, PBYTE buffer, DWORD bufferSize, ULONG reportType,
                                     LPDWORD maxPortsReported);
LONG WINAPI ComDBClaimPort(HCOMDB database, DWORD comNumber, BOOL forceClaim, PBOOL forced);
LONG WINAPI ComDBReleasePort(HCOMDB database, DWORD comNumber);

}  // extern "C"
