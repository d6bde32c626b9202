#!/usr/bin/env bash
# Builds velsend in release mode with the benchmarks (build-bench/), then
# delivers the same attachments with velsend, curl and s-nail to a loopback
# SMTP sink and prints the comparison, the encoder micro-benchmarks and the
# scaling runs as Markdown (see docs/performance.md).
# Usage: scripts/bench.sh [--runs N] [--skip-1000] [--only compare|scale|all]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build

# media-types: velsend gives a .txt file the type text/plain only where the
# system knows it.
packages=(s-nail curl time libbenchmark-dev python3 media-types)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >&2
fi

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVELSEND_TESTS=OFF -DVELSEND_BENCH=ON >/dev/null
cmake --build build-bench -j"$(nproc)" >&2

/usr/bin/python3 bench/run_bench.py --build build-bench "$@"
