#!/usr/bin/env bash
# The shipped Velotrix.exe under Wine with the simulated driver, which velotrix-gamepad takes away
# (`remove`) and brings back (`restore`): two phones play as players 1 and 2, are told "no driver"
# within a second of the removal, and are Active again as the same players within two seconds of the
# return, with their reports reaching the new bus. The status card is photographed in both states
# (build/e2e-pictures, or PICTURES=docs/pictures to refresh the documentation's).
source "$(dirname "$0")/common.bash"

GAMEPAD="$EXE_DIR/Tools/simbus/velotrix-gamepad.exe"
PICTURES=${PICTURES:-$ROOT/build/e2e-pictures}
gamepad() { wine "$GAMEPAD" "$@" 2>/dev/null | tr -d '\r'; }
monotonic() { python3 -c 'import time; print(time.monotonic_ns())'; }
WORK=$(mktemp -d)
PHONE_PIDS=()
trap 'for p in "${PHONE_PIDS[@]}"; do kill "$p" 2>/dev/null; done; cleanup; remove_driver; wineserver -k 2>/dev/null;
  [ "$FAILURES" -eq 0 ] && rm -rf "$WORK"; true' EXIT

first() { jq -cR "fromjson? | select($2)" "$WORK/$1.out" 2>/dev/null | head -n1; }
has_first() { [ -n "$(first "$1" "$2")" ]; }
seen() { wait_until "${3:-10}" has_first "$1" "$2"; }
# The first line of phone $1 matching $2 within $3 seconds, as "t player".
when() { seen "$1" "$2" "$3" && first "$1" "$2" | jq -r '"\(.t) \(.player)"'; }
picture() {
  mkdir -p "$PICTURES"
  local window
  window=$(main_window)
  [ -n "$window" ] && timeout 20 import -window "$window" "$PICTURES/$1" 2>/dev/null
}

start_display
"$ROOT/scripts/wine-driver" install >/dev/null || { fail "the simulated driver did not install"; finish; }
gamepad restore >/dev/null
gamepad reset >/dev/null
ids=(11111111111111111111111111111111 22222222222222222222222222222222)
wine reg add "$SETTINGS_KEY" /v Allowed /t REG_MULTI_SZ /d "${ids[0]}\\0${ids[1]}" /f >/dev/null 2>&1
port=$(free_port)
start_velotrix --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the program finds the simulated bus" wait_for_log "ViGEmBus: connected\$" 30
wait_for_log "Server: listening on UDP $port\$" 30

for n in 1 2; do
  "$PHONE" --port "$port" --name "Recovery phone $n" --id "${ids[$((n - 1))]}" --json --rate 50 --duration 40 \
    --hello-interval 200 --wait-active 30 >"$WORK/phone$n.out" 2>/dev/null &
  PHONE_PIDS+=($!)
  check "phone $n plays as player $n" seen "phone$n" ".type == \"status\" and .state == 0 and .player == $n" 30
done
gamepad wait-pads 2 10000 >/dev/null
wait_for_paint 20
sleep 2
picture status-card-ready.png

# Times are taken from the start of the tool that removes or restores, a Wine program that itself
# takes a few hundred milliseconds: an upper bound of the time since the bus went or came.
before=$(monotonic)
gamepad remove >/dev/null
for n in 1 2; do
  read -r told player <<<"$(when "phone$n" ".type == \"status\" and .state == 4 and .t > $before" 5)"
  check "phone $n is told \"no driver\", player 0, within 1 s ($(((${told:-0} - before) / 1000000)) ms at most)" \
    test -n "$told" -a "$player" = 0 -a $((${told:-0} - before)) -lt 1000000000
done
check "the loss is logged" wait_for_log 'ViGEmBus: the driver went away \(0xE0000016\); looking for it again every 500 ms$' 5
sleep 2
picture status-card-driver-lost.png

before=$(monotonic)
gamepad restore >/dev/null
for n in 1 2; do
  read -r back player <<<"$(when "phone$n" ".type == \"status\" and .state == 0 and .t > $before" 5)"
  check "phone $n is Active again as player $n within 2 s ($(((${back:-0} - before) / 1000000)) ms at most)" \
    test "${player:-}" = "$n" -a $((${back:-0} - before)) -lt 2000000000
done
check "the return is logged" wait_for_log 'ViGEmBus: the driver is back; plugging 2 pads again$' 5
sleep 1
reports=$(gamepad reports)
for n in 1 2; do
  count=$(jq --argjson s "$n" '[.reports[] | select(.serial == $s and .plugged)][0].count // 0' <<<"$reports")
  check "phone $n's reports reach the new bus ($count)" test "${count:-0}" -gt 10
done
check "each pad has its player's user index again" \
  test "$(gamepad pads | jq -c '[.pads[] | [.serial, .userIndex]]')" = "[[1,0],[2,1]]"
sleep 1
picture status-card-back.png
log "log lines:"
tr -d '\r' <"$(log_file)" | grep -E 'ViGEmBus|Pad plugged' >&2

for p in "${PHONE_PIDS[@]}"; do kill "$p" 2>/dev/null; done
stop_velotrix
wine reg delete "$SETTINGS_KEY" /v Allowed /f >/dev/null 2>&1
finish
