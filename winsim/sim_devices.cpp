// The simulated device manager: devices in the registry's Enum tree with their side state, device
// information sets built from them, device properties and keys, and the configuration manager's
// devnode status and boot configurations.
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "winsim/devices_internal.h"

namespace sim {

const char kEnumPath[] = "System\\CurrentControlSet\\Enum";
const char kClassPath[] = "System\\CurrentControlSet\\Control\\Class";
const char kModemClassGuid[] = "{4D36E96D-E325-11CE-BFC1-08002BE10318}";
const char kComDbPath[] = "System\\CurrentControlSet\\Control\\COM Name Arbiter";
const char kSerialCommPath[] = "Hardware\\DeviceMap\\SerialComm";

namespace detail {
namespace {

constexpr char kPortsGuidText[] = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
constexpr DEVINST kFirstDevNode = 0x100;

struct DeviceManager {
    std::map<std::string, DeviceState> states;  // by upper-case instance ID
    std::map<std::string, DEVINST> devNodes;
    std::map<DEVINST, std::string> instances;
};

DeviceManager& Manager() {
    static DeviceManager manager;
    return manager;
}

void ResetDevices() { Manager() = DeviceManager(); }
ResetHook devicesReset(ResetDevices);

struct LogConfHandle : HandleObject {
    std::string instanceId;
};
struct ResDesHandle : HandleObject {
    std::vector<uint8_t> data;
};

std::string FirstComponent(const std::string& instanceId) { return instanceId.substr(0, instanceId.find('\\')); }

ULONG DefaultStatus(const std::string& instanceId) {
    ULONG status = DN_DRIVER_LOADED | DN_STARTED;
    if (FirstComponent(instanceId) == "ROOT") status |= DN_ROOT_ENUMERATED;
    return status;
}

}  // namespace

const char* PropertyValueName(DWORD property) {
    switch (property) {
        case SPDRP_DEVICEDESC: return "DeviceDesc";
        case SPDRP_HARDWAREID: return "HardwareID";
        case SPDRP_COMPATIBLEIDS: return "CompatibleIDs";
        case SPDRP_SERVICE: return "Service";
        case SPDRP_CLASS: return "Class";
        case SPDRP_CLASSGUID: return "ClassGUID";
        case SPDRP_DRIVER: return "Driver";
        case SPDRP_MFG: return "Mfg";
        case SPDRP_FRIENDLYNAME: return "FriendlyName";
        default: return nullptr;
    }
}


DeviceElement& DeviceInfoSet::Add(std::string instanceId, const GUID& guid) {
    DeviceElement element;
    element.id = nextElementId++;
    element.instanceId = UpperAscii(std::move(instanceId));
    element.classGuid = guid;
    element.devInst = DevNodeOf(element.instanceId);
    elements.push_back(std::move(element));
    return elements.back();
}

std::shared_ptr<DeviceInfoSet> FindDeviceInfoSet(HDEVINFO set) {
    return Find<DeviceInfoSet>(reinterpret_cast<uintptr_t>(set), HandleKind::DeviceInfoSet);
}

DeviceElement* FindElement(DeviceInfoSet& set, const SP_DEVINFO_DATA* data) {
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(data ? ERROR_INVALID_USER_BUFFER : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    for (DeviceElement& element : set.elements)
        if (element.id == data->Reserved && element.devInst == data->DevInst) return &element;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

bool Resolve(HDEVINFO setHandle, const SP_DEVINFO_DATA* data, Target* target) {
    target->set = FindDeviceInfoSet(setHandle);
    if (!target->set) return Fail(ERROR_INVALID_HANDLE);
    target->element = FindElement(*target->set, data);
    return target->element != nullptr;
}

void FillDeviceInfoData(const DeviceElement& element, SP_DEVINFO_DATA* data) {
    data->ClassGuid = element.classGuid;
    data->DevInst = element.devInst;
    data->Reserved = element.id;
}

DEVINST DevNodeOf(const std::string& instanceId) {
    Guard guard(Lock());
    DeviceManager& manager = Manager();
    std::string id = UpperAscii(instanceId);
    auto it = manager.devNodes.find(id);
    if (it != manager.devNodes.end()) return it->second;
    DEVINST devInst = kFirstDevNode + static_cast<DEVINST>(manager.devNodes.size());
    manager.devNodes[id] = devInst;
    manager.instances[devInst] = id;
    return devInst;
}

std::string InstanceOfDevNode(DEVINST devInst) {
    Guard guard(Lock());
    auto it = Manager().instances.find(devInst);
    return it == Manager().instances.end() ? std::string() : it->second;
}

bool DeviceExists(const std::string& instanceId) { return RegKeyExists(HKEY_LOCAL_MACHINE, DeviceKey(instanceId)); }

std::optional<GUID> GuidOf(std::u16string_view text) {
    GUID guid{};
    if (!ParseGuid(text, &guid)) return std::nullopt;
    return guid;
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

}  // namespace detail

using namespace detail;

std::string DeviceKey(std::string_view instanceId) { return std::string(kEnumPath) + "\\" + std::string(instanceId); }

std::string AddDevice(const DeviceOptions& options) {
    std::string key = DeviceKey(options.instanceId);
    std::string classGuid = options.classGuid.empty() ? kPortsGuidText : options.classGuid;
    RegCreateKey(HKEY_LOCAL_MACHINE, key);
    if (options.hardwareIds) RegSetMultiString(HKEY_LOCAL_MACHINE, key, "HardwareID", *options.hardwareIds);
    RegSetString(HKEY_LOCAL_MACHINE, key, "ClassGUID", U16(classGuid));
    RegSetString(HKEY_LOCAL_MACHINE, key, "Class", U16(options.className.empty() ? "Ports" : options.className));
    if (options.deviceDesc) RegSetString(HKEY_LOCAL_MACHINE, key, "DeviceDesc", *options.deviceDesc);
    if (options.friendlyName) RegSetString(HKEY_LOCAL_MACHINE, key, "FriendlyName", *options.friendlyName);
    if (options.hardwareKey) {
        RegCreateKey(HKEY_LOCAL_MACHINE, key + "\\Device Parameters");
        for (const auto& [name, text] : options.parameters)
            RegSetString(HKEY_LOCAL_MACHINE, key + "\\Device Parameters", name, text);
    }
    DeviceStateOf(options.instanceId) = options.state;
    return key;
}

DeviceState& DeviceStateOf(std::string_view instanceId) {
    Guard guard(Lock());
    return Manager().states[UpperAscii(std::string(instanceId))];
}

void RemoveDeviceState(std::string_view instanceId) {
    Guard guard(Lock());
    Manager().states.erase(UpperAscii(std::string(instanceId)));
}

DEVINST DeviceNode(std::string_view instanceId) { return DevNodeOf(std::string(instanceId)); }

std::vector<std::string> DeviceInstances() {
    std::vector<std::string> out;
    for (const std::string& enumerator : RegSubkeys(HKEY_LOCAL_MACHINE, kEnumPath))
        for (const std::string& device : RegSubkeys(HKEY_LOCAL_MACHINE, DeviceKey(enumerator)))
            for (const std::string& instance : RegSubkeys(HKEY_LOCAL_MACHINE, DeviceKey(enumerator + "\\" + device)))
                out.push_back(UpperAscii(enumerator + "\\" + device + "\\" + instance));
    return out;
}

std::string FreeInstanceName(const std::string& path) {
    std::set<std::string> taken;
    for (const std::string& name : RegSubkeys(HKEY_LOCAL_MACHINE, path)) taken.insert(UpperAscii(name));
    for (unsigned n = 0;; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "%04u", n);
        if (!taken.count(name)) return name;
    }
}

std::vector<uint8_t> IoResource(uint64_t base, uint32_t ports) {
    IO_RESOURCE resource{};
    resource.IO_Header.IOD_Count = 1;
    resource.IO_Header.IOD_Type = sizeof(IO_RANGE);
    resource.IO_Header.IOD_Alloc_Base = base;
    resource.IO_Header.IOD_Alloc_End = base + ports - 1;
    resource.IO_Header.IOD_DesFlags = fIOD_IO | fIOD_10_BIT_DECODE;
    resource.IO_Data[0].IOR_Align = ~static_cast<DWORDLONG>(ports - 1);
    resource.IO_Data[0].IOR_nPorts = ports;
    resource.IO_Data[0].IOR_Min = base;
    resource.IO_Data[0].IOR_Max = base + ports - 1;
    resource.IO_Data[0].IOR_RangeFlags = fIOD_IO;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&resource);
    return std::vector<uint8_t>(bytes, bytes + sizeof resource);
}

std::string AddMotherboardPort(int com, uint16_t ioBase, int instance) {
    DeviceOptions options;
    std::string name = "COM" + std::to_string(com);
    options.instanceId = "ACPI\\PNP0501\\" + std::to_string(instance ? instance : com);
    options.hardwareIds = std::vector<std::u16string>{u"ACPI\\PNP0501", u"*PNP0501"};
    options.deviceDesc = u"Communications Port";
    options.friendlyName = U16("Communications Port (" + name + ")");
    options.parameters = {{"PortName", U16(name)}};
    options.state.bootIoResource = IoResource(ioBase);
    AddDevice(options);
    return options.instanceId;
}

std::string AddUsbSerialAdapter(int com) {
    DeviceOptions options;
    options.instanceId = "USB\\VID_1A86&PID_7523\\5&2B3C4D5E&0&" + std::to_string(com);
    options.hardwareIds = std::vector<std::u16string>{u"USB\\VID_1A86&PID_7523&REV_0264", u"USB\\VID_1A86&PID_7523"};
    options.deviceDesc = u"USB Serial Port";
    options.friendlyName = U16("USB Serial Port (COM" + std::to_string(com) + ")");
    options.hardwareKey = false;
    AddDevice(options);
    return options.instanceId;
}

std::string AddModem(int com) {
    DeviceOptions options;
    options.instanceId = "ROOT\\MDMGEN\\" + std::to_string(com);
    options.classGuid = kModemClassGuid;
    options.className = "Modem";
    options.hardwareIds = std::vector<std::u16string>{u"MDMGEN"};
    options.friendlyName = u"Standard Modem";
    options.parameters = {{"AttachedTo", U16("COM" + std::to_string(com))}};
    AddDevice(options);
    return options.instanceId;
}

std::string AddPrinterPort() {
    DeviceOptions options;
    options.instanceId = "ACPI\\PNP0400\\1";
    options.hardwareIds = std::vector<std::u16string>{u"ACPI\\PNP0400", u"*PNP0400"};
    options.deviceDesc = u"Printer Port";
    options.friendlyName = u"Printer Port (LPT1)";
    options.parameters = {{"PortName", u"LPT1"}};
    options.state.bootIoResource = IoResource(0x378);
    AddDevice(options);
    return options.instanceId;
}

void AddSerialCommEntry(std::string_view name, std::u16string_view portName) {
    RegSetString(HKEY_LOCAL_MACHINE, kSerialCommPath, name, portName);
}

}  // namespace sim

using sim::detail::A;
using namespace sim;
using namespace sim::detail;

namespace {

// The state of a device that SetupAPI or the configuration manager reports on.
DeviceState StateOf(const std::string& instanceId) {
    Guard guard(Lock());
    return DeviceStateOf(instanceId);
}


}  // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags) {
    SIM_ENTER(outcome, "SetupDiGetClassDevsW", A("ClassGuid", classGuid ? U8(GuidText(*classGuid)).c_str() : nullptr),
              A("Enumerator", enumerator), A("hwndParent", parent), A("Flags", flags));
    if (outcome) {
        SetLastError(outcome.code);
        return INVALID_HANDLE_VALUE;
    }
    bool allClasses = flags & DIGCF_ALLCLASSES;
    if ((!classGuid && !allClasses) || (flags & DIGCF_DEVICEINTERFACE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    Guard guard(Lock());
    auto set = std::make_shared<DeviceInfoSet>();
    if (!allClasses) set->classGuid = *classGuid;
    std::string wanted = enumerator ? UpperAscii(U8(enumerator)) : std::string();
    for (const std::string& instanceId : DeviceInstances()) {
        if (!wanted.empty() && instanceId.compare(0, wanted.size() + 1, wanted + "\\") != 0) continue;
        auto guidValue = RegGetValue(HKEY_LOCAL_MACHINE, DeviceKey(instanceId), "ClassGUID");
        std::optional<GUID> guid = guidValue ? GuidOf(guidValue->Text()) : std::nullopt;
        if (!guid || (!allClasses && !SameGuid(*guid, *classGuid))) continue;
        if ((flags & DIGCF_PRESENT) && !StateOf(instanceId).present) continue;
        set->Add(instanceId, *guid);
    }
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HDEVINFO>(AddHandle(HandleKind::DeviceInfoSet, set, "SetupDiGetClassDevsW"));
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO setHandle, DWORD memberIndex, PSP_DEVINFO_DATA data) {
    SIM_ENTER(outcome, "SetupDiEnumDeviceInfo", A("DeviceInfoSet", setHandle), A("MemberIndex", memberIndex),
              A("cbSize", data ? data->cbSize : 0));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    auto set = FindDeviceInfoSet(setHandle);
    if (!set) return Fail(ERROR_INVALID_HANDLE);
    if (!data) return Fail(ERROR_INVALID_PARAMETER);
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (memberIndex >= set->elements.size()) return Fail(ERROR_NO_MORE_ITEMS);
    FillDeviceInfoData(set->elements[memberIndex], data);
    return Succeed();
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO setHandle, PSP_DEVINFO_DATA data, DWORD property,
                                              PDWORD type, PBYTE buffer, DWORD bufferSize, PDWORD requiredSize) {
    SIM_ENTER(outcome, "SetupDiGetDeviceRegistryPropertyW", A("DeviceInfoSet", setHandle), A("Property", property),
              A("PropertyBuffer", buffer), A("PropertyBufferSize", bufferSize));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return FALSE;
    DeviceElement* element = target.element;
    if (!buffer && bufferSize) return Fail(ERROR_INVALID_PARAMETER);
    if (!DeviceExists(element->instanceId)) return Fail(ERROR_NO_SUCH_DEVINST);

    DWORD valueType = REG_SZ;
    std::vector<uint8_t> bytes;
    if (property == SPDRP_ENUMERATOR_NAME) {
        std::optional<std::u16string> name = StateOf(element->instanceId).enumeratorName;
        std::u16string text = name ? *name : U16(element->instanceId.substr(0, element->instanceId.find('\\')));
        if (text.empty()) return Fail(ERROR_INVALID_DATA);
        bytes = TextBytes(text);
    } else {
        const char* valueName = PropertyValueName(property);
        if (!valueName) return Fail(ERROR_INVALID_REG_PROPERTY);
        auto value = RegGetValue(HKEY_LOCAL_MACHINE, DeviceKey(element->instanceId), valueName);
        if (!value) return Fail(ERROR_INVALID_DATA);
        valueType = value->type;
        bytes = value->data;
    }
    // The data is handed out as stored: a text without its terminator stays without one.
    if (type) *type = valueType;
    if (requiredSize) *requiredSize = static_cast<DWORD>(bytes.size());
    if (bufferSize < bytes.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
    return Succeed();
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO setHandle, PSP_DEVINFO_DATA data, DWORD scope, DWORD hwProfile,
                                 DWORD keyType, REGSAM access) {
    SIM_ENTER(outcome, "SetupDiOpenDevRegKey", A("DeviceInfoSet", setHandle), A("Scope", scope),
              A("HwProfile", hwProfile), A("KeyType", keyType), A("samDesired", access));
    HKEY failed = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    if (outcome) {
        SetLastError(outcome.code);
        return failed;
    }
    Guard guard(Lock());
    auto set = FindDeviceInfoSet(setHandle);
    if (!set) {
        SetLastError(ERROR_INVALID_HANDLE);
        return failed;
    }
    DeviceElement* element = FindElement(*set, data);
    if (!element) return failed;
    if ((scope != DICS_FLAG_GLOBAL && scope != DICS_FLAG_CONFIGSPECIFIC) ||
        (keyType != DIREG_DEV && keyType != DIREG_DRV)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return failed;
    }
    if (!element->registered || !DeviceExists(element->instanceId)) {
        SetLastError(element->registered ? ERROR_NO_SUCH_DEVINST : ERROR_DEVINFO_NOT_REGISTERED);
        return failed;
    }
    std::string path;
    if (keyType == DIREG_DEV) {
        path = DeviceKey(element->instanceId) + "\\Device Parameters";
    } else {
        auto driver = RegGetValue(HKEY_LOCAL_MACHINE, DeviceKey(element->instanceId), "Driver");
        if (driver) path = std::string(kClassPath) + "\\" + U8(driver->Text());
    }
    HKEY key = failed;
    if (path.empty() || OpenKeyHandle(HKEY_LOCAL_MACHINE, U16(path), access, false, "SetupDiOpenDevRegKey", &key) !=
                            ERROR_SUCCESS) {
        SetLastError(ERROR_KEY_DOES_NOT_EXIST);
        return failed;
    }
    SetLastError(ERROR_SUCCESS);
    return key;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO setHandle, PSP_DEVINFO_DATA data, PWSTR id, DWORD idSize,
                                        PDWORD requiredSize) {
    SIM_ENTER(outcome, "SetupDiGetDeviceInstanceIdW", A("DeviceInfoSet", setHandle), A("DeviceInstanceId", id),
              A("DeviceInstanceIdSize", idSize));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    Target target;
    if (!Resolve(setHandle, data, &target)) return FALSE;
    DeviceElement* element = target.element;
    if (!id && idSize) return Fail(ERROR_INVALID_USER_BUFFER);
    std::u16string text = U16(element->instanceId);
    DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (requiredSize) *requiredSize = needed;
    if (idSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(id, text.c_str(), needed * sizeof(WCHAR));
    return Succeed();
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO setHandle) {
    SIM_ENTER_RELEASE(outcome, "SetupDiDestroyDeviceInfoList", A("DeviceInfoSet", setHandle));
    if (outcome) return Fail(outcome.code);
    if (!RemoveHandle(reinterpret_cast<uintptr_t>(setHandle), HandleKind::DeviceInfoSet,
                      "SetupDiDestroyDeviceInfoList"))
        return Fail(ERROR_INVALID_HANDLE);
    return Succeed();
}

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG status, PULONG problem, DEVINST devInst, ULONG flags) {
    SIM_ENTER(outcome, "CM_Get_DevNode_Status", A("dnDevInst", devInst), A("ulFlags", flags));
    if (outcome) return outcome.code;
    if (!status || !problem) return CR_INVALID_POINTER;
    if (flags) return CR_INVALID_FLAG;
    std::string instanceId = InstanceOfDevNode(devInst);
    if (instanceId.empty()) return CR_INVALID_DEVNODE;
    DeviceState state = StateOf(instanceId);
    if (!DeviceExists(instanceId) || !state.present) return CR_NO_SUCH_DEVNODE;
    *status = state.status.value_or(DefaultStatus(instanceId));
    *problem = state.problem;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_First_Log_Conf(PLOG_CONF logConf, DEVINST devInst, ULONG flags) {
    SIM_ENTER(outcome, "CM_Get_First_Log_Conf", A("dnDevInst", devInst), A("ulFlags", flags));
    if (outcome) return outcome.code;
    if (flags > BOOT_LOG_CONF) return CR_INVALID_FLAG;
    std::string instanceId = InstanceOfDevNode(devInst);
    if (instanceId.empty()) return CR_INVALID_DEVNODE;
    DeviceState state = StateOf(instanceId);
    if (!DeviceExists(instanceId)) return CR_NO_SUCH_DEVNODE;
    // The simulated firmware assigns only boot configurations.
    if (flags != BOOT_LOG_CONF || !state.bootIoResource) return CR_NO_MORE_LOG_CONF;
    if (!logConf) return CR_SUCCESS;  // asks only whether there is one
    auto handle = std::make_shared<LogConfHandle>();
    handle->instanceId = instanceId;
    *logConf = AddHandle(HandleKind::LogConf, handle, "CM_Get_First_Log_Conf");
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Next_Res_Des(PRES_DES resDes, RES_DES current, RESOURCEID forResource,
                                     PRESOURCEID resourceId, ULONG flags) {
    SIM_ENTER(outcome, "CM_Get_Next_Res_Des", A("rdResDes", current), A("ForResource", forResource),
              A("pResourceID", resourceId), A("ulFlags", flags));
    if (outcome) return outcome.code;
    if (!resDes) return CR_INVALID_POINTER;
    if (flags) return CR_INVALID_FLAG;
    // From a configuration: its first descriptor of the type; from a descriptor: the next one. Every
    // boot configuration here holds a single I/O descriptor.
    if (Find<ResDesHandle>(current, HandleKind::ResDes)) return CR_NO_MORE_RES_DES;
    auto logConf = Find<LogConfHandle>(current, HandleKind::LogConf);
    if (!logConf) return CR_INVALID_LOG_CONF;
    if (forResource != ResType_IO && forResource != ResType_All) return CR_NO_MORE_RES_DES;
    std::optional<std::vector<uint8_t>> data = StateOf(logConf->instanceId).bootIoResource;
    if (!data) return CR_NO_MORE_RES_DES;
    auto handle = std::make_shared<ResDesHandle>();
    handle->data = *data;
    *resDes = AddHandle(HandleKind::ResDes, handle, "CM_Get_Next_Res_Des");
    if (resourceId) *resourceId = ResType_IO;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Res_Des_Data(RES_DES resDes, PVOID buffer, ULONG bufferLength, ULONG flags) {
    SIM_ENTER(outcome, "CM_Get_Res_Des_Data", A("rdResDes", resDes), A("Buffer", buffer),
              A("BufferLen", bufferLength), A("ulFlags", flags));
    if (outcome) return outcome.code;
    if (!buffer) return CR_INVALID_POINTER;
    if (flags) return CR_INVALID_FLAG;
    auto handle = Find<ResDesHandle>(resDes, HandleKind::ResDes);
    if (!handle) return CR_INVALID_RES_DES;
    if (bufferLength < handle->data.size()) return CR_BUFFER_SMALL;
    // A descriptor shorter than the buffer fills only its own bytes; the rest stays as it was.
    if (!handle->data.empty()) std::memcpy(buffer, handle->data.data(), handle->data.size());
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Free_Res_Des_Handle(RES_DES resDes) {
    SIM_ENTER_RELEASE(outcome, "CM_Free_Res_Des_Handle", A("rdResDes", resDes));
    if (outcome) return outcome.code;
    return RemoveHandle(resDes, HandleKind::ResDes, "CM_Free_Res_Des_Handle") ? CR_SUCCESS : CR_INVALID_RES_DES;
}

CONFIGRET WINAPI CM_Free_Log_Conf_Handle(LOG_CONF logConf) {
    SIM_ENTER_RELEASE(outcome, "CM_Free_Log_Conf_Handle", A("lcLogConf", logConf));
    if (outcome) return outcome.code;
    return RemoveHandle(logConf, HandleKind::LogConf, "CM_Free_Log_Conf_Handle") ? CR_SUCCESS : CR_INVALID_LOG_CONF;
}

}  // extern "C"
