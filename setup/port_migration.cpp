#include "setup/port_migration.h"

#include <cstring>

#include "driver/port_operations.h"
#include "portstore/port_map.h"

LONG ProgressTotal = 0;

namespace {

// Where an older layout keeps the fields past the 92 bytes every layout shares with PortInfo; -1 for a
// field the layout lacks.
struct RecordLayout {
    DWORD code;
    DWORD bytes;
    int bufferWrites, transmitEmpty, listenMode, keepAliveOnOff, keepAliveTime, keepAliveInterval;
    int numServices;
    int services;
    DWORD serviceBytes;
    DWORD addressBytes;
};

constexpr DWORD kSharedPrefixBytes = 92;
constexpr RecordLayout kLayouts[] = {
    {LAYOUT_V40, kPortInfoV40Bytes, -1, 92, -1, -1, -1, -1, 96, 100, 40, 32},
    {LAYOUT_V41, kPortInfoV41Bytes, 92, 96, 100, 104, 108, 112, 116, 120, 40, 32},
    {LAYOUT_V42, kPortInfoV41Bytes, 92, 96, 100, 104, 108, 112, 116, 120, 40, 32},
    {LAYOUT_V43, kPortInfoV43Bytes, 92, 96, 100, 104, 108, 112, 116, 120, 72, 64},
};
static_assert(offsetof(PortInfo, BufferWrites) == kSharedPrefixBytes, "the shared prefix ends at BufferWrites");

// Defaults for what the oldest layout lacks.
constexpr DWORD kDefaultBufferWrites = 1;
constexpr DWORD kDefaultListenMode = 0;
constexpr DWORD kDefaultKeepAliveOnOff = 0;
constexpr DWORD kDefaultKeepAliveTime = 7200000;
constexpr DWORD kDefaultKeepAliveInterval = 1000;

const RecordLayout* FindLayout(DWORD code) {
    for (const RecordLayout& layout : kLayouts)
        if (layout.code == code) return &layout;
    return nullptr;
}

DWORD Field(const BYTE* record, int offset, DWORD fallback) {
    if (offset < 0) return fallback;
    DWORD value;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

// The three installer records of the progress protocol, closed when the run ends whatever its path.
class ProgressRecord {
public:
    explicit ProgressRecord(UINT fields) : handle_(MsiCreateRecord(fields)) {}
    ~ProgressRecord() {
        if (handle_) MsiCloseHandle(handle_);
    }
    ProgressRecord(const ProgressRecord&) = delete;
    ProgressRecord& operator=(const ProgressRecord&) = delete;

    void Set(int field1, int field2, int field3 = 0, int field4 = -1) {
        MsiRecordSetInteger(handle_, 1, field1);
        MsiRecordSetInteger(handle_, 2, field2);
        MsiRecordSetInteger(handle_, 3, field3);
        if (field4 >= 0) MsiRecordSetInteger(handle_, 4, field4);
    }
    // True when the user cancelled.
    bool Send(MSIHANDLE install) { return MsiProcessMessage(install, INSTALLMESSAGE_PROGRESS, handle_) == IDCANCEL; }

private:
    MSIHANDLE handle_;
};

struct ProgressRun {
    ProgressRecord total{2};
    ProgressRecord reset{4};
    ProgressRecord step{3};

    // Total, reset and action information; true when the user cancelled one of them.
    bool Start(MSIHANDLE install, int items) {
        ProgressTotal = items * kTicksPerPort;
        total.Set(3, ProgressTotal);
        if (total.Send(install)) return true;
        reset.Set(0, ProgressTotal, 0, 0);
        if (reset.Send(install)) return true;
        step.Set(1, 1, 0);
        if (step.Send(install)) return true;
        step.Set(2, kTicksPerPort, 0);
        return false;
    }
};

DWORD ChooseLayout() {
    // Asked twice: without its version an older driver's records would be read in the current layout,
    // and their services taken from the wrong offsets. A driver that cannot answer at all cannot hand
    // out records either, so the current layout then reads nothing.
    for (int attempt = 0; attempt < 2; ++attempt) {
        char version[kVersionTextBytes] = {};
        DWORD length = kVersionTextBytes;
        if (GetDriverVersion(version, &length) == 0) return LayoutForVersion(version);
    }
    return LAYOUT_CURRENT;
}

}  // namespace

DWORD LayoutForVersion(const char* displayVersion) {
    struct Prefix {
        const char* text;
        DWORD layout;
    };
    // "4.2.0.2" before "4.2": its records already have the wider services.
    static const Prefix kPrefixes[] = {
        {"4.0", LAYOUT_V40}, {"4.1", LAYOUT_V41}, {"4.2.0.2", LAYOUT_V43}, {"4.2", LAYOUT_V42}, {"4.3.0.0", LAYOUT_V43},
    };
    if (!displayVersion) return LAYOUT_CURRENT;
    for (const Prefix& prefix : kPrefixes)
        if (std::strncmp(displayVersion, prefix.text, std::strlen(prefix.text)) == 0) return prefix.layout;
    return LAYOUT_CURRENT;
}

DWORD LayoutRecordBytes(DWORD layout) {
    const RecordLayout* found = FindLayout(layout);
    return found ? found->bytes : static_cast<DWORD>(sizeof(PortInfo));
}

void ConvertPortRecord(DWORD code, const BYTE* record, PortInfo* info) {
    const RecordLayout* layout = FindLayout(code);
    if (!layout) {
        std::memcpy(info, record, sizeof *info);
        return;
    }
    std::memcpy(info, record, kSharedPrefixBytes);
    info->BufferWrites = Field(record, layout->bufferWrites, kDefaultBufferWrites);
    info->TransmitEmpty = Field(record, layout->transmitEmpty, 0);
    info->ListenMode = Field(record, layout->listenMode, kDefaultListenMode);
    info->KeepAliveOnOff = Field(record, layout->keepAliveOnOff, kDefaultKeepAliveOnOff);
    info->KeepAliveTime = Field(record, layout->keepAliveTime, kDefaultKeepAliveTime);
    info->KeepAliveInterval = Field(record, layout->keepAliveInterval, kDefaultKeepAliveInterval);
    info->NumServices = Field(record, layout->numServices, 0);
    // Every entry is copied whatever NumServices says; a narrower Address is followed by zeros.
    for (DWORD k = 0; k < kMaxPortServices; ++k) {
        const BYTE* entry = record + layout->services + k * layout->serviceBytes;
        std::memcpy(&info->Services[k].Type, entry, sizeof(DWORD));
        std::memcpy(&info->Services[k].Port, entry + 4, sizeof(DWORD));
        std::memcpy(info->Services[k].Address, entry + 8, layout->addressBytes);
    }
}

void CollectAndRemovePorts(MSIHANDLE install, LONG* count, PortInfo** records) {
    PortMap map;
    BYTE* driverRecord = nullptr;
    bool saving = count && records;
    if (count) *count = 0;
    if (records) *records = nullptr;
    if (GetPortMap(&map) != 0 || map.NumPorts == 0) return;

    {
        ProgressRun progress;
        DWORD layout = ChooseLayout();
        DWORD recordBytes = LayoutRecordBytes(layout);
        if (saving) {
            DWORD numbered = 0;
            for (DWORD i = 0; i < map.NumPorts; ++i) numbered += map.Entries[i].PortNumber != 0;
            *records = static_cast<PortInfo*>(LocalAlloc(LPTR, numbered * sizeof(PortInfo)));
            if (!*records) goto done;
            // One buffer for every older record; current records are read straight into the block.
            if (layout != LAYOUT_CURRENT) {
                driverRecord = static_cast<BYTE*>(LocalAlloc(LPTR, recordBytes));
                if (!driverRecord) goto done;
            }
        }
        if (progress.Start(install, static_cast<int>(map.NumPorts))) goto done;

        for (DWORD i = 0; i < map.NumPorts; ++i) {
            DWORD port = map.Entries[i].PortNumber;
            bool remove = true;
            if (saving && port != 0) {
                PortInfo* next = *records + *count;
                void* buffer = driverRecord ? static_cast<void*>(driverRecord) : static_cast<void*>(next);
                if (GetDriverPortConfig(buffer, recordBytes, port) == 0) {
                    if (driverRecord) ConvertPortRecord(layout, driverRecord, next);
                    ++*count;
                } else {
                    // Without its record the port could never come back: leave it where it is, with its
                    // configuration in the registry.
                    std::memset(next, 0, sizeof *next);
                    remove = false;
                }
            }
            if (remove) RemovePort(port);
            if (progress.step.Send(install)) break;
        }
    done:
        if (driverRecord) LocalFree(driverRecord);
    }
}

void RestorePorts(MSIHANDLE install, LONG count, const PortInfo* records) {
    if (count <= 0) return;
    ProgressRun progress;
    // Every saved port was removed already: a cancel here would lose the ones not yet re-created, so the
    // answers are not acted on.
    if (progress.Start(install, static_cast<int>(count))) progress.step.Set(2, kTicksPerPort, 0);
    for (LONG i = 0; i < count; ++i) {
        const PortInfo& record = records[i];
        if (AddPort(record.PortNumber, i == 0 ? 1 : 0) == 0) {
            BOOL stored = FALSE;
            // The configuration may be stored while the driver does not answer its notice (a reboot
            // pending after the update): only a port without its configuration goes again.
            StorePortInfo(&record, &stored);
            if (!stored) RemovePort(record.PortNumber);
        }
        progress.step.Send(install);
    }
}
