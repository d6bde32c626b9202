#!/usr/bin/env bash
# Builds velsend in release mode with the benchmarks (build-bench/), then
# delivers the same attachments with velsend, curl and s-nail to a loopback
# SMTP sink and prints the comparison, the encoder micro-benchmarks and the
# scaling runs and STARTTLS against clear text as Markdown (see
# docs/performance.md), and the round trips of one authenticated message
# beside msmtp, swaks and curl.
# Usage: scripts/bench.sh [--runs N] [--skip-1000] [--only compare|scale|tls|wine|rtt|all]
#                         [--baseline OLD_VELSEND] [--wine build-win32/velsend.exe]
set -euo pipefail
cd "$(dirname "$0")/.."
# Standard output carries the report alone.
scripts/install-deps.sh bench >&2

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVELSEND_TESTS=OFF -DVELSEND_BENCH=ON >/dev/null
cmake --build build-bench -j"$(nproc)" >&2

/usr/bin/python3 bench/run_bench.py --build build-bench "$@"
