// COM number accounting: which COM numbers are in use on the machine, and giving a number back.
//
// A number is in use when the system's COM port database has it claimed, or when a device holds it
// without a claim: another Ports-class device (by its port name, the I/O address of its boot
// configuration, or its friendly name), or a serial device listed under Hardware\DeviceMap\SerialComm.
#pragma once

#include "diag/status.h"

// One byte per COM number: entry n - 1 is non-zero while COMn is in use.
constexpr DWORD kPortUsageEntries = 256;
typedef BYTE PortUsageMap[kPortUsageEntries];

// Fills map with the database's usage (one byte per number, mapSize entries) and *portsReported with the
// count the database reports, then marks what the device and SerialComm scans find. With a null map only
// the database is asked (its size). Returns 0, the database's error (the map must not be used then), or
// the error of listing the Ports devices (the SerialComm scan has still run).
ZelStatus _GetPortUsage(BYTE* map, DWORD mapSize, DWORD* portsReported);

// Marks the numbers that present Ports-class devices other than the product's own hold. map has at least
// kPortUsageEntries entries; entries are only ever set. Returns 0, or the error of listing the devices
// (nothing marked).
ZelStatus GetOtherPorts(BYTE* map);

// Marks COM1 to COM255 for every value of Hardware\DeviceMap\SerialComm that names one. map has at least
// kPortUsageEntries entries.
void SearchHardwareSerialComm(BYTE* map);

// The standard PC serial port (1 to 4) at the I/O base of the device's boot configuration, or 0.
DWORD DetermineComNumberFromResources(DEVINST devInst);

// Releases the number's claim in the COM port database. Returns 0 or the database's error.
ZelStatus _ReleasePort(DWORD comNumber);
