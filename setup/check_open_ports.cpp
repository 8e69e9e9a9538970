#include "driver/driver_channel.h"
#include "setup/custom_actions.h"

namespace {

constexpr DWORD kLastPort = 256;

void CheckForOpenPortsBody(CustomAction* action) {
    PortStatus status = {};
    action->result = 0;
    for (DWORD port = 1; port <= kLastPort; ++port) {
        status.PortNumber = port;
        ZelStatus result = GetPortStatus(&status);
        if (result == ZEL_DRIVER_OPEN_FAILED) return;  // no driver, so no port can be open
        if (result != 0 || status.PortOpen != 1) continue;
        int answer = MessageBoxW(nullptr,
                                 TEXT("There are still ZEL ports open.\nPlease close these ports before continuing."),
                                 TEXT(""), MB_RETRYCANCEL);
        // Only Retry scans again. A box that could not be shown (0, no interactive desktop in a silent
        // installation) must not turn into an endless scan while the port stays open.
        if (answer != IDRETRY) {
            action->result = static_cast<UINT>(-2);
            return;
        }
        port = 0;
    }
}

}  // namespace

extern "C" UINT WINAPI CheckForOpenPorts(MSIHANDLE install) {
    CustomAction action = {install, false, CheckForOpenPortsBody, 0, 0};
    return RunCustomAction(&action);
}
