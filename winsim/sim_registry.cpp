// The simulated registry: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, case-insensitive key names, typed
// values of raw bytes, the documented sizes and codes of the advapi32 registry functions, and access
// masks enforced per handle.
#include <algorithm>
#include <cstring>
#include <sstream>

#include "winsim/sim_internal.h"

namespace sim {
namespace detail {
namespace {

struct Key;
using KeyPtr = std::shared_ptr<Key>;

struct Value {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
};

struct Key {
    std::u16string name;
    std::u16string folded;  // name as compared, so that a lookup folds only the name looked for
    std::weak_ptr<Key> parent;
    std::vector<KeyPtr> subkeys;  // kept in case-insensitive name order
    std::vector<Value> values;    // in the order first written
    bool deleted = false;
};

struct OpenKey : HandleObject {
    KeyPtr key;
    REGSAM access = 0;
};

KeyPtr& Root(HKEY root) {
    static KeyPtr machine, user;
    return root == HKEY_CURRENT_USER ? user : machine;
}

void ResetRegistry() {
    Root(HKEY_LOCAL_MACHINE) = std::make_shared<Key>();
    Root(HKEY_CURRENT_USER) = std::make_shared<Key>();
}
ResetHook registryReset(ResetRegistry);

char16_t Fold(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
    return c;
}

// Compares two names as the registry orders them: folded, then by length. Without copies, since every
// path component of every call is compared with many siblings.
int CompareFolded(std::u16string_view a, std::u16string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = Fold(a[i]), y = Fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && CompareFolded(a, b) == 0;
}

// The folded form of a name, in a buffer of the caller's (key names have at most 255 characters; a longer
// one, never stored, is folded into `spill`).
std::u16string_view FoldInto(std::u16string_view name, char16_t (&buffer)[256], std::u16string* spill) {
    char16_t* out = buffer;
    if (name.size() > std::size(buffer)) {
        spill->resize(name.size());
        out = spill->data();
    }
    for (size_t i = 0; i < name.size(); ++i) out[i] = Fold(name[i]);
    return std::u16string_view(out, name.size());
}

// Subkeys are kept in folded order with no two names folding alike, so a binary search finds the one.
KeyPtr FindChild(const KeyPtr& key, std::u16string_view name) {
    char16_t buffer[256];
    std::u16string spill;
    std::u16string_view folded = FoldInto(name, buffer, &spill);
    auto at = std::lower_bound(key->subkeys.begin(), key->subkeys.end(), folded,
                               [](const KeyPtr& k, std::u16string_view f) { return std::u16string_view(k->folded) < f; });
    if (at != key->subkeys.end() && (*at)->folded == folded) return *at;
    return nullptr;
}

KeyPtr AddChild(const KeyPtr& key, std::u16string_view name) {
    auto child = std::make_shared<Key>();
    child->name = std::u16string(name);
    child->folded = child->name;
    for (char16_t& c : child->folded) c = Fold(c);
    child->parent = key;
    auto at = std::upper_bound(key->subkeys.begin(), key->subkeys.end(), std::u16string_view(child->folded),
                               [](std::u16string_view f, const KeyPtr& k) { return f < std::u16string_view(k->folded); });
    key->subkeys.insert(at, child);
    return child;
}

Value* FindValue(const KeyPtr& key, std::u16string_view name) {
    for (auto& value : key->values)
        if (SameName(value.name, name)) return &value;
    return nullptr;
}

// Splits a subkey path into views of it; fails on an empty component other than one trailing backslash,
// or a component longer than the 255 characters a key name may have.
bool SplitPath(std::u16string_view path, std::vector<std::u16string_view>* parts) {
    parts->clear();
    if (path.empty()) return true;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(u'\\', start);
        bool last = end == std::u16string_view::npos;
        std::u16string_view part = path.substr(start, (last ? path.size() : end) - start);
        if (part.empty()) return last && start > 0;
        if (part.size() > 255) return false;
        parts->push_back(part);
        if (last) return true;
        start = end + 1;
    }
}

// Resolves the handle argument of an API call: a predefined root (every access granted) or an open key.
LONG Resolve(HKEY handle, KeyPtr* key, REGSAM* access) {
    if (handle == HKEY_LOCAL_MACHINE || handle == HKEY_CURRENT_USER) {
        *key = Root(handle);
        *access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    auto open = Find<OpenKey>(reinterpret_cast<uintptr_t>(handle), HandleKind::RegistryKey);
    if (!open) return ERROR_INVALID_HANDLE;
    if (open->key->deleted) return ERROR_KEY_DELETED;
    *key = open->key;
    *access = open->access;
    return ERROR_SUCCESS;
}

// Resolves the handle and checks that it was opened with the rights the call needs.
LONG ResolveWith(HKEY handle, REGSAM needed, KeyPtr* key) {
    REGSAM access;
    LONG status = Resolve(handle, key, &access);
    if (status) return status;
    return (access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// A subkey path may not start with a backslash; other malformed paths are invalid parameters.
LONG PathError(std::u16string_view path) {
    return !path.empty() && path[0] == u'\\' ? ERROR_BAD_PATHNAME : ERROR_INVALID_PARAMETER;
}

LONG Walk(KeyPtr key, std::u16string_view path, KeyPtr* found) {
    std::vector<std::u16string_view> parts;
    if (!SplitPath(path, &parts)) return PathError(path);
    for (auto& part : parts) {
        key = FindChild(key, part);
        if (!key) return ERROR_FILE_NOT_FOUND;
    }
    *found = key;
    return ERROR_SUCCESS;
}

HKEY NewHandle(const KeyPtr& key, REGSAM access, const char* creator) {
    auto open = std::make_shared<OpenKey>();
    open->key = key;
    open->access = access;
    return reinterpret_cast<HKEY>(AddHandle(HandleKind::RegistryKey, open, creator));
}

// Value data as a query reports it, into an optional buffer with the documented size rules.
LONG CopyData(const Value& value, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (type) *type = value.type;
    DWORD size = static_cast<DWORD>(value.data.size());
    if (!dataSize) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (!data) {
        *dataSize = size;
        return ERROR_SUCCESS;
    }
    if (*dataSize < size) {
        // The documented contents of a short buffer are undefined: scribble, so that nobody relies on them.
        std::memset(data, 0xCD, *dataSize);
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, value.data.data(), size);
    *dataSize = size;
    return ERROR_SUCCESS;
}

KeyPtr TestKey(HKEY root, std::string_view path, bool create) {
    KeyPtr key = Root(root);
    std::u16string wide = U16(path);
    std::vector<std::u16string_view> parts;
    SplitPath(wide, &parts);
    for (auto& part : parts) {
        KeyPtr child = FindChild(key, part);
        if (!child) {
            if (!create) return nullptr;
            child = AddChild(key, part);
        }
        key = child;
    }
    return key;
}

void MarkDeleted(const KeyPtr& key) {
    key->deleted = true;
    for (auto& child : key->subkeys) MarkDeleted(child);
}

void Unlink(const KeyPtr& key) {
    MarkDeleted(key);
    if (auto parent = key->parent.lock()) {
        auto& siblings = parent->subkeys;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), key), siblings.end());
    }
}

}  // namespace

LONG OpenKeyHandle(HKEY root, std::u16string_view path, REGSAM access, bool create, const char* creator,
                   HKEY* result) {
    Guard guard(Lock());
    KeyPtr key = Root(root);
    std::vector<std::u16string_view> parts;
    if (!SplitPath(path, &parts)) return PathError(path);
    for (auto& part : parts) {
        KeyPtr child = FindChild(key, part);
        if (!child) {
            if (!create) return ERROR_FILE_NOT_FOUND;
            child = AddChild(key, part);
        }
        key = child;
    }
    *result = NewHandle(key, access & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY), creator);
    return ERROR_SUCCESS;
}

}  // namespace detail

using namespace detail;

std::vector<uint8_t> detail::TextBytes(std::u16string_view text) {
    std::vector<uint8_t> data;
    for (char16_t c : text) {
        data.push_back(static_cast<uint8_t>(c & 0xFF));
        data.push_back(static_cast<uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

std::optional<uint32_t> RegValue::Dword() const {
    if (data.size() != 4) return std::nullopt;
    uint32_t v;
    std::memcpy(&v, data.data(), 4);
    return v;
}

std::u16string RegValue::Text() const {
    std::u16string out;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (!c) break;
        out.push_back(c);
    }
    return out;
}

void RegCreateKey(HKEY root, std::string_view path) {
    Guard guard(Lock());
    TestKey(root, path, true);
}

void RegSetRaw(HKEY root, std::string_view path, std::string_view name, DWORD type, std::vector<uint8_t> data) {
    Guard guard(Lock());
    KeyPtr key = TestKey(root, path, true);
    std::u16string wide = U16(name);
    if (Value* value = FindValue(key, wide)) {
        value->type = type;
        value->data = std::move(data);
    } else {
        key->values.push_back(Value{wide, type, std::move(data)});
    }
}

void RegSetDword(HKEY root, std::string_view path, std::string_view name, uint32_t value) {
    std::vector<uint8_t> data(4);
    std::memcpy(data.data(), &value, 4);
    RegSetRaw(root, path, name, REG_DWORD, std::move(data));
}

void RegSetString(HKEY root, std::string_view path, std::string_view name, std::u16string_view text, DWORD type) {
    RegSetRaw(root, path, name, type, TextBytes(text));
}

void RegSetMultiString(HKEY root, std::string_view path, std::string_view name,
                       const std::vector<std::u16string>& strings) {
    std::vector<uint8_t> data;
    for (auto& s : strings) {
        for (char16_t c : s) {
            data.push_back(static_cast<uint8_t>(c & 0xFF));
            data.push_back(static_cast<uint8_t>(c >> 8));
        }
        data.push_back(0);
        data.push_back(0);
    }
    data.push_back(0);
    data.push_back(0);
    RegSetRaw(root, path, name, REG_MULTI_SZ, std::move(data));
}

void RegSetBinary(HKEY root, std::string_view path, std::string_view name, const void* data, size_t size) {
    auto bytes = static_cast<const uint8_t*>(data);
    RegSetRaw(root, path, name, REG_BINARY, std::vector<uint8_t>(bytes, bytes + size));
}

bool RegKeyExists(HKEY root, std::string_view path) {
    Guard guard(Lock());
    return TestKey(root, path, false) != nullptr;
}

std::optional<RegValue> RegGetValue(HKEY root, std::string_view path, std::string_view name) {
    Guard guard(Lock());
    KeyPtr key = TestKey(root, path, false);
    if (!key) return std::nullopt;
    Value* value = FindValue(key, U16(name));
    if (!value) return std::nullopt;
    return RegValue{U8(value->name), value->type, value->data};
}

std::vector<std::string> RegSubkeys(HKEY root, std::string_view path) {
    Guard guard(Lock());
    std::vector<std::string> out;
    if (KeyPtr key = TestKey(root, path, false))
        for (auto& child : key->subkeys) out.push_back(U8(child->name));
    return out;
}

std::vector<std::string> RegValueNames(HKEY root, std::string_view path) {
    Guard guard(Lock());
    std::vector<std::string> out;
    if (KeyPtr key = TestKey(root, path, false))
        for (auto& value : key->values) out.push_back(U8(value.name));
    return out;
}

void RegDeleteTree(HKEY root, std::string_view path) {
    Guard guard(Lock());
    KeyPtr key = TestKey(root, path, false);
    if (key && key != Root(root)) Unlink(key);
}

std::string RegDump(HKEY root, std::string_view path) {
    Guard guard(Lock());
    std::ostringstream out;
    std::function<void(const KeyPtr&, int)> dump = [&](const KeyPtr& key, int depth) {
        std::string indent(2 * depth, ' ');
        out << indent << "[" << U8(key->name) << "]\n";
        for (auto& value : key->values) {
            out << indent << "  " << (value.name.empty() ? "@" : U8(value.name)) << " type " << value.type << ":";
            if (value.type == REG_DWORD && value.data.size() == 4) {
                uint32_t v;
                std::memcpy(&v, value.data.data(), 4);
                out << " " << v;
            } else if (value.type == REG_SZ || value.type == REG_MULTI_SZ || value.type == REG_EXPAND_SZ) {
                out << " \"" << U8(RegValue{"", value.type, value.data}.Text()) << "\" (" << value.data.size()
                    << " bytes)";
            } else {
                out << " " << value.data.size() << " bytes";
            }
            out << "\n";
        }
        for (auto& child : key->subkeys) dump(child, depth + 1);
    };
    if (KeyPtr key = TestKey(root, path, false)) dump(key, 0);
    return out.str();
}

}  // namespace sim

using sim::detail::A;
using namespace sim;
using namespace sim::detail;

extern "C" {

LONG WINAPI RegOpenKeyExW(HKEY handle, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    SIM_ENTER(outcome, "RegOpenKeyExW", A("hKey", handle), A("lpSubKey", subKey), A("ulOptions", options),
              A("samDesired", access));
    if (outcome) return static_cast<LONG>(outcome.code);
    if (!result) return ERROR_INVALID_PARAMETER;
    Guard guard(Lock());
    KeyPtr key;
    REGSAM parentAccess;
    LONG status = Resolve(handle, &key, &parentAccess);
    if (status) return status;
    status = Walk(key, subKey ? std::u16string_view(subKey) : std::u16string_view(), &key);
    if (status) return status;
    *result = NewHandle(key, access & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY), "RegOpenKeyExW");
    return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExW(HKEY handle, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                            REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
    SIM_ENTER(outcome, "RegCreateKeyExW", A("hKey", handle), A("lpSubKey", subKey), A("Reserved", reserved),
              A("lpClass", keyClass), A("dwOptions", options), A("samDesired", access),
              A("lpSecurityAttributes", security));
    if (outcome) return static_cast<LONG>(outcome.code);
    if (!result || !subKey) return ERROR_INVALID_PARAMETER;
    Guard guard(Lock());
    KeyPtr key;
    REGSAM parentAccess;
    LONG status = Resolve(handle, &key, &parentAccess);
    if (status) return status;
    std::vector<std::u16string_view> parts;
    if (!SplitPath(subKey, &parts)) return PathError(subKey);
    bool created = false;
    for (auto& part : parts) {
        KeyPtr child = FindChild(key, part);
        if (!child) {
            // Creating a key needs the right to create subkeys of the handle the path starts from.
            if (!created && !(parentAccess & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
            child = AddChild(key, part);
            created = true;
        }
        key = child;
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(key, access & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY), "RegCreateKeyExW");
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY handle) {
    SIM_ENTER_RELEASE(outcome, "RegCloseKey", A("hKey", handle));
    if (outcome) return static_cast<LONG>(outcome.code);
    if (handle == HKEY_LOCAL_MACHINE || handle == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    return RemoveHandle(reinterpret_cast<uintptr_t>(handle), HandleKind::RegistryKey, "RegCloseKey")
               ? ERROR_SUCCESS
               : ERROR_INVALID_HANDLE;
}

LONG WINAPI RegQueryValueExW(HKEY handle, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize) {
    SIM_ENTER(outcome, "RegQueryValueExW", A("hKey", handle), A("lpValueName", valueName),
              A("lpReserved", reserved), A("lpData", data), A("cbData", dataSize ? *dataSize : 0));
    if (outcome) return static_cast<LONG>(outcome.code);
    if (reserved) return ERROR_INVALID_PARAMETER;
    Guard guard(Lock());
    KeyPtr key;
    LONG status = ResolveWith(handle, KEY_QUERY_VALUE, &key);
    if (status) return status;
    Value* value = FindValue(key, valueName ? std::u16string_view(valueName) : std::u16string_view());
    if (!value) return ERROR_FILE_NOT_FOUND;
    return CopyData(*value, type, data, dataSize);
}

LONG WINAPI RegSetValueExW(HKEY handle, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD dataSize) {
    SIM_ENTER(outcome, "RegSetValueExW", A("hKey", handle), A("lpValueName", valueName), A("Reserved", reserved),
              A("dwType", type), A("cbData", dataSize));
    if (outcome) return static_cast<LONG>(outcome.code);
    if (!data && dataSize) return ERROR_INVALID_PARAMETER;
    Guard guard(Lock());
    KeyPtr key;
    LONG status = ResolveWith(handle, KEY_SET_VALUE, &key);
    if (status) return status;
    std::u16string name = valueName ? std::u16string(valueName) : std::u16string();
    if (name.size() > 16383) return ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> bytes(data, data + dataSize);
    if (Value* value = FindValue(key, name)) {
        value->type = type;
        value->data = std::move(bytes);
    } else {
        key->values.push_back(Value{name, type, std::move(bytes)});
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueW(HKEY handle, LPCWSTR valueName) {
    SIM_ENTER(outcome, "RegDeleteValueW", A("hKey", handle), A("lpValueName", valueName));
    if (outcome) return static_cast<LONG>(outcome.code);
    Guard guard(Lock());
    KeyPtr key;
    LONG status = ResolveWith(handle, KEY_SET_VALUE, &key);
    if (status) return status;
    std::u16string name = valueName ? std::u16string(valueName) : std::u16string();
    auto it = std::find_if(key->values.begin(), key->values.end(), [&](const Value& v) { return SameName(v.name, name); });
    if (it == key->values.end()) return ERROR_FILE_NOT_FOUND;
    key->values.erase(it);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyW(HKEY handle, LPCWSTR subKey) {
    SIM_ENTER(outcome, "RegDeleteKeyW", A("hKey", handle), A("lpSubKey", subKey));
    if (outcome) return static_cast<LONG>(outcome.code);
    if (!subKey) return ERROR_INVALID_PARAMETER;
    Guard guard(Lock());
    KeyPtr key;
    REGSAM access;
    LONG status = Resolve(handle, &key, &access);
    if (status) return status;
    KeyPtr target;
    status = Walk(key, subKey, &target);
    if (status) return status;
    if (target == Root(HKEY_LOCAL_MACHINE) || target == Root(HKEY_CURRENT_USER)) return ERROR_ACCESS_DENIED;
    // A key with subkeys cannot be deleted by this call.
    if (!target->subkeys.empty()) return ERROR_ACCESS_DENIED;
    Unlink(target);
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyExW(HKEY handle, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                          LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime) {
    SIM_ENTER(outcome, "RegEnumKeyExW", A("hKey", handle), A("dwIndex", index),
              A("cchName", nameLength ? *nameLength : 0), A("lpClass", static_cast<void*>(keyClass)));
    if (outcome) return static_cast<LONG>(outcome.code);
    if (!name || !nameLength || reserved) return ERROR_INVALID_PARAMETER;
    Guard guard(Lock());
    KeyPtr key;
    LONG status = ResolveWith(handle, KEY_ENUMERATE_SUB_KEYS, &key);
    if (status) return status;
    if (index >= key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const std::u16string& found = key->subkeys[index]->name;
    if (*nameLength <= found.size()) return ERROR_MORE_DATA;
    std::memcpy(name, found.data(), found.size() * sizeof(WCHAR));
    name[found.size()] = 0;
    *nameLength = static_cast<DWORD>(found.size());
    if (keyClass && classLength && *classLength) keyClass[0] = 0;
    if (classLength) *classLength = 0;
    if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumValueW(HKEY handle, DWORD index, LPWSTR valueName, LPDWORD valueNameLength, LPDWORD reserved,
                          LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    SIM_ENTER(outcome, "RegEnumValueW", A("hKey", handle), A("dwIndex", index),
              A("cchValueName", valueNameLength ? *valueNameLength : 0), A("lpData", data));
    if (outcome) return static_cast<LONG>(outcome.code);
    if (!valueName || !valueNameLength || reserved) return ERROR_INVALID_PARAMETER;
    Guard guard(Lock());
    KeyPtr key;
    LONG status = ResolveWith(handle, KEY_QUERY_VALUE, &key);
    if (status) return status;
    if (index >= key->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& value = key->values[index];
    if (*valueNameLength <= value.name.size()) return ERROR_MORE_DATA;
    std::memcpy(valueName, value.name.data(), value.name.size() * sizeof(WCHAR));
    valueName[value.name.size()] = 0;
    *valueNameLength = static_cast<DWORD>(value.name.size());
    return CopyData(value, type, data, dataSize);
}

}  // extern "C"
