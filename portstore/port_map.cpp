#include "portstore/port_map.h"

#include "platform/text.h"
#include "portstore/port_search.h"

namespace {

BOOL MapVisitor(void* context, PortSearchEvent event, const PortSearchDevice* device) {
    auto* map = static_cast<PortMap*>(context);
    if (event != PORT_SEARCH_DEVICE) return TRUE;  // unreadable devices leave no entry
    PortMapEntry& entry = map->Entries[map->NumPorts];
    entry.PortNumber = static_cast<DWORD>(device->comNumber);
    ZelStrCopy(entry.PortName, kPortMapNameChars, device->portName);
    ++map->NumPorts;
    return map->NumPorts < kMaxMappedPorts;
}

}  // namespace

ZelStatus InitPortMap(PortMap* map) {
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 0, 0, "InitPortMap++");
    for (PortMapEntry& entry : map->Entries) {
        entry.PortNumber = 0;
        entry.PortName[0] = 0;
    }
    map->NumPorts = 0;
    // A missing Ports enumeration key is no error here: it means there are no ports.
    WalkPortDevices(kPortMapNameChars, MapVisitor, map);
    SortPortMap(map);
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 1, 0, "InitPortMap-- numPorts %d", map->NumPorts);
    return 0;
}

void SortPortMap(PortMap* map) {
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 0, 0, "SortPortMap++");
    DWORD n = map->NumPorts < kPortMapEntries ? map->NumPorts : kPortMapEntries;
    // An exchange sort: it never swaps equal numbers, so ports that share a number stay in the order
    // the registry listed them.
    for (DWORD pass = 0; pass + 1 < n; ++pass) {
        for (DWORD j = 0; j + 1 < n - pass; ++j) {
            if (map->Entries[j].PortNumber > map->Entries[j + 1].PortNumber) {
                PortMapEntry held = map->Entries[j];
                map->Entries[j] = map->Entries[j + 1];
                map->Entries[j + 1] = held;
            }
        }
    }
    ZEL_TRACE(TRACE_PORT_CONFIG, TRACE_FLOW, 0, 0, "SortPortMap--");
}
