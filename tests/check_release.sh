#!/usr/bin/env bash
# Checks the zip scripts/release made as a user gets it: unpacks it, checks
# what it holds and SHA256SUMS, and runs the .exe under Wine (a throwaway
# Chinese Windows), declining at the first question. With --ca the .exe must
# carry a SHA-256 signature naming the tool that verifies against CA.pem.
# usage: check_release.sh [--ca CA.pem] [ZIP]   (default: dist/ for the version in CMakeLists.txt)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

fail() { echo "release check: $*"; exit 1; }

ca=
[ "${1:-}" != --ca ] || { ca=$(realpath -- "$2"); shift 2; }

version=$(sed -n 's/^project(vorkelbraith-remover VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
zip=${1:-$root/dist/vorkelbraith-remover-$version-win64.zip}
[ -f "$zip" ] || fail "no $zip: run scripts/release first"

work=$(mktemp -d /tmp/vorkel-release-XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
       LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 DISPLAY=
trap '[ -d "$WINEPREFIX" ] && /usr/lib/wine/wineserver64 -k 2>/dev/null; rm -rf "$work"' EXIT

unpacked=$work/unpacked
unzip -q "$zip" -d "$unpacked"
names=$(cd "$unpacked" && ls -A | LC_ALL=C sort | tr '\n' ' ')
[ "$names" = "README-win64.txt SHA256SUMS vorkelbraith-remover.exe " ] ||
  fail "the zip holds '$names', expected README-win64.txt SHA256SUMS vorkelbraith-remover.exe"
(cd "$unpacked" && sha256sum --quiet --strict -c SHA256SUMS) || fail "SHA256SUMS does not verify"
[ "$(grep -c . "$unpacked/SHA256SUMS")" -eq 2 ] || fail "SHA256SUMS should list the .exe and the usage text"

# The usage text: UTF-8 with a byte-order mark, CRLF line ends only.
readme=$unpacked/README-win64.txt
[ "$(head -c 3 "$readme" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "README-win64.txt has no UTF-8 byte-order mark"
iconv -f UTF-8 -t UTF-8 "$readme" >/dev/null 2>&1 || fail "README-win64.txt is not UTF-8"
lf=$(tr -cd '\n' <"$readme" | wc -c)
cr=$(tr -cd '\r' <"$readme" | wc -c)
[ "$lf" -gt 0 ] && [ "$cr" -eq "$lf" ] && [ "$(grep -c $'\r$' "$readme")" -eq "$lf" ] &&
  [ "$(tail -c 1 "$readme" | od -An -tx1 | tr -d ' ')" = 0a ] ||
  fail "README-win64.txt has a line end that is not CRLF"
! grep -q '@VERSION@' "$readme" || fail "README-win64.txt still holds @VERSION@"

exe=$unpacked/vorkelbraith-remover.exe
identity=$(python3 "$root/tests/check_windows_resources.py" "$exe" "$version") || fail "$identity"
signature=""
if [ -n "$ca" ]; then
  osslsigncode verify -CAfile "$ca" -in "$exe" >"$work/verify" 2>&1 ||
    fail "the signature does not verify against $ca: $(grep -v '^Failed$' "$work/verify" | tail -n 2)"
  grep -q '^Message digest algorithm *: SHA256' "$work/verify" &&
    grep -q 'Text description: vorkelbraith-remover$' "$work/verify" ||
    fail "the signature is not SHA-256 or does not name vorkelbraith-remover"
  signature="its signature verifies against $(basename "$ca")"
fi

# Declined at once: the last thing on stdout is the catalogue's
# MsgUserCancelled in GBK, then a newline; nothing on stderr; status 0.
cancelled=$(sed -n 's|^ */\* MsgUserCancelled \*/ "\(.*\)",$|\1|p' "$root/console/messages.cc")
[ -n "$cancelled" ] || fail "MsgUserCancelled not found in console/messages.cc"
printf '%s\n' "$cancelled" | iconv -f UTF-8 -t GBK >"$work/expected"

timeout 300 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || fail "wineboot failed"
status=0
printf 'n' | timeout 120 /usr/lib/wine/wine64 "$exe" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] || fail "the .exe exited with status $status under Wine, expected 0"
[ ! -s "$work/err" ] || fail "the .exe wrote to stderr: $(iconv -f GBK -t UTF-8 "$work/err")"
tail -c "$(wc -c <"$work/expected")" "$work/out" | cmp -s - "$work/expected" ||
  fail "stdout does not end with '$cancelled' and a newline: $(tail -c 80 "$work/out" | iconv -f GBK -t UTF-8 -c)"

echo "release check: $(basename "$zip") holds the .exe, README-win64.txt and SHA256SUMS;" \
     "checksums verify;${signature:+ $signature;} the .exe runs under Wine and ends with '$cancelled'"
