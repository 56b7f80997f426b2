#!/usr/bin/env bash
# Two clean builds of the Windows preset must give the same .exe byte for
# byte: the same sources at two different absolute paths, each built into its
# own temporary build folder, at different times, the second with another
# time zone, locale and umask, and without SOURCE_DATE_EPOCH: nothing in the
# .exe may depend on when it was built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

work=$(mktemp -d /tmp/vorkel-repro-XXXXXX)
trap 'rm -rf "$work"' EXIT

# One snapshot of the tree (with the fetched pugixml source), so that edits
# made meanwhile cannot reach one build and not the other; then a copy of it.
first=$work/src
copy=$work/elsewhere/a-longer-path/vorkelbraith-remover
mkdir -p "$first" "$(dirname "$copy")"
tar -C "$root" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$first" -xf -
cp -a "$first" "$copy"

build() {  # build-folder; run from the source folder
  cmake --preset windows -B "$1" -DVORKEL_BUILD_TESTS=OFF >"$1.log" 2>&1 &&
    cmake --build "$1" --target vorkelbraith-remover >>"$1.log" 2>&1 ||
    { cat "$1.log"; echo "reproducible: build in $1 failed"; exit 1; }
}

start=$SECONDS
# The first as scripts/release builds, dated by the last commit.
(cd "$first" && export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}" &&
   build "$work/one")
(cd "$copy" && unset SOURCE_DATE_EPOCH && umask 077 && TZ=Asia/Shanghai LC_ALL=C build "$work/two")
echo "reproducible: two builds in $((SECONDS - start)) s"

one=$work/one/vorkelbraith-remover.exe
two=$work/two/vorkelbraith-remover.exe
sha256sum "$one" "$two" | sed "s|$work/||"
if cmp "$one" "$two"; then
  echo "reproducible: the two builds are identical"
else
  echo "reproducible: the two builds differ ($(cmp -l "$one" "$two" | wc -l) bytes)"
  exit 1
fi
