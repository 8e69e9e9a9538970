// The install sequence's helpers on Wine: staging the driver package with SetupCopyOEMInfW from each of
// the three places the installation folder comes from, the staged copy recorded as InfFile, and the tree
// deletion of the removal on Wine's registry.
#include <string>
#include <vector>

#include "devinst/device_setup.h"
#include "portstore/product_settings.h"
#include "setup/custom_actions.h"
#include "wintests/inf_files.h"
#include "wintests/wine_test.h"

namespace {

using wintest::kPackageInf;
using wintest::kSettingsKey;
using wintest::KeyExists;
using wintest::PutKey;
using wintest::PutText;

// Not an install handle: the installer refuses it, and the installation folder comes from TargetDir.
constexpr MSIHANDLE kRefusedHandle = 12345;

std::wstring SystemInfFolder() {
    WCHAR windows[MAX_PATH];
    EXPECT_NE(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    return std::wstring(windows) + L"\\inf\\";
}

bool SameTextNoCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring RecordedInfFile() {
    auto value = wintest::GetValue(HKEY_LOCAL_MACHINE, kSettingsKey, L"InfFile");
    if (!value) return std::wstring();
    return std::wstring(reinterpret_cast<const WCHAR*>(value->data.data()));
}

// ---- Staging the driver package -----------------------------------------------------------------------

class StagingTest : public wintest::WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(folder_.Create());
        folder_.Write(kPackageInf, wintest::ProductInfText());
        WCHAR current[MAX_PATH];
        ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, current), 0u);
        currentFolder_ = current;
    }

    void TearDown() override {
        SetCurrentDirectoryW(currentFolder_.c_str());
        std::wstring staged = RecordedInfFile();
        // Only a copy in the system INF folder is ours to delete, with the precompiled form Wine keeps.
        if (!staged.empty() && SameTextNoCase(staged.substr(0, SystemInfFolder().size()), SystemInfFolder())) {
            EXPECT_TRUE(DeleteFileW(staged.c_str()));
            DeleteFileW((staged.substr(0, staged.size() - 3) + L"pnf").c_str());
        }
        folder_.Remove();
        WineTest::TearDown();
    }

    wintest::ScratchFolder folder_;
    std::wstring currentFolder_;
};

struct StagingCase {
    const char* name;
    // Stages the package of `folder` (ending with a backslash) into infPath, MAX_PATH characters.
    ZelStatus (*stage)(const std::wstring& folder, WCHAR* infPath);
    bool relative;  // the source is named relative to the current folder
};

const StagingCase kStagingCases[] = {
    {"StageDriverPackage",
     [](const std::wstring& folder, WCHAR* infPath) { return StageDriverPackage(folder.c_str(), infPath, MAX_PATH, FALSE); },
     false},
    {"CopyDriverInfFromTargetDir",
     [](const std::wstring& folder, WCHAR* infPath) {
         PutText(HKEY_LOCAL_MACHINE, kSettingsKey, L"TargetDir", folder);
         return CopyDriverInf(infPath);
     },
     false},
    {"InstallDriverPackageFromTargetDir",
     [](const std::wstring& folder, WCHAR* infPath) {
         PutText(HKEY_LOCAL_MACHINE, kSettingsKey, L"TargetDir", folder);
         return static_cast<ZelStatus>(InstallDriverPackage(kRefusedHandle, infPath, MAX_PATH));
     },
     false},
    // Neither the property nor TargetDir: the package is looked for below the current folder.
    {"InstallDriverPackageFromTheCurrentFolder",
     [](const std::wstring& folder, WCHAR* infPath) {
         SetCurrentDirectoryW(folder.c_str());
         return static_cast<ZelStatus>(InstallDriverPackage(kRefusedHandle, infPath, MAX_PATH));
     },
     true},
    {"CopyDriverInfFromTheCurrentFolder",
     [](const std::wstring& folder, WCHAR* infPath) {
         SetCurrentDirectoryW(folder.c_str());
         return CopyDriverInf(infPath);
     },
     true},
};

void PrintTo(const StagingCase& c, std::ostream* out) { *out << c.name; }

class StagingEntries : public StagingTest, public testing::WithParamInterface<StagingCase> {};

// Wine stages the INF under its own name (where Windows picks the next free oem<N>.inf) and makes a
// precompiled .pnf beside it; the copy is the source's bytes.
// Wine's SetupCopyOEMInfW takes no relative source name (ERROR_FILE_NOT_FOUND, although
// SetupOpenInfFileW opens the same name), so the fallback to the current folder fails there.
TEST_P(StagingEntries, StagesTheProductInfAndRecordsTheStagedCopy) {
    WCHAR infPath[MAX_PATH];
    wmemset(infPath, L'#', MAX_PATH);
    ZelStatus status = GetParam().stage(folder_.Path(), infPath);
    if (GetParam().relative && wintest::OnWine()) {
        EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(infPath[0], L'\0');
        EXPECT_EQ(RecordedInfFile(), L"") << "InfFile written for a failed staging";
        return;
    }
    ASSERT_EQ(status, 0);
    EXPECT_EQ(std::wstring(infPath),
              (GetParam().relative ? std::wstring(L".\\") : folder_.Path()) + kPackageInf)
        << "the source INF is handed back";

    std::wstring staged = RecordedInfFile();
    ASSERT_FALSE(staged.empty()) << "InfFile not recorded";
    const std::wstring infFolder = SystemInfFolder();
    ASSERT_GT(staged.size(), infFolder.size());
    EXPECT_TRUE(SameTextNoCase(staged.substr(0, infFolder.size()), infFolder)) << testing::PrintToString(staged);
    if (wintest::OnWine()) {
        EXPECT_TRUE(SameTextNoCase(staged.substr(infFolder.size()), L"ZelDrvr.inf")) << testing::PrintToString(staged);
    }
    EXPECT_EQ(wintest::ReadFileBytes(staged), wintest::ProductInfText());
}

INSTANTIATE_TEST_SUITE_P(Wine, StagingEntries, testing::ValuesIn(kStagingCases),
                         [](const testing::TestParamInfo<StagingCase>& info) { return std::string(info.param.name); });

TEST_F(StagingTest, StagingAgainReplacesTheSameCopy) {
    WCHAR infPath[MAX_PATH];
    ASSERT_EQ(StageDriverPackage(folder_.Path().c_str(), infPath, MAX_PATH, FALSE), 0);
    std::wstring first = RecordedInfFile();
    ASSERT_EQ(StageDriverPackage(folder_.Path().c_str(), infPath, MAX_PATH, FALSE), 0);
    EXPECT_TRUE(SameTextNoCase(RecordedInfFile(), first)) << "a second copy of the same package";
}

TEST_F(StagingTest, PackageMissingFailsAndRecordsNothing) {
    const struct {
        const char* what;
        std::wstring folder;
        ZelStatus status;
    } missing[] = {
        {"no package folder", folder_.Path() + L"Elsewhere\\", ERROR_PATH_NOT_FOUND},
        {"no INF in the package folder", folder_.Path() + L"Empty\\", ERROR_FILE_NOT_FOUND},
    };
    folder_.Write(L"Empty\\ZelDrvr\\Other.inf", wintest::ProductInfText());
    for (const auto& c : missing) {
        SCOPED_TRACE(c.what);
        WCHAR infPath[MAX_PATH];
        wmemset(infPath, L'#', MAX_PATH);
        EXPECT_EQ(StageDriverPackage(c.folder.c_str(), infPath, MAX_PATH, FALSE), c.status);
        EXPECT_EQ(infPath[0], L'\0');
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey)) << "InfFile written for a failed staging";
    }
}

// ---- Deleting a key tree ------------------------------------------------------------------------------

class KeyTreeTest : public wintest::WineTest {
protected:
    // Software\Kelmiso\ZEL with subkeys three deep and values on the way; a sibling whose name starts
    // with the tree's.
    static void LayOutTree(HKEY root) {
        const WCHAR* const keys[] = {L"Software\\Kelmiso\\ZEL\\A\\B\\C", L"Software\\Kelmiso\\ZEL\\A\\D",
                                     L"Software\\Kelmiso\\ZEL\\E", L"Software\\Kelmiso\\ZELOther"};
        for (const WCHAR* key : keys) PutText(root, key, L"Value", L"text");
        PutText(root, L"Software\\Kelmiso\\ZEL", L"TargetDir", L"C:\\Zel\\");
    }
};

TEST_F(KeyTreeTest, DeepTreeGoesWithAndWithoutATrailingBackslash) {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (const WCHAR* path : {L"Software\\Kelmiso\\ZEL", L"Software\\Kelmiso\\ZEL\\"}) {
            SCOPED_TRACE(testing::Message() << (root == HKEY_CURRENT_USER ? "HKCU " : "HKLM ")
                                            << testing::PrintToString(std::wstring(path)));
            ASSERT_NO_FATAL_FAILURE(LayOutTree(root));
            EXPECT_TRUE(DeleteRegistryTree(root, path));
            EXPECT_FALSE(KeyExists(root, L"Software\\Kelmiso\\ZEL"));
            EXPECT_TRUE(KeyExists(root, L"Software\\Kelmiso\\ZELOther"));
            EXPECT_TRUE(KeyExists(root, L"Software\\Kelmiso"));
        }
    }
}

TEST_F(KeyTreeTest, WorkingBufferIsCutBackToTheKey) {
    for (const WCHAR* path : {L"Software\\Kelmiso\\ZEL", L"Software\\Kelmiso\\ZEL\\"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(path)));
        ASSERT_NO_FATAL_FAILURE(LayOutTree(HKEY_CURRENT_USER));
        WCHAR buffer[kKeyTreePathChars] = {};
        lstrcpyW(buffer, path);
        EXPECT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, buffer));
        EXPECT_EQ(std::wstring(buffer), L"Software\\Kelmiso\\ZEL");
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Kelmiso\\ZEL"));
    }
}

TEST_F(KeyTreeTest, MissingKeyCountsAsGone) {
    PutKey(HKEY_CURRENT_USER, L"Software\\Kelmiso");
    EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, L"Software\\Kelmiso\\ZEL"));
    EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, L"Software\\Kelmiso\\ZEL\\"));
    EXPECT_TRUE(DeleteRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Kelmiso\\NoSuchKey\\Below"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Kelmiso"));
}

// A branch whose path does not fit the working buffer fails and stays, and so does every key above it;
// the branches that fit go.
TEST_F(KeyTreeTest, BranchTooLongForTheBufferStaysWithItsParents) {
    const std::wstring tree = L"Software\\Kelmiso\\ZEL";
    const std::wstring deep = tree + L"\\" + std::wstring(200, L'a') + L"\\" + std::wstring(200, L'b') + L"\\" +
                              std::wstring(200, L'c');
    ASSERT_GT(deep.size(), kKeyTreePathChars);
    PutKey(HKEY_CURRENT_USER, deep.c_str());
    PutKey(HKEY_CURRENT_USER, (tree + L"\\Short\\Below").c_str());

    EXPECT_FALSE(DeleteRegistryTree(HKEY_CURRENT_USER, tree.c_str()));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, deep.c_str()));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, tree.c_str()));
}

}  // namespace
