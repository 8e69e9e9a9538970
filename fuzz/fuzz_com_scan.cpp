// The COM number scans over other makers' Ports devices and the SerialComm map, with any property and
// value text: the only writes go to entries 0 to 255 of the usage map, and only ever set them to 1.
#include <cstring>
#include <string>

#include "devinst/com_numbers.h"
#include "fuzz/harness.h"
#include "winsim/devices.h"

namespace {

const char* const kEnumerators[] = {"ACPI", "PCI", "ROOT", "USB", "FTDIBUS", "SERENUM"};
const char* const kInstanceValues[] = {"HardwareID", "FriendlyName"};
const char* const kParameterValues[] = {"PortName", "DosDeviceName", "FirmwareIdentified"};
constexpr size_t kMaxDevices = 16;
constexpr size_t kMaxValueBytes = 1100;  // beyond every buffer the scans read into
// Room on either side of the 256 entries, filled with a canary the scans must leave alone.
constexpr size_t kMargin = 64;
constexpr uint8_t kCanary = 0xA5;

template <size_t N>
const char* Pick(const char* const (&names)[N], uint8_t index) {
    return names[index % N];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    fuzz::Begin();

    // Items to the end of the input. 0: a device (enumerator, flags: bit 0 a hardware key, bit 1 a
    // boot configuration, bit 2 a devnode status, bit 3 not present, bit 4 an enumerator name of its own;
    // then those parts). 1: a value of the last device's instance key; 2: of its hardware key; 3: a
    // SerialComm value.
    std::vector<std::string> devices;
    unsigned serialComm = 0;
    while (!in.Empty()) {
        uint8_t item = in.Byte() % 4;
        if (item == 0 && devices.size() < kMaxDevices) {
            uint8_t enumerator = in.Byte();
            uint8_t flags = in.Byte();
            sim::DeviceOptions options;
            options.instanceId = std::string(Pick(kEnumerators, enumerator)) + "\\DEV" + std::to_string(devices.size()) + "\\" +
                                 std::to_string(devices.size());
            options.hardwareKey = flags & 1;
            if (flags & 2) options.state.bootIoResource = in.Chunk8();
            if (flags & 4) options.state.status = in.U32();
            options.state.present = !(flags & 8);
            if (flags & 0x10) options.state.enumeratorName = fuzz::Utf16(in.Chunk8());
            devices.push_back(sim::AddDevice(options));
        } else if ((item == 1 || item == 2) && !devices.empty()) {
            uint8_t name = in.Byte();
            DWORD type = in.Byte();
            std::vector<uint8_t> bytes = in.Chunk16(kMaxValueBytes);
            if (item == 1)
                sim::RegSetRaw(HKEY_LOCAL_MACHINE, devices.back(), Pick(kInstanceValues, name), type, bytes);
            else
                sim::RegSetRaw(HKEY_LOCAL_MACHINE, devices.back() + "\\Device Parameters", Pick(kParameterValues, name), type, bytes);
        } else if (item == 3) {
            DWORD type = in.Byte();
            std::vector<uint8_t> bytes = in.Chunk16(kMaxValueBytes);
            sim::RegSetRaw(HKEY_LOCAL_MACHINE, sim::kSerialCommPath, "\\Device\\Serial" + std::to_string(serialComm++), type, bytes);
        }
    }
    sim::ClearCallLog();

    std::vector<uint8_t> buffer(kMargin + kPortUsageEntries + kMargin, kCanary);
    BYTE* map = buffer.data() + kMargin;
    GetOtherPorts(map);
    SearchHardwareSerialComm(map);
    for (size_t i = 0; i < buffer.size(); ++i) {
        bool inMap = i >= kMargin && i < kMargin + kPortUsageEntries;
        if (!inMap) fuzz::Check(buffer[i] == kCanary, "a scan wrote outside the 256 entries of the map");
        else fuzz::Check(buffer[i] == kCanary || buffer[i] == 1, "a scan wrote an entry other than by marking it");
    }
    fuzz::End();
    return 0;
}
