#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: the Linux suite,
# connections per source and TCP states against real SMTP traffic,
# the same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the
# Windows program's suites under Wine (32-bit and 64-bit builds), the
# demonstration (run whole, and killed while its stand-ins run), the
# release (archive and Debian package, built twice and compared, and their
# contents checked), the sample configurations in contrib/ against Icinga 2
# and Nagios 4, the Checkmk, Prometheus and JSON formats against their
# clients (promtool, node_exporter, zabbix_agent2), and a minute of each fuzz
# target.
set -euo pipefail
cd "$(dirname "$0")/.."
build_root=$(realpath -m "${ORVANE_BUILD_ROOT:-build}")

scripts/install-deps.sh linux

echo "== Linux"
cmake -S . -B "$build_root/linux" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_root/linux" -j"$(nproc)"
(cd "$build_root/linux" && ctest --output-on-failure -j"$(nproc)")
scripts/layers_test.sh

echo "== Connections per source and TCP states against real traffic"
scripts/test-traffic.sh

echo "== Linux, sanitizers"
scripts/test-sanitizers.sh

echo "== Windows, under Wine"
scripts/test-windows.sh

echo "== Demonstration, whole and killed"
scripts/demo_test.sh

echo "== Release archive and Debian package, built twice and compared"
scripts/test-release.sh

echo "== Sample configurations"
scripts/test-contrib.sh

echo "== Thresholds in the performance data, as Monitoring::Plugin reads them"
scripts/test-perfdata.sh "$build_root/linux/nagios_orvane_check"

echo "== Output formats for other monitoring stacks, with their clients"
scripts/test-formats.sh

echo "== Fuzzing"
scripts/fuzz.sh "${ORVANE_FUZZ_SECONDS:-60}"
