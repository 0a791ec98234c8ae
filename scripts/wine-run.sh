#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine: quiet, without a
# display, in a Wine prefix of the build's own (created on first use).
#   wine-run.sh program.exe [arguments...]
# WINEPREFIX, when set, names the prefix; otherwise it is "wineprefix" beside
# the program.
set -euo pipefail

program=$1
shift

export WINEDEBUG=-all
# No Mono or Gecko install dialogs: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX="$(cd "$(dirname "$program")" && pwd)/wineprefix"
fi
export WINEPREFIX

wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
if [ -x "$wine32" ]; then
  loader=$wine32
elif [ -x "$wine64" ]; then
  loader=$wine64
else
  loader=$(command -v wine || true)
fi
if [ -z "$loader" ]; then
  echo "wine-run.sh: no Wine loader found (install wine, wine32:i386 and wine64)" >&2
  exit 127
fi
# A 64-bit program goes straight to the 64-bit loader.
pe_machine() {  # the COFF machine field, e.g. 014c (i386) or 8664 (x86-64)
  local offset
  offset=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' \n') || return 0
  [ -n "$offset" ] && od -An -t x2 -j $((offset + 4)) -N 2 "$1" 2>/dev/null | tr -d ' \n'
}
if [ -x "$wine64" ] && [ "$(pe_machine "$program")" = 8664 ]; then
  loader=$wine64
fi

# First use: build the prefix once, under a lock, so that tests started
# together don't race; a prefix left half-made by an interrupted run is
# made again.
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.ready" ]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  if ! "$loader" wineboot --init >"$WINEPREFIX.log" 2>&1; then
    echo "wine-run.sh: creating the Wine prefix $WINEPREFIX failed:" >&2
    cat "$WINEPREFIX.log" >&2
    exit 125
  fi
  # Wait for the registry to be written out before it is used.
  server=/usr/lib/wine/wineserver
  [ -x "$server" ] || server=$(command -v wineserver || true)
  [ -n "$server" ] && "$server" -w || true
  touch "$WINEPREFIX/.ready"
fi
flock -u 9
exec 9>&-

exec "$loader" "$program" "$@"
