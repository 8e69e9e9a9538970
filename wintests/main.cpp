// The Windows test program's entry: GoogleTest's runner, with everything that could wait for a person
// switched off. There is no display under the test script, and an exception that escapes a test must end
// the program with a line saying so rather than start a debugger.
#include <cstdio>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

LONG WINAPI ReportEscapedException(EXCEPTION_POINTERS* exception) {
    std::fprintf(stderr, "zel_wintests: exception %08lX at %p escaped a test\n",
                 exception->ExceptionRecord->ExceptionCode, exception->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(ReportEscapedException);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
