#!/usr/bin/env bash
# scripts/setup on a simulated bare machine, and on the machines a user meets: stand-ins for
# dpkg-query, dpkg and apt-get first on PATH record what setup asks of them.
#   tests/setup/run.sh [ignored]
# Prints "N passed, M failed" last; exit status 1 on any failure.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
setup=${NB_SETUP_UNDER_TEST:-$root/scripts/setup}

# What the builds, the demo and the tests cannot do without.
needed=(cmake g++ make python3 googletest libgtest-dev libgmock-dev clang libclang-rt-14-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine wine64 xvfb x11-utils xdotool imagemagick fonts-noto-cjk
    curl procps psmisc util-linux iproute2 zip unzip osslsigncode openssl strip-nondeterminism)

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
# apt-get and dpkg record their arguments; apt-get fails the sub-command in $work/fail.
cat >"$bin/apt-get" <<EOF
#!/bin/bash
echo "apt-get \$*" >>"$work/log"
for a in "\$@"; do grep -qxF "\$a" "$work/fail" 2>/dev/null && exit 100; done
exit 0
EOF
cat >"$bin/dpkg" <<EOF
#!/bin/bash
echo "dpkg \$*" >>"$work/log"
exit 0
EOF
chmod +x "$bin"/*

# run ARCH [PRESENT...]: setup as the machine with these packages installed would run it.
run() {
    local arch=$1
    shift
    : >"$work/log"
    printf '%s\n' "$@" >"$work/present"
    PATH="$bin:$PATH" NB_WINE_ARCH=$arch timeout 60 "$setup" </dev/null >"$work/out" 2>&1
    status=$?
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
run win32
check "bare machine, 32-bit host: exits 0" status_is 0
check "bare machine, 32-bit host: installs every package and wine32:i386" want_all win32
check "bare machine, 32-bit host: adds the i386 architecture before apt-get update" \
    bash -c "grep -n . '$work/log' | grep -E '^1:dpkg --print-foreign|^2:dpkg --add-architecture i386$|^3:apt-get update' | wc -l | grep -qx 3"

run win64
check "bare machine, 64-bit-only host: exits 0" status_is 0
check "bare machine, 64-bit-only host: installs every package, no wine32" want_all win64
check "bare machine, 64-bit-only host: leaves the i386 architecture alone" not_logged i386

run win64 "${needed[@]}"
check "everything present: apt untouched" bash -c "[ ! -s '$work/log' ] && [ $status -eq 0 ]"

run win64 "${needed[@]:3}"
check "some present: only the missing ones are installed" \
    bash -c "[ \"\$(sed -n 's/^apt-get install .*--force-confold //p' '$work/log')\" = '${needed[*]:0:3}' ]"

echo update >"$work/fail"
run win64
check "apt-get update fails: non-zero exit" bash -c "[ $status -ne 0 ]"
check "apt-get update fails: one line names the step and the command" \
    says 'setup: FAILED at apt-get update: `apt-get update -q` failed; check that the package registry'
check "apt-get update fails: nothing installed" not_logged "apt-get install"

echo install >"$work/fail"
run win64 "${needed[@]:1}"
check "apt-get install fails: non-zero exit" bash -c "[ $status -ne 0 ]"
check "apt-get install fails: one line names the packages and the command" \
    says 'setup: FAILED at apt-get install of cmake: `apt-get install -y cmake` failed'
: >"$work/fail"

summary
