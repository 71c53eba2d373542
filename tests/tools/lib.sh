# Shared shell helpers of the test and demo scripts: a virtual display, Wine
# started the same way everywhere, and cleanup of every process a script
# started, by process id, also when the script fails.

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver

# Under another Wine in a Debian root (QUILL_WINE_ROOT, the wine10 stage: see
# tests/tools/wine10-stage), every Wine program runs in that root, and every
# prefix is that Wine's own: its name gains the root's name (a prefix that
# one Wine has used is not for another).
if [ -n "${QUILL_WINE_ROOT:-}" ]; then
  _quill_tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  WINE=$_quill_tools/wine-in-root
  WINESERVER=$_quill_tools/wineserver-in-root
fi
# Gives the prefix variable named its root's name, once (a private copy of
# such a prefix, named after it, has it already).
_quill_root_prefix() {
  [ -n "${QUILL_WINE_ROOT:-}" ] && [ -n "${!1:-}" ] || return 0
  local tag=".${QUILL_WINE_ROOT##*/}"
  case "${!1##*/}" in
    *"$tag" | *"$tag"-*) ;;
    *) printf -v "$1" '%s' "${!1%/}$tag" ;;
  esac
}

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
    quill_wineserver_end
  fi
  if [ -n "${_quill_private_prefix:-}" ]; then
    rm -rf "$_quill_private_prefix"
    _quill_private_prefix=
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

# Every Wine user here owns its prefix and that prefix's one wineserver, kept
# running (-p) from its first program to its end. Sharing a prefix between
# tests races: a Wine program that starts while the prefix's server is ending
# loses its connection ("recvmsg: Connection reset by peer"), and Wine's
# system programs started during one test hold that test's output open for as
# long as the server lives. So a ctest test (QUILL_WINE_TEMPLATE names the
# build's prefix) runs in a private copy of it, made with hard links in a
# fraction of a second and removed at the end; a script with a prefix of its
# own (QUILL_OWN_WINESERVER=1) uses that one. Either way the server ends with
# the script.
quill_wineserver_start() {
  # A server left by an earlier run ends first, whatever its kind.
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
  # It runs on in the background: it must not hold the caller's output open.
  local code=0
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 || code=$?
  if [ "$code" != 0 ]; then
    # A server that was ending may still have held the prefix's server
    # folder: once more after it is gone, and said if that fails too.
    echo "wineserver -p failed (exit code $code) for $WINEPREFIX; trying once more" >&2
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    code=0
    "$WINESERVER" -p </dev/null >/dev/null 2>&1 || code=$?
    [ "$code" = 0 ] || { echo "wineserver -p failed again (exit code $code)" >&2; return 1; }
  fi
}

# Prints why Wine cannot run 32-bit programs here, or nothing when it can:
# that needs Debian's wine32:i386 and a kernel that runs 32-bit code, or
# user-mode emulation registered for 32-bit x86 programs (scripts/install-deps).
# (In a root: that root's Wine.)
quill_wine32_missing() {
  local root=${QUILL_WINE_ROOT:-} run=()
  [ -z "$root" ] || run=(chroot "$root")
  if [ ! -x "$root/usr/lib/wine/wine" ]; then
    echo "wine32 is not installed (${root:+$root}/usr/lib/wine/wine is missing)"
  elif ! "${run[@]}" /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "this kernel does not run 32-bit programs and no emulation is registered ($("${run[@]}" /usr/lib/wine/wine --version 2>&1 | sed 's/^.*: //' | head -n1))"
  fi
}

# Prints how 32-bit programs run here: "emulated" when an enabled
# binfmt_misc entry takes 32-bit x86 ELF files (it comes before the kernel's
# own loader), "native" otherwise. Only meaningful when quill_wine32_missing
# prints nothing.
quill_wine32_mode() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] || continue
    case "$entry" in */register | */status) continue ;; esac
    grep -qx enabled "$entry" 2>/dev/null || continue
    # e_ident class 1 (32-bit) and e_machine 3 (i386), bytes 4 and 18 of the magic.
    if sed -n 's/^magic //p' "$entry" | grep -q '^7f454c4601.\{26\}0300'; then
      echo emulated
      return
    fi
  done
  echo native
}

quill_wineserver_end() {
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
}

# Makes the prefix when it is missing (or was made before Wine's 32-bit side
# was installed: it then cannot start 32-bit programs), with its registry on
# disk; the server it used has ended when this returns.
quill_wine_prefix() {
  [ -n "${WINEPREFIX:-}" ] || { echo "WINEPREFIX is not set" >&2; return 1; }
  _quill_root_prefix WINEPREFIX
  if [ -f "$WINEPREFIX/system.reg" ] && [ -z "$(quill_wine32_missing)" ] &&
    [ -z "$(ls -A "$WINEPREFIX/drive_c/windows/syswow64" 2>/dev/null)" ]; then
    echo "making $WINEPREFIX anew: it has no 32-bit side" >&2
    quill_wineserver_end
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$WINE" wineboot --init >/dev/null 2>&1 || true
    # The registry reaches the disk when the server ends.
    "$WINESERVER" -w
  fi
  test -f "$WINEPREFIX/system.reg" || { echo "no registry in $WINEPREFIX after wineboot" >&2; return 1; }
  # No window manager runs on the scripts' displays, and Wine waits up to 2 s
  # for one whenever a window that a manager would own is hidden or
  # destroyed (every test window, dialog and program exit). Windows that
  # Wine frames itself are not waited for.
  if ! awk '/^\[/ { x11 = index($0, "[Software\\\\Wine\\\\X11 Driver]") == 1 }
            x11 && $0 == "\"Managed\"=\"N\"" { found = 1 } END { exit !found }' "$WINEPREFIX/user.reg"; then
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    "$WINESERVER" -w
  fi
}

# Replaces hard-linked files with copies of their own.
quill_unshare() {
  local f
  for f in "$@"; do
    [ -f "$f" ] && [ ! -L "$f" ] || continue
    cp -p --remove-destination "$f" "$f.unshared" && mv -f "$f.unshared" "$f"
  done
}
quill_unshare_tree() {
  [ -d "$1" ] || return 0
  local copy
  copy=$(mktemp -d "$1.XXXXXX")
  cp -a "$1/." "$copy/" && rm -rf "$1" && mv "$copy" "$1"
}

quill_wine_env() {
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  _quill_root_prefix QUILL_WINE_TEMPLATE
  _quill_root_prefix WINEPREFIX
  if [ -n "${QUILL_WINE_TEMPLATE:-}" ]; then
    [ -f "$QUILL_WINE_TEMPLATE/system.reg" ] || { echo "no Wine prefix at $QUILL_WINE_TEMPLATE" >&2; return 1; }
    _quill_private_prefix=$(mktemp -d "$QUILL_WINE_TEMPLATE-XXXXXX")
    cp -al "$QUILL_WINE_TEMPLATE/." "$_quill_private_prefix/"
    # Wine writes a file that has more than one link in place (its registry
    # among them): those a program may write become copies of their own, or
    # every private prefix would write into the template and into each other.
    quill_unshare "$_quill_private_prefix"/*.reg "$_quill_private_prefix"/drive_c/windows/*.ini
    quill_unshare_tree "$_quill_private_prefix/drive_c/users"
    export WINEPREFIX=$_quill_private_prefix
    unset QUILL_WINE_TEMPLATE
    QUILL_OWN_WINESERVER=1
  fi
  [ -n "${WINEPREFIX:-}" ] || { echo "WINEPREFIX is not set" >&2; return 1; }
  QUILL_OWN_WINESERVER=1
  quill_wineserver_end
  quill_wine_prefix
  quill_wineserver_start
}

# Runs every Wine program of the prefix inside one virtual desktop that draws
# frames and captions (better for screenshots; FindWindow still sees them all).
# The desktop is made when a server session starts: the prefix's own server
# starts anew.
quill_wine_desktop() {
  "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "${1:-1024x768}" /f >/dev/null 2>&1
  quill_wineserver_start
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
