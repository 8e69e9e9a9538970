// Plays Windows Installer against the simulated machine: builds a scenario's machine, runs the custom
// actions in the order an installation or removal runs them, and shows what the installing user sees
// and what became of the machine's ports.
#pragma once

#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/replay/port_record.h"
#include "tools/replay/scenario.h"
#include "winsim/sim.h"

namespace replay {

// ---- The machine as the tool sees it, read from the registry ----
struct ProductPortView {
    int com = 0;  // from the device's PortName; 0 when it has none
    std::string instanceId;
    std::string friendlyName;
    bool claimed = false;  // in the COM port database
    bool hasRecord = false;
    PortConfig config;                 // what of the record could be read
    std::vector<std::string> missing;  // values and service keys of the record that are not there
    ConfigItems Items() const;         // config's items, the missing ones nullopt
};
struct ComHolder {
    int com = 0;
    std::string what;  // "Ports device ACPI\PNP0501\1 "Communications Port (COM1)"", "SerialComm ..."
    bool operator==(const ComHolder&) const = default;
};
struct MachineView {
    std::optional<std::string> targetDir, infFile;  // the product settings key
    std::vector<ProductPortView> ports;             // in enumeration order
    std::vector<ComHolder> others;                  // other Ports devices and SerialComm entries
    std::vector<int> claims;                        // every claim of the COM port database
    const ProductPortView* Find(int com) const;
};
MachineView ReadMachineView();

// What the running driver of the scenario's machine holds for each port, as the registry should hold it
// after the port was carried across (ports whose record the driver fails are not there). Read from the
// machine as built, before anything ran.
std::map<int, ConfigItems> DriverExpectations(const Scenario& scenario);

// What became of a product port: carried across with the driver's settings, still there as before,
// gone, or there with settings that are neither.
enum class PortFate { CarriedAcross, AsBefore, Lost, SettingsLost };
PortFate ClassifyPort(const ProductPortView& before, const MachineView& after,
                      const std::map<int, ConfigItems>& expected);

// Resets the simulator and lays the scenario's machine down; returns the instance IDs of the scenario's
// other devices, in order.
std::vector<std::string> BuildMachine(const Scenario& scenario);

struct Options {
    bool trace = false;  // the library's trace lines
    bool calls = false;  // platform calls by API
};

struct ActionResult {
    std::string name;
    UINT result = 0;
};

struct RunReport {
    int exitCode = 0;  // 0, or 1 when an action failed, a port or its settings were lost, or the run left
                       // handles open or misused the machine
    std::vector<ActionResult> actions;
    bool installed = false;  // Install ran and returned 0
    MachineView before, after;
    std::vector<int> lostPorts;      // product ports present before an installation and missing after
    std::vector<int> changedPorts;   // present after with settings neither the driver's nor their own
    std::string leaks;
    std::vector<std::string> violations;
    Scenario machineAfter;           // the machine after the run, as a scenario
};

// Runs the scenario on a freshly built machine and writes what the user sees to out.
RunReport Replay(const Scenario& scenario, const Options& options, std::ostream& out);

// The command line (see README.md). Returns the exit code: 0, 1 (see RunReport), 2 for a scenario or
// command line that cannot be used (nothing runs then).
int ReplayMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace replay
