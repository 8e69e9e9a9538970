// Result codes, their printable names, the error box and the trace facility.
#pragma once

#include "platform/platform.h"

// The result of every operation: 0 success, -1 to -31 the library's own codes below, anything else a
// Windows or SetupAPI error code, a COM port database status, or the code of a caught exception.
typedef LONG ZelStatus;

constexpr ZelStatus ZEL_INVALID_ARGUMENT = -1;
constexpr ZelStatus ZEL_UNKNOWN_EXCEPTION = -2;
constexpr ZelStatus ZEL_INSUFFICIENT_RESOURCES = -3;
constexpr ZelStatus ZEL_NO_ADAPTERS_FOUND = -4;
constexpr ZelStatus ZEL_NO_DEVICES_FOUND = -5;
constexpr ZelStatus ZEL_NO_DRIVER_FOUND = -6;
constexpr ZelStatus ZEL_PORT_NOT_FOUND = -7;
constexpr ZelStatus ZEL_PORT_KEY_NOT_FOUND = -8;
constexpr ZelStatus ZEL_NO_DEVICE_PARAMETERS_FOUND = -9;
constexpr ZelStatus ZEL_PORT_NAME_NOT_FOUND = -10;
constexpr ZelStatus ZEL_EXT_PORT_INFO_NOT_FOUND = -11;
constexpr ZelStatus ZEL_REGISTRY_SAVE_ERROR = -12;
constexpr ZelStatus ZEL_DRIVER_OPEN_FAILED = -13;
constexpr ZelStatus ZEL_DRIVER_COMM_FAILED = -14;
constexpr ZelStatus ZEL_DRIVER_CLOSE_FAILED = -15;
constexpr ZelStatus ZEL_NO_EVENT_LOG = -16;
constexpr ZelStatus ZEL_BUFFER_TOO_SMALL = -17;
constexpr ZelStatus ZEL_DEVICE_NOT_FOUND = -18;
constexpr ZelStatus ZEL_MIP_FILE_OPEN_ERROR = -19;
constexpr ZelStatus ZEL_MIP_INVALID_MIP_FILE = -20;
constexpr ZelStatus ZEL_MIP_FILE_WRITE_ERROR = -21;
constexpr ZelStatus ZEL_MIP_FILE_READ_ERROR = -22;
constexpr ZelStatus ZEL_MIP_FILE_PARSE_ERROR = -23;
constexpr ZelStatus ZEL_INVALID_RANGE = -24;
constexpr ZelStatus ZEL_PORT_ALREADY_EXISTS = -25;
constexpr ZelStatus ZEL_INVALID_PORT_NUMBER = -26;
constexpr ZelStatus ZEL_ERROR_OPENING_LOGGING_REGISTRY = -27;
constexpr ZelStatus ZEL_ERROR_READING_LOGGING_REGISTRY = -28;
constexpr ZelStatus ZEL_ERROR_SAVING_LOGGING_REGISTRY = -29;
constexpr ZelStatus ZEL_ERROR_CLASS_INSTANCE_NOT_FOUND = -30;
constexpr ZelStatus ZEL_ERROR_PORT_IS_OPEN = -31;

struct ErrorName {
    DWORD code;
    const WCHAR* name;
};
constexpr size_t kErrorNameCount = 88;
extern const ErrorName ErrorNameTable[kErrorNameCount];

// The error of a platform call that just reported failure: GetLastError(), or ERROR_GEN_FAILURE when the
// platform left no code, so that a failure never reads as success. Call it first, before anything else
// can change the last error.
ZelStatus FailedCallError();

// The name of the first table row with this code, or null.
const WCHAR* LookupErrorName(DWORD code);

// Shows a modal box naming what failed and the code, with the system's text or the table's name.
// Returns the box's answer; never changes the code it reports.
int ShowErrorBox(const WCHAR* context, ZelStatus code);

// Trace categories and kinds.
constexpr DWORD TRACE_SETUP = 0x02;
constexpr DWORD TRACE_PORT_USAGE = 0x08;
constexpr DWORD TRACE_PORT_CONFIG = 0x80;
constexpr DWORD TRACE_ERROR = 1;
constexpr DWORD TRACE_WARNING = 2;
constexpr DWORD TRACE_FLOW = 3;
constexpr DWORD TRACE_INFO = 4;

// Off in the product: nothing in the library sets it. While it is 0 no trace line is built.
extern LONG TraceSwitch;
extern DWORD TraceMask;
extern DWORD TraceLevel;

// Writes one line "ZelIf(<label>) <format expanded>..." to the debug output; with hasCode the code is
// appended as eight hexadecimal digits with the system's text or the table's name. Dropped when all
// eight line slots are busy. Call it through ZEL_TRACE, which tests TraceSwitch first.
void TracePrint(DWORD category, DWORD kind, BOOL hasCode, DWORD code, const char* format, ...);

#define ZEL_TRACE(category, kind, hasCode, code, ...)                                      \
    do {                                                                                   \
        if (TraceSwitch) TracePrint((category), (kind), (hasCode), (DWORD)(code), __VA_ARGS__); \
    } while (0)
