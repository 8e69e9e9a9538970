#!/usr/bin/env bash
# The Windows build on a real implementation of the Windows API: checks the DLL's shape, runs the Windows
# test program (wintests/) under Wine, on Wine's COM port database and on the test fixture's, and builds,
# installs and removes the MSI package (packaging/) under Wine's msiexec. Expects the Windows build to be
# built already:
#
#   tools/wine_tests.sh [BUILD_DIR]        (default: $ZEL_WINDOWS_BUILD, else build/windows)
#
# Every Wine run gets a fresh prefix in a temporary folder, with HOME and TMPDIR there too, so nothing is
# written outside it and the build folder; no display is used, and no Wine process outlives the script.
# The last line is "N passed, M failed"; the exit status is non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-${ZEL_WINDOWS_BUILD:-build/windows}}
build=$(cd "$build" 2>/dev/null && pwd) || { echo "wine_tests: no build folder ${1:-${ZEL_WINDOWS_BUILD:-build/windows}}" >&2; exit 2; }
dll=$build/winbuild/ZelSetupUtils.dll
test_program=$build/wintests/zel_wintests.exe
objdump=i686-w64-mingw32-objdump

# ---- Checks and the summary line --------------------------------------------------------------------

passed=0
failed=0
skipped=0
pass() { passed=$((passed + 1)); echo "ok:   $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
# check DESCRIPTION COMMAND...: one check, passed when the command succeeds.
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

# ---- Wine, fenced in --------------------------------------------------------------------------------

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zel-wine.XXXXXX")
prefixes=()
helpers=()
cleanup() {
    local prefix pid
    for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null; done
    for prefix in "${prefixes[@]}"; do
        WINEPREFIX=$prefix wineserver -k 2>/dev/null
        WINEPREFIX=$prefix wineserver -w 2>/dev/null
    done
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$tmp/home" "$tmp/tmp"
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_DATA_HOME=$tmp/home/.local/share \
    XDG_CACHE_HOME=$tmp/home/.cache TMPDIR=$tmp/tmp
export WINEARCH=win32 WINEDEBUG=-all
# No runtime or browser engine install prompts, no desktop menu entries, no debugger on a crash.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe,winedbg.exe="
# No display: message boxes fail at once instead of waiting for a click.
unset DISPLAY WAYLAND_DISPLAY

echo "$(wine --version 2>/dev/null || echo 'wine: not found'), build $build"

# new_prefix: a fresh, initialised prefix as WINEPREFIX.
new_prefix() {
    WINEPREFIX=$(mktemp -d "$tmp/prefix.XXXXXX")
    export WINEPREFIX
    prefixes+=("$WINEPREFIX")
    timeout 300 wineboot -i >"$WINEPREFIX.boot.log" 2>&1
}

# end_prefix: ends every process of the current prefix.
end_prefix() {
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
}

# ---- The DLL's shape --------------------------------------------------------------------------------

pe32_dll() {
    "$objdump" -f "$dll" | grep -q 'file format pei-i386'
}

# Exports as "ordinal name" lines, and the same from the definition file the DLL is linked with.
dll_exports() {
    "$objdump" -p "$dll" | awk '
        /^Export Address Table -- Ordinal Base/ { base = $NF }
        /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
        names && /^[ \t]*$/ { names = 0 }
        names { gsub(/[\[\]]/, " "); print $1 + base, $2 }' | sort
}
defined_exports() {
    awk '/^[ \t]*EXPORTS/ { on = 1; next }
         on && /@[0-9]+/ { name = $1; sub(/@[0-9]+$/, "", name); ord = $2; sub(/^@/, "", ord); print ord, name }' \
        "$root/winbuild/ZelSetupUtils.def" | sort
}

exports_by_ordinal() {
    local actual expected
    actual=$(dll_exports)
    expected=$(defined_exports)
    echo "$expected" | grep -qx "1 CheckForOpenPorts" || { echo "  ZelSetupUtils.def lacks ordinal 1 CheckForOpenPorts"; return 1; }
    [ "$actual" = "$expected" ] || { printf '  exported:\n%s\n  expected:\n%s\n' "$actual" "$expected"; return 1; }
}

# The static runtimes leave only system DLLs to import.
imports_system_only() {
    local allowed="kernel32.dll user32.dll advapi32.dll msi.dll setupapi.dll newdev.dll msports.dll msvcrt.dll"
    local dll_name ok=0
    while read -r dll_name; do
        case " $allowed " in
            *" ${dll_name,,} "*) ;;
            *) echo "  imports $dll_name"; ok=1 ;;
        esac
    done < <("$objdump" -p "$dll" | awk '/DLL Name:/ { print $3 }')
    return $ok
}

dll_characteristics() {
    "$objdump" -p "$dll" | awk '/^DllCharacteristics/ { print $2 }'
}
data_directory() {  # data_directory INDEX: "RVA size" of a PE data directory entry (hexadecimal index)
    "$objdump" -p "$dll" | awk -v entry="$1" '$1 == "Entry" && $2 == entry { print $3, $4 }'
}

# Address space layout randomisation needs the relocations to move the image.
aslr_and_dep() {
    local flags
    flags=$(dll_characteristics)
    [ -n "$flags" ] && (( (16#$flags & 0x40) && (16#$flags & 0x100) )) || { echo "  DllCharacteristics $flags"; return 1; }
    [ "$(data_directory 5)" != "00000000 00000000" ] || { echo "  no base relocations"; return 1; }
}

# The exception guard registers its handler at run time. Windows refuses such a handler in an image that
# declares no exception handling (NO_SEH) or carries a table of its safe handlers (in the load
# configuration); Wine checks neither, so the shape has to.
guard_handler_allowed() {
    local flags
    flags=$(dll_characteristics)
    (( (16#$flags & 0x400) == 0 )) || { echo "  DllCharacteristics $flags has NO_SEH"; return 1; }
    [ "$(data_directory a)" = "00000000 00000000" ] || { echo "  a load configuration: check its safe handler table"; return 1; }
}

if [ -f "$dll" ]; then
    check "ZelSetupUtils.dll is a 32-bit PE DLL" pe32_dll
    check "exports by ordinal with undecorated names, as winbuild/ZelSetupUtils.def defines" exports_by_ordinal
    check "imports from system DLLs only" imports_system_only
    check "DYNAMIC_BASE (with relocations) and NX_COMPAT set" aslr_and_dep
    check "run-time exception handlers allowed (no NO_SEH, no safe-handler table)" guard_handler_allowed
else
    fail "ZelSetupUtils.dll not built in $build"
fi

# ---- The Windows test program -----------------------------------------------------------------------

# Wine's msports.dll exports the COM port database as stubs that raise. The suites that need a working
# database (named *OnFixture) run on their own in a second prefix, where the test fixture msports.dll
# (wintests/msports_fixture/) is copied over Wine's in system32 and chosen with a DLL override; every other
# test runs in a prefix of its own on Wine's stubs.
fixture_dll=$build/wintests/msports_fixture/msports.dll
fixture_suites='*OnFixture.*'
run_passed=0
run_skipped=0

# run_test_program LABEL LOG [ARGUMENTS...]: one run of the test program in the current prefix, its
# counts added to the summary and left in run_passed and run_skipped; non-zero when it gave no summary.
run_test_program() {
    local label=$1 log=$2 status tests_passed tests_failed tests_skipped
    shift 2
    # Wine names the stubs the tests call on purpose ("unimplemented function ..."); that line is noise.
    timeout 180 wine "$test_program" "$@" 2>&1 | tr -d '\r' | grep -v '^wine: Call from .* to unimplemented function' |
        tee "$log"
    status=${PIPESTATUS[0]}
    end_prefix
    tests_passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\.$/\1/p' "$log")
    tests_failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:$/\1/p' "$log")
    tests_skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}, listed below:$/\1/p' "$log")
    if [ -z "$tests_passed" ]; then
        fail "$label ended without its summary (exit status $status)"
        return 1
    fi
    passed=$((passed + tests_passed))
    failed=$((failed + ${tests_failed:-0}))
    skipped=$((skipped + ${tests_skipped:-0}))
    run_passed=$tests_passed
    run_skipped=${tests_skipped:-0}
    [ "$status" -eq 0 ] || [ -n "$tests_failed" ] || fail "$label exit status $status"
    echo "$label: $tests_passed passed, ${tests_failed:-0} failed"
}

# A skip in the fixture run means that the fixture was not the msports.dll loaded.
every_test_ran() {
    [ "$run_passed" -gt 0 ] && [ "$run_skipped" -eq 0 ]
}

if [ -f "$test_program" ]; then
    if new_prefix; then
        run_test_program "Windows test program (Wine's COM port database)" "$tmp/wintests.log" \
            --gtest_filter="-$fixture_suites"
    else
        fail "Wine prefix for the test program could not be set up (see $WINEPREFIX.boot.log)"
        cat "$WINEPREFIX.boot.log"
    fi
    if [ ! -f "$fixture_dll" ]; then
        fail "test fixture msports.dll not built in $build"
    elif new_prefix; then
        cp "$fixture_dll" "$WINEPREFIX/drive_c/windows/system32/msports.dll"
        if WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msports=n" run_test_program \
            "Windows test program (fixture COM port database)" "$tmp/wintests-fixture.log" \
            --gtest_filter="$fixture_suites"; then
            check "fixture run: its tests ran with the fixture loaded, none skipped" every_test_ran
        fi
    else
        fail "Wine prefix for the fixture run could not be set up (see $WINEPREFIX.boot.log)"
        cat "$WINEPREFIX.boot.log"
    fi
else
    fail "Windows test program not built in $build"
fi

# ---- The MSI package --------------------------------------------------------------------------------

msi=$tmp/ZelPorts.msi

# The package's custom actions as action|type|source|target, and where each runs as
# action|sequence|condition. Type 1 is a DLL from the Binary table, run at once, its result checked;
# deferred actions add 1024, and 2048 when they run without impersonation (3073). Type 51 sets the
# property named as its source (the deferred action's CustomActionData) to its formatted target.
expected_actions='CheckForOpenPorts|1|ZelSetupUtils|CheckForOpenPorts
SetInstallActionData|51|Install|[INSTALLDIR]
Install|3073|ZelSetupUtils|Install
Uninstall|3073|ZelSetupUtils|Uninstall'
expected_sequence='CheckForOpenPorts|1450|
Uninstall|3490|REMOVE="ALL"
SetInstallActionData|4010|REMOVE<>"ALL"
Install|4020|REMOVE<>"ALL"'

table() {  # table NAME: the rows of a package table, tab-separated, without msiinfo's three header lines
    msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4
}

package_tables() {
    local actions sequence ours
    actions=$(table CustomAction | awk -F'\t' -v OFS='|' '{ print $1, $2, $3, $4 }' | sort)
    [ "$actions" = "$(sort <<<"$expected_actions")" ] || { printf '  CustomAction:\n%s\n' "$actions"; return 1; }
    ours=$(cut -d'|' -f1 <<<"$expected_actions" | paste -sd'|')
    sequence=$(table InstallExecuteSequence | awk -F'\t' -v OFS='|' -v ours="^($ours)$" '$1 ~ ours { print $1, $3, $2 }' | sort)
    [ "$sequence" = "$(sort <<<"$expected_sequence")" ] || { printf '  InstallExecuteSequence:\n%s\n' "$sequence"; return 1; }
}

binary_is_the_dll() {
    (cd "$tmp" && msiinfo extract "$msi" Binary.ZelSetupUtils >"$tmp/binary.dll") && cmp -s "$tmp/binary.dll" "$dll"
}

# The custom action host opening "\\.\Zel" is the sign that ZelSetupUtils.dll was loaded and its action
# ran: Wine's msiexec logs the same success when the DLL fails to load. The name is made to lead to a
# FIFO (a prefix's dosdevices name the devices), and a writer blocked on it notes the first open.
# Requests on it fail, so the open-ports check scans every port and finds none open.
watch_device_open() {  # watch_device_open MARKER
    local fifo=$tmp/zel-device
    [ -p "$fifo" ] || mkfifo "$fifo"
    ln -sfn "$fifo" "$WINEPREFIX/dosdevices/zel"
    (exec 3>"$fifo" && : >"$1") &
    helpers+=($!)
}

action_succeeded() {  # action_succeeded LOG ACTION
    grep -Eq "^Action ended [0-9:]+: $2\. Return value 1\.$" "$1" || { echo "  $1:"; grep -F "$2" "$1"; return 1; }
}

# Wine's msiexec exits 0 also when an action's DLL fails to load, so its status is only shown; the
# checks look at what the actions did.
not_run() {  # not_run LOG ACTION
    ! grep -Eq "^Action (start|ended) [0-9:]+: $2\." "$1" || { echo "  $1:"; grep -E ": $2\." "$1"; return 1; }
}

msiexec_run() {  # msiexec_run LOG ARGUMENTS...
    local log=$1 status
    shift
    timeout 180 wine msiexec "$@" /qn /l*v "$(winepath -w "$log" 2>/dev/null)" >/dev/null 2>&1
    status=$?
    echo "      msiexec $1: exit status $status"
}

# reg_text KEY NAME: the text of a registry value, from "wine reg query" lines of the form
# "    NAME    REG_SZ    TEXT" (the separators are runs of blanks, and the text may hold blanks).
reg_text() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        awk -v name="$2" '$1 == name && $2 ~ /^REG_/ {
            sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]*/, ""); print; found = 1 }
            END { exit !found }'
}
reg_key_exists() {  # reg_key_exists KEY
    wine reg query "$1" >/dev/null 2>&1
}

settings_key='HKLM\Software\Kelmiso\ZEL'
user_settings_key='HKCU\Software\Kelmiso\ZEL'
product_folder='C:\Program Files\Kelmiso\ZEL\'
installed_inf="drive_c/Program Files/Kelmiso/ZEL/ZelDrvr/ZelDrvr.inf"

target_dir_recorded() {
    local text
    text=$(reg_text "$settings_key" TargetDir) || { echo "  no TargetDir in $settings_key"; return 1; }
    [ "$text" = "$product_folder" ] || { echo "  TargetDir is '$text'"; return 1; }
}

# InfFile names the copy Install staged in the system INF folder (Wine keeps the INF's own name there),
# and that copy is the package's INF.
staged_inf_recorded() {
    local text unix_path
    text=$(reg_text "$settings_key" InfFile) || { echo "  no InfFile in $settings_key"; return 1; }
    echo "      InfFile: $text"
    [[ "${text,,}" == 'c:\windows\inf\'* ]] || { echo "  InfFile '$text' is not in the system INF folder"; return 1; }
    unix_path=$(winepath -u "$text" 2>/dev/null)
    cmp -s "$unix_path" "$root/packaging/ZelDrvr/ZelDrvr.inf" || { echo "  '$text' is not the package's INF"; return 1; }
}

settings_removed() {
    local key ok=0
    # A query that cannot fail unless reg itself does: a missing key must mean a missing key.
    reg_key_exists 'HKLM\Software\Microsoft' || { echo "  wine reg query does not answer"; return 1; }
    for key in "$settings_key" "$user_settings_key"; do
        if reg_key_exists "$key"; then echo "  $key is still there"; ok=1; fi
    done
    return $ok
}

if [ -f "$dll" ] && (cd "$(dirname "$dll")" && wixl -a x86 -o "$msi" "$root/packaging/ZelPorts.wxs"); then
    pass "MSI package built with wixl"
    check "custom actions and their sequence numbers in the package" package_tables
    check "ZelSetupUtils.dll in the package's Binary table" binary_is_the_dll
    if new_prefix; then
        msi_path=$(winepath -w "$msi" 2>/dev/null)
        watch_device_open "$tmp/opened.install"
        msiexec_run "$tmp/install.log" /i "$msi_path"
        check "install: CheckForOpenPorts ran (opened \\\\.\\Zel)" test -e "$tmp/opened.install"
        for action in CheckForOpenPorts SetInstallActionData Install; do
            check "install: $action returned success" action_succeeded "$tmp/install.log" "$action"
        done
        check "install: ZelDrvr\\ZelDrvr.inf installed in the product folder" \
            cmp -s "$WINEPREFIX/$installed_inf" "$root/packaging/ZelDrvr/ZelDrvr.inf"
        check "install: TargetDir is the product folder ($product_folder)" target_dir_recorded
        check "install: InfFile is the staged copy of the package's INF" staged_inf_recorded

        # What an earlier version left for the user, for the removal to take away with the rest.
        wine reg add "$user_settings_key\\Window" /v Placement /t REG_SZ /d "0,0" /f >/dev/null 2>&1
        watch_device_open "$tmp/opened.remove"
        msiexec_run "$tmp/remove.log" /x "$msi_path"
        check "removal: CheckForOpenPorts ran (opened \\\\.\\Zel)" test -e "$tmp/opened.remove"
        for action in CheckForOpenPorts Uninstall; do
            check "removal: $action returned success" action_succeeded "$tmp/remove.log" "$action"
        done
        check "removal: Install did not run" not_run "$tmp/remove.log" Install
        check "removal: ZelDrvr\\ZelDrvr.inf removed" test ! -e "$WINEPREFIX/$installed_inf"
        check "removal: $settings_key and $user_settings_key removed" settings_removed
        end_prefix
    else
        fail "Wine prefix for the package could not be set up (see $WINEPREFIX.boot.log)"
        cat "$WINEPREFIX.boot.log"
    fi
else
    fail "MSI package built with wixl"
fi

echo "$passed passed, $failed failed$([ "$skipped" -eq 0 ] || echo ", $skipped skipped")"
[ "$failed" -eq 0 ]
