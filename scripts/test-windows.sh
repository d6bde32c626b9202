#!/usr/bin/env bash
# Cross-builds the Windows program (32-bit, MinGW-w64) into build-win32/ and
# tests it under Wine: the unit tests (velsend_tests.exe), then the whole
# end-to-end suite against velsend.exe with the real relays on loopback,
# including the -# window read back on a virtual X display (Xvfb).
#
# Installs what is missing (scripts/install-deps.sh test windows). Everything
# Wine needs lives in a temporary prefix that is removed at the end, with
# every process this script started.
#
# Usage: scripts/test-windows.sh [PYTEST ARGUMENTS]  (default: tests/e2e),
# e.g. scripts/test-windows.sh tests/e2e/test_tls.py -k help
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh test windows

# --- Cross-build ---------------------------------------------------------------
timeout 600 cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
timeout 1800 cmake --build build-win32 -j2

# --- A private Wine on a virtual display ---------------------------------------
work=$(mktemp -d /tmp/velsend-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid="" hold_pid=""
cleanup() {
  [ -n "$hold_pid" ] && kill "$hold_pid" 2>/dev/null || true
  [ -d "$WINEPREFIX" ] && timeout 60 wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

# A persistent server and one long-lived window keep Wine's desktop process
# up, so each run of a program takes a tenth of a second, not seconds.
mkdir -p "$WINEPREFIX"
wineserver -p
timeout 600 wineboot -i >/dev/null 2>&1
wine build-win32/wine_probe.exe hold >"$work/hold.log" 2>&1 &
hold_pid=$!
for _ in $(seq 600); do grep -q holding "$work/hold.log" 2>/dev/null && break; sleep 0.1; done

# An i686 program that crashes (no wine32) still leaves Wine with status 0:
# trust nothing until one run has answered as it must.
set +e
err=$(timeout 120 wine build-win32/velsend.exe -oa 2>&1 >/dev/null)
status=$?
set -e
if [ "$status" -ne 2 ] || [[ "$err" != *"Program Exiting[2 (ERROR_NO_RECIPIENTS)]"* ]]; then
  echo "velsend.exe does not run under Wine (status $status; is wine32:i386 installed?):" >&2
  echo "$err" >&2
  exit 1
fi

# A fresh prefix registers no content types.
timeout 120 wine regedit /S "$(winepath -w tests/windows/content_types.reg)"
timeout 120 wine reg query 'HKCR\.pdf' /v "Content Type" | grep -q application/pdf

# --- Unit tests ------------------------------------------------------------------
# A zone with a half-hour offset that the Windows runtime's TZ rules read as
# Wine does, so local time and its offset are tested for real.
echo "== Unit tests (velsend_tests.exe under Wine)"
set +e
TZ=IST-5:30 timeout 600 wine build-win32/velsend_tests.exe >"$work/unit.log" 2>&1
status=$?
set -e
grep -E '^\[  (PASSED|FAILED) ' "$work/unit.log" || true
if [ "$status" -ne 0 ] || ! grep -q '^\[  PASSED  \]' "$work/unit.log" ||
   grep -q '^\[  FAILED  \]' "$work/unit.log"; then
  cat "$work/unit.log" >&2
  echo "Unit tests failed under Wine (status $status)" >&2
  exit 1
fi

# --- End-to-end suite ------------------------------------------------------------
echo "== End-to-end suite (velsend.exe under Wine)"
VELSEND_WINE=1 VELSEND_BIN="$root/build-win32/velsend.exe" \
  timeout 1800 /usr/bin/python3 -m pytest -q -p no:cacheprovider "${@:-tests/e2e}"
