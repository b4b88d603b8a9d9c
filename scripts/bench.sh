#!/usr/bin/env bash
# Builds and runs the benchmarks: the portable core natively (Google Benchmark) and the editor
# under Wine. Figures go to the terminal and to build/bench-results.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target editor_bench
out=build/bench-results.txt
: >"$out"
for b in build/bench/bench/*_bench; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")" | tee -a "$out"
  "$b" --benchmark_min_time=0.5 2>&1 | tee -a "$out"
done
source scripts/wine-env.sh
ze_wine_prefix
ze_virtual_display
echo "== editor under Wine" | tee -a "$out"
"$ZE_WINE" build/win64/bench/editor_bench.exe 2>&1 | tee -a "$out"
wineserver -k 2>/dev/null || true
[ -n "${ZE_XVFB_PID:-}" ] && kill "$ZE_XVFB_PID" 2>/dev/null || true
