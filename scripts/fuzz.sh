#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each for the given time, one after the other. Fails
# when a target finds a crash, a sanitizer report, a leak or a hang.
#   scripts/fuzz.sh [seconds-per-target] [target...]   (default 60, all targets)
# Each target runs on its own corpus in build/fuzz/corpus/<target>, seeded from
# fuzz/corpus/<target>; what a run finds stays there for the next run. A
# crashing input is saved as build/fuzz/artifacts/<target>-crash-<hash>.
# ORVANE_FUZZ_BUILD_DIR names another build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
build_root=$(realpath -m "${ORVANE_BUILD_ROOT:-build}")
top=$PWD

seconds=${1:-60}
shift || true
case "$seconds" in
  '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [seconds-per-target] [target...]" >&2; exit 2 ;;
esac

scripts/install-deps.sh fuzz

dir=${ORVANE_FUZZ_BUILD_DIR:-$build_root/fuzz}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DORVANE_FUZZ=ON -DORVANE_TESTS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"

targets=("$@")
[ ${#targets[@]} -gt 0 ] || mapfile -t targets <"$dir/fuzz_targets.txt"

mkdir -p "$dir/artifacts" "$dir/logs"
failed=()
summary=()
for target in "${targets[@]}"; do
  [ -x "$dir/$target" ] || { echo "fuzz.sh: no target $target" >&2; exit 2; }
  corpus=$dir/corpus/$target
  mkdir -p "$corpus"
  # Seeds join the working corpus; the repository is never written.
  [ -d "fuzz/corpus/$target" ] && cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  log=$dir/logs/$target.log
  echo "== $target: ${seconds}s"
  status=0
  (cd "$dir" && "./$target" "corpus/$target" \
    -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="artifacts/$target-" >"logs/$target.log" 2>&1) || status=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  final=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
  summary+=("$target: ${runs:-?} runs  ${final}")
  if [ "$status" -ne 0 ] || grep -qE '^(==[0-9]+==ERROR|SUMMARY: |fuzz: )' "$log"; then
    failed+=("$target")
    echo "fuzz.sh: $target failed (status $status); the end of $log:" >&2
    tail -40 "$log" >&2
  fi
done

echo
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: crashes in: ${failed[*]} (inputs in $top/$dir/artifacts)" >&2
  exit 1
fi
