# Sourced by the end-to-end scripts (Tests/EndToEnd/*.sh): start Velotrix.exe under Wine on a private display, find its log,
# drive it with velotrix-phone, and clean up by PID whatever happens.
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/env.sh"

PHONE="$ROOT/build/native/velotrix-phone"
EXE_DIR="$ROOT/build/windows"
SETTINGS_KEY='HKCU\Software\Quillon\Velotrix'
FAILURES=0
VELOTRIX_PID=""

fail() { log "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
pass() { log "ok: $*"; }
# WHY: set by a helper that gave up for a reason the check's description does not tell (no window).
WHY=""
check() { # description, then a command that must succeed
  local what=$1; shift
  WHY=""
  if "$@"; then pass "$what"; else fail "$what${WHY:+ ($WHY)}"; fi
}

# Every X tool goes through these, bounded in time: under Xvfb nobody clicks, and a tool that waits
# for a click (import -window "", xdotool's window picking) or for a window manager (--sync) would
# otherwise wait until the script's own time limit.
X_TIMEOUT=${X_TIMEOUT:-10}
x_import() { timeout "$X_TIMEOUT" import "$@"; }
x_dotool() { timeout "$X_TIMEOUT" xdotool "$@"; }
x_clip() { timeout "$X_TIMEOUT" xclip "$@"; }
x_wininfo() { timeout "$X_TIMEOUT" xwininfo "$@"; }

# A UDP port nobody listens on.
free_port() {
  local port=$((20000 + RANDOM % 30000))
  while port_taken "$port"; do port=$((20000 + RANDOM % 30000)); done
  echo "$port"
}

log_file() { printf '%s' "$WINEPREFIX"/drive_c/users/*/AppData/Local/Velotrix/server.log; }

log_has() { tr -d '\r' 2>/dev/null <"$(log_file)" | grep -qE "$1"; }
# Waits until the log holds a line matching the pattern (grep -E), up to $2 seconds.
wait_for_log() { wait_until "${2:-20}" log_has "$1"; }

# Runs the command every tenth of a second until it succeeds, for at most $1 seconds of pauses.
wait_until() {
  local i
  for ((i = 0; i < $1 * 10; i++)); do "${@:2}" && return 0; sleep 0.1; done
  return 1
}

port_taken() { ss -uln | awk '{print $4}' | grep -q ":$1\$"; }

# The buttons a user's eye would find in window $1, top to bottom: "x y width height" (the centre, in window
# coordinates) per patch of colour $2 at least $3 by $4 pixels, each channel within $5 (default 0; buttons
# are translucent until hovered, so they are looked for with a tolerance).
find_boxes() {
  [ -n "$1" ] || { WHY="no window to look in"; return 1; } # import -window "" waits for a click
  # A picture that could not be taken is a failure, not a picture without boxes.
  (set -o pipefail; x_import -window "$1" -depth 8 ppm:- 2>/dev/null | python3 -c '
import sys
data = sys.stdin.buffer.read()
colour, minw, minh, tol = bytes.fromhex(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
fields = data.split(maxsplit=4)
if len(fields) < 5: sys.exit(0)
w, h, pixels = int(fields[1]), int(fields[2]), fields[4]
near = [bytes(1 if abs(v - c) <= tol else 0 for v in range(256)) for c in colour]
# One byte per pixel, 1 where all three channels are near the colour.
planes = [int.from_bytes(pixels[k:3 * w * h:3].translate(near[k]), "big") for k in range(3)]
mask = bytearray((planes[0] & planes[1] & planes[2]).to_bytes(w * h, "big"))
boxes = []
start = mask.find(1)
while start >= 0:
    mask[start] = 0
    stack, x0, y0, x1, y1 = [start], w, h, 0, 0
    while stack:
        i = stack.pop()
        x, y = i % w, i // w
        x0, y0, x1, y1 = min(x0, x), min(y0, y), max(x1, x), max(y1, y)
        for j in (i - 1 if x > 0 else -1, i + 1 if x < w - 1 else -1, i - w, i + w):
            if 0 <= j < w * h and mask[j]:
                mask[j] = 0
                stack.append(j)
    start = mask.find(1, start)
    if x1 - x0 + 1 >= minw and y1 - y0 + 1 >= minh: boxes.append((y0, x0, x1 - x0 + 1, y1 - y0 + 1))
for y0, x0, bw, bh in sorted(boxes): print(x0 + bw // 2, y0 + bh // 2, bw, bh)
' "$2" "$3" "$4" "${5:-0}")
}

# Clicks the centre of the box that find_boxes printed ("x y width height") in window $1.
click_box() {
  local x y
  read -r x y _ <<<"$2"
  [ -n "$1" ] || { log "click: no window to click in"; return 1; }
  [ -n "$x" ] || { log "click: nothing found to click"; return 1; }
  x_dotool mousemove --window "$1" "$x" "$y" click 1
}

# The simulated driver, which scripts install into the shared prefix, taken out again.
remove_driver() { "$ROOT/scripts/wine-driver" remove >/dev/null 2>&1 || true; }

start_display() { [ -n "${XVFB_PID:-}" ] || start_xvfb || { log "Xvfb did not start"; exit 1; }; }

# Starts Velotrix.exe with the given arguments and waits for its first log line.
start_velotrix() {
  start_display
  [ ${#TEST_DNSAPI_PROGRAMS[@]} -gt 0 ] || use_test_dnsapi || return 1
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
main_window() { x_dotool search --onlyvisible --name '^Velotrix$' 2>/dev/null | head -n1; }
# Puts the main window's id into the variable named $1. A helper takes it once, since a second search
# may come back empty (the window was hidden meanwhile), and no X tool may be given an empty id:
# without a window this fails and leaves the reason for the check.
take_window() {
  local id
  id=$(main_window)
  printf -v "$1" '%s' "$id"
  [ -n "$id" ] || { WHY="no visible Velotrix window"; return 1; }
}

window_is() { if [ "$1" = shown ]; then [ -n "$(main_window)" ]; else [ -z "$(main_window)" ]; fi; }
# Waits up to $1 seconds for the main window to be visible (or, with "gone", to be not visible).
wait_for_window() { wait_until "$1" window_is "${2:-shown}"; }
velotrix_ended() { ! kill -0 "$VELOTRIX_PID" 2>/dev/null; }

# Until Direct2D under Wine has made its first render target (a few seconds) the window is black, not
# the page's background #15171A.
page_painted() {
  local window
  take_window window && x_import -window "$window" -depth 8 txt:- 2>/dev/null | grep -q 'srgb(21,23,26)'
}
wait_for_paint() { wait_until "$1" page_painted; }

cleanup() {
  [ ${#TEST_DNSAPI_PROGRAMS[@]} -eq 0 ] || restore_dnsapi
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
