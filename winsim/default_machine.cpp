// The embedded default machine: what a customer's machine looks like when an upgrade starts.
#include "winsim/sim.h"

namespace sim {

void LoadDefaultMachine() {
    Reset();
    RegSetString(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL", "TargetDir", u"C:\\Program Files\\Kelmiso\\ZEL\\");
    SetProperty("CustomActionData", u"C:\\Program Files\\Kelmiso\\ZEL\\");
    DriverLoad("4.302.7.15");
    DriverSetPort(3, DriverPort{std::vector<uint8_t>(1208, 0), 1, 0, 0});
    DriverSetPort(5, DriverPort{std::vector<uint8_t>(1208, 0), 0, 0, 0});
}

}  // namespace sim
