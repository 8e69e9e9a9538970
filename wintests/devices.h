// Ports-class devices made through the system's own SetupAPI, as another vendor's installer would leave
// them: a registered root device (ROOT\PORTS\<generated>) with its hardware IDs, a friendly name and, if
// asked, a hardware key ("Device Parameters") with text values. Unlike wintests/port_devices.h, which
// writes the registry layout by hand, these are devices the system itself lists and opens.
//
// Under Wine such a device is listed with DIGCF_PRESENT although no driver is installed for it, it has no
// enumerator name property, and the configuration manager reports its devnode status as 0 (not
// DN_ROOT_ENUMERATED).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace wintest {

struct PortsDevice {
    std::vector<std::wstring> hardwareIds;  // empty: no hardware ID property
    std::optional<std::wstring> friendlyName;
    bool hardwareKey = false;
    std::vector<std::pair<std::wstring, std::wstring>> parameters;  // REG_SZ values of the hardware key
};

// The devices one test made; RemoveAll (also run on destruction) removes them from the system again.
class DeviceSet {
public:
    DeviceSet();
    ~DeviceSet();
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;

    // Creates and registers one device; a failing call fails the test.
    void Add(const PortsDevice& device);
    void RemoveAll();
    // The instance IDs of the devices made, in the order of Add.
    const std::vector<std::wstring>& Instances() const { return instances_; }
    // A device that the code under test removed itself: RemoveAll leaves it alone.
    void Forget(const std::wstring& instanceId);

private:
    HDEVINFO set_;
    std::vector<SP_DEVINFO_DATA> devices_;
    std::vector<std::wstring> instances_;
};

// The path below HKLM of a device's key in the enumeration tree.
std::wstring EnumKey(const std::wstring& instanceId);

// The instance IDs of every registered Ports-class device, present or not.
std::vector<std::wstring> PortsDeviceInstances();

}  // namespace wintest
