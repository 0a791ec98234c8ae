#!/usr/bin/env bash
# Every Windows command line of the samples (README.md, INSTALL.txt,
# contrib/), taken from the files, started as Windows starts it for an agent:
# the program installed at the sample's path inside the build's Wine prefix
# (a relative path below the agent's folder, C:\Program Files\NSClient++\),
# then CreateProcessW with that path and the line exactly as written. Each
# must give a verdict, never a command-line error. The registry names the
# demonstration installation.
#   scripts/test-samples-windows.sh <Windows build directory>
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:?usage: scripts/test-samples-windows.sh <Windows build directory>}
# Relative to the sources or absolute (ORVANE_BUILD_ROOT may be either).
dir=$(realpath -m "$dir")
export WINEPREFIX=$dir/wineprefix WINEDEBUG=-all
agent='C:\Program Files\NSClient++\'
drive_c=$WINEPREFIX/drive_c

key='HKLM\SOFTWARE\Kestrix Technologies\Orvane'
line_file=$(mktemp)
# The key goes again afterwards: the build's other tests expect none.
cleanup() {
  rm -f "$line_file"
  for view in 32 64; do wine reg delete "$key" /reg:$view /f >/dev/null 2>&1 || true; done
}
trap cleanup EXIT
app_path="$(winepath -w demo/Orvane/App)\\"
for view in 32 64; do
  wine reg add "$key" /v AppPath /t REG_SZ /d "$app_path" /reg:$view /f >/dev/null
done

# The program's path as written (quoted or not), then the options up to a
# closing backtick, a comment or the end of the line: "path<TAB>line".
samples=$(perl -ne '
  next unless m{((?:"[^"]*?nagios_orvane_check\.exe")|(?:[A-Za-z]:\\[^"=`]*?nagios_orvane_check\.exe)|(?:[^\s"=`]*nagios_orvane_check\.exe))( -[^`#\r\n]*)};
  my ($program, $rest) = ($1, $2);
  $rest =~ s/\s+$//;
  (my $path = $program) =~ s/"//g;
  print "$path\t$program$rest\n";' README.md INSTALL.txt $(find contrib -type f | sort))

failed=0 count=0
# start PATH LINE: the program installed at PATH (below the agent's folder
# when relative), started with LINE in the agent's folder; it must answer
# with a verdict.
start() {
  local path=$1 line=$2 unix status=0 output
  [[ $path =~ ^[A-Za-z]: ]] || path="$agent$path"
  unix=$drive_c/$(sed 's/^[A-Za-z]:\\//; s/\\/\//g' <<<"$path")
  mkdir -p "$(dirname "$unix")"
  cp "$dir/nagios_orvane_check.exe" "$unix"
  printf '%s' "$line" >"$line_file"
  output=$(wine "$dir/run_verbatim.exe" "$path" "$(winepath -w "$line_file")" "$agent" 2>&1) || status=$?
  if [ "$status" -gt 2 ] || ! [[ $output =~ ^(OK|WARNING|CRITICAL)\ -\  ]]; then
    echo "test-samples-windows.sh: $line" >&2
    echo "  exit $status: $(head -c 300 <<<"$output")" >&2
    failed=1
  fi
}
while IFS=$'\t' read -r path line; do
  start "$path" "$line"
  count=$((count + 1))
done <<<"$samples"
if [ "$count" -lt 5 ]; then
  echo "test-samples-windows.sh: found only $count sample command lines" >&2
  failed=1
fi

# An unquoted path with blanks, as an agent's configuration may name the
# program, spelt in each way Windows resolves: relative to the agent's
# folder, with forward slashes, through "..", with doubled separators,
# without ".exe". The blanks must not split the program name.
installed='scripts\my checks\nagios_orvane_check.exe'
forms=0
for name in \
    'scripts\my checks\nagios_orvane_check.exe' \
    'scripts/my checks/nagios_orvane_check.exe' \
    '..\NSClient++\scripts\my checks\nagios_orvane_check.exe' \
    'scripts\\my checks\\nagios_orvane_check.exe' \
    '.\scripts\my checks\..\my checks\nagios_orvane_check' \
    "${agent}scripts\\my checks\\nagios_orvane_check.exe"; do
  start "$installed" "$name -w 200 -c 400 -cSMTPin 100"
  forms=$((forms + 1))
done
# A line that starts with a blank has an empty program name (an agent that
# names the program apart from its arguments may hand it such a line): every
# word is an argument.
start "$installed" " -w 200 -c 400 -cSMTPin 100"
forms=$((forms + 1))
[ "$failed" -eq 0 ] || exit 1
echo "$dir: $count sample command lines and $forms spellings of the program's name started verbatim, each with a verdict"
