#include "wintests/inf_files.h"

#include <gtest/gtest.h>

namespace wintest {

namespace {

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
            else EXPECT_TRUE(DeleteFileW(path.c_str())) << "deleting " << testing::PrintToString(path);
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << "removing " << testing::PrintToString(folder);
}

}  // namespace

std::string ProductInfText() { return std::string(reinterpret_cast<const char*>(kProductInf), kProductInfSize); }

void ScratchFolder::Create() {
    Remove();
    WCHAR temp[MAX_PATH];
    WCHAR name[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
    // A unique name from the system, made a folder in place of the file it creates.
    ASSERT_NE(GetTempFileNameW(temp, L"zel", 0, name), 0u);
    ASSERT_TRUE(DeleteFileW(name));
    ASSERT_TRUE(CreateDirectoryW(name, nullptr)) << GetLastError();
    path_ = std::wstring(name) + L"\\";
}

void ScratchFolder::Remove() {
    if (path_.empty()) return;
    RemoveTree(path_.substr(0, path_.size() - 1));
    path_.clear();
}

std::wstring ScratchFolder::Write(const std::wstring& relativePath, const std::string& bytes) {
    std::wstring path = path_ + relativePath;
    for (size_t slash = path.find(L'\\', path_.size()); slash != std::wstring::npos;
         slash = path.find(L'\\', slash + 1))
        CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << "creating " << testing::PrintToString(path) << ": " << GetLastError();
    if (file == INVALID_HANDLE_VALUE) return path;
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_EQ(written, bytes.size());
    CloseHandle(file);
    return path;
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read) bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

}  // namespace wintest
