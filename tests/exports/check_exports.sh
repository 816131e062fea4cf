#!/usr/bin/env bash
# The Linux plug-in must export exactly the eight entry points.
set -euo pipefail
lib=$1
got=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWw]$/ {print $3}' | sort)
want=$(printf '%s\n' CreatePluginInstance ExecutePluginCommand FreePluginInstance GetLogEx GetModuleInfo \
       GetOptionsDialog ProcessData ShowOptionsDialog | sort)
if [ "$got" != "$want" ]; then
  echo "exported functions differ:"; diff <(echo "$want") <(echo "$got") || true
  exit 1
fi
echo "1 passed, 0 failed"
