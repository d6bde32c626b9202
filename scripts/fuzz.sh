#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang's libFuzzer (and ASan, UBSan)
# and runs each for a bounded time; any finding (a crash, a failed oracle, a
# leak, a hang past 10 s, more than 1 GiB of memory) fails the run.
#
# Usage: scripts/fuzz.sh [seconds per target, default 60]
# CI runs about a minute per target; a longer local run is the same command
# with a larger number. The committed seeds in fuzz/corpus/ are read, never
# written: new inputs go to build-fuzz/fuzz-out/<target>/corpus, a finding to
# build-fuzz/fuzz-out/<target>/ (keep it as a seed once fixed).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${VELSEND_FUZZ_BUILD:-build-fuzz}
targets=(reply_reader command_line encoders data_writer html_text)

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELSEND_FUZZ=ON -DVELSEND_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

# Longest input per target: past 4096 bytes for the quoted-printable
# encoder's fold while reading. (The reply reader reaches its 64 KiB line
# limit by expanding its input.)
declare -A max_len=([reply_reader]=4096 [command_line]=4096 [encoders]=20000 [data_writer]=8192 [html_text]=8192)

out="$build/fuzz-out"
summary="$out/summary.txt"
mkdir -p "$out"
: >"$summary"
# libFuzzer writes a finding into its working directory unless told where.
echo "fuzz: findings (crash-*, leak-*, oom-*, timeout-*) go to $out/<target>/"
failed=0
total=0
for target in "${targets[@]}"; do
  dir="$out/$target"
  mkdir -p "$dir/corpus"
  log="$dir/fuzz.log"
  status=0
  "$build/fuzz_$target" -max_total_time="$seconds" -max_len="${max_len[$target]}" \
    -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=256 -print_final_stats=1 \
    -artifact_prefix="$dir/" "$dir/corpus" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  runs=${runs:-0}
  total=$((total + runs))
  if [ "$status" -eq 0 ]; then
    result=clean
  else
    result="FINDING (exit $status)"
    failed=1
    tail -40 "$log" >&2
    ls "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-* 2>/dev/null >&2 || true
  fi
  echo "$target $runs $seconds $result" >>"$summary"
  echo "fuzz $target: $runs executions in ${seconds}s, $result"
done
echo "fuzz total: $total executions"
exit "$failed"
