#include "tools/sweep/fault_sweep.h"

#include <algorithm>
#include <ostream>

#include "driver/port_operations.h"
#include "setup/custom_actions.h"
#include "winsim/sim.h"

namespace sweep {
namespace {

constexpr DWORD kInjectedError = ERROR_GEN_FAILURE;
const char* const kPrivileges[] = {"SeTakeOwnershipPrivilege", "SeSecurityPrivilege", "SeLoadDriverPrivilege"};

// A configuration of the earlier driver's, different from what the registry holds, so that a port carried
// across and a port left in place can be told apart.
replay::PortConfig DriverConfig(int com, int index) {
    replay::PortConfig config = replay::DefaultConfig(static_cast<uint32_t>(com));
    config.portName = u"COM" + std::u16string(sim::U16(std::to_string(com)));
    config.settings[replay::SettingIndex("AES")] = index % 2;
    config.settings[replay::SettingIndex("AESKeyLength")] = index % 2 ? 32 : 0;
    config.settings[replay::SettingIndex("CnTmo")] = 1000 + static_cast<uint32_t>(com);
    config.settings[replay::SettingIndex("KeepAliveTime")] = 60000 + static_cast<uint32_t>(com);
    for (size_t i = 0; i < config.aesKey.size(); ++i) config.aesKey[i] = static_cast<uint8_t>(com + i);
    size_t services = static_cast<size_t>(index % 3);
    config.numServices = static_cast<uint32_t>(services);
    for (size_t k = 0; k < services; ++k)
        config.services.push_back({1, static_cast<uint32_t>(4000 + k), sim::U16("10.1." + std::to_string(com) + "." + std::to_string(k))});
    return config;
}

replay::Scenario UpgradeMachine(int ports) {
    replay::Scenario scenario;
    scenario.description = "upgrade from a 4.2.0.2 driver";
    scenario.machine.targetDir = scenario.machine.installFolder;
    scenario.machine.stagedPackage = true;
    scenario.machine.noDesktop = true;  // failures show boxes; nobody answers them in a sweep
    scenario.machine.devices.push_back({replay::OtherDevice::Kind::Motherboard, 1, 0x3F8});
    scenario.machine.devices.push_back({replay::OtherDevice::Kind::UsbSerial, 4, 0});
    scenario.driver.loaded = true;
    scenario.driver.version = "4.200.2.50";
    int com = 2;
    for (int i = 0; i < ports; ++i, ++com) {
        if (com == 4) ++com;
        replay::ProductPort port;
        port.com = com;
        port.record = replay::DefaultConfig(static_cast<uint32_t>(com));
        scenario.machine.productPorts.push_back(port);
        replay::DriverPortSpec driverPort;
        driverPort.com = com;
        driverPort.record = replay::EncodeRecord(DriverConfig(com, i), replay::Layout::V43);
        scenario.driver.ports.push_back(driverPort);
    }
    return scenario;
}

UINT Execute(const Run& run) {
    switch (run.action) {
        case Action::Install: return Install(sim::InstallHandle());
        case Action::Uninstall: return Uninstall(sim::InstallHandle());
        case Action::AddPortWithDriverUpdate: return static_cast<UINT>(AddPort(run.port, 1));
        case Action::AddPortProbing: return static_cast<UINT>(AddPort(run.port, 0));
        case Action::CheckForOpenPorts: return CheckForOpenPorts(sim::InstallHandle());
    }
    return 0;
}

// The properties the run's action reads, as the installer sets them.
void SetProperties(const Run& run) {
    if (run.scenario.properties) return;
    if (run.action == Action::Uninstall) sim::SetProperty("CustomActionData", u"");
}

std::vector<bool> Privileges() {
    std::vector<bool> states;
    for (const char* name : kPrivileges) states.push_back(sim::GetPrivilegeState(name).enabled);
    return states;
}

std::string InjectedApi() {
    for (const sim::Call& call : sim::Calls())
        for (const sim::Arg& arg : call.args)
            if (arg.name == "<injected failure>" || arg.name == "<injected exception>") return call.api;
    return "?";
}

bool AddsAPort(Action action) { return action == Action::AddPortWithDriverUpdate || action == Action::AddPortProbing; }

bool IsPrivilegeCall(const std::string& api) {
    return api == "LookupPrivilegeValueW" || api == "OpenProcessToken" || api == "AdjustTokenPrivileges";
}

bool ResultAllowed(const Run& run, Mode mode, UINT result, bool portPresent, bool claimed) {
    switch (run.action) {
        case Action::Install:
            // The migration's outcome never changes the status; reading the folder or staging may fail.
            return result == 0 || result == 1 || result == kInjectedError || result == ERROR_FILE_NOT_FOUND ||
                   result == ERROR_PATH_NOT_FOUND;
        case Action::Uninstall:
        case Action::CheckForOpenPorts: return result == 0;
        case Action::AddPortWithDriverUpdate:
        case Action::AddPortProbing:
            // Added completely, or not at all. The clean-up of a failed addition needs the platform too: a
            // fault that persists keeps it from taking everything out, and an exception ends the addition
            // where it happened, its guard releasing nothing.
            if (result == 0) return portPresent && claimed;
            return mode != Mode::Transient || (!portPresent && !claimed);
    }
    return false;
}

}  // namespace

const char* ModeName(Mode mode) {
    switch (mode) {
        case Mode::Transient: return "transient";
        case Mode::Persistent: return "persistent";
        case Mode::Raise: return "access violation";
    }
    return "?";
}

std::vector<Run> StandardRuns(int ports) {
    std::vector<Run> runs;
    replay::Scenario upgrade = UpgradeMachine(ports);
    runs.push_back({"Install, upgrade of " + std::to_string(ports) + " ports", upgrade, Action::Install, 0});
    replay::Scenario removal = upgrade;
    removal.action = replay::Action::Remove;
    runs.push_back({"Uninstall, no CustomActionData", removal, Action::Uninstall, 0});
    removal.properties = std::map<std::string, std::string>{{"CustomActionData", removal.machine.installFolder}};
    runs.push_back({"Uninstall, with CustomActionData", removal, Action::Uninstall, 0});
    replay::Scenario addition = upgrade;
    runs.push_back({"AddPort at a free number, driver update", addition, Action::AddPortWithDriverUpdate, 200});
    runs.push_back({"AddPort at a free number, probing", addition, Action::AddPortProbing, 200});
    runs.push_back({"CheckForOpenPorts", upgrade, Action::CheckForOpenPorts, 0});
    return runs;
}

Report SweepRun(const Run& run, Mode mode, unsigned limit) {
    Report report;
    report.run = run.name;
    report.mode = mode;

    // The run's failable calls, counted by a fault that never fires.
    replay::BuildMachine(run.scenario);
    SetProperties(run);
    unsigned calls = 0;
    sim::Fault counter;
    counter.api = "*";
    counter.when = [&](const sim::Call&) {
        ++calls;
        return false;
    };
    sim::InjectFault(counter);
    Execute(run);
    report.calls = calls;

    unsigned step = limit && calls > limit ? (calls + limit - 1) / limit : 1;
    for (unsigned nth = 1; nth <= calls; nth += step) {
        replay::BuildMachine(run.scenario);
        SetProperties(run);
        std::map<int, replay::ConfigItems> expected = replay::DriverExpectations(run.scenario);
        replay::MachineView before = replay::ReadMachineView();
        std::vector<bool> privileges = Privileges();
        sim::ClearCallLog();
        sim::Fault fault;
        fault.api = "*";
        fault.nth = nth;
        fault.error = kInjectedError;
        fault.persistent = mode == Mode::Persistent;
        fault.raise = mode == Mode::Raise;
        fault.exceptionCode = EXCEPTION_ACCESS_VIOLATION;
        sim::InjectFault(fault);

        Outcome outcome;
        outcome.mode = mode;
        outcome.nth = nth;
        outcome.result = Execute(run);
        sim::ClearFaults();
        outcome.api = InjectedApi();
        outcome.leaks = sim::LeakReport();
        outcome.violations = sim::TakeViolations();
        outcome.privilegesRestored = Privileges() == privileges;

        replay::MachineView after = replay::ReadMachineView();
        for (const replay::ProductPortView& port : before.ports) {
            replay::PortFate fate = replay::ClassifyPort(port, after, expected);
            // A removal takes every port away: gone is what it should do.
            if (run.action == Action::Uninstall && fate == replay::PortFate::Lost) fate = replay::PortFate::CarriedAcross;
            ++outcome.fates[fate];
            if (fate == replay::PortFate::Lost) outcome.lost.push_back(port.com);
        }
        const replay::ProductPortView* added = after.Find(static_cast<int>(run.port));
        bool claimed = std::find(after.claims.begin(), after.claims.end(), static_cast<int>(run.port)) != after.claims.end();
        outcome.resultAllowed = ResultAllowed(run, mode, outcome.result, added != nullptr, claimed);
        report.outcomes.push_back(std::move(outcome));
    }
    sim::Reset();
    return report;
}

std::vector<std::string> Problems(const Run& run, const Outcome& outcome) {
    std::vector<std::string> problems;
    std::string where = std::string(ModeName(outcome.mode)) + " fault in call " + std::to_string(outcome.nth) + " (" +
                        outcome.api + "): ";
    if (!outcome.leaks.empty() && outcome.mode != Mode::Raise) problems.push_back(where + "left open: " + outcome.leaks);
    for (const std::string& violation : outcome.violations) problems.push_back(where + "misuse: " + violation);
    // Putting a privilege back takes the same calls as enabling it: when those fail, it stays enabled.
    if (!outcome.privilegesRestored && outcome.mode == Mode::Transient && !IsPrivilegeCall(outcome.api))
        problems.push_back(where + "privileges not put back");
    if (!outcome.resultAllowed) problems.push_back(where + "result " + std::to_string(static_cast<LONG>(outcome.result)));
    auto changed = outcome.fates.find(replay::PortFate::SettingsLost);
    // A service subkey that cannot be created is skipped by the store rather than losing the whole port.
    if (changed != outcome.fates.end() && outcome.mode == Mode::Transient && !AddsAPort(run.action) &&
        outcome.api != "RegCreateKeyExW")
        problems.push_back(where + std::to_string(changed->second) + " port(s) with settings neither their own nor the driver's");
    return problems;
}

void PrintReport(std::ostream& out, const Run& run, const Report& report) {
    std::map<LONG, int> results;
    std::map<replay::PortFate, int> fates;
    std::map<std::string, int> lostBy;
    std::vector<std::string> problems;
    size_t leakingRaises = 0;
    for (const Outcome& outcome : report.outcomes) {
        ++results[static_cast<LONG>(outcome.result)];
        for (const auto& [fate, count] : outcome.fates) fates[fate] += count;
        if (!outcome.lost.empty()) lostBy[outcome.api] += static_cast<int>(outcome.lost.size());
        if (outcome.mode == Mode::Raise && !outcome.leaks.empty()) ++leakingRaises;
        for (std::string& problem : Problems(run, outcome)) problems.push_back(std::move(problem));
    }
    out << run.name << ", " << ModeName(report.mode) << ": " << report.outcomes.size() << " of " << report.calls
        << " calls swept\n";
    out << "  results:";
    for (const auto& [result, count] : results) out << "  " << result << " x" << count;
    out << "\n";
    if (!fates.empty()) {
        out << "  ports: " << fates[replay::PortFate::CarriedAcross] << " carried across (or removed as asked), "
            << fates[replay::PortFate::AsBefore] << " left in place, " << fates[replay::PortFate::Lost] << " lost, "
            << fates[replay::PortFate::SettingsLost] << " with other settings\n";
    }
    if (!lostBy.empty()) {
        out << "  ports lost by failing API:";
        for (const auto& [api, count] : lostBy) out << "  " << api << " " << count;
        out << "\n";
    }
    if (leakingRaises) out << "  runs ended by the exception with handles left open: " << leakingRaises << "\n";
    out << "  problems: " << problems.size() << "\n";
    for (size_t i = 0; i < problems.size() && i < 5; ++i) out << "    " << problems[i] << "\n";
}

}  // namespace sweep
