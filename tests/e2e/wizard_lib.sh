# Shared by the wizard's end-to-end tests and scripts/screenshots (source it).
# Needs: WINEPREFIX set to a ready prefix, DISPLAY set to a running X server, and `wine` in PATH
# (scripts/wine-env provides all of that when it exists).

# Answers the driver's screenshot requests: for every C:\snap\NAME.want (holding "x y w h" of
# the window in screen pixels) takes the screen, crops it to the window and writes OUT/NAME.png,
# then writes NAME.done so the driver goes on. Runs until killed.
wizard_snap_server() {  # OUTDIR
  local out=$1 snapdir="$WINEPREFIX/drive_c/snap"
  mkdir -p "$snapdir" "$out"
  while true; do
    for want in "$snapdir"/*.want; do
      [ -e "$want" ] || continue
      local name x y w h
      name=$(basename "$want" .want)
      read -r x y w h <"$want" || true
      sleep 0.5  # let the last paint land
      if [ "${w:-0}" -gt 0 ] && [ "${h:-0}" -gt 0 ]; then
        import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png" 2>/dev/null
      else
        import -window root "$out/$name.png" 2>/dev/null
      fi
      rm -f "$want"
      : >"$snapdir/$name.done"
    done
    sleep 0.2
  done
}

# Runs the driver with a command file; the log lands in LOG (CR stripped). The driver's own
# waits bound the run; the outer timeout only catches a driver that hangs.
wizard_drive() {  # DRIVER_EXE COMMANDS LOG [TIMEOUT]
  local driver=$1 commands=$2 log=$3 limit=${4:-600}
  cp "$driver" "$WINEPREFIX/drive_c/wizard_driver.exe"
  cp "$commands" "$WINEPREFIX/drive_c/commands.txt"
  rm -f "$WINEPREFIX/drive_c/driver.log"
  timeout "$limit" wine 'C:\wizard_driver.exe' 'C:\commands.txt' 'C:\driver.log' >/dev/null 2>&1
  tr -d '\r' <"$WINEPREFIX/drive_c/driver.log" >"$log" 2>/dev/null || : >"$log"
}

# Value of NAME in a driver log (the last one when it appears more than once).
wizard_value() {  # LOG NAME
  sed -n "s/^$2=//p" "$1" | tail -n 1
}
