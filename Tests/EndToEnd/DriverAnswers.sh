#!/usr/bin/env bash
# The shipped Velotrix.exe against the three ways a bus driver answers a request: completed on the
# spot (DeviceIoControl answers TRUE), refused on the spot (FALSE with the error, and the request's
# event is never signalled), and pending until the game acts. The simulated driver answers like a real
# bus does, pending only notifications; its all-pending fault pends everything.
source "$(dirname "$0")/common.bash"

GAMEPAD="$EXE_DIR/Tools/simbus/velotrix-gamepad.exe"
key='HKCU\Software\Quillon\Velotrix'
phone_id=00112233445566778899aabbccddeeff
gamepad() { wine "$GAMEPAD" "$@" 2>/dev/null | tr -d '\r'; }
# The driver's counters of how it answered since the last reset: atOnce, refusedAtOnce, pended.
answers() { gamepad status | jq -r '"\(.atOnce) \(.refusedAtOnce) \(.pended)"'; }

uninstall() { "$ROOT/scripts/wine-driver" remove >/dev/null 2>&1 || true; }
trap 'cleanup; uninstall; wineserver -k 2>/dev/null; true' EXIT

# An allowed phone streams for a few seconds while the game sets the rumble once. Leaves the phone's
# JSON in $out, the pad's serial in $serial and the inputs the phone sent in $sent.
play() {
  "$PHONE" --port "$port" --name "Anna’s iPhone" --id "$phone_id" --pattern sweep --rate 100 --duration 4 \
    --wait-active 20 --json >"$out" &
  local phone_pid=$!
  serial=$(gamepad wait-pads 1 20000 | jq '.pads[0].serial' 2>/dev/null)
  gamepad rumble "$serial" 200 100 2 >/dev/null
  wait "$phone_pid"
  sent=$(grep '"type":"summary"' "$out" | jq .sent_inputs)
  reports=$(gamepad reports | jq --argjson s "${serial:-0}" '.reports[] | select(.serial == $s) | .count')
  wait_for_log 'Pad unplugged for "Anna’s iPhone"$' 10
}

start_display
"$ROOT/scripts/wine-driver" install >/dev/null || { fail "the simulated driver did not install"; finish; }
wine reg add "$key" /v Allowed /t REG_MULTI_SZ /d "$phone_id" /f >/dev/null 2>&1
gamepad reset >/dev/null
out=$(mktemp)
port=$(free_port)

# Completed on the spot: the version check at start.
start_velotrix --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the program finds the bus" wait_for_log "ViGEmBus: connected\$" 30
wait_for_log "Server: listening on UDP $port\$" 30
read -r at_once refused pended <<<"$(answers)"
check "its version check was completed on the spot ($at_once, $refused, $pended)" \
  test "$at_once" -ge 1 -a "$refused" -eq 0 -a "$pended" -eq 0

# Refused on the spot: another program holds serial 1, so the first plug in fails at once with 183.
# Reports and the unplug are completed on the spot, notifications wait for the game.
gamepad reset >/dev/null
gamepad fault serial-taken on >/dev/null
play
read -r at_once refused pended <<<"$(answers)"
check "a plug in refused on the spot moves the pad on to serial 2" test "$serial" = 2
check "exactly that plug in was refused on the spot ($refused)" test "$refused" -eq 1
check "every input reached the driver ($reports of $sent)" test "${sent:-0}" -gt 0 -a "${reports:-0}" -eq "${sent:-0}"
check "the reports were completed on the spot ($at_once for $sent)" test "$at_once" -gt "${sent:-0}"
check "the game's rumble ended a pending notification" grep -q '"large":200,"small":100,"led":2' "$out"
check "notifications were the only requests pended ($pended)" test "$pended" -ge 2 -a "$pended" -le 4
check "the phone got its player number" grep -q '"type":"status".*"player":1,"state":0' "$out"

# A driver that pends every request, refusals included, works the same.
gamepad reset >/dev/null
gamepad fault serial-taken on >/dev/null
gamepad fault all-pending on >/dev/null
play
read -r at_once refused pended <<<"$(answers)"
check "with every request pended nothing was answered on the spot ($at_once, $refused)" \
  test "$at_once" -eq 0 -a "$refused" -eq 0
check "the pended plug in refusal still moves the pad on to serial 2" test "$serial" = 2
check "every input still reached the driver ($reports of $sent)" \
  test "${sent:-0}" -gt 0 -a "${reports:-0}" -eq "${sent:-0}" -a "$pended" -gt "${sent:-0}"
check "and the rumble came back" grep -q '"large":200,"small":100,"led":2' "$out"
stop_velotrix

# A version check refused on the spot: the program goes on without pads and says why.
"$ROOT/scripts/wine-driver" install >/dev/null || fail "the simulated driver did not install again"
gamepad reset >/dev/null
gamepad fault version-refused on >/dev/null
start_velotrix --port "$port" || fail "Velotrix.exe did not start the second time"
check "a version refused on the spot is logged" wait_for_log 'ViGEmBus: not available \(0xE0000008\)$' 30
read -r at_once refused pended <<<"$(answers)"
check "that refusal came on the spot ($at_once, $refused, $pended)" test "$refused" -eq 1 -a "$pended" -eq 0
check "the server still listens" wait_for_log "Server: listening on UDP $port\$" 30
stop_velotrix

rm -f "$out"
wine reg delete "$key" /v Allowed /f >/dev/null 2>&1
finish
