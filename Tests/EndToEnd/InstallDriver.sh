#!/usr/bin/env bash
# "Install driver" (the first wide green button) runs the test installer put in "Redist", which runs
# scripts/wine-driver install as a Unix program; the program then connects without a restart.
source "$(dirname "$0")/common.bash"

# The accent colour as a button shows it.
green_buttons() { local window; take_window window && find_boxes "$window" 3bd074 100 24 16; }
green_button_count() { local boxes; boxes=$(green_buttons) && grep -c . <<<"$boxes"; }
SHOTS="$ROOT/build/windows/screenshots"
mkdir -p "$SHOTS"
work=$(mktemp -d)

trap 'cleanup; rm -rf "$EXE_DIR/Redist" "$work"; remove_driver; wineserver -k 2>/dev/null; true' EXIT

remove_driver
wineserver -k 2>/dev/null
start_display
mkdir -p "$EXE_DIR/Redist"
cp "$EXE_DIR/Tests/velotrix_test_installer.exe" "$EXE_DIR/Redist/ViGEmBus_test_setup.exe"
# Wine does not wait for a Unix program, so the installer waits for the file the script makes last.
printf '#!/bin/bash\n"%s/scripts/wine-driver" install >"%s/install.log" 2>&1\ntouch "%s/done"\n' \
  "$ROOT" "$work" "$work" >"$work/install.sh"
export VELOTRIX_TEST_INSTALLER_COMMAND="Z:\\bin\\bash $work/install.sh"
export VELOTRIX_TEST_INSTALLER_DONE_FILE="Z:${work//\//\\}\\done"

port=$(free_port)
start_velotrix --demo --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the page is painted" wait_for_paint 60
check "without a driver the program says so" wait_for_log 'ViGEmBus: not available \(0xE0000001\)$' 10
# "Install driver" above "Get the app".
check "the page shows two green buttons" test "$(green_button_count)" = 2
take_window window && click_box "$window" "$(green_buttons | head -n1)"
check "the installer's end connects the driver" wait_for_log 'ViGEmBus: connected$' 120
check "and the log says it is ready after the install" wait_for_log 'Driver ready after the install$' 10
one_green_button() { [ "$(green_button_count)" = 1 ]; }
check "the page drops the Install driver button" wait_until 20 one_green_button
x_import -window root "$SHOTS/after-install.png" 2>/dev/null
out=$("$PHONE" --port "$port" --name "After install" --duration 0 --hello-interval 0 --no-bye --listen 1500 --json)
check "a phone now waits for approval instead of hearing there is no driver" \
  test "$(grep '"type":"status"' <<<"$out" | head -n1 | jq .state)" = 1
stop_velotrix
finish
