#include "tools/replay/port_record.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "winsim/sim.h"

namespace replay {

const char* const kSettingNames[kSettingCount] = {
    "AES",          "AESKeyLength",  "AutoReconErr",  "AutoReconPeer", "CnTmo",         "NoDiscon",
    "ReconLimit",   "UseRFC2217",    "DtrConnection", "WaitOnWrite",   "BufferWrites",  "TransmitEmpty",
    "ListenMode",   "KeepAliveOnOff", "KeepAliveTime", "KeepAliveInterval",
};

namespace {

constexpr int kBufferWrites = 10, kTransmitEmpty = 11, kListenMode = 12, kKeepAliveOnOff = 13,
              kKeepAliveTime = 14, kKeepAliveInterval = 15;

// Where a layout keeps what follows the 92 bytes every generation shares (settings 0 to 9 after
// PortNumber, PortName and AESKey). -1: the layout has no such field.
struct LayoutShape {
    size_t bytes;
    int tail[6];  // BufferWrites, TransmitEmpty, ListenMode, KeepAliveOnOff, KeepAliveTime, KeepAliveInterval
    size_t numServices;
    size_t services;
    size_t serviceBytes;
};

const LayoutShape& Shape(Layout layout) {
    static const LayoutShape v40{420, {-1, 92, -1, -1, -1, -1}, 96, 100, 40};
    static const LayoutShape v41{440, {92, 96, 100, 104, 108, 112}, 116, 120, 40};
    static const LayoutShape v43{696, {92, 96, 100, 104, 108, 112}, 116, 120, 72};
    static const LayoutShape current{1208, {92, 96, 100, 104, 108, 112}, 116, 120, 136};
    switch (layout) {
        case Layout::V40: return v40;
        case Layout::V41: return v41;
        case Layout::V43: return v43;
        case Layout::Current: break;
    }
    return current;
}

// The shared head: PortNumber 0, PortName 4 (8 units), AES 20, AESKey 24, then AESKeyLength to
// WaitOnWrite from 56 on.
constexpr size_t kPortNameOffset = 4, kPortNameUnits = 8, kAesOffset = 20, kAesKeyOffset = 24, kHeadSettings = 56;

void Put(std::vector<uint8_t>& record, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) record[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get(const std::vector<uint8_t>& record, size_t offset) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(record[offset + i]) << (8 * i);
    return value;
}

void PutText(std::vector<uint8_t>& record, size_t offset, size_t units, const std::u16string& text) {
    for (size_t i = 0; i < text.size() && i < units; ++i) {
        record[offset + 2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
        record[offset + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
}

std::u16string GetText(const std::vector<uint8_t>& record, size_t offset, size_t units) {
    std::u16string text;
    for (size_t i = 0; i < units; ++i) {
        char16_t unit = static_cast<char16_t>(record[offset + 2 * i] | record[offset + 2 * i + 1] << 8);
        if (!unit) break;
        text.push_back(unit);
    }
    return text;
}

// Settings 1 to 9 (AESKeyLength to WaitOnWrite) sit one after the other from offset 56.
size_t HeadOffset(size_t setting) { return kHeadSettings + 4 * (setting - 1); }

}  // namespace

PortConfig DefaultConfig(uint32_t comNumber) {
    PortConfig config;
    config.portNumber = comNumber;
    config.portName = sim::U16("COM" + std::to_string(comNumber));
    config.settings[kBufferWrites] = 1;
    config.settings[kKeepAliveTime] = 7200000;
    config.settings[kKeepAliveInterval] = 1000;
    return config;
}

int SettingIndex(std::string_view name) {
    for (size_t i = 0; i < kSettingCount; ++i)
        if (name == kSettingNames[i]) return static_cast<int>(i);
    return -1;
}

Layout LayoutForDisplayVersion(std::string_view display) {
    // "4.2.0.2" is a 4.2 version by its prefix but already writes the 4.3 record.
    if (display.starts_with("4.2.0.2") || display.starts_with("4.3.0.0")) return Layout::V43;
    if (display.starts_with("4.0")) return Layout::V40;
    if (display.starts_with("4.1") || display.starts_with("4.2")) return Layout::V41;
    return Layout::Current;
}

size_t LayoutBytes(Layout layout) { return Shape(layout).bytes; }
size_t AddressUnits(Layout layout) { return (Shape(layout).serviceBytes - 8) / 2; }

const char* LayoutName(Layout layout) {
    switch (layout) {
        case Layout::V40: return "420-byte V40";
        case Layout::V41: return "440-byte V41";
        case Layout::V43: return "696-byte V43";
        case Layout::Current: break;
    }
    return "1208-byte current";
}

std::vector<uint8_t> EncodeRecord(const PortConfig& config, Layout layout) {
    const LayoutShape& shape = Shape(layout);
    std::vector<uint8_t> record(shape.bytes, 0);
    Put(record, 0, config.portNumber);
    PutText(record, kPortNameOffset, kPortNameUnits, config.portName);
    Put(record, kAesOffset, config.settings[0]);
    std::memcpy(&record[kAesKeyOffset], config.aesKey.data(), kAesKeyBytes);
    for (size_t s = 1; s < kBufferWrites; ++s) Put(record, HeadOffset(s), config.settings[s]);
    for (int t = 0; t < 6; ++t)
        if (shape.tail[t] >= 0) Put(record, static_cast<size_t>(shape.tail[t]), config.settings[kBufferWrites + t]);
    Put(record, shape.numServices, config.numServices);
    for (size_t k = 0; k < config.services.size() && k < kMaxServices; ++k) {
        size_t at = shape.services + k * shape.serviceBytes;
        Put(record, at, config.services[k].type);
        Put(record, at + 4, config.services[k].port);
        PutText(record, at + 8, (shape.serviceBytes - 8) / 2, config.services[k].address);
    }
    return record;
}

PortConfig DecodeRecord(const std::vector<uint8_t>& record, Layout layout) {
    const LayoutShape& shape = Shape(layout);
    PortConfig config = DefaultConfig(0);
    config.portNumber = Get(record, 0);
    config.portName = GetText(record, kPortNameOffset, kPortNameUnits);
    config.settings[0] = Get(record, kAesOffset);
    std::memcpy(config.aesKey.data(), &record[kAesKeyOffset], kAesKeyBytes);
    for (size_t s = 1; s < kBufferWrites; ++s) config.settings[s] = Get(record, HeadOffset(s));
    for (int t = 0; t < 6; ++t)
        if (shape.tail[t] >= 0) config.settings[kBufferWrites + t] = Get(record, static_cast<size_t>(shape.tail[t]));
    config.numServices = Get(record, shape.numServices);
    for (size_t k = 0; k < kMaxServices; ++k) {
        size_t at = shape.services + k * shape.serviceBytes;
        config.services.push_back(Service{Get(record, at), Get(record, at + 4),
                                          GetText(record, at + 8, (shape.serviceBytes - 8) / 2)});
    }
    return config;
}

std::string HexBytes(const uint8_t* bytes, size_t size) {
    std::string text;
    char pair[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

std::string ServiceText(uint32_t type, uint32_t port, const std::u16string& address) {
    return "type " + std::to_string(type) + ", " + sim::U8(address) + ":" + std::to_string(port);
}

ConfigItems Items(const PortConfig& config) {
    ConfigItems items;
    items.emplace_back("PortNumber", std::to_string(config.portNumber));
    for (size_t s = 0; s < kSettingCount; ++s) {
        items.emplace_back(kSettingNames[s], std::to_string(config.settings[s]));
        if (s == 0) items.emplace_back("AESKey", HexBytes(config.aesKey.data(), kAesKeyBytes));
    }
    items.emplace_back("NumServices", std::to_string(config.numServices));
    // The store keeps entries 0 to min(NumServices, 8) - 1; a negative count (taken signed) keeps none.
    int32_t valid = std::min<int32_t>(static_cast<int32_t>(config.numServices), kMaxServices);
    for (int32_t k = 0; k < valid; ++k) {
        const Service service = static_cast<size_t>(k) < config.services.size() ? config.services[k] : Service{};
        items.emplace_back("Service" + std::to_string(k), ServiceText(service.type, service.port, service.address));
    }
    return items;
}

}  // namespace replay
