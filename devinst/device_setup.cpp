#include "devinst/device_setup.h"

#include <cstring>

#include "platform/text.h"
#include "portstore/port_info.h"

const GUID kPortsClassGuid = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

namespace {

constexpr DWORD kClassNameChars = 64;
constexpr DWORD kManufacturerFieldChars = 128;
constexpr DWORD kMaxModelIds = 16;
constexpr DWORD kLastModelIdField = 17;
constexpr DWORD kContextChars = MAX_PATH;
// The detail record with room for its hardware and compatible IDs.
constexpr DWORD kDriverDetailBytes = 1870;

bool IsNullGuid(const GUID& guid) {
    static const GUID kNull = {};
    return std::memcmp(&guid, &kNull, sizeof guid) == 0;
}

// An error box whose context is a format with the INF path.
void ShowPathErrorBox(const WCHAR* format, const WCHAR* infPath, ZelStatus code) {
    WCHAR context[kContextChars];
    ZelFormat(context, kContextChars, format, infPath);
    ShowErrorBox(context, code);
}

}  // namespace

ZelStatus SetupDeviceInfo(const WCHAR* infPath, HINF* infHandle, DeviceSetupInfo* info, DriverMatch* match) {
    WCHAR className[kClassNameChars] = {};
    GUID classGuid = {};
    DWORD guidCount = 0;
    ZelStatus status = 0;

    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "SetupDeviceInfo++ InfPath \"%ws\"", infPath);
    *infHandle = SetupOpenInfFileW(infPath, nullptr, INF_STYLE_WIN4, nullptr);
    if (*infHandle == INVALID_HANDLE_VALUE) {
        status = FailedCallError();
        ShowPathErrorBox(TEXT("SetupOpenInfFile: %s"), infPath, status);
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "SetupDeviceInfoError-- (SetupOpenInfFile)");
        return status;
    }
    if (!SetupDiGetINFClassW(infPath, &classGuid, className, kClassNameChars, nullptr)) {
        status = FailedCallError();
        ShowPathErrorBox(TEXT("SetupDiGetINFClass: %s"), infPath, status);
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "SetupDeviceInfoERROR-- (SetupDiGetINFClass)");
        return status;
    }
    // An INF may name its class without giving the GUID.
    if (IsNullGuid(classGuid) && !SetupDiClassGuidsFromNameW(className, &classGuid, 1, &guidCount)) {
        status = FailedCallError();
        ShowPathErrorBox(TEXT("SetupDiClassGuidsFromName: %s"), infPath, status);
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "SetupDeviceInfoError-- (SetupDiClassGuidsFromName)");
        return status;
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_INFO, FALSE, 0, "SetupDeviceInfo class %ws", className);

    std::memset(match, 0, sizeof *match);
    if (!ZelStrCopy(match->HardwareId, kMatchTextChars, kPortHardwareId)) {
        status = ERROR_INSUFFICIENT_BUFFER;
        ShowErrorBox(TEXT("StringCchCopy"), status);
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "SetupDeviceInfoError-- (StringCchCopy)");
        return status;
    }
    status = EnumManufacturers(*infHandle, match);
    if (status != 0) {
        ShowErrorBox(TEXT("EnumManufacturers"), status);
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "SetupDeviceInfoError-- (EnumManufacturers)");
        return status;
    }
    status = Create(info, &classGuid);
    if (status != 0) {
        ShowErrorBox(TEXT("Create"), status);
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "SetupDeviceInfoError-- (Create)");
        return status;
    }
    status = CreateDeviceInfo(className, &classGuid, info, match->HardwareId);
    if (status != 0) {
        ShowErrorBox(TEXT("CreateDeviceInfo"), status);
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "SetupDeviceInfoError-- (CreateDeviceInfo)");
        return status;
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_INFO, FALSE, 0, "SetupDeviceInfo devid %ws", match->HardwareId);
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "SetupDeviceInfo--");
    return 0;
}

ZelStatus EnumManufacturers(HINF inf, DriverMatch* match) {
    INFCONTEXT line;
    WCHAR manufacturer[kManufacturerFieldChars];
    WCHAR models[kManufacturerFieldChars];
    WCHAR decoration[kManufacturerFieldChars];
    WCHAR section[kManufacturerFieldChars];
    ZelStatus status = 0;

    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "EnumManufacturers++");
    if (!SetupFindFirstLineW(inf, TEXT("Manufacturer"), TEXT("Kelmiso"), &line)) {
        status = FailedCallError();
        ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, status, "EnumManufacturersError-- (SetupFindFirstLine)");
        return status;
    }
    for (;;) {
        // Only the first decoration is searched; a line without one ends the walk.
        if ((status = GetField(&line, 0, manufacturer, kManufacturerFieldChars)) != 0 ||
            (status = GetField(&line, 1, models, kManufacturerFieldChars)) != 0 ||
            (status = GetField(&line, 2, decoration, kManufacturerFieldChars)) != 0)
            break;
        // A section name cut to fit would name another section.
        if (!ZelFormat(section, kManufacturerFieldChars, TEXT("%s.%s"), models, decoration)) {
            status = ERROR_INSUFFICIENT_BUFFER;
            break;
        }
        ZelStrCopy(match->Manufacturer, kMatchTextChars, manufacturer);
        status = EnumDevices(inf, section, match);
        if (status == 0 && match->Found) break;
        if (status != ERROR_NO_MORE_ITEMS) break;
        if (!SetupFindNextLine(&line, &line)) {
            status = ERROR_NO_MORE_ITEMS;
            break;
        }
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, status, "EnumManufacturers--");
    return status;
}

ZelStatus EnumDevices(HINF inf, const WCHAR* section, DriverMatch* match) {
    INFCONTEXT line;
    ZelStatus status = 0;

    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "EnumDevices++");
    if (!SetupFindFirstLineW(inf, section, nullptr, &line)) return FailedCallError();
    for (;;) {
        WCHAR description[kMatchTextChars];
        WCHAR installSection[kMatchTextChars];
        WCHAR ids[kMaxModelIds][kMatchTextChars];
        const WCHAR* list[kMaxModelIds + 1];
        DWORD count = 0;
        if ((status = GetField(&line, 0, description, kMatchTextChars)) != 0 ||
            (status = GetField(&line, 1, installSection, kMatchTextChars)) != 0)
            break;
        // The hardware ID and the compatible IDs: fields 2 to 17 at most.
        DWORD fields = SetupGetFieldCount(&line);
        for (DWORD field = 2; field <= fields && field <= kLastModelIdField; ++field) {
            if (GetField(&line, field, ids[count], kMatchTextChars) != 0) break;
            list[count] = ids[count];
            ++count;
        }
        list[count] = nullptr;
        ZelStatus matched = 0;
        if (DeviceCallback(list, match, description, &matched) == 0) {
            status = matched;
            break;
        }
        if (!SetupFindNextLine(&line, &line)) {
            status = ERROR_NO_MORE_ITEMS;
            break;
        }
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "EnumDevices--");
    return status;
}

int DeviceCallback(const WCHAR* const* ids, DriverMatch* match, const WCHAR* description, ZelStatus* status) {
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "DeviceCallback++");
    int goOn = 1;
    for (; *ids; ++ids) {
        if (ZelStrEqualNoCase(match->HardwareId, *ids)) {
            ZelStrCopy(match->HardwareId, kMatchTextChars, *ids);
            ZelStrCopy(match->Description, kMatchTextChars, description);
            match->Found = TRUE;
            *status = 0;
            goOn = 0;
            break;
        }
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "DeviceCallback--");
    return goOn;
}

ZelStatus GetField(INFCONTEXT* context, DWORD index, WCHAR* buffer, DWORD capacity) {
    DWORD required = 0;
    ZelStatus status = 0;

    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "GetField++");
    if (!SetupGetStringFieldW(context, index, nullptr, 0, &required)) {
        status = FailedCallError();
    } else if (required > capacity) {
        // The size the field asks for is not the buffer's: never hand the call more room than there is.
        buffer[0] = 0;
        status = ERROR_INSUFFICIENT_BUFFER;
    } else if (!SetupGetStringFieldW(context, index, buffer, required, nullptr)) {
        status = FailedCallError();
        buffer[0] = 0;
    }
    if (status != 0) {
        ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "GetFieldError--");
        return status;
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "GetField--");
    return 0;
}

ZelStatus Create(DeviceSetupInfo* info, const GUID* classGuid) {
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "Create++");
    info->DeviceInfoSet = INVALID_HANDLE_VALUE;
    info->ParentWindow = nullptr;
    std::memset(&info->DeviceInfoData, 0, sizeof info->DeviceInfoData);
    info->DeviceInfoData.cbSize = sizeof info->DeviceInfoData;
    info->Registered = FALSE;
    info->HardwareId = nullptr;
    info->DeviceInfoSet = SetupDiCreateDeviceInfoList(classGuid, info->ParentWindow);
    if (info->DeviceInfoSet == INVALID_HANDLE_VALUE) {
        ZelStatus status = FailedCallError();
        ZEL_TRACE(TRACE_SETUP, TRACE_ERROR, TRUE, status, "CreateError--");
        return status;
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "Create--");
    return 0;
}

ZelStatus CreateDeviceInfo(const WCHAR* className, const GUID* classGuid, DeviceSetupInfo* info,
                           const WCHAR* hardwareId) {
    // The ID as a list of one: the ID, its NUL and the list's NUL.
    WCHAR idList[kMatchTextChars + 1] = {};
    ZelStatus status = 0;

    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "CreateDeviceInfo++");
    if (!SetupDiCreateDeviceInfoW(info->DeviceInfoSet, className, classGuid, nullptr, info->ParentWindow,
                                  DICD_GENERATE_ID, &info->DeviceInfoData)) {
        status = FailedCallError();
        ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "CreateDeviceInfoError--");
        return status;
    }
    info->HardwareId = hardwareId;
    ZelStrCopy(idList, kMatchTextChars, hardwareId);
    DWORD bytes = static_cast<DWORD>((ZelStrLen(idList) + 2) * sizeof(WCHAR));
    if (!SetupDiSetDeviceRegistryPropertyW(info->DeviceInfoSet, &info->DeviceInfoData, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(idList), bytes)) {
        status = FailedCallError();
        ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "CreateDeviceInfoError--");
        return status;
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "CreateDeviceInfo--");
    return 0;
}

ZelStatus SelectDriver(HDEVINFO set, SP_DEVINFO_DATA* element, BOOL copyFiles, const WCHAR* infPath,
                       const DriverMatch* match) {
    SP_DRVINFO_DATA_V2_W driver;
    SP_DEVINSTALL_PARAMS_W params;
    const WCHAR* failedCall = nullptr;
    ZelStatus status = 0;

    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, FALSE, 0, "SelectDriver++");
    // Reserved 0: the platform finds the driver by type, description, manufacturer and provider.
    std::memset(&driver, 0, sizeof driver);
    driver.cbSize = sizeof driver;
    driver.DriverType = SPDIT_CLASSDRIVER;
    ZelStrCopy(driver.Description, LINE_LEN, match->Description);
    ZelStrCopy(driver.MfgName, LINE_LEN, match->Manufacturer);
    ZelStrCopy(driver.ProviderName, LINE_LEN, match->Manufacturer);

    std::memset(&params, 0, sizeof params);
    params.cbSize = sizeof params;
    params.Flags = DI_ENUMSINGLEINF | DI_QUIETINSTALL | DI_NOBROWSE | (copyFiles ? 0 : DI_NOFILECOPY);
    params.FlagsEx = DI_FLAGSEX_ALLOWEXCLUDEDDRVS;
    ZelStrCopy(params.DriverPath, MAX_PATH, infPath);

    if (!SetupDiSetDeviceInstallParamsW(set, element, &params))
        failedCall = TEXT("SetupDiSetDeviceInstallParams");
    else if (!SetupDiBuildDriverInfoList(set, element, SPDIT_CLASSDRIVER))
        failedCall = TEXT("SetupDiBuildDriverInfoList");
    else if (!SetupDiSetSelectedDriverW(set, element, &driver))
        failedCall = TEXT("SetupDiSetSelectedDriver");
    if (failedCall) {
        status = FailedCallError();
        ShowErrorBox(failedCall, status);
        ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "SelectDriverError--");
        return status;
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_FLOW, TRUE, 0, "SelectDriver--");
    return 0;
}

// The dumps only feed the trace: while it is off they ask the platform nothing.
void DumpDeviceInfo(HDEVINFO, SP_DEVINFO_DATA* element) {
    ZEL_TRACE(TRACE_SETUP, TRACE_INFO, FALSE, 0, "Device Info: devinst %X, guid {%X-%X-%X-...}", element->DevInst,
              element->ClassGuid.Data1, element->ClassGuid.Data2, element->ClassGuid.Data3);
}

// The element's selected driver into *driver; a failure is traced with failureLine.
static bool GetSelectedDriverForDump(HDEVINFO set, SP_DEVINFO_DATA* element, SP_DRVINFO_DATA_V2_W* driver,
                              const char* failureLine) {
    std::memset(driver, 0, sizeof *driver);
    driver->cbSize = sizeof *driver;
    if (SetupDiGetSelectedDriverW(set, element, driver)) return true;
    ZelStatus error = FailedCallError();
    ZEL_TRACE(TRACE_SETUP, TRACE_INFO, TRUE, error, "%s", failureLine);
    return false;
}

void DumpDriverInfo(HDEVINFO set, SP_DEVINFO_DATA* element) {
    if (!TraceSwitch) return;
    SP_DRVINFO_DATA_V2_W driver;
    if (!GetSelectedDriverForDump(set, element, &driver, "DumpDriverInfo SetupDiGetSelectedDriver")) return;
    ZEL_TRACE(TRACE_SETUP, TRACE_INFO, FALSE, 0, "Driver Info: desc %ws, type %X, mfg %ws, provider %ws",
              driver.Description, driver.DriverType, driver.MfgName, driver.ProviderName);
}

void DumpDriverInfoDetail(HDEVINFO set, SP_DEVINFO_DATA* element) {
    if (!TraceSwitch) return;
    SP_DRVINFO_DATA_V2_W driver;
    if (!GetSelectedDriverForDump(set, element, &driver, "DumpDriverInfoDetail SetupDiGetSelectedDriver")) return;
    union {
        SP_DRVINFO_DETAIL_DATA_W detail;
        BYTE bytes[kDriverDetailBytes];
    } buffer;
    std::memset(&buffer, 0, sizeof buffer);
    buffer.detail.cbSize = sizeof buffer.detail;
    if (!SetupDiGetDriverInfoDetailW(set, element, &driver, &buffer.detail, sizeof buffer.bytes, nullptr)) {
        ZelStatus error = FailedCallError();
        ZEL_TRACE(TRACE_SETUP, TRACE_INFO, TRUE, error, "DumpDriverInfoDetail SetupDiGetDriverInfoDetail");
        return;
    }
    buffer.bytes[kDriverDetailBytes - 1] = buffer.bytes[kDriverDetailBytes - 2] = 0;
    ZEL_TRACE(TRACE_SETUP, TRACE_INFO, FALSE, 0, "Driver Detail Info: infname %ws, section %ws, hardware %ws, desc %ws",
              buffer.detail.InfFileName, buffer.detail.SectionName, buffer.detail.HardwareID,
              buffer.detail.DrvDescription);
}

void DumpDeviceInstallParams(HDEVINFO set, SP_DEVINFO_DATA* element) {
    if (!TraceSwitch) return;
    SP_DEVINSTALL_PARAMS_W params;
    std::memset(&params, 0, sizeof params);
    params.cbSize = sizeof params;
    if (!SetupDiGetDeviceInstallParamsW(set, element, &params)) {
        ZelStatus error = FailedCallError();
        ZEL_TRACE(TRACE_SETUP, TRACE_INFO, TRUE, error, "DumpDeviceInstallParams SetupDiGetDeviceInstallParams");
        return;
    }
    ZEL_TRACE(TRACE_SETUP, TRACE_INFO, FALSE, 0,
              "Device Install Params: drvrpath %ws, flags %08X, flagsex %08X, fileque %08X", params.DriverPath,
              params.Flags, params.FlagsEx, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(params.FileQueue)));
}
