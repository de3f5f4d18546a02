#!/usr/bin/env bash
# Runs the Wine tests of a Windows build folder, without CMake or CTest:
#   tests/wine/run-unit.sh build/win [TEST_EXE_NAME...]
# Each test program prints its failures and "N passed, M failed" last; this script exits
# non-zero when any program fails, crashes, hangs or does not print that line.
#
# The Wine set-up comes from scripts/wine-env.sh when the project has it (prefix, X server,
# fonts). Without it: a prefix in BUILD_DIR/wineprefix (made once, then reused) and an Xvfb
# on a free display, stopped again at the end.
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

started_xvfb=""
cleanup() {
    if [ -n "$started_xvfb" ]; then kill "$started_xvfb" 2>/dev/null; fi
}
trap cleanup EXIT

if [ -f "$top/scripts/wine-env.sh" ]; then
    # shellcheck source=/dev/null
    . "$top/scripts/wine-env.sh"
fi

export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}

# The loader: this machine may run 32-bit programs only through a 64-bit prefix (WoW64),
# so a prefix made by wine64 is run by wine64, which hands 32-bit programs to wine.
if [ -z "${WINE:-}" ]; then
    if [ -x /usr/lib/wine/wine64 ] && { [ ! -f "$WINEPREFIX/system.reg" ] ||
        grep -q '^#arch=win64' "$WINEPREFIX/system.reg"; }; then
        WINE=/usr/lib/wine/wine64
    else
        WINE=wine
    fi
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "making the Wine prefix $WINEPREFIX (once)"
    timeout 900 "$WINE" wineboot -i >/dev/null 2>&1
    timeout 120 "${WINESERVER:-wineserver}" -w 2>/dev/null
fi

if [ -z "${DISPLAY:-}" ]; then
    for n in $(seq 93 140); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
            started_xvfb=$!
            for _ in $(seq 1 50); do
                [ -e "/tmp/.X11-unix/X$n" ] && break
                sleep 0.1
            done
            export DISPLAY=":$n"
            break
        fi
    done
fi

status=0
for p in "${programs[@]}"; do
    log="$tests_dir/$p.log"
    echo "== $p"
    (cd "$tests_dir" && timeout "${NB_WINE_TEST_TIMEOUT:-900}" "$WINE" "$p.exe") >"$log" 2>&1
    rc=$?
    # Wine's own complaints go to stderr; the test's lines are what matters here.
    grep -v -E '^(wine:|[0-9a-f]{4}:(fixme|err|warn):)' "$log"
    last=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
    if [ $rc -ne 0 ] || [ -z "$last" ] || ! echo "$last" | grep -q ', 0 failed$'; then
        echo "== $p FAILED (exit code $rc)"
        status=1
    fi
done
exit $status
