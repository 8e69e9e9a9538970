#include "driver/port_operations.h"

#include <cstring>

#include "devinst/com_numbers.h"
#include "devinst/device_setup.h"
#include "driver/driver_channel.h"
#include "platform/guard.h"
#include "platform/text.h"
#include "setup/custom_actions.h"

namespace {

constexpr DWORD kVersionFieldCount = 4;
constexpr DWORD kVersionExaminedChars = kVersionTextBytes - 1;

// The arguments and result of one guarded operation.
struct Operation {
    ZelStatus result;
    PortMap* portMap;
    void* buffer;
    DWORD length;
    DWORD portNumber;
    DWORD installDriver;
    const PortInfo* portInfo;
    BOOL* stored;
};

ZelStatus RunGuarded(ZelGuardedBody body, Operation* operation) {
    operation->result = 0;
    DWORD exception = ZelRunGuarded(body, operation);
    return exception ? static_cast<ZelStatus>(exception) : operation->result;
}

void GetPortMapBody(void* context) {
    auto* op = static_cast<Operation*>(context);
    op->result = InitPortMap(op->portMap);
}

void GetDriverPortConfigBody(void* context) {
    auto* op = static_cast<Operation*>(context);
    // Byte by byte: a bad buffer faults here, inside the guard, as the caller's own write would.
    volatile BYTE* bytes = static_cast<BYTE*>(op->buffer);
    for (DWORD i = 0; i < op->length; ++i) bytes[i] = 0;
    op->result = QueryPortConfig(op->buffer, op->length, op->portNumber);
}

void StorePortInfoBody(void* context) {
    auto* op = static_cast<Operation*>(context);
    const PortInfo* info = op->portInfo;
    if (!info || info->NumServices > kMaxPortServices) {
        op->result = ZEL_INVALID_ARGUMENT;
        return;
    }
    op->result = _SetPortInfoInRegistry(info);
    if (op->result != 0) return;
    *op->stored = TRUE;
    op->result = SendPortCommand(info->PortNumber, IOCTL_ZEL_PORT_CHANGED, 0, nullptr, 0);
}

void RemovePortBody(void* context) {
    auto* op = static_cast<Operation*>(context);
    op->result = _RemovePort(op->portNumber);
}

void AddPortBody(void* context) {
    auto* op = static_cast<Operation*>(context);
    PortUsageMap usage = {};
    DWORD reported = 0;
    if (op->portNumber - 1 > kPortUsageEntries - 1) {
        op->result = ZEL_INVALID_PORT_NUMBER;
        return;
    }
    op->result = _GetPortUsage(usage, kPortUsageEntries, &reported);
    if (op->result != 0) return;
    if (usage[op->portNumber - 1]) {
        op->result = ZEL_PORT_ALREADY_EXISTS;
        return;
    }
    op->result = _AddPort(op->portNumber, op->installDriver);
}

// The raw text's first 39 characters, terminated.
void ExaminedText(const char* raw, char* scratch) {
    size_t length = 0;
    while (length < kVersionExaminedChars && raw[length]) ++length;
    std::memcpy(scratch, raw, length);
    scratch[length] = 0;
}

}  // namespace

ZelStatus GetPortMap(PortMap* portMap) {
    Operation op = {};
    op.portMap = portMap;
    return RunGuarded(GetPortMapBody, &op);
}

ZelStatus GetDriverPortConfig(void* buffer, DWORD bufferLength, DWORD portNumber) {
    Operation op = {};
    op.buffer = buffer;
    op.length = bufferLength;
    op.portNumber = portNumber;
    return RunGuarded(GetDriverPortConfigBody, &op);
}

ZelStatus StorePortInfo(const PortInfo* portInfo, BOOL* stored) {
    Operation op = {};
    *stored = FALSE;
    op.portInfo = portInfo;
    op.stored = stored;
    return RunGuarded(StorePortInfoBody, &op);
}

ZelStatus SetPortInfo(const PortInfo* portInfo) {
    BOOL stored = FALSE;
    return StorePortInfo(portInfo, &stored);
}

ZelStatus RemovePort(DWORD portNumber) {
    Operation op = {};
    op.portNumber = portNumber;
    return RunGuarded(RemovePortBody, &op);
}

ZelStatus AddPort(DWORD portNumber, DWORD installDriver) {
    Operation op = {};
    op.portNumber = portNumber;
    op.installDriver = installDriver;
    DWORD exception = RunWithSetupPrivileges(AddPortBody, &op);
    return exception ? static_cast<ZelStatus>(exception) : op.result;
}

ZelStatus GetDriverVersion(char* text, DWORD* length) {
    char raw[kVersionTextBytes] = {};
    DWORD capacity = *length;
    DWORD asked = capacity < kVersionTextBytes ? capacity : kVersionTextBytes;
    ZelStatus status = QueryDriverVersion(raw, &asked);
    if (status != 0) {
        *length = kVersionTextBytes;
        return status;
    }
    // The text ends at its first NUL within the buffer; one that fills it has none and its size counts 41.
    DWORD rawLength = 0;
    while (rawLength < kVersionTextBytes && raw[rawLength]) ++rawLength;
    DWORD size = rawLength + 1;
    *length = size;
    if (capacity < size) return ZEL_BUFFER_TOO_SMALL;
    FormatVersionString(text, size, raw);
    return 0;
}

void GetVersionField(DWORD index, const char* raw, char* field) {
    char scratch[kVersionTextBytes];
    ExaminedText(raw, scratch);
    field[0] = 0;
    const char* start = scratch;
    for (DWORD i = 0; i < index; ++i) {
        start = std::strchr(start, '.');
        if (!start) return;
        ++start;
    }
    size_t length = 0;
    while (start[length] && start[length] != '.' && length < kVersionFieldChars - 1) ++length;
    std::memcpy(field, start, length);
    field[length] = 0;
}

void GetBuildTypeTag(const char* raw, char* tag) {
    char field[kVersionFieldChars];
    GetVersionField(kVersionFieldCount - 1, raw, field);
    const char* text = "";
    switch (field[0]) {
        case '1': text = "D"; break;
        case '2': text = "T"; break;
        case '3': text = "B"; break;
        case '4': text = "RC"; break;
        default: break;
    }
    ZelStrCopyA(tag, kVersionFieldChars, text);
}

void FormatVersionString(char* out, DWORD outSize, const char* raw) {
    char major[kVersionFieldChars], minor[kVersionFieldChars], revision[kVersionFieldChars];
    char build[kVersionFieldChars], tag[kVersionFieldChars];
    char minorHead[kVersionFieldChars], minorTail[kVersionFieldChars];
    GetVersionField(0, raw, major);
    GetVersionField(1, raw, minor);
    GetVersionField(2, raw, revision);
    GetVersionField(3, raw, build);
    GetBuildTypeTag(raw, tag);

    // Field 1 is two numbers: its leading characters and its last two, less one leading zero. A field of
    // one character stands for both.
    size_t minorLength = ZelStrLenA(minor);
    size_t split = minorLength < 2 ? minorLength : minorLength - 2;
    ZelStrCopyA(minorHead, kVersionFieldChars, minor);
    if (minorLength >= 2) minorHead[split] = 0;
    const char* tail = minorLength < 2 ? minor : minor + split;
    if (tail[0] == '0') ++tail;
    ZelStrCopyA(minorTail, kVersionFieldChars, tail);

    // The build suffix: none for a first character from '5' to 0x7F or a field of one character.
    const char* suffix = "";
    unsigned char first = static_cast<unsigned char>(build[0]);
    if (!(first >= '5' && first <= 0x7F) && ZelStrLenA(build) >= 2) suffix = build[1] == '0' ? build + 2 : build + 1;

    ZelFormatA(out, outSize, "%s.%s.%s.%s%s%s", major, minorHead, minorTail, revision, tag, suffix);
}
