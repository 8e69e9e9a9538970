// What a person sees and what a debugger hears: message boxes answered from a script, the system's
// message table behind FormatMessage, the debug output and the process's standard output.
#include <cstring>
#include <deque>

#include "winsim/sim_internal.h"

namespace sim {
namespace detail {
namespace {

struct ScriptedAnswer {
    int answer;
    std::string expectedText;
    std::function<void()> then;
};

struct UiState {
    std::deque<ScriptedAnswer> answers;
    bool noDesktop = false;
    std::vector<MessageBoxRecord> boxes;
    std::string debugOutput;
    std::vector<std::string> debugWrites;
    std::string standardOutput;
    std::function<void(const char*)> debugHook;
};
UiState& Ui() {
    static UiState ui;
    return ui;
}
void ResetUi() { Ui() = UiState{}; }
ResetHook uiReset(ResetUi);

// The system's texts for the common codes, as the message table of an English system words them.
struct SystemMessage {
    DWORD code;
    const char* text;
};
constexpr SystemMessage kSystemMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {120, "This function is not supported on this system.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {998, "Invalid access to memory location.\r\n"},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1300, "Not all privileges or groups referenced are assigned to the caller.\r\n"},
    {1313, "A specified privilege does not exist.\r\n"},
    {1314, "A required privilege is not held by the client.\r\n"},
};

const char* SystemText(DWORD code) {
    for (auto& m : kSystemMessages)
        if (m.code == code) return m.text;
    return nullptr;
}

bool AnswerFitsStyle(int answer, UINT style) {
    switch (style & 0xF) {
        case MB_OK: return answer == IDOK;
        case MB_OKCANCEL: return answer == IDOK || answer == IDCANCEL;
        case MB_RETRYCANCEL: return answer == IDRETRY || answer == IDCANCEL;
        default: return true;
    }
}

// Shared body of FormatMessageA and FormatMessageW; returns the number of characters produced.
template <class Char>
DWORD FormatSystemMessage(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, Char* buffer,
                          DWORD size) {
    constexpr DWORD kUnsupported = FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE;
    if ((flags & kUnsupported) || !(flags & FORMAT_MESSAGE_FROM_SYSTEM) || source || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (languageId != 0 && languageId != LANG_USER_DEFAULT && languageId != 0x409) {
        SetLastError(1815);  // ERROR_RESOURCE_LANG_NOT_FOUND
        return 0;
    }
    const char* text = SystemText(messageId);
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    DWORD length = static_cast<DWORD>(std::strlen(text));
    Char* out;
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        DWORD chars = length + 1 > size ? length + 1 : size;
        out = static_cast<Char*>(AllocateCountedBlock(chars * sizeof(Char)));
        if (!out) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        *reinterpret_cast<Char**>(buffer) = out;
    } else {
        if (size < length + 1) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        out = buffer;
    }
    for (DWORD i = 0; i < length; ++i) out[i] = static_cast<Char>(static_cast<unsigned char>(text[i]));
    out[length] = 0;
    return length;
}

}  // namespace
}  // namespace detail

using namespace detail;

void ScriptMessageBox(int answer, std::string_view expectedText, std::function<void()> then) {
    Guard guard(Lock());
    Ui().answers.push_back(ScriptedAnswer{answer, std::string(expectedText), std::move(then)});
}

void SetNoDesktop(bool noDesktop) {
    Guard guard(Lock());
    Ui().noDesktop = noDesktop;
}

const std::vector<MessageBoxRecord>& MessageBoxes() { return Ui().boxes; }
size_t PendingMessageBoxAnswers() { return Ui().answers.size(); }
const std::string& DebugOutput() { return Ui().debugOutput; }
std::vector<std::string> DebugOutputWrites() {
    Guard guard(Lock());
    return Ui().debugWrites;
}
const std::string& StandardOutput() { return Ui().standardOutput; }

void SetDebugOutputHook(std::function<void(const char*)> hook) {
    Guard guard(Lock());
    Ui().debugHook = std::move(hook);
}

}  // namespace sim

using sim::detail::A;
using namespace sim;
using namespace sim::detail;

namespace {
const HANDLE kStandardOutput = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7));
}

extern "C" {

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    SIM_ENTER(outcome, "MessageBoxW", A("hWnd", owner), A("lpText", text), A("lpCaption", caption), A("uType", type));
    if (outcome) {
        SetLastError(outcome.code);
        return 0;
    }
    Guard guard(Lock());
    UiState& ui = Ui();
    MessageBoxRecord box;
    box.text = sim::U8(text);
    box.caption = caption ? sim::U8(caption) : std::string();
    box.captionNull = caption == nullptr;
    box.ownerNull = owner == nullptr;
    box.style = type;
    if (ui.noDesktop) {
        box.answer = 0;
        ui.boxes.push_back(box);
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (ui.answers.empty()) {
        Violation("MessageBoxW: nobody scripted an answer to \"" + box.text + "\"");
        box.answer = 0;
        ui.boxes.push_back(box);
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    ScriptedAnswer next = ui.answers.front();
    ui.answers.pop_front();
    if (!next.expectedText.empty() && box.text.find(next.expectedText) == std::string::npos)
        Violation("MessageBoxW: expected a box saying \"" + next.expectedText + "\", got \"" + box.text + "\"");
    if (!AnswerFitsStyle(next.answer, type))
        Violation("MessageBoxW: answer " + std::to_string(next.answer) + " is not possible for style " +
                  std::to_string(type));
    box.answer = next.answer;
    ui.boxes.push_back(box);
    if (next.then) next.then();
    return next.answer;
}

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                            void*) {
    SIM_ENTER(outcome, "FormatMessageA", A("dwFlags", flags), A("dwMessageId", messageId),
              A("dwLanguageId", languageId), A("nSize", size));
    if (outcome) {
        SetLastError(outcome.code);
        return 0;
    }
    return FormatSystemMessage(flags, source, messageId, languageId, buffer, size);
}

DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                            DWORD size, void*) {
    SIM_ENTER(outcome, "FormatMessageW", A("dwFlags", flags), A("dwMessageId", messageId),
              A("dwLanguageId", languageId), A("nSize", size));
    if (outcome) {
        SetLastError(outcome.code);
        return 0;
    }
    return FormatSystemMessage(flags, source, messageId, languageId, buffer, size);
}

void WINAPI OutputDebugStringA(LPCSTR text) {
    std::function<void(const char*)> hook;
    {
        Guard guard(Lock());
        UiState& ui = Ui();
        std::string line = text ? text : "";
        ui.debugOutput += line;
        ui.debugWrites.push_back(line);
        hook = ui.debugHook;
    }
    if (hook) hook(text);
}

HANDLE WINAPI GetStdHandle(DWORD which) { return which == STD_OUTPUT_HANDLE ? kStandardOutput : INVALID_HANDLE_VALUE; }

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED) {
    SIM_ENTER(outcome, "WriteFile", A("hFile", file), A("nNumberOfBytesToWrite", bytes));
    if (outcome) {
        SetLastError(outcome.code);
        return FALSE;
    }
    if (file != kStandardOutput) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Guard guard(Lock());
    Ui().standardOutput.append(static_cast<const char*>(buffer), bytes);
    if (written) *written = bytes;
    return TRUE;
}

}  // extern "C"
