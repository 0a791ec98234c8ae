#!/usr/bin/env bash
# The promise of stand-ins.sh: a script that is killed outright leaves no
# stand-in behind (left ones would count in later checks).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
started=$(mktemp)
trap 'rm -f "$started"' EXIT
# A script with one stand-in that reads the hold pipe to its end; it kills
# itself, so no trap of its own runs.
{ bash -c '
  . "$1/stand-ins.sh"
  stand_ins_init
  stand_in_run reader.log cat
  echo "$! $work" >"$2"
  kill -KILL $$
' _ "$here" "$started"; } 2>/dev/null || true
read -r pid work <"$started"
rm -rf "$work"
for _ in $(seq 100); do
  state=$(sed 's/.*) //' "/proc/$pid/stat" 2>/dev/null | cut -c1) || state=
  [ -z "$state" ] || [ "$state" = Z ] && exit 0
  sleep 0.05
done
kill "$pid" 2>/dev/null || true
echo "stand-in $pid still runs 5 seconds after its script was killed" >&2
exit 1
