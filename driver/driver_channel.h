// The control channel to the product's driver behind "\\.\Zel": one open, one control request and one
// close per exchange, the request records, and the guarded port status query.
#pragma once

#include "diag/status.h"

constexpr DWORD FILE_DEVICE_ZEL = 0x818A;
constexpr DWORD IOCTL_ZEL_PORT_CHANGED = CTL_CODE(FILE_DEVICE_ZEL, 1, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_ZEL_GET_PORT_CONFIG = CTL_CODE(FILE_DEVICE_ZEL, 2, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_ZEL_GET_PORT_STATUS = CTL_CODE(FILE_DEVICE_ZEL, 6, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_ZEL_PROBE = CTL_CODE(FILE_DEVICE_ZEL, 109, METHOD_BUFFERED, FILE_READ_ACCESS);
constexpr DWORD IOCTL_ZEL_GET_VERSION = CTL_CODE(FILE_DEVICE_ZEL, 122, METHOD_BUFFERED, FILE_READ_ACCESS);

// Sent as the whole input of a port request. The driver writes its answer straight into Buffer, which
// must stay writable for BufferLength bytes until the request returns.
struct PortRequest {
    DWORD Argument;
    DWORD PortNumber;
    DWORD Reserved;
    DWORD BufferLength;
    void* Buffer;  // a 32-bit address in the DLL; the 64-bit native build carries a full pointer
};

#pragma pack(push, 1)
struct PortStatus {
    DWORD PortNumber;  // set by the caller
    WORD PortOpen;     // 1 when an application holds the port open; any other value means not open
    BYTE DriverStatus[134];
};
#pragma pack(pop)
static_assert(sizeof(PortStatus) == 140, "PortStatus is the driver's 140-byte record");
static_assert(offsetof(PortStatus, PortOpen) == 4, "PortOpen is read at offset 4");

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PortRequest) == 20, "PortRequest is 20 bytes on the wire");
static_assert(offsetof(PortRequest, Argument) == 0 && offsetof(PortRequest, PortNumber) == 4 &&
                  offsetof(PortRequest, Reserved) == 8 && offsetof(PortRequest, BufferLength) == 12 &&
                  offsetof(PortRequest, Buffer) == 16,
              "PortRequest field offsets");
#endif

// One complete exchange: 0, ZEL_DRIVER_OPEN_FAILED when the device cannot be opened, the Windows error of
// a failed request, or ZEL_DRIVER_CLOSE_FAILED when only the close failed.
ZelStatus CallDriver(DWORD controlCode, void* input, DWORD inputLength, void* output, DWORD outputLength);
ZelStatus SendPortCommand(DWORD portNumber, DWORD controlCode, DWORD argument, void* buffer, DWORD bufferLength);
ZelStatus QueryPortConfig(void* buffer, DWORD bufferLength, DWORD portNumber);
ZelStatus QueryPortStatus(PortStatus* status);
// Asks for the driver's version text into text, *length bytes; *length is read, never written.
ZelStatus QueryDriverVersion(char* text, DWORD* length);

// QueryPortStatus under the exception guard: an exception's code becomes the result.
ZelStatus GetPortStatus(PortStatus* status);
