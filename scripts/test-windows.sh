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
  # The program imports only libraries that Windows always takes from the
  # system folder, never from the program's (kernel32, advapi32, msvcrt), and
  # runs on Remote Desktop session hosts without their compatibility layer.
  header=$(objdump -p "$dir/nagios_orvane_check.exe")
  for dll in $(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$header" | tr 'A-Z' 'a-z'); do
    case $dll in
      kernel32.dll|advapi32.dll|msvcrt.dll) ;;
      *) echo "$dir/nagios_orvane_check.exe imports $dll" >&2; exit 1 ;;
    esac
  done
  grep -q TERMINAL_SERVICE_AWARE <<<"$header" ||
    { echo "$dir/nagios_orvane_check.exe is not marked terminal-server aware" >&2; exit 1; }
  (cd "$dir" && ctest --output-on-failure)
  # What was tested, for scripts/test-release.sh: the release rebuilds in place.
  cp "$dir/nagios_orvane_check.exe" "$dir/tested-program.exe"
  scripts/test-samples-windows.sh "$dir"
done

mkdir -p out
cp "$build_root/win32/nagios_orvane_check.exe" out/nagios_orvane_check.exe
echo "Windows program: out/nagios_orvane_check.exe"
