# Sourced by the scripts that start stand-ins for the mail server's
# processes (demonstration, benchmark): a scratch directory, a pipe that
# holds every stand-in until the script ends, starting and awaiting them.
#   stand_ins_init          sets $work and the clean-up on exit
#   stand_in_run LOG CMD... starts CMD with its output in $work/LOG
#   stand_in_start NAME LOG ARGS...   the same for $work/bin/NAME
#   stand_in_await LOG LINE waits until LOG holds LINE (ends the script if not)
#   stand_ins_stop          ends every stand-in started so far
#   demo_stand_ins STAND_IN the demonstration installation in $work/Orvane and
#                           its stand-ins, holding their connections

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
    tr -d '\r' 2>/dev/null <"$work/$1" | grep -qx "$2" && return 0
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

# The demonstration installation (demo/): the server's three processes on its
# ports, the remote mail servers it connects to, and mail clients: SMTP 3 +
# SSL 1, POP 2, IMAP 2 + SSL 1, web mail 2 + SSL 1, web admin 1.
demo_stand_ins() {
  cp -r demo/Orvane "$work/"
  for name in Orvane.exe Lumicourt.exe Helmstead.exe peer-mta mail-client; do
    ln -sf "$1" "$work/bin/$name"
  done
  stand_in_start peer-mta peer.log --listen 127.0.0.1:42587 --listen 127.0.0.1:42111
  stand_in_await peer.log ready
  stand_in_start Orvane.exe orvane.log \
    --listen 127.0.0.1:42025 --listen 127.0.0.1:42465 --listen 127.0.0.1:42110 \
    --listen 127.0.0.1:42995 --listen 127.0.0.1:42143 --listen 127.0.0.1:42993 \
    --connect 127.0.0.1:42587 --connect 127.0.0.1:42111
  stand_in_start Lumicourt.exe lumicourt.log --listen 127.0.0.1:43000 --listen 127.0.0.1:43443
  stand_in_start Helmstead.exe helmstead.log --listen 127.0.0.1:41000 --listen 127.0.0.1:41443
  stand_in_await orvane.log ready; stand_in_await lumicourt.log ready; stand_in_await helmstead.log ready
  stand_in_start mail-client client.log \
    --connect '127.0.0.1:42025*3' --connect 127.0.0.1:42465 --connect '127.0.0.1:42110*2' \
    --connect '127.0.0.1:42143*2' --connect 127.0.0.1:42993 \
    --connect '127.0.0.1:43000*2' --connect 127.0.0.1:43443 --connect 127.0.0.1:41000
  stand_in_await client.log ready
  stand_in_await orvane.log "accepted 9"; stand_in_await lumicourt.log "accepted 3"
  stand_in_await helmstead.log "accepted 1"
}
