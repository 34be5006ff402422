#!/usr/bin/env bash
# "Velotrix.exe --self-check" as a user runs it: with the simulated driver it passes (the driver and
# the socket among its PASS lines, the paint's Wine figure in the Direct2D line), also beside a
# running copy, whose log and window it leaves alone; without the driver it fails, naming the driver.
source "$(dirname "$0")/common.bash"

trap 'cleanup; remove_driver; wineserver -k 2>/dev/null; true' EXIT

report() { printf '%s' "$WINEPREFIX"/drive_c/users/*/AppData/Local/Velotrix/self-check.txt; }
line() { tr -d '\r' <"$(report)" | grep -E "$1"; }
has_line() { line "$1" >/dev/null; }
# Runs the self-check, bounded: 60 paints under Wine's software Direct2D take about a minute.
self_check() {
  rm -f "$(report)"
  (cd "$EXE_DIR" && timeout 400 wine ./Velotrix.exe --self-check "$@") >/dev/null 2>&1
}

start_display
"$ROOT/scripts/wine-driver" install >/dev/null || { fail "the simulated driver did not install"; finish; }

# 1. Beside a running copy: the check takes a port and a pad of its own.
port=$(free_port)
start_velotrix --port "$port" || { fail "Velotrix.exe did not start"; finish; }
wait_for_log "Server: listening on UDP $port\$" 30
check "the running copy has the bus" wait_for_log "ViGEmBus: connected\$" 30
lines_before=$(tr -d '\r' <"$(log_file)" | wc -l)
self_check
status=$?
log "self-check.txt:"
tr -d '\r' <"$(report)" 2>/dev/null | sed 's/^/    /' >&2
check "--self-check exits with 0 ($status)" test "$status" -eq 0
check "it wrote self-check.txt beside server.log" test -s "$(report)"
check "the driver passes: found, opened, plugged, user index, report, unplugged" \
  has_line '^PASS driver: found .*opened, version accepted .*pad plugged as serial [0-9]+ and ready .*user index [0-9]+ .*neutral report submitted .*unplugged [0-9.]+ ms$'
check "the socket passes over both loopbacks" has_line '^PASS socket: bound on all interfaces, UDP [0-9]+; .*IPv4 loopback.*IPv6 loopback'
check "its socket is not the running copy's" bash -c "! tr -d '\r' <'$(report)' | grep -q 'UDP $port;'"
check "DNS-SD's functions are looked up, nothing registered" has_line '^PASS DNS-SD: .*nothing was registered'
check "the firewall line is there" has_line '^(PASS|SKIP|FAIL) firewall: '
check "the network line names what the window shows" has_line '^PASS network: the window shows [0-9.]+ '
check "the share sheet line is there" has_line '^PASS share sheet: '
check "the Windows and program lines are there" has_line '^PASS Windows: [0-9]+\.[0-9]+ build [0-9]+$'
check "the program line names the version and path" has_line '^PASS Velotrix: version [0-9.]+, .*Velotrix\.exe$'
check "the Direct2D line gives median and 95th percentile of 60 paints" \
  has_line '^PASS Direct2D: the demo page with four phones painted 60 times, .*median [0-9.]+ ms, 95th percentile [0-9.]+ ms'
check "every line is PASS, FAIL or SKIP with a name" bash -c "! tr -d '\r' <'$(report)' | grep -vqE '^(PASS|FAIL|SKIP) [^:]+: '"
check "the running copy still runs" kill -0 "$VELOTRIX_PID"
check "the running copy's log was left alone" test "$(tr -d '\r' <"$(log_file)" | head -n "$lines_before" | wc -l)" -eq "$lines_before"
check "the running copy's log still begins with its start" bash -c "tr -d '\r' <'$(log_file)' | head -n1 | grep -q 'Velotrix server starting'"
check "no second window opened" test "$(x_dotool search --onlyvisible --name '^Velotrix$' 2>/dev/null | wc -l)" -le 1
line '^PASS Direct2D' | sed 's/^/figure: /' >&2
stop_velotrix

# 2. Without the driver it fails, and says which check failed.
remove_driver
wineserver -k 2>/dev/null
self_check
status=$?
check "without the driver --self-check exits with 1 ($status)" test "$status" -eq 1
check "a FAIL line names the driver" has_line '^FAIL driver: ViGEmBus not found'
check "the socket still passes" has_line '^PASS socket: '
finish
