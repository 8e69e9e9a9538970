// Carrying the ports of an earlier driver generation across an upgrade: each port's record read from the
// running driver in its generation's layout and converted to PortInfo, the port removed, and later
// re-created with its configuration, with installer progress throughout.
#pragma once

#include <cstddef>

#include "diag/status.h"
#include "portstore/port_info.h"

// Record layouts, chosen by the driver's display version.
constexpr DWORD LAYOUT_V40 = 40;      // "4.0...": PortInfoV40
constexpr DWORD LAYOUT_V41 = 41;      // "4.1...": PortInfoV41
constexpr DWORD LAYOUT_V42 = 42;      // "4.2..." but "4.2.0.2": PortInfoV41
constexpr DWORD LAYOUT_V43 = 4300;    // "4.2.0.2" and "4.3.0.0": PortInfoV43
constexpr DWORD LAYOUT_CURRENT = 4301;  // every other version: PortInfo itself

constexpr DWORD kPortInfoV40Bytes = 420;
constexpr DWORD kPortInfoV41Bytes = 440;
constexpr DWORD kPortInfoV43Bytes = 696;

// Ticks one port is worth on the installer's progress bar.
constexpr int kTicksPerPort = 10000;
// The total of the latest progress run, as it was last sent.
extern LONG ProgressTotal;

// The layout code for a display version; LAYOUT_CURRENT for a null text.
DWORD LayoutForVersion(const char* displayVersion);
// The record size of a layout in bytes.
DWORD LayoutRecordBytes(DWORD layout);
// Converts one driver record of an older layout (LayoutRecordBytes(layout) bytes) into *info, which the
// caller has zero-filled; fields the layout lacks take their defaults.
void ConvertPortRecord(DWORD layout, const BYTE* record, PortInfo* info);

// Saves (count and records given) or only removes (both null) every configured port. When saving,
// *records receives a LocalAlloc block the caller frees with LocalFree, and *count the records filled;
// a port whose record cannot be read is neither saved nor removed. IDCANCEL to a progress message stops
// there: ports not yet reached stay as they are.
void CollectAndRemovePorts(MSIHANDLE install, LONG* count, PortInfo** records);
// Re-creates every saved port (the first with a driver update) and stores its configuration; a port
// whose configuration cannot be stored is removed again. Progress is reported; a cancel does not leave
// removed ports behind.
void RestorePorts(MSIHANDLE install, LONG count, const PortInfo* records);
