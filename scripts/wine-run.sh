#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine: quiet, without a
# display, in a Wine prefix of the build's own (created on first use) and a
# network namespace of its own (see wine-lib.sh).
#   wine-run.sh program.exe [arguments...]
# WINEPREFIX, when set, names the prefix; otherwise it is "wineprefix" beside
# the program. Runs in one prefix take turns.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/wine-lib.sh
. "$here/wine-lib.sh"

wine_enter_netns "$0" "$@"
program=$1
shift
prefix=${WINEPREFIX:-"$(cd "$(dirname "$program")" && pwd)/wineprefix"}

# One run at a time per prefix: the first builds the prefix, and a run in its
# own network namespace needs a Wine server of its own.
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
# Wine's server outlives the run: it must not hold the lock for the next one.
wine_setup "$prefix" 9>&-

status=0
"$(wine_loader "$program")" "$program" "$@" 9>&- || status=$?
if [ -n "${ORVANE_WINE_IN_NETNS:-}" ]; then
  # The server lives in this namespace; the next run must start its own.
  wine_end_server
fi
exit "$status"
