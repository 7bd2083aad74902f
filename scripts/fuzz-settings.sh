#!/usr/bin/env bash
# Fuzzes the settings loader for a bounded time (seconds, default 30): builds
# its libFuzzer target with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in a build tree of its own (build-fuzz) and runs
# it from the seed files in tests/fuzz/settings-corpus. Exits non-zero when
# the fuzzer finds a crash, a leak or a sanitizer report; the input that
# caused it is kept in build-fuzz/settings-findings.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
tree=build-fuzz

echo "== $tree (settings loader, ${seconds} s)"
cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
      -DTAVRO_CORE_ONLY=ON -DTAVRO_FUZZ=ON \
      -DTAVRO_SANITIZE=fuzzer-no-link,address,undefined >/dev/null
cmake --build "$tree" --target settings_fuzzer -j "$(nproc)"

corpus="$tree/settings-corpus"
findings="$tree/settings-findings"
mkdir -p "$corpus" "$findings"
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}:detect_leaks=1 \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}:halt_on_error=1 \
  "$tree/tests/fuzz/settings_fuzzer" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$findings/" \
      "$corpus" tests/fuzz/settings-corpus
