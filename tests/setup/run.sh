#!/usr/bin/env bash
# scripts/setup on a simulated bare machine, and on the machines a user meets: stand-ins for
# dpkg-query, dpkg and apt-get first on PATH record what setup asks of them.
#   tests/setup/run.sh [ignored]
# Prints "N passed, M failed" last; exit status 1 on any failure.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
setup=${NB_SETUP_UNDER_TEST:-$root/scripts/setup}

# What the builds, the demo and the tests cannot do without.
needed=(cmake g++ make python3 googletest libgtest-dev libgmock-dev clang libclang-rt-14-dev clang-format
    g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine wine64 xvfb x11-utils xdotool imagemagick fonts-noto-cjk
    curl procps psmisc util-linux iproute2 zip unzip osslsigncode openssl strip-nondeterminism dpkg-dev
    nsis softhsm2 libengine-pkcs11-openssl)

# shellcheck source=../check.sh
. "$root/tests/check.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin=$work/bin
mkdir -p "$bin"
# dpkg-query -W -f FORMAT NAME...: "ii  name:arch " for every name in $work/present, exit 1
# when a name is unknown (as dpkg-query does).
cat >"$bin/dpkg-query" <<EOF
#!/bin/bash
shift 2
rc=0
for p in "\$@"; do
    if grep -qxF "\$p" "$work/present" 2>/dev/null; then
        case "\$p" in *:*) printf 'ii  %s \n' "\$p" ;; *) printf 'ii  %s:amd64 \n' "\$p" ;; esac
    else
        echo "dpkg-query: no packages found matching \$p" >&2
        rc=1
    fi
done
exit \$rc
EOF
# apt-get and dpkg record their arguments; apt-get exits 100 when its arguments match a line
# of $work/fail (an extended regular expression), and a failed update names an index as apt does.
cat >"$bin/apt-get" <<EOF
#!/bin/bash
echo "apt-get \$*" >>"$work/log"
while IFS= read -r pattern; do
    if [ -n "\$pattern" ] && grep -qE -- "\$pattern" <<<"\$*"; then
        [ "\$1" = update ] && echo "E: Failed to fetch http://deb.example/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size" >&2
        exit 100
    fi
done <"$work/fail"
exit 0
EOF
cat >"$bin/dpkg" <<EOF
#!/bin/bash
echo "dpkg \$*" >>"$work/log"
exit 0
EOF
chmod +x "$bin"/*

# run HOST [PRESENT...]: setup as the machine with these packages installed would run it.
# HOST is i386 (runs 32-bit code), amd64 (does not), or win32/win64 (NB_WINE_ARCH given).
run() {
    local host=$1 arch= runs=1
    shift
    case "$host" in amd64) runs=0 ;; win32 | win64) arch=$host ;; esac
    : >"$work/log"
    printf '%s\n' "$@" >"$work/present"
    PATH="$bin:$PATH" NB_HOST_RUNS_I386=$runs NB_WINE_ARCH=$arch timeout 60 "$setup" </dev/null >"$work/out" 2>&1
    status=$?
}
# The Wine scripts/wine-env.sh chooses on a 32-bit host with the packages of $work/present.
chosen_arch() {
    PATH="$bin:$PATH" NB_HOST_RUNS_I386=1 NB_WINE_ARCH= bash -c ". '$root/scripts/wine-env.sh' && echo \$NB_WINE_ARCH"
}
installed_args() { sed -n 's/^apt-get install .*--force-confold //p' "$work/log"; }
want_all() { # want_all ARCH: every needed package (wine32:i386 on win32) and nothing else
    local arch=$1 want got
    want=$(printf '%s\n' "${needed[@]}" $([ "$arch" = win32 ] && echo wine32:i386) | sort)
    got=$(installed_args | tr ' ' '\n' | sed '/^$/d' | sort)
    [ "$want" = "$got" ] || { echo "     asked to install: $got"; echo "     expected: $want"; return 1; }
}
status_is() { [ "$status" -eq "$1" ] || { echo "     exit $status, expected $1; output:"; tail -5 "$work/out"; return 1; }; }
says() { grep -q -- "$1" "$work/out" || { echo "     output lacks '$1':"; tail -5 "$work/out"; return 1; }; }
logged() { grep -q -- "$1" "$work/log" || { echo "     not asked: $1"; cat "$work/log"; return 1; }; }
not_logged() { ! grep -q -- "$1" "$work/log" || { echo "     asked: $1"; return 1; }; }

: >"$work/fail"
run i386
check "bare machine, 32-bit host: exits 0" status_is 0
check "bare machine, 32-bit host: installs every package and wine32:i386" want_all win32
check "bare machine, 32-bit host: adds the i386 architecture before apt-get update" \
    bash -c "grep -n . '$work/log' | grep -E '^1:dpkg --print-foreign|^2:dpkg --add-architecture i386$|^3:apt-get update' | wc -l | grep -qx 3"

run amd64
check "bare machine, 64-bit-only host: exits 0" status_is 0
check "bare machine, 64-bit-only host: installs every package, no wine32" want_all win64
check "bare machine, 64-bit-only host: leaves the i386 architecture alone" not_logged i386

run win64 "${needed[@]}"
check "everything present: apt untouched" bash -c "[ ! -s '$work/log' ] && [ $status -eq 0 ]"

run win64 "${needed[@]:3}"
check "some present: only the missing ones are installed" \
    bash -c "[ \"\$(sed -n 's/^apt-get install .*--force-confold //p' '$work/log')\" = '${needed[*]:0:3}' ]"

# A registry with one broken index: apt-get update fails, yet apt installs from the others.
echo '^update' >"$work/fail"
run amd64
check "apt-get update fails, the install works: exits 0 after trying the update twice" \
    bash -c "[ $status -eq 0 ] && [ \$(grep -c '^apt-get update' '$work/log') -eq 2 ]"
check "apt-get update fails, the install works: one warning names the failed index" \
    says 'setup: WARNING at apt-get update: `apt-get update -q` failed twice (failed: http://deb.example/dists/bookworm-security/main/binary-i386/Packages.xz)'
check "apt-get update fails, the install works: every package installed" want_all win64

printf '%s\n' '^update' '^install -y' >"$work/fail"
run amd64 "${needed[@]:1}"
check "apt-get update and install fail: non-zero exit" bash -c "[ $status -ne 0 ]"
check "apt-get update and install fail: one line names the install and the update as the likely cause" \
    says 'setup: FAILED at apt-get install of cmake: `apt-get install -y cmake` failed; apt-get update failed before it (failed: http://deb.example/'

echo '^install -y' >"$work/fail"
run amd64 "${needed[@]:1}"
check "apt-get install fails: one line names the packages and the command" \
    bash -c "[ $status -ne 0 ] && grep -q 'setup: FAILED at apt-get install of cmake: \`apt-get install -y cmake\` failed; see apt' '$work/out'"

# wine32 cannot be had on a 32-bit host (its i386 index broken): the rest, and wine64 chosen.
for how in 'wine32:i386' '^install -y.*wine32:i386'; do
    what=$([ "$how" = wine32:i386 ] && echo "apt cannot resolve" || echo "its install fails")
    printf '%s\n' "$how" >"$work/fail"
    run i386
    check "32-bit host, wine32 $what: exits 0 with everything else installed" \
        bash -c "[ $status -eq 0 ] && [ \"\$(sed -n '\$s/^apt-get install .*--force-confold //p' '$work/log' | tr ' ' '\n' | sort)\" = \"\$(printf '%s\n' ${needed[*]} | sort)\" ]"
    check "32-bit host, wine32 $what: says wine64 runs instead" says 'setup: NOTE: wine32:i386 cannot be installed'
done
chooses() { # chooses ARCH PRESENT...: wine-env.sh on a 32-bit host with these packages
    local want=$1
    shift
    printf '%s\n' "$@" >"$work/present"
    [ "$(chosen_arch)" = "$want" ]
}
check "32-bit host without wine32: wine-env.sh chooses win64" chooses win64 "${needed[@]}"
check "32-bit host with wine32: wine-env.sh chooses win32" chooses win32 "${needed[@]}" wine32:i386
printf '%s\n' 'wine32:i386' >"$work/fail"
run win32
check "NB_WINE_ARCH=win32 and wine32 unresolvable: fails with one line" \
    says '^setup: FAILED at apt-get install of wine32:i386: `apt-get install -y wine32:i386` failed; apt cannot resolve it'
: >"$work/fail"

summary
