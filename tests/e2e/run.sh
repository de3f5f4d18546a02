#!/usr/bin/env bash
# End-to-end tests: nbmonitor.exe under Wine on a demo installation, driven from outside the
# way a user and the installation's tools drive it.
#
#   tests/e2e/run.sh [BUILD_DIR] [CASE...]
#
# BUILD_DIR is the Windows build Wine runs (default: the one scripts/wine-env.sh picks); it
# must hold nbmonitor.exe, tools/bin/{httpd,nbctl}.exe and tests/e2e/winprobe.exe (built
# here when missing). CASE picks cases whose name contains it. One Wine prefix
# (build/e2e/prefix) and one X display serve the whole run; every case lays out a fresh
# installation C:\nimbara\ and ends every Wine program of the prefix when it is done.
# Screenshots go to build/e2e/shots, program output to build/e2e/logs. NB_E2E_DIR names
# another folder for all of these, so that two runs on one machine keep out of each other's
# prefix (give the second one another NB_E2E_PORT too).
# The cases are those of cases.py (the program's ordinary life), faults.py (its reactions
# to faults of its surroundings), launching.py (what it starts and loads), control.py
# (nbctl status and log), supervision_log.py (the program's log), health.py (a hung server
# and the health check, a crash loop), stopping.py (graceful stop, nbctl exit --wait, end of
# session), real_apache.py (the real server, Apache httpd as scripts/apache builds it;
# skipped without that build), server_said.py (what a failing server says, the stand-in's
# and the real Apache's) and installer.py (the example installer of packaging/installer,
# built with makensis: install, upgrade, uninstall), run in that order by suite.py.
# The last line is "N passed, M failed"; the exit status is the number of failed cases.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)

fail_setup() {
    echo "e2e: $*"
    echo "0 passed, 1 failed"
    exit 1
}

if [ $# -gt 0 ] && [ -d "$1" ]; then
    NB_WIN_BUILD=$(cd "$1" && pwd)
    export NB_WIN_BUILD
    shift
fi

# shellcheck source=../../scripts/wine-env.sh
. "$root/scripts/wine-env.sh" || fail_setup "scripts/wine-env.sh failed"

[ -f "$NB_WIN_BUILD/nbmonitor.exe" ] || fail_setup "$NB_WIN_BUILD/nbmonitor.exe is not built"
if [ ! -f "$NB_WIN_BUILD/tests/e2e/winprobe.exe" ] || [ ! -f "$NB_WIN_BUILD/tests/e2e/nbmarker.dll" ] ||
    [ ! -f "$NB_WIN_BUILD/testhooks/nbmonitor.exe" ]; then
    nb_build_windows winprobe nbmarker nbmarker_dll nbmonitor_testhooks >"$root/build/e2e-winprobe-build.log" 2>&1 ||
        fail_setup "the e2e helpers do not build (build/e2e-winprobe-build.log)"
fi

nb_display || fail_setup "no X display"
NB_E2E_DIR=${NB_E2E_DIR:-$root/build/e2e}
nb_prefix "$NB_E2E_DIR" || fail_setup "the Wine prefix could not be made"
NB_E2E_DIR=$(cd "$NB_E2E_DIR" && pwd)

export NB_ROOT=$root NB_E2E_BUILD=$NB_WIN_BUILD NB_E2E_DIR NB_WINE_LOADER WINEPREFIX NB_BROWSER_LOG DISPLAY

# Start the prefix's own programs once, so that the first case does not pay for it.
timeout 120 "$NB_WINE_LOADER" "$NB_WIN_BUILD/tests/e2e/winprobe.exe" procs >/dev/null 2>&1

PYTHONDONTWRITEBYTECODE=1 python3 "$here/suite.py" "$@"
status=$?
exit $status
