// Port device installation on Wine's SetupAPI: the walk of the product INF and of variants written by
// the tests, the new device element and its registration, the driver selection and the restart that Wine
// does not implement, the search for a port's device among devices registered through Wine's SetupAPI,
// and the removal and the failed addition of a port on the fixture's COM port database.
//
// Error boxes fail at once without a display, so every check is on results and on the system's state.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "devinst/device_setup.h"
#include "platform/msports.h"
#include "platform/guard.h"
#include "portstore/product_settings.h"
#include "wintests/devices.h"
#include "wintests/inf_files.h"
#include "wintests/wine_test.h"

namespace {

using wintest::DeviceSet;
using wintest::EnumKey;
using wintest::kPackageInf;
using wintest::KeyExists;
using wintest::PortsDeviceInstances;

const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr WCHAR kProductDescription[] = L"ZEL Virtual Serial Port";
const std::vector<std::wstring> kOtherVendor = {L"ZelTest\\SerialPort", L"ZelTest\\Compatible"};

bool SameGuid(const GUID& a, const GUID& b) { return IsEqualGUID(a, b) != FALSE; }

// The result of a library call made inside the guard, so that an exception fails the test instead of
// ending the program.
template <typename Call>
ZelStatus Guarded(Call call) {
    struct Context {
        Call* call;
        ZelStatus result;
    } context = {&call, -100};
    DWORD code = ZelRunGuarded([](void* raw) {
        auto* context = static_cast<Context*>(raw);
        context->result = (*context->call)();
    }, &context);
    EXPECT_EQ(code, 0u) << "exception " << std::hex << code;
    return context.result;
}

std::wstring Hex(ZelStatus status) {
    WCHAR text[16];
    wsprintfW(text, L"%08lX", static_cast<DWORD>(status));
    return text;
}
#define EXPECT_STATUS(actual, expected) \
    EXPECT_EQ(Hex(actual), Hex(static_cast<ZelStatus>(expected)))

// What SetupDeviceInfo hands its caller, released as _AddPort and _RemovePort release it.
struct Installation {
    HINF inf = INVALID_HANDLE_VALUE;
    DeviceSetupInfo info = {INVALID_HANDLE_VALUE, nullptr, {}, FALSE, nullptr};
    DriverMatch match = {};

    ZelStatus Setup(const std::wstring& infPath) {
        Release();
        return SetupDeviceInfo(infPath.c_str(), &inf, &info, &match);
    }
    std::wstring InstanceId() {
        WCHAR id[MAX_DEVICE_ID_LEN] = {};
        EXPECT_TRUE(SetupDiGetDeviceInstanceIdW(info.DeviceInfoSet, &info.DeviceInfoData, id, MAX_DEVICE_ID_LEN,
                                                nullptr))
            << std::hex << GetLastError();
        return id;
    }
    void Release() {
        if (info.DeviceInfoSet != INVALID_HANDLE_VALUE) {
            EXPECT_EQ(UnregisterDevice(&info), 0);
            SetupDiDestroyDeviceInfoList(info.DeviceInfoSet);
        }
        if (inf != INVALID_HANDLE_VALUE) SetupCloseInfFile(inf);
        *this = Installation();
    }
};

// The class a set was made for (Wine has SetupDiGetDeviceInfoListClass as a stub that raises).
GUID ListClass(HDEVINFO set) {
    SP_DEVINFO_LIST_DETAIL_DATA_W detail = {};
    detail.cbSize = sizeof detail;
    EXPECT_TRUE(SetupDiGetDeviceInfoListDetailW(set, &detail)) << std::hex << GetLastError();
    return detail.ClassGuid;
}

// A device's multi-string property as its strings.
std::vector<std::wstring> MultiStringProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
    std::vector<std::wstring> strings;
    WCHAR buffer[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - sizeof(WCHAR) * 2, nullptr))
        return strings;
    for (const WCHAR* entry = buffer; *entry; entry += strings.back().size() + 1) strings.emplace_back(entry);
    return strings;
}

std::vector<std::wstring> StoredMultiString(const std::wstring& path, const WCHAR* name) {
    std::vector<std::wstring> strings;
    auto value = wintest::GetValue(HKEY_LOCAL_MACHINE, path.c_str(), name);
    if (!value) return strings;
    std::wstring text(reinterpret_cast<const WCHAR*>(value->data.data()), value->data.size() / sizeof(WCHAR));
    for (size_t at = 0; at < text.size() && text[at];) {
        size_t end = text.find(L'\0', at);
        if (end == std::wstring::npos) end = text.size();
        strings.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return strings;
}

// Each test starts and ends with the Ports devices the prefix had, and with the product INF in an
// installation folder of its own.
class DeviceSetupTest : public wintest::WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        instancesBefore_ = PortsDeviceInstances();
        ASSERT_NO_FATAL_FAILURE(folder_.Create());
        productInf_ = folder_.Write(kPackageInf, wintest::ProductInfText());
    }

    void TearDown() override {
        installation_.Release();
        devices_.RemoveAll();
        EXPECT_EQ(PortsDeviceInstances(), instancesBefore_) << "devices left registered";
        // With the precompiled form Wine keeps beside a staged INF.
        for (const std::wstring& staged : staged_) {
            DeleteFileW(staged.c_str());
            if (staged.size() > 4) DeleteFileW((staged.substr(0, staged.size() - 3) + L"pnf").c_str());
        }
        folder_.Remove();
        WineTest::TearDown();
    }

    // An INF of the test's own in the installation folder, in place of the product's.
    std::wstring WriteInf(const std::string& text) { return folder_.Write(kPackageInf, text); }

    wintest::ScratchFolder folder_;
    std::wstring productInf_;
    Installation installation_;
    DeviceSet devices_;
    std::vector<std::wstring> staged_;  // copies in the system INF folder, deleted after the test
    std::vector<std::wstring> instancesBefore_;
};

// ---- The INF walk and the new element ----------------------------------------------------------------

TEST_F(DeviceSetupTest, ProductInfGivesTheModelLineAndAnUnregisteredPortsElement) {
    Installation& setup = installation_;
    ASSERT_EQ(Hex(setup.Setup(productInf_)), Hex(0));
    EXPECT_TRUE(setup.match.Found);
    EXPECT_EQ(std::wstring(setup.match.HardwareId), L"*zeldevice");
    EXPECT_EQ(std::wstring(setup.match.Manufacturer), L"Kelmiso");
    EXPECT_EQ(std::wstring(setup.match.Description), kProductDescription);
    EXPECT_EQ(setup.info.HardwareId, setup.match.HardwareId);
    EXPECT_FALSE(setup.info.Registered);
    EXPECT_NE(setup.inf, INVALID_HANDLE_VALUE);

    EXPECT_TRUE(SameGuid(ListClass(setup.info.DeviceInfoSet), kPortsClass));
    EXPECT_TRUE(SameGuid(setup.info.DeviceInfoData.ClassGuid, kPortsClass));
    EXPECT_EQ(setup.InstanceId().rfind(L"ROOT\\PORTS\\", 0), 0u) << testing::PrintToString(setup.InstanceId());
    EXPECT_EQ(MultiStringProperty(setup.info.DeviceInfoSet, &setup.info.DeviceInfoData, SPDRP_HARDWAREID),
              std::vector<std::wstring>{L"*zeldevice"});

    // Never registered: the element goes with its set. (Wine writes the new element's Enum key and lists
    // it among the Ports devices while the set lives; the simulator keeps it in the set alone.)
    setup.Release();
    EXPECT_EQ(PortsDeviceInstances(), instancesBefore_);
}

// Wine's SetupFindFirstLineW reports a missing section as a missing line.
constexpr ZelStatus kMissingSection = static_cast<ZelStatus>(ERROR_SECTION_NOT_FOUND);

struct InfCase {
    const char* name;
    std::string text;
    ZelStatus status;
    // On success:
    const WCHAR* hardwareId = nullptr;
    const WCHAR* manufacturer = nullptr;
    const WCHAR* description = nullptr;
};

const char kVersion[] =
    "[Version]\r\nSignature = \"$WINDOWS NT$\"\r\nClass = Ports\r\n"
    "ClassGuid = {4D36E978-E325-11CE-BFC1-08002BE10318}\r\nProvider = %Mfg%\r\n\r\n";
const char kStrings[] = "\r\n[Strings]\r\nMfg = \"Kelmiso\"\r\nDesc = \"ZEL Test Port\"\r\n";

std::string Inf(const std::string& body) { return kVersion + body + kStrings; }

const InfCase kInfCases[] = {
    {"NoKelmisoLine",
     Inf("[Manufacturer]\r\nOther = ZelModels, NTx86\r\n\r\n[ZelModels.NTx86]\r\n%Desc% = Install, *zeldevice\r\n"),
     static_cast<ZelStatus>(ERROR_LINE_NOT_FOUND)},
    {"NoManufacturerSection", Inf("[ZelModels.NTx86]\r\n%Desc% = Install, *zeldevice\r\n"), kMissingSection},
    // Only the decorated section is searched.
    {"DecoratedSectionMissing",
     Inf("[Manufacturer]\r\n%Mfg% = ZelModels, NTx86\r\n\r\n[ZelModels]\r\n%Desc% = Install, *zeldevice\r\n"),
     kMissingSection},
    {"IdInCapitals",
     Inf("[Manufacturer]\r\n%Mfg% = ZelModels, NTx86\r\n\r\n[ZelModels.NTx86]\r\n%Desc% = Install, *ZELDEVICE\r\n"),
     0, L"*ZELDEVICE", L"Kelmiso", L"ZEL Test Port"},
    {"IdAsSecondCompatibleId",
     Inf("[Manufacturer]\r\n%Mfg% = ZelModels, NTx86\r\n\r\n[ZelModels.NTx86]\r\n"
         "Other Port = Install, ZelTest\\Other\r\n"
         "%Desc% = Install, ZelTest\\Port, ZelTest\\Compatible, *ZelDevice\r\n"),
     0, L"*ZelDevice", L"Kelmiso", L"ZEL Test Port"},
    {"IdBeyondTheSixteenthIdNotCompared",
     Inf("[Manufacturer]\r\n%Mfg% = ZelModels, NTx86\r\n\r\n[ZelModels.NTx86]\r\n%Desc% = Install, "
         "I2, I3, I4, I5, I6, I7, I8, I9, I10, I11, I12, I13, I14, I15, I16, I17, *zeldevice\r\n"),
     static_cast<ZelStatus>(ERROR_NO_MORE_ITEMS)},
    {"LaterManufacturerLineLeadsToIt",
     Inf("[Manufacturer]\r\n%Mfg% = ZelModels, NTx86\r\nPartner = PartnerModels, NTx86\r\n\r\n"
         "[ZelModels.NTx86]\r\nOther Port = Install, ZelTest\\Other\r\n\r\n"
         "[PartnerModels.NTx86]\r\nPartner Port = Install, *zeldevice\r\n"),
     0, L"*zeldevice", L"Partner", L"Partner Port"},
    {"NoMatchingLine",
     Inf("[Manufacturer]\r\n%Mfg% = ZelModels, NTx86\r\n\r\n[ZelModels.NTx86]\r\n%Desc% = Install, ZelTest\\Port\r\n"),
     static_cast<ZelStatus>(ERROR_NO_MORE_ITEMS)},
    {"ClassNamedWithoutItsGuid",
     "[Version]\r\nSignature = \"$WINDOWS NT$\"\r\nClass = Ports\r\n\r\n[Manufacturer]\r\n%Mfg% = ZelModels, NTx86\r\n"
     "\r\n[ZelModels.NTx86]\r\n%Desc% = Install, *zeldevice\r\n" +
         std::string(kStrings),
     0, L"*zeldevice", L"Kelmiso", L"ZEL Test Port"},
};

void PrintTo(const InfCase& c, std::ostream* out) { *out << c.name; }

class InfWalkTest : public DeviceSetupTest, public testing::WithParamInterface<InfCase> {};

TEST_P(InfWalkTest, FindsTheModelLineOrFailsWithTheWalksError) {
    const InfCase& c = GetParam();
    Installation& setup = installation_;
    ZelStatus expected = c.status == kMissingSection && wintest::OnWine() ? ERROR_LINE_NOT_FOUND : c.status;
    EXPECT_STATUS(setup.Setup(WriteInf(c.text)), expected);
    if (c.status != 0) {
        EXPECT_EQ(setup.info.DeviceInfoSet, INVALID_HANDLE_VALUE) << "a set was made before the walk succeeded";
        return;
    }
    EXPECT_TRUE(setup.match.Found);
    EXPECT_EQ(std::wstring(setup.match.HardwareId), c.hardwareId);
    EXPECT_EQ(std::wstring(setup.match.Manufacturer), c.manufacturer);
    EXPECT_EQ(std::wstring(setup.match.Description), c.description);
    ASSERT_NE(setup.info.DeviceInfoSet, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SameGuid(ListClass(setup.info.DeviceInfoSet), kPortsClass));
    // The element carries the ID as the INF writes it.
    EXPECT_EQ(MultiStringProperty(setup.info.DeviceInfoSet, &setup.info.DeviceInfoData, SPDRP_HARDWAREID),
              std::vector<std::wstring>{c.hardwareId});
}

INSTANTIATE_TEST_SUITE_P(Wine, InfWalkTest, testing::ValuesIn(kInfCases),
                         [](const testing::TestParamInfo<InfCase>& info) { return std::string(info.param.name); });

TEST_F(DeviceSetupTest, InfThatCannotBeOpenedFailsBeforeTheWalk) {
    const struct {
        std::wstring path;
        ZelStatus status;
    } missing[] = {
        {folder_.Path() + L"ZelDrvr\\Other.inf", ERROR_FILE_NOT_FOUND},
        {folder_.Path() + L"Missing\\ZelDrvr.inf", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& inf : missing) {
        SCOPED_TRACE(testing::PrintToString(inf.path));
        Installation& setup = installation_;
        EXPECT_STATUS(setup.Setup(inf.path), inf.status);
        EXPECT_EQ(setup.inf, INVALID_HANDLE_VALUE);
        EXPECT_EQ(setup.info.DeviceInfoSet, INVALID_HANDLE_VALUE);
    }
}

// ---- Registration -------------------------------------------------------------------------------------

TEST_F(DeviceSetupTest, RegisteredElementIsADeviceOfTheSystemUntilUnregistered) {
    Installation& setup = installation_;
    ASSERT_EQ(Hex(setup.Setup(productInf_)), Hex(0));
    ASSERT_EQ(Hex(RegisterDevice(&setup.info)), Hex(0));
    EXPECT_TRUE(setup.info.Registered);
    std::wstring id = setup.InstanceId();

    std::vector<std::wstring> instances = PortsDeviceInstances();
    EXPECT_EQ(instances.size(), instancesBefore_.size() + 1);
    EXPECT_NE(std::find(instances.begin(), instances.end(), id), instances.end()) << testing::PrintToString(id);
    EXPECT_EQ(StoredMultiString(EnumKey(id), L"HardwareID"), std::vector<std::wstring>{L"*zeldevice"});

    // A second registration of the same element makes no second device (Wine accepts it, where the
    // simulator refuses it with ERROR_DEVINST_ALREADY_EXISTS).
    ZelStatus again = RegisterDevice(&setup.info);
    if (!wintest::OnWine()) {
        EXPECT_STATUS(again, ERROR_DEVINST_ALREADY_EXISTS);
    }
    EXPECT_EQ(PortsDeviceInstances().size(), instancesBefore_.size() + 1);

    EXPECT_EQ(Hex(UnregisterDevice(&setup.info)), Hex(0));
    EXPECT_FALSE(setup.info.Registered);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EnumKey(id).c_str()));
    EXPECT_EQ(PortsDeviceInstances(), instancesBefore_);
    EXPECT_EQ(Hex(UnregisterDevice(&setup.info)), Hex(0)) << "nothing to do for an unregistered element";
}

// ---- What Wine does not implement ---------------------------------------------------------------------

// Wine builds compatible-driver lists only: the class driver list fails with ERROR_CALL_NOT_IMPLEMENTED,
// after the installation parameters were set.
TEST_F(DeviceSetupTest, SelectDriverSetsTheParametersThenFailsOnWinesClassDriverList) {
    for (BOOL copyFiles : {TRUE, FALSE}) {
        SCOPED_TRACE(copyFiles ? "with file copy" : "without file copy");
        Installation& setup = installation_;
        ASSERT_EQ(Hex(setup.Setup(productInf_)), Hex(0));
        ASSERT_EQ(Hex(RegisterDevice(&setup.info)), Hex(0));
        ZelStatus status =
            SelectDriver(setup.info.DeviceInfoSet, &setup.info.DeviceInfoData, copyFiles, productInf_.c_str(),
                         &setup.match);
        EXPECT_STATUS(status, wintest::OnWine() ? ERROR_CALL_NOT_IMPLEMENTED : 0);
        if (wintest::OnWine()) {
            EXPECT_FALSE(SetupDiBuildDriverInfoList(setup.info.DeviceInfoSet, &setup.info.DeviceInfoData,
                                                    SPDIT_CLASSDRIVER));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED)) << "not the list that failed";
        }

        SP_DEVINSTALL_PARAMS_W params = {};
        params.cbSize = sizeof params;
        ASSERT_TRUE(SetupDiGetDeviceInstallParamsW(setup.info.DeviceInfoSet, &setup.info.DeviceInfoData, &params));
        EXPECT_STATUS(static_cast<ZelStatus>(params.Flags), copyFiles ? 0x00810200 : 0x01810200);
        EXPECT_STATUS(static_cast<ZelStatus>(params.FlagsEx), 0x800);
        EXPECT_EQ(std::wstring(params.DriverPath), productInf_);
        EXPECT_TRUE(setup.info.Registered) << "SelectDriver took the device out";
        setup.Release();
    }
}

// Wine's SetupDiSetClassInstallParamsW is a stub that fails without setting the thread's error code:
// RestartDevice hands back whatever code was current.
TEST_F(DeviceSetupTest, RestartDeviceFailsOnWinesClassInstallParameters) {
    if (!wintest::OnWine()) GTEST_SKIP() << "relies on Wine's stub";
    Installation& setup = installation_;
    ASSERT_EQ(Hex(setup.Setup(productInf_)), Hex(0));
    ASSERT_EQ(Hex(RegisterDevice(&setup.info)), Hex(0));

    SP_PROPCHANGE_PARAMS change = {{sizeof(SP_CLASSINSTALL_HEADER), DIF_PROPERTYCHANGE}, DICS_ENABLE,
                                   DICS_FLAG_GLOBAL, 0};
    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_FALSE(SetupDiSetClassInstallParamsW(setup.info.DeviceInfoSet, &setup.info.DeviceInfoData,
                                               &change.ClassInstallHeader, sizeof change));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));

    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_STATUS(RestartDevice(&setup.info), ERROR_GEN_FAILURE);
    EXPECT_TRUE(setup.info.Registered);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EnumKey(setup.InstanceId()).c_str()));
}

// Wine's SetupGetStringFieldW fails for a field past the line's last one without an error code: what
// GetField makes of it must still be a failure, or the walk goes on with a decoration it never read.
TEST_F(DeviceSetupTest, FieldPastTheLastOneFailsAlsoWithoutAnErrorCode) {
    std::wstring undecorated = folder_.Write(
        L"Undecorated.inf", Inf("[Manufacturer]\r\n%Mfg% = ZelModels\r\n\r\n[ZelModels]\r\n%Desc% = Install, *zeldevice\r\n"));
    HINF inf = SetupOpenInfFileW(undecorated.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    INFCONTEXT line;
    ASSERT_TRUE(SetupFindFirstLineW(inf, L"Manufacturer", L"Kelmiso", &line));
    WCHAR decoration[128] = L"unchanged";
    SetLastError(ERROR_SUCCESS);
    EXPECT_NE(GetField(&line, 2, decoration, 128), 0) << "field 2 of a line with one field";
    SetupCloseInfFile(inf);

    Installation& setup = installation_;
    EXPECT_NE(setup.Setup(undecorated), 0);
    EXPECT_EQ(setup.info.DeviceInfoSet, INVALID_HANDLE_VALUE);
}

// ---- Finding a port's device --------------------------------------------------------------------------

class GetInstanceStringTest : public DeviceSetupTest {
protected:
    static std::wstring Find(DWORD port, ZelStatus* status) {
        WCHAR id[kInstanceIdChars];
        wmemset(id, L'#', kInstanceIdChars);
        *status = GetInstanceString(port, id);
        if (*status != 0) {
            EXPECT_EQ(id[0], L'\0') << "an instance ID was left behind for COM" << port;
        }
        return *status == 0 ? std::wstring(id) : std::wstring();
    }
};

TEST_F(GetInstanceStringTest, FindsTheProductDeviceByItsPortMarkOnly) {
    ASSERT_NO_FATAL_FAILURE(devices_.Add({kOtherVendor, L"Serial Port (COM5)", false, {}}));
    ASSERT_NO_FATAL_FAILURE(devices_.Add({{L"*zeldevice"}, L"ZEL Virtual Serial Port (COM12)", false, {}}));
    ASSERT_NO_FATAL_FAILURE(devices_.Add({{L"*ZELDEVICE"}, L"ZEL Virtual Serial Port (COM5)", false, {}}));
    ASSERT_NO_FATAL_FAILURE(devices_.Add({{L"ZelTest\\Wrapper", L"*zeldevice"}, L"Wrapped (COM7)", false, {}}));
    ASSERT_NO_FATAL_FAILURE(devices_.Add({{L"*zeldevice"}, std::nullopt, false, {}}));
    ASSERT_NO_FATAL_FAILURE(devices_.Add({{L"*zeldevice"}, L"ZEL Virtual Serial Port COM8", false, {}}));
    const std::vector<std::wstring>& ids = devices_.Instances();

    struct Lookup {
        DWORD port;
        std::wstring found;  // empty: none
    };
    const Lookup lookups[] = {
        {5, ids[2]}, {12, ids[1]}, {1, L""}, {7, L""}, {8, L""}, {2, L""},
    };
    for (const Lookup& lookup : lookups) {
        SCOPED_TRACE(testing::Message() << "COM" << lookup.port);
        ZelStatus status = 0;
        std::wstring found = Find(lookup.port, &status);
        EXPECT_EQ(found, lookup.found);
        EXPECT_STATUS(status, lookup.found.empty() ? ZEL_ERROR_CLASS_INSTANCE_NOT_FOUND : 0);
    }
}

TEST_F(GetInstanceStringTest, NoProductDeviceIsNotFound) {
    ZelStatus status = 0;
    EXPECT_EQ(Find(5, &status), L"");
    // Wine's SetupAPI leaves no error code behind the end of the walk either.
    EXPECT_STATUS(status, ZEL_ERROR_CLASS_INSTANCE_NOT_FOUND);
}

// ---- Removal and a failed addition on the fixture's COM port database ----------------------------------

constexpr WCHAR kComNameArbiter[] = L"System\\CurrentControlSet\\Control\\COM Name Arbiter";

bool ComDbFixtureLoaded() {
    HMODULE msports = GetModuleHandleW(L"msports.dll");
    return msports && GetProcAddress(msports, "ZelComDbFixture");
}

// Each test starts from an empty database; what the prefix had is put back afterwards.
class PortDeviceOnFixture : public DeviceSetupTest {
protected:
    void SetUp() override {
        DeviceSetupTest::SetUp();
        if (HasFatalFailure()) return;
        if (!ComDbFixtureLoaded()) GTEST_SKIP() << "the fixture msports.dll is not loaded";
        keyExisted_ = KeyExists(HKEY_LOCAL_MACHINE, kComNameArbiter);
        saved_ = wintest::GetValue(HKEY_LOCAL_MACHINE, kComNameArbiter, L"ComDB");
        DeleteComDb();
        saving_ = true;
    }

    void TearDown() override {
        if (saving_) {
            DeleteComDb();
            if (saved_)
                wintest::PutValue(HKEY_LOCAL_MACHINE, kComNameArbiter, L"ComDB", saved_->type, saved_->data.data(),
                                  static_cast<DWORD>(saved_->data.size()));
            if (!keyExisted_) wintest::DeleteTree(HKEY_LOCAL_MACHINE, kComNameArbiter);
        }
        DeviceSetupTest::TearDown();
    }

    static void Claim(DWORD comNumber) {
        HCOMDB database = HCOMDB_INVALID_HANDLE_VALUE;
        ASSERT_EQ(ComDBOpen(&database), ERROR_SUCCESS);
        EXPECT_EQ(ComDBClaimPort(database, comNumber, FALSE, nullptr), ERROR_SUCCESS) << "claiming " << comNumber;
        EXPECT_EQ(ComDBClose(database), ERROR_SUCCESS);
    }

    static bool Claimed(DWORD comNumber) {
        auto value = wintest::GetValue(HKEY_LOCAL_MACHINE, kComNameArbiter, L"ComDB");
        DWORD byte = (comNumber - 1) / 8;
        return value && byte < value->data.size() && ((value->data[byte] >> ((comNumber - 1) % 8)) & 1);
    }

    // The staged copy the settings key records, deleted with the test's other files.
    std::wstring RecordedInf() {
        WCHAR path[kSettingsTextChars] = {};
        if (GetInfPathFromRegistry(path) != 0) return std::wstring();
        staged_.push_back(path);
        return path;
    }

private:
    static void DeleteComDb() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kComNameArbiter, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        RegDeleteValueW(key, L"ComDB");
        RegCloseKey(key);
    }

    bool saving_ = false;
    bool keyExisted_ = false;
    std::optional<wintest::StoredValue> saved_;
};

TEST_F(PortDeviceOnFixture, RemovePortTakesTheDeviceOutOfWinesTreeAndReleasesTheClaim) {
    ASSERT_NO_FATAL_FAILURE(devices_.Add({{L"*zeldevice"}, L"ZEL Virtual Serial Port (COM5)", true,
                                          {{L"PortName", L"COM5"}}}));
    ASSERT_NO_FATAL_FAILURE(devices_.Add({{L"*zeldevice"}, L"ZEL Virtual Serial Port (COM12)", true,
                                          {{L"PortName", L"COM12"}}}));
    const std::wstring port5 = devices_.Instances()[0];
    const std::wstring port12 = devices_.Instances()[1];
    ASSERT_EQ(SetInfPathInRegistry(productInf_.c_str()), 0);
    Claim(5);
    Claim(12);

    EXPECT_STATUS(Guarded([] { return _RemovePort(5); }), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EnumKey(port5).c_str())) << "the device's Enum key is still there";
    std::vector<std::wstring> instances = PortsDeviceInstances();
    EXPECT_EQ(std::find(instances.begin(), instances.end(), port5), instances.end());
    if (!KeyExists(HKEY_LOCAL_MACHINE, EnumKey(port5).c_str())) devices_.Forget(port5);
    EXPECT_FALSE(Claimed(5));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EnumKey(port12).c_str()));
    EXPECT_TRUE(Claimed(12));

    // Nothing left for the port: the search's result, the claim freed again all the same.
    Claim(5);
    EXPECT_STATUS(Guarded([] { return _RemovePort(5); }), ZEL_ERROR_CLASS_INSTANCE_NOT_FOUND);
    EXPECT_FALSE(Claimed(5));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EnumKey(port12).c_str()));
}

// The recorded INF names another class: the device found is not opened into that class's set, and stays.
TEST_F(PortDeviceOnFixture, RemovePortThroughAnInfOfAnotherClassLeavesTheDevice) {
    ASSERT_NO_FATAL_FAILURE(devices_.Add({{L"*zeldevice"}, L"ZEL Virtual Serial Port (COM5)", false, {}}));
    std::wstring modemInf = folder_.Write(
        L"Modem.inf",
        "[Version]\r\nSignature = \"$WINDOWS NT$\"\r\nClass = Modem\r\n"
        "ClassGuid = {4D36E96D-E325-11CE-BFC1-08002BE10318}\r\n\r\n[Manufacturer]\r\n%Mfg% = ZelModels, NTx86\r\n"
        "\r\n[ZelModels.NTx86]\r\n%Desc% = Install, *zeldevice\r\n" + std::string(kStrings));
    ASSERT_EQ(SetInfPathInRegistry(modemInf.c_str()), 0);
    Claim(5);
    EXPECT_STATUS(Guarded([] { return _RemovePort(5); }), ERROR_CLASS_MISMATCH);
    EXPECT_FALSE(Claimed(5));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EnumKey(devices_.Instances()[0]).c_str()));
}

TEST_F(PortDeviceOnFixture, RemovePortWithoutARecordedInfReleasesTheClaimAndKeepsTheDevice) {
    ASSERT_NO_FATAL_FAILURE(devices_.Add({{L"*zeldevice"}, L"ZEL Virtual Serial Port (COM5)", false, {}}));
    Claim(5);
    // No settings key: the INF path stays empty, which SetupOpenInfFileW cannot open (Wine says
    // ERROR_ACCESS_DENIED, as for a folder).
    ZelStatus status = Guarded([] { return _RemovePort(5); });
    EXPECT_NE(status, 0);
    if (wintest::OnWine()) {
        EXPECT_STATUS(status, ERROR_ACCESS_DENIED);
    }
    EXPECT_FALSE(Claimed(5));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EnumKey(devices_.Instances()[0]).c_str()));
}

// On Wine the addition stops at the driver selection, after the device was registered; the clean-up must
// take the device out again and free the number (claimed here beforehand, as a stale claim would be).
TEST_F(PortDeviceOnFixture, AddPortFailingAtTheDriverSelectionLeavesNoDeviceAndNoClaim) {
    if (!wintest::OnWine()) GTEST_SKIP() << "relies on Wine's missing class driver list";
    for (DWORD installDriver : {1u, 0u}) {
        SCOPED_TRACE(testing::Message() << "installDriver " << installDriver);
        wintest::PutText(HKEY_LOCAL_MACHINE, wintest::kSettingsKey, L"TargetDir", folder_.Path());
        Claim(6);

        // The driver is absent, so the probe sends 0 down the package step as well.
        EXPECT_STATUS(Guarded([installDriver] { return _AddPort(6, installDriver); }), ERROR_CALL_NOT_IMPLEMENTED);
        EXPECT_EQ(PortsDeviceInstances(), instancesBefore_) << "the registered device was left behind";
        EXPECT_FALSE(Claimed(6));
        WCHAR setting[32] = {};
        GetProfileStringW(L"Ports", L"COM6:", L"", setting, 32);
        EXPECT_EQ(std::wstring(setting), L"") << "a port setting for a port that was never added";

        // The package was staged on the way.
        std::wstring staged = RecordedInf();
        EXPECT_EQ(wintest::ReadFileBytes(staged), wintest::ProductInfText()) << testing::PrintToString(staged);
        wintest::DeleteTree(HKEY_LOCAL_MACHINE, wintest::kSettingsKey);
    }
}

}  // namespace
