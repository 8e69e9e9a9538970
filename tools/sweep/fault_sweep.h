// Fault sweeps over whole installer runs on the simulated machine: every platform call of a run fails in
// turn, once (transient) or from that call on (persistent), or raises an access violation, and each
// outcome is checked and classified: the result code, handles and heap blocks left, misuse of the
// platform, the privileges, and what became of every product port.
#pragma once

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "tools/replay/replay.h"
#include "tools/replay/scenario.h"

namespace sweep {

enum class Mode { Transient, Persistent, Raise };
const char* ModeName(Mode mode);

enum class Action { Install, Uninstall, AddPortWithDriverUpdate, AddPortProbing, CheckForOpenPorts };

struct Run {
    std::string name;
    replay::Scenario scenario;  // the machine the run starts from
    Action action = Action::Install;
    DWORD port = 0;             // AddPort's number
};

// The runs of a full sweep: Install of an upgrade from a 4.2.0.2 driver with `ports` configured ports
// (services, AES) beside a motherboard COM1 and a USB adapter on COM4; Uninstall of that machine with
// and without CustomActionData; AddPort at a free number with a driver update and with a probe; the
// open-ports check.
std::vector<Run> StandardRuns(int ports);

struct Outcome {
    Mode mode = Mode::Transient;
    unsigned nth = 0;        // the call that failed, counted among the run's failable calls from 1
    std::string api;         // the API of that call
    UINT result = 0;
    bool resultAllowed = true;
    std::string leaks;       // handles and heap blocks left open
    std::vector<std::string> violations;
    bool privilegesRestored = true;
    std::map<replay::PortFate, int> fates;  // product ports present before the run, by what became of them
    std::vector<int> lost;
};

struct Report {
    std::string run;
    Mode mode = Mode::Transient;
    unsigned calls = 0;  // failable calls of the run without a fault
    std::vector<Outcome> outcomes;
};

// Sweeps one run in one mode; `limit` > 0 sweeps only that many calls (spread over the run).
Report SweepRun(const Run& run, Mode mode, unsigned limit = 0);

// Problems of an outcome that no failure may cause: a leak (not counted after a raise, whose guard
// releases nothing by design), misuse, privileges left changed, a result the run cannot give, a port
// left with settings that are neither its own nor the driver's.
std::vector<std::string> Problems(const Run& run, const Outcome& outcome);

// A table per report: calls swept, outcomes by result, ports by fate, ports lost by failing API.
void PrintReport(std::ostream& out, const Run& run, const Report& report);

}  // namespace sweep
