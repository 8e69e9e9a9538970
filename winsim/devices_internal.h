// Shared plumbing of the simulated device manager's modules: device information sets and their
// elements, devnode numbers, GUID text.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "winsim/devices.h"
#include "winsim/sim_internal.h"

namespace sim::detail {

struct DeviceElement {
    ULONG_PTR id = 0;          // SP_DEVINFO_DATA.Reserved of this element
    std::string instanceId;    // upper case
    GUID classGuid{};
    DEVINST devInst = 0;
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

// The devnode number of an instance, assigned on first use and stable until Reset.
DEVINST DevNodeOf(const std::string& instanceId);
// The instance behind a devnode number, or "" when none was assigned.
std::string InstanceOfDevNode(DEVINST devInst);
bool DeviceExists(const std::string& instanceId);  // its instance key is in the registry

std::optional<GUID> ParseGuid(std::u16string_view text);
std::string GuidText(const GUID& guid);
bool SameGuid(const GUID& a, const GUID& b);
std::string UpperAscii(std::string text);

}  // namespace sim::detail
