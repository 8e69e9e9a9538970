// The simulated device manager: the devices of the machine, as SetupAPI, the configuration manager and
// the registry all see them.
//
// A device is its instance key in the registry, HKLM\System\CurrentControlSet\Enum\<instance ID>
// (such as ROOT\PORTS\0000 or ACPI\PNP0501\1), holding its properties (HardwareID, CompatibleIDs,
// ClassGUID, Class, Driver, DeviceDesc, FriendlyName, Mfg), its hardware key "Device Parameters" and,
// through Driver, its software key below Control\Class. Whatever lays such a key down (a helper here,
// SetupAPI, the library) makes a device that every part of the machine finds. What the registry does not
// hold lives beside it, by instance ID: whether the device is present (a device that is not is a phantom,
// listed only without DIGCF_PRESENT), its devnode status, its enumerator name and its boot configuration.
//
// The COM port database keeps its claims where Windows keeps them: a REG_BINARY bitmap, bit n - 1 for
// COMn (least significant bit first), in the value "ComDB" of the key
// HKLM\System\CurrentControlSet\Control\COM Name Arbiter. "Hardware\DeviceMap\SerialComm" is plain
// registry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "winsim/sim.h"

namespace sim {

extern const char kEnumPath[];         // "System\CurrentControlSet\Enum"
extern const char kClassPath[];        // "System\CurrentControlSet\Control\Class"
extern const char kModemClassGuid[];   // "{4D36E96D-E325-11CE-BFC1-08002BE10318}"
extern const char kComDbPath[];        // "System\CurrentControlSet\Control\COM Name Arbiter"
extern const char kSerialCommPath[];   // "Hardware\DeviceMap\SerialComm"

// What the registry does not hold about a device.
struct DeviceState {
    bool present = true;
    // nullopt: DN_DRIVER_LOADED | DN_STARTED, with DN_ROOT_ENUMERATED for a ROOT\ instance.
    std::optional<ULONG> status;
    ULONG problem = 0;
    // nullopt: the instance ID's first component; "" : the device has no enumerator name property.
    std::optional<std::u16string> enumeratorName;
    // The boot configuration's one I/O resource descriptor, as CM_Get_Res_Des_Data hands it out (normally
    // an IO_RESOURCE of 68 bytes); nullopt: no boot configuration.
    std::optional<std::vector<uint8_t>> bootIoResource;
    // Property-change requests (DICS_PROPCHANGE) the class installer ran on the device: restarts.
    unsigned restarts = 0;
};

struct DeviceOptions {
    std::string instanceId;  // "ACPI\PNP0501\1"
    std::string classGuid;   // "": the Ports class
    std::string className;   // "": "Ports"
    std::optional<std::vector<std::u16string>> hardwareIds;
    std::optional<std::u16string> friendlyName;
    std::optional<std::u16string> deviceDesc;
    bool hardwareKey = true;  // false: no Device Parameters key
    std::vector<std::pair<std::string, std::u16string>> parameters;  // REG_SZ values of Device Parameters
    DeviceState state;
};

// The registry path of a device's instance key, below HKLM.
std::string DeviceKey(std::string_view instanceId);
// Lays a device down; returns its instance key path.
std::string AddDevice(const DeviceOptions& options);
// The side state of a device, made with its defaults on first use (also for a device laid down by
// another component). Holds until Reset or RemoveDeviceState.
DeviceState& DeviceStateOf(std::string_view instanceId);
void RemoveDeviceState(std::string_view instanceId);
// The devnode number the configuration manager knows the device by.
DEVINST DeviceNode(std::string_view instanceId);
// Every device instance in the registry, in enumeration order, as upper-case instance IDs.
std::vector<std::string> DeviceInstances();
// The lowest four-digit name ("0000", "0001", ...) that is not yet a subkey of path, as Windows numbers
// new device and class instances.
std::string FreeInstanceName(const std::string& path);
// An IO_RESOURCE with one range of `ports` ports at base, as the firmware assigns a motherboard port.
std::vector<uint8_t> IoResource(uint64_t base, uint32_t ports = 8);

// ---- A realistic machine in a few lines ----
// A motherboard serial port: ACPI\PNP0501\<n>, PortName "COM<com>", friendly name
// "Communications Port (COM<com>)", boot configuration at ioBase.
std::string AddMotherboardPort(int com, uint16_t ioBase, int instance = 0);
// A USB serial adapter known only by its friendly name "USB Serial Port (COM<com>)": no hardware key.
std::string AddUsbSerialAdapter(int com);
// A modem of the Modem class attached to COM<com>: not a Ports device, so no scan looks at it.
std::string AddModem(int com);
// The parallel port LPT1: a Ports device at I/O base 0x378 with PortName "LPT1".
std::string AddPrinterPort();
// A value of Hardware\DeviceMap\SerialComm: name -> port name text.
void AddSerialCommEntry(std::string_view name, std::u16string_view portName);

// ---- Driver installation ----
// Every installation of a driver on a device, by SetupDiInstallDevice or a driver update.
struct DriverInstallation {
    std::string instanceId;
    std::string infPath;         // the INF the driver came from, as given
    std::string installSection;  // the section installed, with its platform decoration
    bool filesCopied = false;    // false under DI_NOFILECOPY
    bool byUpdate = false;       // by UpdateDriverForPlugAndPlayDevicesW
};
const std::vector<DriverInstallation>& DriverInstallations();
// What UpdateDriverForPlugAndPlayDevicesW says of a reboot after it updated devices.
void SetRebootNeededAfterDriverUpdate(bool needed);
// Removes a device as SetupDiRemoveDevice does: its instance key, its driver key with the port
// configuration below it, its side state.
void RemoveDevice(std::string_view instanceId);

// ---- COM port database ----
void ClaimComNumber(DWORD comNumber);
void ReleaseComNumber(DWORD comNumber);
bool IsComNumberClaimed(DWORD comNumber);
std::vector<DWORD> ClaimedComNumbers();
// Resizes the database bitmap to ports / 8 bytes (the claims below it kept).
void SetComDbSize(DWORD ports);

}  // namespace sim
