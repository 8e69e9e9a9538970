// The product INF walked to its model line, the device element made from it, and its driver selected.
#include <cstring>
#include <string>
#include <vector>

#include "devinst/device_setup.h"
#include "tests/product_machine.h"
#include "tests/sim_fixture.h"
#include "winsim/files.h"

namespace {

using DeviceSetup = SimTest;

constexpr char kVariantInf[] = "C:\\Temp\\Variant.inf";

struct Walk {
    HINF inf = INVALID_HANDLE_VALUE;
    DeviceSetupInfo info = {};
    DriverMatch match = {};
    Walk() { info.DeviceInfoSet = INVALID_HANDLE_VALUE; }
    ZelStatus Run(const std::string& path) {
        return SetupDeviceInfo(sim::U16(path).c_str(), &inf, &info, &match);
    }
    ~Walk() {
        if (info.DeviceInfoSet != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(info.DeviceInfoSet);
        if (inf != INVALID_HANDLE_VALUE) SetupCloseInfFile(inf);
    }
};

std::string Text(const WCHAR* text) { return sim::U8(text); }

TEST_F(DeviceSetup, ProductInfGivesTheElementAndItsId) {
    machine::ProductFolder();
    size_t devicesBefore = sim::DeviceInstances().size();
    Walk walk;
    ASSERT_EQ(walk.Run(machine::kPackageInf), 0);
    EXPECT_EQ(Text(walk.match.HardwareId), "*zeldevice");
    EXPECT_EQ(Text(walk.match.Manufacturer), "Kelmiso");
    EXPECT_EQ(Text(walk.match.Description), "ZEL Virtual Serial Port");
    EXPECT_TRUE(walk.match.Found);
    EXPECT_EQ(walk.info.HardwareId, walk.match.HardwareId);
    EXPECT_FALSE(walk.info.Registered);
    EXPECT_NE(walk.info.DeviceInfoSet, INVALID_HANDLE_VALUE);
    EXPECT_EQ(walk.info.DeviceInfoData.cbSize, sizeof(SP_DEVINFO_DATA));
    EXPECT_EQ(walk.info.DeviceInfoData.ClassGuid.Data1, 0x4D36E978u);
    EXPECT_EQ(sim::DeviceInstances().size(), devicesBefore) << "the element is not in the system yet";

    auto open = sim::Calls("SetupOpenInfFileW");
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].Number("InfStyle"), 2u);
    auto create = sim::Calls("SetupDiCreateDeviceInfoW");
    ASSERT_EQ(create.size(), 1u);
    EXPECT_EQ(create[0].Text("DeviceName"), "Ports");
    EXPECT_EQ(create[0].Number("CreationFlags"), DICD_GENERATE_ID);
    auto property = sim::Calls("SetupDiSetDeviceRegistryPropertyW");
    ASSERT_EQ(property.size(), 1u);
    EXPECT_EQ(property[0].Number("Property"), SPDRP_HARDWAREID);
    EXPECT_EQ(property[0].Number("PropertyBufferSize"), 24u) << "the ID, its NUL and the list's NUL";
    EXPECT_EQ(sim::MessageBoxes().size(), 0u);
}

struct InfCase {
    const char* name;
    std::string (*inf)();  // the INF text; nullptr: no file at all
    ZelStatus result;      // 0 success; 1: whatever the platform's INF reader says of this file
    const char* box;       // the context the error box names, or "" for none
    const char* hardwareId = "*zeldevice";
    const char* manufacturer = "Kelmiso";
};

constexpr ZelStatus kReaderError = 1;

const InfCase kInfCases[] = {
    {"Missing", nullptr, ERROR_FILE_NOT_FOUND, "SetupOpenInfFile: C:\\Temp\\Variant.inf"},
    {"Empty", [] { return std::string(); }, kReaderError, "SetupOpenInfFile: C:\\Temp\\Variant.inf"},
    {"NotAnInf", [] { return std::string("MZ\x90\x00 this is no INF\n"); }, kReaderError, "SetupOpenInfFile"},
    {"NoClass", [] { return machine::ProductInfWith("Class       = Ports\nClassGuid   = {4D36E978-E325-11CE-BFC1-08002BE10318}\n", ""); },
     kReaderError, "SetupDiGetINFClass: C:\\Temp\\Variant.inf"},
    {"ClassWithoutGuid", [] { return machine::ProductInfWith("ClassGuid   = {4D36E978-E325-11CE-BFC1-08002BE10318}\n", ""); }, 0, ""},
    {"NoKelmisoLine", [] { return machine::ProductInfWith("%Mfg% = ZelModels", "Other = ZelModels"); },
     static_cast<ZelStatus>(0xE0000102), "EnumManufacturers"},
    {"Undecorated", [] { return machine::ProductInfWith("%Mfg% = ZelModels, NTx86, NTamd64", "%Mfg% = ZelModels"); },
     kReaderError, "EnumManufacturers"},
    {"DecoratedSectionMissing", [] { return machine::ProductInfWith("[ZelModels.NTx86]", "[ZelModels.NTarm]"); },
     static_cast<ZelStatus>(0xE0000101), "EnumManufacturers"},
    {"IdInCapitals", [] { return machine::ProductInfWith("ZelPort_Install, *zeldevice", "ZelPort_Install, *ZELDEVICE"); }, 0, "",
     "*ZELDEVICE"},
    {"IdAsSecondCompatibleId",
     [] { return machine::ProductInfWith("ZelPort_Install, *zeldevice", "ZelPort_Install, ROOT\\ZEL, *zelport, *zeldevice"); }, 0, ""},
    // Field 17 is the last one compared; 16 IDs at the most.
    {"IdInField17",
     [] { return machine::ProductInfWith("ZelPort_Install, *zeldevice", "ZelPort_Install, a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,*zeldevice"); },
     0, ""},
    {"IdInField18NeverCompared",
     [] { return machine::ProductInfWith("ZelPort_Install, *zeldevice", "ZelPort_Install, a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,*zeldevice"); },
     ERROR_NO_MORE_ITEMS, "EnumManufacturers"},
    {"NoMatchingLine", [] { return machine::ProductInfWith("ZelPort_Install, *zeldevice", "ZelPort_Install, *zelother"); },
     ERROR_NO_MORE_ITEMS, "EnumManufacturers"},
    // The first Kelmiso line leads nowhere; a later line of any key leads to the model.
    {"LaterManufacturerLine",
     [] {
         return machine::ProductInfWith("%Mfg% = ZelModels, NTx86, NTamd64",
                                        "%Mfg% = OldModels, NTx86\nZel Partner = ZelModels, NTx86, NTamd64\n[OldModels.NTx86]\nOld Port = Old_Install, *zelold");
     },
     0, "", "*zeldevice", "Zel Partner"},
    {"DescriptionTooLong",
     [] { return machine::ProductInfWith("ZelPort.Desc = \"ZEL Virtual Serial Port\"", "ZelPort.Desc = \"" + std::string(100, 'D') + "\""); },
     ERROR_INSUFFICIENT_BUFFER, "EnumManufacturers"},
    {"DescriptionFillsItsBuffer",
     [] { return machine::ProductInfWith("ZelPort.Desc = \"ZEL Virtual Serial Port\"", "ZelPort.Desc = \"" + std::string(99, 'D') + "\""); },
     0, ""},
    {"ModelsSectionNameTooLong",
     [] {
         std::string models(124, 'M');
         std::string inf = machine::ProductInfWith("%Mfg% = ZelModels, NTx86", "%Mfg% = " + models + ", NTx86");
         return inf;
     },
     ERROR_INSUFFICIENT_BUFFER, "EnumManufacturers"},
};

void PrintTo(const InfCase& c, std::ostream* out) { *out << c.name; }

class InfVariantTest : public SimTest, public testing::WithParamInterface<InfCase> {};

TEST_P(InfVariantTest, WalkResult) {
    const InfCase& c = GetParam();
    auto lay = [&] {
        sim::MakeFolder("C:\\Temp");
        if (c.inf) machine::PutInf(kVariantInf, c.inf());
    };
    lay();
    ZelStatus expected = c.result;
    if (expected == kReaderError) {
        // What the platform's INF reader says of this file, handed on unchanged.
        sim::ScriptMessageBox(IDOK, c.box);
        {
            Walk probe;
            expected = probe.Run(kVariantInf);
        }
        EXPECT_NE(expected, 0);
        sim::Reset();
        lay();
    }
    if (*c.box) sim::ScriptMessageBox(IDOK, c.box);
    Walk walk;
    EXPECT_EQ(walk.Run(kVariantInf), expected);
    if (expected == 0) {
        EXPECT_EQ(Text(walk.match.HardwareId), c.hardwareId);
        EXPECT_EQ(Text(walk.match.Manufacturer), c.manufacturer);
        EXPECT_EQ(walk.info.DeviceInfoData.ClassGuid.Data1, 0x4D36E978u) << "the Ports class, by name if need be";
        auto property = sim::Calls("SetupDiSetDeviceRegistryPropertyW");
        ASSERT_EQ(property.size(), 1u);
        EXPECT_EQ(property[0].Text("Text"), c.hardwareId) << "the element carries the ID as the INF writes it";
    } else {
        EXPECT_EQ(sim::CallCount("SetupDiCreateDeviceInfoList"), 0u) << "no set before the walk succeeded";
    }
}

INSTANTIATE_TEST_SUITE_P(Infs, InfVariantTest, testing::ValuesIn(kInfCases),
                         [](const testing::TestParamInfo<InfCase>& info) { return std::string(info.param.name); });

TEST_F(DeviceSetup, SelectDriverFlagsAndProvider) {
    for (BOOL copyFiles : {TRUE, FALSE}) {
        SCOPED_TRACE(copyFiles);
        sim::Reset();
        machine::ProductFolder();
        Walk walk;
        ASSERT_EQ(walk.Run(machine::kPackageInf), 0);
        ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, walk.info.DeviceInfoSet, &walk.info.DeviceInfoData));
        EXPECT_EQ(SelectDriver(walk.info.DeviceInfoSet, &walk.info.DeviceInfoData, copyFiles,
                               sim::U16(machine::kPackageInf).c_str(), &walk.match),
                  0);
        auto params = sim::Calls("SetupDiSetDeviceInstallParamsW");
        ASSERT_EQ(params.size(), 1u);
        EXPECT_EQ(params[0].Number("Flags"), copyFiles ? 0x00810200u : 0x01810200u);
        EXPECT_EQ(params[0].Number("FlagsEx"), 0x00000800u);
        EXPECT_EQ(params[0].Text("DriverPath"), machine::kPackageInf);
        auto build = sim::Calls("SetupDiBuildDriverInfoList");
        ASSERT_EQ(build.size(), 1u);
        EXPECT_EQ(build[0].Number("DriverType"), SPDIT_CLASSDRIVER);
        auto select = sim::Calls("SetupDiSetSelectedDriverW");
        ASSERT_EQ(select.size(), 1u);
        EXPECT_EQ(select[0].Text("ProviderName"), "Kelmiso");
        EXPECT_EQ(select[0].Text("MfgName"), "Kelmiso");
        EXPECT_EQ(select[0].Text("Description"), "ZEL Virtual Serial Port");
        SP_DRVINFO_DATA_V2_W driver = {};
        driver.cbSize = sizeof driver;
        EXPECT_TRUE(SetupDiGetSelectedDriverW(walk.info.DeviceInfoSet, &walk.info.DeviceInfoData, &driver));
        SetupDiCallClassInstaller(DIF_REMOVE, walk.info.DeviceInfoSet, &walk.info.DeviceInfoData);
    }
}

TEST_F(DeviceSetup, SelectDriverFailuresShowTheirBox) {
    struct Failure {
        const char* api;
        const char* box;
    };
    const Failure failures[] = {{"SetupDiSetDeviceInstallParamsW", "in SetupDiSetDeviceInstallParams"},
                                {"SetupDiBuildDriverInfoList", "in SetupDiBuildDriverInfoList"},
                                {"SetupDiSetSelectedDriverW", "in SetupDiSetSelectedDriver"}};
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.api);
        sim::Reset();
        machine::ProductFolder();
        Walk walk;
        ASSERT_EQ(walk.Run(machine::kPackageInf), 0);
        sim::FailCall(failure.api, 1, ERROR_GEN_FAILURE);
        sim::ScriptMessageBox(IDOK, failure.box);
        EXPECT_EQ(SelectDriver(walk.info.DeviceInfoSet, &walk.info.DeviceInfoData, TRUE,
                               sim::U16(machine::kPackageInf).c_str(), &walk.match),
                  ERROR_GEN_FAILURE);
        EXPECT_EQ(sim::PendingMessageBoxAnswers(), 0u);
    }
    // A driver whose provider is not the manufacturer is not found by the platform.
    sim::Reset();
    machine::ProductFolder();
    machine::PutInf(machine::kPackageInf, machine::ProductInfWith("Provider    = %Mfg%", "Provider    = \"Someone Else\""));
    Walk walk;
    ASSERT_EQ(walk.Run(machine::kPackageInf), 0);
    sim::ScriptMessageBox(IDOK, "in SetupDiSetSelectedDriver");
    EXPECT_EQ(SelectDriver(walk.info.DeviceInfoSet, &walk.info.DeviceInfoData, TRUE,
                           sim::U16(machine::kPackageInf).c_str(), &walk.match),
              ERROR_INVALID_PARAMETER);
}

// A platform call may fail without leaving an error code; that must still be a failure, never success
// with a buffer nobody wrote.
TEST_F(DeviceSetup, FailureWithoutAnErrorCode) {
    machine::ProductFolder();
    sim::FailCall("SetupGetStringFieldW", 6, ERROR_SUCCESS);  // the decoration's text
    sim::ScriptMessageBox(IDOK, "in EnumManufacturers");
    Walk walk;
    EXPECT_EQ(walk.Run(machine::kPackageInf), ERROR_GEN_FAILURE);
    EXPECT_EQ(sim::CallCount("SetupFindFirstLineW"), 1u) << "no section name built from an unread field";
}

TEST_F(DeviceSetup, TraceLinesOfTheWalk) {
    machine::ProductFolder();
    Walk walk;
    TraceSwitch = 1;
    ASSERT_EQ(walk.Run(machine::kPackageInf), 0);
    TraceSwitch = 0;
    std::vector<std::string> writes = sim::DebugOutputWrites();
    ASSERT_GE(writes.size(), 4u);
    EXPECT_EQ(writes.front(), std::string("ZelIf(TRAC) SetupDeviceInfo++ InfPath \"") + machine::kPackageInf + "\"\n");
    EXPECT_EQ(writes[1], "ZelIf(INFO) SetupDeviceInfo class Ports\n");
    EXPECT_EQ(writes[2], "ZelIf(TRAC) EnumManufacturers++\n");
    EXPECT_EQ(writes[writes.size() - 2], "ZelIf(INFO) SetupDeviceInfo devid *zeldevice\n");
    EXPECT_EQ(writes.back().rfind("ZelIf(TRAC) SetupDeviceInfo-- (00000000) ", 0), 0u) << writes.back();
}

}  // namespace
