#!/usr/bin/env bash
# nbmonitor's performance figures, measured side by side in one run and printed as one
# Markdown table with details below it. Not a test: it exits 0 when it could measure
# (whatever the figures are) and 1 when it could not.
#
#   bench/run.sh
#
# Environment:
#   NB_BENCH_DIR      builds, the Wine prefix and the logs (default build/bench); the builds are
#                     its own (native, the Windows build Wine runs, and the 32-bit build whose
#                     exe is the shipped one), so that it never builds in a folder someone else
#                     is building in at the same time
#   NB_BENCH_IDLE_S   length of the idle-CPU window in seconds (default 60)
#   NB_BENCH_PORT     default_port of the measured installation (default 28142, away from the
#                     end-to-end tests' 27142-27160)
#   NB_BENCH_BEFORE   a source tree of an earlier commit (e.g. a `git worktree` of it): its
#                     nbmonitor.exe is built too and measured against this tree's, the two alike:
#                     each in a fresh prefix of its own with nothing else in it (ports
#                     NB_BENCH_PORT + 10 and + 20), one start and the same restarts each, one
#                     after the other, then idle CPU of both in the same window, and once more
#                     with the two swapped between the prefixes; the table gets their figures
#                     side by side with the ratio (this tree against that one)
#   NB_BENCH_HEALTH_MS  health_interval of the health check's idle-CPU pair (default 10000): this
#                     tree's program twice, each in a prefix of its own (ports NB_BENCH_PORT + 30
#                     and + 40), alike but for health_interval (that value, and 0), measured in
#                     the idle window, then once more with the settings swapped between them
#
# The measured installation: wait_time 1000 ms; monitor_interval 5000 ms and restart_wait
# 2000 ms, their defaults; the stand-in httpd.exe and the stand-in browser of
# scripts/wine-env.sh. Not part of scripts/test.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${NB_BENCH_DIR:-$root/build/bench}
mkdir -p "$out"
out=$(cd "$out" && pwd)
idle_s=${NB_BENCH_IDLE_S:-60}
n_starts=5
port=${NB_BENCH_PORT:-28142}
wait_time=1000
interval=5000
restart_wait=2000
phases=(100 2500 4500)   # kill the server this many ms after a monitor tick ...
kills_per_phase=3        # ... this many times each (the figure is the median)
log=$out/run.log
: >"$log"

say() { printf '== %s\n' "$*" >&2; }
die() { printf 'bench: %s (log: %s)\n' "$*" "$log" >&2; exit 1; }

"$root/scripts/setup" </dev/null >>"$log" 2>&1 || die "scripts/setup failed"
# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh" || die "scripts/wine-env.sh failed"

# ---------------------------------------------------------------------------------------------
# Builds

build_tree() {  # build_tree DIR TOOLCHAIN|"" TARGET...
    local dir=$1 toolchain=$2
    shift 2
    local -a configure=(-S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=MinSizeRel)
    [ -n "$toolchain" ] && configure+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake "${configure[@]}" >>"$log" 2>&1 || return 1
    fi
    local -a targets=()
    local t
    for t in "$@"; do targets+=(--target "$t"); done
    cmake --build "$dir" -j"${NB_JOBS:-2}" "${targets[@]}" >>"$log" 2>&1
}

run_build=$out/$NB_WINE_ARCH
size_build=$out/win32
say "building: native bench, $NB_WINE_ARCH programs for Wine, the 32-bit nbmonitor.exe"
build_tree "$out/native" "" nbmonitor_bench || die "native build failed"
build_tree "$run_build" "$NB_WIN_TOOLCHAIN" nbmonitor httpd nbctl winprobe nbbench_win \
    nbbench_drive nbmintray || die "Windows build ($NB_WINE_ARCH) failed"
if [ "$size_build" != "$run_build" ]; then
    build_tree "$size_build" "$root/cmake/mingw-i686.cmake" nbmonitor nbmintray ||
        die "32-bit build failed"
fi
before_src=${NB_BENCH_BEFORE:-}
if [ -n "$before_src" ]; then
    before_src=$(cd "$before_src" 2>/dev/null && pwd) || die "NB_BENCH_BEFORE: no folder $NB_BENCH_BEFORE"
    before_name=$(git -C "$before_src" rev-parse --short HEAD 2>/dev/null || basename "$before_src")
    before_build=$out/before-$NB_WINE_ARCH
    say "building nbmonitor.exe of $before_src ($before_name) for Wine"
    (root=$before_src build_tree "$before_build" "$before_src/cmake/${NB_WIN_TOOLCHAIN##*/}" nbmonitor) ||
        die "build of $before_src failed"
fi

# ---------------------------------------------------------------------------------------------
# Helpers

declare -A R=()   # every figure, by key

# Reads "key value" lines (a driver's output) into R with a prefix.
collect() {  # collect PREFIX < lines
    local k v
    while read -r k v; do
        v=${v%$'\r'}
        [ -n "$k" ] && R[$1$k]=$v
    done
}

# The unix process of this prefix whose Windows command line is exactly the text (Wine shows
# it as the process's arguments).
unix_pid() {
    local p c
    for p in /proc/[0-9]*; do
        tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
        c=$(tr '\0' ' ' 2>/dev/null <"$p/cmdline" | sed 's/ *$//')
        [ "$c" = "$1" ] || continue
        echo "${p#/proc/}"
        return 0
    done
    return 1
}

# CPU time of every thread of a unix process, in nanoseconds (the scheduler's own account).
cpu_ns() {
    local t a s=0
    for t in /proc/"$1"/task/*/schedstat; do
        read -r a _ 2>/dev/null <"$t" && s=$((s + a))
    done
    echo "$s"
}

status_kb() { sed -n "s/^$2:[[:space:]]*\([0-9]*\) kB/\1/p" /proc/"$1"/status 2>/dev/null; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else printf "n/a" }'; }
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { if (v == "n/a") print "n/a"; else print (v <= t ? "met" : "**missed**") }'; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f MB", b / 1048576 }'; }
kb_mb() { awk -v k="$1" 'BEGIN { printf "%.1f MB", k / 1024 }'; }
ms() { awk -v v="$1" 'BEGIN { printf "%.0f ms", v }'; }

# The driver's output goes through a file: the programs it starts inherit its output, so a
# pipe would stay open as long as they run.
drive() {
    local f=$out/drive.out
    : >"$f"
    timeout 600 wine "$run_build/bench/nbbench_drive.exe" "$@" >"$f" 2>>"$log"
    tr -d '\r' <"$f" | tee -a "$log"
}
probe() { timeout 60 wine "$run_build/tests/e2e/winprobe.exe" "$@" 2>>"$log" | tr -d '\r'; }

# ---------------------------------------------------------------------------------------------
# Native figures

say "native port probe and configuration writers"
native_out=$("$out/native/bench/nbmonitor_bench" 2>&1) || die "native bench failed: $native_out"
echo "$native_out" >>"$log"
R[native_probe_ms]=$(sed -n 's/^port probe past.* \([0-9.]*\) ms .*/\1/p' <<<"$native_out")
R[native_files_ms]=$(sed -n 's/^CreateConf.* \([0-9.]*\) ms .*/\1/p' <<<"$native_out")

# ---------------------------------------------------------------------------------------------
# Wine figures

say "Wine prefix $out/run"
nb_display >>"$log" 2>&1 || die "no X display"
# The pair compared with NB_BENCH_BEFORE: the earlier program ("before") and this tree's
# ("after"), each in a prefix of its own (its own wineserver, desktop and tray) with this
# tree's stand-ins and nothing else running there, so that neither shares a shell with the
# tray programs below. Made first, so that $out/run is the prefix of everything after.
pair=()
[ -n "$before_src" ] && pair=(before after)
declare -A pair_prefix=() pair_home_win=() pair_home_unix=() pair_browser_win=() pair_pid=() pair_port=()
for c in "${pair[@]}"; do
    if [ "$c" = before ]; then pair_port[$c]=$((port + 10)); else pair_port[$c]=$((port + 20)); fi
    nb_prefix "$out/$c" >>"$log" 2>&1 || die "no Wine prefix for the $c program"
    nb_layout --build "$run_build" --set httpd.default_port="${pair_port[$c]}" \
        --set nbmonitor.wait_time=$wait_time --set nbmonitor.monitor_interval=$interval \
        --set httpd.restart_wait=$restart_wait >>"$log" 2>&1 || die "layout for the $c program failed"
    if [ "$c" = before ]; then
        cp "$before_build/nbmonitor.exe" "$NB_HOME_UNIX/bin/nbmonitor.exe" || die "no nbmonitor.exe of $before_name"
    fi
    pair_prefix[$c]=$WINEPREFIX
    pair_home_win[$c]=$NB_HOME_WIN
    pair_home_unix[$c]=$NB_HOME_UNIX
    pair_browser_win[$c]="Z:${NB_BROWSER_LOG//\//\\}"
    : >"$NB_BROWSER_LOG"
    WINEPREFIX=${pair_prefix[$c]} timeout 120 wine "$run_build/tools/bin/nbctl.exe" status >>"$log" 2>&1
done
# The health check's pair: "plain" (health_interval 0, as today) and "health"
# (health_interval $health_ms), this tree's program in both, each in a prefix of its own.
health_ms=${NB_BENCH_HEALTH_MS:-10000}
hpair=(plain health)
declare -A hp_prefix=() hp_home_win=() hp_home_unix=() hp_pid=() hp_port=([plain]=$((port + 30)) [health]=$((port + 40)))
health_ini() {  # health_ini HOME_UNIX MS: health_interval of that home's settings (0: the key goes)
    local ini=$1/conf/nbmonitor.ini
    sed -i '/^health_interval=/d' "$ini"
    [ "$2" = 0 ] || printf 'health_interval=%s\r\n' "$2" >>"$ini"   # [nbmonitor] is the last section
}
for c in "${hpair[@]}"; do
    nb_prefix "$out/$c" >>"$log" 2>&1 || die "no Wine prefix for the $c program"
    nb_layout --build "$run_build" --set httpd.default_port="${hp_port[$c]}" \
        --set nbmonitor.wait_time=$wait_time --set nbmonitor.monitor_interval=$interval \
        --set httpd.restart_wait=$restart_wait >>"$log" 2>&1 || die "layout for the $c program failed"
    hp_prefix[$c]=$WINEPREFIX
    hp_home_win[$c]=$NB_HOME_WIN
    hp_home_unix[$c]=$NB_HOME_UNIX
    health_ini "$NB_HOME_UNIX" "$([ "$c" = health ] && echo "$health_ms" || echo 0)"
    : >"$NB_BROWSER_LOG"
    WINEPREFIX=${hp_prefix[$c]} timeout 120 wine "$run_build/tools/bin/nbctl.exe" status >>"$log" 2>&1
done
nb_prefix "$out/run" >>"$log" 2>&1 || die "no Wine prefix"
nb_layout --build "$run_build" --set httpd.default_port="$port" \
    --set nbmonitor.wait_time=$wait_time --set nbmonitor.monitor_interval=$interval \
    --set httpd.restart_wait=$restart_wait >>"$log" 2>&1 || die "layout failed"
home_unix=$NB_HOME_UNIX
: >"$NB_BROWSER_LOG"
browser_log_win="Z:${NB_BROWSER_LOG//\//\\}"
# The prefix's services start with its first program; let that happen before anything is timed.
timeout 120 wine "$run_build/tools/bin/nbctl.exe" status >>"$log" 2>&1

say "port probe and configuration writers under Wine"
timeout 120 wine "$run_build/bench/nbbench_win.exe" >"$out/probe.out" 2>>"$log"
collect wine_ < <(tr -d '\r' <"$out/probe.out" | tee -a "$log")
[ -n "${R[wine_probe_ms]:-}" ] || die "nbbench_win.exe gave no figures"

nbmonitor_exe_win="${NB_HOME_WIN}bin\\nbmonitor.exe"
gone() {  # gone UNIX_PID: waits up to 30 s for the process to end
    local i
    for ((i = 0; i < 150; i++)); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.2; done
    return 1
}

# Exit to the end of nbmonitor, as `nbctl exit --wait` sees it (nbctl's own start under Wine
# included): with the stand-in offering Apache's graceful stop (it ends at once when asked)
# and without it (it is terminated at once), three starts each.
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
say "Exit to the end of nbmonitor, 3 times with the graceful stand-in and 3 without (about 60 s)"
declare -A stop_times=()
for mode in forced graceful; do
    if [ $mode = graceful ]; then
        printf '[standin]\r\nshutdown_event=1\r\n' >"$home_unix/conf/standin.ini"
    else
        rm -f "$home_unix/conf/standin.ini"
    fi
    for ((i = 1; i <= 3; i++)); do
        drive session "$NB_HOME_WIN" "$browser_log_win" $interval $restart_wait >"$out/session.out"
        t0=$(date +%s%N)
        timeout 60 wine "$run_build/tools/bin/nbctl.exe" exit --wait >>"$log" 2>&1 ||
            die "nbctl exit --wait did not see nbmonitor end ($mode)"
        stop_times[$mode]+="$((($(date +%s%N) - t0) / 1000000)) "
    done
    # shellcheck disable=SC2086
    R[stop_${mode}_median]=$(median ${stop_times[$mode]})
done
rm -f "$home_unix/conf/standin.ini"
R[stop_graceful_lines]=$(grep -c 'server-stop pid=[0-9]* graceful=1' "$home_unix/logs/nbmonitor.log")

# Several starts (Wine's process start varies with the machine's load); the last one also
# times the restarts and stays up for the rest.
n_kills=$((${#phases[@]} * kills_per_phase))
kill_args=()
for phase in "${phases[@]}"; do
    for ((i = 0; i < kills_per_phase; i++)); do kill_args+=("$phase"); done
done
say "$n_starts starts of nbmonitor, then $n_kills restarts (about $((n_starts * 7 + n_kills * 8)) s)"
starts=()
for ((run = 1; run <= n_starts; run++)); do
    args=()
    [ $run = "$n_starts" ] && args=("${kill_args[@]}")
    drive session "$NB_HOME_WIN" "$browser_log_win" $interval $restart_wait "${args[@]}" >"$out/session.out"
    for k in "${!R[@]}"; do [[ $k == start_* ]] && unset "R[$k]"; done   # the last start's figures
    collect start_ <"$out/session.out"
    [ -n "${R[start_ready_ms]:-}" ] || die "the start of nbmonitor could not be timed"
    starts+=("${R[start_ready_ms]}")
    [ $run = "$n_starts" ] && break
    p=$(unix_pid "$nbmonitor_exe_win") || die "no unix process for nbmonitor.exe"
    timeout 60 wine "$run_build/tools/bin/nbctl.exe" exit >>"$log" 2>&1
    gone "$p" || die "nbmonitor did not end on nbctl exit"
done
nbmonitor_win_pid=${R[start_pid]}
R[start_ready_median]=$(printf '%s\n' "${starts[@]}" | sort -n | sed -n "$(((n_starts + 1) / 2))p")
R[start_ready_min]=$(printf '%s\n' "${starts[@]}" | sort -n | head -1)
R[start_ready_all]=$(printf '%.0f, ' "${starts[@]}" | sed 's/, $//')
# Construction writes the server configuration and php.ini before the start sequence.
conf_unix_ms=$(stat -c %.3Y "$home_unix/conf/extra/httpd-nb.conf" 2>/dev/null | awk '{ printf "%.1f", $1 * 1000 }')
R[start_conf_ms]=$(awk -v a="$conf_unix_ms" -v b="${R[start_launch_unix_ms]}" 'BEGIN { printf "%.0f", a - b }')

for c in "${pair[@]}"; do
    say "$c the log ($([ "$c" = before ] && echo "$before_name" || echo "this tree")): one start of nbmonitor," \
        "then the same $n_kills restarts (about $((7 + n_kills * 8)) s)"
    WINEPREFIX=${pair_prefix[$c]} drive session "${pair_home_win[$c]}" "${pair_browser_win[$c]}" $interval \
        $restart_wait "${kill_args[@]}" >"$out/session.out"
    collect "${c}_" <"$out/session.out"
    [ -n "${R[${c}_ready_ms]:-}" ] || die "the start of the $c program could not be timed"
    pair_pid[$c]=$(WINEPREFIX=${pair_prefix[$c]} unix_pid "${pair_home_win[$c]}bin\\nbmonitor.exe") ||
        die "no unix process for the $c program"
done

say "minimal tray programs"
mintray=$run_build/bench/nbmintray.exe
mintray_win="Z:${mintray//\//\\}"
url="http://localhost:1/nbbench"
variants=(bare comctl5 comctl6 sockets dialog url timer ticon all)
declare -A variant_args=(
    [bare]=""
    [comctl5]="comctl"
    [comctl6]="manifest $nbmonitor_exe_win comctl"
    [sockets]="sockets"
    [dialog]="dialog"
    [url]="url $url"
    [timer]="timer $interval"
    [ticon]="timer $interval icon"
    [all]="manifest $nbmonitor_exe_win comctl sockets dialog url $url timer $interval icon"
)
declare -A variant_text=(
    [bare]="bare" [comctl5]="+ common controls 5" [comctl6]="+ common controls 6 (nbmonitor's manifest)"
    [sockets]="+ Windows Sockets" [dialog]="+ a dialog like the supervisor's" [url]="+ ShellExecuteW of a URL"
    [timer]="+ 5 s timer (exit-code query)" [ticon]="+ 5 s timer re-sending the icon" [all]="all of these"
)
for v in "${variants[@]}"; do
    drive launch "$mintray_win" "${variant_args[$v]}" nbmintray 30000 >"$out/launch.out"
    collect "tray_${v}_" <"$out/launch.out"
    [ -n "${R[tray_${v}_pid]:-}" ] || die "nbmintray ($v) did not start"
done

hp_launch() {  # hp_launch: starts both programs of the health pair, finds their unix processes
    local c
    for c in "${hpair[@]}"; do
        WINEPREFIX=${hp_prefix[$c]} drive launch "${hp_home_win[$c]}bin\\nbmonitor.exe" "" nbmonitorDlg 60000 >"$out/launch.out"
        collect "hp_${c}_" <"$out/launch.out"
        [ -n "${R[hp_${c}_pid]:-}" ] || die "the $c program did not start"
        hp_pid[$c]=$(WINEPREFIX=${hp_prefix[$c]} unix_pid "${hp_home_win[$c]}bin\\nbmonitor.exe") ||
            die "no unix process for the $c program"
    done
}
hp_end() {  # hp_end KEY: ends both programs of the health pair, says how in R[KEY_plain], R[KEY_health]
    local c
    for c in "${hpair[@]}"; do
        WINEPREFIX=${hp_prefix[$c]} timeout 60 wine "$run_build/tools/bin/nbctl.exe" exit >>"$log" 2>&1
        gone "${hp_pid[$c]}" && R[$1_$c]="ended on nbctl exit" || R[$1_$c]="was still running 30 s after nbctl exit"
    done
}
say "the health check's pair (health_interval $health_ms and 0)"
hp_launch

# Their unix processes, by command line.
nbmonitor_pid=$(unix_pid "$nbmonitor_exe_win") || die "no unix process for nbmonitor.exe"
declare -A tray_pid=()
for v in "${variants[@]}"; do
    tray_pid[$v]=$(unix_pid "$mintray_win${variant_args[$v]:+ ${variant_args[$v]}}") ||
        die "no unix process for nbmintray ($v)"
done

say "idle CPU over $idle_s s"
sleep 5   # the tray programs' start is not idle time
declare -A cpu0=()
cpu0[nbmonitor]=$(cpu_ns "$nbmonitor_pid")
for c in "${pair[@]}"; do cpu0[$c]=$(cpu_ns "${pair_pid[$c]}"); done
for v in "${variants[@]}"; do cpu0[$v]=$(cpu_ns "${tray_pid[$v]}"); done
for c in "${hpair[@]}"; do cpu0[hp_$c]=$(cpu_ns "${hp_pid[$c]}"); done
w0=$(probe stats "$nbmonitor_win_pid" | awk -F'\t' '$1 == "cpu_ms" { print $2 }')
sleep "$idle_s"
per_min() { awk -v d="$1" -v s="$idle_s" 'BEGIN { printf "%.1f", d / 1e6 * 60 / s }'; }
R[idle_nbmonitor]=$(per_min $(($(cpu_ns "$nbmonitor_pid") - cpu0[nbmonitor])))
for c in "${pair[@]}"; do R[idle_$c]=$(per_min $(($(cpu_ns "${pair_pid[$c]}") - cpu0[$c]))); done
for v in "${variants[@]}"; do R[idle_$v]=$(per_min $(($(cpu_ns "${tray_pid[$v]}") - cpu0[$v]))); done
for c in "${hpair[@]}"; do R[idle_hp_$c]=$(per_min $(($(cpu_ns "${hp_pid[$c]}") - cpu0[hp_$c]))); done
w1=$(probe stats "$nbmonitor_win_pid" | awk -F'\t' '$1 == "cpu_ms" { print $2 }')
R[idle_windows_view]="${w0:-?} -> ${w1:-?}"

say "memory"
stats=$(probe stats "$nbmonitor_win_pid")
R[mem_nbmonitor_ws]=$(awk -F'\t' '$1 == "working_set" { print $2 }' <<<"$stats")
R[mem_nbmonitor_pb]=$(awk -F'\t' '$1 == "private_bytes" { print $2 }' <<<"$stats")
R[mem_nbmonitor_anon]=$(status_kb "$nbmonitor_pid" RssAnon)
for c in "${pair[@]}"; do
    R[mem_${c}_ws]=$(WINEPREFIX=${pair_prefix[$c]} probe stats "${R[${c}_pid]}" | awk -F'\t' '$1 == "working_set" { print $2 }')
    R[mem_${c}_anon]=$(status_kb "${pair_pid[$c]}" RssAnon)
done
for v in "${variants[@]}"; do
    R[mem_${v}_ws]=$(probe stats "${R[tray_${v}_pid]}" | awk -F'\t' '$1 == "working_set" { print $2 }')
    R[mem_${v}_anon]=$(status_kb "${tray_pid[$v]}" RssAnon)
done
# Where nbmonitor's resident memory lies beyond the bare tray program's: per mapped file.
smaps_by_file() {
    awk '/^[0-9a-f]+-[0-9a-f]+ / { n = $6; if (n == "") n = "[anon]" } /^Rss:/ { r[n] += $2 }
         END { for (n in r) print r[n], n }' /proc/"$1"/smaps 2>/dev/null
}
mem_diff=$(join -1 2 -2 2 -a 1 -e 0 -o 0,1.1,2.1 \
    <(smaps_by_file "$nbmonitor_pid" | sort -k2) <(smaps_by_file "${tray_pid[bare]}" | sort -k2) |
    awk '{ d = $2 - $3; if (d >= 64 || d <= -64) printf "%6d KB  %s\n", d, $1 }' | sort -rn | head -12)

say "ending nbmonitor"
timeout 60 wine "$run_build/tools/bin/nbctl.exe" exit >>"$log" 2>&1
gone "$nbmonitor_pid" && R[end]="ended on nbctl exit" || R[end]="was still running 30 s after nbctl exit"
pair_exit() {  # pair_exit PROGRAM KEY: ends the pair's program, says how in R[KEY]
    WINEPREFIX=${pair_prefix[$1]} timeout 60 wine "$run_build/tools/bin/nbctl.exe" exit >>"$log" 2>&1
    gone "${pair_pid[$1]}" && R[$2]="ended on nbctl exit" || R[$2]="was still running 30 s after nbctl exit"
}
for c in "${pair[@]}"; do pair_exit "$c" "${c}_end"; done
if [ ${#pair[@]} -gt 0 ]; then
    # Two idle processes side by side differ by more than their programs do (which one ticks
    # when, what ran before): a second window, with the two programs swapped between the
    # prefixes and started afresh together, and the mean of the two counts.
    say "idle CPU over $idle_s s again, the two programs swapped between their prefixes"
    declare -A runs_in=([before]=${pair_prefix[after]} [after]=${pair_prefix[before]})
    declare -A home_in=([before]=${pair_home_win[after]} [after]=${pair_home_win[before]})
    cp "$before_build/nbmonitor.exe" "${pair_home_unix[after]}/bin/nbmonitor.exe" || die "cannot swap the programs"
    cp "$run_build/nbmonitor.exe" "${pair_home_unix[before]}/bin/nbmonitor.exe" || die "cannot swap the programs"
    for c in "${pair[@]}"; do
        prefix=${runs_in[$c]}
        home_win=${home_in[$c]}
        WINEPREFIX=$prefix drive launch "${home_win}bin\\nbmonitor.exe" "" nbmonitorDlg 60000 >"$out/launch.out"
        collect "swap_${c}_" <"$out/launch.out"
        [ -n "${R[swap_${c}_pid]:-}" ] || die "the $c program did not start in the other prefix"
        pair_prefix[$c]=$prefix   # for pair_exit
        pair_pid[$c]=$(WINEPREFIX=$prefix unix_pid "${home_win}bin\\nbmonitor.exe") ||
            die "no unix process for the $c program in the other prefix"
    done
    [ "${pair_pid[before]}" != "${pair_pid[after]}" ] || die "the swapped programs are one process"
    sleep 5
    for c in "${pair[@]}"; do cpu0[$c]=$(cpu_ns "${pair_pid[$c]}"); done
    sleep "$idle_s"
    for c in "${pair[@]}"; do
        R[idle2_$c]=$(per_min $(($(cpu_ns "${pair_pid[$c]}") - cpu0[$c])))
        R[idle_mean_$c]=$(awk -v a="${R[idle_$c]}" -v b="${R[idle2_$c]}" 'BEGIN { printf "%.2f", (a + b) / 2 }')
    done
    for c in "${pair[@]}"; do pair_exit "$c" "${c}_end2"; done
fi
hp_end hp_end1
# The health pair's second window: its settings swapped between the two homes, both started
# afresh; each figure is then the mean of the setting's two windows, one in each prefix.
R[hp_health_checks]=$(grep -c ' health-ok \| health-failed ' "${hp_home_unix[health]}/logs/nbmonitor.log" 2>/dev/null)
R[hp_health_failed]=$(grep -c ' health-failed ' "${hp_home_unix[health]}/logs/nbmonitor.log" 2>/dev/null)
say "idle CPU over $idle_s s again, the health pair's settings swapped"
health_ini "${hp_home_unix[plain]}" "$health_ms"
health_ini "${hp_home_unix[health]}" 0
hp_launch
sleep 5
for c in "${hpair[@]}"; do cpu0[hp_$c]=$(cpu_ns "${hp_pid[$c]}"); done
sleep "$idle_s"
for c in "${hpair[@]}"; do R[idle2_hp_$c]=$(per_min $(($(cpu_ns "${hp_pid[$c]}") - cpu0[hp_$c]))); done
R[hp_health_failed]=$((R[hp_health_failed] + $(grep -c ' health-failed ' "${hp_home_unix[plain]}/logs/nbmonitor.log" 2>/dev/null)))
hp_end hp_end2
# In the second window "plain" ran with the check and "health" without it.
R[idle_mean_hp_on]=$(awk -v a="${R[idle_hp_health]}" -v b="${R[idle2_hp_plain]}" 'BEGIN { printf "%.2f", (a + b) / 2 }')
R[idle_mean_hp_off]=$(awk -v a="${R[idle_hp_plain]}" -v b="${R[idle2_hp_health]}" 'BEGIN { printf "%.2f", (a + b) / 2 }')
# The tray programs and the rest of the prefix end with the shell (nb_prefix's exit handler).

R[size32]=$(stat -c %s "$size_build/nbmonitor.exe")
R[size64]=$(stat -c %s "$run_build/nbmonitor.exe")
R[size32_tray]=$(stat -c %s "$size_build/bench/nbmintray.exe")
R[size64_tray]=$(stat -c %s "$run_build/bench/nbmintray.exe")

# ---------------------------------------------------------------------------------------------
# The table

mandated=$((2 * wait_time))
start_ratio=$(ratio "${R[start_ready_median]}" $mandated)
ws_ratio=$(ratio "${R[mem_nbmonitor_ws]}" "${R[mem_bare_ws]}")
anon_ratio=$(ratio "${R[mem_nbmonitor_anon]}" "${R[mem_bare_anon]}")
size_ratio=$(ratio "${R[size32]}" 409600)
probe_ratio=$(ratio "${R[wine_probe_ms]}" "${R[native_probe_ms]}")
files_ratio=$(ratio "${R[wine_files_ms]}" "${R[native_files_ms]}")

cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
[ -n "$cpu_model" ] || cpu_model=$(lscpu 2>/dev/null | sed -n 's/^Model name:[[:space:]]*//p' | head -1)
if [ "$NB_WINE_ARCH" = win64 ]; then
    arch_note="the x86_64 build of the same sources under wine64 (this host runs no 32-bit code)"
else
    arch_note="the shipped 32-bit build"
fi

# phase_median PREFIX PHASE: of the kills made PHASE ms after a tick in the session whose
# figures carry PREFIX, the median ratio to the reference, the worst ratio, and the median
# kill's key prefix.
phase_median() {
    local n k
    for ((n = 1; n <= n_kills; n++)); do
        k=$1restart${n}_
        [ "${R[${k}phase_ms]%.*}" = "$2" ] || continue
        echo "$(ratio "${R[${k}page_ms]}" "${R[${k}expected_ms]}") $k"
    done | sort -n | awk '{ r[NR] = $1; k[NR] = $2 } END { m = int((NR + 1) / 2); print r[m], r[NR], k[m] }'
}

{
    echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu_model), Linux $(uname -r)," \
        "$(wine --version 2>/dev/null), Wine running $arch_note; load average at the end" \
        "$(cut -d' ' -f1-3 /proc/loadavg)."
    echo
    echo "| Figure | nbmonitor | Reference | Ratio | Target | |"
    echo "|---|---|---|---|---|---|"
    echo "| Start to ready, median of $n_starts (wait_time $wait_time ms) | $(ms "${R[start_ready_median]}") | 2 × wait_time = $mandated ms | $start_ratio | ≤ 1.02 | $(verdict "$start_ratio" 1.02) |"
    r3=$(ratio "${R[start_ready_median]}" $((3 * wait_time)))
    echo "| Start to ready, against the sleeps actually made (first readiness attempt fails) | $(ms "${R[start_ready_median]}") | 3 × wait_time = $((3 * wait_time)) ms | $r3 | | |"
    for phase in "${phases[@]}"; do
        read -r rr worst k < <(phase_median start_ "$phase")
        echo "| Restart, server killed $phase ms after a tick (median of $kills_per_phase, worst $worst) | $(ms "${R[${k}page_ms]}") | next tick $(ms "${R[${k}tick_wait_ms]}") + 2000 + restart_wait $restart_wait = $(ms "${R[${k}expected_ms]}") | $rr | ≤ 1.05 | $(verdict "$rr" 1.05) |"
    done
    echo "| Exit to nbmonitor's end (\`nbctl exit --wait\`), stand-in without the shutdown event, median of 3 (${stop_times[forced]% }) | $(ms "${R[stop_forced_median]}") | | | | |"
    echo "| Exit to nbmonitor's end, stand-in that stops at once on its shutdown event, median of 3 (${stop_times[graceful]% }; graceful server-stop lines: ${R[stop_graceful_lines]}) | $(ms "${R[stop_graceful_median]}") | without the event $(ms "${R[stop_forced_median]}") | $(ratio "${R[stop_graceful_median]}" "${R[stop_forced_median]}") | | |"
    echo "| Working set under Wine | $(mb "${R[mem_nbmonitor_ws]}") | nbmintray $(mb "${R[mem_bare_ws]}") | $ws_ratio | ≤ 1.15 | $(verdict "$ws_ratio" 1.15) |"
    echo "| Working set against nbmintray doing the same system actions | $(mb "${R[mem_nbmonitor_ws]}") | nbmintray (all) $(mb "${R[mem_all_ws]}") | $(ratio "${R[mem_nbmonitor_ws]}" "${R[mem_all_ws]}") | | |"
    echo "| Private resident memory (RssAnon) | $(kb_mb "${R[mem_nbmonitor_anon]}") | nbmintray $(kb_mb "${R[mem_bare_anon]}") | $anon_ratio | ≤ 1.15 | $(verdict "$anon_ratio" 1.15) |"
    echo "| Exe size, 32-bit (shipped) | ${R[size32]} B | 400 KB = 409600 B | $size_ratio | ≤ 1 | $(verdict "$size_ratio" 1) |"
    if [ "$size_build" != "$run_build" ]; then
        echo "| Exe size, x86_64 | ${R[size64]} B | nbmintray ${R[size64_tray]} B (32-bit ${R[size32_tray]} B) | | | |"
    else
        echo "| Exe size of nbmintray, 32-bit | ${R[size32_tray]} B | | | | |"
    fi
    echo "| Idle CPU over $idle_s s (monitor_interval $interval ms) | ${R[idle_nbmonitor]} ms/min | nbmintray ${R[idle_bare]} ms/min | $(ratio "${R[idle_nbmonitor]}" "${R[idle_bare]}") | ≤ 20 ms/min | $(verdict "${R[idle_nbmonitor]}" 20) |"
    rc=$(ratio "${R[idle_mean_hp_on]}" "${R[idle_mean_hp_off]}")
    echo "| Idle CPU with health_interval $health_ms ms: mean of two windows of $idle_s s, both programs running in each, the setting swapped between their prefixes in between | ${R[idle_mean_hp_on]} ms/min | health_interval 0 ${R[idle_mean_hp_off]} ms/min | $rc | | |"
    echo "| Idle CPU against nbmintray with the same 5 s tick and icon re-send | ${R[idle_nbmonitor]} ms/min | nbmintray (timer + icon) ${R[idle_ticon]} ms/min | $(ratio "${R[idle_nbmonitor]}" "${R[idle_ticon]}") | | |"
    echo "| Port probe past 200 taken ports, native | ${R[native_probe_ms]} ms | | | | |"
    echo "| Port probe past 200 taken ports, Wine | ${R[wine_probe_ms]} ms | native ${R[native_probe_ms]} ms | $probe_ratio | | |"
    echo "| CreateConf + php.ini, 150 KB template, native | ${R[native_files_ms]} ms | | | | |"
    echo "| CreateConf + php.ini, 150 KB template, Wine | ${R[wine_files_ms]} ms | native ${R[native_files_ms]} ms | $files_ratio | | |"
    us_ratio=$(ratio "${R[wine_log_line_median_us]}" 1000)
    echo "| Supervision log, one line under Wine (\`slog::Write\`, median of 1000; mean ${R[wine_log_line_mean_us]} µs, worst ${R[wine_log_line_max_us]} µs) | ${R[wine_log_line_median_us]} µs | 1 ms | $us_ratio | ≤ 0.5 (well under 1 ms) | $(verdict "$us_ratio" 0.5) |"
    us_ratio=$(ratio "${R[wine_log_crossing_mean_us]}" 1000)
    echo "| Supervision log, mean of 1000 lines with one rotation among them (worst ${R[wine_log_crossing_max_us]} µs) | ${R[wine_log_crossing_mean_us]} µs | 1 ms | $us_ratio | ≤ 0.5 (well under 1 ms) | $(verdict "$us_ratio" 0.5) |"
    echo "| Supervision log, the line that rotates the file (median of 20) | ${R[wine_log_rotate_median_us]} µs | 1 ms | $(ratio "${R[wine_log_rotate_median_us]}" 1000) | | |"
    if [ -n "$before_src" ]; then
        for phase in "${phases[@]}"; do
            read -r ra _ ka < <(phase_median after_ "$phase")
            read -r rb _ kb < <(phase_median before_ "$phase")
            rc=$(ratio "$ra" "$rb")
            echo "| Restart with the log, killed $phase ms after a tick: median of $kills_per_phase kills' ratio to their reference | $ra ($(ms "${R[${ka}page_ms]}")) | before the log ($before_name) $rb ($(ms "${R[${kb}page_ms]}")) | $rc | ≤ 1.02 | $(verdict "$rc" 1.02) |"
        done
        rc=$(ratio "${R[idle_mean_after]}" "${R[idle_mean_before]}")
        echo "| Idle CPU with the log: mean of two windows of $idle_s s, both programs running in each, swapped between their prefixes in between | ${R[idle_mean_after]} ms/min | before the log ($before_name) ${R[idle_mean_before]} ms/min | $rc | ≤ 1.02 | $(verdict "$rc" 1.02) |"
    fi
    echo
    echo "Details:"
    echo
    echo "- Starts to ready: ${R[start_ready_all]} ms (best $(ms "${R[start_ready_min]}"), ratio" \
        "$(ratio "${R[start_ready_min]}" $mandated) to 2 × wait_time). The last one, from just before CreateProcess:" \
        "configuration written ${R[start_conf_ms]} ms, server process ${R[start_server_ms]} ms," \
        "server listening ${R[start_listen_ms]} ms, page answers ${R[start_page_ms]} ms, stand-in" \
        "browser logged the URL ${R[start_browser_ms]} ms, window nbmonitorDlg (end of the start" \
        "sequence) ${R[start_ready_ms]} ms. From the server's launch to the end of the sequence:" \
        "$(awk -v r="${R[start_ready_ms]}" -v s="${R[start_server_ms]}" -v w=$wait_time \
            'BEGIN { printf "%.0f ms = %d × wait_time + %.0f ms, so %d failed readiness attempt(s)", r - s, int((r - s) / w), (r - s) % w, int((r - s) / w) - 2 }')." \
        "The bare nbmintray has its window ${R[tray_bare_window_ms]} ms after CreateProcess in the" \
        "same prefix."
    for ((n = 1; n <= n_kills; n++)); do
        k=start_restart${n}_
        echo "- Restart $n (killed ${R[${k}phase_ms]%.*} ms after a tick): listen file written ${R[${k}conf_ms]} ms," \
            "new server process ${R[${k}process_ms]} ms," \
            "listening ${R[${k}listen_ms]} ms, page ${R[${k}page_ms]} ms after the kill, ratio" \
            "$(ratio "${R[${k}page_ms]}" "${R[${k}expected_ms]}"); the new process appeared" \
            "${R[${k}tick_check_ms]} ms later than predicted tick + 2000 + restart_wait; port ${R[${k}port]}."
    done
    if [ -n "$before_src" ]; then
        all_ratios() {  # every kill's ratio to its reference, in order
            local n
            for ((n = 1; n <= n_kills; n++)); do
                printf '%s ' "$(ratio "${R[$1restart${n}_page_ms]}" "${R[$1restart${n}_expected_ms]}")"
            done
        }
        echo "- With the log against before it ($before_name, $before_src), each in a prefix of its own" \
            "(ports ${pair_port[after]} and ${pair_port[before]}), one start each: window nbmonitorDlg" \
            "${R[after_ready_ms]} against ${R[before_ready_ms]} ms after CreateProcess; restarts (killed" \
            "${phases[*]} ms after a tick, $kills_per_phase each) at ratios $(all_ratios after_)against" \
            "$(all_ratios before_)before the log; working set / RssAnon $(mb "${R[mem_after_ws]}") /" \
            "$(kb_mb "${R[mem_after_anon]}") against $(mb "${R[mem_before_ws]}") / $(kb_mb "${R[mem_before_anon]}");" \
            "idle CPU in the first window ${R[idle_after]} against ${R[idle_before]} ms/min (ratio" \
            "$(ratio "${R[idle_after]}" "${R[idle_before]}")), in the second, swapped, ${R[idle2_after]} against" \
            "${R[idle2_before]} ms/min ($(ratio "${R[idle2_after]}" "${R[idle2_before]}")). With the log it" \
            "${R[after_end]} and ${R[after_end2]}, before the log ${R[before_end]} and ${R[before_end2]}."
    fi
    echo "- The health check's pair (this tree's program twice, ports ${hp_port[plain]} and ${hp_port[health]}):" \
        "with health_interval $health_ms ${R[idle_hp_health]} ms/min in the first window, ${R[idle2_hp_plain]} in the second" \
        "(other prefix); with 0 ${R[idle_hp_plain]} and ${R[idle2_hp_health]} ms/min. The first window's" \
        "log holds ${R[hp_health_checks]} line(s) of the check (health-ok is written once, while the server" \
        "keeps answering); health-failed in both windows: ${R[hp_health_failed]}. The programs" \
        "${R[hp_end1_plain]}, ${R[hp_end1_health]}, ${R[hp_end2_plain]}, ${R[hp_end2_health]}."
    echo "- CreatePortConf alone (the listen file every restart writes, with its flush and rename)" \
        "under Wine: best ${R[wine_portconf_best_ms]} ms, median ${R[wine_portconf_median_ms]} ms of 20."
    echo "- nbmintray variants, each adding one of nbmonitor's actions (working set / RssAnon / idle CPU):"
    for v in "${variants[@]}"; do
        echo "    - ${variant_text[$v]}: $(mb "${R[mem_${v}_ws]}") / $(kb_mb "${R[mem_${v}_anon]}") / ${R[idle_$v]} ms/min"
    done
    echo "    - nbmonitor: $(mb "${R[mem_nbmonitor_ws]}") / $(kb_mb "${R[mem_nbmonitor_anon]}") / ${R[idle_nbmonitor]} ms/min"
    echo "- Resident memory nbmonitor has beyond the bare nbmintray, by mapping (Rss):"
    while IFS= read -r line; do echo "    $line"; done <<<"$mem_diff"
    echo "- Wine reports private bytes ${R[mem_nbmonitor_pb]:-?} for nbmonitor, so RssAnon stands in;" \
        "its GetProcessTimes for nbmonitor read ${R[idle_windows_view]} ms (before -> after the idle" \
        "window), so CPU comes from the Linux scheduler's account of every thread."
    echo "- nbmonitor ${R[end]}."
} | tee "$out/results.md"
