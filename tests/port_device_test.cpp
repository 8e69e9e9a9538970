// Adding a product port device under a claimed COM number, and finding and removing one.
#include <string>
#include <vector>

#include "devinst/device_setup.h"
#include "tests/product_machine.h"
#include "tests/sim_fixture.h"
#include "winsim/files.h"

namespace {

using PortDevices = SimTest;

// The product device of a COM number in the registry, if there is one.
std::optional<std::string> ProductDeviceOf(int com) {
    for (const std::string& instance : sim::RegSubkeys(HKEY_LOCAL_MACHINE, sim::kPortsEnumPath)) {
        std::string key = std::string(sim::kPortsEnumPath) + "\\" + instance;
        auto name = sim::RegGetValue(HKEY_LOCAL_MACHINE, key + "\\Device Parameters", "PortName");
        if (name && sim::U8(name->Text()) == "COM" + std::to_string(com)) return key;
    }
    return std::nullopt;
}

// ---- Removal ----

// Ports COM5 and COM12 of the product, claimed; another maker's port whose name also ends in (COM5).
void TwoProductPorts() {
    machine::ProductInstalled();
    sim::AddPortDevice({.comNumber = 5, .record = sim::FullPortRecord(5)});
    sim::AddPortDevice({.comNumber = 12});
    sim::ClaimComNumber(5);
    sim::ClaimComNumber(12);
    sim::DeviceOptions other;
    other.instanceId = "PCI\\VEN_9710&DEV_9865\\1";
    other.hardwareIds = std::vector<std::u16string>{u"PCI\\VEN_9710&DEV_9865"};
    other.friendlyName = u"PCI Serial Port (COM5)";
    sim::AddDevice(other);
}

TEST_F(PortDevices, RemovalTakesTheDeviceItsRecordAndItsClaim) {
    TwoProductPorts();
    auto com5 = sim::PortDeviceKeys("0000", "0000");
    sim::ClearCallLog();
    EXPECT_EQ(_RemovePort(5), 0);
    EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, com5.enumKey));
    EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, com5.classKey)) << "the record goes with the driver key";
    EXPECT_EQ(sim::ClaimedComNumbers(), std::vector<DWORD>{12});
    EXPECT_TRUE(ProductDeviceOf(12));
    EXPECT_TRUE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, sim::DeviceKey("PCI\\VEN_9710&DEV_9865\\1")))
        << "another maker's (COM5) is never ours";
    // The class list is asked for every device, present or not.
    auto lists = sim::Calls("SetupDiGetClassDevsW");
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].Number("Flags"), 0u);
    auto open = sim::Calls("SetupDiOpenDeviceInfoW");
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].Text("DeviceInstanceId"), "ROOT\\PORTS\\0000");
    EXPECT_EQ(open[0].Number("OpenFlags"), DIOD_INHERIT_CLASSDRVS);
    EXPECT_EQ(sim::CallCount("SetupDiCallClassInstaller"), 0u) << "the removal record was never registered";
}

struct RemovalCase {
    const char* name;
    void (*machine)();
    DWORD port;
    ZelStatus result;
    const char* box;  // "" for none
    std::vector<DWORD> claimsAfter;
    int removedCom;   // the product COM number whose device is gone afterwards, 0 for none
};

const RemovalCase kRemovalCases[] = {
    // Port 1 does not match (COM12): the closing parenthesis is part of the pattern.
    {"NoDeviceForPort1", TwoProductPorts, 1, ZEL_ERROR_CLASS_INSTANCE_NOT_FOUND, "", {5, 12}, 0},
    {"PhantomFoundAndRemoved",
     [] {
         TwoProductPorts();
         sim::DeviceState phantom;
         phantom.present = false;
         sim::AddPortDevice({.comNumber = 7, .state = phantom});
         sim::ClaimComNumber(7);
     },
     7, 0, "", {5, 12}, 7},
    {"IdInCapitals",
     [] {
         TwoProductPorts();
         sim::AddPortDevice({.comNumber = 8, .hardwareIds = std::vector<std::u16string>{u"*ZELDEVICE"}});
     },
     8, 0, "", {5, 12}, 8},
    // The recorded INF names another class: opening the device fails without a box; the number is free.
    {"InfOfAnotherClass",
     [] {
         TwoProductPorts();
         std::string inf = machine::ProductInfWith("Class       = Ports\nClassGuid   = {4D36E978-E325-11CE-BFC1-08002BE10318}",
                                                   "Class       = Modem\nClassGuid   = {4D36E96D-E325-11CE-BFC1-08002BE10318}");
         machine::PutInf(machine::RecordedInf(), inf);
     },
     5, static_cast<ZelStatus>(ERROR_CLASS_MISMATCH), "", {12}, 0},
    {"NoInfRecorded",
     [] {
         TwoProductPorts();
         sim::RegDeleteTree(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL");
     },
     5, ERROR_PATH_NOT_FOUND, "in SetupOpenInfFile: ", {12}, 0},
};

void PrintTo(const RemovalCase& c, std::ostream* out) { *out << c.name; }

class RemovalTest : public SimTest, public testing::WithParamInterface<RemovalCase> {};

TEST_P(RemovalTest, Outcome) {
    const RemovalCase& c = GetParam();
    c.machine();
    if (*c.box) sim::ScriptMessageBox(IDOK, c.box);
    EXPECT_EQ(_RemovePort(c.port), c.result);
    EXPECT_EQ(sim::ClaimedComNumbers(), c.claimsAfter);
    if (c.removedCom) {
        EXPECT_FALSE(ProductDeviceOf(c.removedCom));
    }
    EXPECT_TRUE(ProductDeviceOf(12));
    if (c.result != 0 && c.port == 5) {
        EXPECT_TRUE(ProductDeviceOf(5)) << "the device stays";
    }
}

INSTANTIATE_TEST_SUITE_P(Machines, RemovalTest, testing::ValuesIn(kRemovalCases),
                         [](const testing::TestParamInfo<RemovalCase>& info) { return std::string(info.param.name); });

TEST_F(PortDevices, RemovalFailuresShowTheFailingCall) {
    struct Failure {
        const char* api;
        const char* box;
    };
    for (const Failure& failure : {Failure{"SetupDiOpenDeviceInfoW", "in SetupDiOpenDeviceInfo"},
                                   Failure{"SetupDiRemoveDevice", "in SetupDiRemoveDevice"}}) {
        SCOPED_TRACE(failure.api);
        sim::Reset();
        TwoProductPorts();
        sim::FailCall(failure.api, 1, ERROR_ACCESS_DENIED);
        sim::ScriptMessageBox(IDOK, failure.box);
        EXPECT_EQ(_RemovePort(5), ERROR_ACCESS_DENIED);
        EXPECT_TRUE(ProductDeviceOf(5));
        EXPECT_EQ(sim::ClaimedComNumbers(), std::vector<DWORD>{12}) << "the number is freed first";
    }
}

TEST_F(PortDevices, InstanceStringTraceLines) {
    TwoProductPorts();
    WCHAR instance[kInstanceIdChars];
    TraceSwitch = 1;
    EXPECT_EQ(GetInstanceString(12, instance), 0);
    TraceSwitch = 0;
    EXPECT_EQ(sim::U8(instance), "ROOT\\PORTS\\0001");
    std::vector<std::string> writes = sim::DebugOutputWrites();
    ASSERT_GE(writes.size(), 3u);
    EXPECT_EQ(writes.front(), "ZelIf(TRAC) GetInstanceString++ COM12\n");
    EXPECT_EQ(writes.back().rfind("ZelIf(TRAC) GetInstanceString-- ROOT\\PORTS\\0001 (00000000) ", 0), 0u) << writes.back();
    bool sawName = false;
    for (const std::string& line : writes) sawName |= line == "ZelIf(INFO) GetInstanceString Com ZEL Virtual Serial Port (COM12)\n";
    EXPECT_TRUE(sawName) << sim::DebugOutput();
}

// ---- Addition ----

// The product installed with its driver running and one port, COM3.
void RunningProduct() {
    machine::ProductInstalled();
    sim::AddPortDevice({.comNumber = 3, .record = sim::FullPortRecord(3)});
    sim::ClaimComNumber(3);
    sim::DriverLoad("4.302.7.15");
}

TEST_F(PortDevices, AdditionWithThePackageStep) {
    RunningProduct();
    sim::ClearCallLog();
    EXPECT_EQ(_AddPort(5, 1), 0);

    auto key = ProductDeviceOf(5);
    ASSERT_TRUE(key);
    EXPECT_EQ(sim::U8(sim::RegGetValue(HKEY_LOCAL_MACHINE, *key, "FriendlyName")->Text()), "ZEL Virtual Serial Port (COM5)");
    EXPECT_EQ(sim::RegGetValue(HKEY_LOCAL_MACHINE, *key + "\\Device Parameters", "PollingPeriod")->Dword(), 0u);
    EXPECT_EQ(sim::ClaimedComNumbers(), (std::vector<DWORD>{3, 5}));
    EXPECT_EQ(sim::ProfileValue("Ports", "COM5:").value_or(""), "9600,n,8,1");
    // No probe; the package is staged again and the driver updated on every product device.
    for (const sim::DriverRequest& request : sim::DriverRequests()) EXPECT_NE(request.controlCode, 0x818A41B4u);
    EXPECT_EQ(sim::CallCount("SetupCopyOEMInfW"), 1u);
    EXPECT_EQ(sim::Calls("SetupDiSetDeviceInstallParamsW")[0].Number("Flags"), 0x00810200u);
    auto update = sim::Calls("UpdateDriverForPlugAndPlayDevicesW");
    ASSERT_EQ(update.size(), 1u);
    EXPECT_EQ(update[0].Text("FullInfPath"), machine::kPackageInf) << "installed from the product folder";
    EXPECT_EQ(update[0].Number("InstallFlags"), INSTALLFLAG_FORCE);
    EXPECT_EQ(sim::CallCount("SetupDiSetClassInstallParamsW"), 0u);
    // The new port's record: the INF's defaults, with its port number.
    std::string driver = sim::U8(sim::RegGetValue(HKEY_LOCAL_MACHINE, *key, "Driver")->Text());
    std::string properties = std::string(sim::kClassPath) + "\\" + driver + "\\Properties";
    EXPECT_EQ(sim::RegGetValue(HKEY_LOCAL_MACHINE, properties, "PortNumber")->Dword(), 5u);
    EXPECT_EQ(sim::RegGetValue(HKEY_LOCAL_MACHINE, properties, "NumServices")->Dword(), 0u);
    // The update reached the earlier port too, and its configuration stayed.
    auto com3 = sim::PortDeviceKeys("0000", "0000");
    EXPECT_EQ(sim::RegGetValue(HKEY_LOCAL_MACHINE, com3.propertiesKey, "KeepAliveTime")->Dword(), 315u);
    int updated = 0;
    for (const sim::DriverInstallation& installation : sim::DriverInstallations()) updated += installation.byUpdate;
    EXPECT_EQ(updated, 2);
    EXPECT_EQ(sim::MessageBoxes().size(), 0u);
}

TEST_F(PortDevices, AdditionChoosesItsPathByTheProbe) {
    struct PathCase {
        const char* name;
        bool driverLoaded;
        DWORD installDriver;
        bool packageStep;
    };
    for (const PathCase& c : {PathCase{"DriverAbsent", false, 0, true}, PathCase{"DriverAnswering", true, 0, false},
                              PathCase{"AnyOtherValueProbes", true, 7, false}}) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        RunningProduct();
        if (!c.driverLoaded) sim::Driver().loaded = false;
        std::string staged = machine::RecordedInf();
        sim::ClearCallLog();
        EXPECT_EQ(_AddPort(5, c.installDriver), 0);
        ASSERT_TRUE(ProductDeviceOf(5));
        EXPECT_EQ(sim::CallCount("SetupCopyOEMInfW"), c.packageStep ? 1u : 0u);
        EXPECT_EQ(sim::CallCount("UpdateDriverForPlugAndPlayDevicesW"), c.packageStep ? 1u : 0u);
        EXPECT_EQ(sim::Calls("SetupDiSetDeviceInstallParamsW")[0].Number("Flags"),
                  c.packageStep ? 0x00810200u : 0x01810200u);
        EXPECT_EQ(sim::Calls("SetupOpenInfFileW")[0].Text("FileName"), c.packageStep ? machine::kPackageInf : staged);
        if (!c.packageStep) {
            auto changes = sim::Calls("SetupDiSetClassInstallParamsW");
            ASSERT_EQ(changes.size(), 2u);
            EXPECT_EQ(changes[0].Number("StateChange"), DICS_ENABLE);
            EXPECT_EQ(changes[0].Number("Scope"), DICS_FLAG_GLOBAL);
            EXPECT_EQ(changes[1].Number("StateChange"), DICS_PROPCHANGE);
            EXPECT_EQ(changes[1].Number("Scope"), DICS_FLAG_CONFIGSPECIFIC);
            EXPECT_EQ(sim::DeviceStateOf("ROOT\\PORTS\\0001").restarts, 1u);
            EXPECT_FALSE(sim::DriverInstallations().back().filesCopied);
        }
    }
}

TEST_F(PortDevices, AdditionKeepsTheUsersPortSetting) {
    RunningProduct();
    sim::SetProfileValue("Ports", "COM5:", "115200,e,7,2");
    EXPECT_EQ(_AddPort(5, 0), 0);
    EXPECT_EQ(sim::ProfileValue("Ports", "COM5:").value_or(""), "115200,e,7,2");
}

TEST_F(PortDevices, RebootBoxAfterTheUpdate) {
    RunningProduct();
    sim::SetRebootNeededAfterDriverUpdate(true);
    sim::ScriptMessageBox(IDOK, "A Reboot Is Needed!!!!");
    EXPECT_EQ(_AddPort(5, 1), 0);
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(sim::MessageBoxes()[0].caption, "AddPort Trace");
    EXPECT_EQ(sim::MessageBoxes()[0].style, MB_OK);
}

TEST_F(PortDevices, AdditionWithoutARecordToRewrite) {
    RunningProduct();
    // A package whose INF gives no defaults: the new device has no record, and none is written.
    std::string inf = machine::ProductInfWith("AddReg", "; AddReg");
    machine::PutInf(machine::kPackageInf, inf);
    EXPECT_EQ(_AddPort(5, 1), 0);
    auto key = ProductDeviceOf(5);
    ASSERT_TRUE(key);
    std::string driver = sim::U8(sim::RegGetValue(HKEY_LOCAL_MACHINE, *key, "Driver")->Text());
    EXPECT_FALSE(sim::RegGetValue(HKEY_LOCAL_MACHINE, std::string(sim::kClassPath) + "\\" + driver + "\\Properties", "PortNumber"));
}

TEST_F(PortDevices, StagingFromTheCurrentFolderWhenNoFolderIsRecorded) {
    RunningProduct();
    sim::RegDeleteTree(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL");
    sim::SetCurrentFolder("C:\\Program Files\\Kelmiso\\ZEL");
    EXPECT_EQ(_AddPort(5, 1), 0);
    auto copy = sim::Calls("SetupCopyOEMInfW");
    ASSERT_EQ(copy.size(), 1u);
    EXPECT_EQ(copy[0].Text("SourceInfFileName"), ".\\ZelDrvr\\ZelDrvr.inf");
    EXPECT_EQ(copy[0].Text("OEMSourceMediaLocation"), ".\\ZelDrvr\\");
    EXPECT_FALSE(machine::RecordedInf().empty());
}

// Every failing step of an addition: its code, its boxes, and a machine that holds nothing the failed
// addition made (no device, no claim, no registry key), whether the device was registered or not.
struct AdditionFailure {
    const char* name;
    DWORD installDriver;
    const char* api;
    DWORD error;
    std::function<bool(const sim::Call&)> when;
    std::vector<const char*> boxes;
};

bool Property(const sim::Call& call, DWORD property) { return call.Number("Property") == property; }
bool Function(const sim::Call& call, DWORD function) { return call.Number("InstallFunction") == function; }

const AdditionFailure kAdditionFailures[] = {
    {"OpenInf", 0, "SetupOpenInfFileW", ERROR_FILE_NOT_FOUND, nullptr, {"in SetupOpenInfFile: "}},
    {"Register", 0, "SetupDiCallClassInstaller", ERROR_GEN_FAILURE,
     [](const sim::Call& c) { return Function(c, DIF_REGISTERDEVICE); }, {"in RegisterDevice"}},
    {"DriverList", 0, "SetupDiBuildDriverInfoList", ERROR_GEN_FAILURE, nullptr, {"in SetupDiBuildDriverInfoList"}},
    {"SelectDriver", 1, "SetupDiSetSelectedDriverW", ERROR_INVALID_PARAMETER, nullptr, {"in SetupDiSetSelectedDriver"}},
    {"DatabaseOpen", 0, "ComDBOpen", ERROR_ACCESS_DENIED, [](const sim::Call&) { return true; }, {"in InstallDevice"}},
    {"Claim", 0, "ComDBClaimPort", ERROR_SHARING_VIOLATION, nullptr, {"in InstallDevice"}},
    {"HardwareKey", 0, "SetupDiCreateDevRegKeyW", ERROR_ACCESS_DENIED, nullptr, {"in InstallDevice"}},
    // Without its PortName the device would be no port anybody finds: the addition fails.
    {"PortName", 0, "RegSetValueExW", ERROR_ACCESS_DENIED,
     [](const sim::Call& c) { return c.Text("lpValueName") == "PortName"; }, {"in InstallDevice"}},
    {"FriendlyName", 0, "SetupDiSetDeviceRegistryPropertyW", ERROR_GEN_FAILURE,
     [](const sim::Call& c) { return Property(c, SPDRP_FRIENDLYNAME); }, {"in InstallDevice"}},
    {"InstallDevice", 0, "SetupDiInstallDevice", ERROR_GEN_FAILURE, nullptr, {"in InstallDevice"}},
    {"Enable", 0, "SetupDiSetClassInstallParamsW", ERROR_GEN_FAILURE, nullptr, {"in SetupDiSetClassInstallParams(1)"}},
    {"Restart", 0, "SetupDiCallClassInstaller", ERROR_GEN_FAILURE,
     [](const sim::Call& c) { return Function(c, DIF_PROPERTYCHANGE); }, {"in SetupDiCallClassInstaller(1)"}},
    {"UpdateDriver", 1, "UpdateDriverForPlugAndPlayDevicesW", ERROR_NO_SUCH_DEVINST, nullptr, {"in UpdateDriver"}},
};

void PrintTo(const AdditionFailure& c, std::ostream* out) { *out << c.name; }

class AdditionFailureTest : public SimTest, public testing::WithParamInterface<AdditionFailure> {};

TEST_P(AdditionFailureTest, LeavesNothingBehind) {
    const AdditionFailure& c = GetParam();
    RunningProduct();
    std::string registryBefore = sim::RegDump(HKEY_LOCAL_MACHINE, "System");
    sim::Fault fault;
    fault.api = c.api;
    fault.error = c.error;
    fault.when = c.when;
    sim::InjectFault(fault);
    for (const char* box : c.boxes) sim::ScriptMessageBox(IDOK, box);

    EXPECT_EQ(_AddPort(5, c.installDriver), static_cast<ZelStatus>(c.error));
    EXPECT_EQ(sim::RegDump(HKEY_LOCAL_MACHINE, "System"), registryBefore);
    EXPECT_FALSE(ProductDeviceOf(5));
    EXPECT_EQ(sim::ClaimedComNumbers(), std::vector<DWORD>{3});
    EXPECT_TRUE(ProductDeviceOf(3)) << "the other port is untouched";
}

INSTANTIATE_TEST_SUITE_P(Steps, AdditionFailureTest, testing::ValuesIn(kAdditionFailures),
                         [](const testing::TestParamInfo<AdditionFailure>& info) { return std::string(info.param.name); });

TEST_F(PortDevices, RestartFailureWithoutAnErrorCode) {
    RunningProduct();
    sim::FailCall("SetupDiSetClassInstallParamsW", 1, ERROR_SUCCESS);
    sim::ScriptMessageBox(IDOK, "in SetupDiSetClassInstallParams(1)");
    EXPECT_EQ(_AddPort(5, 0), ERROR_GEN_FAILURE);
    EXPECT_EQ(sim::CallCount("SetupDiSetClassInstallParamsW"), 1u) << "the second request is not made";
    EXPECT_FALSE(ProductDeviceOf(5));
    EXPECT_EQ(sim::ClaimedComNumbers(), std::vector<DWORD>{3});
}

TEST_F(PortDevices, AdditionFailureTraceOrder) {
    RunningProduct();
    sim::FailCall("UpdateDriverForPlugAndPlayDevicesW", 1, ERROR_NO_SUCH_DEVINST);
    sim::ScriptMessageBox(IDOK, "in UpdateDriver");
    TraceSwitch = 1;
    EXPECT_EQ(_AddPort(5, 1), static_cast<ZelStatus>(ERROR_NO_SUCH_DEVINST));
    TraceSwitch = 0;
    // The clean-up, then the box, then the error line.
    std::vector<std::string> writes = sim::DebugOutputWrites();
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[writes.size() - 2], "ZelIf(TRAC) CleanupOnError--\n");
    EXPECT_EQ(writes.back().rfind("ZelIf(ERR_) _AddPortError-- Port 5 (E000020B) ", 0), 0u) << writes.back();
}

}  // namespace
