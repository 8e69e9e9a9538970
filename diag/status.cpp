#include "diag/status.h"
#include "platform/text.h"

LONG TraceSwitch = 0;
DWORD TraceMask = 0xFFFFFFFF;
DWORD TraceLevel = 0xFFFFFFFF;

namespace {

constexpr DWORD kSystemTextFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr size_t kLineSize = 512;
constexpr int kSlotCount = 8;

struct LineSlot {
    LONG volatile busy;
    char line[kLineSize];
};
LineSlot slots[kSlotCount];

const char* LabelFor(DWORD kind, BOOL hasCode, DWORD code) {
    if (kind == TRACE_ERROR || (kind == TRACE_FLOW && hasCode && code)) return "ERR_";
    if (kind == TRACE_WARNING) return "WARN";
    if (kind == TRACE_INFO) return "INFO";
    return "TRAC";
}

size_t Used(const char* line) { return ZelStrLenA(line); }

}  // namespace

void TracePrint(DWORD category, DWORD kind, BOOL hasCode, DWORD code, const char* format, ...) {
    if (!(category & TraceMask)) return;
    if (kind > TraceLevel) return;

    LineSlot* slot = nullptr;
    for (LineSlot& candidate : slots) {
        if (InterlockedCompareExchange(&candidate.busy, 1, 0) == 0) {
            slot = &candidate;
            break;
        }
    }
    if (!slot) return;  // eight lines in flight: this one is dropped

    char* systemText = nullptr;
    if (hasCode &&
        !FormatMessageA(kSystemTextFlags, nullptr, code, LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&systemText), 0,
                        nullptr))
        systemText = nullptr;

    // The label, the code and the system text are copied as they stand; only the caller's format text
    // consumes the caller's values.
    char* line = slot->line;
    ZelFormatA(line, kLineSize, "ZelIf(%s) ", LabelFor(kind, hasCode, code));
    va_list args;
    va_start(args, format);
    ZelFormatVA(line + Used(line), kLineSize - Used(line), format, args);
    va_end(args);
    if (!hasCode) {
        ZelFormatA(line + Used(line), kLineSize - Used(line), "\n");
    } else if (systemText) {
        // The system text brings its own line end.
        ZelFormatA(line + Used(line), kLineSize - Used(line), " (%8.8lX) %s", code, systemText);
    } else if (const WCHAR* name = LookupErrorName(code)) {
        ZelFormatA(line + Used(line), kLineSize - Used(line), " (%8.8lX) %ws\n", code, name);
    } else {
        ZelFormatA(line + Used(line), kLineSize - Used(line), " (%8.8lX)\n", code);
    }
    OutputDebugStringA(line);

    if (systemText) LocalFree(systemText);
    InterlockedExchange(&slot->busy, 0);
}

int ShowErrorBox(const WCHAR* context, ZelStatus code) {
    WCHAR* systemText = nullptr;
    if (!FormatMessageW(kSystemTextFlags, nullptr, static_cast<DWORD>(code), LANG_USER_DEFAULT,
                        reinterpret_cast<LPWSTR>(&systemText), 0, nullptr))
        systemText = nullptr;

    WCHAR message[kLineSize];
    if (systemText) {
        ZelFormat(message, kLineSize, TEXT("Error %d in %s: %s\n"), code, context, systemText);
    } else if (const WCHAR* name = LookupErrorName(static_cast<DWORD>(code))) {
        ZelFormat(message, kLineSize, TEXT("Error %8.8lX in %s: %s\n"), code, context, name);
    } else {
        ZelFormat(message, kLineSize, TEXT("Error %8.8lX in %s\n"), code, context);
    }
    if (systemText) LocalFree(systemText);
    return MessageBoxW(nullptr, message, TEXT(""), MB_OK);
}

ZelStatus FailedCallError() {
    DWORD error = GetLastError();
    return static_cast<ZelStatus>(error ? error : ERROR_GEN_FAILURE);
}
