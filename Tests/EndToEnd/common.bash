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

# X id of the visible top-level window titled exactly "Velotrix", or nothing.
main_window() { xdotool search --onlyvisible --name '^Velotrix$' 2>/dev/null | head -n1; }

# Waits up to $1 seconds for the main window to be visible (or, with "gone", to be not visible).
wait_for_window() {
  local seconds=$1 want=${2:-shown} i
  for ((i = 0; i < seconds * 10; i++)); do
    if [ "$want" = shown ]; then [ -n "$(main_window)" ] && return 0; else [ -z "$(main_window)" ] && return 0; fi
    sleep 0.1
  done
  return 1
}

# Waits up to $1 seconds until the main window shows the page: Direct2D under Wine takes a few seconds
# to make its first render target, and until then the window is black. The page's background is
# #15171A, and its buttons and QR card use the accent colour.
wait_for_paint() {
  local seconds=$1 i window
  for ((i = 0; i < seconds * 2; i++)); do
    window=$(main_window)
    if [ -n "$window" ] && import -window "$window" -depth 8 txt:- 2>/dev/null | grep -q 'srgb(21,23,26)'; then
      return 0
    fi
    sleep 0.5
  done
  return 1
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
