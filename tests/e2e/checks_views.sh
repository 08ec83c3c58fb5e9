#!/usr/bin/env bash
# The Win32 views of the environment checks on wine, in one run of checks_probe.exe: the version
# query, the account database, every base folder, the default destination of every kind, the
# run-after folders, and the .NET registry view over the framework states the probe sets up.
#   checks_views.sh DIST_DIR
set -uo pipefail
dist=${1:?usage: checks_views.sh DIST_DIR}
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=/dev/null
. "$root/scripts/wine-env"

work=$(mktemp -d)
export WINEPREFIX="$work/pfx"
cleanup() { mw_wine_end "$WINEPREFIX"; rm -rf "$work"; }
trap cleanup EXIT
mw_wine_prefix "$WINEPREFIX"

cp "$dist/checks_probe.exe" "$WINEPREFIX/drive_c/"
timeout 300 wine 'C:\checks_probe.exe' 'C:\probe.txt' >/dev/null 2>&1
out="$WINEPREFIX/drive_c/probe.txt"
if [ ! -s "$out" ]; then
  echo "FAIL: the probe wrote nothing" >&2
  exit 1
fi
tr -d '\r' <"$out" >"$work/probe.txt"
cat "$work/probe.txt"

failures=0
value() { sed -n "s/^$1=//p" "$work/probe.txt"; }
expect() {  # name expected
  local got
  got=$(value "$1")
  if [ "$got" != "$2" ]; then
    echo "FAIL: $1 is '$got', expected '$2'" >&2
    failures=$((failures + 1))
  fi
}
expect_match() {  # name extended-regex (case-insensitive)
  local got
  got=$(value "$1")
  if ! printf '%s' "$got" | grep -qiE "$2"; then
    echo "FAIL: $1 is '$got', expected to match $2" >&2
    failures=$((failures + 1))
  fi
}

# Wine's account database rates every account a guest (level 0); its token carries the
# Administrators group, which is what lets it pass.
expect admin.member 1

expect_match folder.windows '^C:\\windows$'
expect_match folder.system '^C:\\windows\\system32$'
expect_match folder.programFiles '^C:\\Program Files'
expect_match folder.commonFiles '^C:\\Program Files.*\\Common Files$'
expect_match folder.userProfile '^C:\\users\\[^\\]+$'
expect_match folder.appData '^C:\\users\\[^\\]+\\AppData\\Roaming$'
expect_match folder.documents '^[A-Z]:\\.+'
expect_match folder.desktop '^[A-Z]:\\.+'
expect_match folder.current '^[A-Z]:\\'
expect folder.windows.room4 0

# Every kind composes the folder its query answered, the drive alone for kind 1.
win=$(value folder.windows)
expect destination.0 'Acme Tool'
expect destination.1 "${win:0:2}\\Acme Tool"
expect destination.2 "$(value folder.programFiles)\\Acme Tool"
expect destination.3 "$(value folder.commonFiles)\\Acme Tool"
expect destination.4 "$win\\Acme Tool"
expect destination.5 "$(value folder.system)\\Acme Tool"
expect destination.6 "$(value folder.userProfile)\\Acme Tool"
expect destination.7 "$(value folder.appData)\\Acme Tool"
expect destination.8 "$(value folder.documents)\\Acme Tool"
expect destination.9 "$(value folder.desktop)\\Acme Tool"
current=$(value folder.current)
expect destination.10 "$current\\Acme Tool"
expect destination.11 'Acme Tool'

expect run.2.file "$(value folder.programFiles)\\tool.exe"
expect run.3.file "$win\\tool.exe"
expect run.4.file "$(value folder.system)\\tool.exe"
for k in 2 3 4; do expect "run.$k.parameters" /quiet; done

# The framework keys, from none to 4.8.
expect dotnet.nothing 100
expect dotnet.policy 9
expect dotnet.v2v35 5
expect dotnet.v4FullWithoutRelease 5
expect dotnet.v40 4
expect dotnet.releaseAsText 4
expect dotnet.release460798 1
expect dotnet.release528040 0
expect dotnet.removed 100

if [ "$failures" -ne 0 ]; then
  echo "checks_views: $failures failure(s)" >&2
  exit 1
fi
echo "checks_views: all passed"
