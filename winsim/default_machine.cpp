// The embedded default machine: what a customer's machine looks like when an upgrade starts.
#include "winsim/devices.h"
#include "winsim/port_devices.h"
#include "winsim/sim.h"

namespace sim {

void LoadDefaultMachine() {
    Reset();
    RegSetString(HKEY_LOCAL_MACHINE, "Software\\Kelmiso\\ZEL", "TargetDir", u"C:\\Program Files\\Kelmiso\\ZEL\\");
    SetProperty("CustomActionData", u"C:\\Program Files\\Kelmiso\\ZEL\\");

    // Two configured ports: COM3 with no services, COM5 connected to two servers.
    PortDeviceOptions com3;
    com3.comNumber = 3;
    com3.record = FullPortRecord(3);
    AddPortDevice(com3);
    PortDeviceOptions com5;
    com5.comNumber = 5;
    com5.record = FullPortRecord(5, {{1, 4001, u"10.0.0.21"}, {1, 4002, u"server2.example.net"}});
    AddPortDevice(com5);

    ClaimComNumber(3);
    ClaimComNumber(5);

    // Beside them, ports of other devices that hold their numbers without a database claim.
    AddMotherboardPort(1, 0x3F8);
    AddSerialCommEntry("\\Device\\Serial0", u"COM1");
    AddUsbSerialAdapter(4);

    DriverLoad("4.302.7.15");
    DriverSetPort(3, DriverPort{std::vector<uint8_t>(1208, 0), 1, 0, 0});
    DriverSetPort(5, DriverPort{std::vector<uint8_t>(1208, 0), 0, 0, 0});
}

}  // namespace sim
