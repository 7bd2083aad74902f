#!/usr/bin/env bash
# Runs the full build's whole test suite N times while stress-ng loads the
# machine (two CPU workers, one I/O worker, one worker churning 512 MB of
# memory), then prints, for every test that failed at least once, how many
# of the N runs it failed. Exit status 1 when any test failed, 2 for a bad
# argument. Each run's output is kept in build/stress-logs/.
#
#   bash scripts/stress-tests.sh 5
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-}
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 N   (runs the whole suite N times under load, N >= 1)" >&2
  exit 2
fi

scripts/install-deps.sh

jobs=$(nproc)
started=$SECONDS

# The same tree and build type as scripts/test.sh's full build.
if [[ ! -f build/build.ninja ]]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build -j "$jobs"

# The load runs only while this script does: stopped on every way out. The
# time-out bounds it even if this script is killed outright (SIGKILL runs no
# trap).
load_pid=
suite_pid=
stop_load() {
  if [[ -n $suite_pid ]]; then
    kill -TERM "$suite_pid" 2>/dev/null || true
    wait "$suite_pid" 2>/dev/null || true
    suite_pid=
  fi
  if [[ -n $load_pid ]]; then
    kill -TERM "$load_pid" 2>/dev/null || true
    wait "$load_pid" 2>/dev/null || true
    load_pid=
  fi
}
trap stop_load EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

stress-ng --cpu 2 --io 1 --vm 1 --vm-bytes 512M --timeout "$((runs * 3600))s" --quiet &
load_pid=$!
sleep 2   # let the workers start before the first test
if ! kill -0 "$load_pid" 2>/dev/null; then
  load_pid=
  echo "stress-ng did not start" >&2
  exit 1
fi

logs=build/stress-logs
mkdir -p "$logs"
failed_list=build/Testing/Temporary/LastTestsFailed.log
declare -A failures=()

for ((run = 1; run <= runs; run++)); do
  log=$logs/run-$run.log
  rm -f "$failed_list"
  run_started=$SECONDS
  # In the background and waited for, so that a signal ends the run at
  # once (a trap waits for a command in the foreground to finish).
  ctest --test-dir build --output-on-failure -j "$jobs" >"$log" 2>&1 &
  suite_pid=$!
  wait "$suite_pid" || true
  suite_pid=
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  echo "run $run of $runs ($((SECONDS - run_started)) s): ${summary:-no summary, see $log}"
  if [[ -z $summary ]]; then
    failures["(ctest itself, see $log)"]=$(( ${failures["(ctest itself, see $log)"]:-0} + 1 ))
  fi
  # ctest lists the failed tests as "NUMBER:NAME", one a line.
  if [[ -f $failed_list ]]; then
    while IFS= read -r line; do
      name=${line#*:}
      [[ -n $name ]] && failures["$name"]=$(( ${failures["$name"]:-0} + 1 ))
    done <"$failed_list"
  fi
done

stop_load

echo
echo "failures per test over $runs runs under load ($((SECONDS - started)) s in all):"
if ((${#failures[@]} == 0)); then
  echo "  none"
  exit 0
fi
printf '  %-60s %s\n' "test" "failed"
while IFS= read -r name; do
  printf '  %-60s %d of %d\n' "$name" "${failures[$name]}" "$runs"
done < <(printf '%s\n' "${!failures[@]}" | sort)
exit 1
