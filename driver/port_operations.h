// The guarded port-management operations the port migration drives: each runs its whole body inside the
// exception guard, and a caught exception's code becomes its result.
#pragma once

#include "diag/status.h"
#include "portstore/port_info.h"
#include "portstore/port_map.h"

// The configured ports, sorted by COM number.
ZelStatus GetPortMap(PortMap* portMap);
// Zero-fills bufferLength bytes of buffer, then has the driver write the port's record into it in the
// driver's own layout.
ZelStatus GetDriverPortConfig(void* buffer, DWORD bufferLength, DWORD portNumber);
// Stores the record under the port's device and tells the driver. ZEL_INVALID_ARGUMENT for a null record
// or more than 8 services (nothing written); the store's error (the driver not told); otherwise the
// notice's result, with the record stored.
ZelStatus SetPortInfo(const PortInfo* portInfo);
// As SetPortInfo; *stored tells whether the record reached the registry, whatever the notice gave.
ZelStatus StorePortInfo(const PortInfo* portInfo, BOOL* stored);
ZelStatus RemovePort(DWORD portNumber);
// Adds the port device at a free COM number with the three installer privileges held.
// ZEL_INVALID_PORT_NUMBER outside 1 to 256, ZEL_PORT_ALREADY_EXISTS for a number in use.
ZelStatus AddPort(DWORD portNumber, DWORD installDriver);
// The driver's version in its display form ("4.3.2.7D5"). *length: in, the capacity of text in bytes;
// out, 40 after a failed request, else the raw text's size (ZEL_BUFFER_TOO_SMALL when it exceeds the
// capacity; text untouched).
ZelStatus GetDriverVersion(char* text, DWORD* length);

constexpr DWORD kVersionTextBytes = 40;
constexpr DWORD kVersionFieldChars = 10;

// The display form of a raw version text, cut to outSize - 1 characters.
void FormatVersionString(char* out, DWORD outSize, const char* raw);
// Field index (0 to 3) of the raw text, at most 9 characters; empty when there are fewer fields.
void GetVersionField(DWORD index, const char* raw, char* field);
// The build-type tag ("D", "T", "B", "RC" or empty) for the first character of field 3.
void GetBuildTypeTag(const char* raw, char* tag);
