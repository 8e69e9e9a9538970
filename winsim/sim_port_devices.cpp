// Product port devices in the simulated registry (see port_devices.h for the layout).
#include <cstdio>
#include <set>

#include "winsim/port_devices.h"

namespace sim {

const char kPortsEnumPath[] = "System\\CurrentControlSet\\Enum\\Root\\Ports";
const char kPortsClassGuid[] = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
const char kPortsClassPath[] =
    "System\\CurrentControlSet\\Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}";
const char16_t kProductHardwareId[] = u"*zeldevice";

const char* const kPortSettingNames[kPortSettingCount] = {
    "AES",         "AESKeyLength",  "AutoReconErr", "AutoReconPeer", "CnTmo",          "NoDiscon",
    "ReconLimit",  "UseRFC2217",    "DtrConnection", "WaitOnWrite",  "BufferWrites",   "TransmitEmpty",
    "ListenMode",  "KeepAliveOnOff", "KeepAliveTime", "KeepAliveInterval",
};

namespace {

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

std::vector<uint8_t> Bytes(std::u16string_view text, size_t size) {
    std::vector<uint8_t> data(size, 0);
    for (size_t i = 0; i < text.size() && 2 * i + 1 < size; ++i) {
        data[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
        data[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
    return data;
}

std::vector<uint8_t> Dword(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

}  // namespace

std::string PortDevice::ServiceKey(unsigned index) const {
    return propertiesKey + "\\Service" + std::to_string(index);
}

PortDevice PortDeviceKeys(const std::string& instance, const std::string& classInstance) {
    PortDevice device;
    device.instanceId = "ROOT\\PORTS\\" + Upper(instance);
    device.instance = instance;
    device.classInstance = classInstance;
    device.enumKey = std::string(kPortsEnumPath) + "\\" + instance;
    device.parametersKey = device.enumKey + "\\Device Parameters";
    device.classKey = std::string(kPortsClassPath) + "\\" + classInstance;
    device.propertiesKey = device.classKey + "\\Properties";
    return device;
}

PortRecordValues FullPortRecord(uint32_t seed, std::vector<PortServiceValues> services) {
    PortRecordValues record;
    for (size_t i = 0; i < kPortSettingCount; ++i)
        record.settings.emplace_back(kPortSettingNames[i], seed * 100 + static_cast<uint32_t>(i) + 1);
    for (uint32_t i = 0; i < 32; ++i) record.aesKey.push_back(static_cast<uint8_t>(seed + i));
    record.services = std::move(services);
    return record;
}

void WritePortRecord(const std::string& propertiesKey, const PortRecordValues& record, uint32_t comNumber) {
    auto write = [&](const std::string& name, DWORD type, std::vector<uint8_t> data) {
        for (const std::string& omitted : record.omitted)
            if (Upper(omitted) == Upper(name)) return;
        RegSetRaw(HKEY_LOCAL_MACHINE, propertiesKey, name, type, std::move(data));
    };
    RegCreateKey(HKEY_LOCAL_MACHINE, propertiesKey);
    write("PortNumber", REG_DWORD, Dword(record.portNumber.value_or(comNumber)));
    for (const auto& [name, value] : record.settings) write(name, REG_DWORD, Dword(value));
    if (!record.aesKey.empty()) write("AESKey", REG_BINARY, record.aesKey);
    write("NumServices", REG_DWORD, Dword(record.numServices.value_or(static_cast<uint32_t>(record.services.size()))));
    for (size_t i = 0; i < record.services.size(); ++i) {
        const PortServiceValues& service = record.services[i];
        std::string key = propertiesKey + "\\Service" + std::to_string(i);
        RegSetDword(HKEY_LOCAL_MACHINE, key, "Type", service.type);
        RegSetRaw(HKEY_LOCAL_MACHINE, key, "Address", REG_SZ, Bytes(service.address, service.addressBytes));
        RegSetDword(HKEY_LOCAL_MACHINE, key, "Port", service.port);
    }
}

PortDevice AddPortDevice(const PortDeviceOptions& options) {
    std::string instance = options.instance.empty() ? FreeInstanceName(kPortsEnumPath) : options.instance;
    std::string classInstance =
        options.classInstance.empty() ? FreeInstanceName(kPortsClassPath) : options.classInstance;
    PortDevice device = PortDeviceKeys(instance, classInstance);
    std::u16string portName = options.portName.value_or(U16("COM" + std::to_string(options.comNumber)));
    std::u16string driver = options.driver.value_or(U16(std::string(kPortsClassGuid) + "\\" + classInstance));

    RegCreateKey(HKEY_LOCAL_MACHINE, device.enumKey);
    if (options.hardwareIds) RegSetMultiString(HKEY_LOCAL_MACHINE, device.enumKey, "HardwareID", *options.hardwareIds);
    RegSetString(HKEY_LOCAL_MACHINE, device.enumKey, "ClassGUID", U16(kPortsClassGuid));
    RegSetString(HKEY_LOCAL_MACHINE, device.enumKey, "Class", u"Ports");
    if (options.writeDriver) RegSetString(HKEY_LOCAL_MACHINE, device.enumKey, "Driver", driver);
    RegSetString(HKEY_LOCAL_MACHINE, device.enumKey, "FriendlyName", options.description + u" (" + portName + u")");
    if (options.deviceParameters) {
        RegCreateKey(HKEY_LOCAL_MACHINE, device.parametersKey);
        if (options.writePortName) RegSetString(HKEY_LOCAL_MACHINE, device.parametersKey, "PortName", portName);
        RegSetDword(HKEY_LOCAL_MACHINE, device.parametersKey, "PollingPeriod", 0);
    }

    DeviceStateOf(device.instanceId) = options.state;

    RegSetString(HKEY_LOCAL_MACHINE, device.classKey, "DriverDesc", options.description);
    RegSetString(HKEY_LOCAL_MACHINE, device.classKey, "MatchingDeviceId", kProductHardwareId);
    if (options.record)
        WritePortRecord(device.propertiesKey, *options.record, static_cast<uint32_t>(options.comNumber));
    return device;
}

}  // namespace sim
