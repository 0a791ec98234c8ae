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
demo_stand_ins "$build_root/demo/orvane_stand_in"

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
