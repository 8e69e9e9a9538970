// The simulated file system (drive C:, case-insensitive Windows paths, a current directory) and win.ini
// with GetProfileStringW and WriteProfileStringW.
#include <algorithm>
#include <map>

#include "winsim/files.h"
#include "winsim/inf_internal.h"
#include "winsim/product_inf.h"

namespace sim {
namespace detail {
namespace {

struct FileEntry {
    std::u16string path;  // as first written
    std::vector<uint8_t> bytes;
};

struct ProfileSection {
    std::u16string name;
    std::vector<std::pair<std::u16string, std::u16string>> keys;  // as written, in order
};

struct FileSystem {
    std::map<std::u16string, FileEntry> files;        // by folded full path
    std::map<std::u16string, std::u16string> folders;  // made explicitly: folded full path -> as made
    std::u16string cwd;
    std::vector<ProfileSection> winIni;
};

FileSystem& Fs() {
    static FileSystem fs;
    return fs;
}

char16_t Fold(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
    return c;
}

std::u16string Folded(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out) c = Fold(c);
    return out;
}

void AddFolder(std::u16string_view fullPath) { Fs().folders[Folded(fullPath)] = std::u16string(fullPath); }

void ResetFiles() {
    FileSystem& fs = Fs();
    fs = FileSystem{};
    for (const char16_t* folder : {u"C:\\Windows", u"C:\\Windows\\system32", u"C:\\Windows\\INF"}) AddFolder(folder);
    fs.cwd = u"C:\\Windows\\system32";
    // The win.ini of a fresh installation.
    for (const char16_t* section : {u"fonts", u"extensions", u"mci extensions", u"files"})
        fs.winIni.push_back(ProfileSection{section, {}});
    fs.winIni.push_back(ProfileSection{u"Mail", {{u"MAPI", u"1"}}});
}
ResetHook filesReset(ResetFiles);

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

std::u16string Parent(std::u16string_view fullPath) {
    size_t slash = fullPath.rfind(u'\\');
    if (slash == std::u16string_view::npos) return std::u16string();
    return std::u16string(fullPath.substr(0, slash == 2 ? 3 : slash));
}

std::u16string_view Trimmed(std::u16string_view s) {
    while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
    return s;
}

ProfileSection* FindSection(std::u16string_view name) {
    for (auto& section : Fs().winIni)
        if (SameText(section.name, name)) return &section;
    return nullptr;
}

std::u16string* FindKey(ProfileSection* section, std::u16string_view key) {
    if (!section) return nullptr;
    for (auto& [name, value] : section->keys)
        if (SameText(name, key)) return &value;
    return nullptr;
}

void SetKey(std::u16string_view sectionName, std::u16string_view key, std::u16string_view text) {
    ProfileSection* section = FindSection(sectionName);
    if (!section) {
        Fs().winIni.push_back(ProfileSection{std::u16string(sectionName), {}});
        section = &Fs().winIni.back();
    }
    if (std::u16string* value = FindKey(section, key)) {
        *value = std::u16string(text);
        return;
    }
    section->keys.emplace_back(std::u16string(key), std::u16string(text));
}

void DeleteKey(std::u16string_view sectionName, std::u16string_view key) {
    if (ProfileSection* section = FindSection(sectionName))
        std::erase_if(section->keys, [&](const auto& entry) { return SameText(entry.first, key); });
}

// As much of the text as fits, terminated; returns the characters copied.
DWORD CopyText(std::u16string_view text, LPWSTR buffer, DWORD size) {
    size_t n = std::min<size_t>(text.size(), size - 1);
    std::copy_n(text.begin(), n, buffer);
    buffer[n] = 0;
    return static_cast<DWORD>(n);
}

// A list of texts, each terminated, with a final terminator. A list that does not fit is cut and ends
// with two terminators; the result is then the size less two.
DWORD CopyList(const std::vector<std::u16string>& items, LPWSTR buffer, DWORD size) {
    std::u16string joined;
    for (const auto& item : items) {
        joined += item;
        joined.push_back(0);
    }
    if (joined.size() + 1 <= size) {
        std::copy(joined.begin(), joined.end(), buffer);
        buffer[joined.size()] = 0;
        return static_cast<DWORD>(joined.size());
    }
    if (size < 2) {
        buffer[0] = 0;
        return 0;
    }
    std::copy_n(joined.begin(), size - 2, buffer);
    buffer[size - 2] = 0;
    buffer[size - 1] = 0;
    return size - 2;
}

}  // namespace

bool SameText(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
               return Fold(x) == Fold(y);
           });
}

std::optional<std::u16string> ResolvePath(std::u16string_view given) {
    std::u16string path(given);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    if (path.empty() || path.starts_with(u"\\\\")) return std::nullopt;
    const std::u16string& cwd = Fs().cwd;
    std::u16string drive = cwd.substr(0, 2);
    std::u16string rest;
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == u':') {
        std::u16string named{Fold(path[0]), u':'};
        rest = path.substr(2);
        if (rest.empty() || rest[0] != u'\\') rest = (named == drive ? cwd.substr(2) : u"") + u"\\" + rest;
        drive = named;
    } else if (path[0] == u'\\') {
        rest = path;
    } else {
        rest = cwd.substr(2) + u"\\" + path;
    }
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(u'\\', start);
        if (end == std::u16string::npos) end = rest.size();
        std::u16string part = rest.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == u".") continue;
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        if (part.find_first_of(u"<>:\"|?*") != std::u16string::npos) return std::nullopt;
        parts.push_back(std::move(part));
    }
    std::u16string full = drive + u"\\";
    for (size_t i = 0; i < parts.size(); ++i) full += (i ? u"\\" : u"") + parts[i];
    return full;
}

bool FolderExistsAt(std::u16string_view fullPath) {
    Guard guard(Lock());
    if (fullPath.size() == 3) return SameText(fullPath, u"C:\\");
    std::u16string key = Folded(fullPath);
    if (Fs().folders.count(key)) return true;
    std::u16string prefix = key + u"\\";
    auto folder = Fs().folders.lower_bound(prefix);
    if (folder != Fs().folders.end() && folder->first.starts_with(prefix)) return true;
    auto file = Fs().files.lower_bound(prefix);
    return file != Fs().files.end() && file->first.starts_with(prefix);
}

DWORD ReadFileBytes(std::u16string_view path, std::vector<uint8_t>* bytes, std::u16string* fullPath) {
    Guard guard(Lock());
    std::optional<std::u16string> full = ResolvePath(path);
    if (!full) return ERROR_PATH_NOT_FOUND;
    if (fullPath) *fullPath = *full;
    auto it = Fs().files.find(Folded(*full));
    if (it != Fs().files.end()) {
        *bytes = it->second.bytes;
        return ERROR_SUCCESS;
    }
    if (FolderExistsAt(*full)) return ERROR_ACCESS_DENIED;
    return FolderExistsAt(Parent(*full)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

void WriteFileBytes(std::u16string_view fullPath, std::vector<uint8_t> bytes) {
    Guard guard(Lock());
    auto [it, added] = Fs().files.try_emplace(Folded(fullPath));
    if (added) it->second.path = std::u16string(fullPath);
    it->second.bytes = std::move(bytes);
}

std::u16string InfFolderPath() { return U16(kInfFolder); }

std::u16string DecodeText(const std::vector<uint8_t>& bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        std::u16string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
        return text;
    }
    size_t skip = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    return U16(std::string_view(reinterpret_cast<const char*>(bytes.data()) + skip, bytes.size() - skip));
}

}  // namespace detail

using namespace detail;

namespace {

// The full path of a name given by a test; a name the file system cannot resolve is a mistake in the test.
std::u16string TestPath(std::string_view path) {
    std::optional<std::u16string> full = ResolvePath(U16(path));
    if (!full) Violation("simulated file system: cannot resolve the path \"" + std::string(path) + "\"");
    return full.value_or(u"");
}

}  // namespace

void PutFile(std::string_view path, std::vector<uint8_t> bytes) {
    Guard guard(Lock());
    std::u16string full = TestPath(path);
    if (!full.empty()) WriteFileBytes(full, std::move(bytes));
}

void PutTextFile(std::string_view path, std::string_view utf8) { PutFile(path, std::vector<uint8_t>(utf8.begin(), utf8.end())); }

void PutUtf16File(std::string_view path, std::string_view utf8) {
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    for (char16_t c : U16(utf8)) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    PutFile(path, std::move(bytes));
}

std::optional<std::vector<uint8_t>> FileBytes(std::string_view path) {
    std::vector<uint8_t> bytes;
    if (ReadFileBytes(U16(path), &bytes) != ERROR_SUCCESS) return std::nullopt;
    return bytes;
}

std::optional<std::string> FileText(std::string_view path) {
    std::optional<std::vector<uint8_t>> bytes = FileBytes(path);
    if (!bytes) return std::nullopt;
    return U8(DecodeText(*bytes));
}

bool FileExists(std::string_view path) { return FileBytes(path).has_value(); }

bool FolderExists(std::string_view path) {
    Guard guard(Lock());
    std::optional<std::u16string> full = ResolvePath(U16(path));
    return full && FolderExistsAt(*full);
}

void MakeFolder(std::string_view path) {
    Guard guard(Lock());
    std::u16string full = TestPath(path);
    for (std::u16string folder = full; folder.size() > 3; folder = Parent(folder)) AddFolder(folder);
}

bool RemoveFile(std::string_view path) {
    Guard guard(Lock());
    std::optional<std::u16string> full = ResolvePath(U16(path));
    if (!full) return false;
    // The folders it implied stay, as they would on a disk.
    for (std::u16string folder = Parent(*full); folder.size() > 3; folder = Parent(folder))
        if (!Fs().folders.count(Folded(folder))) AddFolder(folder);
    return Fs().files.erase(Folded(*full)) != 0;
}

std::vector<std::string> ListFolder(std::string_view path) {
    Guard guard(Lock());
    std::optional<std::u16string> full = ResolvePath(U16(path));
    if (!full) return {};
    std::u16string prefix = Folded(*full);
    if (prefix.back() != u'\\') prefix += u'\\';
    std::map<std::u16string, std::u16string> names;  // folded -> as written
    auto note = [&](const std::u16string& key, const std::u16string& display) {
        if (!key.starts_with(prefix) || key.size() == prefix.size()) return;
        size_t end = key.find(u'\\', prefix.size());
        size_t length = (end == std::u16string::npos ? key.size() : end) - prefix.size();
        names.try_emplace(key.substr(prefix.size(), length), display.substr(prefix.size(), length));
    };
    for (auto& [key, file] : Fs().files) note(key, file.path);
    for (auto& [key, folder] : Fs().folders) note(key, folder);
    std::vector<std::string> out;
    for (auto& [key, name] : names) out.push_back(U8(name));
    return out;
}

std::string FullPath(std::string_view path) {
    Guard guard(Lock());
    std::optional<std::u16string> full = ResolvePath(U16(path));
    return full ? U8(*full) : std::string();
}

void SetCurrentFolder(std::string_view path) {
    Guard guard(Lock());
    std::u16string full = TestPath(path);
    if (full.empty()) return;
    MakeFolder(U8(full));
    Fs().cwd = full;
}

std::string CurrentFolder() {
    Guard guard(Lock());
    return U8(Fs().cwd);
}

const std::vector<uint8_t>& ProductInfBytes() {
    static const std::vector<uint8_t> bytes(std::begin(kProductInf), std::end(kProductInf));
    return bytes;
}

std::string PutProductInf(std::string_view folder) {
    Guard guard(Lock());
    std::string path = FullPath(std::string(folder) + "\\ZelDrvr.inf");
    PutFile(path, ProductInfBytes());
    return path;
}

std::string LayProductPackage(std::string_view productFolder) {
    return PutProductInf(std::string(productFolder) + "\\ZelDrvr");
}

std::optional<std::string> ProfileValue(std::string_view section, std::string_view key) {
    Guard guard(Lock());
    std::u16string* value = FindKey(FindSection(U16(section)), U16(key));
    if (!value) return std::nullopt;
    return U8(*value);
}

void SetProfileValue(std::string_view section, std::string_view key, std::optional<std::string_view> text) {
    Guard guard(Lock());
    if (text) SetKey(U16(section), U16(key), U16(*text));
    else DeleteKey(U16(section), U16(key));
}

std::vector<std::string> ProfileKeys(std::string_view section) {
    Guard guard(Lock());
    std::vector<std::string> out;
    if (ProfileSection* found = FindSection(U16(section)))
        for (auto& [name, value] : found->keys) out.push_back(U8(name));
    return out;
}

std::vector<std::string> ProfileSections() {
    Guard guard(Lock());
    std::vector<std::string> out;
    for (auto& section : Fs().winIni) out.push_back(U8(section.name));
    return out;
}

}  // namespace sim

using sim::detail::A;
using namespace sim;
using namespace sim::detail;

extern "C" {

DWORD WINAPI GetProfileStringW(LPCWSTR appName, LPCWSTR keyName, LPCWSTR defaultText, LPWSTR returnedString,
                               DWORD size) {
    SIM_ENTER(outcome, "GetProfileStringW", A("lpAppName", appName), A("lpKeyName", keyName),
              A("lpDefault", defaultText), A("lpReturnedString", returnedString), A("nSize", size));
    if (outcome) {
        if (returnedString && size) returnedString[0] = 0;
        SetLastError(outcome.code);
        return 0;
    }
    if (!returnedString || !size) return 0;
    Guard guard(Lock());
    // A default with trailing blanks comes back without them.
    std::u16string_view fallback = defaultText ? std::u16string_view(defaultText) : std::u16string_view();
    while (!fallback.empty() && fallback.back() == u' ') fallback.remove_suffix(1);
    if (!appName) {
        std::vector<std::u16string> names;
        for (auto& section : Fs().winIni) names.push_back(section.name);
        return CopyList(names, returnedString, size);
    }
    ProfileSection* section = FindSection(Trimmed(appName));
    if (!keyName) {
        if (!section) return CopyList({std::u16string(fallback)}, returnedString, size);
        std::vector<std::u16string> names;
        for (auto& [name, value] : section->keys) names.push_back(name);
        return CopyList(names, returnedString, size);
    }
    std::u16string* value = FindKey(section, Trimmed(keyName));
    if (!value) return CopyText(fallback, returnedString, size);
    std::u16string_view text = Trimmed(*value);
    if (text.size() >= 2 && (text.front() == u'"' || text.front() == u'\'') && text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    return CopyText(text, returnedString, size);
}

BOOL WINAPI WriteProfileStringW(LPCWSTR appName, LPCWSTR keyName, LPCWSTR text) {
    SIM_ENTER(outcome, "WriteProfileStringW", A("lpAppName", appName), A("lpKeyName", keyName), A("lpString", text));
    if (outcome) {
        SetLastError(outcome.code);
        return FALSE;
    }
    Guard guard(Lock());
    if (!appName) {
        // All three null only flushes the cache, which the simulated file does not have.
        if (!keyName && !text) return TRUE;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::u16string_view section = Trimmed(appName);
    if (!keyName) {
        std::erase_if(Fs().winIni, [&](const ProfileSection& s) { return SameText(s.name, section); });
        return TRUE;
    }
    if (!text) DeleteKey(section, Trimmed(keyName));
    else SetKey(section, Trimmed(keyName), text);
    return TRUE;
}

}  // extern "C"
