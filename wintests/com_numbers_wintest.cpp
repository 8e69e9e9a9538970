// COM number accounting on Wine: the device scan over Ports-class devices registered through Wine's own
// SetupAPI, the SerialComm scan on Wine's registry, and the COM port database both as Wine has it
// (stubs that raise) and as the test fixture msports.dll keeps it in the registry.
//
// Suites whose name ends in "OnFixture" need the fixture database; tools/wine_tests.sh runs them on their
// own, with the fixture loaded in place of Wine's msports.dll, and every other suite without it.
#include <algorithm>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "devinst/com_numbers.h"
#include "platform/guard.h"
#include "wintests/devices.h"
#include "wintests/wine_test.h"

namespace {

using wintest::DeviceSet;
using wintest::PortsDevice;

constexpr WCHAR kSerialComm[] = L"Hardware\\DeviceMap\\SerialComm";
constexpr WCHAR kComNameArbiter[] = L"System\\CurrentControlSet\\Control\\COM Name Arbiter";
constexpr WCHAR kComDbValue[] = L"ComDB";
// What Wine's stubs raise when called.
constexpr DWORD kWineStubException = 0x80000100;

bool ComDbFixtureLoaded() {
    HMODULE msports = GetModuleHandleW(L"msports.dll");
    return msports && GetProcAddress(msports, "ZelComDbFixture");
}

// The COM numbers whose entries are set.
std::vector<int> Marked(const BYTE* map) {
    std::vector<int> numbers;
    for (DWORD i = 0; i < kPortUsageEntries; ++i)
        if (map[i]) numbers.push_back(static_cast<int>(i + 1));
    return numbers;
}

std::vector<int> Joined(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    std::sort(a.begin(), a.end());
    a.erase(std::unique(a.begin(), a.end()), a.end());
    return a;
}

struct Scan {
    BYTE map[kPortUsageEntries];
    ZelStatus result;
};

void RunGetOtherPorts(void* context) {
    auto* scan = static_cast<Scan*>(context);
    scan->result = GetOtherPorts(scan->map);
}

std::vector<int> OtherPorts() {
    Scan scan = {};
    EXPECT_EQ(ZelRunGuarded(RunGetOtherPorts, &scan), 0u);
    EXPECT_EQ(scan.result, 0);
    return Marked(scan.map);
}

std::vector<int> SerialCommPorts() {
    BYTE map[kPortUsageEntries] = {};
    SearchHardwareSerialComm(map);
    return Marked(map);
}

std::vector<BYTE> Bytes(const std::wstring& text) {
    const BYTE* begin = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(begin, begin + (text.size() + 1) * sizeof(WCHAR));
}

// text followed by 'X' up to `bytes` bytes, without a terminator.
std::vector<BYTE> Unterminated(std::wstring text, size_t bytes) {
    text.resize(bytes / sizeof(WCHAR), L'X');
    const BYTE* begin = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(begin, begin + bytes);
}

// A fresh prefix has SerialComm values of its own (Wine lists its serial devices there): each test starts
// from an empty key, and what the prefix had is put back afterwards.
class SerialCommValues {
public:
    void SaveAndClear() {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_READ | KEY_SET_VALUE, &key), ERROR_SUCCESS);
        for (DWORD index = 0;; ++index) {
            Saved value;
            WCHAR name[256];
            DWORD nameChars = 256;
            value.data.resize(4096);
            DWORD bytes = static_cast<DWORD>(value.data.size());
            if (RegEnumValueW(key, index, name, &nameChars, nullptr, &value.type, value.data.data(), &bytes) !=
                ERROR_SUCCESS)
                break;
            value.name.assign(name, nameChars);
            value.data.resize(bytes);
            saved_.push_back(value);
        }
        for (const Saved& value : saved_) EXPECT_EQ(RegDeleteValueW(key, value.name.c_str()), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    void Restore() {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_READ | KEY_SET_VALUE, &key), ERROR_SUCCESS);
        std::vector<std::wstring> names;
        WCHAR name[256];
        for (DWORD index = 0;; ++index) {
            DWORD nameChars = 256;
            if (RegEnumValueW(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            names.emplace_back(name, nameChars);
        }
        for (const std::wstring& added : names) RegDeleteValueW(key, added.c_str());
        for (const Saved& value : saved_)
            EXPECT_EQ(RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                                     static_cast<DWORD>(value.data.size())),
                      ERROR_SUCCESS);
        RegCloseKey(key);
        saved_.clear();
    }

    static void Put(const WCHAR* name, DWORD type, const std::vector<BYTE>& data) {
        wintest::PutValue(HKEY_LOCAL_MACHINE, kSerialComm, name, type, data.data(), static_cast<DWORD>(data.size()));
    }

private:
    struct Saved {
        std::wstring name;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };
    std::vector<Saved> saved_;
};

class ComNumbersTest : public wintest::WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        instancesBefore_ = wintest::PortsDeviceInstances();
        serialComm_.SaveAndClear();
    }

    void TearDown() override {
        devices_.RemoveAll();
        EXPECT_EQ(wintest::PortsDeviceInstances(), instancesBefore_) << "devices left registered";
        serialComm_.Restore();
        WineTest::TearDown();
    }

    DeviceSet devices_;
    SerialCommValues serialComm_;

private:
    std::vector<std::wstring> instancesBefore_;
};

// ---- The device scan ----------------------------------------------------------------------------------

const std::vector<std::wstring> kOtherVendor = {L"ZelTest\\SerialPort", L"ZelTest\\Compatible"};

struct DeviceCase {
    const char* name;
    PortsDevice device;
    std::vector<int> marks;
};

const DeviceCase kDeviceCases[] = {
    {"PortName", {kOtherVendor, L"Serial Port (COM3)", true, {{L"PortName", L"COM9"}}}, {9}},
    {"PortNameInLowerCase", {kOtherVendor, std::nullopt, true, {{L"PortName", L"com15"}}}, {15}},
    {"PortNameAfterAPrefix", {kOtherVendor, std::nullopt, true, {{L"PortName", L"\\\\.\\COM21"}}}, {21}},
    {"PortNameBeyondTheMap", {kOtherVendor, L"Serial Port (COM4)", true, {{L"PortName", L"COM300"}}}, {}},
    {"DosDeviceNameWithoutPortName", {kOtherVendor, std::nullopt, true, {{L"DosDeviceName", L"\\\\.\\COM12"}}}, {12}},
    {"PortNameBeforeDosDeviceName",
     {kOtherVendor, std::nullopt, true, {{L"DosDeviceName", L"COM13"}, {L"PortName", L"COM14"}}},
     {14}},
    {"OwnDeviceSkippedWhateverItsValues",
     {{L"*ZelDevice"}, L"ZEL Port (COM10)", true, {{L"PortName", L"COM11"}, {L"DosDeviceName", L"COM12"}}},
     {}},
    {"OwnIdOnlySecondStillScanned",
     {{L"ZelTest\\Wrapper", L"*zeldevice"}, std::nullopt, true, {{L"PortName", L"COM16"}}},
     {16}},
    {"NoHardwareIdNotScanned", {{}, L"Serial Port (COM17)", true, {{L"PortName", L"COM17"}}}, {}},
    {"FriendlyNameWithoutHardwareKey", {kOtherVendor, L"USB Serial Port (COM7)", false, {}}, {7}},
    {"StandardModem", {kOtherVendor, L"Standard Modem", false, {}}, {}},
    {"SixCharacterFriendlyName", {kOtherVendor, L"(COM8)", false, {}}, {}},
    {"SevenCharacterFriendlyName", {kOtherVendor, L"P(COM8)", false, {}}, {8}},
    {"NoFriendlyNameNoHardwareKey", {kOtherVendor, std::nullopt, false, {}}, {}},
    // Wine gives a root device no enumerator name and a devnode status of 0, so a hardware key without
    // port values leads to the friendly name; elsewhere a root device's DN_ROOT_ENUMERATED does the same.
    {"HardwareKeyWithoutPortValues", {kOtherVendor, L"Communications Port (COM5)", true, {{L"Other", L"COM6"}}}, {5}},
};

void PrintTo(const DeviceCase& device, std::ostream* out) { *out << device.name; }

class GetOtherPortsTest : public ComNumbersTest, public testing::WithParamInterface<DeviceCase> {};

TEST_P(GetOtherPortsTest, MarksWhatTheDeviceHolds) {
    std::vector<int> before = OtherPorts();
    ASSERT_NO_FATAL_FAILURE(devices_.Add(GetParam().device));
    EXPECT_EQ(OtherPorts(), Joined(before, GetParam().marks));
}

INSTANTIATE_TEST_SUITE_P(Wine, GetOtherPortsTest, testing::ValuesIn(kDeviceCases),
                         [](const testing::TestParamInfo<DeviceCase>& info) { return std::string(info.param.name); });

TEST_F(ComNumbersTest, GetOtherPortsWalksEveryDeviceAndOnlySetsEntries) {
    std::vector<int> expected = OtherPorts();
    for (const DeviceCase& device : kDeviceCases) ASSERT_NO_FATAL_FAILURE(devices_.Add(device.device));
    for (const DeviceCase& device : kDeviceCases) expected = Joined(expected, device.marks);

    Scan scan = {};
    scan.map[99] = 1;
    scan.map[8] = 1;  // COM9, also held by a device
    EXPECT_EQ(ZelRunGuarded(RunGetOtherPorts, &scan), 0u);
    EXPECT_EQ(scan.result, 0);
    EXPECT_EQ(Marked(scan.map), Joined(expected, {9, 100}));
}

// A device that counts as a serial port without a usable number falls back to its boot configuration,
// which Wine's configuration manager lacks: its stub raises, and that is the sign of the fallback here.
const PortsDevice kResourceFallbacks[] = {
    {kOtherVendor, L"Printer Port (COM3)", true, {{L"PortName", L"LPT1"}}},
    {kOtherVendor, L"Serial Port (COM3)", true, {{L"PortName", L"COM0"}}},
    {kOtherVendor, L"Serial Port (COM3)", true, {{L"PortName", L""}}},
    {kOtherVendor, L"Serial Port (COM3)", true, {{L"FirmwareIdentified", L"1"}}},
};

TEST_F(ComNumbersTest, GetOtherPortsFallsBackToResourcesWhenTheNameHasNoNumber) {
    for (const PortsDevice& device : kResourceFallbacks) {
        SCOPED_TRACE(testing::PrintToString(device.parameters[0].first + L"=" + device.parameters[0].second));
        ASSERT_NO_FATAL_FAILURE(devices_.Add(device));
        Scan scan = {};
        DWORD code = ZelRunGuarded(RunGetOtherPorts, &scan);
        if (wintest::OnWine()) {
            EXPECT_EQ(code, kWineStubException) << "CM_Get_First_Log_Conf not reached";
        } else {
            EXPECT_EQ(code, 0u);
            EXPECT_EQ(Marked(scan.map), std::vector<int>()) << "a root device has no boot configuration";
        }
        devices_.RemoveAll();
    }
}

// ---- The SerialComm scan ------------------------------------------------------------------------------

struct SerialCommCase {
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
    std::vector<int> marks;
};

const SerialCommCase kSerialCommCases[] = {
    {"Com1", REG_SZ, Bytes(L"COM1"), {1}},
    {"Com255", REG_SZ, Bytes(L"COM255"), {255}},
    {"Com256", REG_SZ, Bytes(L"COM256"), {}},
    {"Com0", REG_SZ, Bytes(L"COM0"), {}},
    {"NegativeNumber", REG_SZ, Bytes(L"COM-3"), {}},
    {"Lpt1", REG_SZ, Bytes(L"LPT1"), {}},
    {"LowerCase", REG_SZ, Bytes(L"com5"), {}},
    {"NothingAfterM", REG_SZ, Bytes(L"COM"), {}},
    {"SecondCharacterNotExamined", REG_SZ, Bytes(L"CXM4"), {4}},
    {"WhiteSpaceBeforeTheNumber", REG_SZ, Bytes(L"COM  12"), {12}},
    {"TypeNotExamined", REG_BINARY, Bytes(L"COM9"), {9}},
    {"UnterminatedFillingTheBuffer", REG_SZ, Unterminated(L"COM12", 512), {12}},
    {"LongerThanTheBuffer", REG_SZ, Unterminated(L"COM13", 514), {}},
};

void PrintTo(const SerialCommCase& value, std::ostream* out) { *out << value.name; }

class SearchHardwareSerialCommTest : public ComNumbersTest, public testing::WithParamInterface<SerialCommCase> {};

TEST_P(SearchHardwareSerialCommTest, MarksTheValuesComNumber) {
    SerialCommValues::Put(L"\\Device\\ZelTest0", GetParam().type, GetParam().data);
    EXPECT_EQ(SerialCommPorts(), GetParam().marks);
}

INSTANTIATE_TEST_SUITE_P(Wine, SearchHardwareSerialCommTest, testing::ValuesIn(kSerialCommCases),
                         [](const testing::TestParamInfo<SerialCommCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ComNumbersTest, SearchHardwareSerialCommReadsEveryValue) {
    SerialCommValues::Put(L"\\Device\\Serial3", REG_SZ, Bytes(L"COM3"));
    SerialCommValues::Put(L"\\Device\\Parallel0", REG_SZ, Bytes(L"LPT1"));
    SerialCommValues::Put(L"\\Device\\ZelTest1", REG_SZ, Unterminated(L"COM13", 514));
    SerialCommValues::Put(L"\\Device\\Serial200", REG_SZ, Bytes(L"COM200"));
    BYTE map[kPortUsageEntries] = {};
    map[49] = 1;
    SearchHardwareSerialComm(map);
    EXPECT_EQ(Marked(map), (std::vector<int>{3, 50, 200}));
}

// ---- The COM port database ----------------------------------------------------------------------------

struct UsageCall {
    BYTE* map;
    DWORD mapSize;
    DWORD reported;
    ZelStatus result;
};

void RunGetPortUsage(void* context) {
    auto* call = static_cast<UsageCall*>(context);
    call->result = _GetPortUsage(call->map, call->mapSize, &call->reported);
}

struct ReleaseCall {
    DWORD comNumber;
    ZelStatus result;
};

void RunReleasePort(void* context) {
    auto* call = static_cast<ReleaseCall*>(context);
    call->result = _ReleasePort(call->comNumber);
}

class ComDbOnWineStubs : public ComNumbersTest {};

TEST_F(ComDbOnWineStubs, GetPortUsageAndReleasePortEndInTheStubsException) {
    if (!wintest::OnWine()) GTEST_SKIP() << "relies on the COM port database being an unimplemented stub";
    if (ComDbFixtureLoaded()) GTEST_SKIP() << "the fixture database is loaded";
    BYTE map[kPortUsageEntries];
    std::memset(map, 0xAA, sizeof map);
    UsageCall usage = {map, kPortUsageEntries, 77, -100};
    EXPECT_EQ(ZelRunGuarded(RunGetPortUsage, &usage), kWineStubException);
    EXPECT_EQ(usage.result, -100);
    EXPECT_EQ(usage.reported, 77u);
    EXPECT_TRUE(std::all_of(map, map + kPortUsageEntries, [](BYTE entry) { return entry == 0xAA; }))
        << "the map was written";

    ReleaseCall release = {5, -100};
    EXPECT_EQ(ZelRunGuarded(RunReleasePort, &release), kWineStubException);
    EXPECT_EQ(release.result, -100);
}

class ComDbOnFixture : public ComNumbersTest {
protected:
    void SetUp() override {
        ComNumbersTest::SetUp();
        if (!ComDbFixtureLoaded()) GTEST_SKIP() << "the fixture msports.dll is not loaded";
        keyExisted_ = wintest::KeyExists(HKEY_LOCAL_MACHINE, kComNameArbiter);
        saved_ = wintest::GetValue(HKEY_LOCAL_MACHINE, kComNameArbiter, kComDbValue);
        DeleteComDb();
        saving_ = true;
    }

    void TearDown() override {
        if (saving_) {
            DeleteComDb();
            if (saved_)
                wintest::PutValue(HKEY_LOCAL_MACHINE, kComNameArbiter, kComDbValue, saved_->type, saved_->data.data(),
                                  static_cast<DWORD>(saved_->data.size()));
            if (!keyExisted_) wintest::DeleteTree(HKEY_LOCAL_MACHINE, kComNameArbiter);
        }
        ComNumbersTest::TearDown();
    }

    static void DeleteComDb() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kComNameArbiter, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        RegDeleteValueW(key, kComDbValue);
        RegCloseKey(key);
    }

    static void PutComDb(std::vector<BYTE> bits) {
        wintest::PutValue(HKEY_LOCAL_MACHINE, kComNameArbiter, kComDbValue, REG_BINARY, bits.data(),
                          static_cast<DWORD>(bits.size()));
    }

    static std::vector<BYTE> StoredComDb() {
        auto value = wintest::GetValue(HKEY_LOCAL_MACHINE, kComNameArbiter, kComDbValue);
        return value ? value->data : std::vector<BYTE>();
    }

    static void Claim(DWORD comNumber) {
        HCOMDB database = HCOMDB_INVALID_HANDLE_VALUE;
        ASSERT_EQ(ComDBOpen(&database), ERROR_SUCCESS);
        BOOL forced = TRUE;
        EXPECT_EQ(ComDBClaimPort(database, comNumber, FALSE, &forced), ERROR_SUCCESS) << "claiming " << comNumber;
        EXPECT_FALSE(forced);
        EXPECT_EQ(ComDBClose(database), ERROR_SUCCESS);
    }

    static UsageCall Usage(BYTE* map, DWORD mapSize) {
        UsageCall call = {map, mapSize, 0, -100};
        EXPECT_EQ(ZelRunGuarded(RunGetPortUsage, &call), 0u);
        return call;
    }

private:
    bool saving_ = false;
    bool keyExisted_ = false;
    std::optional<wintest::StoredValue> saved_;
};

// The fixture stands in for the simulator's database; this holds it to the same answers.
TEST_F(ComDbOnFixture, DatabaseAnswersAsTheSimulatedOne) {
    HCOMDB database = HCOMDB_INVALID_HANDLE_VALUE;
    ASSERT_EQ(ComDBOpen(&database), ERROR_SUCCESS);
    DWORD reported = 0;
    EXPECT_EQ(ComDBGetCurrentPortUsage(database, nullptr, 0, CDB_REPORT_BYTES, &reported), ERROR_SUCCESS);
    EXPECT_EQ(reported, 256u);

    BOOL forced = TRUE;
    EXPECT_EQ(ComDBClaimPort(database, 0, FALSE, &forced), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ComDBClaimPort(database, 257, FALSE, &forced), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ComDBClaimPort(database, 5, FALSE, &forced), ERROR_SUCCESS);
    EXPECT_FALSE(forced);
    EXPECT_EQ(ComDBClaimPort(database, 5, FALSE, &forced), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ComDBClaimPort(database, 5, TRUE, &forced), ERROR_SUCCESS);
    EXPECT_TRUE(forced);
    EXPECT_EQ(ComDBClaimPort(database, 256, FALSE, nullptr), ERROR_SUCCESS);

    BYTE bytes[300];
    std::memset(bytes, 0xAA, sizeof bytes);
    EXPECT_EQ(ComDBGetCurrentPortUsage(database, bytes, 10, CDB_REPORT_BYTES, &reported), ERROR_SUCCESS);
    EXPECT_EQ(reported, 10u);
    EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 11), (std::vector<BYTE>{0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0xAA}));
    EXPECT_EQ(ComDBGetCurrentPortUsage(database, bytes, sizeof bytes, CDB_REPORT_BYTES, &reported), ERROR_SUCCESS);
    EXPECT_EQ(reported, 256u);
    EXPECT_EQ(bytes[255], 1);
    EXPECT_EQ(bytes[256], 0xAA);
    BYTE bits[40];
    std::memset(bits, 0xAA, sizeof bits);
    EXPECT_EQ(ComDBGetCurrentPortUsage(database, bits, sizeof bits, CDB_REPORT_BITS, &reported), ERROR_SUCCESS);
    EXPECT_EQ(reported, 256u);
    EXPECT_EQ(bits[0], 0x10);
    EXPECT_EQ(bits[31], 0x80);
    EXPECT_EQ(bits[32], 0xAA);
    EXPECT_EQ(ComDBGetCurrentPortUsage(database, bytes, 10, 2, &reported), ERROR_INVALID_PARAMETER);

    EXPECT_EQ(ComDBReleasePort(database, 0), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ComDBReleasePort(database, 257), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ComDBReleasePort(database, 5), ERROR_SUCCESS);
    EXPECT_EQ(ComDBClose(database), ERROR_SUCCESS);

    std::vector<BYTE> expected(32, 0);
    expected[31] = 0x80;
    EXPECT_EQ(StoredComDb(), expected);

    // A longer bitmap is a larger database.
    std::vector<BYTE> larger(64, 0);
    larger[299 / 8] = 1 << (299 % 8);
    PutComDb(larger);
    ASSERT_EQ(ComDBOpen(&database), ERROR_SUCCESS);
    EXPECT_EQ(ComDBGetCurrentPortUsage(database, nullptr, 0, CDB_REPORT_BYTES, &reported), ERROR_SUCCESS);
    EXPECT_EQ(reported, 512u);
    EXPECT_EQ(ComDBClaimPort(database, 300, FALSE, &forced), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ComDBClose(database), ERROR_SUCCESS);
}

TEST_F(ComDbOnFixture, GetPortUsageJoinsClaimsDevicesAndSerialComm) {
    Claim(3);
    Claim(200);
    ASSERT_NO_FATAL_FAILURE(devices_.Add({kOtherVendor, std::nullopt, true, {{L"PortName", L"COM9"}}}));
    ASSERT_NO_FATAL_FAILURE(devices_.Add({{L"*zeldevice"}, L"ZEL Port (COM4)", true, {{L"PortName", L"COM4"}}}));
    SerialCommValues::Put(L"\\Device\\Serial16", REG_SZ, Bytes(L"COM17"));

    BYTE map[kPortUsageEntries];
    std::memset(map, 0xAA, sizeof map);
    UsageCall call = Usage(map, kPortUsageEntries);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.reported, 256u);
    // Every entry comes from the database first: nothing of the 0xAA fill is left.
    EXPECT_EQ(Marked(map), (std::vector<int>{3, 9, 17, 200}));
    EXPECT_TRUE(std::all_of(map, map + kPortUsageEntries, [](BYTE entry) { return entry <= 1; }));
}

TEST_F(ComDbOnFixture, GetPortUsageWithoutMapReportsTheDatabaseSize) {
    UsageCall call = Usage(nullptr, 0);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.reported, 256u);

    PutComDb(std::vector<BYTE>(64, 0));
    call = Usage(nullptr, 0);
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.reported, 512u);
}

TEST_F(ComDbOnFixture, ReleasePortClearsTheClaimInTheRegistry) {
    Claim(3);
    Claim(200);
    std::vector<BYTE> expected(32, 0);
    expected[0] = 0x04;
    expected[24] = 0x80;
    ASSERT_EQ(StoredComDb(), expected);

    ReleaseCall release = {200, -100};
    EXPECT_EQ(ZelRunGuarded(RunReleasePort, &release), 0u);
    EXPECT_EQ(release.result, 0);
    expected[24] = 0;
    EXPECT_EQ(StoredComDb(), expected);

    BYTE map[kPortUsageEntries] = {};
    EXPECT_EQ(Usage(map, kPortUsageEntries).result, 0);
    EXPECT_EQ(Marked(map), std::vector<int>{3});

    // The database's own error comes back.
    for (DWORD outside : {0u, 257u}) {
        release = {outside, -100};
        EXPECT_EQ(ZelRunGuarded(RunReleasePort, &release), 0u);
        EXPECT_EQ(release.result, ERROR_INVALID_PARAMETER) << outside;
    }
    EXPECT_EQ(StoredComDb(), expected);
}

}  // namespace
