// The custom actions on an upgrade machine of growing size: the upgrade through Install, the removal
// through Uninstall and the open-ports scan. Each timed run starts from a freshly built machine (built
// while the clock is stopped); after the runs, the platform calls of one run of each size are printed
// per port and API, so that work whose count grows faster than the ports shows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "setup/custom_actions.h"
#include "tools/replay/port_record.h"
#include "winsim/devices.h"
#include "winsim/files.h"
#include "winsim/port_devices.h"
#include "winsim/sim.h"

namespace {

constexpr char kInstallDir[] = "C:\\Program Files\\Kelmiso\\ZEL\\";
constexpr char kPackageFolder[] = "C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\";
constexpr char kPackageInf[] = "C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\ZelDrvr.inf";
constexpr char kSettingsKey[] = "Software\\Kelmiso\\ZEL";
// The 4.2.0.2 driver: it already hands out the 696-byte records with the wide service addresses.
constexpr char kOldDriverVersion[] = "4.200.2.50";

// COM1 (motherboard) and COM4 (USB adapter) belong to other devices, so 254 numbers are left for the
// product; the largest machine takes 250 of them, which leaves the restoration some free numbers as a
// real machine would have.
constexpr int kMotherboardCom = 1;
constexpr int kUsbAdapterCom = 4;
constexpr int kLargest = 250;

// The product's COM numbers of a machine with n ports: the lowest free ones.
std::vector<DWORD> ProductComNumbers(int n) {
    std::vector<DWORD> numbers;
    for (DWORD com = 1; static_cast<int>(numbers.size()) < n; ++com)
        if (com != kMotherboardCom && com != kUsbAdapterCom) numbers.push_back(com);
    return numbers;
}

// A configuration of its own per port: every third port with services (up to eight), every other with
// AES and a key.
replay::PortConfig Configured(DWORD com) {
    replay::PortConfig config = replay::DefaultConfig(com);
    config.settings[static_cast<size_t>(replay::SettingIndex("AES"))] = com % 2;
    config.settings[static_cast<size_t>(replay::SettingIndex("AESKeyLength"))] = com % 2 ? 32 : 0;
    config.settings[static_cast<size_t>(replay::SettingIndex("CnTmo"))] = 100 * com;
    for (size_t i = 0; i < replay::kAesKeyBytes; ++i) config.aesKey[i] = static_cast<uint8_t>(com * 7 + i);
    size_t services = com % 3 == 0 ? 1 + com % replay::kMaxServices : 0;
    config.numServices = static_cast<uint32_t>(services);
    for (size_t k = 0; k < services; ++k)
        config.services.push_back({1, static_cast<uint32_t>(4000 + k),
                                   sim::U16("10.0." + std::to_string(com) + "." + std::to_string(k + 1))});
    return config;
}

// An earlier installation from the 4.2.0.2 driver with n ports (registry records, devices, claims and
// the driver's records), the package staged and recorded, a motherboard COM1 and a USB adapter on COM4
// beside them. The call log starts empty.
void EarlierInstallation(int n) {
    sim::Reset();
    sim::LayProductPackage(kInstallDir);
    sim::RegSetString(HKEY_LOCAL_MACHINE, kSettingsKey, "TargetDir", sim::U16(kInstallDir));
    WCHAR staged[MAX_PATH] = {};
    SetupCopyOEMInfW(sim::U16(kPackageInf).c_str(), sim::U16(kPackageFolder).c_str(), SPOST_PATH, 0, staged,
                     MAX_PATH, nullptr, nullptr);
    sim::RegSetString(HKEY_LOCAL_MACHINE, kSettingsKey, "InfFile", staged);
    sim::SetProperty("CustomActionData", sim::U16(kInstallDir));

    sim::DriverLoad(kOldDriverVersion);
    for (DWORD com : ProductComNumbers(n)) {
        sim::AddPortDevice({.comNumber = static_cast<int>(com), .record = sim::FullPortRecord(com)});
        sim::ClaimComNumber(com);
        sim::DriverSetPort(com, sim::DriverPort{replay::EncodeRecord(Configured(com), replay::Layout::V43), 0, 0, 0});
    }
    sim::AddMotherboardPort(kMotherboardCom, 0x3F8);
    sim::AddSerialCommEntry("\\Device\\Serial0", u"COM1");
    sim::AddUsbSerialAdapter(kUsbAdapterCom);
    sim::ClearCallLog();
}

// ---- Calls per port ----

struct CallProfile {
    std::string scenario;
    int ports = 0;
    size_t total = 0;
    std::vector<std::pair<std::string, size_t>> byApi;  // most called first
};

std::map<std::pair<std::string, int>, CallProfile>& Profiles() {
    static std::map<std::pair<std::string, int>, CallProfile> profiles;
    return profiles;
}

// Takes the call log of the run just made as the scenario's profile for n ports (the first run only).
void TakeProfile(const std::string& scenario, int n, benchmark::State& state) {
    std::map<std::string, size_t> counts = sim::CallCounts();
    size_t total = 0;
    for (const auto& [api, count] : counts) total += count;
    state.counters["calls/port"] = static_cast<double>(total) / n;
    auto key = std::make_pair(scenario, n);
    if (Profiles().count(key)) return;
    CallProfile profile{scenario, n, total, {counts.begin(), counts.end()}};
    std::stable_sort(profile.byApi.begin(), profile.byApi.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    Profiles()[key] = std::move(profile);
}

void PrintProfiles(size_t topApis) {
    std::map<std::string, std::vector<const CallProfile*>> byScenario;
    for (const auto& [key, profile] : Profiles()) byScenario[key.first].push_back(&profile);
    for (const auto& [scenario, profiles] : byScenario) {
        std::printf("\nPlatform calls per port, %s (one run of each size)\n", scenario.c_str());
        // The APIs most called in the largest run, with their count per port at every size.
        const CallProfile& largest = *profiles.back();
        std::printf("%-40s", "API");
        for (const CallProfile* p : profiles) std::printf(" %9d", p->ports);
        std::printf("\n%-40s", "all calls");
        for (const CallProfile* p : profiles) std::printf(" %9.1f", static_cast<double>(p->total) / p->ports);
        std::printf("\n");
        for (size_t i = 0; i < largest.byApi.size() && i < topApis; ++i) {
            const std::string& api = largest.byApi[i].first;
            std::printf("%-40s", api.c_str());
            for (const CallProfile* p : profiles) {
                size_t count = 0;
                for (const auto& [name, n] : p->byApi)
                    if (name == api) count = n;
                std::printf(" %9.1f", static_cast<double>(count) / p->ports);
            }
            std::printf("\n");
        }
    }
}

// ---- The benchmarks ----

void BM_UpgradeInstall(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        EarlierInstallation(n);
        state.ResumeTiming();
        UINT result = Install(sim::InstallHandle());
        state.PauseTiming();
        if (result != 0 || sim::ClaimedComNumbers().size() != static_cast<size_t>(n)) {
            state.SkipWithError("the upgrade did not carry every port across");
            break;
        }
        TakeProfile("upgrade through Install", n, state);
        state.ResumeTiming();
    }
    state.SetComplexityN(n);
}
BENCHMARK(BM_UpgradeInstall)->Arg(1)->Arg(16)->Arg(64)->Arg(kLargest)->Unit(benchmark::kMillisecond)->Complexity();

void BM_Uninstall(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        EarlierInstallation(n);
        sim::SetProperty("CustomActionData", u"");  // an uninstallation, not a repair
        state.ResumeTiming();
        UINT result = Uninstall(sim::InstallHandle());
        state.PauseTiming();
        if (result != 0 || !sim::ClaimedComNumbers().empty()) {
            state.SkipWithError("the uninstallation left ports behind");
            break;
        }
        TakeProfile("Uninstall", n, state);
        state.ResumeTiming();
    }
    state.SetComplexityN(n);
}
BENCHMARK(BM_Uninstall)->Arg(1)->Arg(16)->Arg(64)->Arg(kLargest)->Unit(benchmark::kMillisecond)->Complexity();

// The scan asks for ports 1 to 256 whatever the machine has; the machine does not change, so it is built
// once and only the call log is emptied between runs.
void BM_CheckForOpenPorts(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    EarlierInstallation(n);
    for (auto _ : state) {
        UINT result = CheckForOpenPorts(sim::InstallHandle());
        state.PauseTiming();
        if (result != 0) {
            state.SkipWithError("a port counted as open");
            break;
        }
        TakeProfile("CheckForOpenPorts", n, state);
        sim::ClearCallLog();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CheckForOpenPorts)->Arg(kLargest)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintProfiles(20);
    return 0;
}
