#!/usr/bin/env bash
# velotrix-devserver driven over loopback by velotrix-phone: one phone allowed from standard input,
# one from the command line, one meeting a driver that connects late; reports compared with inputs.
set -uo pipefail
source "$(dirname "$0")/common.bash"
source "$(dirname "$0")/devserver.bash"

# Waits up to $3 seconds (default 10) for a matching line and prints it; `seen` waits the same in $WORK/$1.out.
wait_match() { wait_until "${3:-10}" has_match "$1" "$2" && first_match "$1" "$2"; }
seen() { wait_until "${3:-10}" has_match "$WORK/$1.out" "$2"; }
# Waits up to $2 seconds for a child to end; its exit status, or 124 when it is still running.
wait_exit() { wait_until "$2" ended "$1" || return 124; wait "$1"; }

# start_devserver NAME ARGS...: standard input from a fifo held open on descriptor ${NAME}_FD, standard
# output to $WORK/NAME.out; sets ${NAME}_PID.
start_devserver() {
  local name=$1 fd pid
  shift
  mkfifo "$WORK/$name.in"
  "$DEVSERVER" "$@" <"$WORK/$name.in" >"$WORK/$name.out" 2>"$WORK/$name.err" &
  pid=$!
  PIDS+=("$pid")
  exec {fd}>"$WORK/$name.in"
  printf -v "${name}_FD" '%s' "$fd"
  printf -v "${name}_PID" '%s' "$pid"
}
send() { printf '%s\n' "$2" >&"$1"; }

# start_phone NAME ARGS...: velotrix-phone with JSON output to $WORK/NAME.out; sets ${NAME}_PID.
start_phone() {
  local name=$1 pid
  shift
  "$PHONE" --json "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" &
  pid=$!
  PIDS+=("$pid")
  printf -v "${name}_PID" '%s' "$pid"
}

# check_reports SERVER_OUT PHONE_OUT SERIAL CENTRED: at least 90 % of the inputs sent reached the pad and
# no more, the last with the sticks as sent; with CENTRED=1 an all-zero report follows it.
check_reports() {
  local sent reports
  sent=$(jq -cR 'fromjson? | select(.type == "sent" and .what == "input") | [.lx, .ly, .rx, .ry]' "$2")
  reports=$(jq -cR "fromjson? | select(.event == \"report\" and .serial == $3) | [.lx, .ly, .rx, .ry, .buttons, .lt, .rt]" "$1")
  if [ "$4" = 1 ]; then
    [ "$(tail -n1 <<<"$reports")" = "[0,0,0,0,0,0,0]" ] || { log "no centring at the end"; return 1; }
    reports=$(head -n -1 <<<"$reports")
  fi
  local n_sent=$(grep -c . <<<"$sent") n_reports=$(grep -c . <<<"$reports")
  log "$n_reports reports for $n_sent inputs"
  [ "$n_sent" -gt 0 ] && [ $((n_reports * 10)) -ge $((n_sent * 9)) ] && [ "$n_reports" -le "$n_sent" ] &&
    [ "$(tail -n1 <<<"$reports" | jq -c '.[:4]')" = "$(tail -n1 <<<"$sent")" ]
}

PORT=$(free_port)
PHONE2_ID=0123456789abcdef0123456789abcdef

# --- one dev server, ask first (the default), host name by default, one phone allowed in advance
start_devserver main --port "$PORT" --allow "${PHONE2_ID^^}" --user-index-delay 600
check "the dev server listens on the port it was given" seen main ".event == \"listening\" and .port == $PORT"

"$DEVSERVER" --port "$PORT" </dev/null >"$WORK/busy.out" 2>/dev/null
check "a second dev server on the same port exits with status 1" test $? -eq 1
check "... and says the port is in use" has_match "$WORK/busy.out" '.event == "error" and (.message | test("Port [0-9]+ is in use"))'

start_phone phone1 --port "$PORT" --name "E2E phone" --verbose --pattern sweep --rate 50 --duration 3 \
  --wait-active 20 --hello-interval 300 --no-bye --listen 2500
check "a new phone makes the dev server print a request" seen main '.event == "request" and .name == "E2E phone"'
check "the waiting phone hears this PC's host name" seen phone1 ".type == \"status\" and .state == 1 and .name == \"$(hostname)\"" 5

send "$main_FD" "frobnicate 1"
# Commands run in order: the snapshot's answer comes after the error.
send "$main_FD" "snapshot"
snapshot=$(wait_match "$WORK/main.out" '.event == "snapshot"' 5)
check "a malformed command gets an error" test "$(count_matches "$WORK/main.out" '.event == "error"')" -eq 1
phone1=$(jq -c '.phones[] | select(.name == "E2E phone")' <<<"$snapshot")
check "the snapshot lists the phone still waiting" test "$(jq -r .state_name <<<"$phone1")" = "Waiting"
SESSION=$(jq -r .session <<<"$phone1")
PHONE1_ID=$(jq -r .id <<<"$phone1")

send "$main_FD" "allow $SESSION"
plug=$(wait_match "$WORK/main.out" '.event == "plug"' 5)
check "allowing the phone plugs a pad" test -n "$plug"
SERIAL1=$(jq -r .serial <<<"${plug:-null}")
check "the allowed list now holds the phone and the one allowed in advance" \
  seen main ".event == \"allowed\" and (.ids | sort) == ([\"$PHONE2_ID\", \"$PHONE1_ID\"] | sort)" 5
check "the phone is told it is active, before the bus gives it a player number" \
  seen phone1 '.type == "status" and .state == 0 and .player == 0' 5
check "the phone learns it is player 1 once the bus gives the number" \
  seen phone1 '.type == "status" and .state == 0 and .player == 1' 5

send "$main_FD" "rumble $SERIAL1 200 100 2"
check "the phone receives the rumble the dev server was told" \
  seen phone1 '.type == "feedback" and .large == 200 and .small == 100 and .led == 2' 5
send "$main_FD" "snapshot"
check "the snapshot shows the rumble and the phone's input" seen main \
  ".event == \"snapshot\" and any(.phones[]; .session == $SESSION and .state == 0 and .player == 1 and .rumble_large == 200 and .rumble_small == 100 and .input.echo > 0)" 5

wait_exit "$phone1_PID" 15
check "the first phone ends by itself" test $? -eq 0
check "the steering phone's inputs reach the pad, and it is centred when it stops sending" \
  check_reports "$WORK/main.out" "$WORK/phone1.out" "$SERIAL1" 1
check "the phone is not dropped within a few seconds of its last input" \
  test -z "$(first_match "$WORK/main.out" '.event == "log" and (.line | endswith("\"E2E phone\" went silent"))')"

# --- meanwhile: a phone allowed on the command line is admitted at once and presses buttons
start_phone phone2 --port "$PORT" --name "E2E buttons" --id "$PHONE2_ID" --verbose --pattern buttons --rate 50 \
  --duration 2 --wait-active 10
wait_exit "$phone2_PID" 15
check "the second phone ends by itself" test $? -eq 0
plug2=$(wait_match "$WORK/main.out" ".event == \"plug\" and .serial != $SERIAL1" 5)
SERIAL2=$(jq -r .serial <<<"${plug2:-null}")
check "the button phone's inputs reach its pad" \
  check_reports "$WORK/main.out" "$WORK/phone2.out" "$SERIAL2" 0
check "its Bye unplugs its pad" seen main ".event == \"unplug\" and .serial == $SERIAL2" 5

# --- meanwhile: a dev server without a driver until it is told to connect one
PORT2=$(free_port)
while [ "$PORT2" = "$PORT" ]; do PORT2=$(free_port); done
start_devserver nobus --port "$PORT2" --no-bus --no-ask-first --name "Bus-less PC"
check "the bus-less dev server listens" seen nobus '.event == "listening"'
start_phone phone3 --port "$PORT2" --name "E2E late bus" --duration 0.5 --wait-active 15 --hello-interval 300
check "without a driver the phone is told so, under the name given" \
  seen phone3 '.type == "status" and .state == 4 and .name == "Bus-less PC"'
send "$nobus_FD" "connect-bus"
check "connect-bus connects the bus" seen nobus '.event == "log" and (.line | endswith("ViGEmBus: connected"))' 5
check "the phone's next Hello makes it active" seen phone3 '.type == "status" and .state == 0' 5
check "and it gets a pad" seen nobus '.event == "plug"' 5
wait_exit "$phone3_PID" 15
exec {nobus_FD}>&-
wait_exit "$nobus_PID" 10
check "the end of input stops the dev server with status 0" test $? -eq 0

# --- the first phone's silence
check "the silent phone is dropped" seen main '.event == "log" and (.line | endswith("\"E2E phone\" went silent"))' 20
check "its pad is unplugged" seen main ".event == \"unplug\" and .serial == $SERIAL1" 5
send "$main_FD" "snapshot"
check "no phone is left" seen main '.event == "snapshot" and .phones == []' 5
send "$main_FD" "quit"
wait_exit "$main_PID" 10
check "quit stops the dev server with status 0" test $? -eq 0
check "every output line is one JSON object" \
  test "$(cat "$WORK/main.out" "$WORK/nobus.out" | jq -cR 'fromjson? | objects' | wc -l)" -eq \
       "$(cat "$WORK/main.out" "$WORK/nobus.out" | wc -l)"

finish
