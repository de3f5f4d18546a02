# shellcheck shell=bash
# The installation's layout, as an integrator makes one. scripts/wine-env.sh sources this file
# (it needs that file's NB_ROOT, NB_WIN_BUILD, NB_LOADER_DLL and nb_log); scripts/layout runs
# nb_layout for programs in other languages.

# nb_layout [OPTION...]: lays out an installation in the current prefix, replacing one that
# is there, as an integrator does: the build's release zip (cmake/package.cmake; made first
# when it is missing or older than the programs or examples in it) unpacked into the home,
# bin\nbbackup.bat and bin\nbrestore.bat from its examples, then what an installation brings
# itself: the web server (the stand-in httpd.exe), php\php.ini.ORG and the demo application.
#   --home PATH           home folder, default C:\nimbara (another drive letter is mapped to
#                         a folder drive_<letter> of the prefix)
#   --build DIR           Windows build to take the programs from (default $NB_WIN_BUILD)
#   --set SECTION.KEY=V   a value of conf\nbmonitor.ini (all eight keys are written, with
#                         their defaults unless set)
#   --no-ini              write no conf\nbmonitor.ini
#   --standin KEY=V       a value of conf\standin.ini (the stand-in server's faults)
#   --apache DIR          the real server instead of the stand-in: Apache httpd as
#                         scripts/apache built it into DIR (bin, modules, the PHP stand-in
#                         module in php), with the installation's conf\httpd.conf
# Sets NB_HOME_WIN (with trailing backslash), NB_HOME_UNIX and NB_LAYOUT_ZIP.
nb_layout() {
    local home='C:\nimbara' build=$NB_WIN_BUILD write_ini=1 apache=
    local -a sets=() standin=()
    while [ $# -gt 0 ]; do
        case "$1" in
            --home) home=$2; shift 2 ;;
            --build) build=$2; shift 2 ;;
            --set) sets+=("$2"); shift 2 ;;
            --no-ini) write_ini=0; shift ;;
            --standin) standin+=("$2"); shift 2 ;;
            --apache) apache=$2; shift 2 ;;
            *) nb_log "nb_layout: unknown option $1"; return 1 ;;
        esac
    done
    [ -n "${WINEPREFIX:-}" ] || { nb_log "nb_layout: no prefix (call nb_prefix first)"; return 1; }
    nb__layout_home "$home" || return 1
    local unix=$NB_HOME_UNIX
    nb__layout_release "$build" "$unix" || return 1
    nb__layout_server "$build" "$unix" "$apache" || return 1
    nb__layout_demo "$unix"
    if [ "$write_ini" = 1 ]; then
        nb__ini "${sets[@]}" >"$unix/conf/nbmonitor.ini" || return 1
    fi
    nb__layout_standin "$unix" "${standin[@]}"
}

# nb__layout_home HOME: sets NB_HOME_UNIX and NB_HOME_WIN for the Windows path HOME (mapping
# its drive letter into the prefix) and makes the home's folders afresh.
nb__layout_home() {
    local home=${1%\\}
    local drive=c rest=$home
    if [[ $home =~ ^([A-Za-z]):\\(.*)$ ]]; then
        drive=${BASH_REMATCH[1],,}
        rest=${BASH_REMATCH[2]}
    fi
    case "\\${rest,,}\\" in *'\..\'* | *'\.\'* | *'/'* | '\windows\'* | '\users\'*)
        nb_log "nb_layout: will not lay out an installation in '$home'"
        return 1 ;;
    esac
    local root=$WINEPREFIX/drive_$drive
    if [ ! -e "$WINEPREFIX/dosdevices/$drive:" ]; then
        mkdir -p "$root"
        ln -s "../drive_$drive" "$WINEPREFIX/dosdevices/$drive:"
    fi
    local unix=$root
    [ -n "$rest" ] && unix=$root/${rest//\\//}
    NB_HOME_UNIX=$unix
    NB_HOME_WIN="${drive^^}:\\${rest:+$rest\\}"
    export NB_HOME_UNIX NB_HOME_WIN

    if [ -n "$rest" ]; then rm -rf "$unix"; fi
    mkdir -p "$unix"/{bin,conf/extra,php/ext,tmp/eaccelerator,htdocs/data,cgi-bin,backup}
}

# nb__layout_release BUILD UNIX: the release zip unpacked into the home, the script examples
# renamed; what the build has, as the zip holds it, when the program does not build.
nb__layout_release() {
    local build=$1 unix=$2 demo=$NB_ROOT/tools/demo zip script tool
    NB_LAYOUT_ZIP=
    if zip=$(nb__release_zip "$build"); then
        unzip -q -o "$zip" -d "$unix" || { nb_log "nb_layout: unzip $zip failed"; return 1; }
        for script in nbbackup nbrestore; do
            mv "$unix/bin/$script.bat.example" "$unix/bin/$script.bat" || return 1
        done
        NB_LAYOUT_ZIP=$zip
    else
        nb_log "nb_layout: no release zip of $build (log: $build/package.log); laying out what is built"
        for tool in "$build/nbmonitor.exe" "$build/tools/bin/nbctl.exe"; do
            if [ -f "$tool" ]; then cp "$tool" "$unix/bin/"; else nb_log "nb_layout: $tool is not built"; fi
        done
        nb__crlf <"$demo/nbbackup.bat" >"$unix/bin/nbbackup.bat"
        nb__crlf <"$demo/nbrestore.bat" >"$unix/bin/nbrestore.bat"
    fi
    export NB_LAYOUT_ZIP
}

# nb__layout_server BUILD UNIX APACHE: the web server, Apache from APACHE when given, else the
# build's stand-in.
nb__layout_server() {
    local build=$1 unix=$2 apache=$3
    if [ -n "$apache" ]; then
        { cp "$apache"/bin/* "$unix/bin/" && cp -r "$apache/modules" "$unix/" && cp "$apache"/php/*.dll "$unix/php/" &&
            cp "$apache/conf/mime.types" "$unix/conf/" && mkdir -p "$unix/logs" &&
            nb__crlf <"$NB_ROOT/apache/httpd.conf" >"$unix/conf/httpd.conf"; } ||
            { nb_log "nb_layout: Apache from $apache could not be laid out (run scripts/apache)"; return 1; }
    elif [ -f "$build/tools/bin/httpd.exe" ]; then
        cp "$build/tools/bin/httpd.exe" "$unix/bin/"
    else
        nb_log "nb_layout: $build/tools/bin/httpd.exe is not built"
    fi
}

# nb__layout_demo UNIX: php\php.ini.ORG and the demo application.
nb__layout_demo() {
    local unix=$1 demo=$NB_ROOT/tools/demo
    sed "s/@NB_LOADER_DLL@/$NB_LOADER_DLL/g" "$demo/php.ini.ORG.in" | nb__crlf >"$unix/php/php.ini.ORG"
    nb__crlf <"$demo/index.php" >"$unix/htdocs/index.php"
    printf 'nimbara demo database, made %s\r\n' "$(date -u '+%Y-%m-%d %H:%M:%S')" >"$unix/htdocs/data/app.db"
}

# nb__layout_standin UNIX KEY=V...: conf\standin.ini when any value is given.
nb__layout_standin() {
    local unix=$1 kv
    shift
    [ $# -gt 0 ] || return 0
    {
        printf '[standin]\r\n'
        for kv in "$@"; do printf '%s\r\n' "$kv"; done
    } >"$unix/conf/standin.ini"
}

nb__crlf() { sed -e 's/\r$//' -e 's/$/\r/'; }

# nb__release_zip BUILD: prints the path of BUILD's release zip, after making it (the package
# target) when it is missing or older than a program or example it holds. One maker at a time.
nb__release_zip() {
    local build=$1
    (
        flock 8
        zip_path() {
            local name
            name=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake" 2>/dev/null)
            [ -n "$name" ] && echo "$build/$name.zip"
        }
        local zip input stale=0
        zip=$(zip_path)
        if [ -z "$zip" ] || [ ! -f "$zip" ]; then
            stale=1
        else
            for input in "$build/nbmonitor.exe" "$build/tools/bin/nbctl.exe" "$NB_ROOT/tools/demo/nbbackup.bat" \
                "$NB_ROOT/tools/demo/nbrestore.bat" "$NB_ROOT/packaging/nbmonitor.ini.example"; do
                [ "$input" -nt "$zip" ] && stale=1
            done
        fi
        if [ $stale = 1 ]; then
            {
                # A build configured before the package existed has no package target yet.
                if [ ! -f "$build/CPackConfig.cmake" ] && [ -f "$build/CMakeCache.txt" ]; then
                    cmake "$build" || exit 1
                fi
                cmake --build "$build" -j"${NB_JOBS:-2}" --target package
            } </dev/null >"$build/package.log" 2>&1 || exit 1
            zip=$(zip_path)
        fi
        [ -n "$zip" ] && [ -f "$zip" ] && echo "$zip"
    ) 8>"$build/.package.lock"
}

# The settings file: every key with its default, overridden by SECTION.KEY=VALUE arguments;
# keys the program does not know are written too (into their section).
nb__ini() {
    local -a order=(httpd.default_port httpd.debug httpd.default_address httpd.restart_wait
        nbmonitor.monitor_interval nbmonitor.backup_interval nbmonitor.debug nbmonitor.wait_time)
    local -A value=([httpd.default_port]=27142 [httpd.debug]=0 [httpd.default_address]=127.0.0.1
        [httpd.restart_wait]=2000 [nbmonitor.monitor_interval]=5000
        [nbmonitor.backup_interval]=86400000 [nbmonitor.debug]=0 [nbmonitor.wait_time]=2000)
    local kv key
    for kv in "$@"; do
        key=${kv%%=*}
        if [[ $key != *.* || $kv != *=* ]]; then
            nb_log "nb_layout: --set wants SECTION.KEY=VALUE, not '$kv'"
            return 1
        fi
        [ -n "${value[$key]+x}" ] || order+=("$key")
        value[$key]=${kv#*=}
    done
    local -a sections=()
    local section
    for key in "${order[@]}"; do
        section=${key%%.*}
        [[ " ${sections[*]} " == *" $section "* ]] || sections+=("$section")
    done
    local first=1
    for section in "${sections[@]}"; do
        [ $first = 1 ] || printf '\r\n'
        first=0
        printf '[%s]\r\n' "$section"
        for key in "${order[@]}"; do
            [ "${key%%.*}" = "$section" ] && printf '%s=%s\r\n' "${key#*.}" "${value[$key]}"
        done
    done
    return 0
}
