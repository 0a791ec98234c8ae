#!/usr/bin/env bash
# Times a full check against the system's own tools at N established loopback
# connections of the mail server's processes, and checks that the counts are
# exact. Then records the check's peak memory when its configuration file is
# 10 MB, on the Linux build and on the Windows program (under Wine, when the
# cross build is there). Usage: scripts/benchmark.sh [N...|config] (default
# 1000 10000 30000; "config": the memory line alone);
# RUNS=<runs per command> (default 7).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
runs=${RUNS:-7}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000 30000)
[ "${sizes[*]}" != config ] || sizes=()

scripts/install-deps.sh cmake make g++ iproute2 time >&2
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)" >/dev/null

work=$(mktemp -d)
pids=()
stop_all() {
  exec 9>&- 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
}
trap 'stop_all; rm -rf "$work"' EXIT

smtp=46025 lc=46300
mkdir -p "$work/Orvane/App" "$work/Orvane/Lumicourt" "$work/Orvane/Helmstead" "$work/bin"
printf '[Ports]\nSMTPIn=%d\n' $smtp >"$work/Orvane/App/Orvane.ini"
printf '[WebServer]\nPort=%d\n' $lc >"$work/Orvane/Lumicourt/Lumicourt.ini"
printf '[WebServer]\nPort=46400\n' >"$work/Orvane/Helmstead/Helmstead.ini"
for name in Orvane.exe Lumicourt.exe mail-client; do
  cp build/bench/orvane_stand_in "$work/bin/$name"
done

await() {  # await LOG LINE
  for _ in $(seq 3000); do
    grep -qx "$2" "$work/$1" 2>/dev/null && return 0
    sleep 0.02
  done
  echo "benchmark: $1 never showed '$2'" >&2
  exit 1
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
ms_of() {  # ms_of COMMAND...: wall time of one run in milliseconds
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000))  # microseconds
}

printf '%-7s %12s %12s %12s %12s %9s %9s %10s\n' N check_ms ssp_ms ss_ms cat_ms "chk/ssp" "chk/ss" check_KiB
for n in "${sizes[@]}"; do
  rm -f "$work"/*.log
  mkfifo "$work/hold.$n"
  exec 9<>"$work/hold.$n"
  half=$((n / 2))
  "$work/bin/Orvane.exe" --listen 127.0.0.1:$smtp <"$work/hold.$n" >"$work/orvane.log" & pids+=($!)
  "$work/bin/Lumicourt.exe" --listen 127.0.0.1:$lc <"$work/hold.$n" >"$work/lumicourt.log" & pids+=($!)
  await orvane.log ready; await lumicourt.log ready
  # Client ends spread over processes of at most 10,000 sockets each.
  left=$n i=0
  while [ $left -gt 0 ]; do
    chunk=$((left > 10000 ? 10000 : left))
    a=$((chunk / 2)) b=$((chunk - chunk / 2))
    args=()
    [ $a -gt 0 ] && args+=(--connect "127.0.0.1:$smtp*$a")
    [ $b -gt 0 ] && args+=(--connect "127.0.0.1:$lc*$b")
    "$work/bin/mail-client" "${args[@]}" <"$work/hold.$n" >"$work/client$i.log" & pids+=($!)
    await client$i.log ready
    left=$((left - chunk)) i=$((i + 1))
  done
  smtp_n=0 lc_n=0 left=$n
  while [ $left -gt 0 ]; do
    chunk=$((left > 10000 ? 10000 : left)); smtp_n=$((smtp_n + chunk / 2)); lc_n=$((lc_n + chunk - chunk / 2)); left=$((left - chunk))
  done
  await orvane.log "accepted $smtp_n"; await lumicourt.log "accepted $lc_n"

  check=(build/bench/nagios_orvane_check -p "$work/Orvane/App/" -w 0 -c 0 -v)
  out=$(ORVANE_REGISTRY_FILE=/nonexistent "${check[@]}" || true)
  want="OK - Connections=$n SmtpIn=$smtp_n SmtpOut=0 SmtpSSL=0 PopIn=0 PopOut=0 PopSSL=0 ImapIn=0 ImapSSL=0 Other=0 LCin=$lc_n LCSSL=0 HSin=0 HSSSL=0|"
  case "$out" in
    "$want"*) ;;
    *) echo "benchmark: wrong counts at N=$n: $out" >&2; exit 1 ;;
  esac
  rows=$(ss -tan state established | tail -n +2 | wc -l)
  [ "$rows" -ge $((2 * n)) ] || { echo "benchmark: only $rows established rows at N=$n" >&2; exit 1; }

  : >"$work/t.check"; : >"$work/t.ssp"; : >"$work/t.ss"; : >"$work/t.cat"
  for _ in $(seq "$runs"); do
    ORVANE_REGISTRY_FILE=/nonexistent ms_of "${check[@]}" >>"$work/t.check"
    ms_of ss -tanp state established >>"$work/t.ssp"
    ms_of ss -tan state established >>"$work/t.ss"
    ms_of cat /proc/net/tcp >>"$work/t.cat"
  done
  kib=$(ORVANE_REGISTRY_FILE=/nonexistent /usr/bin/time -f %M "${check[@]}" 2>&1 >/dev/null | tail -1)
  c=$(median <"$work/t.check") p=$(median <"$work/t.ssp") s=$(median <"$work/t.ss") k=$(median <"$work/t.cat")
  awk -v n="$n" -v c="$c" -v p="$p" -v s="$s" -v k="$k" -v m="$kib" 'BEGIN {
    printf "%-7d %12.1f %12.1f %12.1f %12.1f %9.2f %9.2f %10d\n", n, c/1000, p/1000, s/1000, k/1000, c/p, c/s, m }'
  stop_all
  rm -f "$work/hold.$n"
done

# Peak resident memory of a whole check whose Orvane.ini is 10 MB of
# commented sections (a size no real configuration reaches; the limit is
# 16 MiB), against the same check with a small file.
mkdir -p "$work/Big/App" "$work/Big/Lumicourt" "$work/Big/Helmstead"
printf '[WebServer]\nPort=%d\n' $lc >"$work/Big/Lumicourt/Lumicourt.ini"
: >"$work/Big/Helmstead/Helmstead.ini"
awk 'BEGIN {
  printf "[Ports]\r\nSMTPIn=25\r\n"
  for (i = 0; size < 10000000; i++) {
    line = sprintf("; domain %d\r\n[Domain%d]\r\nName=mail%d.example.com\r\nMaxMessageSize=10240\r\n\r\n", i, i, i)
    printf "%s", line
    size += length(line)
  }
}' >"$work/Big/App/Orvane.ini"
small="$work/Orvane/App/" big="$work/Big/App/"
peak() {  # peak KiB of one check: peak PATH COMMAND-PREFIX...
  local path=$1
  shift
  ORVANE_REGISTRY_FILE=/nonexistent /usr/bin/time -f %M "$@" -p "$path" -w 0 -c 0 2>&1 >/dev/null | tail -1
}
printf '\n%-28s %12s %12s %12s\n' "10 MB configuration file" small_KiB 10MB_KiB file_MB
printf '%-28s %12d %12d %12.1f\n' linux "$(peak "$small" build/bench/nagios_orvane_check)" \
  "$(peak "$big" build/bench/nagios_orvane_check)" "$(stat -c %s "$big/Orvane.ini" | awk '{print $1 / 1e6}')"
exe=${ORVANE_BUILD_ROOT:-build}/win32/nagios_orvane_check.exe
if [ -f "$exe" ] && command -v wine >/dev/null; then
  winpath() { echo "Z:$1" | tr / '\\'; }
  export WINEPREFIX=${WINEPREFIX:-$top/${ORVANE_BUILD_ROOT:-build}/win32/wineprefix}
  peak "$(winpath "$small")" scripts/wine-run.sh "$exe" >/dev/null  # the prefix, once
  printf '%-28s %12d %12d\n' "windows (32-bit, under Wine)" \
    "$(peak "$(winpath "$small")" scripts/wine-run.sh "$exe")" \
    "$(peak "$(winpath "$big")" scripts/wine-run.sh "$exe")"
else
  echo "windows: no $exe (scripts/test-windows.sh builds it) or no Wine"
fi
