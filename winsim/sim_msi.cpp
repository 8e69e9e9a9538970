// The Windows Installer session a custom action runs in: properties with the documented in/out length
// rules, records, and progress messages answered from a script.
#include <map>

#include "winsim/sim_internal.h"

namespace sim {
namespace detail {
namespace {

struct Session : HandleObject {};
struct Record : HandleObject {
    std::vector<int> fields;  // fields 0..n
};

struct InstallerState {
    MSIHANDLE install = 0;
    std::map<std::string, std::u16string> properties;  // names are case-sensitive
    std::map<unsigned, int> answers;
    std::vector<InstallerMessage> messages;
};
InstallerState& State() {
    static InstallerState state;
    return state;
}

void ResetInstaller() {
    State() = InstallerState{};
    State().install = static_cast<MSIHANDLE>(
        AddHandle(HandleKind::InstallerSession, std::make_shared<Session>(), "the installer (host)"));
}
ResetHook installerReset(ResetInstaller);

bool IsSession(MSIHANDLE handle) { return Find<Session>(handle, HandleKind::InstallerSession) != nullptr; }

}  // namespace
}  // namespace detail

using namespace detail;

MSIHANDLE InstallHandle() { return State().install; }

void SetProperty(std::string_view name, std::u16string_view value) {
    Guard guard(Lock());
    State().properties[std::string(name)] = std::u16string(value);
}

void ClearProperty(std::string_view name) {
    Guard guard(Lock());
    State().properties.erase(std::string(name));
}

void ScriptInstallerAnswer(unsigned nth, int answer) {
    Guard guard(Lock());
    State().answers[nth] = answer;
}

const std::vector<InstallerMessage>& InstallerMessages() { return State().messages; }

}  // namespace sim

using sim::detail::A;
using namespace sim;
using namespace sim::detail;

extern "C" {

UINT WINAPI MsiGetPropertyW(MSIHANDLE install, LPCWSTR name, LPWSTR value, LPDWORD valueLength) {
    SIM_ENTER(outcome, "MsiGetPropertyW", A("hInstall", install), A("szName", name), A("szValueBuf", value),
              A("pcchValueBuf", valueLength ? *valueLength : 0));
    if (outcome) return outcome.code;
    Guard guard(Lock());
    if (!IsSession(install)) return ERROR_INVALID_HANDLE;
    if (!name || (value && !valueLength)) return ERROR_INVALID_PARAMETER;
    auto& properties = State().properties;
    auto it = properties.find(sim::U8(name));
    std::u16string text = it == properties.end() ? std::u16string() : it->second;
    DWORD length = static_cast<DWORD>(text.size());
    if (!value) {
        if (valueLength) *valueLength = length;
        return ERROR_SUCCESS;
    }
    DWORD capacity = *valueLength;
    *valueLength = length;
    if (capacity <= length) {
        // Too small: as much as fits, terminated, and the length the value needs.
        if (capacity) {
            text.copy(value, capacity - 1);
            value[capacity - 1] = 0;
        }
        return ERROR_MORE_DATA;
    }
    text.copy(value, length);
    value[length] = 0;
    return ERROR_SUCCESS;
}

MSIHANDLE WINAPI MsiCreateRecord(UINT fieldCount) {
    SIM_ENTER(outcome, "MsiCreateRecord", A("cParams", fieldCount));
    if (outcome || fieldCount > 65535) return 0;
    auto record = std::make_shared<Record>();
    record->fields.assign(fieldCount + 1, 0);
    return static_cast<MSIHANDLE>(AddHandle(HandleKind::InstallerRecord, record, "MsiCreateRecord"));
}

UINT WINAPI MsiRecordSetInteger(MSIHANDLE handle, UINT field, int value) {
    SIM_ENTER(outcome, "MsiRecordSetInteger", A("hRecord", handle), A("iField", field), A("iValue", value));
    if (outcome) return outcome.code;
    Guard guard(Lock());
    auto record = Find<Record>(handle, HandleKind::InstallerRecord);
    if (!record) return ERROR_INVALID_HANDLE;
    if (field >= record->fields.size()) return ERROR_INVALID_PARAMETER;
    record->fields[field] = value;
    return ERROR_SUCCESS;
}

int WINAPI MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE handle) {
    SIM_ENTER(outcome, "MsiProcessMessage", A("hInstall", install), A("eMessageType", type), A("hRecord", handle));
    if (outcome) return -1;
    Guard guard(Lock());
    auto record = Find<Record>(handle, HandleKind::InstallerRecord);
    if (!IsSession(install) || !record) return -1;
    InstallerState& state = State();
    InstallerMessage message;
    message.type = type;
    message.fields = record->fields;
    auto scripted = state.answers.find(static_cast<unsigned>(state.messages.size() + 1));
    message.answer = scripted == state.answers.end() ? IDOK : scripted->second;
    state.messages.push_back(message);
    return message.answer;
}

UINT WINAPI MsiCloseHandle(MSIHANDLE handle) {
    SIM_ENTER_RELEASE(outcome, "MsiCloseHandle", A("hAny", handle));
    if (outcome) return outcome.code;
    if (handle == 0) return ERROR_SUCCESS;
    if (IsSession(handle)) {
        Violation("MsiCloseHandle: the install handle belongs to the installer");
        return ERROR_INVALID_HANDLE;
    }
    return RemoveHandle(handle, HandleKind::InstallerRecord, "MsiCloseHandle") ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // extern "C"
