#!/usr/bin/env bash
# Windows' "Make text bigger" at 150 % (HKCU\Software\Microsoft\Accessibility TextScaleFactor): the
# window opens half as big again, with the text and the layout grown alike, as at 144 DPI. The page
# is photographed (build/e2e-pictures, or PICTURES=docs/pictures for the documentation's).
source "$(dirname "$0")/common.bash"

PICTURES=${PICTURES:-$ROOT/build/e2e-pictures}
ACCESSIBILITY_KEY='HKCU\Software\Microsoft\Accessibility'
# The reg delete starts a wineserver after the display is gone; left running, it would keep the next
# script's windows off X.
trap 'cleanup; wine reg delete "$ACCESSIBILITY_KEY" /v TextScaleFactor /f >/dev/null 2>&1; wineserver -k 2>/dev/null; true' EXIT

client_width() { local window; take_window window && x_wininfo -id "$window" | awk '/Width:/ { print $2 }'; }

start_display
port=$(free_port)
wine reg delete "$ACCESSIBILITY_KEY" /v TextScaleFactor /f >/dev/null 2>&1
start_velotrix --demo --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the page is painted" wait_for_paint 60
normal=$(client_width)
stop_velotrix

wine reg add "$ACCESSIBILITY_KEY" /v TextScaleFactor /t REG_DWORD /d 150 /f >/dev/null 2>&1
start_velotrix --demo --port "$port" || { fail "Velotrix.exe did not start again"; finish; }
check "the page is painted at 150 %" wait_for_paint 60
bigger=$(client_width)
check "the window is half as wide again ($normal, then $bigger pixels)" test "$bigger" -eq $((normal * 3 / 2))
mkdir -p "$PICTURES"
window=$(main_window)
[ -n "$window" ] && sleep 1 && x_import -window "$window" "$PICTURES/text-size-150.png" 2>/dev/null
check "and photographed" test -s "$PICTURES/text-size-150.png"
stop_velotrix
finish
