#!/usr/bin/env bash
# Builds the fuzz targets (clang, ASan, UBSan, the simulated platform) and runs each for a while on a
# copy of its seed corpus; the repository's corpus is never grown. Prints per target the runs executed
# and whether it found anything; a finding's input is kept under build/fuzz/findings/<target>/ and the
# exit status is 1.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]   each target for SECONDS (default 60)
#   tools/fuzz.sh --smoke [TARGET...]     each target for about 10 seconds, bounded in runs too
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
runs=()
if [ "${1:-}" = "--smoke" ]; then
  seconds=10
  runs=(-runs=200000)
  shift
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_driver_version fuzz_driver_records fuzz_port_store_load fuzz_com_scan fuzz_inf_walk)

tools/install_deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

# The exception guard turns processor faults into exception codes through the simulator's own signal
# handlers, so the sanitizers must leave those signals alone.
export ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:allow_user_segv_handler=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
found=0
for target in "${targets[@]}"; do
  binary=build/fuzz/fuzz/$target
  [ -x "$binary" ] || { echo "fuzz: no target $target" >&2; exit 2; }
  corpus=$work/$target
  mkdir -p "$corpus"
  cp fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  findings=build/fuzz/findings/$target
  rm -rf "$findings"
  mkdir -p "$findings"
  dict=()
  [ -f fuzz/dict/"$target".dict ] && dict=(-dict=fuzz/dict/"$target".dict)
  log=$findings/log.txt
  status=0
  "$binary" "$corpus" "${dict[@]}" -max_total_time="$seconds" "${runs[@]}" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$findings"/ >"$log" 2>&1 || status=$?
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  artifacts=$(find "$findings" -maxdepth 1 -type f ! -name log.txt | sort)
  if [ "$status" -eq 0 ] && [ -z "$artifacts" ]; then
    printf '%-22s %10s runs  nothing found\n' "$target" "${executed:-?}"
    rm -rf "$findings"
  else
    found=1
    printf '%-22s %10s runs  FOUND (exit %d): %s\n' "$target" "${executed:-?}" "$status" "${artifacts:-no input kept}"
    grep -m 1 -E '^==[0-9]+==ERROR|^==== |runtime error|SUMMARY' "$log" | sed 's/^/    /' || true
    echo "    log: $log"
  fi
done
exit $found
