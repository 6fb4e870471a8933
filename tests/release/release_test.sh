#!/bin/bash
# The release steps as a vendor runs them, without a time-stamping server:
#   release_test.sh <source tree> <shipped program> <scratch folder>
# A throwaway code-signing authority and certificate are made in the scratch folder; the
# sources are copied into a clone there (another path, a commit of its own), and that
# clone's tools/release builds, checks, signs and verifies.
set -u
source=$1 shipped=$2 scratch=$3
clone=$scratch/clone pki=$scratch/pki out=$scratch/out
failures=0

pass() { echo "ok: $1"; }
fault() { echo "FAIL: $1"; failures=$((failures + 1)); }
expect() { # expect <what> <command...>: the command succeeds
  if "${@:2}" >"$scratch/expect.log" 2>&1; then pass "$1"; else cat "$scratch/expect.log"; fault "$1"; fi
}
refute() { # refute <what> <command...>: the command fails
  if "${@:2}" >/dev/null 2>&1; then fault "$1"; else pass "$1"; fi
}
sha() { sha256sum <"$1" | cut -d' ' -f1; }

mkdir -p "$scratch" || exit 1
rm -rf "$pki" "$out" && mkdir -p "$pki" || exit 1

# The certificate's password is made here and never printed.
VELTO_SIGN_PASSWORD=$(openssl rand -hex 16)
export VELTO_SIGN_PASSWORD
(
  set -e
  cd "$pki"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=Velto Test Signing Authority" -addext "basicConstraints=critical,CA:true" \
    -addext "keyUsage=critical,keyCertSign,cRLSign"
  openssl req -new -newkey rsa:2048 -nodes -keyout vendor.key -out vendor.csr -subj "/CN=Velto Test Vendor"
  printf '%s\n' "basicConstraints=CA:false" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=codeSigning" >vendor.ext
  openssl x509 -req -in vendor.csr -CA ca.pem -CAkey ca.key -set_serial "0x$(openssl rand -hex 8)" -days 2 \
    -extfile vendor.ext -out vendor.pem
  openssl pkcs12 -export -inkey vendor.key -in vendor.pem -certfile ca.pem -out vendor.p12 \
    -passout env:VELTO_SIGN_PASSWORD
  rm -f ca.key vendor.key vendor.csr
) >/dev/null 2>&1 || { echo "FAIL: the throwaway certificate could not be made"; exit 1; }

# The clone: what the shipped build is made of, committed. Copies keep their times, so
# its build tree rebuilds only what changed since the last run.
mkdir -p "$clone" || exit 1
for item in CMakeLists.txt CMakePresets.json .gitignore cmake src tools; do
  rm -rf "${clone:?}/$item" && cp -a "$source/$item" "$clone/" || exit 1
done
[ -d "$clone/.git" ] || git -C "$clone" init -q || exit 1
git -C "$clone" add -A && if [ -n "$(git -C "$clone" status --porcelain)" ]; then
  GIT_AUTHOR_DATE=2026-01-02T03:04:05Z GIT_COMMITTER_DATE=2026-01-02T03:04:05Z \
    git -C "$clone" -c user.name=release-test -c user.email=release-test@127.0.0.1 \
    commit -q -m "sources under test" || exit 1
fi

# Two public keys of P-256, made once per scratch folder; the second in capitals, as a
# vendor may paste it.
for n in 1 2; do
  [ -s "$scratch/key$n.pub" ] && continue
  rm -f "$scratch/key$n.pem"
  "$source/tools/velto-publish" keygen "$scratch/key$n.pem" >"$scratch/key$n.pub" || exit 1
done
key1=$(cat "$scratch/key1.pub") key2=$(tr a-f A-F <"$scratch/key2.pub")
off_curve=$(printf '1%.0s' {1..128})

# refusals: rows on stdin, what|environment|arguments|what the refusal says. A refused
# release leaves the output folder as it was (absent, or the earlier release).
refusals() {
  local what environment arguments message before
  while IFS='|' read -r what environment arguments message; do
    before=$(sha "$out/VeltoSetup.exe" 2>/dev/null)
    if env $environment "$clone/tools/release" $arguments >"$scratch/refused.log" 2>&1; then
      fault "$what: released"
    elif ! grep -q "$message" "$scratch/refused.log"; then
      cat "$scratch/refused.log"; fault "$what: not refused for its reason"
    elif [ "$(sha "$out/VeltoSetup.exe" 2>/dev/null)" != "$before" ]; then
      fault "$what: the output folder changed"
    else
      pass "$what: refused"
    fi
  done
}
signing="--certificate $pki/vendor.p12 --ca-file $pki/ca.pem --out $out"

# Refused before anything is built.
echo "local change" >>"$clone/.gitignore"
refusals <<EOF
uncommitted change||$signing|uncommitted changes
EOF
git -C "$clone" checkout -q -- .gitignore
refusals <<EOF
no password|-u VELTO_SIGN_PASSWORD|$signing|VELTO_SIGN_PASSWORD is not set
no certificate||--out $out|no certificate
a key of 127 digits||$signing --keys ${key1:1}|not a public key
a key that is no point of P-256||$signing --keys $off_curve|not a public key
a compiler setting||$signing -DCMAKE_CXX_FLAGS=-O0|not a setting of the project
an output folder that is not a release||$signing --out $clone|holds more than a release
EOF

# With the shipped tree's settings (the presets set none; a developer may have given it keys
# or base URLs): the clone's program is linked now, in another folder than the shipped one
# and later than it, and must be the same bytes.
shipped_keys= settings=()
while IFS='=' read -r name value; do
  case ${name%%:*} in
    VELTO_UPDATE_PUBLIC_KEYS) shipped_keys=$value ;;
    VELTO_PRODUCTION_BASE_URL | VELTO_TEST_BASE_URL) settings+=("-D${name%%:*}=$value") ;;
  esac
done < <(grep '^VELTO_' "$(dirname "$shipped")/../../CMakeCache.txt")
rm -f "$clone/build/release/src/app/VeltoSetup.exe"
expect "released with the shipped tree's settings" \
  "$clone/tools/release" $signing --keys "$shipped_keys" "${settings[@]}"
refute "the password stays out of the release's output" grep -qF "$VELTO_SIGN_PASSWORD" "$scratch/expect.log"
expect "SHA256SUMS lists the signed program" sh -c "cd '$out' && sha256sum -c SHA256SUMS"
expect "COMMIT is the clone's commit" \
  test "$(cat "$out/COMMIT" 2>/dev/null)" = "$(git -C "$clone" rev-parse HEAD)"
expect "the signature verifies" osslsigncode verify -CAfile "$pki/ca.pem" -in "$out/VeltoSetup.exe"
built=$(sed -n 's/^unsigned sha256 //p' "$out/BUILD-INFO" 2>/dev/null)
echo "shipped program      $(sha "$shipped") $shipped"
echo "clone's, unsigned    ${built:-?} $clone/build/release/src/app/VeltoSetup.exe"
echo "signed release       $(sha "$out/VeltoSetup.exe" 2>/dev/null)"
expect "the same commit built in another folder gives the same bytes" test "$built" = "$(sha "$shipped")"
rm -f "$scratch/unsigned.exe"
osslsigncode remove-signature -in "$out/VeltoSetup.exe" -out "$scratch/unsigned.exe" >/dev/null 2>&1
expect "signing changed only the signature" cmp "$scratch/unsigned.exe" "$shipped"
python3 -c 'import sys; b = bytearray(open(sys.argv[1], "rb").read()); b[len(b) // 2] ^= 1
open(sys.argv[2], "wb").write(b)' "$out/VeltoSetup.exe" "$scratch/flipped.exe"
refute "a program with one byte flipped does not verify" \
  osslsigncode verify -CAfile "$pki/ca.pem" -in "$scratch/flipped.exe"
check=$source/tools/check-program
expect "the signed program keeps its PE flags" "$check" --keys "$shipped_keys" "$out/VeltoSetup.exe"
refute "the version resource's revision is read" "$check" --revision 9999 "$out/VeltoSetup.exe"

# With keys: the program holds exactly them, read back from the signed release.
expect "released with two keys" "$clone/tools/release" $signing --keys "$key1;$key2"
expect "the signed program holds the two keys" "$check" --keys "$key1 $key2" "$out/VeltoSetup.exe"
expect "the keyed release verifies" osslsigncode verify -CAfile "$pki/ca.pem" -in "$out/VeltoSetup.exe"

# Refused once built (with the keyed release's build settings, so nothing is rebuilt): keys
# that do not match what was asked, and a wrong password.
refusals <<EOF
one key asked, two built||$signing --keys $key1 -DVELTO_UPDATE_PUBLIC_KEYS=$key1;$key2|refused to sign
wrong password|VELTO_SIGN_PASSWORD=wrong-$VELTO_SIGN_PASSWORD|$signing --keys $key1;$key2|signing failed
EOF

[ $failures -eq 0 ] && echo "all release checks passed" || echo "$failures release checks failed"
exit $((failures > 0))
