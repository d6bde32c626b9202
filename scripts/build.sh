#!/usr/bin/env bash
# Installs what the build needs and builds the program into build-release/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh "${1:-build}"
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVELSEND_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target velsend
