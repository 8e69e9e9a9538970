#!/usr/bin/env bash
# The test command: installs what is missing, builds both builds (warnings are errors), runs each
# benchmark once and each fuzz target briefly, the native tests on the simulated machine under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the Windows build on Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install_deps.sh
cmake --preset native >/dev/null
cmake --build --preset native
cmake --preset windows >/dev/null
cmake --build --preset windows
tools/bench.sh --once >/dev/null
tools/fuzz.sh --smoke
ctest --preset native -j2
tools/wine_tests.sh
