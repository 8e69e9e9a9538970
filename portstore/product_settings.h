// The product settings key: where the product is installed and which INF the system staged.
#pragma once

#include "diag/status.h"

// HKEY_LOCAL_MACHINE (and, for its removal, HKEY_CURRENT_USER) "Software\Kelmiso\ZEL".
extern const WCHAR kProductSettingsKey[];
extern const WCHAR kTargetDirValue[];
extern const WCHAR kInfFileValue[];

// The readers' buffers hold this many characters, terminator included.
constexpr DWORD kSettingsTextChars = MAX_PATH;

// Reads a text value into buffer (capacity characters) and terminates it: text stored without its NUL
// is terminated after its last character, and such text that fills the whole buffer counts as too long
// (ERROR_MORE_DATA). Returns the registry's code; the value's type is not checked.
LONG QueryTextValue(HKEY key, const WCHAR* valueName, WCHAR* buffer, DWORD capacity);

// Read TargetDir (the installation folder, ending with a backslash) or InfFile (the system's copy of the
// product INF) into buffer, kSettingsTextChars characters. Return 0 or the registry's error: when the
// key cannot be opened the buffer is untouched; when the value cannot be read it holds an empty text.
ZelStatus GetTargetDir(WCHAR* buffer);
ZelStatus GetInfPathFromRegistry(WCHAR* buffer);

// Write TargetDir or InfFile as REG_SZ with its terminator, creating the key when missing. Return 0 or
// the registry's error.
ZelStatus SetTargetDir(const WCHAR* text);
ZelStatus SetInfPathInRegistry(const WCHAR* text);
