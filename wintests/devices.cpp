#include "wintests/devices.h"

#include <gtest/gtest.h>

namespace wintest {

namespace {

const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::wstring MultiString(const std::vector<std::wstring>& texts) {
    std::wstring list;
    for (const std::wstring& text : texts) list += text + L'\0';
    return list + L'\0';
}

BOOL SetProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, const std::wstring& data) {
    return SetupDiSetDeviceRegistryPropertyW(set, device, property, reinterpret_cast<const BYTE*>(data.c_str()),
                                             static_cast<DWORD>(data.size() * sizeof(WCHAR)));
}

}  // namespace

DeviceSet::DeviceSet() : set_(SetupDiCreateDeviceInfoList(&kPortsClass, nullptr)) {}

DeviceSet::~DeviceSet() {
    for (SP_DEVINFO_DATA& device : devices_) SetupDiCallClassInstaller(DIF_REMOVE, set_, &device);
    if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
}

void DeviceSet::Add(const PortsDevice& device) {
    ASSERT_NE(set_, INVALID_HANDLE_VALUE) << "SetupDiCreateDeviceInfoList: " << GetLastError();
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiCreateDeviceInfoW(set_, L"PORTS", &kPortsClass, nullptr, nullptr, DICD_GENERATE_ID, &data))
        << "SetupDiCreateDeviceInfoW: " << std::hex << GetLastError();
    if (!device.hardwareIds.empty()) {
        ASSERT_TRUE(SetProperty(set_, &data, SPDRP_HARDWAREID, MultiString(device.hardwareIds)))
            << "SPDRP_HARDWAREID: " << std::hex << GetLastError();
    }
    if (device.friendlyName) {
        ASSERT_TRUE(SetProperty(set_, &data, SPDRP_FRIENDLYNAME, *device.friendlyName + L'\0'))
            << "SPDRP_FRIENDLYNAME: " << std::hex << GetLastError();
    }
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set_, &data)) {
        DWORD error = GetLastError();
        SetupDiDeleteDeviceInfo(set_, &data);
        FAIL() << "DIF_REGISTERDEVICE: " << std::hex << error;
    }
    devices_.push_back(data);
    WCHAR id[MAX_DEVICE_ID_LEN] = {};
    EXPECT_TRUE(SetupDiGetDeviceInstanceIdW(set_, &data, id, MAX_DEVICE_ID_LEN, nullptr)) << std::hex << GetLastError();
    instances_.emplace_back(id);
    if (!device.hardwareKey) return;
    HKEY key = SetupDiCreateDevRegKeyW(set_, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    ASSERT_NE(key, INVALID_HANDLE_VALUE) << "SetupDiCreateDevRegKeyW: " << std::hex << GetLastError();
    for (const auto& [name, text] : device.parameters) {
        LONG status = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                     static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
        EXPECT_EQ(status, ERROR_SUCCESS) << "writing " << testing::PrintToString(name);
    }
    RegCloseKey(key);
}

void DeviceSet::RemoveAll() {
    for (SP_DEVINFO_DATA& device : devices_) {
        EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set_, &device))
            << "DIF_REMOVE: " << std::hex << GetLastError();
    }
    devices_.clear();
    instances_.clear();
    // In a set that has removed a device, Wine's SetupDiCreateDeviceInfoW still succeeds but hands out an
    // element with no instance ID that every later call rejects (ERROR_NO_SUCH_DEVINST): a fresh set.
    if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
    set_ = SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
}

void DeviceSet::Forget(const std::wstring& instanceId) {
    for (size_t i = 0; i < instances_.size(); ++i) {
        if (instances_[i] != instanceId) continue;
        instances_.erase(instances_.begin() + static_cast<std::ptrdiff_t>(i));
        devices_.erase(devices_.begin() + static_cast<std::ptrdiff_t>(i));
        return;
    }
    ADD_FAILURE() << "not a device of this set: " << testing::PrintToString(instanceId);
}

std::wstring EnumKey(const std::wstring& instanceId) { return L"System\\CurrentControlSet\\Enum\\" + instanceId; }

std::vector<std::wstring> PortsDeviceInstances() {
    std::vector<std::wstring> instances;
    HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, 0);
    if (set == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "SetupDiGetClassDevsW: " << GetLastError();
        return instances;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set, index, &device)) break;
        WCHAR id[MAX_DEVICE_ID_LEN] = {};
        if (SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN, nullptr)) instances.emplace_back(id);
    }
    SetupDiDestroyDeviceInfoList(set);
    return instances;
}

}  // namespace wintest
