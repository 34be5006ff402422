#!/usr/bin/env bash
# The unchanged Velotrix.exe under Wine with the simulated bus driver installed in the prefix: an
# allowed phone gets a pad and its player number, its inputs reach the driver, rumble set on the game
# side comes back as Feedback, and a bus that refuses the version is reported.
source "$(dirname "$0")/common.bash"

GAMEPAD="$EXE_DIR/Tools/simbus/velotrix-gamepad.exe"
key='HKCU\Software\Quillon\Velotrix'
phone_id=00112233445566778899aabbccddeeff
gamepad() { wine "$GAMEPAD" "$@" 2>/dev/null | tr -d '\r'; }

uninstall() { "$ROOT/scripts/wine-driver" remove >/dev/null 2>&1 || true; }
trap 'cleanup; uninstall; wineserver -k 2>/dev/null; true' EXIT

start_display
"$ROOT/scripts/wine-driver" install >/dev/null || { fail "the simulated driver did not install"; finish; }
# The phone was allowed in an earlier run: a restart admits it without asking.
wine reg add "$key" /v Allowed /t REG_MULTI_SZ /d "$phone_id" /f >/dev/null 2>&1

port=$(free_port)
start_velotrix --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the program finds the simulated bus" wait_for_log "ViGEmBus: connected\$" 30
wait_for_log "Server: listening on UDP $port\$" 30

out=$(mktemp)
"$PHONE" --port "$port" --name "Anna’s iPhone" --id "$phone_id" --pattern sweep --rate 100 --duration 4 \
  --wait-active 20 --json >"$out" &
phone_pid=$!
pads=$(gamepad wait-pads 1 20000)
serial=$(jq '.pads[0].serial' <<<"$pads" 2>/dev/null)
check "a pad is plugged for the allowed phone" test -n "$serial" -a "$serial" != null
gamepad rumble "$serial" 200 100 2 >/dev/null
wait "$phone_pid"

check "the phone was admitted without asking" grep -q '"type":"status".*"state":0' "$out"
check "its player number arrived in a Status" grep -q '"type":"status".*"player":1,"state":0' "$out"
check "the game's rumble came back as Feedback" grep -q '"large":200,"small":100,"led":2' "$out"
check "the pad was logged with the player number" wait_for_log 'Pad plugged for "Anna’s iPhone", player 1$' 5
sent=$(grep '"type":"summary"' "$out" | jq .sent_inputs)
reports=$(gamepad reports | jq --argjson s "$serial" '.reports[] | select(.serial == $s) | .count')
check "every input reached the driver as a report ($reports of $sent)" test "${sent:-0}" -gt 0 -a "${reports:-0}" -eq "${sent:-0}"
check "the phone's Bye unplugged the pad" wait_for_log 'Pad unplugged for "Anna’s iPhone"$' 10

# The same phone again, on a bus where another program holds serial 1, the readiness request is not
# offered (87) and Windows gives the user index late: it still gets a pad, and its player number
# arrives in a later Status.
gamepad fault serial-taken on >/dev/null
gamepad fault ready-invalid on >/dev/null
gamepad user-index-late on >/dev/null
"$PHONE" --port "$port" --name "Anna’s iPhone" --id "$phone_id" --pattern still --rate 50 --duration 4 \
  --wait-active 20 --json >"$out" &
phone_pid=$!
serial=$(gamepad wait-pads 1 20000 | jq '.pads[0].serial' 2>/dev/null)
check "serial 1 being taken, the pad settles on serial 2" test "$serial" = 2
check "a pad without a user index is logged as player 0" wait_for_log 'Pad plugged for "Anna’s iPhone", player 0$' 10
gamepad user-index-late off >/dev/null
wait "$phone_pid"
check "the phone was admitted with player 0 first" grep -q '"type":"status".*"player":0,"state":0' "$out"
check "its player number followed in a later Status" grep -q '"type":"status".*"player":1,"state":0' "$out"
gamepad fault serial-taken off >/dev/null
gamepad fault ready-invalid off >/dev/null
stop_velotrix

# A bus that refuses the version: the program runs without pads and says why.
"$ROOT/scripts/wine-driver" install >/dev/null || fail "the simulated driver did not install again"
gamepad fault version-refused on >/dev/null
start_velotrix --port "$port" || fail "Velotrix.exe did not start the second time"
check "a refused version is logged" wait_for_log 'ViGEmBus: not available \(0xE0000008\)$' 30
out=$("$PHONE" --port "$port" --id "$phone_id" --duration 0 --hello-interval 0 --no-bye --listen 1500 --json)
check "phones are told there is no driver" test "$(grep '"type":"status"' <<<"$out" | head -n1 | jq .state)" = 4
stop_velotrix

wine reg delete "$key" /v Allowed /f >/dev/null 2>&1
finish
