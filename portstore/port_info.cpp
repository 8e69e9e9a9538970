#include "portstore/port_info.h"

#include <cstring>

#include "platform/text.h"
#include "portstore/port_search.h"

namespace {

constexpr REGSAM kPropertiesWriteAccess = KEY_READ | KEY_SET_VALUE;                      // 0x2001B
constexpr REGSAM kPropertiesPruneAccess = KEY_READ | KEY_CREATE_SUB_KEY;                 // 0x2001D
constexpr REGSAM kServiceWriteAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;    // 0x2001F
constexpr DWORD kAddressBytes = sizeof(PortService::Address);

struct SettingField {
    const WCHAR* name;
    size_t offset;
    DWORD size;
};

// The 19 values of the Properties key, in the order they are read.
const SettingField kSettings[] = {
    {TEXT("PortNumber"), offsetof(PortInfo, PortNumber), 4},
    {TEXT("AES"), offsetof(PortInfo, AES), 4},
    {TEXT("AESKey"), offsetof(PortInfo, AESKey), sizeof(PortInfo::AESKey)},
    {TEXT("AESKeyLength"), offsetof(PortInfo, AESKeyLength), 4},
    {TEXT("AutoReconErr"), offsetof(PortInfo, AutoReconErr), 4},
    {TEXT("AutoReconPeer"), offsetof(PortInfo, AutoReconPeer), 4},
    {TEXT("CnTmo"), offsetof(PortInfo, CnTmo), 4},
    {TEXT("NoDiscon"), offsetof(PortInfo, NoDiscon), 4},
    {TEXT("ReconLimit"), offsetof(PortInfo, ReconLimit), 4},
    {TEXT("UseRFC2217"), offsetof(PortInfo, UseRFC2217), 4},
    {TEXT("DtrConnection"), offsetof(PortInfo, DtrConnection), 4},
    {TEXT("WaitOnWrite"), offsetof(PortInfo, WaitOnWrite), 4},
    {TEXT("BufferWrites"), offsetof(PortInfo, BufferWrites), 4},
    {TEXT("TransmitEmpty"), offsetof(PortInfo, TransmitEmpty), 4},
    {TEXT("ListenMode"), offsetof(PortInfo, ListenMode), 4},
    {TEXT("KeepAliveOnOff"), offsetof(PortInfo, KeepAliveOnOff), 4},
    {TEXT("KeepAliveTime"), offsetof(PortInfo, KeepAliveTime), 4},
    {TEXT("KeepAliveInterval"), offsetof(PortInfo, KeepAliveInterval), 4},
    {TEXT("NumServices"), offsetof(PortInfo, NumServices), 4},
};
constexpr size_t kSettingCount = sizeof kSettings / sizeof kSettings[0];
constexpr size_t kAESKeySetting = 2;
static_assert(kSettingCount == 19, "the Properties key holds 19 values");

// The order of the writes: the key goes ahead of the AES switch, so that the driver, which reads the
// same key, never finds encryption switched on with the previous key.
const BYTE kWriteOrder[kSettingCount] = {0, 2, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};

// NumServices is a signed count: none when 0 or negative, never more than the record holds.
LONG ClampedCount(LONG count) {
    if (count < 0) return 0;
    if (count > static_cast<LONG>(kMaxPortServices)) return static_cast<LONG>(kMaxPortServices);
    return count;
}

// Reads a value of at most `size` bytes into field. Through a scratch buffer, because the platform
// leaves the destination undefined when the value is larger than it: a value that does not fit must
// leave the field as it was.
BOOL ReadField(HKEY key, const WCHAR* name, void* field, DWORD size) {
    BYTE scratch[kAddressBytes];
    DWORD read = size <= sizeof scratch ? size : (DWORD)sizeof scratch;
    if (RegQueryValueExW(key, name, nullptr, nullptr, scratch, &read) != ERROR_SUCCESS) return FALSE;
    std::memcpy(field, scratch, read);
    return TRUE;
}

// A device whose Device Parameters or PortName cannot be read. A port read completely stays read; the
// failures of other devices count only while it is not. Returns FALSE for a device that was read.
BOOL NoteUnreadableDevice(PortSearchEvent event, ZelStatus* result) {
    if (event == PORT_SEARCH_DEVICE) return FALSE;
    if (*result != 0)
        *result = event == PORT_SEARCH_NO_DEVICE_PARAMETERS ? ZEL_NO_DEVICE_PARAMETERS_FOUND : ZEL_PORT_NAME_NOT_FOUND;
    return TRUE;
}

struct LoadSearch {
    LONG port;
    PortInfo* info;
    DWORD examined;
    ZelStatus result;
};

BOOL LoadVisitor(void* context, PortSearchEvent event, const PortSearchDevice* device) {
    auto* load = static_cast<LoadSearch*>(context);
    WCHAR propertiesPath[kPortKeyPathChars];
    if (NoteUnreadableDevice(event, &load->result)) return TRUE;
    ++load->examined;
    if (device->comNumber == load->port) {
        if (!GetPropertiesPath(device->instanceKey, propertiesPath)) {
            load->result = ZEL_EXT_PORT_INFO_NOT_FOUND;
        } else {
            ZelStrCopy(load->info->PortName, kPortInfoNameChars, device->portName);
            load->info->PortNumber = static_cast<DWORD>(device->comNumber);
            load->result = _GetClassPortProperties(load->info, propertiesPath);
        }
    }
    return load->examined < kMaxExaminedPorts;
}

struct StoreSearch {
    const PortInfo* info;
    ZelStatus result;
};

BOOL StoreVisitor(void* context, PortSearchEvent event, const PortSearchDevice* device) {
    auto* store = static_cast<StoreSearch*>(context);
    WCHAR propertiesPath[kPortKeyPathChars];
    if (NoteUnreadableDevice(event, &store->result)) return TRUE;
    if (device->comNumber != static_cast<LONG>(store->info->PortNumber)) return TRUE;
    if (!GetPropertiesPath(device->instanceKey, propertiesPath)) {
        store->result = ZEL_EXT_PORT_INFO_NOT_FOUND;
    } else {
        store->result = _SetClassPortProperties(store->info, propertiesPath);
    }
    return TRUE;
}

}  // namespace

ZelStatus _GetPortInfoFromRegistry(LONG port, DWORD* count, PortInfo* info) {
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 0, 0, "_GetPortInfoFromRegistry++ COM%d portPath %ws", port,
              kPortsEnumKey);
    LoadSearch load = {port, info, 0, ZEL_PORT_NOT_FOUND};
    if (WalkPortDevices(kSearchPortNameChars, LoadVisitor, &load) != ERROR_SUCCESS)
        load.result = ZEL_PORT_KEY_NOT_FOUND;
    *count = load.examined;
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 1, load.result, "_GetPortInfoFromRegistry++ Num Ports %d", *count);
    return load.result;
}

ZelStatus _SetPortInfoInRegistry(const PortInfo* info) {
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 0, 0, "_SetPortInfoInRegistry++ COM%d", info->PortNumber);
    StoreSearch store = {info, ZEL_NO_DEVICES_FOUND};
    if (WalkPortDevices(kSearchPortNameChars, StoreVisitor, &store) != ERROR_SUCCESS)
        store.result = ZEL_PORT_KEY_NOT_FOUND;
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 1, store.result, "_SetPortInfoInRegistry--");
    return store.result;
}

ZelStatus _GetClassPortProperties(PortInfo* info, const WCHAR* propertiesPath) {
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 0, 0, "_GetClassPortProperties++ keyPath %ws", propertiesPath);
    HKEY key = nullptr;
    ZelStatus result = 0;
    auto* record = reinterpret_cast<BYTE*>(info);

    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, propertiesPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        key = nullptr;
        result = ZEL_EXT_PORT_INFO_NOT_FOUND;
        goto exit;
    }
    // Every value is tried, so that a failed load still carries all that could be read.
    for (const SettingField& setting : kSettings)
        if (!ReadField(key, setting.name, record + setting.offset, setting.size)) result = ZEL_EXT_PORT_INFO_NOT_FOUND;
    RegCloseKey(key);
    key = nullptr;
    if (result == 0)
        result = _GetClassPortServices(info->Services, propertiesPath, static_cast<LONG>(info->NumServices));

exit:
    if (key) RegCloseKey(key);
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 1, result, "_GetClassPortProperties--");
    return result;
}

ZelStatus _GetClassPortServices(PortService* services, const WCHAR* propertiesPath, LONG count) {
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 0, 0, "_GetClassPortServices++");
    ZelStatus result = 0;
    WCHAR path[kPortKeyPathChars];
    LONG last = ClampedCount(count);
    for (LONG i = 0; i < last; ++i) {
        HKEY key = nullptr;
        if (!ZelFormat(path, kPortKeyPathChars, TEXT("%s\\Service%d"), propertiesPath, i) ||
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            result = ZEL_EXT_PORT_INFO_NOT_FOUND;
            continue;
        }
        // A service value that cannot be read leaves its field as it was, without failing the load.
        ReadField(key, TEXT("Type"), &services[i].Type, sizeof services[i].Type);
        ReadField(key, TEXT("Address"), services[i].Address, kAddressBytes);
        ReadField(key, TEXT("Port"), &services[i].Port, sizeof services[i].Port);
        RegCloseKey(key);
    }
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 1, result, "_GetClassPortServices--");
    return result;
}

ZelStatus _SetClassPortProperties(const PortInfo* info, const WCHAR* propertiesPath) {
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 0, 0, "_SetClassPortProperties++ COM%d", info->PortNumber);
    HKEY key = nullptr;
    ZelStatus result = 0;
    ZelStatus servicesResult = 0;
    const auto* record = reinterpret_cast<const BYTE*>(info);

    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, propertiesPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        kPropertiesWriteAccess, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        key = nullptr;
        result = ZEL_EXT_PORT_INFO_NOT_FOUND;
        goto exit;
    }
    for (BYTE index : kWriteOrder) {
        const SettingField& setting = kSettings[index];
        DWORD type = index == kAESKeySetting ? REG_BINARY : REG_DWORD;
        if (RegSetValueExW(key, setting.name, 0, type, record + setting.offset, setting.size) != ERROR_SUCCESS) {
            result = ZEL_REGISTRY_SAVE_ERROR;
            break;
        }
    }
    RegCloseKey(key);
    key = nullptr;
    servicesResult = _SetClassPortServices(propertiesPath, info->Services, static_cast<LONG>(info->NumServices));
    if (result == 0) result = servicesResult;

exit:
    if (key) RegCloseKey(key);
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 1, result, "_SetClassPortProperties--");
    return result;
}

ZelStatus _SetClassPortServices(const WCHAR* propertiesPath, const PortService* services, LONG count) {
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 0, 0, "_SetClassPortServices++ keyPath %ws", propertiesPath);
    ZelStatus result = 0;
    HKEY key = nullptr;
    WCHAR path[kPortKeyPathChars];
    LONG last = ClampedCount(count);

    // Subkeys of an earlier, larger record go first, so that only the services of this record remain.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, propertiesPath, 0, kPropertiesPruneAccess, &key) == ERROR_SUCCESS) {
        for (LONG i = 0; i < (LONG)kMaxPortServices; ++i)
            if (ZelFormat(path, kPortKeyPathChars, TEXT("Service%d"), i)) RegDeleteKeyW(key, path);
        RegCloseKey(key);
    }
    key = nullptr;

    for (LONG i = 0; i < last; ++i) {
        const PortService& service = services[i];
        if (!ZelFormat(path, kPortKeyPathChars, TEXT("%s\\Service%d"), propertiesPath, i) ||
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, kServiceWriteAccess,
                            nullptr, &key, nullptr) != ERROR_SUCCESS) {
            // Skipped without changing the result: a caller that sees the store fail removes the whole
            // port again, which would lose far more than this one service.
            key = nullptr;
            continue;
        }
        // Address is stored as the whole field, whatever follows the text's terminator.
        BOOL written =
            RegSetValueExW(key, TEXT("Address"), 0, REG_SZ, reinterpret_cast<const BYTE*>(service.Address),
                           kAddressBytes) == ERROR_SUCCESS &&
            RegSetValueExW(key, TEXT("Type"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&service.Type),
                           sizeof service.Type) == ERROR_SUCCESS &&
            RegSetValueExW(key, TEXT("Port"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&service.Port),
                           sizeof service.Port) == ERROR_SUCCESS;
        RegCloseKey(key);
        key = nullptr;
        if (!written) {
            result = ZEL_REGISTRY_SAVE_ERROR;
            break;
        }
    }
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 1, result, "_SetClassPortServices--");
    return result;
}
