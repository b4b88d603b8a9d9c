#!/usr/bin/env bash
# Builds everything and runs every test: the native core under ASan/UBSan, the fuzz targets for
# a short smoke run, and the Windows program and its tests under Wine on virtual displays — the
# 64-bit build everywhere, the shipped 32-bit build wherever this machine can run 32-bit code.
# Ends with CTest's summary of all of them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/format.sh --check

source scripts/wine-env.sh
archs=(win64)
if reason=$(ze_can_run_32bit); then
  archs=(win32 win64)
  wine32_tests=ON
  echo "test: Win32 tests run under 32-bit Wine (the shipped LevelEditor.exe) and 64-bit Wine"
else
  wine32_tests=OFF
  echo "test: 32-bit Wine runs skipped: $reason; Win32 tests run under 64-bit Wine only"
fi

jobs=${ZE_JOBS:-2}
cmake --preset native -DZE_WERROR=ON >/dev/null
cmake --build --preset native -j "$jobs"
cmake --preset fuzz -DZE_WERROR=ON >/dev/null
cmake --build --preset fuzz -j "$jobs"
# The shipped program and its tests; where the machine cannot run them, only the checks of the
# exe itself are registered.
cmake --preset win32 -DZE_WERROR=ON -DZE_TESTS=ON -DZE_WINE_TESTS=$wine32_tests >/dev/null
cmake --build --preset win32 -j "$jobs"
cmake --preset win64 -DZE_WERROR=ON >/dev/null
cmake --build --preset win64 -j "$jobs"

# One virtual display, prefix and persistent wineserver per architecture.
xvfb_pids=()
cleanup() {
  for arch in "${archs[@]}"; do
    ze_wine_select "$arch"
    ze_wineserver_stop
  done
  [ ${#xvfb_pids[@]} -eq 0 ] || kill "${xvfb_pids[@]}" 2>/dev/null || true
}
trap cleanup EXIT
for arch in "${archs[@]}"; do
  ze_wine_select "$arch"
  ze_wine_prefix
  unset DISPLAY
  ze_virtual_display
  xvfb_pids+=("$ZE_XVFB_PID")
  export "ZE_DISPLAY_$arch=$DISPLAY"
  ze_wineserver_start
done

# One CTest run over the four builds, so one summary line counts them all.
cat > build/CTestTestfile.cmake <<'CT'
subdirs("native" "fuzz" "win32" "win64")
CT
# Screenshots of every window the tests exercise, one folder per architecture.
export ZE_SCREENSHOTS=$PWD/build/screenshots
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 900
