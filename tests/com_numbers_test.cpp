// COM number accounting: which numbers the database, the other serial devices and the SerialComm map
// hold, and giving a number back.
#include <set>
#include <string>
#include <vector>

#include "devinst/com_numbers.h"
#include "platform/guard.h"
#include "tests/sim_fixture.h"
#include "winsim/devices.h"
#include "winsim/port_devices.h"

namespace {

using Numbers = std::set<int>;
using ComNumbers = SimTest;

// An entry the scans must leave alone: they only ever set entries.
constexpr int kPresetEntry = 200;

struct UsageMap {
    PortUsageMap entries = {};
    UsageMap() { entries[kPresetEntry - 1] = 7; }
    Numbers Marked() const {
        Numbers marked;
        for (int n = 1; n <= static_cast<int>(kPortUsageEntries); ++n)
            if (n != kPresetEntry && entries[n - 1]) marked.insert(n);
        return marked;
    }
};

std::vector<uint8_t> Utf16(std::u16string_view text, bool terminated = true) {
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    if (terminated) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// A Ports device of another maker; the options say which of the counting rules hold for it.
sim::DeviceOptions OtherDevice(std::string instanceId) {
    sim::DeviceOptions options;
    options.instanceId = std::move(instanceId);
    options.hardwareIds = std::vector<std::u16string>{u"PCI\\VEN_9710&DEV_9865"};
    return options;
}

struct ScanCase {
    const char* name;
    void (*machine)();
    Numbers marked;
};

const ScanCase kScanCases[] = {
    {"NoDevices", [] {}, {}},
    {"MotherboardPorts",
     [] {
         sim::AddMotherboardPort(1, 0x3F8);
         sim::AddMotherboardPort(2, 0x2F8);
     },
     {1, 2}},
    {"UsbAdapterByFriendlyName", [] { sim::AddUsbSerialAdapter(7); }, {7}},
    {"ModemIsNotAPortsDevice", [] { sim::AddModem(2); }, {}},
    // LPT1 counts by its PortName, has no COM in it, and its resources at 0x378 name no serial port.
    {"PrinterPortMarksNothing", [] { sim::AddPrinterPort(); }, {}},
    {"Com0FallsBackToResources",
     [] {
         auto device = OtherDevice("ACPI\\PNP0501\\1");
         device.parameters = {{"PortName", u"COM0"}};
         device.state.bootIoResource = sim::IoResource(0x3F8);
         sim::AddDevice(device);
     },
     {1}},
    {"DosDeviceName",
     [] {
         auto device = OtherDevice("PCI\\VEN_9710&DEV_9865\\1");
         device.parameters = {{"DosDeviceName", u"\\\\.\\COM12"}};
         sim::AddDevice(device);
     },
     {12}},
    {"PortNameBeforeDosDeviceName",
     [] {
         auto device = OtherDevice("PCI\\VEN_9710&DEV_9865\\1");
         device.parameters = {{"PortName", u"com5"}, {"DosDeviceName", u"COM6"}};
         sim::AddDevice(device);
     },
     {5}},
    {"FirstComInTheName",
     [] {
         auto device = OtherDevice("PCI\\VEN_9710&DEV_9865\\1");
         device.parameters = {{"PortName", u"XCOM7COM8"}};
         sim::AddDevice(device);
     },
     {7}},
    // A negative number is not 0: it marks nothing and does not fall back to the resources.
    {"NegativeNumberMarksNothing",
     [] {
         auto device = OtherDevice("ACPI\\PNP0501\\1");
         device.parameters = {{"PortName", u"COM-3"}};
         device.state.bootIoResource = sim::IoResource(0x3F8);
         sim::AddDevice(device);
     },
     {}},
    {"OutsideTheMap",
     [] {
         for (auto [id, name] : {std::pair{"1", u"COM300"}, {"2", u"COM256"}, {"3", u"COM99999999999"}}) {
             auto device = OtherDevice(std::string("PCI\\VEN_9710&DEV_9865\\") + id);
             device.parameters = {{"PortName", name}};
             sim::AddDevice(device);
         }
     },
     {256}},
    {"ProductPortsSkipped",
     [] {
         sim::AddPortDevice({.comNumber = 9});
         sim::AddPortDevice({.comNumber = 10, .hardwareIds = std::vector<std::u16string>{u"*ZELDEVICE"}});
     },
     {}},
    {"PhantomNotListed",
     [] {
         auto device = OtherDevice("PCI\\VEN_9710&DEV_9865\\1");
         device.parameters = {{"PortName", u"COM6"}};
         device.state.present = false;
         sim::AddDevice(device);
     },
     {}},
    {"NoHardwareIdSkipped",
     [] {
         auto device = OtherDevice("PCI\\VEN_9710&DEV_9865\\1");
         device.hardwareIds.reset();
         device.parameters = {{"PortName", u"COM6"}};
         sim::AddDevice(device);
     },
     {}},
    // A root instance that the firmware reported (its devnode is not root-enumerated) counts, and its
    // boot configuration names the port; a truly root-enumerated one falls to its friendly name.
    {"RootInstanceFromFirmware",
     [] {
         auto device = OtherDevice("ROOT\\*PNP0501\\0000");
         device.state.status = DN_STARTED;
         device.state.bootIoResource = sim::IoResource(0x2E8);
         device.friendlyName = u"Serial (COM9)";
         sim::AddDevice(device);
     },
     {4}},
    {"RootEnumeratedUsesFriendlyName",
     [] {
         auto device = OtherDevice("ROOT\\*PNP0501\\0000");
         device.state.bootIoResource = sim::IoResource(0x2E8);
         device.friendlyName = u"Serial (COM9)";
         sim::AddDevice(device);
     },
     {9}},
    {"FirmwareIdentified",
     [] {
         auto device = OtherDevice("PCI\\VEN_9710&DEV_9865\\1");
         device.state.bootIoResource = sim::IoResource(0x3E8);
         std::string key = sim::AddDevice(device);
         sim::RegSetDword(HKEY_LOCAL_MACHINE, key + "\\Device Parameters", "FirmwareIdentified", 1);
     },
     {3}},
    {"NotCountedUsesFriendlyName",
     [] {
         auto device = OtherDevice("PCI\\VEN_9710&DEV_9865\\1");
         device.friendlyName = u"PCI Serial Port (COM11)";
         device.state.bootIoResource = sim::IoResource(0x3F8);
         sim::AddDevice(device);
     },
     {11}},
    // "Standard Modem" loses its last character, and the search stops at the M of MODE: no digits.
    {"FriendlyNamesThatNameNoPort",
     [] {
         const char16_t* names[] = {u"Standard Modem", u"(COM1)", u"M7xxxx)", u"Port COM"};
         int i = 0;
         for (const char16_t* name : names) {
             auto device = OtherDevice("PCI\\VEN_9710&DEV_9865\\" + std::to_string(++i));
             device.hardwareKey = false;
             device.friendlyName = name;
             sim::AddDevice(device);
         }
     },
     {}},
    {"ShortestFriendlyNameThatCounts",
     [] {
         auto device = OtherDevice("PCI\\VEN_9710&DEV_9865\\1");
         device.hardwareKey = false;
         device.friendlyName = u"A(COM1)";
         sim::AddDevice(device);
     },
     {1}},
    // Values that fill their buffers without a terminator are read within them.
    {"UnterminatedValuesFillingTheirBuffers",
     [] {
         auto device = OtherDevice("PCI\\VEN_9710&DEV_9865\\1");
         std::string key = sim::AddDevice(device);
         sim::RegSetRaw(HKEY_LOCAL_MACHINE, key + "\\Device Parameters", "PortName", REG_SZ,
                        Utf16(u"COM2" + std::u16string(36, u'x'), false));
         auto named = OtherDevice("PCI\\VEN_9710&DEV_9865\\2");
         named.hardwareKey = false;
         std::string namedKey = sim::AddDevice(named);
         sim::RegSetRaw(HKEY_LOCAL_MACHINE, namedKey, "FriendlyName", REG_SZ,
                        Utf16(std::u16string(506, u'x') + u"(COM9)", false));
         sim::RegSetRaw(HKEY_LOCAL_MACHINE, namedKey, "HardwareID", REG_MULTI_SZ, Utf16(std::u16string(512, u'z'), false));
     },
     {2, 9}},
    {"ValuesTooLongForTheirBuffers",
     [] {
         auto device = OtherDevice("PCI\\VEN_9710&DEV_9865\\1");
         device.state.bootIoResource = sim::IoResource(0x2F8);
         std::string key = sim::AddDevice(device);
         // 41 characters: PortName cannot be read; nothing else counts it, and it has no friendly name.
         sim::RegSetString(HKEY_LOCAL_MACHINE, key + "\\Device Parameters", "PortName", u"COM5" + std::u16string(37, u'x'));
         auto named = OtherDevice("PCI\\VEN_9710&DEV_9865\\2");
         named.hardwareKey = false;
         std::string namedKey = sim::AddDevice(named);
         sim::RegSetString(HKEY_LOCAL_MACHINE, namedKey, "FriendlyName", std::u16string(506, u'x') + u"(COM9)");
     },
     {}},
    // A PortName of another type is read as text all the same: a DWORD 5 names no COM port.
    {"PortNameOfTheWrongType",
     [] {
         auto device = OtherDevice("ACPI\\PNP0501\\1");
         std::string key = sim::AddDevice(device);
         sim::RegSetDword(HKEY_LOCAL_MACHINE, key + "\\Device Parameters", "PortName", 5);
     },
     {}},
    {"ShortAndLongIoDescriptors",
     [] {
         auto shortOne = OtherDevice("ACPI\\PNP0501\\1");
         shortOne.parameters = {{"PortName", u"LPT1"}};
         shortOne.state.bootIoResource = sim::IoResource(0x3F8);
         shortOne.state.bootIoResource->resize(8);  // the header up to its base
         sim::AddDevice(shortOne);
         auto longOne = OtherDevice("ACPI\\PNP0501\\2");
         longOne.parameters = {{"PortName", u"LPT2"}};
         longOne.state.bootIoResource = sim::IoResource(0x2F8);
         longOne.state.bootIoResource->resize(68 + 40);  // a second range: too large for one IO_RESOURCE
         sim::AddDevice(longOne);
     },
     {}},
};

void PrintTo(const ScanCase& c, std::ostream* out) { *out << c.name; }

class DeviceScanTest : public SimTest, public testing::WithParamInterface<ScanCase> {};

TEST_P(DeviceScanTest, MarksTheNumbersOtherDevicesHold) {
    GetParam().machine();
    sim::ClearCallLog();
    UsageMap map;

    EXPECT_EQ(GetOtherPorts(map.entries), 0);
    EXPECT_EQ(map.Marked(), GetParam().marked);
    EXPECT_EQ(map.entries[kPresetEntry - 1], 7);
    ASSERT_EQ(sim::CallCount("SetupDiGetClassDevsW"), 1u);
    EXPECT_EQ(sim::Calls("SetupDiGetClassDevsW")[0].Number("Flags"), DIGCF_PRESENT | DIGCF_PROFILE);
    EXPECT_EQ(sim::Calls("SetupDiGetClassDevsW")[0].Text("ClassGuid"), "{4D36E978-E325-11CE-BFC1-08002BE10318}");
    for (const sim::Call& call : sim::Calls("SetupDiOpenDevRegKey")) {
        EXPECT_EQ(call.Number("samDesired"), KEY_READ);
        EXPECT_EQ(call.Number("KeyType"), DIREG_DEV);
        EXPECT_EQ(call.Number("Scope"), DICS_FLAG_GLOBAL);
    }
    EXPECT_EQ(sim::DebugOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(Machines, DeviceScanTest, testing::ValuesIn(kScanCases),
                         [](const testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

struct IoBaseCase {
    uint64_t base;
    DWORD comNumber;
};

TEST_F(ComNumbers, ResourcesNameTheFourStandardPorts) {
    const IoBaseCase cases[] = {{0x3F8, 1}, {0x3FF, 1}, {0x2F8, 2}, {0x2FF, 2}, {0x3E8, 3}, {0x3EF, 3},
                                {0x2E8, 4}, {0x2EF, 4}, {0x3F0, 0}, {0x378, 0}, {0x2E0, 0}, {0x1003F8, 1}};
    for (const IoBaseCase& c : cases) {
        SCOPED_TRACE(c.base);
        sim::Reset();
        auto device = OtherDevice("ACPI\\PNP0501\\1");
        device.state.bootIoResource = sim::IoResource(c.base);
        sim::AddDevice(device);
        DEVINST node = sim::DeviceNode("ACPI\\PNP0501\\1");
        EXPECT_EQ(DetermineComNumberFromResources(node), c.comNumber);
        EXPECT_EQ(sim::LeakReport(), "");
    }
}

TEST_F(ComNumbers, NoResourcesNoNumber) {
    auto device = OtherDevice("ACPI\\PNP0501\\1");
    sim::AddDevice(device);
    EXPECT_EQ(DetermineComNumberFromResources(sim::DeviceNode("ACPI\\PNP0501\\1")), 0u);
    EXPECT_EQ(DetermineComNumberFromResources(0xDEAD), 0u) << "an unknown devnode";
    device.instanceId = "ACPI\\PNP0501\\2";
    device.state.bootIoResource = sim::IoResource(0x3F8);
    sim::AddDevice(device);
    for (const char* api : {"CM_Get_Next_Res_Des", "CM_Get_Res_Des_Data"}) {
        SCOPED_TRACE(api);
        sim::FailCall(api, 1, CR_FAILURE);
        EXPECT_EQ(DetermineComNumberFromResources(sim::DeviceNode("ACPI\\PNP0501\\2")), 0u);
        sim::ClearFaults();
        EXPECT_EQ(sim::LeakReport(), "") << "the configuration handles are freed";
    }
}

struct SerialCommCase {
    const char* name;
    std::vector<uint8_t> data;
    Numbers marked;
};

const SerialCommCase kSerialCommCases[] = {
    {"Com1", Utf16(u"COM1"), {1}},
    {"Com255", Utf16(u"COM255"), {255}},
    {"Com256NeverMarked", Utf16(u"COM256"), {}},
    {"Com0", Utf16(u"COM0"), {}},
    {"Lpt1", Utf16(u"LPT1"), {}},
    {"DevicePath", Utf16(u"\\\\.\\COM12"), {}},
    {"SecondCharacterNotExamined", Utf16(u"C-M7"), {7}},
    {"NoFourthCharacter", Utf16(u"COM"), {}},
    {"TrailingText", Utf16(u"COM12abc"), {12}},
    {"Negative", Utf16(u"COM-4"), {}},
    {"BeyondTheSignedRange", Utf16(u"COM4294967297"), {}},
    {"FillsTheBufferUnterminated", Utf16(u"COM9" + std::u16string(252, u'x'), false), {9}},
    {"TooLongForTheBuffer", Utf16(u"COM9" + std::u16string(253, u'x'), false), {}},
    {"OddLength", {'C', 0, 'O', 0, 'M', 0, '3'}, {3}},
};

void PrintTo(const SerialCommCase& c, std::ostream* out) { *out << c.name; }

class SerialCommTest : public SimTest, public testing::WithParamInterface<SerialCommCase> {};

TEST_P(SerialCommTest, MarksTheNumberItsDataNames) {
    sim::RegSetRaw(HKEY_LOCAL_MACHINE, sim::kSerialCommPath, "\\Device\\Serial0", REG_SZ, GetParam().data);
    UsageMap map;
    SearchHardwareSerialComm(map.entries);
    EXPECT_EQ(map.Marked(), GetParam().marked);
    EXPECT_EQ(map.entries[kPresetEntry - 1], 7);
    for (const sim::Call& call : sim::Calls("RegOpenKeyExW")) EXPECT_EQ(call.Number("samDesired"), KEY_READ);
}

INSTANTIATE_TEST_SUITE_P(Values, SerialCommTest, testing::ValuesIn(kSerialCommCases),
                         [](const testing::TestParamInfo<SerialCommCase>& info) { return std::string(info.param.name); });

TEST_F(ComNumbers, SerialCommWalkEndsAtAnyFailure) {
    UsageMap map;
    SearchHardwareSerialComm(map.entries);  // no key: nothing marked, nothing reported
    EXPECT_EQ(map.Marked(), Numbers{});

    sim::AddSerialCommEntry("\\Device\\Serial0", u"COM1");
    sim::AddSerialCommEntry(std::string(256, 'n'), u"COM2");  // a name too long for the name buffer
    sim::AddSerialCommEntry("\\Device\\Serial2", u"COM3");
    sim::RegSetDword(HKEY_LOCAL_MACHINE, sim::kSerialCommPath, "Number", 0x004D0043);  // "CM" as a DWORD
    SearchHardwareSerialComm(map.entries);
    EXPECT_EQ(map.Marked(), Numbers{1}) << "the walk stops at the name it cannot read";
}

TEST_F(ComNumbers, SerialCommTraceLines) {
    sim::AddSerialCommEntry("\\Device\\Serial0", u"COM2");
    sim::AddSerialCommEntry("\\Device\\Parallel", u"LPT1");
    UsageMap map;
    TraceSwitch = 1;
    SearchHardwareSerialComm(map.entries);
    TraceSwitch = 0;
    std::vector<std::string> expected = {
        "ZelIf(TRAC) SearchHardwareSerialComm++\n",
        "ZelIf(INFO) SearchHardwareSerialComm pname \\Device\\Serial0\n",
        "ZelIf(INFO) SearchHardwareSerialComm comPortNumber 2\n",
        "ZelIf(INFO) SearchHardwareSerialComm pname \\Device\\Parallel\n",
        "ZelIf(ERR_) SearchHardwareSerialComm-- (00000103) ",
    };
    std::vector<std::string> writes = sim::DebugOutputWrites();
    ASSERT_EQ(writes.size(), expected.size()) << sim::DebugOutput();
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(writes[i].substr(0, expected[i].size()), expected[i]);
}

// The usage map of a machine with a bit of everything: claims, devices without claims, SerialComm.
void MixedMachine() {
    sim::ClaimComNumber(3);
    sim::ClaimComNumber(5);
    sim::AddPortDevice({.comNumber = 3});
    sim::AddPortDevice({.comNumber = 5});
    sim::AddMotherboardPort(1, 0x3F8);
    sim::AddUsbSerialAdapter(4);
    sim::AddSerialCommEntry("\\Device\\Serial1", u"COM2");
}

TEST_F(ComNumbers, UsageJoinsTheDatabaseAndTheScans) {
    MixedMachine();
    UsageMap map;
    DWORD reported = 0;
    EXPECT_EQ(_GetPortUsage(map.entries, kPortUsageEntries, &reported), 0);
    EXPECT_EQ(reported, 256u);
    EXPECT_EQ(map.Marked(), (Numbers{1, 2, 3, 4, 5}));
    EXPECT_EQ(map.entries[kPresetEntry - 1], 0) << "the database reports every entry, free ones as 0";
    ASSERT_EQ(sim::CallCount("ComDBGetCurrentPortUsage"), 1u);
    EXPECT_EQ(sim::Calls("ComDBGetCurrentPortUsage")[0].Number("ReportType"), CDB_REPORT_BYTES);
    EXPECT_EQ(sim::Calls("ComDBGetCurrentPortUsage")[0].Number("BufferSize"), kPortUsageEntries);
}

TEST_F(ComNumbers, UsageWithoutAMapAsksOnlyTheDatabase) {
    MixedMachine();
    sim::SetComDbSize(1024);
    sim::ClearCallLog();
    DWORD reported = 0;
    EXPECT_EQ(_GetPortUsage(nullptr, 0, &reported), 0);
    EXPECT_EQ(reported, 1024u);
    std::vector<std::string> apis;
    for (const sim::Call& call : sim::Calls()) apis.push_back(call.api);
    EXPECT_EQ(apis, (std::vector<std::string>{"ComDBOpen", "ComDBGetCurrentPortUsage", "ComDBClose"}));
}

TEST_F(ComNumbers, UsageIntoASmallMapStaysWithinIt) {
    MixedMachine();
    std::vector<BYTE> small(4, 0xEE);
    DWORD reported = 0;
    EXPECT_EQ(_GetPortUsage(small.data(), static_cast<DWORD>(small.size()), &reported), 0);
    EXPECT_EQ(reported, 4u);
    EXPECT_EQ(small, (std::vector<BYTE>{1, 1, 1, 1}));
}

struct UsageFailureCase {
    const char* name;
    const char* api;
    DWORD error;
    ZelStatus result;
    Numbers marked;  // what the map holds afterwards, when it may be used
    bool scans;
};

const UsageFailureCase kUsageFailures[] = {
    {"DatabaseOpen", "ComDBOpen", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, {}, false},
    {"DatabaseQuery", "ComDBGetCurrentPortUsage", ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER, {}, false},
    // The SerialComm scan still runs and its marks join the database's.
    {"DeviceList", "SetupDiGetClassDevsW", ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY, {2, 3, 5}, true},
    // Failures about one device only lose that device.
    {"HardwareKey", "SetupDiOpenDevRegKey", ERROR_KEY_DOES_NOT_EXIST, 0, {1, 2, 3, 4, 5}, true},
    {"Property", "SetupDiGetDeviceRegistryPropertyW", ERROR_INVALID_DATA, 0, {2, 3, 4, 5}, true},
    {"SerialCommKey", "RegOpenKeyExW", ERROR_ACCESS_DENIED, 0, {1, 3, 4, 5}, true},
};

void PrintTo(const UsageFailureCase& c, std::ostream* out) { *out << c.name; }

class UsageFailureTest : public SimTest, public testing::WithParamInterface<UsageFailureCase> {};

TEST_P(UsageFailureTest, ReportsWhatFailedAndReleasesEverything) {
    const UsageFailureCase& c = GetParam();
    MixedMachine();
    sim::FailCall(c.api, 1, c.error);
    UsageMap map;
    DWORD reported = 0;
    EXPECT_EQ(_GetPortUsage(map.entries, kPortUsageEntries, &reported), c.result);
    if (c.scans) {
        EXPECT_EQ(map.Marked(), c.marked);
    }
    EXPECT_EQ(sim::CallCount("SetupDiGetClassDevsW") + sim::CallCount("RegOpenKeyExW") > 0, c.scans);
    EXPECT_EQ(sim::CallCount("ComDBOpen"), sim::CallCount("ComDBClose") + (c.api == std::string("ComDBOpen")));
}

INSTANTIATE_TEST_SUITE_P(Failures, UsageFailureTest, testing::ValuesIn(kUsageFailures),
                         [](const testing::TestParamInfo<UsageFailureCase>& info) { return std::string(info.param.name); });

// Every call of the accounting fails once in turn: the result is 0 or the injected error, and nothing
// stays open whatever failed.
TEST_F(ComNumbers, UsageFaultSweep) {
    for (unsigned nth = 1;; ++nth) {
        SCOPED_TRACE(nth);
        sim::Reset();
        MixedMachine();
        sim::ClearCallLog();
        sim::FailCall("*", nth, ERROR_GEN_FAILURE);
        UsageMap map;
        DWORD reported = 0;
        ZelStatus result = _GetPortUsage(map.entries, kPortUsageEntries, &reported);
        EXPECT_TRUE(result == 0 || result == ERROR_GEN_FAILURE) << result;
        EXPECT_EQ(sim::LeakReport(), "");
        if (sim::FaultsInjected() == 0) break;
        // A lost device or value can only unmark numbers, never mark others.
        if (result == 0) {
            for (int n : map.Marked()) EXPECT_TRUE((Numbers{1, 2, 3, 4, 5}).count(n)) << n;
        }
    }
}

TEST_F(ComNumbers, UsageTraceLines) {
    sim::AddMotherboardPort(1, 0x3F8);
    sim::AddPrinterPort();
    UsageMap map;
    DWORD reported = 0;
    TraceSwitch = 1;
    _GetPortUsage(map.entries, kPortUsageEntries, &reported);
    sim::FailCall("ComDBOpen", 1, ERROR_ACCESS_DENIED);
    _GetPortUsage(map.entries, kPortUsageEntries, &reported);
    TraceSwitch = 0;
    std::vector<std::string> expected = {
        "ZelIf(TRAC) _GetPortUsage++\n",
        "ZelIf(TRAC) GetOtherPorts++\n",
        "ZelIf(TRAC) DetermineComNumberFromResources++\n",  // the printer port: LPT1 names no number
        "ZelIf(TRAC) DetermineComNumberFromResources-- (00000000) ",
        "ZelIf(TRAC) GetOtherPorts-- (00000000) ",
        "ZelIf(TRAC) SearchHardwareSerialComm++\n",
        "ZelIf(ERR_) SearchHardwareSerialComm-- (00000002) ",
        "ZelIf(TRAC) _GetPortUsage-- (00000000) ",
        "ZelIf(TRAC) _GetPortUsage++\n",
        "ZelIf(TRAC) _GetPortUsageError--\n",
    };
    std::vector<std::string> writes = sim::DebugOutputWrites();
    ASSERT_EQ(writes.size(), expected.size()) << sim::DebugOutput();
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(writes[i].substr(0, expected[i].size()), expected[i]);
}

TEST_F(ComNumbers, DeviceListFailureTraceLine) {
    sim::FailCall("SetupDiGetClassDevsW", 1, ERROR_NOT_ENOUGH_MEMORY);
    UsageMap map;
    TraceSwitch = 1;
    EXPECT_EQ(GetOtherPorts(map.entries), ERROR_NOT_ENOUGH_MEMORY);
    TraceSwitch = 0;
    std::vector<std::string> writes = sim::DebugOutputWrites();
    ASSERT_EQ(writes.size(), 2u) << sim::DebugOutput();
    EXPECT_EQ(writes[1].rfind("ZelIf(ERR_) GetOtherPorts-- Error (SetupDiGetClassDevs) (00000008) ", 0), 0u) << writes[1];
}

TEST_F(ComNumbers, ReleaseGivesTheNumberBack) {
    sim::ClaimComNumber(5);
    sim::ClaimComNumber(6);
    EXPECT_EQ(_ReleasePort(5), 0);
    EXPECT_EQ(sim::ClaimedComNumbers(), std::vector<DWORD>{6});
    EXPECT_EQ(_ReleasePort(5), 0) << "a free number releases again";
    EXPECT_EQ(_ReleasePort(300), ERROR_INVALID_PARAMETER) << "outside the database";
    sim::FailCall("ComDBOpen", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(_ReleasePort(6), ERROR_ACCESS_DENIED);
    sim::FailCall("ComDBReleasePort", 1, ERROR_GEN_FAILURE);
    EXPECT_EQ(_ReleasePort(6), ERROR_GEN_FAILURE);
    EXPECT_EQ(sim::ClaimedComNumbers(), std::vector<DWORD>{6});
    EXPECT_EQ(sim::CallCount("ComDBOpen"), sim::CallCount("ComDBClose") + 1);
}

// On Windows a fault inside the platform comes back through the guard as its code.
TEST_F(ComNumbers, FaultInTheDatabaseEndsTheGuardedCall) {
    sim::RaiseInCall("ComDBGetCurrentPortUsage", 1, 0x80000100);
    struct Context {
        UsageMap map;
        DWORD reported = 0;
    } context;
    DWORD code = ZelRunGuarded(
        [](void* p) {
            auto* c = static_cast<Context*>(p);
            _GetPortUsage(c->map.entries, kPortUsageEntries, &c->reported);
        },
        &context);
    EXPECT_EQ(code, 0x80000100u);
    // The guard releases nothing: the database handle opened before the fault stays open.
    EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::ComDatabase), 1u);
    sim::Reset();
}

}  // namespace
