#!/usr/bin/env bash
# Builds and runs every test: the unit and integration tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, the concurrency tests under
# ThreadSanitizer, and a short run of every libFuzzer target.  First of all
# the includes are checked against the layer order (tools/check-layers.sh),
# and clang's thread-safety analysis checks the lock annotations (a build
# that compiles everything and runs nothing).
#   FUZZ_SECONDS  seconds per fuzz target (default 20; 0 skips fuzzing)
#   JOBS          parallel build jobs (default: number of cores)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
fuzz_seconds=${FUZZ_SECONDS:-20}

echo "== layer order of the includes"
bash tools/check-layers.sh

echo "== clang thread-safety analysis (compile only)"
CC=clang CXX=clang++ cmake -S . -B build/tsa -G Ninja -DBACNETIP_THREAD_SAFETY=ON >/dev/null
ninja -C build/tsa -j "$jobs"

echo "== ASan+UBSan build and tests"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBACNETIP_SANITIZE=address >/dev/null
ninja -C build/asan -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== ThreadSanitizer build and concurrency tests"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBACNETIP_SANITIZE=thread >/dev/null
ninja -C build/tsan -j "$jobs" concurrency_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan --output-on-failure -L concurrency -j "$jobs"

if [ "$fuzz_seconds" != "0" ]; then
  echo "== libFuzzer targets, ${fuzz_seconds}s each"
  # Optimised (-O2) with the sanitizers, as fuzzers are usually built: an
  # unoptimised build spends its time in libFuzzer's bookkeeping of the many
  # more edges it has.  The same build serves tools/fuzz-volume.sh.
  CC=clang CXX=clang++ cmake -S . -B build/fuzzvol -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBACNETIP_FUZZ=ON \
    -DBACNETIP_SANITIZE=address -DBACNETIP_TESTS=OFF >/dev/null
  ninja -C build/fuzzvol -j "$jobs" fuzzers
  while read -r name; do
    [ -n "$name" ] || continue
    work=$(mktemp -d)
    seeds=$(find fuzz -type d -name "corpus_${name}" | head -n 1)
    echo "-- $name"
    build/fuzzvol/fuzz-bin/"$name" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=1 \
      "$work" ${seeds:+"$seeds"} 2>&1 | grep -E "stat::number_of_executed_units|ERROR|SUMMARY|Done" || true
    status=${PIPESTATUS[0]}
    rm -rf "$work"
    if [ "$status" != "0" ]; then echo "fuzz target $name failed"; exit 1; fi
  done < build/fuzzvol/fuzzers.txt
fi
echo "== all tests passed"
