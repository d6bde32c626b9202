#!/usr/bin/env bash
# Regenerates the figures of docs/reliability.md: fuzzes every target for a
# while (scripts/fuzz.sh), runs the hostile-relay and bad-input suites with
# their figures log, and rewrites the part of the document between its
# "figures" markers. Takes about 4 x the seconds given, plus the builds.
#
# Usage: scripts/reliability.sh [seconds per fuzz target, default 300]
# VELSEND_BUILD and VELSEND_FUZZ_BUILD name other build directories than
# build and build-fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
build=${VELSEND_BUILD:-build}
fuzz_build=${VELSEND_FUZZ_BUILD:-build-fuzz}
scripts/install-deps.sh test

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target velsend
VELSEND_FUZZ_BUILD="$fuzz_build" scripts/fuzz.sh "$seconds"

log=$PWD/$build/reliability.jsonl
rm -f "$log"
VELSEND_RELIABILITY_LOG="$log" VELSEND_BIN="$build/velsend" /usr/bin/python3 -m pytest -q \
  -p no:cacheprovider tests/e2e/test_hostile_peers.py tests/e2e/test_bad_input.py

/usr/bin/python3 scripts/reliability_report.py "$fuzz_build/fuzz-out/summary.txt" "$log" \
  docs/reliability.md
