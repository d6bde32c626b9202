#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those that are missing; a
# machine that has them all is left alone (no root needed then).
#
# Usage: scripts/install-deps.sh SET...
#   build    compiler, CMake, OpenSSL headers: enough to build the program
#   demo     build + the small relay of scripts/demo.sh
#   test     build + unit and end-to-end suites (aiosmtpd, a private Postfix
#            with Cyrus sasldb, OpenSSL tools), sanitizers, fuzzing, memcheck
#   bench    build + the tools velsend is compared with, Google Benchmark
#   package  build + what scripts/package.sh and scripts/test-packages.sh
#            use: Debian's packaging tools, lintian, zip, man
#   windows  the MinGW-w64 cross compilers (32 and 64-bit), Wine and Xvfb;
#            Wine's 32-bit loader (wine32:i386) only where the kernel runs
#            32-bit programs
set -euo pipefail

usage() { echo "usage: $0 build|demo|test|bench|package|windows..." >&2; exit 2; }
(($#)) || usage

packages=()          # installed with what they recommend
bare=()              # installed without: Wine's recommends are hundreds of MB
need_i386=no
for set in "$@"; do
  case "$set" in
    build) packages+=(g++ cmake make python3 libssl-dev) ;;
    demo) packages+=(g++ cmake make python3 libssl-dev python3-aiosmtpd media-types) ;;
    # media-types: the content types the end-to-end suite expects of file names;
    # procps: scripts/test.sh looks for processes a stage left running;
    # locales: the charmaps from which a test compiles a Latin-9 locale;
    # python3-pytest-xdist: the end-to-end modules side by side in the daily loop.
    test) packages+=(g++ cmake make python3 libssl-dev libgtest-dev python3-pytest
                     python3-aiosmtpd media-types clang libclang-rt-14-dev valgrind time
                     openssl python3-cryptography postfix sasl2-bin libsasl2-modules
                     procps locales python3-pytest-xdist) ;;
    # media-types: velsend gives a .txt file the type text/plain only where the
    # system knows it.
    bench) packages+=(g++ cmake make python3 libssl-dev openssl s-nail curl time libbenchmark-dev
                      media-types)
           # The round-trip comparison's peers.
           packages+=(msmtp swaks) ;;
    # groff: the manual as text in the zip; the relay of scripts/demo.sh
    # takes the installed program's delivery.
    package) packages+=(g++ cmake make python3 libssl-dev dpkg-dev lintian zip unzip man-db
                        groff-base python3-aiosmtpd) ;;
    # Where the kernel cannot run 32-bit programs, wine32 would only break
    # the wine command (Debian's wine script prefers its loader): the 64-bit
    # program is tested there (scripts/test-windows.sh).
    windows) bare+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 xvfb)
             if "$(dirname "$0")/kernel-runs-i386.sh" >/dev/null; then
               bare+=(wine32:i386); need_i386=yes
             fi ;;
    *) usage ;;
  esac
done
# OAuth 2.0 token requests through libcurl, and their JSON through
# nlohmann/json (header-only, also read by the Windows build).
for set in "$@"; do
  case "$set" in
    build|demo|test|bench) packages+=(libcurl4-openssl-dev nlohmann-json3-dev) ;;
    windows) bare+=(nlohmann-json3-dev) ;;
  esac
done

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}
missing_of() {  # prints the missing ones among "$@", once each
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done | sort -u
}

mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_bare < <(missing_of "${bare[@]}")
add_i386=no
if [ "$need_i386" = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  add_i386=yes
fi
if ((${#missing[@]} == 0 && ${#missing_bare[@]} == 0)) && [ "$add_i386" = no ]; then
  exit 0
fi

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
apt=(timeout 1800 "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive
     apt-get install -y -qq -o DPkg::Lock::Timeout=600)

[ "$add_i386" = no ] || "${sudo[@]}" dpkg --add-architecture i386
timeout 900 "${sudo[@]}" apt-get update -qq
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  # Postfix asks for a mailer type on install; "No configuration" leaves the
  # system's mail set-up alone: the tests run their own instance from a
  # private directory. (Never exim4 here: it would remove postfix.)
  if printf '%s\n' "${missing[@]}" | grep -qx postfix; then
    echo "postfix postfix/main_mailer_type select No configuration" |
      "${sudo[@]}" debconf-set-selections
  fi
  "${apt[@]}" "${missing[@]}"
fi
if ((${#missing_bare[@]})); then
  echo "Installing: ${missing_bare[*]}"
  "${apt[@]}" --no-install-recommends "${missing_bare[@]}"
fi
