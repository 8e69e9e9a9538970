// The guarded port operations: the driver's version in its display form, the record read, the record
// store with its notice, and the argument checks around adding a port.
#include <cstring>
#include <string>

#include "driver/driver_channel.h"
#include "driver/port_operations.h"
#include "tests/sim_fixture.h"
#include "winsim/devices.h"
#include "winsim/port_devices.h"

namespace {

using PortOperations = SimTest;

struct VersionCase {
    const char* raw;
    DWORD size;  // the raw text's length + 1, as *length comes back
    const char* display;
};

// The worked examples: the display form is bounded by the raw text's size, not by the caller's buffer.
const VersionCase kVersionCases[] = {
    {"4.302.7.15", 11, "4.3.2.7D5"},    {"4.300.0.50", 11, "4.3.0.0"},   {"4.200.2.50", 11, "4.2.0.2"},
    {"4.301.1.405", 12, "4.3.1.1RC5"},  {"4.100.0.2", 10, "4.1.0.0T"},   {"4.401.12.312", 13, "4.4.1.12B12"},
    {"4.312.7.41", 11, "4.3.12.7RC"},   {"4.3.0.0", 8, "4.3.3.0"},       {"4.302.7", 8, "4.3.2.7"},
    {"4.010.0.2", 10, "4.0.10.0T"},     {"4.101.0.1", 10, "4.1.1.0D"},   {"4.201.0.2", 10, "4.2.1.0T"},
    {"4.001.0.50", 11, "4.0.1.0"},      {"4.202.1.200", 12, "4.2.2.1T0"},
};

TEST_F(PortOperations, DriverVersionDisplayForm) {
    for (const VersionCase& c : kVersionCases) {
        SCOPED_TRACE(c.raw);
        sim::DriverLoad(c.raw);
        char text[40];
        std::memset(text, 'x', sizeof text);
        DWORD length = sizeof text;
        EXPECT_EQ(GetDriverVersion(text, &length), 0);
        EXPECT_EQ(length, c.size);
        EXPECT_STREQ(text, c.display);
    }
}

TEST_F(PortOperations, DriverVersionLengthRules) {
    char text[40] = "untouched";
    DWORD length = 40;
    EXPECT_EQ(GetDriverVersion(text, &length), ZEL_DRIVER_OPEN_FAILED);
    EXPECT_EQ(length, 40u);
    length = 5;
    EXPECT_EQ(GetDriverVersion(text, &length), ZEL_DRIVER_OPEN_FAILED);
    EXPECT_EQ(length, 40u) << "a failed request always reports 40";

    sim::DriverLoad("4.302.7.15");
    length = 10;  // one short of the raw text's size: the driver is asked for 10 bytes and cannot answer
    EXPECT_EQ(GetDriverVersion(text, &length), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 40u);
    EXPECT_STREQ(text, "untouched");
    length = 400;
    EXPECT_EQ(GetDriverVersion(text, &length), 0);
    EXPECT_EQ(sim::DriverRequests().back().outputLength, 40u) << "the driver is never offered more than 40";

    // A text with no NUL in its 40 bytes measures 41: too large for any 40-byte buffer.
    sim::Driver().version.assign(40, '4');
    std::strcpy(text, "untouched");
    length = 40;
    EXPECT_EQ(GetDriverVersion(text, &length), ZEL_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 41u);
    EXPECT_STREQ(text, "untouched");
}

TEST(VersionFields, FieldsAreCutAndCounted) {
    char field[kVersionFieldChars];
    GetVersionField(0, "12345678901.2", field);
    EXPECT_STREQ(field, "123456789");
    GetVersionField(3, "1.2.3", field);
    EXPECT_STREQ(field, "");
    GetVersionField(1, "4..7", field);
    EXPECT_STREQ(field, "");
    // Only the first 39 characters count: field 3 starts at character 40 here.
    std::string raw = std::string(36, '1') + ".2.3.4";
    GetVersionField(3, raw.c_str(), field);
    EXPECT_STREQ(field, "");
    char tag[kVersionFieldChars];
    for (auto [text, expected] : {std::pair{"1.2.3.1x", "D"}, {"1.2.3.2", "T"}, {"1.2.3.3", "B"}, {"1.2.3.4", "RC"},
                                  {"1.2.3.5", ""}, {"1.2.3", ""}, {"1.2.3.\xB1", ""}}) {
        GetBuildTypeTag(text, tag);
        EXPECT_STREQ(tag, expected) << text;
    }
    char out[40];
    FormatVersionString(out, sizeof out, "4.302.7.\xB1" "7");  // a byte above 0x7F counts as below '5'
    EXPECT_STREQ(out, "4.3.2.77");
    FormatVersionString(out, 4, "4.302.7.15");
    EXPECT_STREQ(out, "4.3");
}

TEST_F(PortOperations, PortConfigIsZeroFilledFirst) {
    sim::DriverLoad("4.302.7.15");
    sim::DriverSetPort(3, sim::DriverPort{std::vector<uint8_t>(8, 0x11), 0, 0, 0});
    uint8_t buffer[32];
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(GetDriverPortConfig(buffer, sizeof buffer, 3), 0);
    EXPECT_EQ(buffer[7], 0x11);
    EXPECT_EQ(buffer[8], 0) << "bytes the driver does not write read as 0";
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(GetDriverPortConfig(buffer, sizeof buffer, 9), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(GetDriverPortConfig(nullptr, 16, 3), static_cast<ZelStatus>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(GetPortMap(nullptr), static_cast<ZelStatus>(EXCEPTION_ACCESS_VIOLATION));
}

PortInfo RecordFor(DWORD port, DWORD services) {
    PortInfo info = {};
    info.PortNumber = port;
    info.AES = 1;
    info.KeepAliveTime = 30000;
    info.NumServices = services;
    return info;
}

TEST_F(PortOperations, SetPortInfoChecksStoresAndTells) {
    sim::AddPortDevice({.comNumber = 5, .record = sim::FullPortRecord(5)});
    PortInfo info = RecordFor(5, 9);
    EXPECT_EQ(SetPortInfo(nullptr), ZEL_INVALID_ARGUMENT);
    EXPECT_EQ(SetPortInfo(&info), ZEL_INVALID_ARGUMENT) << "nine services";
    info.NumServices = static_cast<DWORD>(-1);
    EXPECT_EQ(SetPortInfo(&info), ZEL_INVALID_ARGUMENT) << "a negative count";
    EXPECT_EQ(sim::CallCount("RegSetValueExW"), 0u);

    // No driver: the record is stored, and the notice's failure is the result.
    info.NumServices = 8;
    BOOL stored = FALSE;
    EXPECT_EQ(StorePortInfo(&info, &stored), ZEL_DRIVER_OPEN_FAILED);
    EXPECT_TRUE(stored);
    std::string properties = sim::PortDeviceKeys("0000", "0000").propertiesKey;
    EXPECT_EQ(sim::RegGetValue(HKEY_LOCAL_MACHINE, properties, "KeepAliveTime")->Dword(), 30000u);

    sim::DriverLoad("4.302.7.15");
    EXPECT_EQ(SetPortInfo(&info), 0);
    EXPECT_EQ(sim::DriverRequests().back().controlCode, IOCTL_ZEL_PORT_CHANGED);
    EXPECT_EQ(sim::DriverRequests().back().portNumber, 5u);

    // A store that fails tells nobody.
    size_t requests = sim::DriverRequests().size();
    info.PortNumber = 6;
    EXPECT_EQ(StorePortInfo(&info, &stored), ZEL_NO_DEVICES_FOUND);
    EXPECT_FALSE(stored);
    EXPECT_EQ(sim::DriverRequests().size(), requests);
}

TEST_F(PortOperations, AddPortRangeAndUsage) {
    sim::SetPrivilegeState("SeSecurityPrivilege", true, true);
    sim::AddMotherboardPort(1, 0x3F8);
    sim::ClaimComNumber(9);
    for (DWORD port : {0u, 257u, 0xFFFFFFFFu}) {
        EXPECT_EQ(AddPort(port, 1), ZEL_INVALID_PORT_NUMBER) << port;
    }
    EXPECT_EQ(sim::CallCount("ComDBOpen"), 0u) << "the database is not asked about a number outside the map";
    EXPECT_EQ(AddPort(1, 1), ZEL_PORT_ALREADY_EXISTS) << "held by a device without a claim";
    EXPECT_EQ(AddPort(9, 1), ZEL_PORT_ALREADY_EXISTS) << "claimed";
    sim::FailCall("ComDBOpen", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(AddPort(7, 1), ERROR_ACCESS_DENIED);
    // The privileges are back as they were on every path: one was enabled, two were not.
    EXPECT_TRUE(sim::GetPrivilegeState("SeSecurityPrivilege").enabled);
    EXPECT_FALSE(sim::GetPrivilegeState("SeTakeOwnershipPrivilege").enabled);
    EXPECT_FALSE(sim::GetPrivilegeState("SeLoadDriverPrivilege").enabled);

    sim::RaiseInCall("ComDBGetCurrentPortUsage", 1, EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(AddPort(7, 1), static_cast<ZelStatus>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_FALSE(sim::GetPrivilegeState("SeLoadDriverPrivilege").enabled) << "also after an exception";
    // The guard releases nothing: the database handle of the interrupted call stays open.
    sim::Reset();
}

}  // namespace
