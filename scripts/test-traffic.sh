#!/usr/bin/env bash
# Connections per source and the services' TCP states against real traffic:
# a real SMTP server (Postfix's smtp-sink, started as "Orvane.exe") and the
# stand-in as the mail server, real clients (smtp-source, swaks, stand-ins),
# half-open connections whose answers nftables drops, and `ss` read right
# after each check as the reference. Everything runs on 127.0.0.0/8 and ::1
# in a network namespace of the script's own, and in a process namespace of
# its own, where the check sees no process but these.
#   scripts/test-traffic.sh        (as root)
set -euo pipefail
cd "$(dirname "$0")/.."
build_root=$(realpath -m "${ORVANE_BUILD_ROOT:-build}")

if [ "${1:-}" != --inside ]; then
  [ "$(id -u)" = 0 ] || { echo "test-traffic: run as root (namespaces, nftables)" >&2; exit 1; }
  scripts/install-deps.sh traffic >&2
  cmake -S . -B "$build_root/linux" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_root/linux" -j"$(nproc)" --target nagios_orvane_check orvane_stand_in >/dev/null
  # The script is the first process of its namespace: when it ends, however
  # it ends, the kernel ends every process it started.
  exec unshare --net --pid --mount --fork --mount-proc "$0" --inside
fi

program=$build_root/linux/nagios_orvane_check
stand_in=$build_root/linux/orvane_stand_in
# shellcheck source=scripts/stand-ins.sh
. scripts/stand-ins.sh
stand_ins_init
failures=0

fail() { echo "test-traffic: $*" >&2; failures=$((failures + 1)); }

# Bounded waits: the condition, tried every 20 ms for up to ten seconds.
await() {
  local what=$1; shift
  for _ in $(seq 500); do "$@" && return 0; sleep 0.02; done
  echo "test-traffic: gave up waiting for $what" >&2
  exit 1
}

ip link set lo up
# Half-open connections: the answers to 127.0.0.99 never arrive. Connection
# attempts out to 127.0.0.98 are never answered.
nft -f - <<'EOF'
table inet traffic {
  chain out {
    type filter hook output priority 0;
    ip daddr 127.0.0.99 tcp flags & (syn | ack) == syn | ack drop
    ip daddr 127.0.0.98 drop
  }
}
EOF

# The demonstration's installation (SMTP in 42025, out 42587; POP in 42110,
# out 42111; IMAP 42143, over SSL 42993), found through the registry file.
cp -r demo/Orvane "$work/"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\r\n"AppPath"="%s/Orvane/App/"\r\n' \
  "$work" >"$work/registry.reg"
export ORVANE_REGISTRY_FILE=$work/registry.reg

for name in Orvane.exe other-mta mail-client peer; do ln -s "$stand_in" "$work/bin/$name"; done
# The real SMTP server under the server's name: the kernel names a process
# after the file it runs, so /proc/PID/comm reads Orvane.exe.
postfix_tool() { command -v "$1" || echo "/usr/sbin/$1"; }
mkdir -p "$work/sink"
ln -s "$(postfix_tool smtp-sink)" "$work/sink/Orvane.exe"

# One check; its output in $out, its exit status in $status.
check() {
  status=0
  out=$("$program" -w 0 -c 0 "$@") || status=$?
  echo "\$ nagios_orvane_check -w 0 -c 0 $*"
  echo "${out%%|*}(exit status $status)"
}
# A performance item of the last check.
perf() {
  local line=${out%%$'\n'*}
  sed -n "s/^.*[| ]$1=\([0-9-]*\).*$/\1/p" <<<"${line#*|}"
}
expect() {  # expect WHAT GOT WANT
  [ "$2" = "$3" ] || fail "$1: $2, not $3 (${out%%$'\n'*})"
}
# Rows that ss shows for a state and filter, counted.
ss_count() { ss -tnH state "$1" "$2" | wc -l; }
# The remote addresses of the established rows a filter takes, with their
# counts, busiest first; IPv4-mapped ones as their IPv4 address.
ss_sources() {
  ss -tnH state established "$1" |
    awk '{print $4}' | sed -e 's/^\[::ffff:\(.*\)\]:[0-9]*$/\1/' -e 's/^\[\(.*\)\]:[0-9]*$/\1/' \
      -e 's/:[0-9]*$//' | sort | uniq -c | sort -k1,1nr -k2,2V
}
listening() { ss -tlnH "( sport = :$1 )" | grep -q .; }
established() { [ "$(ss_count established "( sport = :$1 )")" -ge "$2" ]; }

echo "== Per source, and TIME_WAIT, against a real SMTP server"
# It holds each session at DATA, and drops one at QUIT before it answers: the
# server closes first, whatever the client's pace.
stand_in_run sink.log "$work/sink/Orvane.exe" -u nobody -w 600 -q QUIT 127.0.0.1:42025 1024
await "the SMTP server" listening 42025
[ "$(cat "/proc/${stand_in_pids[-1]}/comm")" = Orvane.exe ] || fail "the SMTP server is not named Orvane.exe"
# Another server on the same port number of another address: its listen
# queue and the connections it holds are not the mail server's.
stand_in_start other-mta other.log --listen-no-accept 127.0.0.2:42025 --listen 127.0.0.3:42025
stand_in_await other.log ready
stand_in_start mail-client other-clients.log --connect '127.0.0.2:42025*3' --connect '127.0.0.3:42025*2'
stand_in_await other-clients.log ready
stand_in_await other.log "accepted 2"
# Seventeen parallel sessions from 127.0.0.1, one from each of ten other
# addresses; the server holds every one at DATA.
stand_in_run source.log "$(postfix_tool smtp-source)" -s 17 -m 17 127.0.0.1:42025
for n in $(seq 11 20); do
  stand_in_run "swaks$n.log" swaks --server 127.0.0.1:42025 --local-interface "127.0.0.$n" \
    --to user@example.test --from sender@example.test --timeout 600
done
# Six sessions that end at once: the server closes first, its ends wait in
# TIME_WAIT. (swaks takes the dropped QUIT for a failure.)
for n in $(seq 30 35); do
  swaks --server 127.0.0.1:42025 --local-interface "127.0.0.$n" --to user@example.test \
    --from sender@example.test --quit-after RCPT >/dev/null 2>&1 || true
done
await "27 sessions" established 42025 32  # with the other server's five

check --per-source=SMTPin:15:20 --top-sources=3 --details
ref=$(ss_sources '( src 127.0.0.1 and sport = :42025 )')
expect "busiest source" "$(perf SmtpInMaxPerSrc)" "$(head -n1 <<<"$ref" | awk '{print $1}')"
expect "busiest source" "$(perf SmtpInMaxPerSrc)" 17
expect "sources" "$(perf SmtpInSources)" "$(wc -l <<<"$ref")"
expect "sources" "$(perf SmtpInSources)" 11
expect "verdict" "${out%%|*}" "WARNING - SMTPin 17 connections from 127.0.0.1 "
expect "exit status" "$status" 1
expect "busiest three" "$(grep '^SMTPin from ' <<<"$out" | tr '\n' ';')" \
  "SMTPin from 127.0.0.1: 17;SMTPin from 127.0.0.11: 1;SMTPin from 127.0.0.12: 1;"
# The classic count is the server's own: not the other server's five.
expect "SMTP connections" "$(perf SmtpIn)" 27

check --per-source=SMTPin:15:20 --per-source-exclude=127.0.0.1/32,10.0.0.0/8
expect "excluded: busiest" "$(perf SmtpInMaxPerSrc)" 1
expect "excluded: sources" "$(perf SmtpInSources)" 10
expect "excluded: verdict" "${out%%|*}" "OK - Connections=27 Smtp=27 Pop=0 Imap=0 Lumicourt=0 Helmstead=0"

check --per-source=SMTPin:15:20 --per-source-prefix=28,128
# 127.0.0.0/28 holds .1 and .11 to .15; 127.0.0.16/28 holds .16 to .20.
expect "grouped: busiest" "$(perf SmtpInMaxPerSrc)" 22
expect "grouped: sources" "$(perf SmtpInSources)" 2
expect "grouped: verdict" "${out%%|*}" "CRITICAL - SMTPin 22 connections from 127.0.0.0/28 "
expect "grouped: exit status" "$status" 2

check --states=SMTPin --state-warn=SMTPin:TimeWait:6
timewait=$(ss_count time-wait '( src 127.0.0.1 and sport = :42025 )')
expect "TIME_WAIT" "$(perf SmtpInTimeWait)" "$timewait"
expect "TIME_WAIT" "$(perf SmtpInTimeWait)" 6
# The other server's queue and its closed connections are not the mail
# server's, though on the same port number.
expect "queued of another listener" "$(perf SmtpInQueued)" 0
expect "CLOSE_WAIT of another process" "$(perf SmtpInCloseWait)" 0
expect "TIME_WAIT verdict" "${out%%|*}" "WARNING - SMTPin 6 TimeWait "
stand_ins_stop 2>/dev/null

echo "== States, each from its cause, against the stand-in"
# The remote POP server the mail server fetches from: it goes away later.
stand_in_start peer peer.log --listen 127.0.0.1:42111
peer=${stand_in_pids[-1]}
stand_in_await peer.log ready
# IMAP on a dual-stack listener; POP listening but never accepting; IMAP
# over SSL for the half-open connections; connections out to a POP server
# that will close, and to an SMTP server that never answers.
stand_in_start Orvane.exe server.log --listen '[::]:42143' --listen-no-accept 127.0.0.1:42110 \
  --listen 127.0.0.1:42993 --connect '127.0.0.1:42111*2' --connect-pending '127.0.0.98:42587*3'
stand_in_await server.log ready
stand_in_start other-mta other.log --listen 127.0.0.2:42993
stand_in_await other.log ready
stand_in_await peer.log "accepted 2"
# IPv4 clients of the dual-stack listener (IPv4-mapped), IPv6 clients, and
# clients that will close their end while the server holds its own.
stand_in_start mail-client held.log --connect '127.0.0.1:42143*7' --connect '[::1]:42143*2'
stand_in_await held.log ready
stand_in_start mail-client closing.log --connect '127.0.0.1:42143*4' --connect '127.0.0.2:42993*2'
closing=${stand_in_pids[-1]}
stand_in_await closing.log ready
stand_in_await server.log "accepted 13"
stand_in_await other.log "accepted 2"
# Clients that wait in the listen queue, and connection attempts whose
# answers are dropped: half-open at the server's listener and at the other
# server's on the same port number.
stand_in_start mail-client queued.log --connect '127.0.0.1:42110*9' \
  --connect-pending '127.0.0.99:0,127.0.0.1:42993*5' --connect-pending '127.0.0.99:0,127.0.0.2:42993*3' \
  --connect-pending '127.0.0.99:0,127.0.0.1:42143*2'
stand_in_await queued.log ready
# The closing clients end, and so does the remote POP server: the server's
# ends of their connections get a FIN it never answers.
kill "$closing" "$peer"
close_wait() { [ "$(ss_count close-wait '( sport = :42143 or dport = :42111 or sport = :42993 )')" -ge 8 ]; }
await "CLOSE_WAIT" close_wait

check --per-source=IMAPin:5 --states=IMAPin,IMAPSSL,POPin,SMTPout,POPout \
  --state-crit=IMAPin:CloseWait:4 --details
expect "IPv4 client of a dual-stack listener" "${out%%|*}" \
  "CRITICAL - IMAPin 4 CloseWait "
expect "mapped: busiest" "$(perf ImapInMaxPerSrc)" 7
expect "mapped: sources" "$(perf ImapInSources)" 2
expect "mapped: busiest named" "$(grep '^IMAPin sources:' <<<"$out")" \
  "IMAPin sources: 2, most from one: 7 (127.0.0.1)"
expect "CLOSE_WAIT held" "$(perf ImapInCloseWait)" "$(ss_count close-wait '( sport = :42143 )')"
expect "CLOSE_WAIT held" "$(perf ImapInCloseWait)" 4
expect "queued" "$(perf PopInQueued)" "$(ss_count established '( sport = :42110 )')"
expect "queued" "$(perf PopInQueued)" 9
expect "half-open" "$(perf ImapSSLSynRecv)" "$(ss_count syn-recv '( src 127.0.0.1 and sport = :42993 )')"
expect "half-open" "$(perf ImapSSLSynRecv)" 5
expect "another process's CLOSE_WAIT" "$(perf ImapSSLCloseWait)" 0
expect "connecting out" "$(perf SmtpOutSynSent)" "$(ss_count syn-sent '( dport = :42587 )')"
expect "connecting out" "$(perf SmtpOutSynSent)" 3
expect "closed by the remote server" "$(perf PopOutCloseWait)" "$(ss_count close-wait '( dport = :42111 )')"
expect "closed by the remote server" "$(perf PopOutCloseWait)" 2
# Half-open at the dual-stack listener: IPv4-mapped local ends of the
# wildcard listener of their family.
expect "half-open, dual stack" "$(perf ImapInSynRecv)" "$(ss_count syn-recv '( sport = :42143 )')"
expect "long output" "$(grep '^IMAPin states:' <<<"$out")" \
  "IMAPin states: SynRecv 2, Queued 0, CloseWait 4, TimeWait 0"
expect "exit status" "$status" 2
stand_ins_stop 2>/dev/null

if [ "$failures" -gt 0 ]; then
  echo "test-traffic: $failures checks failed" >&2
  exit 1
fi
echo "test-traffic: every count agrees with ss"
