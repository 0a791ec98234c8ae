#!/usr/bin/env bash
# Makes the release of the checked-out commit in out/release/:
#   nagios_orvane_check-<version>-win32.zip  the 32-bit Windows program at the
#       top, the 64-bit variant in x64\, README.md, INSTALL.txt, contrib\
#   nagios-orvane-check_<version>_amd64.deb  the Linux build, installing into
#       /usr/lib/nagios/plugins
#   SHA256SUMS
# The version is the project's (CMakeLists.txt).
#
# The release is reproducible, and this script proves it each time: the
# programs are built a second time from scratch in build/repro/, packed
# again, and both packings must match byte for byte. Timestamps come from the
# commit (SOURCE_DATE_EPOCH), the objects carry no build paths, the PE header
# no link time, and the archive lists its files in a fixed order and mode
# with the commit's time.
#
# The first build shares build/win32, build/win64 and build/linux with the
# tests (only the program is built there); ORVANE_BUILD_ROOT names another root.
#
# With ORVANE_SIGN_CERT (a PEM certificate chain) and ORVANE_SIGN_KEY (its PEM
# private key) both Windows programs are signed with Authenticode
# (scripts/sign-windows.sh), signing time SOURCE_DATE_EPOCH, so that a signed
# release is reproducible too; without them the programs are unsigned.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

scripts/install-deps.sh release

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) || {
    echo "release.sh: no git history here; give the release time as SOURCE_DATE_EPOCH" >&2
    exit 2
  }
fi
export SOURCE_DATE_EPOCH
# Zip entries keep local time.
export TZ=UTC
jobs=$(nproc)
signing=
if [ -n "${ORVANE_SIGN_CERT:-}" ] || [ -n "${ORVANE_SIGN_KEY:-}" ]; then
  [ -r "${ORVANE_SIGN_CERT:-}" ] && [ -r "${ORVANE_SIGN_KEY:-}" ] || {
    echo "release.sh: signing needs both ORVANE_SIGN_CERT and ORVANE_SIGN_KEY as readable files" >&2
    exit 2
  }
  signing=1
fi
build_root=$(realpath -m "${ORVANE_BUILD_ROOT:-build}")
out=$top/out/release

# build_programs ROOT [cmake options...]: the Windows programs and the Linux
# package in ROOT/win32, ROOT/win64 and ROOT/linux.
build_programs() {
  local root=$1
  shift
  for target in win32:i686 win64:x86_64; do
    cmake -S . -B "$root/${target%%:*}" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-${target#*:}-w64-mingw32.cmake" "$@" >/dev/null
    cmake --build "$root/${target%%:*}" -j"$jobs" --target nagios_orvane_check
  done
  cmake -S . -B "$root/linux" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$root/linux" -j"$jobs" --target nagios_orvane_check
  rm -rf "$root/linux/package"
  (cd "$root/linux" && cpack >/dev/null)
}

# pack ROOT DIR: the Windows archive of the programs in ROOT, and the Debian
# package, into DIR.
pack() {
  local root=$1 dir=$2
  local stage=$dir/stage
  rm -rf "$dir"
  mkdir -p "$stage/x64" "$stage/contrib"
  if [ -n "$signing" ]; then
    scripts/sign-windows.sh "$root/win32/nagios_orvane_check.exe" "$stage/nagios_orvane_check.exe"
    scripts/sign-windows.sh "$root/win64/nagios_orvane_check.exe" "$stage/x64/nagios_orvane_check.exe"
  else
    cp "$root/win32/nagios_orvane_check.exe" "$stage/"
    cp "$root/win64/nagios_orvane_check.exe" "$stage/x64/"
  fi
  cp README.md INSTALL.txt "$stage/"
  cp -R contrib/. "$stage/contrib/"
  find "$stage" -type d -exec chmod 755 {} +
  find "$stage" -type f -exec chmod 644 {} +
  chmod 755 "$stage/nagios_orvane_check.exe" "$stage/x64/nagios_orvane_check.exe"
  find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  # Files only, in byte order, without the extra fields that hold owners
  # and exact times.
  (cd "$stage" && find . -type f -printf '%P\n' | LC_ALL=C sort |
    zip -q -X -D -9 "$dir/$archive" -@)
  cp "$root/linux/package/"*.deb "$dir/"
  rm -rf "$stage"
}

build_programs "$build_root"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build_root/linux/CMakeCache.txt")
archive=nagios_orvane_check-$version-win32.zip
pack "$build_root" "$out"

echo "== Second build from scratch, to compare"
repro=$build_root/repro
rm -rf "$repro"
build_programs "$repro" -DORVANE_TESTS=OFF
pack "$repro" "$repro/release"
different=0
for pair in win32/nagios_orvane_check.exe win64/nagios_orvane_check.exe \
            linux/nagios_orvane_check; do
  cmp "$build_root/$pair" "$repro/$pair" || different=1
done
for file in "$out"/*; do
  cmp "$file" "$repro/release/$(basename "$file")" || different=1
done
if [ "$different" -ne 0 ]; then
  echo "release.sh: two builds of one commit differ; the release is not reproducible" >&2
  exit 1
fi

(cd "$out" && sha256sum -- *.zip *.deb >SHA256SUMS)
echo "Release (reproduced byte for byte by a second build):"
(cd "$out" && sha256sum -- *.zip *.deb)
