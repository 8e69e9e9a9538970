#!/usr/bin/env bash
# The fault sweeps: builds the native library and sweeps every platform call of an upgrade of 16 ports,
# the removals, AddPort and the open-ports check, printing a summary table per run and mode.
#
#   tools/fault_sweep.sh [--ports N] [--run TEXT] [--limit N]
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install_deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target zel_fault_sweep >/dev/null
ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:allow_user_segv_handler=1 \
    build/native/tools/zel_fault_sweep "$@"
