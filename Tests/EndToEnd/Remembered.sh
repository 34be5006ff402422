#!/usr/bin/env bash
# The user's "no" and the remembered phones, with the simulated driver and real clicks: a phone the
# user denied keeps asking, its row says "Refused" and offers "Allow", which admits it after all; once
# it played, the Options card lists it by name with "Forget", which takes it off the registry (read
# back). Screenshots: build/windows/screenshots/remembered-*.png.
source "$(dirname "$0")/common.bash"

phone_id=1f1e1d1c1b1a19181716151413121110
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
button() { wait_until 20 has_buttons "$@" && buttons "$@" | head -n1; }
click() { local window; take_window window && click_box "$window" "$1"; }
shot() { local window; take_window window && x_import -window "$window" "$SHOTS/remembered-$1.png" 2>/dev/null; }
registry() { wine reg query "$SETTINGS_KEY" /v "$1" 2>/dev/null | tr -d '\r'; }

start_velotrix --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the page is painted" wait_for_paint 60
wait_for_log "ViGEmBus: connected\$" 10

# The phone asks until it is Active, twice a second, then plays for three seconds and says Bye.
out=$(mktemp)
"$PHONE" --port "$port" --name "Mia’s iPhone" --id "$phone_id" --pattern sweep --rate 60 --duration 3 \
  --hello-interval 500 --wait-active 60 --json >"$out" &
phone_pid=$!
check "the new phone waits for the user" wait_for_log 'Hello from "Mia’s iPhone" \([0-9a-f]{32}\): 1$' 20
allow=$(button "$GREEN")
click "$(button "$GREY" on "$(cut -d' ' -f2 <<<"$allow")")"
check "Deny tells it it is refused" wait_until 20 grep -q '"type":"status".*"state":2' "$out"
# It keeps asking; its row offers Allow (green, with no grey Deny beside it any more).
refused_row() { has_buttons "$GREEN" && ! has_buttons "$GREY" on "$(buttons "$GREEN" | head -n1 | cut -d' ' -f2)"; }
check "the refused row offers Allow alone" wait_until 20 refused_row
sleep 1
check "its next Hellos are answered Refused" test "$(grep -c '"type":"status".*"state":2' "$out")" -ge 2
shot refused
click "$(button "$GREEN")"
check "Allow on the refused row plugs its pad" wait_for_log 'Pad plugged for "Mia’s iPhone", player 1$' 20
check "the registry's Allowed holds its id" grep -q "$phone_id" <<<"$(registry Allowed)"
# reg prints in the console's code page, where the typographic apostrophe may not survive.
names_hold() { registry AllowedNames | grep -qE "$phone_id	[1-9][0-9]*	Mia.{1,3}s iPhone"; }
check "AllowedNames holds its name and when it was seen" wait_until 10 names_hold
check "the phone played and said Bye" wait_for_log 'Bye from "Mia’s iPhone"$' 30
wait "$phone_pid" 2>/dev/null

# The Options card at the page's end: the remembered phone with "Forget", the only wide grey button.
scroll_to_end() {
  local window
  take_window window && x_dotool mousemove --window "$window" 230 400 click --repeat 15 --delay 30 5
}
scroll_to_end
sleep 2
check "the Options card lists the phone with Forget" wait_until 20 has_buttons "$GREY"
shot options
click "$(buttons "$GREY" | tail -n1)"
forgotten() { ! registry Allowed | grep -q "$phone_id" && ! registry AllowedNames | grep -q "$phone_id"; }
check "Forget takes it off Allowed and AllowedNames in the registry" wait_until 10 forgotten
sleep 1
no_forget() { local window; take_window window && [ -z "$(buttons "$GREY")" ]; }
check "the list has no Forget any more" wait_until 10 no_forget
shot forgotten

# Forgotten: it asks the user again.
"$PHONE" --port "$port" --name "Mia’s iPhone" --id "$phone_id" --duration 0 --hello-interval 0 --no-bye --listen 2000 \
  --json >"$out"
check "a forgotten phone waits for the user again" grep -q '"type":"status".*"state":1' "$out"
stop_velotrix
wine reg delete "$SETTINGS_KEY" /f >/dev/null 2>&1
finish
