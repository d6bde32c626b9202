#!/usr/bin/env bash
# Valgrind's memcheck on the unit tests and on the end-to-end runs marked
# "memcheck" (pytest -m memcheck): the program is started through a wrapper
# that runs it under memcheck, each run leaving a report that stays empty when
# memcheck finds nothing. Any invalid access or leak fails the run.
#
# Usage: scripts/memcheck.sh   (after a build into build/, or VELSEND_BUILD)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/${VELSEND_BUILD:-build}

memcheck="valgrind --quiet --tool=memcheck --leak-check=full \
--show-leak-kinds=definite,indirect,possible \
--errors-for-leak-kinds=definite,indirect,possible --error-exitcode=99"
$memcheck "$build/velsend_tests" --gtest_brief=1

logs=$build/memcheck
rm -rf "$logs"
mkdir -p "$logs"
printf '#!/bin/sh\nexec %s --log-file=%s/run.%%p.log %s "$@"\n' \
  "$memcheck" "$logs" "$build/velsend" >"$logs/velsend"
chmod +x "$logs/velsend"
# --strict-markers: a misspelt marker is an error, not an empty selection
# (and an empty selection is pytest's status 5, a failure here too).
VELSEND_BIN="$logs/velsend" /usr/bin/python3 -m pytest -q -p no:cacheprovider \
  --strict-markers -m memcheck tests/e2e

runs=$(find "$logs" -name 'run.*.log' | wc -l)
found=$(find "$logs" -name 'run.*.log' -size +0c)
if [ "$runs" -eq 0 ] || [ -n "$found" ]; then
  echo "memcheck: $runs end-to-end runs, reports:" >&2
  for report in $found; do cat "$report" >&2; done
  exit 1
fi
echo "memcheck: $runs end-to-end runs clean"
