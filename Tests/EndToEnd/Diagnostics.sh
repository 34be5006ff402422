#!/usr/bin/env bash
# "Copy diagnostics" in the footer, clicked while a phone plays on the simulated driver: the clipboard
# (read back with xclip) and diagnostics.txt beside server.log hold the checks, the phone with its
# figures, the settings and the log's end, with every phone id cut to its first 8 digits, and no pad
# is plugged for the checks.
source "$(dirname "$0")/common.bash"

GAMEPAD="$EXE_DIR/Tools/simbus/velotrix-gamepad.exe"
gamepad() { wine "$GAMEPAD" "$@" 2>/dev/null | tr -d '\r'; }
phone_id=00112233445566778899aabbccddeeff
other_id=ffeeddccbbaa99887766554433221100
diagnostics() { printf '%s' "$WINEPREFIX"/drive_c/users/*/AppData/Local/Velotrix/diagnostics.txt; }
trap 'kill "${PHONE_PID:-}" 2>/dev/null; cleanup; remove_driver; wine reg delete "$SETTINGS_KEY" /v Allowed /f >/dev/null 2>&1; wineserver -k 2>/dev/null; true' EXIT

# The footer's left link, "Copy diagnostics": of the green (#3DD678) text on the page's lowest green
# line, the part left of the middle. Prints "x y" in window coordinates.
footer_link() {
  (set -o pipefail; x_import -window "$1" -depth 8 ppm:- 2>/dev/null | python3 -c '
import sys
data = sys.stdin.buffer.read()
fields = data.split(maxsplit=4)
w, h, px = int(fields[1]), int(fields[2]), fields[4]
def green(x, y):
    r, g, b = px[3 * (y * w + x):3 * (y * w + x) + 3]
    return abs(r - 61) < 40 and abs(g - 214) < 40 and abs(b - 120) < 40 and g > 150
low = max((y for y in range(h) for x in range(0, w, 2) if green(x, y)), default=-1)
if low < 0: sys.exit(1)
xs = [x for y in range(max(0, low - 14), low + 1) for x in range(w // 2) if green(x, y)]
if not xs: sys.exit(1)
print((min(xs) + max(xs)) // 2, low - 5)
')
}

has_all_sections() {
  local text=$1
  for section in '^Checks$' '^Phones$' '^Settings$' '^Log \(last 200 lines\)$'; do
    grep -qE "$section" <<<"$text" || { WHY="no section $section"; return 1; }
  done
  grep -qE '^PASS driver: ViGEmBus connected' <<<"$text" || { WHY="no driver line"; return 1; }
  grep -qE '^PASS socket: listening on all interfaces, UDP '"$port"'$' <<<"$text" || { WHY="no socket line"; return 1; }
  grep -qE '^(PASS|SKIP) Direct2D: ' <<<"$text" || { WHY="no paint line"; return 1; }
  grep -qE '^“Anna’s iPhone” id 00112233…, from 127\.0\.0\.1, Active, player 1, [0-9]+ inputs/s' <<<"$text" ||
    { WHY="no phone line"; return 1; }
  grep -qE '^allowed phones: 00112233… ffeeddcc…$' <<<"$text" || { WHY="no allowed phones"; return 1; }
  grep -qE 'Hello from "Anna’s iPhone" \(00112233…\)' <<<"$text" || { WHY="no log line of the phone"; return 1; }
}
no_full_id() { ! grep -qiE '[0-9a-f]{32}' <<<"$1"; }

start_display
"$ROOT/scripts/wine-driver" install >/dev/null || { fail "the simulated driver did not install"; finish; }
wine reg add "$SETTINGS_KEY" /v Allowed /t REG_MULTI_SZ /d "$phone_id\\0$other_id" /f >/dev/null 2>&1
rm -f "$(diagnostics)"
port=$(free_port)
start_velotrix --port "$port" || { fail "Velotrix.exe did not start"; finish; }
wait_for_log "Server: listening on UDP $port\$" 30
check "the page is painted" wait_for_paint 60
"$PHONE" --port "$port" --name "Anna’s iPhone" --id "$phone_id" --pattern sweep --rate 30 --duration 120 \
  --wait-active 20 --quiet >/dev/null 2>&1 &
PHONE_PID=$!
check "the phone plays" wait_for_log 'Pad plugged for "Anna’s iPhone", player 1$' 30
pads_before=$(gamepad pads | jq '.pads | length' 2>/dev/null)

# The footer lies below the fold with a phone on the page: End scrolls to it.
if take_window window; then
  x_dotool windowactivate --sync "$window" 2>/dev/null || x_dotool windowfocus "$window"
  x_dotool key --window "$window" End
  sleep 3 # a paint takes about a second under Wine
  read -r x y <<<"$(footer_link "$window")"
  if [ -n "$y" ]; then
    x_dotool mousemove --window "$window" "$x" "$y" click 1
  else
    fail "the footer's “Copy diagnostics” link is found"
  fi
else
  fail "the window is there to click in ($WHY)"
fi
# The path holds a wildcard for the user's folder, which matches only once the file is there: it is
# looked for again at every try.
diagnostics_written() { test -s "$(diagnostics)"; }
check "diagnostics.txt is written beside server.log" wait_until 20 diagnostics_written
mkdir -p "$ROOT/build/windows/screenshots"
x_import -window root "$ROOT/build/windows/screenshots/diagnostics.png" 2>/dev/null
file_text=$(tr -d '\r' <"$(diagnostics)" 2>/dev/null)
clip_text=$(x_clip -o -selection clipboard 2>/dev/null | tr -d '\r')
check "diagnostics.txt holds every section, the phone and the settings" has_all_sections "$file_text"
check "the clipboard holds the same text" test "$clip_text" = "$file_text"
check "diagnostics.txt holds no full phone id" no_full_id "$file_text"
check "the clipboard holds no full phone id" no_full_id "$clip_text"
check "its log section ends with the log's end" \
  test "$(tail -n1 <<<"$file_text")" = "$(tr -d '\r' <"$(log_file)" | tail -n1 | sed -E 's/([0-9a-f]{8})[0-9a-f]{24}/\1…/g')"
check "the checks plugged no pad beside the phone's" test "$(gamepad pads | jq '.pads | length' 2>/dev/null)" = "$pads_before"
check "the phone kept playing" kill -0 "$PHONE_PID"
log "diagnostics.txt:"
head -n 20 <<<"$file_text" | sed 's/^/    /' >&2
finish
