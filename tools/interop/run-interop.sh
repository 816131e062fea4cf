#!/usr/bin/env bash
# Interop test: bacsim read by an independent BACnet stack (@bacnet-js/client),
# and that stack's device mode answering raw requests.
#   run-interop.sh PATH/TO/bacsim
# Exit 77 (skipped) when node or the npm packages are missing; install them
# with: npm ci --prefix tools/interop
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bacsim=${1:?usage: run-interop.sh PATH/TO/bacsim}

if ! command -v node >/dev/null 2>&1; then
  echo "SKIPPED: node is not installed"
  exit 77
fi
if [ ! -d "$here/node_modules/@bacnet-js/client" ]; then
  echo "SKIPPED: @bacnet-js/client is not installed (npm ci --prefix tools/interop)"
  exit 77
fi

sim_pid=
dev_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  [ -n "$dev_pid" ] && kill "$dev_pid" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

# Reads the coprocess's output until a line starting with the word, bounded.
wait_ready() {
  local fd=$1 word=$2 line
  while IFS= read -r -t 20 line <&"$fd"; do
    echo "  | $line"
    case $line in "$word"*) return 0 ;; esac
  done
  return 1
}

# bacsim on a port that is free on every address of the sample building.
ready=0
for attempt in 1 2 3 4 5; do
  port=$((40000 + (RANDOM % 20000)))
  coproc SIM { exec "$bacsim" --config "$root/examples/building.json" --port "$port" --static --max-seconds 120 2>&1; }
  sim_pid=$SIM_PID
  if wait_ready "${SIM[0]}" ready; then
    ready=1
    break
  fi
  wait "$sim_pid" 2>/dev/null
  sim_pid=
done
[ "$ready" = 1 ] || { echo "FAIL: bacsim did not become ready"; exit 1; }

status=0
echo "== @bacnet-js/client against bacsim (port $port)"
timeout 60 node "$here/bacnet-interop.js" check-bacsim --port "$port" || status=1
kill "$sim_pid" 2>/dev/null
wait "$sim_pid" 2>/dev/null
sim_pid=

echo "== @bacnet-js/client device answering raw requests"
dport=$((40000 + (RANDOM % 20000)))
coproc DEV { exec node "$here/bacnet-interop.js" device --address 127.0.0.60 --port "$dport" --instance 4001 --max-seconds 60 2>&1; }
dev_pid=$DEV_PID
if wait_ready "${DEV[0]}" ready; then
  timeout 30 node "$here/bacnet-interop.js" probe --address 127.0.0.60 --port "$dport" --instance 4001 || status=1
else
  echo "FAIL: the npm device did not become ready"
  status=1
fi
[ "$status" = 0 ] && echo "interop: passed" || echo "interop: FAILED"
exit "$status"
