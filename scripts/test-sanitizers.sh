#!/usr/bin/env bash
# Builds the whole test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer (any finding ends the test that hit it) and runs
# it. The build goes to build/asan, or to $ORVANE_ASAN_BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
build_root=$(realpath -m "${ORVANE_BUILD_ROOT:-build}")

scripts/install-deps.sh linux

dir=${ORVANE_ASAN_BUILD_DIR:-$build_root/asan}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON >/dev/null
cmake --build "$dir" -j"$(nproc)"

# Leaks count as failures too; a report names the test that made it.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd "$dir" && ctest --output-on-failure -j"$(nproc)")
