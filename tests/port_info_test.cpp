// The port configuration store: loading and storing a port's record under its device's Properties key.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "portstore/port_info.h"
#include "tests/sim_fixture.h"
#include "winsim/port_devices.h"

namespace {

constexpr uint8_t kFill = 0xA5;  // what the caller's record holds before a load

PortInfo Filled() {
    PortInfo info;
    std::memset(&info, kFill, sizeof info);
    return info;
}

// The Properties values and where each lives in the record, as the driver lays it out.
struct Field {
    const char* name;
    size_t offset;
    size_t size;
};
const Field kFields[] = {
    {"PortNumber", 0, 4},      {"AES", 20, 4},           {"AESKey", 24, 32},         {"AESKeyLength", 56, 4},
    {"AutoReconErr", 60, 4},   {"AutoReconPeer", 64, 4}, {"CnTmo", 68, 4},           {"NoDiscon", 72, 4},
    {"ReconLimit", 76, 4},     {"UseRFC2217", 80, 4},    {"DtrConnection", 84, 4},   {"WaitOnWrite", 88, 4},
    {"BufferWrites", 92, 4},   {"TransmitEmpty", 96, 4}, {"ListenMode", 100, 4},     {"KeepAliveOnOff", 104, 4},
    {"KeepAliveTime", 108, 4}, {"KeepAliveInterval", 112, 4}, {"NumServices", 116, 4},
};
// The order in which a store writes them: the key ahead of the AES switch.
const char* const kWriteOrder[] = {
    "PortNumber",   "AESKey",       "AES",          "AESKeyLength", "AutoReconErr",   "AutoReconPeer", "CnTmo",
    "NoDiscon",     "ReconLimit",   "UseRFC2217",   "DtrConnection", "WaitOnWrite",   "BufferWrites",  "TransmitEmpty",
    "ListenMode",   "KeepAliveOnOff", "KeepAliveTime", "KeepAliveInterval", "NumServices",
};

const Field& FieldNamed(const std::string& name) {
    for (const Field& field : kFields)
        if (name == field.name) return field;
    throw std::logic_error("no field " + name);
}

std::vector<uint8_t> Bytes(const void* data, size_t size) {
    auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}
std::vector<uint8_t> FieldBytes(const PortInfo& info, const Field& field) {
    return Bytes(reinterpret_cast<const uint8_t*>(&info) + field.offset, field.size);
}
bool KeepsFill(const void* data, size_t size) {
    return Bytes(data, size) == std::vector<uint8_t>(size, kFill);
}
bool FieldKeepsFill(const PortInfo& info, const char* name) {
    const Field& field = FieldNamed(name);
    return KeepsFill(reinterpret_cast<const uint8_t*>(&info) + field.offset, field.size);
}

std::vector<uint8_t> ValueBytes(const std::string& key, const std::string& name) {
    auto value = sim::RegGetValue(HKEY_LOCAL_MACHINE, key, name);
    return value ? value->data : std::vector<uint8_t>{};
}

std::u16string Text(const WCHAR* text) { return std::u16string(reinterpret_cast<const char16_t*>(text)); }

void ExpectFieldsEqualRegistry(const PortInfo& info, const std::string& propertiesKey) {
    for (const Field& field : kFields) {
        SCOPED_TRACE(field.name);
        EXPECT_EQ(FieldBytes(info, field), ValueBytes(propertiesKey, field.name));
    }
}

void ExpectServiceEqualsRegistry(const PortService& service, const std::string& serviceKey) {
    SCOPED_TRACE(serviceKey);
    EXPECT_EQ(Bytes(&service.Type, 4), ValueBytes(serviceKey, "Type"));
    EXPECT_EQ(Bytes(&service.Port, 4), ValueBytes(serviceKey, "Port"));
    EXPECT_EQ(Bytes(service.Address, 128), ValueBytes(serviceKey, "Address"));
}

// The indices of the service subkeys a call opened for reading, in order.
std::vector<int> ServiceKeysOpened() {
    std::vector<int> opened;
    for (const sim::Call& call : sim::Calls("RegOpenKeyExW")) {
        std::string path = call.Text("lpSubKey");
        size_t at = path.rfind("\\Service");
        if (at != std::string::npos) opened.push_back(std::stoi(path.substr(at + 8)));
    }
    return opened;
}

sim::PortDevice Port(int com, std::optional<sim::PortRecordValues> record = std::nullopt) {
    sim::PortDeviceOptions options;
    options.comNumber = com;
    options.record = std::move(record);
    return sim::AddPortDevice(options);
}

sim::PortServiceValues Service(uint32_t n) {
    return {n, 4000 + n, u"host" + sim::U16(std::to_string(n)) + u".example"};
}

// A record as a caller hands it to the store: every field its own value, bytes after each Address
// text that are not NUL, and the given service count.
PortInfo Sample(DWORD port, LONG numServices) {
    PortInfo info;
    auto* bytes = reinterpret_cast<uint8_t*>(&info);
    for (size_t i = 0; i < sizeof info; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    info.PortNumber = port;
    std::memcpy(info.PortName, u"COMx", 10);
    info.NumServices = static_cast<DWORD>(numServices);
    for (DWORD i = 0; i < 8; ++i) {
        std::u16string address = u"10.1.1." + sim::U16(std::to_string(i));
        std::memcpy(info.Services[i].Address, address.c_str(), (address.size() + 1) * 2);
    }
    return info;
}

class PortInfoTest : public SimTest {};

// ---- Port names ---------------------------------------------------------------------------------------

TEST(PortNameTest, ReadsTheNumberAfterThreeCharacters) {
    struct Case {
        const char16_t* name;
        LONG number;
    } cases[] = {
        {u"COM5", 5},         {u"COM256", 256},  {u"COM", 0},      {u"CO", 0},         {u"", 0},
        {u"COM12x", 12},      {u"COM-3", -3},    {u"COM+7", 7},    {u"COM 8", 8},      {u"XYZ9", 9},
        {u"COMx1", 0},        {u"com05", 5},     {u"COM99999999999", 2147483647},  {u"COM-99999999999", INT32_MIN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(sim::U8(c.name));
        EXPECT_EQ(ParseComNumber(reinterpret_cast<const WCHAR*>(c.name)), c.number);
    }
}

// ---- Load: which device, which code -------------------------------------------------------------------

struct LoadCase {
    const char* name;
    void (*machine)();
    LONG port;
    ZelStatus result;
    DWORD count;
    int recordSeed;  // the FullPortRecord seed the settings must come from; 0: no setting read
};

std::string Long(size_t n, char c) { return std::string(n, c); }

const LoadCase kLoadCases[] = {
    {"NoPortsKey", [] {}, 5, ZEL_PORT_KEY_NOT_FOUND, 0, 0},
    {"NoDevices", [] { sim::RegCreateKey(HKEY_LOCAL_MACHINE, sim::kPortsEnumPath); }, 5, ZEL_PORT_NOT_FOUND, 0, 0},
    {"OtherNumberOnly", [] { Port(3, sim::FullPortRecord(3)); }, 5, ZEL_PORT_NOT_FOUND, 1, 0},
    {"ForeignDevice",
     [] { sim::AddPortDevice({.comNumber = 5, .hardwareIds = std::vector<std::u16string>{u"ACPI\\PNP0501"},
                              .record = sim::FullPortRecord(5)}); },
     5, ZEL_PORT_NOT_FOUND, 0, 0},
    {"ProductIdSecondOnly",
     [] { sim::AddPortDevice({.comNumber = 5, .hardwareIds = std::vector<std::u16string>{u"root\\x", u"*zeldevice"},
                              .record = sim::FullPortRecord(5)}); },
     5, ZEL_PORT_NOT_FOUND, 0, 0},
    {"NoHardwareId", [] { sim::AddPortDevice({.comNumber = 5, .hardwareIds = std::nullopt}); }, 5, ZEL_PORT_NOT_FOUND,
     0, 0},
    {"HardwareIdOtherCase",
     [] { sim::AddPortDevice({.comNumber = 5, .hardwareIds = std::vector<std::u16string>{u"*ZELDevice", u"x"},
                              .record = sim::FullPortRecord(5)}); },
     5, 0, 1, 5},
    {"NoDeviceParameters", [] { sim::AddPortDevice({.comNumber = 5, .deviceParameters = false}); }, 5,
     ZEL_NO_DEVICE_PARAMETERS_FOUND, 0, 0},
    {"NoPortName", [] { sim::AddPortDevice({.comNumber = 5, .writePortName = false}); }, 5, ZEL_PORT_NAME_NOT_FOUND,
     0, 0},
    {"LastFailureWinsPortName",
     [] {
         sim::AddPortDevice({.comNumber = 5, .deviceParameters = false});
         sim::AddPortDevice({.comNumber = 5, .writePortName = false});
     },
     5, ZEL_PORT_NAME_NOT_FOUND, 0, 0},
    {"LastFailureWinsDeviceParameters",
     [] {
         sim::AddPortDevice({.comNumber = 5, .writePortName = false});
         sim::AddPortDevice({.comNumber = 5, .deviceParameters = false});
     },
     5, ZEL_NO_DEVICE_PARAMETERS_FOUND, 0, 0},
    {"ReadPortSurvivesLaterFailures",
     [] {
         Port(5, sim::FullPortRecord(5));
         sim::AddPortDevice({.comNumber = 6, .deviceParameters = false});
         sim::AddPortDevice({.comNumber = 7, .writePortName = false});
     },
     5, 0, 1, 5},
    {"ReadPortSurvivesEarlierFailures",
     [] {
         sim::AddPortDevice({.comNumber = 6, .writePortName = false});
         sim::AddPortDevice({.comNumber = 7, .deviceParameters = false});
         Port(5, sim::FullPortRecord(5));
     },
     5, 0, 1, 5},
    {"NoDriver", [] { sim::AddPortDevice({.comNumber = 5, .writeDriver = false, .record = sim::FullPortRecord(5)}); },
     5, ZEL_EXT_PORT_INFO_NOT_FOUND, 1, 0},
    {"DriverTooShort",
     [] { sim::AddPortDevice({.comNumber = 5, .driver = u"000", .record = sim::FullPortRecord(5)}); }, 5,
     ZEL_EXT_PORT_INFO_NOT_FOUND, 1, 0},
    {"DriverTooLong",
     [] { sim::AddPortDevice({.comNumber = 5, .driver = sim::U16(Long(56, 'x')) + u"\\0000",
                              .record = sim::FullPortRecord(5)}); },
     5, ZEL_EXT_PORT_INFO_NOT_FOUND, 1, 0},
    {"DriverAtItsLimit",
     [] { sim::AddPortDevice({.comNumber = 5, .classInstance = "0007",
                              .driver = sim::U16(Long(54, 'x')) + u"\\0007", .record = sim::FullPortRecord(5)}); },
     5, 0, 1, 5},
    {"NoPropertiesKey", [] { Port(5); }, 5, ZEL_EXT_PORT_INFO_NOT_FOUND, 1, 0},
    {"LaterMatchingFailureWins",
     [] {
         Port(5, sim::FullPortRecord(5));
         Port(5);
     },
     5, ZEL_EXT_PORT_INFO_NOT_FOUND, 2, 5},
    {"LaterMatchingSuccessWins",
     [] {
         Port(5);
         Port(5, sim::FullPortRecord(8));
     },
     5, 0, 2, 8},
    {"MatchingFailureThenMissingDeviceParameters",
     [] {
         Port(5);
         sim::AddPortDevice({.comNumber = 6, .deviceParameters = false});
     },
     5, ZEL_NO_DEVICE_PARAMETERS_FOUND, 1, 0},
    {"TwoDevicesOneNumberLastWins",
     [] {
         Port(7, sim::FullPortRecord(1));
         Port(7, sim::FullPortRecord(2));
     },
     7, 0, 2, 2},
    {"PortNameOf19Characters",
     [] { sim::AddPortDevice({.comNumber = 5, .portName = u"COM0000000000000005", .record = sim::FullPortRecord(5)}); },
     5, 0, 1, 5},
    {"PortNameOf20Characters",
     [] {
         sim::AddPortDevice({.comNumber = 5, .portName = u"COM00000000000000005", .record = sim::FullPortRecord(5)});
     },
     5, ZEL_PORT_NAME_NOT_FOUND, 0, 0},
    {"PortNameFillingBufferUnterminated",
     [] {
         auto device = Port(5, sim::FullPortRecord(5));
         std::u16string name = u"COM00000000000000005";
         sim::RegSetRaw(HKEY_LOCAL_MACHINE, device.parametersKey, "PortName", REG_SZ,
                        Bytes(name.data(), name.size() * 2));
     },
     5, ZEL_PORT_NAME_NOT_FOUND, 0, 0},
    {"PortNameUnterminated",
     [] {
         auto device = Port(5, sim::FullPortRecord(5));
         sim::RegSetRaw(HKEY_LOCAL_MACHINE, device.parametersKey, "PortName", REG_SZ, Bytes(u"COM5", 8));
     },
     5, 0, 1, 5},
    {"PortNameWithTrailingText", [] { sim::AddPortDevice({.comNumber = 12, .portName = u"COM12x",
                                                          .record = sim::FullPortRecord(12)}); },
     12, 0, 1, 12},
    {"NegativePortName", [] { sim::AddPortDevice({.comNumber = -3, .record = sim::FullPortRecord(3)}); }, -3, 0, 1, 3},
    {"InstanceNameOf200Characters",
     [] { sim::AddPortDevice({.comNumber = 5, .instance = Long(200, 'i'), .record = sim::FullPortRecord(5)}); }, 5, 0,
     1, 5},
    // Its Device Parameters path no longer fits its buffer.
    {"InstanceNameOf201Characters",
     [] { sim::AddPortDevice({.comNumber = 5, .instance = Long(201, 'i'), .record = sim::FullPortRecord(5)}); }, 5,
     ZEL_NO_DEVICE_PARAMETERS_FOUND, 0, 0},
    // A name of 255 characters is enumerated (and passed over, its path too long for its buffer); the
    // walk goes on to the next device.
    {"InstanceNameOf255CharactersEnumerated",
     [] {
         sim::AddPortDevice({.comNumber = 5, .instance = Long(255, 'A'), .record = sim::FullPortRecord(4)});
         sim::AddPortDevice({.comNumber = 5, .instance = "ZZZZ", .record = sim::FullPortRecord(5)});
     },
     5, 0, 1, 5},
    // Paths that do not fit their buffers: cut, the second device's instance path and both devices'
    // Device Parameters paths would all name the first device's key, where a stray PortName would be
    // read as theirs.
    {"InstanceNameOf255CharactersNotReadAsItsPrefix",
     [] {
         auto first =
             sim::AddPortDevice({.comNumber = 5, .instance = Long(218, 'i'), .record = sim::FullPortRecord(5)});
         sim::RegSetString(HKEY_LOCAL_MACHINE, first.enumKey, "PortName", u"COM5");
         sim::AddPortDevice({.comNumber = 5, .instance = Long(218, 'i') + Long(37, 'j'),
                             .record = sim::FullPortRecord(6)});
     },
     5, ZEL_NO_DEVICE_PARAMETERS_FOUND, 0, 0},
};

void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

class PortLoadTest : public SimTest, public testing::WithParamInterface<LoadCase> {};

TEST_P(PortLoadTest, ResultCountAndRecord) {
    const LoadCase& c = GetParam();
    c.machine();
    sim::ClearCallLog();
    PortInfo info = Filled();
    DWORD count = 12345;

    EXPECT_EQ(_GetPortInfoFromRegistry(c.port, &count, &info), c.result);
    EXPECT_EQ(count, c.count);
    if (c.recordSeed) {
        EXPECT_EQ(info.AES, c.recordSeed * 100u + 1);
        EXPECT_EQ(info.KeepAliveInterval, c.recordSeed * 100u + 16);
    } else {
        EXPECT_TRUE(FieldKeepsFill(info, "AES"));
    }
    // Reading never needs more than KEY_READ, and a load writes nothing.
    for (const sim::Call& call : sim::Calls("RegOpenKeyExW")) EXPECT_EQ(call.Number("samDesired"), KEY_READ);
    EXPECT_EQ(sim::CallCount("RegCreateKeyExW") + sim::CallCount("RegSetValueExW"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Machines, PortLoadTest, testing::ValuesIn(kLoadCases),
                         [](const testing::TestParamInfo<LoadCase>& info) { return info.param.name; });

// ---- Load: the record -----------------------------------------------------------------------------------

TEST_F(PortInfoTest, LoadFillsEveryFieldFromTheDevicesKeys) {
    // The default machine: COM5 with two services.
    sim::LoadDefaultMachine();
    sim::PortDevice com5 = sim::PortDeviceKeys("0001", "0001");
    PortInfo info = Filled();
    DWORD count = 0;

    ASSERT_EQ(_GetPortInfoFromRegistry(5, &count, &info), 0);
    EXPECT_EQ(count, 2u);
    ExpectFieldsEqualRegistry(info, com5.propertiesKey);
    EXPECT_EQ(info.PortNumber, 5u);
    EXPECT_EQ(Text(info.PortName), u"COM5");
    EXPECT_EQ(info.NumServices, 2u);
    ExpectServiceEqualsRegistry(info.Services[0], com5.ServiceKey(0));
    ExpectServiceEqualsRegistry(info.Services[1], com5.ServiceKey(1));
    EXPECT_EQ(Text(info.Services[1].Address), u"server2.example.net");
    for (int i = 2; i < 8; ++i) EXPECT_TRUE(KeepsFill(&info.Services[i], sizeof info.Services[i])) << "service " << i;
    EXPECT_EQ(sim::DebugOutput(), "") << "no trace line while the switch is off";
}

TEST_F(PortInfoTest, LoadTakesTheStoredPortNumberAndCutsALongName) {
    sim::PortRecordValues record = sim::FullPortRecord(5);
    record.portNumber = 9;
    sim::AddPortDevice({.comNumber = 5, .record = record});
    sim::AddPortDevice({.comNumber = 10000, .record = sim::FullPortRecord(6)});
    PortInfo info = Filled();
    DWORD count = 0;

    ASSERT_EQ(_GetPortInfoFromRegistry(5, &count, &info), 0);
    EXPECT_EQ(info.PortNumber, 9u);

    info = Filled();
    ASSERT_EQ(_GetPortInfoFromRegistry(10000, &count, &info), 0);
    EXPECT_EQ(Text(info.PortName), u"COM1000");
}

struct PropertiesCase {
    const char* name;
    void (*damage)(const sim::PortDevice& device);
    ZelStatus result;
    const char* keptField;  // the field that must keep the caller's content, or null
    bool servicesRead;
};

void RewriteWithout(const sim::PortDevice& device, const char* value) {
    sim::RegDeleteTree(HKEY_LOCAL_MACHINE, device.propertiesKey);
    sim::PortRecordValues record = sim::FullPortRecord(5, {Service(0)});
    record.omitted = {value};
    sim::WritePortRecord(device.propertiesKey, record, 5);
}

const PropertiesCase kPropertiesCases[] = {
    {"Complete", [](const sim::PortDevice&) {}, 0, nullptr, true},
    {"CnTmoMissing", [](const sim::PortDevice& d) { RewriteWithout(d, "CnTmo"); }, ZEL_EXT_PORT_INFO_NOT_FOUND,
     "CnTmo", false},
    {"PortNumberMissing", [](const sim::PortDevice& d) { RewriteWithout(d, "PortNumber"); },
     ZEL_EXT_PORT_INFO_NOT_FOUND, "PortNumber", false},
    {"AESAsQword",
     [](const sim::PortDevice& d) { sim::RegSetRaw(HKEY_LOCAL_MACHINE, d.propertiesKey, "AES", REG_QWORD,
                                                   std::vector<uint8_t>(8, 1)); },
     ZEL_EXT_PORT_INFO_NOT_FOUND, "AES", false},
    {"AESKeyOf33Bytes",
     [](const sim::PortDevice& d) { sim::RegSetRaw(HKEY_LOCAL_MACHINE, d.propertiesKey, "AESKey", REG_BINARY,
                                                   std::vector<uint8_t>(33, 1)); },
     ZEL_EXT_PORT_INFO_NOT_FOUND, "AESKey", false},
    {"NumServicesMissing", [](const sim::PortDevice& d) { RewriteWithout(d, "NumServices"); },
     ZEL_EXT_PORT_INFO_NOT_FOUND, "NumServices", false},
    // The type is the driver's business: four bytes of text are four bytes.
    {"KeepAliveTimeAsText",
     [](const sim::PortDevice& d) { sim::RegSetRaw(HKEY_LOCAL_MACHINE, d.propertiesKey, "KeepAliveTime", REG_SZ,
                                                   {0x41, 0, 0, 0}); },
     0, nullptr, true},
};

void PrintTo(const PropertiesCase& c, std::ostream* out) { *out << c.name; }

class PortPropertiesTest : public SimTest, public testing::WithParamInterface<PropertiesCase> {};

TEST_P(PortPropertiesTest, EveryReadableValueArrives) {
    const PropertiesCase& c = GetParam();
    sim::PortDevice device = Port(5, sim::FullPortRecord(5, {Service(0)}));
    c.damage(device);
    sim::ClearCallLog();
    PortInfo info = Filled();
    DWORD count = 0;

    EXPECT_EQ(_GetPortInfoFromRegistry(5, &count, &info), c.result);
    for (const Field& field : kFields) {
        SCOPED_TRACE(field.name);
        bool kept = c.keptField && std::string(field.name) == c.keptField;
        if (kept && std::string(field.name) == "PortNumber")
            EXPECT_EQ(info.PortNumber, 5u) << "the number parsed from the device's name stays";
        else if (kept)
            EXPECT_TRUE(FieldKeepsFill(info, field.name));
        else
            EXPECT_EQ(FieldBytes(info, field), ValueBytes(device.propertiesKey, field.name));
    }
    EXPECT_EQ(ServiceKeysOpened().size(), c.servicesRead ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Values, PortPropertiesTest, testing::ValuesIn(kPropertiesCases),
                         [](const testing::TestParamInfo<PropertiesCase>& info) { return info.param.name; });

TEST_F(PortInfoTest, ShortValuesFillTheLowBytesOnly) {
    sim::PortDevice device = Port(5, sim::FullPortRecord(5));
    sim::RegSetRaw(HKEY_LOCAL_MACHINE, device.propertiesKey, "CnTmo", REG_DWORD, {0x34, 0x12});
    sim::RegSetRaw(HKEY_LOCAL_MACHINE, device.propertiesKey, "AESKey", REG_BINARY, std::vector<uint8_t>(16, 7));
    PortInfo info = Filled();
    DWORD count = 0;

    EXPECT_EQ(_GetPortInfoFromRegistry(5, &count, &info), 0);
    EXPECT_EQ(info.CnTmo, 0xA5A51234u);
    EXPECT_EQ(Bytes(info.AESKey, 16), std::vector<uint8_t>(16, 7));
    EXPECT_TRUE(KeepsFill(info.AESKey + 16, 16));
}

struct ServicesCase {
    const char* name;
    uint32_t numServices;
    int present;                  // service subkeys Service0 .. present-1 exist
    int missing;                  // one of them removed again, or -1
    std::vector<int> opened;      // service keys the load opens
    ZelStatus result;
};

const ServicesCase kServicesCases[] = {
    {"None", 0, 3, -1, {}, 0},
    {"Two", 2, 3, -1, {0, 1}, 0},
    {"EightOfTen", 10, 10, -1, {0, 1, 2, 3, 4, 5, 6, 7}, 0},
    {"Negative", 0xFFFFFFFF, 3, -1, {}, 0},
    {"SecondOfThreeMissing", 3, 3, 1, {0, 1, 2}, ZEL_EXT_PORT_INFO_NOT_FOUND},
};

void PrintTo(const ServicesCase& c, std::ostream* out) { *out << c.name; }

class PortServicesTest : public SimTest, public testing::WithParamInterface<ServicesCase> {};

TEST_P(PortServicesTest, ReadsServicesBelowTheCountOnly) {
    const ServicesCase& c = GetParam();
    std::vector<sim::PortServiceValues> services;
    for (int i = 0; i < c.present; ++i) services.push_back(Service(static_cast<uint32_t>(i)));
    sim::PortRecordValues record = sim::FullPortRecord(5, services);
    record.numServices = c.numServices;
    sim::PortDevice device = Port(5, record);
    if (c.missing >= 0) sim::RegDeleteTree(HKEY_LOCAL_MACHINE, device.ServiceKey(c.missing));
    sim::ClearCallLog();
    PortInfo info = Filled();
    DWORD count = 0;

    EXPECT_EQ(_GetPortInfoFromRegistry(5, &count, &info), c.result);
    EXPECT_EQ(ServiceKeysOpened(), c.opened);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        bool read = std::find(c.opened.begin(), c.opened.end(), i) != c.opened.end() && i != c.missing;
        if (read)
            ExpectServiceEqualsRegistry(info.Services[i], device.ServiceKey(i));
        else
            EXPECT_TRUE(KeepsFill(&info.Services[i], sizeof info.Services[i]));
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, PortServicesTest, testing::ValuesIn(kServicesCases),
                         [](const testing::TestParamInfo<ServicesCase>& info) { return info.param.name; });

TEST_F(PortInfoTest, UnreadableServiceValuesKeepTheirFields) {
    // Type missing, an Address too long for its field, Port as a QWORD: each is passed over.
    sim::PortDevice device = Port(5, sim::FullPortRecord(5, {Service(0), Service(1)}));
    sim::RegDeleteTree(HKEY_LOCAL_MACHINE, device.ServiceKey(0));
    sim::RegSetDword(HKEY_LOCAL_MACHINE, device.ServiceKey(0), "Port", 77);
    sim::RegSetRaw(HKEY_LOCAL_MACHINE, device.ServiceKey(0), "Address", REG_SZ, std::vector<uint8_t>(130, 0x31));
    sim::RegSetRaw(HKEY_LOCAL_MACHINE, device.ServiceKey(1), "Port", REG_QWORD, std::vector<uint8_t>(8, 1));
    PortInfo info = Filled();
    DWORD count = 0;

    EXPECT_EQ(_GetPortInfoFromRegistry(5, &count, &info), 0);
    EXPECT_TRUE(KeepsFill(&info.Services[0].Type, 4));
    EXPECT_TRUE(KeepsFill(info.Services[0].Address, 128));
    EXPECT_EQ(info.Services[0].Port, 77u);
    EXPECT_EQ(info.Services[1].Type, 1u);
    EXPECT_TRUE(KeepsFill(&info.Services[1].Port, 4));
}

TEST_F(PortInfoTest, LoadExaminesAtMost256Devices) {
    // 300 product ports COM1..COM300 in enumeration order.
    for (int com = 1; com <= 300; ++com) {
        bool sought = com == 1 || com == 256 || com == 257 || com == 300;
        Port(com, sought ? std::optional(sim::FullPortRecord(static_cast<uint32_t>(com))) : std::nullopt);
    }
    struct {
        LONG port;
        ZelStatus result;
    } cases[] = {{1, 0}, {256, 0}, {257, ZEL_PORT_NOT_FOUND}, {300, ZEL_PORT_NOT_FOUND}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        PortInfo info = Filled();
        DWORD count = 0;
        EXPECT_EQ(_GetPortInfoFromRegistry(c.port, &count, &info), c.result);
        EXPECT_EQ(count, 256u);
        // The 257th device is never opened.
        for (const sim::Call& call : sim::Calls("RegOpenKeyExW"))
            EXPECT_EQ(call.Text("lpSubKey").find(sim::PortDeviceKeys("0256", "").enumKey), std::string::npos);
        sim::ClearCallLog();
    }
}

// ---- Store -----------------------------------------------------------------------------------------------

TEST_F(PortInfoTest, StoreWritesTheRecordAsTheDriverReadsIt) {
    sim::PortDevice device = Port(5);
    PortInfo info = Sample(5, 2);

    ASSERT_EQ(_SetPortInfoInRegistry(&info), 0);

    for (const Field& field : kFields) {
        SCOPED_TRACE(field.name);
        auto value = sim::RegGetValue(HKEY_LOCAL_MACHINE, device.propertiesKey, field.name);
        ASSERT_TRUE(value);
        EXPECT_EQ(value->type, field.size == 32 ? REG_BINARY : REG_DWORD);
        EXPECT_EQ(value->data, FieldBytes(info, field));
    }
    EXPECT_EQ(sim::RegValueNames(HKEY_LOCAL_MACHINE, device.propertiesKey).size(), 19u) << "PortName is not stored";
    EXPECT_EQ(sim::RegSubkeys(HKEY_LOCAL_MACHINE, device.propertiesKey),
              (std::vector<std::string>{"Service0", "Service1"}));
    for (int i = 0; i < 2; ++i) {
        ExpectServiceEqualsRegistry(info.Services[i], device.ServiceKey(i));
        EXPECT_EQ(sim::RegGetValue(HKEY_LOCAL_MACHINE, device.ServiceKey(i), "Address")->type, REG_SZ);
    }

    // Write order and access, as the driver and the platform see them.
    std::vector<std::string> written;
    for (const sim::Call& call : sim::Calls("RegSetValueExW")) written.push_back(call.Text("lpValueName"));
    std::vector<std::string> expected(std::begin(kWriteOrder), std::end(kWriteOrder));
    for (int i = 0; i < 2; ++i) expected.insert(expected.end(), {"Address", "Type", "Port"});
    EXPECT_EQ(written, expected);
    auto creates = sim::Calls("RegCreateKeyExW");
    ASSERT_EQ(creates.size(), 3u);
    EXPECT_EQ(creates[0].Number("samDesired"), 0x2001Bu);
    EXPECT_EQ(creates[0].Text("lpSubKey"), device.propertiesKey);
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(creates[i].Number("samDesired"), 0x2001Fu);
        EXPECT_EQ(creates[i].Number("dwOptions"), REG_OPTION_NON_VOLATILE);
        EXPECT_TRUE(creates[i].Find("lpClass")->isNull);
    }
    for (const sim::Call& call : sim::Calls("RegOpenKeyExW")) {
        bool prune = call.Text("lpSubKey") == device.propertiesKey;
        EXPECT_EQ(call.Number("samDesired"), prune ? 0x2001Du : KEY_READ) << call.Text("lpSubKey");
    }

    // What was stored loads back unchanged, with the device's name.
    PortInfo loaded = Filled();
    DWORD count = 0;
    ASSERT_EQ(_GetPortInfoFromRegistry(5, &count, &loaded), 0);
    std::memcpy(loaded.PortName, info.PortName, sizeof loaded.PortName);
    EXPECT_EQ(std::memcmp(&loaded, &info, offsetof(PortInfo, Services) + 2 * sizeof(PortService)), 0);
}

TEST_F(PortInfoTest, StoreLeavesExactlyTheServicesOfTheRecord) {
    struct {
        LONG numServices;
        std::vector<std::string> subkeys;
    } cases[] = {
        {2, {"Service0", "Service1"}},
        {0, {}},
        {-1, {}},
        {10, {"Service0", "Service1", "Service2", "Service3", "Service4", "Service5", "Service6", "Service7"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.numServices);
        sim::Reset();
        // An earlier record with six services, and a key of another kind beside them.
        std::vector<sim::PortServiceValues> six;
        for (uint32_t i = 0; i < 6; ++i) six.push_back(Service(i));
        sim::PortDevice device = Port(5, sim::FullPortRecord(5, six));
        sim::RegCreateKey(HKEY_LOCAL_MACHINE, device.propertiesKey + "\\Extra");
        PortInfo info = Sample(5, c.numServices);

        EXPECT_EQ(_SetPortInfoInRegistry(&info), 0);
        std::vector<std::string> subkeys = c.subkeys;
        subkeys.push_back("Extra");
        std::sort(subkeys.begin(), subkeys.end());
        EXPECT_EQ(sim::RegSubkeys(HKEY_LOCAL_MACHINE, device.propertiesKey), subkeys);
        for (size_t i = 0; i < c.subkeys.size(); ++i)
            ExpectServiceEqualsRegistry(info.Services[i], device.ServiceKey(i));
        EXPECT_EQ(sim::LeakReport(), "");
    }
}

TEST_F(PortInfoTest, StoreWritesEveryDeviceWithTheNumberAndNoOther) {
    sim::PortDevice first = Port(7, sim::FullPortRecord(1));
    sim::PortDevice other = Port(8, sim::FullPortRecord(2));
    sim::PortDevice second = Port(7, sim::FullPortRecord(3));
    PortInfo info = Sample(7, 1);

    ASSERT_EQ(_SetPortInfoInRegistry(&info), 0);
    ExpectFieldsEqualRegistry(info, first.propertiesKey);
    ExpectFieldsEqualRegistry(info, second.propertiesKey);
    EXPECT_EQ(sim::RegGetValue(HKEY_LOCAL_MACHINE, other.propertiesKey, "AES")->Dword(), 201u);
}

TEST_F(PortInfoTest, AddPortFlowWritesTheDevicesNumberOverAStaleOne) {
    // A new device whose installation left a record naming port 9: load, set the number, store.
    sim::PortRecordValues stale = sim::FullPortRecord(4, {Service(0)});
    stale.portNumber = 9;
    sim::PortDevice device = Port(5, stale);
    PortInfo info;
    std::memset(&info, 0, sizeof info);
    DWORD count = 0;

    ASSERT_EQ(_GetPortInfoFromRegistry(5, &count, &info), 0);
    EXPECT_EQ(info.PortNumber, 9u);
    // Stored under its own number, the record would find no device.
    EXPECT_EQ(_SetPortInfoInRegistry(&info), ZEL_NO_DEVICES_FOUND);
    info.PortNumber = 5;
    ASSERT_EQ(_SetPortInfoInRegistry(&info), 0);
    EXPECT_EQ(sim::RegGetValue(HKEY_LOCAL_MACHINE, device.propertiesKey, "PortNumber")->Dword(), 5u);
    EXPECT_EQ(sim::RegGetValue(HKEY_LOCAL_MACHINE, device.propertiesKey, "AES")->Dword(), 401u);
    ExpectServiceEqualsRegistry(info.Services[0], device.ServiceKey(0));
}

struct StoreCase {
    const char* name;
    void (*machine)();
    ZelStatus result;
    DWORD port = 5;
};

const StoreCase kStoreCases[] = {
    {"NoPortsKey", [] {}, ZEL_PORT_KEY_NOT_FOUND},
    {"NoDevices", [] { sim::RegCreateKey(HKEY_LOCAL_MACHINE, sim::kPortsEnumPath); }, ZEL_NO_DEVICES_FOUND},
    {"OtherNumberOnly", [] { Port(3); }, ZEL_NO_DEVICES_FOUND},
    {"NoDeviceParameters", [] { sim::AddPortDevice({.comNumber = 5, .deviceParameters = false}); },
     ZEL_NO_DEVICE_PARAMETERS_FOUND},
    {"NoPortName", [] { sim::AddPortDevice({.comNumber = 5, .writePortName = false}); }, ZEL_PORT_NAME_NOT_FOUND},
    {"NoDriver", [] { sim::AddPortDevice({.comNumber = 5, .writeDriver = false}); }, ZEL_EXT_PORT_INFO_NOT_FOUND},
    {"StoredPortSurvivesLaterFailures",
     [] {
         Port(5);
         sim::AddPortDevice({.comNumber = 6, .writePortName = false});
     },
     0},
    {"LaterMatchingFailureWins",
     [] {
         Port(5);
         sim::AddPortDevice({.comNumber = 5, .writeDriver = false});
     },
     ZEL_EXT_PORT_INFO_NOT_FOUND},
    // The store has no 256-device limit.
    {"BeyondTheLoadsLimit",
     [] {
         for (int com = 1; com <= 257; ++com) Port(com == 257 ? 5000 : com);
     },
     0, 5000},
};

void PrintTo(const StoreCase& c, std::ostream* out) { *out << c.name; }

class PortStoreTest : public SimTest, public testing::WithParamInterface<StoreCase> {};

TEST_P(PortStoreTest, Result) {
    const StoreCase& c = GetParam();
    c.machine();
    PortInfo info = Sample(c.port, 1);
    EXPECT_EQ(_SetPortInfoInRegistry(&info), c.result);
}

INSTANTIATE_TEST_SUITE_P(Machines, PortStoreTest, testing::ValuesIn(kStoreCases),
                         [](const testing::TestParamInfo<StoreCase>& info) { return info.param.name; });

// ---- Store under failing writes -------------------------------------------------------------------------

struct Write {
    std::string key;
    std::string name;
    std::vector<uint8_t> data;
    bool service;
};

// Every write of a store of info under device, in order.
std::vector<Write> WritesOf(const PortInfo& info, const sim::PortDevice& device, int services) {
    std::vector<Write> writes;
    for (const char* name : kWriteOrder)
        writes.push_back({device.propertiesKey, name, FieldBytes(info, FieldNamed(name)), false});
    for (int i = 0; i < services; ++i) {
        const PortService& s = info.Services[i];
        writes.push_back({device.ServiceKey(i), "Address", Bytes(s.Address, 128), true});
        writes.push_back({device.ServiceKey(i), "Type", Bytes(&s.Type, 4), true});
        writes.push_back({device.ServiceKey(i), "Port", Bytes(&s.Port, 4), true});
    }
    return writes;
}

TEST_F(PortInfoTest, FailingWriteSweep) {
    // Fail the 1st, 2nd, ... write of a store over an earlier record with six services.
    PortInfo info = Sample(5, 3);
    for (unsigned n = 1;; ++n) {
        SCOPED_TRACE("failing write " + std::to_string(n));
        sim::Reset();
        std::vector<sim::PortServiceValues> six;
        for (uint32_t i = 0; i < 6; ++i) six.push_back(Service(i));
        sim::PortDevice device = Port(5, sim::FullPortRecord(9, six));
        std::map<std::string, std::vector<uint8_t>> before;
        for (const Field& field : kFields) before[field.name] = ValueBytes(device.propertiesKey, field.name);
        std::vector<Write> writes = WritesOf(info, device, 3);
        sim::FailCall("RegSetValueExW", n, ERROR_ACCESS_DENIED);

        ZelStatus result = _SetPortInfoInRegistry(&info);

        EXPECT_EQ(sim::LeakReport(), "");
        if (sim::FaultsInjected() == 0) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(n, writes.size() + 1);
            for (const Write& w : writes) EXPECT_EQ(ValueBytes(w.key, w.name), w.data) << w.key << " " << w.name;
            break;
        }
        ASSERT_LE(n, writes.size());
        EXPECT_EQ(result, ZEL_REGISTRY_SAVE_ERROR);
        size_t failed = n - 1;
        bool failedInProperties = !writes[failed].service;
        for (size_t k = 0; k < writes.size(); ++k) {
            const Write& w = writes[k];
            SCOPED_TRACE(w.key + " " + w.name);
            bool written = k < failed || (k > failed && w.service && failedInProperties);
            if (written)
                EXPECT_EQ(ValueBytes(w.key, w.name), w.data);
            else if (!w.service)
                EXPECT_EQ(ValueBytes(w.key, w.name), before[w.name]) << "a value after the failing one changed";
            else
                EXPECT_FALSE(sim::RegGetValue(HKEY_LOCAL_MACHINE, w.key, w.name)) << "a later service value exists";
        }
        // Subkeys of the earlier record beyond the new count are gone in any case.
        for (int i = 3; i < 6; ++i) EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, device.ServiceKey(i)));
    }
}

TEST_F(PortInfoTest, FailingCreateSweep) {
    // 1: the Properties key itself; 2 to 4: Service0 to Service2.
    PortInfo info = Sample(5, 3);
    for (unsigned n = 1;; ++n) {
        SCOPED_TRACE("failing create " + std::to_string(n));
        sim::Reset();
        sim::PortDevice device = Port(5, sim::FullPortRecord(9, {Service(0), Service(1), Service(2), Service(3)}));
        sim::FailCall("RegCreateKeyExW", n, ERROR_ACCESS_DENIED);

        ZelStatus result = _SetPortInfoInRegistry(&info);

        EXPECT_EQ(sim::LeakReport(), "");
        if (sim::FaultsInjected() == 0) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(n, 5u);
            break;
        }
        if (n == 1) {
            // Nothing written, and the services are left alone.
            EXPECT_EQ(result, ZEL_EXT_PORT_INFO_NOT_FOUND);
            EXPECT_EQ(sim::CallCount("RegSetValueExW"), 0u);
            EXPECT_EQ(sim::RegSubkeys(HKEY_LOCAL_MACHINE, device.propertiesKey).size(), 4u);
            continue;
        }
        // A service subkey that cannot be created is skipped without failing the store (a failed store
        // would have the port removed again); the others are stored all the same.
        int lost = static_cast<int>(n) - 2;
        EXPECT_EQ(result, 0);
        ExpectFieldsEqualRegistry(info, device.propertiesKey);
        for (int i = 0; i < 3; ++i) {
            if (i == lost)
                EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, device.ServiceKey(i)));
            else
                ExpectServiceEqualsRegistry(info.Services[i], device.ServiceKey(i));
        }
    }
}

// Every failure of any call on the way leaves no key open and gives a code the store or load may give.
TEST_F(PortInfoTest, AnyFailingCallSweep) {
    const std::vector<ZelStatus> loadCodes = {0, ZEL_PORT_NOT_FOUND, ZEL_PORT_KEY_NOT_FOUND,
                                              ZEL_NO_DEVICE_PARAMETERS_FOUND, ZEL_PORT_NAME_NOT_FOUND,
                                              ZEL_EXT_PORT_INFO_NOT_FOUND};
    const std::vector<ZelStatus> storeCodes = {0, ZEL_NO_DEVICES_FOUND, ZEL_PORT_KEY_NOT_FOUND,
                                               ZEL_NO_DEVICE_PARAMETERS_FOUND, ZEL_PORT_NAME_NOT_FOUND,
                                               ZEL_EXT_PORT_INFO_NOT_FOUND, ZEL_REGISTRY_SAVE_ERROR};
    for (bool store : {false, true}) {
        for (unsigned n = 1;; ++n) {
            SCOPED_TRACE((store ? "store, failing call " : "load, failing call ") + std::to_string(n));
            sim::LoadDefaultMachine();
            sim::FailCall("*", n, ERROR_ACCESS_DENIED);
            PortInfo info = Sample(5, 2);
            DWORD count = 0;
            ZelStatus result = store ? _SetPortInfoInRegistry(&info) : _GetPortInfoFromRegistry(5, &count, &info);
            bool faulted = sim::FaultsInjected() != 0;

            EXPECT_EQ(sim::LeakReport(), "");
            EXPECT_TRUE(sim::TakeViolations().empty());
            const auto& codes = store ? storeCodes : loadCodes;
            EXPECT_NE(std::find(codes.begin(), codes.end(), result), codes.end()) << result;
            if (!faulted) {
                EXPECT_EQ(result, 0);
                break;
            }
        }
    }
}

// ---- Trace ----------------------------------------------------------------------------------------------

struct TraceOn {
    TraceOn() { TraceSwitch = 1; }
    ~TraceOn() { TraceSwitch = 0; }
};

// The lines written, each cut after its label and text (the code's system text follows).
void ExpectTraceLines(const std::vector<std::string>& expected) {
    std::vector<std::string> writes = sim::DebugOutputWrites();
    ASSERT_EQ(writes.size(), expected.size()) << sim::DebugOutput();
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(writes[i].substr(0, expected[i].size()), expected[i]) << "line " << i;
}

TEST_F(PortInfoTest, TraceLinesWhileTheSwitchIsOn) {
    sim::LoadDefaultMachine();
    sim::PortDevice com5 = sim::PortDeviceKeys("0001", "0001");
    std::string properties = com5.propertiesKey;
    TraceOn on;
    PortInfo info = Filled();
    DWORD count = 0;

    ASSERT_EQ(_GetPortInfoFromRegistry(5, &count, &info), 0);
    ASSERT_EQ(_GetPortInfoFromRegistry(4, &count, &info), ZEL_PORT_NOT_FOUND);
    info.NumServices = 1;
    ASSERT_EQ(_SetPortInfoInRegistry(&info), 0);
    ExpectTraceLines({
        "ZelIf(TRAC) _GetPortInfoFromRegistry++ COM5 portPath System\\CurrentControlSet\\Enum\\Root\\Ports\n",
        "ZelIf(TRAC) _GetClassPortProperties++ keyPath " + properties + "\n",
        "ZelIf(TRAC) _GetClassPortServices++\n",
        "ZelIf(TRAC) _GetClassPortServices-- (00000000) ",
        "ZelIf(TRAC) _GetClassPortProperties-- (00000000) ",
        "ZelIf(TRAC) _GetPortInfoFromRegistry++ Num Ports 2 (00000000) ",
        "ZelIf(TRAC) _GetPortInfoFromRegistry++ COM4 portPath ",
        "ZelIf(ERR_) _GetPortInfoFromRegistry++ Num Ports 2 (FFFFFFF9) ZEL_PORT_NOT_FOUND\n",
        "ZelIf(TRAC) _SetPortInfoInRegistry++ COM5\n",
        "ZelIf(TRAC) _SetClassPortProperties++ COM5\n",
        "ZelIf(TRAC) _SetClassPortServices++ keyPath " + properties + "\n",
        "ZelIf(TRAC) _SetClassPortServices-- (00000000) ",
        "ZelIf(TRAC) _SetClassPortProperties-- (00000000) ",
        "ZelIf(TRAC) _SetPortInfoInRegistry-- (00000000) ",
    });
}

}  // namespace
