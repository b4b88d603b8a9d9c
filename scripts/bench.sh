#!/usr/bin/env bash
# Builds and runs the benchmarks: the portable core natively (Google Benchmark) and the editor
# under Wine — the 64-bit build, and the shipped 32-bit build where this machine can run it.
# Figures go to the terminal and to build/bench-results.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
source scripts/wine-env.sh
archs=(win64)
if reason=$(ze_can_run_32bit); then
  archs=(win32 win64)
else
  echo "bench: 32-bit editor benchmark skipped: $reason"
fi
cmake --preset bench >/dev/null
cmake --build --preset bench
for arch in "${archs[@]}"; do
  cmake --preset "$arch" >/dev/null
  cmake --build --preset "$arch" --target editor_bench trace_bench crash_bench
done
out=build/bench-results.txt
: >"$out"
# The palette comparison against Pillow also takes the Win32 tests' screenshots, where there are any.
if [ -d build/screenshots/win64 ]; then export ZE_QUANT_IMAGES=build/screenshots/win64; fi
for b in build/bench/bench/*_bench; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")" | tee -a "$out"
  "$b" --benchmark_min_time=0.5 2>&1 | tee -a "$out"
done
ze_virtual_display
for arch in "${archs[@]}"; do
  ze_wine_select "$arch"
  ze_wine_prefix
  echo "== editor under Wine ($arch)" | tee -a "$out"
  "$ZE_WINE" "build/$arch/bench/editor_bench.exe" 2>&1 | tee -a "$out"
  echo "== stack traces under Wine ($arch)" | tee -a "$out"
  "$ZE_WINE" "build/$arch/bench/trace_bench.exe" 2>&1 | tee -a "$out"
  echo "== the crash reporter under Wine ($arch)" | tee -a "$out"
  (cd "build/$arch/bench" && "$ZE_WINE" crash_bench.exe) 2>&1 | tee -a "$out"
  wineserver -k 2>/dev/null || true
done
[ -n "${ZE_XVFB_PID:-}" ] && kill "$ZE_XVFB_PID" 2>/dev/null || true
