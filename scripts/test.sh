#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the full
# build (unit, UI and end-to-end tests); all of them again under
# AddressSanitizer + UndefinedBehaviorSanitizer; the mount core, settings
# store and board simulator under ThreadSanitizer (the window code starts no
# threads, and Qt itself is not instrumented); each in a build tree of its
# own; a bounded fuzzing run of the settings loader; last, the Debian package
# (scripts/test-package.sh: built, checked, installed, started, purged). The
# closing line adds up every count.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)

# Every ctest run's count is added up for the closing line.
passed=0
failed=0
run_ctest() {
  local log rc
  log=$(mktemp)
  set +e
  "$@" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  set -e
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  if [[ -n $line ]]; then
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
    failed=$((failed + bad))
    passed=$((passed + total - bad))
  fi
  if [[ $rc -ne 0 ]]; then
    echo "tests: $passed passed, $((failed > 0 ? failed : 1)) failed"
    exit "$rc"
  fi
}

echo "== full build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
run_ctest ctest --test-dir build --output-on-failure -j "$jobs"

run_sanitized() {
  local tree=$1 sanitizers=$2 core_only=$3
  echo "== $tree ($sanitizers)"
  cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVRO_CORE_ONLY="$core_only" \
        -DTAVRO_SANITIZE="$sanitizers" >/dev/null
  cmake --build "$tree" -j "$jobs"
  # ThreadSanitizer cannot map its shadow memory with the kernel's full
  # address-space randomisation; setarch -R turns it off for the run.
  run_ctest setarch "$(uname -m)" -R ctest --test-dir "$tree" --output-on-failure -j "$jobs"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/lsan.supp
run_sanitized build-asan address,undefined OFF
run_sanitized build-tsan thread ON
scripts/fuzz-settings.sh 30

# The package check's closing line "package: N passed, N failed" is added in.
echo "== Debian package"
package_log=$(mktemp)
set +e
scripts/test-package.sh 2>&1 | tee "$package_log"
package_rc=${PIPESTATUS[0]}
set -e
package_line=$(grep -E '^package: [0-9]+ passed, [0-9]+ failed$' "$package_log" | tail -n 1)
rm -f "$package_log"
if [[ -n $package_line ]]; then
  passed=$((passed + $(sed -E 's/^package: ([0-9]+) passed.*/\1/' <<<"$package_line")))
  failed=$((failed + $(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$package_line")))
fi
if [[ $package_rc -ne 0 ]]; then
  echo "tests: $passed passed, $((failed > 0 ? failed : 1)) failed"
  exit "$package_rc"
fi

echo "tests: $passed passed, $failed failed"
