// The simulated platform is a test instrument: where it gets the Windows API wrong, every library test
// built on it is wrong too. These pin the behaviour the library's code relies on.
#include <cstring>

#include "sim_fixture.h"

namespace {

using Registry = SimTest;
using Strictness = SimTest;

HKEY Open(const char16_t* path, REGSAM access) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &key), ERROR_SUCCESS);
    return key;
}

TEST_F(Registry, QueryFollowsTheDocumentedSizeRules) {
    sim::RegSetRaw(HKEY_LOCAL_MACHINE, "A", "Raw", REG_SZ, {'h', 0, 'i', 0});  // no terminator, kept as is
    HKEY key = Open(u"a", KEY_READ);                                           // names ignore case
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"raw", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 4u);
    BYTE small[2];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key, u"Raw", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u) << "the size the data needs";
    EXPECT_EQ(small[0], 0xCD) << "a short buffer's contents are undefined, and scribbled on";
    BYTE data[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    size = sizeof data;
    EXPECT_EQ(RegQueryValueExW(key, u"Raw", nullptr, nullptr, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(data[4], 9) << "no terminator is added";
    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
    HKEY other = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\A", 0, KEY_READ, &other), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegSetValueExW(key, u"New", 0, REG_DWORD, data, 4), ERROR_ACCESS_DENIED) << "opened for reading";
    RegCloseKey(key);
}

TEST_F(Registry, EnumerationAndDeletion) {
    for (const char* name : {"Ports\\b", "Ports\\A", "Ports\\c\\deeper"}) sim::RegCreateKey(HKEY_LOCAL_MACHINE, name);
    HKEY key = Open(u"Ports", KEY_READ);
    WCHAR name[8];
    std::vector<std::string> seen;
    for (DWORD i = 0;; ++i) {
        DWORD length = 8;
        LONG status = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(status, ERROR_SUCCESS);
        EXPECT_EQ(length, 1u);
        seen.push_back(sim::U8(name));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"A", "b", "c"}));
    DWORD length = 1;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(RegDeleteKeyW(key, u"c"), ERROR_ACCESS_DENIED) << "a key with subkeys stays";
    EXPECT_EQ(RegDeleteKeyW(key, u"c\\deeper"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(key, u"c"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(key, u"c"), ERROR_FILE_NOT_FOUND);
    HKEY child = Open(u"Ports\\A", KEY_READ);
    EXPECT_EQ(RegDeleteKeyW(key, u"A"), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(child, u"x", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    RegCloseKey(child);
    RegCloseKey(key);
}

TEST_F(Registry, CreateNeedsTheRightToCreateSubkeys) {
    sim::RegCreateKey(HKEY_LOCAL_MACHINE, "Props");
    HKEY readOnly = Open(u"Props", KEY_READ), created = nullptr;
    EXPECT_EQ(RegCreateKeyExW(readOnly, u"Service0", 0, nullptr, 0, KEY_READ, nullptr, &created, nullptr),
              ERROR_ACCESS_DENIED);
    HKEY writable = Open(u"Props", KEY_READ | KEY_CREATE_SUB_KEY);
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExW(writable, u"Service0", 0, nullptr, 0, KEY_READ, nullptr, &created, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    RegCloseKey(created);
    EXPECT_EQ(RegCreateKeyExW(readOnly, u"service0", 0, nullptr, 0, KEY_READ, nullptr, &created, &disposition),
              ERROR_SUCCESS) << "opening an existing key needs no right on the parent";
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    for (HKEY key : {created, writable, readOnly}) RegCloseKey(key);
}

TEST_F(Strictness, MisuseIsSeenAndAnsweredAsTheSystemWould) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"K", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr), 0);
    EXPECT_EQ(CloseHandle(key), FALSE) << "a registry key is not a kernel object";
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    void* block = LocalAlloc(LPTR, 8);
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalFree(block), block);
    EXPECT_EQ(MessageBoxW(nullptr, u"unexpected", u"", MB_OK), 0);
    EXPECT_EQ(sim::TakeViolations().size(), 4u);
}

TEST_F(Strictness, FaultsFireAtTheNthCallOnceOrFromThenOn) {
    sim::FailCall("RegOpenKeyExW", 2, ERROR_ACCESS_DENIED);
    sim::FailCall("RegCreateKeyExW", 2, ERROR_OUTOFMEMORY, true);
    std::vector<LONG> opens, creates;
    for (int i = 0; i < 3; ++i) {
        HKEY key = nullptr;
        creates.push_back(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"F", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr));
        if (creates.back() == ERROR_SUCCESS) RegCloseKey(key);
        opens.push_back(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"F", 0, KEY_READ, &key));
        if (opens.back() == ERROR_SUCCESS) RegCloseKey(key);
    }
    EXPECT_EQ(opens, (std::vector<LONG>{0, ERROR_ACCESS_DENIED, 0}));
    EXPECT_EQ(creates, (std::vector<LONG>{0, ERROR_OUTOFMEMORY, ERROR_OUTOFMEMORY}));
    EXPECT_EQ(sim::FaultsInjected(), 3u);
}

TEST_F(Strictness, InstallerPropertyLengthRules) {
    sim::SetProperty("CustomActionData", u"C:\\P\\");
    WCHAR buffer[8];
    DWORD length = 8;
    EXPECT_EQ(MsiGetPropertyW(sim::InstallHandle(), u"CustomActionData", buffer, &length), ERROR_SUCCESS);
    EXPECT_EQ(length, 5u);
    length = 5;
    EXPECT_EQ(MsiGetPropertyW(sim::InstallHandle(), u"CustomActionData", buffer, &length), ERROR_MORE_DATA);
    EXPECT_EQ(length, 5u) << "the length the value needs, without its terminator";
    EXPECT_EQ(sim::U8(buffer), "C:\\P") << "as much as fits, terminated";
    length = 8;
    EXPECT_EQ(MsiGetPropertyW(sim::InstallHandle(), u"Other", buffer, &length), ERROR_SUCCESS);
    EXPECT_EQ(length, 0u) << "a missing property reads as empty";
    EXPECT_EQ(MsiGetPropertyW(0, u"Other", buffer, &length), ERROR_INVALID_HANDLE);
}

TEST_F(Strictness, TokenReportsOnlyPrivilegesWhoseStateChanged) {
    sim::SetPrivilegeState("SeSecurityPrivilege", true, true);
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES request = {1, {{{8, 0}, SE_PRIVILEGE_ENABLED}}}, previous = {};
    DWORD size = 0;
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &request, sizeof previous, &previous, &size));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(previous.PrivilegeCount, 0u);
    request.Privileges[0].Luid.LowPart = 7;  // SeTcbPrivilege: not held
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &request, sizeof previous, &previous, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
    EXPECT_TRUE(CloseHandle(token));
}

TEST_F(Strictness, ProgressMessagesAreRecordedAndAnsweredFromTheScript) {
    sim::ScriptInstallerAnswer(2, IDCANCEL);
    MSIHANDLE record = MsiCreateRecord(2);
    ASSERT_NE(record, 0u);
    EXPECT_EQ(MsiRecordSetInteger(record, 1, 3), ERROR_SUCCESS);
    EXPECT_EQ(MsiRecordSetInteger(record, 2, 20000), ERROR_SUCCESS);
    EXPECT_EQ(MsiRecordSetInteger(record, 3, 1), ERROR_INVALID_PARAMETER) << "a two-field record";
    EXPECT_EQ(MsiProcessMessage(sim::InstallHandle(), INSTALLMESSAGE_PROGRESS, record), IDOK);
    EXPECT_EQ(MsiProcessMessage(sim::InstallHandle(), INSTALLMESSAGE_PROGRESS, record), IDCANCEL);
    EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::InstallerRecord), 1u);
    EXPECT_EQ(MsiCloseHandle(record), ERROR_SUCCESS);
    ASSERT_EQ(sim::InstallerMessages().size(), 2u);
    EXPECT_EQ(sim::InstallerMessages()[0].type, INSTALLMESSAGE_PROGRESS);
    EXPECT_EQ(sim::InstallerMessages()[0].fields, (std::vector<int>{0, 3, 20000}));
}

}  // namespace
