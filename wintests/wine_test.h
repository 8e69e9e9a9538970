// The fixture and helpers of the Windows test program, which runs the library's Windows build on a real
// implementation of the Windows API (Wine, in a fresh prefix per run). The tests share that one machine,
// so each test leaves it as it found it: the product's registry keys are removed before and after every
// test, and the thread's exception chain must end where it started.
#pragma once

#include <intrin.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace wintest {

// The head of the calling thread's chain of exception registration records.
inline DWORD ExceptionChainHead() { return __readfsdword(0); }

// True under Wine, whose ntdll carries an export of its own. A check that relies on one of Wine's gaps
// (a stub that raises, a call that fails) is skipped elsewhere.
bool OnWine();

// Registry set-up as an installation of the product would have left it. Keys are created as needed;
// a failing call fails the test.
void PutValue(HKEY root, const WCHAR* path, const WCHAR* name, DWORD type, const void* data, DWORD size);
void PutText(HKEY root, const WCHAR* path, const WCHAR* name, const std::wstring& text, DWORD type = REG_SZ);
void PutKey(HKEY root, const WCHAR* path);
void DeleteTree(HKEY root, const WCHAR* path);  // nothing to do when missing
bool KeyExists(HKEY root, const WCHAR* path);

// What the registry holds, read without the library.
struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};
std::optional<StoredValue> GetValue(HKEY root, const WCHAR* path, const WCHAR* name);
std::vector<std::wstring> Subkeys(HKEY root, const WCHAR* path);  // in the registry's enumeration order

// The product settings key, under HKEY_LOCAL_MACHINE (and HKEY_CURRENT_USER for its removal).
inline constexpr WCHAR kSettingsKey[] = L"Software\\Kelmiso\\ZEL";

class WineTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    DWORD chainHead_ = 0;
};

}  // namespace wintest
