// The simulated file system, INF reader, setup classes, driver package staging and win.ini. Where these
// read an INF differently from the real service, the device installation tests built on them are wrong
// too; these pin the rules that code relies on.
#include <cstring>

#include "platform/guard.h"
#include "portstore/port_info.h"
#include "sim_fixture.h"
#include "winsim/files.h"
#include "winsim/inf_internal.h"

namespace {

constexpr const char* kNone = "<no field>";
constexpr GUID kPortsGuid = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr GUID kModemGuid = {0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string Header(const char* signature = "\"$Windows NT$\"") {
    return std::string("[Version]\r\nSignature=") + signature + "\r\nClass=Ports\r\n";
}

std::string Text(const WCHAR* text) { return sim::U8(text); }

// Field 0 (the key) to the last field of the line, kNone for one that cannot be read.
std::vector<std::string> Fields(const INFCONTEXT& context) {
    std::vector<std::string> out;
    DWORD count = SetupGetFieldCount(&context);
    for (DWORD i = 0; i <= count; ++i) {
        WCHAR buffer[128];
        out.push_back(SetupGetStringFieldW(&context, i, buffer, 128, nullptr) ? Text(buffer) : kNone);
    }
    return out;
}

class InfTest : public SimTest {
protected:
    // Writes the text as C:\Inf\test.inf and opens it; the test closes it.
    HINF Open(const std::string& text) {
        sim::PutTextFile("C:\\Inf\\test.inf", text);
        HINF inf = SetupOpenInfFileW(u"C:\\Inf\\test.inf", nullptr, INF_STYLE_WIN4, nullptr);
        EXPECT_NE(inf, INVALID_HANDLE_VALUE) << "error 0x" << std::hex << GetLastError();
        return inf;
    }
};

// ---- Parsing: one section body, the line found, its fields ----
struct ParseCase {
    const char* name;
    const char* body;  // lines of [S]
    const char16_t* key;  // null: the first line
    std::vector<std::string> fields;  // field 0 (key) onwards
};
void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.name; }

const ParseCase kParseCases[] = {
    {"FieldsAreTrimmed", "key = a , b ,c", nullptr, {"key", "a", "b", "c"}},
    {"InnerBlanksStay", "  spaced key  =  v  w  ", nullptr, {"spaced key", "v  w"}},
    {"QuotesMakeCommasAndSemicolonsLiteral", "q=\"a,b;c\",\"x\"\"y\", \" padded \"", nullptr,
     {"q", "a,b;c", "x\"y", " padded "}},
    {"CommentEndsTheLine", "cm=one ; two, three", nullptr, {"cm", "one"}},
    {"BackslashContinuesTheLine", "cont=one,\\\r\n  two, three", nullptr, {"cont", "one", "two", "three"}},
    {"StringsAreSubstitutedInFields", "sub=%Mfg%,%%,%Unknown%,pre%mfg%post,50%", nullptr,
     {"sub", "Kel,miso", "%", "%Unknown%", "preKel,misopost", "50%"}},
    {"SubstitutedKeyIsFoundByItsText", "first=1\r\n%Mfg% = keyed", u"kel,MISO", {"Kel,miso", "keyed"}},
    {"QuotedStringValueLosesItsQuotes", "%Desc%=x", u"A;b", {"A;b", "x"}},
    {"KeysIgnoreCase", "MixedCase=1", u"mixedcase", {"MixedCase", "1"}},
    {"QuotedKey", "\"quoted key\" = v", u"quoted key", {"quoted key", "v"}},
    {"EmptyFieldsCount", "empty=,,", nullptr, {"empty", "", "", ""}},
    {"KeyWithoutValueHasOneEmptyField", "emptyval=", nullptr, {"emptyval", ""}},
    {"EmptyKey", "=value", u"", {"", "value"}},
    {"LineOfOneFieldIsItsOwnKey", "first=1\r\nsingle", u"SINGLE", {"single", "single"}},
    {"KeylessLineHasNoFieldZero", "nokey, second", nullptr, {kNone, "nokey", "second"}},
    {"KeylessLineIsNotFoundByItsFirstField", "nokey, second\r\nnokey=keyed", u"nokey", {"nokey", "keyed"}},
    {"SectionsOfOneNameMerge", "first=1\r\n[Other]\r\no=1\r\n[s]\r\nsecond=2", u"second", {"second", "2"}},
};

class InfParsing : public InfTest, public testing::WithParamInterface<ParseCase> {};

TEST_P(InfParsing, LineReadsAsWritten) {
    const ParseCase& c = GetParam();
    HINF inf = Open(Header() + "[S]\r\n" + c.body + "\r\n[Strings]\r\nMfg=\"Kel,miso\"\r\nDesc = \"A;b\"   \r\n");
    INFCONTEXT context{};
    ASSERT_TRUE(SetupFindFirstLineW(inf, u"s", c.key, &context)) << std::hex << GetLastError();
    EXPECT_EQ(Fields(context), c.fields);
    SetupCloseInfFile(inf);
}

INSTANTIATE_TEST_SUITE_P(Rules, InfParsing, testing::ValuesIn(kParseCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Opening: which files are INF files ----
struct OpenCase {
    const char* name;
    std::optional<std::string> content;  // of C:\Inf\case.inf; nullopt: no such file
    const char16_t* path;
    DWORD error;
    UINT errorLine;  // 12345: left alone
};
void PrintTo(const OpenCase& c, std::ostream* out) { *out << c.name; }

const OpenCase kOpenCases[] = {
    {"MissingFile", std::nullopt, u"C:\\Inf\\case.inf", ERROR_FILE_NOT_FOUND, 12345},
    {"MissingFolder", std::nullopt, u"C:\\Nowhere\\case.inf", ERROR_PATH_NOT_FOUND, 12345},
    {"Folder", "", u"C:\\Inf", ERROR_ACCESS_DENIED, 12345},
    {"EmptyFile", "", u"C:\\Inf\\case.inf", ERROR_FILE_INVALID, 12345},
    {"TextBeforeAnySection", "hello\r\nworld\r\n", u"C:\\Inf\\case.inf", DWORD{ERROR_EXPECTED_SECTION_NAME}, 1},
    {"UnclosedSectionName", Header() + "[A\r\nx=1\r\n", u"C:\\Inf\\case.inf", DWORD{ERROR_BAD_SECTION_NAME_LINE}, 4},
    {"NoSignature", "[Version]\r\nClass=Ports\r\n", u"C:\\Inf\\case.inf", DWORD{ERROR_WRONG_INF_STYLE}, 0},
    {"UnknownSignature", Header("$Foo$"), u"C:\\Inf\\case.inf", DWORD{ERROR_WRONG_INF_STYLE}, 0},
    {"NoVersionSection", "[A]\r\nx=1\r\n", u"C:\\Inf\\case.inf", DWORD{ERROR_WRONG_INF_STYLE}, 0},
    {"WindowsNtSignatureIgnoresCase", Header("$windows nt$"), u"C:\\Inf\\case.inf", 0, 12345},
    {"ChicagoSignature", Header("$CHICAGO$"), u"C:\\Inf\\case.inf", 0, 12345},
    {"Windows95Signature", Header("\"$Windows 95$\""), u"C:\\Inf\\case.inf", 0, 12345},
    {"PathSpelledOtherwise", Header(), u"c:/INF/sub/../Case.INF", 0, 12345},
    {"RelativeToTheCurrentFolder", Header(), u"..\\..\\Inf\\.\\case.inf", 0, 12345},
};

class InfOpening : public InfTest, public testing::WithParamInterface<OpenCase> {};

TEST_P(InfOpening, OpensOrFailsWithTheServicesCode) {
    const OpenCase& c = GetParam();
    sim::MakeFolder("C:\\Inf");
    if (c.content) sim::PutTextFile("C:\\Inf\\case.inf", *c.content);
    UINT line = 12345;
    HINF inf = SetupOpenInfFileW(c.path, nullptr, INF_STYLE_WIN4, &line);
    if (c.error) {
        EXPECT_EQ(inf, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    } else {
        EXPECT_NE(inf, INVALID_HANDLE_VALUE) << std::hex << GetLastError();
        SetupCloseInfFile(inf);
    }
    EXPECT_EQ(line, c.errorLine);
    EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::InfFile), 0u);
}

INSTANTIATE_TEST_SUITE_P(Files, InfOpening, testing::ValuesIn(kOpenCases),
                         [](const auto& info) { return std::string(info.param.name); });

using InfReading = InfTest;

TEST_F(InfReading, Utf16AndUtf8FilesReadAlike) {
    const std::string text = Header() + "[A]\r\nk = \xC3\xA9t\xC3\xA9\r\n";
    sim::PutUtf16File("C:\\Inf\\wide.inf", text);
    sim::PutTextFile("C:\\Inf\\bom.inf", "\xEF\xBB\xBF" + text);
    for (const char16_t* path : {u"C:\\Inf\\wide.inf", u"C:\\Inf\\bom.inf"}) {
        SCOPED_TRACE(sim::U8(path));
        HINF inf = SetupOpenInfFileW(path, nullptr, INF_STYLE_WIN4, nullptr);
        ASSERT_NE(inf, INVALID_HANDLE_VALUE);
        INFCONTEXT context;
        ASSERT_TRUE(SetupFindFirstLineW(inf, u"A", u"k", &context));
        EXPECT_EQ(Fields(context), (std::vector<std::string>{"k", "\xC3\xA9t\xC3\xA9"}));
        SetupCloseInfFile(inf);
    }
}

TEST_F(InfReading, BareNameIsLookedForInTheInfFolderAndClassMustMatch) {
    sim::PutTextFile("C:\\Windows\\INF\\bare.inf", Header());
    HINF inf = SetupOpenInfFileW(u"bare.inf", u"PORTS", INF_STYLE_WIN4, nullptr);
    EXPECT_NE(inf, INVALID_HANDLE_VALUE);
    SetupCloseInfFile(inf);
    EXPECT_EQ(SetupOpenInfFileW(u"bare.inf", u"Modem", INF_STYLE_WIN4, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_CLASS_MISMATCH});
}

TEST_F(InfReading, FindFirstAndNextLineWalkASection) {
    HINF inf = Open(Header() + "[A]\r\none=1\r\ntwo=2\r\nthree=3\r\n[Empty]\r\n");
    INFCONTEXT context;
    std::vector<std::string> keys;
    for (BOOL more = SetupFindFirstLineW(inf, u"A", u"two", &context); more; more = SetupFindNextLine(&context, &context))
        keys.push_back(Fields(context)[0]);
    EXPECT_EQ(keys, (std::vector<std::string>{"two", "three"})) << "the next line whatever its key";
    EXPECT_EQ(GetLastError(), DWORD{ERROR_LINE_NOT_FOUND});

    EXPECT_FALSE(SetupFindFirstLineW(inf, u"A", u"four", &context));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_LINE_NOT_FOUND});
    EXPECT_FALSE(SetupFindFirstLineW(inf, u"Empty", nullptr, &context));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_LINE_NOT_FOUND});
    EXPECT_FALSE(SetupFindFirstLineW(inf, u"Missing", nullptr, &context));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_SECTION_NOT_FOUND});
    sim::SetMissingSectionError(ERROR_LINE_NOT_FOUND);
    EXPECT_FALSE(SetupFindFirstLineW(inf, u"Missing", u"key", &context));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_LINE_NOT_FOUND});
    SetupCloseInfFile(inf);
}

TEST_F(InfReading, StringFieldBufferRules) {
    HINF inf = Open(Header() + "[A]\r\nkey=value,2\r\n");
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineW(inf, u"A", nullptr, &context));
    DWORD size = 0;
    EXPECT_TRUE(SetupGetStringFieldW(&context, 1, nullptr, 0, &size)) << "a size query succeeds";
    EXPECT_EQ(size, 6u) << "the size counts the terminator";
    WCHAR buffer[8] = u"untouch";
    size = 0;
    EXPECT_FALSE(SetupGetStringFieldW(&context, 1, buffer, 5, &size));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(Text(buffer), "untouch") << "nothing is written into a short buffer";
    EXPECT_TRUE(SetupGetStringFieldW(&context, 1, buffer, 6, nullptr));
    EXPECT_EQ(Text(buffer), "value");
    EXPECT_EQ(SetupGetFieldCount(&context), 2u) << "fields after the key";
    EXPECT_FALSE(SetupGetStringFieldW(&context, 3, buffer, 8, &size));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER}) << "beyond the last field";
    SetupCloseInfFile(inf);
}

TEST_F(InfReading, HandlesAreCountedAndMisuseIsSeen) {
    HINF inf = Open(Header() + "[A]\r\nk=v\r\n");
    EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::InfFile), 1u);
    EXPECT_NE(sim::LeakReport().find("INF file handle"), std::string::npos) << "an unclosed INF is a leak";
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineW(inf, u"A", nullptr, &context));
    EXPECT_FALSE(CloseHandle(inf)) << "an INF handle is not a kernel object";
    SetupCloseInfFile(inf);
    EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::InfFile), 0u);
    SetupCloseInfFile(inf);
    WCHAR buffer[8];
    EXPECT_FALSE(SetupGetStringFieldW(&context, 0, buffer, 8, nullptr)) << "the context outlived its INF";
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    SetupCloseInfFile(INVALID_HANDLE_VALUE);  // no INF: ignored, as the service does
    EXPECT_EQ(sim::TakeViolations().size(), 3u);
}

void OpenProductInf(void*) { SetupOpenInfFileW(u"C:\\Inf\\test.inf", nullptr, INF_STYLE_WIN4, nullptr); }

TEST_F(InfReading, FaultsFailOrRaiseWithoutOpeningAnything) {
    sim::PutTextFile("C:\\Inf\\test.inf", Header());
    sim::FailCall("SetupOpenInfFileW", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(SetupOpenInfFileW(u"C:\\Inf\\test.inf", nullptr, INF_STYLE_WIN4, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_ENOUGH_MEMORY});
    sim::RaiseInCall("SetupOpenInfFileW", 1, EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(ZelRunGuarded(OpenProductInf, nullptr), EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(sim::OpenHandleCount(sim::HandleKind::InfFile), 0u);
    auto calls = sim::Calls("SetupOpenInfFileW");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].Text("FileName"), "C:\\Inf\\test.inf");
    EXPECT_EQ(calls[0].Number("InfStyle"), INF_STYLE_WIN4);
}

// ---- Setup classes ----
struct ClassCase {
    const char* name;
    const char* version;  // lines of [Version] after the signature
    DWORD error;
    const char* className;
    GUID guid;
};
void PrintTo(const ClassCase& c, std::ostream* out) { *out << c.name; }

const ClassCase kClassCases[] = {
    {"ClassAndGuid", "Class=Ports\r\nClassGuid={4d36e978-e325-11ce-bfc1-08002be10318}", 0, "Ports", kPortsGuid},
    {"ClassOnlyGivesGuidNull", "Class=Ports", 0, "Ports", GUID{}},
    {"GuidOnlyGivesTheKnownName", "ClassGUID={4D36E96D-E325-11CE-BFC1-08002BE10318}", 0, "Modem", kModemGuid},
    {"UnknownGuidOnlyGivesNoName", "ClassGUID={11111111-2222-3333-4444-555555555555}", 0, "",
     {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}}},
    {"SubstitutedClass", "Class=%C%\r\n[Strings]\r\nC=Modem", 0, "Modem", GUID{}},
    {"Neither", "Provider=K", DWORD{ERROR_NO_ASSOCIATED_CLASS}, "", GUID{}},
    {"MalformedGuid", "Class=Ports\r\nClassGuid=notaguid", ERROR_INVALID_PARAMETER, "", GUID{}},
};

class InfClass : public InfTest, public testing::WithParamInterface<ClassCase> {};

TEST_P(InfClass, ComesFromTheVersionSection) {
    const ClassCase& c = GetParam();
    sim::PutTextFile("C:\\Inf\\class.inf", std::string("[Version]\r\nSignature=$Windows NT$\r\n") + c.version + "\r\n");
    GUID guid;
    std::memset(&guid, 0xAB, sizeof guid);
    WCHAR name[64] = u"untouched";
    BOOL ok = SetupDiGetINFClassW(u"C:\\Inf\\class.inf", &guid, name, 64, nullptr);
    if (c.error) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(GetLastError(), c.error);
        return;
    }
    ASSERT_TRUE(ok) << std::hex << GetLastError();
    EXPECT_EQ(Text(name), c.className);
    EXPECT_TRUE(sim::detail::SameGuid(guid, c.guid)) << sim::U8(sim::detail::GuidText(guid));
}

INSTANTIATE_TEST_SUITE_P(Version, InfClass, testing::ValuesIn(kClassCases),
                         [](const auto& info) { return std::string(info.param.name); });

using SetupClasses = InfTest;

TEST_F(SetupClasses, InfClassBufferRules) {
    sim::PutProductInf("C:\\Pkg");
    GUID guid;
    WCHAR name[8];
    DWORD size = 0;
    EXPECT_FALSE(SetupDiGetINFClassW(u"C:\\Pkg\\ZelDrvr.inf", &guid, name, 5, &size));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
    EXPECT_EQ(size, 6u) << "characters with the terminator";
    EXPECT_TRUE(SetupDiGetINFClassW(u"C:\\Pkg\\ZelDrvr.inf", &guid, name, 6, &size));
    EXPECT_EQ(Text(name), "Ports");
    EXPECT_FALSE(SetupDiGetINFClassW(u"C:\\Pkg\\Missing.inf", &guid, name, 8, &size));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
}

TEST_F(SetupClasses, GuidsFromNameListRules) {
    GUID list[2];
    DWORD size = 99;
    EXPECT_TRUE(SetupDiClassGuidsFromNameW(u"ports", list, 2, &size));
    EXPECT_EQ(size, 1u);
    EXPECT_TRUE(sim::detail::SameGuid(list[0], kPortsGuid));
    EXPECT_TRUE(SetupDiClassGuidsFromNameW(u"Modem", list, 1, &size));
    EXPECT_TRUE(sim::detail::SameGuid(list[0], kModemGuid));
    EXPECT_FALSE(SetupDiClassGuidsFromNameW(u"Ports", nullptr, 0, &size));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
    EXPECT_EQ(size, 1u);
    size = 99;
    EXPECT_TRUE(SetupDiClassGuidsFromNameW(u"NoSuchClass", list, 2, &size)) << "an unknown name is no error";
    EXPECT_EQ(size, 0u);
    // A class installed in the registry is known by its name too.
    sim::RegSetString(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Class\\{11111111-2222-3333-4444-555555555555}",
                      "Class", u"Gadget");
    EXPECT_TRUE(SetupDiClassGuidsFromNameW(u"gadget", list, 2, &size));
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(list[0].Data1, 0x11111111u);
}

// ---- Driver package staging ----
class OemStaging : public InfTest {
protected:
    struct Staged {
        BOOL ok;
        DWORD error;
        std::string name, component;
        DWORD required;
    };
    Staged Stage(const char16_t* inf, const char16_t* media, DWORD style = 0, DWORD size = MAX_PATH) {
        WCHAR name[MAX_PATH] = u"untouched";
        PWSTR component = nullptr;
        DWORD required = 0;
        BOOL ok = SetupCopyOEMInfW(inf, media, SPOST_PATH, style, name, size, &required, &component);
        DWORD error = ok ? 0 : GetLastError();
        return {ok, error, Text(name), component ? Text(component) : "", required};
    }
};

TEST_F(OemStaging, NewPackageTakesTheLowestFreeNameAndAnIdenticalOneKeepsIt) {
    std::string package = sim::LayProductPackage();
    EXPECT_EQ(package, "C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\ZelDrvr.inf");
    const char16_t* source = u"C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\ZelDrvr.inf";
    const char16_t* media = u"C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\";
    Staged first = Stage(source, media);
    ASSERT_TRUE(first.ok) << std::hex << first.error;
    EXPECT_EQ(first.name, "C:\\Windows\\INF\\oem0.inf");
    EXPECT_EQ(first.component, "oem0.inf");
    EXPECT_EQ(first.required, first.name.size() + 1);
    EXPECT_EQ(sim::FileBytes(first.name), sim::ProductInfBytes());
    EXPECT_EQ(sim::StagedInfSource("oem0.inf"), sim::U8(media));

    Staged again = Stage(source, media);
    EXPECT_TRUE(again.ok);
    EXPECT_EQ(again.name, first.name) << "a byte-identical package is staged once";
    Staged refused = Stage(source, media, SP_COPY_NOOVERWRITE);
    EXPECT_EQ(refused.error, DWORD{ERROR_FILE_EXISTS});
    EXPECT_EQ(refused.name, first.name) << "the existing name is still reported";

    sim::PutTextFile("C:\\Other\\other.inf", Header() + "; another package\r\n");
    sim::PutTextFile("C:\\Windows\\INF\\oem1.inf", Header() + "; staged by someone else\r\n");
    EXPECT_EQ(Stage(u"C:\\Other\\other.inf", u"C:\\Other\\").name, "C:\\Windows\\INF\\oem2.inf");
    EXPECT_TRUE(sim::RemoveFile("C:\\Windows\\INF\\oem0.inf"));
    sim::PutTextFile("C:\\Other\\third.inf", Header() + "; a third package\r\n");
    EXPECT_EQ(Stage(u"C:\\Other\\third.inf", nullptr).name, "C:\\Windows\\INF\\oem0.inf");
    EXPECT_EQ(sim::StagedInfSource("oem0.inf"), "C:\\Other\\") << "no location: the INF's own folder";
    EXPECT_EQ(sim::StagedInfs(), (std::vector<std::string>{"oem0.inf", "oem1.inf", "oem2.inf"}));
}

TEST_F(OemStaging, FailuresAndTheNameBuffer) {
    sim::LayProductPackage();
    EXPECT_EQ(Stage(u"C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\Missing.inf", u"C:\\").error, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Stage(u"C:\\Program Files\\Kelmiso\\ZEL\\NoFolder\\ZelDrvr.inf", u"C:\\").error, ERROR_PATH_NOT_FOUND);
    sim::PutTextFile("C:\\Bad\\bad.inf", "not an INF\r\n");
    EXPECT_EQ(Stage(u"C:\\Bad\\bad.inf", u"C:\\Bad\\").error, DWORD{ERROR_EXPECTED_SECTION_NAME});
    EXPECT_TRUE(sim::StagedInfs().empty());

    Staged small = Stage(u"C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\ZelDrvr.inf", u"C:\\Nowhere\\", 0, 10);
    EXPECT_EQ(small.error, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(small.required, sizeof "C:\\Windows\\INF\\oem0.inf");
    EXPECT_EQ(small.name, "untouched");
    EXPECT_EQ(sim::StagedInfs(), std::vector<std::string>{"oem0.inf"})
        << "staged although the name did not fit; the media folder need not exist";

    sim::SetCurrentFolder("C:\\Program Files\\Kelmiso\\ZEL");
    Staged relative = Stage(u".\\ZelDrvr\\ZelDrvr.inf", nullptr);
    EXPECT_TRUE(relative.ok) << "relative to the current folder";
    EXPECT_EQ(relative.name, "C:\\Windows\\INF\\oem0.inf");
}

// ---- win.ini ----
using WinIni = SimTest;

TEST_F(WinIni, GetProfileStringLengthAndTruncationRules) {
    EXPECT_TRUE(WriteProfileStringW(u"Ports", u"COM5:", u"9600,n,8,1"));
    WCHAR buffer[130];
    EXPECT_EQ(GetProfileStringW(u"PORTS", u"com5:", u"", buffer, 130), 10u);
    EXPECT_EQ(Text(buffer), "9600,n,8,1");
    EXPECT_EQ(GetProfileStringW(u"Ports", u"COM5:", u"", buffer, 4), 3u) << "the size less one";
    EXPECT_EQ(Text(buffer), "960");
    EXPECT_EQ(GetProfileStringW(u"Ports", u"COM6:", u"none  ", buffer, 130), 4u);
    EXPECT_EQ(Text(buffer), "none") << "the default without its trailing blanks";
    EXPECT_EQ(GetProfileStringW(u"Ports", u"COM6:", nullptr, buffer, 130), 0u);
    EXPECT_EQ(Text(buffer), "");
    sim::SetProfileValue("Ports", "COM7:", "  \"quoted\"  ");
    EXPECT_EQ(GetProfileStringW(u"Ports", u"COM7:", u"", buffer, 130), 6u);
    EXPECT_EQ(Text(buffer), "quoted");
}

TEST_F(WinIni, ListsAndDeletion) {
    WriteProfileStringW(u"Ports", u"COM5:", u"9600,n,8,1");
    WriteProfileStringW(u"Ports", u"COM7:", u"9600,n,8,1");
    WCHAR buffer[32];
    EXPECT_EQ(GetProfileStringW(u"Ports", nullptr, u"", buffer, 32), 12u);
    EXPECT_EQ(std::u16string(buffer, 13), std::u16string(u"COM5:\0COM7:\0\0", 13));
    EXPECT_EQ(GetProfileStringW(u"Ports", nullptr, u"", buffer, 9), 7u) << "a cut list: the size less two";
    EXPECT_EQ(std::u16string(buffer, 9), std::u16string(u"COM5:\0C\0\0", 9));
    EXPECT_TRUE(WriteProfileStringW(u"ports", u"com5:", nullptr)) << "a null value deletes the key";
    EXPECT_EQ(sim::ProfileKeys("Ports"), std::vector<std::string>{"COM7:"});
    EXPECT_TRUE(WriteProfileStringW(u"Ports", u"COM9:", nullptr)) << "deleting a missing key succeeds";
    EXPECT_TRUE(WriteProfileStringW(u"PORTS", nullptr, nullptr)) << "a null key deletes the section";
    EXPECT_EQ(sim::ProfileValue("Ports", "COM7:"), std::nullopt);
    EXPECT_EQ(sim::ProfileSections(), (std::vector<std::string>{"fonts", "extensions", "mci extensions", "files", "Mail"}));
}

// ---- The file system ----
using FileSystem = SimTest;

TEST_F(FileSystem, PathsResolveAsWindowsResolvesThem) {
    EXPECT_EQ(sim::CurrentFolder(), "C:\\Windows\\system32");
    EXPECT_TRUE(sim::FolderExists("c:\\windows\\inf")) << "the system INF folder exists on a fresh machine";
    EXPECT_EQ(sim::FullPath("..\\Temp\\.\\x.inf"), "C:\\Windows\\Temp\\x.inf");
    EXPECT_EQ(sim::FullPath("\\Root.txt"), "C:\\Root.txt");
    EXPECT_EQ(sim::FullPath("c:/a//b/../c"), "C:\\a\\c");
    EXPECT_EQ(sim::FullPath("\\\\server\\share\\x"), "");
    sim::PutTextFile("C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\ZelDrvr.inf", "x");
    EXPECT_TRUE(sim::FolderExists("C:\\PROGRAM FILES\\kelmiso")) << "folders exist below a file";
    EXPECT_TRUE(sim::FileExists("c:\\program files\\kelmiso\\zel\\zeldrvr\\ZELDRVR.INF"));
    EXPECT_EQ(sim::ListFolder("C:\\Program Files\\Kelmiso\\ZEL"), std::vector<std::string>{"ZelDrvr"});
    EXPECT_TRUE(sim::RemoveFile("C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\ZelDrvr.inf"));
    EXPECT_TRUE(sim::FolderExists("C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr")) << "its folder stays";
    EXPECT_FALSE(sim::RemoveFile("C:\\Program Files\\Kelmiso\\ZEL\\ZelDrvr\\ZelDrvr.inf"));
}

// ---- The parsed model: the product package ----
class ProductPackage : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        std::u16string path = sim::U16(sim::PutProductInf("C:\\Pkg"));
        ASSERT_EQ(sim::detail::LoadInf(path, &inf), 0u);
    }
    sim::detail::InfFile inf;
};

TEST_F(ProductPackage, OffersOneKelmisoDriverForThePlatform) {
    std::vector<sim::detail::InfDriver> drivers = sim::detail::ListDrivers(inf);
    ASSERT_EQ(drivers.size(), 1u);
    EXPECT_EQ(sim::U8(drivers[0].manufacturer), "Kelmiso");
    EXPECT_EQ(sim::U8(drivers[0].modelsSection), "ZelModels.NTx86");
    EXPECT_EQ(sim::U8(drivers[0].description), "ZEL Virtual Serial Port");
    EXPECT_EQ(sim::U8(drivers[0].installSection), "ZelPort_Install");
    EXPECT_EQ(sim::U8(drivers[0].hardwareId), "*zeldevice");
    EXPECT_TRUE(drivers[0].compatibleIds.empty());
    EXPECT_EQ(sim::U8(sim::detail::InfProvider(inf)), "Kelmiso") << "the provider equals the manufacturer";
    std::u16string className;
    GUID guid;
    ASSERT_EQ(sim::detail::InfClass(inf, &className, &guid), 0u);
    EXPECT_EQ(sim::U8(className), "Ports");
    EXPECT_TRUE(sim::detail::SameGuid(guid, kPortsGuid));
    EXPECT_EQ(sim::detail::ResolveInstallSection(inf, u"ZelPort_Install"), u"ZelPort_Install.NT");
}

TEST_F(ProductPackage, WalkOfTheManufacturerLineFindsTheModel) {
    HINF handle = SetupOpenInfFileW(u"C:\\Pkg\\ZelDrvr.inf", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineW(handle, u"Manufacturer", u"Kelmiso", &context));
    EXPECT_EQ(Fields(context), (std::vector<std::string>{"Kelmiso", "ZelModels", "NTx86", "NTamd64"}));
    ASSERT_TRUE(SetupFindFirstLineW(handle, u"ZelModels.NTx86", nullptr, &context));
    EXPECT_EQ(Fields(context), (std::vector<std::string>{"ZEL Virtual Serial Port", "ZelPort_Install", "*zeldevice"}));
    SetupCloseInfFile(handle);
}

TEST_F(ProductPackage, DefaultConfigurationLoadsCompletelyAndIsNotClobbered) {
    const std::string driverKey = "System\\CurrentControlSet\\Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}\\0000";
    sim::RegSetDword(HKEY_LOCAL_MACHINE, driverKey + "\\Properties", "CnTmo", 1234);
    ASSERT_EQ(sim::detail::ApplyAddReg(inf, u"ZelPort_Install.NT", driverKey), 0u);
    EXPECT_EQ(sim::RegValueNames(HKEY_LOCAL_MACHINE, driverKey + "\\Properties").size(), 19u);
    std::optional<sim::RegValue> key = sim::RegGetValue(HKEY_LOCAL_MACHINE, driverKey + "\\Properties", "AESKey");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->type, REG_BINARY);
    EXPECT_EQ(key->data, std::vector<uint8_t>(32, 0));

    PortInfo info;
    std::memset(&info, 0xEE, sizeof info);
    std::u16string properties = sim::U16(driverKey + "\\Properties");
    EXPECT_EQ(_GetClassPortProperties(&info, properties.c_str()), 0) << "every value a load reads is there";
    EXPECT_EQ(info.CnTmo, 1234u) << "an existing setting stays";
    EXPECT_EQ(info.KeepAliveTime, 7200000u);
    EXPECT_EQ(info.NumServices, 0u);
}

// ---- AddReg lines and models decorations ----
struct AddRegCase {
    const char* name;
    const char* line;
    const char* subkey;  // below the HKR key
    const char* value;
    DWORD type;
    std::vector<uint8_t> data;
};
void PrintTo(const AddRegCase& c, std::ostream* out) { *out << c.name; }

const AddRegCase kAddRegCases[] = {
    {"Dword", "HKR, Sub, V, 0x00010001, 0x10", "\\Sub", "V", REG_DWORD, {0x10, 0, 0, 0}},
    {"DecimalDword", "HKR, Sub, V, 0x00010001, 300", "\\Sub", "V", REG_DWORD, {0x2C, 1, 0, 0}},
    {"StringInTheKeyItself", "HKR, , V, 0, \"a,b\"", "", "V", REG_SZ, {'a', 0, ',', 0, 'b', 0, 0, 0}},
    {"NoFlagsIsAString", "HKR, , V, , x", "", "V", REG_SZ, {'x', 0, 0, 0}},
    {"ExpandString", "HKR, , V, 0x00020000, x", "", "V", REG_EXPAND_SZ, {'x', 0, 0, 0}},
    {"MultiString", "HKR, , V, 0x00010000, a, b", "", "V", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
    {"Binary", "HKR, , V, 1, 0a, FF", "", "V", REG_BINARY, {0x0A, 0xFF}},
    {"DefaultValue", "HKR, Sub, , 0, d", "\\Sub", "", REG_SZ, {'d', 0, 0, 0}},
};

class AddReg : public SimTest, public testing::WithParamInterface<AddRegCase> {};

TEST_P(AddReg, LineWritesItsValue) {
    const AddRegCase& c = GetParam();
    sim::detail::InfFile inf;
    std::string text = Header() + "[Install]\r\nAddReg = One\r\n[One]\r\n" + c.line + "\r\nHKLM, Other, W, 0, no\r\n";
    ASSERT_EQ(sim::detail::ParseInf(sim::U16(text), &inf, nullptr), 0u);
    ASSERT_EQ(sim::detail::ApplyAddReg(inf, u"Install", "Hkr"), 0u);
    std::optional<sim::RegValue> value = sim::RegGetValue(HKEY_LOCAL_MACHINE, std::string("Hkr") + c.subkey, c.value);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, c.type);
    EXPECT_EQ(value->data, c.data);
    EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Other")) << "only HKR lines apply";
}

INSTANTIATE_TEST_SUITE_P(Flags, AddReg, testing::ValuesIn(kAddRegCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct DecorationCase {
    const char* name;
    const char* line;
    const char* section;
};
void PrintTo(const DecorationCase& c, std::ostream* out) { *out << c.name; }

const DecorationCase kDecorationCases[] = {
    {"NTx86", "M = Models, NTamd64, NTx86", "Models.NTx86"},
    {"NTx86BeforeNT", "M = Models, NT, ntX86", "Models.ntX86"},
    {"VersionedNTx86", "M = Models, NTx86.6.1", "Models.NTx86.6.1"},
    {"NT", "M = Models, NTamd64, NT", "Models.NT"},
    {"OtherPlatformsOnly", "M = Models, NTamd64, NTarm64", "Models"},
    {"Undecorated", "M = Models", "Models"},
};

class ModelsDecoration : public testing::TestWithParam<DecorationCase> {};

TEST_P(ModelsDecoration, ChoosesTheSectionFor32BitNt) {
    sim::detail::InfFile inf;
    ASSERT_EQ(sim::detail::ParseInf(sim::U16(Header() + "[Manufacturer]\r\n" + GetParam().line), &inf, nullptr), 0u);
    EXPECT_EQ(sim::U8(sim::detail::ModelsSectionFor(inf.Find(u"Manufacturer")->lines.at(0))), GetParam().section);
}

INSTANTIATE_TEST_SUITE_P(Platform, ModelsDecoration, testing::ValuesIn(kDecorationCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
