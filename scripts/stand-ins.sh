# Sourced by the scripts that start stand-ins for the mail server's
# processes (demonstration, benchmark): a scratch directory, a pipe that
# holds every stand-in until the script ends, starting and awaiting them.
#   stand_ins_init          sets $work and the clean-up on exit
#   stand_in_run LOG CMD... starts CMD with its output in $work/LOG
#   stand_in_start NAME LOG ARGS...   the same for $work/bin/NAME
#   stand_in_await LOG LINE waits until LOG holds LINE (ends the script if not)
#   stand_ins_stop          ends every stand-in started so far

stand_in_pids=()

stand_ins_init() {
  work=$(mktemp -d)
  mkdir -p "$work/bin"
  trap 'stand_ins_stop; rm -rf "$work"' EXIT
  stand_ins_hold
}

# Every stand-in reads this pipe and ends when the script, its only writer,
# closes it or ends, however it ends: the stand-ins get the read end alone.
stand_ins_hold() {
  rm -f "$work/hold"
  mkfifo "$work/hold"
  exec 9<>"$work/hold"
}

stand_in_run() {
  local log=$1; shift
  "$@" <"$work/hold" >"$work/$log" 9<&- &
  stand_in_pids+=($!)
}

stand_in_start() {
  local name=$1 log=$2; shift 2
  stand_in_run "$log" "$work/bin/$name" "$@"
}

stand_in_await() {
  local tries=${3:-3000}
  for _ in $(seq "$tries"); do
    # Windows stand-ins end their lines with CR LF.
    tr -d '\r' <"$work/$1" 2>/dev/null | grep -qx "$2" && return 0
    sleep 0.02
  done
  echo "$(basename "$0"): a stand-in did not come up ($1: $2)" >&2
  exit 1
}

stand_ins_stop() {
  exec 9>&- 2>/dev/null || true
  for pid in "${stand_in_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  stand_in_pids=()
  [ -p "$work/hold" ] && stand_ins_hold
  return 0
}
