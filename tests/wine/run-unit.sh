#!/usr/bin/env bash
# Runs the Wine tests of a Windows build folder, without CMake or CTest:
#   tests/wine/run-unit.sh BUILD_DIR [TEST_EXE_NAME...]
# BUILD_DIR is the build that Wine runs here (build/win, or build/win64 where the host runs
# no 32-bit code; scripts/wine-env.sh decides). Each test program prints its failures and
# "N passed, M failed" last; this script adds them up, prints the total the same way, and
# exits non-zero when any program fails, crashes, hangs or does not print that line.
set -u

if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [TEST_EXE_NAME...]" >&2
    exit 2
fi
build=$(cd "$1" && pwd) || exit 2
shift
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
tests_dir="$build/tests/wine"

programs=("$@")
if [ ${#programs[@]} -eq 0 ]; then
    programs=(nbwine_resources nbwine_platform)
fi
for p in "${programs[@]}"; do
    if [ ! -f "$tests_dir/$p.exe" ]; then
        echo "missing $tests_dir/$p.exe: build the Windows tree first" >&2
        exit 2
    fi
done

# shellcheck source=../../scripts/wine-env.sh
. "$top/scripts/wine-env.sh" || exit 2
# A prefix of its own under the build folder (a copy of the shared one; its bin folder, first
# on PATH, has the wine that fits it), and an X display:
# the dialog tests make real windows.
nb_prefix "$build/wine-unit" || exit 2
nb_display || exit 2

status=0
passed=0
failed=0
# run_program EXE LABEL [ARG...]: one test program; its totals join the run's.
run_program() {
    local p=$1 label=$2
    shift 2
    local log="$tests_dir/$label.log"
    echo "== $label"
    (cd "$tests_dir" && timeout "${NB_WINE_TEST_TIMEOUT:-600}" wine "$p.exe" "$@") >"$log" 2>&1
    local rc=$?
    # Wine's own complaints go to stderr; the test's lines are what matters here.
    grep -v -E '^(wine:|[0-9a-f]{4}:(fixme|err|warn):)' "$log"
    local last p_n=0 f_n=1
    last=$(tr -d '\r' <"$log" | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -1)
    if [[ $last =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
        p_n=${BASH_REMATCH[1]}
        f_n=${BASH_REMATCH[2]}
        # A crash after the totals, or a non-zero exit with no failure counted, is one more.
        if [ "$rc" -ne 0 ] && [ "$f_n" -eq 0 ]; then f_n=1; fi
    fi
    passed=$((passed + p_n))
    failed=$((failed + f_n))
    if [ "$rc" -ne 0 ] || [ "$f_n" -ne 0 ]; then
        echo "== $label FAILED (exit code $rc)"
        status=1
    fi
}

for p in "${programs[@]}"; do
    run_program "$p" "$p"
done
# Where Wine runs another build than the shipped one, the shipped 32-bit exe's resources are
# still read (as a data file, which needs no 32-bit code to run).
shipped="$top/build/win/nbmonitor.exe"
if [ "$build" != "$top/build/win" ] && [ -f "$shipped" ] && [[ " ${programs[*]} " == *" nbwine_resources "* ]]; then
    run_program nbwine_resources nbwine_resources-shipped "$(wine winepath -w "$shipped" 2>/dev/null | tr -d '\r')"
fi
echo "$passed passed, $failed failed"
exit $status
