#!/usr/bin/env bash
# Builds LevelEditor.exe and starts it under Wine: the shipped 32-bit program, or the 64-bit
# build of the same sources where this machine cannot run 32-bit code. Without a display it
# starts the editor on a virtual display, writes a screenshot to build/screenshots/run.png and
# says so.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
source scripts/wine-env.sh
if reason=$(ze_can_run_32bit); then
  preset=win32
else
  preset=win64
  echo "run: $reason; starting the 64-bit build of LevelEditor.exe under 64-bit Wine instead"
fi
cmake --preset $preset >/dev/null
cmake --build --preset $preset --target LevelEditor
exe=$PWD/build/$preset/editor/LevelEditor.exe

ze_wine_select $preset
ze_wine_prefix
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$ZE_WINE" "$exe" "$@"
fi

ze_virtual_display
mkdir -p build/screenshots
# A desktop window gives the editor a frame and a caption as a window manager would.
"$ZE_WINE" explorer /desktop=LevelEditor,1280x1024 "$exe" "$@" </dev/null >/dev/null 2>&1 &
pid=$!
for _ in $(seq 1 100); do
  xdotool search --name ' - LevelEditor' >/dev/null 2>&1 && break
  sleep 0.2
done
sleep 2
import -window root build/screenshots/run.png
echo "No display: LevelEditor.exe ($preset) ran on a virtual display (Xvfb $DISPLAY)."
echo "Screenshot: $PWD/build/screenshots/run.png"
kill "$pid" 2>/dev/null || true
wineserver -k 2>/dev/null || true
kill "$ZE_XVFB_PID" 2>/dev/null || true
