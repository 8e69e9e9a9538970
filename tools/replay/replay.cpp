#include "tools/replay/replay.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "diag/status.h"
#include "setup/custom_actions.h"
#include "winsim/devices.h"
#include "winsim/files.h"
#include "winsim/port_devices.h"
#include "winsim/sim.h"

namespace replay {

namespace {

constexpr char kSettingsKey[] = "Software\\Kelmiso\\ZEL";
constexpr int kProgressBarWidth = 30;

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

bool SameText(std::string_view a, std::string_view b) { return Upper(std::string(a)) == Upper(std::string(b)); }

// The number after "COM" at `at` in text; 0 when there is none.
int ComNumberAt(const std::string& text, size_t at) {
    if (at == std::string::npos || text.compare(at, 3, "COM") != 0) return 0;
    int number = 0;
    auto [end, error] = std::from_chars(text.data() + at + 3, text.data() + text.size(), number);
    return error == std::errc() && end != text.data() + at + 3 ? number : 0;
}

std::optional<std::string> TextValue(std::string_view path, std::string_view name) {
    auto value = sim::RegGetValue(HKEY_LOCAL_MACHINE, path, name);
    if (!value) return std::nullopt;
    return sim::U8(value->Text());
}

bool IsProductDevice(const std::string& key) {
    auto ids = sim::RegGetValue(HKEY_LOCAL_MACHINE, key, "HardwareID");
    return ids && SameText(sim::U8(ids->Text()), sim::U8(sim::kProductHardwareId));
}

void ReadRecord(ProductPortView& port, const std::string& properties) {
    auto dword = [&](const std::string& path, const char* name, uint32_t& field, const std::string& missingName) {
        auto value = sim::RegGetValue(HKEY_LOCAL_MACHINE, path, name);
        if (value && value->Dword()) field = *value->Dword();
        else port.missing.push_back(missingName);
    };
    dword(properties, "PortNumber", port.config.portNumber, "PortNumber");
    for (size_t s = 0; s < kSettingCount; ++s) dword(properties, kSettingNames[s], port.config.settings[s], kSettingNames[s]);
    auto key = sim::RegGetValue(HKEY_LOCAL_MACHINE, properties, "AESKey");
    if (key && key->data.size() == kAesKeyBytes) std::copy(key->data.begin(), key->data.end(), port.config.aesKey.begin());
    else port.missing.push_back("AESKey");
    dword(properties, "NumServices", port.config.numServices, "NumServices");
    int32_t valid = std::min<int32_t>(static_cast<int32_t>(port.config.numServices), kMaxServices);
    for (int32_t k = 0; k < valid; ++k) {
        std::string name = "Service" + std::to_string(k);
        std::string path = properties + "\\" + name;
        Service service;
        if (sim::RegKeyExists(HKEY_LOCAL_MACHINE, path)) {
            auto type = sim::RegGetValue(HKEY_LOCAL_MACHINE, path, "Type");
            auto number = sim::RegGetValue(HKEY_LOCAL_MACHINE, path, "Port");
            auto address = sim::RegGetValue(HKEY_LOCAL_MACHINE, path, "Address");
            service.type = type && type->Dword() ? *type->Dword() : 0;
            service.port = number && number->Dword() ? *number->Dword() : 0;
            if (address) service.address = address->Text();
            if (!type || !number || !address) port.missing.push_back(name);
        } else {
            port.missing.push_back(name);
        }
        port.config.services.push_back(service);
    }
}

// ---- Printing ----

std::string Quoted(const std::optional<std::string>& text) { return text ? "\"" + *text + "\"" : "none"; }

void Wrapped(std::ostream& out, const std::vector<std::string>& pieces, const std::string& indent) {
    std::string line;
    for (const std::string& piece : pieces) {
        if (!line.empty() && line.size() + piece.size() + 2 > 100) {
            out << indent << line << ",\n";
            line.clear();
        }
        line += (line.empty() ? "" : ", ") + piece;
    }
    if (!line.empty()) out << indent << line << "\n";
}

std::string ItemText(const std::pair<std::string, std::optional<std::string>>& item) {
    return item.first + " " + (item.second ? *item.second : "missing");
}

// A mark for an entry of the view after the run: '=' unchanged, '~' changed, '+' new, '-' gone; ' '
// when there is nothing to compare with.
char Mark(bool compared, bool before, bool after, bool same) {
    if (!compared) return ' ';
    if (!before) return '+';
    if (!after) return '-';
    return same ? '=' : '~';
}

std::string PortHeading(const ProductPortView& port) {
    std::string text = "COM" + std::to_string(port.com) + "  \"" + port.friendlyName + "\"  " + port.instanceId;
    if (port.claimed) text += ", claimed";
    return text;
}

void PrintPort(std::ostream& out, char mark, const ProductPortView& port, const ProductPortView* earlier) {
    out << "  " << mark << " " << PortHeading(port) << (mark == '=' ? ": settings unchanged\n" : "\n");
    if (mark == '=') return;
    if (!port.hasRecord) {
        out << "          no configuration record\n";
        return;
    }
    ConfigItems items = port.Items();
    ConfigItems old = earlier && earlier->hasRecord ? earlier->Items() : ConfigItems{};
    std::vector<std::string> pieces;
    for (const auto& item : items) {
        std::string piece = ItemText(item);
        if (earlier) {
            auto was = std::find_if(old.begin(), old.end(), [&](const auto& o) { return o.first == item.first; });
            if (was == old.end()) piece += " (new)";
            else if (was->second != item.second) piece += " (was " + (was->second ? *was->second : "missing") + ")";
        }
        pieces.push_back(piece);
    }
    for (const auto& item : old)
        if (std::none_of(items.begin(), items.end(), [&](const auto& i) { return i.first == item.first; }))
            pieces.push_back(item.first + " gone (was " + (item.second ? *item.second : "missing") + ")");
    Wrapped(out, pieces, "          ");
}

bool SamePort(const ProductPortView& a, const ProductPortView& b) {
    return a.friendlyName == b.friendlyName && a.claimed == b.claimed && a.hasRecord == b.hasRecord &&
           (!a.hasRecord || a.Items() == b.Items());
}

void PrintView(std::ostream& out, const MachineView& view, const MachineView* before) {
    bool compared = before != nullptr;
    auto setting = [&](const char* name, const std::optional<std::string>& now, const std::optional<std::string>& was) {
        out << "  " << Mark(compared, true, true, now == was) << " " << name << " " << Quoted(now);
        if (compared && now != was) out << " (was " << Quoted(was) << ")";
        out << "\n";
    };
    out << "  product settings key:\n";
    setting("TargetDir", view.targetDir, before ? before->targetDir : std::nullopt);
    setting("InfFile", view.infFile, before ? before->infFile : std::nullopt);

    out << "  product ports:\n";
    if (view.ports.empty() && (!before || before->ports.empty())) out << "    none\n";
    for (const ProductPortView& port : view.ports) {
        const ProductPortView* earlier = before ? before->Find(port.com) : nullptr;
        PrintPort(out, Mark(compared, earlier != nullptr, true, earlier && SamePort(*earlier, port)), port, earlier);
    }
    if (before)
        for (const ProductPortView& port : before->ports)
            if (!view.Find(port.com)) out << "  - " << PortHeading(port) << ": gone\n";

    out << "  COM numbers other devices hold:\n";
    if (view.others.empty() && (!before || before->others.empty())) out << "    none\n";
    for (const ComHolder& holder : view.others) {
        bool was = before && std::find(before->others.begin(), before->others.end(), holder) != before->others.end();
        out << "  " << Mark(compared, was, true, true) << " COM" << holder.com << "  " << holder.what << "\n";
    }
    if (before)
        for (const ComHolder& holder : before->others)
            if (std::find(view.others.begin(), view.others.end(), holder) == view.others.end())
                out << "  - COM" << holder.com << "  " << holder.what << ": gone\n";

    std::vector<std::string> claims;
    for (int com : view.claims) {
        bool was = before && std::find(before->claims.begin(), before->claims.end(), com) != before->claims.end();
        claims.push_back(std::string(compared && !was ? "+" : "") + "COM" + std::to_string(com));
    }
    if (before)
        for (int com : before->claims)
            if (std::find(view.claims.begin(), view.claims.end(), com) == view.claims.end())
                claims.push_back("-COM" + std::to_string(com));
    out << "  COM port database claims: " << (claims.empty() ? std::string("none") : "") ;
    for (size_t i = 0; i < claims.size(); ++i) out << (i ? ", " : "") << claims[i];
    out << "\n";
}

void PrintDriver(std::ostream& out, const Driver& driver) {
    if (!driver.loaded) {
        out << "  driver: not loaded\n";
        return;
    }
    Layout layout = DriverLayout(driver);
    out << "  driver: " << driver.version << " (shown as " << DisplayVersion(driver.version) << "), hands out port records in the "
        << LayoutName(layout) << " layout\n";
    std::vector<std::string> open;
    for (const DriverPortSpec& port : driver.ports)
        if (port.open) open.push_back("COM" + std::to_string(port.com));
    if (!open.empty()) {
        out << "  held open by an application: ";
        for (size_t i = 0; i < open.size(); ++i) out << (i ? ", " : "") << open[i];
        out << "\n";
    }
}

const char* AnswerWord(int answer) {
    switch (answer) {
        case IDOK: return "OK";
        case IDCANCEL: return "Cancel";
        case IDABORT: return "Abort";
        case IDRETRY: return "Retry";
        case IDIGNORE: return "Ignore";
        case IDYES: return "Yes";
        case IDNO: return "No";
        default: return nullptr;
    }
}

const char* Buttons(UINT style) {
    switch (style & 0xF) {
        case MB_OK: return "OK";
        case MB_OKCANCEL: return "OK, Cancel";
        case 0x2: return "Abort, Retry, Ignore";
        case 0x3: return "Yes, No, Cancel";
        case 0x4: return "Yes, No";
        case MB_RETRYCANCEL: return "Retry, Cancel";
        default: return "?";
    }
}

// What the installing user sees, in the order it happened, and the trace lines between.
class Timeline {
public:
    Timeline(std::ostream& out, const Scenario& scenario, bool showTrace)
        : out_(out), scenario_(scenario), showTrace_(showTrace) {
        sim::SetDebugOutputHook([this](const char* text) { traces_.push_back({sim::Calls().size(), text ? text : ""}); });
    }
    ~Timeline() { sim::SetDebugOutputHook(nullptr); }

    // Everything since the previous call.
    void Flush() {
        const std::vector<sim::Call>& calls = sim::Calls();
        for (; call_ < calls.size(); ++call_) {
            Traces(call_);
            if (calls[call_].api == "MessageBoxW") Box();
            else if (calls[call_].api == "MsiProcessMessage") Progress();
        }
        Traces(SIZE_MAX);
    }

private:
    struct TraceLine {
        size_t callsBefore;
        std::string text;
    };

    void Traces(size_t upTo) {
        for (; trace_ < traces_.size() && traces_[trace_].callsBefore <= upTo; ++trace_) {
            if (!showTrace_) continue;
            std::string text = traces_[trace_].text;
            while (!text.empty() && text.back() == '\n') text.pop_back();
            out_ << "    trace: " << text << "\n";
        }
    }
    void Box() {
        const auto& boxes = sim::MessageBoxes();
        if (box_ >= boxes.size()) return;
        const sim::MessageBoxRecord& box = boxes[box_];
        out_ << "    message box [" << Buttons(box.style) << "]:\n";
        std::istringstream lines(box.text);
        for (std::string line; std::getline(lines, line);) out_ << "      | " << line << "\n";
        if (scenario_.machine.noDesktop) {
            out_ << "      not shown: there is no desktop (MessageBoxW returned 0)\n";
        } else if (const char* word = AnswerWord(box.answer)) {
            std::string closed;
            if (box_ < scenario_.messageBoxes.size())
                for (int com : scenario_.messageBoxes[box_].closePorts)
                    closed += (closed.empty() ? "" : ", ") + ("COM" + std::to_string(com));
            out_ << "      the user " << (closed.empty() ? "" : "closes the application holding " + closed + " and ")
                 << "answers " << word << "\n";
        } else {
            out_ << "      nobody answers: the scenario has no answer left for it (MessageBoxW returned 0)\n";
        }
        ++box_;
    }

    void Progress() {
        const auto& messages = sim::InstallerMessages();
        if (message_ >= messages.size()) return;
        const sim::InstallerMessage& message = messages[message_++];
        auto field = [&](size_t i) { return i < message.fields.size() ? message.fields[i] : 0; };
        std::string number = "    progress #" + std::to_string(message_) + ": ";
        if (message.type != INSTALLMESSAGE_PROGRESS) {
            out_ << number << "message of type 0x" << std::hex << message.type << std::dec << "\n";
        } else {
            switch (field(1)) {
                case 0:
                    total_ = field(2);
                    done_ = 0;
                    out_ << number << "bar reset to " << total_ << " ticks" << (field(3) ? ", backward" : "") << "\n";
                    break;
                case 1: out_ << number << "action information\n"; break;
                case 2: {
                    done_ += field(2);
                    int filled = total_ > 0 ? static_cast<int>(std::min<long long>(kProgressBarWidth, 1LL * done_ * kProgressBarWidth / total_)) : 0;
                    int percent = total_ > 0 ? static_cast<int>(100LL * done_ / total_) : 0;
                    out_ << number << "[" << std::string(static_cast<size_t>(std::max(filled, 0)), '#')
                         << std::string(static_cast<size_t>(kProgressBarWidth - std::max(filled, 0)), '.') << "] " << percent
                         << "%  " << done_ << "/" << total_ << " ticks\n";
                    break;
                }
                case 3: out_ << number << field(2) << " ticks added to the expected total\n"; break;
                default: out_ << number << "progress record of kind " << field(1) << "\n"; break;
            }
        }
        if (message.answer != IDOK) {
            const char* word = AnswerWord(message.answer);
            out_ << "      the user " << (word ? std::string("clicks ") + word : "answers " + std::to_string(message.answer)) << "\n";
        }
    }

    std::ostream& out_;
    const Scenario& scenario_;
    bool showTrace_;
    size_t call_ = 0, box_ = 0, message_ = 0, trace_ = 0;
    std::vector<TraceLine> traces_;
    long long total_ = 0, done_ = 0;
};

std::string ResultText(UINT result) {
    std::string text = std::to_string(static_cast<int>(result));
    if (result != 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", result);
        text += std::string(" (") + hex;
        if (const WCHAR* name = LookupErrorName(result)) text += ", " + sim::U8(name);
        text += ")";
    }
    return text;
}

UINT RunAction(std::ostream& out, Timeline& timeline, const char* name, UINT (*action)(MSIHANDLE),
               std::vector<ActionResult>& results) {
    out << "\n" << name << ":\n";
    UINT result = action(sim::InstallHandle());
    timeline.Flush();
    out << "  " << name << " returned " << ResultText(result) << "\n";
    results.push_back(ActionResult{std::string(name), result});
    return result;
}

// The configuration each product port should have after an installation: the driver's record, as the
// tool itself reads the driver's layout.
}  // namespace

std::map<int, ConfigItems> DriverExpectations(const Scenario& scenario) {
    std::map<int, ConfigItems> expected;
    if (!scenario.driver.loaded) return expected;
    Layout layout = DriverLayout(scenario.driver);
    for (const auto& [number, port] : sim::Driver().ports) {
        if (port.configError) continue;
        expected[static_cast<int>(number)] = Items(DecodeRecord(port.config, layout));
    }
    return expected;
}

PortFate ClassifyPort(const ProductPortView& before, const MachineView& after,
                      const std::map<int, ConfigItems>& expected) {
    const ProductPortView* now = after.Find(before.com);
    if (!now) return PortFate::Lost;
    auto wanted = expected.find(before.com);
    if (wanted != expected.end() && now->hasRecord && now->Items() == wanted->second) return PortFate::CarriedAcross;
    if (now->hasRecord == before.hasRecord && (!before.hasRecord || now->Items() == before.Items())) return PortFate::AsBefore;
    return PortFate::SettingsLost;
}

ConfigItems ProductPortView::Items() const {
    ConfigItems items = replay::Items(config);
    for (auto& item : items)
        if (std::find(missing.begin(), missing.end(), item.first) != missing.end()) item.second.reset();
    return items;
}

const ProductPortView* MachineView::Find(int com) const {
    for (const ProductPortView& port : ports)
        if (port.com == com) return &port;
    return nullptr;
}

MachineView ReadMachineView() {
    MachineView view;
    view.targetDir = TextValue(kSettingsKey, "TargetDir");
    view.infFile = TextValue(kSettingsKey, "InfFile");
    std::vector<DWORD> claims = sim::ClaimedComNumbers();
    view.claims.assign(claims.begin(), claims.end());

    for (const std::string& instance : sim::RegSubkeys(HKEY_LOCAL_MACHINE, sim::kPortsEnumPath)) {
        std::string key = std::string(sim::kPortsEnumPath) + "\\" + instance;
        if (!IsProductDevice(key)) continue;
        ProductPortView port;
        port.instanceId = "ROOT\\PORTS\\" + Upper(instance);
        port.friendlyName = TextValue(key, "FriendlyName").value_or("");
        std::string portName = TextValue(key + "\\Device Parameters", "PortName").value_or("");
        port.com = ComNumberAt(portName, 0);
        port.claimed = port.com > 0 && sim::IsComNumberClaimed(static_cast<DWORD>(port.com));
        port.config.portName = sim::U16(portName);
        std::string driver = TextValue(key, "Driver").value_or("");
        if (driver.size() >= 4) {
            std::string properties = std::string(sim::kPortsClassPath) + "\\" + driver.substr(driver.size() - 4) + "\\Properties";
            port.hasRecord = sim::RegKeyExists(HKEY_LOCAL_MACHINE, properties);
            if (port.hasRecord) ReadRecord(port, properties);
        }
        view.ports.push_back(std::move(port));
    }

    for (const std::string& id : sim::DeviceInstances()) {
        std::string key = sim::DeviceKey(id);
        bool ports = SameText(TextValue(key, "ClassGUID").value_or(""), sim::kPortsClassGuid) ||
                     SameText(TextValue(key, "Class").value_or(""), "Ports");
        if (!ports || (id.starts_with("ROOT\\PORTS\\") && IsProductDevice(key))) continue;
        std::string friendly = TextValue(key, "FriendlyName").value_or("");
        int com = ComNumberAt(TextValue(key + "\\Device Parameters", "PortName").value_or(""), 0);
        if (!com) {
            size_t mark = friendly.rfind("(COM");
            com = mark == std::string::npos ? 0 : ComNumberAt(friendly, mark + 1);
        }
        if (com) view.others.push_back(ComHolder{com, "Ports device " + id + " \"" + friendly + "\""});
    }
    for (const std::string& name : sim::RegValueNames(HKEY_LOCAL_MACHINE, sim::kSerialCommPath)) {
        std::string port = TextValue(sim::kSerialCommPath, name).value_or("");
        if (int com = ComNumberAt(port, 0)) view.others.push_back(ComHolder{com, "SerialComm " + name});
    }
    return view;
}

std::vector<std::string> BuildMachine(const Scenario& scenario) {
    const Machine& machine = scenario.machine;
    sim::Reset();
    sim::SetNoDesktop(machine.noDesktop);
    if (machine.targetDir) sim::RegSetString(HKEY_LOCAL_MACHINE, kSettingsKey, "TargetDir", sim::U16(*machine.targetDir));
    if (machine.package || machine.stagedPackage) {
        std::string inf = sim::LayProductPackage(machine.installFolder);
        if (machine.stagedPackage) {
            // Staged the way the earlier installation staged it; the run's call log starts after it.
            std::string folder = machine.installFolder + "ZelDrvr\\";
            WCHAR staged[MAX_PATH] = {};
            if (SetupCopyOEMInfW(sim::U16(inf).c_str(), sim::U16(folder).c_str(), SPOST_PATH, 0, staged, MAX_PATH, nullptr,
                                 nullptr))
                sim::RegSetString(HKEY_LOCAL_MACHINE, kSettingsKey, "InfFile", staged);
        }
        if (!machine.package) sim::RemoveFile(inf);
    }

    for (const ProductPort& port : machine.productPorts) {
        sim::PortDeviceOptions options;
        options.comNumber = port.com;
        options.description = sim::U16(port.description);
        if (port.record) {
            sim::PortRecordValues values;
            values.portNumber = port.record->portNumber;
            for (size_t s = 0; s < kSettingCount; ++s) values.settings.emplace_back(kSettingNames[s], port.record->settings[s]);
            values.aesKey.assign(port.record->aesKey.begin(), port.record->aesKey.end());
            values.numServices = port.record->numServices;
            for (const Service& service : port.record->services)
                values.services.push_back(sim::PortServiceValues{service.type, service.port, service.address, 128});
            values.omitted = port.omit;
            options.record = values;
        }
        sim::AddPortDevice(options);
        if (port.claimed) sim::ClaimComNumber(static_cast<DWORD>(port.com));
    }
    std::vector<std::string> instances;
    for (const OtherDevice& device : machine.devices) {
        switch (device.kind) {
            case OtherDevice::Kind::Motherboard:
                instances.push_back(sim::AddMotherboardPort(device.com, static_cast<uint16_t>(device.ioBase)));
                break;
            case OtherDevice::Kind::UsbSerial: instances.push_back(sim::AddUsbSerialAdapter(device.com)); break;
            case OtherDevice::Kind::Modem: instances.push_back(sim::AddModem(device.com)); break;
            case OtherDevice::Kind::PrinterPort: instances.push_back(sim::AddPrinterPort()); break;
        }
    }
    for (const SerialCommEntry& entry : machine.serialComm) sim::AddSerialCommEntry(entry.name, sim::U16(entry.port));
    for (int com : machine.comDatabase) sim::ClaimComNumber(static_cast<DWORD>(com));

    const Driver& driver = scenario.driver;
    if (driver.loaded) sim::DriverLoad(driver.version);
    else if (!driver.version.empty()) sim::Driver().version.assign(driver.version.begin(), driver.version.end());
    Layout layout = DriverLayout(driver);
    for (const DriverPortSpec& driverPort : driver.ports) {
        std::vector<uint8_t> record = driverPort.record;
        if (driverPort.fromRegistry)
            for (const ProductPort& port : machine.productPorts)
                if (port.com == driverPort.com && port.record) record = EncodeRecord(*port.record, layout);
        sim::DriverSetPort(static_cast<DWORD>(driverPort.com),
                           sim::DriverPort{record, static_cast<uint16_t>(driverPort.open ? 1 : 0), driverPort.statusError, driverPort.configError});
    }

    if (scenario.properties) {
        for (const auto& [name, value] : *scenario.properties) sim::SetProperty(name, sim::U16(value));
    } else if (scenario.action != Action::Remove) {
        sim::SetProperty("CustomActionData", sim::U16(machine.installFolder));
    }
    for (const MessageBoxAnswer& box : scenario.messageBoxes) {
        std::vector<int> close = box.closePorts;
        sim::ScriptMessageBox(box.answer, box.expect, [close] {
            for (int com : close)
                if (sim::DriverPort* port = sim::DriverFindPort(static_cast<DWORD>(com))) port->portOpen = 0;
        });
    }
    for (const auto& [message, answer] : scenario.progressAnswers) sim::ScriptInstallerAnswer(message, answer);
    sim::ClearCallLog();
    return instances;
}


namespace {

const char* Noun(Action action) {
    switch (action) {
        case Action::Upgrade: return "upgrade";
        case Action::Install: return "installation";
        case Action::Remove: break;
    }
    return "removal";
}

std::optional<std::string> CustomActionData(const Scenario& scenario) {
    if (scenario.properties) {
        auto found = scenario.properties->find("CustomActionData");
        return found == scenario.properties->end() ? std::nullopt : std::optional<std::string>(found->second);
    }
    if (scenario.action == Action::Remove) return std::nullopt;
    return scenario.machine.installFolder;
}

std::string Differences(const ConfigItems& now, const ConfigItems& wanted) {
    std::string text;
    for (const auto& item : wanted) {
        auto found = std::find_if(now.begin(), now.end(), [&](const auto& n) { return n.first == item.first; });
        std::optional<std::string> value = found == now.end() ? std::nullopt : found->second;
        if (value == item.second) continue;
        text += (text.empty() ? "" : "; ") + item.first + " " + (value ? *value : "missing") + " instead of " +
                (item.second ? *item.second : "missing");
    }
    for (const auto& item : now)
        if (std::none_of(wanted.begin(), wanted.end(), [&](const auto& w) { return w.first == item.first; }))
            text += (text.empty() ? "" : "; ") + item.first + " left over";
    return text;
}

Scenario MachineAfter(const Scenario& scenario, const RunReport& report, const std::vector<std::string>& instances) {
    Scenario after;
    after.description = "The machine after a replay" + (scenario.description.empty() ? "" : " of: " + scenario.description);
    after.action = scenario.action;
    Machine& machine = after.machine;
    machine.installFolder = scenario.machine.installFolder;
    machine.targetDir = report.after.targetDir;
    machine.package = sim::FileExists(machine.installFolder + "ZelDrvr\\ZelDrvr.inf");
    machine.stagedPackage = report.after.infFile && sim::FileExists(*report.after.infFile);
    machine.noDesktop = scenario.machine.noDesktop;
    for (const ProductPortView& view : report.after.ports) {
        if (view.com < 1 || view.com > 256) continue;
        ProductPort port;
        port.com = view.com;
        std::string suffix = " (COM" + std::to_string(view.com) + ")";
        port.description = view.friendlyName.ends_with(suffix) ? view.friendlyName.substr(0, view.friendlyName.size() - suffix.size())
                                                               : view.friendlyName;
        port.claimed = view.claimed;
        if (view.hasRecord) {
            port.record = view.config;
            for (const std::string& name : view.missing)
                if (!name.starts_with("Service")) port.omit.push_back(name);
        }
        machine.productPorts.push_back(std::move(port));
    }
    for (size_t i = 0; i < instances.size() && i < scenario.machine.devices.size(); ++i)
        if (sim::RegKeyExists(HKEY_LOCAL_MACHINE, sim::DeviceKey(instances[i]))) machine.devices.push_back(scenario.machine.devices[i]);
    for (const std::string& name : sim::RegValueNames(HKEY_LOCAL_MACHINE, sim::kSerialCommPath))
        machine.serialComm.push_back(SerialCommEntry{name, TextValue(sim::kSerialCommPath, name).value_or("")});
    for (int com : report.after.claims)
        if (!report.after.Find(com)) machine.comDatabase.push_back(com);

    Driver& driver = after.driver;
    auto registryRecord = [&](int com) -> std::optional<PortConfig> {
        for (const ProductPort& port : machine.productPorts)
            if (port.com == com && port.record) return port.record;
        return std::nullopt;
    };
    if (report.installed) {
        // The package's driver replaces the old one and reads the ports' records from the registry.
        driver.loaded = true;
        driver.version = kPackageDriverVersion;
        for (const ProductPort& port : machine.productPorts)
            if (port.record) driver.ports.push_back(DriverPortSpec{port.com, false, 0, 0, {}, true});
        return after;
    }
    const sim::DriverState& state = sim::Driver();
    driver.loaded = state.loaded;
    driver.version.assign(state.version.begin(), std::find(state.version.begin(), state.version.end(), 0));
    Layout layout = DriverLayout(driver);
    for (const auto& [number, port] : state.ports) {
        int com = static_cast<int>(number);
        if (!report.after.Find(com)) continue;  // the driver forgets a port whose device is gone
        DriverPortSpec driverPort{com, port.portOpen != 0, port.configError, port.statusError, port.config, false};
        std::optional<PortConfig> own = registryRecord(com);
        if (own && EncodeRecord(*own, layout) == port.config) {
            driverPort.record.clear();
            driverPort.fromRegistry = true;
        }
        driver.ports.push_back(std::move(driverPort));
    }
    return after;
}

}  // namespace

RunReport Replay(const Scenario& scenario, const Options& options, std::ostream& out) {
    RunReport report;
    std::vector<std::string> instances = BuildMachine(scenario);
    std::map<int, ConfigItems> expected = DriverExpectations(scenario);
    report.before = ReadMachineView();
    const char* noun = Noun(scenario.action);

    out << "Replay of " << (scenario.action == Action::Upgrade ? "an " : "a ") << noun << ": CheckForOpenPorts, then "
        << (scenario.action == Action::Remove ? "Uninstall" : "Install") << "\n";
    if (!scenario.description.empty()) out << scenario.description << "\n";
    out << "\nMachine before the " << noun << ":\n";
    PrintDriver(out, scenario.driver);
    out << "  installer property CustomActionData: " << Quoted(CustomActionData(scenario)) << "\n";
    if (scenario.machine.noDesktop) out << "  no interactive desktop (a silent installation): message boxes cannot be shown\n";
    PrintView(out, report.before, nullptr);

    LONG traceBefore = TraceSwitch;
    TraceSwitch = options.trace ? 1 : 0;
    {
        Timeline timeline(out, scenario, options.trace);
        UINT check = RunAction(out, timeline, "CheckForOpenPorts", CheckForOpenPorts, report.actions);
        if (check != 0) {
            out << "  the installer stops the " << noun << " here\n";
        } else if (scenario.action == Action::Remove) {
            RunAction(out, timeline, "Uninstall", Uninstall, report.actions);
        } else {
            report.installed = RunAction(out, timeline, "Install", Install, report.actions) == 0;
        }
    }
    TraceSwitch = traceBefore;

    report.after = ReadMachineView();
    out << "\nMachine after the " << noun << " (= unchanged, ~ changed, + new, - gone):\n";
    PrintView(out, report.after, &report.before);

    out << "\nPorts:\n";
    if (scenario.action == Action::Remove) {
        for (const ProductPortView& port : report.after.ports) out << "  COM" << port.com << " is still there\n";
        if (report.after.ports.empty()) out << "  no product port is left\n";
    } else {
        for (const ProductPortView& port : report.before.ports) {
            PortFate fate = ClassifyPort(port, report.after, expected);
            if (fate == PortFate::Lost) {
                report.lostPorts.push_back(port.com);
                out << "  COM" << port.com << " LOST: a product port before the " << noun << ", missing after it\n";
                continue;
            }
            const ProductPortView* now = report.after.Find(port.com);
            auto wanted = expected.find(port.com);
            if (fate == PortFate::CarriedAcross) {
                out << "  COM" << port.com << " carried across with the settings the driver held\n";
            } else if (fate == PortFate::AsBefore) {
                out << "  COM" << port.com << " still there with its settings as before\n";
            } else {
                report.changedPorts.push_back(port.com);
                ConfigItems now_items = now->hasRecord ? now->Items() : ConfigItems{};
                out << "  COM" << port.com << " SETTINGS LOST: "
                    << Differences(now_items, wanted != expected.end() ? wanted->second : port.Items()) << "\n";
            }
        }
        if (report.before.ports.empty()) out << "  no product port before the " << noun << "\n";
    }

    report.leaks = sim::LeakReport();
    report.violations = sim::Violations();
    out << "\nHandles and heap blocks left open: " << (report.leaks.empty() ? "none\n" : "\n" + report.leaks);
    for (const std::string& violation : report.violations) out << "Misuse of the machine: " << violation << "\n";

    if (options.calls) {
        std::map<std::string, size_t> counts;
        for (const sim::Call& call : sim::Calls()) ++counts[call.api];
        std::vector<std::pair<std::string, size_t>> sorted(counts.begin(), counts.end());
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
        out << "\nPlatform calls by API (" << sim::Calls().size() << " calls):\n";
        char line[160];
        for (const auto& [api, count] : sorted) {
            std::snprintf(line, sizeof line, "  %6zu  %s\n", count, api.c_str());
            out << line;
        }
    }

    report.machineAfter = MachineAfter(scenario, report, instances);

    std::vector<std::string> failures;
    for (const ActionResult& action : report.actions)
        if (action.result != 0) failures.push_back(action.name + " returned " + std::to_string(static_cast<int>(action.result)));
    for (int com : report.lostPorts) failures.push_back("COM" + std::to_string(com) + " lost");
    for (int com : report.changedPorts) failures.push_back("the settings of COM" + std::to_string(com) + " lost");
    if (!report.leaks.empty()) failures.push_back("handles or heap blocks left open");
    if (!report.violations.empty()) failures.push_back("the machine was misused");
    report.exitCode = failures.empty() ? 0 : 1;
    out << "\nExit code " << report.exitCode;
    for (size_t i = 0; i < failures.size(); ++i) out << (i ? "; " : ": ") << failures[i];
    out << "\n";
    return report;
}

int ReplayMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"Plays Windows Installer's custom actions against a simulated machine and shows what the installing "
                 "user sees and what becomes of the machine's ports.",
                 "zel_replay"};
    Options options;
    std::string scenarioFile, savePath, action;
    app.add_flag("--trace", options.trace, "Show the library's trace lines");
    app.add_flag("--calls", options.calls, "Print a summary of the platform calls by API");
    app.add_option("--save", savePath, "Write the machine after the run as a scenario to FILE")->type_name("FILE");
    app.add_option("--action", action, "Run this action instead of the scenario's")
        ->check(CLI::IsMember({"upgrade", "install", "remove"}));
    app.add_option("scenario", scenarioFile, "Scenario file (JSON); without it an embedded upgrade from 4.2.0.2 runs");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error, out, err);
        err << "zel_replay: " << error.what() << "\nRun with --help for the options.\n";
        return 2;
    }

    Scenario scenario;
    if (scenarioFile.empty()) {
        scenario = DefaultScenario();
    } else {
        std::ifstream file(scenarioFile, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        if (!file) {
            err << "zel_replay: " << scenarioFile << ": cannot be read: " << std::strerror(errno) << "\n";
            return 2;
        }
        auto parsed = ParseScenario(text.str(), scenarioFile);
        if (auto* error = std::get_if<ScenarioError>(&parsed)) {
            err << "zel_replay: " << error->Text() << "\n";
            return 2;
        }
        scenario = std::get<Scenario>(std::move(parsed));
    }
    if (!action.empty()) scenario.action = action == "remove" ? Action::Remove : action == "install" ? Action::Install : Action::Upgrade;

    RunReport report = Replay(scenario, options, out);
    if (!savePath.empty()) {
        std::ofstream file(savePath, std::ios::binary | std::ios::trunc);
        file << ScenarioJson(report.machineAfter);
        file.close();
        if (!file) {
            err << "zel_replay: " << savePath << ": cannot be written: " << std::strerror(errno) << "\n";
            return 1;
        }
        out << "Machine saved to " << savePath << "\n";
    }
    return report.exitCode;
}

}  // namespace replay
