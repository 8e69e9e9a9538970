// The catch-all exception guard: structured exceptions of every kind, processor faults included, end
// the guarded body and come back as their code instead of ending the process.
#pragma once

#include "platform/platform.h"

typedef void (*ZelGuardedBody)(void* context);

// Runs body(context). Returns 0 when the body ran to its end, otherwise the code of the exception that
// ended it (for example 0xC0000005 for an access violation). Nothing the body acquired is released on
// the exceptional path; the body keeps what the caller must clean up in its context.
DWORD ZelRunGuarded(ZelGuardedBody body, void* context);
