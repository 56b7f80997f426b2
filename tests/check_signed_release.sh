#!/usr/bin/env bash
# Signs releases with a throwaway authority and certificates made here (none
# is kept), in a snapshot of the tree, so build/release and dist/ stay the
# unsigned release's. Each bad input ends scripts/release with its error and
# no zip, even where an earlier run's zip lay; a good certificate gives a zip
# that check_release.sh verifies against the authority and runs under Wine,
# and whose .exe without its signature is the unsigned release's.
# usage: check_signed_release.sh [UNSIGNED-ZIP]   (default: the one in dist/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

fail() { echo "signed release check: $*"; exit 1; }

version=$(sed -n 's/^project(vorkelbraith-remover VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
zip=dist/vorkelbraith-remover-$version-win64.zip
unsigned=$(realpath -m -- "${1:-$root/$zip}")
[ -f "$unsigned" ] || fail "no $unsigned: run scripts/release first"
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}"

work=$(mktemp -d /tmp/vorkel-signed-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir src
tar -C "$root" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C src -xf -

printf 'test password\n' >password
printf 'not it\n' >wrong
printf 'test password\r\n' >crlf
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=Vorkel\ test\ CA -days 2 -keyout ca.key -out ca.pem 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj /CN=Vorkel\ test\ signer -keyout key.pem -out key.csr 2>/dev/null
issue() {  # name, extended key usage, days valid, [pkcs12 option]: name.p12, one key for all
  openssl x509 -req -in key.csr -CA ca.pem -CAkey ca.key -days "$3" -extfile <(echo "extendedKeyUsage=$2") 2>/dev/null |
    openssl pkcs12 -export ${4:+"$4"} -inkey key.pem -certfile ca.pem -passout file:password -out "$1.p12"
}
issue good codeSigning 2
issue server serverAuth 2
issue expired codeSigning -1 -legacy  # expired yesterday, in the older tools' PKCS#12

# scripts/release's options | what its error says
rows=(
  "--sign missing.p12 --password-file password|cannot read the certificate"
  "--sign ca.pem --password-file password|cannot read .*ca.pem as PKCS#12"
  "--sign good.p12 --password-file missing|cannot read the password file"
  "--sign good.p12 --password-file wrong|wrong password"
  "--sign good.p12 --password-file crlf|alone on one line"
  "--sign server.p12 --password-file password|not for code signing"
  "--sign expired.p12 --password-file password|expired on"
  "--sign good.p12 --password-file password --timestamp http://127.0.0.1:1/|signing failed (with a time stamp"
)
for row in "${rows[@]}"; do
  mkdir -p src/dist && echo "an earlier run's" >"src/$zip"
  # shellcheck disable=SC2086  # the options hold no spaces
  ! src/scripts/release ${row%%|*} >out 2>err && grep -q "^release: .*${row#*|}" err &&
    [ ! -e "src/$zip" ] && ! grep -q 'test password' out err ||
    fail "release ${row%%|*}: expected '${row#*|}' and no zip: $(cat err)"
done
echo "signed release check: ${#rows[@]} bad inputs refused, no zip left"

src/scripts/release --sign good.p12 --password-file password >out 2>err &&
  ! grep -q 'test password' out err || fail "release: $(cat out err)"
sed -n 's/^release: signed/signed release check: signed/p' out
bash "$root/tests/check_release.sh" --ca ca.pem "src/$zip"
unzip -q -d signed "src/$zip" vorkelbraith-remover.exe
unzip -q -d unsigned "$unsigned" vorkelbraith-remover.exe
src/scripts/compare-signed signed/vorkelbraith-remover.exe unsigned/vorkelbraith-remover.exe
