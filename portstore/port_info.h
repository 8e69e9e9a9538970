// The per-port configuration record and its registry store.
//
// A port's configuration lives beside its device, in the class instance key of the Ports class:
//   HKLM\System\CurrentControlSet\Enum\Root\Ports\<instance>         HardwareID, Driver
//   HKLM\...\Enum\Root\Ports\<instance>\Device Parameters            PortName ("COM5")
//   HKLM\System\CurrentControlSet\Control\Class\{Ports}\<NNNN>\Properties          the settings
//   HKLM\...\Control\Class\{Ports}\<NNNN>\Properties\Service<i>                   service i
// where NNNN is the last four characters of the device's Driver value. The product's driver reads the
// same keys, and exchanges PortInfo in exactly this layout.
#pragma once

#include <cstddef>

#include "diag/status.h"

constexpr DWORD kMaxPortServices = 8;
constexpr DWORD kServiceAddressChars = 64;
constexpr DWORD kPortInfoNameChars = 8;

#pragma pack(push, 1)
struct PortService {
    DWORD Type;
    DWORD Port;
    WCHAR Address[kServiceAddressChars];  // text and NUL; stored as all 128 bytes
};

struct PortInfo {
    DWORD PortNumber;
    WCHAR PortName[kPortInfoNameChars];  // the device's name, never stored under Properties
    DWORD AES;
    BYTE AESKey[32];
    DWORD AESKeyLength;
    DWORD AutoReconErr;
    DWORD AutoReconPeer;
    DWORD CnTmo;
    DWORD NoDiscon;
    DWORD ReconLimit;
    DWORD UseRFC2217;
    DWORD DtrConnection;
    DWORD WaitOnWrite;
    DWORD BufferWrites;
    DWORD TransmitEmpty;
    DWORD ListenMode;
    DWORD KeepAliveOnOff;
    DWORD KeepAliveTime;
    DWORD KeepAliveInterval;
    DWORD NumServices;  // a signed count: entries 0 to min(NumServices, 8) - 1 are valid
    PortService Services[kMaxPortServices];
};
#pragma pack(pop)

// The driver shares this layout byte for byte.
static_assert(sizeof(PortService) == 136, "PortService is 136 bytes");
static_assert(offsetof(PortService, Type) == 0 && offsetof(PortService, Port) == 4 &&
                  offsetof(PortService, Address) == 8,
              "PortService field offsets");
static_assert(sizeof(PortInfo) == 1208, "PortInfo is 1208 bytes");
static_assert(offsetof(PortInfo, PortNumber) == 0, "PortInfo.PortNumber");
static_assert(offsetof(PortInfo, PortName) == 4, "PortInfo.PortName");
static_assert(offsetof(PortInfo, AES) == 20, "PortInfo.AES");
static_assert(offsetof(PortInfo, AESKey) == 24, "PortInfo.AESKey");
static_assert(offsetof(PortInfo, AESKeyLength) == 56, "PortInfo.AESKeyLength");
static_assert(offsetof(PortInfo, AutoReconErr) == 60, "PortInfo.AutoReconErr");
static_assert(offsetof(PortInfo, AutoReconPeer) == 64, "PortInfo.AutoReconPeer");
static_assert(offsetof(PortInfo, CnTmo) == 68, "PortInfo.CnTmo");
static_assert(offsetof(PortInfo, NoDiscon) == 72, "PortInfo.NoDiscon");
static_assert(offsetof(PortInfo, ReconLimit) == 76, "PortInfo.ReconLimit");
static_assert(offsetof(PortInfo, UseRFC2217) == 80, "PortInfo.UseRFC2217");
static_assert(offsetof(PortInfo, DtrConnection) == 84, "PortInfo.DtrConnection");
static_assert(offsetof(PortInfo, WaitOnWrite) == 88, "PortInfo.WaitOnWrite");
static_assert(offsetof(PortInfo, BufferWrites) == 92, "PortInfo.BufferWrites");
static_assert(offsetof(PortInfo, TransmitEmpty) == 96, "PortInfo.TransmitEmpty");
static_assert(offsetof(PortInfo, ListenMode) == 100, "PortInfo.ListenMode");
static_assert(offsetof(PortInfo, KeepAliveOnOff) == 104, "PortInfo.KeepAliveOnOff");
static_assert(offsetof(PortInfo, KeepAliveTime) == 108, "PortInfo.KeepAliveTime");
static_assert(offsetof(PortInfo, KeepAliveInterval) == 112, "PortInfo.KeepAliveInterval");
static_assert(offsetof(PortInfo, NumServices) == 116, "PortInfo.NumServices");
static_assert(offsetof(PortInfo, Services) == 120, "PortInfo.Services");

// Registry layout shared with the driver and the device installation.
extern const WCHAR kPortsEnumKey[];   // "System\CurrentControlSet\Enum\Root\Ports"
extern const WCHAR kPortsClassKey[];  // "System\CurrentControlSet\Control\Class\{4D36E978-...}"
extern const WCHAR kPortHardwareId[];  // "*zeldevice", the first hardware ID of a product port

// Key paths are built in buffers of this many characters; a path that does not fit is never opened.
constexpr DWORD kPortKeyPathChars = 260;
// The load examines at most this many product devices.
constexpr DWORD kMaxExaminedPorts = 256;

// The COM number of a port name: the decimal number after its first three characters, read as wcstol
// reads base 10 (so "COM" gives 0, "COM12x" 12, "COM-3" -3); 0 for a name shorter than three characters.
LONG ParseComNumber(const WCHAR* portName);

// Loads the record of COM number `port` from the product device that has it (the last one enumerated,
// when several have). *count receives the number of product devices whose PortName was read, at most
// 256, in every case. Returns 0 when the record was read completely; otherwise ZEL_PORT_KEY_NOT_FOUND,
// ZEL_PORT_NOT_FOUND, ZEL_NO_DEVICE_PARAMETERS_FOUND, ZEL_PORT_NAME_NOT_FOUND or
// ZEL_EXT_PORT_INFO_NOT_FOUND. Values that could not be read leave their fields as the caller set them.
ZelStatus _GetPortInfoFromRegistry(LONG port, DWORD* count, PortInfo* info);

// Stores the record under every product device whose COM number is info->PortNumber. PortName is not
// stored. Returns 0, ZEL_PORT_KEY_NOT_FOUND, ZEL_NO_DEVICES_FOUND, ZEL_NO_DEVICE_PARAMETERS_FOUND,
// ZEL_PORT_NAME_NOT_FOUND, ZEL_EXT_PORT_INFO_NOT_FOUND or ZEL_REGISTRY_SAVE_ERROR; after a failed write
// the values written before it stay.
ZelStatus _SetPortInfoInRegistry(const PortInfo* info);

// The two halves of a load and a store, on one port's Properties key (path below HKLM). Only the
// outer operations above call them.
ZelStatus _GetClassPortProperties(PortInfo* info, const WCHAR* propertiesPath);
ZelStatus _GetClassPortServices(PortService* services, const WCHAR* propertiesPath, LONG count);
ZelStatus _SetClassPortProperties(const PortInfo* info, const WCHAR* propertiesPath);
ZelStatus _SetClassPortServices(const WCHAR* propertiesPath, const PortService* services, LONG count);
