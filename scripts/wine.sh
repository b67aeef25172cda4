# A Wine of our own for the Windows builds: a private prefix whose COM1 to
# COM20 lead to links in a private folder, so that no host serial device is
# touched and tests and benchmarks place simulators behind them with
# `rwsim --link=$WINE_COM_DIR/comN`. Sourced by the scripts that run the
# Windows programs; start_wine exports WINE, WINEPREFIX and WINE_COM_DIR,
# and stops the server and removes the folder on exit.
start_wine() {
  export WINE=/usr/lib/wine/wine64
  export WINEDEBUG=-all
  wine_work=$(mktemp -d "${TMPDIR:-/tmp}/kestrow-wine.XXXXXX")
  export WINEPREFIX=$wine_work/prefix WINE_COM_DIR=$wine_work/com
  mkdir -p "$WINE_COM_DIR"
  trap stop_wine EXIT
  "$WINE" wineboot -i >/dev/null 2>&1
  {
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
    for n in $(seq 1 20); do printf '"COM%d"="%s/com%d"\n' "$n" "$WINE_COM_DIR" "$n"; done
  } >"$wine_work/ports.reg"
  "$WINE" regedit /S "Z:${wine_work//\//\\}\\ports.reg"
  # The server outlives each program. It is restarted so that the pinned
  # ports take effect, with its output discarded (it becomes the controlling
  # process of the simulators' terminals and would fill a log), and warmed
  # up: a cold start can hang the first program.
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  /usr/lib/wine/wineserver -p >/dev/null 2>&1 </dev/null
  "$WINE" cmd /c exit >/dev/null 2>&1
}

stop_wine() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$wine_work"
}
