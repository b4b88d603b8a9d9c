#!/usr/bin/env bash
# `scripts/soak.sh N [gtest filter]`: runs the Win32 test program N times in a row under each
# Wine this machine can run (64-bit everywhere, 32-bit where the kernel executes 32-bit code)
# and prints, per test, how often it failed or hung. A test that fails now and then is a defect:
# this finds it. Logs of runs that did not pass stay in build/soak/.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20}
filter=${2:-*}
scripts/setup.sh
source scripts/wine-env.sh
archs=(win64)
if reason=$(ze_can_run_32bit); then archs=(win32 win64); else echo "soak: 32-bit runs skipped: $reason"; fi
if [ -n "${ZE_SOAK_ARCHS:-}" ]; then read -r -a archs <<<"$ZE_SOAK_ARCHS"; fi # e.g. ZE_SOAK_ARCHS=win64

out=build/soak
rm -rf "$out"
mkdir -p "$out"
export ZE_SCREENSHOT_DIR=$PWD/$out/screenshots
mkdir -p "$ZE_SCREENSHOT_DIR"
export ZE_TEST_WATCHDOG=${ZE_TEST_WATCHDOG:-60}
ze_virtual_display
trap '[ -n "${ZE_XVFB_PID:-}" ] && kill $ZE_XVFB_PID 2>/dev/null; wineserver -k 2>/dev/null || true' EXIT
for arch in "${archs[@]}"; do
  if [ "$arch" = win32 ]; then extra=(-DZE_TESTS=ON); else extra=(); fi
  if [ "${ZE_SOAK_BUILD:-1}" != 0 ]; then # ZE_SOAK_BUILD=0: soak the programs as they are built
    cmake --preset "$arch" "${extra[@]}" >/dev/null
    cmake --build --preset "$arch" --target win_tests >/dev/null
  fi
  ze_wine_select "$arch"
  ze_wine_prefix
  ze_wineserver_start
  passed=0
  for i in $(seq 1 "$runs"); do
    log=$out/$arch-$i.log
    rc=0
    timeout 900 "$ZE_WINE" "build/$arch/tests/win_tests.exe" --gtest_filter="$filter" >"$log" 2>&1 || rc=$?
    if [ $rc -eq 0 ]; then passed=$((passed + 1)); rm -f "$log"; fi
    printf '%s run %d/%d: %s\n' "$arch" "$i" "$runs" "$([ $rc -eq 0 ] && echo passed || echo "exit code $rc")"
  done
  ze_wineserver_stop
  echo "== $arch: $passed of $runs runs passed"
  # Per test: failures ("[  FAILED  ] Suite.Test (12 ms)") and hangs (named by the watchdog).
  logs=("$out/$arch"-*.log)
  [ -e "${logs[0]}" ] || continue
  sed -n -e 's/^\[  FAILED  \] \([^ ]*\) (.*/failed \1/p' -e 's/^watchdog: \([^ ]*\) has made no progress.*/hung \1/p' \
    "${logs[@]}" | sort | uniq -c | awk '{ printf "   %3d x %-6s %s\n", $1, $2, $3 }'
done
