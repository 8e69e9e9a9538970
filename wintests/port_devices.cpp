#include "wintests/port_devices.h"

#include <vector>

#include "wintests/wine_test.h"

namespace wintest {

namespace {

std::vector<std::wstring>& ClassInstances() {
    static std::vector<std::wstring> laidDown;
    return laidDown;
}

}  // namespace

std::wstring AddPortDevice(const PortDeviceLayout& device) {
    std::wstring enumKey = std::wstring(kPortsEnum) + L"\\" + device.instance;
    std::wstring classKey = std::wstring(kPortsClass) + L"\\" + device.classInstance;

    // HardwareID is a multi-string: the ID, its terminator, and the list's.
    std::wstring hardwareIds = device.hardwareId + L'\0';
    PutValue(HKEY_LOCAL_MACHINE, enumKey.c_str(), L"HardwareID", REG_MULTI_SZ, hardwareIds.c_str(),
             static_cast<DWORD>((hardwareIds.size() + 1) * sizeof(WCHAR)));
    PutText(HKEY_LOCAL_MACHINE, enumKey.c_str(), L"Driver",
            L"{4D36E978-E325-11CE-BFC1-08002BE10318}\\" + device.classInstance);
    if (!device.portName.empty())
        PutText(HKEY_LOCAL_MACHINE, (enumKey + L"\\Device Parameters").c_str(), L"PortName", device.portName);
    PutKey(HKEY_LOCAL_MACHINE, classKey.c_str());
    ClassInstances().push_back(classKey);
    return classKey + L"\\Properties";
}

void RemovePortDevices() {
    DeleteTree(HKEY_LOCAL_MACHINE, kPortsEnum);
    for (const std::wstring& key : ClassInstances()) DeleteTree(HKEY_LOCAL_MACHINE, key.c_str());
    ClassInstances().clear();
}

}  // namespace wintest
