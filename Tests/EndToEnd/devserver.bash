# Sourced after common.bash by the scripts that drive velotrix-devserver and velotrix-phone natively:
# the dev server's path, a work folder, the processes to stop, and the readers of their JSON lines.

DEVSERVER="$ROOT/build/native/Tools/devserver/velotrix-devserver"
[ -x "$DEVSERVER" ] && [ -x "$PHONE" ] || { log "build the native tools first"; exit 1; }

WORK=$(mktemp -d)
PIDS=()
# No Wine here: only this script's own processes are stopped, by their PIDs.
cleanup_devserver_test() {
  local pid
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  if [ "$FAILURES" -ne 0 ]; then log "output kept in $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup_devserver_test EXIT

# The first line of a JSON-lines file for which the jq condition holds, compact; nothing when none.
first_match() { jq -cR "fromjson? | select($2)" "$1" 2>/dev/null | head -n1; }
count_matches() { jq -cR "fromjson? | select($2)" "$1" 2>/dev/null | wc -l; }
has_match() { [ -n "$(first_match "$1" "$2")" ]; }
ended() { ! kill -0 "$1" 2>/dev/null; }
