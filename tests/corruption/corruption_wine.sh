#!/usr/bin/env bash
# A sample of the corruption campaign's variants run for real under wine:
#   corruption_wine.sh CORRUPTION_TEST INSTALLER DIST WORKDIR
# Each damaged installer runs with "/s C:\Dest" under the test driver, which answers every
# question with its stopping answer. Every run must end by itself (no crash dialog, no hang)
# with one of the documented silent-mode exit codes, and nothing may appear in the prefix's
# C: drive outside the destination, the users' folders (shortcuts, temporary files) and
# ProgramData (everyone's Start menu).
set -euo pipefail
tool=$1 installer=$2 dist=$3 work=$4
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine-env"
mw_wine_display

rm -rf "$work"
mkdir -p "$work"
"$tool" "$installer" --write-variants "$work/variants" 20 > "$work/kinds.txt"
prefix="$work/prefix"
mw_wine_prefix "$prefix"
trap 'mw_wine_end "$prefix"; mw_wine_display_end' EXIT
export WINEPREFIX="$prefix"
cp "$dist/mw_driver.exe" "$work/"

declare -A counts
failed=0
for v in "$work"/variants/*.exe; do
  name=$(basename "$v")
  kind=$(grep "^$name:" "$work/kinds.txt" | cut -d: -f2-)
  touch "$work/before"
  set +e
  (cd "$work" && timeout 300 wine mw_driver.exe --timeout 240 --stop-boxes -- "$v" '/s C:\Dest' > "$work/$name.log" 2>&1)
  code=$?
  set -e
  outside=$(find "$prefix/drive_c" \( -path "$prefix/drive_c/Dest" -o -path "$prefix/drive_c/users" -o -path "$prefix/drive_c/ProgramData" -o -path "$prefix/drive_c/windows" \) -prune -o -newer "$work/before" -print | grep -v "^$prefix/drive_c\$" || true)
  verdict="exit $code"
  case $code in
    0|1|2|3|4|6|7) ;;
    *) verdict="$verdict: DEFECT (not a documented outcome)"; failed=$((failed + 1)) ;;
  esac
  if [ -n "$outside" ]; then
    verdict="$verdict: DEFECT, written outside the destination: $outside"
    failed=$((failed + 1))
  fi
  counts[$code]=$(( ${counts[$code]:-0} + 1 ))
  echo "$name ($kind): $verdict"
  rm -rf "$prefix/drive_c/Dest"
done
echo "outcomes under wine:"
for c in "${!counts[@]}"; do echo "  exit $c: ${counts[$c]}"; done
total=$(ls "$work"/variants/*.exe | wc -l)
echo "$((total - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
