#!/usr/bin/env bash
# Performance-data readers judge --perfdata-thresholds as the program judges
# its thresholds: the demonstration installation holds 0 to 3 connections per
# category, each category is given a critical threshold of every form around
# its count, and Monitoring::Plugin's reading of the written threshold must
# alert exactly where the program's status does.
#   scripts/test-perfdata.sh [PROGRAM]
set -euo pipefail
cd "$(dirname "$0")/.."
build_root=$(realpath -m "${ORVANE_BUILD_ROOT:-build}")
program=$(realpath -m "${1:-$build_root/linux/nagios_orvane_check}")
stand_in=$(dirname "$program")/orvane_stand_in

scripts/install-deps.sh perfdata >&2
# A network and process namespace of its own: its stand-ins are the only
# processes named like the server's, on a loopback of their own.
if [ -z "${ORVANE_PERFDATA_NS:-}" ]; then
  ORVANE_PERFDATA_NS=1 exec unshare --net --pid --fork --mount-proc "$0" "$program"
fi
ip link set lo up
# shellcheck source=scripts/stand-ins.sh
. scripts/stand-ins.sh
stand_ins_init
demo_stand_ins "$stand_in"

# Category option name and performance-data label.
categories="SMTPin:SmtpIn SMTPout:SmtpOut SMTPSSL:SmtpSSL SMTPTotal:SmtpTotal POPin:PopIn
POPout:PopOut POPSSL:PopSSL POPTotal:PopTotal IMAPin:ImapIn IMAPSSL:ImapSSL IMAPTotal:ImapTotal
LCin:LCin LCSSL:LCSSL LCTotal:LCTotal HSin:HSin HSSSL:HSSSL HSTotal:HSTotal"
runs=0 disagreements=0 readable=0
for pair in $categories; do
  option=${pair%%:*} label=${pair#*:}
  count=$("$program" -p "$work/Orvane/App/" -w 0 -c 0 | sed -n "s/.*[| ]$label=\([0-9]*\).*/\1/p")
  for c in $((count - 1)) "$count" $((count + 1)); do
    [ "$c" -ge 0 ] || continue
    for form in "$c" "$c:" "~:$c" ":$c" "$c:$((c + 2))" "@$c" "@$c:" "@~:$c" "@0:$c" "@$c:$((c + 2))"; do
      runs=$((runs + 1))
      status=0
      line=$("$program" -p "$work/Orvane/App/" -w 0 -c 0 "--crit$option=$form" --perfdata-thresholds) || status=$?
      reader=$(perl -MMonitoring::Plugin::Performance -e '
        my ($label, $line) = @ARGV;
        my ($perf) = $line =~ /\|(.*)$/;
        for my $item (Monitoring::Plugin::Performance->parse_perfstring($perf)) {
          next unless $item->label eq $label;
          my $crit = $item->threshold->critical;
          print defined $crit && $crit->is_set ? ($crit->check_range($item->value) ? 2 : 0) : "unset";
          exit;
        }
        print "missing";' "$label" "$line")
      case $reader in
        unset) ;;  # not expressible for readers: left out, said in README
        *) readable=$((readable + 1))
           if [ "$reader" != "$status" ]; then
             disagreements=$((disagreements + 1))
             echo "--crit$option=$form at $count: the program says $status, the reader $reader: $line" >&2
           fi ;;
      esac
    done
  done
done
echo "$runs thresholds tried, $readable written for readers, $disagreements disagreements"
[ "$disagreements" -eq 0 ] && [ "$readable" -gt 0 ]
