#!/usr/bin/env bash
# The Windows half of the demonstration: the same installation and the same
# connections as in demo.sh, held by Windows stand-ins under Wine, counted by
# the Windows program. Runs in a Wine session of its own (prefix, network
# namespace, Wine server), which ends with it.
#   demo-windows.sh WINDOWS_BUILD_DIR LINUX_STAND_IN
# Prints the command and the program's output; exits with its status.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/wine-lib.sh
. "$here/wine-lib.sh"
wine_enter_netns "$0" "$@"
build=$1 linux_stand_in=$2
cd "$here/.."

wine_setup "$build/wineprefix"
loader=$(wine_loader "$build/nagios_orvane_check.exe")
# shellcheck source=scripts/stand-ins.sh
. scripts/stand-ins.sh
stand_ins_init
trap 'stand_ins_stop; wine_end_server; rm -rf "$work"' EXIT
cp -r demo/Orvane "$work/"
for name in Orvane.exe Lumicourt.exe Helmstead.exe; do
  cp "$build/orvane_stand_in.exe" "$work/bin/$name"
done
ln -s "$linux_stand_in" "$work/bin/peers"

# Wine names a socket's owner only for connections the process made itself,
# so each connection of the server's is made from its server port out to a
# listener of a peer, one listener per connection: SMTP 3 + SSL 1, POP 2,
# IMAP 2 + SSL 1, web mail 2 + SSL 1, web admin 1, as the clients in demo.sh
# make them; plus the two remote mail servers.
peer_ports=() from=()
next=45001
hold() {  # hold PORT COUNT: COUNT connections from the server port PORT
  for _ in $(seq "$2"); do
    peer_ports+=(--listen "127.0.0.1:$next")
    from+=(--connect-from "127.0.0.1:$1,127.0.0.1:$next")
    next=$((next + 1))
  done
}
hold 42025 3; hold 42465 1; hold 42110 2; hold 42143 2; hold 42993 1
orvane=("${from[@]}"); from=()
hold 43000 2; hold 43443 1
lumicourt=("${from[@]}"); from=()
hold 41000 1
helmstead=("${from[@]}")

stand_in_start peers peers.log --listen 127.0.0.1:42587 --listen 127.0.0.1:42111 "${peer_ports[@]}"
stand_in_await peers.log ready
stand_in_run orvane.log "$loader" "$work/bin/Orvane.exe" "${orvane[@]}" \
  --connect 127.0.0.1:42587 --connect 127.0.0.1:42111
stand_in_run lumicourt.log "$loader" "$work/bin/Lumicourt.exe" "${lumicourt[@]}"
stand_in_run helmstead.log "$loader" "$work/bin/Helmstead.exe" "${helmstead[@]}"
stand_in_await orvane.log ready; stand_in_await lumicourt.log ready; stand_in_await helmstead.log ready
stand_in_await peers.log "accepted 15"

app="Z:${work//\//\\}\\Orvane\\App\\"
echo "> nagios_orvane_check.exe -p $app -w 20 -c 40 -v"
"$loader" "$build/nagios_orvane_check.exe" -p "$app" -w 20 -c 40 -v
