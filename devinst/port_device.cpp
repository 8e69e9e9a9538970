// Adding a product port device under a claimed COM number, and finding and removing one.
#include <cstring>

#include "devinst/com_numbers.h"
#include "devinst/device_setup.h"
#include "driver/driver_channel.h"
#include "platform/guard.h"
#include "platform/text.h"
#include "portstore/port_info.h"
#include "portstore/product_settings.h"

namespace {

constexpr DWORD kPortNameChars = 20;
constexpr DWORD kProfileKeyChars = 24;
constexpr DWORD kProfileValueChars = 130;
constexpr DWORD kFriendlyNameChars = MAX_PATH;
constexpr DWORD kSearchPatternChars = 12;
constexpr DWORD kPropertyBytes = 1024;
constexpr DWORD kContextChars = MAX_PATH;
constexpr DWORD kStageContextChars = 512;
const WCHAR kDefaultPortSettings[] = TEXT("9600,n,8,1");

// Exact, case-sensitive substring search; never reads past the text's NUL.
const WCHAR* FindText(const WCHAR* text, const WCHAR* pattern) {
    for (; *text; ++text) {
        size_t i = 0;
        while (pattern[i] && text[i] == pattern[i]) ++i;
        if (!pattern[i]) return text;
    }
    return nullptr;
}

struct ProbeContext {
    DWORD answer;
    ZelStatus result;
};

void SendProbe(void* context) {
    auto* probe = static_cast<ProbeContext*>(context);
    probe->result = CallDriver(IOCTL_ZEL_PROBE, nullptr, 0, &probe->answer, sizeof probe->answer);
}

// 0 when the driver is loaded and answering; the answer itself means nothing.
ZelStatus ProbeDriver() {
    ProbeContext probe = {0, 0};
    if (ZelRunGuarded(SendProbe, &probe) != 0) return ZEL_UNKNOWN_EXCEPTION;
    return probe.result;
}

void ReleaseSetup(DeviceSetupInfo* info, HINF* inf) {
    if (info->DeviceInfoSet != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(info->DeviceInfoSet);
    info->DeviceInfoSet = INVALID_HANDLE_VALUE;
    if (*inf != INVALID_HANDLE_VALUE) SetupCloseInfFile(*inf);
    *inf = INVALID_HANDLE_VALUE;
}

void InitSetup(DeviceSetupInfo* info, DriverMatch* match) {
    std::memset(info, 0, sizeof *info);
    info->DeviceInfoSet = INVALID_HANDLE_VALUE;
    std::memset(match, 0, sizeof *match);
}

bool SetProperty(DeviceSetupInfo* info, DWORD property, const WCHAR* text) {
    DWORD bytes = static_cast<DWORD>((ZelStrLen(text) + 1) * sizeof(WCHAR));
    return SetupDiSetDeviceRegistryPropertyW(info->DeviceInfoSet, &info->DeviceInfoData, property,
                                             reinterpret_cast<const BYTE*>(text), bytes) != FALSE;
}

// One property-change request of RestartDevice; `which` names it in the error boxes.
ZelStatus ChangeDeviceState(DeviceSetupInfo* info, DWORD stateChange, DWORD scope, const WCHAR* which) {
    SP_PROPCHANGE_PARAMS params;
    WCHAR context[kContextChars];
    std::memset(&params, 0, sizeof params);
    params.ClassInstallHeader.cbSize = sizeof params.ClassInstallHeader;
    params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    params.StateChange = stateChange;
    params.Scope = scope;
    params.HwProfile = 0;
    const WCHAR* failedCall = nullptr;
    if (!SetupDiSetClassInstallParamsW(info->DeviceInfoSet, &info->DeviceInfoData, &params.ClassInstallHeader,
                                       sizeof params))
        failedCall = TEXT("SetupDiSetClassInstallParams");
    else if (!SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, info->DeviceInfoSet, &info->DeviceInfoData))
        failedCall = TEXT("SetupDiCallClassInstaller");
    if (!failedCall) return 0;
    ZelStatus status = FailedCallError();
    ZelFormat(context, kContextChars, TEXT("%s%s"), failedCall, which);
    ShowErrorBox(context, status);
    return status;
}

}  // namespace

ZelStatus _AddPort(DWORD port, DWORD installDriver) {
    HINF inf = INVALID_HANDLE_VALUE;
    DeviceSetupInfo info;
    DriverMatch match;
    PortInfo portInfo;
    WCHAR infPath[kInfPathChars] = {};
    DWORD portCount = 0;
    ZelStatus status = 0;

    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "_AddPort++ Port %d", port);
    InitSetup(&info, &match);
    // The package step stages the INF and updates every product device; the restart path trusts the
    // running driver and the INF staged last time.
    ZelStatus probe = installDriver == 1 ? 1 : ProbeDriver();
    BOOL packageStep = probe != 0;
    if (packageStep)
        CopyDriverInf(infPath);
    else
        GetInfPathFromRegistry(infPath);

    status = SetupDeviceInfo(infPath, &inf, &info, &match);
    if (status != 0) {
        ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, status, "_AddPortError-- Port %d", port);
        ReleaseSetup(&info, &inf);
        return status;
    }
    status = RegisterDevice(&info);
    if (status != 0) {
        ShowErrorBox(TEXT("RegisterDevice"), status);
        goto failed;
    }
    status = SelectDriver(info.DeviceInfoSet, &info.DeviceInfoData, packageStep, infPath, &match);
    if (status != 0) goto failed;
    status = InstallDevice(&info, port, &match);
    if (status != 0) {
        ShowErrorBox(TEXT("InstallDevice"), status);
        goto failed;
    }
    if (!packageStep) {
        status = RestartDevice(&info);
        if (status != 0) goto failed;
    } else {
        status = UpdateDriver(infPath);
        if (status != 0) {
            CleanupOnError(&info, inf, port);
            ShowErrorBox(TEXT("UpdateDriver"), status);
            ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, status, "_AddPortError-- Port %d", port);
            return status;
        }
    }
    ReleaseSetup(&info, &inf);

    // The new device's record, as the INF's defaults made it, learns its port number.
    std::memset(&portInfo, 0, sizeof portInfo);
    if (_GetPortInfoFromRegistry(static_cast<LONG>(port), &portCount, &portInfo) == 0) {
        portInfo.PortNumber = port;
        _SetPortInfoInRegistry(&portInfo);
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "_AddPort-- Port %d", port);
    return 0;

failed:
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, status, "_AddPortError-- Port %d", port);
    CleanupOnError(&info, inf, port);
    return status;
}

ZelStatus StageDriverPackage(const WCHAR* installDir, WCHAR* infPath, DWORD capacity, BOOL folderFirst) {
    WCHAR sourceFolder[kInfPathChars] = TEXT(".\\ZelDrvr\\");
    WCHAR sourceInf[kInfPathChars] = TEXT(".\\ZelDrvr\\ZelDrvr.inf");
    WCHAR context[kStageContextChars];
    ZelStatus status = 0;

    // The folder is expected to end with a backslash; the package folder's name is appended as it is.
    if (installDir && (!ZelFormat(sourceFolder, kInfPathChars, TEXT("%s%s\\"), installDir, TEXT("ZelDrvr")) ||
                       !ZelFormat(sourceInf, kInfPathChars, TEXT("%s%s\\%s"), installDir, TEXT("ZelDrvr"),
                                  TEXT("ZelDrvr.inf")))) {
        // A cut path would stage some other file: report it instead.
        status = ZEL_BUFFER_TOO_SMALL;
    } else if (!SetupCopyOEMInfW(sourceInf, sourceFolder, SPOST_PATH, 0, infPath, capacity, nullptr, nullptr)) {
        status = FailedCallError();
    }
    if (status != 0) {
        ZelFormat(context, kStageContextChars, TEXT("SetupCopyOEMInf:\n  : %s\n  : %s\n  "),
                  folderFirst ? sourceFolder : sourceInf, folderFirst ? sourceInf : sourceFolder);
        ShowErrorBox(context, status);
        infPath[0] = 0;
        return status;
    }
    SetInfPathInRegistry(infPath);
    ZelStrCopy(infPath, capacity, sourceInf);
    return 0;
}

ZelStatus CopyDriverInf(WCHAR* infPath) {
    WCHAR targetDir[kSettingsTextChars] = {};
    BOOL known = GetTargetDir(targetDir) == 0;
    return StageDriverPackage(known ? targetDir : nullptr, infPath, kInfPathChars, TRUE);
}

ZelStatus RegisterDevice(DeviceSetupInfo* info) {
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "RegisterDevice++");
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, info->DeviceInfoSet, &info->DeviceInfoData)) {
        ZelStatus status = FailedCallError();
        ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "RegisterDeviceError--");
        return status;
    }
    info->Registered = TRUE;
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "RegisterDevice--");
    return 0;
}

ZelStatus InstallDevice(DeviceSetupInfo* info, DWORD port, const DriverMatch* match) {
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "InstallDevice++");
    ZelStatus status = InstallPnPSerialPort(info, port, match);
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "InstallDevice--");
    return status;
}

ZelStatus InstallPnPSerialPort(DeviceSetupInfo* info, DWORD port, const DriverMatch* match) {
    HCOMDB database = HCOMDB_INVALID_HANDLE_VALUE;
    WCHAR portName[kPortNameChars];
    WCHAR friendlyName[kFriendlyNameChars];
    WCHAR profileKey[kProfileKeyChars];
    WCHAR profileValue[kProfileValueChars] = {};
    DWORD pollingPeriod = 0;
    ZelStatus status = 0;

    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "InstallPnPSerialPort++");
    status = ComDBOpen(&database);
    if (status != ERROR_SUCCESS) {
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status,
                  "InstallPnPSerialPortError-- (hComDB != HCOMDB_INVALID_HANDLE_VALUE)");
        return status;
    }
    // Forced: the number was found free, and a stale claim of a removed port must not stop it.
    status = ComDBClaimPort(database, port, TRUE, nullptr);
    ComDBClose(database);
    if (status != ERROR_SUCCESS) {
        ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, status, "InstallPnPSerialPortError-- (ComDBClaimPort)");
        return status;
    }

    ZelFormat(portName, kPortNameChars, TEXT("%s%d"), TEXT("COM"), port);
    HKEY hardwareKey = SetupDiCreateDevRegKeyW(info->DeviceInfoSet, &info->DeviceInfoData, DICS_FLAG_GLOBAL, 0,
                                               DIREG_DEV, nullptr, nullptr);
    if (hardwareKey == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) {
        status = FailedCallError();
        ZEL_TRACE(TRACE_SETUP, TRACE_INFO, FALSE, 0, "InstallPnPSerialPortError-- SetupDiCreateDevRegKey WAS NOT SUCCESSFUL");
        return status;
    }
    // Without its PortName the device is no port of the product: the port store and the port map never
    // find it, so a failed write fails the addition instead of reporting a port that cannot be used.
    status = RegSetValueExW(hardwareKey, TEXT("PortName"), 0, REG_SZ, reinterpret_cast<const BYTE*>(portName),
                            static_cast<DWORD>((ZelStrLen(portName) + 1) * sizeof(WCHAR)));
    if (status == ERROR_SUCCESS)
        RegSetValueExW(hardwareKey, TEXT("PollingPeriod"), 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&pollingPeriod), sizeof pollingPeriod);
    RegCloseKey(hardwareKey);
    if (status != ERROR_SUCCESS) {
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "InstallPnPSerialPortError-- (RegSetValueEx PortName)");
        return status;
    }

    ZelFormat(friendlyName, kFriendlyNameChars, TEXT("%s (%s)"), match->Description, portName);
    if (!SetProperty(info, SPDRP_FRIENDLYNAME, friendlyName)) {
        status = FailedCallError();
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "InstallPnPSerialPortError-- (SetupDiSetDeviceRegistryProperty)");
        return status;
    }

    DumpDeviceInfo(info->DeviceInfoSet, &info->DeviceInfoData);
    DumpDriverInfo(info->DeviceInfoSet, &info->DeviceInfoData);
    DumpDriverInfoDetail(info->DeviceInfoSet, &info->DeviceInfoData);
    DumpDeviceInstallParams(info->DeviceInfoSet, &info->DeviceInfoData);
    ZEL_TRACE(TRACE_SETUP, TRACE_INFO, FALSE, 0, "InstallPnPSerialPort Calling SetupDiInstallDevice");
    if (!SetupDiInstallDevice(info->DeviceInfoSet, &info->DeviceInfoData)) {
        status = FailedCallError();
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "InstallPnPSerialPortError-- (SetupDiInstallDevice)");
        return status;
    }

    // An existing setting for the port stays as the user left it.
    ZelFormat(profileKey, kProfileKeyChars, TEXT("%s:"), portName);
    GetProfileStringW(TEXT("Ports"), profileKey, TEXT(""), profileValue, kProfileValueChars);
    if (!profileValue[0]) WriteProfileStringW(TEXT("Ports"), profileKey, kDefaultPortSettings);
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "InstallPnPSerialPort--");
    return 0;
}

ZelStatus RestartDevice(DeviceSetupInfo* info) {
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "RestartDevice++");
    ZelStatus status = ChangeDeviceState(info, DICS_ENABLE, DICS_FLAG_GLOBAL, TEXT("(1)"));
    if (status == 0) status = ChangeDeviceState(info, DICS_PROPCHANGE, DICS_FLAG_CONFIGSPECIFIC, TEXT("(2)"));
    if (status != 0) {
        ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "RestartDeviceError--");
        return status;
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "RestartDevice--");
    return 0;
}

ZelStatus UpdateDriver(const WCHAR* infPath) {
    BOOL rebootNeeded = FALSE;
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "UpdateDriver++");
    if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, kPortHardwareId, infPath, INSTALLFLAG_FORCE, &rebootNeeded)) {
        ZelStatus status = FailedCallError();
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "UpdateDriverError-- (UpdateDriverForPlugAndPlayDevicesW)");
        return status;
    }
    if (rebootNeeded) {
        ZEL_TRACE(TRACE_SETUP, TRACE_WARNING, FALSE, 0, "UpdateDriver (UpdateDriverForPlugAndPlayDevicesW: A Reboot is Needed)");
        MessageBoxW(nullptr, TEXT("A Reboot Is Needed!!!!"), TEXT("AddPort Trace"), MB_OK);
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "UpdateDriver--");
    return 0;
}

void CleanupOnError(DeviceSetupInfo* info, HINF inf, DWORD port) {
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "CleanupOnError++");
    // A registered device may not carry its "(COMn)" mark yet, and removal would never find it: the set
    // still holds it, so take it out through the set before the set goes.
    UnregisterDevice(info);
    ReleaseSetup(info, &inf);
    _RemovePort(port);
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "CleanupOnError--");
}

ZelStatus _RemovePort(DWORD port) {
    HINF inf = INVALID_HANDLE_VALUE;
    DeviceSetupInfo info;
    DriverMatch match;
    WCHAR infPath[kInfPathChars] = {};
    WCHAR instanceId[kInstanceIdChars] = {};
    ZelStatus status = 0;

    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "_RemovePort++");
    InitSetup(&info, &match);
    // The number is freed first, also when no device is found or its removal fails.
    _ReleasePort(port);
    GetInfPathFromRegistry(infPath);
    status = SetupDeviceInfo(infPath, &inf, &info, &match);
    if (status != 0) {
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "_RemovePortError-- (SetupDeviceInfo)");
        goto release;
    }
    status = GetInstanceString(port, instanceId);
    if (status != 0) {
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "_RemovePortError-- (GetInstanceString)");
        goto release;
    }
    if (!SetupDiOpenDeviceInfoW(info.DeviceInfoSet, instanceId, nullptr, DIOD_INHERIT_CLASSDRVS,
                                &info.DeviceInfoData)) {
        status = FailedCallError();
        // A device of another class than the INF's is not ours to remove, and not worth a box.
        if (status != static_cast<ZelStatus>(ERROR_CLASS_MISMATCH)) ShowErrorBox(TEXT("SetupDiOpenDeviceInfo"), status);
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "_RemovePortError-- (SetupDiOpenDeviceInfo) %ws", instanceId);
        goto release;
    }
    if (!SetupDiRemoveDevice(info.DeviceInfoSet, &info.DeviceInfoData)) {
        status = FailedCallError();
        ShowErrorBox(TEXT("SetupDiRemoveDevice"), status);
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "_RemovePortError-- (SetupDiRemoveDevice)");
        goto release;
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "_RemovePort--");

release:
    UnregisterDevice(&info);
    ReleaseSetup(&info, &inf);
    return status;
}

ZelStatus GetInstanceString(DWORD port, WCHAR* instanceId) {
    WCHAR pattern[kSearchPatternChars];
    BOOL found = FALSE;
    ZelStatus status = 0;

    instanceId[0] = 0;
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "GetInstanceString++ COM%d", port);
    HDEVINFO set = SetupDiGetClassDevsW(&kPortsClassGuid, nullptr, nullptr, 0);
    if (set == INVALID_HANDLE_VALUE) {
        status = FailedCallError();
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "GetInstanceStringError--");
        return status;
    }
    // A pattern cut to fit would match other ports' names: such a number has no device.
    BOOL searchable = ZelFormat(pattern, kSearchPatternChars, TEXT("(COM%d)"), port);
    for (DWORD index = 0; searchable; ++index) {
        SP_DEVINFO_DATA device = {};
        WCHAR property[kPropertyBytes / sizeof(WCHAR) + 1] = {};
        DWORD type = 0;
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set, index, &device)) break;
        ZEL_TRACE(TRACE_SETUP, TRACE_INFO, FALSE, 0, "GetInstanceString %d %X GUID %X %X", index, device.DevInst,
                  device.ClassGuid.Data1, device.ClassGuid.Data2);
        if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, &type, reinterpret_cast<BYTE*>(property),
                                               kPropertyBytes, nullptr))
            continue;
        ZEL_TRACE(TRACE_SETUP, TRACE_INFO, FALSE, 0, "GetInstanceString HardwareId %ws", property);
        if (!ZelStrEqualNoCase(property, kPortHardwareId)) continue;
        // The same buffer: cleared, so that a name without its terminator does not run into the IDs.
        std::memset(property, 0, sizeof property);
        if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, &type,
                                               reinterpret_cast<BYTE*>(property), kPropertyBytes, nullptr))
            continue;
        ZEL_TRACE(TRACE_SETUP, TRACE_INFO, FALSE, 0, "GetInstanceString Com %ws", property);
        if (!FindText(property, pattern)) continue;
        if (SetupDiGetDeviceInstanceIdW(set, &device, instanceId, kInstanceIdChars, nullptr)) {
            found = TRUE;
            break;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    if (found) {
        ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "GetInstanceString-- %ws", instanceId);
        return 0;
    }
    // A walk that found nothing ends with the platform's last code; none at all means no such device.
    status = static_cast<ZelStatus>(GetLastError());
    if (status == 0) status = ZEL_ERROR_CLASS_INSTANCE_NOT_FOUND;
    instanceId[0] = 0;
    ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "GetInstanceStringError-- %ws", instanceId);
    return status;
}

ZelStatus UnregisterDevice(DeviceSetupInfo* info) {
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "UnregisterDevice++");
    if (info->Registered) {
        if (!SetupDiCallClassInstaller(DIF_REMOVE, info->DeviceInfoSet, &info->DeviceInfoData)) {
            ZelStatus status = FailedCallError();
            ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "UnregisterDeviceError--");
            return status;
        }
        info->Registered = FALSE;
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "UnregisterDevice--");
    return 0;
}
