// Control interface of the simulated Windows machine, for tests and tools. The library never includes
// this; it sees only the Windows API of win_api.h.
//
// The machine is one process-wide state: a registry (the single source of truth for everything stored),
// the process token, the product's driver, the installer session, the user who answers message boxes,
// and the bookkeeping that makes it a test instrument: every open handle and heap block counted by kind,
// every call recorded with its arguments, and faults that fail or raise inside any call.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "winsim/win_api.h"

namespace sim {

// ---- Text --------------------------------------------------------------------------------------------
std::u16string U16(std::string_view utf8);
std::string U8(std::u16string_view utf16);
std::string U8(const WCHAR* utf16);  // "(null)" for a null pointer

// ---- Lifecycle ---------------------------------------------------------------------------------------
// Puts every default back: empty registry (HKLM and HKCU exist), no driver, a token holding the usual
// administrator privileges (none of the three installer privileges enabled), an installer session with no
// properties, no scripted answers, no faults, empty logs. Handles still open from before are forgotten and
// heap blocks still allocated are freed (a test fixture checks for leaks before it resets).
void Reset();

// The embedded default machine: an earlier product installation with ports COM3 and COM5 (claimed in the
// COM port database), the driver loaded (version 4.3.2.7, COM3 held open by an application), installation
// folder recorded; beside them a motherboard COM1 and a USB serial adapter on COM4.
void LoadDefaultMachine();

// ---- Handles, heap and strictness ---------------------------------------------------------------------
enum class HandleKind {
    RegistryKey, Token, Device, InstallerRecord, InstallerSession,
    DeviceInfoSet, LogConf, ResDes, ComDatabase, InfFile,
    Other
};
const char* HandleKindName(HandleKind kind);
size_t OpenHandleCount(HandleKind kind);
size_t OpenHandleCount();
size_t HeapBlockCount();
// "" when nothing is open; otherwise one line per open handle or heap block, with the call that made it.
std::string LeakReport();
// Misuse seen by the machine: a handle closed twice or closed as the wrong kind, a message box nobody
// scripted, a heap block freed twice. Each is also answered as the real system would (an error code).
const std::vector<std::string>& Violations();
// Returns the violations seen so far and forgets them (for tests that provoke misuse on purpose).
std::vector<std::string> TakeViolations();

// ---- Call log ----------------------------------------------------------------------------------------
struct Arg {
    std::string name;
    bool isText = false;
    bool isNull = false;  // a null pointer argument
    uint64_t number = 0;  // integers, flags, handles and pointers
    std::string text;     // text arguments, as UTF-8
};
struct Call {
    std::string api;
    std::vector<Arg> args;
    uint64_t sequence = 0;  // position among all recorded calls, from 1
    const Arg* Find(std::string_view name) const;
    uint64_t Number(std::string_view name) const;  // 0 when absent
    std::string Text(std::string_view name) const; // "" when absent
};
const std::vector<Call>& Calls();
std::vector<Call> Calls(std::string_view api);
size_t CallCount(std::string_view api);
// The number of calls of each API in the log, by name; cheaper than reading Calls() for a long log.
std::map<std::string, size_t> CallCounts();
std::string CallLogText(size_t lastN = 200);  // the newest calls, one per line, for failure reports
void ClearCallLog();

// ---- Faults ------------------------------------------------------------------------------------------
// A fault applies to the calls of one API ("*" for every call that can fail, closes and releases
// excepted) that also satisfy `when`, if given. It fires at the nth such call (from 1), or at every one
// from the nth on when persistent; nth 0 means every call. A firing fault either fails the call the way
// the API reports failure (its return value and last error carry `error`) without doing anything, or
// raises the exception `exceptionCode` inside it.
struct Fault {
    std::string api;
    unsigned nth = 1;
    DWORD error = ERROR_ACCESS_DENIED;
    bool persistent = false;
    bool raise = false;
    DWORD exceptionCode = EXCEPTION_ACCESS_VIOLATION;
    std::function<bool(const Call&)> when;
};
void InjectFault(Fault fault);
void FailCall(std::string_view api, unsigned nth, DWORD error, bool persistent = false);
void RaiseInCall(std::string_view api, unsigned nth, DWORD exceptionCode);
void ClearFaults();
unsigned FaultsInjected();

// ---- Registry ----------------------------------------------------------------------------------------
// Paths are relative to a root (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER), components separated by '\',
// names compared without regard to case. Subkeys enumerate in case-insensitive name order, values in the
// order they were first written.
struct RegValue {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
    std::optional<uint32_t> Dword() const;   // a 4-byte value
    std::u16string Text() const;             // the data up to its first NUL (or all of it)
};
void RegCreateKey(HKEY root, std::string_view path);
void RegSetRaw(HKEY root, std::string_view path, std::string_view name, DWORD type, std::vector<uint8_t> data);
void RegSetDword(HKEY root, std::string_view path, std::string_view name, uint32_t value);
void RegSetString(HKEY root, std::string_view path, std::string_view name, std::u16string_view text,
                  DWORD type = REG_SZ);  // stored with its terminating NUL
void RegSetMultiString(HKEY root, std::string_view path, std::string_view name,
                       const std::vector<std::u16string>& strings);
void RegSetBinary(HKEY root, std::string_view path, std::string_view name, const void* data, size_t size);
bool RegKeyExists(HKEY root, std::string_view path);
std::optional<RegValue> RegGetValue(HKEY root, std::string_view path, std::string_view name);
std::vector<std::string> RegSubkeys(HKEY root, std::string_view path);
std::vector<std::string> RegValueNames(HKEY root, std::string_view path);
void RegDeleteTree(HKEY root, std::string_view path);  // no-op when missing
std::string RegDump(HKEY root, std::string_view path = "");  // indented text of a subtree

// ---- Process token -----------------------------------------------------------------------------------
struct PrivilegeState {
    bool held = false;
    bool enabled = false;
};
void SetPrivilegeState(std::string_view name, bool held, bool enabled);
PrivilegeState GetPrivilegeState(std::string_view name);
// Windows lists in AdjustTokenPrivileges' previous state only the privileges whose state changes; some
// implementations list every privilege asked about. Code must work with both.
void SetPreviousStateListsUnchanged(bool listsUnchanged);

// ---- The user: message boxes -------------------------------------------------------------------------
struct MessageBoxRecord {
    std::string text;
    std::string caption;
    bool captionNull = false;
    bool ownerNull = true;
    UINT style = 0;
    int answer = 0;
};
// Queue the answer to the next message box; an expected text fragment, when given, must occur in the
// box's text or the box counts as unexpected. A box with nothing queued is a violation, answered 0.
// `then`, when given, runs as the user answers (say, the user closes the application holding a port).
void ScriptMessageBox(int answer, std::string_view expectedText = "", std::function<void()> then = nullptr);
// No interactive desktop: every box fails (returns 0) without being a violation.
void SetNoDesktop(bool noDesktop);
const std::vector<MessageBoxRecord>& MessageBoxes();
size_t PendingMessageBoxAnswers();

// ---- Debug output and standard output ----------------------------------------------------------------
const std::string& DebugOutput();
std::vector<std::string> DebugOutputWrites();  // one entry per OutputDebugStringA call
const std::string& StandardOutput();
// Runs inside every OutputDebugStringA call, outside the machine's lock (for tests that hold writers).
void SetDebugOutputHook(std::function<void(const char* text)> hook);

// ---- The product's driver behind "\\.\Zel" -----------------------------------------------------------
struct DriverPort {
    std::vector<uint8_t> config;  // configuration record, in whatever layout the driver generation uses
    uint16_t portOpen = 0;        // PortOpen as the driver reports it
    DWORD statusError = 0;        // fail this port's status requests with this error
    DWORD configError = 0;        // fail this port's configuration requests with this error
};
struct DriverRequest {
    DWORD controlCode = 0;
    std::vector<uint8_t> input;   // copy of the input buffer
    DWORD outputLength = 0;
    bool outputNull = true;
    DWORD portNumber = 0;         // from the request block, when there was one
    DWORD argument = 0, reserved = 0, bufferLength = 0;
    uint64_t bufferAddress = 0;
    DWORD result = 0;             // 0 success, else the error the request completed with
};
struct DriverState {
    bool loaded = false;
    DWORD openError = ERROR_FILE_NOT_FOUND;  // used while not loaded, or when refuseOpen is set
    bool refuseOpen = false;
    std::vector<uint8_t> version;            // raw bytes of the version answer (normally text and NUL)
    std::vector<std::pair<DWORD, DriverPort>> ports;  // by port number
    std::vector<std::pair<DWORD, DWORD>> controlErrors;  // control code -> error
    DWORD unknownPortError = ERROR_FILE_NOT_FOUND;
    DWORD closeError = 0;                    // CloseHandle on the device fails with this (handle released)
    // Status bytes after PortOpen; a driver writing garbage fills them (and PortOpen) as it likes.
    uint8_t statusFill = 0;
    // Called for each port-changed notice (port number), e.g. to observe the registry at that moment.
    std::function<void(DWORD port)> onPortChanged;
};
DriverState& Driver();
void DriverLoad(std::string_view versionText);  // loaded, version text stored with its NUL
void DriverSetPort(DWORD port, DriverPort state);
DriverPort* DriverFindPort(DWORD port);
const std::vector<DriverRequest>& DriverRequests();

// ---- Windows Installer session -----------------------------------------------------------------------
struct InstallerMessage {
    int type = 0;
    std::vector<int> fields;  // fields 0..n of the record, as set (unset fields read 0)
    int answer = 0;
};
MSIHANDLE InstallHandle();  // the session's install handle (valid until Reset)
void SetProperty(std::string_view name, std::u16string_view value);
void ClearProperty(std::string_view name);
// The answer to the nth message (from 1) processed with MsiProcessMessage; others get IDOK.
void ScriptInstallerAnswer(unsigned nth, int answer);
const std::vector<InstallerMessage>& InstallerMessages();

}  // namespace sim
