#include "platform/guard.h"

#ifdef _WIN32

// 32-bit Windows dispatches structured exceptions through the chain of registration records that starts
// at fs:[0]. GCC has no __try/__except there, so the guard registers a record of its own: its handler
// takes any exception, lets RtlUnwind run the handlers of the frames above the guard, unlinks the record
// and resumes in ZelRunGuarded through __builtin_longjmp. A vectored handler would not do: it also sees
// the exceptions that system code raises and handles itself (debug output is sent that way).
namespace {

constexpr DWORD kUnwinding = 0x2;
constexpr DWORD kExitUnwind = 0x4;
constexpr DWORD kNestedCall = 0x10;

struct GuardFrame {
    GuardFrame* next;  // the first two fields form the system's registration record
    void* handler;
    void* resume[5];   // __builtin_setjmp buffer
    volatile DWORD code;
};

extern "C" __attribute__((noinline)) EXCEPTION_DISPOSITION __cdecl ZelGuardHandler(EXCEPTION_RECORD* record,
                                                                                   void* establisher, CONTEXT*,
                                                                                   void*) {
    if (record->ExceptionFlags & (kUnwinding | kExitUnwind | kNestedCall)) return ExceptionContinueSearch;
    // Kept in memory: RtlUnwind does not preserve every callee-saved register on all versions.
    GuardFrame* volatile frame = static_cast<GuardFrame*>(establisher);
    frame->code = record->ExceptionCode;
    RtlUnwind(establisher, nullptr, record, nullptr);
    __writefsdword(0, reinterpret_cast<DWORD>(frame->next));
    __builtin_longjmp(frame->resume, 1);
}

}  // namespace

DWORD ZelRunGuarded(ZelGuardedBody body, void* context) {
    GuardFrame frame;
    frame.handler = reinterpret_cast<void*>(&ZelGuardHandler);
    frame.code = 0;
    frame.next = reinterpret_cast<GuardFrame*>(__readfsdword(0));
    if (__builtin_setjmp(frame.resume)) return frame.code;
    __writefsdword(0, reinterpret_cast<DWORD>(&frame));
    body(context);
    __writefsdword(0, reinterpret_cast<DWORD>(frame.next));
    return 0;
}

#else

#include "winsim/sim_seh.h"

DWORD ZelRunGuarded(ZelGuardedBody body, void* context) {
    SimExceptionFrame frame;
    if (sigsetjmp(frame.resume, 1) != 0) return frame.code;
    SimPushExceptionFrame(&frame);
    body(context);
    SimPopExceptionFrame(&frame);
    return 0;
}

#endif
