#!/usr/bin/env bash
# Runs the 64-bit Windows build under Wine: the Windows-side checks in
# process (window timers, the registry, the library freed while its timers
# run), the options form's message 1812 reaching an instance of another
# thread, and the end-to-end scenarios with bachost.exe and bacnetip.dll
# polling the simulator, which runs natively beside it on loopback UDP.
#
# Every step is bounded; Wine's output only ever goes to files (its
# background server would keep a pipe open); the prefix is made fresh in a
# folder of this run and its server ended on the way out.
#   JOBS        parallel build jobs (default: number of cores)
#   LINUX_BUILD the Linux build folder for bacsim and the end-to-end driver
#               (default build/asan when tools/run-tests.sh made it, else
#               build/wine-linux)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-$(nproc)}
started=$(date +%s)

if [ -z "${LINUX_BUILD:-}" ]; then
  if [ -f build/asan/build.ninja ]; then LINUX_BUILD=build/asan; else LINUX_BUILD=build/wine-linux; fi
fi

echo "== 64-bit Windows build"
timeout 120 cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
timeout 600 ninja -C build/win64 -j "$jobs" bacnetip bachost win_checks
for exe in build/win64/bacnetip.dll build/win64/bachost.exe build/win64/win_checks.exe; do
  if x86_64-w64-mingw32-objdump -p "$exe" | grep -qiE 'DLL Name: (libstdc|libgcc|libwinpthread|zlib)'; then
    echo "$exe depends on a MinGW runtime DLL"; exit 1
  fi
done

echo "== Linux side ($LINUX_BUILD): the simulator and the end-to-end driver"
if [ ! -f "$LINUX_BUILD/build.ninja" ]; then
  timeout 120 cmake -S . -B "$LINUX_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
timeout 600 ninja -C "$LINUX_BUILD" -j "$jobs" bacsim e2e_tests

work=$(mktemp -d "$root/build/wine-run.XXXXXX")
export WINEPREFIX="$work/prefix" TMPDIR="$work/tmp" WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$TMPDIR"
finish() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  timeout 30 wineserver -w >/dev/null 2>&1 || true
  [ -n "${KEEP_WINE_RUN:-}" ] || rm -rf "$work"
}
trap finish EXIT

fail=0
# show NAME FILE...: prints what a failed step left in its files.
show() {
  echo "-- $1 failed; its output:"
  shift
  for f in "$@"; do [ -f "$f" ] && sed 's/^/   /' "$f"; done
  fail=1
}

echo "== a fresh Wine prefix"
if ! timeout 120 wineboot -i >"$work/wineboot.out" 2>&1; then show wineboot "$work/wineboot.out"; exit 1; fi

echo "== Windows-side checks in process"
if timeout 120 wine build/win64/win_checks.exe >"$work/checks.out" 2>"$work/checks.err"; then
  grep -E '^(ok|FAIL) ' "$work/checks.out" || true
else
  show win_checks "$work/checks.out" "$work/checks.err"
fi

echo "== options form: message 1812 for the instance of another thread"
if timeout 60 wine build/win64/bachost.exe --show-options >"$work/options.out" 2>"$work/options.err" &&
   grep -q "message 1812 (settings changed) for module index" "$work/options.out"; then
  grep "message 1812" "$work/options.out"
else
  show show-options "$work/options.out" "$work/options.err"
fi

echo "== end-to-end scenarios with bachost.exe under Wine"
# Wireshark's check reads the conversation, not the host: it stays a Linux one.
if E2E_HOST_COMMAND="wine $root/build/win64/bachost.exe" \
   timeout 420 "$LINUX_BUILD/tests/e2e/e2e_tests" --gtest_filter='-*Wireshark*' \
   >"$work/e2e.out" 2>"$work/e2e.err"; then
  grep -E '^\[ +(OK|SKIPPED|PASSED) +\]' "$work/e2e.out" || true
else
  show e2e_tests "$work/e2e.out" "$work/e2e.err"
fi

echo "== the Wine stage took $(( $(date +%s) - started )) s"
if [ "$fail" = 0 ]; then echo "wine checks ok"; else echo "wine checks FAILED"; fi
exit $fail
