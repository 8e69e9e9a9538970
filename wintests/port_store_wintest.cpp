// The port configuration store, the port map and the product settings key on Wine's registry, with
// product port devices laid down as a device installation leaves them.
#include <cstring>
#include <string>

#include "portstore/port_info.h"
#include "portstore/port_map.h"
#include "portstore/product_settings.h"
#include "wintests/port_devices.h"
#include "wintests/wine_test.h"

namespace {

using wintest::AddPortDevice;
using wintest::GetValue;
using wintest::PutKey;
using wintest::Subkeys;

// A record whose every field has a value of its own, so that a value landing in the wrong field shows.
PortInfo DistinctRecord(DWORD port, DWORD services) {
    PortInfo info;
    std::memset(&info, 0, sizeof info);
    info.PortNumber = port;
    DWORD* settings = &info.AES;
    for (DWORD* field = settings; field < &info.NumServices; ++field) *field = 100 + static_cast<DWORD>(field - settings);
    for (int i = 0; i < 32; ++i) info.AESKey[i] = static_cast<BYTE>(0xA0 + i);
    info.AES = 1;
    info.NumServices = services;
    for (DWORD i = 0; i < services; ++i) {
        info.Services[i].Type = 10 + i;
        info.Services[i].Port = 4000 + i;
        std::wstring address = L"host" + std::to_wstring(i) + L".example.net";
        address.copy(info.Services[i].Address, kServiceAddressChars - 1);
    }
    return info;
}

class PortStoreTest : public wintest::WineTest {};

TEST_F(PortStoreTest, StoreAndLoadRoundTripThroughTheRegistry) {
    std::wstring properties = AddPortDevice({L"0000", L"0000", L"COM7"});
    std::wstring foreign = AddPortDevice({L"0001", L"0001", L"COM7", L"*otherdevice"});
    AddPortDevice({L"0002", L"0002", L"COM3"});
    // Services of an earlier, larger record: the store leaves exactly those of the new one.
    for (int i = 0; i < 6; ++i) PutKey(HKEY_LOCAL_MACHINE, (properties + L"\\Service" + std::to_wstring(i)).c_str());

    PortInfo stored = DistinctRecord(7, 2);
    ASSERT_EQ(_SetPortInfoInRegistry(&stored), 0);

    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE, properties.c_str()), (std::vector<std::wstring>{L"Service0", L"Service1"}));
    EXPECT_FALSE(wintest::KeyExists(HKEY_LOCAL_MACHINE, foreign.c_str())) << "a foreign device got the record";
    auto aesKey = GetValue(HKEY_LOCAL_MACHINE, properties.c_str(), L"AESKey");
    ASSERT_TRUE(aesKey);
    EXPECT_EQ(aesKey->type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(aesKey->data.size(), 32u);
    auto portNumber = GetValue(HKEY_LOCAL_MACHINE, properties.c_str(), L"PortNumber");
    ASSERT_TRUE(portNumber);
    EXPECT_EQ(portNumber->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(portNumber->data, (std::vector<BYTE>{7, 0, 0, 0}));
    auto address = GetValue(HKEY_LOCAL_MACHINE, (properties + L"\\Service1").c_str(), L"Address");
    ASSERT_TRUE(address);
    EXPECT_EQ(address->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(address->data.size(), 128u) << "the whole field, whatever the text's length";

    PortInfo loaded;
    std::memset(&loaded, 0, sizeof loaded);
    DWORD count = 0;
    EXPECT_EQ(_GetPortInfoFromRegistry(7, &count, &loaded), 0);
    EXPECT_EQ(count, 2u) << "product devices examined";
    PortInfo expected = stored;
    std::wstring(L"COM7").copy(expected.PortName, kPortInfoNameChars - 1);
    EXPECT_EQ(std::memcmp(&loaded, &expected, sizeof loaded), 0);
}

TEST_F(PortStoreTest, LoadWithAMissingValueReportsItAndKeepsThatField) {
    std::wstring properties = AddPortDevice({L"0000", L"0004", L"COM5"});
    PortInfo stored = DistinctRecord(5, 1);
    ASSERT_EQ(_SetPortInfoInRegistry(&stored), 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, properties.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, L"CnTmo"), ERROR_SUCCESS);
    RegCloseKey(key);

    PortInfo loaded;
    std::memset(&loaded, 0xEE, sizeof loaded);
    DWORD count = 0;
    EXPECT_EQ(_GetPortInfoFromRegistry(5, &count, &loaded), ZEL_EXT_PORT_INFO_NOT_FOUND);
    EXPECT_EQ(loaded.CnTmo, 0xEEEEEEEEu);
    EXPECT_EQ(loaded.KeepAliveInterval, stored.KeepAliveInterval);
    EXPECT_EQ(loaded.NumServices, 1u);
    EXPECT_EQ(loaded.Services[0].Port, 0xEEEEEEEEu) << "services are not read after a missing value";
}

TEST_F(PortStoreTest, MissingPortsKeyAndMissingPort) {
    PortInfo info = DistinctRecord(9, 0);
    DWORD count = 99;
    EXPECT_EQ(_GetPortInfoFromRegistry(9, &count, &info), ZEL_PORT_KEY_NOT_FOUND);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(_SetPortInfoInRegistry(&info), ZEL_PORT_KEY_NOT_FOUND);

    AddPortDevice({L"0000", L"0000", L"COM3"});
    EXPECT_EQ(_GetPortInfoFromRegistry(9, &count, &info), ZEL_PORT_NOT_FOUND);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(_SetPortInfoInRegistry(&info), ZEL_NO_DEVICES_FOUND);
}

TEST_F(PortStoreTest, PortMapHoldsTheProductsPortsSorted) {
    AddPortDevice({L"0000", L"0000", L"COM12"});
    AddPortDevice({L"0001", L"0001", L"COM3"});
    AddPortDevice({L"0002", L"0002", L"COM4", L"*otherdevice"});
    AddPortDevice({L"0003", L"0003", L""});            // no Device Parameters
    AddPortDevice({L"0004", L"0004", L"COM10000"});    // too long for the map's names
    AddPortDevice({L"0005", L"0005", L"COM7"});

    PortMap map;
    std::memset(&map, 0x5A, sizeof map);
    EXPECT_EQ(InitPortMap(&map), 0);
    ASSERT_EQ(map.NumPorts, 3u);
    const struct {
        DWORD number;
        const WCHAR* name;
    } expected[] = {{3, L"COM3"}, {7, L"COM7"}, {12, L"COM12"}};
    for (DWORD i = 0; i < 3; ++i) {
        EXPECT_EQ(map.Entries[i].PortNumber, expected[i].number);
        EXPECT_EQ(std::wstring(map.Entries[i].PortName), expected[i].name);
    }
    for (DWORD i = 3; i < kPortMapEntries; ++i) {
        EXPECT_EQ(map.Entries[i].PortNumber, 0u);
        EXPECT_EQ(map.Entries[i].PortName[0], L'\0');
    }
}

class ProductSettingsTest : public wintest::WineTest {};

TEST_F(ProductSettingsTest, WrittenTextsReadBack) {
    WCHAR buffer[kSettingsTextChars];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(GetTargetDir(buffer), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(buffer[0], L'#') << "the buffer is untouched while the key is missing";

    EXPECT_EQ(SetTargetDir(L""), 0);
    auto empty = GetValue(HKEY_LOCAL_MACHINE, wintest::kSettingsKey, L"TargetDir");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(empty->data.size(), 2u) << "the terminator alone";
    EXPECT_EQ(GetTargetDir(buffer), 0);
    EXPECT_EQ(std::wstring(buffer), L"");

    EXPECT_EQ(SetTargetDir(L"C:\\Program Files\\Kelmiso\\ZEL\\"), 0);
    EXPECT_EQ(GetTargetDir(buffer), 0);
    EXPECT_EQ(std::wstring(buffer), L"C:\\Program Files\\Kelmiso\\ZEL\\");
}

TEST_F(ProductSettingsTest, InfPathFitsUpTo259Characters) {
    WCHAR buffer[kSettingsTextChars];
    std::wstring longest(kSettingsTextChars - 1, L'x');
    EXPECT_EQ(SetInfPathInRegistry(L"C:\\Windows\\INF\\oem0.inf"), 0);
    EXPECT_EQ(SetInfPathInRegistry(longest.c_str()), 0);
    EXPECT_EQ(GetInfPathFromRegistry(buffer), 0);
    EXPECT_EQ(std::wstring(buffer), longest);

    EXPECT_EQ(SetInfPathInRegistry((longest + L"x").c_str()), 0);
    EXPECT_EQ(GetInfPathFromRegistry(buffer), ERROR_MORE_DATA);
}

}  // namespace
