// Product port devices laid down in Wine's registry as a device installation leaves them, for the port
// configuration store to find (the same layout as the simulator's winsim/port_devices.h):
//
//   HKLM\System\CurrentControlSet\Enum\Root\Ports\<instance>        HardwareID, Driver
//   ...\Enum\Root\Ports\<instance>\Device Parameters                PortName
//   HKLM\System\CurrentControlSet\Control\Class\{Ports}\<NNNN>       the class instance key
//
// A fresh prefix has neither the Ports enumeration key nor any instance of the Ports class; what is laid
// down here is removed again by RemovePortDevices, which the fixture runs before and after every test.
#pragma once

#include <string>

#include "platform/platform.h"

namespace wintest {

inline constexpr WCHAR kPortsEnum[] = L"System\\CurrentControlSet\\Enum\\Root\\Ports";
inline constexpr WCHAR kPortsClass[] =
    L"System\\CurrentControlSet\\Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}";

struct PortDeviceLayout {
    std::wstring instance;       // enumeration instance name, "0000"
    std::wstring classInstance;  // class instance, "0003"; the device's Driver value ends with it
    std::wstring portName;       // PortName ("COM5"); empty: no Device Parameters key at all
    std::wstring hardwareId = L"*zeldevice";
};

// Lays down one device; returns the path of its Properties key (not created) below HKLM.
std::wstring AddPortDevice(const PortDeviceLayout& device);

void RemovePortDevices();

}  // namespace wintest
