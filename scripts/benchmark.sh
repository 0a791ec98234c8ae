#!/usr/bin/env bash
# Times a full check against the system's own tools at N established loopback
# connections of the mail server's processes, and checks that the counts are
# exact. Then records the check's peak memory when its configuration file is
# 10 MB, on the Linux build and on the Windows program under Wine; and times
# the Windows program under Wine against Wine's own floor (a program that
# reads the TCP owner table once, and once more with the IPv6 table, which
# the check reads too) at live connections held by a Windows stand-in.
# Then times a check that asks for connections per source and the TCP
# states of every category against the plain check, at N connections from
# 1, 100 and 10,000 client addresses, with its peak memory.
#   scripts/benchmark.sh [N...|config|sources]   (default 1000 10000 30000;
#                         "config": the memory lines alone; "sources": the
#                         per-source and state lines alone)
# RUNS=<runs per command> (default 7); WINE_SIZES (default "1000 5000", empty
# for none) and WINE_RUNS (default 5) for the timing under Wine; SOURCE_SIZES
# (default "10000 30000") and SOURCE_COUNTS (default "1 100 10000") for the
# per-source and state lines.
set -euo pipefail
cd "$(dirname "$0")/.."
build_root=$(realpath -m "${ORVANE_BUILD_ROOT:-build}")
top=$PWD

median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
cpu_of() {  # cpu_of COMMAND...: processor time (user and system) of one run in microseconds
  local TIMEFORMAT='%3U %3S' times
  times=$( { time "$@" >/dev/null 2>&1; } 2>&1 ) || true
  awk '{ printf "%d\n", ($1 + $2) * 1000000 }' <<<"$times"
}
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
runs=${RUNS:-7}
# The installation the stand-ins serve: SMTP in on 46025, web mail on 46300.
smtp=46025 lc=46300
installation() {
  mkdir -p "$work/Orvane/App" "$work/Orvane/Lumicourt" "$work/Orvane/Helmstead" "$work/bin"
  printf '[Ports]\nSMTPIn=%d\n' $smtp >"$work/Orvane/App/Orvane.ini"
  printf '[WebServer]\nPort=%d\n' $lc >"$work/Orvane/Lumicourt/Lumicourt.ini"
  printf '[WebServer]\nPort=46400\n' >"$work/Orvane/Helmstead/Helmstead.ini"
  for name in Orvane.exe Lumicourt.exe mail-client; do
    cp "$build_root/bench/orvane_stand_in" "$work/bin/$name"
  done
}

# The 127.0.0.0/8 address K after 127.1.0.1.
client_address() {
  local v=$((0x7F010001 + $1))
  echo "$((v >> 24 & 255)).$((v >> 16 & 255)).$((v >> 8 & 255)).$((v & 255))"
}

# Connections per source and TCP states of every category against the
# plain check: N connections (half SMTP, half web mail) made in turn from S
# client addresses, each category's from S addresses where it has as many.
# One line: sources_session N S.
sources_session() {
  ip link set lo up 2>/dev/null || true
  stand_ins_init
  installation
  every=SMTPin,SMTPout,SMTPSSL,POPin,POPout,POPSSL,IMAPin,IMAPSSL,LCin,LCSSL,HSin,HSSSL
  local n=$1 sources=$2
  stand_in_start Orvane.exe orvane.log --listen 127.0.0.1:$smtp
  stand_in_start Lumicourt.exe lumicourt.log --listen 127.0.0.1:$lc
  stand_in_await orvane.log ready; stand_in_await lumicourt.log ready
  left=$n i=0 smtp_n=0 lc_n=0
  while [ $left -gt 0 ]; do
    chunk=$((left > 10000 ? 10000 : left))
    a=$((chunk / 2)) b=$((chunk - chunk / 2))
    # Each chunk goes on from the address where the last one stopped.
    args=()
    [ $a -gt 0 ] && args+=(--connect-spread "$(client_address $((smtp_n % sources)))+$sources,127.0.0.1:$smtp*$a")
    [ $b -gt 0 ] && args+=(--connect-spread "$(client_address $((lc_n % sources)))+$sources,127.0.0.1:$lc*$b")
    stand_in_start mail-client client$i.log "${args[@]}"
    stand_in_await client$i.log ready
    smtp_n=$((smtp_n + a)) lc_n=$((lc_n + b)) left=$((left - chunk)) i=$((i + 1))
  done
  stand_in_await orvane.log "accepted $smtp_n"; stand_in_await lumicourt.log "accepted $lc_n"

  plain=("$build_root/bench/nagios_orvane_check" -p "$work/Orvane/App/" -w 0 -c 0 -v)
  measures=("${plain[@]}" "--per-source=$every" "--states=$every")
  out=$(ORVANE_REGISTRY_FILE=/nonexistent "${measures[@]}" || true)
  # Each category's connections come from as many addresses as it has,
  # up to S, evenly.
  for pair in "SmtpIn $smtp_n" "LCin $lc_n"; do
    set -- $pair
    distinct=$(($2 < sources ? $2 : sources))
    busiest=$((($2 + sources - 1) / sources))
    case "$out" in
      *" $1MaxPerSrc=$busiest;"*" $1Sources=$distinct;"*) ;;
      *) echo "benchmark: wrong per-source counts at N=$n, $sources sources: $out" >&2; exit 1 ;;
    esac
  done

  # Wall time, and processor time, which a shared machine disturbs less.
  : >"$work/t.plain"; : >"$work/t.measures"; : >"$work/c.plain"; : >"$work/c.measures"
  for _ in $(seq "$runs"); do
    ORVANE_REGISTRY_FILE=/nonexistent ms_of "${plain[@]}" >>"$work/t.plain"
    ORVANE_REGISTRY_FILE=/nonexistent ms_of "${measures[@]}" >>"$work/t.measures"
    ORVANE_REGISTRY_FILE=/nonexistent cpu_of "${plain[@]}" >>"$work/c.plain"
    ORVANE_REGISTRY_FILE=/nonexistent cpu_of "${measures[@]}" >>"$work/c.measures"
  done
  kib_plain=$(ORVANE_REGISTRY_FILE=/nonexistent /usr/bin/time -f %M "${plain[@]}" 2>&1 >/dev/null | tail -1)
  kib=$(ORVANE_REGISTRY_FILE=/nonexistent /usr/bin/time -f %M "${measures[@]}" 2>&1 >/dev/null | tail -1)
  c=$(median <"$work/t.plain") m=$(median <"$work/t.measures")
  cc=$(median <"$work/c.plain") cm=$(median <"$work/c.measures")
  awk -v n="$n" -v s="$sources" -v c="$c" -v m="$m" -v cc="$cc" -v cm="$cm" -v kc="$kib_plain" -v km="$kib" 'BEGIN {
    printf "%-7d %8d %10.1f %10.1f %8.2f %10.1f %10.1f %8.2f %10d %10d\n", n, s, c/1000, m/1000, m/c, cc/1000, cm/1000, cm/cc, kc, km }'
  stand_ins_stop
}

if [ "${1:-}" = --wine-session ]; then
  shift
  wine_session "$@"
  exit 0
fi
if [ "${1:-}" = --sources-session ]; then
  sources_session "$2" "$3"
  exit 0
fi

sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000 30000)
wine_sizes=${WINE_SIZES-1000 5000}
run_sources=$([ $# -eq 0 ] && echo 1 || echo 0) run_config=1
[ "${sizes[*]}" != config ] || { sizes=(); wine_sizes=; }
[ "${sizes[*]}" != sources ] || { sizes=(); wine_sizes=; run_sources=1; run_config=0; }

scripts/install-deps.sh benchmark >&2
cmake -S . -B "$build_root/bench" -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF >/dev/null
cmake --build "$build_root/bench" -j"$(nproc)" >/dev/null

stand_ins_init

installation

[ ${#sizes[@]} -eq 0 ] ||
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

if [ "$run_sources" = 1 ]; then
  stand_ins_stop
  printf '\n%-7s %8s %10s %10s %8s %10s %10s %8s %10s %10s\n' N sources check_ms meas_ms meas/chk \
    check_cpu meas_cpu meas/chk check_KiB meas_KiB
  for n in ${SOURCE_SIZES:-10000 30000}; do
    for sources in ${SOURCE_COUNTS:-1 100 10000}; do
      # Each in namespaces of its own: no row the last one left behind (its
      # closed connections wait in TIME_WAIT), no process named like the
      # server's but its own; its clients use 127.1.0.0/16.
      if [ "$(id -u)" = 0 ]; then
        RUNS=$runs unshare --net --pid --mount --fork --mount-proc "$0" --sources-session "$n" "$sources"
      else
        RUNS=$runs "$0" --sources-session "$n" "$sources"
      fi
    done
  done
fi
[ "$run_config" = 1 ] || exit 0

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
