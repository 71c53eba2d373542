# Shared shell helpers of the test and demo scripts: a virtual display, Wine
# started the same way everywhere, and cleanup of every process a script
# started, by process id, also when the script fails.

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver

_quill_pids=()

# Remembers a process to stop when the script ends.
quill_track() { _quill_pids+=("$1"); }

quill_cleanup() {
  local pid
  for ((i = ${#_quill_pids[@]} - 1; i >= 0; i--)); do
    pid=${_quill_pids[$i]}
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${_quill_pids[@]}"; do
    for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$pid" 2>/dev/null || true
  done
  _quill_pids=()
  if [ -n "${WINEPREFIX:-}" ] && [ -n "${QUILL_OWN_WINESERVER:-}" ]; then
    "$WINESERVER" -k 2>/dev/null || true
  fi
}
trap quill_cleanup EXIT
trap 'exit 130' INT TERM

# Starts Xvfb on a free display and exports DISPLAY.
quill_start_xvfb() {
  local fdfile
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
  quill_track $!
  for _ in $(seq 1 100); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  local display
  display=$(head -n1 "$fdfile")
  rm -f "$fdfile"
  [ -n "$display" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$display"
}

quill_wine_env() {
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  [ -n "${WINEPREFIX:-}" ] || { echo "WINEPREFIX is not set" >&2; return 1; }
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$WINE" wineboot --init >/dev/null 2>&1 || true
    "$WINESERVER" -w
  fi
}

# Runs every Wine program of the prefix inside one virtual desktop that draws
# frames and captions (better for screenshots; FindWindow still sees them all).
quill_wine_desktop() {
  "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "${1:-1024x768}" /f >/dev/null 2>&1
  # The desktop is made when the server session starts: end this one.
  "$WINESERVER" -w
}

# Waits until a file contains a pattern (grep -E) or the time is up.
quill_wait_for() {
  local file=$1 pattern=$2 seconds=${3:-30}
  for _ in $(seq 1 $((seconds * 10))); do
    grep -qE "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
