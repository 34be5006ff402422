#!/usr/bin/env bash
# The window's controls clicked for real with xdotool under Wine and Xvfb: each option row flips its
# setting and the registry shows it, and "Share" puts the web link on the clipboard (Wine has no
# share sheet). "--demo" fixes what the page shows above the options (one address line, no driver),
# so the rows sit where they were measured on a screenshot of the page at 96 DPI; if the layout
# changes, measure them again on build/windows/screenshots/commands.png (the client area starts at
# 4,23 there).
source "$(dirname "$0")/common.bash"

key='HKCU\Software\Quillon\Velotrix'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
# Centres of the toggles and the button in the client area, pixels from its top-left corner.
ASK_FIRST="409 587"
START_WITH_WINDOWS="409 632"
KEEP_IN_TRAY="409 684"
SHARE="406 40"

click() { # x y
  local window x y
  window=$(main_window)
  read -r x y <<<"$1"
  xdotool mousemove --window "$window" "$x" "$y" click 1
  sleep 1.5
}
value_of() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v name="$2" '$1 == name { print $3 }'; }

start_display
wine reg delete "$key" /f >/dev/null 2>&1
wine reg delete "$run_key" /v Velotrix /f >/dev/null 2>&1
port=$(free_port)
start_velotrix --demo --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the window opens" wait_for_window 30
check "the page is painted" wait_for_paint 60
mkdir -p "$ROOT/build/windows/screenshots"
import -window root "$ROOT/build/windows/screenshots/commands.png" 2>/dev/null

click "$ASK_FIRST"
check "“Ask before a new phone connects” switches off and is saved" test "$(value_of "$key" AskFirst)" = 0x0
click "$ASK_FIRST"
check "and on again" test "$(value_of "$key" AskFirst)" = 0x1

click "$KEEP_IN_TRAY"
check "“Keep running when the window closes” switches off and is saved" test "$(value_of "$key" KeepInTray)" = 0x0
click "$KEEP_IN_TRAY"
check "and on again" test "$(value_of "$key" KeepInTray)" = 0x1

click "$START_WITH_WINDOWS"
run_value=$(wine reg query "$run_key" /v Velotrix 2>/dev/null | tr -d '\r' | grep Velotrix)
check "“Start with Windows” writes the Run value with --tray" grep -q 'Velotrix.exe" --tray$' <<<"$run_value"
click "$START_WITH_WINDOWS"
check "and removes it again" test -z "$(value_of "$run_key" Velotrix)"

click "$SHARE"
check "“Share” logs the missing share sheet" wait_for_log 'Share sheet: 0x[0-9a-f]{8}' 10
check "and puts exactly the web link on the clipboard" test "$(xclip -o -selection clipboard 2>/dev/null)" = "https://velotrix.app"

stop_velotrix
wine reg delete "$key" /f >/dev/null 2>&1
finish
