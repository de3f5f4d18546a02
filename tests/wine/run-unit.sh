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
for p in "${programs[@]}"; do
    log="$tests_dir/$p.log"
    echo "== $p"
    (cd "$tests_dir" && timeout "${NB_WINE_TEST_TIMEOUT:-600}" wine "$p.exe") >"$log" 2>&1
    rc=$?
    # Wine's own complaints go to stderr; the test's lines are what matters here.
    grep -v -E '^(wine:|[0-9a-f]{4}:(fixme|err|warn):)' "$log"
    last=$(tr -d '\r' <"$log" | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -1)
    p_n=0
    f_n=1
    if [[ $last =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
        p_n=${BASH_REMATCH[1]}
        f_n=${BASH_REMATCH[2]}
        # A crash after the totals, or a non-zero exit with no failure counted, is one more.
        if [ "$rc" -ne 0 ] && [ "$f_n" -eq 0 ]; then f_n=1; fi
    fi
    passed=$((passed + p_n))
    failed=$((failed + f_n))
    if [ "$rc" -ne 0 ] || [ "$f_n" -ne 0 ]; then
        echo "== $p FAILED (exit code $rc)"
        status=1
    fi
done
echo "$passed passed, $failed failed"
exit $status
