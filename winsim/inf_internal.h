// Internal model of the simulated machine's file system and of parsed INF files, for the machine's own
// modules (the INF functions, driver package staging, device installation). Nothing here records a call
// or fires a fault; callers hold the machine lock where they need a consistent view.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "winsim/sim_internal.h"

namespace sim::detail {

// ---- File system ----
// The canonical full path ("C:\Dir\Name", drive letter in capitals, "C:\" for a root), resolved against
// the current directory; nullopt for a name the file system cannot resolve (empty, UNC, other syntax).
std::optional<std::u16string> ResolvePath(std::u16string_view path);
// Reads a file. Returns 0, or ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND (no such folder) or
// ERROR_ACCESS_DENIED (the name is a folder). `fullPath`, when given, receives the resolved name.
DWORD ReadFileBytes(std::u16string_view path, std::vector<uint8_t>* bytes, std::u16string* fullPath = nullptr);
// Creates or replaces a file by its full path; the folders above it come into being.
void WriteFileBytes(std::u16string_view fullPath, std::vector<uint8_t> bytes);
bool FolderExistsAt(std::u16string_view fullPath);
std::u16string InfFolderPath();
// Bytes decoded as INF and text files are: UTF-16LE after its BOM, else UTF-8 (a BOM dropped).
std::u16string DecodeText(const std::vector<uint8_t>& bytes);

// Case-insensitive comparison of names (keys, sections, paths), as the registry compares them.
bool SameText(std::u16string_view a, std::u16string_view b);

// ---- Parsed INF ----
struct InfLine {
    // The key after substitution. A line written without '=' has none, except a line of one field, whose
    // field also serves as its key (it is found by that key and read back as field 0).
    std::optional<std::u16string> key;
    bool keyed = false;                  // written as "key = fields"
    std::vector<std::u16string> fields;  // fields 1..n after substitution (quotes removed)
    unsigned sourceLine = 0;             // 1-based line of the file where the line starts
};
struct InfSection {
    std::u16string name;          // as first written
    std::vector<InfLine> lines;   // the lines of every section of this name, in file order
};
struct InfFile {
    std::u16string path;                // full path it was read from
    std::vector<InfSection> sections;   // in order of first appearance; [Strings] included, unsubstituted

    const InfSection* Find(std::u16string_view section) const;
    // Field 1 of the first line of the section with that key.
    std::optional<std::u16string> Value(std::u16string_view section, std::u16string_view key) const;
};

// Parses INF text. Returns 0, or the code SetupOpenInfFileW reports: ERROR_EXPECTED_SECTION_NAME (a line
// before any section), ERROR_BAD_SECTION_NAME_LINE, ERROR_SECTION_NAME_TOO_LONG (with the 1-based line in
// `errorLine`), or ERROR_WRONG_INF_STYLE (no Version section with a Windows NT, Chicago or Windows 95
// signature; `errorLine` 0). Substitution from [Strings] applies to keys and fields of other sections:
// %name% by its string (the name without regard to case), %% by a percent sign, an unknown %name% kept.
DWORD ParseInf(std::u16string_view text, InfFile* inf, UINT* errorLine);
// Reads and parses a file; a name without a path separator is looked for in the system INF folder. Also
// ERROR_FILE_INVALID for an empty file, and the file errors of ReadFileBytes.
DWORD LoadInf(std::u16string_view path, InfFile* inf, UINT* errorLine = nullptr);
// The parsed INF behind an open INF handle; null when the value is not one.
std::shared_ptr<const InfFile> InfFromHandle(HINF inf);

// ---- Classes ----
bool ParseGuid(std::u16string_view text, GUID* guid);  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
std::u16string GuidText(const GUID& guid);             // upper case, with braces
bool SameGuid(const GUID& a, const GUID& b);
// The setup classes of that name: the built-in ones (Ports, Modem) and those installed in the registry
// under System\CurrentControlSet\Control\Class\{guid} with a "Class" value; each GUID once.
std::vector<GUID> ClassGuidsOf(std::u16string_view className);
// The name of an installed or built-in class; "" when unknown.
std::u16string ClassNameOf(const GUID& guid);
// The INF's class as SetupDiGetINFClassW reports it: the Version section's Class (substituted) and
// ClassGuid, GUID_NULL when only the name is given, the name of a known class when only the GUID is.
// Returns 0, ERROR_NO_ASSOCIATED_CLASS (neither) or ERROR_INVALID_PARAMETER (a malformed GUID).
DWORD InfClass(const InfFile& inf, std::u16string* className, GUID* classGuid);

// ---- What an INF offers, for a 32-bit Windows NT platform ----
struct InfDriver {
    std::u16string manufacturer;    // key of the Manufacturer line
    std::u16string modelsSection;   // the models section the model line is in
    std::u16string description;     // key of the model line
    std::u16string installSection;  // field 1, undecorated as written
    std::u16string hardwareId;      // field 2
    std::vector<std::u16string> compatibleIds;  // fields 3..n
};
// The models section a Manufacturer line leads to: its section name decorated with the first listed
// decoration for the platform, "NTx86" (optionally with a version, "NTx86.5.1") before "NT"; the
// undecorated name when neither is listed. The section need not exist.
std::u16string ModelsSectionFor(const InfLine& manufacturerLine);
// Every model line of every Manufacturer line, in file order. Model lines without an install section or
// hardware ID are skipped; so are models sections that do not exist.
std::vector<InfDriver> ListDrivers(const InfFile& inf);
std::u16string InfProvider(const InfFile& inf);  // Version's Provider after substitution; "" when none
// The install section the platform uses: "<name>.NTx86", else "<name>.NT", else "<name>" itself,
// whichever exists first; nullopt when none does.
std::optional<std::u16string> ResolveInstallSection(const InfFile& inf, std::u16string_view installSection);
// Applies the HKR lines of the AddReg sections that the (resolved) install section names to the HKLM key
// at `hkrPath`: value types by the documented flags (REG_SZ 0, REG_BINARY 0x1, REG_DWORD 0x10001,
// REG_MULTI_SZ 0x10000, REG_EXPAND_SZ 0x20000, REG_NONE 0x20001) with FLG_ADDREG_NOCLOBBER,
// FLG_ADDREG_KEYONLY and FLG_ADDREG_OVERWRITEONLY honoured; an empty subkey field means the key itself. Lines
// of other roots are left alone. Returns 0, ERROR_SECTION_NOT_FOUND for a missing install or AddReg
// section, or ERROR_INVALID_DATA for a line whose flags or data cannot be read. Writes through the
// machine's registry without recording calls.
DWORD ApplyAddReg(const InfFile& inf, std::u16string_view installSection, std::string_view hkrPath);

}  // namespace sim::detail
