#!/usr/bin/env bash
# Cross-compiles the 32-bit Windows DLL with MinGW-w64 and checks that the
# eight exports are there, undecorated.  The record sizes are compile-time
# assertions of this build.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
ninja -C build/win32 bacnetip
dll=build/win32/bacnetip.dll
exports=$(i686-w64-mingw32-objdump -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{on=1;next} on && NF==0{on=0} on{print $NF}')
echo "exports of $dll:"; echo "$exports" | sed 's/^/  /'
fail=0
for name in CreatePluginInstance FreePluginInstance GetModuleInfo GetLogEx GetOptionsDialog \
            ShowOptionsDialog ExecutePluginCommand ProcessData; do
  if ! echo "$exports" | grep -qx "$name"; then echo "missing or decorated export: $name"; fail=1; fi
done
if echo "$exports" | grep -q '@'; then echo "decorated export names found"; fail=1; fi
if i686-w64-mingw32-objdump -p "$dll" | grep -qiE 'DLL Name: (libstdc|libgcc|libwinpthread)'; then
  echo "the DLL depends on a MinGW runtime DLL"; fail=1
fi
[ "$fail" = 0 ] && echo "windows build ok"
exit $fail
