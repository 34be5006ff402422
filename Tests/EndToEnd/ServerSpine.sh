#!/usr/bin/env bash
# Velotrix.exe under Wine, spoken to by velotrix-phone over loopback: the answers to another protocol
# version and to malformed datagrams, the missing driver, and the port that is already taken.
source "$(dirname "$0")/common.bash"

port=$(free_port)
start_velotrix --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the server listens on the chosen port" wait_for_log "Server: listening on UDP $port\$" 30
check "the log starts with the start line" bash -c "head -n1 '$(log_file)' | grep -qE '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} Velotrix server starting'"

# Another version: one Status, 15 + n bytes, session 0, player 0, state 5, the server's first datagram.
out=$("$PHONE" --port "$port" --version 2 --duration 0 --hello-interval 0 --no-bye --listen 1500 --json)
status=$(grep '"type":"status"' <<<"$out" | head -n1)
check "another version is answered with a Status" test -n "$status"
name=$(jq -r .name <<<"$status")
check "that Status is 15 + n bytes" test "$(jq .bytes <<<"$status")" -eq $((15 + ${#name}))
check "it carries session 0, player 0, state 5" test "$(jq -c '[.session,.player,.state]' <<<"$status")" = "[0,0,5]"
check "it is the first datagram the server sent" test "$(jq .seq <<<"$status")" -eq 1

# Nothing comes back for 7 bytes or a wrong magic.
out=$("$PHONE" --port "$port" --raw "56 4c 54 58 01 01 00" --listen 800 --json)
check "a 7-byte datagram gets no answer" test -z "$(grep -v '"type":"sent"' <<<"$out" | grep -v summary)"
out=$("$PHONE" --port "$port" --raw "56 4c 54 59 01 01 00 00 $(printf '00 %.0s' {1..17})" --listen 800 --json)
check "a wrong magic gets no answer" test -z "$(grep -v '"type":"sent"' <<<"$out" | grep -v summary)"

# No driver under Wine: a Hello is answered NoDriver, an unknown session UnknownSession, over IPv4 and IPv6.
for host in 127.0.0.1 ::1; do
  out=$("$PHONE" --host "$host" --port "$port" --name "Anna’s iPhone" --duration 0 --hello-interval 0 --no-bye --listen 1500 --json)
  check "a Hello over $host is answered NoDriver" test "$(grep '"type":"status"' <<<"$out" | head -n1 | jq .state)" = 4
done
check "the Hello is logged with the phone's name" wait_for_log 'Hello from "Anna’s iPhone" \([0-9a-f]{32}\): 4' 5
out=$("$PHONE" --port "$port" --raw "56 4c 54 58 01 02 01 00 44 33 22 11 $(printf '00 %.0s' {1..18})" --listen 1000 --json)
check "an Input for an unknown session is answered UnknownSession" grep -q '"type":"unknown_session"' <<<"$out"
stop_velotrix

# Another program holds the port: the server says so in the log.
python3 -c "
import socket, time
s = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
s.bind(('::', $port))
time.sleep(60)" &
HOLDER_PID=$!
check "another program holds the port" wait_until 10 port_taken "$port"
start_velotrix --port "$port" || fail "Velotrix.exe did not start the second time"
check "a taken port is reported" wait_for_log "Server: Port $port is in use\. Is the server already running\?" 20
finish
