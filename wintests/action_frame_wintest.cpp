// The custom-action frame's helpers on Wine's process token, registry and installer: SetPrivilege
// against what the token itself reports, and GetCustomActionData with a real install handle and with
// one the installer refuses, which sends it to the product settings key.
#include <string>
#include <vector>

#include "setup/custom_actions.h"
#include "wintests/wine_test.h"

namespace {

using wintest::kSettingsKey;
using wintest::PutText;
using wintest::PutValue;

// ---- Privileges ----

struct TokenPrivilege {
    bool held = false;
    bool enabled = false;
};

// What the token says, read independently of the library.
TokenPrivilege QueryPrivilege(const WCHAR* name) {
    TokenPrivilege state;
    LUID luid;
    if (!LookupPrivilegeValueW(nullptr, name, &luid)) return state;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return state;
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
        auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID& held = privileges->Privileges[i].Luid;
            if (held.LowPart == luid.LowPart && held.HighPart == luid.HighPart) {
                state.held = true;
                state.enabled = (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
            }
        }
    }
    CloseHandle(token);
    return state;
}

// Puts a held privilege into a state without the library.
void ForcePrivilege(const WCHAR* name, bool enabled) {
    LUID luid;
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, name, &luid));
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    TOKEN_PRIVILEGES state = {1, {{luid, enabled ? static_cast<DWORD>(SE_PRIVILEGE_ENABLED) : 0u}}};
    AdjustTokenPrivileges(token, FALSE, &state, 0, nullptr, nullptr);
    DWORD error = GetLastError();
    CloseHandle(token);
    ASSERT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
}

const WCHAR* const kSetupPrivileges[] = {L"SeTakeOwnershipPrivilege", L"SeSecurityPrivilege",
                                         L"SeLoadDriverPrivilege"};

// Every test here puts the three privileges back as the token had them.
class PrivilegeTest : public wintest::WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        for (int i = 0; i < 3; ++i) {
            initial_[i] = QueryPrivilege(kSetupPrivileges[i]);
            ASSERT_TRUE(initial_[i].held) << "Wine's token is expected to hold the installer privileges";
        }
    }
    void TearDown() override {
        for (int i = 0; i < 3; ++i) ForcePrivilege(kSetupPrivileges[i], initial_[i].enabled);
        WineTest::TearDown();
    }

private:
    TokenPrivilege initial_[3];
};

TEST_F(PrivilegeTest, EnableReportsEarlierStateAndRestoreReturnsToIt) {
    for (const WCHAR* name : kSetupPrivileges) {
        for (bool enabledBefore : {false, true}) {
            SCOPED_TRACE(testing::Message() << testing::PrintToString(std::wstring(name)) << " enabled before: "
                                            << enabledBefore);
            ForcePrivilege(name, enabledBefore);
            BOOL previous = !enabledBefore;
            EXPECT_EQ(SetPrivilege(name, TRUE, &previous), 0u);
            EXPECT_EQ(previous != FALSE, enabledBefore);
            EXPECT_TRUE(QueryPrivilege(name).enabled);

            EXPECT_EQ(SetPrivilege(name, previous, nullptr), 0u);
            EXPECT_EQ(QueryPrivilege(name).enabled, enabledBefore);
        }
    }
}

TEST_F(PrivilegeTest, SetupPrivilegesAreHeldForTheActionAndPutBackAfter) {
    ForcePrivilege(kSetupPrivileges[0], false);
    ForcePrivilege(kSetupPrivileges[1], true);
    ForcePrivilege(kSetupPrivileges[2], false);

    SetupPrivileges saved = {};
    EnableSetupPrivileges(&saved);
    for (const WCHAR* name : kSetupPrivileges) EXPECT_TRUE(QueryPrivilege(name).enabled);
    EXPECT_FALSE(saved.wasEnabled[0]);
    EXPECT_TRUE(saved.wasEnabled[1]);
    EXPECT_FALSE(saved.wasEnabled[2]);

    RestoreSetupPrivileges(&saved);
    EXPECT_FALSE(QueryPrivilege(kSetupPrivileges[0]).enabled);
    EXPECT_TRUE(QueryPrivilege(kSetupPrivileges[1]).enabled);
    EXPECT_FALSE(QueryPrivilege(kSetupPrivileges[2]).enabled);
}

TEST_F(PrivilegeTest, UnknownPrivilegeIsNoSuchPrivilege) {
    BOOL previous = TRUE;
    EXPECT_EQ(SetPrivilege(L"SeNoSuchPrivilege", TRUE, &previous), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
    EXPECT_FALSE(previous);
}

TEST_F(PrivilegeTest, PrivilegeTheTokenLacksIsNotAllAssigned) {
    const WCHAR* lacking = L"SeCreateTokenPrivilege";
    if (QueryPrivilege(lacking).held) GTEST_SKIP() << "this token holds SeCreateTokenPrivilege";
    BOOL previous = TRUE;
    EXPECT_EQ(SetPrivilege(lacking, TRUE, &previous), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
    EXPECT_FALSE(previous);
    EXPECT_FALSE(QueryPrivilege(lacking).held);
}

// ---- CustomActionData ----

constexpr DWORD kCapacity = 8;  // small, so that the boundaries are easy to lay out

// An unterminated text value. Wine's RegSetValueExW appends a terminator to REG_SZ data that lacks one,
// so the bytes go in as REG_BINARY: the reader does not check the type.
void PutUnterminated(const std::wstring& text) {
    PutValue(HKEY_LOCAL_MACHINE, kSettingsKey, L"TargetDir", REG_BINARY, text.data(),
             static_cast<DWORD>(text.size() * sizeof(WCHAR)));
}

struct FallbackCase {
    const char* name;
    void (*layOut)();
    DWORD result;
    const WCHAR* text;  // expected buffer content when result is 0
};

const FallbackCase kFallbackCases[] = {
    {"NoSettingsKey", [] {}, ERROR_FILE_NOT_FOUND, nullptr},
    {"OnlyUnderCurrentUser", [] { PutText(HKEY_CURRENT_USER, kSettingsKey, L"TargetDir", L"C:\\A\\"); },
     ERROR_FILE_NOT_FOUND, nullptr},
    {"NoTargetDir", [] { PutText(HKEY_LOCAL_MACHINE, kSettingsKey, L"InfFile", L"C:\\B.inf"); },
     ERROR_FILE_NOT_FOUND, nullptr},
    {"Text", [] { PutText(HKEY_LOCAL_MACHINE, kSettingsKey, L"TargetDir", L"C:\\Zel\\"); }, ERROR_SUCCESS,
     L"C:\\Zel\\"},
    {"Empty", [] { PutText(HKEY_LOCAL_MACHINE, kSettingsKey, L"TargetDir", L""); }, ERROR_SUCCESS, L""},
    {"ExpandableTextReadAsStored",
     [] { PutText(HKEY_LOCAL_MACHINE, kSettingsKey, L"TargetDir", L"%TMP%\\", REG_EXPAND_SZ); }, ERROR_SUCCESS,
     L"%TMP%\\"},
    {"FillsBufferWithTerminator", [] { PutText(HKEY_LOCAL_MACHINE, kSettingsKey, L"TargetDir", L"C:\\123\\"); },
     ERROR_SUCCESS, L"C:\\123\\"},
    {"OneCharacterTooLong", [] { PutText(HKEY_LOCAL_MACHINE, kSettingsKey, L"TargetDir", L"C:\\1234\\"); },
     ERROR_MORE_DATA, nullptr},
    {"UnterminatedIsTerminated", [] { PutUnterminated(L"C:\\Zel\\"); }, ERROR_SUCCESS, L"C:\\Zel\\"},
    {"UnterminatedFillingBufferIsTooLong", [] { PutUnterminated(L"C:\\12345"); }, ERROR_MORE_DATA, nullptr},
};

class CustomActionDataFallback : public wintest::WineTest, public testing::WithParamInterface<FallbackCase> {};

TEST_P(CustomActionDataFallback, ReadsTargetDirWhenTheInstallerRefusesTheHandle) {
    const FallbackCase& c = GetParam();
    c.layOut();
    if (HasFatalFailure()) return;
    WCHAR buffer[kCapacity + 4];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    // Not an install handle: Wine's MsiGetPropertyW fails with ERROR_INVALID_HANDLE.
    EXPECT_EQ(GetCustomActionData(12345, buffer, kCapacity), c.result);
    if (c.result == ERROR_SUCCESS) {
        EXPECT_EQ(std::wstring(buffer), c.text);
    }
    EXPECT_EQ(buffer[kCapacity], L'#') << "written past the capacity";
}

INSTANTIATE_TEST_SUITE_P(Registry, CustomActionDataFallback, testing::ValuesIn(kFallbackCases),
                         [](const testing::TestParamInfo<FallbackCase>& info) { return std::string(info.param.name); });

// A real installer session on a database made for the test, so that MsiGetPropertyW succeeds.
class InstallSession : public wintest::WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        WCHAR folder[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
        ASSERT_NE(GetTempFileNameW(folder, L"zel", 0, path_), 0u);
        ASSERT_EQ(MsiOpenDatabaseW(path_, MSIDBOPEN_CREATE, &database_), static_cast<UINT>(ERROR_SUCCESS));
        Execute(L"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` CHAR(0) NOT NULL LOCALIZABLE "
                L"PRIMARY KEY `Property`)");
        Execute(L"INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductCode', "
                L"'{5A0C6F12-3D4B-4E8A-9C21-7B3E5D9F0A64}')");
        // The installer opens only a package whose summary names a platform and a schema.
        MSIHANDLE summary = 0;
        ASSERT_EQ(MsiGetSummaryInformationW(database_, nullptr, 4, &summary), static_cast<UINT>(ERROR_SUCCESS));
        MsiSummaryInfoSetPropertyW(summary, 7 /* template */, VT_LPSTR, 0, nullptr, L"Intel;1033");
        MsiSummaryInfoSetPropertyW(summary, 9 /* revision */, VT_LPSTR, 0, nullptr,
                                   L"{0E4D7A31-6B2C-4F85-A9D3-2C7F1B6E8A05}");
        MsiSummaryInfoSetPropertyW(summary, 14 /* schema */, VT_I4, 200, nullptr, nullptr);
        EXPECT_EQ(MsiSummaryInfoPersist(summary), static_cast<UINT>(ERROR_SUCCESS));
        MsiCloseHandle(summary);
        ASSERT_EQ(MsiDatabaseCommit(database_), static_cast<UINT>(ERROR_SUCCESS));
        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        WCHAR reference[32];
        wsprintfW(reference, L"#%lu", database_);
        ASSERT_EQ(MsiOpenPackageW(reference, &install_), static_cast<UINT>(ERROR_SUCCESS));
        // Told apart from any property value: what the fallback would read.
        PutText(HKEY_LOCAL_MACHINE, kSettingsKey, L"TargetDir", L"C:\\Reg\\");
    }
    void TearDown() override {
        if (install_) MsiCloseHandle(install_);
        if (database_) MsiCloseHandle(database_);
        DeleteFileW(path_);
        WineTest::TearDown();
    }
    void Execute(const WCHAR* query) {
        MSIHANDLE view = 0;
        ASSERT_EQ(MsiDatabaseOpenViewW(database_, query, &view), static_cast<UINT>(ERROR_SUCCESS));
        EXPECT_EQ(MsiViewExecute(view, 0), static_cast<UINT>(ERROR_SUCCESS));
        MsiCloseHandle(view);
    }

    WCHAR path_[MAX_PATH] = {};
    MSIHANDLE database_ = 0;
    MSIHANDLE install_ = 0;
};

TEST_F(InstallSession, PropertyIsUsedAsItIs) {
    WCHAR buffer[kCapacity];
    ASSERT_EQ(MsiSetPropertyW(install_, L"CustomActionData", L"C:\\Msi\\"), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(GetCustomActionData(install_, buffer, kCapacity), 0u);
    EXPECT_EQ(std::wstring(buffer), L"C:\\Msi\\");
}

TEST_F(InstallSession, MissingPropertyReadsEmptyWithoutTheRegistry) {
    WCHAR buffer[kCapacity] = L"#######";
    EXPECT_EQ(GetCustomActionData(install_, buffer, kCapacity), 0u);
    EXPECT_EQ(std::wstring(buffer), L"");
}

TEST_F(InstallSession, PropertyTooLongForTheBufferFallsBackToTheRegistry) {
    WCHAR buffer[kCapacity];
    ASSERT_EQ(MsiSetPropertyW(install_, L"CustomActionData", L"C:\\Msi\\Long\\"), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(GetCustomActionData(install_, buffer, kCapacity), 0u);
    EXPECT_EQ(std::wstring(buffer), L"C:\\Reg\\");
}

}  // namespace
