#!/usr/bin/env bash
# The driver lost and back, against velotrix-devserver: two phones play as players 1 and 2;
# `remove-bus` tells each "no driver" within a second; `restore-bus` makes each Active again as the
# same player within two seconds, and their reports reach the bus again. Prints the time from the
# driver's return to each phone's first report (docs/PERFORMANCE.md keeps the figures).
set -uo pipefail
source "$(dirname "$0")/common.bash"
source "$(dirname "$0")/devserver.bash"

first() { first_match "$WORK/$1.out" "$2"; }
has_first() { [ -n "$(first "$1" "$2")" ]; }
seen() { wait_until "${3:-10}" has_first "$1" "$2"; }
# Waits up to $3 seconds for a line of $WORK/$1.out matching $2, then prints its field $4.
field_of() { seen "$1" "$2" "${3:-10}" && first "$1" "$2" | jq -r "$4"; }

mkfifo "$WORK/server.in"
PORT=$(free_port)
"$DEVSERVER" --port "$PORT" --no-ask-first --name "Recovery PC" <"$WORK/server.in" >"$WORK/server.out" 2>/dev/null &
PIDS+=($!)
exec {SERVER_FD}>"$WORK/server.in"
send() { printf '%s\n' "$1" >&"$SERVER_FD"; }
check "the dev server listens" seen server '.event == "listening"'

for n in 1 2; do
  "$PHONE" --port "$PORT" --name "Recovery phone $n" --json --rate 50 --duration 9 --hello-interval 200 \
    --wait-active 10 >"$WORK/phone$n.out" 2>/dev/null &
  PIDS+=($!)
  check "phone $n plays as player $n" seen "phone$n" ".type == \"status\" and .state == 0 and .player == $n"
done
check "both phones' reports reach the bus" seen server '.event == "report" and .serial == 2'

send remove-bus
removed=$(field_of server '.event == "bus" and .state == "removed"' 5 .t)
for n in 1 2; do
  told=$(field_of "phone$n" ".type == \"status\" and .state == 4 and .t > ${removed:-0}" 5 .t)
  check "phone $n is told \"no driver\", player 0, within 1 s ($(((${told:-0} - ${removed:-0}) / 1000000)) ms)" \
    test -n "$told" -a $((told - removed)) -lt 1000000000 \
    -a "$(first "phone$n" ".type == \"status\" and .state == 4 and .t > $removed" | jq .player)" = 0
done
check "the loss is logged once" test "$(jq -cR 'fromjson? | select(.event == "log" and
  (.line | test("ViGEmBus: the driver went away")))' "$WORK/server.out" | wc -l)" -eq 1
sleep 1
send snapshot
check "both phones stay listed meanwhile" seen server '.event == "snapshot" and (.phones | length) == 2 and
  all(.phones[]; .state == 4)' 5

send restore-bus
restored=$(field_of server '.event == "bus" and .state == "restored"' 5 .t)
for n in 1 2; do
  back=$(field_of "phone$n" ".type == \"status\" and .state == 0 and .t > ${restored:-0}" 5 '"\(.t) \(.player)"')
  read -r back_t back_player <<<"$back"
  check "phone $n is Active again as player $n within 2 s ($(((${back_t:-0} - ${restored:-0}) / 1000000)) ms)" \
    test "${back_player:-}" = "$n" -a $((${back_t:-0} - restored)) -lt 2000000000
  # Pads are plugged again in player order, so serial n is phone n's.
  report=$(field_of server ".event == \"report\" and .serial == $n and .t > ${restored:-0}" 5 .t)
  check "phone $n's reports reach the bus again" test -n "$report"
  [ -n "$report" ] && log "phone $n: first report $(((report - restored) / 1000)) µs after the driver's return"
done

send quit
finish
