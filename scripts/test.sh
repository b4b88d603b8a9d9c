#!/usr/bin/env bash
# Builds everything and runs every test: the native core under ASan/UBSan, the fuzz targets for
# a short smoke run, and the Win32 program and its tests under Wine on a virtual display.
# Ends with CTest's summary of all of them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=${ZE_JOBS:-2}
cmake --preset native -DZE_WERROR=ON >/dev/null
cmake --build --preset native -j "$jobs"
cmake --preset fuzz -DZE_WERROR=ON >/dev/null
cmake --build --preset fuzz -j "$jobs"
# The shipped 32-bit program, and the same sources built for 64-bit Windows with the Win32
# tests: this machine's kernel cannot run 32-bit code, so the tests run under 64-bit Wine.
cmake --preset win32 -DZE_WERROR=ON -DZE_TESTS=OFF >/dev/null
cmake --build --preset win32 -j "$jobs"
cmake --preset win64 -DZE_WERROR=ON >/dev/null
cmake --build --preset win64 -j "$jobs"

source scripts/wine-env.sh
ze_wine_prefix
ze_virtual_display
ze_wineserver_start
cleanup() {
  ze_wineserver_stop
  [ -n "${ZE_XVFB_PID:-}" ] && kill "$ZE_XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT

# One CTest run over the three builds, so one summary line counts them all.
cat > build/CTestTestfile.cmake <<'CT'
subdirs("native" "fuzz" "win64")
CT
mkdir -p build/screenshots
export ZE_SCREENSHOT_DIR=$PWD/build/screenshots
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 900
