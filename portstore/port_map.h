// The map of the product's configured ports: COM number and port name of every product port device,
// in ascending COM-number order.
#pragma once

#include "diag/status.h"

constexpr DWORD kMaxMappedPorts = 256;
// One entry more than can be filled, so that the entry after the last filled one is always clear.
constexpr DWORD kPortMapEntries = kMaxMappedPorts + 1;
constexpr DWORD kPortMapNameChars = 8;

struct PortMapEntry {
    DWORD PortNumber;                   // parsed from PortName; a negative number is kept as its bits
    WCHAR PortName[kPortMapNameChars];  // at most 7 characters and a terminator
};
static_assert(sizeof(PortMapEntry) == 20, "PortMapEntry is 20 bytes");

struct PortMap {
    DWORD NumPorts;  // entries 0 to NumPorts - 1 are filled; 0 to 256
    PortMapEntry Entries[kPortMapEntries];
};

// Rebuilds map from the registry: one entry per product port device whose PortName of at most 7
// characters could be read, the first 256 in enumeration order, sorted; every entry from NumPorts on is
// clear (PortNumber 0, PortName empty). A missing Ports enumeration key gives an empty map. Always 0.
ZelStatus InitPortMap(PortMap* map);

// Orders entries 0 to NumPorts - 1 by PortNumber taken unsigned; entries with equal numbers keep their
// order. A NumPorts beyond the map's room is taken as the whole map.
void SortPortMap(PortMap* map);
