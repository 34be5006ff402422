#!/usr/bin/env bash
# The window with only a keyboard (xdotool key presses, no pointer), with the simulated driver: Tab
# reaches a waiting phone's "Allow" and Enter admits it; Tab goes on to "Ask before a new phone
# connects" and Space flips it (read back from the registry); Shift+Tab comes back to the phone's
# "Disconnect" and Enter drops it; Escape closes the window to the notification area. The focus ring
# is photographed on the way (build/e2e-pictures, or PICTURES=docs/pictures for the documentation's).
source "$(dirname "$0")/common.bash"

phone_id=0e0d0c0b0a0908070605040302010000
PICTURES=${PICTURES:-$ROOT/build/e2e-pictures}
value_of() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v name="$2" '$1 == name { print $3 }'; }
value_is() { [ "$(value_of "$1" "$2")" = "$3" ]; }
picture() {
  local window
  mkdir -p "$PICTURES"
  take_window window && sleep 1 && x_import -window "$window" "$PICTURES/$1" 2>/dev/null
}
# Key presses go to the window that has the X input focus; nobody else is on this display.
press() {
  local window
  take_window window || return 1
  x_dotool windowfocus "$window" 2>/dev/null
  x_dotool key --delay 150 "$@"
  sleep 0.5
}
# The ring: an outline in the accent 3 pixels outside its control (at 96 DPI), so a patch of that
# colour at least $1 by $2 pixels, bigger than any green button or switch, and hollow.
ring_shown() {
  local window
  take_window window && [ -n "$(find_boxes "$window" 3dd678 "$1" "$2" 40 | awk -v w="$1" '$3 >= w')" ]
}

trap 'cleanup; remove_driver; wineserver -k 2>/dev/null; true' EXIT
start_display
wine reg delete "$SETTINGS_KEY" /f >/dev/null 2>&1
"$ROOT/scripts/wine-driver" install >/dev/null || { fail "the simulated driver did not install"; finish; }
port=$(free_port)
start_velotrix --demo --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the page is painted" wait_for_paint 60
check "the program finds the simulated bus" wait_for_log "ViGEmBus: connected\$" 20

out=$(mktemp)
"$PHONE" --port "$port" --name "Ada’s iPhone" --id "$phone_id" --pattern sweep --rate 30 --duration 60 \
  --hello-interval 500 --wait-active 60 --json >"$out" &
phone_pid=$!
check "the new phone waits for the user" wait_for_log 'Hello from "Ada’s iPhone" \([0-9a-f]{32}\): 1$' 20
sleep 1

# Share, then the phone's Allow: the page has no other control above it.
press Tab Tab
check "the focused Allow wears the ring" wait_until 5 ring_shown 100 36
picture focus-allow.png
press Return
check "Enter on Allow plugs the phone's pad" wait_for_log 'Pad plugged for "Ada’s iPhone", player 1$' 20
check "and the registry's Allowed holds its id" grep -q "$phone_id" <<<"$(value_of "$SETTINGS_KEY" Allowed)"

# The focus went to the same phone's Disconnect; the next control is the first option.
press Tab
check "the focus goes on from the phone's Disconnect to the first option, all of its row in the ring" \
  wait_until 5 ring_shown 400 40
picture focus-option.png
press space
check "Space on “Ask before a new phone connects” switches it off and saves it" \
  wait_until 10 value_is "$SETTINGS_KEY" AskFirst 0x0

press shift+Tab
picture focus-disconnect.png
press Return
disconnected() {
  log_has 'Pad unplugged for "Ada’s iPhone"$' && sed -n '/"type":"status".*"state":0/,$p' "$out" | grep -q '"type":"status".*"state":2'
}
check "Enter on Disconnect unplugs the pad and tells the phone it is refused" wait_until 10 disconnected
kill "$phone_pid" 2>/dev/null
wait "$phone_pid" 2>/dev/null

press Escape
check "Escape closes the window to the notification area" wait_for_window 10 gone
check "and the program keeps running" kill -0 "$VELOTRIX_PID"

stop_velotrix
wine reg delete "$SETTINGS_KEY" /f >/dev/null 2>&1
finish
