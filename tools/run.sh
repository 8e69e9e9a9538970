#!/usr/bin/env bash
# The main job: builds the native library and runs the custom actions on the simulated default machine,
# printing what the installing user would see.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install_deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target zel_default_machine >/dev/null
ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0 build/native/tools/zel_default_machine "$@"
