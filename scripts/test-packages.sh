#!/usr/bin/env bash
# Builds the release packages (scripts/package.sh) and checks them as a user
# meets them:
#   - a second build gives the same bytes (SHA256SUMS compared);
#   - lintian passes the .deb (the tags in debian-lintian-overrides.txt aside);
#   - the .deb installs with dpkg -i on this machine, its velsend answers
#     --version and delivers a message to the relay of scripts/demo.sh,
#     `man velsend` shows the page, and it removes without a trace;
#   - the zip's programs run under Wine from the unpacked folder (the 32-bit
#     one only where the kernel runs 32-bit programs).
# Needs root for dpkg (as CI has); refuses to touch a velsend package that
# was installed before it ran.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

work=$(mktemp -d /tmp/velsend-packages.XXXXXX)
relay_pid="" installed=no
cleanup() {
  [ -z "$relay_pid" ] || { kill "$relay_pid" 2>/dev/null || true; wait "$relay_pid" 2>/dev/null || true; }
  [ "$installed" = no ] || dpkg --purge velsend >/dev/null 2>&1 || true
  [ ! -d "$work/prefix" ] || WINEPREFIX=$work/prefix timeout 60 wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "test-packages: $*" >&2; exit 1; }

# --- Built twice, the same bytes ---------------------------------------------
scripts/package.sh dist
scripts/package.sh "$work/again" >/dev/null
if ! cmp -s dist/SHA256SUMS "$work/again/SHA256SUMS"; then
  diff dist/SHA256SUMS "$work/again/SHA256SUMS" >&2 || true
  fail "a second build gave other bytes"
fi
echo "Built twice: the same bytes"
(cd dist && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not match dist/"
deb=$(ls dist/velsend_*.deb)
zip=$(ls dist/velsend-*-windows.zip)
version=$(dpkg-deb -f "$deb" Version)

# --- lintian ---------------------------------------------------------------------
# Tags that a package made outside Debian's archive raises by nature.
lintian_log=$work/lintian.log
lintian --no-tag-display-limit -i "$deb" >"$lintian_log" 2>&1 || true
unexpected=$(grep -E '^[EW]: ' "$lintian_log" |
             grep -v -F -f <(sed -n 's/^\([a-z][a-z0-9-]*\).*/\1/p' scripts/debian-lintian-overrides.txt) || true)
if [ -n "$unexpected" ]; then
  cat "$lintian_log" >&2
  fail "lintian: $unexpected"
fi
echo "lintian: clean but for the listed tags ($(grep -cE '^[EW]: ' "$lintian_log") listed)"

# --- The .deb, installed ---------------------------------------------------------
if dpkg-query -W -f='${Status}' velsend 2>/dev/null | grep -q 'install ok installed'; then
  fail "a velsend package is installed already; not touching it"
fi
installed=yes
dpkg -i "$deb" >/dev/null
[ "$(command -v velsend)" = /usr/bin/velsend ] || fail "velsend is not /usr/bin/velsend after dpkg -i"
/usr/bin/velsend --version | grep -F "$version" >/dev/null || fail "velsend --version does not say $version"
MANWIDTH=80 man velsend 2>/dev/null | grep -q 'velsend' || fail "man velsend shows no page"

/usr/bin/python3 scripts/demo_relay.py --store "$work/received" --port-file "$work/port" \
  >"$work/relay.log" 2>&1 &
relay_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { cat "$work/relay.log" >&2; fail "the relay did not start"; }
/usr/bin/velsend -q -h"127.0.0.1:$(cat "$work/port")" -opackage@example.org \
    -rreader@example.org -s"sent by the installed package" --timeout=30 </dev/null ||
  fail "the installed velsend could not deliver (status $?)"
grep -q '^Subject: sent by the installed package' "$work/received/message-1.eml" ||
  fail "the relay did not receive the message"
kill "$relay_pid"; wait "$relay_pid" 2>/dev/null || true; relay_pid=""

listed=$(dpkg -L velsend)
dpkg --purge velsend >/dev/null
installed=no
for path in /usr/bin/velsend /usr/share/man/man1/velsend.1.gz /usr/share/doc/velsend; do
  [ ! -e "$path" ] || fail "$path is left after removal"
done
grep -q /usr/share/man/man1/velsend.1.gz <<<"$listed" || fail "the package holds no manual page"
echo "The .deb: installed, --version, a delivery, man velsend, removed"

# --- The zip, unpacked and run under Wine -------------------------------------
unzip -q "$zip" -d "$work/unpacked"
for f in x86/velsend.exe x64/velsend.exe velsend.txt README.md LICENSE.txt; do
  [ -f "$work/unpacked/$f" ] || fail "the zip lacks $f"
done
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
programs=(x64)
if scripts/kernel-runs-i386.sh >/dev/null; then programs+=(x86); fi
for dir in "${programs[@]}"; do
  # The 64-bit program under the 64-bit loader, first: the prefix it makes
  # holds 32-bit programs too; Debian's wine script runs the 32-bit one.
  if [ "$dir" = x64 ]; then
    loader=(env WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64)
  else
    loader=(wine)
  fi
  set +e
  err=$(cd "$work/unpacked/$dir" && timeout 300 "${loader[@]}" velsend.exe -oa 2>&1 >/dev/null)
  status=$?
  set -e
  if [ "$status" -ne 2 ] || [[ "$err" != *"Program Exiting[2 (ERROR_NO_RECIPIENTS)]"* ]]; then
    echo "$err" >&2
    fail "$dir/velsend.exe from the zip does not run under Wine (status $status)"
  fi
  echo "The zip: $dir/velsend.exe runs under Wine"
done
[ "${#programs[@]}" = 2 ] || echo "The zip: x86/velsend.exe not run: $(scripts/kernel-runs-i386.sh || true)"
