// What the device manager takes from INF files: the drivers an INF offers and its install sections.
#include "winsim/devices_internal.h"
#include "winsim/files.h"

namespace sim::detail {

bool LoadInfDrivers(std::u16string_view path, std::vector<DriverNode>* drivers) {
    InfFile inf;
    if (LoadInf(path, &inf) != 0) return false;
    std::u16string className;
    GUID classGuid{};
    if (InfClass(inf, &className, &classGuid) == 0 && SameGuid(classGuid, GUID{})) {
        std::vector<GUID> known = ClassGuidsOf(className);
        if (!known.empty()) classGuid = known.front();
    }
    std::u16string provider = InfProvider(inf);
    for (const InfDriver& offered : ListDrivers(inf)) {
        DriverNode node;
        node.infPath = inf.path;
        node.description = offered.description;
        node.manufacturer = offered.manufacturer;
        node.provider = provider;
        node.installSection = offered.installSection;
        node.ids.push_back(offered.hardwareId);
        node.ids.insert(node.ids.end(), offered.compatibleIds.begin(), offered.compatibleIds.end());
        node.classGuid = classGuid;
        drivers->push_back(std::move(node));
    }
    return true;
}

bool InfFileExists(std::u16string_view path) {
    std::vector<uint8_t> bytes;
    return ReadFileBytes(path, &bytes) == 0;
}

std::vector<std::u16string> SystemInfFiles() {
    std::vector<std::u16string> paths;
    for (const std::string& name : ListFolder(kInfFolder)) {
        if (name.size() < 4 || !SameText(U16(name.substr(name.size() - 4)), u".inf")) continue;
        paths.push_back(InfFolderPath() + u"\\" + U16(name));
    }
    return paths;
}

std::string ApplyInstallSection(const DriverNode& node, const std::string& driverKey) {
    InfFile inf;
    if (LoadInf(node.infPath, &inf) != 0) return U8(node.installSection);
    std::optional<std::u16string> section = ResolveInstallSection(inf, node.installSection);
    if (!section) return U8(node.installSection);
    ApplyAddReg(inf, *section, driverKey);
    return U8(*section);
}

}  // namespace sim::detail
