#!/usr/bin/env bash
# The shipped programs' PE headers and imports, read with the toolchain's objdump:
#   tests/pe/run.sh [BUILD_DIR | EXE...]
# The shipped build (build/win) is always checked; a BUILD_DIR (the build Wine runs, which
# scripts/test passes) adds its exes when it is another one; EXE arguments check just those.
# For nbmonitor.exe also its manifest as the system reads it (DPI awareness, supported systems,
# the common controls 6 of the build's architecture). For nbmonitor.exe and nbctl.exe: 32-bit (or the x86_64 test build's own machine), the GUI
# or console subsystem, ASLR and DEP on (DYNAMIC_BASE, NX_COMPAT), static imports from
# kernel32 and the C runtime only (everything else is delay-loaded, after the DLL search is
# restricted to the system folder), and no DLL named anywhere that is not a system DLL.
# Prints "N passed, M failed" last; exit status 1 on any failure.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
exes=()
if [ $# -gt 0 ] && [ ! -d "$1" ]; then
    exes=("$@")
else
    exes=("$root/build/win/nbmonitor.exe" "$root/build/win/tools/bin/nbctl.exe")
    extra=${1:-}
    [ -n "$extra" ] && extra=$(cd "$extra" && pwd)
    if [ -n "$extra" ] && [ "$extra" != "$root/build/win" ]; then
        exes+=("$extra/nbmonitor.exe" "$extra/tools/bin/nbctl.exe")
    fi
fi

# Names a program of ours may import or load: system DLLs. libgcc_s_dw2-1.dll is only asked
# for with GetModuleHandle by the static libgcc's frame registration (never loaded);
# advapi32.dll is loaded by name by the C++ runtime, from the system folder.
allowed="kernel32.dll msvcrt.dll comctl32.dll shell32.dll user32.dll ws2_32.dll gdi32.dll advapi32.dll libgcc_s_dw2-1.dll"
static_allowed="kernel32.dll msvcrt.dll"

# shellcheck source=../check.sh
. "$root/tests/check.sh"
within() { # within "ALLOWED" WORD...: every word (lower-cased) is one of ALLOWED
    local allow=" $1 " w bad=""
    shift
    for w in "$@"; do [[ $allow == *" ${w,,} "* ]] || bad+=" $w"; done
    [ -z "$bad" ] || { echo "     not allowed:$bad"; return 1; }
}
has() { grep -q -- "$2" <<<"$1" || { echo "     missing: $2"; return 1; }; }

for exe in "${exes[@]}"; do
    name=${exe#"$root"/}
    if [ ! -f "$exe" ]; then
        check "$name is built" false
        continue
    fi
    objdump=i686-w64-mingw32-objdump
    head=$($objdump -p "$exe" 2>/dev/null) || { objdump=x86_64-w64-mingw32-objdump; head=$($objdump -p "$exe"); }
    format=$($objdump -f "$exe" | sed -n 's/.*file format //p')
    case "$exe" in
        # The x86_64 build's tools live in build/win64/tools/bin: that "bin" is no installation's.
        */build/win64/*) want_format=pei-x86-64 ;;
        */build/win/* | */bin/*) want_format=pei-i386 ;;
        *) want_format=$format ;;
    esac
    check "$name: $want_format" [ "$format" = "$want_format" ]
    case "$(basename "$exe")" in
        nbmonitor.exe) check "$name: GUI subsystem" has "$head" 'Subsystem.*(Windows GUI)' ;;
        *) check "$name: console subsystem" has "$head" 'Subsystem.*(Windows CUI)' ;;
    esac
    flags=$(sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' <<<"$head")
    check "$name: ASLR (DYNAMIC_BASE)" has "$flags" DYNAMIC_BASE
    check "$name: DEP (NX_COMPAT)" has "$flags" NX_COMPAT
    mapfile -t static < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$head")
    check "$name: static imports only kernel32 and the C runtime (${static[*]})" within "$static_allowed" "${static[@]}"
    if [ "$(basename "$exe")" = nbmonitor.exe ]; then
        # The manifest as the system reads it from the exe: its resource's bytes, found by the
        # XML's first and last lines among the exe's strings.
        manifest=$(strings -a -n 4 "$exe" | sed -n '/<assembly /,/<\/assembly>/p')
        want_arch=x86
        [ "$want_format" = pei-x86-64 ] && want_arch=amd64
        check "$name: manifest: common controls 6 for $want_arch" \
            has "$manifest" "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" processorArchitecture=\"$want_arch\""
        dpi='<dpiAware [^>]*>True/PM</dpiAware>.*<dpiAwareness [^>]*>PerMonitorV2, PerMonitor</dpiAwareness>'
        check "$name: manifest: DPI aware per monitor" has "$(tr -d '\n' <<<"$manifest")" "$dpi"
        ids=$(grep -o '<supportedOS Id="{[0-9a-f-]*}"/>' <<<"$manifest" | tr -d '\n')
        check "$name: manifest: supported systems Vista, 7, 8, 8.1, 10/11" [ "$ids" = "$(printf '<supportedOS Id="{%s}"/>' \
            e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
            1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a)" ]
    fi
    mapfile -t named < <(strings -a "$exe" | grep -i -o '^[A-Za-z0-9_.-]*\.dll$' | sort -u)
    check "$name: every DLL it names is a system DLL" within "$allowed" "${named[@]}"
done

summary
