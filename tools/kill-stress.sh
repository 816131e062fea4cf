#!/usr/bin/env bash
# Kills settings saves at random moments: a writer process saves the INI
# store and the registry store again and again and is killed with SIGKILL,
# KILLS times per store; after each kill the store must hold the last save
# the writer finished or the one it was in, whole (never empty, torn or a
# mix of two saves).  Then two writer processes save into one store at once
# and neither may lose the other's keys.  Not part of the normal test run
# (ctest runs 50 kills per store).
#
#   tools/kill-stress.sh [KILLS] [SEED]     (default 1000 kills, seed 1)
#
# Uses build/asan (tools/run-tests.sh builds it) or builds save_stress there.
set -euo pipefail
cd "$(dirname "$0")/.."
kills=${1:-1000}
seed=${2:-1}
build=build/asan
if [ ! -x "$build/tests/settings/save_stress" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBACNETIP_SANITIZE=address >/dev/null
  ninja -C "$build" -j "${JOBS:-2}" save_stress
fi
tool=$build/tests/settings/save_stress
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export BACNETIP_REGISTRY_DIR
BACNETIP_REGISTRY_DIR=$(mktemp -d)
trap 'rm -rf "$BACNETIP_REGISTRY_DIR"' EXIT
status=0
for store in ini reg; do
  "$tool" kill "$store" "$kills" "$seed" || status=1
  "$tool" concurrent "$store" 200 || status=1
done
exit "$status"
