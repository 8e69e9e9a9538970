#include "fuzz/harness.h"

#include <sanitizer/common_interface_defs.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ucontext.h>

#include "platform/guard.h"

namespace fuzz {

std::u16string Utf16(const std::vector<uint8_t>& bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
    return text;
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "\n==== invariant broken: %s\n", what.c_str());
    for (const std::string& violation : sim::Violations()) std::fprintf(stderr, "platform misuse: %s\n", violation.c_str());
    std::fprintf(stderr, "Last calls on the simulated machine:\n%s\n", sim::CallLogText(60).c_str());
    std::abort();
}

void Begin() { sim::Reset(); }

void End() {
    std::string leaks = sim::LeakReport();
    if (!leaks.empty()) Fail("handles or heap blocks left open:\n" + leaks);
    if (!sim::Violations().empty()) Fail("misuse of the platform");
    sim::Reset();
}

namespace {

struct sigaction simulatorAction[NSIG];

// The simulator's fault handler hands a fault to the innermost exception guard and returns only when no
// guard is active; such a fault would otherwise end the process without the fuzzer keeping the input.
void OnFaultOutsideGuard(int signal, siginfo_t* info, void* context) {
    simulatorAction[signal].sa_sigaction(signal, info, context);
    char where[512] = "?";
#if defined(__x86_64__)
    void* pc = reinterpret_cast<void*>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
    __sanitizer_symbolize_pc(pc, "%p %F %L", where, sizeof where);
#endif
    std::fprintf(stderr, "\n==== signal %d at address %p outside any exception guard, at %s\n", signal,
                 info->si_addr, where);
    __sanitizer_print_stack_trace();
    std::abort();
}

void NoOp(void*) {}

}  // namespace

}  // namespace fuzz

// Runs before libFuzzer installs its own handlers, which then leave ours in place (and chain to it for
// SIGSEGV).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ZelRunGuarded(fuzz::NoOp, nullptr);  // the simulator installs its handlers with the first guard
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        sigaction(signal, nullptr, &fuzz::simulatorAction[signal]);
        if (!(fuzz::simulatorAction[signal].sa_flags & SA_SIGINFO)) continue;
        struct sigaction action = fuzz::simulatorAction[signal];
        action.sa_sigaction = fuzz::OnFaultOutsideGuard;
        sigaction(signal, &action, nullptr);
    }
    return 0;
}
