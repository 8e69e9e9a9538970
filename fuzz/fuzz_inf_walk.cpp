// The INF walk over any INF text: SetupDeviceInfo finds the model line or fails with a code, every text
// it keeps stays inside its field, and the caller can release what it was handed.
#include <cwchar>
#include <string>

#include "devinst/device_setup.h"
#include "fuzz/harness.h"
#include "winsim/files.h"

namespace {

constexpr char kInfPath[] = "C:\\Temp\\Fuzz.inf";

bool Terminated(const WCHAR* text) {
    for (DWORD i = 0; i < kMatchTextChars; ++i)
        if (!text[i]) return true;
    return false;
}

bool SameId(const WCHAR* a, const char16_t* b) {
    for (;; ++a, ++b) {
        char16_t x = *a >= u'A' && *a <= u'Z' ? static_cast<char16_t>(*a + 32) : static_cast<char16_t>(*a);
        char16_t y = *b >= u'A' && *b <= u'Z' ? static_cast<char16_t>(*b + 32) : *b;
        if (x != y) return false;
        if (!x) return true;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Begin();
    // A failing walk shows its error box; with no desktop it fails quietly.
    sim::SetNoDesktop(true);
    sim::MakeFolder("C:\\Temp");
    sim::PutFile(kInfPath, std::vector<uint8_t>(data, data + size));

    HINF inf = INVALID_HANDLE_VALUE;
    DeviceSetupInfo info = {};
    info.DeviceInfoSet = INVALID_HANDLE_VALUE;
    DriverMatch match = {};
    std::u16string path = sim::U16(kInfPath);
    ZelStatus status = SetupDeviceInfo(path.c_str(), &inf, &info, &match);

    fuzz::Check(Terminated(match.HardwareId) && Terminated(match.Manufacturer) && Terminated(match.Description),
                "a DriverMatch text fills its field");
    if (status == 0) {
        fuzz::Check(match.Found, "success without a matching model line");
        fuzz::Check(SameId(match.HardwareId, u"*zeldevice"), "the matched ID is not the product's");
        fuzz::Check(info.HardwareId == match.HardwareId, "the element's ID is not the match's");
        fuzz::Check(inf != INVALID_HANDLE_VALUE && info.DeviceInfoSet != INVALID_HANDLE_VALUE,
                    "success without the INF handle and the set");
        // The match then selects the driver from the same INF.
        SelectDriver(info.DeviceInfoSet, &info.DeviceInfoData, FALSE, path.c_str(), &match);
    }
    if (info.DeviceInfoSet != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(info.DeviceInfoSet);
    if (inf != INVALID_HANDLE_VALUE) SetupCloseInfFile(inf);
    fuzz::End();
    return 0;
}
