#!/usr/bin/env bash
# Cross-builds the Windows program (32-bit, the shipped one, and the 64-bit
# variant) with mingw-w64 and runs its tests under Wine. Installs what it
# needs when missing. The 32-bit program ends up in out/nagios_orvane_check.exe.
#   scripts/test-windows.sh [Release|Debug]
set -euo pipefail
cd "$(dirname "$0")/.."

build_type=${1:-Release}
build_root=${ORVANE_BUILD_ROOT:-build}
jobs=$(nproc)

scripts/install-deps.sh windows

for target in win32:i686 win64:x86_64; do
  dir=$build_root/${target%%:*}
  toolchain=cmake/toolchain-${target#*:}-w64-mingw32.cmake
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$build_type" -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure)
  # What was tested, for scripts/test-release.sh: the release rebuilds in place.
  sha256sum <"$dir/nagios_orvane_check.exe" >"$dir/tested-program.sha256"
done

mkdir -p out
cp "$build_root/win32/nagios_orvane_check.exe" out/nagios_orvane_check.exe
echo "Windows program: out/nagios_orvane_check.exe"
