#!/usr/bin/env bash
# Starts LevelEditor.exe with a level file on its command line, saves with Ctrl+S typed through
# xdotool, closes it with Alt+F4, and compares the file's bytes with what the writer must produce.
set -euo pipefail
exe=$1
source "$(dirname "$0")/../../scripts/wine-env.sh"
ze_wine_prefix
if [ -z "${DISPLAY:-}" ]; then
  ze_virtual_display
  trap 'kill $ZE_XVFB_PID 2>/dev/null || true' EXIT
fi

dir=$(mktemp -d)
file=$dir/e2e.lvl
# 16 x 12, start (1, 10); a moving stone whose flag byte is neither "e" nor "d" (reads as false),
# a content stone with a stale content index, a door — and bytes after the end marker.
printf '\x01\x30\x2c\x21\x2a\x02\x23\x25\x21\x78\x23\x27\x64\x20\x20\x24\x22\x25\x22\x21\x20\x20\x29\x29\x2f\x2b\x2c\x03\x0d\x0aJUNK' >"$file"
# What the writer makes of it: the flag as "d", the content index recomputed (3 stones).
expected=$(printf '\x01\x30\x2c\x21\x2a\x02\x23\x25\x21\x64\x23\x27\x64\x20\x20\x24\x22\x25\x22\x21\x20\x20\x20\x23\x2f\x2b\x2c\x03\x0d\x0a' | od -An -tx1 | tr -d ' \n')

winpath="Z:$(echo "$file" | sed 's|/|\\|g')"
"$ZE_WINE" "$exe" "$winpath" </dev/null >"$dir/out.log" 2>&1 &
pid=$!

desktop=""
for _ in $(seq 1 100); do
  desktop=$(xdotool search --name 'Wine desktop' 2>/dev/null | head -1 || true)
  [ -n "$desktop" ] && break
  sleep 0.2
done
[ -n "$desktop" ] || { echo "no Wine desktop window appeared"; kill $pid; exit 1; }
sleep 3 # the editor opens the file at start

saved=""
for _ in 1 2 3; do
  xdotool windowfocus --sync "$desktop" 2>/dev/null || true
  xdotool key --clearmodifiers ctrl+s
  for _ in $(seq 1 25); do
    got=$(od -An -tx1 "$file" | tr -d ' \n')
    if [ "$got" = "$expected" ]; then saved=1; break; fi
    sleep 0.2
  done
  [ -n "$saved" ] && break
done

xdotool key --clearmodifiers alt+F4
status=0
for _ in $(seq 1 50); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.2
done
if kill -0 $pid 2>/dev/null; then
  echo "LevelEditor.exe did not end after Alt+F4"
  kill $pid
  status=1
else
  wait $pid || { echo "LevelEditor.exe ended with $?"; status=1; }
fi

if [ -z "$saved" ]; then
  echo "the file was not saved as expected:"
  echo "  expected $expected"
  echo "  got      $(od -An -tx1 "$file" | tr -d ' \n')"
  status=1
fi
rm -rf "$dir"
[ $status -eq 0 ] && echo "e2e: opened, saved with Ctrl+S and closed with Alt+F4; the file holds the expected 30 bytes"
exit $status
