// The simulated device manager and COM port database: the rules of SetupAPI, the configuration manager
// and msports.dll that the library's device code relies on.
#include <cstring>

#include "sim_fixture.h"
#include "winsim/devices.h"
#include "winsim/port_devices.h"

namespace {

using DeviceManager = SimTest;
using ComDatabase = SimTest;

const GUID kPorts = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::vector<std::string> Listed(DWORD flags) {
    std::vector<std::string> ids;
    HDEVINFO set = SetupDiGetClassDevsW(&kPorts, nullptr, nullptr, flags);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    for (DWORD i = 0;; ++i) {
        SP_DEVINFO_DATA data = {};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInfo(set, i, &data)) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
            break;
        }
        WCHAR id[200];
        EXPECT_TRUE(SetupDiGetDeviceInstanceIdW(set, &data, id, 200, nullptr));
        ids.push_back(sim::U8(id));
    }
    SetupDiDestroyDeviceInfoList(set);
    return ids;
}

TEST_F(DeviceManager, ListsEveryComponentsDevicesOfTheClass) {
    sim::AddPortDevice({.comNumber = 5});
    sim::AddMotherboardPort(1, 0x3F8);
    sim::AddModem(2);
    sim::DeviceOptions phantom;
    phantom.instanceId = "USB\\VID_1&PID_2\\9";
    phantom.state.present = false;
    sim::AddDevice(phantom);

    EXPECT_EQ(Listed(DIGCF_PRESENT | DIGCF_PROFILE),
              (std::vector<std::string>{"ACPI\\PNP0501\\1", "ROOT\\PORTS\\0000"}));
    EXPECT_EQ(Listed(0), (std::vector<std::string>{"ACPI\\PNP0501\\1", "ROOT\\PORTS\\0000", "USB\\VID_1&PID_2\\9"}))
        << "a phantom is listed without DIGCF_PRESENT";
}

TEST_F(DeviceManager, ElementAndPropertyRules) {
    sim::AddMotherboardPort(1, 0x3F8);
    HDEVINFO set = SetupDiGetClassDevsW(&kPorts, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data - 1;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
    EXPECT_EQ(data.DevInst, sim::DeviceNode("acpi\\pnp0501\\1"));

    BYTE buffer[64];
    DWORD type = 0, required = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_FRIENDLYNAME, &type, buffer, 8, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, sizeof(u"Communications Port (COM1)"));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_FRIENDLYNAME, &type, buffer, 64, &required));
    EXPECT_EQ(sim::U8(reinterpret_cast<WCHAR*>(buffer)), "Communications Port (COM1)");
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_ENUMERATOR_NAME, &type, buffer, 64, nullptr));
    EXPECT_EQ(sim::U8(reinterpret_cast<WCHAR*>(buffer)), "ACPI");
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, &type, buffer, 64, nullptr));
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_MFG, &type, buffer, 64, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA)) << "a property the device does not have";

    // The hardware key is opened with the access asked for, and counted as any registry key.
    HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    ASSERT_NE(key, reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(RegSetValueExW(key, u"PortName", 0, REG_SZ, buffer, 4), ERROR_ACCESS_DENIED);
    DWORD size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key, u"PortName", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::RegistryKey), 1u);
    RegCloseKey(key);

    sim::RegDeleteTree(HKEY_LOCAL_MACHINE, sim::DeviceKey("ACPI\\PNP0501\\1") + "\\Device Parameters");
    EXPECT_EQ(SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ),
              reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_KEY_DOES_NOT_EXIST));
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(sim::TakeViolations().size(), 1u) << "destroying a set twice is misuse";
}

TEST_F(DeviceManager, StatusAndBootConfiguration) {
    sim::AddPortDevice({.comNumber = 5});
    std::string acpi = sim::AddMotherboardPort(2, 0x2F8);
    ULONG status = 0, problem = 0;
    EXPECT_EQ(CM_Get_DevNode_Status(&status, &problem, sim::DeviceNode("ROOT\\PORTS\\0000"), 0), CR_SUCCESS);
    EXPECT_TRUE(status & DN_ROOT_ENUMERATED);
    EXPECT_EQ(CM_Get_DevNode_Status(&status, &problem, sim::DeviceNode(acpi), 0), CR_SUCCESS);
    EXPECT_FALSE(status & DN_ROOT_ENUMERATED);
    sim::DeviceStateOf(acpi).present = false;
    EXPECT_EQ(CM_Get_DevNode_Status(&status, &problem, sim::DeviceNode(acpi), 0), CR_NO_SUCH_DEVNODE);
    sim::DeviceStateOf(acpi).present = true;

    LOG_CONF configuration = 0;
    EXPECT_EQ(CM_Get_First_Log_Conf(&configuration, sim::DeviceNode("ROOT\\PORTS\\0000"), BOOT_LOG_CONF),
              CR_NO_MORE_LOG_CONF);
    ASSERT_EQ(CM_Get_First_Log_Conf(&configuration, sim::DeviceNode(acpi), BOOT_LOG_CONF), CR_SUCCESS);
    RES_DES descriptor = 0, next = 0;
    EXPECT_EQ(CM_Get_Next_Res_Des(&descriptor, configuration, ResType_Mem, nullptr, 0), CR_NO_MORE_RES_DES);
    ASSERT_EQ(CM_Get_Next_Res_Des(&descriptor, configuration, ResType_IO, nullptr, 0), CR_SUCCESS);
    EXPECT_EQ(CM_Get_Next_Res_Des(&next, descriptor, ResType_IO, nullptr, 0), CR_NO_MORE_RES_DES);
    IO_RESOURCE resource;
    EXPECT_EQ(CM_Get_Res_Des_Data(descriptor, &resource, sizeof resource - 1, 0), CR_BUFFER_SMALL);
    EXPECT_EQ(CM_Get_Res_Des_Data(descriptor, &resource, sizeof resource, 0), CR_SUCCESS);
    EXPECT_EQ(resource.IO_Header.IOD_Alloc_Base, 0x2F8u);
    EXPECT_EQ(resource.IO_Header.IOD_Alloc_End, 0x2FFu);
    EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::ResDes), 1u);
    EXPECT_EQ(CM_Free_Res_Des_Handle(descriptor), CR_SUCCESS);
    EXPECT_EQ(CM_Free_Log_Conf_Handle(configuration), CR_SUCCESS);
    EXPECT_EQ(CM_Free_Log_Conf_Handle(configuration), CR_INVALID_LOG_CONF);
    EXPECT_EQ(sim::TakeViolations().size(), 1u);
}

TEST_F(ComDatabase, ClaimsLiveInTheRegistryBitmap) {
    HCOMDB database = nullptr;
    ASSERT_EQ(ComDBOpen(&database), ERROR_SUCCESS);
    BOOL forced = TRUE;
    EXPECT_EQ(ComDBClaimPort(database, 1, FALSE, &forced), ERROR_SUCCESS);
    EXPECT_FALSE(forced);
    EXPECT_EQ(ComDBClaimPort(database, 10, FALSE, &forced), ERROR_SUCCESS);
    EXPECT_EQ(ComDBClaimPort(database, 10, FALSE, &forced), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ComDBClaimPort(database, 10, TRUE, &forced), ERROR_SUCCESS);
    EXPECT_TRUE(forced);
    EXPECT_EQ(ComDBClaimPort(database, 0, TRUE, &forced), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ComDBClaimPort(database, 257, TRUE, &forced), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ComDBClose(database), ERROR_SUCCESS);

    auto value = sim::RegGetValue(HKEY_LOCAL_MACHINE, sim::kComDbPath, "ComDB");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, REG_BINARY);
    ASSERT_EQ(value->data.size(), 32u);
    EXPECT_EQ(value->data[0], 0x01);
    EXPECT_EQ(value->data[1], 0x02) << "COM10 is bit 1 of the second byte";
    EXPECT_EQ(sim::ClaimedComNumbers(), (std::vector<DWORD>{1, 10})) << "claims outlast the handle";
}

TEST_F(ComDatabase, UsageReports) {
    sim::ClaimComNumber(2);
    sim::ClaimComNumber(9);
    HCOMDB database = nullptr;
    ASSERT_EQ(ComDBOpen(&database), ERROR_SUCCESS);
    DWORD reported = 0;
    EXPECT_EQ(ComDBGetCurrentPortUsage(database, nullptr, 0, CDB_REPORT_BYTES, &reported), ERROR_SUCCESS);
    EXPECT_EQ(reported, 256u) << "a null buffer asks for the database's size";
    BYTE bytes[300];
    std::memset(bytes, 0xEE, sizeof bytes);
    EXPECT_EQ(ComDBGetCurrentPortUsage(database, bytes, sizeof bytes, CDB_REPORT_BYTES, &reported), ERROR_SUCCESS);
    EXPECT_EQ(reported, 256u);
    EXPECT_EQ(bytes[1], 1);
    EXPECT_EQ(bytes[8], 1);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[256], 0xEE) << "nothing past the database's entries";
    BYTE bits[2] = {};
    EXPECT_EQ(ComDBGetCurrentPortUsage(database, bits, sizeof bits, CDB_REPORT_BITS, &reported), ERROR_SUCCESS);
    EXPECT_EQ(reported, 16u);
    EXPECT_EQ(bits[0], 0x02);
    EXPECT_EQ(bits[1], 0x01);
    EXPECT_EQ(ComDBGetCurrentPortUsage(database, bits, sizeof bits, 7, &reported), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ComDBReleasePort(database, 9), ERROR_SUCCESS);
    EXPECT_EQ(ComDBClose(database), ERROR_SUCCESS);
    EXPECT_EQ(sim::ClaimedComNumbers(), std::vector<DWORD>{2});

    sim::FailCall("ComDBOpen", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(ComDBOpen(&database), ERROR_ACCESS_DENIED);
    EXPECT_EQ(database, HCOMDB_INVALID_HANDLE_VALUE);
}

}  // namespace
