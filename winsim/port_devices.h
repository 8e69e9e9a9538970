// Product port devices on the simulated machine, laid out in the registry as a real installation of a
// root-enumerated Ports-class device leaves them:
//
//   HKLM\System\CurrentControlSet\Enum\Root\Ports\<instance>
//       HardwareID (REG_MULTI_SZ), Driver ("{4D36E978-E325-11CE-BFC1-08002BE10318}\<NNNN>"),
//       ClassGUID, Class, FriendlyName ("<description> (COM5)")
//   ...\Enum\Root\Ports\<instance>\Device Parameters
//       PortName ("COM5"), PollingPeriod
//   HKLM\System\CurrentControlSet\Control\Class\{4D36E978-E325-11CE-BFC1-08002BE10318}\<NNNN>
//       DriverDesc, MatchingDeviceId
//   ...\<NNNN>\Properties                the port's configuration record (the product's driver's)
//   ...\<NNNN>\Properties\Service<i>     its services
//
// This is the simulator's one statement of that layout, on top of the device manager's (devices.h): a
// port device laid down here is a device that SetupAPI lists, ROOT\PORTS\<instance>.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "winsim/devices.h"
#include "winsim/sim.h"

namespace sim {

extern const char kPortsEnumPath[];   // "System\CurrentControlSet\Enum\Root\Ports"
extern const char kPortsClassGuid[];  // "{4D36E978-E325-11CE-BFC1-08002BE10318}"
extern const char kPortsClassPath[];  // "System\CurrentControlSet\Control\Class\{4D36E978-...}"
extern const char16_t kProductHardwareId[];  // u"*zeldevice"

// The REG_DWORD settings of a port record other than PortNumber and NumServices, in the driver's order.
constexpr size_t kPortSettingCount = 16;
extern const char* const kPortSettingNames[kPortSettingCount];

// One "Service<i>" subkey of a port's Properties key.
struct PortServiceValues {
    uint32_t type = 0;
    uint32_t port = 0;
    std::u16string address;
    // Address is stored as REG_SZ of exactly this many bytes: the text, then NULs (or the text cut).
    size_t addressBytes = 128;
};

// The values of a port's Properties key and its service subkeys.
struct PortRecordValues {
    std::optional<uint32_t> portNumber;                      // default: the device's COM number
    std::vector<std::pair<std::string, uint32_t>> settings;  // further REG_DWORD values, in this order
    std::vector<uint8_t> aesKey;                             // REG_BINARY "AESKey"; empty: not written
    std::optional<uint32_t> numServices;                     // default: services.size()
    std::vector<PortServiceValues> services;                 // Service0, Service1, ...
    std::vector<std::string> omitted;                        // values of Properties left out
};

// A complete record: every setting with a value of its own (seed * 100 + its position from 1, so a value
// read into the wrong field shows), a 32-byte AESKey of bytes seed + i, and the given services.
PortRecordValues FullPortRecord(uint32_t seed, std::vector<PortServiceValues> services = {});

struct PortDeviceOptions {
    int comNumber = 1;
    std::string instance{};     // enumeration instance name; "": the lowest free four-digit number
    std::string classInstance{};  // class instance ("0003"); "": the lowest free four-digit number
    // nullopt: no HardwareID value.
    std::optional<std::vector<std::u16string>> hardwareIds = std::vector<std::u16string>{kProductHardwareId};
    bool deviceParameters = true;            // false: no Device Parameters key at all
    bool writePortName = true;
    std::optional<std::u16string> portName{};  // default: "COM<comNumber>"
    bool writeDriver = true;
    std::optional<std::u16string> driver{};    // default: "<class GUID>\<classInstance>"
    std::u16string description = u"ZEL Virtual Serial Port";
    std::optional<PortRecordValues> record{};  // written under the class instance's Properties key
    DeviceState state{};                       // presence (a phantom port), status, resources
};

// Where one device's keys are (paths below HKEY_LOCAL_MACHINE).
struct PortDevice {
    std::string instanceId;  // ROOT\PORTS\<instance>
    std::string instance;
    std::string classInstance;
    std::string enumKey;
    std::string parametersKey;
    std::string classKey;
    std::string propertiesKey;
    std::string ServiceKey(unsigned index) const;  // propertiesKey\Service<index>
};

PortDevice PortDeviceKeys(const std::string& instance, const std::string& classInstance);

// Lays down one port device (and its record, when options.record is set); returns where its keys are.
PortDevice AddPortDevice(const PortDeviceOptions& options);

// Writes record under propertiesKey: PortNumber, the settings, AESKey, NumServices, then Service<i>
// subkeys. Existing values and subkeys stay unless overwritten.
void WritePortRecord(const std::string& propertiesKey, const PortRecordValues& record, uint32_t comNumber);

}  // namespace sim
