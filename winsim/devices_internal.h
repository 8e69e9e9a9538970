// Shared plumbing of the simulated device manager's modules: device information sets and their
// elements, devnode numbers, GUID text.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "winsim/devices.h"
#include "winsim/inf_internal.h"
#include "winsim/sim_internal.h"

namespace sim::detail {

// A driver an INF offers for a model line.
struct DriverNode {
    DWORD type = SPDIT_CLASSDRIVER;
    std::u16string infPath;          // as the list was built from it
    std::u16string description;      // the model line's key
    std::u16string manufacturer;     // the Manufacturer line's key
    std::u16string provider;         // the Version section's Provider
    std::u16string installSection;   // field 1 of the model line, undecorated
    std::vector<std::u16string> ids;  // hardware ID, then the compatible IDs
    GUID classGuid{};
};

struct DeviceElement {
    ULONG_PTR id = 0;          // SP_DEVINFO_DATA.Reserved of this element
    std::string instanceId;    // upper case
    GUID classGuid{};
    DEVINST devInst = 0;
    // A created element lives only in its set until the class installer registers it; its properties
    // wait here until then.
    bool registered = true;
    std::vector<std::pair<DWORD, std::vector<uint8_t>>> pendingProperties;
    DWORD installFlags = 0;
    DWORD installFlagsEx = 0;
    std::u16string driverPath;
    std::optional<SP_PROPCHANGE_PARAMS> propertyChange;
    std::vector<DriverNode> drivers;
    int selectedDriver = -1;
};

struct DeviceInfoSet : HandleObject {
    std::optional<GUID> classGuid;  // the set's class, when it has one
    std::vector<DeviceElement> elements;
    ULONG_PTR nextElementId = 1;
    DeviceElement& Add(std::string instanceId, const GUID& classGuid);
};

std::shared_ptr<DeviceInfoSet> FindDeviceInfoSet(HDEVINFO set);
// The element that data names in set: checks cbSize and the element's identity. On failure sets the last
// error (ERROR_INVALID_PARAMETER, ERROR_INVALID_USER_BUFFER) and returns null.
DeviceElement* FindElement(DeviceInfoSet& set, const SP_DEVINFO_DATA* data);
void FillDeviceInfoData(const DeviceElement& element, SP_DEVINFO_DATA* data);

// The set and element a call names, with the set's handle and the element's identity checked. False,
// with the last error set, when either is not there.
struct Target {
    std::shared_ptr<DeviceInfoSet> set;
    DeviceElement* element = nullptr;
};
bool Resolve(HDEVINFO setHandle, const SP_DEVINFO_DATA* data, Target* target);

// The devnode number of an instance, assigned on first use and stable until Reset.
DEVINST DevNodeOf(const std::string& instanceId);
// The instance behind a devnode number, or "" when none was assigned.
std::string InstanceOfDevNode(DEVINST devInst);
bool DeviceExists(const std::string& instanceId);  // its instance key is in the registry

// ---- Drivers from INF files ----
// The drivers the INF at path (a path of the simulated file system) offers, for a 32-bit platform.
// False when the file is missing or is not an INF.
bool LoadInfDrivers(std::u16string_view path, std::vector<DriverNode>* drivers);
bool InfFileExists(std::u16string_view path);
// The INF files of the system's INF folder, as full paths.
std::vector<std::u16string> SystemInfFiles();
// Applies the node's install section (decorated for the platform) to the device's software key below
// HKLM: its AddReg lines for HKR. Returns the section's name as installed.
std::string ApplyInstallSection(const DriverNode& node, const std::string& driverKey);

// A SetupAPI call's way out: FALSE with the error, or TRUE with NO_ERROR left behind, as SetupAPI does.
inline BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}
inline BOOL Succeed() {
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}


// The instance key value behind a device property, or null for a property not kept there.
const char* PropertyValueName(DWORD property);

// The GUID of a class GUID text, or nullopt.
std::optional<GUID> GuidOf(std::u16string_view text);
std::string UpperAscii(std::string text);

}  // namespace sim::detail
