#!/usr/bin/env bash
# The main job, for a fresh machine: builds the program, starts a small
# demonstration installation (stand-in processes named like the mail server's
# three processes, holding a few connections on the ports of the sample
# installation in demo/), runs the check against it and stops the stand-ins.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

scripts/install-deps.sh cmake make g++ >&2
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF >/dev/null
cmake --build build/demo -j"$(nproc)" >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
  exec 9>&- 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cp -r demo/Orvane "$work/"
mkdir "$work/bin"
for name in Orvane.exe Lumicourt.exe Helmstead.exe peer-mta mail-client; do
  ln -s "$top/build/demo/orvane_stand_in" "$work/bin/$name"
done
# Every stand-in reads this pipe and ends when the script (its only writer) does.
mkfifo "$work/hold"
exec 9<>"$work/hold"

start() {  # start NAME LOG ARGS...
  local name=$1 log=$2; shift 2
  "$work/bin/$name" "$@" <"$work/hold" >"$work/$log" &
  pids+=($!)
}
await() {  # await LOG LINE: until the stand-in has written LINE
  for _ in $(seq 500); do
    grep -qx "$2" "$work/$1" 2>/dev/null && return 0
    sleep 0.02
  done
  echo "demo: a stand-in did not come up ($1: $2)" >&2
  exit 1
}

# Remote mail servers that the mail server sends to and fetches from.
start peer-mta peer.log --listen 127.0.0.1:42587 --listen 127.0.0.1:42111
await peer.log ready
start Orvane.exe orvane.log \
  --listen 127.0.0.1:42025 --listen 127.0.0.1:42465 --listen 127.0.0.1:42110 \
  --listen 127.0.0.1:42995 --listen 127.0.0.1:42143 --listen 127.0.0.1:42993 \
  --connect 127.0.0.1:42587 --connect 127.0.0.1:42111
start Lumicourt.exe lumicourt.log --listen 127.0.0.1:43000 --listen 127.0.0.1:43443
start Helmstead.exe helmstead.log --listen 127.0.0.1:41000 --listen 127.0.0.1:41443
await orvane.log ready; await lumicourt.log ready; await helmstead.log ready
# Mail clients: SMTP 3 + SSL 1, POP 2, IMAP 2 + SSL 1, web mail 2 + SSL 1, web admin 1.
start mail-client client.log \
  --connect '127.0.0.1:42025*3' --connect 127.0.0.1:42465 --connect '127.0.0.1:42110*2' \
  --connect '127.0.0.1:42143*2' --connect 127.0.0.1:42993 \
  --connect '127.0.0.1:43000*2' --connect 127.0.0.1:43443 --connect 127.0.0.1:41000
await client.log ready
await orvane.log "accepted 9"; await lumicourt.log "accepted 3"; await helmstead.log "accepted 1"

check=(build/demo/nagios_orvane_check -p "$work/Orvane/App/" -w 20 -c 40)
echo "\$ nagios_orvane_check -p <demo>/Orvane/App/ -w 20 -c 40 -v"
status=0
"${check[@]}" -v || status=$?
echo "(exit status $status)"
