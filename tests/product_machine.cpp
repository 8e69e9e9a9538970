#include "tests/product_machine.h"

#include <gtest/gtest.h>

#include "winsim/files.h"

namespace machine {

void ProductFolder() {
    sim::LayProductPackage(kInstallDir);
    sim::RegSetString(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL", "TargetDir", sim::U16(kInstallDir));
}

std::string ProductInstalled() {
    ProductFolder();
    // Staged as the platform stages it, then forgotten by the call log: the test starts after it.
    WCHAR staged[MAX_PATH] = {};
    EXPECT_TRUE(SetupCopyOEMInfW(sim::U16(kPackageInf).c_str(), sim::U16("C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\").c_str(),
                                 SPOST_PATH, 0, staged, MAX_PATH, nullptr, nullptr));
    sim::RegSetString(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL", "InfFile", staged);
    sim::ClearCallLog();
    return sim::U8(staged);
}

std::string PutInf(std::string_view path, std::string_view text) {
    sim::PutTextFile(path, text);
    return std::string(path);
}

std::string ProductInfText() {
    const std::vector<uint8_t>& bytes = sim::ProductInfBytes();
    return std::string(bytes.begin(), bytes.end());
}

std::string ProductInfWith(std::string_view from, std::string_view to) {
    std::string text = ProductInfText();
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << "the product INF has no \"" << from << "\"";
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::string RecordedInf() {
    auto value = sim::RegGetValue(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL", "InfFile");
    return value ? sim::U8(value->Text()) : std::string();
}

}  // namespace machine
