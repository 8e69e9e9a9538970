#include "portstore/port_search.h"

#include "platform/text.h"
#include "portstore/product_settings.h"

const WCHAR kPortsEnumKey[] = TEXT("System\\CurrentControlSet\\Enum\\Root\\Ports");
const WCHAR kPortsClassKey[] =
    TEXT("System\\CurrentControlSet\\Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}");
const WCHAR kPortHardwareId[] = TEXT("*zeldevice");

namespace {

constexpr DWORD kInstanceNameChars = 256;  // a key name has at most 255 characters
constexpr DWORD kHardwareIdChars = 256;    // 512 bytes
constexpr DWORD kDriverChars = 60;         // 120 bytes
constexpr size_t kClassInstanceChars = 4;

// One device of the walk. Returns FALSE when the visitor ends the walk.
BOOL VisitDevice(const WCHAR* instance, DWORD portNameChars, PortSearchVisitor visitor, void* context) {
    HKEY instanceKey = nullptr;
    HKEY parametersKey = nullptr;
    BOOL goOn = TRUE;
    WCHAR path[kPortKeyPathChars];
    WCHAR hardwareId[kHardwareIdChars];
    WCHAR portName[kSearchPortNameChars];
    PortSearchDevice device;

    // A path cut to fit its buffer would name another key (a sibling whose name is the cut one), so a
    // path that does not fit is treated as a key that cannot be opened.
    if (!ZelFormat(path, kPortKeyPathChars, TEXT("%s\\%s"), kPortsEnumKey, instance)) goto exit;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &instanceKey) != ERROR_SUCCESS) {
        instanceKey = nullptr;
        goto exit;
    }
    // The first string of the REG_MULTI_SZ is all that counts; the bounded read terminates it.
    if (QueryTextValue(instanceKey, TEXT("HardwareID"), hardwareId, kHardwareIdChars) != ERROR_SUCCESS ||
        !ZelStrEqualNoCase(hardwareId, kPortHardwareId))
        goto exit;

    if (!ZelFormat(path, kPortKeyPathChars, TEXT("%s\\%s\\Device Parameters"), kPortsEnumKey, instance) ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &parametersKey) != ERROR_SUCCESS) {
        parametersKey = nullptr;
        goOn = visitor(context, PORT_SEARCH_NO_DEVICE_PARAMETERS, nullptr);
        goto exit;
    }
    if (portNameChars > kSearchPortNameChars) portNameChars = kSearchPortNameChars;
    if (QueryTextValue(parametersKey, TEXT("PortName"), portName, portNameChars) != ERROR_SUCCESS) {
        goOn = visitor(context, PORT_SEARCH_NO_PORT_NAME, nullptr);
        goto exit;
    }

    device.instanceKey = instanceKey;
    device.portName = portName;
    device.comNumber = ParseComNumber(portName);
    goOn = visitor(context, PORT_SEARCH_DEVICE, &device);

exit:
    if (parametersKey) RegCloseKey(parametersKey);
    if (instanceKey) RegCloseKey(instanceKey);
    return goOn;
}

}  // namespace

LONG ParseComNumber(const WCHAR* portName) {
    if (ZelStrLen(portName) < 3) return 0;
    return ZelParseLong(portName + 3);
}

LONG WalkPortDevices(DWORD portNameChars, PortSearchVisitor visitor, void* context) {
    HKEY portsKey = nullptr;
    WCHAR instance[kInstanceNameChars];
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsEnumKey, 0, KEY_READ, &portsKey);
    if (status != ERROR_SUCCESS) return status;

    // Any failure ends the walk, including a name too long for the buffer.
    for (DWORD index = 0;; ++index) {
        DWORD instanceChars = kInstanceNameChars;
        if (RegEnumKeyExW(portsKey, index, instance, &instanceChars, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        if (!VisitDevice(instance, portNameChars, visitor, context)) break;
    }
    RegCloseKey(portsKey);
    return ERROR_SUCCESS;
}

BOOL GetPropertiesPath(HKEY instanceKey, WCHAR* path) {
    WCHAR driver[kDriverChars];
    if (QueryTextValue(instanceKey, TEXT("Driver"), driver, kDriverChars) != ERROR_SUCCESS) return FALSE;
    size_t length = ZelStrLen(driver);
    if (length < kClassInstanceChars) return FALSE;
    return ZelFormat(path, kPortKeyPathChars, TEXT("%s\\%s\\Properties"), kPortsClassKey,
                     driver + length - kClassInstanceChars)
               ? TRUE
               : FALSE;
}
