#!/usr/bin/env bash
# Signing out or shutting down while a phone plays: Windows' end of the session must take the shipped
# Velotrix.exe its whole way down before it is ended.
source "$(dirname "$0")/common.bash"

phone_id=00112233445566778899aabbccddeeff
phone_pid=""
out=$(mktemp)
dns_log=$(mktemp)

trap '[ -n "$phone_pid" ] && kill "$phone_pid" 2>/dev/null; cleanup; remove_driver; wineserver -k 2>/dev/null; rm -f "$out" "$dns_log"; true' EXIT

start_display
"$ROOT/scripts/wine-driver" install >/dev/null || { fail "the simulated driver did not install"; finish; }
wine reg add "$SETTINGS_KEY" /v Allowed /t REG_MULTI_SZ /d "$phone_id" /f >/dev/null 2>&1
VELOTRIX_DNSAPI_LOG=$(winepath -w "$dns_log" 2>/dev/null)
export VELOTRIX_DNSAPI_LOG

port=$(free_port)
start_velotrix --port "$port" || { fail "Velotrix.exe did not start"; finish; }
wait_for_log "Server: listening on UDP $port\$" 30
"$PHONE" --port "$port" --name "Anna’s iPhone" --id "$phone_id" --pattern still --rate 20 --duration 120 \
  --wait-active 20 --json >"$out" &
phone_pid=$!
check "the phone plays on a pad" wait_for_log 'Pad plugged for "Anna’s iPhone", player 1$' 30
check "the server is announced" grep -q '^register ' "$dns_log"

timeout 60 wine wineboot --end-session >/dev/null 2>&1
check "the phone was told it is refused" wait_until 20 grep -q '"type":"status".*"state":2' "$out"
check "its pad was unplugged" wait_for_log 'Pad unplugged for "Anna’s iPhone"$' 20
check "the registration was withdrawn" grep -q '^deregister ' "$dns_log"
check "the log ends with the stop line" wait_for_log 'Velotrix server stopped$' 20
check "nothing was logged after it" test "$(tr -d '\r' <"$(log_file)" | tail -n1 | cut -c14-)" = "Velotrix server stopped"
check "Velotrix.exe ended" wait_until 20 velotrix_ended
VELOTRIX_PID=""

wine reg delete "$SETTINGS_KEY" /v Allowed /f >/dev/null 2>&1
finish
