#!/usr/bin/env bash
# Installs what is missing and runs every test, as CI does: the unit and
# end-to-end suites (scripts/check.sh), the same again under AddressSanitizer
# and UndefinedBehaviorSanitizer, the fuzz targets for a bounded time
# (scripts/fuzz.sh), valgrind's memcheck (scripts/memcheck.sh), and the
# Windows program under Wine (scripts/test-windows.sh).
#
# Each stage runs in its own process group, bounded by what is left of the
# whole run's budget (VELSEND_CI_MINUTES, default 90); whatever a stage leaves
# running is stopped, and fails it. VELSEND_FUZZ_SECONDS sets the fuzzing time
# per target (default 60). A run that leaves the working tree other than it
# found it (git status) fails.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
deadline=$((SECONDS + ${VELSEND_CI_MINUTES:-90} * 60))
timings=()
stage_pid=""

# A cancelled run stops the stage it was in, with everything it started.
stop_stage() {
  [ -z "$stage_pid" ] || kill -TERM -- "-$stage_pid" 2>/dev/null || true
}
trap 'stop_stage; exit 130' INT
trap 'stop_stage; exit 143' TERM

stage() {  # stage NAME COMMAND...
  local name=$1 status=0 left began=$SECONDS leftover
  shift
  left=$((deadline - SECONDS))
  if ((left <= 0)); then
    echo "test.sh: no time left for $name" >&2
    exit 1
  fi
  echo "== $name"
  # timeout leads a process group of its own: on expiry it signals all of it,
  # and the grace period lets the scripts' clean-up run.
  timeout --kill-after=60 "$left" "$@" &
  stage_pid=$!
  wait "$stage_pid" || status=$?
  # Zombies are not running: an orphan that has ended waits there for init
  # to reap it (libFuzzer's symbolizer does so).
  leftover=$(ps -e -o pid=,pgid=,stat=,args= |
             awk -v group="$stage_pid" '$2 == group && $3 !~ /^Z/' || true)
  if [ -n "$leftover" ]; then
    kill -KILL -- "-$stage_pid" 2>/dev/null || true
    echo "test.sh: $name left processes running (stopped now):" >&2
    echo "$leftover" >&2
    ((status)) || status=1
  fi
  stage_pid=""
  timings+=("$(printf '%-34s %4d s' "$name" $((SECONDS - began)))")
  if ((status == 124 || status == 137)); then
    echo "test.sh: $name ran out of time (the whole run has ${VELSEND_CI_MINUTES:-90} min)" >&2
  fi
  if ((status)); then
    echo "test.sh: $name failed (status $status)" >&2
    exit "$status"
  fi
}

# A stage that leaves a file in the tree (a fuzz finding, a stray output)
# fails the run: the tree must be as the run found it.
tree_before=$(git status --porcelain 2>/dev/null || true)

stage "packages" scripts/install-deps.sh test windows
stage "unit and end-to-end tests" scripts/check.sh
stage "the same under ASan and UBSan" scripts/check.sh --sanitize
stage "fuzzing" scripts/fuzz.sh "${VELSEND_FUZZ_SECONDS:-60}"
stage "memcheck" scripts/memcheck.sh
stage "the Windows program under Wine" scripts/test-windows.sh
stage "the packages (.deb, Windows zip)" scripts/test-packages.sh

tree_after=$(git status --porcelain 2>/dev/null || true)
if [ "$tree_after" != "$tree_before" ]; then
  echo "test.sh: the run changed the working tree (git status):" >&2
  diff <(echo "$tree_before") <(echo "$tree_after") >&2 || true
  exit 1
fi

echo "== All passed in $((SECONDS - start)) s"
printf '%s\n' "${timings[@]}"
