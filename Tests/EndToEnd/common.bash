# Sourced by the end-to-end scripts (Tests/EndToEnd/*.sh): start Velotrix.exe under Wine on a private display, find its log,
# drive it with velotrix-phone, and clean up by PID whatever happens.
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/env.sh"

PHONE="$ROOT/build/native/velotrix-phone"
EXE_DIR="$ROOT/build/windows"
FAILURES=0
VELOTRIX_PID=""

fail() { log "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
pass() { log "ok: $*"; }
check() { # description, then a command that must succeed
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

# A UDP port nobody listens on.
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 30000))
    ss -uln | awk '{print $4}' | grep -q ":$port\$" || { echo "$port"; return; }
  done
}

log_file() { printf '%s' "$WINEPREFIX"/drive_c/users/*/AppData/Local/Velotrix/server.log; }

# Waits until the log holds a line matching the pattern (grep -E), up to $2 seconds.
wait_for_log() {
  local pattern=$1 seconds=${2:-20} i
  for ((i = 0; i < seconds * 10; i++)); do
    tr -d '\r' 2>/dev/null <"$(log_file)" | grep -qE "$pattern" && return 0
    sleep 0.1
  done
  return 1
}

start_display() {
  if [ -z "${XVFB_PID:-}" ]; then start_xvfb || { log "Xvfb did not start"; exit 1; }; fi
}

# Starts Velotrix.exe with the given arguments and waits for its first log line.
start_velotrix() {
  use_test_dnsapi "$EXE_DIR"
  start_display
  rm -f "$(log_file)"
  (cd "$EXE_DIR" && exec wine ./Velotrix.exe "$@") >/dev/null 2>&1 &
  VELOTRIX_PID=$!
  wait_for_log "Velotrix server starting" 30
}

stop_velotrix() {
  if [ -n "$VELOTRIX_PID" ]; then
    kill "$VELOTRIX_PID" 2>/dev/null
    wait "$VELOTRIX_PID" 2>/dev/null
    VELOTRIX_PID=""
  fi
  wineserver -k 2>/dev/null
}

cleanup() {
  stop_velotrix
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  [ -n "${HOLDER_PID:-}" ] && kill "$HOLDER_PID" 2>/dev/null
  true
}
trap cleanup EXIT

finish() {
  if [ "$FAILURES" -eq 0 ]; then log "all checks passed"; exit 0; fi
  log "$FAILURES check(s) failed"; exit 1
}
