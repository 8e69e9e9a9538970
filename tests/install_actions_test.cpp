// Install and Uninstall through the exported entry points: the package staged, the ports carried across
// an upgrade with installer progress, everything removed on uninstallation.
#include <cstring>
#include <string>
#include <vector>

#include "driver/driver_channel.h"
#include "portstore/port_info.h"
#include "setup/custom_actions.h"
#include "setup/port_migration.h"
#include "tests/product_machine.h"
#include "tests/sim_fixture.h"
#include "winsim/files.h"

namespace {

using InstallActions = SimTest;

// A port's configuration as the current driver hands it out, with values of its own per port.
PortInfo DriverRecord(DWORD com, DWORD services) {
    PortInfo info;
    std::memset(&info, 0, sizeof info);
    info.PortNumber = com;
    const std::u16string name = sim::U16("COM" + std::to_string(com));
    std::memcpy(info.PortName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    info.AES = com % 2;
    for (int i = 0; i < 32; ++i) info.AESKey[i] = static_cast<BYTE>(com * 7 + i);
    info.AESKeyLength = 32;
    info.AutoReconErr = com + 1;
    info.CnTmo = com * 100;
    info.KeepAliveTime = 30000 + com;
    info.KeepAliveInterval = 1000 + com;
    info.NumServices = services;
    for (DWORD k = 0; k < services; ++k) {
        info.Services[k].Type = 1;
        info.Services[k].Port = 4000 + k;
        std::u16string address = sim::U16("10.0." + std::to_string(com) + "." + std::to_string(k + 1));
        std::memcpy(info.Services[k].Address, address.c_str(), (address.size() + 1) * sizeof(WCHAR));
    }
    return info;
}

std::vector<uint8_t> Bytes(const PortInfo& info) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&info);
    return std::vector<uint8_t>(bytes, bytes + sizeof info);
}

// An earlier installation with these ports, claimed and configured in the registry, and the current
// driver running with each port's record.
void EarlierInstallation(const std::vector<std::pair<DWORD, DWORD>>& ports) {
    machine::ProductInstalled();
    sim::SetProperty("CustomActionData", sim::U16(machine::kInstallDir));
    sim::DriverLoad("4.302.7.15");
    for (auto [com, services] : ports) {
        sim::AddPortDevice({.comNumber = static_cast<int>(com), .record = sim::FullPortRecord(com)});
        sim::ClaimComNumber(com);
        sim::DriverSetPort(com, sim::DriverPort{Bytes(DriverRecord(com, services)), 0, 0, 0});
    }
    sim::AddMotherboardPort(1, 0x3F8);
    sim::ClearCallLog();
}

// The port's record as the registry holds it now, or nullopt when it cannot be read completely.
std::optional<PortInfo> StoredRecord(DWORD com) {
    PortInfo info;
    std::memset(&info, 0, sizeof info);
    DWORD count = 0;
    if (_GetPortInfoFromRegistry(static_cast<LONG>(com), &count, &info) != 0) return std::nullopt;
    return info;
}

// What a port must look like after it was carried across: its device with the friendly name, its claim,
// and the driver's record stored field by field (the port name is the device's, never stored).
void ExpectCarriedAcross(DWORD com, const PortInfo& expected) {
    SCOPED_TRACE("COM" + std::to_string(com));
    std::optional<PortInfo> stored = StoredRecord(com);
    ASSERT_TRUE(stored);
    PortInfo want = expected;
    std::memset(want.PortName, 0, sizeof want.PortName);
    std::memset(stored->PortName, 0, sizeof stored->PortName);
    EXPECT_EQ(std::memcmp(&*stored, &want, sizeof want), 0);
    EXPECT_TRUE(sim::IsComNumberClaimed(com));
    bool named = false;
    for (const std::string& instance : sim::RegSubkeys(HKEY_LOCAL_MACHINE, sim::kPortsEnumPath)) {
        auto name = sim::RegGetValue(HKEY_LOCAL_MACHINE, std::string(sim::kPortsEnumPath) + "\\" + instance, "FriendlyName");
        named |= name && sim::U8(name->Text()) == "ZEL Virtual Serial Port (COM" + std::to_string(com) + ")";
    }
    EXPECT_TRUE(named);
}

std::vector<std::vector<int>> ProgressMessages() {
    std::vector<std::vector<int>> out;
    for (const sim::InstallerMessage& message : sim::InstallerMessages()) {
        EXPECT_EQ(message.type, INSTALLMESSAGE_PROGRESS);
        std::vector<int> fields(message.fields.begin() + 1, message.fields.end());
        out.push_back(fields);
    }
    return out;
}

TEST_F(InstallActions, UpgradeCarriesEveryPortAcross) {
    EarlierInstallation({{3, 0}, {5, 2}, {9, 8}});
    EXPECT_EQ(Install(sim::InstallHandle()), 0u);
    for (auto [com, services] : std::vector<std::pair<DWORD, DWORD>>{{3, 0}, {5, 2}, {9, 8}})
        ExpectCarriedAcross(com, DriverRecord(com, services));
    EXPECT_EQ(sim::ClaimedComNumbers(), (std::vector<DWORD>{3, 5, 9}));
    // Collection, then restoration: total, reset, action information, one step per port.
    std::vector<std::vector<int>> collect = {{3, 30000}, {0, 30000, 0, 0}, {1, 1, 0},
                                             {2, 10000, 0}, {2, 10000, 0}, {2, 10000, 0}};
    std::vector<std::vector<int>> expected = collect;
    expected.insert(expected.end(), collect.begin(), collect.end());
    EXPECT_EQ(ProgressMessages(), expected);
    EXPECT_EQ(ProgressTotal, 30000);
    EXPECT_EQ(sim::U8(sim::RegGetValue(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL", "TargetDir")->Text()),
              machine::kInstallDir);
    EXPECT_EQ(sim::MessageBoxes().size(), 0u);
    EXPECT_FALSE(sim::GetPrivilegeState("SeLoadDriverPrivilege").enabled);
}

// A cancel during the collection leaves the ports not yet reached untouched; the ones reached were saved
// and come back. A cancel during the restoration re-creates every port all the same.
TEST_F(InstallActions, CancelAtEveryProgressMessage) {
    for (unsigned message = 1; message <= 12; ++message) {
        SCOPED_TRACE(message);
        sim::Reset();
        EarlierInstallation({{3, 0}, {5, 2}, {9, 1}});
        sim::ScriptInstallerAnswer(message, IDCANCEL);
        EXPECT_EQ(Install(sim::InstallHandle()), 0u);
        for (auto [com, services] : std::vector<std::pair<DWORD, DWORD>>{{3, 0}, {5, 2}, {9, 1}}) {
            std::optional<PortInfo> stored = StoredRecord(com);
            ASSERT_TRUE(stored) << "COM" << com << " was lost";
            EXPECT_TRUE(sim::IsComNumberClaimed(com));
            // Ports the collection never reached keep the registry's record, untouched.
            bool reached = message >= 4 + (com == 3 ? 0 : com == 5 ? 1 : 2) || message > 6;
            if (reached) {
                EXPECT_EQ(stored->KeepAliveTime, 30000 + com) << "COM" << com;
            } else {
                EXPECT_EQ(stored->KeepAliveTime, com * 100 + 15) << "COM" << com;
            }
        }
        EXPECT_EQ(sim::HeapBlockCount(), 0u);
    }
}

TEST_F(InstallActions, PortsWithoutARecordStayWhereTheyAre) {
    // The driver is not running: no record can be read, so no port is removed.
    EarlierInstallation({{3, 0}, {5, 2}});
    sim::Driver().loaded = false;
    EXPECT_EQ(Install(sim::InstallHandle()), 0u);
    EXPECT_EQ(StoredRecord(3)->KeepAliveTime, 315u) << "the registry's configuration is kept";
    EXPECT_EQ(StoredRecord(5)->KeepAliveTime, 515u);
    EXPECT_EQ(sim::CallCount("SetupDiRemoveDevice"), 0u);

    // One port the driver cannot report stays; the others are carried across, and the driver update of
    // the first restored port reaches the one left in place.
    sim::Reset();
    EarlierInstallation({{3, 0}, {5, 2}, {9, 0}});
    sim::DriverFindPort(5)->configError = ERROR_GEN_FAILURE;
    EXPECT_EQ(Install(sim::InstallHandle()), 0u);
    ExpectCarriedAcross(3, DriverRecord(3, 0));
    ExpectCarriedAcross(9, DriverRecord(9, 0));
    EXPECT_EQ(StoredRecord(5)->KeepAliveTime, 515u);
    EXPECT_TRUE(sim::IsComNumberClaimed(5));
    bool updated = false;
    for (const sim::DriverInstallation& installation : sim::DriverInstallations())
        updated |= installation.byUpdate && installation.instanceId == "ROOT\\PORTS\\0001";
    EXPECT_TRUE(updated) << "the port left in place gets the new driver too";
}

TEST_F(InstallActions, NoticeFailureKeepsTheStoredPort) {
    EarlierInstallation({{3, 0}, {5, 2}});
    sim::Driver().controlErrors.push_back({IOCTL_ZEL_PORT_CHANGED, ERROR_GEN_FAILURE});
    EXPECT_EQ(Install(sim::InstallHandle()), 0u);
    ExpectCarriedAcross(3, DriverRecord(3, 0));
    ExpectCarriedAcross(5, DriverRecord(5, 2));
}

TEST_F(InstallActions, PortWhoseRecordCannotBeStoredGoesAgain) {
    EarlierInstallation({{3, 0}, {5, 2}});
    PortInfo garbage = DriverRecord(5, 2);
    garbage.NumServices = 9;  // a record no store accepts
    sim::DriverFindPort(5)->config = Bytes(garbage);
    EXPECT_EQ(Install(sim::InstallHandle()), 0u);
    ExpectCarriedAcross(3, DriverRecord(3, 0));
    EXPECT_FALSE(StoredRecord(5));
    EXPECT_FALSE(sim::IsComNumberClaimed(5));
}

TEST_F(InstallActions, OnlyTheFirstRestoredPortUpdatesTheDriver) {
    EarlierInstallation({{3, 0}, {5, 0}});
    // COM3 is taken meanwhile by another device: its addition fails, and COM5 still probes.
    sim::AddUsbSerialAdapter(3);
    EXPECT_EQ(Install(sim::InstallHandle()), 0u);
    EXPECT_EQ(sim::CallCount("UpdateDriverForPlugAndPlayDevicesW"), 0u);
    EXPECT_EQ(sim::CallCount("SetupDiSetClassInstallParamsW"), 2u) << "COM5 restarted on the running driver";
    ExpectCarriedAcross(5, DriverRecord(5, 0));
}

TEST_F(InstallActions, FreshInstallation) {
    machine::ProductFolder();
    sim::SetProperty("CustomActionData", u"C:\\Program Files\\Kelmiso\\ZEL\\");
    EXPECT_EQ(Install(sim::InstallHandle()), 0u);
    auto copy = sim::Calls("SetupCopyOEMInfW");
    ASSERT_EQ(copy.size(), 1u);
    EXPECT_EQ(copy[0].Text("SourceInfFileName"), machine::kPackageInf);
    EXPECT_EQ(copy[0].Text("OEMSourceMediaLocation"), "C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\");
    EXPECT_EQ(machine::RecordedInf(), "C:\\Windows\\INF\\" + sim::StagedInfs().at(0));
    EXPECT_TRUE(sim::InstallerMessages().empty()) << "no earlier ports, no progress";
}

TEST_F(InstallActions, InstallationFolderFallbacks) {
    // An empty property counts as read: the package is looked for relative to the current folder.
    machine::ProductFolder();
    sim::SetCurrentFolder("C:\\Program Files\\Kelmiso\\ZEL");
    sim::SetProperty("CustomActionData", u"");
    EXPECT_EQ(Install(sim::InstallHandle()), 0u);
    EXPECT_EQ(sim::Calls("SetupCopyOEMInfW")[0].Text("SourceInfFileName"), "ZelDrvr\\ZelDrvr.inf");
    EXPECT_EQ(sim::U8(sim::RegGetValue(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL", "TargetDir")->Text()), "");

    // No property to be had and no recorded folder: the relative fallback.
    sim::Reset();
    sim::LayProductPackage(machine::kInstallDir);
    sim::SetCurrentFolder("C:\\Program Files\\Kelmiso\\ZEL");
    EXPECT_EQ(Install(0), 0u);
    EXPECT_EQ(sim::Calls("SetupCopyOEMInfW")[0].Text("SourceInfFileName"), ".\\ZelDrvr\\ZelDrvr.inf");
    EXPECT_FALSE(sim::RegGetValue(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL", "TargetDir"));
}

TEST_F(InstallActions, StagingFailureTouchesNoPort) {
    EarlierInstallation({{3, 0}});
    sim::RemoveFile(machine::kPackageInf);
    sim::ScriptMessageBox(IDOK, "in SetupCopyOEMInf:\n  : C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\ZelDrvr.inf\n  : "
                                "C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\\n  ");
    EXPECT_EQ(Install(sim::InstallHandle()), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(StoredRecord(3)->KeepAliveTime, 315u);
    EXPECT_EQ(sim::CallCount("SetupDiRemoveDevice"), 0u);
    EXPECT_TRUE(sim::InstallerMessages().empty());
}

TEST_F(InstallActions, UninstallRefusedWhileAPortIsOpen) {
    EarlierInstallation({{3, 0}, {256, 0}});
    sim::SetProperty("CustomActionData", u"");
    sim::DriverFindPort(256)->portOpen = 1;
    sim::ScriptMessageBox(IDOK, "Unable to uninstall. There are still some ZEL ports opened.\nPlease Close open ports");
    EXPECT_EQ(Uninstall(sim::InstallHandle()), static_cast<UINT>(-1));
    EXPECT_TRUE(StoredRecord(3));
    EXPECT_TRUE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL"));
    EXPECT_FALSE(sim::GetPrivilegeState("SeTakeOwnershipPrivilege").enabled);
}

TEST_F(InstallActions, UninstallRemovesEverything) {
    for (bool driverLoaded : {true, false}) {
        SCOPED_TRACE(driverLoaded);
        sim::Reset();
        EarlierInstallation({{3, 0}, {5, 2}});
        sim::Driver().loaded = driverLoaded;
        sim::SetProperty("CustomActionData", u"");
        sim::RegSetString(HKEY_CURRENT_USER, "Software\\Kelmiso\\ZEL\\Window", "Last", u"1");
        EXPECT_EQ(Uninstall(sim::InstallHandle()), 0u);
        EXPECT_FALSE(StoredRecord(3));
        EXPECT_FALSE(StoredRecord(5));
        EXPECT_TRUE(sim::RegSubkeys(HKEY_LOCAL_MACHINE, sim::kPortsEnumPath).empty());
        EXPECT_TRUE(sim::ClaimedComNumbers().empty());
        EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL"));
        EXPECT_FALSE(sim::RegKeyExists(HKEY_CURRENT_USER, "Software\\Kelmiso\\ZEL"));
        EXPECT_TRUE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, sim::DeviceKey("ACPI\\PNP0501\\1"))) << "not ours";
        EXPECT_EQ(ProgressMessages().size(), 5u) << "total, reset, action information, a step per port";
    }
}

TEST_F(InstallActions, UninstallWithCustomActionDataChangesNothing) {
    for (std::u16string value : {std::u16string(u"C:\\P\\"), std::u16string(150, u'x')}) {
        sim::Reset();
        EarlierInstallation({{3, 0}});
        sim::SetProperty("CustomActionData", value);
        EXPECT_EQ(Uninstall(sim::InstallHandle()), 0u);
        EXPECT_TRUE(StoredRecord(3));
        EXPECT_TRUE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL"));
    }
}

TEST_F(InstallActions, KeyTreeDeletion) {
    sim::RegSetDword(HKEY_LOCAL_MACHINE, "Software\\T\\A\\B\\C", "V", 1);
    sim::RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\T\\A\\D");
    sim::RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\T\\E");
    EXPECT_TRUE(DeleteRegistryTree(HKEY_LOCAL_MACHINE, u"Software\\T\\"));
    EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\T"));
    EXPECT_TRUE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Software"));
    EXPECT_TRUE(DeleteRegistryTree(HKEY_LOCAL_MACHINE, u"Software\\T"));
    EXPECT_EQ(sim::StandardOutput(), "Key not found.\n");
    for (const sim::Call& call : sim::Calls("RegOpenKeyExW")) EXPECT_EQ(call.Number("samDesired"), KEY_READ);

    // A branch whose path would not fit the 520-character buffer fails; the rest of the tree stays.
    std::string deep = "Software\\T";
    for (int i = 0; i < 3; ++i) deep += "\\" + std::string(200, static_cast<char>('a' + i));
    sim::RegCreateKey(HKEY_LOCAL_MACHINE, deep);
    EXPECT_FALSE(DeleteRegistryTree(HKEY_LOCAL_MACHINE, u"Software\\T"));
    EXPECT_TRUE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\T"));
    EXPECT_FALSE(DeleteRegistryTree(HKEY_LOCAL_MACHINE, (u"Software\\" + std::u16string(600, u'x')).c_str()));

    // A subkey that cannot be deleted ends its branch instead of being asked for again and again.
    sim::RegDeleteTree(HKEY_LOCAL_MACHINE, "Software\\T");
    sim::RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\T\\Stuck");
    sim::FailCall("RegDeleteKeyW", 1, ERROR_ACCESS_DENIED, true);
    sim::FailCall("RegOpenKeyExW", 2, ERROR_FILE_NOT_FOUND, true);
    EXPECT_FALSE(DeleteRegistryTree(HKEY_LOCAL_MACHINE, u"Software\\T"));
}

}  // namespace

namespace {

// An exception while the privileges are enabled or put back is caught like one in the action, and every
// privilege whose state was taken is put back.
TEST_F(InstallActions, ExceptionAroundThePrivileges) {
    for (unsigned nth : {2u, 4u}) {  // enabling the second privilege; putting the third back
        SCOPED_TRACE(nth);
        sim::Reset();
        machine::ProductFolder();
        sim::SetProperty("CustomActionData", sim::U16(machine::kInstallDir));
        sim::SetPrivilegeState("SeSecurityPrivilege", true, true);
        sim::RaiseInCall("OpenProcessToken", nth, EXCEPTION_ACCESS_VIOLATION);
        sim::ScriptMessageBox(IDOK, "An Unknown Exception Occurred.");
        UINT result = Install(sim::InstallHandle());
        EXPECT_EQ(result, nth == 2 ? 1u : 0u) << "the status as last recorded";
        EXPECT_TRUE(sim::GetPrivilegeState("SeSecurityPrivilege").enabled);
        EXPECT_FALSE(sim::GetPrivilegeState("SeTakeOwnershipPrivilege").enabled) << "put back";
        EXPECT_EQ(sim::LeakReport(), "");
    }
}

}  // namespace
