#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit and
# end-to-end suites, the same again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets for a bounded time, valgrind's
# memcheck, and the Windows program under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVELSEND_SANITIZE=ON
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs"

# --- Hardening: fuzzing and memcheck ----------------------------------------
# Bounded for CI: about a minute per fuzz target, valgrind's memcheck on the
# unit tests and on a handful of end-to-end runs (all of them ran under ASan
# and UBSan above). Any finding, invalid access or leak fails the run.
scripts/fuzz.sh "${VELSEND_FUZZ_SECONDS:-60}"

memcheck="valgrind --quiet --tool=memcheck --leak-check=full \
--show-leak-kinds=definite,indirect,possible \
--errors-for-leak-kinds=definite,indirect,possible --error-exitcode=99"
$memcheck build/velsend_tests --gtest_brief=1

# The program under memcheck, as the end-to-end suite starts it; each run
# leaves a report, empty when memcheck found nothing.
logs=$PWD/build/memcheck
rm -rf "$logs"
mkdir -p "$logs"
printf '#!/bin/sh\nexec %s --log-file=%s/run.%%p.log %s "$@"\n' \
  "$memcheck" "$logs" "$PWD/build/velsend" >"$logs/velsend"
chmod +x "$logs/velsend"
selected="every_kind or auth_with_relay or closes_at_each_step or garbage"
selected+=" or (injection and CRLF) or standard_input_closed or vanishes or trickles_one"
VELSEND_BIN="$logs/velsend" /usr/bin/python3 -m pytest -q -p no:cacheprovider \
  tests/e2e/test_delivery.py tests/e2e/test_session.py \
  tests/e2e/test_hostile_peers.py tests/e2e/test_bad_input.py -k "$selected"
runs=$(find "$logs" -name 'run.*.log' | wc -l)
found=$(find "$logs" -name 'run.*.log' -size +0c)
if [ "$runs" -eq 0 ] || [ -n "$found" ]; then
  echo "memcheck: $runs end-to-end runs, reports:" >&2
  for report in $found; do cat "$report" >&2; done
  exit 1
fi
echo "memcheck: $runs end-to-end runs clean"

# --- The Windows program -----------------------------------------------------
# Cross-built for 32-bit Windows and run under Wine: its unit tests and the
# same end-to-end suite.
scripts/test-windows.sh
