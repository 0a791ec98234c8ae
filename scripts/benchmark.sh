#!/usr/bin/env bash
# Times a full check against the system's own tools at N established loopback
# connections of the mail server's processes, and checks that the counts are
# exact. Then records the check's peak memory when its configuration file is
# 10 MB, on the Linux build and on the Windows program under Wine; and times
# the Windows program under Wine against Wine's own floor (a program that
# reads the TCP owner table once, and once more with the IPv6 table, which
# the check reads too) at live connections held by a Windows stand-in.
#   scripts/benchmark.sh [N...|config]   (default 1000 10000 30000; "config":
#                                         the memory lines alone)
# RUNS=<runs per command> (default 7); WINE_SIZES (default "1000 5000", empty
# for none) and WINE_RUNS (default 5) for the timing under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
build_root=$(realpath -m "${ORVANE_BUILD_ROOT:-build}")
top=$PWD

median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
ms_of() {  # ms_of COMMAND...: wall time of one run in microseconds
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000))
}

# The Windows program under Wine, in a Wine session of its own (prefix,
# network namespace, Wine server): the stand-in "Orvane.exe" makes N
# connections out to the remote SMTP port, each of which the check counts.
wine_session() {  # wine_session N...
  # shellcheck source=scripts/wine-lib.sh
  . scripts/wine-lib.sh
  wine_enter_netns "$0" --wine-session "$@"
  ulimit -n "$(ulimit -Hn)"
  local build=$build_root/bench-win32 out=46587 n
  wine_setup "$build/wineprefix"
  local loader
  loader=$(wine_loader "$build/nagios_orvane_check.exe")
  stand_ins_init
  trap 'stand_ins_stop; wine_end_server; rm -rf "$work"' EXIT
  mkdir -p "$work/Orvane/App" "$work/Orvane/Lumicourt" "$work/Orvane/Helmstead"
  printf '[Ports]\r\nSMTPOut=%d\r\n' $out >"$work/Orvane/App/Orvane.ini"
  printf '[WebServer]\r\nPort=46300\r\n' >"$work/Orvane/Lumicourt/Lumicourt.ini"
  printf '[WebServer]\r\nPort=46400\r\n' >"$work/Orvane/Helmstead/Helmstead.ini"
  cp "$build/orvane_stand_in.exe" "$work/bin/Orvane.exe"
  ln -s "$build_root/bench/orvane_stand_in" "$work/bin/peer"
  local check=("$loader" "$build/nagios_orvane_check.exe" -p "Z:${work//\//\\}\\Orvane\\App\\" -w 0 -c 0 -v)
  local floor=("$loader" "$build/tcp_table_once.exe") both=("$loader" "$build/tcp_table_once.exe" 6)

  printf '%-7s %8s %10s %10s %12s %9s %11s\n' N rows check_ms floor_ms floor46_ms chk/floor chk/floor46
  for n in "$@"; do
    stand_in_start peer peer.log --listen 127.0.0.1:$out
    stand_in_await peer.log ready
    stand_in_run orvane.log "$loader" "$work/bin/Orvane.exe" --connect "127.0.0.1:$out*$n"
    stand_in_await orvane.log ready 60000
    stand_in_await peer.log "accepted $n" 60000

    local got want rows
    got=$("${check[@]}" | tr -d '\r' || true)
    want="OK - Connections=$n SmtpIn=0 SmtpOut=$n SmtpSSL=0 PopIn=0 PopOut=0 PopSSL=0 ImapIn=0 ImapSSL=0 Other=0 LCin=0 LCSSL=0 HSin=0 HSSSL=0|"
    case "$got" in
      "$want"*) ;;
      *) echo "benchmark: wrong counts under Wine at N=$n: $got" >&2; exit 1 ;;
    esac
    rows=$("${floor[@]}" | tr -d '\r')
    [ "$rows" -ge $((2 * n)) ] || { echo "benchmark: only $rows rows under Wine at N=$n" >&2; exit 1; }

    : >"$work/t.check"; : >"$work/t.floor"; : >"$work/t.both"
    for _ in $(seq "${WINE_RUNS:-5}"); do
      ms_of "${check[@]}" >>"$work/t.check"
      ms_of "${floor[@]}" >>"$work/t.floor"
      ms_of "${both[@]}" >>"$work/t.both"
    done
    local c f b
    c=$(median <"$work/t.check") f=$(median <"$work/t.floor") b=$(median <"$work/t.both")
    awk -v n="$n" -v r="$rows" -v c="$c" -v f="$f" -v b="$b" 'BEGIN {
      printf "%-7d %8d %10.1f %10.1f %12.1f %9.2f %11.2f\n", n, r, c/1000, f/1000, b/1000, c/f, c/b }'
    stand_ins_stop
  done
}

# shellcheck source=scripts/stand-ins.sh
. scripts/stand-ins.sh
if [ "${1:-}" = --wine-session ]; then
  shift
  wine_session "$@"
  exit 0
fi

runs=${RUNS:-7}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000 30000)
wine_sizes=${WINE_SIZES-1000 5000}
[ "${sizes[*]}" != config ] || { sizes=(); wine_sizes=; }

scripts/install-deps.sh benchmark >&2
cmake -S . -B "$build_root/bench" -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF >/dev/null
cmake --build "$build_root/bench" -j"$(nproc)" >/dev/null

stand_ins_init

smtp=46025 lc=46300
mkdir -p "$work/Orvane/App" "$work/Orvane/Lumicourt" "$work/Orvane/Helmstead" "$work/bin"
printf '[Ports]\nSMTPIn=%d\n' $smtp >"$work/Orvane/App/Orvane.ini"
printf '[WebServer]\nPort=%d\n' $lc >"$work/Orvane/Lumicourt/Lumicourt.ini"
printf '[WebServer]\nPort=46400\n' >"$work/Orvane/Helmstead/Helmstead.ini"
for name in Orvane.exe Lumicourt.exe mail-client; do
  cp "$build_root/bench/orvane_stand_in" "$work/bin/$name"
done

printf '%-7s %12s %12s %12s %12s %9s %9s %10s\n' N check_ms ssp_ms ss_ms cat_ms "chk/ssp" "chk/ss" check_KiB
for n in "${sizes[@]}"; do
  rm -f "$work"/*.log
  stand_in_start Orvane.exe orvane.log --listen 127.0.0.1:$smtp
  stand_in_start Lumicourt.exe lumicourt.log --listen 127.0.0.1:$lc
  stand_in_await orvane.log ready; stand_in_await lumicourt.log ready
  # Client ends spread over processes of at most 10,000 sockets each.
  left=$n i=0
  while [ $left -gt 0 ]; do
    chunk=$((left > 10000 ? 10000 : left))
    a=$((chunk / 2)) b=$((chunk - chunk / 2))
    args=()
    [ $a -gt 0 ] && args+=(--connect "127.0.0.1:$smtp*$a")
    [ $b -gt 0 ] && args+=(--connect "127.0.0.1:$lc*$b")
    stand_in_start mail-client client$i.log "${args[@]}"
    stand_in_await client$i.log ready
    left=$((left - chunk)) i=$((i + 1))
  done
  smtp_n=0 lc_n=0 left=$n
  while [ $left -gt 0 ]; do
    chunk=$((left > 10000 ? 10000 : left)); smtp_n=$((smtp_n + chunk / 2)); lc_n=$((lc_n + chunk - chunk / 2)); left=$((left - chunk))
  done
  stand_in_await orvane.log "accepted $smtp_n"; stand_in_await lumicourt.log "accepted $lc_n"

  check=("$build_root/bench/nagios_orvane_check" -p "$work/Orvane/App/" -w 0 -c 0 -v)
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
  stand_ins_stop
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
printf '%-28s %12d %12d %12.1f\n' linux "$(peak "$small" "$build_root/bench/nagios_orvane_check")" \
  "$(peak "$big" "$build_root/bench/nagios_orvane_check")" "$(stat -c %s "$big/Orvane.ini" | awk '{print $1 / 1e6}')"
cmake -S . -B "$build_root/bench-win32" -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake >/dev/null
cmake --build "$build_root/bench-win32" -j"$(nproc)" >/dev/null
exe=$build_root/bench-win32/nagios_orvane_check.exe
winpath() { echo "Z:$1" | tr / '\\'; }
export WINEPREFIX=$build_root/bench-win32/wineprefix
peak "$(winpath "$small")" scripts/wine-run.sh "$exe" >/dev/null  # the prefix, once
printf '%-28s %12d %12d\n' "windows (32-bit, under Wine)" \
  "$(peak "$(winpath "$small")" scripts/wine-run.sh "$exe")" \
  "$(peak "$(winpath "$big")" scripts/wine-run.sh "$exe")"
unset WINEPREFIX

if [ -n "$wine_sizes" ]; then
  echo
  echo "Windows program (32-bit) under Wine, against one read of the TCP owner table:"
  # shellcheck disable=SC2086
  "$0" --wine-session $wine_sizes
fi
