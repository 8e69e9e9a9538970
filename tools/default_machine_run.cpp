// Runs the custom actions on the simulated default machine and prints what the installing user sees:
// the message boxes with their answers and each action's result for the installer.
#include <cstdio>

#include "setup/custom_actions.h"
#include "winsim/sim.h"

namespace {

void PrintBoxes(size_t from) {
    const auto& boxes = sim::MessageBoxes();
    for (size_t i = from; i < boxes.size(); ++i) {
        std::printf("  message box (style %u): \"%s\"\n", boxes[i].style, boxes[i].text.c_str());
        const char* answer = boxes[i].answer == IDRETRY ? "Retry" : boxes[i].answer == IDCANCEL ? "Cancel"
                           : boxes[i].answer == IDOK    ? "OK"    : "no answer";
        std::printf("  the user answers: %s\n", answer);
    }
}

}  // namespace

int main() {
    sim::LoadDefaultMachine();
    std::printf("Default machine: driver %s loaded, product ports COM3 (held open by an application) and COM5.\n",
                reinterpret_cast<const char*>(sim::Driver().version.data()));

    std::printf("\nCheckForOpenPorts: the user answers Retry, then Cancel.\n");
    sim::ScriptMessageBox(IDRETRY, "ZEL ports open");
    sim::ScriptMessageBox(IDCANCEL, "ZEL ports open");
    UINT result = CheckForOpenPorts(sim::InstallHandle());
    PrintBoxes(0);
    std::printf("  result for the installer: %d (%s)\n", static_cast<int>(result),
                result == 0 ? "the installation goes on" : "the installation stops");

    std::string leaks = sim::LeakReport();
    std::printf("\nHandles and heap blocks left open: %s\n", leaks.empty() ? "none" : leaks.c_str());
    return leaks.empty() && sim::Violations().empty() ? 0 : 1;
}
