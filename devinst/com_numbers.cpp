#include "devinst/com_numbers.h"

#include <cstring>

#include "devinst/device_setup.h"
#include "platform/text.h"
#include "portstore/port_info.h"

namespace {

// Buffer sizes of the device scan, in bytes as the calls take them. Each text buffer has one character
// more than it hands the call, left NUL, so that text stored without a terminator still ends.
constexpr DWORD kHardwareIdBytes = 1024;
constexpr DWORD kPortNameBytes = 80;
constexpr DWORD kEnumeratorBytes = 520;
constexpr DWORD kFriendlyNameBytes = 1024;
constexpr DWORD kSerialCommNameChars = 256;
constexpr DWORD kSerialCommDataBytes = 512;
// A friendly name this short cannot end in "(COMn)".
constexpr size_t kShortestFriendlyName = 6;

void Mark(BYTE* map, LONG comNumber) {
    if (comNumber >= 1 && comNumber <= static_cast<LONG>(kPortUsageEntries)) map[comNumber - 1] = 1;
}

const WCHAR* FindCom(const WCHAR* text) {
    for (; text[0]; ++text)
        if (text[0] == 'C' && text[1] == 'O' && text[2] == 'M') return text;
    return nullptr;
}

DWORD ComNumberAtIoBase(WORD base) {
    if (base >= 0x3F8 && base <= 0x3FF) return 1;
    if (base >= 0x2F8 && base <= 0x2FF) return 2;
    if (base >= 0x3E8 && base <= 0x3EF) return 3;
    if (base >= 0x2E8 && base <= 0x2EF) return 4;
    return 0;
}

BOOL ReadProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, WCHAR* text, DWORD bytes) {
    return SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, reinterpret_cast<BYTE*>(text), bytes,
                                             nullptr);
}

BOOL ReadValue(HKEY key, const WCHAR* name, void* data, DWORD bytes) {
    return RegQueryValueExW(key, name, nullptr, nullptr, static_cast<BYTE*>(data), &bytes) == ERROR_SUCCESS;
}

// Whether a device with an open hardware key counts as a serial port, and its port name if it gave one.
BOOL CountsAsSerialPort(HDEVINFO set, SP_DEVINFO_DATA* device, HKEY hardwareKey, WCHAR* portName) {
    WCHAR enumerator[kEnumeratorBytes / sizeof(WCHAR) + 1] = {};
    ULONG status = 0;
    ULONG problem = 0;
    DWORD firmwareIdentified = 0;

    if (ReadValue(hardwareKey, TEXT("PortName"), portName, kPortNameBytes)) return TRUE;
    std::memset(portName, 0, kPortNameBytes);
    if (ReadValue(hardwareKey, TEXT("DosDeviceName"), portName, kPortNameBytes)) return TRUE;
    std::memset(portName, 0, kPortNameBytes);

    BOOL haveEnumerator = ReadProperty(set, device, SPDRP_ENUMERATOR_NAME, enumerator, kEnumeratorBytes);
    if (haveEnumerator && ZelStrEqualNoCase(enumerator, TEXT("ACPI"))) return TRUE;
    // A root-enumerated instance whose devnode is not marked root-enumerated was reported by firmware.
    if (haveEnumerator && ZelStrEqualNoCase(enumerator, TEXT("Root")) &&
        CM_Get_DevNode_Status(&status, &problem, device->DevInst, 0) == CR_SUCCESS &&
        !(status & DN_ROOT_ENUMERATED))
        return TRUE;
    return ReadValue(hardwareKey, TEXT("FirmwareIdentified"), &firmwareIdentified, sizeof firmwareIdentified);
}

// "Communications Port (COM1)": the number after the last 'M' before the closing parenthesis.
void MarkFromFriendlyName(HDEVINFO set, SP_DEVINFO_DATA* device, BYTE* map) {
    WCHAR name[kFriendlyNameBytes / sizeof(WCHAR) + 1] = {};
    if (!ReadProperty(set, device, SPDRP_FRIENDLYNAME, name, kFriendlyNameBytes)) return;
    size_t length = ZelStrLen(name);
    if (length <= kShortestFriendlyName) return;
    ZelStrUpper(name, length);
    name[length - 1] = 0;
    for (size_t at = length - 2; at >= 1; --at) {
        if (name[at] == 'M') {
            Mark(map, ZelParseLong(name + at + 1));
            return;
        }
    }
}

void MarkDevice(HDEVINFO set, SP_DEVINFO_DATA* device, BYTE* map) {
    WCHAR hardwareIds[kHardwareIdBytes / sizeof(WCHAR) + 1] = {};
    WCHAR portName[kPortNameBytes / sizeof(WCHAR) + 1] = {};
    BOOL counts = FALSE;

    if (!ReadProperty(set, device, SPDRP_HARDWAREID, hardwareIds, kHardwareIdBytes)) return;
    // The product's own ports are accounted for by the caller.
    if (ZelStrEqualNoCase(hardwareIds, kPortHardwareId)) return;

    HKEY hardwareKey = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (hardwareKey != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) {
        counts = CountsAsSerialPort(set, device, hardwareKey, portName);
        RegCloseKey(hardwareKey);
    }
    if (!counts) {
        MarkFromFriendlyName(set, device, map);
        return;
    }
    if (portName[0]) {
        ZelStrUpper(portName, kPortNameBytes / sizeof(WCHAR));
        const WCHAR* com = FindCom(portName);
        LONG number = com ? ZelParseLong(com + 3) : 0;
        if (number != 0) {
            Mark(map, number);
            return;
        }
    }
    Mark(map, static_cast<LONG>(DetermineComNumberFromResources(device->DevInst)));
}

}  // namespace

ZelStatus _GetPortUsage(BYTE* map, DWORD mapSize, DWORD* portsReported) {
    HCOMDB database = HCOMDB_INVALID_HANDLE_VALUE;
    ZelStatus result = 0;
    BYTE scanned[kPortUsageEntries] = {};

    ZEL_TRACE(TRACE_PORT_USAGE, TRACE_FLOW, FALSE, 0, "_GetPortUsage++");
    LONG status = ComDBOpen(&database);
    if (status != ERROR_SUCCESS) {
        ZEL_TRACE(TRACE_PORT_USAGE, TRACE_FLOW, FALSE, 0, "_GetPortUsageError--");
        return status;
    }
    status = ComDBGetCurrentPortUsage(database, map, mapSize, CDB_REPORT_BYTES, portsReported);
    ComDBClose(database);
    if (status != ERROR_SUCCESS) {
        ZEL_TRACE(TRACE_PORT_USAGE, TRACE_FLOW, FALSE, 0, "_GetPortUsageError--");
        return status;
    }
    if (map) {
        // The scans mark a map of 256 entries; a caller's smaller map takes the marks that fit.
        BYTE* marks = mapSize >= kPortUsageEntries ? map : scanned;
        result = GetOtherPorts(marks);
        SearchHardwareSerialComm(marks);
        if (marks == scanned)
            for (DWORD i = 0; i < mapSize; ++i)
                if (scanned[i]) map[i] = 1;
    }
    ZEL_TRACE(TRACE_PORT_USAGE, TRACE_FLOW, TRUE, result, "_GetPortUsage--");
    return result;
}

ZelStatus GetOtherPorts(BYTE* map) {
    ZEL_TRACE(TRACE_PORT_USAGE, TRACE_FLOW, FALSE, 0, "GetOtherPorts++");
    HDEVINFO set = SetupDiGetClassDevsW(&kPortsClassGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_PROFILE);
    if (set == INVALID_HANDLE_VALUE) {
        ZelStatus error = FailedCallError();
        ZEL_TRACE(TRACE_PORT_USAGE, TRACE_FLOW, TRUE, error, "GetOtherPorts-- Error (SetupDiGetClassDevs)");
        return error;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set, index, &device)) break;
        MarkDevice(set, &device, map);
    }
    SetupDiDestroyDeviceInfoList(set);
    ZEL_TRACE(TRACE_PORT_USAGE, TRACE_FLOW, TRUE, 0, "GetOtherPorts--");
    return 0;
}

void SearchHardwareSerialComm(BYTE* map) {
    HKEY key = nullptr;
    ZEL_TRACE(TRACE_PORT_USAGE, TRACE_FLOW, FALSE, 0, "SearchHardwareSerialComm++");
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Hardware\\DeviceMap\\SerialComm"), 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) {
        ZEL_TRACE(TRACE_PORT_USAGE, TRACE_FLOW, TRUE, status, "SearchHardwareSerialComm--");
        return;
    }
    for (DWORD index = 0;; ++index) {
        WCHAR name[kSerialCommNameChars];
        DWORD nameChars = kSerialCommNameChars;
        WCHAR data[kSerialCommDataBytes / sizeof(WCHAR) + 1] = {};
        DWORD dataBytes = kSerialCommDataBytes;
        status = RegEnumValueW(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        ZEL_TRACE(TRACE_PORT_USAGE, TRACE_INFO, FALSE, 0, "SearchHardwareSerialComm pname %ws", name);
        status = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &dataBytes);
        if (status != ERROR_SUCCESS || data[0] != 'C' || data[2] != 'M' || !data[3]) continue;
        LONG number = ZelParseLong(data + 3);
        ZEL_TRACE(TRACE_PORT_USAGE, TRACE_INFO, FALSE, 0, "SearchHardwareSerialComm comPortNumber %d", number);
        if (number >= 1 && number <= 255) Mark(map, number);
    }
    RegCloseKey(key);
    ZEL_TRACE(TRACE_PORT_USAGE, TRACE_FLOW, TRUE, status, "SearchHardwareSerialComm--");
}

DWORD DetermineComNumberFromResources(DEVINST devInst) {
    LOG_CONF configuration = 0;
    RES_DES descriptor = 0;
    DWORD comNumber = 0;

    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "DetermineComNumberFromResources++");
    if (CM_Get_First_Log_Conf(&configuration, devInst, BOOT_LOG_CONF) != CR_SUCCESS) {
        ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "DetermineComNumberFromResourcesError--");
        return 0;
    }
    if (CM_Get_Next_Res_Des(&descriptor, configuration, ResType_IO, nullptr, 0) == CR_SUCCESS) {
        // A descriptor shorter than the record leaves the rest of it as zeros: no base, no number.
        IO_RESOURCE resource;
        std::memset(&resource, 0, sizeof resource);
        CONFIGRET read = CM_Get_Res_Des_Data(descriptor, &resource, sizeof resource, 0);
        CM_Free_Res_Des_Handle(descriptor);
        if (read == CR_SUCCESS) comNumber = ComNumberAtIoBase(static_cast<WORD>(resource.IO_Header.IOD_Alloc_Base));
    }
    CM_Free_Log_Conf_Handle(configuration);
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "DetermineComNumberFromResources--");
    return comNumber;
}

ZelStatus _ReleasePort(DWORD comNumber) {
    HCOMDB database = HCOMDB_INVALID_HANDLE_VALUE;
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "_ReleasePort++");
    LONG status = ComDBOpen(&database);
    if (status == ERROR_SUCCESS) {
        status = ComDBReleasePort(database, comNumber);
        ComDBClose(database);
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, status, "_ReleasePort--");
    return status;
}
