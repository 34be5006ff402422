#!/usr/bin/env bash
# Real clicks on the option switches (found as the small green or grey tracks) save each setting, and
# "Share" (the topmost wide grey button) puts the web link on the clipboard: Wine has no share sheet.
source "$(dirname "$0")/common.bash"

run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
value_of() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v name="$2" '$1 == name { print $3 }'; }
value_is() { [ "$(value_of "$1" "$2")" = "$3" ]; }
# The switch tracks (38 by 22 at 96 DPI) of either colour in window $1, top to bottom: "x y width
# height" lines.
switches() {
  { find_boxes "$1" 3dd678 30 18; find_boxes "$1" 2a2e31 30 18; } | awk '$3 < 50 && $4 < 30' | sort -n -k2
}
# The tracks are found once: they never move, while a scan right after a click may catch the page half
# repainted (a paint takes a few hundred milliseconds under Wine, longer than the saved value takes to
# show) and see one track in both colours.
click_switch() { local window; take_window window && click_box "$window" "$(sed -n "$1p" <<<"$SWITCHES")"; }

start_display
wine reg delete "$SETTINGS_KEY" /f >/dev/null 2>&1
wine reg delete "$run_key" /v Velotrix /f >/dev/null 2>&1
port=$(free_port)
start_velotrix --demo --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the page is painted" wait_for_paint 60
mkdir -p "$ROOT/build/windows/screenshots"
x_import -window root "$ROOT/build/windows/screenshots/commands.png" 2>/dev/null

take_window window && SWITCHES=$(switches "$window")
check "the page shows three switches" test "$(wc -l <<<"$SWITCHES")" -eq 3
click_switch 1
check "“Ask before a new phone connects” switches off and is saved" wait_until 10 value_is "$SETTINGS_KEY" AskFirst 0x0
click_switch 3
check "“Keep running when the window closes” switches off and is saved" wait_until 10 value_is "$SETTINGS_KEY" KeepInTray 0x0
click_switch 2
run_written() { wine reg query "$run_key" /v Velotrix 2>/dev/null | tr -d '\r' | grep -q 'Velotrix.exe" --tray$'; }
check "“Start with Windows” writes the Run value with --tray" wait_until 10 run_written

# "Share": the first grey button wider than high (the logo's tile above it is square).
take_window window && click_box "$window" "$(find_boxes "$window" 292d30 40 24 3 | awk '$3 > 3 * $4 / 2' | head -n1)"
check "“Share” logs the missing share sheet" wait_for_log 'Share sheet: 0x[0-9a-f]{8}' 10
check "and puts exactly the web link on the clipboard" test "$(x_clip -o -selection clipboard 2>/dev/null)" = "https://velotrix.app"

stop_velotrix
wine reg delete "$SETTINGS_KEY" /f >/dev/null 2>&1
wine reg delete "$run_key" /v Velotrix /f >/dev/null 2>&1
finish
