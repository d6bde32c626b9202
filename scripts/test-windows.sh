#!/usr/bin/env bash
# Cross-builds the Windows program with MinGW-w64 and tests it under Wine: the
# unit tests (velsend_tests.exe), then the whole end-to-end suite against
# velsend.exe with the real relays on loopback, including the -# window read
# back on a virtual X display (Xvfb).
#
# Which program: the 32-bit one (build-win32/) where this kernel runs 32-bit
# x86 programs (scripts/kernel-runs-i386.sh finds out by running one). Where
# it does not, the 32-bit program is still built and checked to be a 32-bit
# console executable that needs no DLL beyond the system's, and the 64-bit
# one (build-win64/) is tested instead, under Wine's 64-bit loader.
# VELSEND_WINE_ARCH=64 forces the 64-bit path (=32 the 32-bit one) whatever
# the kernel does.
#
# Installs what is missing (scripts/install-deps.sh test windows). Everything
# Wine needs lives in a temporary prefix that is removed at the end, with
# every process this script started.
#
# Usage: [VELSEND_WINE_ARCH=32|64] scripts/test-windows.sh [PYTEST ARGUMENTS]
# (default: tests/e2e), e.g. scripts/test-windows.sh tests/e2e/test_tls.py -k help
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# --- Which program -------------------------------------------------------------
case "${VELSEND_WINE_ARCH:-}" in
  64) arch=64 why="VELSEND_WINE_ARCH=64 asks for it" ;;
  32) arch=32 why="VELSEND_WINE_ARCH=32 asks for it" ;;
  "") if why=$(scripts/kernel-runs-i386.sh); then arch=32; else arch=64; fi ;;
  *) echo "VELSEND_WINE_ARCH must be 32 or 64, not '$VELSEND_WINE_ARCH'" >&2; exit 2 ;;
esac
build=build-win$arch
echo "Testing the ${arch}-bit program ($build/velsend.exe): $why"

scripts/install-deps.sh test windows

# --- Cross-build ---------------------------------------------------------------
cross_build() {  # cross_build DIR TOOLCHAIN
  timeout 600 cmake -S . -B "$1" -DCMAKE_TOOLCHAIN_FILE="cmake/$2.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  timeout 1800 cmake --build "$1" -j2
}

# A console program (subsystem 3) of the given machine whose imports are all
# DLLs every Windows has: the runtime is linked in statically.
check_stands_alone() {  # check_stands_alone EXE pei-i386|pei-x86-64
  local dump dlls other
  dump=$(x86_64-w64-mingw32-objdump -p "$1")
  if ! grep -q "file format $2\$" <<<"$dump"; then
    echo "$1 is not a $2 executable:" >&2
    grep "file format" <<<"$dump" >&2
    return 1
  fi
  if ! grep -Eq '^Subsystem[[:space:]]+0*3[[:space:]]' <<<"$dump"; then
    echo "$1 is not a console program: $(grep '^Subsystem' <<<"$dump")" >&2
    return 1
  fi
  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
  other=$(grep -Evx 'kernel32\.dll|user32\.dll|gdi32\.dll|advapi32\.dll|shell32\.dll|ole32\.dll|ws2_32\.dll|secur32\.dll|crypt32\.dll|bcrypt\.dll|ncrypt\.dll|winhttp\.dll|msvcrt\.dll|shlwapi\.dll|version\.dll|comctl32\.dll|comdlg32\.dll|iphlpapi\.dll|dnsapi\.dll|api-ms-win-[a-z0-9-]+\.dll' <<<"$dlls" || true)
  if [ -n "$other" ]; then
    echo "$1 needs DLLs that Windows does not bring:" $other >&2
    return 1
  fi
  echo "$1: $2 console program, imports only system DLLs ($(echo $dlls))"
}

cross_build build-win32 toolchain-mingw-i686
check_stands_alone build-win32/velsend.exe pei-i386
if [ "$arch" = 64 ]; then
  cross_build build-win64 toolchain-mingw-x86_64
  check_stands_alone build-win64/velsend.exe pei-x86-64
fi

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

# Debian's wine script (and wineboot, winepath, ... through it) prefers the
# 32-bit loader whenever wine32 is installed; here every call, the tests'
# too, goes to the 64-bit one.
if [ "$arch" = 64 ]; then
  mkdir -p "$work/bin"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$work/bin/$name"
    chmod +x "$work/bin/$name"
  done
  export PATH="$work/bin:$PATH" WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64
fi

# A persistent server and one long-lived window keep Wine's desktop process
# up, so each run of a program takes a tenth of a second, not seconds.
mkdir -p "$WINEPREFIX"
wineserver -p
timeout 600 wineboot -i >/dev/null 2>&1
wine "$build/wine_probe.exe" hold >"$work/hold.log" 2>&1 &
hold_pid=$!
for _ in $(seq 600); do grep -q holding "$work/hold.log" 2>/dev/null && break; sleep 0.1; done

# A program that crashes (an i686 one without wine32) still leaves Wine with
# status 0: trust nothing until one run has answered as it must.
set +e
err=$(timeout 120 wine "$build/velsend.exe" -oa 2>&1 >/dev/null)
status=$?
set -e
if [ "$status" -ne 2 ] || [[ "$err" != *"Program Exiting[2 (ERROR_NO_RECIPIENTS)]"* ]]; then
  echo "$build/velsend.exe does not run under Wine (status $status):" >&2
  echo "$err" >&2
  exit 1
fi

# A fresh prefix registers no content types.
timeout 120 wine regedit /S "$(winepath -w tests/windows/content_types.reg)"
timeout 120 wine reg query 'HKCR\.pdf' /v "Content Type" | grep -q application/pdf

# --- Unit tests ------------------------------------------------------------------
# A zone with a half-hour offset that the Windows runtime's TZ rules read as
# Wine does, so local time and its offset are tested for real.
echo "== Unit tests ($build/velsend_tests.exe under Wine)"
set +e
TZ=IST-5:30 timeout 600 wine "$build/velsend_tests.exe" >"$work/unit.log" 2>&1
status=$?
set -e
grep -E '^\[  (PASSED|FAILED) ' "$work/unit.log" || true
if [ "$status" -ne 0 ] || ! grep -q '^\[  PASSED  \]' "$work/unit.log" ||
   grep -q '^\[  FAILED  \]' "$work/unit.log"; then
  cat "$work/unit.log" >&2
  if [ "$status" -eq 124 ]; then
    echo "Unit tests under Wine ran past 600 s; the last one started: $(grep -E '^\[ RUN +\]' "$work/unit.log" | tail -n1 | tr -d '\r')" >&2
  fi
  echo "Unit tests failed under Wine (status $status)" >&2
  exit 1
fi

# --- End-to-end suite ------------------------------------------------------------
echo "== End-to-end suite ($build/velsend.exe under Wine)"
VELSEND_WINE=1 VELSEND_BIN="$root/$build/velsend.exe" \
  timeout 1800 /usr/bin/python3 -m pytest -q -p no:cacheprovider "${@:-tests/e2e}"
