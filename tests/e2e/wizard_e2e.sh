#!/usr/bin/env bash
# The wizard end to end under wine: real installers made by the packager, driven page by page
# by wizard_driver.exe, in one prefix and a handful of driver runs.
#   wizard_e2e.sh DIST_DIR
# DIST_DIR holds marlowick, stub.exe, uninstaller.exe and wizard_driver.exe.
#
# Installers:
#   full   side picture, banner, long licence, live link (hovered and clicked); runs
#          bin\marker.exe from the folder after
#   plain  no side picture, no licence, no title texts, disabled link, a large first file; opens
#          an http address after the installation (handed to a registered stand-in handler)
#   misc   splash picture, restart question, no run-after action
# Runs: full through every page with the destination checks and Back moves, installed; plain
# with the quit question answered No, installed; plain again answered Yes; misc cancelled on
# pages 1, 3 and 4 with the splash measured; misc installed with the restart question answered
# No.
set -uo pipefail
dist=${1:?usage: wizard_e2e.sh DIST_DIR}
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=/dev/null
. "$root/scripts/wine-env"
# shellcheck source=/dev/null
. "$root/tests/e2e/wizard_lib.sh"

work=$(mktemp -d)
export WINEPREFIX="$work/pfx"
cleanup() {
  mw_wine_end "$WINEPREFIX"
  mw_wine_display_end
  rm -rf "$work"
}
trap cleanup EXIT
mw_wine_display
mw_wine_prefix "$WINEPREFIX"
drive_c="$WINEPREFIX/drive_c"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# ---- The three products --------------------------------------------------------------------
art="$root/examples/sample/art"
mkdir -p "$work/full/payload/bin" "$work/full/payload/docs" "$work/plain/payload/bin" \
  "$work/misc/payload"
cp "$dist/wizard_driver.exe" "$work/full/payload/bin/marker.exe"
head -c $((2 * 1024 * 1024)) /dev/urandom >"$work/full/payload/0data.bin"
printf 'Read me first.\r\n' >"$work/full/payload/readme.txt"
printf 'Some documentation.\r\n' >"$work/full/payload/docs/guide.txt"
# Incompressible and first in the table: the installation spends its first seconds on it.
head -c $((6 * 1024 * 1024)) /dev/urandom >"$work/plain/payload/0big.bin"
printf 'Plain.\r\n' >"$work/plain/payload/readme.txt"
cp "$dist/wizard_driver.exe" "$work/plain/payload/bin/marker.exe"
printf 'Misc.\r\n' >"$work/misc/payload/misc.txt"
{
  printf 'These are the terms.\n\nPress Page Down.\n'
  for n in $(seq 1 60); do printf 'Clause %d of the terms.\n' "$n"; done
} >"$work/full/licence.txt"

cat >"$work/full/project.toml" <<EOF
[product]
name = "Wizard Test Full"
[texts]
welcome = "Welcome text of the full product."
licence-file = "licence.txt"
finish = "Finish text of the full product."
[destination]
kind = "absolute"
path = "C:\\\\Apps\\\\Full"
[appearance]
side-picture = "$art/side.bmp"
side-text-colour = "#FFFFFF"
banner = "$art/banner.bmp"
banner-alignment = "right"
header-text-colour = "#0B3D6E"
[link]
text = "Wizard test link"
target = "http://example.invalid/link"
[[files]]
source = "payload"
[after-install]
run = "bin\\\\marker.exe /mark C:\\\\runafter1.txt /x"
run-from = "install-dir"
EOF

cat >"$work/plain/project.toml" <<EOF
[product]
name = "Wizard Test Plain"
caption = "Plain Setup"
[texts]
welcome = "Welcome text of the plain product."
finish = "Finish text of the plain product."
[destination]
kind = "absolute"
path = "C:\\\\Apps\\\\Plain"
[appearance]
header-text-colour = "none"
[link]
text = "Disabled link"
target = ""
[[files]]
source = "payload"
[after-install]
run = "http://example.invalid/page?a=1 /b"
run-from = "url"
EOF

cat >"$work/misc/project.toml" <<EOF
[product]
name = "Wizard Test Misc"
caption = "Misc Setup"
[texts]
welcome = "Welcome text of the misc product."
finish = "Finish text of the misc product."
[destination]
kind = "absolute"
path = "C:\\\\Apps\\\\Misc"
[appearance]
splash = "$art/side.bmp"
splash-seconds = 3
[[files]]
source = "payload"
[after-install]
restart = true
EOF

for p in full plain misc; do
  if ! "$dist/marlowick" build "$work/$p/project.toml" -o "$drive_c/$p.exe" \
      --stub "$dist/stub.exe" --uninstaller "$dist/uninstaller.exe" -q --no-progress; then
    echo "FAIL: the packager refused the $p project" >&2
    exit 1
  fi
done
cp "$dist/wizard_driver.exe" "$drive_c/marker.exe"

# A stand-in web browser: the address the installer opens lands in C:\http.txt.
wine reg add 'HKCR\http\shell\open\command' /ve /d '"C:\marker.exe" /mark C:\http.txt %1' /f \
  >/dev/null 2>&1

# ---- The runs -------------------------------------------------------------------------------
cat >"$work/commands.txt" <<'EOF'
# full: every page, Back moves, the destination check, the installation
run C:\full.exe
wizard 120
dump w1
click 16
dump w2
licence lic
link move
linkstate lf1
link up
linkstate lf2
link move
linkstate lf3
link away
linkstate lf4
link move
linkstate lf5
link away
linkstate lf6
click 17
dump w1b
click 16
click 16
dump w3
browse br1 cancel
dump bc
browse br2 C:\windows
dump bo
type 20 C:
dump dc
type 20 Apps\Full
dump drel
type 20 \Apps\Full
dump dslash
type 20 C:\Apps\Fu|ll
dump dbar
type 20 "C:\Apps\Full
dump dquote
type 20 Q:\Apps
dump dmissing
type 20 \\server\share\x
dump dunc
type 20 C:\
dump droot
type 20 C:\Apps\Full
click 16
dump w4
click 17
dump w3b
click 16
click 16
dump w5
watch inst 141 600
dump w6
click 15
exit 120
# plain: header layout, no titles, quit question answered No
run C:\plain.exe
wizard 120
dump p1
link move
linkstate lfd
link away
click 16
dump p3
click 17
dump p1b
click 16
click 16
click 16
waittext 141 120 *
close
box 7 60 1500
watch pinst 141 600
dump p6
click 15
exit 120
# plain again: quit question answered Yes
run C:\plain.exe
wizard 120
click 16
type 20 C:\Apps\Quit
click 16
click 16
waittext 141 120 *
close
box 6 60
exit 120
# misc: the splash, then Cancel on pages 1, 3 and 4 (close on 4)
run C:\misc.exe
splash 120
wizard 120
type 20 C:\Apps\Cancel1
click 15
nobox 2
exit 60
run C:\misc.exe
wizard 120
click 16
type 20 C:\Apps\Cancel3
dump m3
click 15
exit 60
run C:\misc.exe
wizard 120
click 16
type 20 C:\Apps\Cancel4
click 16
close
nobox 2
exit 60
# full cancelled on the licence page
run C:\full.exe
wizard 120
click 16
type 20 C:\Apps\Cancel2
dump c2
click 15
exit 60
# misc installed: the restart question answered No
run C:\misc.exe
wizard 120
click 16
click 16
click 16
watch minst 141 600
dump m6
click 15
box 7 60
exit 60
EOF
wizard_drive "$dist/wizard_driver.exe" "$work/commands.txt" "$work/log.txt" 1800
mw_wine_end "$WINEPREFIX"  # let every program of the prefix end before the files are examined
log="$work/log.txt"
cat "$log"

# ---- What the log must show ----------------------------------------------------------------
values() { sed -n "s/^$1=//p" "$log"; }
# expect NAME VALUE: the Nth occurrence when NAME is given as NAME#N (default: the first)
expect() {
  local name=${1%#*} n=1 got
  [ "$name" != "$1" ] && n=${1##*#}
  got=$(values "$name" | sed -n "${n}p")
  [ "$got" = "$2" ] || fail "$1 is '$got', expected '$2'"
}
expect_glob() {
  local got
  got=$(values "$1" | head -n 1)
  # shellcheck disable=SC2053
  [[ "$got" == $2 ]] || fail "$1 is '$got', expected to match '$2'"
}
shown() { expect_glob "$1.$2" "1 *"; }
hidden() { expect_glob "$1.$2" "0 *"; }

# full, welcome in the side layout
expect w1.caption "Wizard Test Full Setup"
expect w1.3 "1 1 Welcome to the Wizard Test Full Setup Wizard"
expect w1.4 "1 1 Welcome text of the full product."
expect w1.6 "1 1 Click Next to continue, or Cancel to exit Setup..."
expect w1.16 "1 1 Next >"
expect w1.15 "1 1 Cancel"
for id in 1 5 7 8 9 10 11 12 13 14 17 18 19 20 141; do hidden w1 $id; done
expect_glob w1.footer "0,*"
# licence page
expect w2.7 "1 1 License Agreement"
expect w2.8 "1 1 Please review the licence terms before installing Wizard Test Full."
expect w2.16 "1 1 I Agree"
expect w2.5 "1 1 If you accept all the terms of the agreement, click 'I Agree' to continue."
expect w2.10 "1 1 Wizard test link"
expect w2.11 "1 1 Press Page Down to see the rest of the agreement."
expect_glob w2.12 "1 1 These are the terms.*"
for id in 1 17; do shown w2 $id; done
for id in 3 4 6 9; do hidden w2 $id; done
expect_glob w2.footer "[1-9]*"
# the licence box cannot be changed but scrolls; the link reacts (underlined, mouse captured)
# while the pointer is over it, opens its target on a click, and reacts again only after the
# pointer has left
expect lic.unchanged 1
expect lic.scrolled 1
expect lf1.capture 1
expect lf2.capture 0
expect lf3.capture 0
expect lf4.capture 0
expect lf5.capture 1
expect lf6.capture 0
# Back to the welcome page
expect w1b.3 "1 1 Welcome to the Wizard Test Full Setup Wizard"
expect w1b.16 "1 1 Next >"
for id in 11 12 17; do hidden w1b $id; done
# destination page and its check
expect w3.7 "1 1 Destination Location"
expect w3.8 "1 1 Choose the folder in which to install Wizard Test Full."
expect w3.5 "1 1 Click 'Next' to continue..."
expect w3.13 "1 1 Setup will install Wizard Test Full in the following folder.\r\nTo install in a different folder, click 'Browse' and select another folder."
expect w3.20 "1 1 C:\\Apps\\Full"
expect w3.16 "1 1 Next >"
for id in 17 18 19; do shown w3 $id; done
for id in 11 12; do hidden w3 $id; done
# the folder browser: placed centred across the wizard, 44 pixels down; cancelled it changes
# nothing; a chosen folder gets the last name of this product's complete destination appended
expect br1.at "$(values br1.expected)"
expect br2.at "$(values br2.expected)"
expect bc.20 "1 1 C:\\Apps\\Full"
expect_glob bo.20 '1 1 ?:\\*\\Full'
[[ "$(values bo.20)" != *'Apps'* ]] || fail "the browser result holds the whole destination: $(values bo.20)"
for d in dc drel dslash dbar dquote dmissing; do expect $d.16 "1 0 Next >"; done
for d in dunc droot; do expect $d.16 "1 1 Next >"; done
# ready page, Back, the installing page
expect w4.7 "1 1 Start Installation"
expect w4.8 "1 1 You are now ready to install Wizard Test Full."
expect w4.13 "1 1 Click 'Install' to begin the installation."
expect w4.5 "1 1 Click 'Back' to reenter the installation information or 'Cancel' to exit the wizard"
expect w4.16 "1 1 Install"
for id in 18 19 20; do hidden w4 $id; done
expect w3b.16 "1 1 Next >"
shown w3b 20
expect w5.7 "1 1 Installing"
expect w5.8 "1 1 Please wait while Wizard Test Full Setup is being installed"
expect w5.13 "1 1 Copying File:"
expect_glob w5.16 "1 0 *"
expect_glob w5.17 "1 0 *"
hidden w5 5
expect_glob inst.text.0 'C:\\Apps\\Full\\*'
[ "$(values inst.position | tail -n 1)" = 100 ] || fail "the progress bar did not reach 100"
# finished page in the side layout
expect w6.3 "1 1 Wizard Test Full has been successfully installed"
expect w6.4 "1 1 Finish text of the full product."
expect w6.6 "1 1 Click 'Finish' to exit this installation."
expect w6.15 "1 1 Finish"
for id in 1 7 8 10 13 14 16 17 141; do hidden w6 $id; done
expect exit "0"

# plain: welcome in the header layout without title texts, the disabled link
expect p1.caption "Plain Setup"
expect p1.9 "1 1 Welcome text of the plain product."
expect p1.5 "1 1 Click Next to continue, or Cancel to exit Setup..."
expect p1.7 "0 1 "
expect p1.8 "0 1 "
expect p1.10 "1 0 Disabled link"
expect lfd.capture 0  # a link without a target does not react
shown p1 1
hidden p1 17
shown p3 17
expect p3.7 "0 1 "
hidden p1b 17
shown p1b 9
# the quit question, answered No, then the installation completes
expect box.caption "Warning"
expect box.text 'Setup is not complete.\r\nAre you sure want to quit the setup?'
expect box.buttons 67
expect box.owned 1
expect box.moved 0
expect p6.5 "1 1 Click 'Finish' to exit this installation."
expect p6.9 "1 1 Finish text of the plain product."
expect p6.7 "0 1 "
expect p6.15 "1 1 Finish"
expect exit#2 "0"
# answered Yes
expect box.caption#2 "Warning"
expect exit#3 "0"
# misc: the splash at its place, topmost, for its 3 seconds (the script stores 2: the splash
# stays splashSeconds + 1 seconds)
read -r sw < <(values splash.screen.width)
read -r sh < <(values splash.screen.height)
w=164 h=314  # examples/sample/art/side.bmp
expect splash.rect "$(((sw >> 1) - (w >> 1))),$(((sh >> 1) - (h >> 1) - 12)),$w,$h"
expect splash.topmost 1
ms=$(values splash.ms)
if [ -z "$ms" ] || [ "$ms" -lt 2700 ] || [ "$ms" -gt 4500 ]; then
  fail "the splash stayed ${ms:-?} ms, expected about 3000"
fi
expect nobox 1
expect nobox#2 1
expect m3.7 "1 1 Destination Location"
expect exit#4 "0"
expect exit#5 "0"
expect exit#6 "0"
expect m6.15 "1 1 Finish"
expect box.caption#3 "Misc Setup"
expect box.text#3 'This system must be restarted to complete the installation.\r\nPress the OK button to restart this computer or No to return to Windows without restarting.'
expect box.buttons#3 67
expect box.owned#3 0
expect exit#7 "0"
expect c2.16 "1 1 I Agree"
expect exit#8 "0"

# ---- What the runs left on the disk --------------------------------------------------------
same_tree() {  # SOURCE INSTALLED
  (cd "$1" && find . -type f) | while read -r f; do
    cmp -s "$1/$f" "$2/$f" || echo "$f"
  done
}
bad=$(same_tree "$work/full/payload" "$drive_c/Apps/Full")
[ -z "$bad" ] || fail "full: files not installed as packaged: $bad"
[ -f "$drive_c/Apps/Full/Uninstall.exe" ] || fail "full: no Uninstall.exe"
bad=$(same_tree "$work/plain/payload" "$drive_c/Apps/Plain")
[ -z "$bad" ] || fail "plain: files not installed as packaged: $bad"
[ -f "$drive_c/Apps/Misc/misc.txt" ] || fail "misc: not installed"
for n in 1 2 3 4; do
  [ ! -e "$drive_c/Apps/Cancel$n" ] || fail "cancelled on page $n, yet C:\\Apps\\Cancel$n exists"
done
[ ! -e "$drive_c/Apps/Quit/readme.txt" ] || fail "quit with Yes, yet the installation went on to its end"

# The run-after actions: the program from the folder with its parameters split off, the address
# handed over whole; once each (the quit and cancelled runs started nothing).
marks=$(tr -d '\r' <"$drive_c/runafter1.txt" 2>/dev/null)
[ "$(printf '%s\n' "$marks" | grep -c .)" = 1 ] || fail "run-after of full: '$marks'"
[[ "$marks" == *'C:\Apps\Full\bin\marker.exe'*' /mark C:\runafter1.txt /x' ]] ||
  fail "run-after of full started '$marks'"
# The shell gets the link's target once (the click), then the run-after address of plain.
http=$(tr -d '\r' <"$drive_c/http.txt" 2>/dev/null)
[ "$(printf '%s\n' "$http" | grep -c .)" = 2 ] || fail "addresses opened: '$http'"
[[ "$(printf '%s\n' "$http" | sed -n 1p)" == *' http://example.invalid/link' ]] ||
  fail "the link opened '$(printf '%s\n' "$http" | sed -n 1p)'"
[[ "$(printf '%s\n' "$http" | sed -n 2p)" == *'http://example.invalid/page?a=1 /b' ]] ||
  fail "run-after of plain opened '$(printf '%s\n' "$http" | sed -n 2p)'"

if [ "$failures" -ne 0 ]; then
  echo "wizard_e2e: $failures failure(s)" >&2
  exit 1
fi
echo "wizard_e2e: all checks passed"
