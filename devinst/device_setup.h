// Port device installation: the product INF walked to its model line, a device element of the INF's
// class given the product hardware ID and its driver, and the addition and removal of port devices.
//
// Every port device of the product is a root-enumerated device of the INF's setup class (Ports) whose
// first hardware ID is "*zeldevice" and whose friendly name ends with its port name in parentheses.
#pragma once

#include "diag/status.h"

extern const GUID kPortsClassGuid;  // {4D36E978-E325-11CE-BFC1-08002BE10318}

constexpr DWORD kMatchTextChars = 100;  // DriverMatch fields, NUL included
constexpr DWORD kInfPathChars = MAX_PATH;
constexpr DWORD kInstanceIdChars = 200;

// The device element being installed or removed.
struct DeviceSetupInfo {
    HDEVINFO DeviceInfoSet;  // INVALID_HANDLE_VALUE when there is none
    HWND ParentWindow;       // always null
    SP_DEVINFO_DATA DeviceInfoData;
    BOOL Registered;            // the element was registered with the class installer
    const WCHAR* HardwareId;    // DriverMatch.HardwareId of the same installation
};

// What the walk of the INF found.
struct DriverMatch {
    WCHAR HardwareId[kMatchTextChars];    // the matching ID as the INF writes it
    WCHAR Manufacturer[kMatchTextChars];  // key of the Manufacturer line that led to it
    WCHAR Description[kMatchTextChars];   // key of the model line: the device description
    BOOL Found;
};

// Opens the INF (into *infHandle at once, also INVALID_HANDLE_VALUE), finds the model line carrying the
// product ID, creates an empty set of the INF's class and one new element in it with that hardware ID.
// The caller owns and releases the INF handle and info->DeviceInfoSet whatever the result; on failure an
// error box has been shown.
ZelStatus SetupDeviceInfo(const WCHAR* infPath, HINF* infHandle, DeviceSetupInfo* info, DriverMatch* match);
// The steps of SetupDeviceInfo. EnumManufacturers and EnumDevices return ERROR_NO_MORE_ITEMS when no
// line matched.
ZelStatus EnumManufacturers(HINF inf, DriverMatch* match);
ZelStatus EnumDevices(HINF inf, const WCHAR* section, DriverMatch* match);
// 0 when an entry of ids (a null-ended list) is the ID looked for: match is filled and *status set to 0.
// 1 otherwise, nothing changed.
int DeviceCallback(const WCHAR* const* ids, DriverMatch* match, const WCHAR* description, ZelStatus* status);
// Field `index` of the line into buffer (capacity characters). A field too long for the buffer fails with
// ERROR_INSUFFICIENT_BUFFER and leaves the buffer empty.
ZelStatus GetField(INFCONTEXT* context, DWORD index, WCHAR* buffer, DWORD capacity);
ZelStatus Create(DeviceSetupInfo* info, const GUID* classGuid);
ZelStatus CreateDeviceInfo(const WCHAR* className, const GUID* classGuid, DeviceSetupInfo* info,
                           const WCHAR* hardwareId);
// Makes the model line's driver, from this one INF, the element's selected driver; copyFiles FALSE sets
// DI_NOFILECOPY. Shows an error box on failure.
ZelStatus SelectDriver(HDEVINFO set, SP_DEVINFO_DATA* element, BOOL copyFiles, const WCHAR* infPath,
                       const DriverMatch* match);

// The element's installation state, to the trace.
void DumpDeviceInfo(HDEVINFO set, SP_DEVINFO_DATA* element);
void DumpDriverInfo(HDEVINFO set, SP_DEVINFO_DATA* element);
void DumpDriverInfoDetail(HDEVINFO set, SP_DEVINFO_DATA* element);
void DumpDeviceInstallParams(HDEVINFO set, SP_DEVINFO_DATA* element);

// ---- Adding and removing port devices ----

// Creates, registers and installs the product device of COM number port, claims the number and writes
// the port's settings; installDriver 1 stages the package and updates the driver of every product device
// without probing the driver. On a failure after registration the device and its claim are taken out
// again. Returns 0 or the failing step's code.
ZelStatus _AddPort(DWORD port, DWORD installDriver);
// Stages the driver package ZelDrvr\ZelDrvr.inf of installDir (".\ZelDrvr\" when null) in the system's
// INF folder and records the staged copy as InfFile. On success infPath (capacity characters) holds the
// source INF; on failure it is empty and an error box naming both paths (the folder first when
// folderFirst) has been shown.
ZelStatus StageDriverPackage(const WCHAR* installDir, WCHAR* infPath, DWORD capacity, BOOL folderFirst);
// Stages the package of the recorded installation folder; infPath (kInfPathChars) receives the source INF.
ZelStatus CopyDriverInf(WCHAR* infPath);
ZelStatus RegisterDevice(DeviceSetupInfo* info);
ZelStatus InstallDevice(DeviceSetupInfo* info, DWORD port, const DriverMatch* match);
ZelStatus InstallPnPSerialPort(DeviceSetupInfo* info, DWORD port, const DriverMatch* match);
ZelStatus RestartDevice(DeviceSetupInfo* info);
ZelStatus UpdateDriver(const WCHAR* infPath);
// Releases the set and the INF handle of a failed addition and removes what it left of the port.
void CleanupOnError(DeviceSetupInfo* info, HINF inf, DWORD port);

// Frees the COM number and removes the product device of port. Returns 0 or the failing step's code;
// the number is freed in every case.
ZelStatus _RemovePort(DWORD port);
// The instance ID (kInstanceIdChars) of the product device whose friendly name carries "(COM<port>)".
// Returns 0, the platform's error, or ZEL_ERROR_CLASS_INSTANCE_NOT_FOUND.
ZelStatus GetInstanceString(DWORD port, WCHAR* instanceId);
// Takes a registered element out of the system again; nothing to do for an unregistered one.
ZelStatus UnregisterDevice(DeviceSetupInfo* info);
