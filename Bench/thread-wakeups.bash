# Sourced by the benchmark scripts: how often the threads of a process wake up.

# Context switches (voluntary and not) of every thread of process $1 so far: each is a wake-up of a
# thread that had been waiting, or one taken off a core. Threads that ended are not counted.
thread_switches() {
  cat /proc/"$1"/task/*/status 2>/dev/null |
    awk '/^(non)?voluntary_ctxt_switches:/ { n += $2 } END { print n + 0 }'
}

# Prints the wake-ups a second of process $1 over the next $2 seconds.
wakeups_per_second() {
  local before after
  before=$(thread_switches "$1")
  sleep "$2"
  after=$(thread_switches "$1")
  awk -v d=$((after - before)) -v t="$2" 'BEGIN { printf "%.1f", d / t }'
}
