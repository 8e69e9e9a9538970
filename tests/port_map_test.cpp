// The port map: the product's ports from the registry, sorted by COM number.
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "portstore/port_map.h"
#include "tests/sim_fixture.h"
#include "winsim/port_devices.h"

namespace {

constexpr uint8_t kFill = 0xA5;

std::unique_ptr<PortMap> FilledMap() {
    auto map = std::make_unique<PortMap>();
    std::memset(map.get(), kFill, sizeof *map);
    return map;
}

std::u16string Text(const WCHAR* text) { return std::u16string(reinterpret_cast<const char16_t*>(text)); }

using Entries = std::vector<std::pair<DWORD, std::u16string>>;

Entries Filled(const PortMap& map) {
    Entries entries;
    for (DWORD i = 0; i < map.NumPorts && i < kPortMapEntries; ++i)
        entries.emplace_back(map.Entries[i].PortNumber, Text(map.Entries[i].PortName));
    return entries;
}

void ExpectClearFrom(const PortMap& map, DWORD first) {
    for (DWORD i = first; i < kPortMapEntries; ++i) {
        EXPECT_EQ(map.Entries[i].PortNumber, 0u) << "entry " << i;
        EXPECT_EQ(map.Entries[i].PortName[0], 0) << "entry " << i;
    }
}

sim::PortDevice Named(std::u16string name) {
    sim::PortDeviceOptions options;
    options.portName = std::move(name);
    return sim::AddPortDevice(options);
}

struct MapCase {
    const char* name;
    void (*machine)();
    Entries entries;
};

const MapCase kMapCases[] = {
    {"NoPortsKey", [] {}, {}},
    {"NoProductDevices",
     [] { sim::AddPortDevice({.comNumber = 1, .hardwareIds = std::vector<std::u16string>{u"ACPI\\PNP0501"}}); }, {}},
    {"SortedByNumber",
     [] {
         Named(u"COM7");
         Named(u"COM3");
         Named(u"COM12");
     },
     {{3, u"COM3"}, {7, u"COM7"}, {12, u"COM12"}}},
    // A name without digits gives 0, sorted first; a negative number sorts after every other one.
    {"ZeroAndNegative",
     [] {
         Named(u"COM-2");
         Named(u"COM9");
         Named(u"COM");
         Named(u"COM12x");
     },
     {{0, u"COM"}, {9, u"COM9"}, {12, u"COM12x"}, {static_cast<DWORD>(-2), u"COM-2"}}},
    // Ports that share a number keep the order the registry lists them in.
    {"EqualNumbersKeepTheirOrder",
     [] {
         Named(u"COM9");
         Named(u"COM4");
         Named(u"COM2");
         Named(u"COM04");
         Named(u"COM1");
         Named(u"COM004");
     },
     {{1, u"COM1"}, {2, u"COM2"}, {4, u"COM4"}, {4, u"COM04"}, {4, u"COM004"}, {9, u"COM9"}}},
    {"UnreadableDevicesLeftOut",
     [] {
         Named(u"COM10000");  // 8 characters: too long for the map
         Named(u"COM6");
         sim::AddPortDevice({.comNumber = 7, .deviceParameters = false});
         sim::AddPortDevice({.comNumber = 8, .writePortName = false});
         sim::AddPortDevice({.comNumber = 9, .hardwareIds = std::nullopt});
         auto device = Named(u"COM1");
         // Seven characters and no terminator fit; eight without one do not.
         sim::RegSetRaw(HKEY_LOCAL_MACHINE, device.parametersKey, "PortName", REG_SZ,
                        {'C', 0, 'O', 0, 'M', 0, '1', 0, '2', 0, '3', 0, '4', 0});
         device = Named(u"COM2");
         sim::RegSetRaw(HKEY_LOCAL_MACHINE, device.parametersKey, "PortName", REG_SZ,
                        {'C', 0, 'O', 0, 'M', 0, '1', 0, '2', 0, '3', 0, '4', 0, '5', 0});
         Named(u"COM1000");
     },
     {{6, u"COM6"}, {1000, u"COM1000"}, {1234, u"COM1234"}}},
    {"DefaultMachine", [] { sim::LoadDefaultMachine(); }, {{3, u"COM3"}, {5, u"COM5"}}},
};

void PrintTo(const MapCase& c, std::ostream* out) { *out << c.name; }

class PortMapCaseTest : public SimTest, public testing::WithParamInterface<MapCase> {};

TEST_P(PortMapCaseTest, Entries) {
    const MapCase& c = GetParam();
    c.machine();
    sim::ClearCallLog();
    auto map = FilledMap();

    EXPECT_EQ(InitPortMap(map.get()), 0);
    EXPECT_EQ(map->NumPorts, c.entries.size());
    EXPECT_EQ(Filled(*map), c.entries);
    ExpectClearFrom(*map, map->NumPorts);
    for (const sim::Call& call : sim::Calls("RegOpenKeyExW")) EXPECT_EQ(call.Number("samDesired"), KEY_READ);
    for (const sim::Call& call : sim::Calls("RegQueryValueExW")) EXPECT_NE(call.Text("lpValueName"), "Driver");
    EXPECT_EQ(sim::DebugOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(Machines, PortMapCaseTest, testing::ValuesIn(kMapCases),
                         [](const testing::TestParamInfo<MapCase>& info) { return info.param.name; });

class PortMapTest : public SimTest {};

TEST_F(PortMapTest, HoldsTheFirst256DevicesSorted) {
    // 300 ports, enumerated COM300 first, down to COM1.
    for (int com = 300; com >= 1; --com) Named(u"COM" + sim::U16(std::to_string(com)));
    auto map = FilledMap();

    EXPECT_EQ(InitPortMap(map.get()), 0);
    ASSERT_EQ(map->NumPorts, 256u);
    for (DWORD i = 0; i < 256; ++i) EXPECT_EQ(map->Entries[i].PortNumber, 45 + i) << "entry " << i;
    EXPECT_EQ(Text(map->Entries[255].PortName), u"COM300");
    ExpectClearFrom(*map, 256);
}

TEST_F(PortMapTest, SortComparesUnsignedAndStaysInItsMap) {
    auto map = FilledMap();
    const Entries given = {{7, u"a"}, {0xFFFFFFFF, u"b"}, {0, u"c"}, {7, u"d"}, {0x80000000, u"e"}, {1, u"f"}};
    map->NumPorts = static_cast<DWORD>(given.size());
    for (size_t i = 0; i < given.size(); ++i) {
        map->Entries[i].PortNumber = given[i].first;
        std::memcpy(map->Entries[i].PortName, given[i].second.c_str(), 4);
    }
    SortPortMap(map.get());
    EXPECT_EQ(Filled(*map),
              (Entries{{0, u"c"}, {1, u"f"}, {7, u"a"}, {7, u"d"}, {0x80000000, u"e"}, {0xFFFFFFFF, u"b"}}));

    // One entry, or none, stays as it is; a count beyond the map's room sorts the map and no further.
    map->NumPorts = 1;
    map->Entries[0].PortNumber = 99;
    SortPortMap(map.get());
    EXPECT_EQ(map->Entries[0].PortNumber, 99u);
    for (DWORD i = 0; i < kPortMapEntries; ++i) map->Entries[i].PortNumber = kPortMapEntries - i;
    map->NumPorts = 100000;
    SortPortMap(map.get());
    for (DWORD i = 0; i < kPortMapEntries; ++i) EXPECT_EQ(map->Entries[i].PortNumber, i + 1);
}

TEST_F(PortMapTest, AnyFailingCallLeavesNoKeyOpen) {
    for (unsigned n = 1;; ++n) {
        SCOPED_TRACE("failing call " + std::to_string(n));
        sim::LoadDefaultMachine();
        sim::FailCall("*", n, ERROR_ACCESS_DENIED);
        auto map = FilledMap();

        EXPECT_EQ(InitPortMap(map.get()), 0);
        EXPECT_EQ(sim::LeakReport(), "");
        EXPECT_LE(map->NumPorts, 2u);
        ExpectClearFrom(*map, map->NumPorts);
        if (sim::FaultsInjected() == 0) {
            EXPECT_EQ(map->NumPorts, 2u);
            break;
        }
    }
}

TEST_F(PortMapTest, TraceLinesWhileTheSwitchIsOn) {
    sim::LoadDefaultMachine();
    TraceSwitch = 1;
    auto map = FilledMap();
    InitPortMap(map.get());
    TraceSwitch = 0;

    std::vector<std::string> writes = sim::DebugOutputWrites();
    ASSERT_EQ(writes.size(), 4u) << sim::DebugOutput();
    EXPECT_EQ(writes[0], "ZelIf(TRAC) InitPortMap++\n");
    EXPECT_EQ(writes[1], "ZelIf(TRAC) SortPortMap++\n");
    EXPECT_EQ(writes[2], "ZelIf(TRAC) SortPortMap--\n");
    EXPECT_EQ(writes[3].rfind("ZelIf(TRAC) InitPortMap-- numPorts 2 (00000000) ", 0), 0u) << writes[3];
}

}  // namespace
