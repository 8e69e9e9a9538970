// Forced into every GoogleTest translation unit of the Windows test program: GoogleTest's Notification,
// which it otherwise builds on std::mutex, on a manual-reset event. mingw-w64's win32 thread model has
// no std::mutex; GTEST_HAS_NOTIFICATION_ tells GoogleTest this class is already there.
#pragma once

// Wide by default, as in the library's platform header, whichever of the two comes first.
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing
