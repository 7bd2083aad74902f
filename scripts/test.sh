#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the full
# build (unit, UI and end-to-end tests), then the mount core, settings store
# and board simulator again under AddressSanitizer + UndefinedBehaviorSanitizer
# and under ThreadSanitizer, each in a build tree of its own.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)

echo "== full build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

run_sanitized() {
  local tree=$1 sanitizers=$2
  echo "== $tree ($sanitizers)"
  cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVRO_CORE_ONLY=ON \
        -DTAVRO_SANITIZE="$sanitizers" >/dev/null
  cmake --build "$tree" -j "$jobs"
  # ThreadSanitizer cannot map its shadow memory with the kernel's full
  # address-space randomisation; setarch -R turns it off for the run.
  setarch "$(uname -m)" -R ctest --test-dir "$tree" --output-on-failure -j "$jobs"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
run_sanitized build-asan address,undefined
run_sanitized build-tsan thread
scripts/fuzz-settings.sh 30
