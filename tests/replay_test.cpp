// The upgrade replay tool: its scenario checks, its own reading of the driver generations' records, the
// shipped scenarios, and the faults a replay must report.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "setup/port_migration.h"
#include "tests/sim_fixture.h"
#include "tools/replay/replay.h"
#include "winsim/files.h"

namespace {

using replay::Action;
using replay::Layout;
using replay::PortConfig;
using replay::Scenario;

Scenario Parsed(const std::string& text) {
    auto parsed = replay::ParseScenario(text, "case.json");
    if (auto* error = std::get_if<replay::ScenarioError>(&parsed)) {
        ADD_FAILURE() << error->Text();
        return Scenario{};
    }
    return std::get<Scenario>(parsed);
}

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// ---- Scenario checks ----

struct BadScenario {
    const char* name;
    const char* text;
    const char* where;
    const char* problem;  // a fragment of the message
};

class ScenarioErrors : public testing::TestWithParam<BadScenario> {};

TEST_P(ScenarioErrors, NameThePlaceAndTheProblem) {
    const BadScenario& c = GetParam();
    auto parsed = replay::ParseScenario(c.text, "bad.json");
    ASSERT_TRUE(std::holds_alternative<replay::ScenarioError>(parsed)) << "accepted: " << c.text;
    const replay::ScenarioError& error = std::get<replay::ScenarioError>(parsed);
    EXPECT_EQ(error.file, "bad.json");
    EXPECT_EQ(error.where, c.where);
    EXPECT_NE(error.problem.find(c.problem), std::string::npos) << error.Text();
}

const char kV43Port[] = R"({"driver": {"version": "4.300.0.50", "ports": [{"com": 3, "hex": "%s"}]}})";

std::string WithHex(size_t bytes) {
    std::string text = kV43Port;
    return text.replace(text.find("%s"), 2, std::string(2 * bytes, '0'));
}
const std::string kShortV43Record = WithHex(440);

const BadScenario kBadScenarios[] = {
    {"NotJson", "{\n  \"action\": \"upgrade\",\n}", "line 3, column 1", "not JSON"},
    {"UnknownTopField", R"({"acton": "upgrade"})", "/acton", "unknown field"},
    {"UnknownAction", R"({"action": "repair"})", "/action", "no action"},
    {"WrongType", R"({"machine": {"noDesktop": "yes"}})", "/machine/noDesktop", "expected true or false"},
    {"ComZero", R"({"machine": {"productPorts": [{"com": 0}]}})", "/machine/productPorts/0/com", "1 to 256, not 0"},
    {"Com257", R"({"machine": {"comDatabase": [5, 257]}})", "/machine/comDatabase/1", "1 to 256, not 257"},
    {"ComFraction", R"({"machine": {"devices": [{"kind": "usbSerial", "com": 2.5}]}})", "/machine/devices/0/com", "a fraction"},
    {"TwiceTheSamePort", R"({"machine": {"productPorts": [{"com": 3}, {"com": 3}]}})", "/machine/productPorts/1/com",
     "already"},
    {"UnknownServiceField",
     R"({"machine": {"productPorts": [{"com": 3, "record": {"Services": [{"Adress": "x"}]}}]}})",
     "/machine/productPorts/0/record/Services/0/Adress", "unknown field"},
    {"NineServices",
     R"({"machine": {"productPorts": [{"com": 3, "record": {"Services": [{},{},{},{},{},{},{},{},{}]}}]}})",
     "/machine/productPorts/0/record/Services", "at most 8"},
    {"NegativeSetting", R"({"machine": {"productPorts": [{"com": 3, "record": {"CnTmo": -1}}]}})",
     "/machine/productPorts/0/record/CnTmo", "whole number"},
    {"ShortAesKey", R"({"machine": {"productPorts": [{"com": 3, "record": {"AESKey": "0011"}}]}})",
     "/machine/productPorts/0/record/AESKey", "32 bytes"},
    {"PortNameInRegistry", R"({"machine": {"productPorts": [{"com": 3, "record": {"PortName": "COM3"}}]}})",
     "/machine/productPorts/0/record/PortName", "device's"},
    {"RecordOfTheWrongSize", kShortV43Record.c_str(), "/driver/ports/0/hex", "696-byte V43"},
    {"NotHex", R"({"driver": {"version": "4.302.7.15", "ports": [{"com": 3, "hex": "zz"}]}})", "/driver/ports/0/hex",
     "not a hexadecimal byte"},
    {"FieldAV40RecordLacks",
     R"({"driver": {"version": "4.001.0.50", "ports": [{"com": 3, "record": {"KeepAliveTime": 5}}]}})",
     "/driver/ports/0/record/KeepAliveTime", "420-byte V40"},
    {"AddressTooLongForV41",
     R"({"driver": {"version": "4.100.0.2", "ports": [{"com": 3, "record": {"Services": [{"Address": "sixteen-chars-xx"}]}}]}})",
     "/driver/ports/0/record/Services/0/Address", "at most 15"},
    {"DriverRecordFromNowhere", R"({"driver": {"version": "4.302.7.15", "ports": [{"com": 3}]}})", "/driver/ports/0",
     "no registry record"},
    {"LoadedDriverWithoutVersion", R"({"driver": {"ports": []}})", "/driver", "version"},
    {"UnknownAnswer", R"({"answers": {"messageBoxes": [{"answer": "maybe"}]}})", "/answers/messageBoxes/0/answer",
     "no answer"},
    {"ProgressMessageZero", R"({"answers": {"progress": [{"message": 0, "answer": "cancel"}]}})",
     "/answers/progress/0/message", "from 1"},
    {"ClosingAPortNobodyHolds",
     R"({"machine": {"productPorts": [{"com": 3, "record": {}}]}, "driver": {"version": "4.302.7.15", "ports": [{"com": 3}]},
         "answers": {"messageBoxes": [{"answer": "retry", "closePorts": [3]}]}})",
     "/answers/messageBoxes/0/closePorts/0", "not held open"},
};

INSTANTIATE_TEST_SUITE_P(Replay, ScenarioErrors, testing::ValuesIn(kBadScenarios),
                         [](const testing::TestParamInfo<BadScenario>& info) { return std::string(info.param.name); });

class ReplayTest : public SimTest {
protected:
    std::filesystem::path TempFile(const std::string& name, const std::string& text = "") {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     (std::string("zel_replay_") + testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + name);
        if (!text.empty()) std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    int Main(std::vector<std::string> args) {
        std::vector<const char*> argv{"zel_replay"};
        for (const std::string& arg : args) argv.push_back(arg.c_str());
        out_.str("");
        err_.str("");
        return replay::ReplayMain(static_cast<int>(argv.size()), argv.data(), out_, err_);
    }
    std::ostringstream out_, err_;
};

TEST_F(ReplayTest, AMalformedScenarioRunsNothing) {
    std::filesystem::path bad = TempFile("bad.json", R"({"machine": {"productPorts": [{"com": 300}]}})");
    EXPECT_EQ(Main({bad.string()}), 2);
    EXPECT_EQ(err_.str(), "zel_replay: " + bad.string() + ": /machine/productPorts/0/com: a COM number must be 1 to 256, not 300\n");
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(sim::CallCount("CreateFileW"), 0u);

    EXPECT_EQ(Main({TempFile("missing.json").string()}), 2);
    EXPECT_NE(err_.str().find("cannot be read"), std::string::npos) << err_.str();
    EXPECT_EQ(Main({"--no-such-option"}), 2);
    EXPECT_EQ(out_.str(), "");
}

// ---- The tool's reading of the driver generations agrees with the library's conversion ----

TEST(ReplayRecords, EncodingsConvertToTheSameSettings) {
    const std::pair<Layout, DWORD> layouts[] = {
        {Layout::V40, LAYOUT_V40}, {Layout::V41, LAYOUT_V41}, {Layout::V43, LAYOUT_V43}, {Layout::Current, LAYOUT_CURRENT}};
    PortConfig config = replay::DefaultConfig(9);
    for (size_t s = 0; s < replay::kSettingCount; ++s) config.settings[s] = 1000 + static_cast<uint32_t>(s);
    for (size_t i = 0; i < config.aesKey.size(); ++i) config.aesKey[i] = static_cast<uint8_t>(0x80 + i);
    for (uint32_t k = 0; k < 8; ++k) config.services.push_back({k + 1, 4000 + k, sim::U16("host" + std::to_string(k) + ".example")});
    config.numServices = 8;
    for (const auto& [layout, code] : layouts) {
        SCOPED_TRACE(replay::LayoutName(layout));
        std::vector<uint8_t> record = replay::EncodeRecord(config, layout);
        ASSERT_EQ(record.size(), LayoutRecordBytes(code));
        PortInfo info;
        std::memset(&info, 0, sizeof info);
        if (layout == Layout::Current) std::memcpy(&info, record.data(), sizeof info);
        else ConvertPortRecord(code, record.data(), &info);

        PortConfig decoded = replay::DecodeRecord(record, layout);
        std::vector<uint8_t> library(reinterpret_cast<const uint8_t*>(&info), reinterpret_cast<const uint8_t*>(&info) + sizeof info);
        PortConfig converted = replay::DecodeRecord(library, Layout::Current);
        EXPECT_EQ(replay::Items(converted), replay::Items(decoded));
        // What a 4.0 record cannot carry comes back as the product's defaults, the rest as it was.
        if (layout == Layout::V40) {
            EXPECT_EQ(decoded.settings[replay::SettingIndex("KeepAliveTime")], 7200000u);
            EXPECT_EQ(decoded.settings[replay::SettingIndex("TransmitEmpty")], 1011u);
        } else {
            EXPECT_EQ(decoded.settings, config.settings);
        }
        EXPECT_EQ(decoded.services[7].address, u"host7.example");
    }
}

TEST(ReplayRecords, PackageVersionIsThePackagesDriverVer) {
    std::string display = replay::DisplayVersion(replay::kPackageDriverVersion);
    const std::vector<uint8_t>& bytes = sim::ProductInfBytes();
    std::string inf(bytes.begin(), bytes.end());
    size_t at = inf.find("DriverVer");
    ASSERT_NE(at, std::string::npos);
    std::string line = inf.substr(at, inf.find_first_of("\r\n", at) - at);
    EXPECT_TRUE(line.ends_with("," + display)) << line << " is not the version " << display;
    EXPECT_EQ(replay::LayoutForDisplayVersion(display), Layout::Current);
}

// ---- The shipped scenarios ----

std::vector<std::filesystem::path> ShippedScenarios() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(ZEL_REPLAY_SCENARIOS))
        if (entry.path().extension() == ".json") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST_F(ReplayTest, ShippedScenariosCarryEveryPortAcross) {
    std::vector<std::filesystem::path> files = ShippedScenarios();
    std::set<Layout> generations;
    for (const std::filesystem::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        Scenario scenario = Parsed(ReadText(file));
        // An upgrade's file name states the driver it starts from, as the user sees its version.
        std::string name = file.stem().string();
        if (name.starts_with("upgrade_from_")) {
            EXPECT_EQ(replay::DisplayVersion(scenario.driver.version), name.substr(std::strlen("upgrade_from_")));
            generations.insert(replay::DriverLayout(scenario.driver));
        }
        std::ostringstream out;
        replay::RunReport report = replay::Replay(scenario, replay::Options{}, out);
        EXPECT_EQ(report.exitCode, 0) << out.str();
        EXPECT_EQ(sim::PendingMessageBoxAnswers(), 0u) << "an answer of the scenario was not needed";
        if (scenario.action == Action::Remove) {
            EXPECT_TRUE(report.after.ports.empty()) << out.str();
            continue;
        }
        EXPECT_TRUE(report.installed);
        for (const replay::ProductPortView& port : report.before.ports) {
            const replay::ProductPortView* now = report.after.Find(port.com);
            ASSERT_NE(now, nullptr) << "COM" << port.com << " lost\n" << out.str();
            EXPECT_TRUE(now->hasRecord && now->missing.empty()) << "COM" << port.com;
        }
        EXPECT_TRUE(report.changedPorts.empty()) << out.str();
        EXPECT_EQ(report.after.others, report.before.others) << "another device's COM number changed";
    }
    EXPECT_EQ(generations.size(), 4u) << "an upgrade from every record generation";
    EXPECT_GE(files.size(), 9u);
}

// ---- Faults a replay reports ----

struct FaultCase {
    const char* name;
    std::function<void(Scenario&)> change;
    std::vector<int> lost;
    const char* failingAction;  // nullptr: every action returns 0
};

class ReplayFaults : public SimTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(ReplayFaults, EndWithExitCodeOne) {
    const FaultCase& c = GetParam();
    Scenario scenario = replay::DefaultScenario();  // COM2, COM3, COM7
    c.change(scenario);
    std::ostringstream out;
    replay::RunReport report = replay::Replay(scenario, replay::Options{}, out);
    EXPECT_EQ(report.exitCode, 1) << out.str();
    EXPECT_EQ(report.lostPorts, c.lost) << out.str();
    std::string failing;
    for (const replay::ActionResult& action : report.actions)
        if (action.result != 0) failing = action.name;
    EXPECT_EQ(failing, c.failingAction ? c.failingAction : "") << out.str();
    for (int com : c.lost) EXPECT_NE(out.str().find("COM" + std::to_string(com) + " LOST"), std::string::npos);
}

const FaultCase kFaults[] = {
    // A USB adapter came up on COM3 while the product's COM3 was away: the number cannot be had back.
    {"NumberTakenByAnotherDevice",
     [](Scenario& s) { s.machine.devices.push_back({replay::OtherDevice::Kind::UsbSerial, 3, 0}); }, {3}, nullptr},
    {"DriverRecordWithoutPortNumber",
     [](Scenario& s) {
         PortConfig config = *s.machine.productPorts[2].record;
         config.portNumber = 0;
         s.driver.ports[2].fromRegistry = false;
         s.driver.ports[2].record = replay::EncodeRecord(config, replay::DriverLayout(s.driver));
     },
     {7}, nullptr},
    {"UserCancelsWhileAPortIsOpen",
     [](Scenario& s) {
         s.driver.ports[0].open = true;
         s.messageBoxes.push_back({IDCANCEL, "ZEL ports open", {}});
     },
     {}, "CheckForOpenPorts"},
    {"PackageMissing",
     [](Scenario& s) {
         s.machine.package = false;
         s.messageBoxes.push_back({IDOK, "SetupCopyOEMInf", {}});
     },
     {}, "Install"},
};

INSTANTIATE_TEST_SUITE_P(Replay, ReplayFaults, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// ---- The command line ----

TEST_F(ReplayTest, DefaultRunWithTraceAndCalls) {
    EXPECT_EQ(Main({}), 0) << out_.str();
    EXPECT_EQ(out_.str().find("trace: "), std::string::npos);
    EXPECT_EQ(out_.str().find("Platform calls by API"), std::string::npos);
    for (const char* port : {"COM2", "COM3", "COM7"})
        EXPECT_NE(out_.str().find(std::string(port) + " carried across"), std::string::npos) << port;

    EXPECT_EQ(Main({"--trace", "--calls"}), 0) << out_.str();
    EXPECT_NE(out_.str().find("trace: ZelIf(TRAC) InitPortMap"), std::string::npos);
    EXPECT_NE(out_.str().find("MsiProcessMessage"), std::string::npos);
    EXPECT_EQ(TraceSwitch, 0) << "the trace switch stays on after the run";
}

TEST_F(ReplayTest, SavedUpgradeIsFollowedByARemoval) {
    std::filesystem::path saved = TempFile("after_upgrade.json");
    ASSERT_EQ(Main({"--save", saved.string()}), 0) << out_.str();
    Scenario after = Parsed(ReadText(saved));
    EXPECT_EQ(after.driver.version, replay::kPackageDriverVersion);
    EXPECT_EQ(replay::DriverLayout(after.driver), Layout::Current);
    ASSERT_EQ(after.driver.ports.size(), 3u);

    // The saved machine is the machine the upgrade left: built again, it reads the same.
    std::ostringstream out;
    replay::RunReport upgrade = replay::Replay(replay::DefaultScenario(), replay::Options{}, out);
    replay::BuildMachine(after);
    replay::MachineView rebuilt = replay::ReadMachineView();
    ASSERT_EQ(rebuilt.ports.size(), upgrade.after.ports.size());
    for (size_t i = 0; i < rebuilt.ports.size(); ++i) {
        EXPECT_EQ(rebuilt.ports[i].com, upgrade.after.ports[i].com);
        EXPECT_EQ(rebuilt.ports[i].Items(), upgrade.after.ports[i].Items());
        EXPECT_EQ(rebuilt.ports[i].friendlyName, upgrade.after.ports[i].friendlyName);
    }
    EXPECT_EQ(rebuilt.others, upgrade.after.others);
    EXPECT_EQ(rebuilt.claims, upgrade.after.claims);
    EXPECT_EQ(rebuilt.targetDir, upgrade.after.targetDir);
    EXPECT_EQ(rebuilt.infFile.has_value(), upgrade.after.infFile.has_value());
    sim::Reset();

    EXPECT_EQ(Main({"--action", "remove", saved.string()}), 0) << out_.str();
    EXPECT_NE(out_.str().find("no product port is left"), std::string::npos) << out_.str();
    std::filesystem::remove(saved);
}

}  // namespace
