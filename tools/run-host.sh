#!/usr/bin/env bash
# Builds the plug-in and the reference host (Release) and runs the host on
# its built-in default: load the plug-in, print its module information and
# take one instance through LOAD and UNLOAD.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBACNETIP_TESTS=OFF >/dev/null
ninja -C build/release bacnetip bachost
exec build/release/bachost "$@"
