// The driver channel where the product's driver is absent, as on any machine before the first
// installation: Wine's CreateFileW fails on "\\.\Zel", every request reads as "no driver" and no caller
// buffer is touched; the open-ports check then finds nothing open and returns at once.
#include <cstring>

#include "driver/driver_channel.h"
#include "setup/custom_actions.h"
#include "wintests/wine_test.h"

namespace {

constexpr unsigned char kUntouched = 0xA5;

struct Buffers {
    unsigned char config[1208];
    char version[40];
    DWORD versionLength;
    DWORD probeAnswer;
    PortStatus status;
};

struct ChannelCase {
    const char* name;
    ZelStatus (*call)(Buffers* buffers);
};

const ChannelCase kChannelCases[] = {
    {"Probe",
     [](Buffers* b) { return CallDriver(IOCTL_ZEL_PROBE, nullptr, 0, &b->probeAnswer, sizeof b->probeAnswer); }},
    {"PortChanged", [](Buffers*) { return SendPortCommand(5, IOCTL_ZEL_PORT_CHANGED, 0, nullptr, 0); }},
    {"PortConfig", [](Buffers* b) { return QueryPortConfig(b->config, sizeof b->config, 5); }},
    {"PortStatus", [](Buffers* b) { return QueryPortStatus(&b->status); }},
    {"Version", [](Buffers* b) { return QueryDriverVersion(b->version, &b->versionLength); }},
    {"GuardedPortStatus", [](Buffers* b) { return GetPortStatus(&b->status); }},
};

class NoDriver : public wintest::WineTest, public testing::WithParamInterface<ChannelCase> {};

TEST_P(NoDriver, RequestFailsToOpenAndLeavesBuffersAlone) {
    Buffers buffers;
    std::memset(&buffers, kUntouched, sizeof buffers);
    buffers.versionLength = sizeof buffers.version;
    buffers.status.PortNumber = 256;
    Buffers before = buffers;

    EXPECT_EQ(GetParam().call(&buffers), ZEL_DRIVER_OPEN_FAILED);
    EXPECT_EQ(std::memcmp(&buffers, &before, sizeof buffers), 0) << "a caller buffer was written";
}

INSTANTIATE_TEST_SUITE_P(Channel, NoDriver, testing::ValuesIn(kChannelCases),
                         [](const testing::TestParamInfo<ChannelCase>& info) { return std::string(info.param.name); });

class OpenPortsCheck : public wintest::WineTest {};

TEST_F(OpenPortsCheck, WithoutTheDriverFindsNothingOpen) {
    EXPECT_EQ(CheckForOpenPorts(0), 0u);
}

}  // namespace
