#!/usr/bin/env bash
# Soak: nbmonitor.exe under Wine against a server that dies right after every start, for N
# restarts. Every tick (100 ms) finds the server gone and restarts it after the fixed 2 s
# pause, so each restart takes about 2.1 s and N = 1000 runs some 35-40 minutes. Not a test:
# scripts/test and CI do not run it.
#
#   bench/soak.sh [OPTION...] N
#     --every K      a table row every K restarts (default 100)
#     --fill BYTES   before the start, put BYTES of old lines into logs\nbmonitor.log, so
#                    that the rotation at 1 MiB happens within the run (default 983040,
#                    1 MiB - 64 KiB; 0 for an empty log)
#     --build DIR    take the programs from this Windows build (e.g. build/win) instead of
#                    building them into the soak's own folder
#
# The installation: monitor_interval 100 ms, restart_wait 0, wait_time 1000 ms (a shorter
# start); the stand-in httpd.exe starts well once, then dies at once (conf\standin.ini
# exit_now=1, exit code 3) and logs every launch (launch.log, which counts the restarts).
#
# Prints a Markdown table: restarts so far, seconds since the fault was set, nbmonitor's
# handle count (winprobe stats, from the system handle table), its private and resident
# memory (Linux smaps_rollup of its Wine process: Private_Clean + Private_Dirty, and Rss), and
# the sizes of logs\nbmonitor.log and logs\nbmonitor.log.1. The first row is taken after 3
# restarts, once the restart path has run. Also written to <dir>/soak.md.
#
# Exit status: 0 flat; 1 when the handle count or the private memory grew in most intervals
# between rows and ended above the first row (a leak: a little per restart; the heap taking
# one more block is one step, in one interval, and pages given back and taken again go up and
# down), or when the log and its rotated file together ever passed 2 MiB; 2 usage; 3 could not
# run or measure (build, start, nbmonitor ended, no restart for a minute).
#
# Environment:
#   NB_SOAK_DIR    builds, Wine prefix and logs (default build/bench-soak)
#   NB_SOAK_PORT   default_port of the installation (default 29142, away from the end-to-end
#                  tests and bench/run.sh)
set -uo pipefail

usage() { sed -n '7,13p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 2; }

every=100
fill=983040
use_build=
n=
while [ $# -gt 0 ]; do
    case "$1" in
        --every) every=${2:-}; shift 2 || usage ;;
        --fill) fill=${2:-}; shift 2 || usage ;;
        --build) use_build=${2:-}; shift 2 || usage ;;
        -h | --help) usage ;;
        -*) usage ;;
        *) [ -z "$n" ] || usage; n=$1; shift ;;
    esac
done
[[ $n =~ ^[1-9][0-9]*$ && $every =~ ^[1-9][0-9]*$ && $fill =~ ^[0-9]+$ ]] || usage

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${NB_SOAK_DIR:-$root/build/bench-soak}
mkdir -p "$out"
out=$(cd "$out" && pwd)
port=${NB_SOAK_PORT:-29142}
bound=1048576          # the log's rotation size
limit=$((2 * bound))   # the log and its rotated file must stay below this together
warmup=3
log=$out/soak.log
: >"$log"

say() { printf '== %s\n' "$*" >&2; }
die() { printf 'soak: %s (log: %s)\n' "$*" "$log" >&2; exit 3; }

# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh" || die "scripts/wine-env.sh failed"

if [ -n "$use_build" ]; then
    NB_WIN_BUILD=$(cd "$use_build" 2>/dev/null && pwd) || die "no build folder $use_build"
    source_note="taken as built"
else
    # Its own build of the sources, like the shipped one (same toolchain, MinSizeRel), so that
    # it never builds in a folder someone else is building in.
    NB_WIN_BUILD=$out/$NB_WINE_ARCH
    source_note="built from $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo "an unknown commit")"
    [ -n "$(git -C "$root" status --porcelain -- src cmake CMakeLists.txt tools/httpd 2>/dev/null)" ] &&
        source_note+=" with uncommitted changes in src, cmake or tools/httpd"
    say "building nbmonitor, the stand-in httpd and winprobe into $NB_WIN_BUILD ($source_note)"
    nb_build_windows nbmonitor httpd winprobe >>"$log" 2>&1 || die "build failed"
fi
export NB_WIN_BUILD
for f in nbmonitor.exe tools/bin/httpd.exe tests/e2e/winprobe.exe; do
    [ -f "$NB_WIN_BUILD/$f" ] || die "$NB_WIN_BUILD/$f is missing"
done

nb_display >>"$log" 2>&1 || die "no X display"
nb_prefix "$out/run" >>"$log" 2>&1 || die "no Wine prefix"
nb_layout --set httpd.default_port="$port" --set nbmonitor.monitor_interval=100 \
    --set httpd.restart_wait=0 --set nbmonitor.wait_time=1000 --standin log=launch.log \
    >>"$log" 2>&1 || die "layout failed"
home=$NB_HOME_UNIX
cur=$home/logs/nbmonitor.log
old=$cur.1
launches=$home/launch.log

probe() { timeout 60 wine "$NB_WIN_BUILD/tests/e2e/winprobe.exe" "$@" 2>>"$log" | tr -d '\r'; }

if [ "$fill" -gt 0 ]; then
    # Old lines of an earlier crash loop, up to the size asked for.
    mkdir -p "$home/logs"
    awk -v bytes="$fill" 'BEGIN {
        n = 0; i = 0
        while (1) {
            s = sprintf("2026-12-01T%02d:%02d:%02d.%03d+00:00 4242 server-exited pid=%d code=3 ran_ms=%d", \
                        int(i / 3600) % 24, int(i / 60) % 60, i % 60, i % 1000, 5000 + i, 20 + i % 80)
            if (n + length(s) + 2 > bytes) break
            printf "%s\r\n", s; n += length(s) + 2; i++
        }
        while (n < bytes) { printf "#"; n++ }   # the exact size asked for
    }' >"$cur"
fi
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }
restarts() {  # launches of the stand-in after the first, good one
    local l
    l=$( (grep -c 'pid=' "$launches" 2>/dev/null) || true)
    echo $((${l:-0} > 0 ? l - 1 : 0))
}

# The first start serves: the stand-in dies at once only from the first restart on.
say "starting nbmonitor (port $port, tick 100 ms, restart_wait 0)"
(cd "$home/bin" && exec wine "${NB_HOME_WIN}bin\\nbmonitor.exe") >>"$out/nbmonitor.out" 2>&1 &
nb_job=$!
nb_at_exit "kill $nb_job 2>/dev/null"
probe waitwin nbmonitorDlg 60000 >/dev/null || die "no window nbmonitorDlg within 60 s"
win_pid=$(probe find nbmonitorDlg | awk -F'\t' '$1 == "hwnd" { print $3 }')
[ -n "$win_pid" ] || die "no process id for the window nbmonitorDlg"

# nbmonitor's Linux process. Wine starts a program by forking its parent, so a child may
# carry nbmonitor's command line for a moment: the oldest match is the one.
unix_pid=
oldest=
for p in /proc/[0-9]*; do
    c=$(tr '\0' '\n' 2>/dev/null <"$p/cmdline" | head -1)
    [[ ${c,,} == *'\nbmonitor.exe' ]] || continue
    tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    t=$(awk '{ sub(/.*\) /, ""); print $20 }' "$p/stat" 2>/dev/null) || continue
    if [ -z "$oldest" ] || [ "$t" -lt "$oldest" ]; then oldest=$t; unix_pid=${p#/proc/}; fi
done
[ -n "$unix_pid" ] || die "no Linux process for nbmonitor.exe"

printf '[standin]\r\nlog=launch.log\r\nexit_now=1\r\n' >"$home/conf/standin.ini"
probe kill httpd.exe >/dev/null || die "no httpd.exe to kill after the start"

mem_kb() { awk -v k="$2" -F'[: ]+' '$1 == k { print $2 }' /proc/"$1"/smaps_rollup 2>/dev/null; }
private_kb() {
    awk -F'[: ]+' '$1 == "Private_Clean" || $1 == "Private_Dirty" { s += $2 } END { print s + 0 }' \
        /proc/"$1"/smaps_rollup 2>/dev/null
}

worst_pair=0
rotations=0
last_cur=$(size_of "$cur")
check_log() {  # the bound, and rotations seen (the current file got smaller)
    local c o
    c=$(size_of "$cur")
    o=$(size_of "$old")
    [ $((c + o)) -gt "$worst_pair" ] && worst_pair=$((c + o))
    [ "$c" -lt "$last_cur" ] && rotations=$((rotations + 1))
    last_cur=$c
}

rows=()
handles=()
private=()
t_first=
row() {  # row RESTARTS
    local h pk rk c o t
    h=$(probe stats "$win_pid" | awk -F'\t' '$1 == "owned_handles" { print $2 }')
    pk=$(private_kb "$unix_pid")
    rk=$(mem_kb "$unix_pid" Rss)
    c=$(size_of "$cur")
    o=$(size_of "$old")
    t=$(awk -v a="$(date +%s.%N)" -v b="$t_first" 'BEGIN { printf "%.0f", a - b }')
    handles+=("${h:--1}")
    private+=("${pk:-0}")
    rows+=("| $1 | $t | ${h:-?} | $pk | $rk | $c | $o |")
    printf '%s\n' "${rows[-1]}"
}

say "soak of $n restarts, a row every $every (about $(((n * 22 + 9) / 10 / 60 + 1)) minutes)"
echo "| Restarts | Seconds | Handles | Private KiB | Resident KiB | nbmonitor.log B | nbmonitor.log.1 B |"
echo "|---|---|---|---|---|---|---|"
started_s=$(date +%s)
started_utc=$(date -u '+%Y-%m-%d %H:%M')
t_first=$(date +%s.%N)
next=$warmup
last_count=0
last_change=$(date +%s)
while :; do
    kill -0 "$unix_pid" 2>/dev/null || die "nbmonitor ended during the soak"
    check_log
    count=$(restarts)
    now=$(date +%s)
    if [ "$count" != "$last_count" ]; then last_count=$count; last_change=$now; fi
    [ $((now - last_change)) -lt 60 ] || die "no restart for 60 s (at $count)"
    if [ "$count" -ge "$next" ]; then
        # Half a second after a launch nbmonitor is inside its 2 s pause: no restart under way.
        sleep 0.5
        row "$(restarts)"
        [ "$next" -ge "$n" ] && break
        next=$(((next / every + 1) * every))
        [ "$next" -gt "$n" ] && next=$n
        continue
    fi
    sleep 0.2
done
took=$(($(date +%s) - started_s))

# Every restart is in the log as one `restart` line (in one of the two files while at most one
# rotation happened).
logged=$(cat "$old" "$cur" 2>/dev/null | grep -c " $win_pid restart pid=" || true)
exited=$(cat "$old" "$cur" 2>/dev/null | grep -c " $win_pid server-exited pid=[0-9]* code=3 " || true)

say "ending nbmonitor"
probe command nbmonitorDlg 32773 >/dev/null   # Exit, as the tray menu and `nbctl exit` send it
for ((i = 0; i < 150; i++)); do kill -0 "$unix_pid" 2>/dev/null || break; sleep 0.2; done
kill -0 "$unix_pid" 2>/dev/null && ended="was still running 30 s after Exit" || ended="ended on Exit"

grew() {  # grew VALUE... : intervals in which the value went up
    local g=0 i
    local -a v=("$@")
    for ((i = 1; i < ${#v[@]}; i++)); do [ "${v[i]}" -gt "${v[i - 1]}" ] && g=$((g + 1)); done
    echo $g
}
intervals=$((${#rows[@]} - 1))
h_grew=$(grew "${handles[@]}")
p_grew=$(grew "${private[@]}")
status=0
verdicts=()
if [ "${handles[0]}" -lt 0 ]; then
    verdicts+=("handle count not available")
elif [ $((2 * h_grew)) -gt "$intervals" ] && [ "${handles[-1]}" -gt "${handles[0]}" ]; then
    verdicts+=("LEAK: handles grew in $h_grew of $intervals intervals"); status=1
fi
if [ $((2 * p_grew)) -gt "$intervals" ] && [ "${private[-1]}" -gt "${private[0]}" ]; then
    verdicts+=("LEAK: private memory grew in $p_grew of $intervals intervals"); status=1
fi
if [ "$worst_pair" -gt "$limit" ]; then
    verdicts+=("UNBOUNDED: the log and its rotated file reached $worst_pair bytes, over $limit"); status=1
fi
[ "$status" = 0 ] && verdicts+=("flat")

{
    echo "Soak of $n restarts, $started_utc to $(date -u '+%H:%M UTC'), $(nproc) cores, $(wine --version 2>/dev/null)," \
        "$NB_WINE_ARCH ($NB_WIN_BUILD/nbmonitor.exe, $source_note); monitor_interval 100 ms, restart_wait 0;" \
        "log filled with $fill bytes of old lines before the start; load average at the end" \
        "$(cut -d' ' -f1-3 /proc/loadavg)."
    echo
    echo "| Restarts | Seconds | Handles | Private KiB | Resident KiB | nbmonitor.log B | nbmonitor.log.1 B |"
    echo "|---|---|---|---|---|---|---|"
    printf '%s\n' "${rows[@]}"
    echo
    echo "- $n restarts in $took s ($(awk -v t="$took" -v n="$n" 'BEGIN { printf "%.2f", t / n }') s each)."
    echo "- Intervals between rows: $intervals; handles grew in $h_grew" \
        "(${handles[0]} -> ${handles[-1]}), private memory in $p_grew" \
        "(${private[0]} -> ${private[-1]} KiB)."
    echo "- Log: rotations seen $rotations; largest log + rotated file $worst_pair bytes" \
        "(bound $limit); \`restart\` lines in the two files $logged, \`server-exited ... code=3\`" \
        "lines $exited."
    echo "- nbmonitor $ended."
    joined=$(printf '%s; ' "${verdicts[@]}")
    echo "- Verdict: ${joined%; }."
} >"$out/soak.md"
sed -n '/^- /p' "$out/soak.md"
exit $status
