// A replay scenario: the machine an installation starts from, the running driver, the installer's
// properties and the user's answers. The JSON form is described in tools/replay/README.md.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tools/replay/port_record.h"

namespace replay {

enum class Action { Upgrade, Install, Remove };
const char* ActionName(Action action);  // "upgrade", "install", "remove"

struct ProductPort {
    int com = 0;
    std::string description = "ZEL Virtual Serial Port";
    bool claimed = true;                // in the COM port database
    std::optional<PortConfig> record;   // the Properties key; nullopt: none
    std::vector<std::string> omit;      // values left out of the Properties key
};

struct OtherDevice {
    enum class Kind { Motherboard, UsbSerial, Modem, PrinterPort } kind = Kind::Motherboard;
    int com = 0;          // not for the printer port
    uint32_t ioBase = 0x3F8;  // motherboard ports only
};

struct SerialCommEntry {
    std::string name;  // "\Device\Serial0"
    std::string port;  // "COM1"
};

struct Machine {
    std::string installFolder = "C:\\Program Files\\Kelmiso\\ZEL\\";
    std::optional<std::string> targetDir;  // recorded in the product settings key
    bool package = true;         // ZelDrvr\ZelDrvr.inf below the installation folder
    bool stagedPackage = false;  // an earlier package in the driver store, recorded as InfFile
    bool noDesktop = false;
    std::vector<ProductPort> productPorts;
    std::vector<OtherDevice> devices;
    std::vector<SerialCommEntry> serialComm;
    std::vector<int> comDatabase;  // claims beside the product ports' own
};

struct DriverPortSpec {
    int com = 0;
    bool open = false;
    uint32_t configError = 0;  // the driver fails this port's configuration requests with it
    uint32_t statusError = 0;  // ... and its status requests
    // The record as the driver hands it out, in the driver's layout. Empty with fromRegistry: the
    // product port's registry record, encoded when the machine is built.
    std::vector<uint8_t> record;
    bool fromRegistry = false;
};

struct Driver {
    bool loaded = false;
    std::string version;  // raw version text
    std::vector<DriverPortSpec> ports;
};

struct MessageBoxAnswer {
    int answer = 0;             // IDOK, IDCANCEL, ...
    std::string expect;         // a text the box must show; "" any
    std::vector<int> closePorts;  // the user closes the applications holding these ports, then answers
};

struct Scenario {
    std::string description;  // what the scenario shows, printed with the run
    Action action = Action::Upgrade;
    Machine machine;
    Driver driver;
    // Installer properties; nullopt: CustomActionData is the installation folder for an installation, and
    // nothing for a removal.
    std::optional<std::map<std::string, std::string>> properties;
    std::vector<MessageBoxAnswer> messageBoxes;
    std::map<unsigned, int> progressAnswers;  // message number (from 1) -> answer
};

// The display form of a raw driver version text, by the library's own rules.
std::string DisplayVersion(const std::string& raw);
// The layout the scenario's driver hands records out in.
Layout DriverLayout(const Driver& driver);

struct ScenarioError {
    std::string file;
    std::string where;    // a JSON pointer ("/machine/productPorts/1/com") or "line 3, column 7"
    std::string problem;
    std::string Text() const;  // "<file>: <where>: <problem>"
};

// Reads a scenario; every problem with its text is an error, and nothing of the scenario is used then.
std::variant<Scenario, ScenarioError> ParseScenario(std::string_view text, const std::string& file);
// The scenario as JSON text, in the form ParseScenario reads.
std::string ScenarioJson(const Scenario& scenario);

// The upgrade that runs without arguments: a 4.2.0.2 driver with three configured ports (one with AES
// on and two services) beside a motherboard COM1 and a USB adapter on COM4.
Scenario DefaultScenario();

// The raw version text the driver of this source tree's package answers (its DriverVer, 4.4.0.0).
extern const char kPackageDriverVersion[];

}  // namespace replay
