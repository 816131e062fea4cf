#!/usr/bin/env bash
# Builds the plug-in and the reference host (Release) and runs the host with
# the arguments given: without any it polls its built-in default request
# until Ctrl-C; --demo takes one instance through its commands.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBACNETIP_TESTS=OFF >/dev/null
ninja -C build/release bacnetip bachost
exec build/release/bachost "$@"
