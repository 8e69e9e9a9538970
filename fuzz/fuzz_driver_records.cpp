// Driver records of every generation's layout, any bytes, through CollectAndRemovePorts on a machine
// with the product installed and its ports configured: the saved block holds at most one record per
// configured port and is the caller's to free; nothing else stays open.
#include <cstring>
#include <string>

#include "fuzz/harness.h"
#include "portstore/port_map.h"
#include "driver/port_operations.h"
#include "setup/port_migration.h"
#include "winsim/devices.h"
#include "winsim/files.h"
#include "winsim/port_devices.h"

namespace {

// Raw version texts of the driver generations, each naming its record layout through its display form.
const char* const kGenerations[] = {"4.001.0.50", "4.100.0.2", "4.201.0.2", "4.200.2.50", "4.300.0.50", "4.302.7.15"};
constexpr size_t kGenerationCount = sizeof kGenerations / sizeof kGenerations[0];
constexpr size_t kMaxRecordBytes = 2048;

constexpr char kInstallDir[] = "C:\\Program Files\\Kelmiso\\ZEL\\";

// The product's folder with its package, staged as an earlier installation leaves it.
void ProductInstalled() {
    sim::LayProductPackage(kInstallDir);
    sim::RegSetString(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL", "TargetDir", sim::U16(kInstallDir));
    WCHAR staged[MAX_PATH] = {};
    std::u16string inf = sim::U16(std::string(kInstallDir) + "ZelDrvr\\ZelDrvr.inf");
    std::u16string folder = sim::U16(std::string(kInstallDir) + "ZelDrvr\\");
    fuzz::Check(SetupCopyOEMInfW(inf.c_str(), folder.c_str(), SPOST_PATH, 0, staged, MAX_PATH, nullptr, nullptr),
                "staging the product package for the machine");
    sim::RegSetString(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL", "InfFile", staged);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    // The driver generation: one of the known ones, or any version answer.
    uint8_t generation = in.Byte() % (kGenerationCount + 1);
    std::vector<uint8_t> version;
    if (generation < kGenerationCount) {
        version.assign(kGenerations[generation], kGenerations[generation] + std::strlen(kGenerations[generation]) + 1);
    } else {
        version = in.Chunk8();
    }
    // Bits 0-1: ports less one; bits 2-4: the progress message answered with Cancel (0: none); bit 5: the
    // saved ports are re-created afterwards.
    uint8_t flags = in.Byte();
    unsigned ports = 1 + (flags & 3);
    unsigned cancelAt = (flags >> 2) & 7;
    bool restore = flags & 0x20;

    fuzz::Begin();
    sim::SetNoDesktop(true);
    ProductInstalled();
    sim::DriverState& driver = sim::Driver();
    driver.loaded = true;
    driver.version = version;
    for (unsigned i = 0; i < ports; ++i) {
        // COM number (0 too: a device whose PortName reads as no number), then bit 0: the driver fails
        // the record's request; bit 1: the driver does not know the port.
        int com = in.Byte();
        uint8_t portFlags = in.Byte();
        std::vector<uint8_t> record = in.Chunk16(kMaxRecordBytes);
        sim::AddPortDevice({.comNumber = com, .record = sim::FullPortRecord(static_cast<uint32_t>(com))});
        sim::ClaimComNumber(static_cast<DWORD>(com));
        if (!(portFlags & 2))
            sim::DriverSetPort(static_cast<DWORD>(com),
                               sim::DriverPort{record, 0, 0, (portFlags & 1) ? static_cast<DWORD>(ERROR_GEN_FAILURE) : 0});
    }
    if (cancelAt) sim::ScriptInstallerAnswer(cancelAt, IDCANCEL);

    PortMap map;
    std::memset(&map, 0, sizeof map);
    fuzz::Check(GetPortMap(&map) == 0, "the port map of the machine");
    LONG saveable = 0;
    for (DWORD i = 0; i < map.NumPorts && i < kPortMapEntries; ++i)
        if (map.Entries[i].PortNumber != 0) ++saveable;

    LONG count = -1;
    PortInfo* records = reinterpret_cast<PortInfo*>(1);
    CollectAndRemovePorts(sim::InstallHandle(), &count, &records);
    fuzz::Check(count >= 0 && count <= saveable, "more records saved than configured ports");
    fuzz::Check(records != nullptr || count == 0, "records counted without a block");
    fuzz::Check(records != reinterpret_cast<PortInfo*>(1), "*records not set");
    if (records) {
        if (restore) RestorePorts(sim::InstallHandle(), count, records);
        fuzz::Check(LocalFree(records) == nullptr, "the saved block is not a LocalAlloc block");
    }
    fuzz::End();
    return 0;
}
