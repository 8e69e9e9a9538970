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
#define ERROR_CLASS_MISMATCH 0xE0000201u
#define ERROR_NO_DRIVER_SELECTED 0xE0000203u
#define ERROR_KEY_DOES_NOT_EXIST 0xE0000204u
#define ERROR_INVALID_DEVINST_NAME 0xE0000205u
#define ERROR_DEVINST_ALREADY_EXISTS 0xE0000207u
#define ERROR_DEVINFO_NOT_REGISTERED 0xE0000208u
#define ERROR_INVALID_REG_PROPERTY 0xE0000209u
#define ERROR_NO_SUCH_DEVINST 0xE000020Bu

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

// ---- Device installation ----
#define LINE_LEN 256
typedef PVOID HSPFILEQ;
typedef UINT(CALLBACK* PSP_FILE_CALLBACK_W)(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2);
typedef UINT DI_FUNCTION;

#define DICD_GENERATE_ID 0x00000001u
#define DICD_INHERIT_CLASSDRVS 0x00000002u
#define DIOD_INHERIT_CLASSDRVS 0x00000002u
#define DIOD_CANCEL_REMOVE 0x00000004u

#define DIF_SELECTDEVICE 0x00000001u
#define DIF_INSTALLDEVICE 0x00000002u
#define DIF_REMOVE 0x00000005u
#define DIF_PROPERTYCHANGE 0x00000012u
#define DIF_REGISTERDEVICE 0x00000019u

#define DICS_ENABLE 0x00000001u
#define DICS_DISABLE 0x00000002u
#define DICS_PROPCHANGE 0x00000003u
#define DICS_START 0x00000004u
#define DICS_STOP 0x00000005u

#define DI_NEEDRESTART 0x00000080u
#define DI_NEEDREBOOT 0x00000100u
#define DI_NOBROWSE 0x00000200u
#define DI_ENUMSINGLEINF 0x00010000u
#define DI_QUIETINSTALL 0x00800000u
#define DI_NOFILECOPY 0x01000000u
#define DI_FLAGSEX_ALLOWEXCLUDEDDRVS 0x00000800u

#define SPDIT_NODRIVER 0x00000000u
#define SPDIT_CLASSDRIVER 0x00000001u
#define SPDIT_COMPATDRIVER 0x00000002u

#define INSTALLFLAG_FORCE 0x00000001u

typedef struct _SP_DEVINSTALL_PARAMS_W {
    DWORD cbSize;
    DWORD Flags;
    DWORD FlagsEx;
    HWND hwndParent;
    PSP_FILE_CALLBACK_W InstallMsgHandler;
    PVOID InstallMsgHandlerContext;
    HSPFILEQ FileQueue;
    ULONG_PTR ClassInstallReserved;
    DWORD Reserved;
    WCHAR DriverPath[MAX_PATH];
} SP_DEVINSTALL_PARAMS_W, *PSP_DEVINSTALL_PARAMS_W;

typedef struct _SP_CLASSINSTALL_HEADER {
    DWORD cbSize;
    DI_FUNCTION InstallFunction;
} SP_CLASSINSTALL_HEADER, *PSP_CLASSINSTALL_HEADER;

typedef struct _SP_PROPCHANGE_PARAMS {
    SP_CLASSINSTALL_HEADER ClassInstallHeader;
    DWORD StateChange;
    DWORD Scope;
    DWORD HwProfile;
} SP_PROPCHANGE_PARAMS, *PSP_PROPCHANGE_PARAMS;

typedef struct _SP_DRVINFO_DATA_V1_W {
    DWORD cbSize;
    DWORD DriverType;
    ULONG_PTR Reserved;
    WCHAR Description[LINE_LEN];
    WCHAR MfgName[LINE_LEN];
    WCHAR ProviderName[LINE_LEN];
} SP_DRVINFO_DATA_V1_W, *PSP_DRVINFO_DATA_V1_W;

typedef struct _SP_DRVINFO_DATA_V2_W {
    DWORD cbSize;
    DWORD DriverType;
    ULONG_PTR Reserved;
    WCHAR Description[LINE_LEN];
    WCHAR MfgName[LINE_LEN];
    WCHAR ProviderName[LINE_LEN];
    FILETIME DriverDate;
    DWORDLONG DriverVersion;
} SP_DRVINFO_DATA_V2_W, *PSP_DRVINFO_DATA_V2_W;
typedef SP_DRVINFO_DATA_V2_W SP_DRVINFO_DATA_W;
typedef SP_DRVINFO_DATA_W* PSP_DRVINFO_DATA_W;

typedef struct _SP_DRVINFO_DETAIL_DATA_W {
    DWORD cbSize;
    FILETIME InfDate;
    DWORD CompatIDsOffset;
    DWORD CompatIDsLength;
    ULONG_PTR Reserved;
    WCHAR SectionName[LINE_LEN];
    WCHAR InfFileName[MAX_PATH];
    WCHAR DrvDescription[LINE_LEN];
    WCHAR HardwareID[1];
} SP_DRVINFO_DETAIL_DATA_W, *PSP_DRVINFO_DETAIL_DATA_W;

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

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND parent);
BOOL WINAPI SetupDiCreateDeviceInfoW(HDEVINFO set, PCWSTR deviceName, const GUID* classGuid, PCWSTR description,
                                     HWND parent, DWORD creationFlags, PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO set, PCWSTR instanceId, HWND parent, DWORD openFlags,
                                   PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                              const BYTE* buffer, DWORD bufferSize);
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION installFunction, HDEVINFO set, PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER params,
                                          DWORD paramsSize);
BOOL WINAPI SetupDiSetDeviceInstallParamsW(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_DEVINSTALL_PARAMS_W params);
BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_DEVINSTALL_PARAMS_W params);
BOOL WINAPI SetupDiBuildDriverInfoList(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD driverType);
BOOL WINAPI SetupDiSetSelectedDriverW(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_DRVINFO_DATA_W driver);
BOOL WINAPI SetupDiGetSelectedDriverW(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_DRVINFO_DATA_W driver);
BOOL WINAPI SetupDiGetDriverInfoDetailW(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_DRVINFO_DATA_W driver,
                                        PSP_DRVINFO_DETAIL_DATA_W detail, DWORD detailSize, PDWORD requiredSize);
HKEY WINAPI SetupDiCreateDevRegKeyW(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD scope, DWORD hwProfile,
                                    DWORD keyType, PVOID infHandle, PCWSTR installSection);
BOOL WINAPI SetupDiInstallDevice(HDEVINFO set, PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiRemoveDevice(HDEVINFO set, PSP_DEVINFO_DATA data);
BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND parent, PCWSTR hardwareId, PCWSTR fullInfPath,
                                               DWORD installFlags, PBOOL rebootRequired);

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
