// The driver channel: one open, one request and one close per exchange, and what each result means.
#include <cstring>

#include "driver/driver_channel.h"
#include "sim_fixture.h"

namespace {

using DriverChannel = SimTest;

static_assert(IOCTL_ZEL_PORT_CHANGED == 0x818A4004 && IOCTL_ZEL_GET_PORT_CONFIG == 0x818A4008 &&
              IOCTL_ZEL_GET_PORT_STATUS == 0x818A4018 && IOCTL_ZEL_PROBE == 0x818A41B4 &&
              IOCTL_ZEL_GET_VERSION == 0x818A41E8);

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    return bytes;
}

TEST_F(DriverChannel, NoDriverMeansOpenFailedAndBuffersUntouched) {
    PortStatus status;
    std::memset(&status, 0xAB, sizeof status);
    status.PortNumber = 3;
    char version[40];
    std::memset(version, 0xCD, sizeof version);
    DWORD length = sizeof version;
    uint8_t config[1208];
    std::memset(config, 0xEF, sizeof config);

    EXPECT_EQ(GetPortStatus(&status), ZEL_DRIVER_OPEN_FAILED);
    EXPECT_EQ(QueryPortStatus(&status), ZEL_DRIVER_OPEN_FAILED);
    EXPECT_EQ(QueryDriverVersion(version, &length), ZEL_DRIVER_OPEN_FAILED);
    EXPECT_EQ(QueryPortConfig(config, sizeof config, 3), ZEL_DRIVER_OPEN_FAILED);
    EXPECT_EQ(SendPortCommand(3, IOCTL_ZEL_PORT_CHANGED, 0, nullptr, 0), ZEL_DRIVER_OPEN_FAILED);

    EXPECT_EQ(status.PortOpen, 0xABAB);
    EXPECT_EQ(static_cast<uint8_t>(version[0]), 0xCD);
    EXPECT_EQ(config[0], 0xEF);
    EXPECT_EQ(sim::CallCount("DeviceIoControl"), 0u);
}

TEST_F(DriverChannel, OpensTheControlDeviceForOneRequest) {
    sim::DriverLoad("4.302.7.15");
    DWORD answer = 0;
    EXPECT_EQ(CallDriver(IOCTL_ZEL_PROBE, nullptr, 0, &answer, sizeof answer), 0);
    auto opens = sim::Calls("CreateFileW");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].Text("lpFileName"), "\\\\.\\Zel");
    EXPECT_EQ(opens[0].Number("dwDesiredAccess"), 0xC0000000u);
    EXPECT_EQ(opens[0].Number("dwShareMode"), 0u);
    EXPECT_EQ(opens[0].Number("dwCreationDisposition"), static_cast<uint64_t>(OPEN_EXISTING));
    EXPECT_EQ(opens[0].Number("dwFlagsAndAttributes"), 0x40000080u);
    EXPECT_TRUE(opens[0].Find("lpSecurityAttributes")->isNull);
    EXPECT_TRUE(opens[0].Find("hTemplateFile")->isNull);
    auto requests = sim::Calls("DeviceIoControl");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].Find("lpOverlapped")->isNull);
    EXPECT_EQ(sim::CallCount("CloseHandle"), 1u);
}

TEST_F(DriverChannel, FailuresOfRequestAndClose) {
    struct Case {
        const char* name;
        DWORD requestError;
        DWORD closeError;
        ZelStatus want;
        bool statusFilled;
    } cases[] = {
        {"request fails", ERROR_GEN_FAILURE, 0, ERROR_GEN_FAILURE, false},
        {"close fails", 0, ERROR_INVALID_HANDLE, ZEL_DRIVER_CLOSE_FAILED, true},
        {"both fail: the request's error wins", ERROR_GEN_FAILURE, ERROR_INVALID_HANDLE, ERROR_GEN_FAILURE, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::DriverLoad("4.302.7.15");
        sim::DriverSetPort(4, sim::DriverPort{{}, 1, c.requestError, 0});
        sim::Driver().closeError = c.closeError;
        PortStatus status = {};
        status.PortNumber = 4;
        EXPECT_EQ(GetPortStatus(&status), c.want);
        EXPECT_EQ(status.PortOpen == 1, c.statusFilled);
        EXPECT_EQ(sim::LeakReport(), "");
    }
}

TEST_F(DriverChannel, RequestBlocksCarryTheCallersBuffer) {
    sim::DriverLoad("4.302.7.15");
    auto record = Pattern(1208);
    sim::DriverSetPort(5, sim::DriverPort{record, 0, 0, 0});

    std::vector<uint8_t> config(1208, 0);
    EXPECT_EQ(QueryPortConfig(config.data(), 1208, 5), 0);
    EXPECT_EQ(config, record);
    PortStatus status = {};
    status.PortNumber = 5;
    EXPECT_EQ(QueryPortStatus(&status), 0);
    EXPECT_EQ(SendPortCommand(5, IOCTL_ZEL_PORT_CHANGED, 0, nullptr, 0), 0);

    const auto& requests = sim::DriverRequests();
    ASSERT_EQ(requests.size(), 3u);
    struct Want {
        DWORD code;
        DWORD bufferLength;
        const void* buffer;
    } want[] = {
        {IOCTL_ZEL_GET_PORT_CONFIG, 1208, config.data()},
        {IOCTL_ZEL_GET_PORT_STATUS, 140, &status},
        {IOCTL_ZEL_PORT_CHANGED, 0, nullptr},
    };
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(requests[i].controlCode, want[i].code);
        EXPECT_EQ(requests[i].input.size(), sizeof(PortRequest));
        EXPECT_TRUE(requests[i].outputNull);
        EXPECT_EQ(requests[i].outputLength, 0u);
        EXPECT_EQ(requests[i].argument, 0u);
        EXPECT_EQ(requests[i].portNumber, 5u);
        EXPECT_EQ(requests[i].reserved, 0u);
        EXPECT_EQ(requests[i].bufferLength, want[i].bufferLength);
        EXPECT_EQ(requests[i].bufferAddress, reinterpret_cast<uintptr_t>(want[i].buffer));
    }
}

TEST_F(DriverChannel, VersionRequestLeavesTheLengthAlone) {
    sim::DriverLoad("4.302.7.15");
    char text[40] = {};
    DWORD length = 40;
    EXPECT_EQ(QueryDriverVersion(text, &length), 0);
    EXPECT_STREQ(text, "4.302.7.15");
    EXPECT_EQ(length, 40u);
    ASSERT_EQ(sim::DriverRequests().size(), 1u);
    EXPECT_EQ(sim::DriverRequests()[0].outputLength, 40u);
    EXPECT_TRUE(sim::DriverRequests()[0].input.empty());
}

TEST_F(DriverChannel, VersionAnswersThatDoNotFitOrEndAreTheCallersToMeasure) {
    sim::DriverLoad("");
    sim::Driver().version.assign(40, '9');  // no terminator within the 40 bytes
    char text[41];
    text[40] = '#';
    DWORD length = 40;
    EXPECT_EQ(QueryDriverVersion(text, &length), 0);
    EXPECT_EQ(text[40], '#') << "the driver writes no more than the output length";
    sim::Driver().version.assign(41, '9');
    EXPECT_EQ(QueryDriverVersion(text, &length), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 40u);
}

}  // namespace
