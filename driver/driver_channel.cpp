#include "driver/driver_channel.h"

#include "platform/guard.h"

namespace {

constexpr WCHAR kControlDevice[] = TEXT("\\\\.\\Zel");

struct PortStatusCall {
    PortStatus* status;
    ZelStatus result;
};

void GetPortStatusBody(void* context) {
    auto* call = static_cast<PortStatusCall*>(context);
    call->result = QueryPortStatus(call->status);
}

}  // namespace

ZelStatus CallDriver(DWORD controlCode, void* input, DWORD inputLength, void* output, DWORD outputLength) {
    // Overlapped although no request passes an OVERLAPPED: the handle lives for this one request only.
    HANDLE device = CreateFileW(kControlDevice, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) return ZEL_DRIVER_OPEN_FAILED;

    DWORD bytesReturned = 0;
    ZelStatus result = 0;
    if (!DeviceIoControl(device, controlCode, input, inputLength, output, outputLength, &bytesReturned, nullptr)) {
        result = static_cast<ZelStatus>(GetLastError());
        CloseHandle(device);
    } else if (!CloseHandle(device)) {
        result = ZEL_DRIVER_CLOSE_FAILED;
    }
    return result;
}

ZelStatus SendPortCommand(DWORD portNumber, DWORD controlCode, DWORD argument, void* buffer, DWORD bufferLength) {
    PortRequest request;
    request.Argument = argument;
    request.PortNumber = portNumber;
    request.Reserved = 0;
    request.BufferLength = bufferLength;
    request.Buffer = buffer;
    return CallDriver(controlCode, &request, sizeof request, nullptr, 0);
}

ZelStatus QueryPortConfig(void* buffer, DWORD bufferLength, DWORD portNumber) {
    return SendPortCommand(portNumber, IOCTL_ZEL_GET_PORT_CONFIG, 0, buffer, bufferLength);
}

ZelStatus QueryPortStatus(PortStatus* status) {
    return SendPortCommand(status->PortNumber, IOCTL_ZEL_GET_PORT_STATUS, 0, status, sizeof(PortStatus));
}

ZelStatus QueryDriverVersion(char* text, DWORD* length) {
    return CallDriver(IOCTL_ZEL_GET_VERSION, nullptr, 0, text, *length);
}

ZelStatus GetPortStatus(PortStatus* status) {
    PortStatusCall call{status, 0};
    DWORD exception = ZelRunGuarded(GetPortStatusBody, &call);
    return exception ? static_cast<ZelStatus>(exception) : call.result;
}
