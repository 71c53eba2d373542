# The end-to-end set-up shared by scripts/demo, scripts/soak and the tests in
# tests/e2e: PulseAudio with a null sink, a virtual display, the device
# simulator and the 64-bit Quillon.exe under wine64, each started here and
# stopped by process id when the script ends (tests/tools/lib.sh's trap).
#
#   e2e_init BUILD_DIR          folders, PulseAudio, Xvfb, Wine; sets E2E_WORK
#   e2e_start_sim [ARGS...]     quill-devsim with recording and events, QUILLON_DEVSIM
#   e2e_prepare_app [--format NAME] [--kmc] [--folder PATH]
#                               PATH (below E2E_WORK, default "app"): where
#                               the program is laid out
#   e2e_start_app               Quillon.exe with the stand-in host-I/O library
#                               (current folder: E2E_CWD, else its own)
#   e2e_wait_event REGEX [SEC]  waits for a line of the event file
#   e2e_wait_count NAME REGEX N [SEC]
#                               waits for N events of the name matching REGEX
#   e2e_wait_log REGEX [SEC]    waits for a line of the program's output
#   e2e_play FILE               plays a wave file into the null sink (blocks)
#   e2e_stop_app / e2e_stop_sim [--no-check]
#                               stops the simulator (E2E_SUMMARY: its summary
#                               line) and fails on contract violations
#   e2e_check_violations        that check alone (after e2e_stop_sim --no-check)
#   e2e_match REF.wav           the best match of the reference in the streams
#   e2e_scaled N                N (seconds or ms) stretched by QUILL_TIME_SCALE
#
# Every wall-clock bound of the scripts goes through e2e_scaled (the waits
# of these helpers do it themselves): the test stage that runs the 32-bit
# build under user-mode emulation, about three times slower, sets
# QUILL_TIME_SCALE=3.
#
# The programs of a Windows build run under wine64, the simulator and
# quillmatch included, so that one build (build/<x>/bin, build/<x>/sim-bin)
# is all a run needs.

e2e_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$e2e_here/../tools/lib.sh"
E2E_ROOT=$(cd "$e2e_here/../.." && pwd)
E2E_RECEPTION="$E2E_ROOT/tools/reception/quill-reception"

e2e_fail() {
  echo "FAIL: $*" >&2
  e2e_dump >&2
  exit 1
}

# What a failing run leaves for the reader: the ends of the logs.
e2e_dump() {
  [ -n "${E2E_WORK:-}" ] || return 0
  local f
  for f in "$E2E_WORK/quillon.log" "$E2E_WORK/sim.out"; do
    [ -s "$f" ] || continue
    echo "--- ${f##*/} (last 25 lines)"
    tail -n 25 "$f" | tr -d '\r'
  done
  if [ -s "$E2E_WORK/events.jsonl" ]; then
    echo "--- events (without audio, last 25)"
    grep -v '"event":"audio"' "$E2E_WORK/events.jsonl" | tail -n 25 | cut -c1-240
  fi
}

# The factor by which wall-clock bounds are stretched: QUILL_TIME_SCALE, 1
# when unset or not a number >= 1.
E2E_TIME_SCALE=$(awk -v s="${QUILL_TIME_SCALE:-}" 'BEGIN { print (s ~ /^[0-9]+([.][0-9]+)?$/ && s + 0 >= 1) ? s + 0 : 1 }')
# A bound stretched by that factor, rounded up to a whole number.
e2e_scaled() { awk -v n="$1" -v s="$E2E_TIME_SCALE" 'BEGIN { v = n * s; r = int(v); print (r < v) ? r + 1 : r }'; }

e2e_winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Runs a program of the build (under wine64 for a Windows build).
e2e_run() {
  local exe=$1
  shift
  if [ -n "$E2E_WINDOWS" ]; then "$WINE" "$exe.exe" "$@" | tr -d '\r'; else "$exe" "$@"; fi
}

e2e_init() {
  local build=$1
  E2E_BIN=$(cd "$build/bin" && pwd)
  E2E_SIMBIN=$(cd "$build/sim-bin" && pwd)
  E2E_WINDOWS=
  [ -f "$E2E_BIN/Quillon.exe" ] && E2E_WINDOWS=1
  [ -n "$E2E_WINDOWS" ] || e2e_fail "no Quillon.exe in $E2E_BIN"
  E2E_WORK=$(mktemp -d "${TMPDIR:-/tmp}/quill-e2e.XXXXXX")
  # ctest gives the build's shared prefix; run by hand, the same one.
  export WINEPREFIX=${WINEPREFIX:-$(cd "$build" && pwd)/wineprefix}
  E2E_KEEP=${E2E_KEEP:-}
  trap 'e2e_cleanup' EXIT
  e2e_start_pulse
  quill_wine_env
  quill_start_xvfb
}

e2e_cleanup() {
  local code=$?
  quill_cleanup
  if [ -n "${E2E_WORK:-}" ] && [ -z "$E2E_KEEP" ] && [ "$code" = 0 ]; then rm -rf "$E2E_WORK"; fi
  [ "$code" = 0 ] || [ -z "${E2E_WORK:-}" ] || echo "work folder kept: $E2E_WORK" >&2
  exit "$code"
}

# PulseAudio of our own, in a private runtime folder, with the null sink
# "qsink" as default sink and its monitor as default source (what the
# program's default recording device then hears).
e2e_start_pulse() {
  export XDG_RUNTIME_DIR="$E2E_WORK/xdg"
  mkdir -p "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
  export PULSE_STATE_PATH="$XDG_RUNTIME_DIR/state"
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no --disallow-exit \
    --load="module-null-sink sink_name=qsink" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$XDG_RUNTIME_DIR/pulse/native" \
    >"$E2E_WORK/pulse.log" 2>&1 &
  quill_track $!
  local _
  for _ in $(seq 1 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  pactl info >/dev/null 2>&1 || { cat "$E2E_WORK/pulse.log" >&2; e2e_fail "PulseAudio did not start"; }
  pactl set-default-sink qsink
  pactl set-default-source qsink.monitor
}

# The simulator, recording every stream to $E2E_WORK/rec-N.wav and its events
# to $E2E_WORK/events.jsonl; it ends when e2e_stop_sim makes its stop file.
# It runs strict: every breach of the stream contract by the program is a
# violation, and e2e_stop_sim fails on any. A test that sends bad records on
# purpose sets E2E_ALLOW_VIOLATIONS=1 before it stops the simulator.
e2e_start_sim() {
  E2E_EVENTS="$E2E_WORK/events.jsonl"
  E2E_RECORD="$E2E_WORK/rec"
  E2E_STOP="$E2E_WORK/sim.stop"
  rm -f "$E2E_STOP" "$E2E_WORK/sim.port"
  local w=e2e_winpath
  if [ -n "$E2E_WINDOWS" ]; then
    "$WINE" "$E2E_SIMBIN/quill-devsim.exe" --listen 127.0.0.1:0 --port-file "$($w "$E2E_WORK/sim.port")" \
      --events "$($w "$E2E_EVENTS")" --record "$($w "$E2E_RECORD")" --stop-file "$($w "$E2E_STOP")" --strict "$@" \
      >"$E2E_WORK/sim.out" 2>&1 &
  else
    "$E2E_SIMBIN/quill-devsim" --listen 127.0.0.1:0 --port-file "$E2E_WORK/sim.port" --events "$E2E_EVENTS" \
      --record "$E2E_RECORD" --stop-file "$E2E_STOP" --strict "$@" >"$E2E_WORK/sim.out" 2>&1 &
  fi
  E2E_SIM_PID=$!
  quill_track $E2E_SIM_PID
  quill_wait_for "$E2E_WORK/sim.port" '^[0-9]+' "$(e2e_scaled 60)" || e2e_fail "the simulator did not start"
  export QUILLON_DEVSIM="127.0.0.1:$(tr -d '\r\n' <"$E2E_WORK/sim.port")"
}

# Waits up to a tenth of a second times the count (default 100, scaled) for
# the process to end; returns 1 when it still runs.
e2e_wait_ended() {  # pid [tenths]
  local _
  for _ in $(seq 1 "$(e2e_scaled "${2:-100}")"); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  ! kill -0 "$1" 2>/dev/null
}

# Stops the simulator through its stop file (it then prints its summary), sets
# E2E_SUMMARY to that summary line and, unless --no-check, fails when the
# program broke the stream contract.
e2e_stop_sim() {
  local check=1
  [ "${1:-}" != --no-check ] || check=
  [ -n "${E2E_SIM_PID:-}" ] || return 0
  touch "$E2E_STOP"
  e2e_wait_ended "$E2E_SIM_PID" || kill "$E2E_SIM_PID" 2>/dev/null || true
  wait "$E2E_SIM_PID" 2>/dev/null || true
  E2E_SIM_PID=
  E2E_SUMMARY=$(grep -a '^quill-devsim: packets=' "$E2E_WORK/sim.out" | tr -d '\r' | tail -n1)
  [ -z "$check" ] || e2e_check_violations
}

# Fails unless the simulator's summary shows 0 contract violations (or the
# test allows them); the violations' lines are in the failure's dump.
e2e_check_violations() {
  [ -z "${E2E_ALLOW_VIOLATIONS:-}" ] || return 0
  local n
  n=$(e2e_summary violations)
  [ -n "$n" ] || e2e_fail "no violation count in the simulator's summary: $E2E_SUMMARY"
  [ "$n" = 0 ] || e2e_fail "the program broke the stream contract $n time(s): $(grep -a 'violation:' "$E2E_WORK/sim.out" |
    tr -d '\r' | head -n 5 | tr '\n' ';')"
}

# A value of the summary line: e2e_summary wrong_headers
e2e_summary() { sed -n "s/.* $1=\([0-9]*\).*/\1/p" <<<"$E2E_SUMMARY"; }

# The program's folder: Quillon.exe, QuillDll.dll and the wave-codec library
# copied from the build, Quillon.bxa for the automatic download, and an
# auto-save settings file that picks the wave format. --kmc lays out the KMC
# debugger's files instead of pointing at the box's host-I/O library.
e2e_prepare_app() {
  local format="" kmc="" folder="app"
  while [ $# -gt 0 ]; do
    case "$1" in
      --format) format=$2; shift 2 ;;
      --kmc) kmc=1; shift ;;
      --folder) folder=$2; shift 2 ;;
      *) e2e_fail "e2e_prepare_app: $1" ;;
    esac
  done
  E2E_APP="$E2E_WORK/$folder"
  rm -rf "$E2E_APP"
  mkdir -p "$E2E_APP"
  cp "$E2E_BIN/Quillon.exe" "$E2E_BIN/QuillDll.dll" "$E2E_APP/"
  cp "$E2E_BIN/WaveCodecKav.dll" "$E2E_SIMBIN/Quillon.bxa" "$E2E_APP/"
  E2E_KMC=$kmc
  if [ -n "$kmc" ]; then
    cp "$E2E_SIMBIN/devhio_proxy.dll" "$E2E_APP/"
    mkdir -p "$E2E_WORK/kmc/BIN" "$E2E_WORK/sdk/tools/CommandLineTools"
    cp "$E2E_SIMBIN/loadrun_kav.dll" "$E2E_WORK/kmc/BIN/"
    cp "$E2E_SIMBIN/kav_loadrun32.exe" "$E2E_WORK/sdk/tools/CommandLineTools/"
  fi
  if [ -n "$format" ]; then e2e_write_cfg "$E2E_APP/Quillon.autogen.cfg" "WaveFormat" "$format"; fi
  # A fresh registry key: the default source (the first with a device), the
  # automatic download on.
  "$WINE" reg delete 'HKCU\Software\VORLANE\Quillon' /f >/dev/null 2>&1 || true
}

# A settings file that sets keys of the *SamplingMode section (key value ...).
e2e_write_cfg() {
  local file=$1
  shift
  {
    printf 'Quillon\r\n\r\n*SamplingMode\r\n'
    while [ $# -ge 2 ]; do
      printf '%s:%*s%s\r\n' "$1" $((27 - ${#1})) '' "$2"
      shift 2
    done
  } >"$file"
}

e2e_reg_set() {  # name type data
  "$WINE" reg add 'HKCU\Software\VORLANE\Quillon' /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1 || e2e_fail "reg add $1"
}

e2e_start_app() {
  local env=(env)
  if [ -n "$E2E_KMC" ]; then
    env+=(-u KAV_HOSTIO_DLL_PATH "KMC_PARTNER_KAVS=$(e2e_winpath "$E2E_WORK/kmc")"
      "KAVSDK_ROOT=$(e2e_winpath "$E2E_WORK/sdk")")
  else
    env+=("KAV_HOSTIO_DLL_PATH=$(e2e_winpath "$E2E_SIMBIN")")
  fi
  # Started from E2E_CWD when set (the folder a user starts it in), else
  # from its own folder.
  (cd "${E2E_CWD:-$E2E_APP}" && exec "${env[@]}" "$WINE" "$E2E_APP/Quillon.exe" >"$E2E_WORK/quillon.log" 2>&1) &
  E2E_APP_PID=$!
  quill_track $E2E_APP_PID
  "$WINE" "$E2E_BIN/wmsend.exe" wait Quillon "$(e2e_scaled 60)" || e2e_fail "Quillon's window did not appear"
}

# Closes the program's window and checks that it ended with exit code 0.
e2e_stop_app() {
  [ -n "${E2E_APP_PID:-}" ] || return 0
  "$WINE" "$E2E_BIN/wmsend.exe" close Quillon >/dev/null 2>&1 || true
  local code=0
  if ! e2e_wait_ended "$E2E_APP_PID" 150; then
    kill "$E2E_APP_PID" 2>/dev/null || true
    code=timeout
  fi
  wait "$E2E_APP_PID" 2>/dev/null || code=$?
  E2E_APP_PID=
  [ "$code" = 0 ] || e2e_fail "Quillon did not end cleanly (exit $code)"
}

e2e_caption() { "$WINE" "$E2E_BIN/wmsend.exe" caption Quillon 2>/dev/null | tr -d '\r'; }

e2e_wait_event() {  # regex [seconds, scaled]
  quill_wait_for "$E2E_EVENTS" "$1" "$(e2e_scaled "${2:-60}")"
}

# Waits for a line of the program's output (quillon.log).
e2e_wait_log() {  # regex [seconds, scaled]
  quill_wait_for "$E2E_WORK/quillon.log" "$1" "$(e2e_scaled "${2:-60}")"
}

e2e_count_event() {  # event name [more regex]
  grep -a "\"event\":\"$1\"" "$E2E_EVENTS" 2>/dev/null | grep -cE "${2:-.}" || true
}

# Waits until the event file holds at least count events of the name that
# match the regex.
e2e_wait_count() {  # name regex count [seconds, scaled]
  local _
  for _ in $(seq 1 $(($(e2e_scaled "${4:-60}") * 10))); do
    [ "$(e2e_count_event "$1" "$2")" -ge "$3" ] && return 0
    sleep 0.1
  done
  return 1
}

# Waits until the simulator has received audio packets numbered beyond n.
e2e_wait_audio_after() {  # packet count, seconds (scaled)
  local want=$(($1 + 1)) seconds _
  seconds=$(e2e_scaled "${2:-30}")
  for _ in $(seq 1 $((seconds * 10))); do
    [ "$(e2e_last_packet)" -ge "$want" ] && return 0
    sleep 0.1
  done
  return 1
}
e2e_last_packet() {
  local n
  n=$(grep -a '"event":"audio"' "$E2E_EVENTS" 2>/dev/null | tail -n1 | sed -n 's/.*"packet":\([0-9]*\).*/\1/p')
  echo "${n:-0}"
}

# Makes a test sound at the rate (quillmatch generate ...).
e2e_generate() {  # out.wav rate [quillmatch options...]
  local out=$1 rate=$2
  shift 2
  if [ -n "$E2E_WINDOWS" ]; then
    "$WINE" "$E2E_BIN/quillmatch.exe" generate "$(e2e_winpath "$out")" --rate "$rate" "$@" >/dev/null ||
      e2e_fail "quillmatch generate"
  else
    "$E2E_BIN/quillmatch" generate "$out" --rate "$rate" "$@" >/dev/null || e2e_fail "quillmatch generate"
  fi
}

e2e_quillmatch() {  # verb files... (paths converted) -- options
  local verb=$1
  shift
  local args=() a
  for a in "$@"; do
    if [ -n "$E2E_WINDOWS" ] && [ "${a:0:1}" = / ]; then args+=("$(e2e_winpath "$a")"); else args+=("$a"); fi
  done
  if [ -n "$E2E_WINDOWS" ]; then
    "$WINE" "$E2E_BIN/quillmatch.exe" "$verb" "${args[@]}" 2>&1 | tr -d '\r'
  else
    "$E2E_BIN/quillmatch" "$verb" "${args[@]}" 2>&1
  fi
}

# Plays a file into the null sink and returns when it has been played;
# E2E_PLAYED_AT: when it started. E2E_PLAY_LATENCY_MS, when set, asks for that
# little buffering, so that the sink takes the sound in as it comes due (for
# latency measurements; the null sink otherwise renders up to 2 s at once).
e2e_play() {
  local latency=()
  [ -z "${E2E_PLAY_LATENCY_MS:-}" ] || latency=(--latency-msec="$E2E_PLAY_LATENCY_MS")
  E2E_PLAYED_AT=$(date +%s.%N)
  paplay -d qsink "${latency[@]}" "$1" || e2e_fail "paplay $1"
}

# The recorded stream that holds the reference best: sets E2E_MATCH (the
# quillmatch line), E2E_MATCH_FILE and E2E_SNR (dB, or -999).
e2e_match() {
  local ref=$1 f line best=-999 snr
  E2E_MATCH="found=0"
  E2E_MATCH_FILE=
  E2E_SNR=-999
  for f in "$E2E_RECORD"-*.wav; do
    [ -f "$f" ] || continue
    line=$(e2e_quillmatch compare "$ref" "$f") || true  # not found: exit code 1
    snr=$(sed -n 's/.* snr_db=\(-\{0,1\}[0-9.]*\).*/\1/p' <<<"$line")
    [ -n "$snr" ] || continue
    if awk -v a="$snr" -v b="$best" 'BEGIN { exit !(a > b) }'; then
      best=$snr
      E2E_MATCH=$line
      E2E_MATCH_FILE=$f
    fi
  done
  E2E_SNR=$best
}

# True when the number a is at least b (decimals).
e2e_at_least() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a >= b) }'; }

# A field of the last settings record the device received.
e2e_record_field() { python3 "$E2E_RECEPTION" field "$E2E_EVENTS" "$1"; }

# The program's process as Linux sees it (Wine reads the Windows counters of
# another process as 0): private anonymous memory, open descriptors and the CPU
# time of all its threads.
#   private_kb=N fds=N cpu_ms=N
e2e_proc_stats() {
  local pid=${E2E_APP_PID:-}
  [ -n "$pid" ] && [ -r "/proc/$pid/status" ] || return 1
  local anon fds ticks hz
  anon=$(awk '/^RssAnon:/ { print $2 }' "/proc/$pid/status")
  fds=$(find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)
  # Fields 14 and 15 (user and system ticks), counted after the command name.
  ticks=$(sed 's/.*) //' "/proc/$pid/stat" | awk '{ print $12 + $13 }')
  hz=$(getconf CLK_TCK)
  echo "private_kb=${anon:-0} fds=$fds cpu_ms=$((ticks * 1000 / hz))"
}

# CPU use by thread, from /proc (see scripts/cpu-figures).
# The wineserver of the current prefix: the one whose environment names it.
e2e_wineserver_pid() {
  local pid
  for pid in $(pgrep -u "$(id -u)" wineserver); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
      return 0
    fi
  done
  return 1
}

# The CPU ticks of each thread of a process and of the wineserver, now, with
# the time: lines "tid name ticks" (the server as tid 0, the time as "time").
e2e_cpu_snapshot() {  # pid server-pid file
  python3 - "$1" "$2" >"$3" <<'PY'
import os, sys, time
pid, server = sys.argv[1], sys.argv[2]
def ticks(path):
    s = open(path).read()
    return sum(int(v) for v in s[s.rindex(")") + 2:].split()[11:13])
print("time clock %.3f" % time.time())
print("0 wineserver %d" % ticks("/proc/%s/stat" % server))
for tid in os.listdir("/proc/%s/task" % pid):
    try:
        name = open("/proc/%s/task/%s/comm" % (pid, tid)).read().strip().replace(" ", "_")
        print("%s %s %d" % (tid, name, ticks("/proc/%s/task/%s/stat" % (pid, tid))))
    except OSError:
        pass
PY
}

# What the process and the server used between two snapshots, in per cent of
# one core: "key process server thread=share ..." (busiest thread first). The
# process's first thread is "main"; the others keep their /proc names (Wine
# names its own threads; the program's are named after the program).
e2e_cpu_shares() {  # key pid file0 file1
  python3 - "$@" "$(getconf CLK_TCK)" <<'PY'
import sys
key, pid, f0, f1, hz = sys.argv[1:]
def load(path):
    return {l.split()[0]: (l.split()[1], float(l.split()[2])) for l in open(path) if l.strip()}
a, b = load(f0), load(f1)
wall = b["time"][1] - a["time"][1]
pct = lambda ticks: 100.0 * ticks / int(hz) / wall
threads = [(tid, name, ticks - a.get(tid, (name, 0))[1]) for tid, (name, ticks) in b.items() if tid not in ("0", "time")]
server = b["0"][1] - a["0"][1]
total = sum(t[2] for t in threads)
shares = ["%s=%.2f" % ("main" if tid == pid else name, pct(ticks)) for tid, name, ticks in sorted(threads, key=lambda t: -t[2])]
print("%s %.2f %.2f %s" % (key, pct(total), pct(server), " ".join(shares)))
PY
}

# Runs a floor program (bench/floor: cpufloor.exe loop|wavein|coreaudio) and
# appends what it used over the seconds, once it records, to the results
# file as e2e_cpu_shares prints it.
e2e_measure_floor() {  # key mode seconds results
  local key=$1 mode=$2 seconds=$3 results=$4 log="$E2E_WORK/floor-$2.log" server pid
  server=$(e2e_wineserver_pid) || e2e_fail "the prefix's wineserver was not found"
  "$WINE" "$E2E_BIN/cpufloor.exe" "$mode" >"$log" 2>&1 &
  pid=$!
  quill_track "$pid"
  quill_wait_for "$log" 'cpufloor: recording' 60 || e2e_fail "cpufloor $mode did not record: $(cat "$log")"
  # The first seconds of a stream (Wine's audio threads starting) are not measured.
  sleep 3
  e2e_cpu_snapshot "$pid" "$server" "$E2E_WORK/floor.s0"
  sleep "$seconds"
  e2e_cpu_snapshot "$pid" "$server" "$E2E_WORK/floor.s1"
  e2e_cpu_shares "$key" "$pid" "$E2E_WORK/floor.s0" "$E2E_WORK/floor.s1" >>"$results"
  "$WINE" "$E2E_BIN/wmsend.exe" close QuillFloor >/dev/null 2>&1 || true
  e2e_wait_ended "$pid" || kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
