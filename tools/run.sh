#!/usr/bin/env bash
# The main job: builds the native library and the upgrade replay tool, and plays an installation against
# a simulated machine, printing what the installing user would see and the ports before and after. With no
# argument it replays the embedded default upgrade; tools/replay/README.md lists the options and scenarios.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install_deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target zel_replay >/dev/null
ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0 build/native/tools/zel_replay "$@"
