#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine: quiet, without a
# display, in a Wine prefix of the build's own (created on first use).
#   wine-run.sh program.exe [arguments...]
# WINEPREFIX, when set, names the prefix; otherwise it is "wineprefix" beside
# the program. Runs in one prefix take turns.
#
# Wine reads the connection tables from the host and spends about a
# millisecond per row on finding its owner, so a host with thousands of
# connections would make every census take seconds. Where the system allows
# it, the run gets a network namespace of its own (loopback only), which also
# keeps the tests' sockets apart from the host's. ORVANE_WINE_NETNS=0 turns
# this off.
set -euo pipefail

program=$1
shift

if [ -z "${ORVANE_WINE_IN_NETNS:-}" ] && [ "${ORVANE_WINE_NETNS:-1}" != 0 ] &&
   command -v unshare >/dev/null && command -v ip >/dev/null; then
  for how in "--net" "--net --map-root-user"; do
    # shellcheck disable=SC2086
    if unshare $how true 2>/dev/null; then
      # shellcheck disable=SC2086
      ORVANE_WINE_IN_NETNS=1 exec unshare $how "$0" "$program" "$@"
    fi
  done
fi
if [ -n "${ORVANE_WINE_IN_NETNS:-}" ] && ! ip link set lo up; then
  echo "wine-run.sh: cannot bring up loopback in the private network namespace;" \
       "run with ORVANE_WINE_NETNS=0" >&2
  exit 125
fi

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
pe_machine() {  # the COFF machine field, e.g. 014c (i386) or 8664 (x86-64)
  local offset
  offset=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' \n') || return 0
  [ -n "$offset" ] && od -An -t x2 -j $((offset + 4)) -N 2 "$1" 2>/dev/null | tr -d ' \n'
}
if [ -x "$wine64" ] && [ "$(pe_machine "$program")" = 8664 ]; then
  loader=$wine64
fi
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=$(command -v wineserver || true)

# One run at a time per prefix: the first builds the prefix, and a run in its
# own network namespace needs a Wine server of its own.
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.ready" ]; then
  # A prefix left half-made by an interrupted run is made again.
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  if ! "$loader" wineboot --init >"$WINEPREFIX.log" 2>&1; then
    echo "wine-run.sh: creating the Wine prefix $WINEPREFIX failed:" >&2
    cat "$WINEPREFIX.log" >&2
    exit 125
  fi
  # The registry is written out when the server ends.
  if [ -n "$server" ]; then "$server" -w || true; fi
  touch "$WINEPREFIX/.ready"
fi

status=0
"$loader" "$program" "$@" || status=$?
if [ -n "${ORVANE_WINE_IN_NETNS:-}" ] && [ -n "$server" ]; then
  # The server lives in this namespace; the next run must start its own.
  "$server" -k 2>/dev/null || true
  "$server" -w 2>/dev/null || true
fi
exit "$status"
