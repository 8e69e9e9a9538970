// Shared plumbing of the simulated machine's modules: call entry with recording and fault injection,
// the handle table, per-module reset, and the machine lock.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include <type_traits>

#include "winsim/sim.h"

namespace sim::detail {

// The machine lock; recursive because one simulated call may use another module's helpers.
std::recursive_mutex& Lock();
using Guard = std::lock_guard<std::recursive_mutex>;

// Each module registers how to put its state back to the defaults; Reset() runs them all.
struct ResetHook {
    explicit ResetHook(void (*reset)());
};

// ---- Call entry ----
// An argument as a call hands it over: no copies yet. The log stores it compactly (text as it came) and
// builds the public Arg only when someone reads the log. `name` must be static text.
struct RawArg {
    const char* name = "";
    bool isText = false;
    bool isNull = false;
    uint64_t number = 0;
    const WCHAR* wide = nullptr;   // wide text argument (read until its NUL)
    const char* narrow = nullptr;  // narrow text argument
};

template <class T>
RawArg A(const char* name, T value) {
    RawArg arg;
    arg.name = name;
    // Only const text is read as text: a writable buffer is an output and may hold anything yet.
    if constexpr (std::is_same_v<T, const WCHAR*>) {
        arg.isText = true;
        arg.isNull = value == nullptr;
        arg.wide = value;
    } else if constexpr (std::is_same_v<T, const char*>) {
        arg.isText = true;
        arg.isNull = value == nullptr;
        arg.narrow = value;
    } else if constexpr (std::is_pointer_v<T>) {
        arg.isNull = value == nullptr;
        arg.number = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value));
    } else if constexpr (std::is_same_v<T, std::nullptr_t>) {
        arg.isNull = true;
    } else {
        static_assert(std::is_integral_v<T> || std::is_enum_v<T>, "unsupported argument type");
        arg.number = static_cast<uint64_t>(static_cast<int64_t>(value)) &
                     (sizeof(T) >= 8 ? ~0ull : ((1ull << (8 * sizeof(T))) - 1));
    }
    return arg;
}

struct Outcome {
    bool fail = false;
    bool raise = false;
    DWORD code = 0;  // the error to fail with, or the exception to raise
    explicit operator bool() const { return fail; }
};

enum class Failable { Yes, OnlyWhenNamed };

// Records the call and decides whether a fault fires. Must be called in a statement of its own, with no
// object of the calling API alive that needs destruction: a raise leaves the frame without unwinding.
Outcome Enter(const char* api, std::initializer_list<RawArg> args, Failable failable = Failable::Yes);
void RaiseIfScripted(const Outcome& outcome);
void Violation(std::string text);

// A heap block counted like one from LocalAlloc (for system functions that hand out LocalAlloc memory).
void* AllocateCountedBlock(size_t bytes);

#define SIM_ENTER(outcome, api, ...)                                        \
    const ::sim::detail::Outcome outcome = ::sim::detail::Enter(api, {__VA_ARGS__}); \
    ::sim::detail::RaiseIfScripted(outcome)
#define SIM_ENTER_RELEASE(outcome, api, ...)                                                      \
    const ::sim::detail::Outcome outcome =                                                        \
        ::sim::detail::Enter(api, {__VA_ARGS__}, ::sim::detail::Failable::OnlyWhenNamed);         \
    ::sim::detail::RaiseIfScripted(outcome)

// ---- Handles ----
struct HandleObject {
    virtual ~HandleObject() = default;
};
// Registers an object under a new handle value; the handle records the call that made it.
uintptr_t AddHandle(HandleKind kind, std::shared_ptr<HandleObject> object, const char* creator);
// The object behind a handle of the given kind, or null when the value is not an open handle of it.
std::shared_ptr<HandleObject> FindHandle(uintptr_t value, HandleKind kind);
bool IsOpenHandle(uintptr_t value);
// Closes a handle of the given kind; a wrong kind or an unknown value is a violation. Returns success.
bool RemoveHandle(uintptr_t value, HandleKind kind, const char* closer);

// Text as registry data: UTF-16LE with its terminating NUL.
std::vector<uint8_t> TextBytes(std::u16string_view text);

// ---- Registry keys handed out by other components (SetupAPI's device keys) ----
// Opens path below root as a registry key handle with the given access, as RegOpenKeyExW would, without
// recording a registry call. With create, missing keys on the way are made. Returns ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND or a path error.
LONG OpenKeyHandle(HKEY root, std::u16string_view path, REGSAM access, bool create, const char* creator,
                   HKEY* result);

template <class T>
std::shared_ptr<T> Find(uintptr_t value, HandleKind kind) {
    return std::static_pointer_cast<T>(FindHandle(value, kind));
}

}  // namespace sim::detail
