// Control interface of the simulated machine's file system and win.ini, for tests and tools.
//
// Paths are Windows paths: drive-letter absolute ("C:\Windows\INF\oem0.inf") or relative to the current
// directory, '/' and '\' both separators, "." and ".." resolved, compared without regard to case. A folder
// exists when it was made or when anything below it exists. A reset machine has the folders C:\Windows,
// C:\Windows\system32 (the current directory) and the system INF folder C:\Windows\INF, no files, and a
// win.ini with the usual sections.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "winsim/sim.h"

namespace sim {

constexpr const char* kInfFolder = "C:\\Windows\\INF";
// The installation folder of a realistic machine, with its trailing backslash as the installer records it.
constexpr const char* kProductFolder = "C:\\Program Files\\Kelmiso\\ZEL\\";

// ---- Files ----
void PutFile(std::string_view path, std::vector<uint8_t> bytes);  // creates or replaces
void PutTextFile(std::string_view path, std::string_view utf8);   // UTF-8 bytes as given, no BOM
void PutUtf16File(std::string_view path, std::string_view utf8);  // UTF-16LE with its BOM
std::optional<std::vector<uint8_t>> FileBytes(std::string_view path);
// The file's text as UTF-8, decoded from UTF-16LE when it starts with that BOM (which is dropped).
std::optional<std::string> FileText(std::string_view path);
bool FileExists(std::string_view path);
bool FolderExists(std::string_view path);
void MakeFolder(std::string_view path);
bool RemoveFile(std::string_view path);  // false when there was no such file
// Names (not paths) of the files and folders directly inside a folder, in case-insensitive order.
std::vector<std::string> ListFolder(std::string_view path);
// The full path a name resolves to, as the file system spells it; "" for a name it cannot resolve.
std::string FullPath(std::string_view path);
void SetCurrentFolder(std::string_view path);  // made when missing
std::string CurrentFolder();

// ---- The product's driver package ----
// The driver package INF of this source tree (packaging/ZelDrvr/ZelDrvr.inf), as built in.
const std::vector<uint8_t>& ProductInfBytes();
// Writes it as "ZelDrvr.inf" into the folder; returns the file's full path.
std::string PutProductInf(std::string_view folder);
// Lays the package where the installer puts it: "<productFolder>ZelDrvr\ZelDrvr.inf". Returns that path.
std::string LayProductPackage(std::string_view productFolder = kProductFolder);

// ---- Staged driver packages (SetupCopyOEMInfW) ----
// The names of the staged INFs ("oem0.inf", ...) in the system INF folder, lowest number first.
std::vector<std::string> StagedInfs();
// The source location recorded when the INF was staged; nullopt for a file that was not staged.
std::optional<std::string> StagedInfSource(std::string_view stagedName);

// SetupFindFirstLineW on a section the INF does not have fails with ERROR_SECTION_NOT_FOUND by default;
// other implementations of the service report ERROR_LINE_NOT_FOUND, as for a missing key. Code must work
// with both.
void SetMissingSectionError(DWORD error);

// ---- win.ini ----
// The text stored for a key, as written (GetProfileStringW trims it and strips one pair of quotes).
std::optional<std::string> ProfileValue(std::string_view section, std::string_view key);
// Stores a key's text, or deletes the key when `text` is nullopt.
void SetProfileValue(std::string_view section, std::string_view key, std::optional<std::string_view> text);
std::vector<std::string> ProfileKeys(std::string_view section);
std::vector<std::string> ProfileSections();

}  // namespace sim
