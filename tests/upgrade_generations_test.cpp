// An upgrade from every driver generation: the ports' records read in the generation's own layout come
// back field by field in the current one. The records are made by the replay tool's encoder, which knows
// the layouts independently of the library.
#include <cstring>
#include <string>
#include <vector>

#include "driver/driver_channel.h"
#include "portstore/port_info.h"
#include "setup/custom_actions.h"
#include "tests/product_machine.h"
#include "tests/sim_fixture.h"
#include "tools/replay/port_record.h"

namespace {

struct Generation {
    const char* name;
    const char* rawVersion;  // what the driver answers
    replay::Layout layout;   // how it hands out records
};

const Generation kGenerations[] = {
    {"V4010", "4.001.0.50", replay::Layout::V40},   // 4.0.1.0
    {"V4100T", "4.100.0.2", replay::Layout::V41},   // 4.1.0.0T
    {"V4210T", "4.201.0.2", replay::Layout::V41},   // 4.2.1.0T
    {"V4202", "4.200.2.50", replay::Layout::V43},   // 4.2.0.2
    {"V4300", "4.300.0.50", replay::Layout::V43},   // 4.3.0.0
    {"V4327D5", "4.302.7.15", replay::Layout::Current},  // 4.3.2.7D5
};

void PrintTo(const Generation& g, std::ostream* out) { *out << g.name; }

// A configuration with values of its own per port, that fits every layout.
replay::PortConfig Configured(uint32_t com, size_t services) {
    replay::PortConfig config = replay::DefaultConfig(com);
    for (size_t i = 0; i < replay::kSettingCount; ++i) config.settings[i] = com * 1000 + static_cast<uint32_t>(i) + 1;
    for (size_t i = 0; i < replay::kAesKeyBytes; ++i) config.aesKey[i] = static_cast<uint8_t>(com + 3 * i);
    config.numServices = static_cast<uint32_t>(services);
    for (size_t k = 0; k < services; ++k)
        config.services.push_back({1, static_cast<uint32_t>(4000 + k), sim::U16("srv" + std::to_string(k) + ".example")});
    return config;
}

using Upgrade = SimTest;

class GenerationTest : public SimTest, public testing::WithParamInterface<Generation> {};

TEST_P(GenerationTest, EveryPortComesBack) {
    const Generation& g = GetParam();
    const std::vector<std::pair<uint32_t, size_t>> ports = {{2, 0}, {6, 2}, {17, 8}};
    machine::ProductInstalled();
    sim::SetProperty("CustomActionData", sim::U16(machine::kInstallDir));
    sim::DriverLoad(g.rawVersion);
    for (auto [com, services] : ports) {
        sim::AddPortDevice({.comNumber = static_cast<int>(com), .record = sim::FullPortRecord(com)});
        sim::ClaimComNumber(com);
        sim::DriverSetPort(com, sim::DriverPort{replay::EncodeRecord(Configured(com, services), g.layout), 0, 0, 0});
    }
    sim::ClearCallLog();

    EXPECT_EQ(Install(sim::InstallHandle()), 0u);
    for (const sim::DriverRequest& request : sim::DriverRequests()) {
        if (request.portNumber && request.controlCode == IOCTL_ZEL_GET_PORT_CONFIG) {
            EXPECT_EQ(request.bufferLength, replay::LayoutBytes(g.layout));
        }
    }

    for (auto [com, services] : ports) {
        SCOPED_TRACE(com);
        PortInfo stored;
        std::memset(&stored, 0, sizeof stored);
        DWORD count = 0;
        ASSERT_EQ(_GetPortInfoFromRegistry(static_cast<LONG>(com), &count, &stored), 0);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&stored);
        replay::PortConfig got = replay::DecodeRecord(std::vector<uint8_t>(bytes, bytes + sizeof stored), replay::Layout::Current);
        replay::PortConfig want = Configured(com, services);
        // What the oldest layout lacks comes back as the product's defaults.
        if (g.layout == replay::Layout::V40) {
            replay::PortConfig defaults = replay::DefaultConfig(com);
            for (const char* name : {"BufferWrites", "ListenMode", "KeepAliveOnOff", "KeepAliveTime", "KeepAliveInterval"})
                want.settings[replay::SettingIndex(name)] = defaults.settings[replay::SettingIndex(name)];
        }
        got.portName.clear();
        want.portName.clear();
        got.services.resize(services);
        EXPECT_EQ(replay::Items(got), replay::Items(want));
        EXPECT_TRUE(sim::IsComNumberClaimed(com));
    }
    EXPECT_EQ(sim::HeapBlockCount(), 0u) << "the saved block is freed";
}

// A version request that fails once must not make an older driver's records read in the current layout.
TEST_F(Upgrade, VersionRequestFailingOnceStillPicksTheLayout) {
    machine::ProductInstalled();
    sim::SetProperty("CustomActionData", sim::U16(machine::kInstallDir));
    sim::DriverLoad("4.200.2.50");
    sim::AddPortDevice({.comNumber = 6, .record = sim::FullPortRecord(6)});
    sim::ClaimComNumber(6);
    sim::DriverSetPort(6, sim::DriverPort{replay::EncodeRecord(Configured(6, 3), replay::Layout::V43), 0, 0, 0});
    sim::Fault fault;
    fault.api = "DeviceIoControl";
    fault.error = ERROR_GEN_FAILURE;
    fault.when = [](const sim::Call& call) { return call.Number("dwIoControlCode") == IOCTL_ZEL_GET_VERSION; };
    sim::InjectFault(fault);
    EXPECT_EQ(Install(sim::InstallHandle()), 0u);
    PortInfo stored;
    std::memset(&stored, 0, sizeof stored);
    DWORD count = 0;
    ASSERT_EQ(_GetPortInfoFromRegistry(6, &count, &stored), 0);
    EXPECT_EQ(stored.NumServices, 3u);
    EXPECT_EQ(sim::U8(stored.Services[2].Address), "srv2.example");
}

INSTANTIATE_TEST_SUITE_P(Drivers, GenerationTest, testing::ValuesIn(kGenerations),
                         [](const testing::TestParamInfo<Generation>& info) { return std::string(info.param.name); });

}  // namespace
