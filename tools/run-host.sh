#!/usr/bin/env bash
# The main job: builds the plug-in, the reference data logger and the device
# simulator (Release), starts the simulator with the sample building, lets
# the logger poll it for about ten seconds with the sample configuration,
# printing every record as it comes and the summary at the end, then stops
# the simulator and exits with the logger's status.
#
#   bash tools/run-host.sh                 the sample building, 10 s
#   SECONDS_TO_RUN=30 bash tools/run-host.sh
#   bash tools/run-host.sh -- ARGS...      only the logger, with ARGS (for
#                                          real devices: see the README)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBACNETIP_TESTS=OFF >/dev/null
ninja -C build/release bacnetip bachost bacsim >/dev/null

if [ "${1:-}" = "--" ]; then
  shift
  exec build/release/bachost "$@"
fi

run=${SECONDS_TO_RUN:-10}
work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/sim.out"
build/release/tools/bacsim/bacsim --config examples/building.json --quiet --max-seconds $((run + 30)) \
  >"$work/sim.out" 2>&1 &
sim_pid=$!
# The simulator prints "ready ..." once every socket is bound.
exec 3<"$work/sim.out"
ready=""
while IFS= read -r -t 10 line <&3; do
  case "$line" in
    ready*) ready="$line"; break ;;
    bacsim:*) echo "$line" >&2 ;;
  esac
done
if [ -z "$ready" ]; then
  echo "run-host: the simulator did not start" >&2
  exit 1
fi
echo "simulator: $ready (pid $sim_pid)" >&2
# Keep reading the simulator's output so that it never blocks on a full pipe.
cat <&3 >/dev/null &

status=0
build/release/bachost --config examples/building-poll.xml --duration "$run" || status=$?
exit $status
