// The port store's load over product port devices whose registry values have any type, size and
// content: the Properties values, the Service<i> values, and the device's PortName, HardwareID and
// Driver. Where the load succeeds, the record is stored back as a new device's installation does.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/harness.h"
#include "portstore/port_info.h"
#include "winsim/port_devices.h"

namespace {

const char* const kPropertyNames[] = {
    "PortNumber", "AES", "AESKey", "AESKeyLength", "AutoReconErr", "AutoReconPeer", "CnTmo", "NoDiscon",
    "ReconLimit", "UseRFC2217", "DtrConnection", "WaitOnWrite", "BufferWrites", "TransmitEmpty",
    "ListenMode", "KeepAliveOnOff", "KeepAliveTime", "KeepAliveInterval", "NumServices"};
const char* const kServiceNames[] = {"Type", "Address", "Port"};
const char* const kInstanceNames[] = {"HardwareID", "Driver"};
constexpr size_t kMaxDevices = 3;
constexpr size_t kMaxValueBytes = 1100;  // beyond every buffer the load reads into

template <size_t N>
const char* Pick(const char* const (&names)[N], uint8_t index) {
    return names[index % N];
}

bool Terminated(const WCHAR* text, size_t capacity) {
    for (size_t i = 0; i < capacity; ++i)
        if (!text[i]) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    fuzz::Begin();

    // The devices: COM number, then bit 0: no record; bit 1: no Device Parameters key; bit 2: no
    // PortName; bit 3: no Driver; bits 4-6: the record's services.
    size_t deviceCount = 1 + in.Byte() % kMaxDevices;
    std::vector<sim::PortDevice> devices;
    std::vector<int> coms;
    for (size_t d = 0; d < deviceCount; ++d) {
        int com = in.Byte();
        uint8_t flags = in.Byte();
        sim::PortDeviceOptions options;
        options.comNumber = com;
        options.deviceParameters = !(flags & 2);
        options.writePortName = !(flags & 4);
        options.writeDriver = !(flags & 8);
        if (!(flags & 1)) {
            std::vector<sim::PortServiceValues> services((flags >> 4) & 7);
            for (size_t k = 0; k < services.size(); ++k)
                services[k] = {1, static_cast<uint32_t>(4000 + k), u"10.0.0." + std::u16string(1, u'1' + static_cast<char16_t>(k))};
            options.record = sim::FullPortRecord(static_cast<uint32_t>(com), services);
        }
        devices.push_back(sim::AddPortDevice(options));
        coms.push_back(com);
    }
    LONG port = coms[in.Byte() % deviceCount];

    // Then values, to the end of the input: where (bits 0-3: Properties, Service0 to Service7, Device
    // Parameters, the instance key; bits 4-7: which device), the name, the type, the data.
    while (!in.Empty()) {
        uint8_t where = in.Byte();
        const sim::PortDevice& device = devices[(where >> 4) % deviceCount];
        uint8_t name = in.Byte();
        DWORD type = in.Byte();
        std::vector<uint8_t> bytes = in.Chunk16(kMaxValueBytes);
        unsigned key = (where & 0x0F) % 11;
        if (key == 0) {
            sim::RegSetRaw(HKEY_LOCAL_MACHINE, device.propertiesKey, Pick(kPropertyNames, name), type, bytes);
        } else if (key <= 8) {
            sim::RegSetRaw(HKEY_LOCAL_MACHINE, device.ServiceKey(key - 1), Pick(kServiceNames, name), type, bytes);
        } else if (key == 9) {
            sim::RegSetRaw(HKEY_LOCAL_MACHINE, device.parametersKey, "PortName", type, bytes);
        } else {
            sim::RegSetRaw(HKEY_LOCAL_MACHINE, device.enumKey, Pick(kInstanceNames, name), type, bytes);
        }
    }
    sim::ClearCallLog();

    // Zero-filled, as the device installation hands it in; exactly one record, for the sanitizer.
    std::unique_ptr<PortInfo> info(new PortInfo);
    std::memset(info.get(), 0, sizeof *info);
    DWORD count = 0xFFFFFFFFu;
    ZelStatus status = _GetPortInfoFromRegistry(port, &count, info.get());
    fuzz::Check(status == 0 || status == ZEL_PORT_NOT_FOUND || status == ZEL_PORT_KEY_NOT_FOUND ||
                    status == ZEL_NO_DEVICE_PARAMETERS_FOUND || status == ZEL_PORT_NAME_NOT_FOUND ||
                    status == ZEL_EXT_PORT_INFO_NOT_FOUND,
                "the load returned a code outside its own");
    fuzz::Check(count <= deviceCount && count <= kMaxExaminedPorts, "more devices examined than there are");
    if (status == 0) {
        fuzz::Check(Terminated(info->PortName, kPortInfoNameChars), "the record's PortName is not terminated");
        info->PortNumber = static_cast<DWORD>(port);
        ZelStatus stored = _SetPortInfoInRegistry(info.get());
        fuzz::Check(stored == 0 || stored == ZEL_NO_DEVICES_FOUND || stored == ZEL_PORT_KEY_NOT_FOUND ||
                        stored == ZEL_NO_DEVICE_PARAMETERS_FOUND || stored == ZEL_PORT_NAME_NOT_FOUND ||
                        stored == ZEL_EXT_PORT_INFO_NOT_FOUND || stored == ZEL_REGISTRY_SAVE_ERROR,
                    "the store returned a code outside its own");
    }
    fuzz::End();
    return 0;
}
