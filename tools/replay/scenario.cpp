#include "tools/replay/scenario.h"

#include <algorithm>
#include <charconv>
#include <set>

#include <nlohmann/json.hpp>

#include "driver/port_operations.h"
#include "winsim/sim.h"

namespace replay {

using Json = nlohmann::ordered_json;

const char kPackageDriverVersion[] = "4.400.0.50";

namespace {

// A problem with the scenario at one place of its JSON text.
struct Problem {
    std::string where;
    std::string problem;
};

constexpr size_t kRegistryAddressUnits = 64;  // the stored Address is 128 bytes, terminator included
constexpr size_t kPortNameUnits = 8;
constexpr size_t kVersionTextLimit = 39;      // the library asks for the version into 40 bytes

std::string Escaped(std::string_view key) {
    std::string text;
    for (char c : key) {
        if (c == '~') text += "~0";
        else if (c == '/') text += "~1";
        else text += c;
    }
    return text;
}

// One value of the scenario with its JSON pointer; every read checks the type, every object its keys.
class Node {
public:
    Node(const Json& value, std::string pointer) : value_(value), pointer_(std::move(pointer)) {}

    const std::string& Pointer() const { return pointer_; }
    [[noreturn]] void Fail(std::string problem) const { throw Problem{pointer_.empty() ? "/" : pointer_, std::move(problem)}; }

    // An object whose keys must all be among `known`.
    const Node& Object(std::initializer_list<const char*> known) const {
        if (!value_.is_object()) Fail("expected an object, got " + Kind());
        for (const auto& [key, item] : value_.items()) {
            bool isKnown = std::any_of(known.begin(), known.end(), [&](const char* name) { return key == name; });
            if (isKnown) continue;
            std::string list;
            for (const char* name : known) list += std::string(list.empty() ? "" : ", ") + name;
            Node(item, pointer_ + "/" + Escaped(key)).Fail("unknown field (this object takes " + list + ")");
        }
        return *this;
    }
    bool Has(const char* key) const { return value_.contains(key); }
    Node operator[](const char* key) const { return Node(value_.at(key), pointer_ + "/" + Escaped(key)); }
    std::vector<Node> Array(size_t most = SIZE_MAX) const {
        if (!value_.is_array()) Fail("expected an array, got " + Kind());
        if (value_.size() > most) Fail("at most " + std::to_string(most) + " entries, not " + std::to_string(value_.size()));
        std::vector<Node> items;
        for (size_t i = 0; i < value_.size(); ++i) items.emplace_back(value_[i], pointer_ + "/" + std::to_string(i));
        return items;
    }
    std::vector<std::pair<std::string, Node>> Members() const {
        if (!value_.is_object()) Fail("expected an object, got " + Kind());
        std::vector<std::pair<std::string, Node>> members;
        for (const auto& [key, item] : value_.items()) members.emplace_back(key, Node(item, pointer_ + "/" + Escaped(key)));
        return members;
    }
    std::string String() const {
        if (!value_.is_string()) Fail("expected a string, got " + Kind());
        return value_.get<std::string>();
    }
    bool Bool() const {
        if (!value_.is_boolean()) Fail("expected true or false, got " + Kind());
        return value_.get<bool>();
    }
    uint32_t Unsigned() const {
        if (!value_.is_number_unsigned() || value_.get<uint64_t>() > UINT32_MAX)
            Fail("expected a whole number from 0 to 4294967295, got " + Kind());
        return static_cast<uint32_t>(value_.get<uint64_t>());
    }
    int Com() const {
        if (!value_.is_number_integer()) Fail("expected a COM number, got " + Kind());
        int64_t number = value_.get<int64_t>();
        if (number < 1 || number > 256) Fail("a COM number must be 1 to 256, not " + std::to_string(number));
        return static_cast<int>(number);
    }
    std::vector<uint8_t> Hex() const {
        std::string text = String();
        if (text.size() % 2) Fail("an odd number of hexadecimal digits (" + std::to_string(text.size()) + ")");
        std::vector<uint8_t> bytes(text.size() / 2);
        for (size_t i = 0; i < bytes.size(); ++i) {
            auto [end, error] = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, bytes[i], 16);
            if (error != std::errc() || end != text.data() + 2 * i + 2)
                Fail("\"" + text.substr(2 * i, 2) + "\" at digit " + std::to_string(2 * i + 1) + " is not a hexadecimal byte");
        }
        return bytes;
    }

private:
    std::string Kind() const {
        if (value_.is_number_float()) return "a fraction";
        if (value_.is_number_integer()) return "the number " + value_.dump();
        if (value_.is_string()) return "the string " + value_.dump();
        if (value_.is_boolean()) return value_.dump();
        return std::string(value_.is_object() ? "an " : "a ") + value_.type_name();
    }

    const Json& value_;
    std::string pointer_;
};

int AnswerCode(const Node& node) {
    static const std::pair<const char*, int> kAnswers[] = {
        {"ok", IDOK}, {"cancel", IDCANCEL}, {"abort", IDABORT}, {"retry", IDRETRY},
        {"ignore", IDIGNORE}, {"yes", IDYES}, {"no", IDNO},
    };
    std::string text = node.String();
    for (const auto& [name, code] : kAnswers)
        if (text == name) return code;
    node.Fail("\"" + text + "\" is no answer (ok, cancel, abort, retry, ignore, yes, no)");
}

const char* AnswerName(int code) {
    switch (code) {
        case IDOK: return "ok";
        case IDCANCEL: return "cancel";
        case IDABORT: return "abort";
        case IDRETRY: return "retry";
        case IDIGNORE: return "ignore";
        case IDYES: return "yes";
        case IDNO: return "no";
        default: return "?";
    }
}

std::u16string Text16(const Node& node, size_t maxUnits, const std::string& what) {
    std::u16string text = sim::U16(node.String());
    if (text.size() > maxUnits)
        node.Fail(what + " has " + std::to_string(text.size()) + " characters; it holds at most " + std::to_string(maxUnits));
    return text;
}

// A record given field by field. `layout` is the driver's, or nullopt for a registry record.
PortConfig ReadRecord(const Node& node, int com, std::optional<Layout> layout) {
    std::vector<const char*> names = {"PortNumber", "AESKey", "NumServices", "Services"};
    if (layout) names.push_back("PortName");
    for (const char* name : kSettingNames) names.push_back(name);
    for (const auto& [key, item] : node.Members()) {
        if (std::find_if(names.begin(), names.end(), [&](const char* n) { return key == n; }) != names.end()) continue;
        item.Fail(key == "PortName" ? "a registry record has no PortName: the port's name is its device's"
                                    : "unknown field (a record takes PortNumber, " + std::string(layout ? "PortName, " : "") +
                                          "the settings AES to KeepAliveInterval, AESKey, NumServices, Services)");
    }
    PortConfig config = DefaultConfig(static_cast<uint32_t>(com));
    if (node.Has("PortNumber")) config.portNumber = node["PortNumber"].Unsigned();
    if (node.Has("PortName")) config.portName = Text16(node["PortName"], kPortNameUnits - 1, "PortName");
    for (size_t s = 0; s < kSettingCount; ++s) {
        if (!node.Has(kSettingNames[s])) continue;
        Node value = node[kSettingNames[s]];
        // A 4.0 driver's record has no room for these; a value given for one would silently vanish.
        if (layout == Layout::V40 && s >= 10 && s != 11)
            value.Fail(std::string(kSettingNames[s]) + " is not part of the " + LayoutName(*layout) + " record");
        config.settings[s] = value.Unsigned();
    }
    if (node.Has("AESKey")) {
        Node key = node["AESKey"];
        std::vector<uint8_t> bytes = key.Hex();
        if (bytes.size() != kAesKeyBytes) key.Fail("AESKey must be 32 bytes (64 hexadecimal digits), not " + std::to_string(bytes.size()));
        std::copy(bytes.begin(), bytes.end(), config.aesKey.begin());
    }
    size_t addressUnits = layout ? AddressUnits(*layout) : kRegistryAddressUnits;
    if (node.Has("Services")) {
        for (const Node& entry : node["Services"].Array(kMaxServices)) {
            entry.Object({"Type", "Port", "Address"});
            Service service;
            if (entry.Has("Type")) service.type = entry["Type"].Unsigned();
            if (entry.Has("Port")) service.port = entry["Port"].Unsigned();
            if (entry.Has("Address"))
                service.address = Text16(entry["Address"], addressUnits - 1,
                                         std::string("the address (in the ") + (layout ? LayoutName(*layout) : "registry") + " record)");
            config.services.push_back(service);
        }
    }
    config.numServices = node.Has("NumServices") ? node["NumServices"].Unsigned() : static_cast<uint32_t>(config.services.size());
    return config;
}

Action ReadAction(const Node& node) {
    std::string text = node.String();
    if (text == "upgrade") return Action::Upgrade;
    if (text == "install") return Action::Install;
    if (text == "remove") return Action::Remove;
    node.Fail("\"" + text + "\" is no action (upgrade, install, remove)");
}

uint32_t IoBase(const Node& node) {
    Node value = node["ioBase"];
    try {
        return value.Unsigned();
    } catch (const Problem&) {
    }
    std::string text = value.String();
    uint32_t base = 0;
    auto [end, error] = text.starts_with("0x") ? std::from_chars(text.data() + 2, text.data() + text.size(), base, 16)
                                                : std::from_chars(text.data(), text.data(), base, 16);
    if (error != std::errc() || end != text.data() + text.size() || base > 0xFFFF)
        value.Fail("expected an I/O port address (a number, or hexadecimal text such as \"0x3F8\")");
    return base;
}

Machine ReadMachine(const Node& node) {
    node.Object({"installFolder", "targetDir", "package", "stagedPackage", "noDesktop", "productPorts", "devices",
                 "serialComm", "comDatabase"});
    Machine machine;
    if (node.Has("installFolder")) machine.installFolder = node["installFolder"].String();
    if (node.Has("targetDir")) machine.targetDir = node["targetDir"].String();
    if (node.Has("package")) machine.package = node["package"].Bool();
    if (node.Has("stagedPackage")) machine.stagedPackage = node["stagedPackage"].Bool();
    if (node.Has("noDesktop")) machine.noDesktop = node["noDesktop"].Bool();
    if (node.Has("productPorts")) {
        std::set<int> seen;
        for (const Node& item : node["productPorts"].Array()) {
            item.Object({"com", "description", "claimed", "record", "omit"});
            if (!item.Has("com")) item.Fail("a product port needs its \"com\" number");
            ProductPort port;
            port.com = item["com"].Com();
            if (!seen.insert(port.com).second) item["com"].Fail("COM" + std::to_string(port.com) + " is already a product port");
            if (item.Has("description")) port.description = item["description"].String();
            if (item.Has("claimed")) port.claimed = item["claimed"].Bool();
            if (item.Has("record")) port.record = ReadRecord(item["record"], port.com, std::nullopt);
            if (item.Has("omit")) {
                if (!port.record) item["omit"].Fail("values can be omitted only from a record");
                for (const Node& name : item["omit"].Array()) {
                    std::string text = name.String();
                    if (text != "PortNumber" && text != "AESKey" && text != "NumServices" && SettingIndex(text) < 0)
                        name.Fail("\"" + text + "\" is no value of a port's Properties key");
                    port.omit.push_back(text);
                }
            }
            machine.productPorts.push_back(std::move(port));
        }
    }
    if (node.Has("devices")) {
        for (const Node& item : node["devices"].Array()) {
            item.Object({"kind", "com", "ioBase"});
            if (!item.Has("kind")) item.Fail("a device needs its \"kind\"");
            OtherDevice device;
            std::string kind = item["kind"].String();
            if (kind == "motherboard") device.kind = OtherDevice::Kind::Motherboard;
            else if (kind == "usbSerial") device.kind = OtherDevice::Kind::UsbSerial;
            else if (kind == "modem") device.kind = OtherDevice::Kind::Modem;
            else if (kind == "printerPort") device.kind = OtherDevice::Kind::PrinterPort;
            else item["kind"].Fail("\"" + kind + "\" is no device kind (motherboard, usbSerial, modem, printerPort)");
            if (device.kind == OtherDevice::Kind::PrinterPort) {
                if (item.Has("com")) item["com"].Fail("the printer port is LPT1 and has no COM number");
            } else {
                if (!item.Has("com")) item.Fail("a " + kind + " device needs its \"com\" number");
                device.com = item["com"].Com();
            }
            if (item.Has("ioBase")) {
                if (device.kind != OtherDevice::Kind::Motherboard) item["ioBase"].Fail("only a motherboard port has an I/O base here");
                device.ioBase = IoBase(item);
            }
            machine.devices.push_back(device);
        }
    }
    if (node.Has("serialComm")) {
        for (const Node& item : node["serialComm"].Array()) {
            item.Object({"name", "port"});
            if (!item.Has("name") || !item.Has("port")) item.Fail("a SerialComm entry needs \"name\" and \"port\"");
            machine.serialComm.push_back(SerialCommEntry{item["name"].String(), item["port"].String()});
        }
    }
    if (node.Has("comDatabase"))
        for (const Node& item : node["comDatabase"].Array()) machine.comDatabase.push_back(item.Com());
    return machine;
}

Driver ReadDriver(const Node& node, const Machine& machine) {
    node.Object({"loaded", "version", "ports"});
    Driver driver;
    driver.loaded = node.Has("loaded") ? node["loaded"].Bool() : true;
    if (node.Has("version")) {
        driver.version = node["version"].String();
        if (driver.version.size() > kVersionTextLimit)
            node["version"].Fail("a version text has at most 39 characters, not " + std::to_string(driver.version.size()));
    } else if (driver.loaded) {
        node.Fail("a loaded driver needs its raw \"version\" text");
    }
    Layout layout = DriverLayout(driver);
    if (!node.Has("ports")) return driver;
    std::set<int> seen;
    for (const Node& item : node["ports"].Array()) {
        item.Object({"com", "open", "record", "hex", "configError", "statusError"});
        if (!item.Has("com")) item.Fail("a driver port needs its \"com\" number");
        DriverPortSpec port;
        port.com = item["com"].Com();
        if (!seen.insert(port.com).second) item["com"].Fail("the driver already has COM" + std::to_string(port.com));
        if (item.Has("open")) port.open = item["open"].Bool();
        if (item.Has("configError")) port.configError = item["configError"].Unsigned();
        if (item.Has("statusError")) port.statusError = item["statusError"].Unsigned();
        if (item.Has("record") && item.Has("hex")) item.Fail("give either \"record\" or \"hex\", not both");
        if (item.Has("record")) {
            port.record = EncodeRecord(ReadRecord(item["record"], port.com, layout), layout);
        } else if (item.Has("hex")) {
            Node hex = item["hex"];
            port.record = hex.Hex();
            if (port.record.size() != LayoutBytes(layout))
                hex.Fail("the driver " + driver.version + " hands out the " + LayoutName(layout) + " record (" +
                         std::to_string(2 * LayoutBytes(layout)) + " hexadecimal digits); this one has " +
                         std::to_string(port.record.size()) + " bytes");
        } else {
            auto found = std::find_if(machine.productPorts.begin(), machine.productPorts.end(),
                                      [&](const ProductPort& p) { return p.com == port.com; });
            if (found == machine.productPorts.end() || !found->record)
                item.Fail("COM" + std::to_string(port.com) +
                          " has no registry record to take the driver's from; give \"record\" or \"hex\"");
            port.fromRegistry = true;
        }
        driver.ports.push_back(std::move(port));
    }
    return driver;
}

void ReadAnswers(const Node& node, Scenario& scenario) {
    node.Object({"messageBoxes", "progress"});
    if (node.Has("messageBoxes")) {
        for (const Node& item : node["messageBoxes"].Array()) {
            item.Object({"answer", "expect", "closePorts"});
            if (!item.Has("answer")) item.Fail("a message box answer needs its \"answer\"");
            MessageBoxAnswer answer;
            answer.answer = AnswerCode(item["answer"]);
            if (item.Has("expect")) answer.expect = item["expect"].String();
            if (item.Has("closePorts"))
                for (const Node& com : item["closePorts"].Array()) answer.closePorts.push_back(com.Com());
            scenario.messageBoxes.push_back(std::move(answer));
        }
    }
    if (node.Has("progress")) {
        for (const Node& item : node["progress"].Array()) {
            item.Object({"message", "answer"});
            if (!item.Has("message") || !item.Has("answer")) item.Fail("a progress answer needs \"message\" and \"answer\"");
            uint32_t message = item["message"].Unsigned();
            if (message == 0) item["message"].Fail("messages are counted from 1");
            if (scenario.progressAnswers.count(message)) item["message"].Fail("message " + std::to_string(message) + " already has an answer");
            scenario.progressAnswers[message] = AnswerCode(item["answer"]);
        }
    }
}

Scenario ReadScenario(const Node& root) {
    root.Object({"description", "action", "machine", "driver", "installer", "answers"});
    Scenario scenario;
    if (root.Has("description")) scenario.description = root["description"].String();
    if (root.Has("action")) scenario.action = ReadAction(root["action"]);
    if (root.Has("machine")) scenario.machine = ReadMachine(root["machine"]);
    if (root.Has("driver")) scenario.driver = ReadDriver(root["driver"], scenario.machine);
    if (root.Has("installer")) {
        Node installer = root["installer"];
        installer.Object({"properties"});
        if (installer.Has("properties")) {
            scenario.properties.emplace();
            for (const auto& [name, value] : installer["properties"].Members()) (*scenario.properties)[name] = value.String();
        }
    }
    if (root.Has("answers")) ReadAnswers(root["answers"], scenario);
    for (size_t i = 0; i < scenario.messageBoxes.size(); ++i)
        for (size_t k = 0; k < scenario.messageBoxes[i].closePorts.size(); ++k) {
            int com = scenario.messageBoxes[i].closePorts[k];
            bool held = std::any_of(scenario.driver.ports.begin(), scenario.driver.ports.end(),
                                    [&](const DriverPortSpec& p) { return p.com == com && p.open; });
            if (!held)
                throw Problem{"/answers/messageBoxes/" + std::to_string(i) + "/closePorts/" + std::to_string(k),
                              "COM" + std::to_string(com) + " is not held open by the driver"};
        }
    return scenario;
}

Json RecordJson(const PortConfig& config, int com, bool withPortName) {
    Json record = Json::object();
    if (config.portNumber != static_cast<uint32_t>(com)) record["PortNumber"] = config.portNumber;
    if (withPortName) record["PortName"] = sim::U8(config.portName);
    for (size_t s = 0; s < kSettingCount; ++s) {
        record[kSettingNames[s]] = config.settings[s];
        if (s == 0) record["AESKey"] = HexBytes(config.aesKey.data(), kAesKeyBytes);
    }
    Json services = Json::array();
    for (const Service& service : config.services)
        services.push_back({{"Type", service.type}, {"Port", service.port}, {"Address", sim::U8(service.address)}});
    if (config.numServices != config.services.size()) record["NumServices"] = config.numServices;
    record["Services"] = services;
    return record;
}

}  // namespace

const char* ActionName(Action action) {
    switch (action) {
        case Action::Upgrade: return "upgrade";
        case Action::Install: return "install";
        case Action::Remove: break;
    }
    return "remove";
}

std::string DisplayVersion(const std::string& raw) {
    char display[kVersionTextBytes] = {};
    // The library bounds the display form by the raw text's size.
    DWORD size = static_cast<DWORD>(std::min<size_t>(raw.size() + 1, kVersionTextBytes));
    FormatVersionString(display, size, raw.c_str());
    return display;
}

Layout DriverLayout(const Driver& driver) {
    return driver.loaded ? LayoutForDisplayVersion(DisplayVersion(driver.version)) : Layout::Current;
}

std::string ScenarioError::Text() const { return file + ": " + where + ": " + problem; }

std::variant<Scenario, ScenarioError> ParseScenario(std::string_view text, const std::string& file) {
    Json root;
    try {
        root = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& error) {
        // The library's message carries its own position; the line and column are what an editor shows.
        size_t line = 1, column = 1;
        for (size_t i = 0; i + 1 < error.byte && i < text.size(); ++i) {
            if (text[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        std::string message = error.what();
        size_t detail = message.find(": ");
        if (detail != std::string::npos) message = message.substr(detail + 2);
        return ScenarioError{file, "line " + std::to_string(line) + ", column " + std::to_string(column),
                             "not JSON: " + message};
    }
    try {
        return ReadScenario(Node(root, ""));
    } catch (const Problem& problem) {
        return ScenarioError{file, problem.where, problem.problem};
    }
}

std::string ScenarioJson(const Scenario& scenario) {
    Json root = Json::object();
    if (!scenario.description.empty()) root["description"] = scenario.description;
    root["action"] = ActionName(scenario.action);

    const Machine& m = scenario.machine;
    Json machine = Json::object();
    machine["installFolder"] = m.installFolder;
    if (m.targetDir) machine["targetDir"] = *m.targetDir;
    machine["package"] = m.package;
    machine["stagedPackage"] = m.stagedPackage;
    machine["noDesktop"] = m.noDesktop;
    Json ports = Json::array();
    for (const ProductPort& port : m.productPorts) {
        Json item = {{"com", port.com}, {"description", port.description}, {"claimed", port.claimed}};
        if (port.record) item["record"] = RecordJson(*port.record, port.com, false);
        if (!port.omit.empty()) item["omit"] = port.omit;
        ports.push_back(item);
    }
    machine["productPorts"] = ports;
    Json devices = Json::array();
    for (const OtherDevice& device : m.devices) {
        static const char* const kKinds[] = {"motherboard", "usbSerial", "modem", "printerPort"};
        Json item = {{"kind", kKinds[static_cast<int>(device.kind)]}};
        if (device.kind != OtherDevice::Kind::PrinterPort) item["com"] = device.com;
        if (device.kind == OtherDevice::Kind::Motherboard) {
            char base[16];
            std::snprintf(base, sizeof base, "0x%X", device.ioBase);
            item["ioBase"] = base;
        }
        devices.push_back(item);
    }
    machine["devices"] = devices;
    Json serialComm = Json::array();
    for (const SerialCommEntry& entry : m.serialComm) serialComm.push_back({{"name", entry.name}, {"port", entry.port}});
    machine["serialComm"] = serialComm;
    machine["comDatabase"] = m.comDatabase;
    root["machine"] = machine;

    const Driver& d = scenario.driver;
    Json driver = {{"loaded", d.loaded}};
    if (!d.version.empty()) driver["version"] = d.version;
    Layout layout = DriverLayout(d);
    Json driverPorts = Json::array();
    for (const DriverPortSpec& port : d.ports) {
        Json item = {{"com", port.com}};
        if (port.open) item["open"] = true;
        if (port.configError) item["configError"] = port.configError;
        if (port.statusError) item["statusError"] = port.statusError;
        if (!port.fromRegistry) {
            // Field by field when that gives the same bytes back, so that a saved machine stays readable.
            PortConfig config = DecodeRecord(port.record, layout);
            uint32_t valid = std::min<uint32_t>(config.numServices, kMaxServices);
            config.services.resize(valid);
            if (EncodeRecord(config, layout) == port.record) item["record"] = RecordJson(config, port.com, true);
            else item["hex"] = HexBytes(port.record.data(), port.record.size());
        }
        driverPorts.push_back(item);
    }
    driver["ports"] = driverPorts;
    root["driver"] = driver;

    if (scenario.properties) {
        Json properties = Json::object();
        for (const auto& [name, value] : *scenario.properties) properties[name] = value;
        root["installer"] = {{"properties", properties}};
    }
    if (!scenario.messageBoxes.empty() || !scenario.progressAnswers.empty()) {
        Json answers = Json::object();
        Json boxes = Json::array();
        for (const MessageBoxAnswer& box : scenario.messageBoxes) {
            Json item = {{"answer", AnswerName(box.answer)}};
            if (!box.expect.empty()) item["expect"] = box.expect;
            if (!box.closePorts.empty()) item["closePorts"] = box.closePorts;
            boxes.push_back(item);
        }
        if (!boxes.empty()) answers["messageBoxes"] = boxes;
        Json progress = Json::array();
        for (const auto& [message, answer] : scenario.progressAnswers)
            progress.push_back({{"message", message}, {"answer", AnswerName(answer)}});
        if (!progress.empty()) answers["progress"] = progress;
        root["answers"] = answers;
    }
    return root.dump(2) + "\n";
}

Scenario DefaultScenario() {
    Scenario scenario;
    scenario.description =
        "Upgrade from driver 4.2.0.2 with three configured ports, beside a motherboard COM1 and a USB adapter on COM4.";
    scenario.action = Action::Upgrade;
    Machine& machine = scenario.machine;
    machine.targetDir = machine.installFolder;
    machine.stagedPackage = true;
    machine.devices = {OtherDevice{OtherDevice::Kind::Motherboard, 1, 0x3F8}, OtherDevice{OtherDevice::Kind::UsbSerial, 4, 0}};
    machine.serialComm = {SerialCommEntry{"\\Device\\Serial0", "COM1"}};

    PortConfig com2 = DefaultConfig(2);
    com2.settings[SettingIndex("AutoReconErr")] = 1;
    com2.settings[SettingIndex("CnTmo")] = 30;
    com2.services = {Service{1, 4001, u"10.0.0.21"}};
    com2.numServices = 1;

    PortConfig com3 = DefaultConfig(3);
    com3.settings[SettingIndex("AES")] = 1;
    com3.settings[SettingIndex("AESKeyLength")] = 32;
    for (size_t i = 0; i < kAesKeyBytes; ++i) com3.aesKey[i] = static_cast<uint8_t>(0xA0 + i);
    com3.settings[SettingIndex("AutoReconPeer")] = 1;
    com3.settings[SettingIndex("KeepAliveOnOff")] = 1;
    com3.settings[SettingIndex("KeepAliveTime")] = 60000;
    com3.services = {Service{1, 4001, u"10.0.0.21"}, Service{2, 2217, u"backup.example.net"}};
    com3.numServices = 2;

    PortConfig com7 = DefaultConfig(7);
    com7.settings[SettingIndex("ListenMode")] = 1;
    com7.settings[SettingIndex("UseRFC2217")] = 1;

    for (PortConfig* config : {&com2, &com3, &com7}) {
        ProductPort port;
        port.com = static_cast<int>(config->portNumber);
        port.record = *config;
        machine.productPorts.push_back(port);
    }
    scenario.driver.loaded = true;
    scenario.driver.version = "4.200.2.50";
    for (const ProductPort& port : machine.productPorts) {
        DriverPortSpec driverPort;
        driverPort.com = port.com;
        driverPort.fromRegistry = true;
        scenario.driver.ports.push_back(driverPort);
    }
    return scenario;
}

}  // namespace replay
