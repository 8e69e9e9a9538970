#include "wintests/wine_test.h"

#include "wintests/port_devices.h"

namespace wintest {

namespace {

// Removed before and after every test, with the port devices: what the library writes and the tests lay out.
const struct {
    HKEY root;
    const WCHAR* path;
} kProductKeys[] = {
    {HKEY_LOCAL_MACHINE, L"Software\\Kelmiso"},
    {HKEY_CURRENT_USER, L"Software\\Kelmiso"},
};

void RemoveProductKeys() {
    for (const auto& key : kProductKeys) DeleteTree(key.root, key.path);
    RemovePortDevices();
}

}  // namespace

bool OnWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

void PutValue(HKEY root, const WCHAR* path, const WCHAR* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                                  nullptr);
    ASSERT_EQ(status, ERROR_SUCCESS) << "creating the key for value " << testing::PrintToString(std::wstring(name));
    status = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    ASSERT_EQ(status, ERROR_SUCCESS) << "writing value " << testing::PrintToString(std::wstring(name));
}

void PutText(HKEY root, const WCHAR* path, const WCHAR* name, const std::wstring& text, DWORD type) {
    PutValue(root, path, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

void PutKey(HKEY root, const WCHAR* path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void DeleteTree(HKEY root, const WCHAR* path) {
    LONG status = RegDeleteTreeW(root, path);
    EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        << "removing " << testing::PrintToString(std::wstring(path)) << ": " << status;
}

bool KeyExists(HKEY root, const WCHAR* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::optional<StoredValue> GetValue(HKEY root, const WCHAR* path, const WCHAR* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    StoredValue value;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        value.data.resize(size);
        status = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
        value.data.resize(size);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return value;
}

std::vector<std::wstring> Subkeys(HKEY root, const WCHAR* path) {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    WCHAR name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

void WineTest::SetUp() {
    RemoveProductKeys();
    chainHead_ = ExceptionChainHead();
}

void WineTest::TearDown() {
    EXPECT_EQ(ExceptionChainHead(), chainHead_) << "the thread's exception chain was left changed";
    RemoveProductKeys();
}

}  // namespace wintest
