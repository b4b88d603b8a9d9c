#!/usr/bin/env bash
# Builds LevelEditor.exe and starts it under Wine. Without a display it starts the editor on a
# virtual display, writes a screenshot to build/screenshots/run.png and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target LevelEditor
exe=$PWD/build/win32/editor/LevelEditor.exe

source scripts/wine-env.sh
ze_wine_prefix
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec wine "$exe" "$@"
fi

ze_virtual_display
mkdir -p build/screenshots
# A desktop window gives the editor a frame and a caption as a window manager would.
wine explorer /desktop=LevelEditor,1280x1024 "$exe" "$@" </dev/null >/dev/null 2>&1 &
pid=$!
for _ in $(seq 1 100); do
  xdotool search --name ' - LevelEditor' >/dev/null 2>&1 && break
  sleep 0.2
done
sleep 2
import -window root build/screenshots/run.png
echo "No display: LevelEditor.exe ran on a virtual display (Xvfb $DISPLAY)."
echo "Screenshot: $PWD/build/screenshots/run.png"
kill "$pid" 2>/dev/null || true
wineserver -k 2>/dev/null || true
kill "$ZE_XVFB_PID" 2>/dev/null || true
