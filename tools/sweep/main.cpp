// The fault sweeps of whole installer runs, with a summary table per run and mode. Exits 1 when an
// outcome shows a problem no failure may cause.
#include <iostream>

#include <CLI/CLI.hpp>

#include "tools/sweep/fault_sweep.h"

int main(int argc, char** argv) {
    CLI::App app{"Fails every platform call of installer runs in turn and classifies what follows."};
    int ports = 16;
    std::string only;
    unsigned limit = 0;
    app.add_option("--ports", ports, "configured ports of the upgraded machine")->check(CLI::Range(1, 200));
    app.add_option("--run", only, "sweep only the runs whose name contains this text");
    app.add_option("--limit", limit, "sweep at most this many calls per run and mode, spread over the run");
    CLI11_PARSE(app, argc, argv);

    int exitCode = 0;
    for (const sweep::Run& run : sweep::StandardRuns(ports)) {
        if (!only.empty() && run.name.find(only) == std::string::npos) continue;
        for (sweep::Mode mode : {sweep::Mode::Transient, sweep::Mode::Persistent, sweep::Mode::Raise}) {
            sweep::Report report = sweep::SweepRun(run, mode, limit);
            sweep::PrintReport(std::cout, run, report);
            for (const sweep::Outcome& outcome : report.outcomes)
                if (!sweep::Problems(run, outcome).empty()) exitCode = 1;
        }
    }
    return exitCode;
}
