#!/usr/bin/env bash
# The test command: installs what is missing, builds both builds (warnings are errors), runs the native
# tests on the simulated machine under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install_deps.sh
cmake --preset native >/dev/null
cmake --build --preset native
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset native
tools/wine_tests.sh
