// The walk over the product's port devices that the load, the store and the port map share. Internal
// to portstore/.
#pragma once

#include "portstore/port_info.h"

// What the walk reports for one product device (first hardware ID "*zeldevice").
enum PortSearchEvent {
    PORT_SEARCH_NO_DEVICE_PARAMETERS,  // its Device Parameters key cannot be opened
    PORT_SEARCH_NO_PORT_NAME,          // its PortName cannot be read
    PORT_SEARCH_DEVICE,                // its PortName was read
};

struct PortSearchDevice {
    HKEY instanceKey;      // the device's enumeration key, open with KEY_READ during the visit
    const WCHAR* portName;  // terminated
    LONG comNumber;         // ParseComNumber(portName)
};

// The load and the store read PortName into 40 bytes: 19 characters and the terminator.
constexpr DWORD kSearchPortNameChars = 20;

// Called once per product device; device is null except for PORT_SEARCH_DEVICE. Returns FALSE to end
// the walk after this device.
typedef BOOL (*PortSearchVisitor)(void* context, PortSearchEvent event, const PortSearchDevice* device);

// Walks the subkeys of the Ports enumeration key in enumeration order, reading each product device's
// PortName into a buffer of portNameChars characters (terminator included); a longer name counts as
// unreadable. Devices that cannot be opened, or whose HardwareID cannot be read or does not match, are
// passed over silently. Returns ERROR_SUCCESS, or the error of opening the Ports enumeration key (no
// device visited). Every key it opens is closed before it returns.
LONG WalkPortDevices(DWORD portNameChars, PortSearchVisitor visitor, void* context);

// The device's Properties path ("%s\%s\Properties" with the class key and the last four characters of
// Driver) into path, kPortKeyPathChars characters. FALSE when Driver cannot be read or is shorter than
// four characters.
BOOL GetPropertiesPath(HKEY instanceKey, WCHAR* path);
