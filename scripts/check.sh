#!/usr/bin/env bash
# The daily loop: configure, build, and run the unit tests and the end-to-end
# suite through CTest. Installs nothing and needs no root (the packages come
# from scripts/install-deps.sh test, once).
#
# Usage: scripts/check.sh [--sanitize] [CTEST ARGUMENTS...]
#   (none)       build/ in RelWithDebInfo
#   --sanitize   build-sanitize/ in Debug with AddressSanitizer and
#                UndefinedBehaviorSanitizer; a finding fails the test
# Further arguments go to ctest, e.g. -R e2e or -E e2e.
# VELSEND_JOBS sets the parallel jobs (default: the processor count).
# VELSEND_E2E_WORKERS sets how many end-to-end modules run side by side
# (default 4, where pytest-xdist is installed; 1 runs them one after another).
# Most of their time is spent waiting on relays, not on the processor. Under
# the sanitizers they run one after another.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${VELSEND_JOBS:-$(nproc)}

build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = --sanitize ]; then
  shift
  build='build-sanitize'
  options=(-DCMAKE_BUILD_TYPE=Debug -DVELSEND_SANITIZE=ON)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS="suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0"
fi

# A missing package shows here as one line, not as a failure deep in a suite.
missing=()
for tool in cmake g++ /usr/bin/python3; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
/usr/bin/python3 -c 'import pytest, aiosmtpd' 2>/dev/null || missing+=("pytest/aiosmtpd")
if ((${#missing[@]})); then
  echo "check: missing ${missing[*]}; run scripts/install-deps.sh test" >&2
  exit 1
fi

workers=${VELSEND_E2E_WORKERS:-4}
[ "$build" = build-sanitize ] && workers=${VELSEND_E2E_WORKERS:-1}
if [ "$workers" -gt 1 ] && /usr/bin/python3 -c 'import xdist' 2>/dev/null; then
  export PYTEST_ADDOPTS="${PYTEST_ADDOPTS:-} -n $workers --dist loadfile"
fi

cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs" "$@"
