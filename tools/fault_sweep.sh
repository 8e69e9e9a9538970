#!/usr/bin/env bash
# The fault sweeps: builds the native library and sweeps every platform call of an upgrade of 16 ports,
# the removals, AddPort and the open-ports check, printing a summary table per run and mode.
#
#   tools/fault_sweep.sh [--ports N] [--run TEXT] [--limit N]
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install_deps.sh
# Optimised and without sanitizers: a full sweep makes tens of thousands of runs. The test suite sweeps a
# small machine under the sanitizers.
cmake -S . -B build/sweep -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/sweep --target zel_fault_sweep >/dev/null
build/sweep/tools/zel_fault_sweep "$@"
