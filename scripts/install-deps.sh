#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one
# is missing. Usage: scripts/install-deps.sh [build|test|demo]
set -euo pipefail
what=${1:-test}
packages=(g++ cmake make python3 libssl-dev)
case "$what" in
  build) ;;
  demo) packages+=(python3-aiosmtpd media-types) ;;
  test) packages+=(libgtest-dev python3-pytest python3-aiosmtpd media-types
                  python3-cryptography sasl2-bin libsasl2-modules
                  clang libclang-rt-14-dev valgrind time) ;;
  *) echo "usage: $0 [build|test|demo]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
# The end-to-end suite also delivers through a real, strict MTA. Postfix asks
# for a mailer type on install; "No configuration" leaves the system's mail
# set-up alone: the tests run their own instance from a private directory.
if [ "$what" = test ] && ! command -v postfix >/dev/null 2>&1 && [ ! -x /usr/sbin/postfix ]; then
  echo "Installing: postfix (unconfigured, for the end-to-end tests)"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
  ((${#missing[@]})) || $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -o DPkg::Lock::Timeout=600 postfix
fi
