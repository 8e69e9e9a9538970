// Driver record layouts of the earlier generations and their conversion to the current PortInfo: plain
// functions, checked without the simulated machine.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "setup/port_migration.h"

namespace {

struct LayoutCase {
    const char* display;
    DWORD layout;
};

TEST(RecordLayouts, ChosenByDisplayVersion) {
    const LayoutCase cases[] = {
        {"4.0.1.0", LAYOUT_V40},      {"4.1.0.0T", LAYOUT_V41},     {"4.2.1.0T", LAYOUT_V42},
        {"4.2.0.2", LAYOUT_V43},      {"4.2.0.25", LAYOUT_V43},     {"4.2.0.1", LAYOUT_V42},
        {"4.3.0.0", LAYOUT_V43},      {"4.3.0.0T", LAYOUT_V43},     {"4.3.2.7D5", LAYOUT_CURRENT},
        {"4.4.1.12B12", LAYOUT_CURRENT}, {"", LAYOUT_CURRENT},      {"5.0", LAYOUT_CURRENT},
    };
    for (const LayoutCase& c : cases) EXPECT_EQ(LayoutForVersion(c.display), c.layout) << c.display;
    EXPECT_EQ(LayoutForVersion(nullptr), LAYOUT_CURRENT);
    EXPECT_EQ(LayoutRecordBytes(LAYOUT_V40), 420u);
    EXPECT_EQ(LayoutRecordBytes(LAYOUT_V41), 440u);
    EXPECT_EQ(LayoutRecordBytes(LAYOUT_V42), 440u);
    EXPECT_EQ(LayoutRecordBytes(LAYOUT_V43), 696u);
    EXPECT_EQ(LayoutRecordBytes(LAYOUT_CURRENT), 1208u);
}

// A driver record of the given layout whose every 32-bit word holds its own offset + 1000, so that a
// field read from the wrong place shows.
std::vector<BYTE> Record(DWORD bytes) {
    std::vector<BYTE> record(bytes);
    for (DWORD offset = 0; offset + 4 <= bytes; offset += 4) {
        DWORD value = offset + 1000;
        std::memcpy(&record[offset], &value, 4);
    }
    return record;
}

DWORD At(const std::vector<BYTE>& record, DWORD offset) {
    DWORD value;
    std::memcpy(&value, &record[offset], 4);
    return value;
}

struct ConversionCase {
    DWORD layout;
    int bufferWrites, transmitEmpty, listenMode, keepAliveOnOff, keepAliveTime, keepAliveInterval, numServices;
    DWORD services, serviceBytes, addressBytes;
};

TEST(RecordLayouts, ConversionFieldByField) {
    // Offsets, or -1 where the layout lacks the field and its default applies.
    const ConversionCase cases[] = {
        {LAYOUT_V40, -1, 92, -1, -1, -1, -1, 96, 100, 40, 32},
        {LAYOUT_V41, 92, 96, 100, 104, 108, 112, 116, 120, 40, 32},
        {LAYOUT_V42, 92, 96, 100, 104, 108, 112, 116, 120, 40, 32},
        {LAYOUT_V43, 92, 96, 100, 104, 108, 112, 116, 120, 72, 64},
    };
    for (const ConversionCase& c : cases) {
        SCOPED_TRACE(c.layout);
        std::vector<BYTE> record = Record(LayoutRecordBytes(c.layout));
        PortInfo info;
        std::memset(&info, 0, sizeof info);
        ConvertPortRecord(c.layout, record.data(), &info);

        // The first 92 bytes are shared with PortInfo and copied as they are.
        EXPECT_EQ(std::memcmp(&info, record.data(), 92), 0);
        auto field = [&](int offset, DWORD fallback) { return offset < 0 ? fallback : At(record, offset); };
        EXPECT_EQ(info.BufferWrites, field(c.bufferWrites, 1));
        EXPECT_EQ(info.TransmitEmpty, field(c.transmitEmpty, 0));
        EXPECT_EQ(info.ListenMode, field(c.listenMode, 0));
        EXPECT_EQ(info.KeepAliveOnOff, field(c.keepAliveOnOff, 0));
        EXPECT_EQ(info.KeepAliveTime, field(c.keepAliveTime, 7200000));
        EXPECT_EQ(info.KeepAliveInterval, field(c.keepAliveInterval, 1000));
        EXPECT_EQ(info.NumServices, field(c.numServices, 0));
        for (DWORD k = 0; k < 8; ++k) {
            SCOPED_TRACE(k);
            DWORD entry = c.services + k * c.serviceBytes;
            EXPECT_EQ(info.Services[k].Type, At(record, entry));
            EXPECT_EQ(info.Services[k].Port, At(record, entry + 4));
            const BYTE* address = reinterpret_cast<const BYTE*>(info.Services[k].Address);
            EXPECT_EQ(std::memcmp(address, &record[entry + 8], c.addressBytes), 0);
            // A narrower address is followed by zeros up to its 128 bytes.
            for (DWORD i = c.addressBytes; i < 128; ++i) ASSERT_EQ(address[i], 0) << i;
        }
    }
}

TEST(RecordLayouts, CurrentRecordsAreTakenAsTheyAre) {
    std::vector<BYTE> record = Record(sizeof(PortInfo));
    PortInfo info;
    ConvertPortRecord(LAYOUT_CURRENT, record.data(), &info);
    EXPECT_EQ(std::memcmp(&info, record.data(), sizeof info), 0);
}

}  // namespace
