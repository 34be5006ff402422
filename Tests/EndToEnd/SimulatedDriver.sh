#!/usr/bin/env bash
# The unchanged Velotrix.exe against the simulated bus driver's ways to answer: completed on the spot,
# refused on the spot (FALSE with the error; the request's event is never signalled), and pending.
source "$(dirname "$0")/common.bash"

GAMEPAD="$EXE_DIR/Tools/simbus/velotrix-gamepad.exe"
phone_id=00112233445566778899aabbccddeeff
gamepad() { wine "$GAMEPAD" "$@" 2>/dev/null | tr -d '\r'; }
# The driver's counters of how it answered since the last reset: atOnce, refusedAtOnce, pended.
answers() { read -r at_once refused pended <<<"$(gamepad status | jq -r '"\(.atOnce) \(.refusedAtOnce) \(.pended)"')"; }

trap 'cleanup; remove_driver; wineserver -k 2>/dev/null; true' EXIT

# An allowed phone streams 4 s while the game sets the rumble once and the command given, if any, runs.
# Sets $out (the phone's JSON), $serial (its pad), $sent (its inputs), $reports (the driver's) and the counters.
play() {
  "$PHONE" --port "$port" --name "Anna’s iPhone" --id "$phone_id" --pattern sweep --rate 100 --duration 4 \
    --wait-active 20 --json >"$out" &
  local phone_pid=$!
  serial=$(gamepad wait-pads 1 20000 | jq '.pads[0].serial' 2>/dev/null)
  gamepad rumble "$serial" 200 100 2 >/dev/null
  "$@"
  wait "$phone_pid"
  sent=$(grep '"type":"summary"' "$out" | jq .sent_inputs)
  reports=$(gamepad reports | jq --argjson s "${serial:-0}" '.reports[] | select(.serial == $s) | .count')
  wait_for_log 'Pad unplugged for "Anna’s iPhone"$' 10
  answers
}
# At least: a phone held up past the idle time under load gets its pad centred, one report more.
all_inputs_arrived() { test "${sent:-0}" -gt 0 -a "${reports:-0}" -ge "${sent:-0}"; }

start_display
"$ROOT/scripts/wine-driver" install >/dev/null || { fail "the simulated driver did not install"; finish; }
# The phone was allowed in an earlier run: a restart admits it without asking.
wine reg add "$SETTINGS_KEY" /v Allowed /t REG_MULTI_SZ /d "$phone_id" /f >/dev/null 2>&1
gamepad reset >/dev/null
out=$(mktemp)
port=$(free_port)

start_velotrix --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the program finds the simulated bus" wait_for_log "ViGEmBus: connected\$" 30
wait_for_log "Server: listening on UDP $port\$" 30
answers
check "its version check was completed on the spot ($at_once, $refused, $pended)" \
  test "$at_once" -ge 1 -a "$refused" -eq 0 -a "$pended" -eq 0

# A bus like the real one, where another program holds serial 1: that plug in is refused on the spot
# with 183, reports and the unplug are completed on the spot, notifications pended.
gamepad reset >/dev/null
gamepad fault serial-taken on >/dev/null
play
check "a plug in refused on the spot moves the pad on to serial 2" test "$serial" = 2
check "exactly that plug in was refused on the spot ($refused)" test "$refused" -eq 1
check "the pad was logged with the player number" wait_for_log 'Pad plugged for "Anna’s iPhone", player 1$' 5
check "the phone was admitted without asking, with its player number" \
  grep -q '"type":"status".*"player":1,"state":0' "$out"
check "the game's rumble came back as Feedback" grep -q '"large":200,"small":100,"led":2' "$out"
check "every input reached the driver as a report ($reports of $sent)" all_inputs_arrived
check "the reports were completed on the spot ($at_once for $sent)" test "$at_once" -gt "${sent:-0}"
check "notifications were the only requests pended ($pended)" test "$pended" -ge 2 -a "$pended" -le 4

# The readiness request is not offered (87) and Windows gives the user index late: the phone still
# gets a pad, and its player number arrives in a later Status.
gamepad reset >/dev/null
gamepad fault ready-invalid on >/dev/null
gamepad user-index-late on >/dev/null
late_index() {
  check "a pad without a user index is logged as player 0" wait_for_log 'Pad plugged for "Anna’s iPhone", player 0$' 10
  gamepad user-index-late off >/dev/null
}
play late_index
check "the phone was admitted with player 0 first" grep -q '"type":"status".*"player":0,"state":0' "$out"
check "its player number followed in a later Status" grep -q '"type":"status".*"player":1,"state":0' "$out"
gamepad fault ready-invalid off >/dev/null

# A driver that pends every request, refusals included, works the same.
gamepad reset >/dev/null
gamepad fault serial-taken on >/dev/null
gamepad fault all-pending on >/dev/null
play
check "with every request pended nothing was answered on the spot ($at_once, $refused)" \
  test "$at_once" -eq 0 -a "$refused" -eq 0
check "the pended plug in refusal still moves the pad on to serial 2" test "$serial" = 2
check "every input still reached the driver ($reports of $sent)" all_inputs_arrived
check "and the rumble came back" grep -q '"large":200,"small":100,"led":2' "$out"
stop_velotrix

# A version check refused on the spot: the program runs without pads and says why.
"$ROOT/scripts/wine-driver" install >/dev/null || fail "the simulated driver did not install again"
gamepad reset >/dev/null
gamepad fault version-refused on >/dev/null
start_velotrix --port "$port" || fail "Velotrix.exe did not start the second time"
check "a refused version is logged" wait_for_log 'ViGEmBus: not available \(0xE0000008\)$' 30
answers
check "that refusal came on the spot ($at_once, $refused, $pended)" test "$refused" -eq 1 -a "$pended" -eq 0
check "the server still listens" wait_for_log "Server: listening on UDP $port\$" 30
state=$("$PHONE" --port "$port" --id "$phone_id" --duration 0 --hello-interval 0 --no-bye --listen 1500 --json |
  grep '"type":"status"' | head -n1 | jq .state)
check "phones are told there is no driver" test "$state" = 4
stop_velotrix

rm -f "$out"
wine reg delete "$SETTINGS_KEY" /v Allowed /f >/dev/null 2>&1
finish
