// The product settings key: TargetDir and InfFile under HKLM "Software\Kelmiso\ZEL".
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "portstore/product_settings.h"
#include "tests/sim_fixture.h"

namespace {

const char kKey[] = "Software\\Kelmiso\\ZEL";
constexpr WCHAR kFillChar = 0x5A5A;

struct Setting {
    const char* value;
    ZelStatus (*get)(WCHAR* buffer);
    ZelStatus (*set)(const WCHAR* text);
    const char* getName;
    const char* setName;
};
const Setting kSettings[] = {
    {"TargetDir", GetTargetDir, SetTargetDir, "GetTargetDir", "SetTargetDir"},
    {"InfFile", GetInfPathFromRegistry, SetInfPathInRegistry, "GetInfPathFromRegistry", "SetInfPathInRegistry"},
};

std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

std::u16string Path(size_t characters) {
    std::u16string path = u"C:\\";
    while (path.size() < characters) path.push_back(static_cast<char16_t>(u'a' + path.size() % 26));
    return path;
}

struct Buffer {
    WCHAR text[kSettingsTextChars + 8];  // room past the end, to see that nothing is written there
    Buffer() {
        for (WCHAR& c : text) c = kFillChar;
    }
    bool Untouched() const {
        for (WCHAR c : text)
            if (c != kFillChar) return false;
        return true;
    }
    bool TailUntouched() const {
        for (size_t i = kSettingsTextChars; i < sizeof text / sizeof text[0]; ++i)
            if (text[i] != kFillChar) return false;
        return true;
    }
    // The text up to its terminator; "<unterminated>" when there is none in the buffer.
    std::u16string Text() const {
        for (size_t i = 0; i < kSettingsTextChars; ++i)
            if (!text[i]) return std::u16string(reinterpret_cast<const char16_t*>(text), i);
        return u"<unterminated>";
    }
};

struct ReadCase {
    const char* name;
    bool key;                    // the key exists
    std::vector<uint8_t> data;   // the value's data; none when empty and `present` is false
    bool present;
    DWORD type;
    ZelStatus result;
    std::u16string text;         // what the buffer holds after; ignored when `untouched`
    bool untouched;
};

std::vector<uint8_t> Terminated(const std::u16string& text) {
    std::vector<uint8_t> bytes = Utf16Bytes(text);
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

const ReadCase kReadCases[] = {
    {"KeyMissing", false, {}, false, REG_SZ, ERROR_FILE_NOT_FOUND, u"", true},
    {"ValueMissing", true, {}, false, REG_SZ, ERROR_FILE_NOT_FOUND, u"", false},
    {"Folder", true, Terminated(u"C:\\Program Files\\Kelmiso\\ZEL\\"), true, REG_SZ, 0,
     u"C:\\Program Files\\Kelmiso\\ZEL\\", false},
    {"Empty", true, {0, 0}, true, REG_SZ, 0, u"", false},
    {"NoData", true, {}, true, REG_SZ, 0, u"", false},
    {"Of259Characters", true, Terminated(Path(259)), true, REG_SZ, 0, Path(259), false},
    {"Of260Characters", true, Terminated(Path(260)), true, REG_SZ, ERROR_MORE_DATA, u"", false},
    {"Unterminated", true, Utf16Bytes(u"C:\\x"), true, REG_SZ, 0, u"C:\\x", false},
    {"UnterminatedOf259Characters", true, Utf16Bytes(Path(259)), true, REG_SZ, 0, Path(259), false},
    {"UnterminatedFillingTheBuffer", true, Utf16Bytes(Path(260)), true, REG_SZ, ERROR_MORE_DATA, u"", false},
    {"OddByteCount", true, {'a', 0, 'b', 0, 'c'}, true, REG_SZ, 0, u"ab", false},
    // The type is not examined.
    {"Expandable", true, Terminated(u"%ProgramFiles%\\ZEL\\"), true, REG_EXPAND_SZ, 0, u"%ProgramFiles%\\ZEL\\", false},
    {"Dword", true, {'A', 0, 'B', 0}, true, REG_DWORD, 0, u"AB", false},
};

void PrintTo(const Setting& s, std::ostream* out) { *out << s.value; }
void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

class SettingsReadTest : public SimTest, public testing::WithParamInterface<std::tuple<Setting, ReadCase>> {};

TEST_P(SettingsReadTest, ResultAndBuffer) {
    const auto& [setting, c] = GetParam();
    if (c.key) sim::RegSetDword(HKEY_LOCAL_MACHINE, kKey, "Other", 1);
    if (c.present) sim::RegSetRaw(HKEY_LOCAL_MACHINE, kKey, setting.value, c.type, c.data);
    Buffer buffer;

    EXPECT_EQ(setting.get(buffer.text), c.result);
    if (c.untouched) {
        EXPECT_TRUE(buffer.Untouched());
    } else {
        EXPECT_EQ(buffer.Text(), c.text);
        EXPECT_TRUE(buffer.TailUntouched());
    }
    auto opens = sim::Calls("RegOpenKeyExW");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].Number("samDesired"), KEY_READ);
    EXPECT_EQ(opens[0].Text("lpSubKey"), kKey);
    EXPECT_EQ(sim::DebugOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(Values, SettingsReadTest,
                         testing::Combine(testing::ValuesIn(kSettings), testing::ValuesIn(kReadCases)),
                         [](const testing::TestParamInfo<std::tuple<Setting, ReadCase>>& info) {
                             return std::string(std::get<0>(info.param).value) + "_" + std::get<1>(info.param).name;
                         });

class SettingsWriteTest : public SimTest, public testing::WithParamInterface<Setting> {};

TEST_P(SettingsWriteTest, CreatesTheKeyAndReplacesTheValue) {
    const Setting& setting = GetParam();
    const char* other = std::string(setting.value) == "TargetDir" ? "InfFile" : "TargetDir";

    // No key at first: the first write creates it and the keys above it; later writes replace the text.
    for (const std::u16string& text : {std::u16string(u"C:\\Old\\"), std::u16string(), Path(259)}) {
        SCOPED_TRACE(sim::U8(text));
        ASSERT_EQ(setting.set(reinterpret_cast<const WCHAR*>(text.c_str())), 0);
        auto value = sim::RegGetValue(HKEY_LOCAL_MACHINE, kKey, setting.value);
        ASSERT_TRUE(value);
        EXPECT_EQ(value->type, REG_SZ);
        EXPECT_EQ(value->data, Terminated(text));
        Buffer buffer;
        EXPECT_EQ(setting.get(buffer.text), 0);
        EXPECT_EQ(buffer.Text(), text);
        if (!sim::RegGetValue(HKEY_LOCAL_MACHINE, kKey, other))
            sim::RegSetString(HKEY_LOCAL_MACHINE, kKey, other, u"kept");
    }
    EXPECT_EQ(sim::RegGetValue(HKEY_LOCAL_MACHINE, kKey, other)->Text(), u"kept");
    EXPECT_EQ(sim::RegValueNames(HKEY_LOCAL_MACHINE, kKey).size(), 2u);

    ASSERT_EQ(sim::CallCount("RegCreateKeyExW"), 3u);
    for (const sim::Call& create : sim::Calls("RegCreateKeyExW")) {
        EXPECT_EQ(create.Text("lpSubKey"), kKey);
        EXPECT_EQ(create.Number("samDesired"), KEY_WRITE);
        EXPECT_EQ(create.Number("dwOptions"), REG_OPTION_NON_VOLATILE);
        EXPECT_TRUE(create.Find("lpClass")->isNull);
        EXPECT_TRUE(create.Find("lpSecurityAttributes")->isNull);
    }
}

TEST_P(SettingsWriteTest, NullTextIsRefusedWithoutTouchingTheRegistry) {
    const Setting& setting = GetParam();
    EXPECT_EQ(setting.set(nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, kKey));
}

// A failing registry call's own code is the result, and the key is closed (the fixture checks).
TEST_P(SettingsWriteTest, RegistryFailuresPassThrough) {
    const Setting& setting = GetParam();
    struct {
        const char* api;
        bool write;
        DWORD error;
        bool untouched;  // the reader's buffer
    } cases[] = {
        {"RegCreateKeyExW", true, ERROR_ACCESS_DENIED, false},
        {"RegSetValueExW", true, 1018 /* ERROR_KEY_DELETED */, false},
        {"RegOpenKeyExW", false, ERROR_ACCESS_DENIED, true},
        {"RegQueryValueExW", false, ERROR_ACCESS_DENIED, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.api);
        sim::Reset();
        sim::RegSetString(HKEY_LOCAL_MACHINE, kKey, setting.value, u"C:\\Before\\");
        sim::FailCall(c.api, 1, c.error);
        Buffer buffer;
        ZelStatus result = c.write ? setting.set(u"C:\\After\\") : setting.get(buffer.text);

        EXPECT_EQ(result, static_cast<ZelStatus>(c.error));
        EXPECT_EQ(sim::RegGetValue(HKEY_LOCAL_MACHINE, kKey, setting.value)->Text(), u"C:\\Before\\");
        if (!c.write) {
            if (c.untouched) {
                EXPECT_TRUE(buffer.Untouched());
            } else {
                EXPECT_EQ(buffer.Text(), u"");
            }
        }
        EXPECT_EQ(sim::LeakReport(), "");
    }
}

TEST_P(SettingsWriteTest, TraceLinesWhileTheSwitchIsOn) {
    const Setting& setting = GetParam();
    TraceSwitch = 1;
    Buffer missing;
    setting.get(missing.text);  // no key yet: the caller's buffer is not shown
    setting.set(u"C:\\Dir\\");
    Buffer buffer;
    setting.get(buffer.text);
    TraceSwitch = 0;

    std::vector<std::string> writes = sim::DebugOutputWrites();
    std::string get = setting.getName, set = setting.setName;
    std::vector<std::string> expected = {
        "ZelIf(TRAC) " + get + "++\n",
        "ZelIf(ERR_) " + get + "-- \"\" (00000002) ",
        "ZelIf(TRAC) " + set + "-- \"C:\\Dir\\\"\n",
        "ZelIf(TRAC) " + set + "-- (00000000) ",
        "ZelIf(TRAC) " + get + "++\n",
        "ZelIf(TRAC) " + get + "-- \"C:\\Dir\\\" (00000000) ",
    };
    ASSERT_EQ(writes.size(), expected.size()) << sim::DebugOutput();
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(writes[i].substr(0, expected[i].size()), expected[i]);
}

INSTANTIATE_TEST_SUITE_P(Values, SettingsWriteTest, testing::ValuesIn(kSettings),
                         [](const testing::TestParamInfo<Setting>& info) { return std::string(info.param.value); });

}  // namespace
