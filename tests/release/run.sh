#!/usr/bin/env bash
# The release zip of the shipped build (build/win, i686), as an integrator receives it:
#   tests/release/run.sh [ignored]
# Makes the package in build/win and checks its listing, its examples and settings file, the
# exes' PE headers and imports (tests/pe/run.sh) and that no test switch is inside them. Then
# a second, clean build of the two exes in build/release/b (another folder, another time) must
# give the same exes, delay-import libraries, zip and example installer, byte for byte; its
# package is signed with a throwaway self-signed certificate, verified with osslsigncode, and
# the build's own exes must stay as they were. About a minute and a half on 2 cores. No Wine.
# Prints "N passed, M failed" last; exit status 1 on any failure.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
win=$root/build/win
work=$root/build/release
b=$work/b
jobs=${NB_JOBS:-2}

# shellcheck source=../check.sh
. "$root/tests/check.sh"
same() { # same FILE FILE: byte-identical, else the first differences
    cmp "$1" "$2" && return 0
    cmp -l "$1" "$2" 2>/dev/null | head -5 | sed 's/^/     /'
    return 1
}
finish() {
    summary
    exit
}

rm -rf "$work"
mkdir -p "$work"
# One time for every zip of this run, even if a commit lands meanwhile.
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)
export SOURCE_DATE_EPOCH
unset NB_SIGN_PFX NB_SIGN_PASSWORD NB_SIGN_TIMESTAMP_URL NB_SIGN_PKCS11_MODULE NB_SIGN_KEY NB_SIGN_CERT
# The throwaway certificate below signs without a time (no network here; tests/sign/run.sh
# tests the timestamp).
export NB_SIGN_NO_TIMESTAMP=1

echo "== the package of build/win"
if [ ! -f "$win/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel >"$work/configure-win.log" 2>&1
fi
# build/win is one of the two builds: configured as the release is, and brought up to date
# with the source tree by the package target (which builds everything first).
cache() { sed -n "s/^$1:[A-Z]*=//p" "$win/CMakeCache.txt"; }
check "build/win: MinSizeRel, the i686 toolchain, no flags of its own" bash -c \
    '[ "$1" = MinSizeRel ] && [[ $2 == */cmake/mingw-i686.cmake ]] && [ -z "$3$4" ]' _ \
    "$(cache CMAKE_BUILD_TYPE)" "$(cache CMAKE_TOOLCHAIN_FILE)" "$(cache CMAKE_CXX_FLAGS)" "$(cache CMAKE_EXE_LINKER_FLAGS)"
cmake --build "$win" -j"$jobs" --target package >"$work/package-win.log" 2>&1
check "package: cmake --build build/win --target package" test $? -eq 0
zipname=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$win/CPackConfig.cmake" 2>/dev/null).zip
zip=$win/$zipname
if [ ! -f "$zip" ]; then
    tail -n 20 "$work/package-win.log"
    check "package: $zipname made" false
    finish
fi
# The build id: the project's version, the commit, +dirty when a tracked file differs from it.
build_id=$(sed -n 's/^project(nbmonitor VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
if commit=$(git -C "$root" rev-parse --short=10 HEAD 2>/dev/null); then
    build_id+=+g$commit
    [ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] || build_id+=+dirty
fi
check "package: named nbmonitor-<build id>-win32.zip ($zipname)" test "$zipname" = "nbmonitor-$build_id-win32.zip"
check "package: SHA256SUMS beside it matches" bash -c "cd '$win' && sha256sum --quiet -c SHA256SUMS && grep -q ' $zipname\$' SHA256SUMS"
setup=${zipname%.zip}-setup.exe
check "package: the example installer beside it ($setup, a PE file)" bash -c "[ \"\$(head -c 2 '$win/$setup')\" = MZ ]"
check "package: says it is unsigned without a certificate" grep -q 'this release is UNSIGNED' "$work/package-win.log"

listing=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
expected=$(printf '%s\n' README.md bin/nbbackup.bat.example bin/nbctl.exe bin/nbmonitor.exe \
    bin/nbrestore.bat.example conf/nbmonitor.ini.example docs/integrating.md | sort)
check "zip: exactly the shipped files" bash -c '[ "$1" = "$2" ] || { diff <(echo "$2") <(echo "$1") | sed "s/^/     /"; exit 1; }' _ "$listing" "$expected"

unz=$work/unzipped
unzip -q "$zip" -d "$unz"
# A control character in a document or example (a stray BEL once sat in README) shows as
# garbage or nothing; only CR LF, LF and TAB belong in them.
controls() {
    local f bad=0
    while IFS= read -r f; do
        if LC_ALL=C grep -q -P '[\x00-\x08\x0B\x0C\x0E-\x1F\x7F]' "$unz/$f"; then
            LC_ALL=C grep -n -o -P '.{0,20}[\x00-\x08\x0B\x0C\x0E-\x1F\x7F]' "$unz/$f" | head -3 | cat -A | sed "s|^|     $f:|"
            bad=1
        fi
    done < <(grep -v '\.exe$' <<<"$listing")
    return $bad
}
check "zip: no control characters in the text files (README, guide, examples)" controls
check "zip: the script examples are the demo's scripts with CR LF line ends" bash -c \
    'cmp -s <(sed -e "s/\r\$//" -e "s/\$/\r/" "$1") "$2" && cmp -s <(sed -e "s/\r\$//" -e "s/\$/\r/" "$3") "$4"' _ \
    "$root/tools/demo/nbbackup.bat" "$unz/bin/nbbackup.bat.example" "$root/tools/demo/nbrestore.bat" "$unz/bin/nbrestore.bat.example"

# The settings the program reads (src/base/settings.h) against the example's lines: every
# key in its section with its default, nothing else, comments starting with ";", CR LF.
program_keys() {
    local h=$root/src/base/settings.h
    sed -n 's/.*IntKey k[A-Za-z]*{k\([A-Za-z]*\), L"\([a-z_]*\)", \([0-9]*\)}.*/\1.\2=\3/p' "$h" | sed 's/^Httpd/httpd/; s/^Nbmonitor/nbmonitor/'
    local key default
    for key in DefaultAddressKey:DefaultAddress ErrorLogKey:ErrorLogDefault; do  # the string keys
        default=${key#*:} key=${key%:*}
        printf 'httpd.%s=%s\n' "$(sed -n "s/.*k${key} = L\"\([a-z_]*\)\".*/\1/p" "$h")" \
            "$(sed -n "s/.*k${default} = L\"\([^\"]*\)\".*/\1/p" "$h" | sed 's/\\\\/\\/g')"
    done
}
example_keys() {
    tr -d '\r' <"$1" | awk '/^;/ || /^$/ { next } /^\[.*\]$/ { s = substr($0, 2, length($0) - 2); next } { print s "." $0 }'
}
ini=$unz/conf/nbmonitor.ini.example
check "zip: conf/nbmonitor.ini.example holds every key the program reads, with its default, and only those" bash -c \
    '[ "$(sort <<<"$1")" = "$(sort <<<"$2")" ] && [ "$(grep -c $'"'\r\$'"' "$3")" -eq "$(wc -l <"$3")" ] ||
     { diff <(sort <<<"$1") <(sort <<<"$2") | sed "s/^/     /"; exit 1; }' _ "$(program_keys)" "$(example_keys "$ini")" "$ini"

echo "== the exes in the zip"
pe=$(bash "$root/tests/pe/run.sh" "$unz/bin/nbmonitor.exe" "$unz/bin/nbctl.exe" 2>&1)
rc=$?
[ $rc -eq 0 ] || grep -v '^ok' <<<"$pe" | sed 's/^/     /'
check "exes: PE32 i386, GUI / console, ASLR and DEP, system DLLs only (tests/pe/run.sh: $(tail -n 1 <<<"$pe"))" test $rc -eq 0
switches() { # the test switches' names in ASCII and UTF-16LE
    local exe f
    for exe in "$@"; do
        for f in NBMONITOR_ NB_STANDIN testhooks; do
            grep -c -a -F "$f" "$exe"
            grep -c -a -P "$(sed 's/./&\\x00/g' <<<"$f")" "$exe"
        done
    done | awk '{ n += $1 } END { print n + 0 }'
}
check "exes: no test switch inside (NBMONITOR_, NB_STANDIN, testhooks; ASCII and UTF-16LE)" \
    test "$(switches "$unz/bin/nbmonitor.exe" "$unz/bin/nbctl.exe")" -eq 0

echo "== a second, clean build"
start=$SECONDS
# No preinstall of everything: the package of this build holds what is built here, the exes.
if cmake -S "$root" -B "$b" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >"$work/configure-b.log" 2>&1 &&
    cmake --build "$b" -j"$jobs" --target nbmonitor nbctl >"$work/build-b.log" 2>&1; then
    check "clean build: build/release/b, nbmonitor and nbctl ($((SECONDS - start)) s)" true
else
    tail -n 20 "$work/build-b.log"
    check "clean build: build/release/b, nbmonitor and nbctl" false
    finish
fi
check "reproducible: nbmonitor.exe of build/win and build/release/b" same "$win/nbmonitor.exe" "$b/nbmonitor.exe"
check "reproducible: nbctl.exe of build/win and build/release/b" same "$win/tools/bin/nbctl.exe" "$b/tools/bin/nbctl.exe"
if ! cmp -s "$win/nbmonitor.exe" "$b/nbmonitor.exe"; then
    echo "     objdump -x differences of nbmonitor.exe:"
    diff <(i686-w64-mingw32-objdump -x "$win/nbmonitor.exe" | tail -n +3) \
        <(i686-w64-mingw32-objdump -x "$b/nbmonitor.exe" | tail -n +3) | head -20 | sed 's/^/     /'
fi
libs_same() {
    local lib ok=0 n=0
    for lib in "$b"/delayimp/*.a; do
        n=$((n + 1))
        same "$win/delayimp/${lib##*/}" "$lib" >/dev/null || { echo "     differs: ${lib##*/}"; ok=1; }
    done
    [ "$n" -gt 0 ] && return $ok
}
check "reproducible: the delay-import libraries (delayimp/*.a)" libs_same

cmake --build "$b" --target package >"$work/package-b.log" 2>&1
check "reproducible: the zip of build/release/b is byte-identical" same "$zip" "$b/$zipname"
check "reproducible: the installer of build/release/b is byte-identical" same "$win/$setup" "$b/$setup"

echo "== signing"
cert=$work/cert
mkdir -p "$cert"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=nbmonitor test signer" \
    -addext extendedKeyUsage=codeSigning -keyout "$cert/key.pem" -out "$cert/cert.pem" >"$cert/openssl.log" 2>&1 &&
    openssl pkcs12 -export -inkey "$cert/key.pem" -in "$cert/cert.pem" -passout pass:throwaway \
        -out "$cert/signer.pfx" >>"$cert/openssl.log" 2>&1
NB_SIGN_PFX=$cert/signer.pfx NB_SIGN_PASSWORD=wrong cmake --build "$b" --target package >"$work/package-wrong.log" 2>&1
rc=$?
check "signing: a wrong password stops the package" bash -c "[ $rc -ne 0 ] && ! grep -q 'signed with' '$work/package-wrong.log'"
NB_SIGN_PFX=$cert/signer.pfx NB_SIGN_PASSWORD=throwaway cmake --build "$b" --target package >"$work/package-signed.log" 2>&1
signed=$work/signed
unzip -q -o "$b/$zipname" -d "$signed" 2>/dev/null
verified() {
    local exe
    for exe in "$signed/bin/nbmonitor.exe" "$signed/bin/nbctl.exe" "$b/$setup"; do
        osslsigncode verify -CAfile "$cert/cert.pem" -in "$exe" >"$work/verify.log" 2>&1 ||
            { sed 's/^/     /' "$work/verify.log" | tail -n 5; return 1; }
    done
    (cd "$b" && sha256sum --quiet -c SHA256SUMS)
}
check "signing: both exes in the zip and the installer carry a valid signature (osslsigncode verify), SHA256SUMS of the signed zip" verified
check "signing: the build's own exes stay unsigned and reproducible" \
    bash -c "cmp -s '$win/nbmonitor.exe' '$b/nbmonitor.exe' && cmp -s '$win/tools/bin/nbctl.exe' '$b/tools/bin/nbctl.exe' &&
             ! osslsigncode verify -in '$b/nbmonitor.exe' >/dev/null 2>&1"

finish
