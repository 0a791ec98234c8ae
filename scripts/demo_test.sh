#!/usr/bin/env bash
# The README's main job: the demonstration runs to its end and both builds
# count the same. Then a second one is killed outright while its stand-ins
# hold their connections, and none of them may be left a few seconds later:
# stand-ins named like the server's processes would count in later checks.
set -euo pipefail
cd "$(dirname "$0")/.."
build_root=$(realpath -m "${ORVANE_BUILD_ROOT:-build}")
stand_in=$build_root/demo/orvane_stand_in
log=$(mktemp)
trap 'rm -f "$log"' EXIT

fail() {
  echo "demo_test: $*" >&2
  sed 's/^/  | /' "$log" >&2
  exit 1
}

scripts/demo.sh >"$log" 2>&1 || fail "the demonstration failed"
grep -q '^Both builds count the same connections: ' "$log" || fail "no common count"

# The processes that run the demonstration's stand-in, by their executable.
stand_ins() {
  local exe pid
  for exe in /proc/[0-9]*/exe; do
    [ "$(readlink "$exe" 2>/dev/null)" = "$stand_in" ] || continue
    pid=${exe#/proc/}
    echo "${pid%/exe}"
  done
}

# The process id of a child of process $1 named $2, from /proc alone.
child_named() {
  local stat line comm
  for stat in /proc/[0-9]*/stat; do
    { read -r line <"$stat"; } 2>/dev/null || continue
    comm=${line#*(} comm=${comm%) *}
    # shellcheck disable=SC2086
    set -- "$1" "$2" ${line##*) }
    [ "$4" = "$1" ] && [ "$comm" = "$2" ] && { echo "${stat//[^0-9]/}"; return 0; }
  done
  return 1
}

scripts/demo.sh >"$log" 2>&1 &
demo=$!
# Killed once its server stand-ins run (they start one after the other and
# live for a moment only: the wait is a tight one).
server=
for _ in $(seq 60000); do
  server=$(child_named "$demo" Helmstead.exe) && break
  kill -0 "$demo" 2>/dev/null || fail "the demonstration ended before its stand-ins ran"
  sleep 0.01
done
[ -n "$server" ] || fail "no stand-in ran within ten minutes"
# Its scratch directory, which no exit trap removes after SIGKILL.
work=$(tr '\0' '\n' <"/proc/$server/cmdline" | head -n1)
work=${work%/bin/Helmstead.exe}
kill -KILL "$demo"
wait "$demo" 2>/dev/null || true
[ -d "$work/Orvane" ] && rm -rf "$work"

for _ in $(seq 50); do
  left=$(stand_ins)
  [ -z "$left" ] && { echo "demo_test: a killed demonstration leaves no stand-in"; exit 0; }
  sleep 0.1
done
# shellcheck disable=SC2086
kill $left 2>/dev/null || true
fail "stand-ins $(echo $left) still run 5 seconds after the demonstration was killed"
