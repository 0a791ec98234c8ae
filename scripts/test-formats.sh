#!/usr/bin/env bash
# The output formats for other monitoring stacks, judged by their real
# clients, for the Linux program and the Windows program under Wine:
#   - Checkmk local lines against the documented grammar, every service in
#     every state (the agent and the site are not in Debian);
#   - Prometheus text through promtool and both parsers of the Python client
#     (text format and OpenMetrics), for runs that are OK, WARNING, CRITICAL
#     and UNKNOWN, written with --output-file;
#   - JSON through jq, the same keys whatever the state;
#   - the refusals of the output options, one table, nothing written;
#   - node_exporter's textfile collector scraped while the file is rewritten
#     hundreds of times: every scrape holds the check's state with
#     --output-file, and a plain shell redirect shows that the scrape can
#     catch a file half written;
#   - zabbix_agent2 -t with the UserParameter of contrib/zabbix/: the JSON
#     comes through whole for an OK and an UNKNOWN run, and every JSONPath of
#     the template finds its value;
#   - the samples of contrib/ for these formats, run as they stand: the
#     Checkmk wrappers, the scheduled task's command line, the cron line, the
#     Windows UserParameter.
# Runs in a network and process namespace of its own: node_exporter listens
# on 127.0.0.1 there, and no stand-in of another test is counted. Everything
# it starts is stopped on exit.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here/.."
top=$PWD
build_root=$(realpath -m "${ORVANE_BUILD_ROOT:-build}")
linux=$build_root/linux/nagios_orvane_check
windows_dir=$build_root/win32

if [ -z "${ORVANE_FORMATS_IN_NS:-}" ]; then
  scripts/install-deps.sh formats windows
  if [ ! -x "$linux" ]; then
    cmake -S . -B "$build_root/linux" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build_root/linux" -j"$(nproc)" --target nagios_orvane_check
  fi
  if [ ! -f "$windows_dir/nagios_orvane_check.exe" ] || [ ! -f "$windows_dir/run_verbatim.exe" ]; then
    cmake -S . -B "$windows_dir" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake >/dev/null
    cmake --build "$windows_dir" -j"$(nproc)" --target nagios_orvane_check run_verbatim
  fi
  ORVANE_FORMATS_IN_NS=1 exec unshare --net --pid --fork --mount-proc "$0" "$@"
fi
ip link set lo up

python=/usr/bin/python3  # Debian's, with the packages' modules
check=("$python" "$here/check_formats.py")
# shellcheck source=scripts/wine-lib.sh
. "$here/wine-lib.sh"
scratch=$(mktemp -d)
daemons=()
cleanup() {
  local pid
  for pid in "${daemons[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${daemons[@]}"; do wait "$pid" 2>/dev/null || true; done
  wine_end_server
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
failed=0
fail() {
  echo "test-formats.sh: $*" >&2
  failed=1
}

# A Wine prefix of this script's own: its registry names the demonstration
# installation for the samples, which give no -p.
wine_setup "$windows_dir/formats-wineprefix"
wine_loader=$(wine_loader "$windows_dir/nagios_orvane_check.exe")
"$wine_server" -p  # one server for every run below, ended with the script
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
demo=$top/demo/Orvane/App/
key='HKLM\SOFTWARE\Kestrix Technologies\Orvane'
for view in 32 64; do
  "$wine_loader" reg add "$key" /v AppPath /t REG_SZ /d "$(windows_path "$demo")" /reg:$view /f >/dev/null
done
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\n"AppPath"="%s"\n' \
  "$demo" >"$scratch/registry.reg"
export ORVANE_REGISTRY_FILE=$scratch/registry.reg

# run BUILD OUT ARGUMENTS...: the program of BUILD (linux or windows), its
# standard output in OUT; sets $status. @ in an argument stands for the
# scratch directory; the Windows program gets absolute paths (an argument,
# or an option's value) in its own spelling.
run() {
  local build=$1 out=$2 arguments=() argument
  shift 2
  for argument in "$@"; do
    argument=${argument//@/$scratch}
    if [ "$build" = windows ]; then
      if [[ $argument == /* ]]; then
        argument=$(windows_path "$argument")
      elif [[ $argument == --*=/* ]]; then
        argument=${argument%%=*}=$(windows_path "${argument#*=}")
      fi
    fi
    arguments+=("$argument")
  done
  status=0
  if [ "$build" = windows ]; then
    "$wine_loader" "$windows_dir/nagios_orvane_check.exe" "${arguments[@]}" >"$out" 2>"$out.err" || status=$?
  else
    "$linux" "${arguments[@]}" >"$out" 2>"$out.err" || status=$?
  fi
  if [ -s "$out.err" ]; then fail "$build $*: standard error: $(head -c 300 "$out.err")"; fi
}

echo "== Verdicts in each format"
# name, exit status, states of the six services, arguments
verdicts=(
  "ok|0|000000|-w 20 -c 40 -p $demo"
  "warning|1|111111|-w 10: -c 40 -p $demo --require-running=Orvane,Lumicourt,Helmstead:warning"
  "critical|2|222222|-w 0 -c 10: -p $demo --require-running=Orvane,Lumicourt,Helmstead"
  "silent|3|333330|-w 20 -c 40 -p $demo --require-listening=SMTPin,POPin,IMAPin,LCin,HSin:unknown"
  "unknown|3|333333|-w 20 -c 40 -p @/missing/"
)
states=(OK WARNING CRITICAL UNKNOWN)
for build in linux windows; do
  for verdict in "${verdicts[@]}"; do
    IFS='|' read -r name expected services arguments <<<"$verdict"
    read -ra words <<<"$arguments"
    # The measures beyond the counters too: their series and keys.
    words+=(--per-source=SMTPin,IMAPin --states=SMTPin,POPout)
    out=$scratch/$build-$name
    run "$build" "$out.local" "${words[@]}" --details --service-prefix=Mail --output-format=checkmk-local
    [ "$status" -eq "$expected" ] || fail "$build $name checkmk-local: exit status $status"
    "${check[@]}" checkmk "$out.local" "$expected" "$services" Mail details ||
      fail "$build $name checkmk-local"
    run "$build" "$out.stdout" "${words[@]}" --output-format=prometheus "--output-file=@/$build-$name.prom"
    [ "$status" -eq "$expected" ] || fail "$build $name prometheus: exit status $status"
    [ ! -s "$out.stdout" ] || fail "$build $name prometheus: standard output: $(head -c 300 "$out.stdout")"
    "${check[@]}" prometheus "$out.prom" "$expected" || fail "$build $name prometheus"
    promtool check metrics <"$out.prom" || fail "$build $name: promtool check metrics"
    run "$build" "$out.json" "${words[@]}" --require-listening=SMTPin,IMAPin:ok --output-format=json
    [ "$status" -eq "$expected" ] || fail "$build $name json: exit status $status"
    jq -e --argjson exit "$expected" --arg status "${states[$expected]}" \
      '.version == 1 and .exit == $exit and .status == $status and (.summary | type) == "string"' \
      "$out.json" >/dev/null || fail "$build $name json: $(head -c 300 "$out.json")"
    if LC_ALL=C grep -q '[^ -~]' "$out.json"; then fail "$build $name json: more than printable ASCII"; fi
    [ "$(wc -l <"$out.json")" -eq 1 ] || fail "$build $name json: not one line"
    jq -c '[paths] | sort' "$out.json" >"$out.keys"
  done
  for name in warning critical unknown; do
    cmp -s "$scratch/$build-ok.keys" "$scratch/$build-$name.keys" || fail "$build json: the keys of $name differ from ok"
  done
  jq -e '.reason != null and ([.categories[].count] | all(. == null)) and ([.processes[]] | all(. == null))' \
    "$scratch/$build-unknown.json" >/dev/null || fail "$build json: counts in a run that could not be made"
  jq -e '.reason == null and .categories.all.count == 0 and .processes["Orvane.exe"] == false
         and .sources.imap_in.max == 0 and .states.pop_out.syn_sent.count == 0' \
    "$scratch/$build-ok.json" >/dev/null || fail "$build json: the ok run's counts"
  [ -z "$(find "$scratch" -name '*.tmp')" ] || fail "$build: temporary files left: $(find "$scratch" -name '*.tmp')"
  echo "$build: ${#verdicts[@]} runs in checkmk-local, prometheus and json"
done

# -t cutting a run short while the server holds its configuration: the
# watchdog's answer in the format asked for, on standard output or in place
# of the output file's old counts. (Linux: flock does not hold a file
# against the Windows program.)
cp -r demo/Orvane "$scratch/held"
exec 7<"$scratch/held/App/Orvane.ini"
flock -x 7
timed=(-w 20 -c 40 -p "$scratch/held/App/" -r 50 -d 200)
run linux "$scratch/timeout.local" "${timed[@]}" -t 1:critical --output-format=checkmk-local
[ "$status" -eq 2 ] || fail "timeout checkmk-local: exit status $status"
"${check[@]}" checkmk "$scratch/timeout.local" 2 222222 Orvane || fail "timeout checkmk-local"
run linux "$scratch/timeout.json" "${timed[@]}" -t 1 --output-format=json
jq -e '.status == "UNKNOWN" and .exit == 3 and .reason == "Timeout after 1 seconds"' "$scratch/timeout.json" \
  >/dev/null || fail "timeout json: exit status $status, $(head -c 300 "$scratch/timeout.json")"
cp "$scratch/linux-ok.prom" "$scratch/timeout.prom"
run linux "$scratch/timeout.out" "${timed[@]}" -t 1 --output-format=prometheus --output-file=@/timeout.prom
[ "$status" -eq 3 ] && [ ! -s "$scratch/timeout.out" ] || fail "timeout prometheus: exit status $status, $(cat "$scratch/timeout.out")"
"${check[@]}" prometheus "$scratch/timeout.prom" 3 || fail "timeout prometheus: the file"
grep -q '^# HELP orvane_check_status .*Timeout after 1 seconds' "$scratch/timeout.prom" ||
  fail "timeout prometheus: no reason in $(head -c 300 "$scratch/timeout.prom")"
exec 7<&-
echo "linux: -t in checkmk-local, json and with an output file"

echo "== Refusals of the output options"
long=$(printf 'x%.0s' $(seq 101))
# arguments after "-w 20 -c 40 -p <demo>", then the line (a * matches the
# system's own message)
refusals=(
  "--output-format=xml|Unknown - Invalid output format xml"
  "--output-file=@/orvane.prom|Unknown - --output-file takes --output-format=prometheus or json"
  "--output-format=checkmk-local --output-file=@/orvane.prom|Unknown - --output-file takes --output-format=prometheus or json"
  "--output-format=nagios --output-file=@/orvane.prom|Unknown - --output-file takes --output-format=prometheus or json"
  "--output-format=prometheus --output-file=orvane.prom|Unknown - Can not write orvane.prom: not an absolute path"
  "--output-format=json --output-file=@/missing/orvane.json|Unknown - Can not write @/missing/orvane.json: @/missing: *"
  "--output-format=json --output-file=@|Unknown - Can not write @: it is a directory"
  "--output-format=prometheus --output-file=@/orvane.txt|Unknown - Invalid value --output-file=@/orvane.txt: the collectors read only *.prom files"
  "--output-format=json --max-output=1000|Unknown - --max-output is for the Nagios output only"
  "--output-format=checkmk-local --max-output=1000|Unknown - --max-output is for the Nagios output only"
  "--output-format=checkmk-local --service-prefix=Mail'x|Unknown - Invalid value --service-prefix=Mail'x"
  "--output-format=checkmk-local --service-prefix=$long|Unknown - Invalid value --service-prefix=$long"
)
for build in linux windows; do
  for refusal in "${refusals[@]}"; do
    IFS='|' read -r arguments line <<<"$refusal"
    read -ra words <<<"$arguments"
    rm -rf "$scratch/refused" && mkdir "$scratch/refused"
    run "$build" "$scratch/refused.out" -w 20 -c 40 -p "$demo" "${words[@]//@/@/refused}"
    expected=${line//@/$scratch/refused}
    if [ "$build" = windows ]; then
      # The paths in Windows spelling (the lines hold no other slash), the
      # backslashes kept as they are by the pattern; the Nagios line ends as
      # Windows writes it.
      if [[ $expected == *$scratch* ]]; then
        expected=${expected//$scratch/Z:$scratch}
        expected=${expected//\//\\}
      fi
      expected=${expected//\\/\\\\}$'\r'
    fi
    output=$(cat "$scratch/refused.out")
    # shellcheck disable=SC2053
    if [ "$status" -ne 3 ] || [[ $output != $expected ]]; then
      fail "$build refuses $arguments with exit $status: $output"
    fi
    [ -z "$(ls -A "$scratch/refused")" ] || fail "$build $arguments wrote $(ls -A "$scratch/refused")"
  done
  echo "$build: ${#refusals[@]} refusals, nothing written"
done

echo "== Zabbix agent 2: contrib/zabbix/orvane.conf"
mkdir "$scratch/zabbix"
sed "s|/usr/lib/nagios/plugins/nagios_orvane_check|$linux|" contrib/zabbix/orvane.conf >"$scratch/zabbix/orvane.conf"
grep -q "^UserParameter=orvane.check,$linux " "$scratch/zabbix/orvane.conf" || fail "no UserParameter in orvane.conf"
cat >"$scratch/zabbix/zabbix_agent2.conf" <<CONF
Hostname=mail
Server=127.0.0.1
LogType=console
Include=$scratch/zabbix/orvane.conf
CONF
# agent KEY OUT: the value zabbix_agent2 -t gives for KEY, in OUT.
agent() {
  local line
  line=$(zabbix_agent2 -c "$scratch/zabbix/zabbix_agent2.conf" -t "$1" 2>&1) || true
  if [[ $line =~ ^$1\ +\[s\|(.*)\]$ ]]; then
    printf '%s\n' "${BASH_REMATCH[1]}" >"$2"
  else
    fail "zabbix_agent2 -t $1: $line"
    : >"$2"
  fi
}
agent orvane.check "$scratch/zabbix/ok.json"
jq -e '.status == "CRITICAL" and .exit == 2 and .categories.all.count == 0 and .categories.smtp_in.count == 0
       and .processes["Orvane.exe"] == false and .listeners.smtp_in.listening == false' \
  "$scratch/zabbix/ok.json" >/dev/null || fail "zabbix: $(head -c 300 "$scratch/zabbix/ok.json")"
"${check[@]}" template contrib/zabbix/orvane_template.yaml "$scratch/zabbix/ok.json" || fail "zabbix template"
# The registry names an installation that is not there: UNKNOWN, exit 3,
# which the agent does not pass on; the JSON says it.
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\n"AppPath"="%s/gone/"\n' \
  "$scratch" >"$scratch/zabbix/registry.reg"
ORVANE_REGISTRY_FILE=$scratch/zabbix/registry.reg agent orvane.check "$scratch/zabbix/unknown.json"
jq -e --arg reason "Can not read $scratch/gone/Orvane.ini" \
  '.status == "UNKNOWN" and .exit == 3 and .reason == $reason and .categories.all.count == null' \
  "$scratch/zabbix/unknown.json" >/dev/null || fail "zabbix: $(head -c 300 "$scratch/zabbix/unknown.json")"
"${check[@]}" template contrib/zabbix/orvane_template.yaml "$scratch/zabbix/unknown.json" || fail "zabbix template"
echo "zabbix_agent2 -t orvane.check: OK and UNKNOWN runs read by jq and the template's JSONPaths"

echo "== Samples of contrib/ for these formats"
textfiles=$scratch/textfile
mkdir "$textfiles"
# Linux: the Checkmk wrapper and the cron line, with the build's program.
sed "s|/usr/lib/nagios/plugins/nagios_orvane_check|$linux|" contrib/checkmk/orvane_local >"$scratch/orvane_local"
status=0
sh "$scratch/orvane_local" >"$scratch/orvane_local.out" || status=$?
[ "$status" -eq 0 ] || fail "contrib/checkmk/orvane_local: exit status $status"
"${check[@]}" checkmk "$scratch/orvane_local.out" 0 000000 Orvane details || fail "contrib/checkmk/orvane_local"
cron=$(grep -v '^#' contrib/prometheus/orvane-textfile.cron)
[[ $cron == '* * * * * root /usr/lib/nagios/plugins/nagios_orvane_check '* ]] || fail "the cron line: $cron"
cron=${cron#'* * * * * root '}
cron=${cron//\/usr\/lib\/nagios\/plugins\/nagios_orvane_check/$linux}
cron=${cron//\/var\/lib\/prometheus\/node-exporter/$textfiles}
status=0
output=$(sh -c "$cron") || status=$?
[ "$status" -eq 2 ] && [ -z "$output" ] || fail "the cron line: exit status $status, $output"
"${check[@]}" prometheus "$textfiles/orvane.prom" 2 || fail "the cron line's file"

# Windows: the program where the samples put it, started as the agents and
# the Task Scheduler start it.
drive_c=$WINEPREFIX/drive_c
mkdir -p "$drive_c/Program Files/Orvane Check" "$drive_c/ProgramData/checkmk/agent/local" \
  "$drive_c/Program Files/windows_exporter/textfile_inputs"
cp "$windows_dir/nagios_orvane_check.exe" "$drive_c/Program Files/Orvane Check/"
rm -f "$drive_c/Program Files/windows_exporter/textfile_inputs/"*
cp contrib/checkmk/orvane_local.cmd "$drive_c/ProgramData/checkmk/agent/local/"
status=0
"$wine_loader" cmd /c 'C:\ProgramData\checkmk\agent\local\orvane_local.cmd' >"$scratch/cmd.out" 2>"$scratch/cmd.err" ||
  status=$?
[ "$status" -eq 0 ] || fail "orvane_local.cmd: exit status $status, $(head -c 300 "$scratch/cmd.err")"
"${check[@]}" checkmk "$scratch/cmd.out" 0 000000 Orvane details || fail "contrib/checkmk/orvane_local.cmd"
# verbatim NAME LINE: LINE started by CreateProcessW as written, with the
# program's path; its output in $scratch/NAME.out, its status in $status.
verbatim() {
  printf '%s' "$2" >"$scratch/$1.line"
  status=0
  "$wine_loader" "$windows_dir/run_verbatim.exe" 'C:\Program Files\Orvane Check\nagios_orvane_check.exe' \
    "$(windows_path "$scratch/$1.line")" 'C:\' >"$scratch/$1.out" 2>"$scratch/$1.err" || status=$?
}
task=$("$python" - contrib/prometheus/orvane-textfile.xml <<'PY'
import sys
import xml.etree.ElementTree as tree
name = "{http://schemas.microsoft.com/windows/2004/02/mit/task}"
task = tree.parse(sys.argv[1]).getroot()
assert task.find(name + "Triggers/" + name + "TimeTrigger/" + name + "Repetition/" + name + "Interval").text == "PT1M"
action = task.find(name + "Actions/" + name + "Exec")
print('"%s" %s' % (action.find(name + "Command").text, action.find(name + "Arguments").text))
PY
) || fail "contrib/prometheus/orvane-textfile.xml does not read as a task"
verbatim task "$task"
[ "$status" -eq 2 ] && [ ! -s "$scratch/task.out" ] ||
  fail "the scheduled task: exit status $status, $(head -c 300 "$scratch/task.out")"
"${check[@]}" prometheus "$drive_c/Program Files/windows_exporter/textfile_inputs/orvane.prom" 2 ||
  fail "the scheduled task's file"
zabbix_line=$(sed -n 's/^UserParameter=orvane\.check,//p' contrib/zabbix/orvane-windows.conf | tr -d '\r')
verbatim zabbix "$zabbix_line"
jq -e '.status == "CRITICAL" and .exit == 2 and .categories.all.count == 0' "$scratch/zabbix.out" >/dev/null ||
  fail "contrib/zabbix/orvane-windows.conf: exit status $status, $(head -c 300 "$scratch/zabbix.out")"
"${check[@]}" template contrib/zabbix/orvane_template.yaml "$scratch/zabbix.out" || fail "zabbix template, Windows"
echo "contrib/: the Checkmk wrappers, the cron line, the scheduled task and both UserParameters"

# Last: the scrapes leave thousands of closed connections in the namespace's
# table, which Wine reads row by row for their owners.
echo "== node_exporter's textfile collector while the file is rewritten"
prometheus-node-exporter --web.listen-address=127.0.0.1:19100 --collector.disable-defaults \
  --collector.textfile --collector.textfile.directory="$textfiles" >"$scratch/node_exporter.log" 2>&1 &
daemons+=($!)
for _ in $(seq 100); do
  curl -sf http://127.0.0.1:19100/metrics >/dev/null && break
  sleep 0.1
done
curl -sf http://127.0.0.1:19100/metrics >/dev/null || { cat "$scratch/node_exporter.log" >&2; exit 1; }
# rewrite HOW: the Linux program rewrites orvane.prom up to 300 times while
# a scraper scrapes; the scraper's counts go to $scratch/scrape-HOW.
rewrite() {
  local how=$1 stop=$scratch/stop-$1 bad=$scratch/bad-$1
  "$linux" -w 20 -c 40 -p "$demo" --output-format=prometheus --output-file="$textfiles/orvane.prom"
  "${check[@]}" scrape http://127.0.0.1:19100/metrics "$stop" "$bad" >"$scratch/scrape-$how" &
  local scraper=$!
  for _ in $(seq 300); do
    if [ "$how" = output-file ]; then
      "$linux" -w 20 -c 40 -p "$demo" --output-format=prometheus --output-file="$textfiles/orvane.prom" || true
    else
      "$linux" -w 20 -c 40 -p "$demo" --output-format=prometheus >"$textfiles/orvane.prom" || true
      # One bad scrape is all this loop has to show.
      [ ! -e "$bad" ] || break
    fi
  done
  touch "$stop"
  wait "$scraper" || fail "the scraper failed: $(cat "$scratch/scrape-$how")"
}
rewrite output-file
read -r _ scrapes _ bad <"$scratch/scrape-output-file"
echo "--output-file: $scrapes scrapes, $bad without the check's state or with an error"
[ "$bad" -eq 0 ] || fail "node_exporter read orvane.prom half written $bad times in $scrapes scrapes"
[ "$scrapes" -ge 20 ] || fail "only $scrapes scrapes while the file was rewritten"
[ "$(ls "$textfiles")" = orvane.prom ] || fail "left in the textfile directory: $(ls "$textfiles")"
rewrite redirect
read -r _ scrapes _ bad <"$scratch/scrape-redirect"
echo "shell redirect: $scrapes scrapes, $bad without the check's state or with an error"
[ "$bad" -gt 0 ] || fail "the scrapes never caught a redirected file half written: this test cannot fail"

[ "$failed" -eq 0 ] || exit 1
echo "Output formats: all judged by their clients"
