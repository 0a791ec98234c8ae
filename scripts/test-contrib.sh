#!/usr/bin/env bash
# Tries the ready-made configurations in contrib/ with the real tools where
# Debian has them: the Icinga 2 check command with "icinga2 daemon -C", the
# Nagios 4 objects with "nagios4 -v", each against a minimal configuration in
# a scratch directory. Then the daemons run the program briefly: Icinga 2's
# Graphite writer must send the thresholds of --perfdata-thresholds to a
# listener, Icinga 2 must record the same long output from the Windows
# program under Wine as from the Linux program, Nagios 4 must record the
# lines of --details as long output, run directly and through NRPE. Everything listens on 127.0.0.1 only, lives in
# the scratch directory (nothing under /etc or /var is written) and is
# stopped on exit. Then every command line of the samples is run through the
# Linux build, so that a misspelt option shows up as the program's own
# command-line error.
#   ORVANE_PROGRAM: the Linux program (default build/linux/nagios_orvane_check)
set -euo pipefail
cd "$(dirname "$0")/.."
build_root=$(realpath -m "${ORVANE_BUILD_ROOT:-build}")
top=$PWD

scripts/install-deps.sh contrib

program=${ORVANE_PROGRAM:-$build_root/linux/nagios_orvane_check}
if [ ! -x "$program" ]; then
  cmake -S . -B "$build_root/linux" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_root/linux" -j"$(nproc)" --target nagios_orvane_check
fi
program=$(realpath "$program")

scratch=$(mktemp -d)
user=$(id -un)
group=$(id -gn)
failed=0
demo=$top/demo/Orvane/App/

# Daemons of the runs below: each in a process group of its own, all
# stopped on exit.
daemons=()
start() { # start LOG COMMAND...
  local log=$1; shift
  setsid "$@" >"$log" 2>&1 </dev/null &
  daemons+=("$!")
}
gone() { ! kill -0 -- "-$1" 2>/dev/null; }
stop_daemons() {
  local pid
  # The first of each group ends the rest (and reaps them: nothing else would).
  for pid in "${daemons[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${daemons[@]}"; do
    wait_for 10 gone "$pid" || kill -KILL -- "-$pid" 2>/dev/null || true
  done
  daemons=()
}
trap 'stop_daemons; rm -rf "$scratch"' EXIT
trap 'exit 1' INT TERM HUP
# wait_for SECONDS COMMAND...: until COMMAND succeeds; fails after SECONDS.
wait_for() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.5
  done
}
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# fail MESSAGE [LOG...]: reports a failed test with the logs it left.
fail() {
  local message=$1; shift
  tail -n 20 "$@" >&2 2>/dev/null || true
  echo "test-contrib.sh: $message" >&2
  failed=1
}

echo "== Icinga 2: contrib/icinga2/orvane.conf"
i=$scratch/icinga2
mkdir -p "$i/data" "$i/log" "$i/cache" "$i/spool" "$i/run"
cat >"$i/icinga2.conf" <<CONF
include <itl>
const PluginDir = "/usr/lib/nagios/plugins"
include "$top/contrib/icinga2/orvane.conf"
object Host "mail" {
  check_command = "dummy"
  vars.orvane = true
}
apply Service "orvane-connections" {
  check_command = "orvane"
  vars.orvane_csmtpin = 100
  vars.orvane_verbose = 2
  assign where host.vars.orvane
}
CONF
if ! icinga2 daemon -C -c "$i/icinga2.conf" -DDataDir="$i/data" -DLogDir="$i/log" \
     -DCacheDir="$i/cache" -DSpoolDir="$i/spool" -DInitRunDir="$i/run" \
     -DRunAsUser="$user" -DRunAsGroup="$group" >"$i/validate.log" 2>&1; then
  cat "$i/validate.log" >&2
  echo "test-contrib.sh: Icinga 2 rejects contrib/icinga2/orvane.conf" >&2
  failed=1
fi

echo "== Icinga 2: thresholds through the Graphite writer"
# The daemon runs the check command every second with plain thresholds
# (the writer sends no crit for a range) and --perfdata-thresholds; a
# listener on 127.0.0.1 takes what the writer sends.
g=$scratch/graphite
mkdir -p "$g/data" "$g/log" "$g/cache" "$g/spool" "$g/run"
start "$g/listener.log" python3 -c '
import socketserver, sys
class Lines(socketserver.StreamRequestHandler):
    def handle(self):
        with open(sys.argv[1], "ab") as out:
            for line in self.rfile:
                out.write(line)
                out.flush()
server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Lines)
with open(sys.argv[2] + ".new", "w") as out:
    out.write(str(server.server_address[1]))
import os; os.rename(sys.argv[2] + ".new", sys.argv[2])
server.serve_forever()' "$g/lines" "$g/port"
wait_for 10 test -s "$g/port" || fail "the Graphite listener did not start" "$g/listener.log"
cat >"$g/icinga2.conf" <<CONF
include <itl>
const PluginDir = "/usr/lib/nagios/plugins"
include "$top/contrib/icinga2/orvane.conf"
object CheckerComponent "checker" { }
object GraphiteWriter "graphite" {
  host = "127.0.0.1"
  port = $(cat "$g/port" 2>/dev/null || echo 0)
  enable_send_thresholds = true
}
object Host "mail" {
  check_command = "dummy"
  enable_active_checks = false
}
object Service "orvane" {
  host_name = "mail"
  check_command = "orvane"
  check_interval = 1s
  retry_interval = 1s
  vars.orvane_program = "$program"
  vars.orvane_path = "$demo"
  vars.orvane_warn = 200
  vars.orvane_crit = 400
  vars.orvane_csmtpin = 100
  vars.orvane_perfdata_thresholds = true
}
CONF
start "$g/icinga2.log" icinga2 daemon -c "$g/icinga2.conf" -DDataDir="$g/data" \
  -DLogDir="$g/log" -DCacheDir="$g/cache" -DSpoolDir="$g/spool" -DInitRunDir="$g/run" \
  -DRunAsUser="$user" -DRunAsGroup="$group"
metric=icinga2.mail.services.orvane.orvane.perfdata
# sent KEY VALUE: the writer has sent KEY of the service's metrics as VALUE.
sent() { grep -q "^$metric\.$1 $2 " "$g/lines" 2>/dev/null; }
# Thresholds reached at N or more go out as ranges that alert above N-1.
all_sent() {
  sent Connections.value 0 && sent Connections.warn 199 && sent Connections.crit 399 &&
    sent Connections.min 0 && sent SmtpIn.crit 99 && sent SmtpIn.min 0
}
if ! wait_for 60 all_sent; then
  grep "^$metric\.\(Connections\|SmtpIn\)\." "$g/lines" | sort -u -k1,1 >&2 || true
  fail "the Graphite writer got no warn, crit and min of the check" "$g/icinga2.log"
else
  grep "^$metric\.Connections\." "$g/lines" | sort -u -k1,1 | cut -d' ' -f1,2
fi
stop_daemons

echo "== Icinga 2: long output of the Windows program, as of the Linux program"
# The daemon runs the contrib check command with --details every second,
# with the Linux program and with the Windows program under Wine (through
# the wrapper the Windows suites run their programs with), both against the
# demonstration installation. Icinga 2 splits plugin output on every CR and
# every LF; its performance data writer records each result's output, long
# output included, and the two must have the same lines, none of them empty.
windows_program=$build_root/win32/nagios_orvane_check.exe
if [ ! -f "$windows_program" ]; then
  scripts/install-deps.sh windows
  cmake -S . -B "$build_root/win32" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake >/dev/null
  cmake --build "$build_root/win32" -j"$(nproc)" --target nagios_orvane_check
fi
l=$scratch/icinga2-long
mkdir -p "$l/data" "$l/log" "$l/cache" "$l/spool" "$l/run"
cat >"$l/nagios_orvane_check.exe" <<SH
#!/bin/sh
exec "$top/scripts/wine-run.sh" "$windows_program" "\$@"
SH
chmod +x "$l/nagios_orvane_check.exe"
cat >"$l/icinga2.conf" <<CONF
include <itl>
const PluginDir = "/usr/lib/nagios/plugins"
include "$top/contrib/icinga2/orvane.conf"
object CheckerComponent "checker" { }
object PerfdataWriter "outputs" {
  service_perfdata_path = "$l/outputs"
  service_temp_path = "$l/outputs.tmp"
  host_perfdata_path = "$l/host-outputs"
  host_temp_path = "$l/host-outputs.tmp"
  service_format_template = "<<\$service.name\$>>\$service.output\$<<end>>"
  rotation_interval = 1s
}
object Host "mail" {
  check_command = "dummy"
  enable_active_checks = false
}
template Service "orvane-details" {
  host_name = "mail"
  check_command = "orvane"
  check_interval = 1s
  retry_interval = 1s
  check_timeout = 120s
  vars.orvane_warn = 200
  vars.orvane_crit = 400
  vars.orvane_csmtpin = 100
  vars.orvane_details = true
  vars.orvane_max_output = 1023
}
object Service "linux" {
  import "orvane-details"
  vars.orvane_program = "$program"
  vars.orvane_path = "$demo"
}
object Service "windows" {
  import "orvane-details"
  vars.orvane_program = "$l/nagios_orvane_check.exe"
  vars.orvane_path = "Z:${demo//\//\\\\}"
}
CONF
start "$l/icinga2.log" icinga2 daemon -c "$l/icinga2.conf" -DDataDir="$l/data" \
  -DLogDir="$l/log" -DCacheDir="$l/cache" -DSpoolDir="$l/spool" -DInitRunDir="$l/run" \
  -DRunAsUser="$user" -DRunAsGroup="$group"
# same_long_output: the last recorded output of each service, compared line
# by line; prints them when they agree.
same_long_output() {
  cat "$l"/outputs* 2>/dev/null | python3 -c '
import re, sys
last = {}
for name, output in re.findall(r"<<(\w+)>>(.*?)<<end>>", sys.stdin.read(), re.S):
    last[name] = output
if set(last) != {"linux", "windows"}:
    sys.exit(1)
linux, windows = (last[name].split("\n") for name in ("linux", "windows"))
if len(linux) < 10 or not linux[0].startswith("OK - Connections=0 ") or windows != linux:
    sys.exit(1)
print("\n".join("  " + line for line in windows))'
}
if ! wait_for 180 same_long_output; then
  cat "$l"/outputs* 2>/dev/null | tail -c 3000 >&2 || true
  fail "Icinga 2 recorded other long output of the Windows program than of the Linux program" \
    "$l/icinga2.log"
fi
stop_daemons

echo "== Nagios 4: contrib/nagios4/orvane.cfg"
n=$scratch/nagios4
# nagios_cfg DIR OBJECTS...: a nagios.cfg in DIR that keeps every file of
# Nagios in DIR, with contrib/nagios4/orvane.cfg and the OBJECTS files.
nagios_cfg() {
  local dir=$1 objects; shift
  mkdir -p "$dir/checkresults"
  {
    echo "cfg_file=$top/contrib/nagios4/orvane.cfg"
    for objects; do echo "cfg_file=$objects"; done
    cat <<CONF
resource_file=$dir/resource.cfg
lock_file=$dir/nagios.lock
temp_file=$dir/nagios.tmp
temp_path=$dir
status_file=$dir/status.dat
log_file=$dir/nagios.log
log_archive_path=$dir
debug_file=$dir/nagios.debug
query_socket=$dir/nagios.qh
object_cache_file=$dir/objects.cache
precached_object_file=$dir/objects.precache
state_retention_file=$dir/retention.dat
command_file=$dir/nagios.cmd
check_result_path=$dir/checkresults
nagios_user=$user
nagios_group=$group
use_syslog=0
check_external_commands=0
illegal_macro_output_chars=\`~\$&|'"<>
CONF
  } >"$dir/nagios.cfg"
  echo '$USER1$=/usr/lib/nagios/plugins' >"$dir/resource.cfg"
}
nagios_cfg "$n" "$n/common.cfg" "$n/objects.cfg"
# What Nagios needs to accept a configuration at all.
cat >"$n/common.cfg" <<'CONF'
define timeperiod {
  timeperiod_name 24x7
  alias           Always
  monday          00:00-24:00
  tuesday         00:00-24:00
  wednesday       00:00-24:00
  thursday        00:00-24:00
  friday          00:00-24:00
  saturday        00:00-24:00
  sunday          00:00-24:00
}
define command {
  command_name    notify-nobody
  command_line    /bin/true
}
define contact {
  contact_name                  admin
  host_notification_period      24x7
  service_notification_period   24x7
  host_notification_options     n
  service_notification_options  n
  host_notification_commands    notify-nobody
  service_notification_commands notify-nobody
}
CONF
# A host with both kinds of service made from the template.
cat >"$n/objects.cfg" <<'CONF'
define host {
  host_name             mail
  address               192.0.2.1
  max_check_attempts    3
  check_period          24x7
  notification_interval 0
  notification_period   24x7
  contacts              admin
}
define service {
  use       orvane-service
  host_name mail
  contacts  admin
}
define service {
  use                 orvane-service
  host_name           mail
  service_description Orvane connections, local
  check_command       check_orvane_local!200!400!-cSMTPin 100
  contacts            admin
}
CONF
if ! nagios4 -v "$n/nagios.cfg" >"$n/validate.log" 2>&1 ||
   ! grep -q '^Total Errors: *0$' "$n/validate.log" ||
   ! grep -q '^Total Warnings: *0$' "$n/validate.log"; then
  cat "$n/validate.log" >&2
  echo "test-contrib.sh: Nagios 4 rejects contrib/nagios4/orvane.cfg" >&2
  failed=1
fi

echo "== Nagios 4 and NRPE: long output"
# Nagios runs the program every second, directly and through check_nrpe
# and an NRPE daemon on 127.0.0.1; each result's output and long output
# go to a performance data file. The contrib commands find check_nrpe and
# the program in $USER1$.
r=$scratch/nagios4-run
nagios_cfg "$r" "$n/common.cfg" "$r/objects.cfg"
mkdir -p "$r/plugins"
ln -s "$program" "$r/plugins/nagios_orvane_check"
ln -s /usr/lib/nagios/plugins/check_nrpe "$r/plugins/check_nrpe"
echo "\$USER1\$=$r/plugins" >"$r/resource.cfg"
cat >>"$r/nagios.cfg" <<CONF
interval_length=1
service_inter_check_delay_method=n
host_inter_check_delay_method=n
retain_state_information=0
process_performance_data=1
service_perfdata_file=$r/outputs
service_perfdata_file_template=\$SERVICEDESC\$\t\$SERVICEOUTPUT\$\t\$LONGSERVICEOUTPUT\$
service_perfdata_file_mode=a
CONF
port=$(free_port)
cat >"$r/objects.cfg" <<CONF
define host {
  host_name             local
  address               127.0.0.1
  max_check_attempts    1
  check_period          24x7
  notification_interval 0
  notification_period   24x7
  contacts              admin
}
define command {
  command_name    check_orvane_nrpe_port
  command_line    \$USER1\$/check_nrpe -H \$HOSTADDRESS\$ -p \$ARG1\$ -t 20 -c check_orvane_details
}
define service {
  use                 orvane-service
  host_name           local
  service_description direct
  check_command       check_orvane_local!200!400!-cSMTPin 100 --details --max-output=1000 -p $demo
  contacts            admin
}
define service {
  use                 orvane-service
  host_name           local
  service_description nrpe
  check_command       check_orvane_nrpe_port!$port
  contacts            admin
}
CONF
# NRPE will not run as root: then it runs as nobody, in a directory of its own.
nrpe_user=$user
[ "$(id -u)" -ne 0 ] || nrpe_user=nobody
mkdir -p "$r/nrpe"
chown "$nrpe_user:$(id -gn "$nrpe_user")" "$r/nrpe"
chmod o+x "$scratch" "$r"
cat >"$r/nrpe.cfg" <<CONF
pid_file=$r/nrpe/nrpe.pid
log_file=$r/nrpe/nrpe.log
server_address=127.0.0.1
server_port=$port
allowed_hosts=127.0.0.1
nrpe_user=$nrpe_user
nrpe_group=$(id -gn "$nrpe_user")
dont_blame_nrpe=0
command_timeout=20
command[check_orvane_details]=$program -w 200 -c 400 -cSMTPin 100 --details --max-output=1000 -p $demo
CONF
start "$r/nrpe.out" nrpe -c "$r/nrpe.cfg" -f
start "$r/nagios.out" nagios4 "$r/nagios.cfg"
# recorded SERVICE: the first line as output, the category lines as long
# output (Nagios writes their line ends as \n).
recorded() {
  awk -F '\t' -v service="$1" '$1 == service && $2 ~ /^OK - Connections=0 Smtp=0 / &&
      index($3, "SMTPin port 42025: 0\\nSMTPout remote port 42587: 0\\n") &&
      $3 ~ /HSTotal ports 41000, 41443: 0$/ { found = 1 }
    END { exit !found }' "$r/outputs" 2>/dev/null
}
both_recorded() { recorded direct && recorded nrpe; }
if wait_for 60 both_recorded; then
  tac "$r/outputs" | sort -s -u -k1,1 | cut -c1-100
else
  missing=
  for s in direct nrpe; do recorded "$s" || missing+=" $s"; done
  fail "Nagios recorded no output and long output of:$missing" \
    "$r/outputs" "$r/nagios.log" "$r/nrpe/nrpe.log"
fi
stop_daemons

echo "== Options of the samples, through the program"
# runs ARGUMENTS...: the program must take the command line and report a
# state (it counts whatever it finds on this machine; the demonstration
# installation gives it ports to read).
runs() {
  local output status=0
  output=$("$program" "$@" -p "$top/demo/Orvane/App/" 2>&1) || status=$?
  if [ "$status" -gt 2 ] || ! [[ $output =~ ^(OK|WARNING|CRITICAL)\ -\  ]]; then
    echo "test-contrib.sh: the program rejects: $*" >&2
    echo "  $output" | head -3 >&2
    failed=1
  fi
}
# Command lines as the samples give them (macros left to the validations above).
lines=0
while IFS= read -r line; do
  line=${line%\`}
  # The other formats' samples are run with their clients, and their output
  # files put in a scratch directory, by scripts/test-formats.sh.
  [[ $line != *--output-format=* || $line == *--output-format=nagios* ]] || continue
  read -ra words <<<"${line#*nagios_orvane_check*[ \"]}"
  runs "${words[@]}"
  lines=$((lines + 1))
done < <(grep -rhoE 'nagios_orvane_check(\.exe)?"? +-[^$#;`]*(`|$)' contrib)
# The check command's arguments, each with a value unless it is a switch.
args=()
while read -r key kind; do
  case $key in
    --require-running) args+=("$key" Orvane:ok) ;;
    --require-listening) args+=("$key" SMTPin:ok) ;;
    --per-source) args+=("$key" IMAPin:100) ;;
    --per-source-prefix) args+=("$key" 24,64) ;;
    --per-source-exclude) args+=("$key" 192.0.2.0/24) ;;
    --states) args+=("$key" IMAPin) ;;
    --state-warn) args+=("$key" IMAPin:CloseWait:100) ;;
    --state-crit) args+=("$key" IMAPin:CloseWait:200) ;;
    *) if [ "$kind" = set_if ]; then args+=("$key"); else args+=("$key" 1); fi ;;
  esac
done < <(awk '/^    "-[^"]*" = \{/ { gsub(/"/, "", $1); key = $1 }
              key && /^      (value|set_if) =/ { print key, $1; key = "" }' contrib/icinga2/orvane.conf)
if [ ${#args[@]} -lt 80 ]; then
  echo "test-contrib.sh: found only ${#args[@]} words of arguments in contrib/icinga2/orvane.conf" >&2
  failed=1
fi
runs "${args[@]}"
echo "$lines sample command lines and the check command's arguments run"

if [ "$failed" -ne 0 ]; then exit 1; fi
echo "contrib/: all configurations accepted"
