#!/usr/bin/env bash
# The environment checks inside real installers on wine: the operating-system gate under the
# versions wine reports (XP refused with the exact message, in the wizard and silently; Windows 10
# accepted), the .NET requirement over framework keys written with `wine reg` (not met with the
# OK-only box, not met with the Yes/No box whose Yes opens the framework installer, met), and the
# administrator requirement, which wine's account meets. One prefix for all of it; every run is
# bounded by the driver's own time-outs and an outer timeout.
#   checks_stub.sh DIST_DIR [MARLOWICK]
# Needs DISPLAY (message boxes); scripts/test provides one.
set -uo pipefail
dist=${1:?usage: checks_stub.sh DIST_DIR [MARLOWICK]}
marlowick=${2:-$dist/marlowick}
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=/dev/null
. "$root/scripts/wine-env"

if [ -z "${DISPLAY:-}" ]; then
  echo "checks_stub: needs DISPLAY for the message boxes" >&2
  exit 1
fi

work=$(mktemp -d)
export WINEPREFIX="$work/pfx"
cleanup() { mw_wine_end "$WINEPREFIX"; rm -rf "$work"; }
trap cleanup EXIT
mw_wine_prefix "$WINEPREFIX"
c="$WINEPREFIX/drive_c"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# ---- three installers, one small file each
mkdir -p "$work/payload"
printf 'checked\r\n' >"$work/payload/readme.txt"
project() {  # NAME REQUIREMENTS...
  local name=$1
  shift
  {
    printf '[product]\nname = "Checks %s"\n' "$name"
    printf '[destination]\nkind = "absolute"\npath = "C:\\\\checks-%s"\n' "$name"
    printf '[requirements]\n'
    printf '%s\n' "$@"
    printf '[[files]]\nsource = "payload/readme.txt"\n'
  } >"$work/$name.toml"
  if ! "$marlowick" build -q --stub "$dist/stub.exe" --uninstaller "$dist/uninstaller.exe" \
      -o "$c/$name.exe" "$work/$name.toml"; then
    echo "checks_stub: could not build $name.exe" >&2
    exit 1
  fi
}
project gate 'minimum-os = "windows-7"'
project dotnet 'dotnet = "4.0"' 'administrator = true'
project offer 'dotnet = "4.6"' 'dotnet-installer = "C:\\checks_marker.exe"'
cp "$dist/mw_driver.exe" "$dist/checks_marker.exe" "$c/"

# Runs the driver with STEPS... -- PROGRAM ARGS; the log (CR stripped) goes to $work/NAME.log.
drive() {  # NAME STEPS... -- PROGRAM [ARGS...]
  local name=$1 started=$SECONDS
  shift
  timeout 600 wine 'C:\mw_driver.exe' --timeout 500 --step-timeout 60 "$@" 2>/dev/null | tr -d '\r' >"$work/$name.log"
  local status=${PIPESTATUS[0]}
  echo "--- $name (driver exit $status, $((SECONDS - started)) s)"
  cat "$work/$name.log"
  return "$status"
}
# Imports registry text (REGEDIT4) into the 32-bit view, the one the installers read.
wine_reg_import() {  # NAME TEXT
  local started=$SECONDS
  printf 'REGEDIT4\n\n%s\n' "$2" >"$c/$1.reg"
  timeout 300 wine reg import "C:\\$1.reg" /reg:32 >/dev/null 2>&1 || fail "wine reg import $1"
  echo "--- reg import $1 ($((SECONDS - started)) s)"
}

# Whether the installer NAME registered itself with the system's list of programs.
registered() {  # NAME
  timeout 300 wine reg query \
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Checks $1" /v DisplayName \
    /reg:32 >/dev/null 2>&1
}
# A refusal leaves nothing behind: no folder, no registration.
expect_untouched() {  # NAME
  [ -e "$c/checks-$1" ] && fail "$1: the refused installer created C:\\checks-$1"
  registered "$1" && fail "$1: the refused installer registered itself"
  return 0
}
expect_installed() {  # NAME
  [ -f "$c/checks-$1/readme.txt" ] || fail "$1: C:\\checks-$1\\readme.txt was not installed"
  registered "$1" || fail "$1: the installer did not register itself"
}

gate_text='This program does not support your operating system.\r\nPlease refer to the system requirements in the program'"'"'s documentation.'

# ---- Windows XP: the Windows 7 installer refuses, in the wizard and silently
wine_reg_import winxp '[HKEY_CURRENT_USER\Software\Wine]
"Version"="winxp"'

drive gate-xp-wizard box-text "$gate_text" OK exit 0 -- 'C:\gate.exe'
[ $? -eq 0 ] || fail "gate-xp-wizard: the refusal was not shown as expected"
grep -q '^box caption="Error" text=".*" buttons=OK answer=OK$' "$work/gate-xp-wizard.log" ||
  fail "gate-xp-wizard: not an OK-only box captioned Error"

drive gate-xp-silent box-text "$gate_text" OK exit 2 -- 'C:\gate.exe' /s
[ $? -eq 2 ] || fail "gate-xp-silent: expected the refusal and exit code 2"
expect_untouched gate

# .NET not met, no installer offered: the OK-only box names the required version. (XP passes
# this installer's gate: it asks for no minimum.)
dotnet_text='This installation requires the .NET Framework version 4.0 and above.\r\nPlease install the .NET Framework and run this setup again.'
drive dotnet-none box-text "$dotnet_text" OK exit 2 -- 'C:\dotnet.exe' /s
[ $? -eq 2 ] || fail "dotnet-none: expected the OK-only refusal and exit code 2"
grep -q 'buttons=OK answer=OK' "$work/dotnet-none.log" || fail "dotnet-none: not an OK-only box"
expect_untouched dotnet

# .NET not met with an installer: Yes opens it, and the installer ends without installing.
offer_text='This installation requires the .NET Framework version 4.6 and above.\r\nPlease install the .NET Framework and run this setup again.\r\n\r\nWould you like to install it now?'
rm -f "$c/checks_marker.txt"
drive offer-yes box-text "$offer_text" Yes exit 2 -- 'C:\offer.exe' /s
[ $? -eq 2 ] || fail "offer-yes: expected the Yes/No refusal and exit code 2"
grep -q 'buttons=Yes,No answer=Yes' "$work/offer-yes.log" || fail "offer-yes: not a Yes/No box"
for _ in $(seq 1 60); do
  [ -e "$c/checks_marker.txt" ] && break
  sleep 1
done
if [ -e "$c/checks_marker.txt" ]; then
  grep -qi 'checks_marker' "$c/checks_marker.txt" || fail "offer-yes: the marker names another program"
else
  fail "offer-yes: the framework installer was not opened"
fi
expect_untouched offer

# ---- Windows 10 and framework 4.0 (found through the NDP subkeys): everything passes
ndp='HKEY_LOCAL_MACHINE\Software\Microsoft\NET Framework Setup\NDP'
wine_reg_import win10-net40 "[HKEY_CURRENT_USER\Software\Wine]
\"Version\"=\"win10\"

[$ndp\v2.0.50727]

[$ndp\v3.5]

[$ndp\v4.0]"

drive gate-win10 --stop-boxes exit 0 -- 'C:\gate.exe' /s
[ $? -eq 0 ] || fail "gate-win10: the Windows 7 installer did not install on Windows 10"
expect_installed gate

# The administrator requirement is met by wine's account, and 4.0 meets the 4.0 requirement.
drive dotnet-met --stop-boxes exit 0 -- 'C:\dotnet.exe' /s
[ $? -eq 0 ] || fail "dotnet-met: the installer did not install with framework 4.0 present"
expect_installed dotnet
grep -q '^box ' "$work/gate-win10.log" "$work/dotnet-met.log" && fail "a passing check showed a box"

if [ "$failures" -ne 0 ]; then
  echo "checks_stub: $failures failure(s)" >&2
  exit 1
fi
echo "checks_stub: all passed"
