#!/usr/bin/env bash
# The Windows build of the decompressor under wine: decode_probe.exe decodes stored streams of
# real files (a licence text, the first MiB of a program in blocks of 100k so that later blocks
# start at odd bit positions, and a 3-byte file whose block has its own check), each in one
# call and in small pieces; the outputs must equal the files. One wine run for everything.
#   wine_decode_test.sh DIST_DIR STORE_TOOL
set -uo pipefail
dist=${1:?usage: wine_decode_test.sh DIST_DIR STORE_TOOL}
store=${2:?usage: wine_decode_test.sh DIST_DIR STORE_TOOL}
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=/dev/null
. "$root/scripts/wine-env"

work=$(mktemp -d)
export WINEPREFIX="$work/pfx"
cleanup() { mw_wine_end "$WINEPREFIX"; rm -rf "$work"; }
trap cleanup EXIT
mw_wine_prefix "$WINEPREFIX"
dir="$WINEPREFIX/drive_c/dp"
mkdir -p "$dir"

cp /usr/share/common-licenses/GPL-3 "$dir/1.orig"
head -c 1048576 /bin/bash >"$dir/2.orig"
printf 'abc' >"$dir/3.orig"
"$store" "$dir/1.orig" "$dir/1.in" 9 && "$store" "$dir/2.orig" "$dir/2.in" 1 &&
  "$store" "$dir/3.orig" "$dir/3.in" 9 || { echo "wine_decode_test: cannot store the inputs" >&2; exit 1; }
cp "$dist/decode_probe.exe" "$WINEPREFIX/drive_c/"

timeout 600 wine 'C:\decode_probe.exe' 'C:\dp\1.in' 'C:\dp\1.out' 'C:\dp\2.in' 'C:\dp\2.out' \
  'C:\dp\3.in' 'C:\dp\3.out'
status=$?
failures=0
if [ "$status" -ne 0 ]; then
  echo "FAIL: decode_probe.exe exited with $status (16 x pair + failure kind)" >&2
  failures=1
fi
for n in 1 2 3; do
  if ! cmp -s "$dir/$n.orig" "$dir/$n.out"; then
    echo "FAIL: stream $n decoded under wine differs from its file" >&2
    failures=1
  fi
done
[ "$failures" -eq 0 ] && echo "wine_decode_test: 3 streams decoded under wine, in one call and in pieces"
exit "$failures"
