#!/usr/bin/env bash
# Builds the benchmarks (Release, no sanitizers, simulated platform) and runs them: the table of times
# with the fitted growth in the number of ports, then the platform calls per port and API.
#   tools/bench.sh [benchmark options]   e.g. --benchmark_filter=Upgrade
#   tools/bench.sh --once                every benchmark run a single time, only to see that they run
set -euo pipefail
cd "$(dirname "$0")/.."

once=0
args=()
for arg in "$@"; do
  case "$arg" in
    --once) once=1 ;;
    *) args+=("$arg") ;;
  esac
done

cmake --preset bench >/dev/null
if ! output=$(cmake --build --preset bench 2>&1); then
  echo "$output" >&2
  exit 1
fi

bench=build/bench/bench/zel_bench
if [ "$once" -eq 1 ]; then
  # A minimum time below any run's own makes the first iteration the only one.
  args=(--benchmark_min_time=0.000001 "${args[@]}")
fi
exec "$bench" "${args[@]}"
