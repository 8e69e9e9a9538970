// Device installation on the simulated device manager: device information sets made empty, new elements
// that exist only in their set until the class installer registers them, device properties and keys,
// the class installer's registration, property change and removal, driver lists built from INF files,
// driver selection and installation, and the driver update of every device with a hardware ID.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <set>

#include "winsim/devices_internal.h"

namespace sim {
namespace detail {
namespace {

struct InstallLog {
    std::vector<DriverInstallation> installations;
    bool rebootAfterUpdate = false;
};

InstallLog& Log() {
    static InstallLog log;
    return log;
}

void ResetInstallLog() { Log() = InstallLog(); }
ResetHook installLogReset(ResetInstallLog);


std::vector<uint8_t> Bytes(const BYTE* data, DWORD size) {
    return data ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>();
}

// The strings of a REG_MULTI_SZ (or of a REG_SZ: one).
std::vector<std::u16string> Strings(const std::vector<uint8_t>& data) {
    std::vector<std::u16string> out;
    std::u16string current;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c) {
            current.push_back(c);
        } else {
            if (current.empty()) break;
            out.push_back(current);
            current.clear();
        }
    }
    if (!current.empty()) out.push_back(current);
    return out;
}

// The first string of property data, for the call log.
std::string FirstText(const BYTE* data, DWORD size) {
    std::vector<std::u16string> strings = Strings(Bytes(data, size));
    return strings.empty() ? std::string() : U8(strings[0]);
}

std::vector<std::u16string> HardwareIdsOf(const DeviceElement& element) {
    if (!element.registered) {
        for (const auto& [property, data] : element.pendingProperties)
            if (property == SPDRP_HARDWAREID) return Strings(data);
        return {};
    }
    auto value = RegGetValue(HKEY_LOCAL_MACHINE, DeviceKey(element.instanceId), "HardwareID");
    return value ? Strings(value->data) : std::vector<std::u16string>();
}

bool ExistsInSystem(const DeviceElement& element) { return element.registered && DeviceExists(element.instanceId); }

// The lowest four-digit instance of the class name not in the registry nor in the set.
std::string GeneratedInstanceId(const DeviceInfoSet& set, const std::string& className) {
    std::string parent = "ROOT\\" + UpperAscii(className);
    std::set<std::string> taken;
    for (const std::string& name : RegSubkeys(HKEY_LOCAL_MACHINE, DeviceKey(parent)))
        taken.insert(parent + "\\" + UpperAscii(name));
    for (const DeviceElement& element : set.elements) taken.insert(element.instanceId);
    for (unsigned n = 0;; ++n) {
        char id[16];
        std::snprintf(id, sizeof id, "%04u", n);
        if (!taken.count(parent + "\\" + id)) return parent + "\\" + id;
    }
}

// The device's software key below HKLM, made (with its Driver value) when it has none yet.
std::string DriverKeyOf(const std::string& instanceId, const GUID& classGuid) {
    std::string deviceKey = DeviceKey(instanceId);
    auto driver = RegGetValue(HKEY_LOCAL_MACHINE, deviceKey, "Driver");
    std::u16string name = driver ? driver->Text() : std::u16string();
    if (name.empty()) {
        std::string guid = U8(GuidText(classGuid));
        name = U16(guid + "\\" + FreeInstanceName(std::string(kClassPath) + "\\" + guid));
        RegSetString(HKEY_LOCAL_MACHINE, deviceKey, "Driver", name);
    }
    std::string key = std::string(kClassPath) + "\\" + U8(name);
    RegCreateKey(HKEY_LOCAL_MACHINE, key);
    return key;
}

bool Matches(const DriverNode& node, const std::vector<std::u16string>& ids) {
    for (const std::u16string& id : ids)
        for (const std::u16string& offered : node.ids)
            if (SameText(id, offered)) return true;
    return false;
}

std::u16string MatchingId(const DriverNode& node, const std::vector<std::u16string>& ids) {
    for (const std::u16string& offered : node.ids)
        for (const std::u16string& id : ids)
            if (SameText(id, offered)) return offered;
    return node.ids.empty() ? std::u16string() : node.ids[0];
}

void InstallDriver(const std::string& instanceId, const GUID& classGuid, const DriverNode& node, bool copyFiles,
                   bool byUpdate) {
    std::string deviceKey = DeviceKey(instanceId);
    auto hardwareIds = RegGetValue(HKEY_LOCAL_MACHINE, deviceKey, "HardwareID");
    std::string driverKey = DriverKeyOf(instanceId, classGuid);
    std::string section = ApplyInstallSection(node, driverKey);
    RegSetString(HKEY_LOCAL_MACHINE, driverKey, "DriverDesc", node.description);
    RegSetString(HKEY_LOCAL_MACHINE, driverKey, "ProviderName", node.provider);
    RegSetString(HKEY_LOCAL_MACHINE, driverKey, "MatchingDeviceId",
                 MatchingId(node, hardwareIds ? Strings(hardwareIds->data) : std::vector<std::u16string>()));
    RegSetString(HKEY_LOCAL_MACHINE, driverKey, "InfPath", node.infPath);
    RegSetString(HKEY_LOCAL_MACHINE, driverKey, "InfSection", U16(section));
    RegSetString(HKEY_LOCAL_MACHINE, deviceKey, "DeviceDesc", node.description);
    RegSetString(HKEY_LOCAL_MACHINE, deviceKey, "Mfg", node.manufacturer);
    DeviceState& state = DeviceStateOf(instanceId);
    state.status = state.status.value_or(0) | DN_DRIVER_LOADED | DN_STARTED |
                   (instanceId.rfind("ROOT\\", 0) == 0 ? DN_ROOT_ENUMERATED : 0);
    Log().installations.push_back(DriverInstallation{instanceId, U8(node.infPath), section, copyFiles, byUpdate});
}

const DriverNode* NodeOf(const DeviceElement& element, const SP_DRVINFO_DATA_W* driver) {
    if (!driver) return element.selectedDriver >= 0 ? &element.drivers[element.selectedDriver] : nullptr;
    if (driver->Reserved >= 1 && driver->Reserved <= element.drivers.size())
        return &element.drivers[driver->Reserved - 1];
    for (const DriverNode& node : element.drivers)
        if (node.type == driver->DriverType && SameText(node.description, driver->Description) &&
            SameText(node.manufacturer, driver->MfgName) && SameText(node.provider, driver->ProviderName))
            return &node;
    return nullptr;
}

bool DriverRecordSize(DWORD size) { return size == sizeof(SP_DRVINFO_DATA_V2_W) || size == sizeof(SP_DRVINFO_DATA_V1_W); }

void CopyText(WCHAR* dest, size_t capacity, std::u16string_view text) {
    size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(dest, text.data(), n * sizeof(WCHAR));
    dest[n] = 0;
}

}  // namespace
}  // namespace detail

using namespace detail;

const std::vector<DriverInstallation>& DriverInstallations() { return Log().installations; }

void SetRebootNeededAfterDriverUpdate(bool needed) { Log().rebootAfterUpdate = needed; }

void RemoveDevice(std::string_view instanceId) {
    Guard guard(Lock());
    std::string deviceKey = DeviceKey(instanceId);
    auto driver = RegGetValue(HKEY_LOCAL_MACHINE, deviceKey, "Driver");
    if (driver && !driver->Text().empty()) RegDeleteTree(HKEY_LOCAL_MACHINE, std::string(kClassPath) + "\\" + U8(driver->Text()));
    RegDeleteTree(HKEY_LOCAL_MACHINE, deviceKey);
    RemoveDeviceState(instanceId);
}

}  // namespace sim

using sim::detail::A;
using namespace sim;
using namespace sim::detail;

extern "C" {

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND parent) {
    SIM_ENTER(outcome, "SetupDiCreateDeviceInfoList",
              A("ClassGuid", classGuid ? U8(GuidText(*classGuid)).c_str() : nullptr), A("hwndParent", parent));
    if (outcome) {
        SetLastError(outcome.code);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_shared<DeviceInfoSet>();
    if (classGuid) set->classGuid = *classGuid;
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HDEVINFO>(AddHandle(HandleKind::DeviceInfoSet, set, "SetupDiCreateDeviceInfoList"));
}

BOOL WINAPI SetupDiCreateDeviceInfoW(HDEVINFO setHandle, PCWSTR deviceName, const GUID* classGuid, PCWSTR description,
                                     HWND parent, DWORD creationFlags, PSP_DEVINFO_DATA data) {
    SIM_ENTER(outcome, "SetupDiCreateDeviceInfoW", A("DeviceInfoSet", setHandle), A("DeviceName", deviceName),
              A("ClassGuid", classGuid ? U8(GuidText(*classGuid)).c_str() : nullptr), A("DeviceDescription", description),
              A("hwndParent", parent), A("CreationFlags", creationFlags));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    auto set = FindDeviceInfoSet(setHandle);
    if (!set) return Fail(ERROR_INVALID_HANDLE);
    if (!deviceName || !classGuid) return Fail(ERROR_INVALID_PARAMETER);
    if (data && data->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (set->classGuid && !SameGuid(*set->classGuid, *classGuid)) return Fail(ERROR_CLASS_MISMATCH);
    std::string name = U8(deviceName);
    std::string instanceId;
    if (creationFlags & DICD_GENERATE_ID) {
        // The name is a class name: the new instance is ROOT\<NAME>\<NNNN>.
        if (name.empty() || name.find('\\') != std::string::npos) return Fail(ERROR_INVALID_DEVINST_NAME);
        instanceId = GeneratedInstanceId(*set, name);
    } else {
        instanceId = UpperAscii(name);
        if (std::count(instanceId.begin(), instanceId.end(), '\\') != 2) return Fail(ERROR_INVALID_DEVINST_NAME);
        if (DeviceExists(instanceId)) return Fail(ERROR_DEVINST_ALREADY_EXISTS);
    }
    DeviceElement& element = set->Add(instanceId, *classGuid);
    element.registered = false;
    if (description) element.pendingProperties.emplace_back(SPDRP_DEVICEDESC, TextBytes(description));
    if (data) FillDeviceInfoData(element, data);
    return Succeed();
}

BOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO setHandle, PCWSTR instanceId, HWND parent, DWORD openFlags,
                                   PSP_DEVINFO_DATA data) {
    SIM_ENTER(outcome, "SetupDiOpenDeviceInfoW", A("DeviceInfoSet", setHandle), A("DeviceInstanceId", instanceId),
              A("hwndParent", parent), A("OpenFlags", openFlags));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    auto set = FindDeviceInfoSet(setHandle);
    if (!set) return Fail(ERROR_INVALID_HANDLE);
    if (!instanceId) return Fail(ERROR_INVALID_PARAMETER);
    if (data && data->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    std::string id = UpperAscii(U8(instanceId));
    if (id.empty() || !DeviceExists(id)) return Fail(ERROR_NO_SUCH_DEVINST);
    auto guidValue = RegGetValue(HKEY_LOCAL_MACHINE, DeviceKey(id), "ClassGUID");
    std::optional<GUID> guid = guidValue ? GuidOf(guidValue->Text()) : std::nullopt;
    if (set->classGuid && (!guid || !SameGuid(*guid, *set->classGuid))) return Fail(ERROR_CLASS_MISMATCH);
    DeviceElement* element = nullptr;
    for (DeviceElement& candidate : set->elements)
        if (candidate.instanceId == id) element = &candidate;
    if (!element) element = &set->Add(id, guid.value_or(GUID{}));
    if (data) FillDeviceInfoData(*element, data);
    return Succeed();
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO setHandle, PSP_DEVINFO_DATA data, DWORD property,
                                              const BYTE* buffer, DWORD bufferSize) {
    SIM_ENTER(outcome, "SetupDiSetDeviceRegistryPropertyW", A("DeviceInfoSet", setHandle), A("Property", property),
              A("PropertyBuffer", buffer), A("PropertyBufferSize", bufferSize),
              A("Text", FirstText(buffer, bufferSize).c_str()));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return FALSE;
    const char* valueName = PropertyValueName(property);
    if (!valueName || property == SPDRP_CLASS || property == SPDRP_CLASSGUID || property == SPDRP_DRIVER)
        return Fail(ERROR_INVALID_REG_PROPERTY);
    if (!buffer && bufferSize) return Fail(ERROR_INVALID_PARAMETER);
    DeviceElement& element = *target.element;
    std::vector<uint8_t> bytes = Bytes(buffer, bufferSize);
    if (!element.registered) {
        auto& pending = element.pendingProperties;
        pending.erase(std::remove_if(pending.begin(), pending.end(), [&](const auto& p) { return p.first == property; }),
                      pending.end());
        if (!bytes.empty()) pending.emplace_back(property, std::move(bytes));
        return Succeed();
    }
    if (!DeviceExists(element.instanceId)) return Fail(ERROR_NO_SUCH_DEVINST);
    DWORD type = property == SPDRP_HARDWAREID || property == SPDRP_COMPATIBLEIDS ? REG_MULTI_SZ : REG_SZ;
    RegSetRaw(HKEY_LOCAL_MACHINE, DeviceKey(element.instanceId), valueName, type, std::move(bytes));
    return Succeed();
}

BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO setHandle, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER params,
                                          DWORD paramsSize) {
    const SP_PROPCHANGE_PARAMS* change =
        params && paramsSize == sizeof(SP_PROPCHANGE_PARAMS) ? reinterpret_cast<SP_PROPCHANGE_PARAMS*>(params) : nullptr;
    SIM_ENTER(outcome, "SetupDiSetClassInstallParamsW", A("DeviceInfoSet", setHandle),
              A("InstallFunction", params ? params->InstallFunction : 0), A("ClassInstallParamsSize", paramsSize),
              A("StateChange", change ? change->StateChange : 0), A("Scope", change ? change->Scope : 0),
              A("HwProfile", change ? change->HwProfile : 0));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return FALSE;
    if (!params) {
        target.element->propertyChange.reset();
        return Succeed();
    }
    if (params->cbSize != sizeof(SP_CLASSINSTALL_HEADER)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (params->InstallFunction != DIF_PROPERTYCHANGE || !change) return Fail(ERROR_INVALID_PARAMETER);
    target.element->propertyChange = *change;
    return Succeed();
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION installFunction, HDEVINFO setHandle, PSP_DEVINFO_DATA data) {
    SIM_ENTER(outcome, "SetupDiCallClassInstaller", A("InstallFunction", installFunction),
              A("DeviceInfoSet", setHandle));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return FALSE;
    DeviceElement& element = *target.element;
    switch (installFunction) {
        case DIF_REGISTERDEVICE: {
            if (element.registered || DeviceExists(element.instanceId)) return Fail(ERROR_DEVINST_ALREADY_EXISTS);
            std::string key = DeviceKey(element.instanceId);
            RegCreateKey(HKEY_LOCAL_MACHINE, key);
            RegSetString(HKEY_LOCAL_MACHINE, key, "ClassGUID", GuidText(element.classGuid));
            RegSetString(HKEY_LOCAL_MACHINE, key, "Class", ClassNameOf(element.classGuid));
            for (auto& [property, bytes] : element.pendingProperties) {
                DWORD type = property == SPDRP_HARDWAREID || property == SPDRP_COMPATIBLEIDS ? REG_MULTI_SZ : REG_SZ;
                RegSetRaw(HKEY_LOCAL_MACHINE, key, PropertyValueName(property), type, bytes);
            }
            element.pendingProperties.clear();
            element.registered = true;
            DeviceStateOf(element.instanceId) = DeviceState();
            return Succeed();
        }
        case DIF_REMOVE:
            if (!ExistsInSystem(element)) return Fail(ERROR_NO_SUCH_DEVINST);
            RemoveDevice(element.instanceId);
            return Succeed();
        case DIF_PROPERTYCHANGE: {
            if (!ExistsInSystem(element)) return Fail(ERROR_NO_SUCH_DEVINST);
            if (!element.propertyChange) return Fail(ERROR_INVALID_PARAMETER);
            DeviceState& state = DeviceStateOf(element.instanceId);
            ULONG status = state.status.value_or(DN_DRIVER_LOADED | DN_STARTED | DN_ROOT_ENUMERATED);
            switch (element.propertyChange->StateChange) {
                case DICS_ENABLE:
                case DICS_START: status |= DN_STARTED; break;
                case DICS_DISABLE:
                case DICS_STOP: status &= ~DN_STARTED; break;
                case DICS_PROPCHANGE: ++state.restarts; break;
                default: return Fail(ERROR_INVALID_PARAMETER);
            }
            state.status = status;
            return Succeed();
        }
        default:
            // The other requests have nothing to do on this machine.
            return Succeed();
    }
}

BOOL WINAPI SetupDiSetDeviceInstallParamsW(HDEVINFO setHandle, PSP_DEVINFO_DATA data, PSP_DEVINSTALL_PARAMS_W params) {
    SIM_ENTER(outcome, "SetupDiSetDeviceInstallParamsW", A("DeviceInfoSet", setHandle),
              A("Flags", params ? params->Flags : 0), A("FlagsEx", params ? params->FlagsEx : 0),
              A("DriverPath", params ? static_cast<const WCHAR*>(params->DriverPath) : nullptr));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return FALSE;
    if (!params) return Fail(ERROR_INVALID_PARAMETER);
    if (params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) return Fail(ERROR_INVALID_USER_BUFFER);
    size_t length = 0;
    while (length < MAX_PATH && params->DriverPath[length]) ++length;
    if (length == MAX_PATH) return Fail(ERROR_INVALID_PARAMETER);
    target.element->installFlags = params->Flags;
    target.element->installFlagsEx = params->FlagsEx;
    target.element->driverPath.assign(params->DriverPath, length);
    return Succeed();
}

BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO setHandle, PSP_DEVINFO_DATA data, PSP_DEVINSTALL_PARAMS_W params) {
    SIM_ENTER(outcome, "SetupDiGetDeviceInstallParamsW", A("DeviceInfoSet", setHandle));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return FALSE;
    if (!params) return Fail(ERROR_INVALID_PARAMETER);
    if (params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) return Fail(ERROR_INVALID_USER_BUFFER);
    std::memset(reinterpret_cast<BYTE*>(params) + sizeof(DWORD), 0, sizeof *params - sizeof(DWORD));
    params->Flags = target.element->installFlags;
    params->FlagsEx = target.element->installFlagsEx;
    CopyText(params->DriverPath, MAX_PATH, target.element->driverPath);
    return Succeed();
}

BOOL WINAPI SetupDiBuildDriverInfoList(HDEVINFO setHandle, PSP_DEVINFO_DATA data, DWORD driverType) {
    SIM_ENTER(outcome, "SetupDiBuildDriverInfoList", A("DeviceInfoSet", setHandle), A("DriverType", driverType));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return FALSE;
    if (driverType != SPDIT_CLASSDRIVER && driverType != SPDIT_COMPATDRIVER) return Fail(ERROR_INVALID_PARAMETER);
    DeviceElement& element = *target.element;
    // One INF when the parameters name it, otherwise every INF of the system's INF folder.
    std::vector<std::u16string> infs;
    if (element.installFlags & DI_ENUMSINGLEINF) infs.push_back(element.driverPath);
    else infs = SystemInfFiles();
    std::vector<std::u16string> ids = HardwareIdsOf(element);
    element.drivers.clear();
    element.selectedDriver = -1;
    for (const std::u16string& inf : infs) {
        std::vector<DriverNode> offered;
        if (!LoadInfDrivers(inf, &offered)) continue;  // an unreadable INF offers nothing
        for (DriverNode& node : offered) {
            // A class driver list holds the class's drivers, a compatible one those that match the IDs.
            bool wanted = driverType == SPDIT_CLASSDRIVER ? SameGuid(node.classGuid, element.classGuid) : Matches(node, ids);
            if (!wanted) continue;
            node.type = driverType;
            element.drivers.push_back(std::move(node));
        }
    }
    return Succeed();
}

BOOL WINAPI SetupDiSetSelectedDriverW(HDEVINFO setHandle, PSP_DEVINFO_DATA data, PSP_DRVINFO_DATA_W driver) {
    SIM_ENTER(outcome, "SetupDiSetSelectedDriverW", A("DeviceInfoSet", setHandle),
              A("DriverType", driver ? driver->DriverType : 0),
              A("Description", driver ? static_cast<const WCHAR*>(driver->Description) : nullptr),
              A("MfgName", driver ? static_cast<const WCHAR*>(driver->MfgName) : nullptr),
              A("ProviderName", driver ? static_cast<const WCHAR*>(driver->ProviderName) : nullptr),
              A("Reserved", driver ? driver->Reserved : 0));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return FALSE;
    DeviceElement& element = *target.element;
    if (!driver) {
        element.selectedDriver = -1;
        return Succeed();
    }
    if (!DriverRecordSize(driver->cbSize)) return Fail(ERROR_INVALID_USER_BUFFER);
    const DriverNode* node = NodeOf(element, driver);
    if (!node) return Fail(ERROR_INVALID_PARAMETER);
    element.selectedDriver = static_cast<int>(node - element.drivers.data());
    driver->Reserved = static_cast<ULONG_PTR>(element.selectedDriver + 1);
    return Succeed();
}

BOOL WINAPI SetupDiGetSelectedDriverW(HDEVINFO setHandle, PSP_DEVINFO_DATA data, PSP_DRVINFO_DATA_W driver) {
    SIM_ENTER(outcome, "SetupDiGetSelectedDriverW", A("DeviceInfoSet", setHandle));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return FALSE;
    if (!driver) return Fail(ERROR_INVALID_PARAMETER);
    if (!DriverRecordSize(driver->cbSize)) return Fail(ERROR_INVALID_USER_BUFFER);
    const DriverNode* node = NodeOf(*target.element, nullptr);
    if (!node) return Fail(ERROR_NO_DRIVER_SELECTED);
    driver->DriverType = node->type;
    driver->Reserved = static_cast<ULONG_PTR>(target.element->selectedDriver + 1);
    CopyText(driver->Description, LINE_LEN, node->description);
    CopyText(driver->MfgName, LINE_LEN, node->manufacturer);
    CopyText(driver->ProviderName, LINE_LEN, node->provider);
    return Succeed();
}

BOOL WINAPI SetupDiGetDriverInfoDetailW(HDEVINFO setHandle, PSP_DEVINFO_DATA data, PSP_DRVINFO_DATA_W driver,
                                        PSP_DRVINFO_DETAIL_DATA_W detail, DWORD detailSize, PDWORD requiredSize) {
    SIM_ENTER(outcome, "SetupDiGetDriverInfoDetailW", A("DeviceInfoSet", setHandle), A("DriverInfoDetailDataSize", detailSize));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return FALSE;
    if (!driver || !DriverRecordSize(driver->cbSize)) return Fail(ERROR_INVALID_PARAMETER);
    const DriverNode* node = NodeOf(*target.element, driver);
    if (!node) return Fail(ERROR_INVALID_PARAMETER);
    // The IDs follow the fixed part as a multi-string: the hardware ID, then the compatible IDs.
    std::u16string ids;
    for (const std::u16string& id : node->ids) ids += id + u'\0';
    if (node->ids.size() < 2) ids += u'\0';
    ids += u'\0';
    DWORD fixed = offsetof(SP_DRVINFO_DETAIL_DATA_W, HardwareID);
    DWORD needed = fixed + static_cast<DWORD>(ids.size() * sizeof(WCHAR));
    if (requiredSize) *requiredSize = needed;
    if (!detail) return detailSize ? Fail(ERROR_INVALID_USER_BUFFER) : Fail(ERROR_INSUFFICIENT_BUFFER);
    if (detail->cbSize != sizeof(SP_DRVINFO_DETAIL_DATA_W) || detailSize < sizeof(SP_DRVINFO_DETAIL_DATA_W))
        return Fail(ERROR_INVALID_USER_BUFFER);
    detail->InfDate = FILETIME{0, 0};
    detail->Reserved = 0;
    CopyText(detail->SectionName, LINE_LEN, node->installSection);
    CopyText(detail->InfFileName, MAX_PATH, node->infPath);
    CopyText(detail->DrvDescription, LINE_LEN, node->description);
    size_t room = (detailSize - fixed) / sizeof(WCHAR);
    size_t copied = std::min(room, ids.size());
    std::memcpy(detail->HardwareID, ids.data(), copied * sizeof(WCHAR));
    size_t hardwareIdLength = node->ids.empty() ? 0 : node->ids[0].size();
    detail->CompatIDsOffset = node->ids.size() > 1 ? static_cast<DWORD>(hardwareIdLength + 1) : 0;
    detail->CompatIDsLength = node->ids.size() > 1 ? static_cast<DWORD>(ids.size() - hardwareIdLength - 1) : 0;
    if (detailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    return Succeed();
}

HKEY WINAPI SetupDiCreateDevRegKeyW(HDEVINFO setHandle, PSP_DEVINFO_DATA data, DWORD scope, DWORD hwProfile,
                                    DWORD keyType, PVOID infHandle, PCWSTR installSection) {
    SIM_ENTER(outcome, "SetupDiCreateDevRegKeyW", A("DeviceInfoSet", setHandle), A("Scope", scope),
              A("HwProfile", hwProfile), A("KeyType", keyType), A("InfHandle", infHandle),
              A("InfSectionName", installSection));
    HKEY failed = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    if (outcome) {
        SetLastError(outcome.code);
        return failed;
    }
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return failed;
    if ((scope != DICS_FLAG_GLOBAL && scope != DICS_FLAG_CONFIGSPECIFIC) ||
        (keyType != DIREG_DEV && keyType != DIREG_DRV)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return failed;
    }
    if (!ExistsInSystem(*target.element)) {
        SetLastError(target.element->registered ? ERROR_NO_SUCH_DEVINST : ERROR_DEVINFO_NOT_REGISTERED);
        return failed;
    }
    std::string path = keyType == DIREG_DEV ? DeviceKey(target.element->instanceId) + "\\Device Parameters"
                                            : DriverKeyOf(target.element->instanceId, target.element->classGuid);
    HKEY key = failed;
    OpenKeyHandle(HKEY_LOCAL_MACHINE, U16(path), KEY_ALL_ACCESS, true, "SetupDiCreateDevRegKeyW", &key);
    SetLastError(ERROR_SUCCESS);
    return key;
}

BOOL WINAPI SetupDiInstallDevice(HDEVINFO setHandle, PSP_DEVINFO_DATA data) {
    SIM_ENTER(outcome, "SetupDiInstallDevice", A("DeviceInfoSet", setHandle));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return FALSE;
    DeviceElement& element = *target.element;
    if (!ExistsInSystem(element)) return Fail(ERROR_NO_SUCH_DEVINST);
    const DriverNode* node = NodeOf(element, nullptr);
    if (!node) return Fail(ERROR_NO_DRIVER_SELECTED);
    InstallDriver(element.instanceId, element.classGuid, *node, !(element.installFlags & DI_NOFILECOPY), false);
    return Succeed();
}

BOOL WINAPI SetupDiRemoveDevice(HDEVINFO setHandle, PSP_DEVINFO_DATA data) {
    SIM_ENTER(outcome, "SetupDiRemoveDevice", A("DeviceInfoSet", setHandle));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return FALSE;
    if (!ExistsInSystem(*target.element)) return Fail(ERROR_NO_SUCH_DEVINST);
    RemoveDevice(target.element->instanceId);
    return Succeed();
}

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND parent, PCWSTR hardwareId, PCWSTR fullInfPath,
                                               DWORD installFlags, PBOOL rebootRequired) {
    SIM_ENTER(outcome, "UpdateDriverForPlugAndPlayDevicesW", A("hwndParent", parent), A("HardwareId", hardwareId),
              A("FullInfPath", fullInfPath), A("InstallFlags", installFlags));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    if (!hardwareId || !fullInfPath || !*hardwareId) return Fail(ERROR_INVALID_PARAMETER);
    std::vector<DriverNode> offered;
    if (!LoadInfDrivers(fullInfPath, &offered)) return Fail(InfFileExists(fullInfPath) ? ERROR_INVALID_DATA : ERROR_FILE_NOT_FOUND);
    const DriverNode* node = nullptr;
    for (const DriverNode& candidate : offered)
        if (!node && Matches(candidate, {hardwareId})) node = &candidate;
    if (!node) return Fail(ERROR_NO_SUCH_DEVINST);
    unsigned updated = 0;
    for (const std::string& instanceId : DeviceInstances()) {
        auto ids = RegGetValue(HKEY_LOCAL_MACHINE, DeviceKey(instanceId), "HardwareID");
        if (!ids || !DeviceStateOf(instanceId).present) continue;
        std::vector<std::u16string> list = Strings(ids->data);
        if (std::none_of(list.begin(), list.end(), [&](const std::u16string& id) { return SameText(id, hardwareId); }))
            continue;
        auto guidValue = RegGetValue(HKEY_LOCAL_MACHINE, DeviceKey(instanceId), "ClassGUID");
        GUID guid = guidValue ? GuidOf(guidValue->Text()).value_or(node->classGuid) : node->classGuid;
        InstallDriver(instanceId, guid, *node, true, true);
        ++updated;
    }
    if (!updated) return Fail(ERROR_NO_SUCH_DEVINST);
    if (rebootRequired) *rebootRequired = Log().rebootAfterUpdate ? TRUE : FALSE;
    return Succeed();
}

}  // extern "C"
