# shellcheck shell=bash
# Wine helpers for nbmonitor's scripts and test runners. Source it:   . scripts/wine-env.sh
#
#   nb_build_windows [TARGET...]  configure and build $NB_WIN_BUILD (everything by default)
#   nb_display [DISPLAY]          use DISPLAY (the argument, else $DISPLAY) when it answers,
#                                 else start an Xvfb that is stopped when the shell exits
#   nb_prefix DIR                 enter the Wine prefix DIR/prefix, made on first use as a copy
#                                 of one shared, fully set-up prefix; puts DIR/bin (wine,
#                                 wineserver wrappers) first on PATH; kills the prefix's
#                                 programs when the shell exits
#   nb_layout [OPTION...]         lay out an installation in the prefix (scripts/layout.sh;
#                                 scripts/layout runs it from other languages)
#   nb_wine ARG...                run Wine as the wrappers do
#   nb_wine_stop                  end every program of the prefix (wineserver -k)
#   nb_at_exit COMMAND            run COMMAND when the shell exits; use this instead of an
#                                 EXIT trap of your own, which would replace these helpers' one
#
# Variables set here:
#   NB_ROOT           the source tree
#   NB_WINE_ARCH      win32 where this host runs 32-bit programs and wine32 is installed, else
#                     win64 (preset to choose)
#   NB_WINE_WHY       why that flavour, in words
#   NB_WIN_BUILD      the Windows build that Wine runs: build/win (i686) or build/win64 (x86_64)
#   NB_WIN_TOOLCHAIN  its CMake toolchain file
#   NB_LOADER_DLL     file name of PHP's loader library in the installation's php\ext
#   NB_BROWSER_LOG    file that gets one line per URL the program asked the browser to open
#   NB_HOME_WIN, NB_HOME_UNIX  the installation nb_layout made last (C:\nimbara\ and its path)
#   NB_LAYOUT_ZIP     the release zip it was unpacked from (empty when the program did not build)
#   WINEPREFIX, WINEARCH, WINEDEBUG, WINEDLLOVERRIDES, DISPLAY

NB_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
NB_LOADER_DLL=php_nbloader.dll
# Bump when the shared prefix's settings change, so that prefixes are made again.
NB_PREFIX_VERSION=1

# ---------------------------------------------------------------------------------------------
# Exit handling: one EXIT trap that runs every registered command, last registered first.

NB_EXIT_COMMANDS=()
nb__run_exit_commands() {
    # A reader of our output may already be gone (a pipe into tee, ended by the same Ctrl-C):
    # writing must not end the clean-up half-way.
    trap '' PIPE INT
    local i
    for ((i = ${#NB_EXIT_COMMANDS[@]} - 1; i >= 0; i--)); do
        eval "${NB_EXIT_COMMANDS[i]}" || true
    done
    NB_EXIT_COMMANDS=()
}
nb_at_exit() {
    if [ ${#NB_EXIT_COMMANDS[@]} -eq 0 ]; then
        trap nb__run_exit_commands EXIT
        trap 'exit 130' INT
        trap 'exit 143' TERM
    fi
    NB_EXIT_COMMANDS+=("$1")
}

nb_log() { printf '[wine-env] %s\n' "$*" >&2; }

# ---------------------------------------------------------------------------------------------
# Which Wine: 32-bit Windows programs need the host to run 32-bit Linux code (wine32). Some
# virtual machines cannot (their kernel runs 64-bit user code only); there wine64 runs the
# x86_64 build of the same sources instead. A CPU emulator registered through binfmt_misc
# does not count: Wine under emulation is far too slow for the tests.

nb_host_runs_i386() {
    # NB_HOST_RUNS_I386=1|0 stands in for the probe (tests/setup simulates hosts with it).
    case "${NB_HOST_RUNS_I386:-}" in 1) return 0 ;; 0) return 1 ;; esac
    local entry
    for entry in /proc/sys/fs/binfmt_misc/*; do
        [ -f "$entry" ] || continue
        if grep -qx enabled "$entry" 2>/dev/null && grep -q '^magic 7f454c460101010' "$entry" 2>/dev/null &&
            grep -q '0200030' "$entry" 2>/dev/null; then
            return 1
        fi
    done
    # A 93-byte i386 program that only calls exit(0).
    local probe
    probe=$(mktemp "${TMPDIR:-/tmp}/nb-i386-probe.XXXXXX") || return 1
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
    chmod +x "$probe"
    local rc=0
    "$probe" 2>/dev/null || rc=1
    rm -f "$probe"
    return $rc
}

# wine32 is installed: its i386 package is, as dpkg sees it. scripts/setup may have had to go
# without it (a registry whose i386 index is broken cannot resolve it).
nb_wine32_installed() {
    dpkg-query -W -f='${db:Status-Abbrev}' wine32:i386 2>/dev/null | grep -q '^ii'
}

# win32 only where the host runs 32-bit code and wine32 is there to run it.
nb_wine_select() {
    if [ -n "${NB_WINE_ARCH:-}" ]; then
        NB_WINE_WHY="NB_WINE_ARCH=$NB_WINE_ARCH"
    elif ! nb_host_runs_i386; then
        NB_WINE_ARCH=win64 NB_WINE_WHY="this host runs no 32-bit code"
    elif ! nb_wine32_installed; then
        NB_WINE_ARCH=win64 NB_WINE_WHY="wine32 is not installed (scripts/setup says why)"
    else
        NB_WINE_ARCH=win32 NB_WINE_WHY="this host runs 32-bit code and wine32 is installed"
    fi
    case "$NB_WINE_ARCH" in
        win32)
            NB_WIN_BUILD=${NB_WIN_BUILD:-$NB_ROOT/build/win}
            NB_WIN_TOOLCHAIN=$NB_ROOT/cmake/mingw-i686.cmake
            NB_WINE_LOADER=/usr/lib/wine/wine
            ;;
        win64)
            NB_WIN_BUILD=${NB_WIN_BUILD:-$NB_ROOT/build/win64}
            NB_WIN_TOOLCHAIN=$NB_ROOT/cmake/mingw-x86_64.cmake
            NB_WINE_LOADER=/usr/lib/wine/wine64
            ;;
        *)
            nb_log "NB_WINE_ARCH must be win32 or win64, not '$NB_WINE_ARCH'"
            return 1
            ;;
    esac
    export NB_WINE_ARCH NB_WINE_WHY NB_WIN_BUILD NB_WIN_TOOLCHAIN NB_WINE_LOADER
}

# nb_build_windows [TARGET...]: configure (once) and build the Windows build Wine runs.
nb_build_windows() {
    if [ ! -f "$NB_WIN_BUILD/CMakeCache.txt" ]; then
        cmake -S "$NB_ROOT" -B "$NB_WIN_BUILD" -DCMAKE_TOOLCHAIN_FILE="$NB_WIN_TOOLCHAIN" \
            -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null || return 1
    fi
    local args=()
    local t
    for t in "$@"; do args+=(--target "$t"); done
    cmake --build "$NB_WIN_BUILD" -j"${NB_JOBS:-2}" "${args[@]}"
}

# ---------------------------------------------------------------------------------------------
# X display

nb_display() {
    local wanted=${1:-${DISPLAY:-}}
    if [ -n "$wanted" ] && xdpyinfo -display "$wanted" >/dev/null 2>&1; then
        export DISPLAY=$wanted
        return 0
    fi
    [ -n "$wanted" ] && nb_log "display $wanted does not answer; starting an Xvfb"
    local fdfile
    fdfile=$(mktemp "${TMPDIR:-/tmp}/nb-xvfb.XXXXXX")
    # -displayfd picks a free display number and reports it once the server is ready.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    NB_XVFB_PID=$!
    nb_at_exit "kill $NB_XVFB_PID 2>/dev/null; wait $NB_XVFB_PID 2>/dev/null"
    local i
    for ((i = 0; i < 100; i++)); do
        if [ -s "$fdfile" ]; then break; fi
        kill -0 "$NB_XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    local number
    number=$(tr -dc '0-9' <"$fdfile")
    rm -f "$fdfile"
    if [ -z "$number" ]; then
        nb_log "FAILED at Xvfb: \`Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp\` did not start; run scripts/setup (package xvfb), or set DISPLAY to a running X server"
        return 1
    fi
    export DISPLAY=:$number
}

# ---------------------------------------------------------------------------------------------
# Wine prefix

nb_wine() { WINELOADER=$NB_WINE_LOADER "$NB_WINE_LOADER" "$@"; }
nb_wine_stop() { [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true; }

nb__wine_environment() {
    export WINEARCH=$NB_WINE_ARCH
    export WINEDEBUG=${NB_WINEDEBUG:--all}
    # No Mono or Gecko install dialogs: nothing here needs .NET or an HTML engine.
    export WINEDLLOVERRIDES="mscoree,mshtml="
}

# Wrappers, so that plain `wine` and `wineserver` run the chosen flavour, and the stand-in
# browser that records URLs instead of opening them.
nb__write_tools() {
    local bin=$1 log=$2
    mkdir -p "$bin"
    cat >"$bin/wine" <<EOF
#!/bin/sh
WINELOADER=$NB_WINE_LOADER exec $NB_WINE_LOADER "\$@"
EOF
    cat >"$bin/wineserver" <<'EOF'
#!/bin/sh
exec /usr/lib/wine/wineserver "$@"
EOF
    cat >"$bin/nb-browser" <<EOF
#!/bin/sh
# Stands in for the web browser: appends the URL it is given (the last argument) to a log.
for url in "\$@"; do :; done
printf '%s\\n' "\$url" >>"\${NB_BROWSER_LOG:-$log}"
EOF
    chmod +x "$bin/wine" "$bin/wineserver" "$bin/nb-browser"
}

# The registry of a prefix: a virtual desktop (hidden windows cost nothing there and the
# notification area shows on its taskbar), Japanese fonts for the program's texts, no crash
# dialog, and the stand-in browser.
nb__write_registry() {
    local file=$1 browser=$2
    local font="Noto Sans CJK JP"
    local name
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"="shell"\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"shell"="1024x768"\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineBrowser]\r\n"Browsers"="%s"\r\n\r\n' "$browser"
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
        for name in "MS UI Gothic" "ＭＳ ゴシック" "ＭＳ Ｐゴシック" "ＭＳ 明朝" "ＭＳ Ｐ明朝" \
            "MS Gothic" "MS PGothic" "MS Mincho" "MS PMincho" "MS Shell Dlg" "MS Shell Dlg 2" \
            "Tahoma" "Meiryo" "Meiryo UI" "Yu Gothic" "Yu Gothic UI" "メイリオ" "Segoe UI"; do
            printf '"%s"="%s"\r\n' "$name" "$font"
        done
        printf '\r\n'
    } | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$file"
}

# Makes the shared prefix once: wineboot, then the registry settings above.
nb__make_base_prefix() {
    local base=$1
    local prefix=$base/prefix
    local stamp="$NB_PREFIX_VERSION $NB_WINE_ARCH"
    if [ -f "$prefix/.nb-prefix" ] && [ "$(cat "$prefix/.nb-prefix")" = "$stamp" ]; then
        return 0
    fi
    nb_log "making the Wine prefix in $prefix (once; takes a minute or two)"
    rm -rf "$prefix"
    mkdir -p "$base"
    nb__write_tools "$base/bin" "$base/browser.log"
    (
        export WINEPREFIX=$prefix
        nb__wine_environment
        nb_wine wineboot -i >"$base/wineboot.log" 2>&1 || exit 1
        wineserver -w
        nb__write_registry "$base/settings.reg" "$base/bin/nb-browser"
        local reg=$base/settings.reg
        nb_wine regedit /S "Z:${reg//\//\\}" >>"$base/wineboot.log" 2>&1 || exit 1
        wineserver -w
    ) || {
        nb_log "FAILED at the Wine prefix: \`wineboot -i\` or \`regedit\` in $prefix failed (log: $base/wineboot.log); run scripts/setup (packages wine, wine64$([ "$NB_WINE_ARCH" = win32 ] && echo ", wine32:i386")), then delete $base and try again"
        return 1
    }
    printf '%s\n' "$stamp" >"$prefix/.nb-prefix"
}

# Wine 8 sometimes leaves a console host (conhost.exe) of the prefix running after its
# wineserver was ended, with init as its parent: end whatever still runs with that prefix.
nb__end_leftovers() {
    local prefix=$1 pid
    for pid in $(pgrep -f '^(/usr/lib/wine/wine|C:\\)' 2>/dev/null); do
        # A process may end between pgrep and here: its environ is then gone, quietly.
        { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" && kill "$pid" 2>/dev/null
    done
    return 0
}

# nb_prefix DIR: the prefix DIR/prefix, a copy of the shared one, made once and reused.
nb_prefix() {
    local dir=$1
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    local base=$NB_ROOT/build/wine-base
    local stamp="$NB_PREFIX_VERSION $NB_WINE_ARCH"
    mkdir -p "$NB_ROOT/build"
    (
        # Several runners may start at once: one makes the shared prefix, the others wait.
        flock 9
        nb__make_base_prefix "$base" || exit 1
        if [ "$dir" != "$base" ] &&
            { [ ! -f "$dir/prefix/.nb-prefix" ] || [ "$(cat "$dir/prefix/.nb-prefix")" != "$stamp" ]; }; then
            rm -rf "$dir/prefix"
            cp -a "$base/prefix" "$dir/prefix"
        fi
    ) 9>"$base.lock" || return 1
    nb__write_tools "$dir/bin" "$dir/browser.log"
    export WINEPREFIX=$dir/prefix
    export NB_BROWSER_LOG=$dir/browser.log
    case ":$PATH:" in *":$dir/bin:"*) ;; *) export PATH=$dir/bin:$PATH ;; esac
    nb__wine_environment
    nb_at_exit "WINEPREFIX='$WINEPREFIX' /usr/lib/wine/wineserver -k 2>/dev/null; nb__end_leftovers '$WINEPREFIX'"
}

# ---------------------------------------------------------------------------------------------
# Installation layout: nb_layout, in its own file.

# shellcheck source=layout.sh
. "$NB_ROOT/scripts/layout.sh"

nb_wine_select
