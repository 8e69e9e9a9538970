// A port's configuration as the replay tool handles it: field by field, independent of the library's own
// record types, so that a conversion fault in the library shows as a difference instead of being
// repeated by the tool.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace replay {

constexpr size_t kSettingCount = 16;
// The REG_DWORD settings between PortNumber and NumServices, in the record's order.
extern const char* const kSettingNames[kSettingCount];
constexpr size_t kMaxServices = 8;
constexpr size_t kAesKeyBytes = 32;

struct Service {
    uint32_t type = 0;
    uint32_t port = 0;
    std::u16string address;
    bool operator==(const Service&) const = default;
};

struct PortConfig {
    uint32_t portNumber = 0;
    std::u16string portName;  // travels in driver records only; the registry keeps it with the device
    std::array<uint32_t, kSettingCount> settings{};
    std::array<uint8_t, kAesKeyBytes> aesKey{};
    uint32_t numServices = 0;
    std::vector<Service> services;  // at most 8 entries
    bool operator==(const PortConfig&) const = default;
};

// The product's defaults for a port nobody configured; also what a 4.0 driver's record lacks.
PortConfig DefaultConfig(uint32_t comNumber);
// The index of a setting name in kSettingNames, or -1.
int SettingIndex(std::string_view name);

// Driver record generations, by the record the driver hands out.
enum class Layout { V40, V41, V43, Current };
// The layout of a driver by its display version: "4.0*" V40, "4.1*" and "4.2*" V41, "4.2.0.2*" and
// "4.3.0.0*" V43, anything else Current.
Layout LayoutForDisplayVersion(std::string_view display);
size_t LayoutBytes(Layout layout);
// UTF-16 units of a service address in the layout, its terminator included.
size_t AddressUnits(Layout layout);
const char* LayoutName(Layout layout);  // "420-byte V40", ...

// The driver's record of a configuration. The configuration must fit the layout (at most 8 services, each
// address shorter than AddressUnits); the fields a V40 record lacks are left out.
std::vector<uint8_t> EncodeRecord(const PortConfig& config, Layout layout);
// A driver record (LayoutBytes(layout) bytes) read back, all 8 service entries included; the fields a V40
// record lacks take the product's defaults.
PortConfig DecodeRecord(const std::vector<uint8_t>& record, Layout layout);

// A configuration as the registry holds it and as the tool shows it: named items in the store's order
// (PortNumber, the settings, AESKey, NumServices, then Service<i> for the valid entries), each with its
// value as text, or nullopt when the value is not there.
using ConfigItems = std::vector<std::pair<std::string, std::optional<std::string>>>;
ConfigItems Items(const PortConfig& config);

std::string HexBytes(const uint8_t* bytes, size_t size);
std::string ServiceText(uint32_t type, uint32_t port, const std::u16string& address);

}  // namespace replay
