#!/usr/bin/env bash
# Installs what is missing, builds velsend and shows what it does.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh demo
./build-release/velsend -? || true
