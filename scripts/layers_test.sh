#!/usr/bin/env bash
# The layers hold: in a scratch copy of the tree, a call from a lower folder
# into a higher one (census/ into check/) must fail the build, and the copy
# without it must build.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The tree as it stands, changes not yet committed included.
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -f "$file" ] && printf '%s\0' "$file"; done |
  xargs -0 cp --parents -t "$scratch"

build() {
  cmake -S "$scratch" -B "$scratch/build" -DORVANE_TESTS=OFF >/dev/null
  cmake --build "$scratch/build" -j"$(nproc)" --target orvane_census_layer >"$scratch/build.log" 2>&1
}

build || { cat "$scratch/build.log" >&2; echo "layers_test.sh: the untouched copy does not build" >&2; exit 1; }
printf '\n#include "check/Status.h"\nint ReachUpwards() { return WorstStatus(ExitOk, ExitWarning); }\n' \
  >>"$scratch/census/GetConnections.cpp"
if build; then
  echo "layers_test.sh: a call from census/ into check/ was built" >&2
  exit 1
fi
grep -q "undefined reference to .WorstStatus" "$scratch/build.log" ||
  { cat "$scratch/build.log" >&2; echo "layers_test.sh: the build failed for another reason" >&2; exit 1; }
echo "layers_test.sh: a call from census/ into check/ fails the build"
