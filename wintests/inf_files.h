// INF files in the Wine prefix: the product's own (packaging/ZelDrvr/ZelDrvr.inf, embedded in the test
// program when it is built) and variants a test writes, laid out as an installation folder holds them
// (<folder>\ZelDrvr\ZelDrvr.inf), in a scratch folder of the prefix's temporary folder.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace wintest {

extern const unsigned char kProductInf[];
extern const std::size_t kProductInfSize;

// The product INF's text (it is ASCII).
std::string ProductInfText();

// A folder made for one test, removed with everything in it by Remove (also run on destruction).
class ScratchFolder {
public:
    ScratchFolder() = default;
    ~ScratchFolder() { Remove(); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Makes a fresh folder; a failing call fails the test.
    void Create();
    void Remove();
    // The folder's full path, ending with a backslash (as an installation folder is recorded).
    const std::wstring& Path() const { return path_; }
    // Writes a file below the folder, making the folders on the way; returns its full path.
    std::wstring Write(const std::wstring& relativePath, const std::string& bytes);

private:
    std::wstring path_;
};

// Where a driver package sits below an installation folder.
inline constexpr WCHAR kPackageInf[] = L"ZelDrvr\\ZelDrvr.inf";

// The text and bytes of a file, empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);

}  // namespace wintest
