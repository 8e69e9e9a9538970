// INF files as SetupAPI reads them: the parser, open INF handles and line contexts, the INF's setup
// class, driver package staging into the system INF folder, and the parsed model that device
// installation works from (drivers offered, install sections, AddReg).
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "winsim/files.h"
#include "winsim/inf_internal.h"

namespace sim {
namespace detail {
namespace {

constexpr UINT kNoErrorLine = UINT_MAX;
constexpr size_t kMaxSectionName = 255;
constexpr const char* kClassKey = "System\\CurrentControlSet\\Control\\Class";

struct InfHandle : HandleObject {
    std::shared_ptr<const InfFile> inf;
};

struct InfState {
    DWORD missingSectionError = ERROR_SECTION_NOT_FOUND;
    std::map<std::u16string, std::u16string> stagedSources;  // staged name (lower case) -> source location
};
InfState& State() {
    static InfState state;
    return state;
}
void ResetInf() { State() = InfState{}; }
ResetHook infReset(ResetInf);

struct BuiltInClass {
    const char16_t* name;
    GUID guid;
};
const BuiltInClass kBuiltInClasses[] = {
    {u"Ports", {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}}},
    {u"Modem", {0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}}},
};

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
    return s;
}

std::u16string Lower(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return out;
}

std::vector<std::u16string_view> SplitLines(std::u16string_view text) {
    std::vector<std::u16string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// Splits the logical line that starts at lines[*index] into key and fields; a trailing backslash outside
// quotes joins the next physical line. Leaves *index at the last physical line used.
InfLine Tokenize(const std::vector<std::u16string_view>& lines, size_t* index) {
    InfLine line;
    line.sourceLine = static_cast<unsigned>(*index + 1);
    std::vector<std::u16string> tokens;
    std::u16string current, blanks;
    bool started = false, quoted = false, any = false;
    auto endField = [&] {
        tokens.push_back(current);
        current.clear();
        blanks.clear();
        started = false;
    };
    for (;;) {
        std::u16string_view text = lines[*index];
        bool continued = false;
        for (size_t k = 0; k < text.size(); ++k) {
            char16_t c = text[k];
            if (quoted) {
                if (c != u'"') current.push_back(c);
                else if (k + 1 < text.size() && text[k + 1] == u'"') current.push_back(text[++k]);
                else quoted = false;
                continue;
            }
            if (c == u';') break;
            any = true;
            if (c == u'"') {
                if (started) current += blanks;
                blanks.clear();
                started = quoted = true;
            } else if (c == u',') {
                endField();
            } else if (c == u'=' && !line.keyed && tokens.empty()) {
                line.key = current;
                line.keyed = true;
                current.clear();
                blanks.clear();
                started = false;
            } else if (c == u' ' || c == u'\t') {
                if (started) blanks.push_back(c);
            } else if (c == u'\\' && Trim(text.substr(k + 1)).empty() && *index + 1 < lines.size()) {
                continued = true;
                break;
            } else {
                current += blanks;
                blanks.clear();
                current.push_back(c);
                started = true;
            }
        }
        // A quote still open at the end of a line closes there.
        quoted = false;
        if (!continued) break;
        ++*index;
    }
    if (any) endField();
    line.fields = std::move(tokens);
    if (!line.keyed && line.fields.size() == 1) line.key = line.fields[0];
    return line;
}

std::u16string Substitute(std::u16string_view text, const std::vector<std::pair<std::u16string, std::u16string>>& strings) {
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t open = text.find(u'%', i);
        size_t close = open == std::u16string_view::npos ? open : text.find(u'%', open + 1);
        if (close == std::u16string_view::npos) {
            out += text.substr(i);
            break;
        }
        out += text.substr(i, open - i);
        std::u16string_view name = text.substr(open + 1, close - open - 1);
        if (name.empty()) {
            out.push_back(u'%');
        } else {
            auto found = std::find_if(strings.begin(), strings.end(),
                                      [&](const auto& entry) { return SameText(entry.first, name); });
            out += found != strings.end() ? std::u16string_view(found->second) : text.substr(open, close - open + 1);
        }
        i = close + 1;
    }
    return out;
}

InfSection* FindSection(InfFile* inf, std::u16string_view name) {
    for (auto& section : inf->sections)
        if (SameText(section.name, name)) return &section;
    return nullptr;
}

// Resolves a context to its INF and line; false with the error to report when it does not lead to one.
bool ContextLine(const char* api, const INFCONTEXT* context, std::shared_ptr<const InfFile>* inf,
                 const InfLine** line, DWORD* error) {
    if (!context) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
    }
    *inf = InfFromHandle(static_cast<HINF>(context->Inf));
    if (!*inf) {
        Violation(std::string(api) + ": the context's INF handle is not open");
        *error = ERROR_INVALID_HANDLE;
        return false;
    }
    const auto& sections = (*inf)->sections;
    if (context->Section >= sections.size() || context->Line >= sections[context->Section].lines.size()) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
    }
    *line = &sections[context->Section].lines[context->Line];
    return true;
}

bool ParseNumber(std::u16string_view text, uint32_t* value) {
    text = Trim(text);
    unsigned base = 10;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    uint64_t n = 0;
    for (char16_t c : text) {
        unsigned digit;
        if (c >= u'0' && c <= u'9') digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f') digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F') digit = c - u'A' + 10;
        else return false;
        if (digit >= base) return false;
        n = n * base + digit;
        if (n > 0xFFFFFFFFull) return false;
    }
    *value = static_cast<uint32_t>(n);
    return true;
}

bool ParseHexBytes(const std::vector<std::u16string>& fields, size_t first, std::vector<uint8_t>* bytes) {
    for (size_t i = first; i < fields.size(); ++i) {
        std::u16string_view text = Trim(fields[i]);
        if (text.starts_with(u"0x") || text.starts_with(u"0X")) text.remove_prefix(2);
        uint32_t value;
        if (text.empty() || text.size() > 2 || !ParseNumber(u"0x" + std::u16string(text), &value)) return false;
        bytes->push_back(static_cast<uint8_t>(value));
    }
    return true;
}

DWORD ApplyAddRegLine(const InfLine& line, std::string_view hkrPath) {
    std::vector<std::u16string> all;
    if (line.keyed) all.push_back(*line.key);
    all.insert(all.end(), line.fields.begin(), line.fields.end());
    if (all.empty() || !SameText(Trim(all[0]), u"HKR")) return ERROR_SUCCESS;
    std::string path(hkrPath);
    if (all.size() > 1 && !all[1].empty()) {
        path += '\\';
        path += U8(all[1]);
    }
    uint32_t flags = 0;
    if (all.size() > 3 && !Trim(all[3]).empty() && !ParseNumber(all[3], &flags)) return ERROR_INVALID_DATA;
    if (all.size() < 3 || (flags & FLG_ADDREG_KEYONLY)) {
        RegCreateKey(HKEY_LOCAL_MACHINE, path);
        return ERROR_SUCCESS;
    }
    std::string name = U8(all[2]);
    bool exists = RegGetValue(HKEY_LOCAL_MACHINE, path, name).has_value();
    if ((flags & FLG_ADDREG_NOCLOBBER) && exists) return ERROR_SUCCESS;
    if ((flags & FLG_ADDREG_OVERWRITEONLY) && !exists) return ERROR_SUCCESS;
    std::vector<std::u16string> data(all.begin() + std::min<size_t>(4, all.size()), all.end());
    if (flags & FLG_ADDREG_BINVALUETYPE) {
        uint32_t typeBits = flags & 0xFFFF0000u;
        DWORD type = typeBits == 0 ? REG_BINARY
                     : typeBits == (FLG_ADDREG_TYPE_DWORD & 0xFFFF0000u) ? REG_DWORD
                     : typeBits == (FLG_ADDREG_TYPE_NONE & 0xFFFF0000u) ? REG_NONE
                                                                          : typeBits >> 16;
        if (type == REG_DWORD && data.size() <= 1) {
            uint32_t value = 0;
            if (!data.empty() && !Trim(data[0]).empty() && !ParseNumber(data[0], &value)) return ERROR_INVALID_DATA;
            RegSetDword(HKEY_LOCAL_MACHINE, path, name, value);
            return ERROR_SUCCESS;
        }
        std::vector<uint8_t> bytes;
        if (!ParseHexBytes(data, 0, &bytes)) return ERROR_INVALID_DATA;
        RegSetRaw(HKEY_LOCAL_MACHINE, path, name, type, std::move(bytes));
        return ERROR_SUCCESS;
    }
    switch (flags & 0xFFFF0000u) {
        case FLG_ADDREG_TYPE_SZ:
        case FLG_ADDREG_TYPE_EXPAND_SZ:
            RegSetString(HKEY_LOCAL_MACHINE, path, name, data.empty() ? u"" : data[0],
                         (flags & 0xFFFF0000u) == FLG_ADDREG_TYPE_SZ ? REG_SZ : REG_EXPAND_SZ);
            return ERROR_SUCCESS;
        case FLG_ADDREG_TYPE_MULTI_SZ:
            RegSetMultiString(HKEY_LOCAL_MACHINE, path, name, data);
            return ERROR_SUCCESS;
        default:
            return ERROR_INVALID_DATA;
    }
}

bool IsDecoration(std::u16string_view decoration, std::u16string_view platform) {
    decoration = Trim(decoration);
    return SameText(decoration, platform) ||
           (decoration.size() > platform.size() && SameText(decoration.substr(0, platform.size()), platform) &&
            decoration[platform.size()] == u'.');
}

// Sets the last error and returns the failure value of a BOOL API.
BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace

const InfSection* InfFile::Find(std::u16string_view section) const {
    for (const auto& s : sections)
        if (SameText(s.name, section)) return &s;
    return nullptr;
}

std::optional<std::u16string> InfFile::Value(std::u16string_view section, std::u16string_view key) const {
    const InfSection* found = Find(section);
    if (!found) return std::nullopt;
    for (const auto& line : found->lines)
        if (line.key && SameText(*line.key, key)) return line.fields.empty() ? std::u16string() : line.fields[0];
    return std::nullopt;
}

DWORD ParseInf(std::u16string_view text, InfFile* inf, UINT* errorLine) {
    if (!text.empty() && text[0] == 0xFEFF) text.remove_prefix(1);
    std::vector<std::u16string_view> lines = SplitLines(text);
    inf->sections.clear();
    InfSection* current = nullptr;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::u16string_view line = Trim(lines[i]);
        if (line.empty() || line[0] == u';') continue;
        if (line[0] == u'[') {
            size_t close = line.find(u']');
            if (close == std::u16string_view::npos) {
                if (errorLine) *errorLine = static_cast<UINT>(i + 1);
                return ERROR_BAD_SECTION_NAME_LINE;
            }
            std::u16string_view name = Trim(line.substr(1, close - 1));
            if (name.size() > kMaxSectionName) {
                if (errorLine) *errorLine = static_cast<UINT>(i + 1);
                return ERROR_SECTION_NAME_TOO_LONG;
            }
            current = FindSection(inf, name);
            if (!current) {
                inf->sections.push_back(InfSection{std::u16string(name), {}});
                current = &inf->sections.back();
            }
            continue;
        }
        if (!current) {
            if (errorLine) *errorLine = static_cast<UINT>(i + 1);
            return ERROR_EXPECTED_SECTION_NAME;
        }
        current->lines.push_back(Tokenize(lines, &i));
    }

    std::vector<std::pair<std::u16string, std::u16string>> strings;
    if (const InfSection* table = inf->Find(u"Strings"))
        for (const auto& line : table->lines)
            if (line.keyed) strings.emplace_back(*line.key, line.fields.empty() ? std::u16string() : line.fields[0]);
    for (auto& section : inf->sections) {
        if (SameText(section.name, u"Strings")) continue;
        for (auto& line : section.lines) {
            for (auto& field : line.fields) field = Substitute(field, strings);
            if (line.key) line.key = line.keyed ? Substitute(*line.key, strings) : line.fields[0];
        }
    }

    std::optional<std::u16string> signature = inf->Value(u"Version", u"Signature");
    bool known = signature && (SameText(*signature, u"$Windows NT$") || SameText(*signature, u"$Chicago$") ||
                               SameText(*signature, u"$Windows 95$"));
    if (!known) {
        if (errorLine) *errorLine = 0;
        return ERROR_WRONG_INF_STYLE;
    }
    return ERROR_SUCCESS;
}

DWORD LoadInf(std::u16string_view path, InfFile* inf, UINT* errorLine) {
    std::vector<uint8_t> bytes;
    std::u16string full;
    DWORD error;
    if (path.find_first_of(u"\\/") == std::u16string_view::npos && !path.empty()) {
        // A bare name is looked for in the system INF folder, then in the system folder.
        error = ReadFileBytes(InfFolderPath() + u"\\" + std::u16string(path), &bytes, &full);
        if (error) error = ReadFileBytes(u"C:\\Windows\\system32\\" + std::u16string(path), &bytes, &full);
    } else {
        error = ReadFileBytes(path, &bytes, &full);
    }
    if (error) return error;
    if (bytes.empty()) return ERROR_FILE_INVALID;
    inf->path = full;
    return ParseInf(DecodeText(bytes), inf, errorLine);
}

std::shared_ptr<const InfFile> InfFromHandle(HINF inf) {
    auto handle = Find<InfHandle>(reinterpret_cast<uintptr_t>(inf), HandleKind::InfFile);
    return handle ? handle->inf : nullptr;
}

bool ParseGuid(std::u16string_view text, GUID* guid) {
    text = Trim(text);
    static const size_t kDashes[] = {9, 14, 19, 24};
    if (text.size() != 38 || text[0] != u'{' || text[37] != u'}') return false;
    for (size_t dash : kDashes)
        if (text[dash] != u'-') return false;
    auto hex = [&](size_t at, size_t digits, uint32_t* value) {
        return ParseNumber(u"0x" + std::u16string(text.substr(at, digits)), value);
    };
    uint32_t part;
    GUID out{};
    if (!hex(1, 8, &part)) return false;
    out.Data1 = part;
    if (!hex(10, 4, &part)) return false;
    out.Data2 = static_cast<uint16_t>(part);
    if (!hex(15, 4, &part)) return false;
    out.Data3 = static_cast<uint16_t>(part);
    static const size_t kBytes[] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (size_t i = 0; i < 8; ++i) {
        if (!hex(kBytes[i], 2, &part)) return false;
        out.Data4[i] = static_cast<uint8_t>(part);
    }
    *guid = out;
    return true;
}

std::u16string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return U16(text);
}

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::vector<GUID> ClassGuidsOf(std::u16string_view className) {
    Guard guard(Lock());
    std::vector<GUID> out;
    auto add = [&](const GUID& guid) {
        if (std::none_of(out.begin(), out.end(), [&](const GUID& g) { return SameGuid(g, guid); })) out.push_back(guid);
    };
    for (const auto& known : kBuiltInClasses)
        if (SameText(known.name, className)) add(known.guid);
    for (const std::string& subkey : RegSubkeys(HKEY_LOCAL_MACHINE, kClassKey)) {
        GUID guid;
        if (!ParseGuid(U16(subkey), &guid)) continue;
        std::optional<RegValue> name = RegGetValue(HKEY_LOCAL_MACHINE, std::string(kClassKey) + "\\" + subkey, "Class");
        if (name && SameText(name->Text(), className)) add(guid);
    }
    return out;
}

std::u16string ClassNameOf(const GUID& guid) {
    Guard guard(Lock());
    std::string key = std::string(kClassKey) + "\\" + U8(GuidText(guid));
    if (std::optional<RegValue> name = RegGetValue(HKEY_LOCAL_MACHINE, key, "Class")) return name->Text();
    for (const auto& known : kBuiltInClasses)
        if (SameGuid(known.guid, guid)) return known.name;
    return u"";
}

DWORD InfClass(const InfFile& inf, std::u16string* className, GUID* classGuid) {
    std::optional<std::u16string> name = inf.Value(u"Version", u"Class");
    std::optional<std::u16string> guidText = inf.Value(u"Version", u"ClassGUID");
    if (!name && !guidText) return ERROR_NO_ASSOCIATED_CLASS;
    GUID guid{};
    if (guidText && !ParseGuid(*guidText, &guid)) return ERROR_INVALID_PARAMETER;
    *className = name ? *name : ClassNameOf(guid);
    *classGuid = guid;
    return ERROR_SUCCESS;
}

std::u16string ModelsSectionFor(const InfLine& manufacturerLine) {
    const auto& fields = manufacturerLine.fields;
    if (fields.empty()) return u"";
    std::u16string base(Trim(fields[0]));
    for (const char16_t* platform : {u"NTx86", u"NT"})
        for (size_t i = 1; i < fields.size(); ++i)
            if (IsDecoration(fields[i], platform)) return base + u"." + std::u16string(Trim(fields[i]));
    return base;
}

std::vector<InfDriver> ListDrivers(const InfFile& inf) {
    std::vector<InfDriver> out;
    const InfSection* manufacturers = inf.Find(u"Manufacturer");
    if (!manufacturers) return out;
    for (const auto& maker : manufacturers->lines) {
        if (!maker.key || maker.fields.empty()) continue;
        std::u16string models = ModelsSectionFor(maker);
        const InfSection* section = inf.Find(models);
        if (!section) continue;
        for (const auto& model : section->lines) {
            if (!model.keyed || model.fields.size() < 2) continue;
            InfDriver driver;
            driver.manufacturer = *maker.key;
            driver.modelsSection = section->name;
            driver.description = *model.key;
            driver.installSection = model.fields[0];
            driver.hardwareId = model.fields[1];
            driver.compatibleIds.assign(model.fields.begin() + 2, model.fields.end());
            out.push_back(std::move(driver));
        }
    }
    return out;
}

std::u16string InfProvider(const InfFile& inf) { return inf.Value(u"Version", u"Provider").value_or(u""); }

std::optional<std::u16string> ResolveInstallSection(const InfFile& inf, std::u16string_view installSection) {
    std::u16string base(installSection);
    for (std::u16string candidate : {base + u".NTx86", base + u".NT", base})
        if (const InfSection* found = inf.Find(candidate)) return found->name;
    return std::nullopt;
}

DWORD ApplyAddReg(const InfFile& inf, std::u16string_view installSection, std::string_view hkrPath) {
    Guard guard(Lock());
    const InfSection* install = inf.Find(installSection);
    if (!install) return ERROR_SECTION_NOT_FOUND;
    for (const auto& directive : install->lines) {
        if (!directive.keyed || !SameText(*directive.key, u"AddReg")) continue;
        for (const auto& name : directive.fields) {
            if (Trim(name).empty()) continue;
            const InfSection* addReg = inf.Find(Trim(name));
            if (!addReg) return ERROR_SECTION_NOT_FOUND;
            for (const auto& line : addReg->lines)
                if (DWORD error = ApplyAddRegLine(line, hkrPath)) return error;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace detail

using namespace detail;

void SetMissingSectionError(DWORD error) {
    Guard guard(Lock());
    State().missingSectionError = error;
}

std::vector<std::string> StagedInfs() {
    Guard guard(Lock());
    std::vector<std::pair<unsigned, std::string>> numbered;
    for (const std::string& name : ListFolder(kInfFolder)) {
        std::string lower = U8(Lower(U16(name)));
        if (lower.size() < 8 || !lower.starts_with("oem") || !lower.ends_with(".inf")) continue;
        std::string digits = lower.substr(3, lower.size() - 7);
        if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        numbered.emplace_back(static_cast<unsigned>(std::stoul(digits)), name);
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<std::string> out;
    for (auto& [n, name] : numbered) out.push_back(name);
    return out;
}

std::optional<std::string> StagedInfSource(std::string_view stagedName) {
    Guard guard(Lock());
    auto it = State().stagedSources.find(Lower(U16(stagedName)));
    if (it == State().stagedSources.end() || !FileExists(std::string(kInfFolder) + "\\" + std::string(stagedName)))
        return std::nullopt;
    return U8(it->second);
}

}  // namespace sim

using sim::detail::A;
using namespace sim;
using namespace sim::detail;

extern "C" {

HINF WINAPI SetupOpenInfFileW(PCWSTR fileName, PCWSTR infClass, DWORD infStyle, PUINT errorLine) {
    SIM_ENTER(outcome, "SetupOpenInfFileW", A("FileName", fileName), A("InfClass", infClass),
              A("InfStyle", infStyle), A("ErrorLine", errorLine));
    if (outcome) {
        SetLastError(outcome.code);
        return INVALID_HANDLE_VALUE;
    }
    if (!fileName || !(infStyle & (INF_STYLE_WIN4 | INF_STYLE_OLDNT))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    Guard guard(Lock());
    auto inf = std::make_shared<InfFile>();
    UINT line = kNoErrorLine;
    DWORD error = LoadInf(fileName, inf.get(), &line);
    if (!error && infClass) {
        std::optional<std::u16string> name = inf->Value(u"Version", u"Class");
        if (!name || !SameText(*name, infClass)) error = ERROR_CLASS_MISMATCH;
    }
    if (error) {
        if (errorLine && line != kNoErrorLine) *errorLine = line;
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto handle = std::make_shared<InfHandle>();
    handle->inf = std::move(inf);
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HINF>(AddHandle(HandleKind::InfFile, handle, "SetupOpenInfFileW"));
}

void WINAPI SetupCloseInfFile(HINF inf) {
    SIM_ENTER_RELEASE(outcome, "SetupCloseInfFile", A("InfHandle", inf));
    if (outcome) return;
    // The service ignores the two values that stand for no INF.
    if (!inf || inf == INVALID_HANDLE_VALUE) return;
    RemoveHandle(reinterpret_cast<uintptr_t>(inf), HandleKind::InfFile, "SetupCloseInfFile");
}

BOOL WINAPI SetupFindFirstLineW(HINF inf, PCWSTR section, PCWSTR key, PINFCONTEXT context) {
    SIM_ENTER(outcome, "SetupFindFirstLineW", A("InfHandle", inf), A("Section", section), A("Key", key),
              A("Context", context));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    std::shared_ptr<const InfFile> file = InfFromHandle(inf);
    if (!file) {
        Violation("SetupFindFirstLineW: not an open INF handle");
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!section || !context) return Fail(ERROR_INVALID_PARAMETER);
    for (size_t s = 0; s < file->sections.size(); ++s) {
        if (!SameText(file->sections[s].name, section)) continue;
        const auto& lines = file->sections[s].lines;
        for (size_t l = 0; l < lines.size(); ++l) {
            if (key && !(lines[l].key && SameText(*lines[l].key, key))) continue;
            context->Inf = context->CurrentInf = inf;
            context->Section = static_cast<UINT>(s);
            context->Line = static_cast<UINT>(l);
            SetLastError(ERROR_SUCCESS);
            return TRUE;
        }
        return Fail(ERROR_LINE_NOT_FOUND);
    }
    return Fail(State().missingSectionError);
}

BOOL WINAPI SetupFindNextLine(const INFCONTEXT* contextIn, PINFCONTEXT contextOut) {
    SIM_ENTER(outcome, "SetupFindNextLine", A("ContextIn", contextIn), A("Line", contextIn ? contextIn->Line : 0),
              A("ContextOut", contextOut));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    std::shared_ptr<const InfFile> file;
    const InfLine* line;
    DWORD error;
    if (!ContextLine("SetupFindNextLine", contextIn, &file, &line, &error)) return Fail(error);
    if (!contextOut) return Fail(ERROR_INVALID_PARAMETER);
    if (contextIn->Line + 1 >= file->sections[contextIn->Section].lines.size()) return Fail(ERROR_LINE_NOT_FOUND);
    INFCONTEXT next = *contextIn;
    ++next.Line;
    *contextOut = next;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD WINAPI SetupGetFieldCount(const INFCONTEXT* context) {
    SIM_ENTER(outcome, "SetupGetFieldCount", A("Context", context), A("Line", context ? context->Line : 0));
    if (outcome) {
        SetLastError(outcome.code);
        return 0;
    }
    Guard guard(Lock());
    std::shared_ptr<const InfFile> file;
    const InfLine* line;
    DWORD error;
    if (!ContextLine("SetupGetFieldCount", context, &file, &line, &error)) {
        SetLastError(error);
        return 0;
    }
    return static_cast<DWORD>(line->fields.size());
}

BOOL WINAPI SetupGetStringFieldW(const INFCONTEXT* context, DWORD fieldIndex, PWSTR returnBuffer,
                                 DWORD returnBufferSize, PDWORD requiredSize) {
    SIM_ENTER(outcome, "SetupGetStringFieldW", A("Context", context), A("Line", context ? context->Line : 0),
              A("FieldIndex", fieldIndex), A("ReturnBuffer", returnBuffer), A("ReturnBufferSize", returnBufferSize),
              A("RequiredSize", requiredSize));
    if (outcome) return Fail(outcome.code);
    Guard guard(Lock());
    std::shared_ptr<const InfFile> file;
    const InfLine* line;
    DWORD error;
    if (!ContextLine("SetupGetStringFieldW", context, &file, &line, &error)) return Fail(error);
    const std::u16string* text = nullptr;
    if (fieldIndex == 0) text = line->key ? &*line->key : nullptr;
    else if (fieldIndex <= line->fields.size()) text = &line->fields[fieldIndex - 1];
    if (!text) return Fail(ERROR_INVALID_PARAMETER);
    DWORD needed = static_cast<DWORD>(text->size() + 1);
    if (requiredSize) *requiredSize = needed;
    if (returnBuffer) {
        if (returnBufferSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
        std::copy(text->begin(), text->end(), returnBuffer);
        returnBuffer[text->size()] = 0;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetupDiGetINFClassW(PCWSTR infName, LPGUID classGuid, PWSTR className, DWORD classNameSize,
                                PDWORD requiredSize) {
    SIM_ENTER(outcome, "SetupDiGetINFClassW", A("InfName", infName), A("ClassGuid", classGuid),
              A("ClassName", className), A("ClassNameSize", classNameSize), A("RequiredSize", requiredSize));
    if (outcome) return Fail(outcome.code);
    if (!infName || !classGuid) return Fail(ERROR_INVALID_PARAMETER);
    Guard guard(Lock());
    InfFile inf;
    if (DWORD error = LoadInf(infName, &inf)) return Fail(error);
    std::u16string name;
    GUID guid;
    if (DWORD error = InfClass(inf, &name, &guid)) return Fail(error);
    DWORD needed = static_cast<DWORD>(name.size() + 1);
    if (requiredSize) *requiredSize = needed;
    if (!className) return Fail(ERROR_INVALID_PARAMETER);
    if (classNameSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::copy(name.begin(), name.end(), className);
    className[name.size()] = 0;
    *classGuid = guid;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetupDiClassGuidsFromNameW(PCWSTR className, LPGUID classGuidList, DWORD classGuidListSize,
                                       PDWORD requiredSize) {
    SIM_ENTER(outcome, "SetupDiClassGuidsFromNameW", A("ClassName", className), A("ClassGuidList", classGuidList),
              A("ClassGuidListSize", classGuidListSize), A("RequiredSize", requiredSize));
    if (outcome) return Fail(outcome.code);
    if (!className || !requiredSize) return Fail(ERROR_INVALID_PARAMETER);
    std::vector<GUID> guids = ClassGuidsOf(className);
    *requiredSize = static_cast<DWORD>(guids.size());
    if (guids.size() > classGuidListSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (!guids.empty() && !classGuidList) return Fail(ERROR_INVALID_PARAMETER);
    std::copy(guids.begin(), guids.end(), classGuidList);
    return TRUE;
}

BOOL WINAPI SetupCopyOEMInfW(PCWSTR sourceInfFileName, PCWSTR oemSourceMediaLocation, DWORD oemSourceMediaType,
                             DWORD copyStyle, PWSTR destinationInfFileName, DWORD destinationInfFileNameSize,
                             PDWORD requiredSize, PWSTR* destinationInfFileNameComponent) {
    SIM_ENTER(outcome, "SetupCopyOEMInfW", A("SourceInfFileName", sourceInfFileName),
              A("OEMSourceMediaLocation", oemSourceMediaLocation), A("OEMSourceMediaType", oemSourceMediaType),
              A("CopyStyle", copyStyle), A("DestinationInfFileName", destinationInfFileName),
              A("DestinationInfFileNameSize", destinationInfFileNameSize), A("RequiredSize", requiredSize),
              A("DestinationInfFileNameComponent", destinationInfFileNameComponent));
    if (outcome) return Fail(outcome.code);
    if (!sourceInfFileName || oemSourceMediaType > SPOST_URL) return Fail(ERROR_INVALID_PARAMETER);
    Guard guard(Lock());
    std::vector<uint8_t> bytes;
    std::u16string source;
    if (DWORD error = ReadFileBytes(sourceInfFileName, &bytes, &source)) return Fail(error);
    if (bytes.empty()) return Fail(ERROR_FILE_INVALID);
    InfFile inf;
    if (DWORD error = ParseInf(DecodeText(bytes), &inf, nullptr)) return Fail(error);

    // A byte-identical package staged before keeps its name; a new one takes the lowest free number.
    std::string stagedName;
    std::set<std::string> taken;
    for (const std::string& name : StagedInfs()) {
        taken.insert(U8(Lower(U16(name))));
        if (stagedName.empty() && FileBytes(std::string(kInfFolder) + "\\" + name) == bytes) stagedName = name;
    }
    DWORD result = ERROR_SUCCESS;
    if (!stagedName.empty() && (copyStyle & SP_COPY_NOOVERWRITE)) result = ERROR_FILE_EXISTS;
    if (stagedName.empty()) {
        if (copyStyle & SP_COPY_REPLACEONLY) return Fail(ERROR_FILE_NOT_FOUND);
        for (unsigned n = 0; stagedName.empty(); ++n)
            if (!taken.count("oem" + std::to_string(n) + ".inf")) stagedName = "oem" + std::to_string(n) + ".inf";
        WriteFileBytes(InfFolderPath() + u"\\" + U16(stagedName), bytes);
    }
    if (result == ERROR_SUCCESS) {
        std::u16string location;
        if (oemSourceMediaType == SPOST_PATH)
            location = oemSourceMediaLocation ? std::u16string(oemSourceMediaLocation)
                                              : source.substr(0, source.rfind(u'\\') + 1);
        else if (oemSourceMediaType == SPOST_URL && oemSourceMediaLocation)
            location = oemSourceMediaLocation;
        State().stagedSources[Lower(U16(stagedName))] = location;
        if (copyStyle & SP_COPY_DELETESOURCE) RemoveFile(U8(source));
    }

    std::u16string full = InfFolderPath() + u"\\" + U16(stagedName);
    DWORD needed = static_cast<DWORD>(full.size() + 1);
    if (requiredSize) *requiredSize = needed;
    if (destinationInfFileName) {
        // The package is staged by now; only the name does not fit.
        if (destinationInfFileNameSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
        std::copy(full.begin(), full.end(), destinationInfFileName);
        destinationInfFileName[full.size()] = 0;
        if (destinationInfFileNameComponent)
            *destinationInfFileNameComponent = destinationInfFileName + full.rfind(u'\\') + 1;
    }
    if (result) return Fail(result);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // extern "C"
