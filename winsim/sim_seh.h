// The simulated thread's exception chain. On Windows a guard registers a frame on the thread's chain and
// the system dispatches exceptions (raised ones and processor faults) to it; here the simulated platform
// does the same with a per-thread list of frames, turning SIGSEGV, SIGBUS, SIGFPE and SIGILL into the
// matching exception codes. Only the library's exception guard uses this.
#pragma once

#include <csetjmp>

#include "winsim/win_api.h"

struct SimExceptionFrame {
    SimExceptionFrame* next = nullptr;
    sigjmp_buf resume;
    volatile DWORD code = 0;
};

// Pushes the frame; an exception on this thread then resumes at `resume` (siglongjmp with value 1)
// with `code` set and the frame already popped.
void SimPushExceptionFrame(SimExceptionFrame* frame);
void SimPopExceptionFrame(SimExceptionFrame* frame);
