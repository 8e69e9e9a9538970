// Core of the simulated machine: text conversion, reset, the handle table and heap accounting, the call
// log, fault injection, the per-thread last error, exception dispatch and interlocked operations.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <sstream>

#include "winsim/sim_internal.h"
#include "winsim/sim_seh.h"

namespace sim {
namespace detail {
namespace {

struct HandleEntry {
    HandleKind kind;
    std::shared_ptr<HandleObject> object;
    std::string creator;
};

struct FaultEntry {
    Fault fault;
    unsigned matched = 0;
};

// The call log is kept compact: a run over a few hundred ports makes close to a million calls, most of
// which nobody reads. Texts stay as they came, in buffers per width; the public records are built
// when the log is read, each once.
struct LoggedArg {
    const char* name;
    uint64_t number;  // for a text: where it starts in its buffer
    uint32_t textLength;
    bool isText;
    bool isNull;
    bool wide;
};
struct LoggedCall {
    const char* api;
    uint64_t sequence;
    size_t firstArg;
    size_t argCount;
};

// Texts in blocks that never move, so that a long log grows without copying what it holds.
template <class CharT>
class TextStore {
public:
    // Where the text now is, for Get.
    uint64_t Add(std::basic_string_view<CharT> text) {
        if (blocks_.empty() || blocks_.back().size() + text.size() > blocks_.back().capacity()) {
            blocks_.emplace_back();
            blocks_.back().reserve(std::max(kBlockChars, text.size()));
        }
        std::basic_string<CharT>& block = blocks_.back();
        uint64_t at = (static_cast<uint64_t>(blocks_.size() - 1) << 32) | block.size();
        block.append(text);
        return at;
    }
    std::basic_string_view<CharT> Get(uint64_t at, uint32_t length) const {
        return std::basic_string_view<CharT>(blocks_[at >> 32]).substr(at & 0xFFFFFFFFu, length);
    }
    void Clear() { blocks_.clear(); }

private:
    static constexpr size_t kBlockChars = 1 << 16;
    std::vector<std::basic_string<CharT>> blocks_;
};

struct Core {
    std::map<uintptr_t, HandleEntry> handles;
    uintptr_t nextHandle = 0x10000;
    std::map<void*, size_t> heap;
    std::vector<std::string> violations;
    std::deque<LoggedCall> log;
    std::deque<LoggedArg> logArgs;
    TextStore<char16_t> wideTexts;
    TextStore<char> narrowTexts;
    std::vector<Call> calls;  // the public records of log[0 .. calls.size())
    uint64_t sequence = 0;
    std::vector<FaultEntry> faults;
    unsigned faultsInjected = 0;
};

Core& C() {
    static Core core;
    return core;
}

std::vector<void (*)()>& ResetHooks() {
    static std::vector<void (*)()> hooks;
    return hooks;
}

thread_local DWORD lastError = 0;
thread_local SimExceptionFrame* topFrame = nullptr;

Arg PublicArg(const RawArg& raw) {
    Arg arg;
    arg.name = raw.name;
    arg.isText = raw.isText;
    arg.isNull = raw.isNull;
    arg.number = raw.number;
    if (raw.wide) arg.text = U8(std::u16string_view(raw.wide));
    if (raw.narrow) arg.text = raw.narrow;
    return arg;
}

Call PublicCall(const char* api, std::initializer_list<RawArg> args, uint64_t sequence) {
    Call call;
    call.api = api;
    call.sequence = sequence;
    for (const RawArg& raw : args) call.args.push_back(PublicArg(raw));
    return call;
}

Call PublicCall(const Core& core, const LoggedCall& logged) {
    Call call;
    call.api = logged.api;
    call.sequence = logged.sequence;
    call.args.reserve(logged.argCount);
    for (size_t i = 0; i < logged.argCount; ++i) {
        const LoggedArg& logArg = core.logArgs[logged.firstArg + i];
        Arg arg;
        arg.name = logArg.name;
        arg.isText = logArg.isText;
        arg.isNull = logArg.isNull;
        if (!logArg.isText) arg.number = logArg.number;
        else if (!logArg.isNull)
            arg.text = logArg.wide ? U8(core.wideTexts.Get(logArg.number, logArg.textLength))
                                   : std::string(core.narrowTexts.Get(logArg.number, logArg.textLength));
        call.args.push_back(std::move(arg));
    }
    return call;
}

void LogArg(Core& core, const RawArg& raw) {
    LoggedArg arg{raw.name, raw.number, 0, raw.isText, raw.isNull, raw.wide != nullptr};
    if (raw.wide) {
        std::u16string_view text(raw.wide);
        arg.textLength = static_cast<uint32_t>(text.size());
        arg.number = core.wideTexts.Add(text.substr(0, arg.textLength));
    } else if (raw.narrow) {
        std::string_view text(raw.narrow);
        arg.textLength = static_cast<uint32_t>(text.size());
        arg.number = core.narrowTexts.Add(text.substr(0, arg.textLength));
    }
    core.logArgs.push_back(arg);
}

void ClearLog(Core& core) {
    core.log.clear();
    core.logArgs.clear();
    core.wideTexts.Clear();
    core.narrowTexts.Clear();
    core.calls.clear();
}

// Brings the public records up to the end of the log.
const std::vector<Call>& PublicCalls() {
    Core& core = C();
    while (core.calls.size() < core.log.size()) core.calls.push_back(PublicCall(core, core.log[core.calls.size()]));
    return core.calls;
}

}  // namespace

std::recursive_mutex& Lock() {
    static std::recursive_mutex mutex;
    return mutex;
}

ResetHook::ResetHook(void (*reset)()) { ResetHooks().push_back(reset); }

Outcome Enter(const char* api, std::initializer_list<RawArg> args, Failable failable) {
    Guard guard(Lock());
    Core& core = C();
    uint64_t sequence = ++core.sequence;
    Outcome outcome;
    // Built only for a fault that looks at the call.
    std::optional<Call> call;
    for (FaultEntry& entry : core.faults) {
        const Fault& fault = entry.fault;
        bool named = fault.api == api;
        bool wildcard = fault.api == "*" && failable == Failable::Yes;
        if (!named && !wildcard) continue;
        if (fault.when) {
            if (!call) call = PublicCall(api, args, sequence);
            if (!fault.when(*call)) continue;
        }
        ++entry.matched;
        bool fires = fault.nth == 0 || entry.matched == fault.nth || (fault.persistent && entry.matched > fault.nth);
        if (!fires || outcome.fail || outcome.raise) continue;
        ++core.faultsInjected;
        if (fault.raise) {
            outcome.raise = true;
            outcome.code = fault.exceptionCode;
        } else {
            outcome.fail = true;
            outcome.code = fault.error;
        }
    }
    LoggedCall logged{api, sequence, core.logArgs.size(), args.size()};
    for (const RawArg& raw : args) LogArg(core, raw);
    if (outcome.fail || outcome.raise) {
        LogArg(core, A(outcome.fail ? "<injected failure>" : "<injected exception>", outcome.code));
        ++logged.argCount;
    }
    core.log.push_back(logged);
    return outcome;
}

void RaiseIfScripted(const Outcome& outcome) {
    if (outcome.raise) RaiseException(outcome.code, 0, 0, nullptr);
}

void Violation(std::string text) {
    Guard guard(Lock());
    C().violations.push_back(std::move(text));
}

void* AllocateCountedBlock(size_t bytes) {
    void* block = std::calloc(1, bytes ? bytes : 1);
    if (!block) return nullptr;
    Guard guard(Lock());
    C().heap[block] = bytes;
    return block;
}

uintptr_t AddHandle(HandleKind kind, std::shared_ptr<HandleObject> object, const char* creator) {
    Guard guard(Lock());
    Core& core = C();
    uintptr_t value = core.nextHandle;
    core.nextHandle += 4;
    core.handles[value] = HandleEntry{kind, std::move(object), creator};
    return value;
}

std::shared_ptr<HandleObject> FindHandle(uintptr_t value, HandleKind kind) {
    Guard guard(Lock());
    auto it = C().handles.find(value);
    if (it == C().handles.end() || it->second.kind != kind) return nullptr;
    return it->second.object;
}

bool IsOpenHandle(uintptr_t value) {
    Guard guard(Lock());
    return C().handles.count(value) != 0;
}

bool RemoveHandle(uintptr_t value, HandleKind kind, const char* closer) {
    Guard guard(Lock());
    auto it = C().handles.find(value);
    char text[160];
    if (it == C().handles.end()) {
        std::snprintf(text, sizeof text, "%s: 0x%llx is not an open handle (closed twice, or never opened)", closer,
                      static_cast<unsigned long long>(value));
        Violation(text);
        return false;
    }
    if (it->second.kind != kind) {
        std::snprintf(text, sizeof text, "%s: 0x%llx is a %s handle, not a %s handle", closer,
                      static_cast<unsigned long long>(value), HandleKindName(it->second.kind), HandleKindName(kind));
        Violation(text);
        return false;
    }
    C().handles.erase(it);
    return true;
}

}  // namespace detail

using namespace detail;

// ---- Text ----
std::u16string U16(std::string_view utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp;
        size_t n;
        if (c < 0x80) { cp = c; n = 1; }
        else if ((c >> 5) == 6) { cp = c & 0x1F; n = 2; }
        else if ((c >> 4) == 14) { cp = c & 0x0F; n = 3; }
        else { cp = c & 0x07; n = 4; }
        for (size_t k = 1; k < n && i + k < utf8.size(); ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string U8(std::u16string_view utf16) {
    std::string out;
    for (size_t i = 0; i < utf16.size(); ++i) {
        uint32_t cp = utf16[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string U8(const WCHAR* utf16) { return utf16 ? U8(std::u16string_view(utf16)) : std::string("(null)"); }

// ---- Lifecycle ----
void Reset() {
    Guard guard(Lock());
    Core& core = C();
    core.handles.clear();
    core.nextHandle = 0x10000;
    // Blocks left behind (by an exception whose guard releases nothing, say) are the machine's to free.
    for (auto& [block, size] : core.heap) std::free(block);
    core.heap.clear();
    core.violations.clear();
    ClearLog(core);
    core.sequence = 0;
    core.faults.clear();
    core.faultsInjected = 0;
    lastError = 0;
    for (auto hook : ResetHooks()) hook();
}

// ---- Handles and heap ----
const char* HandleKindName(HandleKind kind) {
    switch (kind) {
        case HandleKind::RegistryKey: return "registry key";
        case HandleKind::Token: return "token";
        case HandleKind::Device: return "device";
        case HandleKind::InstallerRecord: return "installer record";
        case HandleKind::InstallerSession: return "installer session";
        case HandleKind::DeviceInfoSet: return "device information set";
        case HandleKind::LogConf: return "logical configuration";
        case HandleKind::ResDes: return "resource descriptor";
        case HandleKind::ComDatabase: return "COM port database";
        case HandleKind::InfFile: return "INF file";
        case HandleKind::Other: return "other";
    }
    return "?";
}

size_t OpenHandleCount(HandleKind kind) {
    Guard guard(Lock());
    size_t n = 0;
    for (auto& [value, entry] : C().handles) n += entry.kind == kind;
    return n;
}

size_t OpenHandleCount() {
    Guard guard(Lock());
    size_t n = 0;
    // The installer session handle belongs to the host, not to the code under test.
    for (auto& [value, entry] : C().handles) n += entry.kind != HandleKind::InstallerSession;
    return n;
}

size_t HeapBlockCount() {
    Guard guard(Lock());
    return C().heap.size();
}

std::string LeakReport() {
    Guard guard(Lock());
    std::ostringstream out;
    for (auto& [value, entry] : C().handles) {
        if (entry.kind == HandleKind::InstallerSession) continue;
        out << HandleKindName(entry.kind) << " handle 0x" << std::hex << value << std::dec << " opened by "
            << entry.creator << " is still open\n";
    }
    for (auto& [block, size] : C().heap) out << "heap block of " << size << " bytes is still allocated\n";
    return out.str();
}

const std::vector<std::string>& Violations() { return C().violations; }

std::vector<std::string> TakeViolations() {
    Guard guard(Lock());
    std::vector<std::string> taken;
    taken.swap(C().violations);
    return taken;
}

// ---- Call log ----
const Arg* Call::Find(std::string_view name) const {
    for (const Arg& arg : args)
        if (arg.name == name) return &arg;
    return nullptr;
}
uint64_t Call::Number(std::string_view name) const {
    const Arg* arg = Find(name);
    return arg ? arg->number : 0;
}
std::string Call::Text(std::string_view name) const {
    const Arg* arg = Find(name);
    return arg ? arg->text : std::string();
}

const std::vector<Call>& Calls() {
    Guard guard(Lock());
    return PublicCalls();
}

std::vector<Call> Calls(std::string_view api) {
    Guard guard(Lock());
    const Core& core = C();
    std::vector<Call> out;
    for (size_t i = 0; i < core.log.size(); ++i)
        if (core.log[i].api == api) out.push_back(i < core.calls.size() ? core.calls[i] : PublicCall(core, core.log[i]));
    return out;
}

size_t CallCount(std::string_view api) {
    Guard guard(Lock());
    size_t n = 0;
    for (const LoggedCall& call : C().log) n += call.api == api;
    return n;
}

std::map<std::string, size_t> CallCounts() {
    Guard guard(Lock());
    // Counted by the name's address first: every call of an API passes the same text.
    std::map<const char*, size_t> byAddress;
    for (const LoggedCall& call : C().log) ++byAddress[call.api];
    std::map<std::string, size_t> out;
    for (const auto& [api, n] : byAddress) out[api] += n;
    return out;
}

std::string CallLogText(size_t lastN) {
    Guard guard(Lock());
    const Core& core = C();
    std::ostringstream out;
    size_t first = core.log.size() > lastN ? core.log.size() - lastN : 0;
    for (size_t i = first; i < core.log.size(); ++i) {
        Call call = PublicCall(core, core.log[i]);
        out << "#" << call.sequence << " " << call.api << "(";
        bool comma = false;
        for (const Arg& arg : call.args) {
            out << (comma ? ", " : "") << arg.name << "=";
            comma = true;
            if (arg.isNull) out << "null";
            else if (arg.isText) out << '"' << arg.text << '"';
            else out << "0x" << std::hex << arg.number << std::dec;
        }
        out << ")\n";
    }
    return out.str();
}

void ClearCallLog() {
    Guard guard(Lock());
    ClearLog(C());
}

// ---- Faults ----
void InjectFault(Fault fault) {
    Guard guard(Lock());
    C().faults.push_back(FaultEntry{std::move(fault), 0});
}

void FailCall(std::string_view api, unsigned nth, DWORD error, bool persistent) {
    Fault fault;
    fault.api = std::string(api);
    fault.nth = nth;
    fault.error = error;
    fault.persistent = persistent;
    InjectFault(std::move(fault));
}

void RaiseInCall(std::string_view api, unsigned nth, DWORD exceptionCode) {
    Fault fault;
    fault.api = std::string(api);
    fault.nth = nth;
    fault.raise = true;
    fault.exceptionCode = exceptionCode;
    InjectFault(std::move(fault));
}

void ClearFaults() {
    Guard guard(Lock());
    C().faults.clear();
}

unsigned FaultsInjected() { return C().faultsInjected; }

}  // namespace sim

// ---- Exception dispatch ----
namespace {

void DispatchToFrame(DWORD code) {
    SimExceptionFrame* frame = sim::detail::topFrame;
    sim::detail::topFrame = frame->next;
    frame->code = code;
    siglongjmp(frame->resume, 1);
}

void OnProcessorFault(int signal, siginfo_t*, void*) {
    if (!sim::detail::topFrame) {
        // Nobody guards this thread: die of the fault as an unguarded Windows thread would.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigaction(signal, &fallback, nullptr);
        return;
    }
    DWORD code = EXCEPTION_ACCESS_VIOLATION;
    if (signal == SIGFPE) code = EXCEPTION_INT_DIVIDE_BY_ZERO;
    if (signal == SIGILL) code = EXCEPTION_ILLEGAL_INSTRUCTION;
    DispatchToFrame(code);
}

void InstallFaultHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_sigaction = OnProcessorFault;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(signal, &action, nullptr);
    });
}

}  // namespace

void SimPushExceptionFrame(SimExceptionFrame* frame) {
    InstallFaultHandlers();
    frame->next = sim::detail::topFrame;
    frame->code = 0;
    sim::detail::topFrame = frame;
}

void SimPopExceptionFrame(SimExceptionFrame* frame) {
    if (sim::detail::topFrame == frame) sim::detail::topFrame = frame->next;
}

extern "C" {

DWORD WINAPI GetLastError(void) { return sim::detail::lastError; }
void WINAPI SetLastError(DWORD error) { sim::detail::lastError = error; }

void WINAPI RaiseException(DWORD code, DWORD, DWORD, const ULONG_PTR*) {
    {
        SIM_ENTER_RELEASE(outcome, "RaiseException", sim::detail::A("dwExceptionCode", code));
        (void)outcome;
    }
    if (!sim::detail::topFrame) {
        std::fprintf(stderr, "simulated platform: unhandled exception 0x%08X\n", code);
        std::abort();
    }
    DispatchToFrame(code);
}

LONG WINAPI InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
    return __sync_val_compare_and_swap(target, comparand, exchange);
}

LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value) { return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST); }

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
    SIM_ENTER(outcome, "LocalAlloc", sim::detail::A("uFlags", flags), sim::detail::A("uBytes", bytes));
    if (outcome) {
        SetLastError(outcome.code);
        return nullptr;
    }
    // At least one byte, so that every block has its own address.
    void* block = std::malloc(bytes ? bytes : 1);
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::memset(block, (flags & LMEM_ZEROINIT) ? 0 : 0xCD, bytes ? bytes : 1);
    sim::detail::Guard guard(sim::detail::Lock());
    sim::detail::C().heap[block] = bytes;
    return block;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
    SIM_ENTER_RELEASE(outcome, "LocalFree", sim::detail::A("hMem", memory));
    if (outcome) {
        SetLastError(outcome.code);
        return memory;
    }
    if (!memory) return nullptr;
    sim::detail::Guard guard(sim::detail::Lock());
    auto it = sim::detail::C().heap.find(memory);
    if (it == sim::detail::C().heap.end()) {
        sim::detail::Violation("LocalFree: block was not allocated by LocalAlloc, or freed twice");
        SetLastError(ERROR_INVALID_HANDLE);
        return memory;
    }
    sim::detail::C().heap.erase(it);
    std::free(memory);
    return nullptr;
}

}  // extern "C"
