#!/usr/bin/env bash
# New phones wait for the user with the simulated driver installed: a real click on "Deny" refuses
# one; a click on "Allow" admits another, the registry's "Allowed" holds its id, the live card is
# painted, and "Disconnect" drops it (build/windows/screenshots/approval-*.png). "--demo" fixes the page
# above the phones (one address line), so "Allow" sits where it was measured at 96 DPI.
source "$(dirname "$0")/common.bash"

key='HKCU\Software\Quillon\Velotrix'
phone_id=0f0e0d0c0b0a09080706050403020100
ALLOW="276 349" # client-area pixels of the "Allow" button on the first card of a waiting phone
DENY="379 349" # and of "Deny" beside it
DISCONNECT="373 404" # "Disconnect" on the first card of an active phone
SHOTS="$ROOT/build/windows/screenshots"
mkdir -p "$SHOTS"

uninstall() { "$ROOT/scripts/wine-driver" remove >/dev/null 2>&1 || true; }
trap 'cleanup; uninstall; wineserver -k 2>/dev/null; true' EXIT

start_display
wine reg delete "$key" /f >/dev/null 2>&1
"$ROOT/scripts/wine-driver" install >/dev/null || { fail "the simulated driver did not install"; finish; }
port=$(free_port)
click() { # "x y"
  local x y
  read -r x y <<<"$1"
  xdotool mousemove --window "$(main_window)" "$x" "$y" click 1
}

# A phone the user refuses: "Deny" tells it so.
start_velotrix --demo --port "$port" || { fail "Velotrix.exe did not start"; finish; }
wait_for_window 30
wait_for_paint 60
denied=$(mktemp)
"$PHONE" --port "$port" --name "Mia’s iPhone" --duration 0 --hello-interval 0 --no-bye --listen 10000 --json >"$denied" &
denied_pid=$!
check "another new phone waits" wait_for_log 'Hello from "Mia’s iPhone" \([0-9a-f]{32}\): 1$' 20
sleep 3
click "$DENY"
wait "$denied_pid"
check "a click on Deny refuses it" grep -q '"type":"status".*"state":2' "$denied"
stop_velotrix

# The driver ended with the wineserver; the same program, started again, with a phone the user admits.
"$ROOT/scripts/wine-driver" install >/dev/null || fail "the simulated driver did not install again"
start_velotrix --demo --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the window opens" wait_for_window 30
check "the page is painted" wait_for_paint 60
check "the program finds the simulated bus" wait_for_log "ViGEmBus: connected\$" 10

out=$(mktemp)
"$PHONE" --port "$port" --name "Leo’s iPhone" --id "$phone_id" --pattern sweep --rate 60 --duration 6 \
  --hello-interval 500 --wait-active 40 --json >"$out" &
phone_pid=$!
check "the new phone waits for the user" wait_for_log 'Hello from "Leo’s iPhone" \([0-9a-f]{32}\): 1$' 20
sleep 3
import -window root "$SHOTS/approval-waiting.png" 2>/dev/null
click "$ALLOW"
check "a click on Allow plugs its pad" wait_for_log 'Pad plugged for "Leo’s iPhone", player 1$' 20
allowed=$(wine reg query "$key" /v Allowed 2>/dev/null | tr -d '\r')
check "the registry's Allowed holds its id" grep -q "$phone_id" <<<"$allowed"
sleep 2
import -window root "$SHOTS/approval-active.png" 2>/dev/null
click "$DISCONNECT"
check "a click on Disconnect unplugs its pad" wait_for_log 'Pad unplugged for "Leo’s iPhone"$' 10
wait "$phone_pid"
check "the phone heard it was admitted" grep -q '"type":"status".*"state":0' "$out"
check "and then that it was refused" grep -q '"type":"status".*"state":2' "$out"
stop_velotrix
wine reg delete "$key" /f >/dev/null 2>&1
finish
