#!/usr/bin/env bash
# scripts/sign with a key in a real software token and with a .pfx, as a release is signed:
#   tests/sign/run.sh [BUILD_DIR]
# A test CA issues a code-signing certificate, whose key SoftHSM (Debian's softhsm2) holds,
# and a time-stamping certificate for a local RFC 3161 responder (openssl ts behind a small
# HTTP server on 127.0.0.1). scripts/sign signs a copy of BUILD_DIR's nbmonitor.exe (build/win
# by default) through the token's PKCS#11 library with a timestamp; osslsigncode verifies it
# against the test CA. No network, a few seconds.
# Prints "N passed, M failed" last; exit status 1 on any failure.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build/win}" 2>/dev/null && pwd) || build=${1:-}
work=$root/build/sign-test
# shellcheck source=../check.sh
. "$root/tests/check.sh"
module=/usr/lib/softhsm/libsofthsm2.so
exe=$build/nbmonitor.exe
[ -f "$exe" ] || exe=$root/build/win/nbmonitor.exe
if [ ! -f "$exe" ] || [ ! -f "$module" ] || ! command -v softhsm2-util >/dev/null; then
    check "an exe to sign ($exe) and SoftHSM (scripts/setup installs softhsm2)" false
    summary
    exit
fi
rm -rf "$work"
mkdir -p "$work/tokens"
cd "$work" || exit 1
unset NB_SIGN_PFX NB_SIGN_PASSWORD NB_SIGN_PKCS11_MODULE NB_SIGN_KEY NB_SIGN_CERT NB_SIGN_TIMESTAMP_URL NB_SIGN_NO_TIMESTAMP

# The test CA, the signer's and the time-stamping authority's certificates.
ssl() { openssl "$@" >>openssl.log 2>&1; }
issue() { # issue NAME EXTENSIONS: NAME.key and NAME.pem, issued by the CA
    ssl req -newkey rsa:2048 -nodes -subj "/CN=nbmonitor test $1" -keyout "$1.key" -out "$1.csr" &&
        printf '%s\n' "$2" >"$1.ext" &&
        ssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile "$1.ext" -out "$1.pem"
}
ssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=nbmonitor test CA" -keyout ca.key -out ca.pem \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign &&
    issue signer "extendedKeyUsage=codeSigning" &&
    issue tsa "extendedKeyUsage=critical,timeStamping"
check "test CA, code-signing and time-stamping certificates (openssl)" test -s signer.pem -a -s tsa.pem

# The token: its key imported, the certificate left as a file, as a cloud signer hands it out.
export SOFTHSM2_CONF=$work/softhsm2.conf
printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\n' "$work" >"$SOFTHSM2_CONF"
ssl pkcs8 -topk8 -nocrypt -in signer.key -out signer.p8
softhsm2-util --init-token --free --label nbtest --so-pin 4321 --pin 1234 >softhsm.log 2>&1 &&
    softhsm2-util --import signer.p8 --token nbtest --label signer --id 01 --pin 1234 >>softhsm.log 2>&1
check "SoftHSM token nbtest holds the signer's key" test $? -eq 0

# The RFC 3161 responder: each POSTed query answered by openssl ts.
cat >tsa.cnf <<'EOF'
[tsa]
default_tsa = nbtest
[nbtest]
serial = ./tsa.serial
crypto_device = builtin
default_policy = 1.2.3.4.1
signer_digest = sha256
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
EOF
echo 01 >tsa.serial
cat >tsa.py <<'EOF'
import http.server, subprocess, sys
class Tsa(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        open("query.tsq", "wb").write(self.rfile.read(int(self.headers["Content-Length"])))
        subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", "query.tsq",
                        "-inkey", "tsa.key", "-signer", "tsa.pem", "-out", "reply.tsr"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        reply = open("reply.tsr", "rb").read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
        open("answered", "a").write("1\n")
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Tsa)
print(server.server_port, flush=True)
server.serve_forever()
EOF
coproc TSA { exec python3 tsa.py 2>tsa.log; }
tsa_pid=$TSA_PID
trap 'kill "$tsa_pid" 2>/dev/null' EXIT
read -r -t 10 port <&"${TSA[0]}"
check "time-stamping responder listens on 127.0.0.1:${port:-?}" test -n "${port:-}"

verify() { # verify FILE: a valid signature chained to the test CA
    osslsigncode verify -CAfile ca.pem -TSA-CAfile ca.pem -in "$1" >verify.log 2>&1 ||
        { tail -n 5 verify.log | sed 's/^/     /'; return 1; }
}
pkcs11=(NB_SIGN_PKCS11_MODULE=$module "NB_SIGN_KEY=pkcs11:token=nbtest;object=signer;type=private"
        NB_SIGN_CERT=$work/signer.pem NB_SIGN_PASSWORD=1234)

cp "$exe" token.exe
env "${pkcs11[@]}" NB_SIGN_TIMESTAMP_URL=http://127.0.0.1:$port/ "$root/scripts/sign" token.exe >sign.log 2>&1
check "PKCS#11: scripts/sign signs through the token, time-stamped" test $? -eq 0 -a -s answered
check "PKCS#11: the signature verifies against the test CA, with the responder's time" \
    bash -c "$(declare -f verify); verify token.exe && grep -q 'Timestamp Server Signature verification: ok' verify.log"
check "PKCS#11: stripped of its signature, the exe is the unsigned one again" \
    bash -c 'osslsigncode remove-signature -in token.exe -out stripped.exe >/dev/null 2>&1 && cmp -s "$1" stripped.exe' _ "$exe"

cp "$exe" unstamped.exe
env "${pkcs11[@]}" "$root/scripts/sign" unstamped.exe >refused.log 2>&1
check "no timestamp server and no --no-timestamp: refused, the exe unchanged" \
    bash -c '[ $1 -ne 0 ] && grep -q NB_SIGN_TIMESTAMP_URL refused.log && cmp -s "$2" unstamped.exe' _ $? "$exe"
env "${pkcs11[@]}" "$root/scripts/sign" --no-timestamp unstamped.exe >>sign.log 2>&1 && verify unstamped.exe
check "--no-timestamp: signed without a time, verifies" test $? -eq 0

cp "$exe" wrongpin.exe
env "${pkcs11[@]}" NB_SIGN_PASSWORD=0000 "$root/scripts/sign" --no-timestamp wrongpin.exe >wrongpin.log 2>&1
check "a wrong PIN: refused, the exe unchanged" bash -c '[ $1 -ne 0 ] && cmp -s "$2" wrongpin.exe' _ $? "$exe"

ssl pkcs12 -export -inkey signer.key -in signer.pem -passout pass:throwaway -out signer.pfx
cp "$exe" pfx.exe
NB_SIGN_PFX=signer.pfx NB_SIGN_PASSWORD=throwaway NB_SIGN_TIMESTAMP_URL=http://127.0.0.1:$port/ \
    "$root/scripts/sign" pfx.exe >>sign.log 2>&1 && verify pfx.exe
check "a .pfx still signs, time-stamped, and verifies" test $? -eq 0

summary
