#!/usr/bin/env bash
# Velotrix.exe's window under Wine and Xvfb: it opens, a second copy only brings it back, "--tray"
# starts without a window (unless the server failed), and "Quit" in the notification-area icon's
# menu ends the program. Screenshots go to $VELOTRIX_SHOTS (default build/windows/screenshots).
# The icon and its menu are clicked for real: Wine shows the notification area as its own small
# window, "Wine System Tray", when no desktop tray is running, which is the case under Xvfb.
source "$(dirname "$0")/common.bash"

SHOTS=${VELOTRIX_SHOTS:-$ROOT/build/windows/screenshots}
mkdir -p "$SHOTS"
ACCENT='srgb(61,214,120)' # the icon's colour (#3DD678), found by its pixels in the tray


# The popup menu Velotrix opened: "id x y width height" of an unnamed velotrix.exe window larger
# than a pixel, or nothing.
popup_menu() {
  x_wininfo -root -tree 2>/dev/null | awk '
    /\(has no name\): \("velotrix.exe"/ {
      for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+$/) {
        split($i, g, /[x+]/)
        if (g[1] > 20 && g[2] > 20) { print $1, g[3], g[4], g[1], g[2]; exit }
      }
    }'
}

menu_open() { [ -n "$(popup_menu)" ]; }
tray_window() { x_dotool search --name '^Wine System Tray$' 2>/dev/null | head -n1; }
# The icon's first pixel of the accent colour, "x y" in the tray window's coordinates, or nothing.
tray_icon() {
  local tray
  tray=$(tray_window)
  [ -n "$tray" ] && x_import -window "$tray" -depth 8 txt:- 2>/dev/null |
    awk -F'[,: ]+' -v colour="$ACCENT" 'index($0, colour) {print $1, $2; exit}'
}
tray_icon_shown() { [ -n "$(tray_icon)" ]; }
tray_window_found() { [ -n "$(tray_window)" ]; }

# Right-clicks the icon in Wine's tray window and picks "Quit", the last item of the menu. A first
# click sometimes only activates the tray window, so it tries a few times.
quit_from_tray() {
  local try tray id x y w h text_bottom
  for try in 1 2 3 4 5; do
    wait_until 30 tray_window_found || return 1
    tray=$(tray_window)
    [ -n "$tray" ] || continue
    x_dotool windowraise "$tray"
    wait_until 5 tray_icon_shown || continue
    read -r x y <<<"$(tray_icon)"
    [ -n "$y" ] || continue
    x_dotool mousemove --window "$tray" $((x + 3)) $((y + 3)) click 3
    wait_until 2 menu_open || continue
    screenshot tray-menu
    read -r id x y w h <<<"$(popup_menu)"
    [ -n "$h" ] || continue
    # "Open Velotrix", a separator, "Quit": the last item is the lowest line of dark text.
    text_bottom=$(x_import -window "$id" -depth 8 txt:- 2>/dev/null |
      awk -F'[,:() ]+' '$1 ~ /^[0-9]+$/ && $3 + $4 + $5 < 150 && $1 > 4 && $1 < '"$((w - 4))"' && $2 < '"$((h - 3))"' {
        if ($2 > bottom) bottom = $2 } END { print bottom + 0 }')
    [ "$text_bottom" -gt 0 ] || continue
    x_dotool mousemove $((x + w / 3)) $((y + text_bottom - 4)) click 1
    return 0
  done
  screenshot tray-menu-not-found
  return 1
}

screenshot() { x_import -window root "$SHOTS/$1.png" 2>/dev/null; }

# Closing must hide the window, whatever an earlier script left in the settings. The display comes
# first: a Wine started without one keeps its desktop off X for as long as its wineserver lives.
start_display
wine reg add 'HKCU\Software\Quillon\Velotrix' /v KeepInTray /t REG_DWORD /d 1 /f >/dev/null 2>&1

# 1. A plain start opens the window; a second copy exits with 0 and the first one stays.
port=$(free_port)
start_velotrix --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the window opens" wait_for_window 30
check "the page is painted" wait_for_paint 30
screenshot window

# Alt+F4 closes it into the notification area (it stays running), the second copy brings it back.
if take_window window; then
  x_dotool windowactivate --sync "$window" 2>/dev/null || x_dotool windowfocus "$window"
  x_dotool key --window "$window" alt+F4
else
  fail "Alt+F4 is pressed in the window ($WHY)"
fi
check "closing hides the window" wait_for_window 10 gone
check "closing keeps the program running" kill -0 "$VELOTRIX_PID"
(cd "$EXE_DIR" && timeout 60 wine ./Velotrix.exe --port "$port") >/dev/null 2>&1
second=$?
check "a second copy exits with 0" test "$second" -eq 0
check "the second copy brings the first one's window back" wait_for_window 15
check "the window is painted again" wait_for_paint 20
screenshot window-again
check "the first copy still runs" kill -0 "$VELOTRIX_PID"
check "the second copy started nothing" test "$(grep -c 'Velotrix server starting' "$(log_file)")" -eq 1

# "Quit" from the icon's menu ends the program, whatever keepInTray says.
check "Quit is chosen from the notification-area menu" quit_from_tray
check "Quit ends the program" wait_until 30 velotrix_ended
# The log's last line without its time stamp (and without the CR of its CRLF).
check "the log ends with the stop line" test "$(tail -n1 "$(log_file)" | tr -d '\r' | cut -c14-)" = "Velotrix server stopped"
stop_velotrix

# 2. --tray: running, but no window until asked for.
start_velotrix --tray --port "$port" || fail "Velotrix.exe --tray did not start"
check "--tray starts the server" wait_for_log "Server: listening on UDP $port\$" 30
# The icon belongs to the window, so once the icon shows, a window to be shown would be there too.
check "--tray shows the icon" wait_until 30 tray_icon_shown
check "--tray shows no window" test -z "$(main_window)"
screenshot tray
check "Quit is chosen from the menu of the hidden program" quit_from_tray
check "Quit ends the hidden program" wait_until 30 velotrix_ended
stop_velotrix

# 3. --tray when the port is taken: the window opens anyway, so the user sees why nothing works.
python3 -c "import socket, time; s = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0); s.bind(('::', $port)); time.sleep(90)" &
HOLDER_PID=$! # cleanup ends it
check "another program holds the port" wait_until 10 port_taken "$port"
start_velotrix --tray --port "$port" || fail "Velotrix.exe --tray did not start with the port taken"
check "the taken port is logged" wait_for_log "Server: Port $port is in use" 30
check "--tray with a failed server still opens the window" wait_for_window 30
check "the failure page is painted" wait_for_paint 30
screenshot port-taken
stop_velotrix
finish
