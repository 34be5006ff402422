# Sourced by the other scripts: where things are, and the Wine environment they share.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export ROOT
# A prefix of the project's own, so nothing here touches ~/.wine. A caller may point WINEPREFIX
# elsewhere (parallel test runs each want their own wineserver).
export WINEPREFIX=${WINEPREFIX:-$ROOT/build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download dialogs: neither is needed and there is no network to fetch them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
JOBS=${JOBS:-$(nproc)}
# Paths below the checkout are hashed relative to it, so two checkouts share one compiler cache.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$ROOT}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}

log() { printf '%s\n' "$*" >&2; }

# Starts Xvfb on a free display; sets DISPLAY and XVFB_PID. The caller stops it by that PID.
start_xvfb() {
  local fd_file
  fd_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fd_file" 2>/dev/null &
  XVFB_PID=$!
  local tries=0
  while [ ! -s "$fd_file" ] && [ $tries -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
  export DISPLAY=":$(head -n1 "$fd_file")"
  rm -f "$fd_file"
  [ "$DISPLAY" != ":" ]
}

# Wine's own dnsapi exports the DNS-SD functions as stubs that abort the process, so Velotrix.exe runs
# here with the test dnsapi.dll (Tests/Support/DnsApi). The program loads system DLLs from system32
# only, so the test one goes there, and Wine's own is kept beside it as dnsapi.dll.wine. Only
# the programs named (default Velotrix.exe) load the native one first, through Wine's per-program
# overrides (HKCU\Software\Wine\AppDefaults\NAME\DllOverrides); every other program of the prefix,
# Wine's own among them, keeps its builtin dnsapi. restore_dnsapi undoes both. Run both after the
# display is up: they run wine.
TEST_DNSAPI_PROGRAMS=()
dnsapi_override_key() { printf 'HKCU\\Software\\Wine\\AppDefaults\\%s\\DllOverrides' "$1"; }
use_test_dnsapi() {
  local program system32="$WINEPREFIX/drive_c/windows/system32" test_dll="$ROOT/build/windows/Tests/dnsapi.dll"
  [ -f "$test_dll" ] || { log "use_test_dnsapi: $test_dll is not built"; return 1; }
  [ $# -gt 0 ] || set -- Velotrix.exe
  for program in "$@"; do
    # The first wine command also makes the prefix, and with it system32.
    timeout 60 wine reg add "$(dnsapi_override_key "$program")" /v dnsapi /t REG_SZ /d native,builtin /f \
      >/dev/null 2>&1 || return 1
    TEST_DNSAPI_PROGRAMS+=("$program")
  done
  # Wine's own, a builtin PE file or an older prefix's placeholder, carries its mark.
  if [ ! -e "$system32/dnsapi.dll.wine" ] && grep -qaE 'Wine (builtin|placeholder) DLL' "$system32/dnsapi.dll" 2>/dev/null; then
    mv -f "$system32/dnsapi.dll" "$system32/dnsapi.dll.wine" || return 1
  fi
  cp -f "$test_dll" "$system32/dnsapi.dll"
}
restore_dnsapi() {
  local program system32="$WINEPREFIX/drive_c/windows/system32"
  for program in "${TEST_DNSAPI_PROGRAMS[@]}"; do
    timeout 60 wine reg delete "$(dnsapi_override_key "$program")" /f >/dev/null 2>&1
  done
  TEST_DNSAPI_PROGRAMS=()
  [ -e "$system32/dnsapi.dll.wine" ] && mv -f "$system32/dnsapi.dll.wine" "$system32/dnsapi.dll"
  true
}

# Wine's firewall cannot tell the current network's profile. use_stand_in_firewall RULES puts the
# stand-in policy (Tests/Support/FirewallPolicy) in the place of Wine's hnetcfg.dll for the firewall's
# policy and rule classes, with the rule table RULES (a Unix path), until restore_firewall; set
# VELOTRIX_TEST_FIREWALL_NETWORK=public for a Public network. Run both after the display is up.
# Wine's COM looks classes up under HKLM only (HKCU\Software\Classes is not read), hence the key.
FIREWALL_CLASSES=('{E2B3C97F-6AE1-41AC-817A-F6F92166D7DD}' '{2C5BC43E-3369-4C33-AB0C-BE9469677AF4}')
firewall_server_key() { printf 'HKLM\\Software\\Classes\\CLSID\\%s\\InprocServer32' "$1"; }
firewall_server() { timeout 30 wine reg query "$(firewall_server_key "$1")" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p'; }
set_firewall_server() { timeout 30 wine reg add "$(firewall_server_key "$1")" /ve /t REG_SZ /d "$2" /f >/dev/null 2>&1; }
ORIGINAL_SERVERS=()
use_stand_in_firewall() {
  local class dll
  dll=$(timeout 30 winepath -w "$ROOT/build/windows/Tests/velotrix_test_firewall.dll" 2>/dev/null | tr -d '\r')
  [ -f "$ROOT/build/windows/Tests/velotrix_test_firewall.dll" ] && [ -n "$dll" ] || return 1
  for class in "${FIREWALL_CLASSES[@]}"; do
    # A run that ended before restoring leaves the stand-in registered; Wine's own is then the original.
    ORIGINAL_SERVERS+=("$(firewall_server "$class" | sed 's/.*velotrix_test_firewall\.dll$/C:\\windows\\system32\\hnetcfg.dll/')")
    set_firewall_server "$class" "$dll" || return 1
  done
  VELOTRIX_TEST_FIREWALL_RULES=$(timeout 30 winepath -w "$1" 2>/dev/null | tr -d '\r')
  export VELOTRIX_TEST_FIREWALL_RULES
}
restore_firewall() {
  local i
  for i in "${!ORIGINAL_SERVERS[@]}"; do
    [ -n "${ORIGINAL_SERVERS[$i]}" ] && set_firewall_server "${FIREWALL_CLASSES[$i]}" "${ORIGINAL_SERVERS[$i]}"
  done
  ORIGINAL_SERVERS=()
}
