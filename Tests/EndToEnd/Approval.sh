#!/usr/bin/env bash
# New phones wait for the user, with the simulated driver: real clicks on "Deny", "Allow" and
# "Disconnect", found by colour as a user finds them (screenshots: build/windows/screenshots/approval-*.png).
source "$(dirname "$0")/common.bash"

phone_id=0f0e0d0c0b0a09080706050403020100
GREEN="3bd074 16" # the accent colour, as a button shows it
GREY="292d30 3"   # the control colour, as a button shows it
SHOTS="$ROOT/build/windows/screenshots"
mkdir -p "$SHOTS"

trap 'cleanup; remove_driver; wineserver -k 2>/dev/null; true' EXIT

start_display
wine reg delete "$SETTINGS_KEY" /f >/dev/null 2>&1
"$ROOT/scripts/wine-driver" install >/dev/null || { fail "the simulated driver did not install"; finish; }
port=$(free_port)
# Wide buttons of colour $1 whose centre is (with "off", is not) within two pixels of height $3.
buttons() {
  local window
  take_window window || return 1
  find_boxes "$window" "${1% *}" 80 20 "${1#* }" | awk -v y="${3:-0}" -v want="${2:-any}" \
    'want == "any" || (want == "on") == (($2 - y) ^ 2 <= 4)'
}
has_buttons() { [ -n "$(buttons "$@")" ]; }
# The first such button once there is one (at most 20 seconds).
button() { wait_until 20 has_buttons "$@" && buttons "$@" | head -n1; }
click() { local window; take_window window && click_box "$window" "$1"; }

# A phone the user refuses: "Deny" tells it so.
start_velotrix --demo --port "$port" || { fail "Velotrix.exe did not start"; finish; }
wait_for_paint 60
# Until the bus is found the page shows the driver card, and the phone's buttons would move after.
wait_for_log "ViGEmBus: connected\$" 10
denied=$(mktemp)
"$PHONE" --port "$port" --name "Mia’s iPhone" --duration 0 --hello-interval 0 --no-bye --listen 20000 --json >"$denied" &
denied_pid=$!
check "another new phone waits" wait_for_log 'Hello from "Mia’s iPhone" \([0-9a-f]{32}\): 1$' 20
allow=$(button "$GREEN")
check "its card shows Allow" test -n "$allow"
# Deny: the wide grey button on Allow's row.
click "$(button "$GREY" on "$(cut -d' ' -f2 <<<"$allow")")"
check "a click on Deny refuses it" wait_until 20 grep -q '"type":"status".*"state":2' "$denied"
kill "$denied_pid" 2>/dev/null
wait "$denied_pid" 2>/dev/null
stop_velotrix

# The driver ended with the wineserver; the same program, started again, with a phone the user admits.
"$ROOT/scripts/wine-driver" install >/dev/null || fail "the simulated driver did not install again"
start_velotrix --demo --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the page is painted" wait_for_paint 60
check "the program finds the simulated bus" wait_for_log "ViGEmBus: connected\$" 10

out=$(mktemp)
"$PHONE" --port "$port" --name "Leo’s iPhone" --id "$phone_id" --pattern sweep --rate 60 --duration 15 \
  --hello-interval 500 --wait-active 40 --json >"$out" &
phone_pid=$!
check "the new phone waits for the user" wait_for_log 'Hello from "Leo’s iPhone" \([0-9a-f]{32}\): 1$' 20
allow=$(button "$GREEN")
x_import -window root "$SHOTS/approval-waiting.png" 2>/dev/null
click "$allow"
check "a click on Allow plugs its pad" wait_for_log 'Pad plugged for "Leo’s iPhone", player 1$' 20
allowed=$(wine reg query "$SETTINGS_KEY" /v Allowed 2>/dev/null | tr -d '\r')
check "the registry's Allowed holds its id" grep -q "$phone_id" <<<"$allowed"
# Disconnect: the wide grey button once none is left on Allow's row.
disconnect=$(button "$GREY" off "$(cut -d' ' -f2 <<<"$allow")")
check "the live card shows Disconnect" test -n "$disconnect"
x_import -window root "$SHOTS/approval-active.png" 2>/dev/null
click "$disconnect"
# Its own Bye would unplug the pad too: only Disconnect tells the admitted phone it is refused.
disconnected() {
  log_has 'Pad unplugged for "Leo’s iPhone"$' && sed -n '/"type":"status".*"state":0/,$p' "$out" | grep -q '"type":"status".*"state":2'
}
check "a click on Disconnect unplugs its pad and tells the phone it is refused" wait_until 10 disconnected
kill "$phone_pid" 2>/dev/null
wait "$phone_pid" 2>/dev/null
stop_velotrix
wine reg delete "$SETTINGS_KEY" /f >/dev/null 2>&1
finish
