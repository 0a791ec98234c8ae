#!/usr/bin/env bash
# Installs, from Debian's archive, the packages of the named stages
# (scripts/packages.txt); does nothing for packages already there.
#   install-deps.sh STAGE...
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

install() {
  local need=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || need+=("$pkg")
  done
  [ ${#need[@]} -eq 0 ] && return 0
  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  if printf '%s\n' "${need[@]}" | grep -q ':i386$' &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
  fi
  echo "Installing: ${need[*]}"
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
}

packages=() later=()
for stage in "$@"; do
  line=$(grep -E "^$stage:" "$here/packages.txt") || { echo "install-deps.sh: no stage $stage" >&2; exit 2; }
  for pkg in ${line#*:}; do
    case $pkg in
      *'{clang}'*) later+=("$pkg") ;;
      *) packages+=("$pkg") ;;
    esac
  done
done
install "${packages[@]}"
if [ ${#later[@]} -gt 0 ]; then
  clang_major=$(clang -dumpversion | cut -d. -f1)
  install "${later[@]//\{clang\}/$clang_major}"
fi
