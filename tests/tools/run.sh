#!/usr/bin/env bash
# Tests of the demo installation's own programs and scripts under Wine: the stand-in
# httpd.exe, nbctl.exe, nbbackup.bat, nbrestore.bat and the layout of scripts/layout.sh.
#   tests/tools/run.sh [WINDOWS_BUILD_DIR]      (default: the build Wine runs, see wine-env.sh)
# Prints "N passed, M failed" last; exit status 1 on any failure.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=../../scripts/wine-env.sh
. "$root/scripts/wine-env.sh"
[ $# -ge 1 ] && NB_WIN_BUILD=$(cd "$1" && pwd)
tools=$NB_WIN_BUILD/tools/bin

# shellcheck source=../check.sh
. "$root/tests/check.sh"
contains() { [[ $1 == *"$2"* ]] || { echo "     expected to contain: $2"; echo "     got: $1"; return 1; }; }
equals() { [ "$1" = "$2" ] || { echo "     expected: $2"; echo "     got:      $1"; return 1; }; }

for exe in httpd nbctl nbtestwin nbspawn nbctl_test; do
    if [ ! -f "$tools/$exe.exe" ]; then
        echo "tests/tools: $tools/$exe.exe is missing (build the Windows tools first)"
        echo "0 passed, 1 failed"
        exit 1
    fi
done

nb_display || exit 1
nb_prefix "$root/build/test-tools" || exit 1
nb_layout || exit 1
home=$NB_HOME_UNIX
bin=$home/bin
cp "$tools/nbtestwin.exe" "$tools/nbspawn.exe" "$bin/"

free_port() {
    local p
    for ((p = 28000 + RANDOM % 2000; ; p++)); do
        (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
    done
}
port=$(free_port)
printf 'Listen 127.0.0.1:%s\r\n' "$port" >"$home/conf/extra/httpd-port.conf"
url=http://127.0.0.1:$port

# Runs bin\httpd.exe the way the supervisor does (bin as current folder) in the background.
start_httpd() { (cd "$bin" && exec wine httpd.exe) >/dev/null 2>&1 & httpd_pid=$!; }
stop_httpd() { kill "$httpd_pid" 2>/dev/null; wait "$httpd_pid" 2>/dev/null; }
answers() { # answers SECONDS: the server answers within SECONDS
    local i
    for ((i = 0; i < $1 * 5; i++)); do
        curl -s -o /dev/null --max-time 2 "$url/" && return 0
        sleep 0.2
    done
    return 1
}
standin() { printf '[standin]\r\n' >"$home/conf/standin.ini"; printf '%s\r\n' "$@" >>"$home/conf/standin.ini"; }
httpd_exit_code() { (cd "$bin" && wine httpd.exe) >/dev/null 2>&1; echo $?; }

echo "== layout"
check "layout: programs, scripts and folders" test -f "$bin/httpd.exe" -a -f "$bin/nbctl.exe" -a \
    -f "$bin/nbbackup.bat" -a -f "$bin/nbrestore.bat" -a -d "$home/conf/extra" -a -d "$home/php/ext" -a \
    -d "$home/tmp/eaccelerator" -a -f "$home/htdocs/index.php" -a -f "$home/htdocs/data/app.db" -a -d "$home/backup"
template=$(cat "$home/php/php.ini.ORG")
check "layout: php.ini.ORG has CRLF line ends only" \
    test "$(grep -c $'\r$' "$home/php/php.ini.ORG")" -eq "$(wc -l <"$home/php/php.ini.ORG")"
for line in 'extension_dir = "/nimbara/php/ext"' 'session.save_path = "/nimbara/tmp"' \
    'eaccelerator.cache_dir="/nimbara/tmp/eaccelerator"' "zend_extension=\"/nimbara/php/ext/$NB_LOADER_DLL\""; do
    check "layout: php.ini.ORG line $line" grep -qxF "$line"$'\r' "$home/php/php.ini.ORG"
done
check "layout: settings file with its defaults" contains "$(tr -d '\r' <"$home/conf/nbmonitor.ini")" \
    $'[httpd]\ndefault_port=27142\ndebug=0\ndefault_address=127.0.0.1\nrestart_wait=2000\n\n[nbmonitor]\nmonitor_interval=5000\nbackup_interval=86400000\ndebug=0\nwait_time=2000'
(
    nb_layout --home 'D:\apps\nimbara' --set httpd.default_port=30000 --set nbmonitor.extra=1 --no-ini >/dev/null 2>&1
    test ! -e "$NB_HOME_UNIX/conf/nbmonitor.ini" && equals "$NB_HOME_WIN" 'D:\apps\nimbara\' &&
        test -f "$WINEPREFIX/dosdevices/d:/apps/nimbara/bin/httpd.exe"
) >/dev/null
check "layout: another drive and folder, no settings file" test $? -eq 0
(
    nb_layout --home 'C:\other' --set httpd.default_port=30000 --set nbmonitor.extra=1 >/dev/null 2>&1 &&
        grep -q '^default_port=30000' "$NB_HOME_UNIX/conf/nbmonitor.ini" &&
        equals "$(grep -c '^\[nbmonitor\]' "$NB_HOME_UNIX/conf/nbmonitor.ini")" 1 &&
        grep -q '^extra=1' "$NB_HOME_UNIX/conf/nbmonitor.ini"
)
check "layout: settings given override the defaults, extra keys join their section" test $? -eq 0
! "$root/scripts/layout" --home 'C:\windows' >/dev/null 2>&1
check "layout: refuses the Windows folder" test $? -eq 0

echo "== nbctl"
table=$(wine "$tools/nbctl_test.exe" | tr -d '\r')
check "nbctl: command table (${table##*$'\n'})" bash -c '[[ $1 =~ (^|$'"'\n'"')[1-9][0-9]*\ passed,\ 0\ failed$ ]]' _ "$table"
out=$(wine "$bin/nbctl.exe" exit 2>&1 | tr -d '\r')
rc=$(wine "$bin/nbctl.exe" exit >/dev/null 2>&1; echo $?)
check "nbctl: no supervisor window gives status 1 and says so" \
    bash -c '[ "$1" -eq 1 ] && [[ $2 == *"not running"* ]]' _ "$rc" "$out"
rc=$(wine "$bin/nbctl.exe" reboot >/dev/null 2>&1; echo $?)
check "nbctl: an unknown word gives status 2" test "$rc" -eq 2
help=$(wine "$bin/nbctl.exe" --help | tr -d '\r')
check "nbctl: --help lists every word" bash -c 'for w in show backup restore initialize open exit status log; do [[ "$1" == *"  $w "* ]] || exit 1; done' _ "$help"
winlog=$home/testwin.log
(cd "$bin" && exec wine nbtestwin.exe 'C:\nimbara\testwin.log' nbmonitorDlg 60000) >/dev/null 2>&1 &
testwin_pid=$!
for ((i = 0; i < 100; i++)); do grep -q ready "$winlog" 2>/dev/null && break; sleep 0.1; done
rcs=""
for w in status show backup restore initialize open exit; do
    rcs+="$(wine "$bin/nbctl.exe" $w >/dev/null 2>&1; echo $?) "
done
wait "$testwin_pid"
# status finds the window, but nothing answers on the listen file's port: 3.
check "nbctl: every word is posted with status 0 (status: 3, no page)" equals "$rcs" "3 0 0 0 0 0 0 "
# The words' ids and messages as the program defines them (WM_COMMAND is 273; open posts the
# icon's double-click, WM_LBUTTONDBLCLK 515, as the tray callback message).
# shellcheck disable=SC2046  # one argument per id
posted=$(printf 'ready\nmsg=273 wp=%s lp=0\nmsg=273 wp=%s lp=0\nmsg=273 wp=%s lp=0\nmsg=273 wp=%s lp=0\nmsg=%s wp=0 lp=515\nmsg=273 wp=%s lp=0' \
    $(python3 "$root/tests/resource_ids.py" ID_SHOW ID_BACKUP ID_RESTORE ID_INITIALIZE WM_TRAY_CALLBACK ID_TRAY_EXIT))
check "nbctl: the window got the supervisor's commands in order" equals "$(tr -d '\r' <"$winlog")" "$posted"

echo "== stand-in httpd.exe"
check "httpd: --help says it is not Apache" contains "$(wine "$bin/httpd.exe" --help | tr -d '\r')" "NOT Apache"
standin "log=standin.log"
start_httpd
check "httpd: answers on the Listen address" answers 20
check "httpd: serves htdocs\\index.php" equals "$(curl -s "$url/index.php" | tr -d '\r')" "$(tr -d '\r' <"$home/htdocs/index.php")"
check "httpd: / is index.php" equals "$(curl -s "$url/" | md5sum)" "$(curl -s "$url/index.php" | md5sum)"
head=$(curl -sI "$url/index.php" | tr -d '\r')
check "httpd: HEAD gives the length and no body" contains "$head" "Content-Length: $(stat -c %s "$home/htdocs/index.php")"
check "httpd: says it is not Apache in its Server header" contains "$head" "not Apache"
code() { curl -s -o /dev/null --path-as-is -w '%{http_code}' "$url$1"; }
check "httpd: a missing file is 404" equals "$(code /missing.php)" 404
check "httpd: a folder is 404" equals "$(code /data)" 404
for bad in /../conf/nbmonitor.ini /%2e%2e/conf/nbmonitor.ini '/..%5cconf%5cnbmonitor.ini' \
    '/data/..%2f..%2fconf/nbmonitor.ini' '/C:%5cnimbara%5cconf%5cnbmonitor.ini' '/.%20./conf/nbmonitor.ini'; do
    check "httpd: $bad does not leave htdocs" test "$(code "$bad")" != 200
done
check "httpd: POST is refused" equals "$(curl -s -o /dev/null -w '%{http_code}' -d x "$url/index.php")" 501
exec 5<>"/dev/tcp/127.0.0.1/$port"  # a client that connects and says nothing
start=$SECONDS
code=$(curl -s -o /dev/null --max-time 15 -w '%{http_code}' "$url/index.php")
check "httpd: a silent client does not hold the server up for long" test "$code" = 200 -a $((SECONDS - start)) -le 6
exec 5<&-
stop_httpd

standin "log=standin.log" "exit_now=1"
check "httpd: exit_now ends at once with code 3" equals "$(httpd_exit_code)" 3
standin "log=standin.log" "exit_after_ms=1500"
start=$SECONDS
check "httpd: exit_after_ms ends with code 4" equals "$(httpd_exit_code)" 4
check "httpd: ... not before its time" test $((SECONDS - start)) -ge 1
standin "log=standin.log"
check "httpd: faults come from the environment" equals "$(NB_STANDIN_EXIT_NOW=1 httpd_exit_code)" 3
standin "log=standin.log" "exit_now=0" "exit_after_ms=300"
check "httpd: the file wins over the environment" equals "$(NB_STANDIN_EXIT_NOW=1 httpd_exit_code)" 4
standin "error_exit=1"
rm -f "$home/logs/error.log"
check "httpd: error_exit ends with code 1" equals "$(httpd_exit_code)" 1
check "httpd: ... after an Apache-shaped error line" bash -c \
    'grep -qE "^\[[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9:.]{15} [0-9]{4}\] \[mpm_winnt:error\] \[pid [0-9]+:tid [0-9]+\] AH00451" "$1"' _ "$home/logs/error.log"
config_test() { (cd "$bin" && wine httpd.exe -t; echo "code=$?") 2>&1 | grep -v -E '^(wine:|[0-9a-f]{4}:(fixme|err|warn):)' | tr -d '\r'; }
check "httpd: -t says Syntax OK" equals "$(config_test)" "Syntax OK
code=0"
standin "syntax_error=1"
check "httpd: syntax_error makes -t print AH00526 and end with 1" bash -c \
    '[[ "$1" == "AH00526: Syntax error on line 1 of "*"Invalid command"*"code=1" ]]' _ "$(config_test)"
standin "log=standin.log" "never_listen=1"
start_httpd
sleep 3
check "httpd: never_listen stays alive" kill -0 "$httpd_pid"
check "httpd: ... without opening the port" bash -c "! curl -s -o /dev/null --max-time 2 '$url/'"
stop_httpd
standin "log=standin.log" "hang_after_ms=4000"
start=$SECONDS
start_httpd
check "httpd: hang_after_ms answers at first" answers 3
left=$((start + 5 - SECONDS)); [ "$left" -gt 0 ] && sleep "$left"
check "httpd: ... then takes connections and never answers" \
    bash -c "exec 3<>/dev/tcp/127.0.0.1/$port && ! curl -s -o /dev/null --max-time 2 '$url/'"
check "httpd: ... and stays alive" kill -0 "$httpd_pid"
stop_httpd
standin "log=standin.log" "listen_delay_ms=3000"
start_httpd
sleep 0.5
check "httpd: listen_delay_ms keeps the port closed at first" bash -c "! curl -s -o /dev/null --max-time 1 '$url/'"
check "httpd: ... and opens it later" answers 20
(cd "$bin" && wine httpd.exe) >/dev/null 2>&1
check "httpd: a taken port ends it with code 2" test $? -eq 2
stop_httpd
mv "$home/conf/extra/httpd-port.conf" "$home/conf/extra/port.saved"
check "httpd: no Listen line ends it with code 1" equals "$(httpd_exit_code)" 1
mv "$home/conf/extra/port.saved" "$home/conf/extra/httpd-port.conf"
starts=$(tr -d '\r' <"$home/standin.log")
check "httpd: logs one line per start, with its port" \
    bash -c '[ "$(grep -c "^pid=[0-9]* listen=127.0.0.1:$2 cwd=C:\\\\nimbara\\\\bin\$" <<<"$1")" -eq 9 ] && [ "$(grep -c "listen=none:0" <<<"$1")" -eq 1 ]' _ "$starts" "$port"
rm -f "$home/conf/standin.ini"

echo "== nbbackup.bat"
# As the supervisor starts it: its quoted full path with the home's doubled backslash.
# With the bin folder as current folder, as the supervisor gives it to every script.
# backup [VAR=VALUE...]: the script's output, run with those environment variables
backup() { (cd "$bin" && env "$@" wine nbspawn.exe --dir 'C:\nimbara\bin\' '"C:\nimbara\\bin\nbbackup.bat"' 2>&1 | tr -d '\r'); }
# restore ARGUMENTS: the script's exit status; the arguments follow the quoted path as given
restore() { (cd "$bin" && wine nbspawn.exe --dir 'C:\nimbara\bin\' "\"C:\\nimbara\\\\bin\\nbrestore.bat\" $1" >/dev/null 2>&1); }
rm -f "$home"/backup/*
for lang in C ja_JP.UTF-8 de_DE.UTF-8 en_GB.UTF-8; do
    before=$(date +%Y%m%d-%H%M)
    name=$(backup LANG=$lang LC_ALL=$lang)
    after=$(date +%Y%m%d-%H%M)
    check "nbbackup: name from the clock under LANG=$lang ($name)" \
        bash -c '[[ $1 =~ ^app-([0-9]{8}-[0-9]{4})[0-9]{2}-[0-9]{2}\.db$ ]] && [[ ${BASH_REMATCH[1]} == "$2" || ${BASH_REMATCH[1]} == "$3" ]] && [ -f "$4/$1" ]' \
        _ "$name" "$before" "$after" "$home/backup"
done
check "nbbackup: the copy equals the database" cmp -s "$home/htdocs/data/app.db" "$home/backup/$name"
# %DATE% and %TIME% as other Windows versions and locales write them (a variable of that
# name wins over cmd's own); LANG sets the date order in the registry.
while IFS='|' read -r lang d t want; do
    got=$(backup LANG=$lang LC_ALL=$lang "DATE=$d" "TIME=$t")
    check "nbbackup: DATE='$d' TIME='$t' ($lang)" equals "$got" "$want"
done <<'EOF'
en_US.UTF-8|Tue 12/08/2026| 9:05:01.23|app-20261208-090501-23.db
en_US.UTF-8|12/8/26|11:59 PM|app-20261208-235900-00.db
en_US.UTF-8|12/8/2026|12:01 AM|app-20261208-000100-00.db
de_DE.UTF-8|08.12.2026|09:05:01,07|app-20261208-090501-07.db
en_GB.UTF-8|08/12/2026|08:09:10.11|app-20261208-080910-11.db
ja_JP.UTF-8|2026/12/08 火|8:07|app-20261208-080700-00.db
C|2026-12-08|21:05:01,50|app-20261208-210501-50.db
EOF
got="$(backup DATE=12/8/2026 TIME=1:02:03.04) $(backup DATE=12/8/2026 TIME=1:02:03.04) $(backup DATE=12/8/2026 TIME=1:02:03.04)"
check "nbbackup: backups of the same moment get names that sort in order" equals "$got" \
    "app-20261208-010203-04.db app-20261208-010203-05.db app-20261208-010203-06.db"
mv "$home/htdocs/data/app.db" "$home/htdocs/data/app.saved"
count=$(ls "$home/backup" | wc -l)
out=$(backup)
check "nbbackup: no database: an error, nothing written" bash -c '[[ $1 == *"no database"* ]] && [ "$(ls "$2" | wc -l)" -eq "$3" ]' _ "$out" "$home/backup" "$count"
mv "$home/htdocs/data/app.saved" "$home/htdocs/data/app.db"

echo "== nbrestore.bat"
printf 'plain\r\n' >"$home/backup/plain.db"
printf 'blank\r\n' >"$home/backup/my backup.db"
printf 'paren\r\n' >"$home/backup/x (1).db"
mkdir -p "$home/backup/folder.db"
db() { tr -d '\r' <"$home/htdocs/data/app.db"; }
restore plain.db
check "nbrestore: restores the named backup" equals "$(db)" plain
restore 'my backup.db'
check "nbrestore: a name with a blank, unquoted as the supervisor passes it" equals "$(db)" blank
restore '"x (1).db"'
check "nbrestore: a quoted name with parentheses" equals "$(db)" paren
for bad in missing.db folder.db '..\conf\nbmonitor.ini' 'C:\nimbara\conf\nbmonitor.ini' '..' ''; do
    restore "$bad"
    rc=$?
    check "nbrestore: refuses '$bad' (status $rc), database unchanged" bash -c "[ $rc -ne 0 ] && [ \"\$(tr -d '\r' <'$home/htdocs/data/app.db')\" = paren ]"
done

summary
