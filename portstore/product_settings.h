// The product settings key: where the product is installed and which INF the system staged.
#pragma once

#include "diag/status.h"

// HKEY_LOCAL_MACHINE (and, for its removal, HKEY_CURRENT_USER) "Software\Kelmiso\ZEL".
extern const WCHAR kProductSettingsKey[];
extern const WCHAR kTargetDirValue[];
extern const WCHAR kInfFileValue[];

// Reads a text value into buffer (capacity characters) and terminates it: text stored without its NUL
// is terminated after its last character, and such text that fills the whole buffer counts as too long
// (ERROR_MORE_DATA). Returns the registry's code; the value's type is not checked.
LONG QueryTextValue(HKEY key, const WCHAR* valueName, WCHAR* buffer, DWORD capacity);
