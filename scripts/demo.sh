#!/usr/bin/env bash
# The main job, for a fresh machine: builds the program for Linux and the
# Windows program (the product) for Wine, starts a small demonstration
# installation (stand-in processes named like the mail server's three
# processes, holding a few connections on the ports of the sample
# installation in demo/), runs a real check with each build, shows that both
# count the same, and stops the stand-ins.
set -euo pipefail
cd "$(dirname "$0")/.."
build_root=$(realpath -m "${ORVANE_BUILD_ROOT:-build}")
top=$PWD

scripts/install-deps.sh demo >&2
cmake -S . -B "$build_root/demo" -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF >/dev/null
cmake --build "$build_root/demo" -j"$(nproc)" >/dev/null
cmake -S . -B "$build_root/demo-win32" -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake >/dev/null
cmake --build "$build_root/demo-win32" -j"$(nproc)" >/dev/null

# shellcheck source=scripts/stand-ins.sh
. scripts/stand-ins.sh
stand_ins_init
cp -r demo/Orvane "$work/"
for name in Orvane.exe Lumicourt.exe Helmstead.exe peer-mta mail-client; do
  ln -s "$build_root/demo/orvane_stand_in" "$work/bin/$name"
done

# Remote mail servers that the mail server sends to and fetches from.
stand_in_start peer-mta peer.log --listen 127.0.0.1:42587 --listen 127.0.0.1:42111
stand_in_await peer.log ready
stand_in_start Orvane.exe orvane.log \
  --listen 127.0.0.1:42025 --listen 127.0.0.1:42465 --listen 127.0.0.1:42110 \
  --listen 127.0.0.1:42995 --listen 127.0.0.1:42143 --listen 127.0.0.1:42993 \
  --connect 127.0.0.1:42587 --connect 127.0.0.1:42111
stand_in_start Lumicourt.exe lumicourt.log --listen 127.0.0.1:43000 --listen 127.0.0.1:43443
stand_in_start Helmstead.exe helmstead.log --listen 127.0.0.1:41000 --listen 127.0.0.1:41443
stand_in_await orvane.log ready; stand_in_await lumicourt.log ready; stand_in_await helmstead.log ready
# Mail clients: SMTP 3 + SSL 1, POP 2, IMAP 2 + SSL 1, web mail 2 + SSL 1, web admin 1.
stand_in_start mail-client client.log \
  --connect '127.0.0.1:42025*3' --connect 127.0.0.1:42465 --connect '127.0.0.1:42110*2' \
  --connect '127.0.0.1:42143*2' --connect 127.0.0.1:42993 \
  --connect '127.0.0.1:43000*2' --connect 127.0.0.1:43443 --connect 127.0.0.1:41000
stand_in_await client.log ready
stand_in_await orvane.log "accepted 9"; stand_in_await lumicourt.log "accepted 3"
stand_in_await helmstead.log "accepted 1"

echo "== Linux build"
echo "\$ nagios_orvane_check -p <demo>/Orvane/App/ -w 20 -c 40 -v"
status=0
linux=$("$build_root/demo/nagios_orvane_check" -p "$work/Orvane/App/" -w 20 -c 40 -v) || status=$?
echo "$linux"
echo "(exit status $status)"
stand_ins_stop

echo
echo "== Windows program (32-bit), under Wine"
status=0
windows=$(scripts/demo-windows.sh "$build_root/demo-win32" "$build_root/demo/orvane_stand_in") ||
  status=$?
echo "$windows"
echo "(exit status $status)"

echo
# The performance data holds every count.
if [ "${linux#*|}" = "$(printf '%s' "${windows##*$'\n'}" | tr -d '\r' | sed 's/^[^|]*|//')" ]; then
  echo "Both builds count the same connections: ${linux#*|}"
else
  echo "The two builds count differently." >&2
  exit 1
fi
