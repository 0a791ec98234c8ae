# Sourced by the scripts that run Windows programs under Wine: quiet, without
# a display, in a prefix of their own, and where the system allows it in a
# network namespace of their own (loopback only).
#
# Wine reads the connection tables from the host and spends about a
# millisecond per row on finding its owner, so a host with thousands of
# connections would make every census take seconds; a private namespace also
# keeps a run's sockets apart from the host's. ORVANE_WINE_NETNS=0 turns it
# off.
#   wine_enter_netns SCRIPT ARGS...  runs SCRIPT again inside a private namespace
#                                    (returns when that is not possible or done)
#   wine_setup PREFIX                the environment, the loaders and the prefix
#   wine_loader PROGRAM              prints the loader for PROGRAM (32 or 64 bit)
#   wine_end_server                  ends the prefix's Wine server and its programs

wine_enter_netns() {
  if [ -z "${ORVANE_WINE_IN_NETNS:-}" ] && [ "${ORVANE_WINE_NETNS:-1}" != 0 ] &&
     command -v unshare >/dev/null && command -v ip >/dev/null; then
    for how in "--net" "--net --map-root-user"; do
      # shellcheck disable=SC2086
      if unshare $how true 2>/dev/null; then
        # shellcheck disable=SC2086
        ORVANE_WINE_IN_NETNS=1 exec unshare $how "$@"
      fi
    done
  fi
  if [ -n "${ORVANE_WINE_IN_NETNS:-}" ] && ! ip link set lo up; then
    echo "$(basename "$1"): cannot bring up loopback in the private network namespace;" \
         "run with ORVANE_WINE_NETNS=0" >&2
    exit 125
  fi
}

wine_setup() {
  export WINEPREFIX=$1
  export WINEDEBUG=-all
  # No Mono or Gecko install dialogs: nothing here needs either.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  wine_server=/usr/lib/wine/wineserver
  [ -x "$wine_server" ] || wine_server=$(command -v wineserver || true)
  if [ -z "$(wine_loader /dev/null)" ]; then
    echo "wine: no Wine loader found (install wine, wine32:i386 and wine64)" >&2
    exit 127
  fi
  if [ ! -f "$WINEPREFIX/.ready" ]; then
    # A prefix left half-made by an interrupted run is made again.
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    if ! "$(wine_loader /dev/null)" wineboot --init >"$WINEPREFIX.log" 2>&1; then
      echo "wine: creating the Wine prefix $WINEPREFIX failed:" >&2
      cat "$WINEPREFIX.log" >&2
      exit 125
    fi
    # The registry is written out when the server ends.
    if [ -n "$wine_server" ]; then "$wine_server" -w || true; fi
    touch "$WINEPREFIX/.ready"
  fi
}

wine_loader() {
  local wine32=/usr/lib/wine/wine wine64=/usr/lib/wine/wine64 offset machine=
  # The PE header's machine field: 8664 for x86-64.
  offset=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' \n') || true
  [ -n "$offset" ] && machine=$(od -An -t x2 -j $((offset + 4)) -N 2 "$1" 2>/dev/null | tr -d ' \n')
  if [ -x "$wine64" ] && [ "$machine" = 8664 ]; then
    echo "$wine64"
  elif [ -x "$wine32" ]; then
    echo "$wine32"
  elif [ -x "$wine64" ]; then
    echo "$wine64"
  else
    command -v wine || true
  fi
}

wine_end_server() {
  if [ -n "${wine_server:-}" ]; then
    "$wine_server" -k 2>/dev/null || true
    "$wine_server" -w 2>/dev/null || true
  fi
}
