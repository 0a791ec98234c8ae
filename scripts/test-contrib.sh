#!/usr/bin/env bash
# Tries the ready-made configurations in contrib/ with the real tools where
# Debian has them: the Icinga 2 check command with "icinga2 daemon -C", the
# Nagios 4 objects with "nagios4 -v", each against a minimal configuration in
# a scratch directory (no daemon is started, nothing under /etc or /var is
# read or written). Then every command line of the samples is run through the
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
trap 'rm -rf "$scratch"' EXIT
user=$(id -un)
group=$(id -gn)
failed=0

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

echo "== Nagios 4: contrib/nagios4/orvane.cfg"
n=$scratch/nagios4
mkdir -p "$n/checkresults"
cat >"$n/nagios.cfg" <<CONF
cfg_file=$top/contrib/nagios4/orvane.cfg
cfg_file=$n/objects.cfg
resource_file=$n/resource.cfg
lock_file=$n/nagios.lock
temp_file=$n/nagios.tmp
temp_path=$n
status_file=$n/status.dat
log_file=$n/nagios.log
object_cache_file=$n/objects.cache
precached_object_file=$n/objects.precache
state_retention_file=$n/retention.dat
command_file=$n/nagios.cmd
check_result_path=$n/checkresults
nagios_user=$user
nagios_group=$group
check_external_commands=0
illegal_macro_output_chars=\`~\$&|'"<>
CONF
echo '$USER1$=/usr/lib/nagios/plugins' >"$n/resource.cfg"
# A host with both kinds of service made from the template; the rest is
# what Nagios needs to accept a configuration at all.
cat >"$n/objects.cfg" <<'CONF'
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
