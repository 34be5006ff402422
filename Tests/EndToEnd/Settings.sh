#!/usr/bin/env bash
# Velotrix.exe under Wine takes its port from the registry unless the command line names one, and
# announces itself by DNS-SD once it listens (through the test dnsapi.dll).
source "$(dirname "$0")/common.bash"

registry_port=$(free_port)
start_display
wine reg add "$SETTINGS_KEY" /v Port /t REG_DWORD /d "$registry_port" /f >/dev/null 2>&1
wineserver -w

start_velotrix || { fail "Velotrix.exe did not start"; finish; }
check "the registry's port is used" wait_for_log "Server: listening on UDP $registry_port\$" 30
check "the service is announced with the name, port and address" \
  wait_for_log "Bonjour: advertising [^ ]+\._velotrix\._udp\.local on port $registry_port \([0-9.]*\)\$" 20
stop_velotrix

command_port=$(free_port)
start_velotrix --port "$command_port" || fail "Velotrix.exe did not start with --port"
check "--port wins over the registry" wait_for_log "Server: listening on UDP $command_port\$" 30
stop_velotrix

# 65536 is port 0 as a UDP port: the OS picks a free one, and that one is announced, not 0.
start_velotrix --port 65536 || fail "Velotrix.exe did not start with --port 65536"
check "a port of 0 becomes a free one" wait_for_log "Server: listening on UDP [1-9][0-9]*\$" 30
bound=$(tr -d '\r' <"$(log_file)" | grep -o 'listening on UDP [0-9]*' | tail -1 | grep -o '[0-9]*$')
check "the bound port is announced" \
  wait_for_log "Bonjour: advertising [^ ]+\._velotrix\._udp\.local on port ${bound:-none} \([0-9.]*\)\$" 20
stop_velotrix

wine reg delete "$SETTINGS_KEY" /v Port /f >/dev/null 2>&1
wineserver -w
finish
