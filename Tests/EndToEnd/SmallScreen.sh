#!/usr/bin/env bash
# Velotrix.exe on a small screen (1024 × 600) under Wine: the window opens wholly inside the screen,
# the driver-missing page, taller than the window, shows a scroll indicator at the right edge that
# follows End, Home, Page Down and the arrow keys, and a phone's long name and long address line end
# before the pill and the Disconnect button. Screenshots go to $VELOTRIX_SHOTS (build/windows/screenshots).
source "$(dirname "$0")/common.bash"

SHOTS=${VELOTRIX_SHOTS:-$ROOT/build/windows/screenshots}
mkdir -p "$SHOTS"
GAMEPAD="$EXE_DIR/Tools/simbus/velotrix-gamepad.exe"
key='HKCU\Software\Quillon\Velotrix'
phone_id=0000000000000000000000000000be11
trap 'kill "${PHONE_PID:-}" 2>/dev/null; cleanup; "$ROOT/scripts/wine-driver" remove >/dev/null 2>&1; wineserver -k 2>/dev/null; true' EXIT

# A screen of its own, smaller than the window the program asks for.
fd_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp 3>"$fd_file" 2>/dev/null &
XVFB_PID=$!
wait_until 10 test -s "$fd_file"
export DISPLAY=":$(head -n1 "$fd_file")"
rm -f "$fd_file"

# "x y width height" of window $1 on the screen, frame included when Wine draws one.
geometry() {
  [ -n "$1" ] || return 1
  x_wininfo -id "$1" 2>/dev/null | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
    /Width:/ {w=$2} /Height:/ {h=$2} END {if (w != "") print x, y, w, h}'
}

# Rows of the window's column 4 pixels inside its right edge where the scroll indicator's colour is (not
# the page's background), as "first last", or nothing.
thumb_rows() {
  local window width
  take_window window || return 1
  width=$(geometry "$window" | cut -d' ' -f3)
  [ -n "$width" ] || return 1
  x_import -window "$window" -depth 8 -crop "1x2000+$((width - 4))+0" txt:- 2>/dev/null |
    awk -F'[,: ]+' 'NR > 1 && $0 !~ /srgb\(21,23,26\)/ { if (first == "") first = $2; last = $2 } END { if (first != "") print first, last }'
}
# Whether the thumb's first row satisfies the test "$1" (e.g. "-lt 10").
thumb_top() { local rows; rows=$(thumb_rows); [ -n "$rows" ] && [ "${rows%% *}" $1 ]; }
# Presses key $1 and waits up to 10 s for the thumb to satisfy "$2".
press() { local window; take_window window && x_dotool key --window "$window" "$1" && wait_until 10 thumb_top "$2"; }

# Whether the pixels left of a phone card's pill ("pill") or of its Disconnect button ("disconnect"),
# in the gap of 8 pixels the layout leaves, are all card colour: no text runs under the neighbour.
# The pill is the accent at alpha 40 on the card; the button the control colour at alpha 225,
# 105 to 131 pixels below the pill's top (at scale 1).
clear_left_of() {
  local window
  take_window window || return 1
  x_import -window "$window" -depth 8 txt:- 2>/dev/null | python3 -c '
import re, sys
near = lambda p, c: all(abs(a - b) <= 3 for a, b in zip(p, c))
pixels = {}
for line in sys.stdin:
    m = re.match(r"(\d+),(\d+): \((\d+),(\d+),(\d+)", line)
    if m:
        x, y, *rgb = map(int, m.groups())
        pixels[(x, y)] = tuple(rgb)
pill = sorted((y, x) for (x, y), p in pixels.items() if near(p, (36, 62, 50)))
if not pill: sys.exit("no pill")
top = pill[0][0]
if sys.argv[1] == "pill":
    rows, hits = sorted({y for y, _ in pill}), pill
else:
    rows = range(top + 110, top + 126)
    hits = [(y, x) for (x, y), p in pixels.items() if y in rows and x > 100 and near(p, (41, 45, 48))]
    if not hits: sys.exit("no button")
middle = rows[len(rows) // 2]
# The first pixel of a run of 6: grey text blends through the button colour at the edges of its glyphs.
row = {x for y, x in hits if y == middle}
left = min(x for x in row if all(x + i in row for i in range(6)))
dirty = [(x, y) for y in rows for x in range(left - 7, left - 1) if not near(pixels.get((x, y), (0, 0, 0)), (31, 34, 37))]
print(sys.argv[1], "left edge", left, "rows", rows[0], "to", rows[-1], "dirty", len(dirty), file=sys.stderr)
sys.exit(1 if dirty else 0)' "$1"
}

start_display
# 1. No driver: the page is taller than the window.
port=$(free_port)
start_velotrix --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the window opens" wait_for_window 30
check "the page is painted" wait_for_paint 60
take_window window
read -r wx wy ww wh <<<"$(geometry "$window")"
check "the window lies wholly inside the 1024 × 600 screen (${ww:-?} × ${wh:-?} at ${wx:-?},${wy:-?})" \
  test -n "$wh" -a "${wx:-0}" -ge 0 -a "${wy:-0}" -ge 0 -a $((wx + ww)) -le 1024 -a $((wy + wh)) -le 600
x_import -window root "$SHOTS/small-screen.png" 2>/dev/null

check "the scroll indicator shows at the top of the right edge" wait_until 10 thumb_top "-lt 10"
take_window window && x_dotool windowfocus --sync "$window" 2>/dev/null
check "End scrolls to the bottom and the indicator follows" press End "-gt 100"
take_window window && x_import -window "$window" "$SHOTS/scrolled-to-end.png" 2>/dev/null
check "Home scrolls back to the top" press Home "-lt 10"
check "Page Down scrolls down" press Next "-gt 100"
check "Page Up scrolls back up" press Prior "-lt 10"
check "an arrow key scrolls by a line" press Down "-gt 10"
stop_velotrix

# 2. A phone with a long name on a link-local address with rumble, in a window at its narrowest.
"$ROOT/scripts/wine-driver" install >/dev/null || { fail "the simulated driver did not install"; finish; }
wine reg add "$key" /v Allowed /t REG_MULTI_SZ /d "$phone_id" /f >/dev/null 2>&1
start_velotrix --port "$port" || { fail "Velotrix.exe did not start with the driver"; finish; }
wait_for_log "Server: listening on UDP $port\$" 30
wait_for_paint 60
link_local=$(ip -6 addr show scope link 2>/dev/null | awk '/inet6/ {print $2; exit}' | cut -d/ -f1)
interface=$(ip -6 addr show scope link 2>/dev/null | awk -F': ' '/^[0-9]+:/ {name=$2} /inet6/ {print name; exit}')
host=${link_local:+$link_local%$interface}
"$PHONE" --host "${host:-::1}" --port "$port" --name "Alexandra’s iPhone 15 Pro Max in the living room" \
  --id "$phone_id" --pattern still --rate 30 --duration 60 --wait-active 20 --quiet >/dev/null 2>&1 &
PHONE_PID=$!
serial=$(wine "$GAMEPAD" wait-pads 1 20000 2>/dev/null | tr -d '\r' | jq '.pads[0].serial' 2>/dev/null)
wine "$GAMEPAD" rumble "${serial:-1}" 120 60 1 >/dev/null 2>&1
take_window window && x_dotool windowsize "$window" 420 560
# The pill lies at the card's right edge: once it shows inside 420 pixels the narrow layout is painted.
narrow_card_painted() {
  local window x w
  take_window window || return 1
  read -r x _ w _ <<<"$(find_boxes "$window" 243e32 20 10 3 | head -n1)"
  [ -n "$x" ] && [ $((x + w / 2)) -lt 420 ]
}
check "the phone's card is painted in the narrow window" wait_until 30 narrow_card_painted
take_window window && x_import -window "$window" "$SHOTS/long-texts.png" 2>/dev/null
check "the long name ends before the pill" clear_left_of pill
check "the address line ends before the Disconnect button" clear_left_of disconnect
kill "$PHONE_PID" 2>/dev/null
stop_velotrix
wine reg delete "$key" /v Allowed /f >/dev/null 2>&1
finish
