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
# here with the test dnsapi.dll beside it, which records the registration and completes it.
use_test_dnsapi() {
  local exe_dir=$1
  cp -f "$ROOT/build/windows/Tests/dnsapi.dll" "$exe_dir/dnsapi.dll" 2>/dev/null || true
  export WINEDLLOVERRIDES="mscoree,mshtml=;dnsapi=n,b"
}
