#!/usr/bin/env bash
# Fuzzing at volume: runs every libFuzzer target (or those named) in an
# optimised build (-O2 with AddressSanitizer and UndefinedBehaviorSanitizer)
# one after another, until it has done RUNS executions or SECONDS have
# passed, keeps each target's corpus between runs, minimises it, and prints
# the executions, rate, peak memory and findings of every target.  Not part
# of the normal test run.
#
#   tools/fuzz-volume.sh [-t SECONDS] [-r RUNS] [-s] [-g COUNT] [TARGET...]
#     -t  seconds per target at most (default 600)
#     -r  executions per target at most (default 10000000; 0: no limit)
#     -s  add to the committed seed folder (fuzz/*/corpus_TARGET) the fewest
#         inputs that reach every edge the corpus reaches (4 KiB at most each)
#     -g  also run the garbage call-record test with COUNT records per
#         export (default 100000 when -g is given; needs build/asan)
#
# Environment: JOBS (build jobs, default 1), NICE (niceness, default 10),
# RSS_MB (memory limit per target, default 2048), TIMEOUT (seconds per
# input before it counts as a hang, default 10).
# The working corpora live in build/fuzzvol/corpus/TARGET, findings (crash-,
# leak-, timeout-, oom- files) in build/fuzzvol/findings/TARGET; the table
# goes to build/fuzzvol/summary.txt too.  Exit status 1 if any target found
# something.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=600
runs=10000000
update_seeds=0
garbage=0
while getopts "t:r:sg:" opt; do
  case "$opt" in
    t) seconds=$OPTARG ;;
    r) runs=$OPTARG ;;
    s) update_seeds=1 ;;
    g) garbage=$OPTARG ;;
    *) sed -n '2,24p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
jobs=${JOBS:-1}
niceness=${NICE:-10}
rss_mb=${RSS_MB:-2048}
timeout=${TIMEOUT:-10}
out=build/fuzzvol

CC=clang CXX=clang++ cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBACNETIP_FUZZ=ON -DBACNETIP_SANITIZE=address -DBACNETIP_TESTS=OFF >/dev/null
nice -n "$niceness" ninja -C "$out" -j "$jobs" fuzzers >/dev/null

if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets < <(grep -v '^$' "$out/fuzzers.txt")
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
summary="$out/summary.txt"
printf '%-30s %12s %9s %8s %7s %8s %s\n' target executions exec/s seconds rss_mb corpus findings | tee "$summary"
failed=0
for name in "${targets[@]}"; do
  bin="$out/fuzz-bin/$name"
  [ -x "$bin" ] || { echo "no fuzz target $name"; failed=1; continue; }
  seeds=$(find fuzz -type d -name "corpus_${name}" | head -n 1)
  work="$out/corpus/$name"
  findings="$out/findings/$name"
  log="$out/logs/$name.log"
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  start=$(date +%s)
  limit=$runs
  [ "$limit" != 0 ] || limit=-1
  set +e
  nice -n "$niceness" "$bin" -max_total_time="$seconds" -runs="$limit" -rss_limit_mb="$rss_mb" \
    -timeout="$timeout" -print_final_stats=1 -artifact_prefix="$findings/" \
    "$work" ${seeds:+"$seeds"} >"$log" 2>&1
  status=$?
  set -e
  elapsed=$(( $(date +%s) - start ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -n 1)

  # Minimise: the smallest set of inputs with the coverage of the seeds and
  # of everything this and earlier runs kept.
  merged=$(mktemp -d)
  nice -n "$niceness" "$bin" -merge=1 -rss_limit_mb="$rss_mb" -timeout="$timeout" \
    "$merged" ${seeds:+"$seeds"} "$work" >"$out/logs/$name.merge.log" 2>&1 || true
  if [ -n "$(ls -A "$merged")" ]; then
    rm -rf "$work"
    mv "$merged" "$work"
  else
    rm -rf "$merged"
  fi
  corpus=$(find "$work" -type f | wc -l)
  if [ "$update_seeds" = 1 ]; then
    # The committed seeds stay small: the fewest inputs that reach every
    # edge the corpus reaches (hit counts not told apart), of 4 KiB at most.
    dest=$seeds
    if [ -z "$dest" ]; then
      dest=$(dirname "$(grep -rl "bacnetip_add_fuzzer($name " fuzz | head -n 1)")/corpus_$name
    fi
    mkdir -p "$dest"
    # A copy of the seeds takes the corpus's inputs that reach new edges.
    edges=$(mktemp -d)
    cp -r "$dest"/. "$edges"/
    nice -n "$niceness" "$bin" -merge=1 -use_counters=0 -rss_limit_mb="$rss_mb" -timeout="$timeout" \
      "$edges" "$work" >"$out/logs/$name.seeds.log" 2>&1 || true
    find "$edges" -type f -size -4097c -exec cp -n {} "$dest"/ \;
    rm -rf "$edges"
  fi

  found=$(find "$findings" -type f | wc -l)
  if [ "$status" != 0 ] || [ "$found" != 0 ]; then
    failed=1
    found="$found (exit $status, see $log)"
  fi
  printf '%-30s %12s %9s %8s %7s %8s %s\n' "$name" "${execs:-?}" "${rate:-?}" "$elapsed" "${rss:-?}" \
    "$corpus" "$found" | tee -a "$summary"
done

if [ "$garbage" != 0 ]; then
  echo "== garbage call records, $garbage per export" | tee -a "$summary"
  test_bin=$(find build/asan -type f -name exports_garbage_test | head -n 1)
  if [ -z "$test_bin" ]; then
    echo "build/asan has no exports_garbage_test: run tools/run-tests.sh first" | tee -a "$summary"
    failed=1
  else
    BACNETIP_GARBAGE_RECORDS=$garbage ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
      nice -n "$niceness" "$test_bin" 2>&1 | grep -E "records|OK|FAILED|ERROR" | tee -a "$summary" || failed=1
  fi
fi
exit "$failed"
